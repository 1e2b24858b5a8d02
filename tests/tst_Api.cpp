// The control API through real sockets on 127.0.0.1: HTTP/JSON, WebSocket, OSC, the limits and the
// security rules; simulated amplifiers on 127.0.26.x. The programs that use it: tst_ApiPrograms.
#include "api/ApiError.h"
#include "api/ApiListener.h"
#include "api/ApiTokens.h"
#include "api/OscServer.h"
#include "api/RequestGuard.h"
#include "app/ApiControl.h"
#include "app/Fadelink2.h"
#include "model/Errors.h"
#include "support/ApiFixture.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QMessageBox>
#include <QSettings>
#include <QStandardPaths>

#include <QCommandLineParser>
#include <QProcess>
#include <QSslSocket>
#include <QTcpServer>
#include <QTcpSocket>

#include <sys/stat.h>

namespace {
const QString kDocs = QStringLiteral(FADELINK_SOURCE_DIR "/docs/openapi.json");

QByteArray ReadFile(const QString& name) {
    QFile file(name);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QString Levels(const TGroup& g) {
    return QStringLiteral("%1 %2 %3 %4 %5 %6")
        .arg(g.Volume_A())
        .arg(g.Volume_B())
        .arg(g.Sensitivity_A())
        .arg(g.Sensitivity_B())
        .arg(g.Limiter_A())
        .arg(g.Limiter_B());
}

// Sends `head`, then `bodyPiece` up to `pieces` times while no answer has come, and returns what
// came back by the time the server closed. The server runs on this thread: nothing here blocks.
QByteArray RawExchange(quint16 port, const QByteArray& head, const QByteArray& bodyPiece, int pieces) {
    QTcpSocket socket;
    QByteArray answer;
    QObject::connect(&socket, &QIODevice::readyRead, [&] { answer += socket.readAll(); });
    socket.connectToHost(QHostAddress::LocalHost, port);
    socket.write(head);
    for (int i = 0; i < pieces && answer.isEmpty() && socket.state() != QAbstractSocket::UnconnectedState;
         ++i) {
        socket.write(bodyPiece);
        QElapsedTimer flushed;
        flushed.start();
        while (socket.bytesToWrite() > 0 && answer.isEmpty() && flushed.elapsed() < 10000)
            QTest::qWait(1);
    }
    QElapsedTimer timer;
    timer.start();
    while (socket.state() != QAbstractSocket::UnconnectedState && timer.elapsed() < 10000)
        QTest::qWait(10);
    return answer;
}
} // namespace

class TestApi : public QObject {
    Q_OBJECT
private slots:
    void servedDocumentIsTheDocumentedOne();
    void everyDocumentedPathAnswers();
    void refusals_data();
    void refusals();
    void groupWritesClampAndHonourLocks_data();
    void groupWritesClampAndHonourLocks();
    void bodiesAreBoundedBeforeTheyAreHeld_data();
    void bodiesAreBoundedBeforeTheyAreHeld();
    void requestsPerSecondAreBounded();
    void tokensFiles_data();
    void tokensFiles();
    void options_data();
    void options();
    void webSocketSignInAndSubscriptions();
    void slowWebSocketClientIsDroppedAlone();
    void webSocketClientsAreBounded();
    void oscAddresses_data();
    void oscAddresses();
    void oscOnlyFromAllowedSenders();
    void tlsServesTheSameApi();
    void httpAndOscReachTheAmplifierAlike();
    void sameEventFromHttpOscAndModel();
    void mutesGoThroughTheSetters_data();
    void mutesGoThroughTheSetters();
    void journalQueries_data();
    void journalQueries();
    void alarmsAcknowledgedInTheTokensName();
    void webPanelFilesNeedNoToken_data();
    void webPanelFilesNeedNoToken();
};

void TestApi::servedDocumentIsTheDocumentedOne() {
    TApiFixture f;
    const TApiReply reply = f.Call("GET", "/api/v1/openapi.json", {}, {});
    QCOMPARE(reply.Status, 200);
    QVERIFY(!reply.Body.isEmpty());
    QCOMPARE(reply.Body, ReadFile(kDocs));
}

// Each path and method of the document, with its parameters filled in, answers as documented:
// a path or field renamed on one side only fails here.
void TestApi::everyDocumentedPathAnswers() {
    TApiFixture f({QStringLiteral("127.0.26.1")});
    TJournal& journal = f.UseJournal();
    journal.RaiseAlarm("127.0.26.1/offline", TJournalFixture::Entry("Off-line", TJournalSeverity::Fault));
    const QJsonObject document = QJsonDocument::fromJson(ReadFile(kDocs)).object();
    const QJsonObject paths = document.value("paths").toObject();
    QVERIFY(paths.size() >= 12);
    for (auto path = paths.begin(); path != paths.end(); ++path) {
        QString concrete = path.key();
        concrete.replace("{group}", "MAIN")
            .replace("{address}", "127.0.26.1")
            .replace("{alarm}", journal.Alarms().front().Id);
        const QJsonObject methods = path.value().toObject();
        for (auto method = methods.begin(); method != methods.end(); ++method) {
            if (method.key() == QLatin1String("parameters"))
                continue;
            const QJsonObject responses = method.value().toObject().value("responses").toObject();
            const bool events = concrete.endsWith("/events");
            const TApiReply reply = f.Call(method.key().toUpper().toLatin1(), concrete,
                                           method.key() == QLatin1String("get") ? QByteArray() : "{}");
            const int expected = events ? 400 : 200;
            QVERIFY2(reply.Status == expected && responses.contains(QString::number(expected)),
                     qPrintable(QStringLiteral("%1 %2: %3 %4")
                                    .arg(method.key(), concrete)
                                    .arg(reply.Status)
                                    .arg(QString::fromUtf8(reply.Body))));
            // Every field a response holds is one the document names.
            const QString schema = responses.value("200")
                                       .toObject()
                                       .value("content")
                                       .toObject()
                                       .value("application/json")
                                       .toObject()
                                       .value("schema")
                                       .toObject()
                                       .value("$ref")
                                       .toString();
            const QJsonObject properties = document.value("components")
                                               .toObject()
                                               .value("schemas")
                                               .toObject()
                                               .value(schema.section('/', -1))
                                               .toObject()
                                               .value("properties")
                                               .toObject();
            for (const QString& key : reply.Json.keys())
                QVERIFY2(properties.isEmpty() || properties.contains(key), qPrintable(concrete + ": " + key));
            for (const QString& key : properties.keys())
                QVERIFY2(reply.Json.isEmpty() || reply.Json.contains(key),
                         qPrintable(concrete + ": no " + key));
        }
    }
}

void TestApi::refusals_data() {
    QTest::addColumn<QByteArray>("method");
    QTest::addColumn<QString>("path");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QByteArray>("token");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("detail");
    const QByteArray c = TApiFixture::Control;
    QTest::newRow("no token") << QByteArray("GET") << "/api/v1/project" << QByteArray() << QByteArray() << 401
                              << "token";
    QTest::newRow("unknown token") << QByteArray("GET") << "/api/v1/project" << QByteArray()
                                   << QByteArray("guess-0123456789abc") << 401 << "token";
    QTest::newRow("monitor writes") << QByteArray("PUT") << "/api/v1/groups/MAIN"
                                    << QByteArray(R"({"volume":-3})") << QByteArray(TApiFixture::Monitor)
                                    << 403 << "read";
    QTest::newRow("monitor steps") << QByteArray("POST") << "/api/v1/global/step"
                                   << QByteArray(R"({"volume":1})") << QByteArray(TApiFixture::Monitor) << 403
                                   << "read";
    QTest::newRow("no such path") << QByteArray("GET") << "/api/v1/groupz" << QByteArray() << c << 404
                                  << "path";
    QTest::newRow("outside the API") << QByteArray("GET") << "/index.htm" << QByteArray() << c << 404
                                     << "path";
    QTest::newRow("no such group") << QByteArray("PUT") << "/api/v1/groups/NOPE"
                                   << QByteArray(R"({"volume":-3})") << c << 404 << "NOPE";
    QTest::newRow("no such device") << QByteArray("GET") << "/api/v1/devices/127.0.26.99" << QByteArray() << c
                                    << 404 << "127.0.26.99";
    QTest::newRow("wrong method") << QByteArray("DELETE") << "/api/v1/groups/MAIN" << QByteArray() << c << 405
                                  << "GET, PUT";
    QTest::newRow("not JSON") << QByteArray("PUT") << "/api/v1/groups/MAIN" << QByteArray("{volume:") << c
                              << 400 << "not JSON";
    QTest::newRow("not an object") << QByteArray("PUT") << "/api/v1/global" << QByteArray("[1]") << c << 400
                                   << "object";
    QTest::newRow("empty body") << QByteArray("POST") << "/api/v1/groups/MAIN/step" << QByteArray() << c
                                << 400 << "JSON";
    QTest::newRow("unknown field") << QByteArray("PUT") << "/api/v1/groups/MAIN"
                                   << QByteArray(R"({"volume_a":-3,"volume_c":1})") << c << 400 << "volume_c";
    QTest::newRow("read-only field") << QByteArray("PUT") << "/api/v1/groups/MAIN"
                                     << QByteArray(R"({"short_name":"X"})") << c << 400 << "short_name";
    QTest::newRow("lock in a step") << QByteArray("POST") << "/api/v1/groups/MAIN/step"
                                    << QByteArray(R"({"volume_lock":true})") << c << 400 << "volume_lock";
    QTest::newRow("number as text") << QByteArray("PUT") << "/api/v1/groups/MAIN"
                                    << QByteArray(R"({"volume_a":"-3"})") << c << 400 << "number";
    QTest::newRow("flag as number") << QByteArray("PUT") << "/api/v1/global" << QByteArray(R"({"mute":1})")
                                    << c << 400 << "true or false";
    QTest::newRow("pair and channel")
        << QByteArray("PUT") << "/api/v1/groups/MAIN" << QByteArray(R"({"volume":-3,"volume_b":-4})") << c
        << 400 << "not both";
    QTest::newRow("locked pair apart")
        << QByteArray("PUT") << "/api/v1/groups/MAIN"
        << QByteArray(R"({"volume_lock":true,"volume_a":-3,"volume_b":-4})") << c << 409 << "locked";
    QTest::newRow("events without upgrade")
        << QByteArray("GET") << "/api/v1/events" << QByteArray() << c << 400 << "WebSocket";
    QTest::newRow("mute in a step") << QByteArray("POST") << "/api/v1/groups/MAIN/step"
                                    << QByteArray(R"({"mute":true})") << c << 400 << "mute";
    QTest::newRow("no journal") << QByteArray("GET") << "/api/v1/journal" << QByteArray() << c << 503
                                << "without a journal";
    QTest::newRow("monitor acknowledges")
        << QByteArray("POST") << "/api/v1/alarms/1/acknowledge" << QByteArray()
        << QByteArray(TApiFixture::Monitor) << 403 << "read";
}

// Every refusal is a JSON error with its status, and a refused write changes nothing.
void TestApi::refusals() {
    QFETCH(QByteArray, method);
    QFETCH(QString, path);
    QFETCH(QByteArray, body);
    QFETCH(QByteArray, token);
    QFETCH(int, status);
    QFETCH(QString, detail);
    TApiFixture f;
    f.Main->SetVolume_A(-20);
    const QString before = Levels(*f.Main) + QString::number(f.Registry->Volume()) +
                           QString::number(f.Main->Volume_Lock()) + QString::number(f.Main->Mute());
    const TApiReply reply = f.Call(method, path, body, token);
    QCOMPARE(reply.Status, status);
    QCOMPARE(reply.Json.value("error").toString(), ErrorWord(status));
    QVERIFY2(reply.Json.value("detail").toString().contains(detail), reply.Body.constData());
    QCOMPARE(reply.Header("Content-Type"), QByteArray("application/json"));
    if (status == 401)
        QCOMPARE(reply.Header("WWW-Authenticate"), QByteArray("Bearer"));
    if (status == 405)
        QCOMPARE(reply.Header("Allow"), QByteArray("GET, PUT"));
    QCOMPARE(Levels(*f.Main) + QString::number(f.Registry->Volume()) +
                 QString::number(f.Main->Volume_Lock()) + QString::number(f.Main->Mute()),
             before);
}

void TestApi::groupWritesClampAndHonourLocks_data() {
    QTest::addColumn<bool>("volumeLocked");
    QTest::addColumn<QString>("path");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("levels"); // volume A B, sensitivity A B, limiter A B after
    // Before each row: volume -20 / -30, sensitivity -10 / -10, limiter 100 / 100.
    const QString put = "/api/v1/groups/MAIN";
    const QString step = "/api/v1/groups/MAIN/step";
    QTest::newRow("channel alone") << false << put << QByteArray(R"({"volume_a":-12})")
                                   << "-12 -30 -10 -10 100 100";
    QTest::newRow("locked channel takes its partner")
        << true << put << QByteArray(R"({"volume_b":-12})") << "-12 -12 -10 -10 100 100";
    QTest::newRow("both by the pair name")
        << false << put << QByteArray(R"({"sensitivity":-6.5})") << "-20 -30 -6.5 -6.5 100 100";
    QTest::newRow("locking brings B to A")
        << false << put << QByteArray(R"({"volume_lock":true})") << "-20 -20 -10 -10 100 100";
    QTest::newRow("unlocked first, then apart")
        << true << put << QByteArray(R"({"volume_lock":false,"volume_a":-1,"volume_b":-2})")
        << "-1 -2 -10 -10 100 100";
    QTest::newRow("locked pair, equal values")
        << true << put << QByteArray(R"({"volume_a":-5,"volume_b":-5})") << "-5 -5 -10 -10 100 100";
    QTest::newRow("clamped at the top")
        << false << put << QByteArray(R"({"volume_a":12,"limiter":900})") << "0 -30 -10 -10 170 170";
    QTest::newRow("clamped at the bottom")
        << false << put << QByteArray(R"({"sensitivity_b":-200,"limiter_a":1})")
        << "-20 -30 -10 -95.5 10 100";
    QTest::newRow("step a channel") << false << step << QByteArray(R"({"volume_b":-1.5})")
                                    << "-20 -31.5 -10 -10 100 100";
    QTest::newRow("step the pair") << false << step << QByteArray(R"({"volume":3})")
                                   << "-17 -27 -10 -10 100 100";
    QTest::newRow("step locked") << true << step << QByteArray(R"({"volume_a":2})")
                                 << "-18 -18 -10 -10 100 100";
    QTest::newRow("step clamped") << false << step << QByteArray(R"({"volume":25,"limiter_b":-500})")
                                  << "0 -5 -10 -10 100 10";
}

void TestApi::groupWritesClampAndHonourLocks() {
    QFETCH(bool, volumeLocked);
    QFETCH(QString, path);
    QFETCH(QByteArray, body);
    QFETCH(QString, levels);
    TApiFixture f;
    TGroup& g = *f.Main;
    g.SetVolume_A(-20);
    g.SetVolume_B(-30);
    g.SetSensitivity_A(-10);
    g.SetSensitivity_B(-10);
    g.SetLimiter_A(100);
    g.SetLimiter_B(100);
    g.SetVolume_Lock(volumeLocked);
    const TApiReply reply = f.Call(path.endsWith("step") ? "POST" : "PUT", path, body);
    QCOMPARE(reply.Status, 200);
    QCOMPARE(Levels(g), levels);
    QCOMPARE(reply.Json.value("volume_b").toDouble(), g.Volume_B()); // the answer is the group after
}

void TestApi::bodiesAreBoundedBeforeTheyAreHeld_data() {
    QTest::addColumn<QByteArray>("head");
    QTest::addColumn<int>("pieces"); // 4 KiB pieces sent after the head until the answer comes
    const QByteArray put = "PUT /api/v1/global HTTP/1.1\r\nHost: 127.0.0.1\r\nAuthorization: Bearer x\r\n";
    // Refused on its header alone: not one byte of the body is sent.
    QTest::newRow("declared too long") << put + "Content-Length: 10000000\r\n\r\n" << 0;
    QTest::newRow("chunked past the limit") << put + "Transfer-Encoding: chunked\r\n\r\n" << 1000;
    QTest::newRow("endless header") << QByteArray("GET /api/v1/project HTTP/1.1\r\nX: ") << 1000;
}

void TestApi::bodiesAreBoundedBeforeTheyAreHeld() {
    QFETCH(QByteArray, head);
    QFETCH(int, pieces);
    TApiFixture f;
    const QByteArray piece =
        head.contains("chunked") ? "ffa\r\n" + QByteArray(4090, 'a') + "\r\n" : QByteArray(4096, 'a');
    const QByteArray answer = RawExchange(f.Service.Port(), head, piece, pieces);
    QVERIFY2(answer.startsWith("HTTP/1.1 413 "), answer.left(200).constData());
    QVERIFY(answer.contains(R"("error":"payload_too_large")"));
    // The server is still there for others.
    QCOMPARE(f.Call("GET", "/api/v1/global").Status, 200);
}

void TestApi::requestsPerSecondAreBounded() {
    TApiFixture f;
    static qint64 now = 0;
    f.Service.Server()->RateLimiter().SetClock([] { return now; });
    for (int i = 0; i < TApiServer::RequestsPerSecond; ++i)
        QCOMPARE(f.Call("GET", "/api/v1/global", {}, i % 2 ? TApiFixture::Control : "").Status,
                 i % 2 ? 200 : 401);
    const TApiReply refused = f.Call("GET", "/api/v1/global");
    QCOMPARE(refused.Status, 429);
    QCOMPARE(refused.Header("Retry-After"), QByteArray("1"));
    QCOMPARE(refused.Json.value("error").toString(), QStringLiteral("too_many_requests"));
    now += 100; // a tenth of a second brings back a tenth of the budget
    for (int i = 0; i < TApiServer::RequestsPerSecond / 10; ++i)
        QCOMPARE(f.Call("GET", "/api/v1/global").Status, 200);
    QCOMPARE(f.Call("GET", "/api/v1/global").Status, 429);
}

void TestApi::tokensFiles_data() {
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<int>("mode");
    QTest::addColumn<QString>("refusal"); // empty: loads
    const QByteArray good =
        "# desk and wall\ndesk control 0123456789abcdef\n\nwall  monitor fedcba9876543210\n";
    QTest::newRow("private") << good << 0600 << QString();
    QTest::newRow("owner read only") << good << 0400 << QString();
    QTest::newRow("group can read") << good << 0640 << "group or others";
    QTest::newRow("others can read") << good << 0604 << "group or others";
    QTest::newRow("group can write") << good << 0620 << "group or others";
    QTest::newRow("two fields") << QByteArray("desk control\n") << 0600 << "line 1";
    QTest::newRow("unknown role") << QByteArray("desk admin 0123456789abcdef\n") << 0600
                                  << "monitor or control";
    QTest::newRow("short token") << QByteArray("desk control 0123\n") << 0600 << "at least 16";
    QTest::newRow("name twice") << QByteArray("a control 0123456789abcdef\na monitor 0123456789abcdeX\n")
                                << 0600 << "line 2";
    QTest::newRow("token twice") << QByteArray("a control 0123456789abcdef\nb monitor 0123456789abcdef\n")
                                 << 0600 << "twice";
    QTest::newRow("no token") << QByteArray("# nothing\n") << 0600 << "no token";
}

void TestApi::tokensFiles() {
    QFETCH(QByteArray, text);
    QFETCH(int, mode);
    QFETCH(QString, refusal);
    QTemporaryDir dir;
    const QString name = dir.filePath("tokens");
    TApiFixture::WriteFile(name, text, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    QVERIFY(::chmod(QFile::encodeName(name).constData(), mode_t(mode)) == 0);
    try {
        const TApiTokens tokens = TApiTokens::Load(name);
        QVERIFY2(refusal.isEmpty(), "loaded a file that should be refused");
        QCOMPARE(tokens.Find("0123456789abcdef")->Role, TApiRole::Control);
        QCOMPARE(tokens.Find("fedcba9876543210")->Name, QStringLiteral("wall"));
        QVERIFY(!tokens.Find("0123456789abcde"));
    } catch (const EFadelinkError& e) {
        QVERIFY2(!refusal.isEmpty() && e.Message.contains(refusal), qPrintable(e.Message));
    }
    // A server given a loose file does not start at all.
    if (refusal.contains("group or others")) {
        TSession session;
        TApiService service(session);
        TApiOptions options;
        options.Api = true;
        options.Port = 0;
        options.TokensFile = name;
        QVERIFY_THROWS_EXCEPTION(EFadelinkError, service.Start(options));
        QVERIFY(!service.Running());
    }
}

void TestApi::options_data() {
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("refusal"); // empty: accepted
    QTest::addColumn<QString>("listens"); // what is accepted: api address:port, osc address:port
    QTest::newRow("defaults") << QStringList{"--api", "127.0.0.1:8411"} << QString() << "127.0.0.1:8411 -";
    QTest::newRow("port only") << QStringList{"--api", "9000", "--osc", "9001"} << QString()
                               << "127.0.0.1:9000 127.0.0.1:9001";
    QTest::newRow("other loopback") << QStringList{"--api", "127.0.0.5"} << QString() << "127.0.0.5:8411 -";
    QTest::newRow("IPv6 loopback") << QStringList{"--api", "[::1]:9000"} << QString() << "::1:9000 -";
    QTest::newRow("a name") << QStringList{"--api", "localhost:9000"} << "literal"
                            << "";
    QTest::newRow("bad port") << QStringList{"--api", "127.0.0.1:70000"} << "ADDRESS:PORT"
                              << "";
    QTest::newRow("everywhere without tokens") << QStringList{"--api", "0.0.0.0:8411"} << "--api-tokens"
                                               << "";
    QTest::newRow("LAN without TLS") << QStringList{"--api", "192.168.1.10:8411", "--api-tokens", "t"}
                                     << "TLS"
                                     << "";
    QTest::newRow("LAN told insecure")
        << QStringList{"--api", "192.168.1.10:8411", "--api-tokens", "t", "--api-insecure"} << QString()
        << "192.168.1.10:8411 -";
    QTest::newRow("LAN with TLS") << QStringList{"--api",        "0.0.0.0:8411",
                                                 "--api-tokens", "t",
                                                 "--api-cert",   "c",
                                                 "--api-key",    "k"}
                                  << QString() << "0.0.0.0:8411 -";
    QTest::newRow("certificate without key")
        << QStringList{"--api", "9000", "--api-cert", "c"} << "go together"
        << "";
    QTest::newRow("tokens without api") << QStringList{"--api-tokens", "t"} << "need --api"
                                        << "";
    QTest::newRow("OSC beyond loopback") << QStringList{"--osc", "0.0.0.0:9000"} << "--api-insecure"
                                         << "";
    QTest::newRow("OSC allow list") << QStringList{"--osc", "9000", "--osc-allow", "10.0.0.0/8,192.168.1.7"}
                                    << QString() << "- 127.0.0.1:9000";
    QTest::newRow("bad allow list") << QStringList{"--osc", "9000", "--osc-allow", "10.0.0.0/33"}
                                    << "address block"
                                    << "";
    QTest::newRow("allow without OSC") << QStringList{"--osc-allow", "10.0.0.0/8"} << "needs --osc"
                                       << "";
}

// The options are checked before anything listens: nothing here opens a socket.
void TestApi::options() {
    QFETCH(QStringList, arguments);
    QFETCH(QString, refusal);
    QFETCH(QString, listens);
    QCommandLineParser parser;
    AddApiOptions(parser);
    QVERIFY(parser.parse(QStringList{"prog"} + arguments));
    try {
        const TApiOptions o = ApiOptionsFrom(parser);
        QVERIFY2(refusal.isEmpty(), "accepted what should be refused");
        const auto where = [](bool on, const QHostAddress& a, quint16 p) {
            return on ? QStringLiteral("%1:%2").arg(a.toString()).arg(p) : QStringLiteral("-");
        };
        QCOMPARE(where(o.Api, o.Address, o.Port) + ' ' + where(o.Osc, o.OscAddress, o.OscPort), listens);
        if (arguments.contains("--osc-allow"))
            QVERIFY(o.OscAllow.size() == 2 && o.OscAllow[1].Contains(QHostAddress("192.168.1.7")) &&
                    !o.OscAllow[1].Contains(QHostAddress("192.168.1.8")));
    } catch (const EFadelinkError& e) {
        QVERIFY2(!refusal.isEmpty() && e.Message.contains(refusal), qPrintable(e.Message));
    }
}

void TestApi::webSocketSignInAndSubscriptions() {
    TApiFixture f({"127.0.26.2"}, true);
    const QUrl url = f.Url("/api/v1/events", "ws");
    // Signed in by the upgrade request's header, or by a first message.
    TEventClient byHeader(url, TApiFixture::Monitor);
    QCOMPARE(byHeader.Await("hello").value("role").toString(), QStringLiteral("monitor"));
    TEventClient byMessage(url, {});
    QTRY_VERIFY(byMessage.Socket.state() == QAbstractSocket::ConnectedState);
    byMessage.Send({{"type", "auth"}, {"token", TApiFixture::Control}});
    QCOMPARE(byMessage.Await("hello").value("client").toString(), QStringLiteral("desk"));
    // A subscriber that only listens is not cut off by the idle limit of HTTP connections.
    for (const TRequestGuard* guard : f.Service.Server()->findChildren<TRequestGuard*>())
        QVERIFY(!guard->IdleLimitRunning());
    // A wrong token in the first message, or anything else first, is closed with the reason.
    for (const QJsonObject& first :
         {QJsonObject{{"type", "auth"}, {"token", "nope-0123456789abc"}},
          QJsonObject{{"type", "subscribe"}, {"patterns", QJsonArray{"global"}}}}) {
        TEventClient refused(url, {});
        QTRY_VERIFY(refused.Socket.state() == QAbstractSocket::ConnectedState);
        refused.Send(first);
        QTRY_VERIFY_WITH_TIMEOUT(refused.Socket.state() == QAbstractSocket::UnconnectedState, 10000);
        QVERIFY2(refused.Socket.closeReason().startsWith("unauthorized"),
                 qPrintable(refused.Socket.closeReason()));
    }
    // A wrong token in the header is refused before the upgrade.
    QCOMPARE(f.Call("GET", "/api/v1/events", {}, "nope-0123456789abc").Status, 401);

    // Bad subscriptions are answered with an error and change nothing.
    for (const QJsonObject& bad :
         {QJsonObject{{"type", "subscribe"}, {"patterns", QJsonArray{"group"}}},
          QJsonObject{{"type", "subscribe"}, {"patterns", QJsonArray{"meters"}}, {"rate", 11}},
          QJsonObject{{"type", "subscribe"}, {"patterns", QJsonArray{"meters"}}, {"every", 1}},
          QJsonObject{{"type", "dance"}}}) {
        const int from = byHeader.Messages.size();
        byHeader.Send(bad);
        QCOMPARE(byHeader.Await("error", 10000, from).value("error").toString(),
                 QStringLiteral("bad_request"));
    }
    // Meters come at the rate asked for, with the amplifier's readings.
    int from = byHeader.Messages.size();
    byHeader.Send({{"type", "subscribe"}, {"patterns", QJsonArray{"group/main", "meters"}}, {"rate", 10}});
    const QJsonObject subscribed = byHeader.Await("subscribed", 10000, from);
    QCOMPARE(subscribed.value("patterns").toArray(), (QJsonArray{"group/MAIN", "meters"}));
    const QJsonObject meters = byHeader.Await("meters", 10000, from);
    QCOMPARE(meters.value("devices")
                 .toArray()
                 .first()
                 .toObject()
                 .value("readings")
                 .toObject()
                 .value("model")
                 .toString(),
             QStringLiteral("KV-30"));
    byHeader.Send({{"type", "unsubscribe"}, {"patterns", QJsonArray{"meters"}}});
    from = byHeader.Messages.size();
    QCOMPARE(byHeader.Await("subscribed", 10000, from).value("patterns").toArray(), QJsonArray{"group/MAIN"});
}

// A client that stops reading is dropped once it has MaxUnsent messages waiting; the others keep
// receiving every message meanwhile.
void TestApi::slowWebSocketClientIsDroppedAlone() {
    TApiFixture f;
    TEventClient quick(f.Url("/api/v1/events", "ws"));
    QVERIFY(!quick.Await("hello").isEmpty());
    quick.Send({{"type", "subscribe"}, {"patterns", QJsonArray{"global"}}});
    QVERIFY(!quick.Await("subscribed").isEmpty());
    // The slow client: a WebSocket handshake by hand, a subscription, then never another read.
    QTcpSocket slow;
    slow.connectToHost(QHostAddress::LocalHost, f.Service.Port());
    slow.write(
        QByteArray(
            "GET /api/v1/events HTTP/1.1\r\nHost: 127.0.0.1\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
            "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n"
            "Authorization: Bearer ") +
        TApiFixture::Control + "\r\n\r\n");
    QTRY_VERIFY(slow.peek(4096).contains("hello"));
    const QByteArray subscribe = R"({"type":"subscribe","patterns":["global"]})";
    QByteArray frame("\x81", 1);
    frame += char(0x80 | subscribe.size());
    frame += QByteArray(4, '\0') + subscribe; // masked with a zero key
    slow.write(frame);
    QTRY_VERIFY(slow.peek(4096).contains("subscribed"));
    slow.setReadBufferSize(1); // the buffer is full: nothing more is read
    QSignalSpy dropped(f.Service.Hub(), &TEventHub::ClientDropped);
    const QJsonObject big{{"type", "change"}, {"padding", QString(16000, 'x')}};
    int sent = 0;
    for (; sent < 20000 && dropped.isEmpty(); ++sent) {
        f.Service.Hub()->Publish("global", big);
        QCoreApplication::processEvents(); // the quick client reads
    }
    QCOMPARE(dropped.size(), 1);
    QVERIFY2(dropped.first().first().toString().contains("1000 messages unsent"),
             qPrintable(dropped.first().first().toString()));
    QCOMPARE(f.Service.Hub()->ClientCount(), 1);
    QCOMPARE(quick.Socket.state(), QAbstractSocket::ConnectedState);
    // The quick client got every message that was published.
    QTRY_COMPARE_WITH_TIMEOUT(int(quick.Messages.size()), sent + 2, 30000);
}

void TestApi::webSocketClientsAreBounded() {
    TApiFixture f;
    std::vector<std::unique_ptr<TEventClient>> clients;
    for (int i = 0; i < TEventHub::MaxClients; ++i) {
        clients.push_back(std::make_unique<TEventClient>(f.Url("/api/v1/events", "ws")));
        QVERIFY(!clients.back()->Await("hello").isEmpty());
    }
    TEventClient oneTooMany(f.Url("/api/v1/events", "ws"));
    QTRY_VERIFY_WITH_TIMEOUT(oneTooMany.Socket.state() == QAbstractSocket::UnconnectedState, 10000);
    QVERIFY2(oneTooMany.Socket.closeReason().contains("too many clients"),
             qPrintable(oneTooMany.Socket.closeReason()));
    clients.pop_back();
    QTRY_COMPARE(f.Service.Hub()->ClientCount(), TEventHub::MaxClients - 1);
    TEventClient again(f.Url("/api/v1/events", "ws"));
    QVERIFY(!again.Await("hello").isEmpty());
    // Every connection that ended gave its place back.
    clients.clear();
    QTRY_COMPARE(f.Service.Server()->findChild<TApiListener*>()->OpenConnections(), 1);
}

void TestApi::oscAddresses_data() {
    QTest::addColumn<QByteArray>("message");
    QTest::addColumn<QString>("levels");    // the group's six levels after, or empty when unchanged
    QTest::addColumn<QString>("reply");     // the first answer's address, empty for none
    QTest::addColumn<QVariant>("argument"); // its first argument
    // Before each row: volume -20 / -30, volume unlocked, global volume 0.
    using D = TOscDispatcher;
    const QString p = "/fadelink/v1/";
    const QString keep = "-20 -30 -95.5 -95.5 10 10";
    QTest::newRow("channel") << D::FloatMessage(p + "group/MAIN/volume_a", -12) << "-12 -30 -95.5 -95.5 10 10"
                             << "" << QVariant();
    QTest::newRow("pair") << D::FloatMessage(p + "group/MAIN/sensitivity", -6) << "-20 -30 -6 -6 10 10"
                          << "" << QVariant();
    QTest::newRow("int for a level") << D::IntMessage(p + "group/main/limiter_b", 120)
                                     << "-20 -30 -95.5 -95.5 10 120"
                                     << "" << QVariant();
    QTest::newRow("lock") << D::IntMessage(p + "group/MAIN/volume_lock", 1) << "-20 -20 -95.5 -95.5 10 10"
                          << "" << QVariant();
    QTest::newRow("step") << D::FloatMessage(p + "group/MAIN/step/volume", -1.5)
                          << "-21.5 -31.5 -95.5 -95.5 10 10"
                          << "" << QVariant();
    QTest::newRow("global volume") << D::FloatMessage(p + "global/volume", -6) << keep << "" << QVariant();
    QTest::newRow("get a level") << D::IntMessage(p + "group/MAIN/volume_b/get", 0) << keep
                                 << p + "group/MAIN/volume_b" << QVariant(-30.0);
    QTest::newRow("get a group") << D::IntMessage(p + "group/MAIN/get", 0) << keep
                                 << p + "group/MAIN/volume_a" << QVariant(-20.0);
    QTest::newRow("get global") << D::IntMessage(p + "global/get", 0) << keep << p + "global/volume"
                                << QVariant(0.0);
    QTest::newRow("get a device") << D::IntMessage(p + "device/127.0.26.3/state/get", 0) << keep
                                  << p + "device/127.0.26.3/state" << QVariant("nostatus");
    QTest::newRow("no such group") << D::FloatMessage(p + "group/NOPE/volume", -1) << keep << p + "error"
                                   << QVariant(p + "group/NOPE/volume");
    QTest::newRow("no such address") << D::FloatMessage(p + "group/MAIN/loudness", -1) << keep << p + "error"
                                     << QVariant(p + "group/MAIN/loudness");
    QTest::newRow("text for a level") << D::StringMessage(p + "group/MAIN/volume", "-1") << keep
                                      << p + "error" << QVariant(p + "group/MAIN/volume");
    QTest::newRow("not for us") << D::FloatMessage("/other/volume", -1) << keep << "/fadelink/v1/error"
                                << QVariant("/other/volume");
    QTest::newRow("subscribe") << D::StringMessage(p + "subscribe", "group/*") << keep << "" << QVariant();
    QTest::newRow("subscribe to nonsense")
        << D::StringMessage(p + "subscribe", "groups") << keep << p + "error" << QVariant(p + "subscribe");
    QTest::newRow("not OSC") << QByteArray("garbage!") << keep << "" << QVariant();
    lo_bundle bundle = lo_bundle_new(LO_TT_IMMEDIATE);
    for (const char* path : {"/fadelink/v1/group/MAIN/volume_a", "/fadelink/v1/group/MAIN/volume_b"}) {
        lo_message m = lo_message_new();
        lo_message_add_float(m, -3);
        lo_bundle_add_message(bundle, path, m);
    }
    size_t size = 0;
    void* data = lo_bundle_serialise(bundle, nullptr, &size);
    QTest::newRow("bundle") << QByteArray(static_cast<const char*>(data), qsizetype(size))
                            << "-3 -3 -95.5 -95.5 10 10"
                            << "" << QVariant();
    std::free(data);
    lo_bundle_free_recursive(bundle);
}

void TestApi::oscAddresses() {
    QFETCH(QByteArray, message);
    QFETCH(QString, levels);
    QFETCH(QString, reply);
    QFETCH(QVariant, argument);
    TApiFixture f({"127.0.26.3"});
    f.Main->SetVolume_A(-20);
    f.Main->SetVolume_B(-30);
    TOscClient osc(f.Service.OscPort());
    osc.Send(message);
    // A query after each message: its answer shows the message was taken up.
    osc.Send(TOscDispatcher::IntMessage("/fadelink/v1/global/mute/get", 0));
    QTRY_VERIFY(!osc.Replies.isEmpty() && osc.Replies.last().first == "/fadelink/v1/global/mute");
    QCOMPARE(Levels(*f.Main), levels);
    if (reply.isEmpty()) {
        QCOMPARE(osc.Replies.size(), 1);
    } else {
        QCOMPARE(osc.Replies.first().first, reply);
        QCOMPARE(osc.Replies.first().second, argument);
    }
    if (QTest::currentDataTag() == QLatin1String("global volume"))
        QCOMPARE(f.Registry->Volume(), -6.0);
    QCOMPARE(f.Service.Osc()->SubscriberCount(),
             QTest::currentDataTag() == QLatin1String("subscribe") ? 1 : 0);
}

void TestApi::oscOnlyFromAllowedSenders() {
    TApiFixture f({}, false, [](TApiOptions& o) { o.OscAllow = {TSubnet{QHostAddress("127.0.0.2"), 32}}; });
    TOscClient stranger(f.Service.OscPort());
    TOscClient allowed(f.Service.OscPort(), QHostAddress("127.0.0.2"));
    stranger.Send(TOscDispatcher::FloatMessage("/fadelink/v1/global/volume", -10));
    allowed.Send(TOscDispatcher::FloatMessage("/fadelink/v1/global/volume", -5));
    allowed.Send(TOscDispatcher::IntMessage("/fadelink/v1/global/volume/get", 0));
    QTRY_COMPARE(allowed.Replies.size(), 1);
    QCOMPARE(allowed.Replies.first().second, QVariant(-5.0));
    stranger.Send(TOscDispatcher::IntMessage("/fadelink/v1/global/volume/get", 0));
    allowed.Send(TOscDispatcher::IntMessage("/fadelink/v1/global/volume/get", 0));
    QTRY_COMPARE(allowed.Replies.size(), 2);
    QVERIFY(stranger.Replies.isEmpty());
    QCOMPARE(f.Registry->Volume(), -5.0);
}

void TestApi::tlsServesTheSameApi() {
    TApiFixture f({}, false, [](TApiOptions& o) {
        o.CertFile = QStringLiteral(FADELINK_SOURCE_DIR "/tests/data/api/cert.pem");
        o.KeyFile = QStringLiteral(FADELINK_SOURCE_DIR "/tests/data/api/key.pem");
    });
    QCOMPARE(f.Call("PUT", "/api/v1/global", R"({"volume":-4})").Status, 200);
    QCOMPARE(f.Registry->Volume(), -4.0);
    QCOMPARE(f.Call("GET", "/api/v1/global", {}, {}).Status, 401);
    TEventClient events(f.Url("/api/v1/events", "wss"));
    QCOMPARE(events.Await("hello").value("client").toString(), QStringLiteral("desk"));
    // Plain HTTP to the TLS port gets nowhere.
    QTcpSocket plain;
    plain.connectToHost(QHostAddress::LocalHost, f.Service.Port());
    QVERIFY(plain.waitForConnected(5000));
    plain.write("GET /api/v1/openapi.json HTTP/1.1\r\nHost: x\r\n\r\n");
    QTRY_VERIFY_WITH_TIMEOUT(plain.state() == QAbstractSocket::UnconnectedState, 15000);
    QVERIFY(!plain.readAll().contains("openapi"));
}

// The same level change made through HTTP and through OSC is sent to the amplifier the same way.
void TestApi::httpAndOscReachTheAmplifierAlike() {
    TApiFixture f({"127.0.26.10", "127.0.26.11"}, true);
    TAmpSim& first = f.Rack.Amp(0);
    TAmpSim& second = f.Rack.Amp(1);
    QTRY_VERIFY_WITH_TIMEOUT(f.Main->Device(0)->StatusCount() > 0 && f.Main->Device(1)->StatusCount() > 0,
                             10000);
    QTRY_VERIFY_WITH_TIMEOUT(int(first.State().Settings[0]) == LevelCode(-95.5), 10000);
    QCOMPARE(f.Call("PUT", "/api/v1/groups/MAIN", R"({"volume":-12})").Status, 200);
    QTRY_VERIFY_WITH_TIMEOUT(int(first.State().Settings[0]) == LevelCode(-12) &&
                                 int(second.State().Settings[1]) == LevelCode(-12),
                             10000);
    const auto settingsSent = [](const TAmpSim& amp) {
        return amp.RequestPaths().filter(QStringLiteral("/common_settings_values1="));
    };
    const QStringList viaHttp = settingsSent(first);
    first.ClearRequests();
    second.ClearRequests();
    TOscClient osc(f.Service.OscPort());
    osc.Send(TOscDispatcher::FloatMessage("/fadelink/v1/group/MAIN/step/volume", -3));
    QTRY_VERIFY_WITH_TIMEOUT(int(first.State().Settings[0]) == LevelCode(-15) &&
                                 int(second.State().Settings[1]) == LevelCode(-15),
                             10000);
    QCOMPARE(settingsSent(first).size(), 1);
    QCOMPARE(settingsSent(first).first(),
             QString(viaHttp.last())
                 .replace(QString("%1%1").arg(LevelCode(-12), 3, 10, QChar('0')),
                          QString("%1%1").arg(LevelCode(-15), 3, 10, QChar('0'))));
}

// A change made through HTTP, through OSC and by the model's own caller (as a window makes it)
// reaches a WebSocket subscriber as the same event with its own source, in the order made, and an
// OSC subscriber as feedback.
void TestApi::sameEventFromHttpOscAndModel() {
    TApiFixture f;
    TEventClient events(f.Url("/api/v1/events", "ws"));
    QVERIFY(events.Subscribe({"group/main", "global"}));
    TOscClient osc(f.Service.OscPort());
    QVERIFY(osc.Subscribe({"group/*"}));
    QCOMPARE(f.Call("PUT", "/api/v1/groups/MAIN", R"({"volume_a":-10})").Status, 200);
    osc.Send(TOscDispatcher::FloatMessage("/fadelink/v1/group/MAIN/volume_a", -11));
    QTRY_COMPARE(f.Main->Volume_A(), -11.0);
    f.Main->SetVolume_A(-12);
    QTRY_COMPARE(events.OfType("change").size(), 3);
    const QList<QJsonObject> changes = events.OfType("change");
    const QStringList sources{"remote desk -10", "remote osc@127.0.0.1 -11", "ui  -12"};
    for (int i = 0; i < 3; ++i) {
        const QJsonObject& e = changes[i];
        QCOMPARE(QStringLiteral("%1 %2 %3")
                     .arg(e.value("source").toString(), e.value("client").toString())
                     .arg(e.value("new").toDouble()),
                 sources[i]);
        QCOMPARE(QStringList({e.value("topic").toString(), e.value("change").toString(),
                              e.value("group").toString(), e.value("field").toString()}),
                 QStringList({"group/MAIN", "group_level", "MAIN", "volume_a"}));
        QVERIFY(!QDateTime::fromString(e.value("time").toString(), Qt::ISODateWithMs).isNull());
    }
    QTRY_COMPARE(osc.Replies.size(), 3);
    for (int i = 0; i < 3; ++i)
        QCOMPARE(osc.Replies[i],
                 qMakePair(QStringLiteral("/fadelink/v1/group/MAIN/volume_a"), QVariant(-10.0 - i)));
}

void TestApi::mutesGoThroughTheSetters_data() {
    QTest::addColumn<QString>("http"); // "PATH BODY", or empty for OSC
    QTest::addColumn<QByteArray>("osc");
    QTest::addColumn<QString>("field"); // what the change event names
    QTest::addColumn<QString>("client");
    const QString p = "/fadelink/v1/";
    QTest::newRow("group by HTTP") << R"(/api/v1/groups/MAIN {"mute":true})" << QByteArray()
                                   << "group/MAIN mute"
                                   << "desk";
    QTest::newRow("device by HTTP") << R"(/api/v1/devices/127.0.26.20 {"mute_b":true})" << QByteArray()
                                    << "device/127.0.26.20 mute_b"
                                    << "desk";
    QTest::newRow("group by OSC") << "" << TOscDispatcher::IntMessage(p + "group/MAIN/mute", 1)
                                  << "group/MAIN mute"
                                  << "osc@127.0.0.1";
    QTest::newRow("device by OSC") << "" << TOscDispatcher::IntMessage(p + "device/127.0.26.20/mute_a", 1)
                                   << "device/127.0.26.20 mute_a"
                                   << "osc@127.0.0.1";
}

// Group and device mutes are written through the model's setters, which say who wrote them.
void TestApi::mutesGoThroughTheSetters() {
    QFETCH(QString, http);
    QFETCH(QByteArray, osc);
    QFETCH(QString, field);
    QFETCH(QString, client);
    TApiFixture f({"127.0.26.20"});
    TEventClient events(f.Url("/api/v1/events", "ws"));
    QVERIFY(events.Subscribe({"group/*", "device/*"}));
    TOscClient sender(f.Service.OscPort());
    if (http.isEmpty())
        sender.Send(osc);
    else
        QCOMPARE(f.Call("PUT", http.section(' ', 0, 0), http.section(' ', 1).toUtf8()).Status, 200);
    QTRY_COMPARE(events.OfType("change").size(), 1);
    const QJsonObject e = events.OfType("change").first();
    QCOMPARE(e.value("topic").toString() + ' ' + e.value("field").toString(), field);
    QCOMPARE(e.value("client").toString(), client);
    QCOMPARE(e.value("new").toBool(), true);
    const TDevice& device = *f.Main->Device(0);
    QCOMPARE(QString("%1%2%3").arg(f.Main->Mute()).arg(device.Mute_CHA()).arg(device.Mute_CHB()),
             field.endsWith("mute")     ? "100"
             : field.endsWith("mute_a") ? "010"
                                        : "001");
}

void TestApi::journalQueries_data() {
    QTest::addColumn<QString>("query");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("found"); // the entries' "what", newest first
    // The journal holds, a second apart: a fault, an info line and a user action.
    const QString second = IsoTime(kJournalTestStartMs + 1000);
    QTest::newRow("all") << "" << 200 << "action info fault";
    QTest::newRow("one severity") << "severity=fault" << 200 << "fault";
    QTest::newRow("two severities") << "severity=fault,user_action" << 200 << "action fault";
    QTest::newRow("since") << "since=" + QString::fromLatin1(QUrl::toPercentEncoding(second)) << 200
                           << "action info";
    QTest::newRow("limit") << "limit=2" << 200 << "action info";
    QTest::newRow("unknown severity") << "severity=loud" << 400 << "";
    QTest::newRow("limit too large") << "limit=1001" << 400 << "";
    QTest::newRow("not a time") << "since=yesterday" << 400 << "";
    QTest::newRow("unknown parameter") << "colour=red" << 400 << "";
}

void TestApi::journalQueries() {
    QFETCH(QString, query);
    QFETCH(int, status);
    QFETCH(QString, found);
    TApiFixture f;
    TJournal& journal = f.UseJournal();
    journal.Record(TJournalFixture::Entry("fault", TJournalSeverity::Fault, kJournalTestStartMs));
    journal.Record(TJournalFixture::Entry("info", TJournalSeverity::Info, kJournalTestStartMs + 1000));
    journal.Record(
        TJournalFixture::Entry("action", TJournalSeverity::UserAction, kJournalTestStartMs + 2000));
    QVERIFY(journal.Flush(10000));
    const TApiReply reply = f.Call("GET", "/api/v1/journal" + (query.isEmpty() ? "" : "?" + query));
    QCOMPARE(reply.Status, status);
    QStringList what;
    for (const QJsonValue& entry : reply.Json.value("entries").toArray())
        what.append(entry.toObject().value("what").toString());
    QCOMPARE(what.join(' '), found);
}

// The alarms as listed and pushed; an acknowledgement carries the token's name into the alarm,
// the journal and the events.
void TestApi::alarmsAcknowledgedInTheTokensName() {
    TApiFixture f;
    TJournal& journal = f.UseJournal();
    TEventClient events(f.Url("/api/v1/events", "ws"));
    QVERIFY(events.Subscribe({"alarms", "journal"}));
    journal.RaiseAlarm("127.0.26.30/offline", TJournalFixture::Entry("Off-line", TJournalSeverity::Fault));
    QTRY_VERIFY(!events.OfType("alarms").isEmpty());
    QCOMPARE(events.OfType("alarms").last().value("unacknowledged").toInt(), 1);
    const TApiReply list = f.Call("GET", "/api/v1/alarms", {}, TApiFixture::Monitor);
    QCOMPARE(list.Status, 200);
    const QString id = list.Json.value("alarms").toArray().first().toObject().value("id").toString();
    QCOMPARE(id, journal.Alarms().front().Id);

    const TApiReply acknowledged = f.Call("POST", "/api/v1/alarms/" + id + "/acknowledge");
    QCOMPARE(acknowledged.Status, 200);
    QCOMPARE(acknowledged.Json.value("acknowledged_by").toString(), "desk");
    QCOMPARE(journal.AlarmCount(), 0);
    QTRY_COMPARE(events.OfType("alarms").last().value("unacknowledged").toInt(), 0);
    // The acknowledgement is journalled as the client's action, and pushed once written.
    QTRY_VERIFY(!events.OfType("journal").isEmpty());
    const QJsonObject entry = events.OfType("journal").last().value("entry").toObject();
    QCOMPARE(entry.value("source").toString() + ' ' + entry.value("client").toString(), "remote_client desk");
    QCOMPARE(f.Call("POST", "/api/v1/alarms/nope/acknowledge").Status, 404);
}

QTEST_MAIN(TestApi)
#include "tst_Api.moc"

void TestApi::webPanelFilesNeedNoToken_data() {
    QTest::addColumn<QByteArray>("method");
    QTest::addColumn<QString>("path");
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("contentType");
    QTest::newRow("page") << QByteArray("GET") << "/" << 200 << QByteArray("text/html; charset=utf-8");
    QTest::newRow("page by name") << QByteArray("GET") << "/index.html" << 200
                                  << QByteArray("text/html; charset=utf-8");
    QTest::newRow("module") << QByteArray("GET") << "/main.js" << 200
                            << QByteArray("text/javascript; charset=utf-8");
    QTest::newRow("style") << QByteArray("GET") << "/panel.css" << 200
                           << QByteArray("text/css; charset=utf-8");
    QTest::newRow("icon") << QByteArray("GET") << "/icon.svg" << 200 << QByteArray("image/svg+xml");
    QTest::newRow("no such file") << QByteArray("GET") << "/nope.js" << 404 << QByteArray("application/json");
    QTest::newRow("no folders") << QByteArray("GET") << "/web/main.js" << 404
                                << QByteArray("application/json");
    QTest::newRow("encoded way out") << QByteArray("GET") << "/%2E%2E%2Fapi%2Fopenapi.json" << 404
                                     << QByteArray("application/json");
    QTest::newRow("encoded folder") << QByteArray("GET") << "/%2Fweb%2Fmain.js" << 404
                                    << QByteArray("application/json");
    QTest::newRow("write") << QByteArray("POST") << "/" << 405 << QByteArray("application/json");
    QTest::newRow("the API still wants a token")
        << QByteArray("GET") << "/api/v1/nope" << 401 << QByteArray("application/json");
    QTest::newRow("the API's root too")
        << QByteArray("GET") << "/api/v1" << 401 << QByteArray("application/json");
}

// The panel's files come without a token, with their type and a policy that keeps the page to
// this origin; nothing else of the program is reachable through them, and the API keeps its
// tokens.
void TestApi::webPanelFilesNeedNoToken() {
    QFETCH(QByteArray, method);
    QFETCH(QString, path);
    QFETCH(int, status);
    QFETCH(QByteArray, contentType);
    TApiFixture f;
    const TApiReply reply = f.Call(method, path, {}, {});
    QCOMPARE(reply.Status, status);
    QCOMPARE(reply.Header("Content-Type"), contentType);
    QCOMPARE(reply.Header("Cache-Control"), QByteArray("no-store"));
    if (status == 200) {
        QVERIFY(!reply.Body.isEmpty());
        QVERIFY2(reply.Header("Content-Security-Policy").startsWith("default-src 'self';"),
                 reply.Header("Content-Security-Policy").constData());
        QCOMPARE(reply.Header("X-Content-Type-Options"), QByteArray("nosniff"));
    } else {
        QVERIFY2(!reply.Json.value("error").toString().isEmpty(), reply.Body.constData());
    }
}
