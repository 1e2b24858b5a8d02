#pragma once

#include <QLoggingCategory>

// The journal's diagnostics: its writer, readers and the alarm command. Off below warnings by
// default; QT_LOGGING_RULES="fadelink.journal.debug=true" shows everything.
Q_DECLARE_LOGGING_CATEGORY(lcJournal)
