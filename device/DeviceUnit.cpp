#include "device/DeviceUnit.h"

#include "device/LiveStateWord.h"
#include "device/Protocol.h"
#include "device/ThreadCommUnit.h"
#include "model/GroupUnit.h"
#include "model/GroupsUnit.h"
#include "model/Utils.h"
#include "model/logging.h"

#include <QElapsedTimer>
#include <QStandardItem>
#include <QTimer>

#include <algorithm>
#include <cmath>

namespace {
QString ThreeDigits(int code) {
    return QStringLiteral("%1").arg(code, 3, 10, QLatin1Char('0'));
}

// Whether the amplifier's mute byte disagrees with the wanted mute: a wanted mute while it
// reports 1 (not muted), or no wanted mute while it reports 0 (muted). Other bytes: no opinion.
bool MuteNeedsCommand(bool wanted, std::uint8_t muteOff) {
    return (wanted ? 1 : 0) == muteOff;
}

class TSystemClock : public TDeviceClock {
public:
    TSystemClock() { FTimer.start(); }
    qint64 MonotonicMs() const override { return FTimer.elapsed(); }
    // In UTC: the local time costs a time-zone look-up (about 5 us), and the time is taken for
    // every status block and every change the model reports; views show it in local time.
    QDateTime WallTime() const override { return QDateTime::currentDateTimeUtc(); }

private:
    QElapsedTimer FTimer;
};

const TDeviceClock* gClock = nullptr;
} // namespace

QString LiveStateWord(TLiveState state) {
    switch (state) {
    case TLiveState::NoStatusYet:
        return QStringLiteral("nostatus");
    case TLiveState::Online:
        return QStringLiteral("online");
    case TLiveState::ChannelFault:
        return QStringLiteral("fault");
    case TLiveState::NotAnswering:
        return QStringLiteral("noanswer");
    case TLiveState::Offline:
        break;
    }
    return QStringLiteral("offline");
}

const TDeviceClock& TDeviceClock::Current() {
    static const TSystemClock system;
    return gClock ? *gClock : system;
}

void TDeviceClock::SetCurrent(const TDeviceClock* clock) {
    gClock = clock;
}

QString NormaliseShortName(const QString& text) {
    QString result = text.left(5);
    for (QChar& c : result) {
        ushort u = c.unicode();
        if (u >= 'a' && u <= 'z')
            u = ushort(u - 'a' + 'A');
        if (!((u >= 'A' && u <= 'Z') || (u >= '0' && u <= '9')))
            u = ' ';
        c = QChar(u);
    }
    while (result.size() < 5)
        result.append(QLatin1Char(' '));
    return result;
}

int LevelCode(double level) {
    return RoundToByte((level + 95.5) * 2.0);
}

int ByteCode(double value) {
    return RoundToByte(value);
}

double LevelFromCode(int code) {
    return code / 2.0 - 95.5;
}

TDevice::TDevice(TGroup* owner, const QString& ipAddress, const QString& longName, const QString& shortName,
                 bool muteA, bool muteB, const TChangeSource& source)
    : QObject(owner), FGroup(owner), FMute_CHA(muteA), FMute_CHB(muteB), FStatus{},
      FAnsweringSinceMs(TDeviceClock::Current().MonotonicMs()) {
    // Status stays all zero until the settings are in: the first reconciliations then queue
    // the full set of corrections in their fixed order.
    Trace(QStringLiteral("TDevice.Create Begin"));
    owner->AddMember(this);
    FNode = new QStandardItem(QStringLiteral("Invalid"));
    FNode->setEditable(false);
    FNode->setDropEnabled(true);
    FNode->setData(QVariant::fromValue(static_cast<QObject*>(this)), TGroups::NodeObjectRole);
    owner->GroupNode()->appendRow(FNode);
    StartPollThread();
    SetIPAddress(ipAddress);
    SetShortName(shortName);
    SetLongName(longName);
    SetVolume_A(owner->Volume_A());
    SetVolume_B(owner->Volume_B());
    SetSensitivity_A(owner->Sensitivity_A());
    SetSensitivity_B(owner->Sensitivity_B());
    SetLimiter_A(owner->Limiter_A());
    SetLimiter_B(owner->Limiter_B());
    FStatus = TDeviceStatus::Initial();
    RefreshNodeText();
    // Nobody can listen to a device before this: whatever the setters above emitted went nowhere.
    if (owner->Registry())
        emit owner->Registry()->DeviceAdded(this, source);
    Trace(QStringLiteral("TDevice.Create End"));
}

