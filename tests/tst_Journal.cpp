// The event journal: folding of flapping, retention, damaged and unwritable files, a writer
// killed with SIGKILL, filters, alarms, the alarm command, exports and the long-term history.
// Addresses here are data only: nothing is sent anywhere.
#include "device/DeviceStatus.h"
#include "journal/AlarmHook.h"
#include "journal/History.h"
#include "journal/JournalExport.h"
#include "support/JournalFixture.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QSignalSpy>
#include <QThread>
#include <QtTest>

#include <csignal>
#include <cstdio>

namespace {
constexpr qint64 kMinuteMs = 60 * 1000;
constexpr qint64 kDayMs = 24 * 60 * kMinuteMs;
// The child that writes until it is killed, and the journal it writes.
const char* const kKilledWriterVariable = "FADELINK_TEST_KILLED_WRITER";

QString Address(int n) {
    return QStringLiteral("127.0.60.%1").arg(n);
}

// RFC 4180 records, for reading an export back.
QList<QStringList> ParseCsv(const QString& text) {
    QList<QStringList> records;
    QStringList record;
    QString field;
    bool quoted = false;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (quoted) {
            if (c == QLatin1Char('"') && i + 1 < text.size() && text[i + 1] == QLatin1Char('"')) {
                field += c;
                ++i;
            } else if (c == QLatin1Char('"')) {
                quoted = false;
            } else {
                field += c;
            }
        } else if (c == QLatin1Char('"')) {
            quoted = true;
        } else if (c == QLatin1Char(',')) {
            record.append(field);
            field.clear();
        } else if (c == QLatin1Char('\r') && i + 1 < text.size() && text[i + 1] == QLatin1Char('\n')) {
            record.append(field);
            records.append(record);
            record.clear();
            field.clear();
            ++i;
        } else {
            field += c;
        }
    }
    return records;
}

QStringList Whats(const std::vector<TJournalEntry>& entries) {
    QStringList whats;
    for (const TJournalEntry& e : entries)
        whats.append(e.What);
    return whats;
}

QStringList DamagedFiles(const QString& dir) {
    return QDir(dir).entryList({QStringLiteral("journal.sqlite.damaged-*")}, QDir::Files);
}

// The killed writer: records an entry every few milliseconds and prints "<index> <time>" once
// Record has returned, until it is killed.
int RunKilledWriter(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    TJournalOptions options;
    options.Path = qEnvironmentVariable(kKilledWriterVariable);
    TJournal journal(options);
    for (int i = 0;; ++i) {
        TJournalEntry e = TJournalFixture::Entry(QStringLiteral("entry %1").arg(i));
        e.TimeMs = SystemClockMs();
        journal.Record(e);
        std::printf("%d %lld\n", i, static_cast<long long>(e.TimeMs));
        std::fflush(stdout);
        QThread::msleep(5);
    }
}
} // namespace

class TestJournal : public QObject {
    Q_OBJECT
private slots:
    void foldsFlapping_data();
    void foldsFlapping();
    void trimsByCountAndAge_data();
    void trimsByCountAndAge();
    void damagedFileIsMovedAside_data();
    void damagedFileIsMovedAside();
    void unwritableJournalHoldsThenResumes_data();
    void unwritableJournalHoldsThenResumes();
    void entriesOlderThanASecondSurviveSigkill();
    void filters_data();
    void filters();
    void alarms_data();
    void alarms();
    void alarmsSurviveRestart();
    void alarmCommand_data();
    void alarmCommand();
    void alarmCommandEndsWithTheProgram();
    void exportQuoting_data();
    void exportQuoting();
    void historyKeepsOneSampleAMinute();
    void isoTimes_data();
    void isoTimes();
};

void TestJournal::foldsFlapping_data() {
    QTest::addColumn<int>("amplifiers");
    QTest::addColumn<qint64>("periodMs");
    QTest::addColumn<qint64>("durationMs");
    QTest::addColumn<int>("rows");
    // Each minute holds both transitions of each amplifier: one row for each.
    QTest::newRow("off-line and on-line every 2 s for a day") << 1 << qint64(2000) << kDayMs << 2 * 1440;
    QTest::newRow("three amplifiers every 5 s for an hour")
        << 3 << qint64(5000) << 60 * kMinuteMs << 3 * 2 * 60;
    QTest::newRow("slower than a minute: a row each") << 1 << qint64(90000) << 60 * kMinuteMs << 40;
}

void TestJournal::foldsFlapping() {
    QFETCH(int, amplifiers);
    QFETCH(qint64, periodMs);
    QFETCH(qint64, durationMs);
    QFETCH(int, rows);
    TJournalFixture f;
    qint64 events = 0;
    {
        TJournal journal(f.Options());
        for (qint64 t = 0; t < durationMs; t += periodMs) {
            const bool off = (t / periodMs) % 2 == 0;
            for (int a = 1; a <= amplifiers; ++a) {
                journal.Record(TJournalFixture::StateChange(Address(a), off ? "on-line" : "off-line",
                                                            off ? "off-line" : "on-line", f.Now() + t));
                ++events;
            }
        }
        QVERIFY(journal.Flush(60000));
    }
    QCOMPARE(f.Scalar(QStringLiteral("SELECT count(*) FROM entry")), qint64(rows));
    QCOMPARE(f.Scalar(QStringLiteral("SELECT sum(repeat_count) FROM entry")), events);
    // A row's repeats all fall in its minute.
    QCOMPARE(f.Scalar(QStringLiteral("SELECT count(*) FROM entry WHERE time / 60000 <> last_time / 60000")),
             0);
}

