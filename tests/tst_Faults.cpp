// Faults end to end: real poll threads against simulated amplifiers on 127.0.18.x:80 that die,
// stall or answer wrongly. In every case nothing crashes, the faulty device's queue and the
// process's memory stay bounded, the faulty device holds the right state, and the devices of
// healthy amplifiers keep their status interval.
#include "device/DeviceUnit.h"
#include "device/ThreadCommUnit.h"
#include "device/pingunit.h"
#include "model/GroupUnit.h"
#include "model/GroupsUnit.h"
#include "model/Session.h"
#include "tools/ampsim/AmpRack.h"

#include <QElapsedTimer>
#include <QFile>
#include <QStandardItem>
#include <QTimer>
#include <QtTest>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <iterator>
#include <memory>
#include <numeric>
#include <thread>
#include <unistd.h>
#include <vector>

Q_DECLARE_METATYPE(TAmpFaults)

namespace {
constexpr int kWaitMs = 10000;
// A healthy device gets a status block every 150 to 300 ms; a gap of 1000 ms (beyond any time the
// machine held the whole process) means it was caught behind another device's fault.
constexpr qint64 kMaxGapMs = 1000;
// The queue replaces entries in place by prefix, so it can never hold more than one entry per
// command kind: status, name, group, lock off, lock on, settings and four mutes.
constexpr int kCommandKinds = 10;
constexpr qint64 kRssGrowthLimit = 64 * 1024 * 1024;
const QString kStatusRequest = QStringLiteral("/zyl.zyl");
const QString kPowerCutAddress = QStringLiteral("127.0.18.20");

std::atomic<bool> gPowerCut{false};

// The real probe, except that an amplifier whose power is cut does not answer it.
bool ProbeWithPowerCut(const QString& address) {
    if (gPowerCut.load() && address == kPowerCutAddress)
        return false;
    return PingHost(address);
}

// AddressSanitizer keeps freed memory resident on purpose (its quarantine), so resident size says
// nothing there; its leak check at exit stands in for the bound.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kResidentSizeMeaningful = false;
#else
constexpr bool kResidentSizeMeaningful = true;
#endif

qint64 ResidentBytes() {
    QFile statm(QStringLiteral("/proc/self/statm"));
    if (!statm.open(QIODevice::ReadOnly))
        return 0;
    const QList<QByteArray> fields = statm.readAll().split(' ');
    return fields.value(1).toLongLong() * sysconf(_SC_PAGESIZE);
}

std::array<std::uint8_t, 6> Codes(const TDevice& d) {
    const std::array<int, 6> c = d.SettingsCodes();
    return {{std::uint8_t(c[0]), std::uint8_t(c[1]), std::uint8_t(c[2]), std::uint8_t(c[3]),
             std::uint8_t(c[4]), std::uint8_t(c[5])}};
}

// The amplifier holds what the device wants, the device has its status and waits for nothing
// but the next status request.
bool InLine(const TDevice& d, const TAmpSim& amp) {
    const TAmpState s = amp.State();
    return d.StatusCount() > 0 && d.DeviceState() == 1 && d.Commands().size() <= 1 &&
           s.Settings == Codes(d) && s.DeviceName == d.ShortName().toLatin1() &&
           s.GroupName == NormaliseShortName(d.Group()->ShortName()).toLatin1() && !s.MuteA && !s.MuteB;
}

int NodeState(const TDevice& d) {
    return d.Node()->data(TGroups::StateIndexRole).toInt();
}

// One device's status blocks over a window: how many came, and the longest time without one.
// The window's start and its end count as edges, so a device that stops shows a long gap.
class TGapWatch {
public:
    explicit TGapWatch(TDevice* device) {
        FConnection = QObject::connect(device, &TDevice::StatusReceived, [this] {
            const qint64 now = FClock.elapsed();
            FMaxGap = std::max(FMaxGap, now - FLast);
            FLast = now;
            ++FCount;
        });
        FClock.start();
    }
    ~TGapWatch() { QObject::disconnect(FConnection); }
    TGapWatch(const TGapWatch&) = delete;
    TGapWatch& operator=(const TGapWatch&) = delete;

