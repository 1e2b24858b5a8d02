// fadelink-headless run as a program against simulated amplifiers on 127.0.13.x:80 (.100-.149:
// the search).
#include "model/LoadSave.h"
#include "support/AmpRackFixture.h"
#include "support/ModelFixture.h"

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

// A project of group `groupShortName` with devices at 127.0.13.21 and .22, run for `seconds` with
// --save out.pac beside it; `inChild` runs in the child before the program (async-signal-safe).
struct TRun {
    QTemporaryDir Dir;
    QString Project = Dir.filePath("show.pac");
    QString Saved = Dir.filePath("out.pac");
    QProcess Process;
    QString Out;
    QString Err;
    explicit TRun(const QString& groupShortName) {
        TModelFixture f;
        TGroup* group = f.AddGroup(groupShortName, "Main");
        new TDevice(group, "127.0.13.21", "Amp", "AMP");
        new TDevice(group, "127.0.13.22", "Amp", "AMP");
        SaveProject(*f.Registry, Project, nullptr);
    }
    void Start(const QString& seconds, std::function<void()> inChild = {}) {
        if (inChild)
            Process.setChildProcessModifier(std::move(inChild));
        Process.start(kProgram, {Project, "--save", Saved, "--for", seconds});
    }
    bool Finish(int status) {
        const bool finished = Process.waitForFinished(30000);
        Out = QString::fromUtf8(Process.readAllStandardOutput());
        Err = QString::fromUtf8(Process.readAllStandardError());
        return finished && Process.exitStatus() == QProcess::NormalExit && Process.exitCode() == status;
    }
};

// Holds the next opening of `file` until Release: a write lease, which the kernel breaks only once
// its holder lets go. Opened() tells when an opening waits for it.
struct TOpenGate {
    explicit TOpenGate(const QString& file) : Fd(::open(QFile::encodeName(file).constData(), O_RDONLY)) {
        std::signal(SIGIO, SIG_IGN); // the notice of the break; Opened() is polled instead
        Held = ::fcntl(Fd, F_SETLEASE, F_WRLCK) == 0;
    }
    ~TOpenGate() { ::close(Fd); }
    bool Opened() const { return ::fcntl(Fd, F_GETLEASE) != F_WRLCK; }
    void Release() const { ::fcntl(Fd, F_SETLEASE, F_UNLCK); }
    int Fd;
    bool Held;
};

enum class TChild { AsIs, ReaderGone, FileSizeLimit, SingleTaskUser };

// In the child, before the program: a user of its own, so that no other process counts against
// the single task it is allowed. Async-signal-safe.
void BecomeSingleTaskUser() {
    const uid_t user = 61913;
    const rlimit one{1, 1};
    if (::setgroups(0, nullptr) != 0 || ::setgid(user) != 0 || ::setuid(user) != 0 ||
        ::setrlimit(RLIMIT_NPROC, &one) != 0)
        ::_exit(99);
}
} // namespace
Q_DECLARE_METATYPE(TChild)

class TestHeadless : public QObject {
    Q_OBJECT
private slots:
    void runsAProjectAndSavesItUnchanged();
    void reportsAnAmplifierThatStopsAnswering();
    void loadErrorExitsWithTheMessage();
    void usageErrorsAndVersion();
    void commandLineConventions_data();
    void commandLineConventions();
    void quitSignalsEndInAnOrderlySave_data();
    void quitSignalsEndInAnOrderlySave();
    void hostileSurroundings_data();
    void hostileSurroundings();
    void searchPrintsOneLinePerAmplifier_data();
    void searchPrintsOneLinePerAmplifier();
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
        side->SetMute(true);
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
    rack.Add(TAmpConfig::At("127.0.13.21"));
    rack.Add(TAmpConfig::At("127.0.13.22"));
    QVERIFY2(rack.Start(), qPrintable(rack.ErrorString()));
    TRun run("MAIN");
    TOpenGate gate(run.Project);
    if (!whileLoading)
        gate.Release();
    else if (!gate.Held)
        QSKIP("this file system gives no write lease (fs.leases-enable, or not a local file system)");
    run.Start("600");
    QByteArray out;
    if (whileLoading)
        QTRY_VERIFY_WITH_TIMEOUT(gate.Opened(), 20000);
    else
        QTRY_VERIFY2_WITH_TIMEOUT((out += run.Process.readAllStandardOutput()).contains("online"),
                                  out.constData(), 20000);
    ::kill(pid_t(run.Process.processId()), signal);
    gate.Release();
    QVERIFY2(run.Finish(0), qPrintable(run.Err));
    QCOMPARE(ReadAll(run.Saved), ReadAll(run.Project));
}

// Each run ends with its status and the message (once) or the line expected, never by a signal.
void TestHeadless::hostileSurroundings_data() {
    QTest::addColumn<TChild>("child");
    QTest::addColumn<QString>("group");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("message"); // on standard error, exactly once
    QTest::addColumn<QString>("line");    // on standard output
    QTest::newRow("reader of the state lines gone")
        << TChild::ReaderGone << "MAIN" << 0 << "the state lines cannot be written (" << QString();
    QTest::newRow("file-size limit on the save")
        << TChild::FileSizeLimit << "MAIN" << 1 << "Cannot create file " << QString();
    QTest::newRow("control characters in the group")
        << TChild::AsIs << "\x1b[2J\\\a" << 0 << QString() << " \\x1b[2J\\\\\\x07 AMP 127.0.13.21 online\n";
    QTest::newRow("poll threads refused, for real")
        << TChild::SingleTaskUser << "MAIN" << 0 << QString()
        << " MAIN AMP 127.0.13.22 offline - Not polled: the system refused a new thread "
           "(Resource temporarily unavailable); trying again every 2 s\n";
}

