// The programs around the control API: fadelinkctl, fadelink-headless serving the API, and the
// program's toggle; simulated amplifiers on 127.0.25.x, servers on 127.0.0.1.
#include "app/ApiControl.h"
#include "app/Fadelink2.h"
#include "support/ApiFixture.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QMessageBox>
#include <QProcess>
#include <QSettings>
#include <QStandardPaths>
#include <QTcpServer>

namespace {
const QString kCtl = QStringLiteral(FADELINK_BUILD_DIR "/tools/fadelinkctl/fadelinkctl");
const QString kHeadless = QStringLiteral(FADELINK_BUILD_DIR "/app/fadelink-headless");

QByteArray ReadFile(const QString& name) {
    QFile file(name);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}
} // namespace

class TestApiPrograms : public QObject {
    Q_OBJECT
private slots:
    void fadelinkctl_data();
    void fadelinkctl();
    void headlessServesTheApi();
    void programToggleIsRememberedAndNeverFatal();
};

void TestApiPrograms::fadelinkctl_data() {
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("output"); // in standard output (or error, on a refusal)
    const QString c = TApiFixture::Control;
    QTest::newRow("get group") << QStringList{"--token", c, "get", "group", "MAIN"} << 0 << "volume_lock off";
    QTest::newRow("get as JSON") << QStringList{"--json", "--token", c, "get", "global"} << 0
                                 << R"("volume": -1)";
    QTest::newRow("set") << QStringList{"--token", c, "set", "group", "MAIN", "volume", "-12"} << 0
                         << "volume_b -12";
    QTest::newRow("step") << QStringList{"--token", c, "step", "group", "MAIN", "volume", "-1.5"} << 0
                          << "volume_a -21.5";
    QTest::newRow("step global") << QStringList{"--token", c, "step", "global", "-2"} << 0 << "volume -3";
    QTest::newRow("mute global") << QStringList{"--token", c, "mute", "global", "on"} << 0 << "mute on";
    QTest::newRow("mute group") << QStringList{"--token", c, "mute", "group", "MAIN", "on"} << 0 << "mute on";
    QTest::newRow("mute device") << QStringList{"--token", c, "mute", "device", "127.0.25.20", "b", "on"} << 0
                                 << "wanted.mute_b on";
    QTest::newRow("monitor refused") << QStringList{"--token", TApiFixture::Monitor, "mute", "global", "on"}
                                     << 1 << "403 forbidden";
    QTest::newRow("unknown field") << QStringList{"--token", c, "set", "group", "MAIN", "loud", "1"} << 1
                                   << "unknown field";
    QTest::newRow("no such group") << QStringList{"--token", c, "get", "group", "NOPE"} << 1
                                   << "404 not_found";
    QTest::newRow("usage") << QStringList{"--token", c, "get", "amplifier"} << 2 << "get project";
    QTest::newRow("not a number") << QStringList{"--token", c, "set", "global", "volume", "loud"} << 2
                                  << "number";
    QTest::newRow("watch") << QStringList{"--token", c, "--count", "1", "watch", "meters"} << 0
                           << "meters devices.0.address 127.0.25.20";
    QTest::newRow("no server") << QStringList{"--url", "http://127.0.0.1:1", "get", "global"} << 1
                               << "127.0.0.1:1";
}

void TestApiPrograms::fadelinkctl() {
    QFETCH(QStringList, arguments);
    QFETCH(int, status);
    QFETCH(QString, output);
    TApiFixture f({"127.0.25.20"}, QTest::currentDataTag() == QLatin1String("watch"));
    f.Main->SetVolume_A(-20);
    f.Registry->SetVolume(-1);
    QProcess ctl;
    ctl.start(kCtl, QStringList{"--url", f.Url("").toString()} + arguments);
    QVERIFY(ctl.waitForStarted());
    QTRY_VERIFY_WITH_TIMEOUT(ctl.state() == QProcess::NotRunning, 20000);
    const QString out = QString::fromUtf8(ctl.readAllStandardOutput() + ctl.readAllStandardError());
    QCOMPARE(ctl.exitCode(), status);
    QVERIFY2(out.contains(output), qPrintable(out));
}

