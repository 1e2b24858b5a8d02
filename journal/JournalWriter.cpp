#include "journal/JournalWriter.h"

#include "journal/JournalDatabase.h"
#include "journal/JournalLog.h"
#include "journal/JournalQueue.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>
#include <QSqlQuery>
#include <QVariant>

#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <pthread.h>
#include <thread>
#include <unordered_map>

namespace {
using TSteady = std::chrono::steady_clock;
constexpr int kClosedAlarmsLoaded = 200;
constexpr qint64 kMinuteMs = 60 * 1000;

QVariant Real(double v) {
    return std::isnan(v) ? QVariant() : QVariant(v);
}

// Text columns are never NULL: an absent text is empty.
QString Text(const QString& text) {
    return text.isNull() ? QStringLiteral("") : text;
}

// A statement that fails for what it carries (too big, a constraint) fails alone: the rest of
// the batch is written, so that one bad entry cannot hold the journal up.
bool FailsAlone(const QSqlError& error) {
    const int code = error.nativeErrorCode().toInt() & 0xff;
    return code == 18 || code == 19 || code == 20 || code == 25;
}

TJournalEntry ProgramEntry(qint64 nowMs, TJournalSeverity severity, const QString& what) {
    TJournalEntry e;
    e.TimeMs = nowMs;
    e.LastTimeMs = nowMs;
    e.Severity = severity;
    e.Event = JournalEvent::Journal;
    e.What = what;
    e.Source = TJournalSource::Program;
    return e;
}
} // namespace

class TJournalWriter::TImpl {
public:
    TImpl(const TJournalOptions& options, TEvents events)
        : Options(options), Events(std::move(events)), Queue(options.HeldCapacity) {}

    void Run();

    const TJournalOptions Options;
    const TEvents Events;

    // Shared with the callers, under Mutex.
    mutable std::mutex Mutex;
    std::condition_variable Wake;     // something to do
    std::condition_variable Progress; // a batch was committed, or writing failed
    TJournalQueue Queue;
    bool StopRequested = false;
    QString DamageReport;
    bool Failing = false;
    quint64 LostTotal = 0;
    quint64 WrittenTotal = 0;

    std::thread Thread;

private:
    struct TRow {
        qint64 Id = 0;
        qint64 Minute = 0;
    };
    struct TStatements {
        explicit TStatements(QSqlDatabase& db)
            : InsertEntry(db), AddRepeats(db), InsertHistory(db), UpsertAlarm(db) {}
        QSqlQuery InsertEntry, AddRepeats, InsertHistory, UpsertAlarm;
    };

    // Opens the journal unless it is open; `now` tries even before the retry time.
    bool EnsureOpen(bool now);
    void Close();
    void HandleFailure(TJournalFailure failure, const QString& error);
    void MoveAside(const QString& error);
    bool WriteBatch(const std::vector<TJournalOp>& batch, const TJournalQueue::TLoss& loss, bool& wroteRows);
    bool Insert(const TJournalEntry& entry, qint64& id, QSqlError& error);
    bool Apply(const TJournalOp& op, std::vector<std::pair<quint64, TRow>>& rows, bool& wroteRows,
               QSqlError& error);
    // One chunk of retention trimming; whether there is more to trim.
    bool TrimStep();
    std::vector<TAlarm> LoadAlarms();
    qint64 Now() const { return Options.Clock(); }

    // Writer thread only.
    std::unique_ptr<TJournalConnection> FConnection;
    std::unique_ptr<TStatements> FStatements;
    std::unordered_map<quint64, TRow> FRowOfSeq; // the rows of folded events, for their repeats
    std::vector<TJournalEntry> FNotes;           // the journal's own entries, written first
    qint64 FFailingSinceMs = 0;
    QString FFailReason;
    TSteady::time_point FRetryAt;
    TSteady::time_point FNextTrimAt;
    bool FTrimming = false;
    TSteady::time_point FLastMoveAside;
    bool FMovedAside = false;
};

TJournalWriter::TJournalWriter(const TJournalOptions& options, TEvents events)
    : FImpl(std::make_unique<TImpl>(options, std::move(events))) {
    // A std::thread, whose join the thread sanitizer sees (QThread::wait waits on Qt's own
    // futex-based primitives, which it does not).
    FImpl->Thread = std::thread([impl = FImpl.get()] {
        pthread_setname_np(pthread_self(), "journal-writer");
        impl->Run();
    });
}

