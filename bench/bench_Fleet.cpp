// The fleet benchmark: ampsim serves N amplifiers in its own process, and the controller's model
// runs N devices with real poll threads and the 100 ms reconciliation, without windows. For each
// N it measures a steady state and then a series of group level changes, closes the registry
// with every device in the middle of a request, and prints one table with the ratio of each
// figure to the same figure at the smallest N of the same run.
#include "bench/support/BenchUtil.h"
#include "bench/support/Fleet.h"
#include "bench/support/MeteredApplication.h"
#include "bench/support/ProcStats.h"
#include "bench/support/SimProcess.h"
#include "device/DeviceUnit.h"
#include "device/LoopbackGuard.h"
#include "device/pingunit.h"
#include "journal/Journal.h"
#include "journal/JournalReader.h"
#include "journal/JournalService.h"
#include "model/GroupUnit.h"

#include <QCommandLineParser>
#include <QDir>
#include <QFile>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <random>
#include <unistd.h>

namespace {
const QString kGroup = QStringLiteral("FLEET");
const QString kName = QStringLiteral("A");
constexpr double kStartVolume = -40;
constexpr int kSettleMs = 120000;
constexpr int kArrivalMs = 15000;
constexpr int kCloseBoundMs = 10000;

struct TRow {
    const char* Label;
    int Decimals;
    bool Ratio; // whether a ratio to the smallest fleet means something
};

// The figures of one fleet size.
struct TResult {
    int Size = 0;
    QString Label; // the column's heading; "N=Size" when empty
    bool Settled = false;
    double SettleS = 0;
    // Steady state.
    double BusyPct = 0;    // UI thread CPU time / wall time
    double HandlerPct = 0; // time inside event handlers / wall time
    double HandoffsPerS = 0;
    double HandoffUs = 0;         // mean time of one hand-off on the UI thread
    double PreemptionsPerS = 0;   // of the UI thread
    double SwitchesPerStatus = 0; // context switches of the process per status block
    double CpuPerStatusUs = 0;    // process CPU time per status block
    double TickMs = 0;            // mean reconciliation tick
    double TickMaxMs = 0;
    double StatusP50Ms = 0;
    double StatusP99Ms = 0;
    double StatusPerS = 0;    // status blocks stored per second, all devices
    double StatusLostPct = 0; // status requests the amplifiers logged that stored no block
    double SlowStatusPct = 0; // status intervals longer than 1.5 x the p50 at that size
    double HandoffsPerStatus = 0;
    double CpuPct = 0; // controller process, % of one processor
    double CpuPerAmpPct = 0;
    double SimCpuPct = 0;
    double RequestsPerS = 0; // requests the simulator logged
    double RssMB = 0;
    int Threads = 0;
    // Steady state and level changes together.
    double StallMs = 0;
    QString StallKind;
    double LoopLateMs = 0;
    // Level changes.
    double SetterMs = 0; // the longest group setter call
    double LatencyP50Ms = 0;
    double LatencyP99Ms = 0;
    double LatencyMaxMs = 0;
    int Missing = 0;
    // Close.
    bool AllMidRequest = false;
    double ShutdownMs = 0;
};

double Ms(std::int64_t ns) {
    return double(ns) / 1e6;
}

void Print(const QString& text) {
    std::fputs(qPrintable(text + QLatin1Char('\n')), stdout);
    std::fflush(stdout);
}

struct TOptions {
    QList<int> Sizes;
    int SteadyS = 30;
    int Changes = 20;
    int Block = 100;
    int SimNice = -10;
    QString Ampsim;
    // The journal comparison: the largest size twice, with one amplifier flapping every 2 s,
    // without and with the journal (kept in JournalDir).
    QString JournalDir;
};

// The flapping amplifier: its probe goes unanswered every other 2 s.
std::atomic<bool> gFlapping{false};
QString gFlapAddress;

bool ProbeWithFlapping(const QString& address) {
    if (gFlapping.load() && address == gFlapAddress && (ProcStats::NowNs() / 2000000000) % 2 == 1)
        return false;
    return PingHost(address);
}

TResult RunSize(TMeteredApplication& app, const TOptions& options, int size,
                const QString& journalPath = QString(), bool flap = false) {
    TResult r;
    r.Size = size;
    const QStringList addresses = BenchUtil::FleetAddresses(size, options.Block);
    TSimProcess sim(options.Ampsim, addresses, kGroup, kName);
    QString error;
    if (!sim.Start(60000, options.SimNice, error)) {
        Print(QStringLiteral("N=%1: %2").arg(size).arg(error));
        return r;
    }
    TFleet fleet(addresses, kGroup, kName, kStartVolume);
    std::unique_ptr<TJournalService> journal;
    if (!journalPath.isEmpty())
        journal =
            std::make_unique<TJournalService>(fleet.Session(), journalPath, QStringLiteral("bench_Fleet"));

    const std::int64_t settleStart = ProcStats::NowNs();
    r.Settled = BenchUtil::RunUntil([&fleet] { return fleet.Settled(); }, kSettleMs);
    r.SettleS = Ms(ProcStats::NowNs() - settleStart) / 1000;
    Print(QStringLiteral("N=%1: %2 in %3 s")
              .arg(size)
              .arg(r.Settled ? "settled" : "NOT settled")
              .arg(r.SettleS, 0, 'f', 1));
    gFlapAddress = addresses.value(size / 2);
    gFlapping.store(flap);
    BenchUtil::RunFor(2000);

    // Steady state.
    fleet.SetRecording(true);
    app.ResetFigures();
    const pid_t self = ::getpid();
    const std::int64_t cpu0 = ProcStats::ProcessCpuNs(self);
    const std::int64_t simCpu0 = ProcStats::ProcessCpuNs(sim.Pid());
    const std::uint64_t requests0 = sim.Requests();
    const std::int64_t switches0 = ProcStats::ProcessSwitches();
    const std::uint64_t statusRequests0 = sim.StatusRequests();
    BenchUtil::RunFor(options.SteadyS * 1000);
    const TMeteredApplication::TFigures steady = app.Figures();
    const double wallS = double(steady.WallNs) / 1e9;
    r.BusyPct = 100.0 * double(steady.ThreadCpuNs) / double(steady.WallNs);
    r.HandlerPct = 100.0 * double(steady.EventNs) / double(steady.WallNs);
    r.HandoffsPerS = double(steady.Handoffs) / wallS;
    r.HandoffUs = steady.Handoffs ? double(steady.HandoffNs) / double(steady.Handoffs) / 1000 : 0;
    r.TickMs = fleet.Ticks() ? Ms(fleet.TickNs()) / double(fleet.Ticks()) : 0;
    r.TickMaxMs = Ms(fleet.LongestTickNs());
    const std::vector<std::int64_t> intervals = fleet.TakeIntervals();
    r.StatusP50Ms = Ms(BenchUtil::Percentile(intervals, 50));
    r.StatusP99Ms = Ms(BenchUtil::Percentile(intervals, 99));
    r.StatusPerS = double(intervals.size()) / wallS;
    const double statusRequested = double(sim.StatusRequests() - statusRequests0);
    // Each stored block ends one interval, except the first of each device.
    const double stored = double(intervals.size()) + size;
    r.StatusLostPct = statusRequested > 0 ? std::max(0.0, 100.0 * (1 - stored / statusRequested)) : 0;
    const std::int64_t slow = std::int64_t(1.5 * double(BenchUtil::Percentile(intervals, 50)));
    r.SlowStatusPct = intervals.empty()
                          ? 0
                          : 100.0 *
                                double(std::count_if(intervals.begin(), intervals.end(),
                                                     [slow](std::int64_t i) { return i > slow; })) /
                                double(intervals.size());
    r.HandoffsPerStatus = intervals.empty() ? 0 : double(steady.Handoffs) / double(intervals.size());
    const std::int64_t cpuNs = ProcStats::ProcessCpuNs(self) - cpu0;
    r.CpuPct = 100.0 * double(cpuNs) / double(steady.WallNs);
    r.PreemptionsPerS = double(steady.Preemptions) / wallS;
    if (!intervals.empty()) {
        r.SwitchesPerStatus = double(ProcStats::ProcessSwitches() - switches0) / double(intervals.size());
        r.CpuPerStatusUs = double(cpuNs) / double(intervals.size()) / 1000;
    }
    r.CpuPerAmpPct = r.CpuPct / size;
    r.SimCpuPct = 100.0 * double(ProcStats::ProcessCpuNs(sim.Pid()) - simCpu0) / double(steady.WallNs);
    r.RequestsPerS = double(sim.Requests() - requests0) / wallS;
    r.RssMB = double(ProcStats::ResidentBytes(self)) / (1024.0 * 1024.0);
    r.Threads = ProcStats::ThreadCount(self);
    fleet.SetRecording(false);

    // Level changes, each waited for at every amplifier, at irregular moments so that a change
    // meets the poll cycle of a small fleet at every phase.
    app.ResetFigures();
    std::mt19937 random{unsigned(size)};
    std::vector<std::int64_t> latencies;
    std::int64_t longestSetter = 0;
    for (int i = 0; i < options.Changes; ++i) {
        const double level = -30 + 0.5 * (i % 40);
        sim.Expect(LevelCode(level));
        std::int64_t called = 0;
        QTimer::singleShot(0, &fleet, [&fleet, &called, &longestSetter, level] {
            called = ProcStats::NowNs();
            fleet.Group()->SetVolume_A(level);
            longestSetter = std::max(longestSetter, ProcStats::NowNs() - called);
        });
        BenchUtil::RunUntil([&sim, size] { return sim.Arrived() == size; }, kArrivalMs);
        for (std::int64_t arrival : sim.Arrivals()) {
            if (arrival < 0)
                ++r.Missing;
            else
                latencies.push_back(arrival - called);
        }
        BenchUtil::RunFor(300 + int(random() % 1000));
    }
    const TMeteredApplication::TFigures changes = app.Figures();
    r.SetterMs = Ms(longestSetter);
    r.LatencyP50Ms = Ms(BenchUtil::Percentile(latencies, 50));
    r.LatencyP99Ms = Ms(BenchUtil::Percentile(latencies, 99));
    r.LatencyMaxMs = Ms(BenchUtil::Maximum(latencies));
    const bool changesLonger = changes.LongestEventNs > steady.LongestEventNs;
    r.StallMs = Ms(std::max(steady.LongestEventNs, changes.LongestEventNs));
    r.StallKind = QString::fromLatin1(changesLonger ? changes.LongestEventKind : steady.LongestEventKind);
    r.LoopLateMs = Ms(std::max(steady.HeartbeatLateMaxNs, changes.HeartbeatLateMaxNs));

    // Close with every device in the middle of a request: the frozen simulator still accepts
    // connections and the kernel still answers probes, but no answer comes, so every poll thread
    // ends up waiting inside its fetch and the hand-offs stop.
    gFlapping.store(false);
    if (journal && journal->Journal()) {
        // Written in full before the close is timed.
        journal->Journal()->Flush(10000);
        journal.reset();
    }
    sim.Freeze();
    std::int64_t lastHandoffs = -1;
    int quietRounds = 0;
    for (int round = 0; round < 50 && quietRounds < 3; ++round) {
        BenchUtil::RunFor(100);
        const std::int64_t handoffs = app.Figures().Handoffs;
        quietRounds = handoffs == lastHandoffs ? quietRounds + 1 : 0;
        lastHandoffs = handoffs;
    }
    r.AllMidRequest = quietRounds >= 3;
    const std::int64_t closed = fleet.Close(kCloseBoundMs);
    r.ShutdownMs = closed < 0 ? -1 : Ms(closed);
    sim.Stop();
    Print(QStringLiteral("N=%1: done").arg(size));
    return r;
}

void PrintTable(const QList<TResult>& results) {
    struct TLine {
        TRow Row;
        std::function<double(const TResult&)> Value;
    };
    const QList<TLine> lines = {
        {{"UI thread busy, CPU (%)", 1, true}, [](const TResult& r) { return r.BusyPct; }},
        {{"UI thread in handlers (%)", 1, true}, [](const TResult& r) { return r.HandlerPct; }},
        {{"reconcile tick mean (ms)", 2, true}, [](const TResult& r) { return r.TickMs; }},
        {{"reconcile tick max (ms)", 2, true}, [](const TResult& r) { return r.TickMaxMs; }},
        {{"hand-offs per second", 0, true}, [](const TResult& r) { return r.HandoffsPerS; }},
        {{"hand-off mean (us)", 1, true}, [](const TResult& r) { return r.HandoffUs; }},
        {{"UI thread preemptions per s", 0, true}, [](const TResult& r) { return r.PreemptionsPerS; }},
        {{"longest UI stall (ms)", 1, true}, [](const TResult& r) { return r.StallMs; }},
        {{"event loop late, max (ms)", 1, true}, [](const TResult& r) { return r.LoopLateMs; }},
        {{"group setter, longest (ms)", 2, true}, [](const TResult& r) { return r.SetterMs; }},
        {{"status interval p50 (ms)", 1, true}, [](const TResult& r) { return r.StatusP50Ms; }},
        {{"status interval p99 (ms)", 1, true}, [](const TResult& r) { return r.StatusP99Ms; }},
        {{"status blocks per second", 0, false}, [](const TResult& r) { return r.StatusPerS; }},
        {{"status intervals > 1.5 x p50 (%)", 2, false}, [](const TResult& r) { return r.SlowStatusPct; }},
        {{"status requests not stored (%)", 2, false}, [](const TResult& r) { return r.StatusLostPct; }},
        {{"hand-offs per status block", 2, true}, [](const TResult& r) { return r.HandoffsPerStatus; }},
        {{"fader->amp latency p50 (ms)", 1, true}, [](const TResult& r) { return r.LatencyP50Ms; }},
        {{"fader->amp latency p99 (ms)", 1, true}, [](const TResult& r) { return r.LatencyP99Ms; }},
        {{"fader->amp latency max (ms)", 1, true}, [](const TResult& r) { return r.LatencyMaxMs; }},
        {{"latency samples missing", 0, false}, [](const TResult& r) { return double(r.Missing); }},
        {{"process CPU (% of 1 core)", 1, false}, [](const TResult& r) { return r.CpuPct; }},
        {{"process CPU per amp (%)", 3, true}, [](const TResult& r) { return r.CpuPerAmpPct; }},
        {{"CPU per status block (us)", 0, true}, [](const TResult& r) { return r.CpuPerStatusUs; }},
        {{"context switches per status", 1, true}, [](const TResult& r) { return r.SwitchesPerStatus; }},
        {{"resident memory (MB)", 1, true}, [](const TResult& r) { return r.RssMB; }},
        {{"threads", 0, false}, [](const TResult& r) { return double(r.Threads); }},
        {{"shutdown, all mid-request (ms)", 1, true}, [](const TResult& r) { return r.ShutdownMs; }},
        {{"simulator CPU (% of 1 core)", 1, false}, [](const TResult& r) { return r.SimCpuPct; }},
        {{"simulator requests per second", 0, false}, [](const TResult& r) { return r.RequestsPerS; }},
    };

    QString header = QStringLiteral("%1").arg(QStringLiteral("figure"), -32);
    for (const TResult& r : results)
        header +=
            QStringLiteral("%1").arg(r.Label.isEmpty() ? QStringLiteral("N=%1").arg(r.Size) : r.Label, 10);
    for (int i = 1; i < results.size(); ++i)
        header +=
            QStringLiteral("%1").arg(QStringLiteral("%1/%2").arg(results[i].Size).arg(results[0].Size), 10);
    Print(header);
    for (const TLine& line : lines) {
        QString text = QStringLiteral("%1").arg(QLatin1String(line.Row.Label), -32);
        for (const TResult& r : results)
            text += QStringLiteral("%1").arg(line.Value(r), 10, 'f', line.Row.Decimals);
        for (int i = 1; i < results.size(); ++i) {
            const double base = line.Value(results[0]);
            if (line.Row.Ratio && base != 0)
                text += QStringLiteral("%1").arg(line.Value(results[i]) / base, 10, 'f', 2);
            else
                text += QStringLiteral("%1").arg(QStringLiteral("-"), 10);
        }
        Print(text);
    }
    QString notes = QStringLiteral("longest stall was a");
    for (const TResult& r : results)
        notes += QStringLiteral(" [N=%1: %2]").arg(r.Size).arg(r.StallKind);
    Print(notes);
    for (const TResult& r : results)
        if (!r.Settled || !r.AllMidRequest || r.Missing)
            Print(QStringLiteral("N=%1: settled %2, all mid-request at close %3, missing latencies %4")
                      .arg(r.Size)
                      .arg(r.Settled ? "yes" : "no", r.AllMidRequest ? "yes" : "no")
                      .arg(r.Missing));
}

// The targets at the largest fleet, against the smallest of the same run.
void PrintTargets(const TResult& base, const TResult& big) {
    struct TTarget {
        QString Text;
        bool Met;
    };
    const QList<TTarget> targets = {
        {QStringLiteral("status interval p99 %1 ms <= 1.25 x %2 ms")
             .arg(big.StatusP99Ms, 0, 'f', 1)
             .arg(base.StatusP99Ms, 0, 'f', 1),
         big.StatusP99Ms <= 1.25 * base.StatusP99Ms},
        {QStringLiteral("latency p99 %1 ms <= 1.25 x %2 ms")
             .arg(big.LatencyP99Ms, 0, 'f', 1)
             .arg(base.LatencyP99Ms, 0, 'f', 1),
         big.LatencyP99Ms <= 1.25 * base.LatencyP99Ms && big.Missing == 0},
        {QStringLiteral("UI thread busy %1 % < 25 %").arg(big.BusyPct, 0, 'f', 1), big.BusyPct < 25},
        {QStringLiteral("longest stall %1 ms <= 50 ms").arg(big.StallMs, 0, 'f', 1), big.StallMs <= 50},
        {QStringLiteral("resident memory %1 MB < 300 MB").arg(big.RssMB, 0, 'f', 1), big.RssMB < 300},
        {QStringLiteral("shutdown %1 ms < 1000 ms").arg(big.ShutdownMs, 0, 'f', 1),
         big.ShutdownMs >= 0 && big.ShutdownMs < 1000 && big.AllMidRequest},
    };
    Print(QStringLiteral("targets at N=%1:").arg(big.Size));
    for (const TTarget& t : targets)
        Print(QStringLiteral("  %1  %2").arg(t.Met ? "met   " : "MISSED", t.Text));
}
// The same fleet with one amplifier flapping, without and with the journal: status interval p99
// and user-interface thread busy within 1.1 times.
int CompareJournal(TMeteredApplication& app, const TOptions& options) {
    SetPingFunction(&ProbeWithFlapping);
    const int size = options.Sizes.last();
    QDir().mkpath(options.JournalDir);
    const QString path = QDir(options.JournalDir).filePath(QStringLiteral("bench-journal.sqlite"));
    QFile::remove(path);
    TResult without = RunSize(app, options, size, QString(), true);
    without.Label = QStringLiteral("none");
    TResult with = RunSize(app, options, size, path, true);
    with.Label = QStringLiteral("journal");
    Print(QStringLiteral("machine at the end: %1").arg(BenchUtil::MachineLine()));
    PrintTable({without, with});
    {
        TJournalReader reader(path);
        Print(QStringLiteral("journal entries written: %1").arg(reader.EntryCount()));
    }
    const bool p99 = with.StatusP99Ms <= 1.1 * without.StatusP99Ms;
    const bool busy = with.BusyPct <= 1.1 * without.BusyPct;
    Print(QStringLiteral("targets at N=%1, one amplifier flapping every 2 s:").arg(size));
    Print(QStringLiteral("  %1  status interval p99 %2 ms <= 1.1 x %3 ms (ratio %4)")
              .arg(p99 ? "met   " : "MISSED")
              .arg(with.StatusP99Ms, 0, 'f', 1)
              .arg(without.StatusP99Ms, 0, 'f', 1)
              .arg(with.StatusP99Ms / without.StatusP99Ms, 0, 'f', 3));
    Print(QStringLiteral("  %1  UI thread busy %2 % <= 1.1 x %3 % (ratio %4)")
              .arg(busy ? "met   " : "MISSED")
              .arg(with.BusyPct, 0, 'f', 2)
              .arg(without.BusyPct, 0, 'f', 2)
              .arg(with.BusyPct / without.BusyPct, 0, 'f', 3));
    SetPingFunction(nullptr);
    return 0;
}
} // namespace

