#include "journal/JournalRecorder.h"

#include "device/DeviceStatus.h"
#include "journal/Alarm.h"
#include "journal/Journal.h"
#include "model/Errors.h"
#include "model/GroupUnit.h"
#include "model/GroupsUnit.h"
#include "model/Session.h"

#include <QFileInfo>
#include <QLocale>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {
// What a channel's state byte says: 1 OK, 0 FAULT, anything else the amplifier's protection.
enum TChannelCondition { ChannelFault = 0, ChannelOk = 1, ChannelProtect = 2 };

int ChannelCondition(std::uint8_t state) {
    return state == 1 ? ChannelOk : state == 0 ? ChannelFault : ChannelProtect;
}

const char* const kChannelWords[] = {"fault", "OK", "protect"};

// The state words of the journal: the ones that fold when an amplifier flaps. A channel fault is
// recorded per channel from the status block, so the amplifier as a whole is "on-line" then.
QString LiveWord(TLiveState state) {
    switch (state) {
    case TLiveState::NoStatusYet:
        return QStringLiteral("waiting");
    case TLiveState::Online:
    case TLiveState::ChannelFault:
        return QStringLiteral("on-line");
    case TLiveState::NotAnswering:
        return QStringLiteral("not answering");
    case TLiveState::Offline:
        return QStringLiteral("off-line");
    }
    return QString();
}

TJournalSource JournalSource(TSourceKind kind) {
    switch (kind) {
    case TSourceKind::UserInterface:
        return TJournalSource::UserInterface;
    case TSourceKind::ProjectFile:
        return TJournalSource::ProjectFile;
    case TSourceKind::RemoteClient:
        return TJournalSource::RemoteClient;
    case TSourceKind::Schedule:
        return TJournalSource::Schedule;
    case TSourceKind::Amplifier:
        return TJournalSource::Amplifier;
    }
    return TJournalSource::Program;
}

// An operator's or a client's doing is a user action; the rest is information.
TJournalSeverity ChangeSeverity(const TChangeSource& source) {
    return source.Kind == TSourceKind::UserInterface || source.Kind == TSourceKind::RemoteClient
               ? TJournalSeverity::UserAction
               : TJournalSeverity::Info;
}

// "Volume_A" -> "Volume A"; "Mute_CHB" -> "Mute B"; "Volume_Lock" -> "Volume lock".
QString FieldText(const QString& field) {
    if (field.startsWith(QLatin1String("Mute_CH")))
        return QStringLiteral("Mute ") + field.right(1);
    if (field.endsWith(QLatin1String("_Lock")))
        return field.left(field.size() - 5) + QStringLiteral(" lock");
    if (field == QLatin1String("LongName"))
        return QStringLiteral("Long name");
    if (field == QLatin1String("ShortName"))
        return QStringLiteral("Short name");
    if (field == QLatin1String("IPAddress"))
        return QStringLiteral("Address");
    QString text = field;
    return text.replace(QLatin1Char('_'), QLatin1Char(' '));
}

QString ChannelOf(const QString& field) {
    if (field.endsWith(QLatin1String("_A")) || field == QLatin1String("Mute_CHA"))
        return QStringLiteral("A");
    if (field.endsWith(QLatin1String("_B")) || field == QLatin1String("Mute_CHB"))
        return QStringLiteral("B");
    return QString();
}

QString ValueText(const QString& field, const QVariant& value) {
    if (value.typeId() == QMetaType::Bool)
        return value.toBool() ? QStringLiteral("on") : QStringLiteral("off");
    if (value.typeId() == QMetaType::Double) {
        const QString number = QLocale::c().toString(value.toDouble(), 'f', 1);
        return field.startsWith(QLatin1String("Limiter")) ? number + QStringLiteral(" V")
                                                          : number + QStringLiteral(" dB");
    }
    return value.toString();
}

int ReadDigits(const TStatusDigits<3>& digits, bool& ok) {
    try {
        ok = true;
        return digits.Value();
    } catch (const EConvertError&) {
        ok = false;
        return 0;
    }
}

