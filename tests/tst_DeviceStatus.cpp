// The status block: layout, initial contents, acceptance by size, accessors and model limits.
#include "device/DeviceStatus.h"
#include "model/Errors.h"

#include <QtTest>

#include <cstring>

class TestDeviceStatus : public QObject {
    Q_OBJECT
private slots:
    void blockBuiltByteByByteDecodesEveryField();
    void initialContentsAreTheDocumentedBytes();
    void onlyExactly3157BytesAreAStatusBlock_data();
    void onlyExactly3157BytesAreAStatusBlock();
    void textFieldsEndAtTheFirstNul_data();
    void textFieldsEndAtTheFirstNul();
    void digitsFieldsRaiseOnNonDigits();
    void scaledValues();
    void modelLimitsAreComparedExactly_data();
    void modelLimitsAreComparedExactly();
};

void TestDeviceStatus::blockBuiltByteByByteDecodesEveryField() {
    QByteArray body(TDeviceStatus::Size, '\0');
    auto put = [&](int offset, const QByteArray& bytes) { body.replace(offset, bytes.size(), bytes); };
    put(0, QByteArray("\x01\x02\x03\x04\x05\x06", 6));
    put(6, QByteArray("\x34\x12", 2));  // CHA peak 0x1234, little-endian
    put(8, QByteArray("\x00\x02", 2));  // CHB peak 512
    put(10, QByteArray("\xff\x00", 2)); // CHA average voltage 255
    put(12, QByteArray("\x00\xff", 2)); // CHB average voltage 0xff00
    put(14, QByteArray("\x00\x04", 2)); // CHA current 1024
    put(16, QByteArray("\x01\x00", 2)); // CHB current 1
    put(18, "045");
    put(21, "067");
    put(24, QByteArray("\x01\x00\x00\x01", 4));
    put(28, "KV-20SN123M1.00W2.00P3.00D4.00");
    put(58, "8.00X4.00Y");
    put(68, QByteArray("\x50\x01", 2)); // 336
    put(70, "070zz");
    put(75, "MAIN AB C ");
    body[85] = char(11);
    body[85 + 511] = char(12);
    body[597] = char(21);
    body[1109] = char(31);
    body[1621] = char(41);
    body[2133] = char(51);
    body[2645] = char(61);
    body[3156] = char(99);

    TDeviceStatus s = TDeviceStatus::Initial();
    QVERIFY(TDeviceStatus::FromBody(body, s));
    QCOMPARE(int(s.PD_CHA_Volume), 1);
    QCOMPARE(int(s.PD_CHB_Volume), 2);
    QCOMPARE(int(s.PD_CHA_Sensitivity), 3);
    QCOMPARE(int(s.PD_CHB_Sensitivity), 4);
    QCOMPARE(int(s.PD_CHA_Limiter), 5);
    QCOMPARE(int(s.PD_CHB_Limiter), 6);
    QCOMPARE(s.PD_CHA_Output_Peak_Voltage.Value(), 0x1234u);
    QCOMPARE(s.PD_CHB_Output_Peak_Voltage.Value(), 512u);
    QCOMPARE(s.PD_CHA_Output_Average_Voltage.Value(), 255u);
    QCOMPARE(s.PD_CHB_Output_Average_Voltage.Value(), 0xff00u);
    QCOMPARE(s.PD_CHA_Output_Average_Current.Value(), 1024u);
    QCOMPARE(s.PD_CHB_Output_Average_Current.Value(), 1u);
    QCOMPARE(s.PD_Amplifier_Temperature.Value(), 45);
    QCOMPARE(s.PD_PSU_Temperature.Value(), 67);
    QCOMPARE(int(s.PD_CHA_Status), 1);
    QCOMPARE(int(s.PD_CHB_Status), 0);
    QCOMPARE(int(s.PD_CHA_Mute_Off), 0);
    QCOMPARE(int(s.PD_CHB_Mute_Off), 1);
    QCOMPARE(s.PD_Model.Text(), QStringLiteral("KV-20"));
    QCOMPARE(s.PD_Serial_Number.Text(), QStringLiteral("SN123"));
    QCOMPARE(s.PD_Main_SW_Version.Text(), QStringLiteral("M1.00"));
    QCOMPARE(s.PD_Webserver_SW_version.Text(), QStringLiteral("W2.00"));
    QCOMPARE(s.PD_PSU_SW_Version.Text(), QStringLiteral("P3.00"));
    QCOMPARE(s.PD_DDS_SW_Version.Text(), QStringLiteral("D4.00"));
    QCOMPARE(s.PD_Speaker_Impedance_CHA.Text(), QStringLiteral("8.00X"));
    QCOMPARE(s.PD_Speaker_Impedance_CHB.Text(), QStringLiteral("4.00Y"));
    QCOMPARE(s.MainsVolts(), 230);
    QCOMPARE(s.FanSpeedPercent(), 70);
    QCOMPARE(s.PD_GroupName.Text(), QStringLiteral("MAIN "));
    QCOMPARE(s.PD_DeviceName.Text(), QStringLiteral("AB C "));
    QCOMPARE(int(s.PD_History_Peak_Voltage_CHA[0]), 11);
    QCOMPARE(int(s.PD_History_Peak_Voltage_CHA[511]), 12);
    QCOMPARE(int(s.PD_History_Peak_Voltage_CHB[0]), 21);
    QCOMPARE(int(s.PD_History_Amplifier_Temperature[0]), 31);
    QCOMPARE(int(s.PD_History_Current_CHA[0]), 41);
    QCOMPARE(int(s.PD_History_Current_CHB[0]), 51);
    QCOMPARE(int(s.PD_History_PSU_Temperature[0]), 61);
    QCOMPARE(int(s.PD_History_PSU_Temperature[511]), 99);
    QCOMPARE(s.ToBody(), body);
}

