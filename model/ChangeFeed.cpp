#include "model/ChangeFeed.h"

#include "model/GroupUnit.h"
#include "model/GroupsUnit.h"
#include "model/Session.h"

TChangeFeed::TChangeFeed(QObject* parent) : QObject(parent) {}

TChangeFeed::TChangeFeed(TSession& session, QObject* parent) : QObject(parent) {
    connect(&session, &TSession::RegistryReplacing, this, [this] { Follow(nullptr); });
    connect(&session, &TSession::RegistryReplaced, this, &TChangeFeed::Follow);
    Follow(session.Registry());
}

void TChangeFeed::Follow(TGroups* registry) {
    if (FRegistry) {
        // Every connection of this feed to the old registry, its groups and its devices goes.
        FRegistry->disconnect(this);
        for (TGroup* group : FRegistry->Groups()) {
            group->disconnect(this);
            for (TDevice* device : group->Devices())
                device->disconnect(this);
        }
    }
    FRegistry = registry;
    if (!registry)
        return;
    connect(registry, &TGroups::VolumeChanged, this,
            [this](double old, double now, const TChangeSource& source) {
                Emit(TChangeKind::GlobalVolume, nullptr, nullptr, QStringLiteral("Volume"), old, now, source);
            });
    connect(registry, &TGroups::MuteChanged, this, [this](bool now, const TChangeSource& source) {
        Emit(TChangeKind::GlobalMute, nullptr, nullptr, QStringLiteral("Mute"), !now, now, source);
    });
    connect(registry, &TGroups::GroupAdded, this, [this](TGroup* group, const TChangeSource& source) {
        AttachGroup(group);
        Emit(TChangeKind::GroupAdded, group, nullptr, QString(), QVariant(), QVariant(), source);
    });
    connect(registry, &TGroups::DeviceAdded, this, [this](TDevice* device, const TChangeSource& source) {
        AttachDevice(device);
        Emit(TChangeKind::DeviceAdded, device->Group(), device, QString(), QVariant(), QVariant(), source);
    });
    connect(registry, &TGroups::DeviceMoved, this,
            [this](TDevice* device, TGroup* from, TGroup* to, const TChangeSource& source) {
                Emit(TChangeKind::DeviceMoved, to, device, QStringLiteral("Group"),
                     from ? from->ShortName() : QString(), to->ShortName(), source);
            });
    connect(registry, &TGroups::GroupRemoved, this, [this](TGroup* group, const TChangeSource& source) {
        Emit(TChangeKind::GroupRemoved, group, nullptr, QString(), QVariant(), QVariant(), source);
    });
    connect(registry, &TGroups::DeviceRemoved, this, [this](TDevice* device, const TChangeSource& source) {
        Emit(TChangeKind::DeviceRemoved, device->Group(), device, QString(), QVariant(), QVariant(), source);
    });
    for (TGroup* group : registry->Groups()) {
        AttachGroup(group);
        for (TDevice* device : group->Devices())
            AttachDevice(device);
    }
}

void TChangeFeed::AttachGroup(TGroup* group) {
    connect(group, &TGroup::LevelChanged, this,
            [this](TGroup* g, TLevel level, double old, double now, const TChangeSource& source) {
                Emit(TChangeKind::GroupLevel, g, nullptr, QLatin1String(FieldName(level)), old, now, source);
            });
    connect(group, &TGroup::LockChanged, this,
            [this](TGroup* g, TLock lock, bool now, const TChangeSource& source) {
                Emit(TChangeKind::GroupLock, g, nullptr, QLatin1String(FieldName(lock)), !now, now, source);
            });
    connect(group, &TGroup::MuteChanged, this, [this](TGroup* g, bool now, const TChangeSource& source) {
        Emit(TChangeKind::GroupMute, g, nullptr, QStringLiteral("Mute"), !now, now, source);
    });
    connect(group, &TGroup::TextChanged, this,
            [this](TGroup* g, TGroupText text, const QString& old, const QString& now,
                   const TChangeSource& source) {
                Emit(TChangeKind::GroupText, g, nullptr, QLatin1String(FieldName(text)), old, now, source);
            });
}

void TChangeFeed::AttachDevice(TDevice* device) {
    connect(device, &TDevice::LevelChanged, this,
            [this](TDevice* d, TLevel level, double old, double now, const TChangeSource& source) {
                Emit(TChangeKind::DeviceLevel, d->Group(), d, QLatin1String(FieldName(level)), old, now,
                     source);
            });
    connect(device, &TDevice::MuteChanged, this,
            [this](TDevice* d, TChannel channel, bool now, const TChangeSource& source) {
                Emit(TChangeKind::DeviceMute, d->Group(), d, QLatin1String(FieldName(channel)), !now, now,
                     source);
            });
    connect(device, &TDevice::TextChanged, this,
            [this](TDevice* d, TDeviceText text, const QString& old, const QString& now,
                   const TChangeSource& source) {
                Emit(TChangeKind::DeviceText, d->Group(), d, QLatin1String(FieldName(text)), old, now,
                     source);
            });
    connect(device, &TDevice::LiveStateChanged, this, [this](TDevice* d, TLiveState old, TLiveState now) {
        Emit(TChangeKind::DeviceLiveState, d->Group(), d, QStringLiteral("LiveState"),
             QVariant::fromValue(old), QVariant::fromValue(now), TChangeSource::Amplifier());
    });
    if (FStatusBlocks)
        connect(device, &TDevice::StatusReceived, this, [this](TDevice* d) {
            Emit(TChangeKind::DeviceStatus, d->Group(), d, QString(), QVariant(), QVariant(),
                 TChangeSource::Amplifier());
        });
}

void TChangeFeed::Emit(TChangeKind kind, TGroup* group, TDevice* device, const QString& field,
                       const QVariant& old, const QVariant& now, const TChangeSource& source) {
    TModelChange change;
    change.Kind = kind;
    change.Group = group;
    change.Device = device;
    if (group)
        change.GroupShortName = group->ShortName();
    if (device) {
        change.DeviceShortName = device->ShortName();
        change.DeviceAddress = device->IPAddress();
    }
    change.Field = field;
    change.Old = old;
    change.New = now;
    change.Source = source;
    const TDeviceClock& clock = TDeviceClock::Current();
    change.MonotonicMs = clock.MonotonicMs();
    change.Utc = clock.WallTime().toUTC(); // already UTC from the system's clock: no conversion
    emit Changed(change);
}
