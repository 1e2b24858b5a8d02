#include "bench/support/SimProcess.h"

#include "bench/support/ProcStats.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {
const QByteArray kSettingsPrefix = "/common_settings_values1=";
const QByteArray kListening = "ampsim: ";
const QByteArray kStatusPath = "/zyl.zyl";
constexpr int kStopWaitMs = 5000;
} // namespace

TSimProcess::TSimProcess(const QString& program, const QStringList& addresses, const QString& group,
                         const QString& name)
    : FProgram(program), FArrivals(size_t(addresses.size()), -1) {
    FArguments << QStringLiteral("--log") << QStringLiteral("--group") << group << QStringLiteral("--name")
               << name << QStringLiteral("--") << addresses;
    for (int i = 0; i < addresses.size(); ++i)
        FIndex.insert(addresses[i].toLatin1(), i);
}

TSimProcess::~TSimProcess() {
    Stop();
}

bool TSimProcess::Start(int timeoutMs, int nice, QString& error) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) {
        error = QStringLiteral("pipe: %1").arg(QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    // Standard output (the request log) and standard error (the start lines) share the pipe;
    // each line is written whole, so they never interleave within a line.
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
    posix_spawn_file_actions_adddup2(&actions, fds[1], 2);

    std::vector<QByteArray> storage;
    storage.push_back(FProgram.toLocal8Bit());
    for (const QString& argument : std::as_const(FArguments))
        storage.push_back(argument.toLocal8Bit());
    std::vector<char*> argv;
    for (QByteArray& item : storage)
        argv.push_back(item.data());
    argv.push_back(nullptr);

    // Niceness is per thread on Linux and a child starts with its parent thread's: the calling
    // thread takes the program's niceness for the moment of the start.
    errno = 0;
    const int ownNice = ::getpriority(PRIO_PROCESS, 0);
    ::setpriority(PRIO_PROCESS, 0, nice);
    const int spawned = ::posix_spawn(&FPid, argv[0], &actions, nullptr, argv.data(), environ);
    ::setpriority(PRIO_PROCESS, 0, ownNice);
    posix_spawn_file_actions_destroy(&actions);
    ::close(fds[1]);
    if (spawned != 0) {
        ::close(fds[0]);
        FPid = -1;
        error = QStringLiteral("cannot start %1: %2")
                    .arg(FProgram, QString::fromLocal8Bit(std::strerror(spawned)));
        return false;
    }
    FReadFd = fds[0];
    FReader = std::thread([this] { ReadLog(); });

    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        {
            std::lock_guard<std::mutex> lock(FMutex);
            if (FListening == FIndex.size())
                return true;
            if (FEnded.load() || std::chrono::steady_clock::now() > deadline) {
                error = QStringLiteral("ampsim did not come up (%1 of %2 listening): %3")
                            .arg(FListening)
                            .arg(FIndex.size())
                            .arg(QString::fromLocal8Bit(FErrorText.trimmed()));
                break;
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    Stop();
    return false;
}

int TSimProcess::Nice() const {
    return FPid > 0 ? ::getpriority(PRIO_PROCESS, id_t(FPid)) : 0;
}

void TSimProcess::Freeze() {
    if (FPid > 0 && !FFrozen && ::kill(FPid, SIGSTOP) == 0)
        FFrozen = true;
}

void TSimProcess::Thaw() {
    if (FPid > 0 && FFrozen && ::kill(FPid, SIGCONT) == 0)
        FFrozen = false;
}

void TSimProcess::Stop() {
    if (FPid > 0) {
        Thaw();
        ::kill(FPid, SIGTERM);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kStopWaitMs);
        int status = 0;
        while (::waitpid(FPid, &status, WNOHANG) == 0) {
            if (std::chrono::steady_clock::now() > deadline) {
                ::kill(FPid, SIGKILL);
                ::waitpid(FPid, &status, 0);
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        FPid = -1;
    }
    if (FReader.joinable())
        FReader.join();
    if (FReadFd >= 0) {
        ::close(FReadFd);
        FReadFd = -1;
    }
}

void TSimProcess::Expect(int code) {
    std::lock_guard<std::mutex> lock(FMutex);
    FExpected = code;
    std::fill(FArrivals.begin(), FArrivals.end(), -1);
    FArrived.store(0);
}

std::vector<std::int64_t> TSimProcess::Arrivals() const {
    std::lock_guard<std::mutex> lock(FMutex);
    return FArrivals;
}

void TSimProcess::ReadLog() {
    QByteArray pending;
    char buffer[65536];
    for (;;) {
        const ssize_t got = ::read(FReadFd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        const std::int64_t stamp = ProcStats::NowNs();
        pending.append(buffer, got);
        qsizetype start = 0;
        for (qsizetype end; (end = pending.indexOf('\n', start)) >= 0; start = end + 1)
            TakeLine(pending.mid(start, end - start), stamp);
        pending.remove(0, start);
    }
    FEnded.store(true);
}

void TSimProcess::TakeLine(const QByteArray& line, std::int64_t stamp) {
    if (line.startsWith(kListening)) {
        std::lock_guard<std::mutex> lock(FMutex);
        if (line.contains(" name \""))
            ++FListening;
        else
            FErrorText += line + '\n';
        return;
    }
    FRequests.fetch_add(1, std::memory_order_relaxed);
    const qsizetype space = line.indexOf(' ');
    if (space < 0)
        return;
    const QByteArray path = line.mid(space + 1);
    if (path == kStatusPath)
        FStatusRequests.fetch_add(1, std::memory_order_relaxed);
    if (!path.startsWith(kSettingsPrefix) || path.size() < kSettingsPrefix.size() + 3)
        return;
    const auto found = FIndex.constFind(line.left(space));
    if (found == FIndex.constEnd())
        return;
    bool ok = false;
    const int code = path.mid(kSettingsPrefix.size(), 3).toInt(&ok);
    std::lock_guard<std::mutex> lock(FMutex);
    std::int64_t& arrival = FArrivals[size_t(found.value())];
    if (ok && code == FExpected && arrival < 0) {
        arrival = stamp;
        FArrived.fetch_add(1);
    }
}
