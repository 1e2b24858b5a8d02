// What the journal records of the model: each kind of change with its severity, channel, values
// and source; threshold crossings with hysteresis; alarms raised and cleared; the same caused for
// real by simulated amplifiers on 127.0.61.x; and fadelink-headless running the alarm command for
// an amplifier that goes off-line.
#include "device/pingunit.h"
#include "journal/Journal.h"
#include "journal/JournalRecorder.h"
#include "model/GroupUnit.h"
#include "model/GroupsUnit.h"
#include "model/Session.h"
#include "support/JournalFixture.h"
#include "support/ModelFixture.h"
#include "support/WindowFixture.h"
#include "tools/ampsim/AmpRack.h"

#include <QProcess>
#include <QtTest>

#include <atomic>
#include <functional>

namespace {
const QString kBlock = QStringLiteral("127.0.61.");
std::atomic<int> gPowerCutHost{0};

// The real probe, except that an amplifier whose power is cut does not answer it.
bool ProbeWithPowerCut(const QString& address) {
    const int host = gPowerCutHost.load();
    return (host != 0 && address == kBlock + QString::number(host)) ? false : PingHost(address);
}

// The entries recorded after `afterId`, oldest first, once everything queued is written.
std::vector<TJournalEntry> EntriesAfter(TJournal& journal, qint64 afterId) {
    journal.Flush(5000);
    TJournalReader reader(journal.Path());
    return reader.EntriesAfter(TJournalFilter(), afterId, 1000);
}

qint64 LastId(TJournal& journal) {
    const std::vector<TJournalEntry> all = EntriesAfter(journal, 0);
    return all.empty() ? 0 : all.back().Id;
}

const TJournalEntry* FindEntry(const std::vector<TJournalEntry>& entries, const QString& what) {
    for (const TJournalEntry& e : entries)
        if (e.What.startsWith(what))
            return &e;
    return nullptr;
}

QString Describe(const std::vector<TJournalEntry>& entries) {
    QStringList lines;
    for (const TJournalEntry& e : entries)
        lines << QStringLiteral("[%1 %2 %3 %4 -> %5]")
                     .arg(SeverityName(e.Severity), e.What, e.Channel, e.OldValue, e.NewValue);
    return lines.join(QLatin1Char(' '));
}

// A journal, a recorder, and a group "Main hall" (MAIN) with one device on-line, channels OK.
struct TRecorderFixture : TModelFixture {
    TRecorderFixture() : Journal(J.Options()), Recorder(Journal) {
        Recorder.Follow(Registry.get());
        Group = AddGroup(QStringLiteral("MAIN"), QStringLiteral("Main hall"));
        Side = AddGroup(QStringLiteral("SIDE"));
        Device =
            new TDevice(Group, kBlock + QStringLiteral("1"), QStringLiteral("Left"), QStringLiteral("LEFT"));
        PlaySteps(*Device, Clock, QStringLiteral("ok"));
        Mark = LastId(Journal);
    }
    // Temperatures and mains as the amplifier reports them.
    void Report(int degrees, int mainsVolts) {
        EditStatus(*Device, [&](TDeviceStatus& s) {
            s.PD_Amplifier_Temperature.Set(degrees);
            s.PD_Actual_AC_Input.Set(unsigned(std::ceil(mainsVolts * 1024.0 / 702)));
        });
    }
    TJournalFixture J;
    TJournal Journal;
    TJournalRecorder Recorder;
    TGroup* Group = nullptr;
    TGroup* Side = nullptr;
    TDevice* Device = nullptr;
    qint64 Mark = 0;
};
} // namespace

class TestJournalRecorder : public QObject {
    Q_OBJECT
private slots:
    void recordsEachKindOfChange_data();
    void recordsEachKindOfChange();
    void thresholdsCrossWithHysteresis_data();
    void thresholdsCrossWithHysteresis();
    void alarmClearsWithItsDuration();
    void projectsAreJournalled();
    void realCausesAgainstSimulatedAmplifiers_data();
    void realCausesAgainstSimulatedAmplifiers();
    void headlessRunsTheAlarmCommand();
};

