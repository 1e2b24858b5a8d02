#include "bench/support/Fleet.h"

#include "bench/support/ProcStats.h"
#include "device/DeviceUnit.h"
#include "device/Protocol.h"
#include "device/ThreadCommUnit.h"
#include "model/Constants.h"
#include "model/GroupUnit.h"
#include "model/GroupsUnit.h"
#include "tools/ampsim/AmpOptions.h"

#include <QEvent>
#include <QTimer>

#include <algorithm>

TFleet::TFleet(const QStringList& addresses, const QString& group, const QString& name, double volume) {
    FGroup = FSession.Registry()->FindOrAddGroup(QStringLiteral("Fleet"), group);
    FGroup->SetVolume_A(volume);
    FGroup->SetVolume_B(volume);
    FDevices.reserve(size_t(addresses.size()));
    for (int i = 0; i < addresses.size(); ++i) {
        const QString shortName = QString::fromLatin1(NumberedShortName(name, i + 1, int(addresses.size())));
        auto* device =
            new TDevice(FGroup, addresses[i], QStringLiteral("Amplifier %1").arg(i + 1), shortName);
        connect(device, &TDevice::StatusReceived, this, [this, i] { StatusArrived(i); });
        FDevices.push_back(device);
    }
    FLastStatus.assign(FDevices.size(), 0);
    if (QObject* tick = FSession.findChild<QTimer*>(QStringLiteral("ReconciliationTick")))
        tick->installEventFilter(this);
    connect(&FSession, &TSession::Ticked, this, &TFleet::Ticked);
    // The main window's tick: a coarse timer, as there.
    FSession.Start();
}

TFleet::~TFleet() {
    Close(5000);
}

bool TFleet::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::Timer)
        FTickStart = ProcStats::NowNs();
    return QObject::eventFilter(watched, event);
}

void TFleet::Ticked() {
    if (!FRecording || FTickStart == 0)
        return;
    const std::int64_t spent = ProcStats::NowNs() - FTickStart;
    ++FTicks;
    FTickNs += spent;
    FLongestTickNs = std::max(FLongestTickNs, spent);
}

void TFleet::StatusArrived(int index) {
    const std::int64_t now = ProcStats::NowNs();
    std::int64_t& last = FLastStatus[size_t(index)];
    if (FRecording && last > 0)
        FIntervals.push_back(now - last);
    last = now;
}

bool TFleet::Settled() const {
    return std::all_of(FDevices.begin(), FDevices.end(), [](const TDevice* device) {
        const QStringList& queue = device->Commands();
        return device->StatusCount() > 0 && !device->Offline() &&
               std::all_of(queue.begin(), queue.end(), [](const QString& c) { return c == StatusPath; });
    });
}

void TFleet::SetRecording(bool on) {
    FRecording = on;
    if (on) {
        // An interval counts only when both of its ends fall inside the recording.
        std::fill(FLastStatus.begin(), FLastStatus.end(), 0);
        FTicks = FTickNs = FLongestTickNs = 0;
    }
}

std::vector<std::int64_t> TFleet::TakeIntervals() {
    std::vector<std::int64_t> taken;
    taken.swap(FIntervals);
    return taken;
}

int TFleet::LongestQueue() const {
    int longest = 0;
    for (const TDevice* device : FDevices)
        longest = std::max(longest, int(device->Commands().size()));
    return longest;
}

int TFleet::QueuedCommands() const {
    int sum = 0;
    for (const TDevice* device : FDevices)
        sum += int(device->Commands().size());
    return sum;
}

std::int64_t TFleet::Close(int timeoutMs) {
    if (!FSession.Registry())
        return 0;
    FSession.Stop();
    const std::int64_t start = ProcStats::NowNs();
    FDevices.clear();
    FGroup = nullptr;
    const bool ended = FSession.Shutdown(timeoutMs);
    return ended ? ProcStats::NowNs() - start : -1;
}