TDevice::~TDevice() {
    Trace(QStringLiteral("TDevice.Destroy Begin ") + FLongName);
    if (FGroup && FGroup->Registry())
        emit FGroup->Registry()->DeviceDestroying(this);
    if (FGroup)
        FGroup->RemoveMember(this);
    // The thread ends by itself; from here on its hand-offs find no device.
    if (FThread)
        FThread->DetachAndStop();
    FThread = nullptr;
    if (FNode) {
        if (QStandardItem* parent = FNode->parent())
            parent->removeRow(FNode->row());
        else if (FNode->model())
            FNode->model()->removeRow(FNode->row());
        else
            delete FNode;
        FNode = nullptr;
    }
    Trace(QStringLiteral("TDevice.Destroy End"));
}

void TDevice::StartPollThread() {
    QString failure;
    FThread = TSocketThread::Start(this, &failure);
    if (FThread || failure.isEmpty()) {
        // Started, or poll threads are switched off. Off-line stays set until the first probe.
        if (FThreadRetry)
            FThreadRetry->stop();
        if (!FOfflineReason.isEmpty()) {
            FOfflineReason.clear();
            FNode->setToolTip(QString());
            RefreshNodeText();
        }
        return;
    }
    FOfflineReason =
        QStringLiteral("Not polled: the system refused a new thread (%1); trying again every %2 s")
            .arg(failure)
            .arg(PollThreadRetryMs / 1000);
    FOffline = true;
    if (!FThreadRetry) {
        FThreadRetry = new QTimer(this);
        FThreadRetry->setInterval(PollThreadRetryMs);
        connect(FThreadRetry, &QTimer::timeout, this, &TDevice::StartPollThread);
    }
    FThreadRetry->start();
    FNode->setToolTip(FOfflineReason);
    RefreshNodeText();
}

void TDevice::StoreText(TDeviceText which, QString& field, const QString& text, const TChangeSource& source) {
    if (text == field)
        return;
    const QString old = field;
    field = text;
    emit TextChanged(this, which, old, field, source);
}

void TDevice::SetLongName(const QString& text, const TChangeSource& source) {
    StoreText(TDeviceText::LongName, FLongName, text.left(MaxTextLength), source);
    RefreshNodeText();
}

void TDevice::SetShortName(const QString& text, const TChangeSource& source) {
    // Normalised on every set: an empty text kept as it is would never equal the five blanks the
    // amplifier reports, and the name command would be queued after every status block.
    StoreText(TDeviceText::ShortName, FShortName, NormaliseShortName(text), source);
    RefreshNodeText();
    Reconcile();
}

void TDevice::SetIPAddress(const QString& text, const TChangeSource& source) {
    StoreText(TDeviceText::IPAddress, FIPAddress, text.left(MaxTextLength), source);
    Reconcile();
}

double& TDevice::LevelField(TLevel level) {
    return LevelSlot(level,
                     {&FVolume_A, &FVolume_B, &FSensitivity_A, &FSensitivity_B, &FLimiter_A, &FLimiter_B});
}

double TDevice::Level(TLevel level) const {
    return const_cast<TDevice*>(this)->LevelField(level);
}

void TDevice::StoreLevel(TLevel level, double stored, const TChangeSource& source) {
    double& field = LevelField(level);
    const double old = field;
    field = stored;
    Reconcile();
    if (stored != old)
        emit LevelChanged(this, level, old, stored, source);
}

void TDevice::SetLevel(TLevel level, double x, const TChangeSource& source) {
    const double old = Level(level);
    if (x == old) {
        // The value the device holds already: nothing is clamped again, nothing changes.
        Reconcile();
        return;
    }
    double stored = x;
    if (level == TLevel::Limiter_A || level == TLevel::Limiter_B) {
        if (std::isnan(x) || x < MinLimiter)
            stored = MinLimiter;
        if (const TModelLimits* limits = FindModelLimits(FStatus.PD_Model.Bytes()))
            stored = std::min(stored, double(limits->LimiterMax));
    } else {
        // NaN is no level: take the quietest rather than send an undefined one.
        stored = std::isnan(x) ? MinLevel : std::min(std::max(x, MinLevel), MaxLevel);
    }
    StoreLevel(level, stored, source);
}

void TDevice::SetVolume_A(double x, const TChangeSource& source) {
    SetLevel(TLevel::Volume_A, x, source);
}
void TDevice::SetVolume_B(double x, const TChangeSource& source) {
    SetLevel(TLevel::Volume_B, x, source);
}
void TDevice::SetSensitivity_A(double x, const TChangeSource& source) {
    SetLevel(TLevel::Sensitivity_A, x, source);
}
void TDevice::SetSensitivity_B(double x, const TChangeSource& source) {
    SetLevel(TLevel::Sensitivity_B, x, source);
}
void TDevice::SetLimiter_A(double x, const TChangeSource& source) {
    SetLevel(TLevel::Limiter_A, x, source);
}
void TDevice::SetLimiter_B(double x, const TChangeSource& source) {
    SetLevel(TLevel::Limiter_B, x, source);
}

