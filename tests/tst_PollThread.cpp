// Poll threads end to end: real threads, probes and requests against simulated amplifiers on
// 127.0.12.x:80.
#include "device/DeviceUnit.h"
#include "device/ThreadCommUnit.h"
#include "device/pingunit.h"
#include "model/GroupUnit.h"
#include "model/GroupsUnit.h"
#include "model/Session.h"
#include "tools/ampsim/AmpRack.h"

#include <QElapsedTimer>
#include <QStandardItem>
#include <QTimer>
#include <QtTest>

#include <arpa/inet.h>
#include <atomic>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {
constexpr int kWaitMs = 10000;
const QString kSettings = QStringLiteral("/common_settings_values1=");

std::atomic<bool> gReachable{true};
bool ControlledProbe(const QString&) {
    return gReachable.load();
}

// The registry of a test, reconciled every 100 ms by its session as under the main window.
struct TLiveModel {
    TLiveModel() {
        TSocketThread::SetPollThreadsEnabled(true);
        Session.Start();
    }
    ~TLiveModel() { Session.Shutdown(3000); }
    TSession Session;
    TGroups* Registry = Session.Registry();
};

// A peer that records the first request it receives and answers with an empty 200.
class TRecordingPeer {
public:
    explicit TRecordingPeer(const char* address) {
        FListen = ::socket(AF_INET, SOCK_STREAM, 0);
        int one = 1;
        ::setsockopt(FListen, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(80);
        ::inet_pton(AF_INET, address, &a.sin_addr);
        FOk = ::bind(FListen, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 && ::listen(FListen, 4) == 0;
        if (FOk)
            FThread = std::thread([this] { Serve(); });
    }
    ~TRecordingPeer() {
        ::shutdown(FListen, SHUT_RDWR);
        ::close(FListen);
        if (FThread.joinable())
            FThread.join();
    }
    bool Ok() const { return FOk; }
    bool Done() const { return FDone.load(); }
    QByteArray Request() const { return FRequest; }

private:
    void Serve() {
        const int c = ::accept(FListen, nullptr, nullptr);
        if (c < 0)
            return;
        QByteArray got;
        char buf[512];
        while (!got.contains("\r\n\r\n")) {
            const ssize_t n = ::recv(c, buf, sizeof buf, 0);
            if (n <= 0)
                break;
            got.append(buf, int(n));
        }
        const char answer[] = "HTTP/1.0 200 OK\r\nContent-Length: 0\r\n\r\n";
        ::send(c, answer, sizeof answer - 1, MSG_NOSIGNAL);
        ::close(c);
        FRequest = got;
        FDone.store(true);
    }
    int FListen = -1;
    bool FOk = false;
    std::thread FThread;
    std::atomic<bool> FDone{false};
    QByteArray FRequest;
};

// Holds the moment between a stop request and the wake-up of the thread open until the thread has
// ended and freed itself.
int gThreadsLeft = 0;
void WaitForTheThreadToEnd() {
    QElapsedTimer waited;
    waited.start();
    while (TSocketThread::RunningThreads() > gThreadsLeft && waited.elapsed() < kWaitMs)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
}

std::array<std::uint8_t, 6> Codes(const TDevice& d) {
    const std::array<int, 6> c = d.SettingsCodes();
    return {{std::uint8_t(c[0]), std::uint8_t(c[1]), std::uint8_t(c[2]), std::uint8_t(c[3]),
             std::uint8_t(c[4]), std::uint8_t(c[5])}};
}
} // namespace

class TestPollThread : public QObject {
    Q_OBJECT
private slots:
    void cleanup();
    void newDeviceQueueReachesTheAmplifierInOrder();
    void changedLevelReachesTheAmplifier();
    void commandReplacedInFlightIsSentAgain();
    void amplifierThatStopsAnsweringIsPolledAndComesBack();
    void wrongSizeStatusAnswersLeaveStatusUnchanged();
    void requestIsExactlySixLines();
    void unreachableDeviceWaitsWithItsQueue();
    void deviceDestroyedMidRequestIsSafe();
    void registryOf50TornDownMidRequest();
    void threadEndingRightAfterTheStopRequestIsSafe();
    void refusedThreadLeavesTheDeviceOfflineUntilARetry();
};

void TestPollThread::cleanup() {
    SetPingFunction(nullptr);
    gReachable.store(true);
    TSocketThread::SetAfterStopRequestHook(nullptr);
}

void TestPollThread::newDeviceQueueReachesTheAmplifierInOrder() {
    TAmpRack rack;
    TAmpSim& amp = rack.Add(TAmpConfig::At("127.0.12.1"));
    QVERIFY2(rack.Start(), qPrintable(rack.ErrorString()));
    TLiveModel live;
    TGroup* g = live.Registry->FindOrAddGroup("Main", "main");
    g->SetVolume_A(-12);
    g->SetVolume_B(-13.5);
    g->SetSensitivity_A(-2);
    g->SetSensitivity_B(-3);
    g->SetLimiter_A(120);
    g->SetLimiter_B(90);
    TDevice* d = new TDevice(g, "127.0.12.1", "Front", "fr 01", true, false);
    const QStringList constructorQueue = d->Commands();
    QCOMPARE(constructorQueue.size(), 6); // no unmute for the channel wanted muted

    QTRY_VERIFY_WITH_TIMEOUT(amp.RequestCount() >= constructorQueue.size(), kWaitMs);
    QCOMPARE(amp.RequestPaths().mid(0, constructorQueue.size()), constructorQueue);

    const std::array<std::uint8_t, 6> wanted = Codes(*d);
    QTRY_VERIFY_WITH_TIMEOUT(amp.State().Settings == wanted && amp.State().MuteA, kWaitMs);
    const TAmpState s = amp.State();
    QCOMPARE(s.DeviceName, QByteArray("FR 01"));
    QCOMPARE(s.GroupName, QByteArray("MAIN "));
    QVERIFY(!s.MuteB);
    QVERIFY(!s.Locked || s.Settings == wanted);
    // Once in line, the amplifier is only asked for its status.
    QTRY_VERIFY_WITH_TIMEOUT(d->Commands() == QStringList({"/zyl.zyl"}) || d->Commands().isEmpty(), kWaitMs);
    QCOMPARE(d->DeviceState(), 1);
    QVERIFY(d->StatusCount() > 0);
}

void TestPollThread::changedLevelReachesTheAmplifier() {
    TAmpRack rack;
    TAmpSim& amp = rack.Add(TAmpConfig::At("127.0.12.2"));
    QVERIFY2(rack.Start(), qPrintable(rack.ErrorString()));
    TLiveModel live;
    TGroup* g = live.Registry->FindOrAddGroup("G", "G");
    TDevice* d = new TDevice(g, "127.0.12.2", "A", "A");
    QTRY_VERIFY_WITH_TIMEOUT(amp.State().Settings == Codes(*d), kWaitMs);
    g->SetVolume_A(-3);
    QTRY_COMPARE_WITH_TIMEOUT(int(amp.State().Settings[0]), LevelCode(-3), kWaitMs);
    live.Registry->SetVolume(-6); // the global offset reaches it through the tick alone
    QTRY_COMPARE_WITH_TIMEOUT(int(amp.State().Settings[0]), LevelCode(-9), kWaitMs);
}

void TestPollThread::commandReplacedInFlightIsSentAgain() {
    TAmpRack rack;
    TAmpSim& amp = rack.Add(TAmpConfig::At("127.0.12.3"));
    QVERIFY2(rack.Start(), qPrintable(rack.ErrorString()));
    TLiveModel live;
    TGroup* g = live.Registry->FindOrAddGroup("G", "G");
    TDevice* d = new TDevice(g, "127.0.12.3", "A", "A");
    QTRY_VERIFY_WITH_TIMEOUT(amp.State().Settings == Codes(*d), kWaitMs);

    TAmpFaults slow;
    slow.AnswerDelayMs = 600;
    amp.SetFaults(slow);
    amp.ClearRequests();
    g->SetVolume_A(-40);
    const QString first = kSettings + d->SettingsValue();
    QTRY_VERIFY_WITH_TIMEOUT(amp.RequestPaths().contains(first), kWaitMs);
    g->SetVolume_A(-20); // replaced while its request is under way
    const QString second = kSettings + d->SettingsValue();
    amp.SetFaults(TAmpFaults());
    QTRY_VERIFY_WITH_TIMEOUT(amp.RequestPaths().contains(second), kWaitMs);
    QTRY_COMPARE_WITH_TIMEOUT(int(amp.State().Settings[0]), LevelCode(-20), kWaitMs);
}

void TestPollThread::amplifierThatStopsAnsweringIsPolledAndComesBack() {
    TAmpRack rack;
    rack.Add(TAmpConfig::At("127.0.12.4"));
    QVERIFY2(rack.Start(), qPrintable(rack.ErrorString()));
    TLiveModel live;
    TDevice* d = new TDevice(live.Registry->FindOrAddGroup("G", "G"), "127.0.12.4", "A", "A");
    QTRY_VERIFY_WITH_TIMEOUT(d->StatusCount() > 0, kWaitMs);
    QVERIFY(rack.SetAnswering(0, false));
    // Failed requests leave the queue after one attempt each, so it never grows.
    QTest::qWait(800);
    const quint64 during = d->StatusCount();
    QVERIFY(d->Commands().size() <= 7);
    QVERIFY(rack.SetAnswering(0, true));
    QTRY_VERIFY_WITH_TIMEOUT(d->StatusCount() > during + 1, kWaitMs);
    QCOMPARE(d->Offline(), false); // the probe answered throughout
}

void TestPollThread::wrongSizeStatusAnswersLeaveStatusUnchanged() {
    TAmpRack rack;
    TAmpSim& amp = rack.Add(TAmpConfig::At("127.0.12.5"));
    QVERIFY2(rack.Start(), qPrintable(rack.ErrorString()));
    TLiveModel live;
    TDevice* d = new TDevice(live.Registry->FindOrAddGroup("G", "G"), "127.0.12.5", "A", "A");
    QTRY_VERIFY_WITH_TIMEOUT(d->StatusCount() > 0 && d->DeviceState() == 1, kWaitMs);
    const QByteArray held = d->Status().ToBody();
    const quint64 count = d->StatusCount();
    for (int size : {3156, 3158, 200}) {
        TAmpFaults faults;
        faults.StatusBodySize = size;
        faults.StatusOnly = true;
        amp.SetFaults(faults);
        amp.Update([](TAmpState& s) { s.ChannelOkA = false; }); // would show if a block got through
        const int before = amp.RequestCount();
        QTRY_VERIFY_WITH_TIMEOUT(amp.RequestPaths().mid(before).count("/zyl.zyl") >= 2, kWaitMs);
        QCOMPARE(d->StatusCount(), count);
        QCOMPARE(d->DeviceState(), 1);
    }
    Q_UNUSED(held);
    amp.SetFaults(TAmpFaults());
    QTRY_VERIFY_WITH_TIMEOUT(d->DeviceState() == 2, kWaitMs); // the real block replaces it whole
}

void TestPollThread::requestIsExactlySixLines() {
    TRecordingPeer peer("127.0.12.9");
    QVERIFY(peer.Ok());
    TLiveModel live;
    new TDevice(live.Registry->FindOrAddGroup("G", "G"), "127.0.12.9", "A", "A");
    QTRY_VERIFY_WITH_TIMEOUT(peer.Done(), kWaitMs);
    QCOMPARE(peer.Request(), QByteArray("GET /zyl.zyl HTTP/1.0\r\n"
                                        "Host: 127.0.12.9\r\n"
                                        "Keep-Alive: 300\r\n"
                                        "Connection: keep-alive\r\n"
                                        "User-Agent: Mozilla/4.0 (compatible; Synapse)\r\n"
                                        "\r\n"));
}

void TestPollThread::unreachableDeviceWaitsWithItsQueue() {
    TAmpRack rack;
    TAmpSim& amp = rack.Add(TAmpConfig::At("127.0.12.6"));
    QVERIFY2(rack.Start(), qPrintable(rack.ErrorString()));
    SetPingFunction(&ControlledProbe);
    gReachable.store(false);
    TLiveModel live;
    TGroup* g = live.Registry->FindOrAddGroup("G", "G");
    TDevice* d = new TDevice(g, "127.0.12.6", "A", "A");
    QTRY_VERIFY_WITH_TIMEOUT(d->Offline(), kWaitMs);
    QCOMPARE(d->DeviceState(), 3);
    g->SetVolume_A(-50); // replaced in place, still waiting
    QTest::qWait(400);
    QCOMPARE(amp.RequestCount(), 0);
    const QStringList waiting = d->Commands();
    QCOMPARE(waiting.first(), QStringLiteral("/zyl.zyl"));
    QVERIFY(waiting.contains(kSettings + d->SettingsValue()));

    gReachable.store(true);
    QTRY_VERIFY_WITH_TIMEOUT(amp.RequestCount() >= 2, kWaitMs);
    QCOMPARE(amp.RequestPaths().first(), waiting.first()); // the oldest command goes first
    QCOMPARE(amp.RequestPaths().at(1), waiting.at(1));
    QTRY_VERIFY_WITH_TIMEOUT(!d->Offline(), kWaitMs);
}

void TestPollThread::deviceDestroyedMidRequestIsSafe() {
    TAmpRack rack;
    TAmpSim& amp = rack.Add(TAmpConfig::At("127.0.12.7"));
    TAmpFaults faults;
    faults.NeverAnswer = true;
    amp.SetFaults(faults);
    QVERIFY2(rack.Start(), qPrintable(rack.ErrorString()));
    const int baseline = TSocketThread::RunningThreads();
    {
        TLiveModel live;
        TGroup* g = live.Registry->FindOrAddGroup("G", "G");
        for (int i = 0; i < 3; ++i) {
            TDevice* d = new TDevice(g, "127.0.12.7", "A", "A");
            QTRY_VERIFY_WITH_TIMEOUT(amp.RequestCount() > i, kWaitMs);
            delete d; // its thread is inside a request that will never be answered
        }
        QVERIFY(TSocketThread::WaitForAllThreads(2000));
        QCOMPARE(TSocketThread::RunningThreads(), baseline);
        QCOMPARE(g->DeviceCount(), 0);
    }
}

void TestPollThread::registryOf50TornDownMidRequest() {
    TAmpRack rack;
    TAmpFaults faults;
    faults.NeverAnswer = true;
    for (int i = 0; i < 50; ++i)
        rack.Add(TAmpConfig::At(QStringLiteral("127.0.12.%1").arg(100 + i))).SetFaults(faults);
    QVERIFY2(rack.Start(), qPrintable(rack.ErrorString()));
    auto registry = std::make_unique<TGroups>();
    TGroup* g = registry->FindOrAddGroup("G", "G");
    for (int i = 0; i < 50; ++i)
        new TDevice(g, QStringLiteral("127.0.12.%1").arg(100 + i), "A", "A");
    QTRY_VERIFY_WITH_TIMEOUT(
        [&] {
            for (int i = 0; i < 50; ++i)
                if (rack.Amp(i).RequestCount() == 0)
                    return false;
            return true;
        }(),
        kWaitMs);
    QElapsedTimer timer;
    timer.start();
    registry.reset();
    const bool allGone = TSocketThread::WaitForAllThreads(1000);
    qInfo("50 poll threads ended %lld ms after the registry was destroyed", timer.elapsed());
    QVERIFY2(allGone, "every poll thread must end within a second of the registry going");
}

// Waking a thread that ended and freed itself on seeing the stop request must touch nothing it
// freed: the sanitizers report it if it does.
void TestPollThread::threadEndingRightAfterTheStopRequestIsSafe() {
    TAmpRack rack;
    TAmpSim& amp = rack.Add(TAmpConfig::At("127.0.12.10"));
    TAmpFaults faults;
    faults.NeverAnswer = true;
    amp.SetFaults(faults);
    QVERIFY2(rack.Start(), qPrintable(rack.ErrorString()));
    TLiveModel live;
    gThreadsLeft = TSocketThread::RunningThreads();
    TDevice* d = new TDevice(live.Registry->FindOrAddGroup("G", "G"), "127.0.12.10", "A", "A");
    QTRY_VERIFY_WITH_TIMEOUT(amp.RequestCount() > 0, kWaitMs);
    TSocketThread::SetAfterStopRequestHook(&WaitForTheThreadToEnd);
    delete d;
    QCOMPARE(TSocketThread::RunningThreads(), gThreadsLeft); // it ended inside the window
}

void TestPollThread::refusedThreadLeavesTheDeviceOfflineUntilARetry() {
    TAmpRack rack;
    rack.Add(TAmpConfig::At("127.0.12.11"));
    QVERIFY2(rack.Start(), qPrintable(rack.ErrorString()));
    TLiveModel live;
    TGroup* g = live.Registry->FindOrAddGroup("G", "G");
    TSocketThread::FailNextStarts(2); // at creation and at the first retry
    TDevice* d = new TDevice(g, "127.0.12.11", "A", "A");
    QCOMPARE(g->Devices(), QList<TDevice*>{d});
    QVERIFY(!d->Thread());
    QCOMPARE(d->Node()->data(TGroups::StateIndexRole).toInt(), 3);
    QVERIFY2(d->OfflineReason().contains("Resource temporarily unavailable"), qPrintable(d->OfflineReason()));
    QCOMPARE(d->Node()->toolTip(), d->OfflineReason());
    QTRY_VERIFY_WITH_TIMEOUT(d->Thread(), 2 * TDevice::PollThreadRetryMs + kWaitMs);
    QVERIFY(d->OfflineReason().isEmpty() && d->Node()->toolTip().isEmpty());
    QTRY_VERIFY_WITH_TIMEOUT(d->StatusCount() > 0 && d->DeviceState() == 1, kWaitMs);
}

QTEST_MAIN(TestPollThread)
#include "tst_PollThread.moc"