void TestJournal::trimsByCountAndAge_data() {
    QTest::addColumn<qint64>("maxEntries");
    QTest::addColumn<int>("oldEntries"); // two days old
    QTest::addColumn<int>("newEntries");
    QTest::addColumn<int>("kept");
    // The age limit is one day in every row; history is kept for one day too.
    QTest::newRow("count: the newest are kept") << qint64(100) << 0 << 250 << 100;
    QTest::newRow("age: the old ones go") << qint64(1000000) << 40 << 60 << 60;
    QTest::newRow("both: the stricter wins") << qint64(50) << 40 << 60 << 50;
}

void TestJournal::trimsByCountAndAge() {
    QFETCH(qint64, maxEntries);
    QFETCH(int, oldEntries);
    QFETCH(int, newEntries);
    QFETCH(int, kept);
    TJournalFixture f;
    TJournalOptions options = f.Options();
    options.MaxEntries = maxEntries;
    options.MaxAgeMs = kDayMs;
    options.HistoryMaxAgeMs = kDayMs;
    options.TrimChunk = 30; // several passes
    TJournal journal(options);
    for (int i = 0; i < oldEntries; ++i)
        journal.Record(TJournalFixture::Entry(QStringLiteral("old %1").arg(i), TJournalSeverity::Info,
                                              f.Now() - 2 * kDayMs + i));
    for (int i = 0; i < newEntries; ++i)
        journal.Record(
            TJournalFixture::Entry(QStringLiteral("new %1").arg(i), TJournalSeverity::Info, f.Now() + i));
    for (qint64 age : {2 * kDayMs, kDayMs / 2}) {
        THistorySample s;
        s.Address = Address(1);
        s.TimeMs = f.Now() - age;
        journal.RecordSample(s);
    }
    QVERIFY(journal.Flush(10000));
    QTRY_COMPARE_WITH_TIMEOUT(f.Scalar(QStringLiteral("SELECT count(*) FROM entry")), qint64(kept), 20000);
    QCOMPARE(f.Scalar(QStringLiteral("SELECT count(*) FROM entry WHERE what LIKE 'old%'")),
             qint64(std::max(0, kept - newEntries)));
    QCOMPARE(f.Scalar(QStringLiteral("SELECT max(what = 'new %1') FROM entry").arg(newEntries - 1)), 1);
    QTRY_COMPARE_WITH_TIMEOUT(f.Scalar(QStringLiteral("SELECT count(*) FROM history")), qint64(1), 20000);
    // The text index follows the trimmed rows.
    QCOMPARE(f.Scalar(QStringLiteral("SELECT count(*) FROM entry_text WHERE entry_text MATCH '\"old\"'")),
             qint64(std::max(0, kept - newEntries)));
}

void TestJournal::damagedFileIsMovedAside_data() {
    QTest::addColumn<QString>("kind");
    QTest::newRow("not a database") << QStringLiteral("text");
    QTest::newRow("a database of something else") << QStringLiteral("foreign");
    QTest::newRow("tables damaged after the first page") << QStringLiteral("damaged");
}

void TestJournal::damagedFileIsMovedAside() {
    QFETCH(QString, kind);
    TJournalFixture f;
    if (kind == QLatin1String("text")) {
        QFile file(f.Path());
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(QByteArray("a project note, not a journal\n").repeated(300));
    } else if (kind == QLatin1String("foreign")) {
        TJournalConnection other(f.Path(), QStringLiteral("foreign"));
        QVERIFY(other.Database().open());
        QCOMPARE(other.Exec(QStringLiteral("CREATE TABLE notes(text)")), TJournalFailure::None);
    } else {
        {
            TJournal journal(f.Options());
            for (int i = 0; i < 500; ++i)
                journal.Record(TJournalFixture::Entry(QStringLiteral("before %1").arg(i)));
            QVERIFY(journal.Flush(10000));
        }
        QFile file(f.Path());
        QVERIFY(file.open(QIODevice::ReadWrite));
        const qint64 size = file.size();
        QVERIFY(size > 8192);
        file.seek(4096);
        file.write(QByteArray(int(size - 4096), '\xAB'));
    }
    const QByteArray original = [&] {
        QFile file(f.Path());
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }();

    TJournal journal(f.Options());
    QSignalSpy problems(&journal, &TJournal::ProblemReported);
    journal.Record(TJournalFixture::Entry(QStringLiteral("after")));
    QVERIFY(journal.Flush(10000));
    QTRY_COMPARE(problems.count(), 1);
    QVERIFY2(problems.at(0).at(0).toString().contains(QLatin1String("moved to")),
             qPrintable(problems.at(0).at(0).toString()));

    const QStringList aside = DamagedFiles(f.Dir.path());
    QCOMPARE(aside.size(), 1);
    QFile moved(f.Dir.filePath(aside.first()));
    QVERIFY(moved.open(QIODevice::ReadOnly));
    QCOMPARE(moved.readAll(), original);
    QCOMPARE(f.Scalar(QStringLiteral("SELECT count(*) FROM entry WHERE what = 'after'")), 1);
    QCOMPARE(f.Scalar(QStringLiteral("SELECT count(*) FROM entry WHERE what LIKE '%moved to%'")), 1);
    // Recording goes on in the new file, without another report.
    journal.Record(TJournalFixture::Entry(QStringLiteral("later")));
    QVERIFY(journal.Flush(10000));
    QCOMPARE(f.Scalar(QStringLiteral("SELECT count(*) FROM entry WHERE what = 'later'")), 1);
    QCOMPARE(problems.count(), 1);
}

