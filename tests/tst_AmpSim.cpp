// The amplifier simulator, through a plain socket client and the project's own fetch: commands
// and the status block, meters and histories, fault injection, the rack's start and stop, and
// the ampsim program. Addresses 127.0.10.x only.
#include "device/DeviceStatus.h"
#include "device/HttpGet.h"
#include "tools/ampsim/AmpConnection.h"
#include "tools/ampsim/AmpOptions.h"
#include "tools/ampsim/AmpRack.h"
#include "tools/ampsim/AmpWire.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

#include <algorithm>
#include <memory>

Q_DECLARE_METATYPE(TAmpFaults)

namespace {
const QString kAmp1 = QStringLiteral("127.0.10.1");
const QString kAmp2 = QStringLiteral("127.0.10.2");
const QByteArray kStatus = "/zyl.zyl";

// What a plain client saw of one request.
struct TExchange {
    bool Connected = false;
    QAbstractSocket::SocketError Error = QAbstractSocket::UnknownSocketError;
    QByteArray Bytes;
    qint64 FirstByteMs = -1; // after the request was written
    qint64 LastByteMs = -1;

    // Interim and final status codes, the final head and what follows it.
    QList<int> Codes;
    QByteArray Head;
    QByteArray Body;

    QByteArray Header(const QByteArray& name) const {
        const QList<QByteArray> lines = Head.split('\n');
        const auto line = std::find_if(lines.begin(), lines.end(), [&name](const QByteArray& l) {
            return l.toLower().startsWith(name.toLower() + ':');
        });
        return line == lines.end() ? QByteArray() : line->mid(name.size() + 1).trimmed();
    }
};

void Split(TExchange& ex) {
    int at = 0;
    while (ex.Bytes.mid(at).startsWith("HTTP/")) {
        const int end = int(ex.Bytes.indexOf("\r\n\r\n", at));
        if (end < 0)
            break;
        ex.Head = ex.Bytes.mid(at, end - at);
        ex.Codes.append(ex.Head.mid(9, 3).toInt());
        at = end + 4;
        if (ex.Codes.back() != 100)
            break;
    }
    ex.Body = ex.Bytes.mid(at);
}

// Sends one GET and reads until the peer closes, the connection fails or `timeoutMs` passes.
TExchange Exchange(const QString& host, quint16 port, const QByteArray& path, int timeoutMs = 5000) {
    TExchange ex;
    QTcpSocket socket;
    socket.connectToHost(host, port);
    if (!socket.waitForConnected(3000)) {
        ex.Error = socket.error();
        return ex;
    }
    ex.Connected = true;
    socket.write("GET " + path + " HTTP/1.0\r\nHost: " + host.toLatin1() +
                 "\r\nConnection: keep-alive\r\n\r\n");
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < timeoutMs) {
        if (socket.bytesAvailable() == 0 && !socket.waitForReadyRead(int(timeoutMs - clock.elapsed())))
            break;
        const QByteArray chunk = socket.readAll();
        if (!chunk.isEmpty()) {
            ex.FirstByteMs = ex.FirstByteMs < 0 ? clock.elapsed() : ex.FirstByteMs;
            ex.LastByteMs = clock.elapsed();
            ex.Bytes += chunk;
        }
    }
    ex.Bytes += socket.readAll();
    ex.Error = socket.error();
    Split(ex);
    return ex;
}

QByteArray Dechunk(const QByteArray& chunked) {
    QByteArray out;
    int at = 0;
    for (;;) {
        const int eol = int(chunked.indexOf("\r\n", at));
        const int size = chunked.mid(at, eol - at).toInt(nullptr, 16);
        if (eol < 0 || size == 0)
            return out;
        out += chunked.mid(eol + 2, size);
        at = eol + 2 + size + 2;
    }
}

TDeviceStatus StatusOf(const TExchange& ex) {
    TDeviceStatus status = TDeviceStatus::Initial();
    TDeviceStatus::FromBody(ex.Body, status);
    return status;
}

QByteArray Bytes(std::initializer_list<int> values) {
    QByteArray out;
    for (int v : values)
        out.append(char(v));
    return out;
}
} // namespace

class TestAmpSim : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void commandsChangeTheStatusBlock_data();
    void commandsChangeTheStatusBlock();
    void limiterIsCappedByTheModel_data();
    void limiterIsCappedByTheModel();
    void statusBlockCarriesIdentityAndChannelStates();
    void requestLineGivesThePathUpToTheLastVersion_data();
    void requestLineGivesThePathUpToTheLastVersion();

    void outputVoltageFollowsSettings_data();
    void outputVoltageFollowsSettings();
    void temperatureRisesWithOutputAndFallsWhenMuted();
    void historiesFillNewestLast();
    void timeScaleRunsTheClockFaster();
    void liveMetersMoveAndRepeatFromTheirSeed();
    void requestLogKeepsOrderAndTime();

    void statusBodyFaults_data();
    void statusBodyFaults();
    void garbageAndDropAreNotHttp();
    void delayedAnswerDoesNotHoldOtherAmplifiers();
    void trickleSendsOneByteAtATime();
    void resetCutsTheBody();
    void neverAnswerKeepsTheConnectionSilent();
    void statusOnlyFaultsLeaveCommandsAlone();
    void stoppedAmplifierRefusesAndComesBack();

    void startFailsWhenAnAddressCannotBeServed();

    void numberedShortNames_data();
    void numberedShortNames();
    void argumentsAreChecked_data();
    void argumentsAreChecked();
    void programExitStatus_data();
    void programExitStatus();
    void programLogsEachRequestAndEndsCleanly();