// The level (0 normal, 1 warning, 2 fault) of a reading that is worse the higher it is, with the
// thresholds crossed upwards at once and downwards only `hysteresis` below them.
int RisingLevel(double value, int current, double warning, double fault, double hysteresis) {
    const int reached = value >= fault ? 2 : value >= warning ? 1 : 0;
    if (reached >= current)
        return reached;
    const int held = value >= fault - hysteresis ? 2 : value >= warning - hysteresis ? 1 : 0;
    return std::min(current, held);
}

const char* const kLevelWords[] = {"normal", "warning", "fault"};
} // namespace

TJournalRecorder::TJournalRecorder(TJournal& journal, QObject* parent)
    : QObject(parent), FJournal(journal), FSettleTimer(new QTimer(this)) {
    FSettleTimer->setSingleShot(true);
    FSettleTimer->setInterval(SettleMs);
    connect(FSettleTimer, &QTimer::timeout, this, &TJournalRecorder::FlushSettings);
    // The feed would wrap each of the ten status blocks a second per amplifier into a change
    // with its times and names; the recorder takes them from the devices instead.
    FFeed.SetStatusBlocks(false);
    connect(&FFeed, &TChangeFeed::Changed, this, &TJournalRecorder::Record);
}

TJournalRecorder::TJournalRecorder(TJournal& journal, TSession& session, QObject* parent)
    : TJournalRecorder(journal, parent) {
    connect(&session, &TSession::RegistryReplacing, this, [this] {
        FlushSettings();
        Follow(nullptr);
    });
    connect(&session, &TSession::RegistryReplaced, this, [this](TGroups* now) {
        Follow(now);
        // Until the session says how it went, what comes from the project file is its loading.
        FLoading = now != nullptr;
    });
    connect(&session, &TSession::ProjectLoaded, this, &TJournalRecorder::ProjectLoaded);
    connect(&session, &TSession::ProjectSaved, this, [this](const QString& fileName) {
        TJournalEntry e = Base(TModelChange(), TJournalSeverity::UserAction, JournalEvent::Project);
        e.What = QStringLiteral("Project saved");
        e.NewValue = fileName;
        FJournal.Record(e);
    });
    connect(&session, &TSession::ProjectCleared, this, [this] {
        FLoading = false;
        TJournalEntry e = Base(TModelChange(), TJournalSeverity::UserAction, JournalEvent::Project);
        e.What = QStringLiteral("New project");
        FJournal.Record(e);
    });
    Follow(session.Registry());
}

TJournalRecorder::~TJournalRecorder() {
    FlushSettings();
    for (TWatch& watch : FWatches)
        if (std::optional<THistorySample> sample = watch.Minute.Finish())
            FJournal.RecordSample(*sample);
}

void TJournalRecorder::Follow(TGroups* registry) {
    ForgetAll();
    if (FRegistry) {
        FRegistry->disconnect(this);
        for (TGroup* group : FRegistry->Groups())
            for (TDevice* device : group->Devices())
                device->disconnect(this);
    }
    FRegistry = registry;
    FFeed.Follow(registry);
    if (!registry)
        return;
    connect(registry, &TGroups::DeviceDestroying, this, &TJournalRecorder::Forget);
    for (TGroup* group : registry->Groups())
        for (TDevice* device : group->Devices())
            connect(device, &TDevice::StatusReceived, this, &TJournalRecorder::RecordStatus);
}

TJournalEntry TJournalRecorder::Base(const TModelChange& change, TJournalSeverity severity,
                                     const QString& event) const {
    TJournalEntry e;
    e.TimeMs = FJournal.Now();
    e.LastTimeMs = e.TimeMs;
    e.Severity = severity;
    e.Event = event;
    e.Source = JournalSource(change.Source.Kind);
    e.Client = change.Source.Client;
    if (change.Group)
        e.Group = change.Group->LongName().isEmpty() ? change.Group->ShortName() : change.Group->LongName();
    else
        e.Group = change.GroupShortName;
    e.Address = change.DeviceAddress;
    if (change.Device) {
        e.ShortName = change.Device->ShortName();
        e.LongName = change.Device->LongName();
    } else {
        e.ShortName = change.DeviceShortName;
    }
    return e;
}