void TestJournal::unwritableJournalHoldsThenResumes_data() {
    QTest::addColumn<QString>("kind");
    QTest::addColumn<int>("capacity");
    QTest::addColumn<int>("entries"); // recorded while the journal cannot be written
    QTest::addColumn<int>("lost");
    QTest::newRow("read-only file system at the start") << QStringLiteral("read-only") << 1000 << 30 << 0;
    QTest::newRow("read-only, nothing recorded meanwhile") << QStringLiteral("read-only") << 1000 << 0 << 0;
    // The entry that met the full disk is held too.
    QTest::newRow("file system full, more than it can hold") << QStringLiteral("full") << 20 << 50 << 31;
}

void TestJournal::unwritableJournalHoldsThenResumes() {
    QFETCH(QString, kind);
    QFETCH(int, capacity);
    QFETCH(int, entries);
    QFETCH(int, lost);
    TJournalFixture f;
    const QString dir = f.Dir.filePath(QStringLiteral("fs"));
    TTmpfs fs(dir, 2048);
    if (!fs.Mounted())
        QSKIP("mounting a tmpfs needs root");
    TJournalOptions options = f.Options();
    options.Path = dir + QStringLiteral("/journal.sqlite");
    options.HeldCapacity = std::size_t(capacity);
    {
        TJournal first(options);
        first.Record(TJournalFixture::Entry(QStringLiteral("before")));
        QVERIFY(first.Flush(10000));
    }
    const QString filler = dir + QStringLiteral("/filler");
    if (kind == QLatin1String("read-only"))
        QVERIFY(fs.SetReadOnly(true));

    TJournal journal(options);
    QSignalSpy problems(&journal, &TJournal::ProblemReported);
    QSignalSpy resumed(&journal, &TJournal::WriteResumed);
    if (kind == QLatin1String("full")) {
        QFile fill(filler);
        QVERIFY(fill.open(QIODevice::WriteOnly | QIODevice::Unbuffered));
        const QByteArray block(64 * 1024, 'f');
        while (fill.write(block) > 0) {
        }
        // Bigger than what the journal's files have room for.
        journal.Record(TJournalFixture::Entry(QString(200 * 1024, QLatin1Char('x'))));
    }
    QTRY_COMPARE(problems.count(), 1);
    QVERIFY2(problems.at(0).at(0).toString().contains(QLatin1String("cannot be written")),
             qPrintable(problems.at(0).at(0).toString()));
    for (int i = 0; i < entries; ++i)
        journal.Record(TJournalFixture::Entry(QStringLiteral("held %1").arg(i)));
    // Nothing is written while it cannot be; with nothing held there is nothing to wait for.
    QCOMPARE(journal.Flush(1000), entries == 0 && kind == QLatin1String("read-only"));
    QCOMPARE(journal.Stats().Lost, quint64(lost));
    QTest::qWait(300); // several retries, each failing again
    QCOMPARE(problems.count(), 1);

    if (kind == QLatin1String("read-only"))
        QVERIFY(fs.SetReadOnly(false));
    else
        QVERIFY(QFile::remove(filler));
    QTRY_COMPARE(resumed.count(), 1);
    QVERIFY(journal.Flush(10000));
    QCOMPARE(f.Scalar(options.Path, QStringLiteral("SELECT count(*) FROM entry WHERE what = 'before'")), 1);
    QCOMPARE(f.Scalar(options.Path, QStringLiteral("SELECT count(*) FROM entry WHERE what LIKE 'held %'")),
             qint64(entries - lost));
    QCOMPARE(f.Scalar(options.Path, QStringLiteral("SELECT count(*) FROM entry WHERE what LIKE 'xxx%'")),
             kind == QLatin1String("full") ? 1 : 0);
    QCOMPARE(f.Scalar(options.Path, QStringLiteral("SELECT count(*) FROM entry WHERE what LIKE "
                                                   "'The journal could not be written from %'")),
             1);
    QCOMPARE(f.Scalar(options.Path, QStringLiteral("SELECT count(*) FROM entry WHERE what LIKE '%1 journal "
                                                   "entries from % were lost%'")
                                        .arg(lost)),
             lost > 0 ? 1 : 0);
    QCOMPARE(problems.count(), 1);
}