    int Count() const { return FCount; }
    qint64 MaxGapMs() const { return std::max(FMaxGap, FClock.elapsed() - FLast); }

private:
    QMetaObject::Connection FConnection;
    QElapsedTimer FClock;
    qint64 FLast = 0;
    qint64 FMaxGap = 0;
    int FCount = 0;
};

// The longest a device's queue got while watched, sampled more often than the poll thread
// takes commands.
class TQueueWatch {
public:
    explicit TQueueWatch(const TDevice* device) {
        QObject::connect(&FTimer, &QTimer::timeout,
                         [this, device] { FMax = std::max(FMax, int(device->Commands().size())); });
        FTimer.start(20);
    }
    int Max() const { return FMax; }

private:
    QTimer FTimer;
    int FMax = 0;
};

// A rack of three amplifiers, each with its device: the first is the one the tests make faulty,
// in a group of its own; the other two are the healthy neighbours. The session reconciles its
// registry every 100 ms, as under the main window.
struct TRackFixture {
    TAmpRack Rack; // declared first: its amplifiers outlive the poll threads talking to them
    TSession Session;
    TGroups* Registry = nullptr;
    TGroup* FaultyGroup = nullptr;
    TDevice* Subject = nullptr;
    std::vector<TDevice*> Neighbours;

    bool Start(QString& error) {
        for (int i = 1; i <= 3; ++i)
            Rack.Add(TAmpConfig::At(QStringLiteral("127.0.18.%1").arg(i)));
        if (!Rack.Start()) {
            error = Rack.ErrorString();
            return false;
        }
        Registry = Session.Registry();
        Session.Start();
        FaultyGroup = Registry->FindOrAddGroup(QStringLiteral("Faulty"), QStringLiteral("FLT"));
        FaultyGroup->SetVolume_A(-20);
        Subject = new TDevice(FaultyGroup, QStringLiteral("127.0.18.1"), QStringLiteral("Subject"),
                              QStringLiteral("SUBJ"));
        TGroup* healthy = Registry->FindOrAddGroup(QStringLiteral("Healthy"), QStringLiteral("OK"));
        for (int i = 2; i <= 3; ++i)
            Neighbours.push_back(new TDevice(healthy, QStringLiteral("127.0.18.%1").arg(i),
                                             QStringLiteral("Neighbour"), QStringLiteral("N%1").arg(i)));
        return true;
    }
    ~TRackFixture() { Session.Shutdown(3000); }
    TAmpSim& Faulty() const { return Rack.Amp(0); }
    bool AllInLine() const {
        if (!InLine(*Subject, Faulty()))
            return false;
        for (size_t i = 0; i < Neighbours.size(); ++i)
            if (!InLine(*Neighbours[i], Rack.Amp(int(i) + 1)))
                return false;
        return true;
    }
};

// How long the whole process was kept from running (a loaded or paused machine): the longest
// lateness of a thread that wakes every 10 ms. A neighbour's gap counts against the fault only
// beyond that.
class TStallClock {
public:
    TStallClock() : FThread([this] { Run(); }) {}
    ~TStallClock() {
        FStop.store(true);
        FThread.join();
    }
    TStallClock(const TStallClock&) = delete;
    TStallClock& operator=(const TStallClock&) = delete;
    qint64 MaxStallMs() const { return FMaxStallMs.load(); }

private:
    void Run() {
        using namespace std::chrono;
        constexpr milliseconds kTick(10);
        auto last = steady_clock::now();
        while (!FStop.load()) {
            std::this_thread::sleep_for(kTick);
            const auto now = steady_clock::now();
            const qint64 late = duration_cast<milliseconds>(now - last - kTick).count();
            if (late > FMaxStallMs.load())
                FMaxStallMs.store(late);
            last = now;
        }
    }
    std::atomic<bool> FStop{false};
    std::atomic<qint64> FMaxStallMs{0};
    std::thread FThread; // last: it starts once the fields it uses exist
};

// The healthy neighbours' status blocks while a fault lasts.
class TNeighbourWatch {
public:
    explicit TNeighbourWatch(const std::vector<TDevice*>& devices) {
        std::transform(devices.begin(), devices.end(), std::back_inserter(FWatches),
                       [](TDevice* d) { return std::make_unique<TGapWatch>(d); });
    }
    // Every neighbour got a block, and none went without one for kMaxGapMs beyond the time the
    // machine held the whole process.
    bool KeptTheirInterval() const {
        const qint64 bound = kMaxGapMs + FStall.MaxStallMs();
        return std::all_of(FWatches.begin(), FWatches.end(),
                           [bound](const auto& w) { return w->Count() > 0 && w->MaxGapMs() < bound; });
    }
    QByteArray Describe() const {
        return std::accumulate(FWatches.begin(), FWatches.end(),
                               "process held up to " + QByteArray::number(FStall.MaxStallMs()) + " ms;",
                               [](const QByteArray& text, const auto& w) {
                                   return text + " [" + QByteArray::number(w->Count()) +
                                          " blocks, longest gap " + QByteArray::number(w->MaxGapMs()) +
                                          " ms]";
                               });
    }

private:
    TStallClock FStall;
    std::vector<std::unique_ptr<TGapWatch>> FWatches;
};
} // namespace

