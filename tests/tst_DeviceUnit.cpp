// The device object: encodings, the command queue, clamping and the reconciliation.
#include "support/ModelFixture.h"

#include <QStandardItem>
#include <QtTest>

#include <cmath>
#include <limits>

namespace {
const QString kSettings = QStringLiteral("/common_settings_values1=");

// Empties the queue the way the poll thread does: each command leaves after one attempt.
void Drain(TDevice* d) {
    while (!d->Commands().isEmpty())
        d->StoreResult(d->Commands().first(), false, QByteArray());
}
} // namespace

class TestDeviceUnit : public QObject {
    Q_OBJECT
private slots:
    void normaliseShortName_data();
    void normaliseShortName();
    void levelCodesRoundHalvesToEven_data();
    void levelCodesRoundHalvesToEven();

    void queueReplacesInPlaceOrAppends();
    void queueKeepsDistinctPrefixesApart();

    void newDeviceLeavesItsConstructorWithTheFullQueue();
    void newDeviceWantingMutesIsNeverSentAnUnmute();
    void reconcileInLineQueuesOnlyTheStatusRequest();
    void reconcileCorrectsWhatDiffers();
    void settingsValueCarriesTheGlobalOffset_data();
    void settingsValueCarriesTheGlobalOffset();
    void muteCombinations_data();
    void muteCombinations();

    void levelsAreClamped_data();
    void levelsAreClamped();
    void limiterIsClampedByTheKnownModel_data();
    void limiterIsClampedByTheKnownModel();
    void textsAreCutTo255Characters();

    void nodeTextAndStateIndex();
    void amplifierInLineIsSentNothingButStatusRequests_data();
    void amplifierInLineIsSentNothingButStatusRequests();
    void storeResultAcceptsOnlyAStatusBlock();
    void storeResultLeavesACommandReplacedInFlight();
};

void TestDeviceUnit::normaliseShortName_data() {
    QTest::addColumn<QString>("in");
    QTest::addColumn<QString>("out");
    QTest::newRow("mixed") << "amp-1x7"
                           << "AMP 1";
    QTest::newRow("empty") << ""
                           << "     ";
    QTest::newRow("four letters") << "MAIN"
                                  << "MAIN ";
    QTest::newRow("already normal") << "AB C "
                                    << "AB C ";
    QTest::newRow("accented and symbols") << QString::fromUtf8("é<b>z") << "  B Z";
    QTest::newRow("long") << "dev0123"
                          << "DEV01";
}

void TestDeviceUnit::normaliseShortName() {
    QFETCH(QString, in);
    QFETCH(QString, out);
    QCOMPARE(NormaliseShortName(in), out);
}

void TestDeviceUnit::levelCodesRoundHalvesToEven_data() {
    QTest::addColumn<double>("level");
    QTest::addColumn<int>("code");
    QTest::newRow("-95.5 is 0") << -95.5 << 0;
    QTest::newRow("0 dB is 191") << 0.0 << 191;
    QTest::newRow("-10") << -10.0 << 171;
    QTest::newRow("half down to even 0") << -95.25 << 0; // 0.5 -> 0
    QTest::newRow("half up to even 2") << -94.75 << 2;   // 1.5 -> 2
    QTest::newRow("half down to even 2") << -94.25 << 2; // 2.5 -> 2
    QTest::newRow("-31.75") << -31.75 << 128;            // 127.5 -> 128
    QTest::newRow("below range") << -200.0 << 0;
    QTest::newRow("above range") << 40.0 << 255;
    QTest::newRow("NaN") << std::numeric_limits<double>::quiet_NaN() << 0;
}

void TestDeviceUnit::levelCodesRoundHalvesToEven() {
    QFETCH(double, level);
    QFETCH(int, code);
    QCOMPARE(LevelCode(level), code);
}