void TestJournal::entriesOlderThanASecondSurviveSigkill() {
    TJournalFixture f;
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QLatin1String(kKilledWriterVariable), f.Path());
    child.setProcessEnvironment(env);
    child.start(QCoreApplication::applicationFilePath(), {});
    QVERIFY(child.waitForStarted());

    // Let it write for a while: the first and the last entries printed are 2.5 s apart.
    QByteArray printed;
    qint64 first = 0;
    qint64 last = 0;
    QElapsedTimer deadline;
    deadline.start();
    while (last - first < 2500 && deadline.elapsed() < 30000) {
        child.waitForReadyRead(100);
        printed += child.readAllStandardOutput();
        const QList<QByteArray> lines = printed.trimmed().split('\n');
        if (!lines.isEmpty() && lines.first().contains(' ')) {
            first = lines.first().split(' ').at(1).toLongLong();
            last = lines.last().split(' ').value(1).toLongLong();
        }
    }
    const qint64 killedAt = SystemClockMs();
    ::kill(pid_t(child.processId()), SIGKILL);
    QVERIFY(child.waitForFinished(5000));
    QCOMPARE(child.exitStatus(), QProcess::CrashExit);
    printed += child.readAllStandardOutput();

    int due = 0;
    int missing = 0;
    for (const QByteArray& line : printed.trimmed().split('\n')) {
        const QList<QByteArray> parts = line.split(' ');
        if (parts.size() != 2 || parts[1].toLongLong() >= killedAt - 1000)
            continue;
        ++due;
        if (f.Scalar(QStringLiteral("SELECT count(*) FROM entry WHERE what = 'entry %1'")
                         .arg(QString::fromLatin1(parts[0]))) != 1)
            ++missing;
    }
    QVERIFY2(due > 100, qPrintable(QStringLiteral("only %1 entries were old enough").arg(due)));
    QVERIFY2(missing == 0,
             qPrintable(QStringLiteral("%1 of %2 entries older than 1 s were lost").arg(missing).arg(due)));
}

void TestJournal::filters_data() {
    QTest::addColumn<unsigned>("severities");
    QTest::addColumn<QString>("group");
    QTest::addColumn<QString>("address");
    QTest::addColumn<int>("source");     // -1: any
    QTest::addColumn<int>("sinceEntry"); // -1: from the start
    QTest::addColumn<bool>("sinceLastStart");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("expected");

    const unsigned all = TJournalFilter::kAllSeverities;
    const unsigned fault = TJournalFilter::Bit(TJournalSeverity::Fault);
    const unsigned warning = TJournalFilter::Bit(TJournalSeverity::Warning);
    const unsigned user = TJournalFilter::Bit(TJournalSeverity::UserAction);
    const QString none;
    const auto row = [&](const char* name, unsigned severities, const QString& group, const QString& address,
                         int source, int since, bool lastStart, const QString& text,
                         const QStringList& expected) {
        QTest::newRow(name) << severities << group << address << source << since << lastStart << text
                            << expected;
    };
    row("everything, newest first", all, none, none, -1, -1, false, none,
        {"Fan at 100%_max", "Protect", "Name", "Mute A", "fadelink started", "Temperature high", "Volume A",
         "Off-line"});
    row("faults", fault, none, none, -1, -1, false, none, {"Protect", "Off-line"});
    row("faults and warnings", fault | warning, none, none, -1, -1, false, none,
        {"Protect", "Temperature high", "Off-line"});
    row("no severity chosen", 0, none, none, -1, -1, false, none, {});
    row("a group", all, "Delay", none, -1, -1, false, none,
        {"Protect", "Name", "Mute A", "Temperature high"});
    row("a group's user actions", user, "Delay", none, -1, -1, false, none, {"Mute A"});
    row("an amplifier", all, none, Address(1), -1, -1, false, none,
        {"Fan at 100%_max", "Volume A", "Off-line"});
    row("a remote client", all, none, none, int(TJournalSource::RemoteClient), -1, false, none, {"Mute A"});
    row("since a time", all, none, none, -1, 5, false, none, {"Fan at 100%_max", "Protect", "Name"});
    row("since the last start", all, none, none, -1, -1, true, none,
        {"Fan at 100%_max", "Protect", "Name", "Mute A", "fadelink started"});
    row("text in a long name, case ignored", all, none, none, -1, -1, false, "HOUSE, left",
        {"Fan at 100%_max", "Volume A", "Off-line"});
    row("text in a client's name", all, none, none, -1, -1, false, "tablet", {"Mute A"});
    row("text in a new value", all, none, none, -1, -1, false, "3 (rear", {"Name"});
    row("text with double quotes", all, none, none, -1, -1, false, "\"B\" tow", {"Protect", "Name"});
    row("two letters", all, none, none, -1, -1, false, "Mu", {"Mute A"});
    row("percent and underscore are plain characters", all, none, none, -1, -1, false, "0%_",
        {"Fan at 100%_max"});
    row("a single percent sign", all, none, none, -1, -1, false, "%", {"Fan at 100%_max"});
    row("text found nowhere", all, none, none, -1, -1, false, "zzz", {});
    row("text and a group together", all, "Delay", none, -1, -1, false, "a",
        {"Protect", "Name", "Mute A", "Temperature high"});
}

