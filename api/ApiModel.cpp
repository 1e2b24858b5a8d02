#include "api/ApiModel.h"

#include "api/ApiError.h"
#include "api/ApiLogging.h"
#include "device/DeviceUnit.h"
#include "device/LiveStateWord.h"
#include "model/ChangeSource.h"
#include "model/Errors.h"
#include "model/GroupUnit.h"
#include "model/GroupsUnit.h"

#include <QDateTime>

#include <algorithm>
#include <array>
#include <cmath>
#include <optional>

namespace {
// One A/B pair of the group panel: its names, range and how it reaches the group.
struct TSection {
    QLatin1String Name;
    double Min;
    double Max;
    double (TGroup::*GetA)() const;
    double (TGroup::*GetB)() const;
    void (TGroup::*SetA)(double, const TChangeSource&);
    void (TGroup::*SetB)(double, const TChangeSource&);
    bool (TGroup::*GetLock)() const;
    void (TGroup::*SetLock)(bool, const TChangeSource&);
};

const std::array<TSection, 3> kSections{{
    {QLatin1String("volume"), TApiModel::MinLevel, TApiModel::MaxLevel, &TGroup::Volume_A, &TGroup::Volume_B,
     &TGroup::SetVolume_A, &TGroup::SetVolume_B, &TGroup::Volume_Lock, &TGroup::SetVolume_Lock},
    {QLatin1String("sensitivity"), TApiModel::MinLevel, TApiModel::MaxLevel, &TGroup::Sensitivity_A,
     &TGroup::Sensitivity_B, &TGroup::SetSensitivity_A, &TGroup::SetSensitivity_B, &TGroup::Sensitivity_Lock,
     &TGroup::SetSensitivity_Lock},
    {QLatin1String("limiter"), TApiModel::MinLimiter, TApiModel::MaxLimiter, &TGroup::Limiter_A,
     &TGroup::Limiter_B, &TGroup::SetLimiter_A, &TGroup::SetLimiter_B, &TGroup::Limiter_Lock,
     &TGroup::SetLimiter_Lock},
}};

// What a request asks of one section.
struct TSectionPlan {
    std::optional<bool> Lock;
    std::optional<double> A;
    std::optional<double> B;
    std::optional<double> Both;
};

// Fields a client reads but cannot write.
bool ReadOnlyGroupField(const QString& key) {
    return key == QLatin1String("short_name") || key == QLatin1String("long_name") ||
           key == QLatin1String("devices");
}

bool ReadOnlyDeviceField(const QString& key) {
    for (const char* name :
         {"address", "short_name", "long_name", "group", "state", "offline_reason", "status_count",
          "last_status", "offline_since", "wanted", "held", "out_of_line", "readings"})
        if (key == QLatin1String(name))
            return true;
    return false;
}

double Number(const QString& key, const QJsonValue& value) {
    if (!value.isDouble() || !std::isfinite(value.toDouble()))
        throw EApiError(400, QStringLiteral("'%1' takes a number").arg(key));
    return value.toDouble();
}

bool Flag(const QString& key, const QJsonValue& value) {
    if (!value.isBool())
        throw EApiError(400, QStringLiteral("'%1' takes true or false").arg(key));
    return value.toBool();
}

// Sorts the fields of a group request into its sections; refuses unknown, read-only and
// ill-typed fields. `allowLocks`: a step has no lock or mute fields.
std::array<TSectionPlan, 3> PlanSections(const QJsonObject& fields, bool allowLocks,
                                         std::optional<bool>& mute) {
    std::array<TSectionPlan, 3> plans;
    for (auto it = fields.begin(); it != fields.end(); ++it) {
        const QString key = it.key();
        if (allowLocks && key == QLatin1String("mute")) {
            mute = Flag(key, it.value());
            continue;
        }
        bool known = false;
        for (size_t i = 0; i < kSections.size() && !known; ++i) {
            const QString name = kSections[i].Name;
            TSectionPlan& plan = plans[i];
            known = true;
            if (key == name)
                plan.Both = Number(key, it.value());
            else if (key == name + QLatin1String("_a"))
                plan.A = Number(key, it.value());
            else if (key == name + QLatin1String("_b"))
                plan.B = Number(key, it.value());
            else if (allowLocks && key == name + QLatin1String("_lock"))
                plan.Lock = Flag(key, it.value());
            else
                known = false;
        }
        if (!known && allowLocks && ReadOnlyGroupField(key))
            throw EApiError(400, QStringLiteral("'%1' cannot be written here").arg(key));
        if (!known)
            throw EApiError(400, QStringLiteral("unknown field '%1'").arg(key));
    }
    for (size_t i = 0; i < kSections.size(); ++i)
        if (plans[i].Both && (plans[i].A || plans[i].B))
            throw EApiError(400,
                            QStringLiteral("give '%1' or '%1_a'/'%1_b', not both").arg(kSections[i].Name));
    return plans;
}

// The values a section ends with, as the group panel would leave them.
struct TSectionTarget {
    bool Lock;
    double A;
    double B;
};

TSectionTarget Target(const TGroup& group, const TSection& s, const TSectionPlan& plan, bool relative) {
    const auto clamp = [&](double x) { return std::clamp(x, s.Min, s.Max); };
    const bool lockBefore = (group.*s.GetLock)();
    TSectionTarget t{plan.Lock.value_or(lockBefore), (group.*s.GetA)(), (group.*s.GetB)()};
    if (t.Lock && !lockBefore)
        t.B = t.A; // locking brings B to A
    if (plan.Both) {
        t.A = clamp(relative ? t.A + *plan.Both : *plan.Both);
        t.B = t.Lock ? t.A : clamp(relative ? t.B + *plan.Both : *plan.Both);
    } else if (plan.A && plan.B) {
        t.A = clamp(relative ? t.A + *plan.A : *plan.A);
        t.B = clamp(relative ? t.B + *plan.B : *plan.B);
        if (t.Lock && t.A != t.B)
            throw EApiError(409,
                            QStringLiteral("%1 is locked: A and B cannot take different values").arg(s.Name));
    } else if (plan.A) {
        t.A = clamp(relative ? t.A + *plan.A : *plan.A);
        if (t.Lock)
            t.B = t.A;
    } else if (plan.B) {
        t.B = clamp(relative ? t.B + *plan.B : *plan.B);
        if (t.Lock)
            t.A = t.B;
    }
    return t;
}

void ApplyGroup(TGroup& group, const QJsonObject& fields, bool relative, const QString& client) {
    std::optional<bool> mute;
    const std::array<TSectionPlan, 3> plans = PlanSections(fields, !relative, mute);
    std::array<TSectionTarget, 3> targets;
    for (size_t i = 0; i < kSections.size(); ++i)
        targets[i] = Target(group, kSections[i], plans[i], relative);
    // Everything is checked: from here on nothing refuses.
    qCDebug(lcApi) << client << (relative ? "steps group" : "writes group") << group.ShortName() << fields;
    const TChangeSource source = TChangeSource::Remote(client);
    for (size_t i = 0; i < kSections.size(); ++i) {
        const TSection& s = kSections[i];
        if (targets[i].Lock != (group.*s.GetLock)())
            (group.*s.SetLock)(targets[i].Lock, source);
        (group.*s.SetA)(targets[i].A, source);
        (group.*s.SetB)(targets[i].B, source);
    }
    if (mute)
        group.SetMute(*mute, source);
}

// The global volume a request asks for (clamped to the global fader's range), if any.
std::optional<double> GlobalVolume(const QJsonObject& fields, bool relative, double current,
                                   std::optional<bool>* mute) {
    std::optional<double> volume;
    for (auto it = fields.begin(); it != fields.end(); ++it) {
        if (it.key() == QLatin1String("volume"))
            volume = std::clamp(Number(it.key(), it.value()) + (relative ? current : 0.0),
                                TApiModel::MinGlobalVolume, TApiModel::MaxGlobalVolume);
        else if (!relative && mute && it.key() == QLatin1String("mute"))
            *mute = Flag(it.key(), it.value());
        else
            throw EApiError(400, QStringLiteral("unknown field '%1'").arg(it.key()));
    }
    return volume;
}

QJsonValue Time(const QDateTime& time) {
    return time.isValid() ? QJsonValue(time.toUTC().toString(Qt::ISODateWithMs)) : QJsonValue();
}

double Rounded(double x) {
    return std::round(x * 100.0) / 100.0;
}

// A digit field the amplifier may have garbled: null instead of a number.
template <typename F> QJsonValue Digits(F read) {
    try {
        return read();
    } catch (const EFadelinkError&) {
        return QJsonValue();
    }
}

QJsonObject Levels(double volumeA, double volumeB, double sensitivityA, double sensitivityB, double limiterA,
                   double limiterB) {
    const QStringList& words = TApiModel::LevelWords();
    const double values[] = {volumeA, volumeB, sensitivityA, sensitivityB, limiterA, limiterB};
    QJsonObject json;
    for (int i = 0; i < 6; ++i)
        json.insert(words[i], values[i]);
    return json;
}
} // namespace

