#include "model/Session.h"

#include "device/ThreadCommUnit.h"
#include "model/Errors.h"
#include "model/GroupsUnit.h"
#include "model/logging.h"

#include <QTimer>

TSession::TSession(QObject* parent)
    : QObject(parent), FRegistry(std::make_unique<TGroups>()), FTimer(new QTimer(this)) {
    FTimer->setObjectName(QStringLiteral("ReconciliationTick"));
    FTimer->setInterval(TickMs);
    connect(FTimer, &QTimer::timeout, this, &TSession::Tick);
}

TSession::~TSession() {
    Shutdown();
}

void TSession::Start(Qt::TimerType type) {
    FTimer->setTimerType(type);
    FTimer->start();
}

void TSession::Stop() {
    FTimer->stop();
}

bool TSession::Ticking() const {
    return FTimer->isActive();
}

void TSession::Tick() {
    if (!FRegistry)
        return;
    FRegistry->ReconcileAll();
    emit Ticked();
}

void TSession::ReplaceRegistry(bool withNew) {
    if (FRegistry) {
        emit RegistryReplacing(FRegistry.get());
        FRegistry.reset();
    }
    if (withNew)
        FRegistry = std::make_unique<TGroups>();
    emit RegistryReplaced(FRegistry.get());
}

void TSession::SetProjectFileName(const QString& fileName) {
    if (fileName == FProjectFileName)
        return;
    FProjectFileName = fileName;
    emit ProjectFileNameChanged(fileName);
}

void TSession::New() {
    ReplaceRegistry(true);
    FCanSave = false;
    // The new project has no file yet: Save must never land on the file last opened or saved.
    SetProjectFileName(QString());
    emit ProjectCleared();
}

void TSession::Load(const QString& fileName) {
    ReplaceRegistry(true);
    // Until the load has succeeded the registry holds only part of a project.
    FCanSave = false;
    try {
        LoadProject(*FRegistry, fileName, FBounds);
    } catch (const EFadelinkError& e) {
        emit ProjectLoaded(fileName, false, e.Message);
        throw;
    } catch (const std::exception& e) {
        emit ProjectLoaded(fileName, false, QString::fromLocal8Bit(e.what()));
        throw;
    }
    SetProjectFileName(fileName);
    FCanSave = true;
    emit ProjectLoaded(fileName, true, QString());
}

bool TSession::Save() {
    if (!FCanSave || !FRegistry)
        return false;
    SaveProject(*FRegistry, FProjectFileName, FBounds);
    emit ProjectSaved(FProjectFileName);
    return true;
}

void TSession::SaveAs(const QString& fileName) {
    if (!FRegistry)
        return;
    SaveProject(*FRegistry, fileName, FBounds);
    SetProjectFileName(fileName);
    FCanSave = true;
    emit ProjectSaved(fileName);
}

void TSession::SetFormBounds(IFormBounds* bounds) {
    FBounds = bounds ? bounds : &FPlainBounds;
}

bool TSession::Shutdown(int waitMs) {
    FTimer->stop();
    if (FRegistry)
        ReplaceRegistry(false);
    if (TSocketThread::WaitForAllThreads(waitMs))
        return true;
    qCDebug(lcSession, "%d poll threads still running after %d ms; the process ends without them",
            TSocketThread::RunningThreads(), waitMs);
    return false;
}
