#pragma once

#include "device/DeviceStatus.h"
#include "model/ChangeSource.h"
#include "model/ModelTypes.h"

#include <Qt>

#include <QDateTime>
#include <QMetaType>
#include <QObject>
#include <QString>
#include <QStringList>

#include <array>

class QStandardItem;
class QTimer;
class TGroup;
class TSocketThread;

// The five-character form of a short name that amplifiers are sent: the first five characters,
// a-z upper-cased, anything but A-Z and 0-9 made a space, padded with spaces to five.
QString NormaliseShortName(const QString& text);

// Level digits: Round((L + 95.5) x 2) clamped to 0 ... 255, three digits with leading zeros.
int LevelCode(double level);
// Byte digits: Round(V) clamped to 0 ... 255.
int ByteCode(double value);

// The level in dB of a level code: code 0 is -95.5 dB, 191 is 0 dB, 0.5 dB a step.
double LevelFromCode(int code);

// What DeviceState reports. The values are those the device tree keeps as a node's state index
// (TGroups::StateIndexRole) and picks its image by, so the enumeration converts to int.
enum TDeviceState : int {
    Online = 1,  // answers the probe, and its last status block has both channels OK
    Fault = 2,   // answers the probe; a channel in FAULT, or no status block yet
    Offline = 3, // the last probe failed
};

// What the operator is shown of an amplifier. DeviceState lumps some of these together.
enum class TLiveState {
    NoStatusYet,  // answers the probe (or was not probed yet) but has delivered no status block
    Online,       // status blocks arrive and both channels report OK
    ChannelFault, // status blocks arrive and a channel reports FAULT
    NotAnswering, // answers the probe but has delivered no status block for a while
    Offline,      // the last probe failed
};
Q_DECLARE_METATYPE(TLiveState)

// Where devices take their times from: a monotonic clock for how long a state has lasted and the
// wall clock for the "since" texts. A test puts in its own clock to move time without waiting.
class TDeviceClock {
public:
    virtual ~TDeviceClock() = default;
    virtual qint64 MonotonicMs() const = 0;
    virtual QDateTime WallTime() const = 0; // UTC or local time; the system's clock gives UTC

    // The clock every device uses: the system's clocks unless one was set.
    static const TDeviceClock& Current();
    // nullptr restores the system's clocks; a clock set must outlive its use.
    static void SetCurrent(const TDeviceClock* clock);
};

// One amplifier: what the operator wants it to be, what it last reported, and the queue of
// commands that bring it there. Lives on the user-interface thread; owned by its group.
class TDevice : public QObject {
    Q_OBJECT
public:
    static constexpr int MaxTextLength = 255;
    static constexpr double MinLevel = -95.5;
    static constexpr double MaxLevel = 0.0;
    static constexpr double MinLimiter = 10.0;
    // An amplifier that answers the probe but delivers no status block for this long is not
    // answering; a setting it holds otherwise than wanted for this long is out of line.
    static constexpr qint64 NotAnsweringAfterMs = 2000;
    static constexpr qint64 OutOfLineAfterMs = 2000;
    // Corrections answered keep an amplifier "answering" without a status block, but not longer.
    static constexpr qint64 BusyAnsweringLimitMs = 10000;
    // Tree node data: the LiveState as an int.
    static constexpr int LiveStateRole = Qt::UserRole + 3;

    // Creates the device as the last member of `owner`, adds its tree node, starts its poll
    // thread and takes the group's six levels. `muteA`/`muteB` are the device's own channel
    // mute wishes from the start, so that a device loaded muted is never sent an unmute. Once it
    // is complete the registry announces it (DeviceAdded) with `source`.
    TDevice(TGroup* owner, const QString& ipAddress, const QString& longName, const QString& shortName,
            bool muteA = false, bool muteB = false, const TChangeSource& source = TChangeSource());
    ~TDevice() override;

    TGroup* Group() const { return FGroup; }