const QStringList& TApiModel::LevelWords() {
    static const QStringList words{QStringLiteral("volume_a"),      QStringLiteral("volume_b"),
                                   QStringLiteral("sensitivity_a"), QStringLiteral("sensitivity_b"),
                                   QStringLiteral("limiter_a"),     QStringLiteral("limiter_b")};
    return words;
}

TGroups& TApiModel::Registry() const {
    TGroups* registry = FRegistry ? FRegistry() : nullptr;
    if (!registry)
        throw EApiError(404, QStringLiteral("no project is open"));
    return *registry;
}

QString TApiModel::StateWord(const TDevice& device) {
    return StateWord(device.LiveState());
}

QString TApiModel::StateWord(TLiveState state) {
    return LiveStateWord(state);
}

QJsonObject TApiModel::ProjectJson() const {
    QJsonArray groups;
    for (const TGroup* group : Registry().Groups())
        groups.append(GroupJson(*group, true));
    return {{QStringLiteral("global"), GlobalJson()}, {QStringLiteral("groups"), groups}};
}

QJsonObject TApiModel::GroupJson(const TGroup& group, bool deviceSummaries) const {
    QJsonObject json = Levels(group.Volume_A(), group.Volume_B(), group.Sensitivity_A(),
                              group.Sensitivity_B(), group.Limiter_A(), group.Limiter_B());
    json.insert(QStringLiteral("short_name"), group.ShortName());
    json.insert(QStringLiteral("long_name"), group.LongName());
    json.insert(QStringLiteral("volume_lock"), group.Volume_Lock());
    json.insert(QStringLiteral("sensitivity_lock"), group.Sensitivity_Lock());
    json.insert(QStringLiteral("limiter_lock"), group.Limiter_Lock());
    json.insert(QStringLiteral("mute"), group.Mute());
    QJsonArray devices;
    for (const TDevice* device : group.Devices()) {
        if (deviceSummaries)
            devices.append(QJsonObject{{QStringLiteral("address"), device->IPAddress()},
                                       {QStringLiteral("short_name"), device->ShortName()},
                                       {QStringLiteral("long_name"), device->LongName()},
                                       {QStringLiteral("state"), StateWord(*device)}});
        else
            devices.append(device->IPAddress());
    }
    json.insert(QStringLiteral("devices"), devices);
    return json;
}

