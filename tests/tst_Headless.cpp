// fadelink-headless run as a program against simulated amplifiers on 127.0.13.x:80.
#include "model/LoadSave.h"
#include "support/ModelFixture.h"
#include "tools/ampsim/AmpRack.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

namespace {
const QString kProgram = QStringLiteral(FADELINK_BUILD_DIR "/app/fadelink-headless");

QByteArray ReadAll(const QString& name) {
    QFile f(name);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}
} // namespace

class TestHeadless : public QObject {
    Q_OBJECT
private slots:
    void runsAProjectAndSavesItUnchanged();
    void reportsAnAmplifierThatStopsAnswering();
    void loadErrorExitsWithTheMessage();
    void usageErrorsAndVersion();
    void commandLineConventions_data();
    void commandLineConventions();
};

void TestHeadless::runsAProjectAndSavesItUnchanged() {
    TAmpRack rack;
    TAmpSim& front = rack.Add(TAmpConfig::At("127.0.13.1"));
    TAmpConfig kv20 = TAmpConfig::At("127.0.13.2");
    kv20.State.Model = "KV-20";
    TAmpSim& side = rack.Add(kv20);
    QVERIFY2(rack.Start(), qPrintable(rack.ErrorString()));

    QTemporaryDir dir;
    const QString project = dir.filePath("show.pac");
    {
        TModelFixture f;
        f.Registry->SetVolume(-6);
        TGroup* main = f.AddGroup("MAIN", "Main & PA");
        main->SetVolume_A(-10);
        main->SetVolume_B(-12.5);
        main->SetSensitivity_A(-1);
        main->SetSensitivity_B(-2);
        main->SetLimiter_A(150);
        main->SetLimiter_B(120);
        new TDevice(main, "127.0.13.1", "Front 'L'", "FRL01", false, true);
        TGroup* side = f.AddGroup("SIDE", "Side");
        side->SetVolume_A(-20);
        side->SetLimiter_A(160); // above the KV-20's maximum
        side->Mute = true;
        new TDevice(side, "127.0.13.2", "Side", "SID01");
        SaveProject(*f.Registry, project, nullptr);
    }

    QProcess run;
    run.start(kProgram, {project, "--for", "3", "--save", dir.filePath("out.pac")});
    QVERIFY(run.waitForFinished(20000));
    QCOMPARE(run.exitStatus(), QProcess::NormalExit);
    QCOMPARE(run.exitCode(), 0);
    const QString out = QString::fromUtf8(run.readAllStandardOutput());
    QVERIFY2(out.contains(QRegularExpression(R"(^\S+ MAIN FRL01 127\.0\.13\.1 online$)",
                                             QRegularExpression::MultilineOption)),
             qPrintable(out));
    QVERIFY2(out.contains(QRegularExpression(R"(^\S+ SIDE SID01 127\.0\.13\.2 online$)",
                                             QRegularExpression::MultilineOption)),
             qPrintable(out));

    const TAmpState f = front.State();
    QCOMPARE(f.DeviceName, QByteArray("FRL01"));
    QCOMPARE(f.GroupName, QByteArray("MAIN "));
    QCOMPARE(int(f.Settings[0]), LevelCode(-16)); // with the global offset
    QCOMPARE(int(f.Settings[1]), LevelCode(-18.5));
    QCOMPARE(int(f.Settings[2]), LevelCode(-1));
    QCOMPARE(int(f.Settings[3]), LevelCode(-2));
    QCOMPARE(int(f.Settings[4]), 150);
    QCOMPARE(int(f.Settings[5]), 120);
    QVERIFY(!f.MuteA);
    QVERIFY(f.MuteB);
    const TAmpState s = side.State();
    QCOMPARE(s.GroupName, QByteArray("SIDE "));
    QVERIFY(s.MuteA && s.MuteB); // the group mute
    QVERIFY(int(s.Settings[4]) <= 160);
    // A channel loaded muted is never sent an unmute.
    QVERIFY(!front.RequestPaths().contains("/mute_b_off.html"));
    QVERIFY(!side.RequestPaths().contains("/mute_a_off.html"));

    QCOMPARE(ReadAll(dir.filePath("out.pac")), ReadAll(project));
}

