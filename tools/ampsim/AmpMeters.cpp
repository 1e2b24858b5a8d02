#include "tools/ampsim/AmpMeters.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {
constexpr double kAmbientAmp = 30; // idle amplifier temperature, degrees C
constexpr double kAmbientPsu = 32; // idle power-supply temperature
constexpr double kAmpPerWatt = 0.06;
constexpr double kPsuPerWatt = 0.03;
constexpr double kAmpTau = 90; // seconds to close 63 % of the gap to the target temperature
constexpr double kPsuTau = 150;
constexpr double kCrest = 0.4; // average / peak of the programme
constexpr double kDefaultRatedVolts = 155;
constexpr double kMaxStep = 1.0;

// Scales of the status fields and of the history graphs.
constexpr double kVoltsFullRaw = 200;
constexpr double kAmperesFullRaw = 50;
constexpr double kHistoryVolts = 200;
constexpr double kHistoryAmperes = 50;
constexpr double kHistoryDegrees = 100;

double RatedVolts(const TAmpState& state) {
    const TModelLimits* limits = FindModelLimits(state.Model);
    return limits ? limits->LimiterMax : kDefaultRatedVolts;
}

double Ohms(const QByteArray& impedance) {
    bool ok = false;
    const double z = impedance.left(4).trimmed().toDouble(&ok);
    return ok && z >= 1 ? z : 8;
}

double LevelDb(std::uint8_t code) {
    return code / 2.0 - 95.5;
}

std::uint8_t ToSample(double value, double fullScale) {
    return std::uint8_t(std::clamp(std::lround(value / fullScale * 255), 0L, 255L));
}

unsigned ToRaw(double value, double fullScale) {
    return unsigned(std::clamp(std::lround(value * 1024 / fullScale), 0L, 65535L));
}

double Approach(double value, double target, double dt, double tau) {
    return target + (value - target) * std::exp(-dt / tau);
}

void Shift(std::array<std::uint8_t, TDeviceStatus::HistoryLength>& history, std::uint8_t sample) {
    std::memmove(history.data(), history.data() + 1, history.size() - 1);
    history.back() = sample;
}
} // namespace

TAmpMeters::TAmpMeters(const TAmpMeterOptions& options)
    : FOptions(options), FRandom(options.Seed), FProgramme(0.5), FAmpTemperature(kAmbientAmp),
      FPsuTemperature(kAmbientPsu) {}

double TAmpMeters::Uniform() {
    return std::uniform_real_distribution<double>(-1.0, 1.0)(FRandom);
}

TAmpMeters::TChannelOutput TAmpMeters::Output(const TAmpState& state, int channel) const {
    const bool ok = channel == 0 ? state.ChannelOkA : state.ChannelOkB;
    const bool muted = channel == 0 ? state.MuteA : state.MuteB;
    TChannelOutput out;
    if (!ok || muted)
        return out;
    const double rated = RatedVolts(state);
    const double gainDb =
        LevelDb(state.Settings[size_t(channel)]) + LevelDb(state.Settings[size_t(2 + channel)]);
    const double level = std::clamp(FProgramme * (1 + 0.15 * FJitter), 0.0, 1.0);
    const double limiter = state.Settings[size_t(4 + channel)];
    out.PeakVolts = std::min({rated * level * std::pow(10.0, gainDb / 20), limiter, rated});
    out.AverageVolts = out.PeakVolts * kCrest;
    out.Amperes = out.AverageVolts / Ohms(channel == 0 ? state.ImpedanceA : state.ImpedanceB);
    return out;
}

void TAmpMeters::Advance(double seconds, const TAmpState& state) {
    if (!(seconds > 0))
        return;
    // Beyond the span of the histories only the temperatures carry over; jump there exactly and
    // simulate the last 100 minutes step by step, which refills every history sample.
    const double span = HistorySpanSeconds + SampleSeconds;
    if (seconds > span) {
        const double jump = seconds - span;
        const TChannelOutput a = Output(state, 0), b = Output(state, 1);
        const double watts = a.AverageVolts * a.Amperes + b.AverageVolts * b.Amperes;
        FAmpTemperature =
            Approach(FAmpTemperature, std::min(95.0, kAmbientAmp + watts * kAmpPerWatt), jump, kAmpTau);
        FPsuTemperature =
            Approach(FPsuTemperature, std::min(90.0, kAmbientPsu + watts * kPsuPerWatt), jump, kPsuTau);
        seconds = span;
    }
    while (seconds > 1e-9) {
        const double dt = std::min({seconds, kMaxStep, SampleSeconds - FSampleElapsed});
        Step(dt, state);
        seconds -= dt;
        FSampleElapsed += dt;
        if (FSampleElapsed >= SampleSeconds - 1e-9)
            PushSample();
    }
}

