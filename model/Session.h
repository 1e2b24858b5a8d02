#pragma once

#include "model/LoadSave.h"

#include <QObject>
#include <QRect>
#include <QString>

class QTimer;

#include <memory>

class TGroups;

// What the program drives, with or without windows: the registry of groups and devices, the
// 100 ms reconciliation tick that is the only periodic driver of the traffic to the amplifiers,
// the project file and its load and save, the window bounds a project file keeps, and the end
// with its bounded wait for the poll threads. The main window, fadelink-headless, the tests and
// the benchmarks each hold one. It never shows anything: errors of the loader and the writer
// propagate to the caller.
class TSession : public QObject {
    Q_OBJECT
public:
    static constexpr int TickMs = ReconcileTickMs;
    static constexpr int ThreadStopWaitMs = 1000;

    // Starts with an empty registry, no project file and the tick stopped.
    explicit TSession(QObject* parent = nullptr);
    // Shutdown, if not done yet.
    ~TSession() override;

    // Null only after Shutdown.
    TGroups* Registry() const { return FRegistry.get(); }

    // The tick: every TickMs, Reconcile of every device (TGroups::ReconcileAll), then Ticked. Its
    // timer is the session's child "ReconciliationTick".
    void Start(Qt::TimerType type = Qt::CoarseTimer);
    void Stop();
    bool Ticking() const;
    void Tick();

    // The file of the last successful Load or SaveAs; a failed Load keeps it, New clears it.
    const QString& ProjectFileName() const { return FProjectFileName; }
    // Whether Save may write ProjectFileName without asking for a name: not after New, and not
    // after a failed Load, whose partial project must never replace the file last opened or saved.
    bool CanSave() const { return FCanSave; }

    // An empty project in a new registry.
    void New();
    // The file into a new registry. A file that does not exist opens as an empty project. Raises
    // the loader's errors; what was read before one stays in the registry.
    void Load(const QString& fileName);
    // Writes ProjectFileName when CanSave; returns false without writing otherwise.
    bool Save();
    // Writes the project to `fileName`, which becomes ProjectFileName. Raises the writer's errors.
    void SaveAs(const QString& fileName);

    // Where the window bounds of a project file come from and go to: the main window sets
    // itself; without one (nullptr) the session keeps a plain rectangle.
    void SetFormBounds(IFormBounds* bounds);
    IFormBounds* FormBounds() const { return FBounds; }

    // Stops the tick, destroys the registry (every poll thread is asked to stop) and waits at
    // most `waitMs` for the poll threads to end. Returns whether none is left.
    bool Shutdown(int waitMs = ThreadStopWaitMs);

signals:
    // The registry is about to be destroyed (New, Load, Shutdown): let go of it and its objects.
    void RegistryReplacing(TGroups* old);
    // The registry that replaced it; nullptr after Shutdown.
    void RegistryReplaced(TGroups* now);
    void ProjectFileNameChanged(const QString& fileName);
    // One tick has reconciled every device.
    void Ticked();
    // A project was opened (`ok`) or failed to open with `error`; saved; replaced by an empty one.
    // For listeners that record what the operator did with projects.
    void ProjectLoaded(const QString& fileName, bool ok, const QString& error);
    void ProjectSaved(const QString& fileName);
    void ProjectCleared();

private:
    class TPlainBounds : public IFormBounds {
    public:
        QRect FormBounds() const override { return FRect; }
        void SetFormBounds(const QRect& r) override { FRect = r; }

    private:
        QRect FRect = DefaultFormBounds;
    };

    void ReplaceRegistry(bool withNew);
    void SetProjectFileName(const QString& fileName);

    std::unique_ptr<TGroups> FRegistry;
    QTimer* FTimer;
    QString FProjectFileName;
    bool FCanSave = false;
    TPlainBounds FPlainBounds;
    IFormBounds* FBounds = &FPlainBounds;
};
