#include "journal/Journal.h"

#include "device/WorkQueue.h"
#include "journal/JournalLog.h"

#include <QDir>
#include <QMetaObject>
#include <QUuid>

#include <algorithm>
#include <condition_variable>
#include <mutex>

namespace {
// How long the constructor waits for the journal to open; a journal that takes longer hands
// its alarms over when it is ready.
constexpr int kOpenWaitMs = 5000;
// Closed alarms kept in memory for the window; older ones stay in the database.
constexpr std::size_t kClosedAlarmsKept = 200;

TJournalEntry ProgramEntry(qint64 nowMs, const QString& event, const QString& what) {
    TJournalEntry e;
    e.TimeMs = nowMs;
    e.LastTimeMs = nowMs;
    e.Severity = TJournalSeverity::Info;
    e.Event = event;
    e.What = what;
    e.Source = TJournalSource::Program;
    return e;
}
} // namespace

QString DefaultJournalPath() {
    QString base = qEnvironmentVariable("XDG_STATE_HOME");
    if (base.isEmpty() || !QDir::isAbsolutePath(base))
        base = QDir::homePath() + QStringLiteral("/.local/state");
    return base + QStringLiteral("/fadelink/journal.sqlite");
}

TJournal::TJournal(TJournalOptions options, QObject* parent) : QObject(parent), FOptions(std::move(options)) {
    if (FOptions.Path.isEmpty())
        FOptions.Path = DefaultJournalPath();

    struct TOpenWait {
        std::mutex Mutex;
        std::condition_variable Done;
        bool Opened = false;
        bool GaveUp = false;
        std::vector<TAlarm> Alarms;
    };
    auto wait = std::make_shared<TOpenWait>();

    // The writer's news comes back through the work queue, whose lock both threads take (a queued
    // call's capture would be ordered only by Qt's uninstrumented queue lock); `alive` says
    // whether the journal is still there.
    TWorkQueue* back = &UserInterfaceQueue();
    const std::weak_ptr<bool> alive = FAlive;
    TJournalWriter::TEvents events;
    events.Opened = [this, alive, back, wait](std::vector<TAlarm> alarms) {
        std::lock_guard<std::mutex> lock(wait->Mutex);
        if (wait->GaveUp) {
            back->Post([this, alive, alarms = std::move(alarms)]() mutable {
                if (alive.lock())
                    MergeLoadedAlarms(std::move(alarms));
            });
            return;
        }
        wait->Opened = true;
        wait->Alarms = std::move(alarms);
        wait->Done.notify_all();
    };
    events.Problem = [this, alive, back](const QString& message) {
        back->Post([this, alive, message] {
            if (!alive.lock())
                return;
            FProblem = message;
            emit ProblemReported(message);
        });
    };
    events.Resumed = [this, alive, back] {
        back->Post([this, alive] {
            if (!alive.lock())
                return;
            FProblem.clear();
            emit WriteResumed();
        });
    };
    events.Written = [this, alive, back] {
        back->Post([this, alive] {
            if (alive.lock())
                emit EntriesWritten();
        });
    };
    FWriter = std::make_unique<TJournalWriter>(FOptions, std::move(events));

    std::unique_lock<std::mutex> lock(wait->Mutex);
    if (wait->Done.wait_for(lock, std::chrono::milliseconds(kOpenWaitMs), [&] { return wait->Opened; })) {
        FAlarms = std::move(wait->Alarms);
        FAlarmsLoaded = true;
    } else {
        wait->GaveUp = true;
        qCWarning(lcJournal) << FOptions.Path << "is slow to open; its alarms follow when it is open";
    }
}

TJournal::~TJournal() {
    FWriter.reset();
}

void TJournal::Record(const TJournalEntry& entry) {
    TJournalEntry e = entry;
    if (e.TimeMs == 0)
        e.TimeMs = Now();
    if (e.LastTimeMs == 0)
        e.LastTimeMs = e.TimeMs;
    FWriter->PushEntry(e);
}

void TJournal::RecordSample(const THistorySample& sample) {
    FWriter->PushSample(sample);
}

void TJournal::RecordProgramStart(const QString& program) {
    Record(ProgramEntry(Now(), JournalEvent::ProgramStart, program + QStringLiteral(" started")));
}

void TJournal::RecordProgramStop(const QString& program) {
    Record(ProgramEntry(Now(), JournalEvent::ProgramStop, program + QStringLiteral(" stopped")));
}

void TJournal::ReportDamage(const QString& message) {
    FWriter->ReportDamage(message);
}

bool TJournal::Flush(int timeoutMs) {
    return FWriter->Flush(timeoutMs);
}

TJournalWriter::TStats TJournal::Stats() const {
    return FWriter->Stats();
}

