#include "device/ThreadCommUnit.h"

#include "device/DeviceUnit.h"
#include "device/HttpGet.h"
#include "device/Protocol.h"
#include "device/StopToken.h"
#include "device/ThreadName.h"
#include "device/WorkQueue.h"
#include "device/pingunit.h"
#include "model/logging.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>

namespace {
std::atomic<bool> gEnabled{true};
std::atomic<int> gNextId{1};
std::atomic<int> gFailingStarts{0};
std::atomic<void (*)()> gAfterStopRequest{nullptr};

// Threads of the process still running, for a bounded wait at shutdown. Never destroyed: a thread
// that outlives that wait still counts itself out while the process exits.
struct TRunningThreads {
    std::mutex Mutex;
    std::condition_variable Changed;
    int Count = 0;
};
TRunningThreads& Running() {
    static TRunningThreads* const running = new TRunningThreads;
    return *running;
}

// The queue whose thread runs the hand-offs; the first Start makes it, on the user-interface
// thread.
TWorkQueue& Handoffs() {
    return UserInterfaceQueue();
}
} // namespace

struct TSocketThread::TLink {
    TDevice* Device = nullptr; // user-interface thread only
    std::atomic<bool> Stop{false};
    std::mutex Mutex;
    std::condition_variable Changed;
    int Id = 0;
};

namespace {
void ThreadEnded() {
    TRunningThreads& running = Running();
    std::lock_guard<std::mutex> lock(running.Mutex);
    --running.Count;
    running.Changed.notify_all();
}
} // namespace

TSocketThread* TSocketThread::Start(TDevice* device, QString* failure) {
    if (!gEnabled.load())
        return nullptr;
    Handoffs();
    // Freed here unless its thread starts, which then owns it.
    std::unique_ptr<TSocketThread, void (*)(TSocketThread*)> thread(new TSocketThread(device),
                                                                    [](TSocketThread* t) { delete t; });
    {
        std::lock_guard<std::mutex> lock(Running().Mutex);
        ++Running().Count;
    }
    try {
        if (gFailingStarts.load() > 0) {
            gFailingStarts.fetch_sub(1);
            throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
        }
        std::thread([running = thread.get()] {
            running->Run();
            delete running;
            ThreadEnded();
        }).detach();
    } catch (const std::system_error& error) {
        // A limit on processes or tasks: the device goes on without its thread for now.
        ThreadEnded();
        const QString reason = QString::fromLocal8Bit(error.code().message().c_str());
        // A device being created has no address yet; its retries have.
        const QString address = device->IPAddress();
        qCWarning(lcPoll, "A poll thread could not be created for %s: %s",
                  address.isEmpty() ? "a new device" : qPrintable(address), qPrintable(reason));
        if (failure)
            *failure = reason;
        return nullptr;
    }
    return thread.release();
}

TSocketThread::TSocketThread(TDevice* device) : FLink(std::make_shared<TLink>()) {
    FLink->Device = device;
    FLink->Id = gNextId.fetch_add(1);
}

TSocketThread::~TSocketThread() = default;

void TSocketThread::DetachAndStop() {
    // Once the stop request is out, the thread may end and free this object at any moment; the
    // local reference keeps the link, with its mutex and condition, alive to the end of the call.
    const std::shared_ptr<TLink> link = FLink;
    link->Device = nullptr;
    {
        std::lock_guard<std::mutex> lock(link->Mutex);
        link->Stop.store(true, std::memory_order_release);
    }
    if (void (*hook)() = gAfterStopRequest.load())
        hook();
    link->Changed.notify_all();
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
    Handoffs().Post([link, call, workPtr] {
        int expected = 0;
        if (!call->State.compare_exchange_strong(expected, 1))
            return; // the worker gave up on it and may be gone
        (*workPtr)(link->Device);
        {
            std::lock_guard<std::mutex> lock(link->Mutex);
            call->Done = true;
        }
        link->Changed.notify_all();
    });

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
    NameThisThread(QStringLiteral("poll"));
    StopToken::SetCurrent(&FLink->Stop);
    while (!StopRequested()) {
        Sync([this](TDevice* device) {
            CurrentCommand.clear();
            if (device && !device->Commands().isEmpty())
                CurrentCommand = device->Commands().first();
        });
        if (StopRequested() || Sleep(PollAfterLookMs))
            break;
        if (CurrentCommand.isEmpty())
            continue;
        ProcessCommand();
        if (StopRequested() || Sleep(PollAfterCommandMs))
            break;
    }
    StopToken::SetCurrent(nullptr);
    const int id = FLink->Id;
    Handoffs().Post([id] { Trace(QString::number(id) + QStringLiteral(" Thread Quit")); });
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
    if (FAddress != FNamedAfter) {
        NameThisThread(FAddress);
        FNamedAfter = FAddress;
    }

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
    if (!fetched)
        qCDebug(lcPoll, "%s %s not carried out: the fetch failed", qPrintable(FAddress),
                qPrintable(CurrentCommand));
    else if (CurrentCommand == StatusPath && Response.size() != TDeviceStatus::Size)
        qCDebug(lcPoll, "%s status body of %lld bytes, not %d: not stored", qPrintable(FAddress),
                static_cast<long long>(Response.size()), TDeviceStatus::Size);
    Sync([this, fetched](TDevice* device) {
        if (device)
            device->StoreResult(CurrentCommand, fetched, Response);
    });
    Response.clear();
}

bool TSocketThread::WaitForAllThreads(int timeoutMs) {
    TRunningThreads& running = Running();
    std::unique_lock<std::mutex> lock(running.Mutex);
    return running.Changed.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                    [&running] { return running.Count == 0; });
}

int TSocketThread::RunningThreads() {
    std::lock_guard<std::mutex> lock(Running().Mutex);
    return Running().Count;
}

void TSocketThread::SetPollThreadsEnabled(bool enabled) {
    gEnabled.store(enabled);
}

bool TSocketThread::PollThreadsEnabled() {
    return gEnabled.load();
}

void TSocketThread::FailNextStarts(int count) {
    gFailingStarts.store(count);
}

void TSocketThread::SetAfterStopRequestHook(void (*hook)()) {
    gAfterStopRequest.store(hook);
}
