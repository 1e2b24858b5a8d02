// Project files: the writer's exact text, the loader's tolerance and errors, round trips, and
// that unreadable, unwritable or damaged files never cost the operator a project.
#include "model/Errors.h"
#include "model/LoadSave.h"
#include "model/Utils.h"
#include "support/ModelFixture.h"

#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace {
struct TBounds : IFormBounds {
    QRect R{1, 2, 3, 4};
    QRect FormBounds() const override { return R; }
    void SetFormBounds(const QRect& r) override { R = r; }
};

// The whole model as one line of text, so that a table can state what a load gives.
QString Describe(const TGroups& registry) {
    QStringList parts{QString("M%1 V%2").arg(int(registry.Mute())).arg(FloatToStr(registry.Volume()))};
    for (const TGroup* g : registry.Groups()) {
        QStringList levels;
        for (double x : {g->Volume_A(), g->Volume_B(), g->Sensitivity_A(), g->Sensitivity_B(), g->Limiter_A(),
                         g->Limiter_B()})
            levels << FloatToStr(x);
        parts << QString("G %1|%2 %3 L%4%5%6 M%7")
                     .arg(g->LongName(), g->ShortName(), levels.join(' '))
                     .arg(int(g->Volume_Lock()))
                     .arg(int(g->Sensitivity_Lock()))
                     .arg(int(g->Limiter_Lock()))
                     .arg(int(g->Mute()));
        for (const TDevice* d : g->Devices())
            parts << QString("D %1|%2|%3 %4%5")
                         .arg(d->LongName(), d->ShortName(), d->IPAddress())
                         .arg(int(d->Mute_CHA()))
                         .arg(int(d->Mute_CHB()));
    }
    return parts.join("; ");
}

QByteArray ReadAll(const QString& fileName) {
    QFile file(fileName);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The error text of a load, or empty text when it succeeded.
QString LoadError(TGroups& registry, const QString& fileName, IFormBounds* bounds) {
    try {
        LoadProject(registry, fileName, bounds);
    } catch (const EFadelinkError& e) {
        return e.Message;
    }
    return QString();
}

const QString kProba = QStringLiteral(FADELINK_SOURCE_DIR "/tests/data/proba.pac");
const QString kDamaged = QStringLiteral("%1 is damaged: it ends before </Groups>");

void WriteFile(const QString& fileName, const QByteArray& bytes) {
    QFile file(fileName);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size());
}
const QString kProbaModel =
    "M0 V0; G Proba Group|PROBA -95.5 -95.5 -95.5 -95.5 10 10 L100 M0; D Amplifier 01|AMP01|192.168.1.234 00";
const QRect kProbaBounds(190, 105, 1475, 901);
const QRect kUntouched(1, 2, 3, 4);

QByteArray GroupTag(const QByteArray& shortName, const QByteArray& volumeLock = "True",
                    const QByteArray& volumeA = "-95.5", const QByteArray& longName = "Proba Group") {
    return "<Group LongName='" + longName + "' ShortName='" + shortName + "' Volume_A='" + volumeA +
           "' Volume_B='-95.5' Sensitivity_A='-95.5' Sensitivity_B='-95.5' Limiter_A='10' Limiter_B='10' "
           "Volume_Lock='" +
           volumeLock + "' Sensitivity_Lock='False' Limiter_Lock='False' Mute='False'>";
}
QByteArray DeviceTag(const QByteArray& shortName = "AMP01", const QByteArray& muteB = "Mute_CHB='False'") {
    return "<Device LongName='Amplifier 01' ShortName='" + shortName +
           "' IPAddress='192.168.1.234' Mute_CHA='False' " + muteB + "></Device>";
}
const QByteArray kGroupsTag = "<Groups Mute='False' Volume='0'>";
const QByteArray kApplication =
    "<Application><Form Left='190' Top='105' Width='1475' Height='901'></Form></Application>";
const QByteArray kProbaOneLine =
    kGroupsTag + GroupTag("PROBA") + "<Devices>" + DeviceTag() + "</Devices></Group></Groups>" + kApplication;
} // namespace