private:
    TAmpSim& Amp1() { return FRack->Amp(0); }
    TAmpSim& Amp2() { return FRack->Amp(1); }
    std::unique_ptr<TAmpRack> FRack;
};

void TestAmpSim::init() {
    FRack = std::make_unique<TAmpRack>();
    for (const QString& address : {kAmp1, kAmp2}) {
        TAmpConfig config = TAmpConfig::At(address);
        config.Meters.Static = true;
        config.TimeScale = 0;
        FRack->Add(config);
    }
    QVERIFY2(FRack->Start(), qPrintable(FRack->ErrorString()));
}

void TestAmpSim::cleanup() {
    FRack.reset();
}

void TestAmpSim::commandsChangeTheStatusBlock_data() {
    QTest::addColumn<QList<QByteArray>>("before");
    QTest::addColumn<QByteArray>("path");
    QTest::addColumn<int>("code");
    QTest::addColumn<int>("offset");
    QTest::addColumn<QByteArray>("expected");

    const QByteArray defaults = Bytes({151, 151, 191, 191, 100, 100});
    const QByteArray settings = "/common_settings_values1=171172183184100101";
    QTest::newRow("settings") << QList<QByteArray>() << settings << 200 << 0
                              << Bytes({171, 172, 183, 184, 100, 101});
    QTest::newRow("settings of 17 digits")
        << QList<QByteArray>() << settings.chopped(1) << 404 << 0 << defaults;
    QTest::newRow("settings group above a byte")
        << QList<QByteArray>() << QByteArray("/common_settings_values1=256172183184100101") << 404 << 0
        << defaults;
    QTest::newRow("locked ignores settings")
        << QList<QByteArray>{"/lock_on"} << settings << 200 << 0 << defaults;
    QTest::newRow("unlocked takes settings") << QList<QByteArray>{"/lock_on", "/lock_off"} << settings << 200
                                             << 0 << Bytes({171, 172, 183, 184, 100, 101});
    QTest::newRow("name with spaces")
        << QList<QByteArray>() << QByteArray("/name=AB C ") << 200 << 80 << QByteArray("AB C ");
    QTest::newRow("name of 3 characters")
        << QList<QByteArray>() << QByteArray("/name=ABC") << 404 << 80 << QByteArray("AMP  ");
    QTest::newRow("group") << QList<QByteArray>() << QByteArray("/group=MAIN ") << 200 << 75
                           << QByteArray("MAIN ");
    QTest::newRow("mute A") << QList<QByteArray>() << QByteArray("/mute_a_on.html") << 200 << 26
                            << Bytes({0, 1});
    QTest::newRow("mute B") << QList<QByteArray>() << QByteArray("/mute_b_on.html") << 200 << 26
                            << Bytes({1, 0});
    QTest::newRow("unmute A") << QList<QByteArray>{"/mute_a_on.html", "/mute_b_on.html"}
                              << QByteArray("/mute_a_off.html") << 200 << 26 << Bytes({1, 0});
    QTest::newRow("unmute B") << QList<QByteArray>{"/mute_a_on.html", "/mute_b_on.html"}
                              << QByteArray("/mute_b_off.html") << 200 << 26 << Bytes({0, 1});
    QTest::newRow("unknown path") << QList<QByteArray>() << QByteArray("/index.html") << 404 << 0 << defaults;
    QTest::newRow("status path in capitals")
        << QList<QByteArray>() << QByteArray("/ZYL.ZYL") << 404 << 0 << defaults;
}

void TestAmpSim::commandsChangeTheStatusBlock() {
    QFETCH(QList<QByteArray>, before);
    QFETCH(QByteArray, path);
    QFETCH(int, code);
    QFETCH(int, offset);
    QFETCH(QByteArray, expected);

    for (const QByteArray& p : before)
        QCOMPARE(Exchange(kAmp1, 80, p).Codes, QList<int>{200});
    const TExchange answer = Exchange(kAmp1, 80, path);
    QCOMPARE(answer.Codes, QList<int>{code});
    QCOMPARE(answer.Header("Content-Length").toInt(), answer.Body.size());

    const TExchange status = Exchange(kAmp1, 80, kStatus);
    QCOMPARE(status.Body.size(), TDeviceStatus::Size);
    QCOMPARE(status.Body.mid(offset, expected.size()), expected);
}