TJournalWriter::~TJournalWriter() {
    {
        std::lock_guard<std::mutex> lock(FImpl->Mutex);
        FImpl->StopRequested = true;
    }
    FImpl->Wake.notify_all();
    FImpl->Thread.join();
}

bool TJournalWriter::PushEntry(const TJournalEntry& entry) {
    bool kept;
    {
        std::lock_guard<std::mutex> lock(FImpl->Mutex);
        kept = FImpl->Queue.PushEntry(entry);
        FImpl->LostTotal += kept ? 0 : 1;
    }
    FImpl->Wake.notify_one();
    return kept;
}

bool TJournalWriter::PushSample(const THistorySample& sample) {
    bool kept;
    {
        std::lock_guard<std::mutex> lock(FImpl->Mutex);
        kept = FImpl->Queue.PushSample(sample);
        FImpl->LostTotal += kept ? 0 : 1;
    }
    FImpl->Wake.notify_one();
    return kept;
}

void TJournalWriter::PushAlarm(const TAlarm& alarm) {
    {
        std::lock_guard<std::mutex> lock(FImpl->Mutex);
        FImpl->Queue.PushAlarm(alarm);
    }
    FImpl->Wake.notify_one();
}

void TJournalWriter::ReportDamage(const QString& message) {
    {
        std::lock_guard<std::mutex> lock(FImpl->Mutex);
        FImpl->DamageReport = message;
    }
    FImpl->Wake.notify_one();
}

bool TJournalWriter::Flush(int timeoutMs) {
    std::unique_lock<std::mutex> lock(FImpl->Mutex);
    const quint64 target = FImpl->Queue.LastSeq();
    FImpl->Wake.notify_one();
    FImpl->Progress.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                             [&] { return FImpl->Queue.CommittedSeq() >= target || FImpl->Failing; });
    return FImpl->Queue.CommittedSeq() >= target;
}

TJournalWriter::TStats TJournalWriter::Stats() const {
    std::lock_guard<std::mutex> lock(FImpl->Mutex);
    TStats stats;
    stats.Held = FImpl->Queue.Size();
    stats.Lost = FImpl->LostTotal;
    stats.Written = FImpl->WrittenTotal;
    stats.Failing = FImpl->Failing;
    stats.Path = FImpl->Options.Path;
    return stats;
}

void TJournalWriter::TImpl::Run() {
    EnsureOpen(true);
    if (Events.Opened)
        Events.Opened(FConnection ? LoadAlarms() : std::vector<TAlarm>());
    FNextTrimAt = TSteady::now();

    std::unique_lock<std::mutex> lock(Mutex);
    for (;;) {
        if (!DamageReport.isEmpty()) {
            const QString report = DamageReport;
            DamageReport.clear();
            lock.unlock();
            // A reader still on the file just moved aside says nothing about the new one.
            const bool justMoved = FMovedAside && TSteady::now() - FLastMoveAside < std::chrono::minutes(1);
            if (FConnection && !justMoved)
                MoveAside(report);
            lock.lock();
            continue;
        }
        // Retention trimming, a chunk at a time between batches, so that a journal that is
        // always busy is trimmed too.
        if (!Failing && TSteady::now() >= FNextTrimAt) {
            lock.unlock();
            FTrimming = TrimStep();
            // While there is more to trim, batches still go in between the chunks.
            FNextTrimAt = TSteady::now() + std::chrono::milliseconds(FTrimming ? Options.CommitDelayMs
                                                                               : Options.TrimIntervalMs);
            lock.lock();
            continue;
        }
        if (Failing) {
            if (StopRequested && Queue.Empty())
                break;
            // The next attempt, also with nothing held: the gap is journalled as soon as the
            // journal can be written again.
            if (!StopRequested) {
                const bool woken =
                    Wake.wait_until(lock, FRetryAt, [&] { return StopRequested || !DamageReport.isEmpty(); });
                // StopRequested is set by the destructor's thread while this one waits.
                // cppcheck-suppress knownConditionTrueFalse
                if (woken && !StopRequested)
                    continue; // a damage report
            }
        } else if (Queue.Empty()) {
            if (StopRequested)
                break;
            Wake.wait_until(lock, FNextTrimAt,
                            [&] { return StopRequested || !Queue.Empty() || !DamageReport.isEmpty(); });
            continue;
        } else if (!StopRequested) {
            // Gather what comes for a moment, so that a burst is one transaction.
            Wake.wait_for(lock, std::chrono::milliseconds(Options.CommitDelayMs),
                          [&] { return StopRequested || Queue.Size() >= Options.BatchSize; });
        }
        const std::vector<TJournalOp> batch = Queue.Take(Options.BatchSize);
        const TJournalQueue::TLoss loss = Queue.TakeLoss();
        const bool stopping = StopRequested;
        lock.unlock();

        bool wroteRows = false;
        const bool written = EnsureOpen(stopping) && WriteBatch(batch, loss, wroteRows);
        if (written && wroteRows && Events.Written)
            Events.Written();

        lock.lock();
        if (written) {
            Queue.Commit();
            WrittenTotal += batch.size();
        } else {
            Queue.Abort();
            Queue.RestoreLoss(loss);
        }
        Progress.notify_all();
        if (!written && StopRequested && Failing)
            break; // the last attempt failed: what is held cannot be written
    }
    const std::size_t held = Queue.Size();
    lock.unlock();
    if (held > 0)
        std::fprintf(stderr, "fadelink: %zu journal entries could not be written to %s\n", held,
                     qPrintable(QDir::toNativeSeparators(Options.Path)));
    Close();
}

