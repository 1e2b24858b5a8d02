#pragma once

// A registry with groups and devices whose poll threads do not run, for tests of the model.

#include "device/DeviceUnit.h"
#include "device/ThreadCommUnit.h"
#include "model/GroupUnit.h"
#include "model/GroupsUnit.h"

#include <memory>

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
