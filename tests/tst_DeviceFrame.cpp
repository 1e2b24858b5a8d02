// The device panel on status blocks built in the test, and (against a simulated amplifier on
// 127.0.23.x:80) the settings an amplifier holds.
#include "controls/ColorBar1.h"
#include "model/Session.h"
#include "support/ModelFixture.h"
#include "tools/ampsim/AmpRack.h"
#include "ui/DeviceFrameUnit.h"
#include "ui/ImageButton.h"

#include <QLabel>
#include <QtTest>

#include <cstring>

namespace {
struct TPanelFixture : TModelFixture {
    TPanelFixture() {
        Device = new TDevice(AddGroup("G"), "192.168.1.20", "Amp", "AMP01");
        Deliver(*Device, StatusInLine(*Device)); // on-line, both channels OK
        Frame.resize(1100, 560);                 // hidden until a device is selected
    }
    // A status block with every meter field set, as an amplifier would send it.
    void Meters() {
        TDeviceStatus s = Device->Status();
        std::memcpy(s.PD_PSU_Temperature.Chars, "045", 3);
        std::memcpy(s.PD_Amplifier_Temperature.Chars, "052", 3);
        s.PD_Actual_AC_Input.Set(336);
        std::memcpy(s.PD_Actual_FAN_Speed.Chars, "07000", 5);
        s.PD_CHA_Output_Peak_Voltage.Set(512);
        s.PD_CHA_Output_Average_Voltage.Set(256);
        s.PD_CHA_Output_Average_Current.Set(100);
        s.PD_CHB_Output_Average_Current.Set(1024);
        s.PD_Model.Set("KV-30");
        s.PD_Speaker_Impedance_CHA.Set("8.00X");
        s.PD_Speaker_Impedance_CHB.Set("4.0");
        Device->StoreStatus(s);
    }
    TDevice* Device;
    TDeviceFrame Frame;
};
} // namespace

class TestDeviceFrame : public QObject {
    Q_OBJECT
private slots:
    void showsTheValueTable();
    void modelMaximaPersistAcrossAnUnknownModel();
    void channelStateTwoShowsNeitherPicture();
    void unreadableFieldShowsAQuestionMarkAlone_data();
    void unreadableFieldShowsAQuestionMarkAlone();
    void visibleWhileADeviceIsSelected();
    void panelSaysTheStateInWords_data();
    void panelSaysTheStateInWords();
    void showsWhatTheAmplifierHoldsAndMarksWhatLags();
    void muteClickChangesTheWishNotThePicture();
    void amplifierTextsAreShownAsPlainText();
};

void TestDeviceFrame::showsTheValueTable() {
    TPanelFixture f;
    f.Meters();
    f.Frame.SelectDevice(f.Device);
    f.Frame.Timer1Timer();
    QVERIFY(f.Frame.isVisible());
    QCOMPARE(f.Frame.PD_PSU_Temperature->text(), QString::fromUtf8("45 °C"));
    QCOMPARE(f.Frame.PSU->Position(), 45);
    QCOMPARE(f.Frame.PD_Amplifier_Temperature->text(), QString::fromUtf8("52 °C"));
    QCOMPARE(f.Frame.PD_Actual_AC_Input->text(), QStringLiteral("230 V"));
    QCOMPARE(f.Frame.AC_IN->Position(), 230);
    QCOMPARE(f.Frame.PD_Actual_FAN_Speed->text(), QStringLiteral("70 %"));
    QCOMPARE(f.Frame.FAN->Position(), 70);
    QCOMPARE(f.Frame.PD_Model->text(), QStringLiteral("XKV-30"));
    QCOMPARE(f.Frame.PD_GroupName->text(), QStringLiteral("G    "));
    QCOMPARE(f.Frame.PD_DeviceName->text(), QStringLiteral("AMP01"));
    QCOMPARE(f.Frame.CHA.Output_Peak_Voltage->text(), QStringLiteral("100.0 V"));
    QCOMPARE(f.Frame.CHA.Output_Average_Voltage->text(), QStringLiteral("50.0 V"));
    QCOMPARE(f.Frame.CHA.Output_Average_Current->text(), QStringLiteral("4.9 A"));
    QCOMPARE(f.Frame.CHB.Output_Average_Current->text(), QStringLiteral("50.0 A")); // B independent of A
    QCOMPARE(f.Frame.CHB.Output_Peak_Voltage->text(), QStringLiteral("0.0 V"));
    QCOMPARE(f.Frame.CHA.Speaker_Impedance->text(), QStringLiteral("8.00"));
    QCOMPARE(f.Frame.CHB.Speaker_Impedance->text(), QStringLiteral("4.0"));
    // The meters read in their own units: volts, amperes and watts against their full scales.
    QCOMPARE(f.Frame.CHA.OUTPUT_PEAK_VOLTAGE->Position(), 100);
    QCOMPARE(f.Frame.CHA.OUTPUT_AVERAGE_VOLTAGE->Position(), 50);
    QCOMPARE(f.Frame.CHA.OUTPUT_AVERAGE_CURRENT->Position(), 5);
    QCOMPARE(f.Frame.CHA.OUTPUT_POWER->Position(), 244); // 50 V x 4.8828 A
    QCOMPARE(f.Frame.CHB.OUTPUT_AVERAGE_CURRENT->Position(), 50);
    QCOMPARE(f.Frame.CHB.OUTPUT_POWER->Position(), 0);
}