class TestLoadSave : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { TSocketThread::SetPollThreadsEnabled(false); }
    void writesTheExampleByteForByte();
    void emptyProjectWritesTheFrameOnly_data();
    void emptyProjectWritesTheFrameOnly();
    void levelsWriteShortestFormAndReadBack_data();
    void levelsWriteShortestFormAndReadBack();
    void roundTripKeepsEveryFieldAndMarkupCharacters();
    void loaderToleranceAndErrors_data();
    void loaderToleranceAndErrors();
    void fileThatCannotBeReadRaises_data();
    void fileThatCannotBeReadRaises();
    void failedSaveKeepsThePreviousFile();
    void damagedFilesLoadOrRaiseAKnownError();
    void everyCutBeforeTheEndOfGroupsIsRefused();
    void saveGoesToRegularFilesOnly_data();
    void saveGoesToRegularFilesOnly();
    void saveRemovesItsOwnStaleTemporaries();
};

void TestLoadSave::writesTheExampleByteForByte() {
    TModelFixture f;
    TGroup* g = f.AddGroup("PROBA", "Proba Group");
    g->SetVolume_Lock(true);
    new TDevice(g, "192.168.1.234", "Amplifier 01", "AMP01");
    TBounds bounds;
    bounds.R = kProbaBounds;
    QTemporaryDir dir;
    SaveProject(*f.Registry, dir.filePath("p.pac"), &bounds);
    QCOMPARE(ReadAll(dir.filePath("p.pac")), ReadAll(kProba));
}

void TestLoadSave::emptyProjectWritesTheFrameOnly_data() {
    QTest::addColumn<bool>("mute");
    QTest::addColumn<bool>("withBounds");
    QTest::addColumn<QByteArray>("expected");
    const QList<QByteArray> lines = ReadAll(kProba).split('\n');
    QByteArray frame = lines[0] + '\n' + lines[1] + '\n';
    for (int i = 23; i < 31; ++i)
        frame += lines[i] + '\n';
    QTest::newRow("mute off, no window: default bounds") << false << false << frame;
    frame.replace("'False'", "'True'");
    frame.replace("'190'", "'-20'")
        .replace("'105'", "'30'")
        .replace("'1475'", "'800'")
        .replace("'901'", "'600'");
    QTest::newRow("mute on, window bounds") << true << true << frame;
}

void TestLoadSave::emptyProjectWritesTheFrameOnly() {
    QFETCH(bool, mute);
    QFETCH(bool, withBounds);
    QFETCH(QByteArray, expected);
    TModelFixture f;
    f.Registry->SetMute(mute);
    TBounds bounds;
    bounds.R = QRect(-20, 30, 800, 600);
    QTemporaryDir dir;
    SaveProject(*f.Registry, dir.filePath("e.pac"), withBounds ? &bounds : nullptr);
    QCOMPARE(ReadAll(dir.filePath("e.pac")), expected);
}

void TestLoadSave::levelsWriteShortestFormAndReadBack_data() {
    QTest::addColumn<double>("level");
    QTest::addColumn<QString>("text");
    QTest::newRow("whole") << -32.0 << "-32";
    QTest::newRow("half") << -47.5 << "-47.5";
    QTest::newRow("15 digits") << -47.7486910994764 << "-47.7486910994764";
    QTest::newRow("small") << 1e-5 << "1E-5";
    QTest::newRow("small negative") << -1.5e-7 << "-1.5E-7";
    QTest::newRow("large") << 1e15 << "1E15";
}

void TestLoadSave::levelsWriteShortestFormAndReadBack() {
    QFETCH(double, level);
    QFETCH(QString, text);
    TModelFixture f;
    f.Registry->SetVolume(level);
    f.AddGroup("G")->SetLimiter_B(level);
    QTemporaryDir dir;
    SaveProject(*f.Registry, dir.filePath("l.pac"), nullptr);
    const QByteArray file = ReadAll(dir.filePath("l.pac"));
    QVERIFY(file.contains("        Volume='" + text.toLatin1() + "'>\r\n"));
    QVERIFY(file.contains("         Limiter_B='" + text.toLatin1() + "'\r\n"));
    TGroups loaded;
    LoadProject(loaded, dir.filePath("l.pac"), nullptr);
    QCOMPARE(loaded.Volume(), level);
    QCOMPARE(loaded.Group(0)->Limiter_B(), level);
}