TJournalRecorder::TWatch& TJournalRecorder::Watch(TDevice* device) {
    auto it = FWatches.find(device);
    if (it == FWatches.end() || it->Address != device->IPAddress()) {
        // A new device, or one given another address: its conditions under the old one end.
        if (it != FWatches.end())
            Forget(device);
        it = FWatches.insert(device, TWatch());
        it->Address = device->IPAddress();
        it->Minute = THistoryMinute(it->Address);
        // Alarms still open from an earlier run (or project) clear when this run finds their
        // condition gone.
        const QString prefix = it->Address + QLatin1Char('/');
        for (const TAlarm& alarm : FJournal.Alarms())
            if (!alarm.Cleared() && alarm.Key.startsWith(prefix))
                it->Raised.insert(alarm.Key);
    }
    return *it;
}

void TJournalRecorder::Forget(TDevice* device) {
    auto it = FWatches.find(device);
    if (it == FWatches.end())
        return;
    for (const QString& key : std::as_const(it->Raised))
        FJournal.ClearAlarm(key);
    if (std::optional<THistorySample> sample = it->Minute.Finish())
        FJournal.RecordSample(*sample);
    FWatches.erase(it);
}

void TJournalRecorder::ForgetAll() {
    const QList<TDevice*> devices = FWatches.keys();
    for (TDevice* device : devices)
        Forget(device);
}

void TJournalRecorder::Record(const TModelChange& change) {
    switch (change.Kind) {
    case TChangeKind::DeviceStatus:
        // Status blocks come straight from the devices (see Follow).
        return;
    case TChangeKind::DeviceLiveState:
        RecordLiveState(change);
        return;
    case TChangeKind::DeviceLevel:
    case TChangeKind::DeviceMute:
    case TChangeKind::DeviceText:
    case TChangeKind::GroupLevel:
    case TChangeKind::GroupLock:
    case TChangeKind::GroupMute:
    case TChangeKind::GroupText:
    case TChangeKind::GlobalVolume:
    case TChangeKind::GlobalMute:
        RecordSetting(change);
        return;
    case TChangeKind::DeviceAdded:
        if (change.Device)
            connect(change.Device, &TDevice::StatusReceived, this, &TJournalRecorder::RecordStatus,
                    Qt::UniqueConnection);
        RecordStructure(change);
        return;
    case TChangeKind::GroupAdded:
    case TChangeKind::GroupRemoved:
    case TChangeKind::DeviceRemoved:
    case TChangeKind::DeviceMoved:
        RecordStructure(change);
        return;
    }
}

void TJournalRecorder::Raise(TWatch& watch, const QString& key, const TJournalEntry& entry) {
    watch.Raised.insert(key);
    FJournal.RaiseAlarm(key, entry);
}

void TJournalRecorder::Clear(TWatch& watch, const QString& key) {
    if (watch.Raised.remove(key))
        FJournal.ClearAlarm(key);
}

