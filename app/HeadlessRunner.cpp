#include "app/HeadlessRunner.h"

#include "device/DeviceUnit.h"
#include "device/ThreadCommUnit.h"
#include "model/FindIPUnit.h"
#include "model/GroupUnit.h"
#include "model/GroupsUnit.h"

#include <QDateTime>

namespace {
constexpr int kTickMs = 100;
constexpr int kThreadStopWaitMs = 2000;

QString Field(const QString& text) {
    const QString trimmed = text.trimmed();
    return trimmed.isEmpty() ? QStringLiteral("-") : trimmed;
}
} // namespace

QString HeadlessStateWord(const TDevice& device) {
    switch (device.LiveState()) {
    case TLiveState::Offline:
        return QStringLiteral("offline");
    case TLiveState::Online:
        return QStringLiteral("online");
    case TLiveState::ChannelFault:
        return QStringLiteral("fault");
    case TLiveState::NotAnswering:
        return QStringLiteral("noanswer");
    case TLiveState::NoStatusYet:
        break;
    }
    return QString();
}

THeadlessRunner::THeadlessRunner(QTextStream& out, QObject* parent)
    : QObject(parent), FOut(out), FRegistry(std::make_unique<TGroups>()) {
    SetCurrentRegistry(FRegistry.get());
    FTimer.setInterval(kTickMs);
    FTimer.setTimerType(Qt::PreciseTimer);
    connect(&FTimer, &QTimer::timeout, this, &THeadlessRunner::Tick);
    connect(FRegistry.get(), &TGroups::DeviceDestroying, this,
            [this](TDevice* device) { FReported.remove(device); });
}

THeadlessRunner::~THeadlessRunner() {
    FTimer.stop();
    FRegistry.reset();
}

void THeadlessRunner::Load(const QString& fileName) {
    LoadProject(*FRegistry, fileName, this);
}

void THeadlessRunner::Start() {
    FTimer.start();
}

void THeadlessRunner::Tick() {
    FRegistry->ReconcileAll();
    for (TGroup* group : FRegistry->Groups())
        for (TDevice* device : group->Devices()) {
            const QString state = HeadlessStateWord(*device);
            if (!state.isEmpty() && FReported.value(device) != state) {
                FReported.insert(device, state);
                Report(device, state);
            }
        }
}

void THeadlessRunner::Report(TDevice* device, const QString& state) {
    FOut << QDateTime::currentDateTime().toString(Qt::ISODateWithMs) << ' '
         << Field(device->Group()->ShortName()) << ' ' << Field(device->ShortName()) << ' '
         << device->IPAddress() << ' ' << state << Qt::endl;
}

void THeadlessRunner::Finish(const QString& saveName) {
    FTimer.stop();
    if (!saveName.isEmpty())
        SaveProject(*FRegistry, saveName, this);
    FRegistry.reset();
    TSocketThread::WaitForAllThreads(kThreadStopWaitMs);
}
