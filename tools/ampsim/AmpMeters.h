#pragma once

#include "device/DeviceStatus.h"
#include "tools/ampsim/AmpState.h"

#include <array>
#include <cstdint>
#include <random>

struct TAmpMeterOptions {
    // Live meters draw the programme signal and the mains noise from this seed.
    std::uint32_t Seed = 1;
    // Static meters: a steady programme at half scale and exactly 230 V mains, so that every
    // reading depends only on the settings and on the simulated time that has passed.
    bool Static = false;
};

// The live side of an amplifier: output voltages and currents that follow the settings and a
// simulated programme signal, temperatures that rise with output power and fall without it, a
// fan that follows the amplifier temperature, mains voltage, and six histories of 512 samples
// over the last 100 minutes, newest last. Time is simulated seconds, handed in by the owner.
class TAmpMeters {
public:
    static constexpr double HistorySpanSeconds = 100 * 60;
    static constexpr double SampleSeconds = HistorySpanSeconds / TDeviceStatus::HistoryLength;

    explicit TAmpMeters(const TAmpMeterOptions& options);

    // Runs the simulation `seconds` forward with the amplifier holding `state` all along.
    void Advance(double seconds, const TAmpState& state);

    // Writes the meter fields, the fan, the mains and the histories of `status`; the readings
    // of the output stage follow `state` at once.
    void Fill(const TAmpState& state, TDeviceStatus& status) const;

    double AmplifierTemperature() const { return FAmpTemperature; }
    double PsuTemperature() const { return FPsuTemperature; }

    struct TChannelOutput {
        double PeakVolts = 0;
        double AverageVolts = 0;
        double Amperes = 0;
    };
    // What channel 0 (A) or 1 (B) delivers with the current programme level.
    TChannelOutput Output(const TAmpState& state, int channel) const;

private:
    void Step(double dt, const TAmpState& state);
    void PushSample();
    double Uniform(); // -1 ... 1

    TAmpMeterOptions FOptions;
    std::mt19937 FRandom;
    double FProgramme;  // programme envelope, 0 ... 1 of full scale
    double FJitter = 0; // short-term movement of the instant readings, -1 ... 1
    double FMainsVolts = 230;
    double FAmpTemperature;
    double FPsuTemperature;

    // The history sample being collected.
    double FSampleElapsed = 0;
    std::array<double, 2> FSamplePeak{};
    std::array<double, 2> FSampleCurrentTime{}; // integral of amperes over the interval

    using THistory = std::array<std::uint8_t, TDeviceStatus::HistoryLength>;
    THistory FPeakA{}, FPeakB{}, FAmpTemp{}, FCurrentA{}, FCurrentB{}, FPsuTemp{};
};