void TJournalRecorder::RecordLiveState(const TModelChange& change) {
    if (!change.Device)
        return;
    const QString from = LiveWord(change.Old.value<TLiveState>());
    const QString to = LiveWord(change.New.value<TLiveState>());
    if (from == to)
        return;
    TWatch& watch = Watch(change.Device);
    const TLiveState now = change.New.value<TLiveState>();
    const bool offline = now == TLiveState::Offline;
    const bool silent = now == TLiveState::NotAnswering;
    TJournalEntry e = Base(change,
                           offline  ? TJournalSeverity::Fault
                           : silent ? TJournalSeverity::Warning
                                    : TJournalSeverity::Info,
                           JournalEvent::State);
    e.What = offline                          ? QStringLiteral("Off-line")
             : silent                         ? QStringLiteral("Not answering")
             : now == TLiveState::NoStatusYet ? QStringLiteral("Answering, no status yet")
                                              : QStringLiteral("On-line");
    e.OldValue = from;
    e.NewValue = to;
    FJournal.Record(e);
    const QString offlineKey = AlarmKey(watch.Address, QStringLiteral("offline"));
    const QString silentKey = AlarmKey(watch.Address, QStringLiteral("not-answering"));
    if (offline)
        Raise(watch, offlineKey, e);
    else
        Clear(watch, offlineKey);
    if (silent)
        Raise(watch, silentKey, e);
    else
        Clear(watch, silentKey);
}

TModelChange TJournalRecorder::StatusChange(TDevice* device) {
    TModelChange change;
    change.Kind = TChangeKind::DeviceStatus;
    change.Group = device->Group();
    change.Device = device;
    change.GroupShortName = device->Group() ? device->Group()->ShortName() : QString();
    change.DeviceShortName = device->ShortName();
    change.DeviceAddress = device->IPAddress();
    change.Source = TChangeSource::Amplifier();
    return change;
}

void TJournalRecorder::RecordStatus(TDevice* device) {
    TWatch& watch = Watch(device);
    const TDeviceStatus& s = device->Status();
    if (std::optional<THistorySample> sample = watch.Minute.Add(FJournal.Now(), s))
        FJournal.RecordSample(*sample);

    const std::uint8_t states[2] = {s.PD_CHA_Status, s.PD_CHB_Status};
    for (int c = 0; c < 2; ++c) {
        const int now = ChannelCondition(states[c]);
        const int before = watch.Channel[size_t(c)];
        if (now == before)
            continue;
        watch.Channel[size_t(c)] = now;
        const QString channel = c == 0 ? QStringLiteral("A") : QStringLiteral("B");
        const QString faultKey = AlarmKey(watch.Address, QStringLiteral("channel-fault"), channel);
        const QString protectKey = AlarmKey(watch.Address, QStringLiteral("protect"), channel);
        // A first block with the channel OK is no news.
        if (before < 0 && now == ChannelOk)
            continue;
        TJournalEntry e =
            Base(StatusChange(device), now == ChannelOk ? TJournalSeverity::Info : TJournalSeverity::Fault,
                 JournalEvent::State);
        e.Channel = channel;
        e.What = now == ChannelOk      ? QStringLiteral("Channel OK")
                 : now == ChannelFault ? QStringLiteral("Channel fault")
                                       : QStringLiteral("Protect");
        e.OldValue = before < 0 ? QString() : QLatin1String(kChannelWords[before]);
        e.NewValue = QLatin1String(kChannelWords[now]);
        FJournal.Record(e);
        if (now == ChannelFault)
            Raise(watch, faultKey, e);
        else
            Clear(watch, faultKey);
        if (now == ChannelProtect)
            Raise(watch, protectKey, e);
        else
            Clear(watch, protectKey);
    }

    const bool first = !watch.SeenStatus;
    watch.SeenStatus = true;
    if (first)
        for (int c = 0; c < 2; ++c) {
            const QString channel = c == 0 ? QStringLiteral("A") : QStringLiteral("B");
            if (watch.Channel[size_t(c)] != ChannelFault)
                Clear(watch, AlarmKey(watch.Address, QStringLiteral("channel-fault"), channel));
            if (watch.Channel[size_t(c)] != ChannelProtect)
                Clear(watch, AlarmKey(watch.Address, QStringLiteral("protect"), channel));
        }

    const TStatusText<5>& model = s.PD_Model;
    if (!watch.Thresholds || std::memcmp(watch.Model.constData(), model.Chars, sizeof model.Chars) != 0) {
        watch.Model = QByteArray(model.Chars, int(sizeof model.Chars));
        watch.Thresholds = &FindModelThresholds(model.Bytes());
    }
    const TModelThresholds& t = *watch.Thresholds;
    bool ok = false;
    const int amplifier = ReadDigits(s.PD_Amplifier_Temperature, ok);
    if (ok)
        RecordThreshold(device, watch, watch.AmplifierTemperature,
                        RisingLevel(amplifier, watch.AmplifierTemperature, t.AmplifierWarningDegrees,
                                    t.AmplifierFaultDegrees, t.HysteresisDegrees),
                        "Amplifier temperature", amplifier, "\u00b0C", "temperature");
    const int psu = ReadDigits(s.PD_PSU_Temperature, ok);
    if (ok)
        RecordThreshold(device, watch, watch.PsuTemperature,
                        RisingLevel(psu, watch.PsuTemperature, t.PsuWarningDegrees, t.PsuFaultDegrees,
                                    t.HysteresisDegrees),
                        "Power supply temperature", psu, "\u00b0C", "psu-temperature");
    // An amplifier that measures no mains at all reports 0: that is no reading.
    const int mains = s.MainsVolts();
    if (mains > 0) {
        RecordThreshold(device, watch, watch.MainsHigh,
                        RisingLevel(mains, watch.MainsHigh, t.MainsHighWarningVolts, t.MainsHighFaultVolts,
                                    t.HysteresisVolts),
                        "Mains voltage high", mains, "V", "mains-high");
        // Low mains is worse the lower it is: the same rule on the negated reading.
        RecordThreshold(device, watch, watch.MainsLow,
                        RisingLevel(-mains, watch.MainsLow, -t.MainsLowWarningVolts, -t.MainsLowFaultVolts,
                                    t.HysteresisVolts),
                        "Mains voltage low", mains, "V", "mains-low");
    }
    if (first) {
        const std::pair<const char*, int> levels[] = {{"temperature", watch.AmplifierTemperature},
                                                      {"psu-temperature", watch.PsuTemperature},
                                                      {"mains-high", watch.MainsHigh},
                                                      {"mains-low", watch.MainsLow}};
        for (const auto& [condition, level] : levels)
            if (level == 0)
                Clear(watch, AlarmKey(watch.Address, QLatin1String(condition)));
    }
}