void TestDeviceStatus::initialContentsAreTheDocumentedBytes() {
    const QByteArray b = TDeviceStatus::Initial().ToBody();
    QCOMPARE(b.size(), 3157);
    QCOMPARE(b.left(18), QByteArray(18, '\0'));
    QCOMPARE(b.mid(18, 6), QByteArray("000000"));
    QCOMPARE(b.mid(24, 4), QByteArray(4, '\0'));
    QCOMPARE(b.mid(28, 30), QByteArray(30, 'X'));
    QCOMPARE(b.mid(58, 10), QByteArray("0000000000"));
    QCOMPARE(b.mid(68, 2), QByteArray(2, '\0'));
    QCOMPARE(b.mid(70, 5), QByteArray("00000"));
    QCOMPARE(b.mid(75, 10), QByteArray(10, 'X'));
    QCOMPARE(b.mid(85), QByteArray(3157 - 85, '\0'));

    const TDeviceStatus s = TDeviceStatus::Initial();
    QCOMPARE(s.PD_Model.Text(), QStringLiteral("XXXXX"));
    QCOMPARE(int(s.PD_CHA_Status), 0); // both channels FAULT
    QCOMPARE(int(s.PD_CHB_Status), 0);
    QVERIFY(!FindModelLimits(s.PD_Model.Bytes())); // no model limit applies yet
}

void TestDeviceStatus::onlyExactly3157BytesAreAStatusBlock_data() {
    QTest::addColumn<int>("size");
    QTest::addColumn<bool>("accepted");
    QTest::newRow("empty") << 0 << false;
    QTest::newRow("3156") << 3156 << false;
    QTest::newRow("3157") << 3157 << true;
    QTest::newRow("3158") << 3158 << false;
    QTest::newRow("error page") << 200 << false;
}

void TestDeviceStatus::onlyExactly3157BytesAreAStatusBlock() {
    QFETCH(int, size);
    QFETCH(bool, accepted);
    TDeviceStatus s = TDeviceStatus::Initial();
    const QByteArray before = s.ToBody();
    QCOMPARE(TDeviceStatus::FromBody(QByteArray(size, char(7)), s), accepted);
    QCOMPARE(s.ToBody(), accepted ? QByteArray(3157, char(7)) : before);
}

