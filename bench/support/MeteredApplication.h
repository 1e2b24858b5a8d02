#pragma once

#include <QCoreApplication>

#include <cstdint>
#include <thread>

class QTimer;

// The application object of a benchmark: times every event the user-interface thread handles,
// so that its busy time, its longest stall and the hand-offs of the poll threads (the events
// that run them) can be read at any moment. A 10 ms heartbeat timer measures how late the event
// loop comes round to a timer.
class TMeteredApplication : public QCoreApplication {
public:
    struct TFigures {
        std::int64_t WallNs = 0;
        std::int64_t ThreadCpuNs = 0; // CPU time of the user-interface thread
        std::int64_t EventNs = 0;     // time inside event handlers
        std::int64_t Events = 0;
        std::int64_t HandoffNs = 0; // the poll threads' hand-offs, as the events that run them
        std::int64_t Handoffs = 0;
        std::int64_t LongestEventNs = 0;
        const char* LongestEventKind = "";
        std::int64_t HeartbeatLateMaxNs = 0;
        // Context switches of the user-interface thread: waits, and preemptions by other threads.
        std::int64_t VoluntarySwitches = 0;
        std::int64_t Preemptions = 0;
    };

    TMeteredApplication(int& argc, char** argv);
    ~TMeteredApplication() override;

    bool notify(QObject* receiver, QEvent* event) override;

    // Starts a new measuring window; Figures() covers the time since. User-interface thread only.
    void ResetFigures();
    TFigures Figures() const;

private:
    void Heartbeat();

    std::thread::id FOwner;
    int FDepth = 0;
    TFigures FNow;
    std::int64_t FStartWall = 0;
    std::int64_t FStartCpu = 0;
    std::int64_t FLastBeat = 0;
    std::int64_t FStartVoluntary = 0;
    std::int64_t FStartPreemptions = 0;
    QTimer* FHeartbeat = nullptr;
};
