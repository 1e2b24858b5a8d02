// The HTTP fetch against a scripted peer: a raw TCP listener on 127.0.11.x that receives the
// request and answers with fixed bytes, whole or one byte per send, then closes, resets or holds
// the connection.
#include "device/HttpGet.h"
#include "device/StopToken.h"

#include <QScopeGuard>
#include <QTest>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

namespace {
enum class TEnd { Close, Reset, Hold };

class TScriptedPeer {
public:
    explicit TScriptedPeer(const char* address, quint16 port = 0) : FAddress(address) {
        FListen = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const int on = 1;
        ::setsockopt(FListen, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        sockaddr_in local{};
        local.sin_family = AF_INET;
        local.sin_port = htons(port);
        ::inet_pton(AF_INET, address, &local.sin_addr);
        FListening = ::bind(FListen, reinterpret_cast<sockaddr*>(&local), sizeof local) == 0 &&
                     ::listen(FListen, 4) == 0;
        socklen_t length = sizeof local;
        ::getsockname(FListen, reinterpret_cast<sockaddr*>(&local), &length);
        FPort = ntohs(local.sin_port);
    }
    ~TScriptedPeer() {
        Release();
        // Wakes a serving thread still waiting for a connection that never came.
        ::shutdown(FListen, SHUT_RDWR);
        if (FThread.joinable())
            FThread.join();
        ::close(FListen);
    }
    TScriptedPeer(const TScriptedPeer&) = delete;
    TScriptedPeer& operator=(const TScriptedPeer&) = delete;

    bool Listening() const { return FListening; }
    QString Url(const QString& path) const {
        return QStringLiteral("%1:%2%3").arg(QLatin1String(FAddress)).arg(FPort).arg(path);
    }

    // Serves one connection on a thread of its own.
    void Serve(const QByteArray& response, bool byteWise, TEnd end) {
        FThread = std::thread([this, response, byteWise, end] { Run(response, byteWise, end); });
    }
    bool RequestSeen() const { return FRequestSeen.load(); }
    QByteArray Request() {
        if (FThread.joinable())
            FThread.join();
        return FRequest;
    }
    void Release() {
        std::lock_guard<std::mutex> lock(FMutex);
        FReleased = true;
        FChanged.notify_all();
    }

private:
    void Run(const QByteArray& response, bool byteWise, TEnd end) {
        pollfd entry{FListen, POLLIN, 0};
        if (::poll(&entry, 1, 10000) != 1)
            return;
        const int fd = ::accept4(FListen, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0)
            return;
        const int on = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        timeval limit{10, 0};
        ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
        ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
        ReceiveRequest(fd);
        const qsizetype step = byteWise ? 1 : response.size();
        for (qsizetype sent = 0; sent < response.size();) {
            const ssize_t done =
                ::send(fd, response.constData() + sent,
                       static_cast<size_t>(std::min(step, response.size() - sent)), MSG_NOSIGNAL);
            if (done <= 0)
                break;
            sent += done;
        }
        if (end == TEnd::Hold) {
            std::unique_lock<std::mutex> lock(FMutex);
            FChanged.wait_for(lock, std::chrono::seconds(20), [this] { return FReleased; });
        } else if (end == TEnd::Reset) {
            const linger abort{1, 0};
            ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
        }
        ::close(fd);
    }

    void ReceiveRequest(int fd) {
        char chunk[1024];
        while (!FRequest.contains("\r\n\r\n")) {
            const ssize_t got = ::recv(fd, chunk, sizeof chunk, 0);
            if (got <= 0)
                break;
            FRequest.append(chunk, static_cast<qsizetype>(got));
        }
        FRequestSeen.store(true);
    }

    const char* FAddress;
    int FListen = -1;
    bool FListening = false;
    quint16 FPort = 0;
    std::thread FThread;
    QByteArray FRequest;
    std::atomic<bool> FRequestSeen{false};
    std::mutex FMutex;
    std::condition_variable FChanged;
    bool FReleased = false;
};

const QByteArray Untouched = "previous contents";

QByteArray Filled(qsizetype size) {
    return QByteArray(size, 'x');
}

// 3157 bytes whose first line ends LF CR, as a binary status block may.
QByteArray StatusBlockWithLfCr() {
    QByteArray block(3157, 'b');
    block[10] = '\n';
    block[11] = '\r';
    return block;
}
} // namespace

class tst_HttpGet : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanupTestCase();
    void deliversTheBodyOfEachResponseForm_data();
    void deliversTheBodyOfEachResponseForm();
    void sendsTheSixRequestLines_data();
    void sendsTheSixRequestLines();
    void failsAndLeavesTheBufferUntouched_data();
    void failsAndLeavesTheBufferUntouched();
    void acceptsABodyOfExactlyTheLimit_data();
    void acceptsABodyOfExactlyTheLimit();
    void failsWhenTheConnectionIsRefused();
    void stopRequestAbandonsASilentPeer();
    void refusesHostsOutsideLoopbackAndMalformedUrls_data();
    void refusesHostsOutsideLoopbackAndMalformedUrls();
};

