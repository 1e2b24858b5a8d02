// The reachability probe on loopback, its guard, and the replaceable probe of the poll threads.
#include "device/StopToken.h"
#include "device/pingunit.h"
#include "support/FakeNames.h"

#include <QTest>

#include <grp.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

namespace {
bool SocketPermitted(int type) {
    const int fd = ::socket(AF_INET, type | SOCK_CLOEXEC, IPPROTO_ICMP);
    if (fd < 0)
        return false;
    ::close(fd);
    return true;
}

QString gProbed;
bool RefuseEverything(const QString& address) {
    gProbed = address;
    return false;
}
} // namespace

Q_DECLARE_METATYPE(TPingMethod)

class tst_PingHost : public QObject {
    Q_OBJECT

private slots:
    void cleanup();
    void loopbackAnswers_data();
    void loopbackAnswers();
    void concurrentProbesEachSeeTheirOwnReply();
    void unreachableWithoutSendingAnything_data();
    void unreachableWithoutSendingAnything();
    void stopRequestEndsTheProbe();
    void unprivilegedUserFallsBackToTcp();
    void replacementProbeServesThePollThreads();
    void nameLookUpWaitIsBoundedAndCancellable();
};

void tst_PingHost::cleanup() {
    SetPingMethod(TPingMethod::Automatic);
    SetPingFunction(nullptr);
}

void tst_PingHost::loopbackAnswers_data() {
    QTest::addColumn<TPingMethod>("method");
    QTest::addColumn<QString>("address");
    QTest::addColumn<bool>("permitted");

    const bool datagram = SocketPermitted(SOCK_DGRAM);
    const bool raw = SocketPermitted(SOCK_RAW);
    // A port is the TCP probe's; the echo goes to the host. Names come from TFakeNames.
    for (const char* address :
         {"127.0.0.1", "127.0.11.20", "127.0.11.20:8080", "127.0.11.20.test", "127.0.11.20.test:8080"}) {
        QTest::addRow("automatic %s", address)
            << TPingMethod::Automatic << QString::fromLatin1(address) << true;
        QTest::addRow("ICMP datagram %s", address)
            << TPingMethod::IcmpDatagram << QString::fromLatin1(address) << datagram;
        QTest::addRow("ICMP raw %s", address) << TPingMethod::IcmpRaw << QString::fromLatin1(address) << raw;
        // Nothing listens on port 80 there: a refused connection shows the host is there.
        QTest::addRow("TCP connect %s", address)
            << TPingMethod::TcpConnect << QString::fromLatin1(address) << true;
    }
}

void tst_PingHost::loopbackAnswers() {
    QFETCH(TPingMethod, method);
    QFETCH(QString, address);
    QFETCH(bool, permitted);

    // A way of probing that the system refuses to this user reports every host unreachable.
    TFakeNames names;
    SetPingMethod(method);
    QCOMPARE(PingHost(address), permitted);
}

void tst_PingHost::concurrentProbesEachSeeTheirOwnReply() {
    // Raw sockets receive every echo reply on the host: each probe must pick out its own and
    // none may consume another's.
    constexpr int Probes = 8;
    std::atomic<int> answered{0};
    std::vector<std::thread> threads;
    for (int i = 0; i < Probes; ++i)
        threads.emplace_back([&answered] {
            for (int round = 0; round < 5; ++round)
                if (PingHost(QStringLiteral("127.0.11.21")))
                    ++answered;
        });
    for (std::thread& thread : threads)
        thread.join();
    QCOMPARE(answered.load(), Probes * 5);
}

void tst_PingHost::unreachableWithoutSendingAnything_data() {
    QTest::addColumn<QString>("address");
    QTest::addColumn<bool>("fakeNames");
    // Data only: the loopback guard keeps each of these from being contacted or looked up.
    QTest::newRow("private address") << QStringLiteral("192.168.1.20") << false;
    QTest::newRow("another private address") << QStringLiteral("10.1.2.3") << false;
    QTest::newRow("unresolvable name") << QStringLiteral("amp.invalid") << false;
    QTest::newRow("localhost needs a look-up") << QStringLiteral("localhost") << false;
    QTest::newRow("a name the guard never lets through") << QStringLiteral("127.0.11.20.test") << false;
    QTest::newRow("short loopback form") << QStringLiteral("127.1") << false;
    QTest::newRow("octet out of range") << QStringLiteral("127.0.0.256") << false;
    QTest::newRow("empty text") << QString() << false;
    QTest::newRow("port zero") << QStringLiteral("127.0.11.20:0") << false;
    QTest::newRow("looked-up name outside loopback") << QStringLiteral("192.168.1.20.test") << true;
    QTest::newRow("unknown name") << QStringLiteral("amp.test") << true;
}