void TestLoadSave::roundTripKeepsEveryFieldAndMarkupCharacters() {
    TModelFixture f;
    f.Registry->SetMute(true);
    f.Registry->SetVolume(-6);
    TGroup* a = f.AddGroup("A&<>'", "Stage & Hall's <main> é€");
    a->SetVolume_A(-47.7486910994764);
    a->SetSensitivity_B(-12.5);
    a->SetLimiter_A(77);
    a->SetSensitivity_Lock(true);
    a->SetMute(true);
    new TDevice(a, "127.0.40.1", "O'Neil & <Co> \"x\"", "AMP01", true, false);
    new TDevice(a, "10.0.0.&amp;", "Ω plain", "AMP02", false, true);
    f.AddGroup("EMPTY", "No devices")->SetLimiter_Lock(true);
    TBounds bounds;
    bounds.R = QRect(-20, 30, 800, 600);
    QTemporaryDir dir;
    SaveProject(*f.Registry, dir.filePath("r.pac"), &bounds);

    TModelFixture g;
    TBounds loadedBounds;
    LoadProject(*g.Registry, dir.filePath("r.pac"), &loadedBounds);
    // Ω is not in the code page of project files: it is written as "?".
    QCOMPARE(Describe(*g.Registry), Describe(*f.Registry).replace(QChar(0x3A9), '?'));
    QCOMPARE(loadedBounds.R, bounds.R);
    SaveProject(*g.Registry, dir.filePath("again.pac"), &loadedBounds);
    QCOMPARE(ReadAll(dir.filePath("again.pac")), ReadAll(dir.filePath("r.pac")));
}

