// The device search on its own thread: what it reports for what answers, how it stops, the ranges
// fadelink-headless accepts and the names its threads carry. Simulated amplifiers listen on
// 127.0.24.x only.
#include "device/DeviceSearch.h"
#include "device/ThreadName.h"
#include "support/AmpRackFixture.h"
#include "support/ModelFixture.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QSignalSpy>
#include <QtTest>

#include <thread>

namespace {
const QString kBlock = QStringLiteral("127.0.24.");
constexpr int kWaitMs = 20000;

QString At(int host) {
    return kBlock + QString::number(host);
}

QStringList Range(int first, int last) {
    return SearchAddresses({127, 0, 24}, first, last);
}

// The names of this process's threads.
QStringList ThreadNames() {
    QStringList names;
    const QDir tasks(QStringLiteral("/proc/self/task"));
    for (const QString& task : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile comm(tasks.filePath(task) + QStringLiteral("/comm"));
        if (comm.open(QIODevice::ReadOnly))
            names << QString::fromUtf8(comm.readAll()).trimmed();
    }
    return names;
}

} // namespace

class TestDeviceSearch : public QObject {
    Q_OBJECT
private slots:
    void reportsWhatAnswersInRangeOrder_data();
    void reportsWhatAnswersInRangeOrder();
    void stopAbandonsTheAddressUnderWay_data();
    void stopAbandonsTheAddressUnderWay();
    void rangeTexts_data();
    void rangeTexts();
    void threadsAreNamedAfterTheirAddress();
};

void TestDeviceSearch::reportsWhatAnswersInRangeOrder_data() {
    QTest::addColumn<QList<TAmp>>("amps");
    QTest::addColumn<QStringList>("addresses");
    QTest::addColumn<QStringList>("found");

    const QStringList range = Range(1, 5);
    QTest::newRow("amplifiers between silent addresses")
        << QList<TAmp>{{2, "KV-20", "AB   ", "AMP02"}, {4, "KV-40", "STAGE", "X\x1b"}} << range
        << QStringList{At(2) + " XKV-20 [AB   ] [AMP02]", At(4) + " XKV-40 [STAGE] [X\x1b]"};
    QTest::newRow("garbage instead of HTTP")
        << QList<TAmp>{{3, "KV-30", "A", "B", -1, {}, false, true}} << range << QStringList();
    QTest::newRow("a model the program does not know") << QList<TAmp>{{3, "KV-99"}} << range << QStringList();
    // The loopback guard refuses it without sending anything: the probe fails.
    QTest::newRow("outside loopback") << QList<TAmp>{{3}} << QStringList{"10.0.0.7", At(3)}
                                      << QStringList{At(3) + " XKV-30 [STAGE] [AMP01]"};
}

void TestDeviceSearch::reportsWhatAnswersInRangeOrder() {
    QFETCH(QList<TAmp>, amps);
    QFETCH(QStringList, addresses);
    QFETCH(QStringList, found);
    const auto rack = StartRack(kBlock, amps);
    TDeviceSearch search;
    QStringList probed;
    QStringList lines;
    connect(&search, &TDeviceSearch::Probing, [&](const QString& address) { probed << address; });
    connect(&search, &TDeviceSearch::Found, [&](const TFoundDevice& device) { lines << device.Line(); });
    QSignalSpy finished(&search, &TDeviceSearch::Finished);
    QVERIFY(search.Start(addresses));
    QVERIFY(search.Running());
    QVERIFY2(!search.Start(addresses), "a second walk does not start while one runs");
    QVERIFY(finished.wait(kWaitMs));
    QCOMPARE(probed, addresses);
    QCOMPARE(lines, found);
    QCOMPARE(finished.first(), (QVariantList{int(found.size()), false}));
    QVERIFY(!search.Running());
    QCOMPARE(RequestCounts(*rack), QList<int>(amps.size(), 1));
}

// The walk is held at .1, which never answers; .2 must never be asked. Stopping reports the end;
// destroying the search reports nothing more.
void TestDeviceSearch::stopAbandonsTheAddressUnderWay_data() {
    QTest::addColumn<bool>("destroy");
    QTest::newRow("stopped") << false;
    QTest::newRow("destroyed") << true;
}

