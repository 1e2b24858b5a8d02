#pragma once

#include "journal/Alarm.h"

#include <QByteArray>
#include <QObject>
#include <QString>

#include <deque>

class QProcess;
class TJournal;

// The alarm command: a shell command line run for each new alarm of a journal, with the alarm
// as one JSON object on its standard input (AlarmHookJson), so that an integrator can send
// mail, a message or a web request with one script. Runs asynchronously on the journal's
// thread: nothing ever waits for it. A command that is still running after the timeout is
// killed with its process group.
//
// Failures (not started, non-zero exit, killed, ended by a signal) are journalled once, not once
// per alarm; when the command succeeds again, that is journalled with the number of alarms it
// missed. At most kMaxRunning commands run at once; up to kMaxWaiting more wait, and alarms
// beyond that count as failures.
class TAlarmHook : public QObject {
    Q_OBJECT
public:
    static constexpr int kDefaultTimeoutMs = 10000;
    static constexpr int kMaxRunning = 4;
    static constexpr int kMaxWaiting = 256;

    explicit TAlarmHook(TJournal* journal, QObject* parent = nullptr);
    ~TAlarmHook() override;

    // The command line, run with /bin/sh -c; empty: none.
    void SetCommand(const QString& command);
    const QString& Command() const { return FCommand; }
    // How long a command may run (tests shorten it).
    void SetTimeoutMs(int ms) { FTimeoutMs = ms; }
    int Running() const { return FRunning; }

    // Runs the command for `alarm` (also called for each new alarm of the journal).
    void Run(const TAlarm& alarm);

signals:
    // A command ended: whether it succeeded, and how it failed.
    void Finished(bool ok, const QString& message);

private:
    void StartNext();
    void Start(const TAlarm& alarm);
    void Done(bool ok, const QString& failure);

    TJournal* FJournal;
    QString FCommand;
    int FTimeoutMs = kDefaultTimeoutMs;
    int FRunning = 0;
    std::deque<TAlarm> FWaiting;
    bool FFailing = false;
    int FMissed = 0;
};

// What the command reads on its standard input: the alarm's entry as the journal exports it,
// plus "alarmId", "alarmKey" and "raised".
QByteArray AlarmHookJson(const TAlarm& alarm);
