#pragma once

#include <QRect>
#include <QString>

// Constants of the program as a whole. What the amplifiers understand is in device/Protocol.h.

// The program's version, from the project's version in CMakeLists.txt ("4.0").
inline const QString FadelinkVersion = QStringLiteral(FADELINK_VERSION);

// Where the main window opens, and the bounds a project file records when no window gives its
// own: left, top, width, height.
inline constexpr QRect DefaultFormBounds{190, 105, 1475, 901};

// The reconciliation tick: every device compares what it should hold with what its amplifier
// reported and queues the difference.
constexpr int ReconcileTickMs = 100;
