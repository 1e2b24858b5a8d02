#include "device/SocketWait.h"

#include "device/Protocol.h"
#include "device/StopToken.h"

#include <algorithm>
#include <cerrno>
#include <poll.h>
#include <unistd.h>

namespace {
constexpr std::chrono::milliseconds::rep SliceMs = StopCheckSliceMs;
}

TSocketFd::~TSocketFd() {
    if (FFd >= 0)
        ::close(FFd);
}

bool WaitForSocket(int fd, short events, TSocketClock::time_point deadline) {
    for (;;) {
        if (StopToken::Requested())
            return false;
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - TSocketClock::now()).count();
        if (left <= 0)
            return false;
        pollfd entry{fd, events, 0};
        const int ready = ::poll(&entry, 1, static_cast<int>(std::min(left, SliceMs)));
        if (ready > 0)
            return true;
        if (ready < 0 && errno != EINTR)
            return false;
    }
}