void tst_HttpGet::init() {
    // Short enough that a reader waiting for bytes that never come fails the test quickly.
    SetHttpWaitLimitMs(5000);
}

void tst_HttpGet::cleanupTestCase() {
    SetHttpWaitLimitMs(0);
}

void tst_HttpGet::deliversTheBodyOfEachResponseForm_data() {
    QTest::addColumn<QByteArray>("response");
    QTest::addColumn<int>("end");
    QTest::addColumn<bool>("byteWise");
    QTest::addColumn<QByteArray>("body");

    struct TRow {
        const char* Name;
        QByteArray Response;
        TEnd End;
        QByteArray Body;
    };
    const TRow rows[] = {
        {"content-length, connection held open", "HTTP/1.0 200 OK\r\nContent-Length: 5\r\n\r\nhelloEXTRA",
         TEnd::Hold, "hello"},
        {"content-length header in other case", "HTTP/1.0 200 OK\r\ncontent-length:3\r\n\r\nabcdef",
         TEnd::Close, "abc"},
        {"error page delivered like any body", "HTTP/1.0 404 Not Found\r\nContent-Length: 9\r\n\r\nnot found",
         TEnd::Close, "not found"},
        {"content-length 0, connection held open", "HTTP/1.0 200 OK\r\nContent-Length: 0\r\n\r\nignored",
         TEnd::Hold, ""},
        {"negative content-length", "HTTP/1.0 200 OK\r\nContent-Length: -4\r\n\r\nignored", TEnd::Close, ""},
        {"chunked with extensions and empty lines, wins over length",
         "HTTP/1.1 200 OK\r\nContent-Length: 2\r\nTransfer-Encoding: gzip, CHUNKED\r\n\r\n"
         "5;name=value\r\nhello\r\n\r\n6 trailing words\r\n world\r\n\r\nA\r\n0123456789\r\n0\r\n\r\n",
         TEnd::Hold, "hello world0123456789"},
        {"body until close", "HTTP/1.0 200 OK\r\nServer: amp\r\n\r\nabc\r\ndef", TEnd::Close, "abc\r\ndef"},
        {"reset ends a close-delimited body", "HTTP/1.0 200 OK\r\n\r\npartial", TEnd::Reset, "partial"},
        {"several 100 continue",
         "HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 100 Continue\r\n\r\n\r\n"
         "HTTP/1.0 200 OK\r\nContent-Length: 2\r\n\r\nok",
         TEnd::Close, "ok"},
        {"status line in lower case", "http/1.0 200 OK\r\nContent-Length: 2\r\n\r\nok", TEnd::Close, "ok"},
        {"empty lines before the status line", "\r\n\r\nHTTP/1.0 200 OK\r\nContent-Length: 2\r\n\r\nok",
         TEnd::Close, "ok"},
        {"204 ignores its body", "HTTP/1.0 204 No Content\r\nContent-Length: 4\r\n\r\nbody", TEnd::Hold, ""},
        {"304 ignores its body", "HTTP/1.0 304 Not Modified\r\n\r\nbody", TEnd::Hold, ""},
        // Without a status line the answer is the body exactly as sent, line ends included.
        {"no status line, first line ends LF", "hello\nworld", TEnd::Close, "hello\nworld"},
        {"no status line, first line ends CR LF", "<html>\r\n</html>\r\n", TEnd::Close,
         "<html>\r\n</html>\r\n"},
        {"no status line, first line ends LF CR", "ab\n\rcd", TEnd::Close, "ab\n\rcd"},
        {"no status line, after empty lines", "\r\n\n\rabc\r", TEnd::Close, "\r\n\n\rabc\r"},
        {"no status line, reset at the end", "hello\rworld", TEnd::Reset, "hello\rworld"},
        {"status block without headers", StatusBlockWithLfCr(), TEnd::Close, StatusBlockWithLfCr()},
        {"lone CR line ends", "HTTP/1.0 200 OK\rContent-Length: 3\r\rabcdef", TEnd::Close, "abc"},
        {"lone LF line ends", "HTTP/1.0 200 OK\nContent-Length: 3\n\nabcdef", TEnd::Close, "abc"},
        {"LF CR line ends", "HTTP/1.0 200 OK\n\rContent-Length: 3\n\r\n\rabcdef", TEnd::Close, "abc"},
        {"lone LF line ends, content-length 0, connection held open",
         "HTTP/1.0 200 OK\nContent-Length: 0\n\n", TEnd::Hold, ""},
        {"lone LF line ends, chunked", "HTTP/1.0 200 OK\nTransfer-Encoding: chunked\n\n3\nabc\n0\n\n",
         TEnd::Hold, "abc"},
    };
    for (const TRow& row : rows) {
        for (const bool byteWise : {false, true})
            QTest::addRow("%s%s", row.Name, byteWise ? ", byte by byte" : "")
                << row.Response << int(row.End) << byteWise << row.Body;
    }
}