void TestAmpSim::limiterIsCappedByTheModel_data() {
    QTest::addColumn<QByteArray>("model");
    QTest::addColumn<int>("limiter");
    QTest::newRow("KV-20") << QByteArray("KV-20") << 100;
    QTest::newRow("KV-30") << QByteArray("KV-30") << 155;
    QTest::newRow("KV-40") << QByteArray("KV-40") << 175;
    QTest::newRow("unknown model") << QByteArray("KV-99") << 200;
}

void TestAmpSim::limiterIsCappedByTheModel() {
    QFETCH(QByteArray, model);
    QFETCH(int, limiter);
    Amp1().Update([&](TAmpState& s) { s.Model = model; });
    QCOMPARE(Exchange(kAmp1, 80, "/common_settings_values1=191191191191200090").Codes, QList<int>{200});
    const TDeviceStatus status = Amp1().BuildStatus();
    QCOMPARE(int(status.PD_CHA_Limiter), limiter);
    QCOMPARE(int(status.PD_CHB_Limiter), 90);
}

void TestAmpSim::statusBlockCarriesIdentityAndChannelStates() {
    Amp1().Update([](TAmpState& s) {
        s.Model = "KV-40";
        s.SerialNumber = "12345";
        s.MainVersion = "9.87a";
        s.DdsVersion = "1.2";
        s.ImpedanceB = "4.00";
        s.ChannelOkB = false;
        s.MuteA = true;
    });
    const TExchange ex = Exchange(kAmp1, 80, kStatus);
    QCOMPARE(ex.Header("Content-Length"), QByteArray("3157"));
    QCOMPARE(ex.Body.size(), TDeviceStatus::Size);
    const TDeviceStatus s = StatusOf(ex);
    QCOMPARE(s.PD_Model.Bytes(), QByteArray("KV-40"));
    QCOMPARE(s.PD_Serial_Number.Bytes(), QByteArray("12345"));
    QCOMPARE(s.PD_Main_SW_Version.Bytes(), QByteArray("9.87a"));
    QCOMPARE(s.PD_DDS_SW_Version.Bytes(), QByteArray("1.2"));
    QCOMPARE(s.PD_Speaker_Impedance_CHB.Bytes(), QByteArray("4.00"));
    QCOMPARE(int(s.PD_CHA_Status), 1);
    QCOMPARE(int(s.PD_CHB_Status), 0);
    QCOMPARE(int(s.PD_CHA_Mute_Off), 0);
    QCOMPARE(int(s.PD_CHB_Mute_Off), 1);
    // A muted channel and a channel in FAULT deliver nothing.
    QCOMPARE(s.PD_CHA_Output_Peak_Voltage.Value(), 0u);
    QCOMPARE(s.PD_CHB_Output_Peak_Voltage.Value(), 0u);
    QCOMPARE(s.MainsVolts(), 230);
    QCOMPARE(s.PD_Amplifier_Temperature.Value(), 30);
    QCOMPARE(s.PD_PSU_Temperature.Value(), 32);
    QCOMPARE(s.FanSpeedPercent(), 20);
    QCOMPARE(ex.Bytes, ex.Bytes.left(ex.Bytes.indexOf("\r\n\r\n") + 4) + Amp1().BuildStatus().ToBody());
}

void TestAmpSim::requestLineGivesThePathUpToTheLastVersion_data() {
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<QByteArray>("path");
    QTest::addColumn<bool>("unsupportedMethod");
    QTest::newRow("plain") << QByteArray("GET /zyl.zyl HTTP/1.0") << true << QByteArray("/zyl.zyl") << false;
    QTest::newRow("trailing space in the name")
        << QByteArray("GET /name=AB C  HTTP/1.0") << true << QByteArray("/name=AB C ") << false;
    QTest::newRow("version text inside the path")
        << QByteArray("GET /a HTTP/x HTTP/1.1") << true << QByteArray("/a HTTP/x") << false;
    QTest::newRow("no version") << QByteArray("GET /zyl.zyl") << false << QByteArray() << false;
    QTest::newRow("empty path") << QByteArray("GET  HTTP/1.0") << false << QByteArray() << false;
    QTest::newRow("other method") << QByteArray("POST /zyl.zyl HTTP/1.0") << false << QByteArray() << true;
    QTest::newRow("not a request") << QByteArray("hello") << false << QByteArray() << false;
}

void TestAmpSim::requestLineGivesThePathUpToTheLastVersion() {
    QFETCH(QByteArray, line);
    QFETCH(bool, valid);
    QFETCH(QByteArray, path);
    QFETCH(bool, unsupportedMethod);
    QByteArray parsed;
    bool unsupported = false;
    QCOMPARE(TAmpConnection::ParseRequestLine(line, parsed, unsupported), valid);
    if (valid)
        QCOMPARE(parsed, path);
    QCOMPARE(unsupported, unsupportedMethod);
}

