// The reachability probe under a crowd: N threads probe N loopback addresses, paced like poll
// threads (a probe, then 150 ms), for a few seconds: with every amplifier on, with every other
// one switched off, and with all of them off (a probe of a switched-off amplifier waits its full
// 100 ms). It reports the CPU time and the context switches per probe and the probe times, so
// that a cost that grows with the number of probes in flight shows as a growing figure per probe.
//
// The run takes a network namespace of its own (root only), where only the loopback interface
// exists; nothing can leave the machine from there. In it the kernel is told to ignore echo
// requests, without touching the machine's own setting, and a responder thread answers for the
// amplifiers that are on, from their own addresses.
#include "bench/support/BenchUtil.h"
#include "bench/support/ProcStats.h"
#include "device/LoopbackGuard.h"
#include "device/pingunit.h"

#include <QCoreApplication>
#include <QFile>

#include <arpa/inet.h>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <functional>
#include <mutex>
#include <net/if.h>
#include <netinet/in.h>
#include <netinet/ip_icmp.h>
#include <poll.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {
constexpr int kPaceMs = 150;
constexpr int kBlock = 100;
// The raw ICMP socket option of <linux/icmp.h>, which cannot be included together with
// <net/if.h>: a mask of the message types the socket does not receive.
constexpr int kIcmpFilter = 1;
struct TIcmpFilter {
    std::uint32_t Blocked;
};

void Print(const QString& text) {
    std::fputs(qPrintable(text + QLatin1Char('\n')), stdout);
    std::fflush(stdout);
}