void TestHeadless::hostileSurroundings() {
    QFETCH(TChild, child);
    QFETCH(QString, group);
    QFETCH(int, status);
    QFETCH(QString, message);
    QFETCH(QString, line);
    TAmpRack rack;
    rack.Add(TAmpConfig::At("127.0.13.21"));
    rack.Add(TAmpConfig::At("127.0.13.22"));
    QVERIFY2(rack.Start(), qPrintable(rack.ErrorString()));
    TRun run(group);
    int ends[2] = {-1, -1};
    std::function<void()> inChild;
    if (child == TChild::ReaderGone) {
        QCOMPARE(::pipe(ends), 0);
        ::close(ends[0]);
        inChild = [end = ends[1]] { ::dup2(end, STDOUT_FILENO); };
    } else if (child == TChild::FileSizeLimit) {
        inChild = [] {
            const rlimit limit{256, 256}; // the project is larger
            ::setrlimit(RLIMIT_FSIZE, &limit);
        };
    } else if (child == TChild::SingleTaskUser) {
        if (::geteuid() != 0)
            QSKIP("needs root to run the program as another user");
        QVERIFY(QFile::setPermissions(run.Dir.path(), QFileDevice::Permissions(0x7777)));
        QVERIFY(QFile::setPermissions(run.Project, QFileDevice::ReadOwner | QFileDevice::ReadOther));
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("ASAN_OPTIONS", "detect_leaks=0"); // its check at exit needs a thread
        run.Process.setProcessEnvironment(environment);
        inChild = BecomeSingleTaskUser;
    }
    run.Start("2", inChild);
    const bool ended = run.Finish(status);
    ::close(ends[1]);
    QVERIFY2(ended, qPrintable(run.Err));
    if (!message.isEmpty())
        QVERIFY2(run.Err.count(message) == 1, qPrintable(run.Err));
    QVERIFY2(run.Out.contains(line), qPrintable(run.Out));
    for (const QChar c : run.Out)
        QVERIFY2(c == QLatin1Char('\n') || c.category() != QChar::Other_Control, qPrintable(run.Out));
    if (status == 0)
        QCOMPARE(ReadAll(run.Saved), ReadAll(run.Project));
}

// --search: one line per amplifier on standard output, the end on standard error; a range it
// refuses is a usage error, a thread it cannot have a failure.
void TestHeadless::searchPrintsOneLinePerAmplifier_data() {
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<bool>("singleTask");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("out"); // exactly
    QTest::addColumn<QString>("err"); // contained

    const QString first = "127.0.13.101 XKV-30 [STAGE] [AMP01]\n";
    const QString second = "127.0.13.103 XKV-20 [SIDE ] [\\x1b[2J]\n";
    QTest::newRow("amplifiers among silent addresses")
        << QStringList{"--search", "127.0.13.100-127.0.13.104"} << false << 0 << first + second
        << "Search finished: 2 amplifiers found";
    QTest::newRow("last below first") << QStringList{"--search", "127.0.13.104-100"} << false << 2 << ""
                                      << "may not be below the first";
    QTest::newRow("with a project") << QStringList{"a.pac", "--search", "127.0.13.100-101"} << false << 2
                                    << ""
                                    << "--search takes no project file";
    QTest::newRow("search thread refused, for real")
        << QStringList{"--search", "127.0.13.100-101"} << true << 1 << ""
        << "The search could not start: the system refused a new thread (Resource temporarily unavailable)";
}

void TestHeadless::searchPrintsOneLinePerAmplifier() {
    QFETCH(QStringList, arguments);
    QFETCH(bool, singleTask);
    QFETCH(int, status);
    QFETCH(QString, out);
    QFETCH(QString, err);
    const auto rack = StartRack(QStringLiteral("127.0.13."),
                                {{101, "KV-30", "STAGE", "AMP01"}, {103, "KV-20", "SIDE ", "\x1b[2J"}});
    QProcess run;
    if (singleTask) {
        if (::geteuid() != 0)
            QSKIP("needs root to run the program as another user");
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("ASAN_OPTIONS", "detect_leaks=0"); // its check at exit needs a thread
        run.setProcessEnvironment(environment);
        run.setChildProcessModifier(BecomeSingleTaskUser);
    }
    run.start(kProgram, arguments);
    QVERIFY(run.waitForFinished(30000));
    const QString stdErr = QString::fromUtf8(run.readAllStandardError());
    QCOMPARE(run.exitStatus(), QProcess::NormalExit);
    QCOMPARE(run.exitCode(), status);
    QCOMPARE(QString::fromUtf8(run.readAllStandardOutput()), out);
    QVERIFY2(stdErr.contains(err), qPrintable(stdErr));
}

QTEST_GUILESS_MAIN(TestHeadless)
#include "tst_Headless.moc"