void TestAmpSim::outputVoltageFollowsSettings_data() {
    // Static meters hold the programme at half scale; a KV-30 delivers up to 155 V.
    QTest::addColumn<QByteArray>("settings");
    QTest::addColumn<bool>("muted");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<double>("peakVolts");
    QTest::newRow("0 dB") << QByteArray("191191191191150150") << false << true << 77.5;
    QTest::newRow("-6 dB volume") << QByteArray("179191191191150150") << false << true << 38.85;
    QTest::newRow("-6 dB sensitivity") << QByteArray("191191179191150150") << false << true << 38.85;
    QTest::newRow("limiter 50 V") << QByteArray("191191191191050150") << false << true << 50.0;
    QTest::newRow("muted") << QByteArray("191191191191150150") << true << true << 0.0;
    QTest::newRow("fault") << QByteArray("191191191191150150") << false << false << 0.0;
}

void TestAmpSim::outputVoltageFollowsSettings() {
    QFETCH(QByteArray, settings);
    QFETCH(bool, muted);
    QFETCH(bool, ok);
    QFETCH(double, peakVolts);
    Amp1().Update([&](TAmpState& s) {
        for (int i = 0; i < 6; ++i)
            s.Settings[size_t(i)] = std::uint8_t(settings.mid(i * 3, 3).toInt());
        s.MuteA = muted;
        s.ChannelOkA = ok;
    });
    const TDeviceStatus s = Amp1().BuildStatus();
    const double peak = RawToVolts(s.PD_CHA_Output_Peak_Voltage.Value());
    QVERIFY2(qAbs(peak - peakVolts) < 0.2, qPrintable(QStringLiteral("peak %1 V").arg(peak)));
    QVERIFY(qAbs(RawToVolts(s.PD_CHA_Output_Average_Voltage.Value()) - peakVolts * 0.4) < 0.2);
    // 8 ohm speakers.
    QVERIFY(qAbs(RawToAmperes(s.PD_CHA_Output_Average_Current.Value()) - peakVolts * 0.4 / 8) < 0.05);
}

void TestAmpSim::temperatureRisesWithOutputAndFallsWhenMuted() {
    Amp1().Update([](TAmpState& s) { s.Settings = {{191, 191, 191, 191, 155, 155}}; });
    const int idle = Amp1().BuildStatus().PD_Amplifier_Temperature.Value();
    Amp1().AdvanceTime(600);
    const TDeviceStatus hot = Amp1().BuildStatus();
    QVERIFY2(hot.PD_Amplifier_Temperature.Value() > idle + 10,
             qPrintable(QStringLiteral("%1 -> %2").arg(idle).arg(hot.PD_Amplifier_Temperature.Value())));
    QVERIFY(hot.PD_PSU_Temperature.Value() > 32);
    QVERIFY(hot.FanSpeedPercent() > 20);

    Amp1().Update([](TAmpState& s) { s.MuteA = s.MuteB = true; });
    Amp1().AdvanceTime(120);
    const TDeviceStatus cooling = Amp1().BuildStatus();
    QVERIFY(cooling.PD_Amplifier_Temperature.Value() < hot.PD_Amplifier_Temperature.Value());
    QVERIFY(cooling.FanSpeedPercent() < hot.FanSpeedPercent());
    Amp1().AdvanceTime(3600);
    QCOMPARE(Amp1().BuildStatus().PD_Amplifier_Temperature.Value(), idle);
}

void TestAmpSim::historiesFillNewestLast() {
    constexpr int N = TDeviceStatus::HistoryLength;
    Amp1().Update([](TAmpState& s) { s.Settings = {{191, 191, 191, 191, 155, 155}}; });
    QCOMPARE(int(Amp1().BuildStatus().PD_History_Peak_Voltage_CHA[N - 1]), 0);

    Amp1().AdvanceTime(TAmpMeters::SampleSeconds * 10);
    TDeviceStatus s = Amp1().BuildStatus();
    // 77.5 V of a 200 V scale.
    QCOMPARE(int(s.PD_History_Peak_Voltage_CHA[N - 10]), 99);
    QCOMPARE(int(s.PD_History_Peak_Voltage_CHA[N - 11]), 0);
    QVERIFY(s.PD_History_Current_CHB[N - 1] > 0);
    QVERIFY(s.PD_History_Amplifier_Temperature[N - 1] > s.PD_History_Amplifier_Temperature[N - 10]);
    QVERIFY(s.PD_History_PSU_Temperature[N - 1] > 0);

    Amp1().Update([](TAmpState& s) { s.MuteA = true; });
    Amp1().AdvanceTime(TAmpMeters::SampleSeconds * 3);
    s = Amp1().BuildStatus();
    QCOMPARE(QByteArray(reinterpret_cast<const char*>(s.PD_History_Peak_Voltage_CHA) + N - 5, 5),
             Bytes({99, 99, 0, 0, 0}));
    QCOMPARE(int(s.PD_History_Peak_Voltage_CHB[N - 1]), 99);

    // After 100 minutes every sample is filled.
    Amp1().Update([](TAmpState& s) { s.MuteA = false; });
    Amp1().AdvanceTime(TAmpMeters::HistorySpanSeconds * 3);
    s = Amp1().BuildStatus();
    QCOMPARE(int(s.PD_History_Peak_Voltage_CHA[0]), 99);
    QCOMPARE(int(s.PD_History_Peak_Voltage_CHA[N - 1]), 99);
}