void tst_HttpGet::deliversTheBodyOfEachResponseForm() {
    QFETCH(QByteArray, response);
    QFETCH(int, end);
    QFETCH(bool, byteWise);
    QFETCH(QByteArray, body);

    TScriptedPeer peer("127.0.11.1");
    QVERIFY(peer.Listening());
    peer.Serve(response, byteWise, TEnd(end));
    QByteArray buffer = Untouched;
    QVERIFY(HttpGet(peer.Url(QStringLiteral("/zyl.zyl")), buffer));
    QCOMPARE(buffer, body);
}

void tst_HttpGet::sendsTheSixRequestLines_data() {
    QTest::addColumn<bool>("port80");
    QTest::addColumn<QString>("path");
    QTest::addColumn<QByteArray>("requestLine");

    QTest::newRow("status request") << true << QStringLiteral("/zyl.zyl")
                                    << QByteArray("GET /zyl.zyl HTTP/1.0");
    QTest::newRow("path with spaces sent verbatim")
        << true << QStringLiteral("/name=AB C ") << QByteArray("GET /name=AB C  HTTP/1.0");
    QTest::newRow("no path") << true << QString() << QByteArray("GET / HTTP/1.0");
    QTest::newRow("explicit port kept in Host")
        << false << QStringLiteral("/mute_a_on.html") << QByteArray("GET /mute_a_on.html HTTP/1.0");
}

void tst_HttpGet::sendsTheSixRequestLines() {
    QFETCH(bool, port80);
    QFETCH(QString, path);
    QFETCH(QByteArray, requestLine);

    TScriptedPeer peer("127.0.11.2", port80 ? 80 : 0);
    QVERIFY(peer.Listening());
    peer.Serve("HTTP/1.0 200 OK\r\n\r\n", false, TEnd::Close);
    const QString host = port80 ? QStringLiteral("127.0.11.2") : peer.Url(QString());
    const QString url = host + path;
    const QByteArray hostPart = host.toUtf8();
    QByteArray buffer;
    QVERIFY(HttpGet(url, buffer));
    QCOMPARE(peer.Request(), requestLine + "\r\n" + "Host: " + hostPart + "\r\n" + "Keep-Alive: 300\r\n" +
                                 "Connection: keep-alive\r\n" +
                                 "User-Agent: Mozilla/4.0 (compatible; Synapse)\r\n" + "\r\n");
}