void TJournalRecorder::RecordThreshold(TDevice* device, TWatch& watch, int& level, int now, const char* what,
                                       int reading, const char* unit, const char* condition) {
    if (now == level)
        return;
    const int before = level;
    level = now;
    TJournalEntry e = Base(StatusChange(device),
                           now == 2   ? TJournalSeverity::Fault
                           : now == 1 ? TJournalSeverity::Warning
                                      : TJournalSeverity::Info,
                           JournalEvent::Threshold);
    e.What = QStringLiteral("%1: %2 (%3 %4)")
                 .arg(QLatin1String(what), QLatin1String(kLevelWords[now]), QString::number(reading),
                      QString::fromUtf8(unit));
    e.OldValue = QLatin1String(kLevelWords[before]);
    e.NewValue = QLatin1String(kLevelWords[now]);
    FJournal.Record(e);
    const QString key = AlarmKey(watch.Address, QLatin1String(condition));
    if (now > 0)
        Raise(watch, key, e);
    else
        Clear(watch, key);
}

void TJournalRecorder::RecordSetting(const TModelChange& change) {
    // What a project file sets while it loads is the project's, summed up when it is open.
    if (FLoading && change.Source.Kind == TSourceKind::ProjectFile)
        return;
    if (change.Kind == TChangeKind::DeviceLevel && change.Group &&
        change.Source.Kind != TSourceKind::Amplifier) {
        // A level handed down by the group: the group's entry says it once for all its members.
        for (int i = 0; i < 6; ++i)
            if (change.Field == QLatin1String(FieldName(TLevel(i))) &&
                change.Group->Level(TLevel(i)) == change.New.toDouble())
                return;
    }
    if (change.Kind == TChangeKind::DeviceText && change.Field == QLatin1String("IPAddress") &&
        change.Device) {
        // The conditions watched under the old address end; the device is watched anew.
        Forget(change.Device);
    }
    const bool address = change.Kind == TChangeKind::DeviceText && change.Field == QLatin1String("IPAddress");
    const bool name = change.Kind == TChangeKind::DeviceText || change.Kind == TChangeKind::GroupText;
    const bool mute = change.Kind == TChangeKind::DeviceMute || change.Kind == TChangeKind::GroupMute ||
                      change.Kind == TChangeKind::GlobalMute;
    TJournalEntry e = Base(change, ChangeSeverity(change.Source),
                           address ? JournalEvent::Address
                           : name  ? JournalEvent::Name
                           : mute  ? JournalEvent::Mute
                                   : JournalEvent::Setting);
    e.Channel = ChannelOf(change.Field);
    const bool global = change.Kind == TChangeKind::GlobalVolume || change.Kind == TChangeKind::GlobalMute;
    e.What = (global ? QStringLiteral("Global ") + change.Field.toLower() : FieldText(change.Field));
    e.OldValue = ValueText(change.Field, change.Old);
    e.NewValue = ValueText(change.Field, change.New);
    if (change.Kind != TChangeKind::DeviceLevel && change.Kind != TChangeKind::GroupLevel &&
        change.Kind != TChangeKind::GlobalVolume) {
        FJournal.Record(e);
        return;
    }
    // Levels settle first: one entry for a fader's whole movement.
    const QChar sep(0x1f);
    const QString key = e.Address + sep + e.Group + sep + e.What + sep + change.Source.Text();
    auto it = FSettling.find(key);
    if (it == FSettling.end())
        FSettling.emplace(key, e);
    else
        it->second.NewValue = e.NewValue;
    if (!FSettleTimer->isActive())
        FSettleTimer->start();
}