class TestFaults : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void cleanup();
    void faultyAnswersLeaveStatusAndNeighboursAlone_data();
    void faultyAnswersLeaveStatusAndNeighboursAlone();
    void channelFaultShowsAndClears_data();
    void channelFaultShowsAndClears();
    void killedAmplifierIsBroughtBackInLine_data();
    void killedAmplifierIsBroughtBackInLine();
    void stalledAmplifierHoldsOnlyItsOwnDevice_data();
    void stalledAmplifierHoldsOnlyItsOwnDevice();

private:
    std::unique_ptr<TRackFixture> F;
    qint64 FStartRss = 0;
};

void TestFaults::initTestCase() {
    TSocketThread::SetPollThreadsEnabled(true);
    F = std::make_unique<TRackFixture>();
    QString error;
    QVERIFY2(F->Start(error), qPrintable(error));
    QTRY_VERIFY_WITH_TIMEOUT(F->AllInLine(), kWaitMs);
    FStartRss = ResidentBytes();
}

void TestFaults::cleanupTestCase() {
    const qint64 growth = ResidentBytes() - FStartRss;
    F.reset();
    qInfo("resident memory grew by %lld KiB over the whole run", growth / 1024);
    QVERIFY2(!kResidentSizeMeaningful || growth < kRssGrowthLimit,
             "the process must not hold on to what faulty amplifiers sent");
}

void TestFaults::cleanup() {
    SetPingFunction(nullptr);
    gPowerCut.store(false);
    F->Faulty().SetFaults(TAmpFaults());
    F->Faulty().Update([](TAmpState& s) { s.ChannelOkA = s.ChannelOkB = true; });
}

