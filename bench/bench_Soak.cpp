// The soak: ampsim serves 250 amplifiers in its own process while the controller's model runs
// 250 devices with real poll threads and the 100 ms reconciliation, and a group level changes
// every second, for ten minutes. Every window of a minute prints the controller's resident
// memory, threads, descriptors and queue lengths, the user-interface thread's load, the status
// interval and how soon each change reached the amplifiers; the end says whether anything grew.
#include "bench/support/BenchUtil.h"
#include "bench/support/Fleet.h"
#include "bench/support/MeteredApplication.h"
#include "bench/support/ProcStats.h"
#include "bench/support/SimProcess.h"
#include "device/DeviceUnit.h"
#include "device/LoopbackGuard.h"
#include "model/GroupUnit.h"

#include <QCommandLineParser>
#include <QTimer>

#include <cstdio>
#include <unistd.h>

namespace {
const QString kGroup = QStringLiteral("SOAK");
const QString kName = QStringLiteral("S");
constexpr double kStartVolume = -40;
constexpr int kChangeMs = 1000;

void Print(const QString& text) {
    std::fputs(qPrintable(text + QLatin1Char('\n')), stdout);
    std::fflush(stdout);
}

struct TWindow {
    double Minute = 0;
    double RssMB = 0;
    double SimRssMB = 0;
    int Threads = 0;
    int Descriptors = 0;
    int LongestQueue = 0;   // the longest queue right after any change in the window
    int QueuedCommands = 0; // all queues together, at the end of the window
    double BusyPct = 0;
    double StallMs = 0;
    double HandoffsPerS = 0;
    double StatusP50Ms = 0;
    double StatusP99Ms = 0;
    double LatencyP50Ms = 0;
    double LatencyP99Ms = 0;
    double Delivered = 0; // fraction of changes that reached an amplifier before the next one
};
} // namespace