const TAlarm* TJournal::FindAlarm(const QString& id) const {
    const auto it = std::find_if(FAlarms.begin(), FAlarms.end(), [&](const TAlarm& a) { return a.Id == id; });
    return it == FAlarms.end() ? nullptr : &*it;
}

int TJournal::AlarmCount() const {
    return int(
        std::count_if(FAlarms.begin(), FAlarms.end(), [](const TAlarm& a) { return !a.Acknowledged(); }));
}

TAlarm* TJournal::OpenAlarm(const QString& key) {
    for (auto it = FAlarms.rbegin(); it != FAlarms.rend(); ++it)
        if (it->Key == key && !it->Closed())
            return &*it;
    return nullptr;
}

void TJournal::AlarmChanged(const TAlarm& alarm, int countBefore) {
    FWriter->PushAlarm(alarm);
    PruneClosedAlarms();
    emit AlarmsChanged();
    const int count = AlarmCount();
    if (count != countBefore)
        emit AlarmCountChanged(count);
}

void TJournal::PruneClosedAlarms() {
    std::size_t closed = std::size_t(
        std::count_if(FAlarms.begin(), FAlarms.end(), [](const TAlarm& a) { return a.Closed(); }));
    for (auto it = FAlarms.begin(); closed > kClosedAlarmsKept && it != FAlarms.end();) {
        if (it->Closed()) {
            it = FAlarms.erase(it);
            --closed;
        } else {
            ++it;
        }
    }
}

bool TJournal::RaiseAlarm(const QString& key, const TJournalEntry& entry) {
    const int before = AlarmCount();
    if (TAlarm* open = OpenAlarm(key)) {
        if (!open->Cleared())
            return false; // still present: nothing changes
        // Back before anyone saw it go: the same alarm again.
        open->ClearedMs = 0;
        ++open->RaiseCount;
        AlarmChanged(*open, before);
        return false;
    }
    TAlarm alarm;
    alarm.Id = QUuid::createUuid().toString(QUuid::WithoutBraces);
    alarm.Key = key;
    alarm.Entry = entry;
    if (alarm.Entry.TimeMs == 0)
        alarm.Entry.TimeMs = Now();
    alarm.RaisedMs = alarm.Entry.TimeMs;
    FAlarms.push_back(alarm);
    AlarmChanged(alarm, before);
    emit AlarmRaised(alarm);
    return true;
}

void TJournal::ClearAlarm(const QString& key) {
    TAlarm* open = OpenAlarm(key);
    if (!open || open->Cleared())
        return;
    const int before = AlarmCount();
    open->ClearedMs = std::max(Now(), open->RaisedMs + 1);
    AlarmChanged(*open, before);
}

void TJournal::AcknowledgeAlarm(const QString& id, TJournalSource source, const QString& by) {
    const auto it = std::find_if(FAlarms.begin(), FAlarms.end(), [&](const TAlarm& a) { return a.Id == id; });
    if (it == FAlarms.end() || it->Acknowledged())
        return;
    const int before = AlarmCount();
    it->AcknowledgedMs = Now();
    it->AcknowledgedBy = by;
    TJournalEntry e = it->Entry;
    e.Id = 0;
    e.TimeMs = it->AcknowledgedMs;
    e.LastTimeMs = e.TimeMs;
    e.Severity = TJournalSeverity::UserAction;
    e.Event = JournalEvent::Alarm;
    e.What = QStringLiteral("Alarm acknowledged: ") + it->Entry.What;
    e.OldValue.clear();
    e.NewValue = by;
    e.Source = source;
    e.Client = source == TJournalSource::RemoteClient ? by : QString();
    e.RepeatCount = 1;
    const TAlarm alarm = *it;
    Record(e);
    AlarmChanged(alarm, before);
}

void TJournal::AcknowledgeAll(TJournalSource source, const QString& by) {
    QStringList ids;
    for (const TAlarm& a : FAlarms)
        if (!a.Acknowledged())
            ids.append(a.Id);
    for (const QString& id : ids)
        AcknowledgeAlarm(id, source, by);
}

void TJournal::MergeLoadedAlarms(std::vector<TAlarm> loaded) {
    if (FAlarmsLoaded)
        return;
    FAlarmsLoaded = true;
    const int before = AlarmCount();
    // Alarms raised meanwhile stand; a loaded open alarm for the same condition is older news.
    std::vector<TAlarm> merged;
    for (TAlarm& a : loaded) {
        const bool superseded = !a.Closed() && OpenAlarm(a.Key) != nullptr;
        if (!superseded)
            merged.push_back(std::move(a));
    }
    merged.insert(merged.end(), FAlarms.begin(), FAlarms.end());
    FAlarms = std::move(merged);
    PruneClosedAlarms();
    emit AlarmsChanged();
    if (AlarmCount() != before)
        emit AlarmCountChanged(AlarmCount());
}