void TestDeviceUnit::queueReplacesInPlaceOrAppends() {
    TModelFixture f;
    TDevice* d = new TDevice(f.AddGroup("G"), "127.0.0.1", "D", "D");
    Drain(d);
    d->QueueCommand("/zyl.zyl", "");
    d->QueueCommand("/group=", "A    ");
    d->QueueCommand("/lock_off", "");
    d->QueueCommand("/group=", "B    ");
    QCOMPARE(d->Commands(), QStringList({"/zyl.zyl", "/group=B    ", "/lock_off"}));
    Drain(d);
    d->QueueCommand("/zyl.zyl", "");
    d->QueueCommand("/group=", "B    ");
    QCOMPARE(d->Commands(), QStringList({"/zyl.zyl", "/group=B    "}));
}

void TestDeviceUnit::queueKeepsDistinctPrefixesApart() {
    TModelFixture f;
    TDevice* d = new TDevice(f.AddGroup("G"), "127.0.0.1", "D", "D");
    Drain(d);
    d->SendMute_CHA(true);
    d->SendMute_CHA(false);
    d->SendLock(true);
    d->SendLock(false);
    d->SendMute_CHA(true); // already waiting: stays first, not appended again
    QCOMPARE(d->Commands(), QStringList({"/mute_a_on.html", "/mute_a_off.html", "/lock_on", "/lock_off"}));
}

void TestDeviceUnit::newDeviceLeavesItsConstructorWithTheFullQueue() {
    TModelFixture f;
    TGroup* g = f.AddGroup("main", "Main");
    g->SetVolume_A(-10);
    g->SetVolume_B(-10);
    g->SetSensitivity_A(0);
    g->SetSensitivity_B(0);
    g->SetLimiter_A(100);
    g->SetLimiter_B(100);
    TDevice* d = new TDevice(g, "192.168.1.20", "Amp", "amp01");
    QCOMPARE(d->Commands(),
             QStringList({"/zyl.zyl", "/group=MAIN ", "/lock_off", kSettings + "171171191191100100",
                          "/mute_a_off.html", "/mute_b_off.html", "/name=AMP01"}));
    QCOMPARE(d->Status().ToBody(), TDeviceStatus::Initial().ToBody());
    QCOMPARE(d->Offline(), false);
    QCOMPARE(g->DeviceCount(), 1);
    QCOMPARE(g->Device(0), d);
}

void TestDeviceUnit::newDeviceWantingMutesIsNeverSentAnUnmute() {
    TModelFixture f;
    TDevice* d = new TDevice(f.AddGroup("G"), "192.168.1.20", "Amp", "A", true, true);
    QVERIFY(!d->Commands().contains("/mute_a_off.html"));
    QVERIFY(!d->Commands().contains("/mute_b_off.html"));
    // Once the amplifier reports itself unmuted, the wanted mutes are sent.
    d->StoreStatus(StatusInLine(*d));
    d->Reconcile();
    QVERIFY(d->Commands().contains("/mute_a_on.html"));
    QVERIFY(d->Commands().contains("/mute_b_on.html"));
    QVERIFY(!d->Commands().contains("/mute_a_off.html"));
}

void TestDeviceUnit::reconcileInLineQueuesOnlyTheStatusRequest() {
    TModelFixture f;
    TGroup* g = f.AddGroup("MAIN");
    g->SetVolume_A(-20.25);
    TDevice* d = new TDevice(g, "192.168.1.20", "Amp", "AB C");
    d->StoreStatus(StatusInLine(*d));
    Drain(d);
    d->Reconcile();
    QCOMPARE(d->Commands(), QStringList({"/zyl.zyl"}));
    QCOMPARE(d->Status().PD_GroupName.Text(),
             QStringLiteral("MAIN ")); // four letters plus a space count as in line
}

void TestDeviceUnit::reconcileCorrectsWhatDiffers() {
    TModelFixture f;
    TGroup* g = f.AddGroup("MAIN");
    TDevice* d = new TDevice(g, "192.168.1.20", "Amp", "AMP01");
    TDeviceStatus s = StatusInLine(*d);
    d->StoreStatus(s);
    Drain(d);

    s.PD_CHB_Limiter = 11;        // one of six settings differs
    s.PD_DeviceName.Set("amp01"); // names compare exactly, case included
    s.PD_GroupName.Set("MAIN");   // without the padding space
    d->StoreStatus(s);
    d->Reconcile();
    QCOMPARE(d->Commands(), QStringList({"/zyl.zyl", "/name=AMP01", "/group=MAIN ", "/lock_off",
                                         kSettings + d->SettingsValue()}));
    // A correction stays queued once: further passes replace it in place.
    d->SetVolume_A(-3);
    QCOMPARE(d->Commands().size(), 5);
    QCOMPARE(d->Commands().at(4), kSettings + d->SettingsValue());
    QVERIFY(d->SettingsValue().startsWith("185"));
}