void TestJournal::filters() {
    QFETCH(unsigned, severities);
    QFETCH(QString, group);
    QFETCH(QString, address);
    QFETCH(int, source);
    QFETCH(int, sinceEntry);
    QFETCH(bool, sinceLastStart);
    QFETCH(QString, text);
    QFETCH(QStringList, expected);

    TJournalFixture f;
    struct TEntryKind {
        const char* What;
        TJournalSeverity Severity;
        QString Event;
        int Amplifier;
        const char* Group;
        const char* LongName;
        TJournalSource Source;
        const char* Client;
        const char* NewValue;
    };
    const TEntryKind kinds[] = {
        {"Off-line", TJournalSeverity::Fault, JournalEvent::State, 1, "Front", "Front of house, left",
         TJournalSource::Amplifier, "", "off-line"},
        {"Volume A", TJournalSeverity::UserAction, JournalEvent::Setting, 1, "Front", "Front of house, left",
         TJournalSource::UserInterface, "", "-12.5"},
        {"Temperature high", TJournalSeverity::Warning, JournalEvent::Threshold, 2, "Delay", "Delay tower 2",
         TJournalSource::Amplifier, "", "78"},
        {"fadelink started", TJournalSeverity::Info, JournalEvent::ProgramStart, 0, "", "",
         TJournalSource::Program, "", ""},
        {"Mute A", TJournalSeverity::UserAction, JournalEvent::Mute, 2, "Delay", "Delay tower 2",
         TJournalSource::RemoteClient, "stage-tablet", "muted"},
        {"Name", TJournalSeverity::Info, JournalEvent::Name, 3, "Delay", "Delay \"B\" tower",
         TJournalSource::ProjectFile, "", "Delay tower, 3 (rear)"},
        {"Protect", TJournalSeverity::Fault, JournalEvent::State, 3, "Delay", "Delay \"B\" tower",
         TJournalSource::Amplifier, "", "protect"},
        {"Fan at 100%_max", TJournalSeverity::Info, JournalEvent::Threshold, 1, "Front",
         "Front of house, left", TJournalSource::Amplifier, "", "100"},
    };
    {
        TJournal journal(f.Options());
        int i = 0;
        for (const TEntryKind& s : kinds) {
            TJournalEntry e =
                TJournalFixture::Entry(QLatin1String(s.What), s.Severity, f.Now() + i++ * kMinuteMs,
                                       s.Amplifier ? Address(s.Amplifier) : QString());
            e.Event = s.Event;
            e.Group = QLatin1String(s.Group);
            e.LongName = QLatin1String(s.LongName);
            e.Source = s.Source;
            e.Client = QLatin1String(s.Client);
            e.NewValue = QLatin1String(s.NewValue);
            journal.Record(e);
        }
        QVERIFY(journal.Flush(10000));
    }
    TJournalFilter filter;
    filter.Severities = severities;
    filter.Group = group;
    filter.Address = address;
    if (source >= 0)
        filter.Source = TJournalSource(source);
    if (sinceEntry >= 0)
        filter.SinceMs = f.Now() + sinceEntry * kMinuteMs;
    filter.SinceLastStart = sinceLastStart;
    filter.Text = text;

    TJournalReader reader(f.Path());
    QCOMPARE(Whats(reader.Entries(filter, 0, 100)), expected);
    QVERIFY2(reader.Error().isEmpty(), qPrintable(reader.Error()));
    // Paging: two at a time, each page below the last one's id, gives the same list.
    QStringList paged;
    qint64 before = 0;
    for (;;) {
        const std::vector<TJournalEntry> page = reader.Entries(filter, before, 2);
        paged += Whats(page);
        if (page.size() < 2)
            break;
        before = page.back().Id;
    }
    QCOMPARE(paged, expected);
    // The export of the same filter holds the same entries, oldest first.
    QStringList exported;
    reader.ForEachEntry(filter, [&](const TJournalEntry& e) {
        exported.prepend(e.What);
        return true;
    });
    QCOMPARE(exported, expected);
}

void TestJournal::alarms_data() {
    QTest::addColumn<QString>("steps"); // R:key raise, C:key clear, A:key acknowledge, AA acknowledge all
    QTest::addColumn<int>("alarms");
    QTest::addColumn<int>("unacknowledged");
    QTest::addColumn<int>("raisedSignals");
    QTest::addColumn<int>("acknowledgements");
    QTest::newRow("cleared, it waits for acknowledgement") << "R:a C:a" << 1 << 1 << 1 << 0;
    QTest::newRow("raised twice while present: one alarm") << "R:a R:a" << 1 << 1 << 1 << 0;
    QTest::newRow("flapping before anyone saw it: one alarm") << "R:a C:a R:a C:a R:a" << 1 << 1 << 1 << 0;
    QTest::newRow("acknowledged while present: seen") << "R:a A:a R:a" << 1 << 0 << 1 << 1;
    QTest::newRow("acknowledged and cleared, then back: a new alarm")
        << "R:a A:a C:a R:a" << 2 << 1 << 2 << 1;
    QTest::newRow("conditions apart by key") << "R:a R:b C:a" << 2 << 2 << 2 << 0;
    QTest::newRow("acknowledge all") << "R:a R:b C:b AA" << 2 << 0 << 2 << 2;
}