void TestDeviceStatus::textFieldsEndAtTheFirstNul_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("text");
    QTest::newRow("NUL in the middle") << QByteArray("AB\0CD", 5) << QStringLiteral("AB");
    QTest::newRow("no NUL: whole width") << QByteArray("ABCDE") << QStringLiteral("ABCDE");
    QTest::newRow("NUL first") << QByteArray("\0BCDE", 5) << QString();
    QTest::newRow("8-bit bytes") << QByteArray("\xe9<b>\x01", 5) << QString::fromLatin1("\xe9<b>\x01");
}

void TestDeviceStatus::textFieldsEndAtTheFirstNul() {
    QFETCH(QByteArray, bytes);
    QFETCH(QString, text);
    TDeviceStatus s = TDeviceStatus::Initial();
    std::memcpy(s.PD_Model.Chars, bytes.constData(), 5);
    QCOMPARE(s.PD_Model.Text(), text);
}

void TestDeviceStatus::digitsFieldsRaiseOnNonDigits() {
    TDeviceStatus s = TDeviceStatus::Initial();
    QCOMPARE(s.PD_Amplifier_Temperature.Value(), 0);
    std::memcpy(s.PD_Amplifier_Temperature.Chars, "4 5", 3);
    try {
        s.PD_Amplifier_Temperature.Value();
        QFAIL("a blank in a digits field must raise");
    } catch (const EConvertError& e) {
        QCOMPARE(e.Message, QStringLiteral("'4 5' is not a valid integer value"));
    }
    std::memcpy(s.PD_Actual_FAN_Speed.Chars, "1x0AB", 5);
    QVERIFY_THROWS_EXCEPTION(EConvertError, s.FanSpeedPercent());
    std::memcpy(s.PD_Actual_FAN_Speed.Chars, "100\0\0", 5); // the last two characters are not used
    QCOMPARE(s.FanSpeedPercent(), 100);
}

void TestDeviceStatus::scaledValues() {
    TDeviceStatus s = TDeviceStatus::Initial();
    s.PD_Actual_AC_Input.Set(336);
    QCOMPARE(s.MainsVolts(), 230); // 230.34 cut to 230
    QCOMPARE(RawToVolts(512), 100.0);
    QCOMPARE(RawToAmperes(1024), 50.0);
    s.PD_Actual_AC_Input.Set(0xFFFF);
    QCOMPARE(s.MainsVolts(), int((65535u * 702u) / 1024u)); // no overflow at the top
}

void TestDeviceStatus::modelLimitsAreComparedExactly_data() {
    QTest::addColumn<QByteArray>("model");
    QTest::addColumn<int>("limiter");
    QTest::addColumn<int>("voltage");
    QTest::addColumn<int>("current");
    QTest::addColumn<int>("power");
    QTest::newRow("KV-20") << QByteArray("KV-20") << 100 << 100 << 35 << 2500;
    QTest::newRow("KV-30") << QByteArray("KV-30") << 155 << 155 << 35 << 4000;
    QTest::newRow("KV-40") << QByteArray("KV-40") << 175 << 175 << 35 << 6000;
    QTest::newRow("lower case") << QByteArray("kv-30") << 0 << 0 << 0 << 0;
    QTest::newRow("initial") << QByteArray("XXXXX") << 0 << 0 << 0 << 0;
    QTest::newRow("prefix") << QByteArray("KV-3") << 0 << 0 << 0 << 0;
}

void TestDeviceStatus::modelLimitsAreComparedExactly() {
    QFETCH(QByteArray, model);
    QFETCH(int, limiter);
    QFETCH(int, voltage);
    QFETCH(int, current);
    QFETCH(int, power);
    const TModelLimits* m = FindModelLimits(model);
    if (limiter == 0) {
        QVERIFY(!m);
        return;
    }
    QVERIFY(m);
    QCOMPARE(m->LimiterMax, limiter);
    QCOMPARE(m->VoltageBarMax, voltage);
    QCOMPARE(m->CurrentBarMax, current);
    QCOMPARE(m->PowerBarMax, power);
}

QTEST_GUILESS_MAIN(TestDeviceStatus)
#include "tst_DeviceStatus.moc"
