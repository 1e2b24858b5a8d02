#pragma once

#include <QString>

// What an amplifier understands, and the pace the program keeps with it. The request paths follow
// the address directly ("127.0.0.5/zyl.zyl"); commands that carry a value end with "=" and the
// value is appended. The status block itself is described in DeviceStatus.h, the limits of each
// model in FindModelLimits (DeviceStatus.h).

// The status request; the amplifier answers with its 3157-byte status block.
inline const QString StatusPath = QStringLiteral("/zyl.zyl");
// Commands; each is answered with a short page whose content does not matter.
inline const QString NamePath = QStringLiteral("/name=");   // + the five-character device name
inline const QString GroupPath = QStringLiteral("/group="); // + the five-character group code
inline const QString LockOffPath = QStringLiteral("/lock_off");
inline const QString LockOnPath = QStringLiteral("/lock_on");
inline const QString SettingsPath = QStringLiteral("/common_settings_values1="); // + 18 digits
inline const QString MuteAOnPath = QStringLiteral("/mute_a_on.html");
inline const QString MuteAOffPath = QStringLiteral("/mute_a_off.html");
inline const QString MuteBOnPath = QStringLiteral("/mute_b_on.html");
inline const QString MuteBOffPath = QStringLiteral("/mute_b_off.html");

// The reachability probe waits this long for its echo reply (or its TCP connection).
constexpr int ProbeTimeoutMs = 100;
// A poll thread rests this long after each look at its device's queue, and this long after
// each command it has carried out.
constexpr int PollAfterLookMs = 50;
constexpr int PollAfterCommandMs = 100;
// Every wait of the probe, the fetch and a name look-up runs in slices of at most this long and
// looks at its thread's stop request between two, so that a stop is honoured well within 100 ms.
constexpr int StopCheckSliceMs = 20;