void TestJournalRecorder::recordsEachKindOfChange_data() {
    QTest::addColumn<QString>("action");
    QTest::addColumn<QString>("what");
    QTest::addColumn<TJournalSeverity>("severity");
    QTest::addColumn<QString>("channel");
    QTest::addColumn<QString>("oldValue");
    QTest::addColumn<QString>("newValue");
    QTest::addColumn<TJournalSource>("source");
    QTest::addColumn<QString>("alarmKey"); // open afterwards, empty for none
    using S = TJournalSeverity;
    using Src = TJournalSource;
    const QString a1 = kBlock + QStringLiteral("1/");
    QTest::newRow("group level, one entry for the group") << "group volume"
                                                          << "Volume A" << S::UserAction << "A"
                                                          << "-95.5 dB"
                                                          << "-20.0 dB" << Src::UserInterface << "";
    QTest::newRow("fader dragged: first old to last new") << "drag"
                                                          << "Volume B" << S::UserAction << "B"
                                                          << "-95.5 dB"
                                                          << "-10.0 dB" << Src::UserInterface << "";
    QTest::newRow("lock by a remote client") << "lock"
                                             << "Limiter lock" << S::UserAction << ""
                                             << "off"
                                             << "on" << Src::RemoteClient << "";
    QTest::newRow("device mute by a client") << "mute"
                                             << "Mute B" << S::UserAction << "B"
                                             << "off"
                                             << "on" << Src::RemoteClient << "";
    QTest::newRow("global mute by the schedule") << "global mute"
                                                 << "Global mute" << S::Info << ""
                                                 << "off"
                                                 << "on" << Src::Schedule << "";
    QTest::newRow("rename") << "rename"
                            << "Long name" << S::UserAction << ""
                            << "Left"
                            << "Left tower" << Src::UserInterface << "";
    QTest::newRow("new address") << "address"
                                 << "Address" << S::UserAction << "" << kBlock + "1" << kBlock + "9"
                                 << Src::UserInterface << "";
    QTest::newRow("moved") << "move"
                           << "Amplifier moved" << S::UserAction << ""
                           << "MAIN"
                           << "SIDE" << Src::UserInterface << "";
    QTest::newRow("off-line") << "offline"
                              << "Off-line" << S::Fault << ""
                              << "on-line"
                              << "off-line" << Src::Amplifier << a1 + "offline";
    QTest::newRow("not answering") << "silent"
                                   << "Not answering" << S::Warning << ""
                                   << "on-line"
                                   << "not answering" << Src::Amplifier << a1 + "not-answering";
    QTest::newRow("channel fault") << "faultB"
                                   << "Channel fault" << S::Fault << "B"
                                   << "OK"
                                   << "fault" << Src::Amplifier << a1 + "channel-fault/B";
    QTest::newRow("protect") << "protectA"
                             << "Protect" << S::Fault << "A"
                             << "OK"
                             << "protect" << Src::Amplifier << a1 + "protect/A";
    QTest::newRow("temperature warning") << "hot"
                                         << "Amplifier temperature: warning (80 °C)" << S::Warning << ""
                                         << "normal"
                                         << "warning" << Src::Amplifier << a1 + "temperature";
    QTest::newRow("mains low fault") << "brownout"
                                     << "Mains voltage low: fault (180 V)" << S::Fault << ""
                                     << "normal"
                                     << "fault" << Src::Amplifier << a1 + "mains-low";
    QTest::newRow("removed") << "remove"
                             << "Amplifier removed" << S::UserAction << ""
                             << ""
                             << "" << Src::UserInterface << "";
}

