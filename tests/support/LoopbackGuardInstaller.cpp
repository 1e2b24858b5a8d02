// Compiled into every test executable: before any test runs, the probe and the fetch are held to
// 127.0.0.0/8, and at exit the poll threads that tests left stopping are given time to end.
#include "device/LoopbackGuard.h"
#include "device/ThreadCommUnit.h"

#include <QCoreApplication>

namespace {
void WaitForPollThreads() {
    TSocketThread::WaitForAllThreads(3000);
}

const bool gInstalled = [] {
    SetLoopbackOnly(true);
    qAddPostRoutine(WaitForPollThreads);
    return true;
}();
} // namespace