void TestLoadSave::loaderToleranceAndErrors_data() {
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QString>("error");
    QTest::addColumn<QString>("model");
    QTest::addColumn<QRect>("bounds");
    const auto row = [](const char* title, const QByteArray& text, const QString& error, const QString& model,
                        const QRect& bounds = kUntouched) {
        QTest::newRow(title) << text << error << model << bounds;
    };
    const QString noBool = "String->Boolean conversion error! '%1' is not a valid boolean value!";
    const QByteArray proba = ReadAll(kProba);
    const QByteArray groups = proba.left(proba.indexOf("<Application>"));
    const QByteArray devices = "<Devices>" + DeviceTag() + "</Devices></Group></Groups>";
    const QString unlocked = QString(kProbaModel).replace("L100", "L000");
    const QString groupOnly = unlocked.left(unlocked.indexOf("; D "));

    row("written file", proba, "", kProbaModel, kProbaBounds);
    row("Application first", proba.mid(groups.size()) + groups, "", kProbaModel, kProbaBounds);
    row("attributes reversed, on any line",
        "<Groups Volume='0'\n Mute='False'><Group Mute='False' Limiter_Lock='False' Sensitivity_Lock='False' "
        "Volume_Lock='True' Limiter_B='10' Limiter_A='10' Sensitivity_B='-95.5' Sensitivity_A='-95.5' "
        "Volume_B='-95.5' Volume_A='-95.5' ShortName='PROBA' LongName='Proba Group'><Devices><Device "
        "Mute_CHB='False' Mute_CHA='False' IPAddress='192.168.1.234' ShortName='AMP01' LongName='Amplifier "
        "01'/>"
        "</Devices></Group></Groups><Application><Form Height='901' Width='1475' Top='105' Left='190'/>",
        "", kProbaModel, kProbaBounds);
    row("no Application", groups, "", kProbaModel);
    row("other content ignored",
        "<?xml version='1.0'?><!-- a --><P x='1'>text<Groups Extra='1' " + kGroupsTag.mid(8) + "<Note/>" +
            GroupTag("PROBA") + devices + "</Groups></P>" + kApplication,
        "", kProbaModel, kProbaBounds);
    row("empty Form, then Groups",
        "<Application><Form Left='1' Top='2' Width='3' Height='4'/></Application>" + groups, "", kProbaModel,
        QRect(1, 2, 3, 4));
    row("empty Groups, then Application", "<Groups Mute='1' Volume='-6'/>" + kApplication, "", "M1 V-6",
        kProbaBounds);
    row("Devices before any Group",
        kGroupsTag + "<Devices>" + DeviceTag("X") + "</Devices>" + GroupTag("PROBA") + devices, "",
        kProbaModel);
    row("lock true", kGroupsTag + GroupTag("PROBA", "true") + devices, "", kProbaModel);
    row("lock 1", kGroupsTag + GroupTag("PROBA", "1") + devices, "", kProbaModel);
    row("lock 0", kGroupsTag + GroupTag("PROBA", "0") + devices, "", unlocked);
    row("lock -1", kGroupsTag + GroupTag("PROBA", "-1") + devices, "", unlocked);
    row("lock yes", kGroupsTag + GroupTag("PROBA", "yes") + devices, noBool.arg("yes"), groupOnly);
    row("no Mute_CHB: device stays",
        kGroupsTag + GroupTag("PROBA") + "<Devices>" + DeviceTag("AMP01", "") + DeviceTag("AMP02"),
        noBool.arg(""), kProbaModel);
    row("two groups, one ShortName",
        kGroupsTag + GroupTag("PROBA", "0", "-10", "First") + "<Devices>" + DeviceTag() +
            "</Devices></Group>" + GroupTag("PRoba  ", "1", "-20") + "<Devices>" + DeviceTag("AMP02") +
            "</Devices></Group></Groups>",
        "",
        "M0 V0; G First|PROBA -20 -95.5 -95.5 -95.5 10 10 L100 M0; D Amplifier 01|AMP01|192.168.1.234 00; "
        "D Amplifier 01|AMP02|192.168.1.234 00");
    row("Volume -6", "<Groups Mute='0' Volume='-6'></Groups>", "", "M0 V-6");
    row("Volume missing", "<Groups Mute='0'>", "'' is not a valid floating point value", "M0 V0");
    row("Mute after Volume", "<Groups Volume='-3' Mute='maybe'>", noBool.arg("maybe"), "M0 V-3");
    row("level malformed", kGroupsTag + GroupTag("PROBA", "1", "-1,5") + devices,
        "'-1,5' is not a valid floating point value", groupOnly);
    row("Form: Top converted first", "<Application><Form Left='x' Top='1.5' Width='' Height='7'>",
        "'1.5' is not a valid integer value", "M0 V0");
    row("escaped names",
        kGroupsTag + GroupTag("PROBA", "1", "-95.5", "O&apos;Neil &amp; &lt;Co&gt; &amp;amp;") + devices, "",
        QString(kProbaModel).replace("Proba Group", "O'Neil & <Co> &amp;"));
    // A file counts only when its Groups element is closed; what a damaged one held stays.
    row("empty file", "", kDamaged, "M0 V0");
    row("cut after a device", kGroupsTag + GroupTag("PROBA") + "<Devices>" + DeviceTag(), kDamaged,
        kProbaModel);
    row("Devices left open before </Groups>",
        kGroupsTag + GroupTag("PROBA") + "<Devices>" + DeviceTag() + "</Groups>", "", kProbaModel);
}

void TestLoadSave::loaderToleranceAndErrors() {
    QFETCH(QByteArray, text);
    QFETCH(QString, error);
    QFETCH(QString, model);
    QFETCH(QRect, bounds);
    QTemporaryDir dir;
    QFile file(dir.filePath("t.pac"));
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(text) == text.size());
    file.close();
    error.replace("%1", file.fileName());
    TModelFixture f;
    TBounds window;
    QCOMPARE(LoadError(*f.Registry, file.fileName(), &window), error);
    QCOMPARE(Describe(*f.Registry), model);
    QCOMPARE(window.R, bounds);
    // Without a window the same values are read and checked.
    TModelFixture g;
    QCOMPARE(LoadError(*g.Registry, file.fileName(), nullptr), error);
    QCOMPARE(Describe(*g.Registry), model);
}