void TDevice::SetMute(TChannel channel, bool on, const TChangeSource& source) {
    bool& field = channel == TChannel::A ? FMute_CHA : FMute_CHB;
    if (field == on)
        return;
    field = on;
    emit MuteChanged(this, channel, on, source);
}
void TDevice::SetMute_CHA(bool on, const TChangeSource& source) {
    SetMute(TChannel::A, on, source);
}
void TDevice::SetMute_CHB(bool on, const TChangeSource& source) {
    SetMute(TChannel::B, on, source);
}

void TDevice::SetOffline(bool flag) {
    if (flag != FOffline) {
        FOffline = flag;
        const TDeviceClock& clock = TDeviceClock::Current();
        if (flag)
            FOfflineSince = clock.WallTime();
        else
            FAnsweringSinceMs = clock.MonotonicMs(); // the silence counts from here
        RefreshNodeText();
    }
}

TDeviceState TDevice::DeviceState() const {
    if (FOffline)
        return TDeviceState::Offline;
    return FStatus.PD_CHA_Status != 0 && FStatus.PD_CHB_Status != 0 ? TDeviceState::Online
                                                                    : TDeviceState::Fault;
}

TLiveState TDevice::LiveState() const {
    if (FOffline)
        return TLiveState::Offline;
    if (FStatusCount == 0)
        return TLiveState::NoStatusYet;
    // Silent since the last block, or since the probe answered again after an off-line spell.
    // An amplifier busy answering corrections (a project just opened queues half a dozen ahead of
    // the next status request) is answering all the same, but never for longer than
    // BusyAnsweringLimitMs without a block: its readings would be frozen.
    const qint64 now = TDeviceClock::Current().MonotonicMs();
    const qint64 silentMs = now - std::max(FLastStatusMs, FAnsweringSinceMs);
    const bool busyAnswering = now - FLastAnswerMs < NotAnsweringAfterMs && silentMs < BusyAnsweringLimitMs;
    if (silentMs >= NotAnsweringAfterMs && !busyAnswering)
        return TLiveState::NotAnswering;
    return DeviceState() == TDeviceState::Online ? TLiveState::Online : TLiveState::ChannelFault;
}

void TDevice::RefreshNodeText() {
    if (!FNode)
        return;
    const QString text = FLongName + QStringLiteral(" [") + FShortName + QStringLiteral("]");
    // The model skips equal values, but the comparison here avoids building variants 10 times
    // a second for every device.
    if (FNode->text() != text)
        FNode->setText(text);
    const int state = DeviceState();
    if (FNode->data(TGroups::StateIndexRole).toInt() != state)
        FNode->setData(state, TGroups::StateIndexRole);
    const TLiveState live = LiveState();
    if (live != FLiveState || !FNode->data(LiveStateRole).isValid()) {
        const TLiveState old = FLiveState;
        FLiveState = live;
        FNode->setData(int(live), LiveStateRole);
        if (live != old)
            emit LiveStateChanged(this, old, live);
    }
}

void TDevice::QueueCommand(const QString& prefix, const QString& value) {
    for (QString& entry : FCommands) {
        if (entry.startsWith(prefix)) {
            entry = prefix + value;
            return;
        }
    }
    FCommands.append(prefix + value);
}

void TDevice::SendShortName(const QString& text) {
    QueueCommand(NamePath, NormaliseShortName(text));
}
void TDevice::SendGroupName(const QString& text) {
    QueueCommand(GroupPath, NormaliseShortName(text));
}

void TDevice::SendSettings() {
    SendLock(false);
    QueueCommand(SettingsPath, SettingsValue());
}

void TDevice::SendLock(bool on) {
    QueueCommand(on ? LockOnPath : LockOffPath, QString());
}
void TDevice::SendMute_CHA(bool on) {
    QueueCommand(on ? MuteAOnPath : MuteAOffPath, QString());
}
void TDevice::SendMute_CHB(bool on) {
    QueueCommand(on ? MuteBOnPath : MuteBOffPath, QString());
}

std::array<int, 6> TDevice::SettingsCodes() const {
    // The combined volume is capped at 0 dB; the level clamp bounds it at -95.5 dB.
    const double g = FGroup && FGroup->Registry() ? FGroup->Registry()->Volume() : 0.0;
    return {LevelCode(std::min(g + FVolume_A, 0.0)),
            LevelCode(std::min(g + FVolume_B, 0.0)),
            LevelCode(FSensitivity_A),
            LevelCode(FSensitivity_B),
            ByteCode(FLimiter_A),
            ByteCode(FLimiter_B)};
}

