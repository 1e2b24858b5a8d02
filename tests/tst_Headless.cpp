// fadelink-headless run as a program against simulated amplifiers on 127.0.13.x:80.
#include "model/LoadSave.h"
#include "support/ModelFixture.h"
#include "tools/ampsim/AmpRack.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <fcntl.h>
#include <grp.h>
#include <sys/resource.h>
#include <unistd.h>

namespace {
// The program under test. scripts/test --tsan names its ThreadSanitizer build here: this test
// itself cannot run under ThreadSanitizer, since Qt starts children with vfork semantics
// (clone with CLONE_VM), which the runtime takes for a fork and then stops following the
// synchronisation of the starting thread.
const QString kProgram = qEnvironmentVariable("FADELINK_HEADLESS_PROGRAM",
                                              QStringLiteral(FADELINK_BUILD_DIR "/app/fadelink-headless"));

QByteArray ReadAll(const QString& name) {
    QFile f(name);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Starts fadelink-headless; `inChild` runs in the child just before the program starts
// (async-signal-safe calls only).
void StartProgram(QProcess& process, const QStringList& arguments, std::function<void()> inChild = {}) {
    if (inChild)
        process.setChildProcessModifier(std::move(inChild));
    process.start(kProgram, arguments);
}

// Saves a project of one group with a device at each of `addresses`.
QString SaveProjectWith(const QTemporaryDir& dir, const QString& groupShortName,
                        const QStringList& addresses) {
    const QString project = dir.filePath("show.pac");
    TModelFixture f;
    TGroup* group = f.AddGroup(groupShortName, "Main");
    for (const QString& address : addresses)
        new TDevice(group, address, "Amp", "AMP");
    SaveProject(*f.Registry, project, nullptr);
    return project;
}

// Runs fadelink-headless on `project` for `seconds`, saving to out.pac beside it.
struct TRun {
    QProcess Process;
    QString Saved;
    QString Out;
    QString Err;
    void Start(const QString& project, const QString& seconds, const std::function<void()>& inChild = {}) {
        Saved = QFileInfo(project).dir().filePath("out.pac");
        QStringList arguments{project, "--save", Saved};
        if (!seconds.isEmpty())
            arguments << "--for" << seconds;
        StartProgram(Process, arguments, inChild);
    }
    bool Finish() {
        const bool finished = Process.waitForFinished(30000);
        Out = QString::fromUtf8(Process.readAllStandardOutput());
        Err = QString::fromUtf8(Process.readAllStandardError());
        return finished;
    }
    bool EndedNormally(int status) const {
        return Process.exitStatus() == QProcess::NormalExit && Process.exitCode() == status;
    }
};

// Makes the next opening of a file wait until Release: a write lease, which the kernel breaks
// only after its holder lets go. Opened() tells when a reader is waiting for it.
class TOpenGate {
public:
    explicit TOpenGate(const QString& file) {
        FSavedSigio = std::signal(SIGIO, SIG_IGN); // the break notice; the test polls instead
        FFd = ::open(QFile::encodeName(file).constData(), O_RDONLY | O_CLOEXEC);
        FHeld = FFd >= 0 && ::fcntl(FFd, F_SETLEASE, F_WRLCK) == 0;
    }
    ~TOpenGate() {
        Release();
        std::signal(SIGIO, FSavedSigio);
    }
    bool Held() const { return FHeld; }
    bool Opened() const { return ::fcntl(FFd, F_GETLEASE) != F_WRLCK; }
    void Release() {
        if (FFd >= 0) {
            ::fcntl(FFd, F_SETLEASE, F_UNLCK);
            ::close(FFd);
            FFd = -1;
        }
    }

private:
    int FFd = -1;
    bool FHeld = false;
    void (*FSavedSigio)(int) = SIG_DFL;
};
} // namespace

class TestHeadless : public QObject {
    Q_OBJECT
private slots:
    void runsAProjectAndSavesItUnchanged();
    void loadErrorExitsWithTheMessage();
    void usageErrorsAndVersion();
    void commandLineConventions_data();
    void commandLineConventions();
    void quitSignalsEndInAnOrderlySave_data();
    void quitSignalsEndInAnOrderlySave();
    void logReaderGoneIsReportedOnceAndTheRunGoesOn();
    void fileSizeLimitIsASaveError();
    void controlCharactersAreEscaped();
    void refusedPollThreadsAreReportedAndTheRunGoesOn();
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
    StartProgram(run, {project, "--for", "3", "--save", dir.filePath("out.pac")});
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

void TestHeadless::loadErrorExitsWithTheMessage() {
    QTemporaryDir dir;
    const QString project = dir.filePath("bad.pac");
    QFile f(project);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write("<Groups Mute='maybe' Volume='0'>\r\n</Groups>\r\n");
    f.close();
    QProcess run;
    StartProgram(run, {project, "--for", "1"});
    QVERIFY(run.waitForFinished(20000));
    QCOMPARE(run.exitCode(), 1);
    QCOMPARE(QString::fromUtf8(run.readAllStandardError()).trimmed(),
             QStringLiteral("String->Boolean conversion error! 'maybe' is not a valid boolean value!"));
}

void TestHeadless::usageErrorsAndVersion() {
    QProcess run;
    StartProgram(run, {"--version"});
    QVERIFY(run.waitForFinished(10000));
    QCOMPARE(run.exitCode(), 0);
    QVERIFY(run.readAllStandardOutput().contains("4.0"));
    StartProgram(run, {});
    QVERIFY(run.waitForFinished(10000));
    QCOMPARE(run.exitCode(), 2);
    StartProgram(run, {"a.pac", "--for", "soon"});
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
    StartProgram(run, arguments);
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

void TestHeadless::quitSignalsEndInAnOrderlySave_data() {
    QTest::addColumn<int>("signal");
    QTest::addColumn<bool>("whileLoading");
    QTest::newRow("SIGTERM while running") << int(SIGTERM) << false;
    QTest::newRow("SIGHUP while running") << int(SIGHUP) << false;
    QTest::newRow("SIGTERM while loading") << int(SIGTERM) << true;
    QTest::newRow("SIGHUP while loading") << int(SIGHUP) << true;
}

void TestHeadless::quitSignalsEndInAnOrderlySave() {
    QFETCH(int, signal);
    QFETCH(bool, whileLoading);
    TAmpRack rack;
    rack.Add(TAmpConfig::At("127.0.13.20"));
    QVERIFY2(rack.Start(), qPrintable(rack.ErrorString()));
    QTemporaryDir dir;
    const QString project = SaveProjectWith(dir, "MAIN", {"127.0.13.20"});

    TRun run;
    if (whileLoading) {
        TOpenGate gate(project);
        QVERIFY2(gate.Held(), "a write lease on the project file");
        run.Start(project, QString());
        QTRY_VERIFY_WITH_TIMEOUT(gate.Opened(), 20000);
        ::kill(pid_t(run.Process.processId()), signal);
        gate.Release();
    } else {
        run.Start(project, QString());
        QByteArray out;
        QTRY_VERIFY2_WITH_TIMEOUT((out += run.Process.readAllStandardOutput()).contains("online"),
                                  out.constData(), 20000);
        ::kill(pid_t(run.Process.processId()), signal);
    }
    QVERIFY(run.Finish());
    QVERIFY2(run.EndedNormally(0), qPrintable(run.Err));
    QCOMPARE(ReadAll(run.Saved), ReadAll(project));
}

// Standard output is a pipe whose reader has gone: every state line fails to be written.
void TestHeadless::logReaderGoneIsReportedOnceAndTheRunGoesOn() {
    TAmpRack rack;
    rack.Add(TAmpConfig::At("127.0.13.21"));
    rack.Add(TAmpConfig::At("127.0.13.22"));
    QVERIFY2(rack.Start(), qPrintable(rack.ErrorString()));
    QTemporaryDir dir;
    const QString project = SaveProjectWith(dir, "MAIN", {"127.0.13.21", "127.0.13.22"});
    int ends[2];
    QCOMPARE(::pipe2(ends, O_CLOEXEC), 0);
    ::close(ends[0]);
    const int writeEnd = ends[1];
    TRun run;
    run.Start(project, "2", [writeEnd] { ::dup2(writeEnd, STDOUT_FILENO); });
    QVERIFY(run.Finish());
    ::close(writeEnd);
    QVERIFY2(run.EndedNormally(0), qPrintable(run.Err));
    QCOMPARE(run.Err.count(QStringLiteral("the state lines cannot be written")), 1);
    QCOMPARE(ReadAll(run.Saved), ReadAll(project));
}

void TestHeadless::fileSizeLimitIsASaveError() {
    QTemporaryDir dir;
    const QString project = SaveProjectWith(dir, "MAIN", {"127.0.13.23"});
    QVERIFY(QFileInfo(project).size() > 256);
    TRun run;
    run.Start(project, "0.3", [] {
        const rlimit limit{256, 256};
        ::setrlimit(RLIMIT_FSIZE, &limit);
    });
    QVERIFY(run.Finish());
    QVERIFY2(run.EndedNormally(1), qPrintable(run.Err));
    QVERIFY2(run.Err.contains(QStringLiteral("Cannot create file ") + run.Saved), qPrintable(run.Err));
}

void TestHeadless::controlCharactersAreEscaped() {
    TAmpRack rack;
    rack.Add(TAmpConfig::At("127.0.13.24"));
    QVERIFY2(rack.Start(), qPrintable(rack.ErrorString()));
    QTemporaryDir dir;
    const QString project = SaveProjectWith(dir, QStringLiteral("\x1b[2J\\\a"), {"127.0.13.24"});
    TRun run;
    run.Start(project, "2");
    QVERIFY(run.Finish());
    QVERIFY2(run.EndedNormally(0), qPrintable(run.Err));
    QVERIFY2(run.Out.contains(QStringLiteral(" \\x1b[2J\\\\\\x07 AMP 127.0.13.24 online\n")),
             qPrintable(run.Out));
    for (const QChar c : run.Out)
        QVERIFY2(c == QLatin1Char('\n') || c.category() != QChar::Other_Control, qPrintable(run.Out));
}

// For real: the program runs as a user allowed a single task, so no poll thread can be created.
void TestHeadless::refusedPollThreadsAreReportedAndTheRunGoesOn() {
    if (::geteuid() != 0)
        QSKIP("needs root to run the program as another user");
    QTemporaryDir dir;
    const QString project = SaveProjectWith(dir, "MAIN", {"127.0.13.25"});
    QVERIFY(QFile::setPermissions(dir.path(), QFileDevice::Permissions(0x7777)));
    QVERIFY(QFile::setPermissions(project, QFileDevice::ReadOwner | QFileDevice::ReadOther));
    TRun run;
    run.Start(project, "2.5", [] {
        // A user of its own, so that no other process counts against the limit.
        const uid_t user = 61913;
        const rlimit one{1, 1};
        if (::setgroups(0, nullptr) != 0 || ::setgid(user) != 0 || ::setuid(user) != 0 ||
            ::setrlimit(RLIMIT_NPROC, &one) != 0)
            ::_exit(99);
    });
    QVERIFY(run.Finish());
    QVERIFY2(run.EndedNormally(0), qPrintable(run.Err));
    QVERIFY2(run.Out.contains(QRegularExpression(
                 R"(^\S+ MAIN AMP 127\.0\.13\.25 offline - Not polled: the system refused a new thread )"
                 R"(\(Resource temporarily unavailable\); trying again every 2 s$)",
                 QRegularExpression::MultilineOption)),
             qPrintable(run.Out));
    QCOMPARE(ReadAll(run.Saved), ReadAll(project));
}

QTEST_GUILESS_MAIN(TestHeadless)
#include "tst_Headless.moc"