void TestAmpSim::timeScaleRunsTheClockFaster() {
    constexpr int N = TDeviceStatus::HistoryLength;
    Amp1().Update([](TAmpState& s) { s.Settings = {{191, 191, 191, 191, 155, 155}}; });
    // 100 simulated minutes per real second.
    Amp1().SetTimeScale(6000);
    QTRY_VERIFY_WITH_TIMEOUT(Amp1().BuildStatus().PD_History_Peak_Voltage_CHA[N / 2] > 0, 5000);
    QVERIFY(Amp1().BuildStatus().PD_Amplifier_Temperature.Value() > 40);
}

void TestAmpSim::liveMetersMoveAndRepeatFromTheirSeed() {
    TAmpConfig config;
    config.Meters.Seed = 42;
    config.TimeScale = 0;
    config.State.Settings = {{191, 191, 191, 191, 155, 155}};
    TAmpSim first(config), second(config);
    QByteArray previous;
    int changes = 0;
    for (int i = 0; i < 20; ++i) {
        first.AdvanceTime(1);
        second.AdvanceTime(1);
        const TDeviceStatus s = first.BuildStatus();
        QCOMPARE(s.ToBody(), second.BuildStatus().ToBody());
        QVERIFY2(s.MainsVolts() >= 223 && s.MainsVolts() <= 236, qPrintable(QString::number(s.MainsVolts())));
        const QByteArray meters = s.ToBody().mid(6, 12);
        changes += meters != previous;
        previous = meters;
    }
    QVERIFY2(changes >= 15, qPrintable(QStringLiteral("readings changed %1 times in 20 s").arg(changes)));

    config.Meters.Seed = 43;
    TAmpSim other(config);
    other.AdvanceTime(20);
    QVERIFY(other.BuildStatus().ToBody() != first.BuildStatus().ToBody());
}

void TestAmpSim::requestLogKeepsOrderAndTime() {
    const QList<QByteArray> paths = {"/lock_off", "/name=AB C ", "/nothing", kStatus};
    for (const QByteArray& p : paths)
        Exchange(kAmp1, 80, p);
    QCOMPARE(Amp1().RequestPaths(), (QStringList{QStringLiteral("/lock_off"), QStringLiteral("/name=AB C "),
                                                 QStringLiteral("/nothing"), QStringLiteral("/zyl.zyl")}));
    const QList<TAmpRequest> log = Amp1().Requests();
    for (int i = 1; i < log.size(); ++i)
        QVERIFY(log[i].ReceivedMs >= log[i - 1].ReceivedMs);
    QCOMPARE(Amp2().RequestCount(), 0);
    Amp1().ClearRequests();
    QCOMPARE(Amp1().RequestCount(), 0);
}

void TestAmpSim::statusBodyFaults_data() {
    // What a plain client sees, and whether the project's own fetch takes the body.
    QTest::addColumn<TAmpFaults>("faults");
    QTest::addColumn<int>("interim");
    QTest::addColumn<QByteArray>("lengthHeader");
    QTest::addColumn<bool>("chunked");
    QTest::addColumn<int>("bodySize");
    QTest::addColumn<bool>("fetched");

    TAmpFaults f;
    QTest::newRow("normal") << f << 0 << QByteArray("3157") << false << 3157 << true;
    f.StatusBodySize = 3156;
    QTest::newRow("one byte short") << f << 0 << QByteArray("3156") << false << 3156 << true;
    f.StatusBodySize = 3158;
    QTest::newRow("one byte over") << f << 0 << QByteArray("3158") << false << 3158 << true;
    f.StatusBodySize = 200;
    QTest::newRow("error-page size") << f << 0 << QByteArray("200") << false << 200 << true;
    f = TAmpFaults();
    f.Framing = TAmpFaults::EFraming::Chunked;
    QTest::newRow("chunked") << f << 0 << QByteArray() << true << 3157 << true;
    f.Framing = TAmpFaults::EFraming::NoLength;
    QTest::newRow("no length") << f << 0 << QByteArray() << false << 3157 << true;
    f = TAmpFaults();
    f.ContinueLines = 50;
    QTest::newRow("50 continue lines") << f << 50 << QByteArray("3157") << false << 3157 << true;
    f = TAmpFaults();
    f.OversizeBody = true;
    QTest::newRow("over 1 MiB") << f << 0 << QByteArray::number(OversizeBodyBytes) << false
                                << OversizeBodyBytes << false;
}

