#pragma once

#include "device/DeviceStatus.h"
#include "tools/ampsim/AmpMeters.h"
#include "tools/ampsim/AmpState.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QList>
#include <QString>
#include <QStringList>

#include <functional>
#include <mutex>

// How one amplifier starts: where it listens, what it holds, how its meters and clock run.
struct TAmpConfig {
    QString Address = QStringLiteral("127.0.0.1");
    quint16 Port = 80;
    TAmpState State;
    TAmpMeterOptions Meters;
    // Simulated seconds per real second; 0 stops the clock (AdvanceTime still moves it).
    double TimeScale = 1;

    static TAmpConfig At(const QString& address, quint16 port = 80) {
        TAmpConfig config;
        config.Address = address;
        config.Port = port;
        return config;
    }
};

// One request the amplifier read: its path exactly as received, and when (milliseconds of
// std::chrono::steady_clock).
struct TAmpRequest {
    QString Path;
    qint64 ReceivedMs = 0;
};

// What the amplifier answers to one request, before the wire format and any faults apply.
struct TAmpReply {
    int Code = 200;
    QByteArray Reason = "OK";
    QByteArray ContentType = "text/html";
    QByteArray Body;
    bool IsStatus = false; // the answer to "/zyl.zyl"
};

// One simulated amplifier: its state, its clock and meters, the log of requests it received
// and the answer to each path. Every member may be called from any thread.
class TAmpSim {
public:
    explicit TAmpSim(const TAmpConfig& config);

    const QString& Address() const { return FAddress; }
    quint16 Port() const { return FPort; }
    // "a.b.c.d", or "a.b.c.d:port" when the port is not 80.
    QString Endpoint() const;

    TAmpState State() const;
    void SetState(const TAmpState& state);
    // Changes the state in one step: Update([](TAmpState& s) { s.ChannelOkA = false; }).
    void Update(const std::function<void(TAmpState&)>& change);

    TAmpFaults Faults() const;
    void SetFaults(const TAmpFaults& faults);

    double TimeScale() const;
    void SetTimeScale(double scale);
    // Moves the simulated clock forward by `seconds` at once.
    void AdvanceTime(double seconds);

    // The status block as the amplifier would send it now.
    TDeviceStatus BuildStatus();

    // Logs the request and acts on it: the status request, the settings, name, group, lock and
    // mute commands; anything else is a 404.
    TAmpReply Answer(const QString& path);

    QList<TAmpRequest> Requests() const;
    QStringList RequestPaths() const;
    int RequestCount() const;
    void ClearRequests();

    // Called with every logged path, on the thread that serves the amplifier, outside any lock
    // of this object.
    void SetRequestObserver(std::function<void(const TAmpSim&, const QString&)> observer);

private:
    double SimulatedNowLocked() const;
    void CatchUpLocked();
    TAmpReply ActLocked(const QByteArray& path);

    const QString FAddress;
    const quint16 FPort;

    mutable std::mutex FMutex;
    TAmpState FState;
    TAmpFaults FFaults;
    TAmpMeters FMeters;
    QElapsedTimer FClock;
    double FTimeScale;
    double FClockBase = 0; // simulated seconds at real time FClockBaseMs
    qint64 FClockBaseMs = 0;
    double FSimulatedDone = 0; // simulated seconds the meters have been run to
    QList<TAmpRequest> FRequests;
    std::function<void(const TAmpSim&, const QString&)> FObserver;
};