void TestFaults::faultyAnswersLeaveStatusAndNeighboursAlone_data() {
    QTest::addColumn<TAmpFaults>("faults");
    QTest::addColumn<bool>("blocksArrive");
    using EFraming = TAmpFaults::EFraming;
    const auto framed = [](EFraming framing, auto set) {
        TAmpFaults f;
        f.Framing = framing;
        set(f);
        return f;
    };
    const std::pair<const char*, EFraming> framings[] = {{"content-length", EFraming::ContentLength},
                                                         {"chunked", EFraming::Chunked},
                                                         {"close-delimited", EFraming::NoLength}};
    for (const auto& [name, framing] : framings) {
        QTest::addRow("reset mid-body, %s", name)
            << framed(framing, [](TAmpFaults& f) { f.ResetMidBody = true; }) << false;
        QTest::addRow("body over 1 MiB, %s", name)
            << framed(framing, [](TAmpFaults& f) { f.OversizeBody = true; }) << false;
    }
    TAmpFaults f;
    f.ContinueLines = 1000;
    QTest::newRow("1000 interim 100 Continue answers first") << f << true;
    f.ContinueLines = 50000; // over 1 MiB of interim answers: more than any header may take
    QTest::newRow("100 Continue storm past the header limit") << f << false;
    f = TAmpFaults();
    f.Garbage = true;
    QTest::newRow("garbage instead of HTTP") << f << false;
    f = TAmpFaults();
    f.DropConnection = true;
    QTest::newRow("connection closed without an answer") << f << false;
    for (int size : {3156, 0}) {
        f = TAmpFaults();
        f.StatusBodySize = size;
        QTest::addRow("status block of %d bytes", size) << f << false;
    }
}

void TestFaults::faultyAnswersLeaveStatusAndNeighboursAlone() {
    QFETCH(TAmpFaults, faults);
    QFETCH(bool, blocksArrive);
    TAmpSim& amp = F->Faulty();
    TDevice* d = F->Subject;
    QTRY_VERIFY_WITH_TIMEOUT(F->AllInLine(), kWaitMs);
    amp.SetFaults(faults);
    amp.ClearRequests();
    // Every request logged from here on meets the fault, and the device stored the answer to
    // the one before before it sent the next.
    QTRY_VERIFY_WITH_TIMEOUT(amp.RequestPaths().contains(kStatusRequest), kWaitMs);
    const QByteArray held = d->Status().ToBody();
    const quint64 count = d->StatusCount();
    const qint64 rssBefore = ResidentBytes();

    TQueueWatch queue(d);
    const TNeighbourWatch neighbours(F->Neighbours);
    QElapsedTimer window;
    window.start();
    // A block that got through would show channel A in FAULT.
    amp.Update([](TAmpState& s) { s.ChannelOkA = false; });
    // The operator moves the fader meanwhile: the amplifier acts on every request it reads,
    // whatever goes wrong with its answers.
    F->FaultyGroup->SetVolume_A(F->FaultyGroup->Volume_A() == -20 ? -21 : -20);
    const int wanted = d->SettingsCodes()[0];
    QTRY_VERIFY_WITH_TIMEOUT(amp.RequestPaths().count(kStatusRequest) >= 2 && window.elapsed() >= kMaxGapMs,
                             kWaitMs);
    QTRY_COMPARE_WITH_TIMEOUT(int(amp.State().Settings[0]), wanted, kWaitMs);

    if (blocksArrive) {
        QTRY_VERIFY_WITH_TIMEOUT(d->DeviceState() == 2 && d->StatusCount() > count, kWaitMs);
    } else {
        QCOMPARE(d->StatusCount(), count);
        QVERIFY2(d->Status().ToBody() == held, "a faulty answer must leave the last good status block whole");
        QCOMPARE(d->DeviceState(), 1);
    }
    QCOMPARE(d->Offline(), false);
    QVERIFY2(queue.Max() <= kCommandKinds, qPrintable(QStringLiteral("queue reached %1").arg(queue.Max())));
    QVERIFY2(neighbours.KeptTheirInterval(), neighbours.Describe().constData());
    const qint64 growth = ResidentBytes() - rssBefore;
    QVERIFY2(!kResidentSizeMeaningful || growth < kRssGrowthLimit,
             qPrintable(QStringLiteral("resident memory grew by %1 bytes").arg(growth)));

    // Once the amplifier answers properly, the next block shows what it holds.
    amp.SetFaults(TAmpFaults());
    QTRY_VERIFY_WITH_TIMEOUT(d->DeviceState() == 2 && d->Status().PD_CHA_Volume == wanted, kWaitMs);
    amp.Update([](TAmpState& s) { s.ChannelOkA = true; });
    QTRY_VERIFY_WITH_TIMEOUT(InLine(*d, amp), kWaitMs);
}