void tst_PingHost::unreachableWithoutSendingAnything() {
    QFETCH(QString, address);
    QFETCH(bool, fakeNames);
    std::unique_ptr<TFakeNames> names(fakeNames ? new TFakeNames : nullptr);
    for (TPingMethod method : {TPingMethod::Automatic, TPingMethod::IcmpRaw, TPingMethod::TcpConnect}) {
        SetPingMethod(method);
        QVERIFY(!PingHost(address));
    }
}

void tst_PingHost::stopRequestEndsTheProbe() {
    const std::atomic<bool> stop{true};
    bool reachable = true;
    std::thread poll([&] {
        StopToken::SetCurrent(&stop);
        reachable = PingHost(QStringLiteral("127.0.11.22"));
        StopToken::SetCurrent(nullptr);
    });
    poll.join();
    QVERIFY(!reachable);
}

void tst_PingHost::unprivilegedUserFallsBackToTcp() {
    if (::geteuid() != 0) {
        QTest::qSkip("needs root to drop to an unprivileged user", __FILE__, __LINE__);
        return;
    }
    // The child gives up root for good; the test process keeps it.
    const pid_t child = ::fork();
    QVERIFY(child >= 0);
    if (child == 0) {
        const gid_t nobody = 65534;
        const bool dropped = ::setgroups(0, nullptr) == 0 && ::setgid(nobody) == 0 && ::setuid(nobody) == 0;
        const bool icmpRefused = !SocketPermitted(SOCK_DGRAM) && !SocketPermitted(SOCK_RAW);
        ::_exit(!dropped ? 2 : !icmpRefused ? 3 : PingHost(QStringLiteral("127.0.11.23")) ? 0 : 1);
    }
    int status = 0;
    QCOMPARE(::waitpid(child, &status, 0), child);
    QVERIFY(WIFEXITED(status));
    if (WEXITSTATUS(status) == 3) {
        QTest::qSkip("this system lets the unprivileged user open ICMP sockets", __FILE__, __LINE__);
        return;
    }
    QCOMPARE(WEXITSTATUS(status), 0);
}

void tst_PingHost::replacementProbeServesThePollThreads() {
    const QString address = QStringLiteral("127.0.11.24");
    QVERIFY(ProbeHost(address));
    SetPingFunction(RefuseEverything);
    QVERIFY(!ProbeHost(address));
    QCOMPARE(gProbed, address);
    QVERIFY2(PingHost(address), "the real probe stays available");
    SetPingFunction(nullptr);
    QVERIFY(ProbeHost(address));
}

// A look-up that does not answer holds the probe for the wait limit at most, and a stop request
// ends the wait at once; the look-up goes on, and its answer is kept for the next probes.
void tst_PingHost::nameLookUpWaitIsBoundedAndCancellable() {
    TFakeNames names;
    const QString stuck = QStringLiteral("stuck.127.0.11.27.test");
    SetNameWaitLimitMs(200);
    QVERIFY(!PingHost(stuck));

    SetNameWaitLimitMs(60000);
    const auto probe = std::make_shared<std::atomic<int>>(-1); // -1 running, else the result
    const auto stop = std::make_shared<std::atomic<bool>>(false);
    std::thread poll([probe, stop] {
        StopToken::SetCurrent(stop.get());
        const bool reachable = PingHost(QStringLiteral("stuck.127.0.11.28.test"));
        StopToken::SetCurrent(nullptr);
        probe->store(reachable ? 1 : 0);
    });
    // Once its look-up has started, the probe can only be waiting for it.
    QTRY_COMPARE_WITH_TIMEOUT(TFakeNames::Lookups(), 2, 10000);
    stop->store(true);
    QTRY_VERIFY_WITH_TIMEOUT(probe->load() >= 0, 10000); // long before the 60 s wait ends
    poll.join();
    QCOMPARE(probe->load(), 0);

    TFakeNames::Release();
    QVERIFY(PingHost(stuck));
    QVERIFY(PingHost(stuck));
    QCOMPARE(TFakeNames::Lookups(), 2);
}

QTEST_MAIN(tst_PingHost)
#include "tst_PingHost.moc"