void TestAmpSim::statusBodyFaults() {
    QFETCH(TAmpFaults, faults);
    QFETCH(int, interim);
    QFETCH(QByteArray, lengthHeader);
    QFETCH(bool, chunked);
    QFETCH(int, bodySize);
    QFETCH(bool, fetched);
    Amp1().SetFaults(faults);
    const TExchange ex = Exchange(kAmp1, 80, kStatus);
    QCOMPARE(ex.Codes, QList<int>(interim, 100) << 200);
    QCOMPARE(ex.Header("Content-Length"), lengthHeader);
    QCOMPARE(ex.Header("Transfer-Encoding") == "chunked", chunked);
    const QByteArray body = chunked ? Dechunk(ex.Body) : ex.Body;
    QCOMPARE(body.size(), bodySize);
    const QByteArray whole = Amp1().BuildStatus().ToBody();
    if (!faults.OversizeBody)
        QCOMPARE(body.left(100), whole.left(100));

    QByteArray fetchedBody;
    QCOMPARE(HttpGet(kAmp1 + QStringLiteral("/zyl.zyl"), fetchedBody), fetched);
    QCOMPARE(fetchedBody, fetched ? body : QByteArray());
}

void TestAmpSim::garbageAndDropAreNotHttp() {
    TAmpFaults f;
    f.Garbage = true;
    Amp1().SetFaults(f);
    TExchange ex = Exchange(kAmp1, 80, kStatus);
    QVERIFY(ex.Bytes.size() > 100);
    QVERIFY(!ex.Bytes.startsWith("HTTP/"));
    QCOMPARE(ex.Error, QAbstractSocket::RemoteHostClosedError);

    f = TAmpFaults();
    f.DropConnection = true;
    Amp1().SetFaults(f);
    ex = Exchange(kAmp1, 80, "/mute_a_on.html");
    QVERIFY(ex.Connected);
    QCOMPARE(ex.Bytes, QByteArray());
    QCOMPARE(ex.Error, QAbstractSocket::RemoteHostClosedError);
    // The amplifier acted on the command before it dropped the connection.
    QVERIFY(Amp1().State().MuteA);
}

void TestAmpSim::delayedAnswerDoesNotHoldOtherAmplifiers() {
    TAmpFaults f;
    f.AnswerDelayMs = 1500;
    Amp1().SetFaults(f);
    QTcpSocket slow;
    slow.connectToHost(kAmp1, 80);
    QVERIFY(slow.waitForConnected(3000));
    QElapsedTimer clock;
    clock.start();
    slow.write("GET /zyl.zyl HTTP/1.0\r\n\r\n");
    QTRY_COMPARE_WITH_TIMEOUT(Amp1().RequestCount(), 1, 3000);

    const TExchange quick = Exchange(kAmp2, 80, kStatus);
    QCOMPARE(quick.Body.size(), TDeviceStatus::Size);
    QVERIFY2(clock.elapsed() < 1500, "the other amplifier waited for the delayed answer");

    QVERIFY(slow.waitForReadyRead(3000));
    QVERIFY2(clock.elapsed() >= 1500, qPrintable(QString::number(clock.elapsed())));
}

void TestAmpSim::trickleSendsOneByteAtATime() {
    TAmpFaults f;
    f.TrickleIntervalMs = 2;
    Amp1().SetFaults(f);
    const TExchange ex = Exchange(kAmp1, 80, "/lock_off");
    QCOMPARE(ex.Codes, QList<int>{200});
    QCOMPARE(ex.Body.size(), ex.Header("Content-Length").toInt());
    const qint64 spread = ex.LastByteMs - ex.FirstByteMs;
    QVERIFY2(spread >= ex.Bytes.size(),
             qPrintable(QStringLiteral("%1 bytes in %2 ms").arg(ex.Bytes.size()).arg(spread)));
}

void TestAmpSim::resetCutsTheBody() {
    TAmpFaults f;
    f.ResetMidBody = true;
    Amp1().SetFaults(f);
    const TExchange ex = Exchange(kAmp1, 80, kStatus);
    QVERIFY(ex.Body.size() < TDeviceStatus::Size);
    QVERIFY2(ex.Error == QAbstractSocket::RemoteHostClosedError || ex.Error == QAbstractSocket::NetworkError,
             qPrintable(QString::number(int(ex.Error))));
    QByteArray fetchedBody;
    QVERIFY(!HttpGet(kAmp1 + QStringLiteral("/zyl.zyl"), fetchedBody));
}