bool TJournalWriter::TImpl::EnsureOpen(bool now) {
    if (FConnection)
        return true;
    if (!now && TSteady::now() < FRetryAt)
        return false;
    QDir().mkpath(QFileInfo(Options.Path).absolutePath());
    for (int attempt = 0; attempt < 2; ++attempt) {
        FConnection = std::make_unique<TJournalConnection>(Options.Path, QStringLiteral("writer"));
        TJournalFailure failure = FConnection->Open(true);
        if (failure == TJournalFailure::None) {
            FStatements = std::make_unique<TStatements>(FConnection->Database());
            const bool prepared =
                FStatements->InsertEntry.prepare(QStringLiteral(
                    "INSERT INTO entry(time, last_time, severity, event, address, short_name,"
                    " long_name, group_name, channel, what, old_value, new_value, source, client,"
                    " repeat_count) VALUES (?,?,?,?,?,?,?,?,?,?,?,?,?,?,?)")) &&
                FStatements->AddRepeats.prepare(
                    QStringLiteral("UPDATE entry SET repeat_count = repeat_count + ?,"
                                   " last_time = max(last_time, ?) WHERE id = ?")) &&
                FStatements->InsertHistory.prepare(QStringLiteral("INSERT OR REPLACE INTO history(") +
                                                   kHistoryColumns +
                                                   QStringLiteral(") VALUES (?,?,?,?,?,?,?,?,?,?,?,?)")) &&
                FStatements->UpsertAlarm.prepare(QStringLiteral("INSERT OR REPLACE INTO alarm(") +
                                                 kAlarmColumns +
                                                 QStringLiteral(") VALUES (?,?,?,?,?,?,?,?)"));
            if (prepared)
                return true;
            QSqlError prepareError;
            for (const QSqlQuery* q : {&FStatements->InsertEntry, &FStatements->AddRepeats,
                                       &FStatements->InsertHistory, &FStatements->UpsertAlarm})
                if (prepareError.type() == QSqlError::NoError)
                    prepareError = q->lastError();
            failure = ClassifyJournalError(prepareError);
            const QString error = prepareError.text();
            Close();
            HandleFailure(failure, error);
        } else {
            const QString error = FConnection->Error();
            Close();
            HandleFailure(failure, error);
        }
        if (failure != TJournalFailure::Damaged || Failing)
            return false;
        // Moved aside: open a new journal in its place.
    }
    return false;
}

void TJournalWriter::TImpl::Close() {
    FStatements.reset();
    FConnection.reset();
}