void TAmpMeters::Step(double dt, const TAmpState& state) {
    if (!FOptions.Static) {
        // A programme envelope that wanders around 45 % with a few seconds of memory, and a
        // quick flutter on top of it; mains drift by a volt or two.
        FProgramme += (0.45 - FProgramme) * std::min(1.0, 0.3 * dt) + 0.25 * std::sqrt(dt) * Uniform();
        FProgramme = std::clamp(FProgramme, 0.02, 1.0);
        FJitter = Uniform();
        FMainsVolts = std::clamp(
            FMainsVolts + (230 - FMainsVolts) * std::min(1.0, 0.5 * dt) + 1.5 * Uniform(), 224.0, 236.0);
    }
    const TChannelOutput a = Output(state, 0), b = Output(state, 1);
    const double watts = a.AverageVolts * a.Amperes + b.AverageVolts * b.Amperes;
    FAmpTemperature =
        Approach(FAmpTemperature, std::min(95.0, kAmbientAmp + watts * kAmpPerWatt), dt, kAmpTau);
    FPsuTemperature =
        Approach(FPsuTemperature, std::min(90.0, kAmbientPsu + watts * kPsuPerWatt), dt, kPsuTau);
    FSamplePeak[0] = std::max(FSamplePeak[0], a.PeakVolts);
    FSamplePeak[1] = std::max(FSamplePeak[1], b.PeakVolts);
    FSampleCurrentTime[0] += a.Amperes * dt;
    FSampleCurrentTime[1] += b.Amperes * dt;
}

void TAmpMeters::PushSample() {
    Shift(FPeakA, ToSample(FSamplePeak[0], kHistoryVolts));
    Shift(FPeakB, ToSample(FSamplePeak[1], kHistoryVolts));
    Shift(FCurrentA, ToSample(FSampleCurrentTime[0] / FSampleElapsed, kHistoryAmperes));
    Shift(FCurrentB, ToSample(FSampleCurrentTime[1] / FSampleElapsed, kHistoryAmperes));
    Shift(FAmpTemp, ToSample(FAmpTemperature, kHistoryDegrees));
    Shift(FPsuTemp, ToSample(FPsuTemperature, kHistoryDegrees));
    FSampleElapsed = 0;
    FSamplePeak = {};
    FSampleCurrentTime = {};
}

void TAmpMeters::Fill(const TAmpState& state, TDeviceStatus& status) const {
    const TChannelOutput a = Output(state, 0), b = Output(state, 1);
    status.PD_CHA_Output_Peak_Voltage.Set(ToRaw(a.PeakVolts, kVoltsFullRaw));
    status.PD_CHB_Output_Peak_Voltage.Set(ToRaw(b.PeakVolts, kVoltsFullRaw));
    status.PD_CHA_Output_Average_Voltage.Set(ToRaw(a.AverageVolts, kVoltsFullRaw));
    status.PD_CHB_Output_Average_Voltage.Set(ToRaw(b.AverageVolts, kVoltsFullRaw));
    status.PD_CHA_Output_Average_Current.Set(ToRaw(a.Amperes, kAmperesFullRaw));
    status.PD_CHB_Output_Average_Current.Set(ToRaw(b.Amperes, kAmperesFullRaw));
    status.PD_Amplifier_Temperature.Set(int(std::clamp(std::lround(FAmpTemperature), 0L, 999L)));
    status.PD_PSU_Temperature.Set(int(std::clamp(std::lround(FPsuTemperature), 0L, 999L)));
    // The fan idles at 20 % and reaches full speed at 65 degrees C.
    const long fan = std::clamp(std::lround(20 + (FAmpTemperature - 35) * 80 / 30), 20L, 100L);
    status.PD_Actual_FAN_Speed.Set(QByteArray::number(qlonglong(fan)).rightJustified(3, '0'));
    // The reader divides raw x 702 by 1024 and drops the fraction; round up so that it reads
    // the whole volts back (230 V is raw 336).
    status.PD_Actual_AC_Input.Set(unsigned(std::ceil(FMainsVolts * 1024 / 702)));
    std::memcpy(status.PD_History_Peak_Voltage_CHA, FPeakA.data(), FPeakA.size());
    std::memcpy(status.PD_History_Peak_Voltage_CHB, FPeakB.data(), FPeakB.size());
    std::memcpy(status.PD_History_Amplifier_Temperature, FAmpTemp.data(), FAmpTemp.size());
    std::memcpy(status.PD_History_Current_CHA, FCurrentA.data(), FCurrentA.size());
    std::memcpy(status.PD_History_Current_CHB, FCurrentB.data(), FCurrentB.size());
    std::memcpy(status.PD_History_PSU_Temperature, FPsuTemp.data(), FPsuTemp.size());
}