void TestAmpSim::neverAnswerKeepsTheConnectionSilent() {
    TAmpFaults f;
    f.NeverAnswer = true;
    Amp1().SetFaults(f);
    QTcpSocket silent;
    silent.connectToHost(kAmp1, 80);
    QVERIFY(silent.waitForConnected(3000));
    silent.write("GET /mute_b_on.html HTTP/1.0\r\n\r\n");
    QTRY_COMPARE_WITH_TIMEOUT(Amp1().RequestCount(), 1, 3000);
    QVERIFY(Amp1().State().MuteB);

    // The simulator serves the next request after the first one, so an answer to the first
    // would be here by the time the second is complete.
    Amp1().SetFaults(TAmpFaults());
    QCOMPARE(Exchange(kAmp1, 80, kStatus).Body.size(), TDeviceStatus::Size);
    QVERIFY(!silent.waitForReadyRead(0));
    QCOMPARE(silent.bytesAvailable(), 0);
    QCOMPARE(silent.state(), QAbstractSocket::ConnectedState);
}

void TestAmpSim::statusOnlyFaultsLeaveCommandsAlone() {
    TAmpFaults f;
    f.DropConnection = true;
    f.StatusOnly = true;
    Amp1().SetFaults(f);
    QCOMPARE(Exchange(kAmp1, 80, "/lock_on").Codes, QList<int>{200});
    QCOMPARE(Exchange(kAmp1, 80, kStatus).Bytes, QByteArray());
}

void TestAmpSim::stoppedAmplifierRefusesAndComesBack() {
    TAmpFaults f;
    f.NeverAnswer = true;
    Amp1().SetFaults(f);
    QTcpSocket open;
    open.connectToHost(kAmp1, 80);
    QVERIFY(open.waitForConnected(3000));
    open.write("GET /zyl.zyl HTTP/1.0\r\n\r\n");
    QTRY_COMPARE_WITH_TIMEOUT(Amp1().RequestCount(), 1, 3000);
    Amp1().SetFaults(TAmpFaults());

    QVERIFY(FRack->SetAnswering(0, false));
    QVERIFY(!FRack->Answering(0));
    QVERIFY(open.state() == QAbstractSocket::UnconnectedState || open.waitForDisconnected(3000));
    const TExchange refused = Exchange(kAmp1, 80, kStatus);
    QVERIFY(!refused.Connected);
    QCOMPARE(refused.Error, QAbstractSocket::ConnectionRefusedError);
    QCOMPARE(Exchange(kAmp2, 80, kStatus).Body.size(), TDeviceStatus::Size);

    QVERIFY(FRack->SetAnswering(0, true));
    QVERIFY(FRack->Answering(0));
    QCOMPARE(Exchange(kAmp1, 80, kStatus).Body.size(), TDeviceStatus::Size);
}

void TestAmpSim::startFailsWhenAnAddressCannotBeServed() {
    QTcpServer taken;
    QVERIFY(taken.listen(QHostAddress(QStringLiteral("127.0.10.20")), 80));
    TAmpRack rack;
    rack.Add(TAmpConfig::At(QStringLiteral("127.0.10.21")));
    rack.Add(TAmpConfig::At(QStringLiteral("127.0.10.20")));
    QVERIFY(!rack.Start());
    QVERIFY2(rack.ErrorString().contains(QLatin1String("127.0.10.20")), qPrintable(rack.ErrorString()));
    QVERIFY(!rack.Running());
    // Nothing of the failed start keeps listening.
    QVERIFY(!Exchange(QStringLiteral("127.0.10.21"), 80, kStatus).Connected);

    TAmpRack outside;
    outside.Add(TAmpConfig::At(QStringLiteral("192.168.1.20")));
    QVERIFY(!outside.Start());
    QVERIFY(outside.ErrorString().contains(QLatin1String("127.0.0.0/8")));
}

void TestAmpSim::numberedShortNames_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("number");
    QTest::addColumn<int>("count");
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("one amplifier keeps the name") << "stage" << 1 << 1 << QByteArray("STAGE");
    QTest::newRow("cut to fit the number") << "STAGE" << 2 << 3 << QByteArray("STAG2");
    QTest::newRow("two digits") << "STAGE" << 10 << 12 << QByteArray("STA10");
    QTest::newRow("short name padded") << "AMP" << 1 << 2 << QByteArray("AMP1 ");
    QTest::newRow("other characters become spaces") << "a-b" << 3 << 4 << QByteArray("A B3 ");
}

void TestAmpSim::numberedShortNames() {
    QFETCH(QString, name);
    QFETCH(int, number);
    QFETCH(int, count);
    QFETCH(QByteArray, expected);
    QCOMPARE(NumberedShortName(name, number, count), expected);
}