void TestJournalRecorder::recordsEachKindOfChange() {
    QFETCH(QString, action);
    TRecorderFixture f;
    const TChangeSource desk = TChangeSource::Remote(QStringLiteral("desk"));
    const std::map<QString, std::function<void()>> actions = {
        {"group volume", [&] { f.Group->SetVolume_A(-20); }},
        {"drag",
         [&] {
             for (double v : {-40.0, -30.0, -10.0})
                 f.Group->SetVolume_B(v);
         }},
        {"lock", [&] { f.Group->SetLimiter_Lock(true, desk); }},
        {"mute", [&] { f.Device->SetMute_CHB(true, desk); }},
        {"global mute", [&] { f.Registry->SetMute(true, TChangeSource::Schedule()); }},
        {"rename", [&] { f.Device->SetLongName(QStringLiteral("Left tower")); }},
        {"address", [&] { f.Device->SetIPAddress(kBlock + QStringLiteral("9")); }},
        {"move", [&] { f.Side->AdoptDevice(f.Device); }},
        {"offline", [&] { PlaySteps(*f.Device, f.Clock, QStringLiteral("offline")); }},
        {"silent", [&] { PlaySteps(*f.Device, f.Clock, QStringLiteral("wait 2500")); }},
        {"faultB", [&] { PlaySteps(*f.Device, f.Clock, QStringLiteral("faultB")); }},
        {"protectA", [&] { EditStatus(*f.Device, [](TDeviceStatus& s) { s.PD_CHA_Status = 2; }); }},
        {"hot", [&] { f.Report(80, 230); }},
        {"brownout", [&] { f.Report(40, 180); }},
        {"remove", [&] { f.Registry->DeleteDevice(f.Device); }},
    };
    actions.at(action)();
    f.Recorder.FlushSettings();
    const std::vector<TJournalEntry> entries = EntriesAfter(f.Journal, f.Mark);
    QVERIFY2(!entries.empty(), "nothing was recorded");
    // A level handed to the members is the group's entry only; other actions are one entry too.
    QVERIFY2(entries.size() == 1, qPrintable(Describe(entries)));
    const TJournalEntry& e = entries.back();
    QFETCH(QString, what);
    QCOMPARE(e.What, what);
    QTEST(e.Severity, "severity");
    QTEST(e.Channel, "channel");
    QTEST(e.OldValue, "oldValue");
    QTEST(e.NewValue, "newValue");
    QTEST(e.Source, "source");
    if (e.Source == TJournalSource::RemoteClient)
        QCOMPARE(e.Client, QStringLiteral("desk"));
    if (!e.Address.isEmpty())
        QCOMPARE(e.LongName, action == "rename" ? QStringLiteral("Left tower") : QStringLiteral("Left"));
    else if (action != "global mute")
        QCOMPARE(e.Group, QStringLiteral("Main hall"));
    QFETCH(QString, alarmKey);
    QStringList open;
    for (const TAlarm& alarm : f.Journal.Alarms())
        if (!alarm.Cleared())
            open << alarm.Key;
    QCOMPARE(open, alarmKey.isEmpty() ? QStringList() : QStringList{alarmKey});
}

void TestJournalRecorder::thresholdsCrossWithHysteresis_data() {
    QTest::addColumn<QList<int>>("degrees");
    QTest::addColumn<QList<int>>("mains");
    QTest::addColumn<QStringList>("crossings"); // the new level of each entry, in order
    const QList<int> cool(9, 40), steady(9, 230);
    // KV-30: warning 75, fault 85, 5 degrees of hysteresis; mains low 200 / 185, high 250 / 260.
    QTest::newRow("temperature jitters round the warning")
        << QList<int>{70, 76, 74, 76, 71, 69, 86, 81, 79} << steady
        << QStringList{"warning", "normal", "fault", "warning"};
    QTest::newRow("mains sags and jitters") << cool << QList<int>{230, 199, 201, 199, 204, 206, 184, 188, 191}
                                            << QStringList{"warning", "normal", "fault", "warning"};
    QTest::newRow("mains swells") << cool << QList<int>{251, 246, 244, 262, 256, 254, 230, 230, 230}
                                  << QStringList{"warning", "normal", "fault", "warning", "normal"};
}

void TestJournalRecorder::thresholdsCrossWithHysteresis() {
    QFETCH(QList<int>, degrees);
    QFETCH(QList<int>, mains);
    TRecorderFixture f;
    for (int i = 0; i < degrees.size(); ++i)
        f.Report(degrees[i], mains[i]);
    QStringList crossings;
    for (const TJournalEntry& e : EntriesAfter(f.Journal, f.Mark))
        if (e.Event == JournalEvent::Threshold)
            crossings << e.NewValue;
    QTEST(crossings, "crossings");
    // However often it crossed, one alarm per condition, raised and cleared as it went.
    QCOMPARE(f.Journal.Alarms().size(), std::size_t(1));
}

