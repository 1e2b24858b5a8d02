#pragma once

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
    bool Volume_Lock() const { return FVolume_Lock; }
    bool Sensitivity_Lock() const { return FSensitivity_Lock; }
    bool Limiter_Lock() const { return FLimiter_Lock; }
    QStandardItem* GroupNode() const { return FGroupNode; }

    // The group mute: set directly by the panels, the mute matrix and the loader; members read
    // it in their next Reconcile.
    bool Mute = false;

    // Both keep at most 255 characters, as a device's names do.
    void SetLongName(const QString& text);
    void SetShortName(const QString& text);
    void RefreshNodeText();

    void SetVolume_A(double x);
    void SetVolume_B(double x);
    void SetSensitivity_A(double x);
    void SetSensitivity_B(double x);
    void SetLimiter_A(double x);
    void SetLimiter_B(double x);

    void SetVolume_Lock(bool on);
    void SetSensitivity_Lock(bool on);
    void SetLimiter_Lock(bool on);

    // Moves a device (of any group, this one included) to the end of this group, node and
    // member list alike; the device keeps its own levels and mutes.
    void AdoptDevice(TDevice* device);

    // Reads the Device elements of a Devices element; returns after its end tag (or an end tag of
    // Groups, which the caller then sees as the current part).
    void LoadDevices(XmlReader& reader);

    int DeviceCount() const { return int(FDevices.size()); }
    TDevice* Device(int index) const { return FDevices.at(index); }
    const QList<TDevice*>& Devices() const { return FDevices; }

private:
    friend class TDevice;
    void AddMember(TDevice* device);
    void RemoveMember(TDevice* device);
    // The common level setter: store when changed and hand the value to every member.
    void SetLevel(double& field, double x, void (TDevice::*setter)(double));

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
    QStandardItem* FGroupNode = nullptr;
    QList<TDevice*> FDevices;
};
