#pragma once

#include <QString>

// Names the calling thread, so that `top -H`, gdb and /proc/PID/task/TID/comm tell the threads
// apart: a poll thread carries its device's address ("127.0.0.5"), the search "s:" and the
// address it probes, a name look-up "dns:" and the name. The system keeps the first 15 bytes.
void NameThisThread(const QString& name);

// The name the calling thread carries (for tests).
QString ThisThreadName();