QJsonArray TApiModel::DevicesJson() const {
    QJsonArray devices;
    for (const TGroup* group : Registry().Groups())
        for (const TDevice* device : group->Devices())
            devices.append(QJsonObject{{QStringLiteral("address"), device->IPAddress()},
                                       {QStringLiteral("short_name"), device->ShortName()},
                                       {QStringLiteral("long_name"), device->LongName()},
                                       {QStringLiteral("group"), group->ShortName()},
                                       {QStringLiteral("state"), StateWord(*device)}});
    return devices;
}

QJsonObject TApiModel::DeviceJson(const TDevice& device) const {
    QJsonObject wanted = Levels(device.Volume_A(), device.Volume_B(), device.Sensitivity_A(),
                                device.Sensitivity_B(), device.Limiter_A(), device.Limiter_B());
    wanted.insert(QStringLiteral("mute_a"), device.Mute_CHA());
    wanted.insert(QStringLiteral("mute_b"), device.Mute_CHB());

    QJsonValue held;
    QJsonArray outOfLine;
    if (device.StatusCount() > 0) {
        const TDeviceStatus& s = device.Status();
        QJsonObject h = Levels(LevelFromCode(s.PD_CHA_Volume), LevelFromCode(s.PD_CHB_Volume),
                               LevelFromCode(s.PD_CHA_Sensitivity), LevelFromCode(s.PD_CHB_Sensitivity),
                               s.PD_CHA_Limiter, s.PD_CHB_Limiter);
        h.insert(QStringLiteral("mute_a"), s.PD_CHA_Mute_Off == 0);
        h.insert(QStringLiteral("mute_b"), s.PD_CHB_Mute_Off == 0);
        h.insert(QStringLiteral("short_name"), s.PD_DeviceName.Text());
        h.insert(QStringLiteral("group"), s.PD_GroupName.Text());
        held = h;
        for (int i = 0; i < int(LevelWords().size()); ++i)
            if (device.SettingOutOfLine(i))
                outOfLine.append(LevelWords()[i]);
    }
    return {{QStringLiteral("address"), device.IPAddress()},
            {QStringLiteral("short_name"), device.ShortName()},
            {QStringLiteral("long_name"), device.LongName()},
            {QStringLiteral("group"), device.Group() ? device.Group()->ShortName() : QString()},
            {QStringLiteral("state"), StateWord(device)},
            {QStringLiteral("offline_reason"), device.OfflineReason()},
            {QStringLiteral("status_count"), double(device.StatusCount())},
            {QStringLiteral("last_status"), Time(device.LastStatusTime())},
            {QStringLiteral("offline_since"), device.Offline() ? Time(device.OfflineSince()) : QJsonValue()},
            {QStringLiteral("wanted"), wanted},
            {QStringLiteral("held"), held},
            {QStringLiteral("out_of_line"), outOfLine},
            {QStringLiteral("readings"), ReadingsJson(device)}};
}

