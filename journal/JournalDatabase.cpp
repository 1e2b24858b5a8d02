#include "journal/JournalDatabase.h"

#include "journal/JournalLog.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QSqlQuery>
#include <QTimeZone>
#include <QVariant>

#include <algorithm>
#include <atomic>
#include <cmath>

namespace {
// SQLite's primary result codes.
constexpr int kSqliteCorrupt = 11;
constexpr int kSqliteNotADb = 26;

std::atomic<int> gNextConnection{1};

const char* const kSchema[] = {
    "CREATE TABLE entry(id INTEGER PRIMARY KEY, time INTEGER NOT NULL, last_time INTEGER NOT NULL,"
    " severity INTEGER NOT NULL, event TEXT NOT NULL, address TEXT NOT NULL, short_name TEXT NOT NULL,"
    " long_name TEXT NOT NULL, group_name TEXT NOT NULL, channel TEXT NOT NULL, what TEXT NOT NULL,"
    " old_value TEXT NOT NULL, new_value TEXT NOT NULL, source INTEGER NOT NULL, client TEXT NOT NULL,"
    " repeat_count INTEGER NOT NULL)",
    // The window lists newest first (by id) under one or more filters; with the severity beside
    // each equality filter, the severity choice is decided from the index alone.
    "CREATE INDEX entry_time ON entry(time)",
    "CREATE INDEX entry_severity ON entry(severity)",
    "CREATE INDEX entry_address ON entry(address, severity)",
    "CREATE INDEX entry_group ON entry(group_name, severity)",
    "CREATE INDEX entry_source ON entry(source, severity)",
    "CREATE INDEX entry_event ON entry(event)",
    "CREATE TABLE alarm(id TEXT PRIMARY KEY, key TEXT NOT NULL, raised INTEGER NOT NULL,"
    " cleared INTEGER NOT NULL, acknowledged INTEGER NOT NULL, acknowledged_by TEXT NOT NULL,"
    " raise_count INTEGER NOT NULL, entry TEXT NOT NULL)",
    "CREATE INDEX alarm_raised ON alarm(raised)",
    "CREATE TABLE history(address TEXT NOT NULL, time INTEGER NOT NULL, amp_temp REAL, psu_temp REAL,"
    " mains REAL, fan REAL, a_peak REAL, a_volts REAL, a_amps REAL, b_peak REAL, b_volts REAL,"
    " b_amps REAL, PRIMARY KEY(address, time)) WITHOUT ROWID",
    "CREATE INDEX history_time ON history(time)",
};

// Text search: a trigram index finds the rows that hold every three-letter piece of the text
// searched for; the reader then checks the text itself. Without positions (detail=none) the
// index is a fifth of the size it would be with them.
const char* const kTextSchema[] = {
    "CREATE VIRTUAL TABLE entry_text USING fts5(what, address, short_name, long_name, group_name,"
    " old_value, new_value, client, content='entry', content_rowid='id', tokenize='trigram',"
    " detail='none', columnsize=0)",
    "CREATE TRIGGER entry_text_insert AFTER INSERT ON entry BEGIN"
    " INSERT INTO entry_text(rowid, what, address, short_name, long_name, group_name, old_value,"
    " new_value, client) VALUES (new.id, new.what, new.address, new.short_name, new.long_name,"
    " new.group_name, new.old_value, new.new_value, new.client); END",
    "CREATE TRIGGER entry_text_delete AFTER DELETE ON entry BEGIN"
    " INSERT INTO entry_text(entry_text, rowid, what, address, short_name, long_name, group_name,"
    " old_value, new_value, client) VALUES ('delete', old.id, old.what, old.address, old.short_name,"
    " old.long_name, old.group_name, old.old_value, old.new_value, old.client); END",
};

double NullableReal(const QVariant& v) {
    return v.isNull() ? std::numeric_limits<double>::quiet_NaN() : v.toDouble();
}
} // namespace

const QString kEntryColumns =
    QStringLiteral("id, time, last_time, severity, event, address, short_name, long_name, group_name,"
                   " channel, what, old_value, new_value, source, client, repeat_count");
const QString kHistoryColumns = QStringLiteral(
    "address, time, amp_temp, psu_temp, mains, fan, a_peak, a_volts, a_amps, b_peak, b_volts, b_amps");
const QString kAlarmColumns =
    QStringLiteral("id, key, raised, cleared, acknowledged, acknowledged_by, raise_count, entry");

