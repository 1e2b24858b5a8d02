#pragma once

#include <QByteArray>
#include <QString>

#include <functional>
#include <memory>

class TDevice;

// The poll thread of one device. It drains the device's command queue one command at a time:
// probe, then GET, pacing itself (50 ms after each look at the queue, 100 ms after each
// command). Every read or write of device state is a synchronous hand-off to the user-interface
// thread that first checks the link to the device; the worker itself only sleeps, probes and
// talks HTTP. The device clears the link and asks the thread to stop without waiting; the
// thread then abandons any wait within about 100 ms, ends and frees itself.
class TSocketThread {
public:
    // Creates and starts the poll thread of `device` (user-interface thread). Returns nullptr
    // when poll threads are disabled, and also when the system refuses a new thread (a limit on
    // processes or tasks): then `failure`, when given, receives the system's reason.
    static TSocketThread* Start(TDevice* device, QString* failure = nullptr);

    // User-interface thread: clears the link to the device and asks the thread to stop. The
    // object frees itself when its run ends; the caller must not use it afterwards.
    void DetachAndStop();

    // The device served, or nullptr once detached. User-interface thread only.
    TDevice* Device() const;

    // Waits until every poll thread of the process has ended, at most `timeoutMs`. Threads not
    // yet asked to stop keep running, so call it after the registry is gone. Returns whether
    // none is left.
    static bool WaitForAllThreads(int timeoutMs);
    static int RunningThreads();

    // Process-wide: whether new devices start a poll thread (tests of the model switch it off).
    static void SetPollThreadsEnabled(bool enabled);
    static bool PollThreadsEnabled();

    // Test seams, process-wide. The next `count` calls of Start fail as if the system refused
    // the thread. `hook` runs in DetachAndStop between publishing the stop request and waking the
    // thread, the moment after which the thread may end and free itself (nullptr removes it).
    static void FailNextStarts(int count);
    static void SetAfterStopRequestHook(void (*hook)());

    TSocketThread(const TSocketThread&) = delete;
    TSocketThread& operator=(const TSocketThread&) = delete;

private:
    struct TLink;
    explicit TSocketThread(TDevice* device);
    ~TSocketThread();

    void Run();
    void ProcessCommand();
    // Runs `work` on the user-interface thread with the linked device (nullptr once detached)
    // and waits for it. Returns false, without running it, when the thread is asked to stop
    // before the user-interface thread took it up.
    bool Sync(const std::function<void(TDevice*)>& work);
    // Sleeps `ms`, waking at once on a stop request. Returns whether a stop was requested.
    bool Sleep(int ms);
    bool StopRequested() const;

    std::shared_ptr<TLink> FLink;
    QString CurrentCommand;
    QByteArray Response;
    QString FAddress;
    QString FNamedAfter; // the address the thread's name shows
};
