#pragma once

#include "device/DeviceUnit.h"

#include <QString>

// A device's live state in one word, as fadelink-headless prints it and the control API reports
// it: "nostatus", "online", "fault", "noanswer", "offline".
QString LiveStateWord(TLiveState state);
