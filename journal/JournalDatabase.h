#pragma once

// The journal's SQLite database: its tables, how a connection is opened, and what a failure
// means. Used by the writer thread and by readers, each with a connection of its own.

#include "journal/Alarm.h"
#include "journal/History.h"
#include "journal/JournalEntry.h"

#include <QSqlDatabase>
#include <QSqlError>
#include <QString>

class QSqlQuery;

// What a failed statement says about the journal file.
enum class TJournalFailure {
    None,
    Damaged,     // not a database, damaged, or unreadable: move it aside and start anew
    CannotWrite, // read-only, full, or an I/O error: hold entries and try again later
};
TJournalFailure ClassifyJournalError(const QSqlError& error);

// A connection of its own to the journal at `path`, under a name unique in the process; closed
// and removed when the object goes. Use it on one thread only.
class TJournalConnection {
public:
    TJournalConnection(const QString& path, const QString& purpose);
    ~TJournalConnection();
    TJournalConnection(const TJournalConnection&) = delete;
    TJournalConnection& operator=(const TJournalConnection&) = delete;

    // Opens the connection. For writing, also switches to WAL and creates or checks the tables.
    // On failure returns the failure and sets Error().
    TJournalFailure Open(bool forWriting);
    QSqlDatabase& Database() { return FDatabase; }
    const QString& Path() const { return FPath; }
    QString Error() const { return FError; }
    bool HasTextIndex() const { return FHasTextIndex; }
    // Runs `sql` (no result rows); on failure sets Error() and returns the failure.
    TJournalFailure Exec(const QString& sql);
    TJournalFailure Fail(const QSqlError& error);

private:
    TJournalFailure CreateSchema();

    QString FPath;
    QString FName;
    QSqlDatabase FDatabase;
    QString FError;
    bool FHasTextIndex = false;
    int FVersion = 0;
};

// Moves the journal at `path` (and its -wal and -shm files) aside to
// "<path>.damaged-<UTC time>". Returns the new name, or empty when it could not be moved.
QString MoveJournalAside(const QString& path, qint64 nowMs);

// The columns of an entry, in the order EntryFromRow reads them from `first` on.
extern const QString kEntryColumns;
TJournalEntry EntryFromRow(const QSqlQuery& query, int first = 0);

extern const QString kHistoryColumns;
THistorySample HistoryFromRow(const QSqlQuery& query, int first = 0);

extern const QString kAlarmColumns;
TAlarm AlarmFromRow(const QSqlQuery& query, int first = 0);

// The schema this program writes; a journal of a later one is not written to.
constexpr int kJournalSchemaVersion = 1;