void TestLoadSave::fileThatCannotBeReadRaises_data() {
    QTest::addColumn<QString>("kind");
    QTest::addColumn<bool>("raises");
    QTest::newRow("does not exist: empty project") << "missing" << false;
    QTest::newRow("below a missing folder: empty project") << "missing/missing" << false;
    QTest::newRow("directory") << "directory" << true;
    QTest::newRow("pipe") << "fifo" << true;
    QTest::newRow("read error") << "/proc/self/mem" << true; // reading at offset 0 fails with EIO
    QTest::newRow("no permission") << "chmod" << true;
}

void TestLoadSave::fileThatCannotBeReadRaises() {
    QFETCH(QString, kind);
    QFETCH(bool, raises);
    QTemporaryDir dir;
    const QString name = kind.startsWith('/') ? kind : dir.filePath(kind);
    if (kind == "directory") {
        QVERIFY(QDir().mkdir(name));
    } else if (kind == "fifo") {
        QCOMPARE(mkfifo(QFile::encodeName(name).constData(), 0600), 0);
    } else if (kind == "chmod") {
        if (geteuid() == 0)
            QSKIP("running as root, who may read a file without read permission");
        QFile::copy(kProba, name);
        QFile::setPermissions(name, QFileDevice::WriteOwner);
    }
    TModelFixture f;
    TBounds window;
    QCOMPARE(LoadError(*f.Registry, name, &window), raises ? "Cannot open file " + name : QString());
    QCOMPARE(Describe(*f.Registry), QStringLiteral("M0 V0"));
    QCOMPARE(window.R, kUntouched);
}

void TestLoadSave::failedSaveKeepsThePreviousFile() {
    TModelFixture f;
    for (int i = 0; i < 40; ++i)
        new TDevice(f.AddGroup("G"), "127.0.40.1", "A long device name to make the file large", "AMP01");
    QTemporaryDir dir;
    const QString missingFolder = dir.filePath("no/such.pac");
    QVERIFY_THROWS_EXCEPTION(EFileError, SaveProject(*f.Registry, missingFolder, nullptr));
    QVERIFY_THROWS_EXCEPTION(EFileError, SaveProject(*f.Registry, dir.path(), nullptr));

    // A write that fails half-way (here: the file size limit) leaves the old file as it was.
    const QString name = dir.filePath("keep.pac");
    QFile::copy(kProba, name);
    rlimit old{};
    getrlimit(RLIMIT_FSIZE, &old);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = old;
    small.rlim_cur = 4096;
    setrlimit(RLIMIT_FSIZE, &small);
    QString message;
    try {
        SaveProject(*f.Registry, name, nullptr);
    } catch (const EFileError& e) {
        message = e.Message;
    }
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);
    QCOMPARE(message, "Cannot create file " + name);
    QCOMPARE(ReadAll(name), ReadAll(kProba));
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{"keep.pac"});
}

void TestLoadSave::damagedFilesLoadOrRaiseAKnownError() {
    const QRegularExpression known("^('.*' is not a valid (floating point|integer) value|String->Boolean "
                                   "conversion error! '.*' is not a "
                                   "valid boolean value!|.*/d.pac is damaged: it ends before </Groups>)$",
                                   QRegularExpression::DotMatchesEverythingOption);
    const QByteArray text = ReadAll(kProba) + QByteArray(kProbaOneLine).replace("PROBA", "OTHER");
    QRandomGenerator random(7);
    QTemporaryDir dir;
    for (int i = 0; i < 300; ++i) {
        QByteArray bytes = text;
        for (int k = 0, n = 1 + random.bounded(6); k < n; ++k) {
            const int at = random.bounded(int(bytes.size()));
            if (random.bounded(2))
                bytes[at] = char(random.bounded(256));
            else
                bytes.remove(at, random.bounded(40));
        }
        QFile file(dir.filePath("d.pac"));
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size());
        file.close();
        TModelFixture f;
        const QString error = LoadError(*f.Registry, file.fileName(), nullptr);
        QVERIFY2(error.isEmpty() || known.match(error).hasMatch(), qPrintable(error));
    }
}