void TJournalWriter::TImpl::HandleFailure(TJournalFailure failure, const QString& error) {
    qCDebug(lcJournal) << Options.Path << "failed:" << error;
    if (failure == TJournalFailure::Damaged) {
        MoveAside(error);
        return;
    }
    Close();
    FRetryAt = TSteady::now() + std::chrono::milliseconds(Options.RetryMs);
    std::lock_guard<std::mutex> lock(Mutex);
    if (Failing)
        return;
    Failing = true;
    FFailingSinceMs = Now();
    FFailReason = error;
    const QString message =
        QStringLiteral("The journal %1 cannot be written (%2); entries are kept in memory until it can be")
            .arg(QDir::toNativeSeparators(Options.Path), error.trimmed());
    std::fprintf(stderr, "fadelink: %s\n", qPrintable(message));
    if (Events.Problem)
        Events.Problem(message);
    Progress.notify_all();
}

void TJournalWriter::TImpl::MoveAside(const QString& error) {
    Close();
    FRowOfSeq.clear();
    // A file that is found damaged again at once is not made anew in a loop.
    if (FMovedAside && TSteady::now() - FLastMoveAside < std::chrono::minutes(1)) {
        HandleFailure(
            TJournalFailure::CannotWrite,
            QStringLiteral("it was found damaged again just after it was started (%1)").arg(error.trimmed()));
        return;
    }
    FMovedAside = true;
    FLastMoveAside = TSteady::now();
    const QString target = MoveJournalAside(Options.Path, Now());
    if (target.isEmpty()) {
        HandleFailure(TJournalFailure::CannotWrite,
                      QStringLiteral("it is damaged (%1) and could not be moved aside").arg(error.trimmed()));
        return;
    }
    const QString message =
        QStringLiteral("The journal %1 was damaged (%2); it was moved to %3 and a new journal was started")
            .arg(QDir::toNativeSeparators(Options.Path), error.trimmed(), QDir::toNativeSeparators(target));
    qCDebug(lcJournal).noquote() << message;
    std::fprintf(stderr, "fadelink: %s\n", qPrintable(message));
    FNotes.push_back(ProgramEntry(Now(), TJournalSeverity::Warning, message));
    if (Events.Problem)
        Events.Problem(message);
}

bool TJournalWriter::TImpl::Insert(const TJournalEntry& e, qint64& id, QSqlError& error) {
    QSqlQuery& q = FStatements->InsertEntry;
    q.bindValue(0, e.TimeMs);
    q.bindValue(1, e.EffectiveLastTimeMs());
    q.bindValue(2, int(e.Severity));
    q.bindValue(3, Text(e.Event));
    q.bindValue(4, Text(e.Address));
    q.bindValue(5, Text(e.ShortName));
    q.bindValue(6, Text(e.LongName));
    q.bindValue(7, Text(e.Group));
    q.bindValue(8, Text(e.Channel));
    q.bindValue(9, Text(e.What));
    q.bindValue(10, Text(e.OldValue));
    q.bindValue(11, Text(e.NewValue));
    q.bindValue(12, int(e.Source));
    q.bindValue(13, Text(e.Client));
    q.bindValue(14, std::max(1, e.RepeatCount));
    if (!q.exec()) {
        error = q.lastError();
        return false;
    }
    id = q.lastInsertId().toLongLong();
    return true;
}

