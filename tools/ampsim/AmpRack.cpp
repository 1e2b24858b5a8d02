#include "tools/ampsim/AmpRack.h"

#include "device/LoopbackGuard.h"
#include "tools/ampsim/AmpServer.h"

#include "device/WorkQueue.h"

#include <QThread>

#include <algorithm>
#include <condition_variable>
#include <mutex>

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
    FHost = new TWorkQueue; // freed in Stop
    FHost->moveToThread(FThread.get());
    FThread->start();

    bool ok = true;
    RunOnRackThread([this, &ok] {
        for (const auto& amp : FAmps) {
            auto* server = new TAmpServer(*amp, FHost);
            FServers.push_back(server);
            if (ok && !server->Listen(FError))
                ok = false;
        }
    });
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
    RunOnRackThread([this] {
        qDeleteAll(FServers);
        FServers.clear();
    });
    // Freed on its own thread as that thread ends, after the last work it ran there: freeing it
    // here would rest on QThread::wait, whose order ThreadSanitizer cannot see.
    FHost->deleteLater();
    FHost = nullptr;
    FThread->quit();
    FThread->wait();
    FThread.reset();
}

bool TAmpRack::Running() const {
    return FThread != nullptr;
}

bool TAmpRack::SetAnswering(int index, bool on) {
    if (!Running() || index < 0 || index >= Count())
        return false;
    bool ok = true;
    RunOnRackThread([this, index, on, &ok] {
        TAmpServer* server = FServers[size_t(index)];
        if (on)
            ok = server->Listen(FError);
        else
            server->Close();
    });
    return ok;
}

bool TAmpRack::Answering(int index) const {
    if (!Running() || index < 0 || index >= Count())
        return false;
    bool listening = false;
    RunOnRackThread([this, index, &listening] { listening = FServers[size_t(index)]->Listening(); });
    return listening;
}

void TAmpRack::RunOnRackThread(const std::function<void()>& work) const {
    std::mutex mutex;
    std::condition_variable changed;
    bool done = false;
    FHost->Post([&] {
        work();
        std::lock_guard<std::mutex> lock(mutex);
        done = true;
        changed.notify_all();
    });
    std::unique_lock<std::mutex> lock(mutex);
    changed.wait(lock, [&] { return done; });
}
