#include "tools/ampsim/AmpSim.h"

#include <algorithm>
#include <chrono>

namespace {
qint64 SteadyMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

const QByteArray kStatusPath = "/zyl.zyl";
const QByteArray kSettingsPrefix = "/common_settings_values1=";
const QByteArray kNamePrefix = "/name=";
const QByteArray kGroupPrefix = "/group=";
constexpr int kSettingsDigits = 18;
constexpr int kNameLength = 5;

TAmpReply Page(int code, const QByteArray& reason, const QByteArray& text) {
    TAmpReply reply;
    reply.Code = code;
    reply.Reason = reason;
    reply.Body =
        "<html><head><title>" + text + "</title></head><body><h1>" + text + "</h1></body></html>\r\n";
    return reply;
}

TAmpReply Done() {
    return Page(200, "OK", "OK");
}

TAmpReply NotFound() {
    return Page(404, "Not Found", "404 Not Found");
}

// The six three-digit groups of a settings value, or false when it is not 18 digits that each
// group keeps within a byte.
bool ParseSettings(const QByteArray& digits, std::array<std::uint8_t, 6>& out) {
    if (digits.size() != kSettingsDigits)
        return false;
    if (!std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return false;
    for (int i = 0; i < 6; ++i) {
        const int value = digits.mid(i * 3, 3).toInt();
        if (value > 255)
            return false;
        out[size_t(i)] = std::uint8_t(value);
    }
    return true;
}
} // namespace

TAmpSim::TAmpSim(const TAmpConfig& config)
    : FAddress(config.Address), FPort(config.Port), FState(config.State), FMeters(config.Meters),
      FTimeScale(std::max(0.0, config.TimeScale)) {
    FClock.start();
}

QString TAmpSim::Endpoint() const {
    return FPort == 80 ? FAddress : FAddress + QLatin1Char(':') + QString::number(FPort);
}

TAmpState TAmpSim::State() const {
    std::lock_guard<std::mutex> lock(FMutex);
    return FState;
}

void TAmpSim::SetState(const TAmpState& state) {
    Update([&state](TAmpState& s) { s = state; });
}

void TAmpSim::Update(const std::function<void(TAmpState&)>& change) {
    std::lock_guard<std::mutex> lock(FMutex);
    // The meters run up to now with the old state, so a change takes effect from this moment.
    CatchUpLocked();
    change(FState);
}

TAmpFaults TAmpSim::Faults() const {
    std::lock_guard<std::mutex> lock(FMutex);
    return FFaults;
}

void TAmpSim::SetFaults(const TAmpFaults& faults) {
    std::lock_guard<std::mutex> lock(FMutex);
    FFaults = faults;
}

double TAmpSim::TimeScale() const {
    std::lock_guard<std::mutex> lock(FMutex);
    return FTimeScale;
}

void TAmpSim::SetTimeScale(double scale) {
    std::lock_guard<std::mutex> lock(FMutex);
    FClockBase = SimulatedNowLocked();
    FClockBaseMs = FClock.elapsed();
    FTimeScale = std::max(0.0, scale);
}

void TAmpSim::AdvanceTime(double seconds) {
    std::lock_guard<std::mutex> lock(FMutex);
    if (seconds > 0)
        FClockBase += seconds;
    CatchUpLocked();
}

double TAmpSim::SimulatedNowLocked() const {
    return FClockBase + double(FClock.elapsed() - FClockBaseMs) / 1000.0 * FTimeScale;
}

void TAmpSim::CatchUpLocked() {
    const double now = SimulatedNowLocked();
    FMeters.Advance(now - FSimulatedDone, FState);
    FSimulatedDone = std::max(FSimulatedDone, now);
}

TDeviceStatus TAmpSim::BuildStatus() {
    std::lock_guard<std::mutex> lock(FMutex);
    CatchUpLocked();
    TDeviceStatus status = TDeviceStatus::Initial();
    const TAmpState& s = FState;
    status.PD_CHA_Volume = s.Settings[0];
    status.PD_CHB_Volume = s.Settings[1];
    status.PD_CHA_Sensitivity = s.Settings[2];
    status.PD_CHB_Sensitivity = s.Settings[3];
    status.PD_CHA_Limiter = s.Settings[4];
    status.PD_CHB_Limiter = s.Settings[5];
    status.PD_CHA_Status = s.ChannelOkA ? 1 : 0;
    status.PD_CHB_Status = s.ChannelOkB ? 1 : 0;
    status.PD_CHA_Mute_Off = s.MuteA ? 0 : 1;
    status.PD_CHB_Mute_Off = s.MuteB ? 0 : 1;
    status.PD_Model.Set(s.Model);
    status.PD_Serial_Number.Set(s.SerialNumber);
    status.PD_Main_SW_Version.Set(s.MainVersion);
    status.PD_Webserver_SW_version.Set(s.WebserverVersion);
    status.PD_PSU_SW_Version.Set(s.PsuVersion);
    status.PD_DDS_SW_Version.Set(s.DdsVersion);
    status.PD_Speaker_Impedance_CHA.Set(s.ImpedanceA);
    status.PD_Speaker_Impedance_CHB.Set(s.ImpedanceB);
    status.PD_GroupName.Set(s.GroupName);
    status.PD_DeviceName.Set(s.DeviceName);
    FMeters.Fill(s, status);
    return status;
}

TAmpReply TAmpSim::Answer(const QString& path) {
    const QByteArray bytes = path.toLatin1();
    const bool isStatus = bytes == kStatusPath;
    TAmpReply reply;
    std::function<void(const TAmpSim&, const QString&)> observer;
    {
        std::lock_guard<std::mutex> lock(FMutex);
        FRequests.append(TAmpRequest{path, SteadyMs()});
        observer = FObserver;
        if (!isStatus)
            reply = ActLocked(bytes);
    }
    if (isStatus) {
        reply.ContentType = "application/octet-stream";
        reply.Body = BuildStatus().ToBody();
        reply.IsStatus = true;
    }
    if (observer)
        observer(*this, path);
    return reply;
}

TAmpReply TAmpSim::ActLocked(const QByteArray& path) {
    CatchUpLocked();
    TAmpState& s = FState;
    if (path == "/lock_on") {
        s.Locked = true;
    } else if (path == "/lock_off") {
        s.Locked = false;
    } else if (path == "/mute_a_on.html") {
        s.MuteA = true;
    } else if (path == "/mute_a_off.html") {
        s.MuteA = false;
    } else if (path == "/mute_b_on.html") {
        s.MuteB = true;
    } else if (path == "/mute_b_off.html") {
        s.MuteB = false;
    } else if (path.startsWith(kSettingsPrefix)) {
        std::array<std::uint8_t, 6> settings;
        if (!ParseSettings(path.mid(kSettingsPrefix.size()), settings))
            return NotFound();
        // A locked amplifier accepts the command and keeps what it holds.
        if (!s.Locked) {
            if (const TModelLimits* limits = FindModelLimits(s.Model))
                for (size_t i = 4; i < 6; ++i)
                    settings[i] = std::uint8_t(std::min<int>(settings[i], limits->LimiterMax));
            s.Settings = settings;
        }
    } else if (path.startsWith(kNamePrefix) && path.size() == kNamePrefix.size() + kNameLength) {
        s.DeviceName = path.mid(kNamePrefix.size());
    } else if (path.startsWith(kGroupPrefix) && path.size() == kGroupPrefix.size() + kNameLength) {
        s.GroupName = path.mid(kGroupPrefix.size());
    } else {
        return NotFound();
    }
    return Done();
}

QList<TAmpRequest> TAmpSim::Requests() const {
    std::lock_guard<std::mutex> lock(FMutex);
    return FRequests;
}

QStringList TAmpSim::RequestPaths() const {
    std::lock_guard<std::mutex> lock(FMutex);
    QStringList paths;
    paths.reserve(FRequests.size());
    for (const TAmpRequest& r : FRequests)
        paths.append(r.Path);
    return paths;
}

int TAmpSim::RequestCount() const {
    std::lock_guard<std::mutex> lock(FMutex);
    return int(FRequests.size());
}

void TAmpSim::ClearRequests() {
    std::lock_guard<std::mutex> lock(FMutex);
    FRequests.clear();
}

void TAmpSim::SetRequestObserver(std::function<void(const TAmpSim&, const QString&)> observer) {
    std::lock_guard<std::mutex> lock(FMutex);
    FObserver = std::move(observer);
}
