// The device panel on status blocks built in the test.
#include "controls/ColorBar1.h"
#include "support/ModelFixture.h"
#include "ui/DeviceFrameUnit.h"
#include "ui/ImageButton.h"

#include <QLabel>
#include <QtTest>

#include <cstring>

namespace {
struct TPanelFixture : TModelFixture {
    TPanelFixture() {
        Device = new TDevice(AddGroup("G"), "192.168.1.20", "Amp", "AMP01");
        Device->Status = StatusInLine(*Device); // on-line, both channels OK
        Frame.resize(1100, 560);                // hidden until a device in state 1 is selected
    }
    // A status block with every meter field set, as an amplifier would send it.
    void Meters() {
        TDeviceStatus& s = Device->Status;
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
    void nonDigitStopsTheRefreshAtThatField();
    void visibleOnlyWhileOnlineAndOk();
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
    other->Status = StatusInLine(*other);
    other->Status.PD_Model.Set("XXXXX");
    f.Frame.SelectDevice(other);
    f.Frame.Timer1Timer();
    QCOMPARE(f.Frame.PD_Model->text(), QStringLiteral("XXXXXX"));
    QCOMPARE(f.Frame.CHB.OUTPUT_POWER->MaxValue(), 4000);
    other->Status.PD_Model.Set("KV-20");
    f.Frame.Timer1Timer();
    QCOMPARE(f.Frame.CHB.OUTPUT_POWER->MaxValue(), 2500);
    QCOMPARE(f.Frame.CHA.OUTPUT_PEAK_VOLTAGE->MaxValue(), 100);
}

void TestDeviceFrame::channelStateTwoShowsNeitherPicture() {
    TPanelFixture f;
    f.Device->Status.PD_CHA_Status = 2;
    f.Device->Status.PD_CHB_Status = 1;
    f.Frame.SelectDevice(f.Device);
    f.Frame.Timer1Timer();
    QVERIFY(f.Frame.isVisible()); // state 1 needs only non-zero channel states
    QVERIFY(!f.Frame.CHA.AS_O->isVisible());
    QVERIFY(!f.Frame.CHA.AS_F->isVisible());
    QVERIFY(f.Frame.CHB.AS_O->isVisible());
    QVERIFY(!f.Frame.CHB.AS_F->isVisible());
}

void TestDeviceFrame::nonDigitStopsTheRefreshAtThatField() {
    TPanelFixture f;
    f.Meters();
    f.Frame.SelectDevice(f.Device);
    f.Frame.Timer1Timer();
    TDeviceStatus& s = f.Device->Status;
    std::memcpy(s.PD_PSU_Temperature.Chars, "0x5", 3);
    std::memcpy(s.PD_Amplifier_Temperature.Chars, "061", 3);
    s.PD_CHA_Output_Peak_Voltage.Set(1024);
    f.Frame.Timer1Timer();
    QVERIFY(f.Frame.isVisible());
    QCOMPARE(f.Frame.PD_PSU_Temperature->text(), QString::fromUtf8("45 °C")); // everything as before
    QCOMPARE(f.Frame.PD_Amplifier_Temperature->text(), QString::fromUtf8("52 °C"));
    QCOMPARE(f.Frame.CHA.Output_Peak_Voltage->text(), QStringLiteral("100.0 V"));

    std::memcpy(s.PD_PSU_Temperature.Chars, "046", 3);
    std::memcpy(s.PD_Amplifier_Temperature.Chars, "6-1", 3);
    f.Frame.Timer1Timer();
    QCOMPARE(f.Frame.PD_PSU_Temperature->text(), QString::fromUtf8("46 °C")); // only the PSU row
    QCOMPARE(f.Frame.PSU->Position(), 46);
    QCOMPARE(f.Frame.PD_Amplifier_Temperature->text(), QString::fromUtf8("52 °C"));
    QCOMPARE(f.Frame.CHA.Output_Peak_Voltage->text(), QStringLiteral("100.0 V"));
}

void TestDeviceFrame::visibleOnlyWhileOnlineAndOk() {
    TPanelFixture f;
    QVERIFY(f.Frame.isHidden());
    f.Frame.SelectDevice(f.Device);
    QVERIFY(f.Frame.isVisible());
    f.Device->Status.PD_CHB_Status = 0;
    f.Frame.Timer1Timer();
    QVERIFY(f.Frame.isHidden());
    f.Device->Status.PD_CHB_Status = 1;
    f.Frame.Timer1Timer();
    QVERIFY(f.Frame.isVisible());
    f.Device->SetOffline(true);
    f.Frame.Timer1Timer();
    QVERIFY(f.Frame.isHidden());
    f.Device->SetOffline(false);
    f.Frame.SelectDevice(nullptr); // a group node or no selection
    QVERIFY(f.Frame.isHidden());
    TDevice* fresh = new TDevice(f.Device->Group(), "192.168.1.22", "New", "NEW");
    f.Frame.SelectDevice(fresh); // no status block yet
    QVERIFY(f.Frame.isHidden());
    f.Frame.SelectDevice(f.Device);
    delete f.Device; // the link is cleared before the next refresh reads anything
    f.Frame.Timer1Timer();
    QVERIFY(f.Frame.isHidden());
    QCOMPARE(f.Frame.SelectedDevice(), nullptr);
}

void TestDeviceFrame::muteClickChangesTheWishNotThePicture() {
    TPanelFixture f;
    f.Frame.SelectDevice(f.Device);
    f.Frame.Timer1Timer();
    QVERIFY(f.Frame.CHA.MUTE_OFF->isVisible());
    QTest::mouseClick(f.Frame.CHA.MUTE_OFF, Qt::LeftButton, Qt::NoModifier, QPoint(10, 10));
    QVERIFY(f.Device->Mute_CHA);
    QVERIFY(!f.Device->Mute_CHB);
    f.Frame.Timer1Timer();
    QVERIFY(f.Frame.CHA.MUTE_OFF->isVisible()); // until the amplifier reports it
    f.Device->Reconcile();
    QVERIFY(f.Device->Commands().contains("/mute_a_on.html"));
    f.Device->Status.PD_CHA_Mute_Off = 0;
    f.Frame.Timer1Timer();
    QVERIFY(f.Frame.CHA.MUTE_ON->isVisible());
    QVERIFY(!f.Frame.CHA.MUTE_OFF->isVisible());
    // With the group muted, inverting the device's own wish leaves the channel muted.
    f.Device->Group()->Mute = true;
    QTest::mouseClick(f.Frame.CHA.MUTE_ON, Qt::LeftButton, Qt::NoModifier, QPoint(10, 10));
    QVERIFY(!f.Device->Mute_CHA);
    f.Frame.Timer1Timer();
    QVERIFY(f.Frame.CHA.MUTE_ON->isVisible());
    QTest::mouseClick(f.Frame.CHB.MUTE_OFF, Qt::LeftButton, Qt::NoModifier, QPoint(10, 10));
    QVERIFY(f.Device->Mute_CHB);
}

void TestDeviceFrame::amplifierTextsAreShownAsPlainText() {
    TPanelFixture f;
    f.Device->Status.PD_GroupName.Set("<b>x\x01");
    f.Device->Status.PD_Model.Set("<i>&a");
    f.Frame.SelectDevice(f.Device);
    f.Frame.Timer1Timer();
    QCOMPARE(f.Frame.PD_GroupName->textFormat(), Qt::PlainText);
    QCOMPARE(f.Frame.PD_GroupName->text(), QStringLiteral("<b>x\x01"));
    QCOMPARE(f.Frame.PD_Model->text(), QStringLiteral("X<i>&a"));
    QCOMPARE(f.Frame.PD_Model->textFormat(), Qt::PlainText);
}

QTEST_MAIN(TestDeviceFrame)
#include "tst_DeviceFrame.moc"
