#pragma once

#include <QString>

#include <atomic>

// A process-wide switch that every test and benchmark sets: the probe and the fetch then treat
// every address outside 127.0.0.0/8 as unreachable without sending anything. A host name that
// would need a look-up counts as outside. The program itself never sets it.
void SetLoopbackOnly(bool on);
bool LoopbackOnly();

// Whether `host` is a dotted-quad IPv4 address inside 127.0.0.0/8.
bool IsLoopbackAddress(const QString& host);