void TestAmpSim::argumentsAreChecked_data() {
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<QString>("error");
    QTest::newRow("address outside loopback")
        << QStringList{"192.168.1.20"} << false << "outside 127.0.0.0/8";
    QTest::newRow("loopback next to one outside")
        << QStringList{"127.0.10.1", "10.0.0.1"} << false << "outside 127.0.0.0/8";
    QTest::newRow("host name") << QStringList{"localhost"} << false << "a.b.c.d";
    QTest::newRow("port 0") << QStringList{"127.0.10.1:0"} << false << "port";
    QTest::newRow("same address twice") << QStringList{"127.0.10.1", "127.0.10.1:80"} << false << "twice";
    QTest::newRow("no address") << QStringList{"--log"} << false << "no address";
    QTest::newRow("unknown model") << QStringList{"--model", "KV-50", "127.0.10.1"} << false << "KV-50";
    QTest::newRow("fault C") << QStringList{"--fault", "C", "127.0.10.1"} << false << "A or B";
    QTest::newRow("time scale 0") << QStringList{"--time-scale=0", "127.0.10.1"} << false << "above 0";
    QTest::newRow("unknown option") << QStringList{"--rack", "x", "127.0.10.1"} << false << "--rack";
    QTest::newRow("missing value") << QStringList{"127.0.10.1", "--name"} << false << "needs a value";
    QTest::newRow("all options")
        << QStringList{"--model", "KV-20",        "--group=front", "--name", "x",          "--fault",
                       "b",       "--time-scale", "2.5",           "--log",  "127.0.10.1", "127.0.10.2:8080"}
        << true << QString();
}

void TestAmpSim::argumentsAreChecked() {
    QFETCH(QStringList, arguments);
    QFETCH(bool, valid);
    QFETCH(QString, error);
    const TAmpSimOptions options = ParseAmpSimArguments(QStringList{QStringLiteral("ampsim")} + arguments);
    QCOMPARE(options.Action == TAmpSimOptions::EAction::Run, valid);
    QVERIFY2(options.Error.contains(error), qPrintable(options.Error));
    if (!valid)
        return;
    QVERIFY(options.Log);
    QCOMPARE(options.Amps.size(), 2);
    const TAmpConfig& second = options.Amps[1];
    QCOMPARE(second.Address, QStringLiteral("127.0.10.2"));
    QCOMPARE(second.Port, quint16(8080));
    QCOMPARE(second.State.Model, QByteArray("KV-20"));
    QCOMPARE(second.State.GroupName, QByteArray("FRONT"));
    QCOMPARE(second.State.DeviceName, QByteArray("X2   "));
    QVERIFY(second.State.ChannelOkA);
    QVERIFY(!second.State.ChannelOkB);
    QCOMPARE(second.TimeScale, 2.5);
    QVERIFY(options.Amps[0].State.SerialNumber != second.State.SerialNumber);
}

void TestAmpSim::programExitStatus_data() {
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("output");
    // The refused addresses are data only: the program checks them before opening any socket.
    QTest::newRow("address outside loopback") << QStringList{"192.168.1.20"} << 2 << "127.0.0.0/8";
    QTest::newRow("help") << QStringList{"--help"} << 0 << "NAME1";
    QTest::newRow("address in use") << QStringList{"127.0.10.51"} << 1 << "127.0.10.51";
}

void TestAmpSim::programExitStatus() {
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QString, output);
    QTcpServer taken;
    QVERIFY(taken.listen(QHostAddress(QStringLiteral("127.0.10.51")), 80));
    QProcess program;
    program.start(QStringLiteral(AMPSIM_PROGRAM), arguments);
    QVERIFY(program.waitForFinished(10000));
    QCOMPARE(program.exitStatus(), QProcess::NormalExit);
    QCOMPARE(program.exitCode(), exitCode);
    const QString text =
        QString::fromLocal8Bit(program.readAllStandardOutput() + program.readAllStandardError());
    QVERIFY2(text.contains(output), qPrintable(text));
}

void TestAmpSim::programLogsEachRequestAndEndsCleanly() {
    QProcess program;
    program.start(QStringLiteral(AMPSIM_PROGRAM),
                  {"--log", "--name", "stage", "--model", "KV-40", "127.0.10.60", "127.0.10.61:8080"});
    QVERIFY(program.waitForStarted(5000));
    QByteArray err;
    QTRY_VERIFY_WITH_TIMEOUT((err += program.readAllStandardError()).count('\n') >= 2, 10000);

    QCOMPARE(Exchange(QStringLiteral("127.0.10.60"), 80, "/name=AB C ").Codes, QList<int>{200});
    const TExchange status = Exchange(QStringLiteral("127.0.10.61"), 8080, kStatus);
    QCOMPARE(StatusOf(status).PD_DeviceName.Bytes(), QByteArray("STAG2"));
    QCOMPARE(StatusOf(status).PD_Model.Bytes(), QByteArray("KV-40"));

    QByteArray out;
    QTRY_VERIFY_WITH_TIMEOUT((out += program.readAllStandardOutput()).count('\n') >= 2, 5000);
    QCOMPARE(out, QByteArray("127.0.10.60 /name=AB C \n127.0.10.61:8080 /zyl.zyl\n"));

    program.terminate();
    QVERIFY(program.waitForFinished(5000));
    QCOMPARE(program.exitStatus(), QProcess::NormalExit);
    QCOMPARE(program.exitCode(), 0);
}

QTEST_MAIN(TestAmpSim)
#include "tst_AmpSim.moc"