QJsonValue TApiModel::ReadingsJson(const TDevice& device) const {
    if (device.StatusCount() == 0)
        return QJsonValue();
    const TDeviceStatus& s = device.Status();
    return QJsonObject{
        {QStringLiteral("model"), s.PD_Model.Text()},
        {QStringLiteral("serial"), s.PD_Serial_Number.Text()},
        {QStringLiteral("channel_ok_a"), s.PD_CHA_Status != 0},
        {QStringLiteral("channel_ok_b"), s.PD_CHB_Status != 0},
        {QStringLiteral("output_peak_voltage_a"), Rounded(RawToVolts(s.PD_CHA_Output_Peak_Voltage.Value()))},
        {QStringLiteral("output_peak_voltage_b"), Rounded(RawToVolts(s.PD_CHB_Output_Peak_Voltage.Value()))},
        {QStringLiteral("output_average_voltage_a"),
         Rounded(RawToVolts(s.PD_CHA_Output_Average_Voltage.Value()))},
        {QStringLiteral("output_average_voltage_b"),
         Rounded(RawToVolts(s.PD_CHB_Output_Average_Voltage.Value()))},
        {QStringLiteral("output_average_current_a"),
         Rounded(RawToAmperes(s.PD_CHA_Output_Average_Current.Value()))},
        {QStringLiteral("output_average_current_b"),
         Rounded(RawToAmperes(s.PD_CHB_Output_Average_Current.Value()))},
        {QStringLiteral("amplifier_temperature"), Digits([&] { return s.PD_Amplifier_Temperature.Value(); })},
        {QStringLiteral("psu_temperature"), Digits([&] { return s.PD_PSU_Temperature.Value(); })},
        {QStringLiteral("fan_percent"), Digits([&] { return s.FanSpeedPercent(); })},
        {QStringLiteral("mains_volts"), s.MainsVolts()},
        {QStringLiteral("impedance_a"), s.PD_Speaker_Impedance_CHA.Text()},
        {QStringLiteral("impedance_b"), s.PD_Speaker_Impedance_CHB.Text()},
    };
}