TJournalFailure ClassifyJournalError(const QSqlError& error) {
    if (error.type() == QSqlError::NoError)
        return TJournalFailure::None;
    bool ok = false;
    const int code = error.nativeErrorCode().toInt(&ok) & 0xff;
    if (ok && (code == kSqliteCorrupt || code == kSqliteNotADb))
        return TJournalFailure::Damaged;
    return TJournalFailure::CannotWrite;
}

TJournalConnection::TJournalConnection(const QString& path, const QString& purpose)
    : FPath(path),
      FName(QStringLiteral("fadelink-journal-%1-%2").arg(purpose).arg(gNextConnection.fetch_add(1))) {
    FDatabase = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), FName);
    FDatabase.setDatabaseName(path);
    // A second program on the same journal holds its lock for a moment only.
    FDatabase.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=2000"));
}

TJournalConnection::~TJournalConnection() {
    FDatabase.close();
    FDatabase = QSqlDatabase();
    QSqlDatabase::removeDatabase(FName);
}

TJournalFailure TJournalConnection::Fail(const QSqlError& error) {
    FError = error.text();
    return ClassifyJournalError(error);
}

TJournalFailure TJournalConnection::Exec(const QString& sql) {
    QSqlQuery query(FDatabase);
    if (!query.exec(sql))
        return Fail(query.lastError());
    return TJournalFailure::None;
}

TJournalFailure TJournalConnection::Open(bool forWriting) {
    const QFileInfo file(FPath);
    if (file.exists() && !file.isReadable()) {
        FError = QStringLiteral("the file cannot be read");
        return TJournalFailure::Damaged;
    }
    if (!forWriting && !file.exists()) {
        FError = QStringLiteral("there is no journal yet");
        return TJournalFailure::CannotWrite;
    }
    if (!FDatabase.open())
        return Fail(FDatabase.lastError());

    QSqlQuery query(FDatabase);
    // Reading the schema is the first thing that reads the file: a file that is not a database
    // or is damaged in its first pages fails here.
    if (!query.exec(QStringLiteral("SELECT count(*) FROM sqlite_schema")))
        return Fail(query.lastError());
    if (!query.exec(QStringLiteral("SELECT 1 FROM sqlite_schema WHERE name = 'entry_text'")))
        return Fail(query.lastError());
    FHasTextIndex = query.next();
    query.finish();
    if (!forWriting)
        return TJournalFailure::None;

    // What the file holds is decided before anything is changed in it.
    if (!query.exec(QStringLiteral("PRAGMA user_version")) || !query.next())
        return Fail(query.lastError());
    FVersion = query.value(0).toInt();
    if (!query.exec(QStringLiteral("SELECT count(*) FROM sqlite_schema")) || !query.next())
        return Fail(query.lastError());
    if (FVersion == 0 && query.value(0).toInt() != 0) {
        // A database of something else where the journal should be.
        FError = QStringLiteral("the file is not a journal");
        return TJournalFailure::Damaged;
    }
    if (FVersion > kJournalSchemaVersion) {
        FError = QStringLiteral("the journal was written by a later version of the program");
        return TJournalFailure::CannotWrite;
    }
    query.finish();

    if (!query.exec(QStringLiteral("PRAGMA journal_mode=WAL")))
        return Fail(query.lastError());
    if (!query.next() || query.value(0).toString().compare(QLatin1String("wal"), Qt::CaseInsensitive) != 0) {
        FError = QStringLiteral("the file cannot be written");
        return TJournalFailure::CannotWrite;
    }
    query.finish();
    // Committed transactions survive the process being killed; only a power cut may lose the
    // last ones.
    if (const TJournalFailure f = Exec(QStringLiteral("PRAGMA synchronous=NORMAL"));
        f != TJournalFailure::None)
        return f;
    return CreateSchema();
}

