#pragma once

#include "device/DeviceStatus.h"

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

// One amplifier: what the operator wants it to be, what it last reported, and the queue of
// commands that bring it there. Lives on the user-interface thread; owned by its group.
class TDevice : public QObject {
    Q_OBJECT
public:
    static constexpr int MaxTextLength = 255;
    static constexpr double MinLevel = -95.5;
    static constexpr double MaxLevel = 0.0;
    static constexpr double MinLimiter = 10.0;

    // Creates the device as the last member of `owner`, adds its tree node, starts its poll
    // thread and takes the group's six levels. `muteA`/`muteB` are the device's own channel
    // mute wishes from the start, so that a device loaded muted is never sent an unmute.
    TDevice(TGroup* owner, const QString& ipAddress, const QString& longName, const QString& shortName,
            bool muteA = false, bool muteB = false);
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
    bool Offline() const { return FOffline; }
    // Why the device is off-line when no probe decided it: its poll thread could not be created,
    // and creation is tried again every PollThreadRetryMs. Empty when there is no such reason.
    QString OfflineReason() const { return FOfflineReason; }
    static constexpr int PollThreadRetryMs = 2000;
    const QStringList& Commands() const { return FCommands; }
    QStandardItem* Node() const { return FNode; }
    TSocketThread* Thread() const { return FThread; }

    // The device's own mute wish per channel; read by the next Reconcile.
    bool Mute_CHA = false;
    bool Mute_CHB = false;
    // The last status block received (its initial contents until the first one arrives).
    TDeviceStatus Status;

    void SetLongName(const QString& text);
    void SetShortName(const QString& text);
    void SetIPAddress(const QString& text);
    void SetVolume_A(double x);
    void SetVolume_B(double x);
    void SetSensitivity_A(double x);
    void SetSensitivity_B(double x);
    void SetLimiter_A(double x);
    void SetLimiter_B(double x);
    void SetOffline(bool flag);

    // 3 off-line; 1 on-line with both channels OK; 2 otherwise.
    int DeviceState() const;
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

    // Compares the wanted state with Status and queues what differs, plus a status request.
    void Reconcile();

    // How many status blocks the amplifier has delivered since the device was created.
    quint64 StatusCount() const { return FStatusCount; }

    // Poll-thread hand-off: a finished request. A 3157-byte body of a "/zyl.zyl" request that
    // succeeded replaces Status; the first queue entry equal to `command` (case ignored) leaves.
    void StoreResult(const QString& command, bool fetched, const QByteArray& body);

signals:
    // A status block arrived and replaced Status.
    void StatusReceived();

private:
    friend class TGroup;
    void SetLevel(double& field, double x);
    void SetLimiter(double& field, double x);
    void SetText(QString& field, const QString& text);
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
    bool FOffline = false;
    quint64 FStatusCount = 0;
    QStringList FCommands;
    QStandardItem* FNode = nullptr;
    TSocketThread* FThread = nullptr;
    QString FOfflineReason;
    QTimer* FThreadRetry = nullptr; // created on the first refused thread
};