void TestFaults::channelFaultShowsAndClears_data() {
    QTest::addColumn<bool>("okA");
    QTest::addColumn<bool>("okB");
    QTest::newRow("channel A") << false << true;
    QTest::newRow("channel B") << true << false;
    QTest::newRow("both channels") << false << false;
}

void TestFaults::channelFaultShowsAndClears() {
    QFETCH(bool, okA);
    QFETCH(bool, okB);
    TAmpSim& amp = F->Faulty();
    TDevice* d = F->Subject;
    QTRY_VERIFY_WITH_TIMEOUT(F->AllInLine(), kWaitMs);
    const TNeighbourWatch neighbours(F->Neighbours);

    amp.Update([okA, okB](TAmpState& s) {
        s.ChannelOkA = okA;
        s.ChannelOkB = okB;
    });
    QTRY_VERIFY_WITH_TIMEOUT(d->DeviceState() == 2 && NodeState(*d) == 2, kWaitMs);
    QCOMPARE(d->Status().PD_CHA_Status != 0, okA);
    QCOMPARE(d->Status().PD_CHB_Status != 0, okB);
    QCOMPARE(d->Commands().size() <= 1, true); // a channel fault is reported, not something to correct

    amp.Update([](TAmpState& s) { s.ChannelOkA = s.ChannelOkB = true; });
    QTRY_VERIFY_WITH_TIMEOUT(d->DeviceState() == 1 && NodeState(*d) == 1, kWaitMs);
    for (const TDevice* n : F->Neighbours)
        QCOMPARE(n->DeviceState(), 1);
    QVERIFY2(neighbours.KeptTheirInterval(), neighbours.Describe().constData());
}

void TestFaults::killedAmplifierIsBroughtBackInLine_data() {
    QTest::addColumn<bool>("hostAnswers");
    QTest::newRow("server killed, host still answers the probe") << true;
    QTest::newRow("power cut, the probe goes unanswered too") << false;
}

void TestFaults::killedAmplifierIsBroughtBackInLine() {
    QFETCH(bool, hostAnswers);
    SetPingFunction(&ProbeWithPowerCut);
    auto rack = std::make_unique<TAmpRack>();
    rack->Add(TAmpConfig::At(kPowerCutAddress));
    QVERIFY2(rack->Start(), qPrintable(rack->ErrorString()));
    TGroup* g = F->Registry->FindOrAddGroup(QStringLiteral("Killed"), QStringLiteral("KILL"));
    std::unique_ptr<TDevice> d(
        new TDevice(g, kPowerCutAddress, QStringLiteral("Killed"), QStringLiteral("K 01")));
    QTRY_VERIFY_WITH_TIMEOUT(InLine(*d, rack->Amp(0)), kWaitMs);

    auto queue = std::make_unique<TQueueWatch>(d.get());
    const TNeighbourWatch neighbours(F->Neighbours);
    QElapsedTimer window;
    window.start();
    rack.reset(); // its port now refuses connections
    gPowerCut.store(!hostAnswers);
    // The operator keeps moving the group's faders while the amplifier is gone.
    for (int step = 0; step < 5; ++step) {
        g->SetVolume_A(-30 - step);
        g->SetSensitivity_B(-step);
        QTest::qWait(50);
    }
    // Whatever the amplifier answered before it died has been stored by now; nothing may follow.
    const QByteArray held = d->Status().ToBody();
    const quint64 count = d->StatusCount();
    QTRY_VERIFY_WITH_TIMEOUT(window.elapsed() >= kMaxGapMs && d->Offline() == !hostAnswers, kWaitMs);
    QCOMPARE(d->DeviceState(), hostAnswers ? 1 : 3);
    QCOMPARE(NodeState(*d), hostAnswers ? 1 : 3);
    QCOMPARE(d->StatusCount(), count);
    QVERIFY(d->Status().ToBody() == held);
    QVERIFY2(queue->Max() <= kCommandKinds, qPrintable(QStringLiteral("queue reached %1").arg(queue->Max())));
    QVERIFY2(neighbours.KeptTheirInterval(), neighbours.Describe().constData());

    // It comes back from the factory state; the device sends it names, group and levels again.
    rack = std::make_unique<TAmpRack>();
    const TAmpSim& restarted = rack->Add(TAmpConfig::At(kPowerCutAddress));
    QVERIFY2(rack->Start(), qPrintable(rack->ErrorString()));
    gPowerCut.store(false);
    QTRY_VERIFY_WITH_TIMEOUT(InLine(*d, restarted), kWaitMs);
    QCOMPARE(d->Offline(), false);
    QCOMPARE(restarted.State().GroupName, QByteArray("KILL "));
    queue.reset();
    d.reset();
    QTRY_VERIFY_WITH_TIMEOUT(F->AllInLine(), kWaitMs);
}

