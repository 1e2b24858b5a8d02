#pragma once

// A registry with groups and devices whose poll threads do not run, for tests of the model.

#include "device/DeviceUnit.h"
#include "device/ThreadCommUnit.h"
#include "model/GroupUnit.h"
#include "model/GroupsUnit.h"

#include <QDateTime>
#include <QStringList>

#include <memory>

// A device clock that moves only when told to: monotonic milliseconds from 0, wall time from
// 18:00:00 on a fixed day. Installed for its lifetime.
struct TManualClock : TDeviceClock {
    TManualClock() { TDeviceClock::SetCurrent(this); }
    ~TManualClock() override { TDeviceClock::SetCurrent(nullptr); }
    qint64 MonotonicMs() const override { return Ms; }
    QDateTime WallTime() const override { return QDateTime(QDate(2024, 5, 4), QTime(18, 0, 0)).addMSecs(Ms); }
    void Advance(qint64 ms) { Ms += ms; }
    qint64 Ms = 0;
};

// A registry whose devices run no poll thread, on a clock that stands still unless advanced.
struct TModelFixture {
    TModelFixture() {
        TSocketThread::SetPollThreadsEnabled(false);
        Registry = std::make_unique<TGroups>();
    }
    ~TModelFixture() {
        Registry.reset();
        TSocketThread::SetPollThreadsEnabled(true);
    }
    TGroup* AddGroup(const QString& shortName, const QString& longName = QStringLiteral("Group")) {
        return Registry->FindOrAddGroup(longName, shortName);
    }
    TManualClock Clock;
    std::unique_ptr<TGroups> Registry;
};

// A status block in which the amplifier holds exactly what `device` wants (names, settings) and
// reports both channels OK and not muted.
inline TDeviceStatus StatusInLine(const TDevice& device) {
    TDeviceStatus s = TDeviceStatus::Initial();
    const std::array<int, 6> codes = device.SettingsCodes();
    s.PD_CHA_Volume = std::uint8_t(codes[0]);
    s.PD_CHB_Volume = std::uint8_t(codes[1]);
    s.PD_CHA_Sensitivity = std::uint8_t(codes[2]);
    s.PD_CHB_Sensitivity = std::uint8_t(codes[3]);
    s.PD_CHA_Limiter = std::uint8_t(codes[4]);
    s.PD_CHB_Limiter = std::uint8_t(codes[5]);
    s.PD_DeviceName.Set(device.ShortName().toLatin1());
    s.PD_GroupName.Set(NormaliseShortName(device.Group()->ShortName()).toLatin1());
    s.PD_CHA_Status = 1;
    s.PD_CHB_Status = 1;
    s.PD_CHA_Mute_Off = 1;
    s.PD_CHB_Mute_Off = 1;
    return s;
}

// The device's status block changed by `change`, stored as a block the amplifier delivered.
template <class TChange> void EditStatus(TDevice& device, TChange change) {
    TDeviceStatus status = device.Status();
    change(status);
    device.StoreStatus(status);
}

// A status block arriving as the poll thread hands it over.
inline void Deliver(TDevice& device, const TDeviceStatus& status) {
    device.QueueCommand(QStringLiteral("/zyl.zyl"), QString());
    device.StoreResult(QStringLiteral("/zyl.zyl"), true, status.ToBody());
}

// Plays what happens to a device, steps separated by ";": "ok" a block in line with both
// channels OK, "faultB" the same with channel B in FAULT, "offline" / "online" a probe that
// fails / answers, "cmd" a correction sent and answered, "wait N" N milliseconds pass.
inline void PlaySteps(TDevice& device, TManualClock& clock, const QString& steps) {
    for (const QString& step : steps.split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
        TDeviceStatus status = StatusInLine(device);
        status.PD_CHB_Status = step == QLatin1String("faultB") ? 0 : 1;
        if (step.startsWith(QLatin1String("wait ")))
            clock.Advance(step.mid(5).toLongLong());
        else if (step.endsWith(QLatin1String("line")))
            device.SetOffline(step == QLatin1String("offline"));
        else if (step == QLatin1String("cmd"))
            device.StoreResult(QStringLiteral("/lock_off"), true, QByteArray());
        else
            Deliver(device, status);
    }
    device.RefreshNodeText();
}
