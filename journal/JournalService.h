#pragma once

#include <QObject>
#include <QString>

#include <memory>

class TAlarmHook;
class TJournal;
class TJournalRecorder;
class TSession;

// A program's journal: the file, the recorder that follows the session, the alarm command, and
// the program's start and stop in it. Destroy it before the session shuts down, so that the end of
// the program does not read as every amplifier's conditions ending.
class TJournalService : public QObject {
    Q_OBJECT
public:
    // `path` empty: DefaultJournalPath(). `program` names the program in the start and stop entries.
    TJournalService(TSession& session, const QString& path, const QString& program,
                    QObject* parent = nullptr);
    ~TJournalService() override;

    // All three null when the journal could not be started (the system refused its thread); the
    // program goes on without it, and Problem says why.
    TJournal* Journal() const { return FJournal.get(); }
    TAlarmHook* Hook() const { return FHook.get(); }
    TJournalRecorder* Recorder() const { return FRecorder.get(); }
    const QString& Problem() const { return FProblem; }

private:
    QString FProgram;
    QString FProblem;
    std::unique_ptr<TJournal> FJournal;
    std::unique_ptr<TAlarmHook> FHook;
    std::unique_ptr<TJournalRecorder> FRecorder;
};