    const QString& LongName() const { return FLongName; }
    const QString& ShortName() const { return FShortName; }
    const QString& IPAddress() const { return FIPAddress; }
    double Volume_A() const { return FVolume_A; }
    double Volume_B() const { return FVolume_B; }
    double Sensitivity_A() const { return FSensitivity_A; }
    double Sensitivity_B() const { return FSensitivity_B; }
    double Limiter_A() const { return FLimiter_A; }
    double Limiter_B() const { return FLimiter_B; }
    double Level(TLevel level) const;
    // The device's own mute wish per channel; read by the next Reconcile.
    bool Mute_CHA() const { return FMute_CHA; }
    bool Mute_CHB() const { return FMute_CHB; }
    bool Mute(TChannel channel) const { return channel == TChannel::A ? FMute_CHA : FMute_CHB; }
    bool Offline() const { return FOffline; }
    // Why the device is off-line when no probe decided it: its poll thread could not be created,
    // and creation is tried again every PollThreadRetryMs. Empty when there is no such reason.
    QString OfflineReason() const { return FOfflineReason; }
    static constexpr int PollThreadRetryMs = 2000;
    const QStringList& Commands() const { return FCommands; }
    QStandardItem* Node() const { return FNode; }
    TSocketThread* Thread() const { return FThread; }
    // The last status block received (its initial contents until the first one arrives).
    const TDeviceStatus& Status() const { return FStatus; }

    // Every setter emits its change signal once when the stored value changes, and nothing when
    // it stays; each reconciles the device either way.
    void SetLongName(const QString& text, const TChangeSource& source = TChangeSource());
    void SetShortName(const QString& text, const TChangeSource& source = TChangeSource());
    void SetIPAddress(const QString& text, const TChangeSource& source = TChangeSource());
    void SetVolume_A(double x, const TChangeSource& source = TChangeSource());
    void SetVolume_B(double x, const TChangeSource& source = TChangeSource());
    void SetSensitivity_A(double x, const TChangeSource& source = TChangeSource());
    void SetSensitivity_B(double x, const TChangeSource& source = TChangeSource());
    void SetLimiter_A(double x, const TChangeSource& source = TChangeSource());
    void SetLimiter_B(double x, const TChangeSource& source = TChangeSource());
    void SetLevel(TLevel level, double x, const TChangeSource& source = TChangeSource());
    // Mute wishes are read by the next Reconcile; nothing is queued here.
    void SetMute_CHA(bool on, const TChangeSource& source = TChangeSource());
    void SetMute_CHB(bool on, const TChangeSource& source = TChangeSource());
    void SetMute(TChannel channel, bool on, const TChangeSource& source = TChangeSource());
    // The probe's verdict, from the poll thread's hand-off.
    void SetOffline(bool flag);

    TDeviceState DeviceState() const;
    TLiveState LiveState() const;
    // LiveState as of the last node refresh, at the latest the last reconciliation tick: for
    // views that redraw many devices often and need no clock for it.
    TLiveState LastLiveState() const { return FLiveState; }
    // Wall-clock times for the "since" texts: the last status block stored, the last change to
    // off-line; invalid before the first.
    QDateTime LastStatusTime() const { return FLastStatusTime; }
    QDateTime OfflineSince() const { return FOfflineSince; }
    void RefreshNodeText();

    // Replaces the first waiting entry that begins with `prefix` in place, or appends one.
    void QueueCommand(const QString& prefix, const QString& value);
    void SendShortName(const QString& text);
    void SendGroupName(const QString& text);
    void SendSettings();
    void SendLock(bool on);
    void SendMute_CHA(bool on);
    void SendMute_CHB(bool on);

    // The 18 digits of the settings command, with the registry's global volume offset.
    QString SettingsValue() const;
    // The same six values as numbers: volume A, volume B, sensitivity A, sensitivity B,
    // limiter A, limiter B.
    std::array<int, 6> SettingsCodes() const;
    // The six codes the amplifier reports holding, in the same order, from Status.
    std::array<int, 6> HeldSettingsCodes() const;
    // Whether setting `index` (order of SettingsCodes) has been held otherwise than wanted for
    // longer than OutOfLineAfterMs. Never before the first status block.
    bool SettingOutOfLine(int index) const;