void TestDeviceFrame::modelMaximaPersistAcrossAnUnknownModel() {
    TPanelFixture f;
    f.Frame.SelectDevice(f.Device);
    f.Frame.Timer1Timer();
    QCOMPARE(f.Frame.CHA.OUTPUT_PEAK_VOLTAGE->MaxValue(), 255); // the design value until a model sets it
    f.Meters();
    f.Frame.Timer1Timer();
    for (TDeviceFrame::TChannel* c : {&f.Frame.CHA, &f.Frame.CHB}) {
        QCOMPARE(c->OUTPUT_PEAK_VOLTAGE->MaxValue(), 155);
        QCOMPARE(c->OUTPUT_AVERAGE_VOLTAGE->MaxValue(), 155);
        QCOMPARE(c->OUTPUT_AVERAGE_CURRENT->MaxValue(), 35);
        QCOMPARE(c->OUTPUT_POWER->MaxValue(), 4000);
    }
    TDevice* other = new TDevice(f.Device->Group(), "192.168.1.21", "B", "B");
    TDeviceStatus s = StatusInLine(*other);
    s.PD_Model.Set("XXXXX");
    other->StoreStatus(s);
    f.Frame.SelectDevice(other);
    f.Frame.Timer1Timer();
    QCOMPARE(f.Frame.PD_Model->text(), QStringLiteral("XXXXXX"));
    QCOMPARE(f.Frame.CHB.OUTPUT_POWER->MaxValue(), 4000);
    s.PD_Model.Set("KV-20");
    other->StoreStatus(s);
    f.Frame.Timer1Timer();
    QCOMPARE(f.Frame.CHB.OUTPUT_POWER->MaxValue(), 2500);
    QCOMPARE(f.Frame.CHA.OUTPUT_PEAK_VOLTAGE->MaxValue(), 100);
}

void TestDeviceFrame::channelStateTwoShowsNeitherPicture() {
    TPanelFixture f;
    TDeviceStatus s = f.Device->Status();
    s.PD_CHA_Status = 2;
    s.PD_CHB_Status = 1;
    f.Device->StoreStatus(s);
    f.Frame.SelectDevice(f.Device);
    f.Frame.Timer1Timer();
    QVERIFY(f.Frame.isVisible()); // state 1 needs only non-zero channel states
    QVERIFY(!f.Frame.CHA.AS_O->isVisible());
    QVERIFY(!f.Frame.CHA.AS_F->isVisible());
    QVERIFY(f.Frame.CHB.AS_O->isVisible());
    QVERIFY(!f.Frame.CHB.AS_F->isVisible());
}

void TestDeviceFrame::unreadableFieldShowsAQuestionMarkAlone_data() {
    QTest::addColumn<int>("offset");        // of the one bad character in the status block
    QTest::addColumn<QStringList>("shown"); // PSU, AMP, FAN
    QTest::newRow("PSU temperature") << 21 << QStringList{"?", "52 °C", "70 %"};
    QTest::newRow("amplifier temperature") << 19 << QStringList{"45 °C", "?", "70 %"};
    QTest::newRow("fan speed") << 72 << QStringList{"45 °C", "52 °C", "?"};
}

void TestDeviceFrame::unreadableFieldShowsAQuestionMarkAlone() {
    QFETCH(int, offset);
    QFETCH(QStringList, shown);
    TPanelFixture f;
    f.Meters();
    TDeviceStatus s = f.Device->Status();
    reinterpret_cast<char*>(&s)[offset] = 'x';
    s.PD_CHA_Mute_Off = 0;
    f.Device->StoreStatus(s);
    f.Frame.SelectDevice(f.Device);
    QCOMPARE(QStringList({f.Frame.PD_PSU_Temperature->text(), f.Frame.PD_Amplifier_Temperature->text(),
                          f.Frame.PD_Actual_FAN_Speed->text()}),
             shown);
    // Every other field and picture is refreshed: the mute picture above all.
    QCOMPARE(f.Frame.CHA.Output_Peak_Voltage->text(), QStringLiteral("100.0 V"));
    QVERIFY(!f.Frame.CHA.MUTE_ON->isHidden());
}

