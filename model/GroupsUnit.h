#pragma once

#include "model/ChangeSource.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QString>

#include <Qt>

class QStandardItemModel;
class TDevice;
class TGroup;
class XmlReader;

// The form under which group short names are compared: at most 255 characters, without trailing
// blanks (amplifiers pad their group code to five), a-z as A-Z (as SetShortName stores them).
QString ShortNameKey(const QString& shortName);

// The root of the project model: the groups in registry order, the global volume offset and
// global mute, and the device tree that mirrors them (one root node per group, one child node
// per device). The session replaces it wholesale on New and Open.
class TGroups : public QObject {
    Q_OBJECT
public:
    // Item data roles of the tree nodes.
    enum Roles {
        NodeObjectRole = Qt::UserRole + 1, // QObject*: the TGroup or TDevice of the node
        StateIndexRole = Qt::UserRole + 2, // int: a device's DeviceState (1, 2, 3)
    };

    explicit TGroups(QObject* owner = nullptr);
    ~TGroups() override;

    double Volume() const { return FVolume; }
    bool Mute() const { return FMute; }
    // Each emits its change signal once when the stored value changes, and nothing when it stays.
    void SetVolume(double x, const TChangeSource& source = TChangeSource());
    void SetMute(bool flag, const TChangeSource& source = TChangeSource());

    // The node collection that a tree view shows; owned by the registry.
    QStandardItemModel* TreeNodes() const { return FTreeNodes; }

    int GroupCount() const { return int(FGroups.size()); }
    TGroup* Group(int index) const { return FGroups.at(index); }
    const QList<TGroup*>& Groups() const { return FGroups; }

    // The first group, in registry order, whose ShortName has the same ShortNameKey, or nullptr.
    // Constant time: the registry keeps an index of the keys.
    TGroup* FindGroup(const QString& shortName) const;
    // FindGroup, or a new group appended with these names (long name first), announced by
    // GroupAdded once it has its names.
    TGroup* FindOrAddGroup(const QString& longName, const QString& shortName,
                           const TChangeSource& source = TChangeSource());

    // Deleting on someone's behalf: DeviceRemoved (for each member of a group first) and
    // GroupRemoved carry who asked, before the usual Destroying signals and the deletion itself.
    // Destroying the registry says nothing of the kind: it is not a change of the project.
    void DeleteGroup(TGroup* group, const TChangeSource& source = TChangeSource());
    void DeleteDevice(TDevice* device, const TChangeSource& source = TChangeSource());

    // Reconcile of every device, groups in registry order, devices in member order: what the
    // 100 ms tick of the program does.
    void ReconcileAll();

    // Reads Group elements and their devices up to the end tag of the Groups element, every change
    // made with the project file as its source. Returns whether that end tag came (false: the
    // document ended first).
    bool LoadGroups(XmlReader& reader);

    // The group of a tree node's object, or the device of it; nullptr for other nodes.
    static TGroup* NodeGroup(QObject* nodeObject);
    static TDevice* NodeDevice(QObject* nodeObject);

signals:
    // The global volume offset changed.
    void VolumeChanged(double old, double now, const TChangeSource& source);
    // The global mute changed.
    void MuteChanged(bool now, const TChangeSource& source);
    // A group was created (by FindOrAddGroup) and named.
    void GroupAdded(TGroup* group, const TChangeSource& source);
    // A device was created and joined its group.
    void DeviceAdded(TDevice* device, const TChangeSource& source);
    // A device moved to the end of group `to` (from `from`, which may be the same group).
    void DeviceMoved(TDevice* device, TGroup* from, TGroup* to, const TChangeSource& source);
    // DeleteGroup and DeleteDevice are about to delete: who asked for it.
    void GroupRemoved(TGroup* group, const TChangeSource& source);
    void DeviceRemoved(TDevice* device, const TChangeSource& source);
    // A group is about to be destroyed, however: windows showing it must let go first.
    void GroupDestroying(TGroup* group);
    // A device is about to be destroyed.
    void DeviceDestroying(TDevice* device);

private:
    friend class TGroup;
    friend class TDevice;
    void AddGroup(TGroup* group) { FGroups.append(group); }
    void RemoveGroup(TGroup* group) { FGroups.removeOne(group); }
    // The short-name index: each key leads to the first group holding it and counts the groups
    // that do. Groups call these as they are created, renamed and destroyed.
    void IndexShortName(TGroup* group, const QString& shortName);
    void UnindexShortName(TGroup* group, const QString& shortName);

    struct TShortNameEntry {
        TGroup* First = nullptr;
        int Count = 0;
    };
    QHash<QString, TShortNameEntry> FShortNames;
    bool FClosing = false;
    double FVolume = 0.0;
    bool FMute = false;
    QStandardItemModel* FTreeNodes;
    QList<TGroup*> FGroups;
};