void TestDeviceSearch::stopAbandonsTheAddressUnderWay() {
    QFETCH(bool, destroy);
    TAmp silent{1};
    silent.NeverAnswer = true;
    const auto rack = StartRack(kBlock, {silent, {2}});
    auto search = std::make_unique<TDeviceSearch>();
    QSignalSpy finished(search.get(), &TDeviceSearch::Finished);
    QSignalSpy found(search.get(), &TDeviceSearch::Found);
    QVERIFY(search->Start(Range(1, 2)));
    QTRY_COMPARE_WITH_TIMEOUT(rack->Amp(0).RequestCount(), 1, kWaitMs);

    QElapsedTimer timer;
    timer.start();
    if (destroy) {
        search.reset(); // waits for the thread
    } else {
        search->Stop();
        QVERIFY(finished.wait(kWaitMs));
        QCOMPARE(finished.first(), (QVariantList{0, true}));
    }
    qInfo("the walk ended %lld ms after the request to stop", timer.elapsed());
    QVERIFY2(timer.elapsed() < 5000, "the request under way is abandoned, not waited for");
    QCoreApplication::processEvents();
    QCOMPARE(finished.size(), destroy ? 0 : 1);
    QCOMPARE(found.size(), 0);
    QCOMPARE(RequestCounts(*rack), (QList<int>{1, 0}));
}

void TestDeviceSearch::rangeTexts_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("addresses"); // empty: refused
    QTest::addColumn<QString>("error");
    QTest::newRow("both ends whole") << "127.0.14.1-127.0.14.3"
                                     << QStringList{"127.0.14.1", "127.0.14.2", "127.0.14.3"} << "";
    QTest::newRow("last number alone, leading zeros")
        << "127.0.14.09-010" << QStringList{"127.0.14.9", "127.0.14.10"} << "";
    QTest::newRow("other first three numbers")
        << "127.0.14.1-127.0.15.1" << QStringList() << "share their first three";
    QTest::newRow("last below first") << "127.0.14.9-3" << QStringList() << "may not be below";
    for (const char* text : {"127.0.14.1", "127.0.14.1-256", "amp.local-3", "127.0.14.1 - 3"})
        QTest::newRow(text) << text << QStringList() << "a range is FIRST-LAST";
}

void TestDeviceSearch::rangeTexts() {
    QFETCH(QString, text);
    QFETCH(QStringList, addresses);
    QFETCH(QString, error);
    QString why;
    const std::optional<QStringList> parsed = ParseAddressRange(text, &why);
    QCOMPARE(parsed.value_or(QStringList()), addresses);
    QCOMPARE(parsed.has_value(), error.isEmpty());
    QVERIFY2(why.contains(error), qPrintable(why));
}

// As `top -H` and gdb show them: a poll thread carries its device's address, the search the
// address it probes.
void TestDeviceSearch::threadsAreNamedAfterTheirAddress() {
    TAmp silent{10};
    silent.NeverAnswer = true;
    const auto rack = StartRack(kBlock, {silent, {11}});
    TModelFixture model;
    TSocketThread::SetPollThreadsEnabled(true);
    new TDevice(model.AddGroup("MAIN"), At(11), "Amp", "AMP");
    TDeviceSearch search;
    QVERIFY(search.Start({At(10)}));
    QTRY_VERIFY_WITH_TIMEOUT(ThreadNames().contains(At(11)), kWaitMs);
    QTRY_VERIFY_WITH_TIMEOUT(ThreadNames().contains("s:" + At(10)), kWaitMs);

    // The system keeps 15 bytes, and never half a character.
    QString cut;
    std::thread([&cut] {
        NameThisThread(QStringLiteral("dns:amp-xxxxxxü.test"));
        cut = ThisThreadName();
    }).join();
    QCOMPARE(cut, QStringLiteral("dns:amp-xxxxxx"));
}

QTEST_MAIN(TestDeviceSearch)
#include "tst_DeviceSearch.moc"
