#pragma once

#include <QStringList>
#include <QTextStream>

// The device search of fadelink-headless: walks `addresses` and writes one line to `out` per
// amplifier found, as the search window lists it ("ADDRESS XMODEL [GROUP] [NAME]", the texts
// through Printable), then the end ("Search finished: N amplifiers found") to standard error. Runs
// the event loop until the walk ends; when the loop is quit before (a signal), the walk is
// stopped. Returns the exit status: 0 when the walk finished, 1 when it was stopped or could not
// start.
int RunSearch(const QStringList& addresses, QTextStream& out);
