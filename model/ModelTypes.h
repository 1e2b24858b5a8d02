#pragma once

#include <QMetaType>

#include <array>
#include <cstddef>

// What a change signal of the model names. The order of TLevel is the order of the settings
// command (volume A, volume B, sensitivity A, sensitivity B, limiter A, limiter B), so that a
// TLevel also indexes SettingsCodes and HeldSettingsCodes.
enum class TLevel { Volume_A, Volume_B, Sensitivity_A, Sensitivity_B, Limiter_A, Limiter_B };
enum class TChannel { A, B };

// The field of six, listed in TLevel order, that `level` names.
inline double& LevelSlot(TLevel level, const std::array<double*, 6>& fields) {
    return *fields[static_cast<std::size_t>(level)];
}
enum class TLock { Volume, Sensitivity, Limiter };
enum class TDeviceText { LongName, ShortName, IPAddress };
enum class TGroupText { LongName, ShortName };

Q_DECLARE_METATYPE(TLevel)
Q_DECLARE_METATYPE(TChannel)
Q_DECLARE_METATYPE(TLock)
Q_DECLARE_METATYPE(TDeviceText)
Q_DECLARE_METATYPE(TGroupText)

// The model's own names of the fields: "Volume_A", "Mute_CHB", "ShortName", "Volume_Lock", ...
// as project files name them.
const char* FieldName(TLevel level);
const char* FieldName(TChannel channel); // "Mute_CHA", "Mute_CHB"
const char* FieldName(TLock lock);       // "Volume_Lock", ...
const char* FieldName(TDeviceText text);
const char* FieldName(TGroupText text);
