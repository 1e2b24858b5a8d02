#pragma once

#include "device/DeviceUnit.h"

#include <QIcon>
#include <QString>

// How an amplifier's live state looks wherever it is shown: the tree, the device panel and the
// mute matrix use the same images and words.

// The 16 x 16 image of a state: a green check (on-line), a yellow question mark (no status
// yet), an orange warning triangle (channel fault), a clock (not answering), a red cross
// (off-line).
const QIcon& LiveStateIcon(TLiveState state);

// The state in words, with its time where it has one: "On-line", "No status report yet",
// "Channel A in FAULT", "No answer since 18:02:11", "Off-line since 18:02:11: <reason>".
// A time of another day carries its date.
QString LiveStateText(const TDevice& device);

// "HH:MM:SS", with the date before it when `time` is not of today.
QString SinceText(const QDateTime& time);
