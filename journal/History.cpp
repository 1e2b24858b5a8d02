#include "journal/History.h"

#include "device/DeviceStatus.h"
#include "model/Errors.h"

#include <cmath>
#include <functional>

namespace {
constexpr qint64 kMinuteMs = 60 * 1000;

// A digits field that holds something else counts as not reported.
double Readable(const std::function<int()>& read) {
    try {
        return read();
    } catch (const EConvertError&) {
        return std::numeric_limits<double>::quiet_NaN();
    }
}
} // namespace

void THistoryMinute::TMean::Add(double v) {
    if (std::isnan(v))
        return;
    Sum += v;
    ++Count;
}

double THistoryMinute::TMean::Value() const {
    return Count > 0 ? Sum / Count : std::numeric_limits<double>::quiet_NaN();
}

void THistoryMinute::TMax::Add(double v) {
    if (!std::isnan(v) && (std::isnan(Value) || v > Value))
        Value = v;
}

std::optional<THistorySample> THistoryMinute::Add(qint64 timeMs, const TDeviceStatus& s) {
    const qint64 minute = timeMs / kMinuteMs;
    std::optional<THistorySample> finished;
    if (minute != FMinute) {
        finished = Finish();
        FMinute = minute;
    }
    ++FBlocks;
    FAmplifierTemperature.Add(Readable([&] { return s.PD_Amplifier_Temperature.Value(); }));
    FPsuTemperature.Add(Readable([&] { return s.PD_PSU_Temperature.Value(); }));
    FMains.Add(s.MainsVolts());
    FFan.Add(Readable([&] { return s.FanSpeedPercent(); }));
    const TLe16* peak[2] = {&s.PD_CHA_Output_Peak_Voltage, &s.PD_CHB_Output_Peak_Voltage};
    const TLe16* volts[2] = {&s.PD_CHA_Output_Average_Voltage, &s.PD_CHB_Output_Average_Voltage};
    const TLe16* amps[2] = {&s.PD_CHA_Output_Average_Current, &s.PD_CHB_Output_Average_Current};
    for (int c = 0; c < 2; ++c) {
        FPeak[c].Add(RawToVolts(peak[c]->Value()));
        FAverageVolts[c].Add(RawToVolts(volts[c]->Value()));
        FAverageAmperes[c].Add(RawToAmperes(amps[c]->Value()));
    }
    return finished;
}

std::optional<THistorySample> THistoryMinute::Finish() {
    std::optional<THistorySample> result;
    if (FBlocks > 0) {
        THistorySample sample;
        sample.Address = FAddress;
        sample.TimeMs = FMinute * kMinuteMs;
        sample.AmplifierTemperature = FAmplifierTemperature.Value;
        sample.PsuTemperature = FPsuTemperature.Value;
        sample.MainsVolts = FMains.Value();
        sample.FanPercent = FFan.Value();
        for (int c = 0; c < 2; ++c) {
            sample.Channels[c].PeakVolts = FPeak[c].Value;
            sample.Channels[c].AverageVolts = FAverageVolts[c].Value();
            sample.Channels[c].AverageAmperes = FAverageAmperes[c].Value();
        }
        result = sample;
    }
    const QString address = FAddress;
    *this = THistoryMinute(address);
    return result;
}