int main(int argc, char** argv) {
    SetLoopbackOnly(true);
    const long descriptors = ProcStats::RaiseDescriptorLimit();
    TMeteredApplication app(argc, argv);

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Fleet benchmark: the controller against N simulated amplifiers."));
    parser.addHelpOption();
    parser.addOption({QStringLiteral("sizes"), QStringLiteral("Fleet sizes, smallest first."),
                      QStringLiteral("list"), QStringLiteral("1,50,250,1000")});
    parser.addOption({QStringLiteral("steady"), QStringLiteral("Seconds of steady state."),
                      QStringLiteral("s"), QStringLiteral("30")});
    parser.addOption({QStringLiteral("changes"), QStringLiteral("Group level changes."), QStringLiteral("n"),
                      QStringLiteral("20")});
    parser.addOption({QStringLiteral("block"), QStringLiteral("First address block: 127.0.B.x."),
                      QStringLiteral("B"), QStringLiteral("100")});
    parser.addOption(
        {QStringLiteral("sim-nice"),
         QStringLiteral("Niceness of the simulator, which stands in for N independent amplifiers on "
                        "one thread (negative values need root)."),
         QStringLiteral("n"), QStringLiteral("-10")});
    parser.addOption({QStringLiteral("ampsim"), QStringLiteral("The ampsim program."), QStringLiteral("path"),
                      QStringLiteral(AMPSIM_PROGRAM)});
    parser.addOption({QStringLiteral("journal-compare"),
                      QStringLiteral("Run the largest size without and with the journal (kept in DIR), one "
                                     "amplifier flapping every 2 s in both."),
                      QStringLiteral("DIR")});
    parser.process(app);

    TOptions options;
    for (const QString& size :
         parser.value(QStringLiteral("sizes")).split(QLatin1Char(','), Qt::SkipEmptyParts))
        options.Sizes << std::max(1, size.toInt());
    options.SteadyS = std::max(1, parser.value(QStringLiteral("steady")).toInt());
    options.Changes = std::max(1, parser.value(QStringLiteral("changes")).toInt());
    options.Block = parser.value(QStringLiteral("block")).toInt();
    options.Ampsim = parser.value(QStringLiteral("ampsim"));
    options.SimNice = parser.value(QStringLiteral("sim-nice")).toInt();
    options.JournalDir = parser.value(QStringLiteral("journal-compare"));
    if (options.Sizes.isEmpty() || options.Block < 100 ||
        options.Block + (options.Sizes.last() - 1) / 250 > 199) {
        Print(QStringLiteral("sizes must be given, and the blocks must lie within 127.0.100-199.x"));
        return 2;
    }

    Print(QStringLiteral("machine: %1").arg(BenchUtil::MachineLine()));
    Print(QStringLiteral("descriptor limit %1; steady %2 s, %3 level changes")
              .arg(descriptors)
              .arg(options.SteadyS)
              .arg(options.Changes));
    if (!options.JournalDir.isEmpty())
        return CompareJournal(app, options);
    QList<TResult> results;
    for (int size : std::as_const(options.Sizes))
        results << RunSize(app, options, size);
    Print(QStringLiteral("machine at the end: %1").arg(BenchUtil::MachineLine()));
    PrintTable(results);
    if (results.size() > 1)
        PrintTargets(results.first(), results.last());
    return 0;
}
