#pragma once

#include <sys/types.h>

#include <cstdint>

// What the kernel reports about a process and the calling thread, read from /proc.
namespace ProcStats {
// User plus system CPU time of process `pid` so far, in nanoseconds; -1 when it cannot be read.
std::int64_t ProcessCpuNs(pid_t pid);
// Resident memory of `pid` in bytes; -1 when it cannot be read.
std::int64_t ResidentBytes(pid_t pid);
// Threads of `pid`; -1 when it cannot be read.
int ThreadCount(pid_t pid);
// Open file descriptors of the calling process.
int OpenDescriptors();
// Context switches of the calling thread so far: the ones it asked for (waits) and the ones it
// suffered (preemptions).
void ThisThreadSwitches(std::int64_t& voluntary, std::int64_t& involuntary);
// Context switches of the whole process so far, both kinds together.
std::int64_t ProcessSwitches();
// CPU time the calling thread has used, in nanoseconds.
std::int64_t ThisThreadCpuNs();
// Monotonic time in nanoseconds (the clock the simulator log is stamped with).
std::int64_t NowNs();
// The one-minute load average of the machine.
double LoadAverage();
// Raises the soft limit of open descriptors to the hard limit; returns the new soft limit.
long RaiseDescriptorLimit();
} // namespace ProcStats
