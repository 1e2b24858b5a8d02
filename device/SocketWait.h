#pragma once

#include <chrono>

// Socket helpers shared by the probe and the fetch.

// Owns a socket descriptor and closes it.
class TSocketFd {
public:
    explicit TSocketFd(int fd) : FFd(fd) {}
    ~TSocketFd();
    TSocketFd(const TSocketFd&) = delete;
    TSocketFd& operator=(const TSocketFd&) = delete;
    int Get() const { return FFd; }
    bool Valid() const { return FFd >= 0; }

private:
    int FFd;
};

using TSocketClock = std::chrono::steady_clock;

// Waits until `fd` shows one of `events` (poll events) or `deadline` passes. The wait runs in
// slices of at most StopCheckSliceMs (Protocol.h) and ends early, false, when the calling poll thread is
// asked to stop. True when the socket is ready (or reports an error or hang-up, which the next call will
// show).
bool WaitForSocket(int fd, short events, TSocketClock::time_point deadline);