    // Compares the wanted state with Status and queues what differs, plus a status request.
    void Reconcile();

    // How many status blocks the amplifier has delivered since the device was created.
    quint64 StatusCount() const { return FStatusCount; }

    // Poll-thread hand-off: a finished request. A 3157-byte body of a "/zyl.zyl" request that
    // succeeded is stored as StoreStatus does; the first queue entry equal to `command` (case
    // ignored) leaves.
    void StoreResult(const QString& command, bool fetched, const QByteArray& body);
    // A status block the amplifier delivered: replaces Status, counts it, lowers limiters above
    // the maximum of the model it tells, and emits StatusReceived.
    void StoreStatus(const TDeviceStatus& status);

signals:
    // A level the device stores changed: `now` is the value stored, after clamping.
    void LevelChanged(TDevice* device, TLevel level, double old, double now, const TChangeSource& source);
    // The device's own mute wish of a channel changed.
    void MuteChanged(TDevice* device, TChannel channel, bool now, const TChangeSource& source);
    // A name or the address changed (as stored: cut to 255 characters, short names normalised).
    void TextChanged(TDevice* device, TDeviceText text, const QString& old, const QString& now,
                     const TChangeSource& source);
    // A status block arrived and replaced Status.
    void StatusReceived(TDevice* device);
    // LiveState changed; noticed whenever the node is refreshed, so at the latest on the next
    // reconciliation tick.
    void LiveStateChanged(TDevice* device, TLiveState old, TLiveState now);

private:
    friend class TGroup;
    double& LevelField(TLevel level);
    // Stores `stored` (the value after clamping) when it differs, then reconciles.
    void StoreLevel(TLevel level, double stored, const TChangeSource& source);
    void StoreText(TDeviceText which, QString& field, const QString& text, const TChangeSource& source);
    // What follows a stored status block: counts, times, clamps, refresh and StatusReceived.
    void StatusStored();
    // Lowers limiters above the maximum of the model Status reports; true when one changed.
    bool ClampLimitersToModel();
    // Notes since when each setting is held otherwise than wanted.
    void TrackSettings(const std::array<int, 6>& wanted, const std::array<int, 6>& held);
    // Starts the poll thread; when the system refuses it, marks the device off-line with the
    // reason and schedules another attempt.
    void StartPollThread();

    TGroup* FGroup = nullptr;
    QString FLongName;
    QString FShortName;
    QString FIPAddress;
    // Start at the quietest, in-range values, so that a level the group does not pass on (equal
    // to the start value) can never be out of range.
    double FVolume_A = MinLevel;
    double FVolume_B = MinLevel;
    double FSensitivity_A = MinLevel;
    double FSensitivity_B = MinLevel;
    double FLimiter_A = MinLimiter;
    double FLimiter_B = MinLimiter;
    bool FMute_CHA = false;
    bool FMute_CHB = false;
    TDeviceStatus FStatus;
    bool FOffline = false;
    quint64 FStatusCount = 0;
    // Monotonic times: since when the device answers the probe, when the last block arrived,
    // and per setting since when it has been held otherwise than wanted (-1: in line).
    qint64 FAnsweringSinceMs = 0;
    qint64 FLastStatusMs = 0;
    qint64 FLastAnswerMs = -NotAnsweringAfterMs; // the last command other than a status request answered
    std::array<qint64, 6> FOutOfLineSinceMs{{-1, -1, -1, -1, -1, -1}};
    QDateTime FLastStatusTime;
    QDateTime FOfflineSince;
    TLiveState FLiveState = TLiveState::NoStatusYet;
    QStringList FCommands;
    QStandardItem* FNode = nullptr;
    TSocketThread* FThread = nullptr;
    QString FOfflineReason;
    QTimer* FThreadRetry = nullptr; // created on the first refused thread
};