void TestDeviceUnit::settingsValueCarriesTheGlobalOffset_data() {
    QTest::addColumn<double>("global");
    QTest::addColumn<double>("volume");
    QTest::addColumn<QString>("first");
    QTest::newRow("G 0") << 0.0 << -10.0 << "171";
    QTest::newRow("G -6 at the bottom") << -6.0 << -95.5 << "000";
    QTest::newRow("G +6 capped at 0 dB") << 6.0 << 0.0 << "191";
    QTest::newRow("G +6 below the cap") << 6.0 << -10.0 << "183";
    QTest::newRow("G -6") << -6.0 << -10.0 << "159";
}

void TestDeviceUnit::settingsValueCarriesTheGlobalOffset() {
    QFETCH(double, global);
    QFETCH(double, volume);
    QFETCH(QString, first);
    TModelFixture f;
    f.Registry->SetVolume(global);
    TGroup* g = f.AddGroup("G");
    TDevice* d = new TDevice(g, "192.168.1.20", "Amp", "A");
    d->SetVolume_A(volume);
    QCOMPARE(d->SettingsValue().size(), 18);
    QCOMPARE(d->SettingsValue().left(3), first);
    // A device that holds the capped value counts as in line.
    d->StoreStatus(StatusInLine(*d));
    Drain(d);
    d->Reconcile();
    QCOMPARE(d->Commands(), QStringList({"/zyl.zyl"}));
}

void TestDeviceUnit::muteCombinations_data() {
    QTest::addColumn<bool>("own");
    QTest::addColumn<bool>("group");
    QTest::addColumn<bool>("global");
    QTest::addColumn<int>("reported"); // PD_CHA_Mute_Off
    QTest::addColumn<QString>("command");
    QTest::newRow("nothing wanted, reports unmuted") << false << false << false << 1 << "";
    QTest::newRow("nothing wanted, reports muted") << false << false << false << 0 << "/mute_a_off.html";
    QTest::newRow("own mute, reports unmuted") << true << false << false << 1 << "/mute_a_on.html";
    QTest::newRow("group mute, reports unmuted") << false << true << false << 1 << "/mute_a_on.html";
    QTest::newRow("global mute, reports unmuted") << false << false << true << 1 << "/mute_a_on.html";
    QTest::newRow("all, reports muted") << true << true << true << 0 << "";
    QTest::newRow("wanted, odd byte") << true << false << false << 2 << "";
    QTest::newRow("not wanted, odd byte") << false << false << false << 7 << "";
}

void TestDeviceUnit::muteCombinations() {
    QFETCH(bool, own);
    QFETCH(bool, group);
    QFETCH(bool, global);
    QFETCH(int, reported);
    QFETCH(QString, command);
    TModelFixture f;
    TGroup* g = f.AddGroup("G");
    TDevice* d = new TDevice(g, "192.168.1.20", "Amp", "A");
    TDeviceStatus s = StatusInLine(*d);
    s.PD_CHA_Mute_Off = std::uint8_t(reported);
    d->StoreStatus(s);
    d->SetMute_CHA(own);
    g->SetMute(group);
    f.Registry->SetMute(global);
    Drain(d);
    d->Reconcile();
    QStringList expected{"/zyl.zyl"};
    if (!command.isEmpty())
        expected << command;
    if (group || global) // channel B is in line (reports unmuted) and follows the shared flags
        expected << "/mute_b_on.html";
    QCOMPARE(d->Commands(), expected);
}