void TestJournalRecorder::alarmClearsWithItsDuration() {
    TRecorderFixture f;
    PlaySteps(*f.Device, f.Clock, QStringLiteral("offline"));
    QCOMPARE(f.Journal.AlarmCount(), 1);
    f.J.Advance(5000);
    PlaySteps(*f.Device, f.Clock, QStringLiteral("online;ok"));
    QCOMPARE(f.Journal.Alarms().size(), std::size_t(1));
    const TAlarm& alarm = f.Journal.Alarms().front();
    QVERIFY(alarm.Cleared());
    QCOMPARE(alarm.DurationMs(f.J.Now()), qint64(5000));
    QCOMPARE(f.Journal.AlarmCount(), 1); // cleared, still waiting to be acknowledged
    const std::vector<TJournalEntry> entries = EntriesAfter(f.Journal, f.Mark);
    const TJournalEntry* back = FindEntry(entries, QStringLiteral("On-line"));
    QVERIFY(back);
    QCOMPARE(back->OldValue, QStringLiteral("off-line"));
}

void TestJournalRecorder::projectsAreJournalled() {
    TNoPollThreads noThreads;
    TJournalFixture j;
    TJournal journal(j.Options());
    TSession session;
    TJournalRecorder recorder(journal, session);
    TGroup* group = session.Registry()->FindOrAddGroup(QStringLiteral("Stage"), QStringLiteral("STAGE"));
    new TDevice(group, kBlock + QStringLiteral("2"), QStringLiteral("Sub"), QStringLiteral("SUB"));
    const QString file = j.Dir.filePath(QStringLiteral("show.pac"));
    session.SaveAs(file);
    const qint64 mark = LastId(journal);
    session.Load(file);
    session.New();
    QStringList whats;
    for (const TJournalEntry& e : EntriesAfter(journal, mark))
        whats << e.What;
    // What the file itself sets while it loads is not one entry per object.
    QCOMPARE(whats, (QStringList{"Project opened: 1 groups, 1 amplifiers", "New project"}));
    QCOMPARE(FindEntry(EntriesAfter(journal, 0), QStringLiteral("Project saved"))->NewValue, file);
}

void TestJournalRecorder::realCausesAgainstSimulatedAmplifiers_data() {
    QTest::addColumn<int>("host");
    QTest::addColumn<QString>("cause");
    QTest::addColumn<QString>("what");
    QTest::addColumn<QString>("alarmKey");
    QTest::newRow("power cut") << 11 << "cut"
                               << "Off-line"
                               << "offline";
    QTest::newRow("HTTP stopped") << 12 << "http"
                                  << "Not answering"
                                  << "not-answering";
    QTest::newRow("channel fault") << 13 << "fault"
                                   << "Channel fault"
                                   << "channel-fault/A";
    QTest::newRow("fader moved") << 14 << "fader"
                                 << "Volume A"
                                 << "";
}

void TestJournalRecorder::realCausesAgainstSimulatedAmplifiers() {
    QFETCH(int, host);
    QFETCH(QString, cause);
    const QString address = kBlock + QString::number(host);
    SetPingFunction(&ProbeWithPowerCut);
    const auto restore = qScopeGuard([] {
        gPowerCutHost.store(0);
        SetPingFunction(nullptr);
    });
    TAmpRack rack;
    rack.Add(TAmpConfig::At(address));
    QVERIFY2(rack.Start(), qPrintable(rack.ErrorString()));

    TJournalFixture j;
    TJournal journal(j.Options());
    TSession session;
    TJournalRecorder recorder(journal, session);
    {
        TGroup* group = session.Registry()->FindOrAddGroup(QStringLiteral("Real"), QStringLiteral("REAL"));
        new TDevice(group, address, QStringLiteral("Amp"), QStringLiteral("AMP"));
        session.SaveAs(j.Dir.filePath(QStringLiteral("real.pac")));
    }
    session.Load(j.Dir.filePath(QStringLiteral("real.pac")));
    session.Start();
    QTRY_VERIFY_WITH_TIMEOUT(FindEntry(EntriesAfter(journal, 0), QStringLiteral("On-line")), 10000);
    QVERIFY(FindEntry(EntriesAfter(journal, 0), QStringLiteral("Project opened")));
    const qint64 mark = LastId(journal);

    if (cause == "cut")
        gPowerCutHost.store(host);
    else if (cause == "http")
        QVERIFY(rack.SetAnswering(0, false));
    else if (cause == "fault")
        rack.Amp(0).Update([](TAmpState& s) { s.ChannelOkA = false; });
    else
        session.Registry()->Groups().front()->SetVolume_A(-12);
    QFETCH(QString, what);
    QTRY_VERIFY_WITH_TIMEOUT(FindEntry(EntriesAfter(journal, mark), what), 15000);
    QFETCH(QString, alarmKey);
    if (!alarmKey.isEmpty()) {
        QVERIFY(journal.AlarmCount() == 1);
        QCOMPARE(journal.Alarms().front().Key, address + QLatin1Char('/') + alarmKey);
    }
    session.Stop();
}

