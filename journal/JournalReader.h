#pragma once

#include "journal/Alarm.h"
#include "journal/History.h"
#include "journal/JournalEntry.h"

#include <QString>
#include <QStringList>
#include <QVariantList>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

// Which entries to show or export. Empty fields do not filter.
struct TJournalFilter {
    static constexpr unsigned kAllSeverities = (1u << kJournalSeverityCount) - 1;

    unsigned Severities = kAllSeverities; // bit (1 << severity) for each one wanted
    QString Group;                        // long group name, exactly
    QString Address;                      // amplifier address, exactly
    std::optional<TJournalSource> Source;
    qint64 SinceMs = 0;          // entries at or after it (0: from the start)
    qint64 UntilMs = 0;          // entries before it (0: to the end)
    bool SinceLastStart = false; // entries from the program's latest start on
    QString Text;                // found in what happened, the names, address, values or client; case ignored

    bool operator==(const TJournalFilter& o) const {
        return Severities == o.Severities && Group == o.Group && Address == o.Address && Source == o.Source &&
               SinceMs == o.SinceMs && UntilMs == o.UntilMs && SinceLastStart == o.SinceLastStart &&
               Text == o.Text;
    }
    bool operator!=(const TJournalFilter& o) const { return !(*this == o); }
    static unsigned Bit(TJournalSeverity s) { return 1u << unsigned(s); }
};

// How a filter's entries are found, beyond what SQLite's planner decides alone (it has no
// statistics of value ranges): through the text index, or along the time index when the time
// window holds few entries.
struct TJournalPlan {
    bool TextIndex = false;
    bool TimeIndex = false;
};

// The SQL of a filter: the FROM clause, the WHERE condition and its values in order. Pure, so
// that a test reads it without a database.
struct TJournalSql {
    QString From;
    QString Where;
    QVariantList Values;
};
TJournalSql BuildJournalSql(const TJournalFilter& filter, const TJournalPlan& plan);

// Reads the journal at a path with a connection of its own, on the thread that made it (the
// window's query thread, an export, the control API). The file is opened on first use; a reader
// of a journal that was moved aside meanwhile goes on reading the moved file until Reopen.
class TJournalReader {
public:
    explicit TJournalReader(const QString& path);
    ~TJournalReader();
    TJournalReader(const TJournalReader&) = delete;
    TJournalReader& operator=(const TJournalReader&) = delete;

    // The last failure, empty when the last call succeeded; Damaged() when it says the file is
    // damaged.
    const QString& Error() const { return FError; }
    bool Damaged() const { return FDamaged; }
    void Reopen();

    // Newest first: at most `limit` entries matching `filter` with an id below `beforeId`
    // (0: from the newest).
    std::vector<TJournalEntry> Entries(const TJournalFilter& filter, qint64 beforeId, int limit);
    // Oldest first: entries matching `filter` with an id above `afterId`, at most `limit`.
    std::vector<TJournalEntry> EntriesAfter(const TJournalFilter& filter, qint64 afterId, int limit);
    // Every matching entry, oldest first, in pages; `visit` returns false to stop. Returns the
    // number visited, or -1 on a failure.
    qint64 ForEachEntry(const TJournalFilter& filter, const std::function<bool(const TJournalEntry&)>& visit);

    // When the program last started (its latest start entry), 0 when it never did.
    qint64 LastStartMs();
    // The group names, addresses and remote client names the journal holds, sorted.
    QStringList Groups();
    QStringList Addresses();
    qint64 EntryCount();

    // One amplifier's samples from `sinceMs` (inclusive) to `untilMs` (exclusive), oldest first.
    std::vector<THistorySample> History(const QString& address, qint64 sinceMs, qint64 untilMs);
    // The latest closed alarms, newest first.
    std::vector<TAlarm> ClosedAlarms(int limit);

private:
    bool Open();
    // The plan of a filter. A time window that holds at most a few thousand entries is walked
    // along the time index (newest first by id would otherwise read the whole table to learn
    // that there are no more). A text search goes through the text index unless the other
    // conditions already narrow the entries to a few thousand, which are then read and checked.
    TJournalPlan Plan(const TJournalFilter& filter);
    // How many entries match `filter` (no text), counting no further than kFewEntries + 1.
    int BoundedCount(const TJournalFilter& filter);

    class TImpl;
    std::unique_ptr<TImpl> FImpl;
    QString FError;
    bool FDamaged = false;
};
