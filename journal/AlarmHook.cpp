#include "journal/AlarmHook.h"

#include "journal/Journal.h"
#include "journal/JournalLog.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTimer>

#include <csignal>
#include <unistd.h>

namespace {
// What is kept of a failing command's error output for the journal.
constexpr int kErrorTail = 300;

QString FirstLine(const QByteArray& bytes) {
    const QString text = QString::fromUtf8(bytes).trimmed();
    return text.section(QLatin1Char('\n'), 0, 0).left(kErrorTail);
}
} // namespace

QByteArray AlarmHookJson(const TAlarm& alarm) {
    QJsonObject o = EntryToJson(alarm.Entry);
    o.insert(QStringLiteral("alarmId"), alarm.Id);
    o.insert(QStringLiteral("alarmKey"), alarm.Key);
    o.insert(QStringLiteral("raised"), IsoTime(alarm.RaisedMs));
    return QJsonDocument(o).toJson(QJsonDocument::Compact) + '\n';
}

TAlarmHook::TAlarmHook(TJournal* journal, QObject* parent) : QObject(parent), FJournal(journal) {
    connect(journal, &TJournal::AlarmRaised, this, &TAlarmHook::Run);
}

TAlarmHook::~TAlarmHook() {
    // Commands still running are stopped with everything they started.
    // Their handlers use this object, which is going: nothing of theirs may run any more.
    for (QProcess* p : findChildren<QProcess*>()) {
        QObject::disconnect(p, nullptr, nullptr, nullptr);
        if (p->processId() > 0) {
            ::kill(-pid_t(p->processId()), SIGKILL);
            p->waitForFinished(1000); // killed: it ends at once
        }
    }
}

void TAlarmHook::SetCommand(const QString& command) {
    if (command == FCommand)
        return;
    FCommand = command;
    FFailing = false;
    FMissed = 0;
}

void TAlarmHook::Run(const TAlarm& alarm) {
    if (FCommand.trimmed().isEmpty())
        return;
    if (FRunning < kMaxRunning) {
        Start(alarm);
        return;
    }
    if (int(FWaiting.size()) >= kMaxWaiting) {
        Done(false, QStringLiteral("more than %1 alarms were waiting for it").arg(kMaxWaiting));
        return;
    }
    FWaiting.push_back(alarm);
}

void TAlarmHook::StartNext() {
    while (FRunning < kMaxRunning && !FWaiting.empty()) {
        const TAlarm alarm = FWaiting.front();
        FWaiting.pop_front();
        Start(alarm);
    }
}

void TAlarmHook::Start(const TAlarm& alarm) {
    ++FRunning;
    auto* process = new QProcess(this);
    auto* timer = new QTimer(process);
    timer->setSingleShot(true);
    process->setProgram(QStringLiteral("/bin/sh"));
    process->setArguments({QStringLiteral("-c"), FCommand});
    process->setStandardOutputFile(QProcess::nullDevice());
    // Its own process group, so that a timeout stops whatever the command started too.
    process->setChildProcessModifier([] { ::setpgid(0, 0); });

    struct TState {
        bool Ended = false;
        bool TimedOut = false;
    };
    auto state = std::make_shared<TState>();
    const auto end = [this, process, state](bool ok, const QString& failure) {
        if (state->Ended)
            return;
        state->Ended = true;
        process->deleteLater();
        --FRunning;
        Done(ok, failure);
        StartNext();
    };
    connect(timer, &QTimer::timeout, process, [process, state, this] {
        state->TimedOut = true;
        qCDebug(lcJournal) << "alarm command still running after" << FTimeoutMs << "ms: killed";
        if (process->processId() > 0)
            ::kill(-pid_t(process->processId()), SIGKILL);
        process->kill();
    });
    connect(process, &QProcess::started, process, [process, alarm, timer, this] {
        timer->start(FTimeoutMs);
        process->write(AlarmHookJson(alarm));
        process->closeWriteChannel();
    });
    connect(process, &QProcess::errorOccurred, process, [process, end](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart)
            end(false, QStringLiteral("it could not be started (%1)").arg(process->errorString()));
    });
    connect(process, &QProcess::finished, process,
            [process, end, state, this](int exitCode, QProcess::ExitStatus status) {
                const QString errors = FirstLine(process->readAllStandardError());
                const QString said = errors.isEmpty() ? QString() : QStringLiteral(": ") + errors;
                if (state->TimedOut)
                    end(false, QStringLiteral("it was still running after %1 s and was stopped")
                                   .arg(QString::number(FTimeoutMs / 1000.0)));
                else if (status == QProcess::CrashExit)
                    end(false, QStringLiteral("it ended abnormally") + said);
                else if (exitCode != 0)
                    end(false, QStringLiteral("it ended with status %1").arg(exitCode) + said);
                else
                    end(true, QString());
            });
    process->start();
}

void TAlarmHook::Done(bool ok, const QString& failure) {
    TJournalEntry e;
    e.Event = JournalEvent::Hook;
    e.Source = TJournalSource::Program;
    e.NewValue = FCommand;
    if (ok) {
        if (FFailing) {
            e.Severity = TJournalSeverity::Info;
            e.What =
                QStringLiteral("The alarm command works again; %1 alarm(s) were not passed on").arg(FMissed);
            FJournal->Record(e);
        }
        FFailing = false;
        FMissed = 0;
    } else {
        ++FMissed;
        qCDebug(lcJournal) << "alarm command failed:" << failure;
        if (!FFailing) {
            e.Severity = TJournalSeverity::Warning;
            e.What = QStringLiteral("The alarm command failed: ") + failure;
            FJournal->Record(e);
        }
        FFailing = true;
    }
    emit Finished(ok, failure);
}