bool EnterOwnNetwork(QString& error) {
    if (::unshare(CLONE_NEWNET) != 0) {
        error = QStringLiteral("cannot take a network namespace of its own (%1); run as root")
                    .arg(QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    ifreq request{};
    std::strncpy(request.ifr_name, "lo", IFNAMSIZ - 1);
    bool up = fd >= 0 && ::ioctl(fd, SIOCGIFFLAGS, &request) == 0;
    if (up) {
        request.ifr_flags = short(request.ifr_flags | IFF_UP);
        up = ::ioctl(fd, SIOCSIFFLAGS, &request) == 0;
    }
    if (fd >= 0)
        ::close(fd);
    if (!up)
        error = QStringLiteral("cannot bring up the loopback interface of the namespace");
    return up;
}

// The kernel of the namespace answers no echo request; the responder answers for the amplifiers
// that are on.
bool IgnoreEchoes() {
    QFile file(QStringLiteral("/proc/sys/net/ipv4/icmp_echo_ignore_all"));
    return file.open(QIODevice::WriteOnly) && file.write("1\n") == 2;
}

// The number of amplifier `address` in the fleet (127.0.B.x, 250 to a block).
int AmpNumber(std::uint32_t networkOrder) {
    const std::uint32_t host = ntohl(networkOrder);
    return int((host >> 8 & 0xff) - kBlock) * 250 + int(host & 0xff) - 1;
}

std::uint16_t Checksum(const unsigned char* data, std::size_t length) {
    std::uint32_t sum = 0;
    for (std::size_t i = 0; i + 1 < length; i += 2)
        sum += std::uint32_t(data[i] << 8 | data[i + 1]);
    if (length % 2)
        sum += std::uint32_t(data[length - 1] << 8);
    while (sum >> 16)
        sum = (sum & 0xffff) + (sum >> 16);
    return std::uint16_t(~sum & 0xffff);
}

// Answers the echo requests to the amplifiers that are on, from the amplifier's address, as
// the amplifier's own network stack would.
class TResponder {
public:
    explicit TResponder(std::function<bool(int)> on) : FOn(std::move(on)) {
        FFd = ::socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP);
        const TIcmpFilter filter{~(1U << ICMP_ECHO)};
        ::setsockopt(FFd, SOL_RAW, kIcmpFilter, &filter, sizeof filter);
        FThread = std::thread([this] { Run(); });
    }
    ~TResponder() {
        FStop.store(true);
        FThread.join();
        ::close(FFd);
    }
    bool Valid() const { return FFd >= 0; }

private:
    void Run() {
        unsigned char packet[256];
        while (!FStop.load()) {
            pollfd entry{FFd, POLLIN, 0};
            if (::poll(&entry, 1, 20) <= 0)
                continue;
            const ssize_t got = ::recv(FFd, packet, sizeof packet, 0);
            if (got < 28)
                continue;
            const std::size_t header = std::size_t(packet[0] & 0x0f) * 4;
            if (std::size_t(got) < header + 8 || packet[header] != ICMP_ECHO)
                continue;
            std::uint32_t source, destination;
            std::memcpy(&source, packet + 12, 4);
            std::memcpy(&destination, packet + 16, 4);
            if (!FOn(AmpNumber(destination)))
                continue;
            unsigned char* reply = packet + header;
            const std::size_t length = std::size_t(got) - header;
            reply[0] = ICMP_ECHOREPLY;
            reply[2] = reply[3] = 0;
            const std::uint16_t sum = Checksum(reply, length);
            reply[2] = std::uint8_t(sum >> 8);
            reply[3] = std::uint8_t(sum & 0xff);
            sockaddr_in to{};
            to.sin_family = AF_INET;
            to.sin_addr.s_addr = source;
            iovec data{reply, length};
            alignas(cmsghdr) unsigned char control[CMSG_SPACE(sizeof(in_pktinfo))] = {};
            msghdr message{};
            message.msg_name = &to;
            message.msg_namelen = sizeof to;
            message.msg_iov = &data;
            message.msg_iovlen = 1;
            message.msg_control = control;
            message.msg_controllen = sizeof control;
            cmsghdr* item = CMSG_FIRSTHDR(&message);
            item->cmsg_level = IPPROTO_IP;
            item->cmsg_type = IP_PKTINFO;
            item->cmsg_len = CMSG_LEN(sizeof(in_pktinfo));
            in_pktinfo info{};
            info.ipi_spec_dst.s_addr = destination;
            std::memcpy(CMSG_DATA(item), &info, sizeof info);
            ::sendmsg(FFd, &message, 0);
        }
    }

    std::function<bool(int)> FOn;
    int FFd = -1;
    std::atomic<bool> FStop{false};
    std::thread FThread;
};

struct TResult {
    double ProbesPerS = 0;
    double CpuPerProbeUs = 0;
    double SwitchesPerProbe = 0;
    double OnAnswered = -1;  // fraction of the probes of amplifiers that are on; -1: none on
    double OffAnswered = -1; // the same for amplifiers that are off
    double OnP50Ms = 0;
    double OnP99Ms = 0;
    double OffP99Ms = 0;
};

TResult Run(int threads, int seconds, const std::function<bool(int)>& on) {
    const QStringList addresses = BenchUtil::FleetAddresses(threads, kBlock);
    std::atomic<bool> stop{false};
    std::mutex mutex;
    std::vector<std::int64_t> onTimes, offTimes;
    std::atomic<long> onAnswered{0}, offAnswered{0};
    std::vector<std::thread> probers;
    const std::int64_t cpu0 = ProcStats::ProcessCpuNs(::getpid());
    const std::int64_t switches0 = ProcStats::ProcessSwitches();
    const std::int64_t start = ProcStats::NowNs();
    for (int i = 0; i < threads; ++i)
        probers.emplace_back([&, address = addresses[i], i, isOn = on(i)] {
            // The first probes spread over one pacing period, as poll threads started one after
            // another do.
            std::this_thread::sleep_for(std::chrono::milliseconds(i * kPaceMs / threads));
            std::vector<std::int64_t> own;
            long answered = 0;
            while (!stop.load()) {
                const std::int64_t t0 = ProcStats::NowNs();
                if (PingHost(address))
                    ++answered;
                own.push_back(ProcStats::NowNs() - t0);
                std::this_thread::sleep_for(std::chrono::milliseconds(kPaceMs));
            }
            (isOn ? onAnswered : offAnswered) += answered;
            std::lock_guard<std::mutex> lock(mutex);
            std::vector<std::int64_t>& times = isOn ? onTimes : offTimes;
            times.insert(times.end(), own.begin(), own.end());
        });
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    stop.store(true);
    for (std::thread& t : probers)
        t.join();
    const double wallS = double(ProcStats::NowNs() - start) / 1e9;
    TResult r;
    const double probes = double(onTimes.size() + offTimes.size());
    if (probes > 0) {
        r.CpuPerProbeUs = double(ProcStats::ProcessCpuNs(::getpid()) - cpu0) / probes / 1000;
        r.SwitchesPerProbe = double(ProcStats::ProcessSwitches() - switches0) / probes;
    }
    if (!onTimes.empty())
        r.OnAnswered = double(onAnswered.load()) / double(onTimes.size());
    if (!offTimes.empty())
        r.OffAnswered = double(offAnswered.load()) / double(offTimes.size());
    r.OnP50Ms = double(BenchUtil::Percentile(onTimes, 50)) / 1e6;
    r.OnP99Ms = double(BenchUtil::Percentile(onTimes, 99)) / 1e6;
    r.OffP99Ms = double(BenchUtil::Percentile(offTimes, 99)) / 1e6;
    r.ProbesPerS = probes / wallS;
    return r;
}

QString Fraction(double value) {
    return value < 0 ? QStringLiteral("-") : QString::number(value, 'f', 2);
}
} // namespace

