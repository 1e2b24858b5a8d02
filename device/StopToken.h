#pragma once

#include <atomic>

// The stop request of the worker that runs on the calling thread (a poll thread, the device
// search), so that the probe and the fetch can abandon their waits within about 100 ms. On other
// threads (the user-interface thread) there is none and nothing is abandoned.
namespace StopToken {
// Installs `flag` as the calling thread's stop request (nullptr removes it).
void SetCurrent(const std::atomic<bool>* flag);
// True when the calling thread has been asked to stop.
bool Requested();
} // namespace StopToken
