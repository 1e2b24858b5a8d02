#include "journal/JournalLog.h"

Q_LOGGING_CATEGORY(lcJournal, "fadelink.journal", QtWarningMsg)
