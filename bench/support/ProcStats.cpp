#include "bench/support/ProcStats.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QList>

#include <chrono>
#include <sys/resource.h>
#include <time.h>
#include <unistd.h>

namespace {
QByteArray ReadProcFile(pid_t pid, const char* name) {
    QFile file(QStringLiteral("/proc/%1/%2").arg(pid).arg(QLatin1String(name)));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

// The value of a "Name:   value unit" line of /proc/PID/status.
std::int64_t StatusField(pid_t pid, const QByteArray& name) {
    const QByteArray text = ReadProcFile(pid, "status");
    for (const QByteArray& line : text.split('\n')) {
        if (!line.startsWith(name + ':'))
            continue;
        const QList<QByteArray> parts = line.mid(name.size() + 1).simplified().split(' ');
        bool ok = false;
        const std::int64_t value = parts.value(0).toLongLong(&ok);
        return ok ? value : -1;
    }
    return -1;
}
} // namespace

namespace ProcStats {
std::int64_t ProcessCpuNs(pid_t pid) {
    const QByteArray text = ReadProcFile(pid, "stat");
    // The command name may hold spaces; the fields after it are counted from its closing ")".
    const int close = text.lastIndexOf(')');
    if (close < 0)
        return -1;
    const QList<QByteArray> fields = text.mid(close + 2).split(' ');
    // After the name: state is field 3 of the line, utime field 14, stime field 15.
    if (fields.size() < 13)
        return -1;
    const std::int64_t ticks = fields[11].toLongLong() + fields[12].toLongLong();
    return ticks * 1000000000LL / ::sysconf(_SC_CLK_TCK);
}

std::int64_t ResidentBytes(pid_t pid) {
    const std::int64_t kib = StatusField(pid, "VmRSS");
    return kib < 0 ? -1 : kib * 1024;
}

int ThreadCount(pid_t pid) {
    return int(StatusField(pid, "Threads"));
}

int OpenDescriptors() {
    return int(QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::Files | QDir::System).size());
}

void ThisThreadSwitches(std::int64_t& voluntary, std::int64_t& involuntary) {
    rusage usage{};
    ::getrusage(RUSAGE_THREAD, &usage);
    voluntary = usage.ru_nvcsw;
    involuntary = usage.ru_nivcsw;
}

std::int64_t ProcessSwitches() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return std::int64_t(usage.ru_nvcsw) + usage.ru_nivcsw;
}

std::int64_t ThisThreadCpuNs() {
    timespec now{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return std::int64_t(now.tv_sec) * 1000000000LL + now.tv_nsec;
}

std::int64_t NowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

double LoadAverage() {
    double load[1] = {0};
    return ::getloadavg(load, 1) == 1 ? load[0] : -1;
}

long RaiseDescriptorLimit() {
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0)
        return -1;
    if (limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &limit);
        ::getrlimit(RLIMIT_NOFILE, &limit);
    }
    return long(limit.rlim_cur);
}
} // namespace ProcStats