void tst_HttpGet::failsAndLeavesTheBufferUntouched_data() {
    QTest::addColumn<QByteArray>("response");
    QTest::addColumn<int>("end");
    QTest::addColumn<int>("waitLimitMs");

    const int normal = 5000;
    QTest::newRow("reset inside a content-length body")
        << QByteArray("HTTP/1.0 200 OK\r\nContent-Length: 10\r\n\r\nabc") << int(TEnd::Reset) << normal;
    QTest::newRow("close inside a content-length body")
        << QByteArray("HTTP/1.0 200 OK\r\nContent-Length: 10\r\n\r\nabc") << int(TEnd::Close) << normal;
    QTest::newRow("close inside a chunk")
        << QByteArray("HTTP/1.0 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nab") << int(TEnd::Close)
        << normal;
    QTest::newRow("close before the last chunk")
        << QByteArray("HTTP/1.0 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n2\r\nab\r\n") << int(TEnd::Close)
        << normal;
    QTest::newRow("chunk size not hexadecimal")
        << QByteArray("HTTP/1.0 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nzz\r\nab\r\n0\r\n\r\n")
        << int(TEnd::Close) << normal;
    QTest::newRow("content-length beyond 64 bits")
        << QByteArray("HTTP/1.0 200 OK\r\nContent-Length: 99999999999999999999\r\n\r\nabc")
        << int(TEnd::Close) << normal;
    QTest::newRow("content-length one past the 64-bit range")
        << QByteArray("HTTP/1.0 200 OK\r\nContent-Length: 9223372036854775808\r\n\r\nabc") << int(TEnd::Close)
        << normal;
    QTest::newRow("negative content-length beyond 64 bits")
        << QByteArray("HTTP/1.0 200 OK\r\nContent-Length: -99999999999999999999\r\n\r\nabc")
        << int(TEnd::Close) << normal;
    QTest::newRow("declared length over the limit")
        << QByteArray("HTTP/1.0 200 OK\r\nContent-Length: 1048577\r\n\r\n") << int(TEnd::Hold) << normal;
    QTest::newRow("one chunk over the limit")
        << QByteArray("HTTP/1.0 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n100001\r\n") << int(TEnd::Hold)
        << normal;
    QTest::newRow("chunk size beyond any integer")
        << QByteArray("HTTP/1.0 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nFFFFFFFFFFFFFFFFFFFFFFFF\r\n")
        << int(TEnd::Hold) << normal;
    QTest::newRow("chunks adding up to over the limit")
        << QByteArray("HTTP/1.0 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n80000\r\n") + Filled(0x80000) +
               "\r\n80001\r\n" + Filled(0x80001) + "\r\n0\r\n\r\n"
        << int(TEnd::Close) << normal;
    QTest::newRow("undeclared body over the limit")
        << QByteArray("HTTP/1.0 200 OK\r\n\r\n") + Filled(MaxHttpBody + 1) << int(TEnd::Close) << normal;
    QTest::newRow("no status line, over the limit") << Filled(MaxHttpBody + 1) << int(TEnd::Close) << normal;
    QTest::newRow("closed before any byte") << QByteArray() << int(TEnd::Close) << normal;
    QTest::newRow("closed inside the headers")
        << QByteArray("HTTP/1.0 200 OK\r\nContent-Length: 3\r\n") << int(TEnd::Close) << normal;
    QTest::newRow("header line never completed")
        << QByteArray("HTTP/1.0 200 OK\r\nContent-Len") << int(TEnd::Hold) << 300;
    QTest::newRow("body data stops coming")
        << QByteArray("HTTP/1.0 200 OK\r\nContent-Length: 10\r\n\r\nabc") << int(TEnd::Hold) << 300;
    QTest::newRow("close-delimited body never closed")
        << QByteArray("HTTP/1.0 200 OK\r\n\r\nabc") << int(TEnd::Hold) << 300;
}

void tst_HttpGet::failsAndLeavesTheBufferUntouched() {
    QFETCH(QByteArray, response);
    QFETCH(int, end);
    QFETCH(int, waitLimitMs);

    SetHttpWaitLimitMs(waitLimitMs);
    TScriptedPeer peer("127.0.11.3");
    QVERIFY(peer.Listening());
    peer.Serve(response, false, TEnd(end));
    QByteArray buffer = Untouched;
    QVERIFY(!HttpGet(peer.Url(QStringLiteral("/zyl.zyl")), buffer));
    QCOMPARE(buffer, Untouched);
}

void tst_HttpGet::acceptsABodyOfExactlyTheLimit_data() {
    QTest::addColumn<QByteArray>("head");
    QTest::newRow("declared") << QByteArray("HTTP/1.0 200 OK\r\nContent-Length: 1048576\r\n\r\n");
    QTest::newRow("until close") << QByteArray("HTTP/1.0 200 OK\r\n\r\n");
    QTest::newRow("chunked") << QByteArray("HTTP/1.0 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n100000\r\n");
}

void tst_HttpGet::acceptsABodyOfExactlyTheLimit() {
    QFETCH(QByteArray, head);
    TScriptedPeer peer("127.0.11.4");
    QVERIFY(peer.Listening());
    const bool chunked = head.contains("chunked");
    peer.Serve(head + Filled(MaxHttpBody) + (chunked ? "\r\n0\r\n\r\n" : ""), false, TEnd::Close);
    QByteArray buffer;
    QVERIFY(HttpGet(peer.Url(QStringLiteral("/zyl.zyl")), buffer));
    QCOMPARE(buffer.size(), qsizetype(MaxHttpBody));
}

