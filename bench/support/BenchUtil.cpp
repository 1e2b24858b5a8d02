#include "bench/support/BenchUtil.h"

#include "bench/support/ProcStats.h"

#include <QEventLoop>
#include <QFile>
#include <QSysInfo>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <cmath>

namespace BenchUtil {
std::int64_t Percentile(std::vector<std::int64_t> values, double percent) {
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const double rank = std::ceil(percent / 100.0 * double(values.size()));
    const size_t index = size_t(std::clamp(rank, 1.0, double(values.size()))) - 1;
    return values[index];
}

std::int64_t Maximum(const std::vector<std::int64_t>& values) {
    return values.empty() ? 0 : *std::max_element(values.begin(), values.end());
}

QStringList FleetAddresses(int count, int firstBlock) {
    QStringList addresses;
    for (int i = 0; i < count; ++i)
        addresses << QStringLiteral("127.0.%1.%2").arg(firstBlock + i / 250).arg(1 + i % 250);
    return addresses;
}

void RunFor(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, Qt::PreciseTimer, &loop, &QEventLoop::quit);
    loop.exec();
}

bool RunUntil(const std::function<bool()>& done, int timeoutMs) {
    if (done())
        return true;
    QEventLoop loop;
    QTimer check;
    check.setInterval(20);
    bool held = false;
    QObject::connect(&check, &QTimer::timeout, &loop, [&] {
        if (done()) {
            held = true;
            loop.quit();
        }
    });
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    check.start();
    loop.exec();
    return held || done();
}

QString MachineLine() {
    QString model;
    QFile cpuinfo(QStringLiteral("/proc/cpuinfo"));
    if (cpuinfo.open(QIODevice::ReadOnly)) {
        for (const QByteArray& line : cpuinfo.readAll().split('\n'))
            if (line.startsWith("model name")) {
                model = QString::fromLatin1(line.mid(line.indexOf(':') + 1).trimmed());
                break;
            }
    }
    return QStringLiteral("%1 processors (%2), Linux %3, load average %4")
        .arg(QThread::idealThreadCount())
        .arg(model, QSysInfo::kernelVersion())
        .arg(ProcStats::LoadAverage(), 0, 'f', 2);
}
} // namespace BenchUtil
