#pragma once

#include <QByteArray>
#include <QHash>
#include <QString>
#include <QStringList>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <sys/types.h>
#include <thread>
#include <vector>

// The ampsim program serving a fleet of amplifiers in its own process, started with --log. A
// reader thread stamps every log line with the monotonic clock as it arrives, so that the moment
// an amplifier received a settings command is known to within the pipe's delivery time.
class TSimProcess {
public:
    // `addresses` in the order the amplifiers are numbered; names are `name` numbered as ampsim
    // does, the group code is `group`.
    TSimProcess(const QString& program, const QStringList& addresses, const QString& group,
                const QString& name);
    ~TSimProcess(); // stops the process

    TSimProcess(const TSimProcess&) = delete;
    TSimProcess& operator=(const TSimProcess&) = delete;

    // Starts the program and waits until every amplifier listens. False with `error` set when it
    // failed or did not come up within `timeoutMs`. The program runs at niceness `nice` when
    // the system permits it (a negative value needs root).
    bool Start(int timeoutMs, int nice, QString& error);
    // The niceness the program runs at.
    int Nice() const;
    // Freezes and thaws the whole simulator (SIGSTOP, SIGCONT): connections are still accepted
    // by the kernel and probes still answered, but no request is ever answered while frozen.
    void Freeze();
    void Thaw();
    // Ends the program (SIGTERM, then SIGKILL after a bound) and the reader. Idempotent.
    void Stop();
    pid_t Pid() const { return FPid; }

    // Starts watching for settings commands whose channel A volume code is `code`: from now on
    // the first such command each amplifier receives is stamped.
    void Expect(int code);
    // How many amplifiers received the expected command so far.
    int Arrived() const { return FArrived.load(); }
    // Per amplifier, the monotonic time (ns) the expected command arrived, or -1.
    std::vector<std::int64_t> Arrivals() const;
    // Requests logged since the start, all amplifiers together, and the status requests among them.
    std::uint64_t Requests() const { return FRequests.load(); }
    std::uint64_t StatusRequests() const { return FStatusRequests.load(); }

private:
    void ReadLog();
    void TakeLine(const QByteArray& line, std::int64_t stamp);

    QString FProgram;
    QStringList FArguments;
    QHash<QByteArray, int> FIndex; // address -> amplifier number, read-only once started
    pid_t FPid = -1;
    int FReadFd = -1;
    bool FFrozen = false;
    std::thread FReader;

    mutable std::mutex FMutex;
    int FListening = 0;                  // guarded by FMutex
    QByteArray FErrorText;               // guarded by FMutex
    int FExpected = -1;                  // guarded by FMutex
    std::vector<std::int64_t> FArrivals; // guarded by FMutex
    std::atomic<int> FArrived{0};
    std::atomic<std::uint64_t> FRequests{0};
    std::atomic<std::uint64_t> FStatusRequests{0};
    std::atomic<bool> FEnded{false};
};
