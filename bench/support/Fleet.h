#pragma once

#include "model/Session.h"

#include <QObject>
#include <QStringList>

#include <cstdint>
#include <memory>
#include <vector>

class TDevice;
class TGroup;
class TGroups;

// The controller side of a benchmark: a session whose registry has one group holding a device per
// address, real poll threads, and the session's 100 ms reconciliation tick, as under the main
// window. It records the interval between two status blocks of each device while recording is on.
class TFleet : public QObject {
public:
    // Devices are named as ampsim numbers its amplifiers (`name` 1, 2, ...) and join a group
    // with short name `group`, so that once the settings are sent nothing else differs.
    TFleet(const QStringList& addresses, const QString& group, const QString& name, double volume);
    ~TFleet() override;

    TGroups* Registry() const { return FSession.Registry(); }
    TSession& Session() { return FSession; }
    TGroup* Group() const { return FGroup; }
    int Count() const { return int(FDevices.size()); }

    // Every device has delivered a status block that holds what it wants: its queue holds
    // nothing but the status request.
    bool Settled() const;

    void SetRecording(bool on);
    // Status intervals recorded (ns), all devices together; cleared by TakeIntervals.
    std::vector<std::int64_t> TakeIntervals();
    // Reconciliation ticks while recording: count, total and longest time (ns).
    std::int64_t Ticks() const { return FTicks; }
    std::int64_t TickNs() const { return FTickNs; }
    std::int64_t LongestTickNs() const { return FLongestTickNs; }

    // Queue lengths now: the longest and the sum over all devices.
    int LongestQueue() const;
    int QueuedCommands() const;

    // Shuts the session down, as the program does once its main window is closed: destroys the
    // registry and waits at most `timeoutMs` for the poll threads to end. Returns the time from the start of
    // the close until the last thread ended (ns), or -1 when threads were still running at the bound.
    std::int64_t Close(int timeoutMs);

protected:
    // Notes when the session's tick timer fires, so that the tick can be timed up to Ticked.
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void Ticked();
    void StatusArrived(int index);

    TSession FSession;
    std::int64_t FTickStart = 0;
    TGroup* FGroup = nullptr;
    std::vector<TDevice*> FDevices;
    std::vector<std::int64_t> FLastStatus;
    std::vector<std::int64_t> FIntervals;
    bool FRecording = false;
    std::int64_t FTicks = 0;
    std::int64_t FTickNs = 0;
    std::int64_t FLongestTickNs = 0;
};
