// Saves that fail half-way: on a read-only file system, on a full file system. Each raises
// "Cannot create file <name>" and leaves the previous project file byte for byte as it was, with
// nothing else left beside it. In a folder nobody may write to, a writable file is written directly.
#include "model/Errors.h"
#include "model/LoadSave.h"
#include "support/ModelFixture.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QtTest>

#include <cerrno>
#include <cstring>
#include <linux/capability.h>
#include <memory>
#include <sys/mount.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {
const QString kProba = QStringLiteral(FADELINK_SOURCE_DIR "/tests/data/proba.pac");
// The full file system's size: the previous file fits, the new project does not.
constexpr int kTinyFileSystemBytes = 16 * 1024;

QByteArray ReadAll(const QString& fileName) {
    QFile file(fileName);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// While it lives, this thread (capabilities belong to a thread) meets permissions as any user does.
struct TPermissionsApply {
    explicit TPermissionsApply(bool apply) {
        if (!apply || syscall(SYS_capget, &Header, Saved) != 0)
            return;
        __user_cap_data_struct reduced[2]{Saved[0], Saved[1]};
        for (const unsigned cap : {CAP_DAC_OVERRIDE, CAP_DAC_READ_SEARCH, CAP_FOWNER})
            reduced[cap / 32].effective &= ~(1u << (cap % 32));
        Active = syscall(SYS_capset, &Header, reduced) == 0;
    }
    ~TPermissionsApply() {
        if (Active)
            syscall(SYS_capset, &Header, Saved);
    }
    __user_cap_header_struct Header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct Saved[2]{};
    bool Active = false;
};

QString SaveError(TGroups& registry, const QString& fileName) {
    try {
        SaveProject(registry, fileName, nullptr);
    } catch (const EFileError& e) {
        return e.Message;
    }
    return QString();
}
} // namespace

class TestDurability : public QObject {
    Q_OBJECT
private slots:
    void cleanup();
    void failedSaveKeepsThePreviousFile_data();
    void failedSaveKeepsThePreviousFile();

private:
    // Mounts a tmpfs of `options` on `dir`; false when this process may not mount.
    bool Mount(const QString& dir, const QByteArray& options);

    std::unique_ptr<QTemporaryDir> FDir;
    QString FMountPoint;
};

bool TestDurability::Mount(const QString& dir, const QByteArray& options) {
    if (::mount("tmpfs", QFile::encodeName(dir).constData(), "tmpfs", 0, options.constData()) != 0)
        return false;
    FMountPoint = dir;
    return true;
}

void TestDurability::cleanup() {
    if (!FMountPoint.isEmpty()) {
        const QByteArray path = QFile::encodeName(FMountPoint);
        if (::umount2(path.constData(), MNT_DETACH) != 0)
            qWarning("could not unmount %s: %s", path.constData(), std::strerror(errno));
        FMountPoint.clear();
    }
    if (FDir) {
        // Writable again, so that the temporary directory can be removed.
        QFile::setPermissions(FDir->filePath(QStringLiteral("project")),
                              QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        FDir.reset();
    }
}

void TestDurability::failedSaveKeepsThePreviousFile_data() {
    QTest::addColumn<QString>("kind");
    QTest::newRow("directory without write permission: the file is written directly")
        << QStringLiteral("permissions");
    QTest::newRow("directory on a read-only file system") << QStringLiteral("read-only");
    QTest::newRow("file system full half-way through the write") << QStringLiteral("full");
}

void TestDurability::failedSaveKeepsThePreviousFile() {
    QFETCH(QString, kind);
    const bool permissions = kind == QLatin1String("permissions");
    if (!permissions && geteuid() != 0)
        QSKIP("mounting a file system for the test needs root");

    FDir = std::make_unique<QTemporaryDir>();
    QVERIFY(FDir->isValid());
    const QString folder = FDir->filePath(QStringLiteral("project"));
    QVERIFY(QDir().mkdir(folder));
    if (kind != QLatin1String("permissions") &&
        !Mount(folder, "size=" + QByteArray::number(kTinyFileSystemBytes) + ",mode=0755"))
        QSKIP(qPrintable(QStringLiteral("cannot mount a tmpfs here: %1")
                             .arg(QString::fromLocal8Bit(std::strerror(errno)))));

    const QString name = folder + QStringLiteral("/show.pac");
    QVERIFY(QFile::copy(kProba, name));
    const QByteArray previous = ReadAll(kProba);
    QCOMPARE(ReadAll(name), previous);

    if (kind == QLatin1String("permissions"))
        QVERIFY(QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::ExeOwner));
    else if (kind == QLatin1String("read-only"))
        QVERIFY2(::mount(nullptr, QFile::encodeName(folder).constData(), nullptr, MS_REMOUNT | MS_RDONLY,
                         nullptr) == 0,
                 std::strerror(errno));

    // A project large enough that its text cannot fit in what the file system has left.
    TModelFixture f;
    for (int i = 0; i < 200; ++i)
        new TDevice(f.AddGroup(QStringLiteral("G%1").arg(i % 4)), QStringLiteral("127.0.40.%1").arg(i % 250),
                    QStringLiteral("Amplifier with a long descriptive name %1").arg(i),
                    QStringLiteral("A%1").arg(i));

    const TPermissionsApply asAnyUser(permissions);
    QVERIFY(!permissions || !QFile(folder + QStringLiteral("/new.pac")).open(QIODevice::WriteOnly));
    const QString message = SaveError(*f.Registry, name);
    if (permissions) { // the user may write the file: it is written directly
        QCOMPARE(message, QString());
        QVERIFY(ReadAll(name).contains("ShortName='G3'"));
        QCOMPARE(QDir(folder).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("show.pac")});
        return;
    }
    QCOMPARE(message, QStringLiteral("Cannot create file ") + name);
    QCOMPARE(DisplayMessage(message), QStringLiteral("Cannot create file ") + name + QLatin1Char('.'));
    QVERIFY2(ReadAll(name) == previous, "the previous project file must stay byte for byte as it was");
    QCOMPARE(QDir(folder).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("show.pac")});

    // The same project saves in full once there is room: the failure was the file system's.
    if (kind == QLatin1String("full")) {
        const QString roomy = FDir->filePath(QStringLiteral("roomy.pac"));
        QCOMPARE(SaveError(*f.Registry, roomy), QString());
        QVERIFY(QFileInfo(roomy).size() > kTinyFileSystemBytes);
    }
}

QTEST_MAIN(TestDurability)
#include "tst_Durability.moc"