std::array<int, 6> TDevice::HeldSettingsCodes() const {
    return {FStatus.PD_CHA_Volume,      FStatus.PD_CHB_Volume,  FStatus.PD_CHA_Sensitivity,
            FStatus.PD_CHB_Sensitivity, FStatus.PD_CHA_Limiter, FStatus.PD_CHB_Limiter};
}

void TDevice::TrackSettings(const std::array<int, 6>& wanted, const std::array<int, 6>& held) {
    if (FStatusCount == 0)
        return; // nothing is held before the first block
    const qint64 now = TDeviceClock::Current().MonotonicMs();
    for (size_t i = 0; i < held.size(); ++i) {
        if (wanted[i] == held[i])
            FOutOfLineSinceMs[i] = -1;
        else if (FOutOfLineSinceMs[i] < 0)
            FOutOfLineSinceMs[i] = now;
    }
}

bool TDevice::SettingOutOfLine(int index) const {
    if (index < 0 || index >= 6 || FOutOfLineSinceMs[size_t(index)] < 0)
        return false;
    if (SettingsCodes()[size_t(index)] == HeldSettingsCodes()[size_t(index)])
        return false;
    return TDeviceClock::Current().MonotonicMs() - FOutOfLineSinceMs[size_t(index)] > OutOfLineAfterMs;
}

bool TDevice::ClampLimitersToModel() {
    const TModelLimits* limits = FindModelLimits(FStatus.PD_Model.Bytes());
    if (!limits)
        return false;
    bool changed = false;
    for (const TLevel level : {TLevel::Limiter_A, TLevel::Limiter_B}) {
        double& limiter = LevelField(level);
        if (limiter > limits->LimiterMax) {
            const double old = limiter;
            limiter = limits->LimiterMax;
            changed = true;
            emit LevelChanged(this, level, old, limiter, TChangeSource::Amplifier());
        }
    }
    return changed;
}

QString TDevice::SettingsValue() const {
    QString value;
    for (int code : SettingsCodes())
        value += ThreeDigits(code);
    return value;
}

void TDevice::Reconcile() {
    QueueCommand(StatusPath, QString());
    if (FStatus.PD_DeviceName.Text() != FShortName)
        SendShortName(FShortName);
    const QString groupShort = FGroup ? FGroup->ShortName() : QString();
    if (FStatus.PD_GroupName.Text() != NormaliseShortName(groupShort))
        SendGroupName(groupShort);

    const std::array<int, 6> wanted = SettingsCodes();
    const std::array<int, 6> held = HeldSettingsCodes();
    if (wanted != held)
        SendSettings();
    TrackSettings(wanted, held);

    const bool groupMute = FGroup && FGroup->Mute();
    const bool globalMute = FGroup && FGroup->Registry() && FGroup->Registry()->Mute();
    const bool wantA = FMute_CHA || groupMute || globalMute;
    const bool wantB = FMute_CHB || groupMute || globalMute;
    if (MuteNeedsCommand(wantA, FStatus.PD_CHA_Mute_Off))
        SendMute_CHA(wantA);
    if (MuteNeedsCommand(wantB, FStatus.PD_CHB_Mute_Off))
        SendMute_CHB(wantB);
    RefreshNodeText();
}

void TDevice::StoreResult(const QString& command, bool fetched, const QByteArray& body) {
    const bool stored = fetched && command == StatusPath && TDeviceStatus::FromBody(body, FStatus);
    for (int i = 0; i < FCommands.size(); ++i) {
        if (FCommands[i].compare(command, Qt::CaseInsensitive) == 0) {
            FCommands.removeAt(i);
            break;
        }
    }
    if (fetched && command != StatusPath)
        FLastAnswerMs = TDeviceClock::Current().MonotonicMs();
    if (stored)
        StatusStored();
    else
        RefreshNodeText();
}

void TDevice::StoreStatus(const TDeviceStatus& status) {
    FStatus = status;
    StatusStored();
}

void TDevice::StatusStored() {
    ++FStatusCount;
    const TDeviceClock& clock = TDeviceClock::Current();
    FLastStatusMs = clock.MonotonicMs();
    FLastStatusTime = clock.WallTime();
    // A limiter set while the model was unknown would otherwise be resent for ever.
    if (ClampLimitersToModel())
        Reconcile();
    TrackSettings(SettingsCodes(), HeldSettingsCodes());
    RefreshNodeText();
    emit StatusReceived(this);
}
