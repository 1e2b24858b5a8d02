#pragma once

#include "device/DeviceUnit.h"
#include "model/ChangeSource.h"
#include "model/ModelTypes.h"

#include <QDateTime>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QVariant>

class TGroup;
class TGroups;
class TSession;

// What changed, for listeners that record or forward every change (the journal, a remote
// client's feed) rather than show one object.
enum class TChangeKind {
    DeviceLevel,     // Field: "Volume_A" ... "Limiter_B"; Old/New: double (as the device stores it)
    DeviceMute,      // Field: "Mute_CHA" / "Mute_CHB"; Old/New: bool
    DeviceText,      // Field: "LongName" / "ShortName" / "IPAddress"; Old/New: QString
    DeviceLiveState, // Field: "LiveState"; Old/New: TLiveState; Source: Amplifier
    DeviceStatus,    // a status block stored; no Field, Old or New; Source: Amplifier
    GroupLevel,      // Field: "Volume_A" ... "Limiter_B"; Old/New: double
    GroupLock,       // Field: "Volume_Lock" / "Sensitivity_Lock" / "Limiter_Lock"; Old/New: bool
    GroupMute,       // Field: "Mute"; Old/New: bool
    GroupText,       // Field: "LongName" / "ShortName"; Old/New: QString
    GlobalVolume,    // Field: "Volume"; Old/New: double
    GlobalMute,      // Field: "Mute"; Old/New: bool
    GroupAdded,      // no Field, Old or New
    GroupRemoved,    // by TGroups::DeleteGroup; its devices are reported removed first
    DeviceAdded,     // no Field, Old or New
    DeviceRemoved,   // by TGroups::DeleteDevice or TGroups::DeleteGroup
    DeviceMoved,     // Field: "Group"; Old/New: the short names of the group left and the one joined
};
Q_DECLARE_METATYPE(TChangeKind)

// One change as a value. The names and the address are those at the moment of the change (after
// it, for a rename or a move); the pointers go null once their object is destroyed.
struct TModelChange {
    TChangeKind Kind = TChangeKind::DeviceLevel;
    QPointer<TGroup> Group;   // the group changed, or the device's group (the new one after a move)
    QPointer<TDevice> Device; // null for changes of a group or of the whole registry
    QString GroupShortName;   // empty for changes of the whole registry
    QString DeviceShortName;  // empty unless a device changed
    QString DeviceAddress;    // empty unless a device changed
    QString Field;
    QVariant Old;
    QVariant New;
    TChangeSource Source;
    qint64 MonotonicMs = 0; // from the devices' monotonic clock (TDeviceClock)
    QDateTime Utc;
};
Q_DECLARE_METATYPE(TModelChange)

// Follows one registry, connecting to it and to every group and device in it, present and future,
// and re-emits each change it reports as one TModelChange, in the order the model reports them.
// Windows connect to the typed signals of the objects they show instead.
class TChangeFeed : public QObject {
    Q_OBJECT
public:
    explicit TChangeFeed(QObject* parent = nullptr);
    // Follows whatever registry the session holds, across New, Load and Shutdown.
    explicit TChangeFeed(TSession& session, QObject* parent = nullptr);

    // Leaves the registry followed so far and follows `registry` (nullptr: none).
    void Follow(TGroups* registry);
    TGroups* Registry() const { return FRegistry; }

    // Status blocks arrive about ten times a second per amplifier; a listener that does not want
    // them saves their cost by switching them off (on by default). Takes effect for the devices
    // followed from then on, so set it before Follow.
    void SetStatusBlocks(bool on) { FStatusBlocks = on; }

signals:
    void Changed(const TModelChange& change);

private:
    void AttachGroup(TGroup* group);
    void AttachDevice(TDevice* device);
    void Emit(TChangeKind kind, TGroup* group, TDevice* device, const QString& field, const QVariant& old,
              const QVariant& now, const TChangeSource& source);

    QPointer<TGroups> FRegistry;
    bool FStatusBlocks = true;
};
