#pragma once

#include "model/Constants.h"
#include "model/LoadSave.h"
#include "model/Session.h"

#include <QHash>
#include <QObject>
#include <QTextStream>

#include <memory>

class TDevice;
class TGroups;
class TJournal;
class TJournalService;

// Runs a project without windows: loads it into its session, whose 100 ms tick reconciles every
// device as with the main window, reports each device's state changes after every tick, and on
// Finish saves and stops every poll thread. A state line reads "TIME GROUP DEVICE ADDRESS WORD", followed by
// " - " and the reason when the device gives one for being off-line; texts from the project pass through
// Printable. When the lines cannot be written, that is said once on standard error and the run goes on.
class THeadlessRunner : public QObject {
    Q_OBJECT
public:
    explicit THeadlessRunner(QTextStream& out, QObject* parent = nullptr);
    ~THeadlessRunner() override;

    // Raises the loader's errors.
    void Load(const QString& fileName);
    void Start();
    // Stops the tick, saves to `saveName` when it is not empty (raising the writer's errors),
    // destroys the registry and waits (bounded) for the poll threads to end.
    void Finish(const QString& saveName);

    // Keeps the journal at `path` (empty: the default place) with the alarm command `alarmCommand`
    // (empty: none) from now until Finish.
    void OpenJournal(const QString& path, const QString& alarmCommand);
    // Null without OpenJournal, and after Finish.
    TJournal* Journal() const;

    TSession& Session() { return FSession; }
    TGroups* Registry() const { return FSession.Registry(); }

private:
    void Ticked();
    void Report(TDevice* device, const QString& state);

    QTextStream& FOut;
    TSession FSession;
    QHash<const TDevice*, QString> FReported;
    bool FWriteFailed = false;
    std::unique_ptr<TJournalService> FJournal;
};

// `text` with every character that would act on a terminal or hide what follows (controls, format
// characters, line and paragraph separators) written as an escape: \xHH below U+0100 (ESC is
// \x1b), \uHHHH above; a backslash is written \\ so that an escape stays unambiguous.
QString Printable(const QString& text);

// The state word of a device as the runner prints it: "online", "fault", "noanswer" (answers
// the probe but delivers no status block) or "offline"; empty while a device has neither
// answered with a status block nor failed a probe.
QString HeadlessStateWord(const TDevice& device);
