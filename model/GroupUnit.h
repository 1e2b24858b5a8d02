#pragma once

#include "model/ChangeSource.h"
#include "model/ModelTypes.h"

#include <QList>
#include <QObject>
#include <QString>

class QStandardItem;
class TDevice;
class TGroups;
class XmlReader;

// A named set of amplifiers sharing one set of channel settings. Owned by the registry; owns
// its member devices in member order. Every level set on the group is handed to each member.
class TGroup : public QObject {
    Q_OBJECT
public:
    // Groups are created only through TGroups::FindOrAddGroup.
    explicit TGroup(TGroups* registry);
    ~TGroup() override;

    TGroups* Registry() const { return FRegistry; }
    const QString& LongName() const { return FLongName; }
    const QString& ShortName() const { return FShortName; }
    double Volume_A() const { return FVolume_A; }
    double Sensitivity_A() const { return FSensitivity_A; }
    double Limiter_A() const { return FLimiter_A; }
    double Volume_B() const { return FVolume_B; }
    double Sensitivity_B() const { return FSensitivity_B; }
    double Limiter_B() const { return FLimiter_B; }
    double Level(TLevel level) const;
    bool Volume_Lock() const { return FVolume_Lock; }
    bool Sensitivity_Lock() const { return FSensitivity_Lock; }
    bool Limiter_Lock() const { return FLimiter_Lock; }
    bool Lock(TLock lock) const;
    // The group mute: members read it in their next Reconcile.
    bool Mute() const { return FMute; }
    QStandardItem* GroupNode() const { return FGroupNode; }

    // Every setter emits its change signal once when the stored value changes, and nothing when
    // it stays. Both names keep at most 255 characters, as a device's names do; the short name
    // is stored with a-z as A-Z.
    void SetLongName(const QString& text, const TChangeSource& source = TChangeSource());
    void SetShortName(const QString& text, const TChangeSource& source = TChangeSource());
    void RefreshNodeText();

    // A level set on the group is stored as it is and handed, with the same source, to every
    // member, which clamps it to what it can hold.
    void SetVolume_A(double x, const TChangeSource& source = TChangeSource());
    void SetVolume_B(double x, const TChangeSource& source = TChangeSource());
    void SetSensitivity_A(double x, const TChangeSource& source = TChangeSource());
    void SetSensitivity_B(double x, const TChangeSource& source = TChangeSource());
    void SetLimiter_A(double x, const TChangeSource& source = TChangeSource());
    void SetLimiter_B(double x, const TChangeSource& source = TChangeSource());
    void SetLevel(TLevel level, double x, const TChangeSource& source = TChangeSource());

    void SetVolume_Lock(bool on, const TChangeSource& source = TChangeSource());
    void SetSensitivity_Lock(bool on, const TChangeSource& source = TChangeSource());
    void SetLimiter_Lock(bool on, const TChangeSource& source = TChangeSource());
    void SetLock(TLock lock, bool on, const TChangeSource& source = TChangeSource());

    void SetMute(bool on, const TChangeSource& source = TChangeSource());

    // Moves a device (of any group, this one included) to the end of this group, node and
    // member list alike; the device keeps its own levels and mutes. The registry announces the
    // move (DeviceMoved) unless the device was the last of this group already.
    void AdoptDevice(TDevice* device, const TChangeSource& source = TChangeSource());

    // Reads the Device elements of a Devices element; returns after its end tag (or an end tag of
    // Groups, which the caller then sees as the current part).
    void LoadDevices(XmlReader& reader);

    int DeviceCount() const { return int(FDevices.size()); }
    TDevice* Device(int index) const { return FDevices.at(index); }
    const QList<TDevice*>& Devices() const { return FDevices; }

signals:
    // A level of the group changed: `now` is stored as it was set.
    void LevelChanged(TGroup* group, TLevel level, double old, double now, const TChangeSource& source);
    void LockChanged(TGroup* group, TLock lock, bool now, const TChangeSource& source);
    void MuteChanged(TGroup* group, bool now, const TChangeSource& source);
    void TextChanged(TGroup* group, TGroupText text, const QString& old, const QString& now,
                     const TChangeSource& source);

private:
    friend class TDevice;
    void AddMember(TDevice* device);
    void RemoveMember(TDevice* device);
    double& LevelField(TLevel level);
    bool& LockField(TLock lock);

    TGroups* FRegistry;
    QString FLongName = QStringLiteral("Undefined group");
    QString FShortName = QStringLiteral("UNDEF");
    double FVolume_A = -95.5;
    double FSensitivity_A = -95.5;
    double FLimiter_A = 10.0;
    double FVolume_B = -95.5;
    double FSensitivity_B = -95.5;
    double FLimiter_B = 10.0;
    bool FVolume_Lock = false;
    bool FSensitivity_Lock = false;
    bool FLimiter_Lock = false;
    bool FMute = false;
    QStandardItem* FGroupNode = nullptr;
    QList<TDevice*> FDevices;
};