TJournalFailure TJournalConnection::CreateSchema() {
    if (FVersion == kJournalSchemaVersion)
        return TJournalFailure::None;
    if (!FDatabase.transaction())
        return Fail(FDatabase.lastError());
    // A failed step leaves the file as it was; the failure that counts is the step's own.
    const auto abandon = [this](TJournalFailure failure) {
        if (!FDatabase.rollback())
            qCDebug(lcJournal) << "rollback failed:" << FDatabase.lastError().text();
        return failure;
    };
    for (const char* sql : kSchema) {
        if (const TJournalFailure f = Exec(QString::fromLatin1(sql)); f != TJournalFailure::None)
            return abandon(f);
    }
    // Without the trigram tokenizer the search reads every row instead.
    FHasTextIndex = Exec(QString::fromLatin1(kTextSchema[0])) == TJournalFailure::None;
    if (FHasTextIndex) {
        for (const char* sql : {kTextSchema[1], kTextSchema[2]}) {
            if (const TJournalFailure f = Exec(QString::fromLatin1(sql)); f != TJournalFailure::None)
                return abandon(f);
        }
    } else {
        qCWarning(lcJournal) << "no trigram text index in this SQLite:" << FError;
    }
    if (const TJournalFailure f = Exec(QStringLiteral("PRAGMA user_version=%1").arg(kJournalSchemaVersion));
        f != TJournalFailure::None)
        return abandon(f);
    if (!FDatabase.commit())
        return Fail(FDatabase.lastError());
    return TJournalFailure::None;
}

QString MoveJournalAside(const QString& path, qint64 nowMs) {
    const QString stamp = QDateTime::fromMSecsSinceEpoch(nowMs, QTimeZone::utc())
                              .toString(QStringLiteral("yyyyMMdd'T'HHmmss'Z'"));
    QString target = path + QStringLiteral(".damaged-") + stamp;
    for (int n = 2; QFileInfo::exists(target); ++n)
        target = path + QStringLiteral(".damaged-") + stamp + QLatin1Char('-') + QString::number(n);
    if (QFileInfo::exists(path) && !QFile::rename(path, target))
        return QString();
    for (const char* suffix : {"-wal", "-shm"}) {
        const QString side = path + QLatin1String(suffix);
        if (QFileInfo::exists(side) && !QFile::rename(side, target + QLatin1String(suffix)))
            QFile::remove(side);
    }
    return target;
}

TJournalEntry EntryFromRow(const QSqlQuery& q, int f) {
    TJournalEntry e;
    e.Id = q.value(f + 0).toLongLong();
    e.TimeMs = q.value(f + 1).toLongLong();
    e.LastTimeMs = q.value(f + 2).toLongLong();
    e.Severity = TJournalSeverity(std::clamp(q.value(f + 3).toInt(), 0, kJournalSeverityCount - 1));
    e.Event = q.value(f + 4).toString();
    e.Address = q.value(f + 5).toString();
    e.ShortName = q.value(f + 6).toString();
    e.LongName = q.value(f + 7).toString();
    e.Group = q.value(f + 8).toString();
    e.Channel = q.value(f + 9).toString();
    e.What = q.value(f + 10).toString();
    e.OldValue = q.value(f + 11).toString();
    e.NewValue = q.value(f + 12).toString();
    e.Source = TJournalSource(std::clamp(q.value(f + 13).toInt(), 0, kJournalSourceCount - 1));
    e.Client = q.value(f + 14).toString();
    e.RepeatCount = q.value(f + 15).toInt();
    return e;
}

THistorySample HistoryFromRow(const QSqlQuery& q, int f) {
    THistorySample s;
    s.Address = q.value(f + 0).toString();
    s.TimeMs = q.value(f + 1).toLongLong();
    s.AmplifierTemperature = NullableReal(q.value(f + 2));
    s.PsuTemperature = NullableReal(q.value(f + 3));
    s.MainsVolts = NullableReal(q.value(f + 4));
    s.FanPercent = NullableReal(q.value(f + 5));
    for (int c = 0; c < 2; ++c) {
        s.Channels[c].PeakVolts = NullableReal(q.value(f + 6 + 3 * c));
        s.Channels[c].AverageVolts = NullableReal(q.value(f + 7 + 3 * c));
        s.Channels[c].AverageAmperes = NullableReal(q.value(f + 8 + 3 * c));
    }
    return s;
}

TAlarm AlarmFromRow(const QSqlQuery& q, int f) {
    TAlarm a;
    a.Id = q.value(f + 0).toString();
    a.Key = q.value(f + 1).toString();
    a.RaisedMs = q.value(f + 2).toLongLong();
    a.ClearedMs = q.value(f + 3).toLongLong();
    a.AcknowledgedMs = q.value(f + 4).toLongLong();
    a.AcknowledgedBy = q.value(f + 5).toString();
    a.RaiseCount = q.value(f + 6).toInt();
    a.Entry = EntryFromJson(QJsonDocument::fromJson(q.value(f + 7).toString().toUtf8()).object());
    return a;
}