void TestJournal::alarms() {
    QFETCH(QString, steps);
    QFETCH(int, alarms);
    QFETCH(int, unacknowledged);
    QFETCH(int, raisedSignals);
    QFETCH(int, acknowledgements);
    TJournalFixture f;
    TJournal journal(f.Options());
    QSignalSpy raised(&journal, &TJournal::AlarmRaised);
    QSignalSpy count(&journal, &TJournal::AlarmCountChanged);
    for (const QString& step : steps.split(QLatin1Char(' '))) {
        f.Advance(1000);
        const QString key = AlarmKey(Address(1), step.section(QLatin1Char(':'), 1));
        if (step.startsWith(QLatin1String("R:"))) {
            journal.RaiseAlarm(key, TJournalFixture::StateChange(Address(1), "on-line", "off-line", f.Now()));
        } else if (step.startsWith(QLatin1String("C:"))) {
            journal.ClearAlarm(key);
        } else if (step.startsWith(QLatin1String("A:"))) {
            for (auto it = journal.Alarms().rbegin(); it != journal.Alarms().rend(); ++it)
                if (it->Key == key) {
                    journal.AcknowledgeAlarm(it->Id, TJournalSource::UserInterface, QStringLiteral("tester"));
                    break;
                }
        } else {
            journal.AcknowledgeAll(TJournalSource::RemoteClient, QStringLiteral("stage-tablet"));
        }
    }
    QCOMPARE(int(journal.Alarms().size()), alarms);
    QCOMPARE(journal.AlarmCount(), unacknowledged);
    QCOMPARE(raised.count(), raisedSignals);
    QCOMPARE(count.isEmpty() ? 0 : count.last().at(0).toInt(), unacknowledged);
    QVERIFY(journal.Flush(10000));
    QCOMPARE(f.Scalar(QStringLiteral("SELECT count(*) FROM entry WHERE event = 'alarm' AND severity = 3")),
             qint64(acknowledgements));
    QCOMPARE(f.Scalar(QStringLiteral("SELECT count(*) FROM alarm")), qint64(alarms));
}

void TestJournal::alarmsSurviveRestart() {
    TJournalFixture f;
    const QString open = AlarmKey(Address(1), QStringLiteral("offline"));
    const QString closed = AlarmKey(Address(2), QStringLiteral("channel-fault"), QStringLiteral("B"));
    {
        TJournal journal(f.Options());
        journal.RaiseAlarm(open, TJournalFixture::StateChange(Address(1), "on-line", "off-line", f.Now()));
        journal.RaiseAlarm(closed, TJournalFixture::StateChange(Address(2), "on-line", "off-line", f.Now()));
        f.Advance(192000);
        journal.ClearAlarm(closed);
        journal.AcknowledgeAlarm(journal.Alarms().back().Id, TJournalSource::UserInterface,
                                 QStringLiteral("tester"));
        QVERIFY(journal.Flush(10000));
    }
    TJournal journal(f.Options());
    QCOMPARE(int(journal.Alarms().size()), 2);
    QCOMPARE(journal.AlarmCount(), 1);
    const TAlarm& restored =
        journal.Alarms().front().Key == closed ? journal.Alarms().front() : journal.Alarms().back();
    QVERIFY(restored.Closed());
    QCOMPARE(restored.DurationMs(0), qint64(192000));
    QCOMPARE(restored.AcknowledgedBy, QStringLiteral("tester"));
    QCOMPARE(restored.Entry.Address, Address(2));
    // The open one is still the same alarm: raising it again starts nothing new.
    QSignalSpy raised(&journal, &TJournal::AlarmRaised);
    journal.RaiseAlarm(open, TJournalFixture::StateChange(Address(1), "on-line", "off-line", f.Now()));
    QCOMPARE(raised.count(), 0);
}

void TestJournal::alarmCommand_data() {
    QTest::addColumn<QString>("command"); // OUT: a file in the test's directory
    QTest::addColumn<int>("alarms");
    QTest::addColumn<int>("worksFrom"); // the alarm from which FLAG exists; -1: never
    QTest::addColumn<bool>("lastOk");
    QTest::addColumn<QStringList>("journalled");
    QTest::newRow("succeeds: reads the alarm") << "cat > OUT" << 1 << -1 << true << QStringList();
    QTest::newRow("fails: journalled once")
        << "echo broken >&2; exit 3" << 3 << -1 << false
        << QStringList{"The alarm command failed: it ended with status 3: broken"};
    // What it started goes too: the background part would write after a second.
    QTest::newRow("hangs: stopped after the timeout")
        << "(sleep 1; echo never > OUT) & sleep 60" << 1 << -1 << false
        << QStringList{"The alarm command failed: it was still running after 0.3 s and was stopped"};
    QTest::newRow("cannot be found") << "/nonexistent/alarm-command" << 1 << -1 << false
                                     << QStringList{"The alarm command failed: it ended with status 127: "};
    QTest::newRow("fails, then works again")
        << "test -e FLAG" << 3 << 2 << true
        << QStringList{"The alarm command failed: it ended with status 1",
                       "The alarm command works again; 2 alarm(s) were not "
                       "passed on"};
}

