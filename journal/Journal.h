#pragma once

#include "journal/Alarm.h"
#include "journal/History.h"
#include "journal/JournalEntry.h"
#include "journal/JournalOptions.h"
#include "journal/JournalWriter.h"

#include <QObject>
#include <QString>

#include <memory>
#include <vector>

// The event journal: what happened to the amplifiers and who did what, kept in a SQLite file;
// the alarms that wait for someone to acknowledge them; and the amplifiers' long-term history.
//
// Recording never waits for the disk: Record and RecordSample only queue (from any thread), a
// writer thread writes (see TJournalWriter). A state change or threshold crossing that repeats
// within a minute adds to the count of its row instead of making a new one. Entries older than
// MaxAgeMs and beyond MaxEntries, and history older than HistoryMaxAgeMs, are trimmed in the
// background.
//
// The alarms live on the thread that made the journal (the user-interface thread) and are
// written through as they change. Reading goes through a TJournalReader of its own.
class TJournal : public QObject {
    Q_OBJECT
public:
    // Opens (or starts) the journal and loads its alarms, waiting for that at most a few
    // seconds; a journal that cannot be opened is reported through Problem once the signal can
    // be connected, and written when it can be.
    explicit TJournal(TJournalOptions options, QObject* parent = nullptr);
    // Writes what is queued (one attempt), then ends the writer.
    ~TJournal() override;

    const QString& Path() const { return FOptions.Path; }
    const TJournalOptions& Options() const { return FOptions; }
    qint64 Now() const { return FOptions.Clock(); }

    // Any thread.
    void Record(const TJournalEntry& entry);
    void RecordSample(const THistorySample& sample);
    // The program's start and stop ("last start" filters from the latest start).
    void RecordProgramStart(const QString& program);
    void RecordProgramStop(const QString& program);
    // A reader met a damaged file: it is moved aside and a new one started.
    void ReportDamage(const QString& message);
    // Waits until everything recorded before the call is written, at most `timeoutMs`; false at
    // the timeout or while the journal cannot be written. Not for the user-interface thread of
    // a program that drives amplifiers.
    bool Flush(int timeoutMs);
    TJournalWriter::TStats Stats() const;
    // The message of the writing problem being reported, empty when there is none.
    const QString& Problem() const { return FProblem; }

    // Alarms, on the journal's thread. Open alarms and the latest closed ones, oldest first.
    const std::vector<TAlarm>& Alarms() const { return FAlarms; }
    const TAlarm* FindAlarm(const QString& id) const;
    // The alarms not yet acknowledged: the main window's badge.
    int AlarmCount() const;

    // The condition `key` is present, as `entry` records. A new alarm unless one for the key is
    // open; one that cleared but was not yet acknowledged is raised again instead (so that a
    // flapping amplifier is one alarm). Returns whether a new alarm began.
    bool RaiseAlarm(const QString& key, const TJournalEntry& entry);
    // The condition `key` is gone: its alarm keeps its duration and waits for acknowledgement.
    void ClearAlarm(const QString& key);
    // Someone saw it: `by` is the operator's login or the remote client's name. Each is
    // journalled as a user action.
    void AcknowledgeAlarm(const QString& id, TJournalSource source, const QString& by);
    void AcknowledgeAll(TJournalSource source, const QString& by);

signals:
    // The journal cannot be written, once until it can again; or the file was damaged and moved
    // aside. For the main window's status bar (the message also goes to stderr).
    void ProblemReported(const QString& message);
    void WriteResumed();
    // New rows were committed (at most one signal per batch).
    void EntriesWritten();
    void AlarmsChanged();
    void AlarmCountChanged(int count);
    // A new alarm began (not one raised again): the alarm command runs for it.
    void AlarmRaised(const TAlarm& alarm);

private:
    // Lives as long as the journal; the writer's news, handed to the user-interface thread, checks
    // it there before touching the journal.
    std::shared_ptr<bool> FAlive = std::make_shared<bool>(true);
    TAlarm* OpenAlarm(const QString& key);
    void AlarmChanged(const TAlarm& alarm, int countBefore);
    void PruneClosedAlarms();
    void MergeLoadedAlarms(std::vector<TAlarm> loaded);

    TJournalOptions FOptions;
    std::unique_ptr<TJournalWriter> FWriter;
    std::vector<TAlarm> FAlarms;
    bool FAlarmsLoaded = false;
    QString FProblem;
};
