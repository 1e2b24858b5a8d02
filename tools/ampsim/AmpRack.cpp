#include "tools/ampsim/AmpRack.h"

#include "device/LoopbackGuard.h"
#include "tools/ampsim/AmpServer.h"

#include <QMetaObject>
#include <QThread>

#include <algorithm>

TAmpRack::TAmpRack() = default;

TAmpRack::~TAmpRack() {
    Stop();
}

TAmpSim& TAmpRack::Add(const TAmpConfig& config) {
    Q_ASSERT_X(!Running(), "TAmpRack::Add", "amplifiers are added while the rack is stopped");
    FAmps.push_back(std::make_unique<TAmpSim>(config));
    return *FAmps.back();
}

bool TAmpRack::Start() {
    if (Running())
        return true;
    FError.clear();
    const auto outside = std::find_if(FAmps.begin(), FAmps.end(),
                                      [](const auto& amp) { return !IsLoopbackAddress(amp->Address()); });
    if (outside != FAmps.end()) {
        FError = QStringLiteral("%1 is not an address in 127.0.0.0/8").arg((*outside)->Address());
        return false;
    }

    FThread = std::make_unique<QThread>();
    FThread->setObjectName(QStringLiteral("ampsim"));
    FHost = new QObject; // deleted in Stop, after its thread ended
    FHost->moveToThread(FThread.get());
    FThread->start();

    bool ok = true;
    QMetaObject::invokeMethod(
        FHost,
        [this, &ok] {
            for (const auto& amp : FAmps) {
                auto* server = new TAmpServer(*amp, FHost);
                FServers.push_back(server);
                if (ok && !server->Listen(FError))
                    ok = false;
            }
        },
        Qt::BlockingQueuedConnection);
    if (!ok) {
        const QString error = FError;
        Stop();
        FError = error;
    }
    return ok;
}

void TAmpRack::Stop() {
    if (!FThread)
        return;
    QMetaObject::invokeMethod(
        FHost,
        [this] {
            qDeleteAll(FServers);
            FServers.clear();
        },
        Qt::BlockingQueuedConnection);
    FThread->quit();
    FThread->wait();
    delete FHost;
    FHost = nullptr;
    FThread.reset();
}

bool TAmpRack::Running() const {
    return FThread != nullptr;
}

bool TAmpRack::SetAnswering(int index, bool on) {
    if (!Running() || index < 0 || index >= Count())
        return false;
    bool ok = true;
    QMetaObject::invokeMethod(
        FHost,
        [this, index, on, &ok] {
            TAmpServer* server = FServers[size_t(index)];
            if (on)
                ok = server->Listen(FError);
            else
                server->Close();
        },
        Qt::BlockingQueuedConnection);
    return ok;
}

bool TAmpRack::Answering(int index) const {
    if (!Running() || index < 0 || index >= Count())
        return false;
    bool listening = false;
    QMetaObject::invokeMethod(
        FHost, [this, index, &listening] { listening = FServers[size_t(index)]->Listening(); },
        Qt::BlockingQueuedConnection);
    return listening;
}
