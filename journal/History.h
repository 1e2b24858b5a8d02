#pragma once

#include <QString>
#include <QtGlobal>

#include <array>
#include <limits>
#include <optional>

struct TDeviceStatus;

// One amplifier's minute in the long-term history. A value the amplifier did not report in a
// readable form is NaN (stored as NULL).
struct THistoryChannel {
    double PeakVolts = std::numeric_limits<double>::quiet_NaN();
    double AverageVolts = std::numeric_limits<double>::quiet_NaN();
    double AverageAmperes = std::numeric_limits<double>::quiet_NaN();
};

struct THistorySample {
    QString Address;
    qint64 TimeMs = 0;                                                      // the start of the minute, UTC
    double AmplifierTemperature = std::numeric_limits<double>::quiet_NaN(); // degrees C
    double PsuTemperature = std::numeric_limits<double>::quiet_NaN();       // degrees C
    double MainsVolts = std::numeric_limits<double>::quiet_NaN();
    double FanPercent = std::numeric_limits<double>::quiet_NaN();
    std::array<THistoryChannel, 2> Channels; // A, B
};

// Turns the status blocks of one amplifier into one sample a minute. Over a minute it keeps
// the highest temperatures and peak voltages, and the mean of the mains voltage, fan speed and
// average voltages and currents, so that a one-minute sample does not miss a peak that a
// single status block would.
class THistoryMinute {
public:
    explicit THistoryMinute(const QString& address) : FAddress(address) {}

    // Adds a status block received at `timeMs`. When it begins a new minute, returns the
    // sample of the minute before (if it had any block).
    std::optional<THistorySample> Add(qint64 timeMs, const TDeviceStatus& status);
    // The sample of the minute in progress, if it has any block; the minute starts afresh.
    std::optional<THistorySample> Finish();

private:
    struct TMean {
        double Sum = 0;
        int Count = 0;
        void Add(double v);
        double Value() const;
    };
    struct TMax {
        double Value = std::numeric_limits<double>::quiet_NaN();
        void Add(double v);
    };

    QString FAddress;
    qint64 FMinute = -1;
    int FBlocks = 0;
    TMax FAmplifierTemperature, FPsuTemperature;
    TMean FMains, FFan;
    std::array<TMax, 2> FPeak;
    std::array<TMean, 2> FAverageVolts, FAverageAmperes;
};