// Every cut of a written file that loses any of its Groups element is refused; every later cut
// loads it whole (a cut Form may still stop at its integer error).
void TestLoadSave::everyCutBeforeTheEndOfGroupsIsRefused() {
    const QByteArray text = ReadAll(kProba);
    const qsizetype groupsRead = text.indexOf("</Groups>") + qsizetype(qstrlen("</Groups"));
    const QRegularExpression formError("^'.*' is not a valid integer value$");
    QTemporaryDir dir;
    const QString name = dir.filePath("cut.pac");
    for (qsizetype size = 0; size <= text.size(); ++size) {
        WriteFile(name, text.left(size));
        TModelFixture f;
        const QString error = LoadError(*f.Registry, name, nullptr);
        if (size < groupsRead)
            QVERIFY2(!error.isEmpty(),
                     qPrintable(QString("a cut at %1 bytes loaded without an error").arg(size)));
        else
            QVERIFY2(error.isEmpty() || formError.match(error).hasMatch(), qPrintable(error));
        if (size >= groupsRead)
            QCOMPARE(Describe(*f.Registry), kProbaModel);
    }
}

void TestLoadSave::saveGoesToRegularFilesOnly_data() {
    QTest::addColumn<QString>("kind");
    QTest::addColumn<bool>("written");
    QTest::newRow("pipe") << "fifo" << false;
    QTest::newRow("device") << "device" << false;
    QTest::newRow("link to a regular file: the file is written, the link stays") << "link" << true;
}

void TestLoadSave::saveGoesToRegularFilesOnly() {
    QFETCH(QString, kind);
    QFETCH(bool, written);
    QTemporaryDir dir;
    const QString name = dir.filePath("show.pac");
    const QByteArray path = QFile::encodeName(name);
    if (kind == "fifo")
        QCOMPARE(mkfifo(path.constData(), 0600), 0);
    if (kind == "device" && mknod(path.constData(), S_IFCHR | 0600, makedev(1, 3)) != 0)
        QSKIP("making a device node needs root");
    if (kind == "link")
        QVERIFY(QFile::copy(kProba, dir.filePath("target")) && QFile::link(dir.filePath("target"), name));
    struct stat before {};
    struct stat after {};
    lstat(path.constData(), &before);
    TModelFixture f;
    f.AddGroup("NEW");
    QString error;
    try {
        SaveProject(*f.Registry, name, nullptr);
    } catch (const EFileError& e) {
        error = e.Message;
    }
    QCOMPARE(error, written ? QString() : "Cannot create file " + name);
    lstat(path.constData(), &after);
    QVERIFY(after.st_mode == before.st_mode && after.st_ino == before.st_ino); // the very same node
    QVERIFY(!written || ReadAll(name).contains("ShortName='NEW'"));
}

// What a save killed before its rename leaves (the project's name, a dot, six letters of both
// cases, holding the start of a project) goes with the next save; nothing else does. The save
// goes through a dangling link: the file is made where it points.
void TestLoadSave::saveRemovesItsOwnStaleTemporaries() {
    QTemporaryDir dir;
    const QByteArray project = ReadAll(kProba);
    const QStringList kept{"show.pac.backup", "show.pac.AbC1Ef", "other.pac.QxTrpa", "show.pac.Readme"};
    WriteFile(dir.filePath("show.pac.QxTrpa"), project);
    WriteFile(dir.filePath("show.pac.ZzYyXx"), QByteArray()); // killed before it wrote anything
    for (const QString& name : kept)
        WriteFile(dir.filePath(name), name == "show.pac.Readme" ? "not a project" : project);
    QVERIFY(QFile::link(dir.filePath("show.pac"), dir.filePath("link.pac")));
    TModelFixture f;
    SaveProject(*f.Registry, dir.filePath("link.pac"), nullptr); // through a link: beside its target
    QStringList expected = kept + QStringList{"show.pac", "link.pac"};
    expected.sort();
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::System, QDir::Name), expected);
}

QTEST_MAIN(TestLoadSave)
#include "tst_LoadSave.moc"
