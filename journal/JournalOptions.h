#pragma once

#include "journal/JournalEntry.h"

#include <QString>

#include <cstddef>
#include <functional>

// How a journal is kept. The defaults are the program's; tests shorten the times and limits.
struct TJournalOptions {
    static constexpr qint64 kDayMs = 24LL * 60 * 60 * 1000;

    QString Path; // empty: DefaultJournalPath()
    // The journal's clock, UTC milliseconds: entry ages, "now" for alarms and the journal's own
    // entries. A test sets a clock of its own to live a day in a moment.
    std::function<qint64()> Clock = SystemClockMs;

    qint64 MaxEntries = 1000000;
    qint64 MaxAgeMs = 180 * kDayMs;
    qint64 HistoryMaxAgeMs = 30 * kDayMs;

    // Entries and samples held in memory while the journal cannot be written; beyond it new
    // ones are lost and counted, and the count is journalled when writing resumes. About 500
    // bytes each.
    std::size_t HeldCapacity = 20000;
    // The writer gathers what comes for this long before it commits, and commits at least this
    // often while entries come.
    int CommitDelayMs = 200;
    std::size_t BatchSize = 2000;
    // How often a journal that cannot be written is tried again.
    int RetryMs = 2000;
    // Retention trimming: a pass this often, deleting this many rows per transaction.
    int TrimIntervalMs = 60 * 1000;
    int TrimChunk = 5000;
};

// $XDG_STATE_HOME/fadelink/journal.sqlite, or ~/.local/state/fadelink/journal.sqlite.
QString DefaultJournalPath();
