// The echo request bytes and the raw ICMP socket that every probe of the process shares, on
// 127.0.21.x.
#include "device/EchoSocket.h"
#include "device/pingunit.h"

#include <QTest>

#include <grp.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <thread>
#include <vector>

namespace {
bool RawSocketPermitted() {
    const int fd = ::socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP);
    if (fd < 0)
        return false;
    ::close(fd);
    return true;
}
} // namespace

class tst_EchoSocket : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void requestBytes_data();
    void requestBytes();
    void crowdOfProbesEachGetTheirReply_data();
    void crowdOfProbesEachGetTheirReply();
    void forkedChildProbesWithItsOwnSocket();
};

void tst_EchoSocket::init() {
    if (!RawSocketPermitted())
        QSKIP("this user may not open a raw ICMP socket");
    SetPingMethod(TPingMethod::IcmpRaw);
}

void tst_EchoSocket::cleanup() {
    SetPingMethod(TPingMethod::Automatic);
}

void tst_EchoSocket::requestBytes_data() {
    QTest::addColumn<int>("identifier");
    QTest::addColumn<int>("sequence");
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("plain") << 0x1234 << 0x0001 << QByteArray::fromHex("0800e5ca12340001");
    // The sum overflows 16 bits twice: both carries are folded back in.
    QTest::newRow("carries") << 0xffff << 0xffff << QByteArray::fromHex("0800f7ffffffffff");
    QTest::newRow("zeros") << 0 << 0 << QByteArray::fromHex("0800f7ff00000000");
}

void tst_EchoSocket::requestBytes() {
    QFETCH(int, identifier);
    QFETCH(int, sequence);
    QFETCH(QByteArray, bytes);
    unsigned char request[EchoHeaderSize];
    BuildEchoRequest(request, std::uint16_t(identifier), std::uint16_t(sequence));
    QCOMPARE(QByteArray(reinterpret_cast<const char*>(request), int(sizeof request)).toHex(), bytes.toHex());
}

void tst_EchoSocket::crowdOfProbesEachGetTheirReply_data() {
    QTest::addColumn<int>("threads");
    QTest::addColumn<int>("rounds");
    QTest::newRow("a few, many times") << 4 << 200;
    QTest::newRow("a crowd") << 200 << 5;
}

void tst_EchoSocket::crowdOfProbesEachGetTheirReply() {
    // The probes take turns reading the one socket: a reply read by one probe for another must
    // reach it, and no probe may be left waiting while nobody reads.
    QFETCH(int, threads);
    QFETCH(int, rounds);
    std::atomic<int> answered{0};
    std::vector<std::thread> probes;
    for (int i = 0; i < threads; ++i)
        probes.emplace_back([&answered, rounds, address = QStringLiteral("127.0.21.%1").arg(1 + i % 250)] {
            for (int round = 0; round < rounds; ++round)
                if (PingHost(address))
                    ++answered;
        });
    for (std::thread& probe : probes)
        probe.join();
    QCOMPARE(answered.load(), threads * rounds);
}

void tst_EchoSocket::forkedChildProbesWithItsOwnSocket() {
    // The socket is open in the parent before the fork. A child that gives up root must not
    // probe through its inherited copy of it, and closing that copy must leave the parent's.
    if (::geteuid() != 0)
        QSKIP("needs root to drop to an unprivileged user");
    QVERIFY(PingHost(QStringLiteral("127.0.21.1")));
    const pid_t child = ::fork();
    QVERIFY(child >= 0);
    if (child == 0) {
        const gid_t nobody = 65534;
        const bool dropped = ::setgroups(0, nullptr) == 0 && ::setgid(nobody) == 0 && ::setuid(nobody) == 0;
        ::_exit(!dropped ? 2 : RawSocketPermitted() ? 3 : PingHost(QStringLiteral("127.0.21.2")) ? 1 : 0);
    }
    int status = 0;
    QCOMPARE(::waitpid(child, &status, 0), child);
    QVERIFY(WIFEXITED(status));
    if (WEXITSTATUS(status) == 3)
        QSKIP("this system lets the unprivileged user open raw ICMP sockets");
    QCOMPARE(WEXITSTATUS(status), 0);
    QVERIFY(PingHost(QStringLiteral("127.0.21.3")));
}

QTEST_MAIN(tst_EchoSocket)
#include "tst_EchoSocket.moc"
