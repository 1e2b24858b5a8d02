#include "bench/support/MeteredApplication.h"

#include "bench/support/ProcStats.h"
#include "device/WorkQueue.h"

#include <QEvent>
#include <QTimer>

namespace {
constexpr int kHeartbeatMs = 10;

// The poll threads' hand-offs arrive as one event that runs every hand-off waiting.
bool IsHandoff(QEvent::Type type) {
    return type == TWorkQueue::DrainEventType();
}

const char* Kind(QEvent::Type type) {
    if (IsHandoff(type))
        return "hand-offs";
    switch (type) {
    case QEvent::MetaCall:
        return "queued call";
    case QEvent::Timer:
        return "timer";
    default:
        return "other event";
    }
}
} // namespace

TMeteredApplication::TMeteredApplication(int& argc, char** argv)
    : QCoreApplication(argc, argv), FOwner(std::this_thread::get_id()), FHeartbeat(new QTimer(this)) {
    FHeartbeat->setTimerType(Qt::PreciseTimer);
    FHeartbeat->setInterval(kHeartbeatMs);
    connect(FHeartbeat, &QTimer::timeout, this, &TMeteredApplication::Heartbeat);
    FHeartbeat->start();
    ResetFigures();
}

TMeteredApplication::~TMeteredApplication() = default;

bool TMeteredApplication::notify(QObject* receiver, QEvent* event) {
    if (FDepth > 0 || std::this_thread::get_id() != FOwner)
        return QCoreApplication::notify(receiver, event);
    ++FDepth;
    const QEvent::Type type = event->type();
    const std::int64_t start = ProcStats::NowNs();
    const bool result = QCoreApplication::notify(receiver, event);
    const std::int64_t spent = ProcStats::NowNs() - start;
    --FDepth;
    FNow.EventNs += spent;
    ++FNow.Events;
    if (IsHandoff(type)) {
        FNow.HandoffNs += spent;
        ++FNow.Handoffs;
    }
    if (spent > FNow.LongestEventNs) {
        FNow.LongestEventNs = spent;
        FNow.LongestEventKind = Kind(type);
    }
    return result;
}

void TMeteredApplication::Heartbeat() {
    const std::int64_t now = ProcStats::NowNs();
    if (FLastBeat > 0) {
        const std::int64_t late = now - FLastBeat - std::int64_t(kHeartbeatMs) * 1000000;
        if (late > FNow.HeartbeatLateMaxNs)
            FNow.HeartbeatLateMaxNs = late;
    }
    FLastBeat = now;
}

void TMeteredApplication::ResetFigures() {
    FNow = TFigures();
    FStartWall = ProcStats::NowNs();
    FStartCpu = ProcStats::ThisThreadCpuNs();
    FLastBeat = 0;
    ProcStats::ThisThreadSwitches(FStartVoluntary, FStartPreemptions);
}

TMeteredApplication::TFigures TMeteredApplication::Figures() const {
    TFigures figures = FNow;
    figures.WallNs = ProcStats::NowNs() - FStartWall;
    figures.ThreadCpuNs = ProcStats::ThisThreadCpuNs() - FStartCpu;
    ProcStats::ThisThreadSwitches(figures.VoluntarySwitches, figures.Preemptions);
    figures.VoluntarySwitches -= FStartVoluntary;
    figures.Preemptions -= FStartPreemptions;
    return figures;
}