int main(int argc, char** argv) {
    SetLoopbackOnly(true);
    const long descriptors = ProcStats::RaiseDescriptorLimit();
    TMeteredApplication app(argc, argv);

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Soak: N amplifiers, a level change every second."));
    parser.addHelpOption();
    parser.addOption(
        {QStringLiteral("size"), QStringLiteral("Amplifiers."), QStringLiteral("n"), QStringLiteral("250")});
    parser.addOption(
        {QStringLiteral("minutes"), QStringLiteral("Duration."), QStringLiteral("m"), QStringLiteral("10")});
    parser.addOption({QStringLiteral("window"), QStringLiteral("Seconds per reported window."),
                      QStringLiteral("s"), QStringLiteral("60")});
    parser.addOption({QStringLiteral("block"), QStringLiteral("First address block: 127.0.B.x."),
                      QStringLiteral("B"), QStringLiteral("110")});
    parser.addOption({QStringLiteral("sim-nice"), QStringLiteral("Niceness of the simulator."),
                      QStringLiteral("n"), QStringLiteral("-10")});
    parser.addOption({QStringLiteral("ampsim"), QStringLiteral("The ampsim program."), QStringLiteral("path"),
                      QStringLiteral(AMPSIM_PROGRAM)});
    parser.process(app);
    const int size = std::max(1, parser.value(QStringLiteral("size")).toInt());
    const double minutes = std::max(0.1, parser.value(QStringLiteral("minutes")).toDouble());
    const int windowS = std::max(5, parser.value(QStringLiteral("window")).toInt());
    const int block = parser.value(QStringLiteral("block")).toInt();
    if (block < 100 || block + (size - 1) / 250 > 199) {
        Print(QStringLiteral("the address blocks must lie within 127.0.100-199.x"));
        return 2;
    }

    Print(QStringLiteral("machine: %1").arg(BenchUtil::MachineLine()));
    Print(QStringLiteral("soak: %1 amplifiers, %2 min, a level change every %3 ms, descriptor limit %4")
              .arg(size)
              .arg(minutes)
              .arg(kChangeMs)
              .arg(descriptors));
    const QStringList addresses = BenchUtil::FleetAddresses(size, block);
    TSimProcess sim(parser.value(QStringLiteral("ampsim")), addresses, kGroup, kName);
    QString error;
    if (!sim.Start(60000, parser.value(QStringLiteral("sim-nice")).toInt(), error)) {
        Print(error);
        return 1;
    }
    TFleet fleet(addresses, kGroup, kName, kStartVolume);
    if (!BenchUtil::RunUntil([&fleet] { return fleet.Settled(); }, 120000)) {
        Print(QStringLiteral("the fleet did not settle"));
        return 1;
    }

    const pid_t self = ::getpid();
    const int changesPerWindow = windowS * 1000 / kChangeMs;
    const int windows = std::max(1, int(minutes * 60 / windowS + 0.5));
    QList<TWindow> rows;
    const std::int64_t start = ProcStats::NowNs();
    int change = 0;
    Print(QStringLiteral("%1%2%3%4%5%6%7%8%9%10%11%12%13%14")
              .arg(QStringLiteral("min"), 5)
              .arg(QStringLiteral("RSS MB"), 8)
              .arg(QStringLiteral("sim MB"), 8)
              .arg(QStringLiteral("thr"), 6)
              .arg(QStringLiteral("fds"), 6)
              .arg(QStringLiteral("maxQ"), 6)
              .arg(QStringLiteral("sumQ"), 6)
              .arg(QStringLiteral("busy%"), 7)
              .arg(QStringLiteral("stall"), 7)
              .arg(QStringLiteral("hand/s"), 8)
              .arg(QStringLiteral("st p50"), 8)
              .arg(QStringLiteral("st p99"), 8)
              .arg(QStringLiteral("lat p50/p99 ms"), 16)
              .arg(QStringLiteral("reached"), 9));
    for (int w = 0; w < windows; ++w) {
        TWindow row;
        fleet.SetRecording(true);
        app.ResetFigures();
        std::vector<std::int64_t> latencies;
        long expected = 0;
        for (int i = 0; i < changesPerWindow; ++i, ++change) {
            const double level = -30 + 0.5 * (change % 20);
            sim.Expect(LevelCode(level));
            std::int64_t called = 0;
            QTimer::singleShot(0, &fleet, [&fleet, &called, &row, level] {
                called = ProcStats::NowNs();
                fleet.Group()->SetVolume_A(level);
                // The queues are longest right after a change.
                row.LongestQueue = std::max(row.LongestQueue, fleet.LongestQueue());
            });
            BenchUtil::RunFor(kChangeMs);
            for (std::int64_t arrival : sim.Arrivals())
                if (arrival >= 0)
                    latencies.push_back(arrival - called);
            expected += size;
        }
        const TMeteredApplication::TFigures figures = app.Figures();
        const std::vector<std::int64_t> intervals = fleet.TakeIntervals();
        fleet.SetRecording(false);
        row.Minute = double(ProcStats::NowNs() - start) / 60e9;
        row.RssMB = double(ProcStats::ResidentBytes(self)) / 1048576.0;
        row.SimRssMB = double(ProcStats::ResidentBytes(sim.Pid())) / 1048576.0;
        row.Threads = ProcStats::ThreadCount(self);
        row.Descriptors = ProcStats::OpenDescriptors();
        row.QueuedCommands = fleet.QueuedCommands();
        row.BusyPct = 100.0 * double(figures.ThreadCpuNs) / double(figures.WallNs);
        row.StallMs = double(figures.LongestEventNs) / 1e6;
        row.HandoffsPerS = double(figures.Handoffs) * 1e9 / double(figures.WallNs);
        row.StatusP50Ms = double(BenchUtil::Percentile(intervals, 50)) / 1e6;
        row.StatusP99Ms = double(BenchUtil::Percentile(intervals, 99)) / 1e6;
        row.LatencyP50Ms = double(BenchUtil::Percentile(latencies, 50)) / 1e6;
        row.LatencyP99Ms = double(BenchUtil::Percentile(latencies, 99)) / 1e6;
        row.Delivered = double(latencies.size()) / double(expected);
        rows << row;
        Print(
            QStringLiteral("%1%2%3%4%5%6%7%8%9%10%11%12%13%14")
                .arg(row.Minute, 5, 'f', 1)
                .arg(row.RssMB, 8, 'f', 1)
                .arg(row.SimRssMB, 8, 'f', 1)
                .arg(row.Threads, 6)
                .arg(row.Descriptors, 6)
                .arg(row.LongestQueue, 6)
                .arg(row.QueuedCommands, 6)
                .arg(row.BusyPct, 7, 'f', 1)
                .arg(row.StallMs, 7, 'f', 1)
                .arg(row.HandoffsPerS, 8, 'f', 0)
                .arg(row.StatusP50Ms, 8, 'f', 1)
                .arg(row.StatusP99Ms, 8, 'f', 1)
                .arg(
                    QStringLiteral("%1/%2").arg(row.LatencyP50Ms, 0, 'f', 0).arg(row.LatencyP99Ms, 0, 'f', 0),
                    16)
                .arg(QStringLiteral("%1%").arg(100 * row.Delivered, 0, 'f', 1), 9));
    }

    const std::int64_t closed = fleet.Close(10000);
    sim.Stop();
    Print(QStringLiteral("machine at the end: %1").arg(BenchUtil::MachineLine()));
    Print(QStringLiteral("close: %1")
              .arg(closed < 0 ? QStringLiteral("poll threads still running after 10 s")
                              : QStringLiteral("%1 ms").arg(double(closed) / 1e6, 0, 'f', 1)));

    // The first window includes the warm-up of caches and allocator: growth is judged after it.
    const TWindow& first = rows.size() > 1 ? rows[1] : rows[0];
    const TWindow& last = rows.last();
    int longestQueue = 0;
    int threadsMin = first.Threads, threadsMax = first.Threads;
    for (const TWindow& row : std::as_const(rows)) {
        longestQueue = std::max(longestQueue, row.LongestQueue);
        threadsMin = std::min(threadsMin, row.Threads);
        threadsMax = std::max(threadsMax, row.Threads);
    }
    Print(QStringLiteral("resident memory from minute %1 to %2: %3 MB -> %4 MB (%5 MB)")
              .arg(first.Minute, 0, 'f', 1)
              .arg(last.Minute, 0, 'f', 1)
              .arg(first.RssMB, 0, 'f', 1)
              .arg(last.RssMB, 0, 'f', 1)
              .arg(last.RssMB - first.RssMB, 0, 'f', 1));
    Print(QStringLiteral("threads between %1 and %2; descriptors %3 -> %4; longest queue %5 commands")
              .arg(threadsMin)
              .arg(threadsMax)
              .arg(first.Descriptors)
              .arg(last.Descriptors)
              .arg(longestQueue));
    return 0;
}