// fadelink-headless serves the API of the project it runs; a port it cannot have is reported and
// the project runs on without the API.
void TestApiPrograms::headlessServesTheApi() {
    QTemporaryDir dir;
    const QString project = dir.filePath("show.pac");
    QFile file(project);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(ReadFile(FADELINK_SOURCE_DIR "/tests/data/proba.pac").replace("192.168.1.", "127.0.25."));
    file.close();
    QTcpServer taken;
    QVERIFY(taken.listen(QHostAddress::LocalHost));
    QProcess blocked;
    blocked.start(kHeadless, QStringList{project, "--for", "1", "--api",
                                         QStringLiteral("127.0.0.1:%1").arg(taken.serverPort())});
    QVERIFY(blocked.waitForFinished(20000));
    QCOMPARE(blocked.exitCode(), 0);
    QVERIFY2(blocked.readAllStandardError().contains("running without it"), "no word of the API that failed");

    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("XDG_RUNTIME_DIR", dir.path());
    QProcess run;
    run.setProcessEnvironment(environment);
    run.start(kHeadless, QStringList{project, "--for", "30", "--api", "127.0.0.1:0"});
    QString err;
    QTRY_VERIFY_WITH_TIMEOUT((err += QString::fromUtf8(run.readAllStandardError())).contains("token in"),
                             20000);
    const QRegularExpressionMatch m =
        QRegularExpression(R"(127\.0\.0\.1:(\d+)/api/v1; token in (\S+))").match(err);
    QVERIFY2(m.hasMatch(), qPrintable(err));
    QVERIFY((QFile(m.captured(2)).permissions() &
             ~(QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser)) == 0);
    QProcess ctl;
    ctl.setProcessEnvironment(environment); // finds the generated token by itself
    ctl.start(kCtl, QStringList{"--url", "http://127.0.0.1:" + m.captured(1), "set", "group", "PROBA",
                                "volume_a", "-7"});
    QVERIFY(ctl.waitForFinished(20000));
    QCOMPARE(ctl.exitCode(), 0);
    QVERIFY(ctl.readAllStandardOutput().contains("volume_b -7")); // the project's volume lock
    run.terminate();
    QVERIFY(run.waitForFinished(20000));
    QVERIFY2(!QFile::exists(m.captured(2)), "the generated token outlived its server");
}

// The menu toggle starts and stops the API and is remembered; a server that cannot start is
// reported in a message box and left off.
void TestApiPrograms::programToggleIsRememberedAndNeverFatal() {
    QStandardPaths::setTestModeEnabled(true);
    QSettings(QStringLiteral("fadelink"), QStringLiteral("fadelink")).clear();
    TSocketThread::SetPollThreadsEnabled(false);
    TSession session;
    const auto window = std::make_unique<TForm1>(session);
    auto* control = new TApiControl(window.get(), {"--api", "127.0.0.1:0"});
    QVERIFY(control->On() && control->Toggle()->isChecked());
    QCOMPARE(window->findChild<QAction*>("ControlApiToggle"), control->Toggle());
    control->Toggle()->trigger();
    QVERIFY(!control->On() && !control->Toggle()->isChecked());
    QVERIFY(!TApiControl(window.get(), {}).On()); // remembered as off
    control->Toggle()->trigger();
    QVERIFY(TApiControl(window.get(), {}).On()); // remembered as on, with its options

    QTcpServer taken;
    QVERIFY(taken.listen(QHostAddress::LocalHost));
    QString shown;
    QTimer answer;
    QObject::connect(&answer, &QTimer::timeout, [&] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            shown = box->text();
            box->button(QMessageBox::Ok)->click();
        }
    });
    answer.start(20);
    TApiControl blocked(window.get(), {"--api", QStringLiteral("127.0.0.1:%1").arg(taken.serverPort())});
    QVERIFY2(shown.startsWith("The control API is off: The control API cannot listen"), qPrintable(shown));
    QVERIFY(!blocked.On() && !blocked.Toggle()->isChecked());
    QVERIFY(!QSettings(QStringLiteral("fadelink"), QStringLiteral("fadelink")).value("api/on").toBool());
    TSocketThread::SetPollThreadsEnabled(true);
}

QTEST_MAIN(TestApiPrograms)
#include "tst_ApiPrograms.moc"