void TestDeviceUnit::levelsAreClamped_data() {
    QTest::addColumn<double>("in");
    QTest::addColumn<double>("stored");
    QTest::newRow("above 0") << 3.0 << 0.0;
    QTest::newRow("below -95.5") << -120.0 << -95.5;
    QTest::newRow("inside") << -47.7486910994764 << -47.7486910994764;
    QTest::newRow("huge") << 1e300 << 0.0;
    QTest::newRow("-inf") << -std::numeric_limits<double>::infinity() << -95.5;
    QTest::newRow("NaN is the quietest") << std::numeric_limits<double>::quiet_NaN() << -95.5;
}

void TestDeviceUnit::levelsAreClamped() {
    QFETCH(double, in);
    QFETCH(double, stored);
    TModelFixture f;
    TDevice* d = new TDevice(f.AddGroup("G"), "192.168.1.20", "Amp", "A");
    d->SetVolume_A(in);
    d->SetSensitivity_B(in);
    QCOMPARE(d->Volume_A(), stored);
    QCOMPARE(d->Sensitivity_B(), stored);
    QCOMPARE(d->Commands().first(), QStringLiteral("/zyl.zyl"));
}

void TestDeviceUnit::limiterIsClampedByTheKnownModel_data() {
    QTest::addColumn<QByteArray>("model");
    QTest::addColumn<double>("in");
    QTest::addColumn<double>("stored");
    QTest::newRow("KV-30 180") << QByteArray("KV-30") << 180.0 << 155.0;
    QTest::newRow("KV-20 180") << QByteArray("KV-20") << 180.0 << 100.0;
    QTest::newRow("KV-40 180") << QByteArray("KV-40") << 180.0 << 175.0;
    QTest::newRow("unknown model 180") << QByteArray("XXXXX") << 180.0 << 180.0;
    QTest::newRow("below 10") << QByteArray("KV-30") << 5.0 << 10.0;
    QTest::newRow("NaN") << QByteArray("KV-30") << std::numeric_limits<double>::quiet_NaN() << 10.0;
}

void TestDeviceUnit::limiterIsClampedByTheKnownModel() {
    QFETCH(QByteArray, model);
    QFETCH(double, in);
    QFETCH(double, stored);
    TModelFixture f;
    TDevice* d = new TDevice(f.AddGroup("G"), "192.168.1.20", "Amp", "A");
    TDeviceStatus s = d->Status();
    s.PD_Model.Set(model);
    d->StoreStatus(s);
    d->SetLimiter_A(in);
    QCOMPARE(d->Limiter_A(), stored);
    // A limiter set while the model was unknown is lowered by the block that tells the model.
    s.PD_Model.Set("XXXXX");
    d->StoreStatus(s);
    d->SetLimiter_B(170);
    QCOMPARE(d->Limiter_B(), 170.0);
    s.PD_Model.Set("KV-20");
    d->StoreStatus(s);
    QCOMPARE(d->Limiter_B(), 100.0);
}

void TestDeviceUnit::textsAreCutTo255Characters() {
    TModelFixture f;
    const QString longText(300, QLatin1Char('a'));
    TDevice* d = new TDevice(f.AddGroup("G"), longText, longText, longText);
    QCOMPARE(d->LongName().size(), 255);
    QCOMPARE(d->IPAddress().size(), 255);
    QCOMPARE(d->ShortName(), QStringLiteral("AAAAA"));
}

void TestDeviceUnit::nodeTextAndStateIndex() {
    TModelFixture f;
    TGroup* g = f.AddGroup("G");
    TDevice* d = new TDevice(g, "192.168.1.20", "Front left", "ab c");
    QCOMPARE(d->Node()->text(), QStringLiteral("Front left [AB C ]"));
    QCOMPARE(d->Node()->parent(), g->GroupNode());
    QCOMPARE(d->Node()->data(TGroups::StateIndexRole).toInt(), 2); // no status block yet
    TDeviceStatus s = d->Status();
    s.PD_CHA_Status = 1;
    s.PD_CHB_Status = 1;
    d->StoreStatus(s);
    QCOMPARE(d->DeviceState(), 1);
    QCOMPARE(d->Node()->data(TGroups::StateIndexRole).toInt(), 1);
    s.PD_CHB_Status = 0;
    d->StoreStatus(s);
    QCOMPARE(d->Node()->data(TGroups::StateIndexRole).toInt(), 2);
    s.PD_CHB_Status = 1;
    d->StoreStatus(s);
    d->SetOffline(true); // off-line wins whatever the status says
    QCOMPARE(d->Node()->data(TGroups::StateIndexRole).toInt(), 3);
    d->SetIPAddress("192.168.1.21");
    QCOMPARE(d->Node()->text(), QStringLiteral("Front left [AB C ]"));
}

