#pragma once

#include <QByteArray>
#include <QString>

#include "xml/Cp1252.h"

#include <cstddef>
#include <cstdint>

// The 3157-byte status block an amplifier returns for GET "/zyl.zyl". Every member is made of
// single bytes, so the struct has no padding and the same layout on every host; multi-byte
// integers are decoded little-endian by their accessors.

class EConvertError;

// An unsigned 16-bit little-endian integer.
struct TLe16 {
    std::uint8_t Bytes[2];
    unsigned Value() const { return unsigned(Bytes[0]) | (unsigned(Bytes[1]) << 8); }
    void Set(unsigned v) {
        Bytes[0] = std::uint8_t(v & 0xFF);
        Bytes[1] = std::uint8_t((v >> 8) & 0xFF);
    }
};

// A fixed-width 8-bit text: the characters up to the first NUL, or the whole width without one.
template <std::size_t N> struct TStatusText {
    char Chars[N];
    QByteArray Bytes() const {
        std::size_t n = 0;
        while (n < N && Chars[n] != '\0')
            ++n;
        return QByteArray(Chars, int(n));
    }
    // Amplifiers send 8-bit text in the same code page as project files.
    QString Text() const { return Cp1252ToUnicode(Bytes()); }
    // Copies up to N bytes and fills the rest of the width with NUL.
    void Set(const QByteArray& text) {
        for (std::size_t i = 0; i < N; ++i)
            Chars[i] = i < std::size_t(text.size()) ? text[int(i)] : '\0';
    }
};

// Raises EConvertError ("'x' is not a valid integer value") when the characters are not an
// unsigned decimal number.
int DigitsValue(const char* chars, std::size_t count);

// A fixed-width field of decimal ASCII digits.
template <std::size_t N> struct TStatusDigits {
    char Chars[N];
    int Value() const { return DigitsValue(Chars, N); }
    void Set(int v);
};

struct TDeviceStatus {
    static constexpr int Size = 3157;
    static constexpr int HistoryLength = 512;

    std::uint8_t PD_CHA_Volume;
    std::uint8_t PD_CHB_Volume;
    std::uint8_t PD_CHA_Sensitivity;
    std::uint8_t PD_CHB_Sensitivity;
    std::uint8_t PD_CHA_Limiter;
    std::uint8_t PD_CHB_Limiter;
    TLe16 PD_CHA_Output_Peak_Voltage;
    TLe16 PD_CHB_Output_Peak_Voltage;
    TLe16 PD_CHA_Output_Average_Voltage;
    TLe16 PD_CHB_Output_Average_Voltage;
    TLe16 PD_CHA_Output_Average_Current;
    TLe16 PD_CHB_Output_Average_Current;
    TStatusDigits<3> PD_Amplifier_Temperature;
    TStatusDigits<3> PD_PSU_Temperature;
    std::uint8_t PD_CHA_Status;
    std::uint8_t PD_CHB_Status;
    std::uint8_t PD_CHA_Mute_Off;
    std::uint8_t PD_CHB_Mute_Off;
    TStatusText<5> PD_Model;
    TStatusText<5> PD_Serial_Number;
    TStatusText<5> PD_Main_SW_Version;
    TStatusText<5> PD_Webserver_SW_version;
    TStatusText<5> PD_PSU_SW_Version;
    TStatusText<5> PD_DDS_SW_Version;
    TStatusText<5> PD_Speaker_Impedance_CHA;
    TStatusText<5> PD_Speaker_Impedance_CHB;
    TLe16 PD_Actual_AC_Input;
    TStatusText<5> PD_Actual_FAN_Speed;
    TStatusText<5> PD_GroupName;
    TStatusText<5> PD_DeviceName;
    std::uint8_t PD_History_Peak_Voltage_CHA[HistoryLength];
    std::uint8_t PD_History_Peak_Voltage_CHB[HistoryLength];
    std::uint8_t PD_History_Amplifier_Temperature[HistoryLength];
    std::uint8_t PD_History_Current_CHA[HistoryLength];
    std::uint8_t PD_History_Current_CHB[HistoryLength];
    std::uint8_t PD_History_PSU_Temperature[HistoryLength];

    // What a device holds before its first status block: both channels FAULT and muted, every
    // identity text "XXXXX", temperatures and impedances zero digits.
    static TDeviceStatus Initial();

    // A body counts as a status block only when it is exactly Size bytes long; otherwise
    // `out` is left as it was and the result is false.
    static bool FromBody(const QByteArray& body, TDeviceStatus& out);
    QByteArray ToBody() const;

    // Fan speed in percent: the first three characters of PD_Actual_FAN_Speed; raises
    // EConvertError on a non-digit.
    int FanSpeedPercent() const { return DigitsValue(PD_Actual_FAN_Speed.Chars, 3); }
    // Mains volts, whole: (raw x 702) / 1024.
    int MainsVolts() const { return int((PD_Actual_AC_Input.Value() * 702u) / 1024u); }
};

// Scales of the raw meter fields.
inline double RawToVolts(unsigned raw) {
    return raw * 200.0 / 1024.0;
}
inline double RawToAmperes(unsigned raw) {
    return raw * 50.0 / 1024.0;
}

// Limits that depend on the amplifier model.
struct TModelLimits {
    const char* Model;
    int LimiterMax;    // volts
    int VoltageBarMax; // volts
    int CurrentBarMax; // amperes
    int PowerBarMax;   // watts
};

// The limits of a known model ("KV-20", "KV-30", "KV-40", compared exactly), or nullptr.
const TModelLimits* FindModelLimits(const QByteArray& model);

// Where a model's readings become a warning and a fault. A reading goes up a level as soon as it
// reaches a level's threshold and comes down only once it is HysteresisDegrees (or
// HysteresisVolts) on the safe side of it, so that a reading that jitters around a threshold is
// one crossing, not one every status block. Mains is watched on both sides.
struct TModelThresholds {
    const char* Model; // nullptr for the levels of a model the table does not know
    int AmplifierWarningDegrees;
    int AmplifierFaultDegrees;
    int PsuWarningDegrees;
    int PsuFaultDegrees;
    int HysteresisDegrees;
    int MainsLowFaultVolts;
    int MainsLowWarningVolts;
    int MainsHighWarningVolts;
    int MainsHighFaultVolts;
    int HysteresisVolts;
};

// The thresholds of `model`; never null: an unknown model gets the common levels.
const TModelThresholds& FindModelThresholds(const QByteArray& model);
