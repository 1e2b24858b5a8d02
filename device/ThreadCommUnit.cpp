#include "device/ThreadCommUnit.h"

#include "device/DeviceUnit.h"
#include "device/HttpGet.h"
#include "device/StopToken.h"
#include "device/pingunit.h"
#include "model/logging.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QObject>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace {
constexpr int kAfterFetchMs = 50;
constexpr int kAfterCommandMs = 100;

std::atomic<bool> gEnabled{true};
std::atomic<int> gNextId{1};

// Threads of the process still running, for a bounded wait at shutdown.
std::mutex gCountMutex;
std::condition_variable gCountChanged;
int gRunning = 0;

// The object whose thread runs the hand-offs: created on the user-interface thread by the first
// Start, and alive until static destruction, so a late hand-off never meets a dead receiver.
QObject* HandoffContext() {
    static QObject context;
    return &context;
}
} // namespace

struct TSocketThread::TLink {
    TDevice* Device = nullptr; // user-interface thread only
    std::atomic<bool> Stop{false};
    std::mutex Mutex;
    std::condition_variable Changed;
    int Id = 0;
};

TSocketThread* TSocketThread::Start(TDevice* device) {
    if (!gEnabled.load())
        return nullptr;
    HandoffContext();
    auto* thread = new TSocketThread(device);
    {
        std::lock_guard<std::mutex> lock(gCountMutex);
        ++gRunning;
    }
    std::thread([thread] {
        thread->Run();
        delete thread;
        std::lock_guard<std::mutex> lock(gCountMutex);
        --gRunning;
        gCountChanged.notify_all();
    }).detach();
    return thread;
}

TSocketThread::TSocketThread(TDevice* device) : FLink(std::make_shared<TLink>()) {
    FLink->Device = device;
    FLink->Id = gNextId.fetch_add(1);
}

TSocketThread::~TSocketThread() = default;

void TSocketThread::DetachAndStop() {
    FLink->Device = nullptr;
    {
        std::lock_guard<std::mutex> lock(FLink->Mutex);
        FLink->Stop.store(true, std::memory_order_release);
    }
    FLink->Changed.notify_all();
}

TDevice* TSocketThread::Device() const {
    return FLink->Device;
}

bool TSocketThread::StopRequested() const {
    return FLink->Stop.load(std::memory_order_acquire);
}

bool TSocketThread::Sleep(int ms) {
    std::unique_lock<std::mutex> lock(FLink->Mutex);
    return FLink->Changed.wait_for(lock, std::chrono::milliseconds(ms), [this] { return StopRequested(); });
}

bool TSocketThread::Sync(const std::function<void(TDevice*)>& work) {
    if (StopRequested())
        return false;
    // 0 waiting, 1 taken up by the user-interface thread, 2 abandoned by the worker.
    struct TCall {
        std::atomic<int> State{0};
        bool Done = false; // guarded by the link's mutex
    };
    auto call = std::make_shared<TCall>();
    std::shared_ptr<TLink> link = FLink;
    const std::function<void(TDevice*)>* workPtr = &work;
    QMetaObject::invokeMethod(
        HandoffContext(),
        [link, call, workPtr] {
            int expected = 0;
            if (!call->State.compare_exchange_strong(expected, 1))
                return; // the worker gave up on it and may be gone
            (*workPtr)(link->Device);
            {
                std::lock_guard<std::mutex> lock(link->Mutex);
                call->Done = true;
            }
            link->Changed.notify_all();
        },
        Qt::QueuedConnection);

    std::unique_lock<std::mutex> lock(FLink->Mutex);
    FLink->Changed.wait(lock, [&] { return call->Done || StopRequested(); });
    if (call->Done)
        return true;
    int expected = 0;
    if (call->State.compare_exchange_strong(expected, 2))
        return false;
    // The user-interface thread is running it right now; it is short.
    FLink->Changed.wait(lock, [&] { return call->Done; });
    return true;
}

void TSocketThread::Run() {
    StopToken::SetCurrent(&FLink->Stop);
    while (!StopRequested()) {
        Sync([this](TDevice* device) {
            CurrentCommand.clear();
            if (device && !device->Commands().isEmpty())
                CurrentCommand = device->Commands().first();
        });
        if (StopRequested() || Sleep(kAfterFetchMs))
            break;
        if (CurrentCommand.isEmpty())
            continue;
        ProcessCommand();
        if (StopRequested() || Sleep(kAfterCommandMs))
            break;
    }
    StopToken::SetCurrent(nullptr);
    const int id = FLink->Id;
    QMetaObject::invokeMethod(
        HandoffContext(), [id] { Trace(QString::number(id) + QStringLiteral(" Thread Quit")); },
        Qt::QueuedConnection);
}

void TSocketThread::ProcessCommand() {
    bool linked = false;
    bool offline = false;
    Sync([this, &linked, &offline](TDevice* device) {
        if (!device)
            return;
        FAddress = device->IPAddress();
        offline = device->Offline();
        linked = true;
    });
    if (!linked || StopRequested())
        return;

    const bool reachable = ProbeHost(FAddress);
    // Setting the flag the device already holds changes nothing, and a hand-off costs the
    // user-interface thread a wake-up: with many amplifiers most probes confirm the flag.
    if (reachable == offline)
        Sync([reachable](TDevice* device) {
            if (device)
                device->SetOffline(!reachable);
        });
    if (!reachable || StopRequested())
        return;

    Response.clear();
    const bool fetched = HttpGet(FAddress + CurrentCommand, Response);
    Sync([this, fetched](TDevice* device) {
        if (device)
            device->StoreResult(CurrentCommand, fetched, Response);
    });
    Response.clear();
}

bool TSocketThread::WaitForAllThreads(int timeoutMs) {
    std::unique_lock<std::mutex> lock(gCountMutex);
    return gCountChanged.wait_for(lock, std::chrono::milliseconds(timeoutMs), [] { return gRunning == 0; });
}

int TSocketThread::RunningThreads() {
    std::lock_guard<std::mutex> lock(gCountMutex);
    return gRunning;
}

void TSocketThread::SetPollThreadsEnabled(bool enabled) {
    gEnabled.store(enabled);
}

bool TSocketThread::PollThreadsEnabled() {
    return gEnabled.load();
}