void TestDeviceFrame::visibleWhileADeviceIsSelected() {
    TPanelFixture f;
    QVERIFY(f.Frame.isHidden());
    f.Frame.SelectDevice(f.Device);
    QVERIFY(f.Frame.isVisible());
    f.Frame.SelectDevice(nullptr); // a group node or no selection
    QVERIFY(f.Frame.isHidden());
    f.Frame.SelectDevice(f.Device);
    delete f.Device; // the link is cleared before the next refresh reads anything
    f.Frame.Timer1Timer();
    QVERIFY(f.Frame.isHidden());
    QCOMPARE(f.Frame.SelectedDevice(), nullptr);
}

void TestDeviceFrame::panelSaysTheStateInWords_data() {
    QTest::addColumn<QString>("steps"); // what happens to a new device (see PlaySteps)
    QTest::addColumn<int>("state");
    QTest::addColumn<QString>("banner"); // empty: none
    QTest::addColumn<bool>("dimmed");
    const int online = int(TLiveState::Online);
    const int offline = int(TLiveState::Offline);
    QTest::newRow("on-line") << "ok;wait 1999" << online << "" << false;
    QTest::newRow("channel fault") << "faultB" << int(TLiveState::ChannelFault) << "Channel B in FAULT"
                                   << false;
    QTest::newRow("not answering") << "wait 500;ok;wait 2000" << int(TLiveState::NotAnswering)
                                   << "No answer since 18:00:00" << true;
    QTest::newRow("answering again") << "ok;wait 5000;ok" << online << "" << false;
    // Corrections answered ahead of the next status request (after an Open) are answers too,
    // but they never keep readings frozen for longer than 10 s.
    QTest::newRow("busy with corrections")
        << "ok;wait 1500;cmd;wait 1500;cmd;wait 1000" << online << "" << false;
    QTest::newRow("corrections only") << "ok;wait 1900;cmd;wait 1900;cmd;wait 1900;cmd;wait 1900;cmd;wait "
                                         "1900;cmd;wait 500"
                                      << int(TLiveState::NotAnswering) << "No answer since 18:00:00" << true;
    QTest::newRow("off-line") << "ok;wait 3000;offline" << offline << "Off-line since 18:00:03" << true;
    // The silence counts from the probe's return, not from the block before the off-line spell.
    QTest::newRow("back from off-line") << "ok;offline;wait 9000;online;wait 1999" << online << "" << false;
    QTest::newRow("no status yet") << "wait 9000" << int(TLiveState::NoStatusYet) << "No status report yet"
                                   << false;
    QTest::newRow("off-line before any block") << "offline" << offline << "Off-line since 18:00:00" << false;
}

void TestDeviceFrame::panelSaysTheStateInWords() {
    QFETCH(QString, steps);
    QFETCH(int, state);
    QFETCH(QString, banner);
    QFETCH(bool, dimmed);
    TPanelFixture f;
    TDevice* d = new TDevice(f.Device->Group(), "192.168.1.21", "Other", "OTHER");
    PlaySteps(*d, f.Clock, steps);
    f.Frame.SelectDevice(f.Device);
    f.Frame.SelectDevice(d); // shown at once, never blank, whatever the state
    QCOMPARE(int(d->LiveState()), state);
    QCOMPARE(!f.Frame.StateBanner->isHidden(), !banner.isEmpty());
    if (!banner.isEmpty())
        QCOMPARE(f.Frame.StateText->text(), banner);
    QCOMPARE(!f.Frame.StaleVeil->isHidden(), dimmed);
    const bool readings = steps.contains("ok") || steps.contains("fault");
    QCOMPARE(!f.Frame.Readings->isHidden(), readings);
    if (readings) {
        QCOMPARE(f.Frame.PD_DeviceName->text(), QStringLiteral("OTHER"));
        QCOMPARE(!f.Frame.CHB.AS_F->isHidden(), state == int(TLiveState::ChannelFault));
    }
}