QJsonArray TApiModel::MetersSince(QHash<QString, quint64>& seen) const {
    QJsonArray devices;
    for (const TGroup* group : Registry().Groups())
        for (const TDevice* device : group->Devices()) {
            quint64& count = seen[device->IPAddress()];
            if (device->StatusCount() == 0 || device->StatusCount() == count)
                continue;
            count = device->StatusCount();
            devices.append(QJsonObject{{QStringLiteral("address"), device->IPAddress()},
                                       {QStringLiteral("state"), StateWord(*device)},
                                       {QStringLiteral("readings"), ReadingsJson(*device)}});
        }
    return devices;
}

QJsonObject TApiModel::GlobalJson() const {
    const TGroups& registry = Registry();
    return {{QStringLiteral("volume"), registry.Volume()}, {QStringLiteral("mute"), registry.Mute()}};
}

TGroup& TApiModel::FindGroup(const QString& shortName) const {
    TGroup* group = shortName.isEmpty() ? nullptr : Registry().FindGroup(shortName);
    if (!group)
        throw EApiError(404, QStringLiteral("no group '%1'").arg(shortName));
    return *group;
}

TDevice& TApiModel::FindDevice(const QString& address) const {
    for (const TGroup* group : Registry().Groups())
        for (TDevice* device : group->Devices())
            if (device->IPAddress() == address)
                return *device;
    throw EApiError(404, QStringLiteral("no device at '%1'").arg(address));
}

void TApiModel::WriteGroup(TGroup& group, const QJsonObject& fields, const QString& client) const {
    ApplyGroup(group, fields, false, client);
}

void TApiModel::StepGroup(TGroup& group, const QJsonObject& steps, const QString& client) const {
    ApplyGroup(group, steps, true, client);
}

void TApiModel::WriteGlobal(const QJsonObject& fields, const QString& client) const {
    TGroups& registry = Registry();
    std::optional<bool> mute;
    const std::optional<double> volume = GlobalVolume(fields, false, registry.Volume(), &mute);
    qCDebug(lcApi) << client << "writes global" << fields;
    if (volume)
        registry.SetVolume(*volume, TChangeSource::Remote(client));
    if (mute)
        registry.SetMute(*mute, TChangeSource::Remote(client));
}

void TApiModel::StepGlobal(const QJsonObject& steps, const QString& client) const {
    TGroups& registry = Registry();
    const std::optional<double> volume = GlobalVolume(steps, true, registry.Volume(), nullptr);
    qCDebug(lcApi) << client << "steps global" << steps;
    if (volume)
        registry.SetVolume(*volume, TChangeSource::Remote(client));
}

void TApiModel::WriteDevice(TDevice& device, const QJsonObject& fields, const QString& client) const {
    std::optional<bool> muteA;
    std::optional<bool> muteB;
    for (auto it = fields.begin(); it != fields.end(); ++it) {
        if (it.key() == QLatin1String("mute_a"))
            muteA = Flag(it.key(), it.value());
        else if (it.key() == QLatin1String("mute_b"))
            muteB = Flag(it.key(), it.value());
        else if (ReadOnlyDeviceField(it.key()))
            throw EApiError(400, QStringLiteral("'%1' cannot be written here").arg(it.key()));
        else
            throw EApiError(400, QStringLiteral("unknown field '%1'").arg(it.key()));
    }
    qCDebug(lcApi) << client << "writes device" << device.IPAddress() << fields;
    if (muteA)
        device.SetMute_CHA(*muteA, TChangeSource::Remote(client));
    if (muteB)
        device.SetMute_CHB(*muteB, TChangeSource::Remote(client));
}