void TestJournal::alarmCommand() {
    QFETCH(QString, command);
    QFETCH(int, alarms);
    QFETCH(int, worksFrom);
    QFETCH(bool, lastOk);
    QFETCH(QStringList, journalled);
    TJournalFixture f;
    const QString out = f.Dir.filePath(QStringLiteral("out.json"));
    const QString flag = f.Dir.filePath(QStringLiteral("flag"));
    TJournal journal(f.Options());
    TAlarmHook hook(&journal);
    hook.SetTimeoutMs(300);
    hook.SetCommand(QString(command).replace(QLatin1String("OUT"), out).replace(QLatin1String("FLAG"), flag));
    QSignalSpy finished(&hook, &TAlarmHook::Finished);
    for (int i = 0; i < alarms; ++i) {
        if (i == worksFrom)
            QVERIFY(QFile(flag).open(QIODevice::WriteOnly));
        TJournalEntry e = TJournalFixture::StateChange(Address(i + 1), "on-line", "off-line", f.Now());
        e.LongName = QStringLiteral("Delay, \"B\"");
        journal.RaiseAlarm(AlarmKey(e.Address, QStringLiteral("offline")), e);
        // One at a time, so that the order of failures and successes is the order of alarms.
        QTRY_COMPARE_WITH_TIMEOUT(finished.count(), i + 1, 10000);
    }
    QCOMPARE(finished.last().at(0).toBool(), lastOk);
    QVERIFY(journal.Flush(10000));
    TJournalFilter hooks;
    TJournalReader reader(f.Path());
    QStringList whats;
    reader.ForEachEntry(hooks, [&](const TJournalEntry& e) {
        if (e.Event == JournalEvent::Hook)
            whats.append(e.What);
        return true;
    });
    QCOMPARE(whats.size(), journalled.size());
    for (int i = 0; i < whats.size(); ++i)
        QVERIFY2(whats[i].startsWith(journalled[i]), qPrintable(whats[i]));
    if (command.startsWith(QLatin1String("cat"))) {
        QFile file(out);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QJsonObject o = QJsonDocument::fromJson(file.readAll()).object();
        QCOMPARE(o.value(QStringLiteral("address")).toString(), Address(1));
        QCOMPARE(o.value(QStringLiteral("severity")).toString(), QStringLiteral("fault"));
        QCOMPARE(o.value(QStringLiteral("what")).toString(), QStringLiteral("Off-line"));
        QCOMPARE(o.value(QStringLiteral("longName")).toString(), QStringLiteral("Delay, \"B\""));
        QCOMPARE(o.value(QStringLiteral("alarmKey")).toString(),
                 AlarmKey(Address(1), QStringLiteral("offline")));
        QCOMPARE(o.value(QStringLiteral("alarmId")).toString(), journal.Alarms().front().Id);
        QCOMPARE(o.value(QStringLiteral("raised")).toString(), QStringLiteral("2024-03-01T12:00:00.000Z"));
    } else if (command.contains(QLatin1String("sleep"))) {
        QTest::qWait(1500); // longer than the part it started in the background would have taken
        QVERIFY(!QFile::exists(out));
    }
}

void TestJournal::alarmCommandEndsWithTheProgram() {
    TJournalFixture f;
    const QString out = f.Dir.filePath(QStringLiteral("out"));
    TJournal journal(f.Options());
    auto hook = std::make_unique<TAlarmHook>(&journal);
    hook->SetCommand(QStringLiteral("(sleep 1; echo never > %1) & sleep 60").arg(out));
    journal.RaiseAlarm(QStringLiteral("k"),
                       TJournalFixture::StateChange(Address(1), "on-line", "off-line", f.Now()));
    QCOMPARE(hook->Running(), 1);
    QTest::qWait(200); // the command is under way
    hook.reset();
    QTest::qWait(1500); // longer than its background part would have taken
    QVERIFY(!QFile::exists(out));
}

void TestJournal::exportQuoting_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("csvField");
    QTest::newRow("plain") << "Delay tower"
                           << "Delay tower";
    QTest::newRow("comma") << "Delay, left"
                           << "\"Delay, left\"";
    QTest::newRow("double quotes") << "Tower \"B\""
                                   << "\"Tower \"\"B\"\"\"";
    QTest::newRow("line feed") << "Line 1\nLine 2"
                               << "\"Line 1\nLine 2\"";
    QTest::newRow("CR LF") << "a\r\nb"
                           << "\"a\r\nb\"";
    QTest::newRow("all at once, with blanks kept") << " x, \"y\"\nz "
                                                   << "\" x, \"\"y\"\"\nz \"";
    QTest::newRow("not Latin") << "Sc\u00e8ne \u2013 gauche"
                               << "Sc\u00e8ne \u2013 gauche";
    QTest::newRow("tab and control characters") << "a\tb\u0001c\\d"
                                                << "a\tb\u0001c\\d";
}