void tst_HttpGet::failsWhenTheConnectionIsRefused() {
    // Bound and not listening: the connection attempt is refused.
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    ::inet_pton(AF_INET, "127.0.11.5", &local.sin_addr);
    QCOMPARE(::bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local), 0);
    socklen_t length = sizeof local;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &length);
    QByteArray buffer = Untouched;
    const bool fetched = HttpGet(QStringLiteral("127.0.11.5:%1/zyl.zyl").arg(ntohs(local.sin_port)), buffer);
    ::close(fd);
    QVERIFY(!fetched);
    QCOMPARE(buffer, Untouched);
}

void tst_HttpGet::stopRequestAbandonsASilentPeer() {
    SetHttpWaitLimitMs(0);
    TScriptedPeer peer("127.0.11.6");
    QVERIFY(peer.Listening());
    peer.Serve(QByteArray(), false, TEnd::Hold);

    // Shared with the fetching thread, which is let go rather than joined should it hang.
    struct TFetch {
        std::atomic<bool> Stop{false};
        std::atomic<bool> Done{false};
        bool Fetched = true;
        QByteArray Buffer = Untouched;
    };
    const auto fetch = std::make_shared<TFetch>();
    std::thread poll([fetch, url = peer.Url(QStringLiteral("/zyl.zyl"))] {
        StopToken::SetCurrent(&fetch->Stop);
        fetch->Fetched = HttpGet(url, fetch->Buffer);
        StopToken::SetCurrent(nullptr);
        fetch->Done.store(true);
    });
    const auto letGo = qScopeGuard([&poll, fetch] { fetch->Done.load() ? poll.join() : poll.detach(); });

    QTRY_VERIFY_WITH_TIMEOUT(peer.RequestSeen(), 5000);
    fetch->Stop.store(true);
    // Well before the 90 s wait for the answer would end.
    QTRY_VERIFY_WITH_TIMEOUT(fetch->Done.load(), 5000);
    QVERIFY(!fetch->Fetched);
    QCOMPARE(fetch->Buffer, Untouched);
}

void tst_HttpGet::refusesHostsOutsideLoopbackAndMalformedUrls_data() {
    QTest::addColumn<QString>("url");
    // Data only: the guard must keep every one of these from being contacted or looked up.
    QTest::newRow("private address") << QStringLiteral("192.168.1.20/zyl.zyl");
    QTest::newRow("private address with port") << QStringLiteral("10.0.0.7:8080/zyl.zyl");
    QTest::newRow("name needing a look-up") << QStringLiteral("amp.invalid/zyl.zyl");
    QTest::newRow("localhost is a name too") << QStringLiteral("localhost/zyl.zyl");
    QTest::newRow("short loopback form") << QStringLiteral("127.1/zyl.zyl");
    QTest::newRow("empty host") << QStringLiteral("/zyl.zyl");
    QTest::newRow("empty url") << QString();
    // A peer on 127.0.11.7:80 would answer these if they were taken for port 80.
    QTest::newRow("empty port") << QStringLiteral("127.0.11.7:/zyl.zyl");
    QTest::newRow("port zero") << QStringLiteral("127.0.11.7:0/zyl.zyl");
    QTest::newRow("port too large") << QStringLiteral("127.0.11.7:65616/zyl.zyl");
    QTest::newRow("port not a number") << QStringLiteral("127.0.11.7:http/zyl.zyl");
    QTest::newRow("line end inside the path") << QStringLiteral("127.0.11.7/zyl.zyl HTTP/1.0\r\nX: y");
}

void tst_HttpGet::refusesHostsOutsideLoopbackAndMalformedUrls() {
    QFETCH(QString, url);
    TScriptedPeer peer("127.0.11.7", 80);
    QVERIFY(peer.Listening());
    peer.Serve("HTTP/1.0 200 OK\r\n\r\nbody", false, TEnd::Close);
    QByteArray buffer = Untouched;
    QVERIFY(!HttpGet(url, buffer));
    QCOMPARE(buffer, Untouched);
    QVERIFY(!peer.RequestSeen());
}

QTEST_MAIN(tst_HttpGet)
#include "tst_HttpGet.moc"