void TestDeviceFrame::showsWhatTheAmplifierHoldsAndMarksWhatLags() {
    TAmpRack rack;
    TAmpSim& amp = rack.Add(TAmpConfig::At("127.0.23.1"));
    // An amplifier that will not take channel A's volume: it keeps -20 dB whatever it is sent.
    amp.SetRequestObserver([&amp](const TAmpSim&, const QString& path) {
        if (path.startsWith("/common_settings_values1="))
            amp.Update([](TAmpState& s) { s.Settings[0] = std::uint8_t(LevelCode(-20)); });
    });
    QVERIFY2(rack.Start(), qPrintable(rack.ErrorString()));
    TSession session;
    TGroups* registry = session.Registry();
    registry->SetVolume(-6);
    TGroup* g = registry->FindOrAddGroup("Main", "MAIN");
    g->SetVolume_A(-12);
    g->SetVolume_B(-12);
    TDevice* device = new TDevice(g, "127.0.23.1", "Amp", "AMP01");
    session.Start();
    TDeviceFrame frame;
    frame.SelectDevice(device);
    // Channel B holds the group's -12 dB with the global -6 dB; channel A lags, and once it has
    // lagged for longer than a moment it is marked with what the project wants.
    QTRY_COMPARE_WITH_TIMEOUT(frame.CHB.Held_Volume->text(), QStringLiteral("-18dB"), 10000);
    QTRY_COMPARE_WITH_TIMEOUT(frame.CHA.Held_Volume->text(), QString::fromUtf8("-20dB ≠ -18dB"), 10000);
    QCOMPARE(frame.CHA.Held_Sensitivity->text(), QStringLiteral("-95.5dB"));
    QVERIFY(frame.CHA.Held_Volume->font().bold() && !frame.CHB.Held_Volume->font().bold());
    amp.SetRequestObserver(nullptr); // it takes the volume now
    QTRY_COMPARE_WITH_TIMEOUT(frame.CHA.Held_Volume->text(), QStringLiteral("-18dB"), 10000);
}

void TestDeviceFrame::muteClickChangesTheWishNotThePicture() {
    TPanelFixture f;
    f.Frame.SelectDevice(f.Device);
    f.Frame.Timer1Timer();
    auto* muteOffA = f.Frame.findChild<TImageButton*>("CHA_MUTE_OFF");
    auto* muteOnA = f.Frame.findChild<TImageButton*>("CHA_MUTE_ON");
    auto* muteOffB = f.Frame.findChild<TImageButton*>("CHB_MUTE_OFF");
    QVERIFY(muteOffA && muteOnA && muteOffB);
    QVERIFY(muteOffA->isVisible());
    QTest::mouseClick(muteOffA, Qt::LeftButton, Qt::NoModifier, QPoint(10, 10));
    QVERIFY(f.Device->Mute_CHA());
    QVERIFY(!f.Device->Mute_CHB());
    f.Frame.Timer1Timer();
    QVERIFY(muteOffA->isVisible()); // until the amplifier reports it
    f.Device->Reconcile();
    QVERIFY(f.Device->Commands().contains("/mute_a_on.html"));
    TDeviceStatus s = f.Device->Status();
    s.PD_CHA_Mute_Off = 0;
    f.Device->StoreStatus(s);
    f.Frame.Timer1Timer();
    QVERIFY(muteOnA->isVisible());
    QVERIFY(!muteOffA->isVisible());
    // With the group muted, inverting the device's own wish leaves the channel muted.
    f.Device->Group()->SetMute(true);
    QTest::mouseClick(muteOnA, Qt::LeftButton, Qt::NoModifier, QPoint(10, 10));
    QVERIFY(!f.Device->Mute_CHA());
    f.Frame.Timer1Timer();
    QVERIFY(muteOnA->isVisible());
    QTest::mouseClick(muteOffB, Qt::LeftButton, Qt::NoModifier, QPoint(10, 10));
    QVERIFY(f.Device->Mute_CHB());
}

void TestDeviceFrame::amplifierTextsAreShownAsPlainText() {
    TPanelFixture f;
    TDeviceStatus s = f.Device->Status();
    s.PD_GroupName.Set("<b>x\x01");
    s.PD_Model.Set("<i>&a");
    f.Device->StoreStatus(s);
    f.Frame.SelectDevice(f.Device);
    f.Frame.Timer1Timer();
    QCOMPARE(f.Frame.PD_GroupName->textFormat(), Qt::PlainText);
    QCOMPARE(f.Frame.PD_GroupName->text(), QStringLiteral("<b>x\x01"));
    QCOMPARE(f.Frame.PD_Model->text(), QStringLiteral("X<i>&a"));
    QCOMPARE(f.Frame.PD_Model->textFormat(), Qt::PlainText);
}

QTEST_MAIN(TestDeviceFrame)
#include "tst_DeviceFrame.moc"
