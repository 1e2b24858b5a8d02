#pragma once

// Shared by the fuzz targets.

#include "device/LoopbackGuard.h"
#include "device/ThreadCommUnit.h"

#include <cstdio>
#include <cstdlib>

// A property that an input broke becomes a crash, so that the engine keeps the input and the
// replay of a crash file fails on it.
inline void FuzzCheck(bool holds, const char* property) {
    if (holds)
        return;
    std::fprintf(stderr, "fuzz: property broken: %s\n", property);
    std::abort();
}

// Whatever address an input names, nothing may leave loopback and no poll thread may start.
inline void HoldToLoopbackWithoutPollThreads() {
    SetLoopbackOnly(true);
    TSocketThread::SetPollThreadsEnabled(false);
}