bool TJournalWriter::TImpl::Apply(const TJournalOp& op, std::vector<std::pair<quint64, TRow>>& rows,
                                  bool& wroteRows, QSqlError& error) {
    const auto exec = [&error](QSqlQuery& q) {
        if (q.exec())
            return true;
        error = q.lastError();
        return false;
    };
    if (const auto* insert = std::get_if<TInsertOp>(&op.Op)) {
        qint64 id = 0;
        if (!Insert(insert->Entry, id, error))
            return false;
        if (IsFoldedEvent(insert->Entry))
            rows.emplace_back(op.Seq, TRow{id, insert->Entry.TimeMs / kMinuteMs});
        wroteRows = true;
        return true;
    }
    if (const auto* repeat = std::get_if<TRepeatOp>(&op.Op)) {
        wroteRows = true;
        qint64 target = 0;
        for (auto it = rows.rbegin(); it != rows.rend() && target == 0; ++it)
            if (it->first == repeat->TargetSeq)
                target = it->second.Id;
        if (target == 0) {
            const auto found = FRowOfSeq.find(repeat->TargetSeq);
            if (found != FRowOfSeq.end())
                target = found->second.Id;
        }
        if (target == 0) {
            // The row is in a journal that was moved aside: this one starts a row of its own.
            qint64 id = 0;
            if (!Insert(repeat->Entry, id, error))
                return false;
            rows.emplace_back(repeat->TargetSeq, TRow{id, repeat->Entry.TimeMs / kMinuteMs});
            return true;
        }
        QSqlQuery& q = FStatements->AddRepeats;
        q.bindValue(0, repeat->Entry.RepeatCount);
        q.bindValue(1, repeat->Entry.EffectiveLastTimeMs());
        q.bindValue(2, target);
        return exec(q);
    }
    if (const auto* sample = std::get_if<THistorySample>(&op.Op)) {
        QSqlQuery& q = FStatements->InsertHistory;
        q.bindValue(0, Text(sample->Address));
        q.bindValue(1, sample->TimeMs);
        q.bindValue(2, Real(sample->AmplifierTemperature));
        q.bindValue(3, Real(sample->PsuTemperature));
        q.bindValue(4, Real(sample->MainsVolts));
        q.bindValue(5, Real(sample->FanPercent));
        for (int c = 0; c < 2; ++c) {
            q.bindValue(6 + 3 * c, Real(sample->Channels[c].PeakVolts));
            q.bindValue(7 + 3 * c, Real(sample->Channels[c].AverageVolts));
            q.bindValue(8 + 3 * c, Real(sample->Channels[c].AverageAmperes));
        }
        return exec(q);
    }
    const TAlarm& a = std::get<TAlarmOp>(op.Op).Alarm;
    QSqlQuery& q = FStatements->UpsertAlarm;
    q.bindValue(0, a.Id);
    q.bindValue(1, Text(a.Key));
    q.bindValue(2, a.RaisedMs);
    q.bindValue(3, a.ClearedMs);
    q.bindValue(4, a.AcknowledgedMs);
    q.bindValue(5, Text(a.AcknowledgedBy));
    q.bindValue(6, a.RaiseCount);
    q.bindValue(7, QString::fromUtf8(QJsonDocument(EntryToJson(a.Entry)).toJson(QJsonDocument::Compact)));
    return exec(q);
}

bool TJournalWriter::TImpl::WriteBatch(const std::vector<TJournalOp>& batch, const TJournalQueue::TLoss& loss,
                                       bool& wroteRows) {
    QSqlDatabase& db = FConnection->Database();
    const auto fail = [&](const QSqlError& error) {
        if (!db.rollback())
            qCDebug(lcJournal) << "rollback failed:" << db.lastError().text();
        HandleFailure(ClassifyJournalError(error), error.text());
        return false;
    };
    if (!db.transaction())
        return fail(db.lastError());

    std::vector<TJournalEntry> notes = FNotes;
    const qint64 now = Now();
    if (Failing) {
        notes.push_back(
            ProgramEntry(FFailingSinceMs, TJournalSeverity::Warning,
                         QStringLiteral("The journal could not be written from %1 to %2 (%3)")
                             .arg(IsoTime(FFailingSinceMs), IsoTime(now), FFailReason.trimmed())));
    }
    if (loss.Count > 0) {
        notes.push_back(ProgramEntry(
            loss.FirstMs, TJournalSeverity::Warning,
            QStringLiteral(
                "%1 journal entries from %2 to %3 were lost: more came than the journal could hold")
                .arg(loss.Count)
                .arg(IsoTime(loss.FirstMs), IsoTime(loss.LastMs))));
    }
    QSqlError error;
    for (const TJournalEntry& note : notes) {
        qint64 id = 0;
        if (!Insert(note, id, error))
            return fail(error);
        wroteRows = true;
    }

    std::vector<std::pair<quint64, TRow>> rows;
    for (const TJournalOp& op : batch) {
        if (Apply(op, rows, wroteRows, error))
            continue;
        if (!FailsAlone(error))
            return fail(error);
        qCWarning(lcJournal) << "an entry could not be written and is dropped:" << error.text();
    }
    if (!db.commit())
        return fail(db.lastError());

    FNotes.clear();
    const qint64 minute = now / kMinuteMs;
    for (const auto& [seq, row] : rows)
        FRowOfSeq[seq] = row;
    if (FRowOfSeq.size() > 1024) {
        for (auto it = FRowOfSeq.begin(); it != FRowOfSeq.end();)
            it = it->second.Minute < minute - 2 ? FRowOfSeq.erase(it) : std::next(it);
    }
    bool resumed = false;
    {
        std::lock_guard<std::mutex> lock(Mutex);
        resumed = Failing;
        Failing = false;
    }
    if (resumed) {
        qCDebug(lcJournal) << Options.Path << "written again";
        std::fprintf(stderr, "fadelink: the journal %s is written again\n",
                     qPrintable(QDir::toNativeSeparators(Options.Path)));
        if (Events.Resumed)
            Events.Resumed();
    }
    return true;
}