void TestHeadless::reportsAnAmplifierThatStopsAnswering() {
    TAmpRack rack;
    rack.Add(TAmpConfig::At("127.0.13.20"));
    QVERIFY2(rack.Start(), qPrintable(rack.ErrorString()));
    QTemporaryDir dir;
    const QString project = dir.filePath("one.pac");
    {
        TModelFixture f;
        new TDevice(f.AddGroup("MAIN"), "127.0.13.20", "Amp", "AMP01");
        SaveProject(*f.Registry, project, nullptr);
    }
    QProcess run;
    run.start(kProgram, {project, "--for", "60"});
    QString out;
    auto lines = [&](const QString& word) { // state lines of the amplifier with this word so far
        out += QString::fromUtf8(run.readAllStandardOutput());
        return out.count(" 127.0.13.20 " + word + "\n");
    };
    QTRY_COMPARE_WITH_TIMEOUT(lines("online"), 1, 10000);
    QVERIFY(rack.SetAnswering(0, false)); // its web server stops; its address still answers
    QTRY_COMPARE_WITH_TIMEOUT(lines("noanswer"), 1, 5000);
    QVERIFY(rack.SetAnswering(0, true));
    QTRY_COMPARE_WITH_TIMEOUT(lines("online"), 2, 5000);
    QCOMPARE(lines("offline"), 0);
    run.terminate();
    QVERIFY(run.waitForFinished(10000));
}

void TestHeadless::loadErrorExitsWithTheMessage() {
    QTemporaryDir dir;
    const QString project = dir.filePath("bad.pac");
    QFile f(project);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write("<Groups Mute='maybe' Volume='0'>\r\n</Groups>\r\n");
    f.close();
    QProcess run;
    run.start(kProgram, {project, "--for", "1"});
    QVERIFY(run.waitForFinished(20000));
    QCOMPARE(run.exitCode(), 1);
    QCOMPARE(QString::fromUtf8(run.readAllStandardError()).trimmed(),
             QStringLiteral("String->Boolean conversion error! 'maybe' is not a valid boolean value!"));
}

void TestHeadless::usageErrorsAndVersion() {
    QProcess run;
    run.start(kProgram, {"--version"});
    QVERIFY(run.waitForFinished(10000));
    QCOMPARE(run.exitCode(), 0);
    QVERIFY(run.readAllStandardOutput().contains("4.0"));
    run.start(kProgram, {});
    QVERIFY(run.waitForFinished(10000));
    QCOMPARE(run.exitCode(), 2);
    run.start(kProgram, {"a.pac", "--for", "soon"});
    QVERIFY(run.waitForFinished(10000));
    QCOMPARE(run.exitCode(), 2);
}

// Help and version on standard output with status 0; a usage error (2) or a project that cannot
// be read (1) on standard error, with nothing on standard output.
void TestHeadless::commandLineConventions_data() {
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("expected"); // found in stdout with status 0, else in stderr

    QTest::newRow("--help") << QStringList{"--help"} << 0 << "Exit status: 0 ok";
    QTest::newRow("-h") << QStringList{"-h"} << 0 << "--save <OUT.pac>";
    QTest::newRow("--help-all") << QStringList{"--help-all"} << 0 << "PROJECT.pac";
    QTest::newRow("--version") << QStringList{"--version"} << 0 << "fadelink-headless 4.0";
    QTest::newRow("unknown option") << QStringList{"--loud", "a.pac"} << 2
                                    << "fadelink-headless: Unknown option";
    QTest::newRow("two projects") << QStringList{"a.pac", "b.pac"} << 2 << "exactly one project file";
    QTest::newRow("negative run time") << QStringList{"a.pac", "--for", "-1"} << 2 << "--for takes";
    QTest::newRow("missing project") << QStringList{"/nonexistent/show.pac", "--for", "0"} << 1
                                     << "cannot read the project file '/nonexistent/show.pac'";
    QTest::newRow("a folder as project")
        << QStringList{"/", "--for", "0"} << 1 << "cannot read the project file '/'";
}

void TestHeadless::commandLineConventions() {
    QFETCH(QStringList, arguments);
    QFETCH(int, status);
    QFETCH(QString, expected);
    QProcess run;
    run.start(kProgram, arguments);
    QVERIFY(run.waitForFinished(10000));
    QCOMPARE(run.exitStatus(), QProcess::NormalExit);
    QCOMPARE(run.exitCode(), status);
    const QString out = QString::fromUtf8(run.readAllStandardOutput());
    const QString err = QString::fromUtf8(run.readAllStandardError());
    if (status == 0) {
        QVERIFY2(out.contains(expected), qPrintable(out));
        QVERIFY2(err.isEmpty(), qPrintable(err));
    } else {
        QVERIFY2(err.contains(expected), qPrintable(err));
        QVERIFY2(out.isEmpty(), qPrintable(out));
    }
}

QTEST_GUILESS_MAIN(TestHeadless)
#include "tst_Headless.moc"
