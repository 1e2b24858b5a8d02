// Opening hostile project files: the peak memory and the time of a load, each case in a process
// of its own so that one case's peak never hides another's. No device is created (poll threads
// off) and nothing touches the network.
//
//   bench_ProjectFile                 writes every case's file, loads each in a child, one table
//   bench_ProjectFile --load FILE     loads one file, one line (what the table runs)
#include "device/LoopbackGuard.h"
#include "device/ThreadCommUnit.h"
#include "model/Errors.h"
#include "model/GroupsUnit.h"
#include "model/LoadSave.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <cstdio>
#include <functional>
#include <map>
#include <memory>

namespace {
constexpr qsizetype kMiB = 1024 * 1024;

QByteArray GroupElement(int i) {
    return "<Group LongName='Group " + QByteArray::number(i) + "' ShortName='G" + QByteArray::number(i) +
           "' Volume_A='-20' Volume_B='-20' Sensitivity_A='0' Sensitivity_B='0' Limiter_A='100' "
           "Limiter_B='100' Volume_Lock='False' Sensitivity_Lock='False' Limiter_Lock='False' "
           "Mute='False'><Devices></Devices></Group>\r\n";
}

// The hostile files, by name: what a load of each must survive.
const std::map<QByteArray, std::function<QByteArray()>>& Cases() {
    static const std::map<QByteArray, std::function<QByteArray()>> cases{
        {"empty-attributes",
         [] { // one tag of 64 MiB of a=''
             const QByteArray head = "<Groups Mute='0' Volume='0'><Group";
             const QByteArray tail = "></Groups>";
             return head + QByteArray(" a=''").repeated(int((64 * kMiB - head.size() - tail.size()) / 5)) +
                    tail;
         }},
        {"80000-groups",
         [] {
             QByteArray text = "<Groups Mute='False' Volume='0'>\r\n";
             for (int i = 0; i < 80'000; ++i)
                 text += GroupElement(i);
             return text + "</Groups>\r\n";
         }},
        {"long-names",
         [] { // every name of a group and a device 8 MiB long
             const QByteArray name(8 * kMiB, 'n');
             return "<Groups Mute='0' Volume='0'>" + GroupElement(0).replace("Group 0", name) + "</Groups>";
         }},
    };
    return cases;
}

// The process's resident high-water mark (VmHWM: unlike the rusage figure, it starts afresh
// with the program, not with the process that started it).
long PeakKiB() {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').first().toLong();
    return -1;
}

// Loads the file and prints: peak MiB before the load, peak MiB after it, load ms, close ms,
// groups, error.
int LoadOnce(const QString& fileName) {
    const long baseline = PeakKiB();
    auto registry = std::make_unique<TGroups>();
    QString error;
    QElapsedTimer timer;
    timer.start();
    try {
        LoadProject(*registry, fileName, nullptr);
    } catch (const EFadelinkError& e) {
        error = e.Message.mid(e.Message.lastIndexOf(QLatin1Char('/')) + 1).left(48);
    }
    const qint64 loadMs = timer.elapsed();
    const long peak = PeakKiB();
    const int groups = registry->GroupCount();
    timer.restart();
    registry.reset();
    const qint64 closeMs = timer.elapsed();
    std::printf(" %9.1f %8.1f %8lld %8lld %7d  %s\n", baseline / 1024.0, peak / 1024.0,
                static_cast<long long>(loadMs), static_cast<long long>(closeMs), groups, qPrintable(error));
    return 0;
}
} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    SetLoopbackOnly(true);
    TSocketThread::SetPollThreadsEnabled(false);
    const QStringList args = app.arguments();
    const qsizetype at = args.indexOf(QStringLiteral("--load"));
    if (at >= 0 && at + 1 < args.size())
        return LoadOnce(args.at(at + 1));

    QTemporaryDir dir;
    std::printf("%-18s %8s %9s %8s %8s %8s %7s  %s\n", "case", "file MiB", "base MiB", "peak MiB", "load ms",
                "close ms", "groups", "error");
    for (const auto& entry : Cases()) {
        const QString fileName = dir.filePath(QString::fromLatin1(entry.first) + QStringLiteral(".pac"));
        qsizetype size = 0;
        {
            const QByteArray text = entry.second();
            size = text.size();
            QFile file(fileName);
            if (!file.open(QIODevice::WriteOnly) || file.write(text) != size)
                return 2;
        }
        std::printf("%-18s %8.1f", entry.first.constData(), double(size) / kMiB);
        std::fflush(stdout);
        QProcess child;
        child.setProcessChannelMode(QProcess::ForwardedChannels);
        child.start(app.applicationFilePath(), {QStringLiteral("--load"), fileName});
        if (!child.waitForFinished(-1) || child.exitCode() != 0)
            std::fprintf(stderr, "case %s failed\n", entry.first.constData());
        QFile::remove(fileName);
    }
    return 0;
}
