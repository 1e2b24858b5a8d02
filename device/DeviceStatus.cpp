#include "device/DeviceStatus.h"

#include "model/Errors.h"

#include <cstring>
#include <type_traits>

static_assert(std::is_trivially_copyable_v<TDeviceStatus>);
static_assert(alignof(TDeviceStatus) == 1);
static_assert(sizeof(TDeviceStatus) == TDeviceStatus::Size);
static_assert(offsetof(TDeviceStatus, PD_CHA_Volume) == 0);
static_assert(offsetof(TDeviceStatus, PD_CHB_Volume) == 1);
static_assert(offsetof(TDeviceStatus, PD_CHA_Sensitivity) == 2);
static_assert(offsetof(TDeviceStatus, PD_CHB_Sensitivity) == 3);
static_assert(offsetof(TDeviceStatus, PD_CHA_Limiter) == 4);
static_assert(offsetof(TDeviceStatus, PD_CHB_Limiter) == 5);
static_assert(offsetof(TDeviceStatus, PD_CHA_Output_Peak_Voltage) == 6);
static_assert(offsetof(TDeviceStatus, PD_CHB_Output_Peak_Voltage) == 8);
static_assert(offsetof(TDeviceStatus, PD_CHA_Output_Average_Voltage) == 10);
static_assert(offsetof(TDeviceStatus, PD_CHB_Output_Average_Voltage) == 12);
static_assert(offsetof(TDeviceStatus, PD_CHA_Output_Average_Current) == 14);
static_assert(offsetof(TDeviceStatus, PD_CHB_Output_Average_Current) == 16);
static_assert(offsetof(TDeviceStatus, PD_Amplifier_Temperature) == 18);
static_assert(offsetof(TDeviceStatus, PD_PSU_Temperature) == 21);
static_assert(offsetof(TDeviceStatus, PD_CHA_Status) == 24);
static_assert(offsetof(TDeviceStatus, PD_CHB_Status) == 25);
static_assert(offsetof(TDeviceStatus, PD_CHA_Mute_Off) == 26);
static_assert(offsetof(TDeviceStatus, PD_CHB_Mute_Off) == 27);
static_assert(offsetof(TDeviceStatus, PD_Model) == 28);
static_assert(offsetof(TDeviceStatus, PD_Serial_Number) == 33);
static_assert(offsetof(TDeviceStatus, PD_Main_SW_Version) == 38);
static_assert(offsetof(TDeviceStatus, PD_Webserver_SW_version) == 43);
static_assert(offsetof(TDeviceStatus, PD_PSU_SW_Version) == 48);
static_assert(offsetof(TDeviceStatus, PD_DDS_SW_Version) == 53);
static_assert(offsetof(TDeviceStatus, PD_Speaker_Impedance_CHA) == 58);
static_assert(offsetof(TDeviceStatus, PD_Speaker_Impedance_CHB) == 63);
static_assert(offsetof(TDeviceStatus, PD_Actual_AC_Input) == 68);
static_assert(offsetof(TDeviceStatus, PD_Actual_FAN_Speed) == 70);
static_assert(offsetof(TDeviceStatus, PD_GroupName) == 75);
static_assert(offsetof(TDeviceStatus, PD_DeviceName) == 80);
static_assert(offsetof(TDeviceStatus, PD_History_Peak_Voltage_CHA) == 85);
static_assert(offsetof(TDeviceStatus, PD_History_Peak_Voltage_CHB) == 597);
static_assert(offsetof(TDeviceStatus, PD_History_Amplifier_Temperature) == 1109);
static_assert(offsetof(TDeviceStatus, PD_History_Current_CHA) == 1621);
static_assert(offsetof(TDeviceStatus, PD_History_Current_CHB) == 2133);
static_assert(offsetof(TDeviceStatus, PD_History_PSU_Temperature) == 2645);

int DigitsValue(const char* chars, std::size_t count) {
    int value = 0;
    for (std::size_t i = 0; i < count; ++i) {
        const char c = chars[i];
        if (c < '0' || c > '9')
            throw EConvertError(QStringLiteral("'%1' is not a valid integer value")
                                    .arg(QString::fromLatin1(chars, int(count))));
        value = value * 10 + (c - '0');
    }
    return value;
}

template <std::size_t N> void TStatusDigits<N>::Set(int v) {
    for (std::size_t i = N; i-- > 0;) {
        Chars[i] = char('0' + v % 10);
        v /= 10;
    }
}
template struct TStatusDigits<3>;

TDeviceStatus TDeviceStatus::Initial() {
    TDeviceStatus s;
    auto* bytes = reinterpret_cast<unsigned char*>(&s);
    std::memset(bytes, 0, Size);
    std::memset(bytes + 18, '0', 6);
    std::memset(bytes + 28, 'X', 30);
    std::memset(bytes + 58, '0', 10);
    std::memset(bytes + 70, '0', 5);
    std::memset(bytes + 75, 'X', 10);
    return s;
}

bool TDeviceStatus::FromBody(const QByteArray& body, TDeviceStatus& out) {
    if (body.size() != Size)
        return false;
    std::memcpy(&out, body.constData(), Size);
    return true;
}

QByteArray TDeviceStatus::ToBody() const {
    return QByteArray(reinterpret_cast<const char*>(this), Size);
}

namespace {
const TModelLimits kModels[] = {
    {"KV-20", 100, 100, 35, 2500},
    {"KV-30", 155, 155, 35, 4000},
    {"KV-40", 175, 175, 35, 6000},
};
}

const TModelLimits* FindModelLimits(const QByteArray& model) {
    for (const auto& m : kModels)
        if (model == m.Model)
            return &m;
    return nullptr;
}

namespace {
// The output stages shut down at about 95 degrees, the power supply at about 90; mains is rated
// 230 V, and the supply holds full power from 185 V to 265 V.
const TModelThresholds kThresholds[] = {
    {"KV-20", 75, 85, 70, 80, 5, 185, 200, 250, 260, 5},
    {"KV-30", 75, 85, 70, 80, 5, 185, 200, 250, 260, 5},
    {"KV-40", 72, 82, 70, 80, 5, 185, 200, 250, 260, 5},
};
const TModelThresholds kCommonThresholds = {nullptr, 75, 85, 70, 80, 5, 185, 200, 250, 260, 5};
} // namespace

const TModelThresholds& FindModelThresholds(const QByteArray& model) {
    for (const auto& t : kThresholds)
        if (model == t.Model)
            return t;
    return kCommonThresholds;
}