bool TJournalWriter::TImpl::TrimStep() {
    if (!EnsureOpen(false))
        return false;
    const qint64 now = Now();
    QSqlQuery q(FConnection->Database());
    const auto run = [&](const QString& sql, const QVariantList& values) {
        if (!q.prepare(sql)) {
            qCDebug(lcJournal) << "trimming failed:" << q.lastError().text();
            return -1;
        }
        for (int i = 0; i < values.size(); ++i)
            q.bindValue(i, values[i]);
        if (!q.exec()) {
            qCDebug(lcJournal) << "trimming failed:" << q.lastError().text();
            return -1;
        }
        return q.numRowsAffected();
    };
    int deleted = 0;
    deleted += std::max(0, run(QStringLiteral("DELETE FROM entry WHERE id IN"
                                              " (SELECT id FROM entry WHERE time < ? LIMIT ?)"),
                               {now - Options.MaxAgeMs, Options.TrimChunk}));
    // Rows leave from the oldest, so the span of ids bounds the count from above at no cost;
    // only when it is over the limit are the rows counted.
    qint64 excess = 0;
    if (q.exec(QStringLiteral("SELECT max(id) - min(id) + 1 FROM entry")) && q.next() &&
        q.value(0).toLongLong() > Options.MaxEntries &&
        q.exec(QStringLiteral("SELECT count(*) FROM entry")) && q.next())
        excess = q.value(0).toLongLong() - Options.MaxEntries;
    q.finish();
    if (excess > 0) {
        deleted += std::max(0, run(QStringLiteral("DELETE FROM entry WHERE id IN"
                                                  " (SELECT id FROM entry ORDER BY id LIMIT ?)"),
                                   {std::min<qint64>(excess, Options.TrimChunk)}));
    }
    q.finish();
    deleted += std::max(0, run(QStringLiteral("DELETE FROM history WHERE (address, time) IN"
                                              " (SELECT address, time FROM history WHERE time < ? LIMIT ?)"),
                               {now - Options.HistoryMaxAgeMs, Options.TrimChunk}));
    deleted += std::max(0, run(QStringLiteral("DELETE FROM alarm WHERE cleared > 0 AND acknowledged > 0"
                                              " AND raised < ?"),
                               {now - Options.MaxAgeMs}));
    q.finish();
    if (deleted >= Options.TrimChunk)
        return true;
    // The end of a pass: keep the query planner's view of the tables current.
    if (!q.exec(QStringLiteral("PRAGMA optimize")))
        qCDebug(lcJournal) << "optimize failed:" << q.lastError().text();
    return false;
}

std::vector<TAlarm> TJournalWriter::TImpl::LoadAlarms() {
    std::vector<TAlarm> alarms;
    QSqlQuery q(FConnection->Database());
    if (q.exec(QStringLiteral("SELECT ") + kAlarmColumns +
               QStringLiteral(" FROM alarm WHERE NOT (cleared > 0 AND acknowledged > 0) ORDER BY raised"))) {
        while (q.next())
            alarms.push_back(AlarmFromRow(q));
    }
    if (q.exec(
            QStringLiteral("SELECT * FROM (SELECT ") + kAlarmColumns +
            QStringLiteral(" FROM alarm WHERE cleared > 0 AND acknowledged > 0 ORDER BY raised DESC LIMIT %1)"
                           " ORDER BY raised")
                .arg(kClosedAlarmsLoaded))) {
        std::vector<TAlarm> closed;
        while (q.next())
            closed.push_back(AlarmFromRow(q));
        alarms.insert(alarms.begin(), closed.begin(), closed.end());
    }
    return alarms;
}