void TestJournal::exportQuoting() {
    QFETCH(QString, text);
    QFETCH(QString, csvField);
    TJournalFixture f;
    {
        TJournal journal(f.Options());
        TJournalEntry e =
            TJournalFixture::Entry(QStringLiteral("Name"), TJournalSeverity::Info, f.Now() + 5, Address(1));
        e.LongName = text;
        e.NewValue = text;
        journal.Record(e);
        QVERIFY(journal.Flush(10000));
    }
    TJournalReader reader(f.Path());
    QBuffer csv;
    csv.open(QIODevice::WriteOnly);
    QString error;
    QCOMPARE(ExportJournal(reader, TJournalFilter(), TExportFormat::Csv, csv, error), qint64(1));
    const QString csvText = QString::fromUtf8(csv.data());
    QVERIFY2(csvText.contains(QLatin1Char(',') + csvField + QLatin1Char(',')), qPrintable(csvText));
    const QList<QStringList> records = ParseCsv(csvText);
    QCOMPARE(records.size(), 2);
    QCOMPARE(records[0].join(QLatin1Char(',')),
             QStringLiteral("id,time,lastTime,severity,event,address,shortName,longName,group,channel,what,"
                            "oldValue,newValue,source,client,repeatCount"));
    QCOMPARE(records[1].size(), records[0].size());
    QCOMPARE(records[1][7], text);
    QCOMPARE(records[1][12], text);
    QCOMPARE(records[1][1], QStringLiteral("2024-03-01T12:00:00.005Z"));

    QBuffer json;
    json.open(QIODevice::WriteOnly);
    QCOMPARE(ExportJournal(reader, TJournalFilter(), TExportFormat::Json, json, error), qint64(1));
    QJsonParseError parse;
    const QJsonArray array = QJsonDocument::fromJson(json.data(), &parse).array();
    QCOMPARE(parse.error, QJsonParseError::NoError);
    QCOMPARE(array.size(), 1);
    QCOMPARE(array[0].toObject().value(QStringLiteral("longName")).toString(), text);
    QCOMPARE(array[0].toObject().value(QStringLiteral("time")).toString(),
             QStringLiteral("2024-03-01T12:00:00.005Z"));
}

void TestJournal::historyKeepsOneSampleAMinute() {
    TJournalFixture f;
    const auto block = [](const char* ampTemp, unsigned mainsRaw, unsigned peakA) {
        TDeviceStatus s = TDeviceStatus::Initial();
        std::memcpy(s.PD_Amplifier_Temperature.Chars, ampTemp, 3);
        s.PD_PSU_Temperature.Set(35);
        s.PD_Actual_AC_Input.Set(mainsRaw);
        s.PD_Actual_FAN_Speed.Set(QByteArray("050  "));
        s.PD_CHA_Output_Peak_Voltage.Set(peakA);
        return s;
    };
    THistoryMinute minute(Address(1));
    const qint64 t = f.Now();
    QVERIFY(!minute.Add(t + 1000, block("040", 328, 100)));
    QVERIFY(!minute.Add(t + 30000, block("XXX", 336, 512))); // an unreadable temperature does not count
    QVERIFY(!minute.Add(t + 59999, block("044", 332, 200)));
    const std::optional<THistorySample> sample = minute.Add(t + 60000, block("050", 330, 0));
    QVERIFY(sample);
    QCOMPARE(sample->TimeMs, t);
    QCOMPARE(sample->AmplifierTemperature, 44.0);
    QCOMPARE(sample->PsuTemperature, 35.0);
    QCOMPARE(sample->MainsVolts, (224.0 + 230.0 + 227.0) / 3); // 328, 336, 332 raw, whole volts each
    QCOMPARE(sample->FanPercent, 50.0);
    QCOMPARE(sample->Channels[0].PeakVolts, RawToVolts(512));

    TJournal journal(f.Options());
    journal.RecordSample(*sample);
    THistorySample old = *sample;
    old.TimeMs = t - 2 * kDayMs;
    journal.RecordSample(old);
    THistorySample other = *sample;
    other.Address = Address(2);
    journal.RecordSample(other);
    QVERIFY(journal.Flush(10000));
    TJournalReader reader(f.Path());
    const std::vector<THistorySample> day = reader.History(Address(1), t - kDayMs, t + kMinuteMs);
    QCOMPARE(int(day.size()), 1);
    QCOMPARE(day[0].AmplifierTemperature, 44.0);
    QCOMPARE(day[0].MainsVolts, sample->MainsVolts);
    QCOMPARE(day[0].Channels[0].PeakVolts, RawToVolts(512));
}

void TestJournal::isoTimes_data() {
    QTest::addColumn<qint64>("ms");
    QTest::newRow("a test's now") << kJournalTestStartMs;
    QTest::newRow("leap day") << qint64(1709164799999); // 2024-02-28T23:59:59.999Z
    QTest::newRow("leap day, next millisecond") << qint64(1709164800000);
    QTest::newRow("1900-03-01, before the epoch") << qint64(-2203891200000);
    QTest::newRow("2100-02-28, not a leap year") << qint64(4107456000123);
    QTest::newRow("the last millisecond of 1999") << qint64(946684799999);
}

void TestJournal::isoTimes() {
    QFETCH(qint64, ms);
    QCOMPARE(IsoTime(ms), QDateTime::fromMSecsSinceEpoch(ms, Qt::UTC).toString(Qt::ISODateWithMs));
    QCOMPARE(ParseIsoTime(IsoTime(ms)), std::optional<qint64>(ms));
}

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsSet(kKilledWriterVariable))
        return RunKilledWriter(argc, argv);
    QCoreApplication app(argc, argv);
    TestJournal test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_Journal.moc"