void TestJournalRecorder::headlessRunsTheAlarmCommand() {
    // The program runs in a network namespace of its own with an amplifier that the probe then
    // cannot reach (a blackhole route), so that nothing else on this loopback is touched.
    QTemporaryDir dir;
    const QString project = dir.filePath(QStringLiteral("one.pac"));
    {
        TNoPollThreads noThreads;
        TSession session;
        TGroup* group = session.Registry()->FindOrAddGroup(QStringLiteral("Hooked"), QStringLiteral("HOOK"));
        new TDevice(group, kBlock + QStringLiteral("21"), QStringLiteral("Tower"), QStringLiteral("TOWER"));
        session.SaveAs(project);
    }
    const QString script = QStringLiteral(R"(
set -e
ip link set lo up
"$AMPSIM" 127.0.61.21 & amp=$!
"$HEADLESS" "$DIR/one.pac" --journal "$DIR/j.sqlite" --alarm-exec 'cat > "$DIR/alarm.json"' > "$DIR/out" & run=$!
i=0; until grep -q online "$DIR/out"; do i=$((i+1)); [ $i -lt 300 ] || exit 3; sleep 0.1; done
ip rule del pref 0; ip rule add pref 100 lookup local; ip rule add pref 10 to 127.0.61.21 blackhole
i=0; until [ -s "$DIR/alarm.json" ]; do i=$((i+1)); [ $i -lt 300 ] || exit 4; sleep 0.1; done
kill $run; wait $run; kill $amp; wait $amp || true
)");
    QProcess run;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DIR"), dir.path());
    env.insert(QStringLiteral("AMPSIM"), QStringLiteral(AMPSIM_PROGRAM));
    env.insert(QStringLiteral("HEADLESS"), QStringLiteral(HEADLESS_PROGRAM));
    run.setProcessEnvironment(env);
    run.start(QStringLiteral("unshare"),
              {QStringLiteral("--net"), QStringLiteral("sh"), QStringLiteral("-c"), script});
    QVERIFY(run.waitForFinished(60000));
    QVERIFY2(run.exitCode() == 0, run.readAllStandardError().constData());
    QFile alarm(dir.filePath(QStringLiteral("alarm.json")));
    QVERIFY(alarm.open(QIODevice::ReadOnly));
    const QJsonObject json = QJsonDocument::fromJson(alarm.readAll()).object();
    QCOMPARE(json.value(QStringLiteral("alarmKey")).toString(), QStringLiteral("127.0.61.21/offline"));
    QCOMPARE(json.value(QStringLiteral("what")).toString(), QStringLiteral("Off-line"));
    QCOMPARE(json.value(QStringLiteral("longName")).toString(), QStringLiteral("Tower"));
    QCOMPARE(json.value(QStringLiteral("group")).toString(), QStringLiteral("Hooked"));
    // The stop is journalled; the alarm is still open for the next run to clear or keep.
    TJournalReader reader(dir.filePath(QStringLiteral("j.sqlite")));
    TJournalFilter programs;
    programs.Source = TJournalSource::Program;
    const std::vector<TJournalEntry> ends = reader.Entries(programs, 0, 1);
    QVERIFY(!ends.empty());
    QCOMPARE(ends.front().What, QStringLiteral("fadelink-headless stopped"));
}

QTEST_MAIN(TestJournalRecorder)
#include "tst_JournalRecorder.moc"