void TestDeviceUnit::amplifierInLineIsSentNothingButStatusRequests_data() {
    QTest::addColumn<QString>("shortName");
    QTest::addColumn<double>("groupLimiter");
    QTest::addColumn<QByteArray>("model");
    QTest::addColumn<int>("limiter"); // what the amplifier holds, and the device then wants
    QTest::newRow("empty short name, reported as five blanks") << "" << 100.0 << QByteArray("KV-30") << 100;
    QTest::newRow("limiter above a KV-30's maximum") << "A" << 180.0 << QByteArray("KV-30") << 155;
    QTest::newRow("limiter above a KV-20's maximum") << "A" << 120.0 << QByteArray("KV-20") << 100;
}

void TestDeviceUnit::amplifierInLineIsSentNothingButStatusRequests() {
    QFETCH(QString, shortName);
    QFETCH(double, groupLimiter);
    QFETCH(QByteArray, model);
    QFETCH(int, limiter);
    TModelFixture f;
    TGroup* g = f.AddGroup("G");
    g->SetLimiter_A(groupLimiter);
    g->SetLimiter_B(groupLimiter);
    TDevice* d = new TDevice(g, "192.168.1.20", "Amp", shortName);
    TDeviceStatus reported = StatusInLine(*d);
    reported.PD_DeviceName.Set(NormaliseShortName(shortName).toLatin1());
    reported.PD_Model.Set(model);
    reported.PD_CHA_Limiter = reported.PD_CHB_Limiter = std::uint8_t(limiter);
    Deliver(*d, reported);
    QCOMPARE(d->Limiter_B(), double(limiter));
    Drain(d);
    d->Reconcile();
    QCOMPARE(d->Commands(), QStringList({"/zyl.zyl"}));
}

void TestDeviceUnit::storeResultAcceptsOnlyAStatusBlock() {
    TModelFixture f;
    TDevice* d = new TDevice(f.AddGroup("G"), "192.168.1.20", "Amp", "A");
    const QByteArray initial = d->Status().ToBody();
    TDeviceStatus reported = StatusInLine(*d);
    const QByteArray block = reported.ToBody();

    d->StoreResult("/zyl.zyl", true, block.left(3156));
    d->StoreResult("/zyl.zyl", true, block + 'x');
    d->StoreResult("/zyl.zyl", false, block); // a failed fetch never counts
    d->StoreResult("/name=A    ", true, block);
    QCOMPARE(d->Status().ToBody(), initial);
    d->StoreResult("/ZYL.ZYL", true, block); // removal ignores case; storing does not
    QCOMPARE(d->Status().ToBody(), initial);
    QVERIFY(!d->Commands().contains("/zyl.zyl"));
    d->QueueCommand("/zyl.zyl", QString());
    d->StoreResult("/zyl.zyl", true, block);
    QCOMPARE(d->Status().ToBody(), block);
}

void TestDeviceUnit::storeResultLeavesACommandReplacedInFlight() {
    TModelFixture f;
    TDevice* d = new TDevice(f.AddGroup("G"), "192.168.1.20", "Amp", "A");
    const QString inFlight = d->Commands().at(3);
    QVERIFY(inFlight.startsWith(kSettings));
    d->SetVolume_A(-1); // replaced while the request was under way
    const QStringList before = d->Commands();
    d->StoreResult(inFlight, true, QByteArray());
    QCOMPARE(d->Commands(), before); // the newer value is sent next
    d->StoreResult(d->Commands().at(3), true, QByteArray());
    QCOMPARE(d->Commands().size(), before.size() - 1);
}

QTEST_GUILESS_MAIN(TestDeviceUnit)
#include "tst_DeviceUnit.moc"
