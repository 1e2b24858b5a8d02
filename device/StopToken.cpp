#include "device/StopToken.h"

namespace {
thread_local const std::atomic<bool>* tCurrent = nullptr;
}

void StopToken::SetCurrent(const std::atomic<bool>* flag) {
    tCurrent = flag;
}

bool StopToken::Requested() {
    return tCurrent && tCurrent->load(std::memory_order_acquire);
}