int main(int argc, char** argv) {
    SetLoopbackOnly(true);
    ProcStats::RaiseDescriptorLimit();
    QString error;
    if (!EnterOwnNetwork(error) || !IgnoreEchoes()) {
        Print(QStringLiteral("bench_Probe: %1")
                  .arg(error.isEmpty() ? QStringLiteral("cannot ignore echoes") : error));
        return 1;
    }
    QCoreApplication app(argc, argv);
    QList<int> sizes = {1, 50, 250, 1000};
    int seconds = 5;
    const QStringList args = QCoreApplication::arguments();
    for (int i = 1; i + 1 < args.size(); ++i) {
        if (args[i] == QLatin1String("--sizes")) {
            sizes.clear();
            for (const QString& size : args[i + 1].split(QLatin1Char(','), Qt::SkipEmptyParts))
                sizes << std::clamp(size.toInt(), 1, 25000);
        } else if (args[i] == QLatin1String("--seconds")) {
            seconds = std::max(1, args[i + 1].toInt());
        }
    }

    struct TScenario {
        const char* Name;
        std::function<bool(int)> On;
    };
    const QList<TScenario> scenarios = {
        {"all on", [](int) { return true; }},
        {"half off", [](int number) { return number % 2 == 0; }},
        {"all off", [](int) { return false; }},
    };

    Print(QStringLiteral("machine: %1").arg(BenchUtil::MachineLine()));
    Print(QStringLiteral("%1%2%3%4%5%6%7%8%9%10")
              .arg(QStringLiteral("amplifiers"), -11)
              .arg(QStringLiteral("N"), 6)
              .arg(QStringLiteral("probes/s"), 10)
              .arg(QStringLiteral("CPU/probe us"), 14)
              .arg(QStringLiteral("switches/probe"), 16)
              .arg(QStringLiteral("on answered"), 13)
              .arg(QStringLiteral("off answered"), 14)
              .arg(QStringLiteral("on p50 ms"), 11)
              .arg(QStringLiteral("on p99 ms"), 11)
              .arg(QStringLiteral("off p99 ms"), 12));
    for (const TScenario& scenario : scenarios) {
        TResponder responder(scenario.On);
        if (!responder.Valid()) {
            Print(QStringLiteral("bench_Probe: cannot open the responder's socket"));
            return 1;
        }
        for (int size : std::as_const(sizes)) {
            const TResult r = Run(size, seconds, scenario.On);
            Print(QStringLiteral("%1%2%3%4%5%6%7%8%9%10")
                      .arg(QLatin1String(scenario.Name), -11)
                      .arg(size, 6)
                      .arg(r.ProbesPerS, 10, 'f', 0)
                      .arg(r.CpuPerProbeUs, 14, 'f', 1)
                      .arg(r.SwitchesPerProbe, 16, 'f', 1)
                      .arg(Fraction(r.OnAnswered), 13)
                      .arg(Fraction(r.OffAnswered), 14)
                      .arg(r.OnP50Ms, 11, 'f', 2)
                      .arg(r.OnP99Ms, 11, 'f', 2)
                      .arg(r.OffP99Ms, 12, 'f', 2));
        }
    }
    return 0;
}