void TestFaults::stalledAmplifierHoldsOnlyItsOwnDevice_data() {
    QTest::addColumn<TAmpFaults>("faults");
    TAmpFaults f;
    f.TrickleIntervalMs = 1000;
    QTest::newRow("answer trickles one byte a second") << f;
    f = TAmpFaults();
    f.NeverAnswer = true;
    QTest::newRow("connection accepted, never answered") << f;
}

void TestFaults::stalledAmplifierHoldsOnlyItsOwnDevice() {
    QFETCH(TAmpFaults, faults);
    TAmpRack rack;
    TAmpSim& amp = rack.Add(TAmpConfig::At(QStringLiteral("127.0.18.30")));
    QVERIFY2(rack.Start(), qPrintable(rack.ErrorString()));
    TGroup* g = F->Registry->FindOrAddGroup(QStringLiteral("Stalled"), QStringLiteral("STALL"));
    std::unique_ptr<TDevice> d(
        new TDevice(g, amp.Address(), QStringLiteral("Stalled"), QStringLiteral("S 01")));
    QTRY_VERIFY_WITH_TIMEOUT(InLine(*d, amp), kWaitMs);

    amp.SetFaults(faults);
    amp.ClearRequests();
    // Every request logged from here on meets the fault; the first one holds the device.
    QTRY_VERIFY_WITH_TIMEOUT(amp.RequestCount() >= 1, kWaitMs);
    const quint64 count = d->StatusCount();
    const QByteArray held = d->Status().ToBody();
    const TNeighbourWatch neighbours(F->Neighbours);
    auto queue = std::make_unique<TQueueWatch>(d.get());
    g->SetVolume_A(-40); // waits behind the stalled request, replaced in place
    g->SetVolume_A(-41);
    // What must not happen can only be shown by letting time pass: long enough for a healthy
    // device to make eight requests.
    QTest::qWait(1500);
    QCOMPARE(amp.RequestCount(), 1);
    QCOMPARE(d->StatusCount(), count);
    QVERIFY(d->Status().ToBody() == held);
    QCOMPARE(d->DeviceState(), 1);
    QVERIFY2(queue->Max() <= kCommandKinds, qPrintable(QStringLiteral("queue reached %1").arg(queue->Max())));
    QVERIFY2(neighbours.KeptTheirInterval(), neighbours.Describe().constData());
    queue.reset();

    // The operator removes the stalled amplifier: its thread lets go at once.
    const int running = TSocketThread::RunningThreads();
    QElapsedTimer timer;
    timer.start();
    d.reset();
    QTRY_VERIFY_WITH_TIMEOUT(TSocketThread::RunningThreads() == running - 1, kWaitMs);
    const qint64 endedMs = timer.elapsed();
    qInfo("the stalled device's poll thread ended %lld ms after the device was destroyed", endedMs);
    QVERIFY2(endedMs < 1000, "a stalled poll thread must end within a second of its device going");
    QTRY_VERIFY_WITH_TIMEOUT(F->AllInLine(), kWaitMs);
}

QTEST_MAIN(TestFaults)
#include "tst_Faults.moc"