void TJournalRecorder::FlushSettings() {
    FSettleTimer->stop();
    for (auto& [key, entry] : FSettling)
        if (entry.OldValue != entry.NewValue)
            FJournal.Record(entry);
    FSettling.clear();
}

void TJournalRecorder::RecordStructure(const TModelChange& change) {
    if (FLoading && change.Source.Kind == TSourceKind::ProjectFile)
        return;
    TJournalEntry e = Base(change, ChangeSeverity(change.Source), JournalEvent::Setting);
    switch (change.Kind) {
    case TChangeKind::GroupAdded:
        e.What = QStringLiteral("Group added");
        break;
    case TChangeKind::GroupRemoved:
        e.What = QStringLiteral("Group removed");
        break;
    case TChangeKind::DeviceAdded:
        e.What = QStringLiteral("Amplifier added");
        break;
    case TChangeKind::DeviceRemoved:
        e.What = QStringLiteral("Amplifier removed");
        if (change.Device)
            Forget(change.Device);
        break;
    case TChangeKind::DeviceMoved:
        e.What = QStringLiteral("Amplifier moved");
        e.OldValue = change.Old.toString();
        e.NewValue = change.New.toString();
        break;
    default:
        return;
    }
    FJournal.Record(e);
}

void TJournalRecorder::ProjectLoaded(const QString& fileName, bool ok, const QString& error) {
    FLoading = false;
    TJournalEntry e = Base(TModelChange(), ok ? TJournalSeverity::UserAction : TJournalSeverity::Warning,
                           JournalEvent::Project);
    e.NewValue = fileName;
    if (ok) {
        int devices = 0;
        const QList<TGroup*> groups = FRegistry ? FRegistry->Groups() : QList<TGroup*>();
        for (const TGroup* group : groups)
            devices += int(group->Devices().size());
        e.What = QStringLiteral("Project opened: %1 groups, %2 amplifiers").arg(groups.size()).arg(devices);
    } else {
        e.What = QStringLiteral("Project could not be opened: ") + error;
    }
    FJournal.Record(e);
}
