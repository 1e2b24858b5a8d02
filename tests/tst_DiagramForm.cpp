// The diagram window: what the six graphs paint for given histories, what the value labels show,
// when the window redraws, that a device destroyed while shown leaves it intact, and where it
// opens and whom it names.
#include "support/ModelFixture.h"
#include "tools/ampsim/AmpSim.h"
#include "ui/AlignTools.h"
#include "ui/DiagramFormUnit.h"
#include "ui/DiagramPicture.h"

#include <QDir>
#include <QLabel>
#include <QScreen>
#include <QSignalSpy>
#include <QTimer>
#include <QtTest>

#include <cstring>

namespace {

using TTextField = TStatusText<5> TDeviceStatus::*;
using TFormLabel = QLabel* TForm4::*;
// (index, value) pairs of one history; the other samples are 0.
using TSamples = QList<QPair<int, int>>;

QImage Shown(const TForm4& form) {
    return form.Image1->grab().toImage().convertToFormat(QImage::Format_RGB32);
}

// Compares a picture with the clean background in which only the columns listed as (x, bottom,
// height) are yellow; returns a description of the first difference, or empty text.
struct TYellowColumn {
    int X;
    int Bottom;
    int Height;
};
QString DifferenceFromBackground(const QImage& shown, const QList<TYellowColumn>& columns) {
    QImage expected = DiagramBackground();
    for (const TYellowColumn& c : columns)
        for (int y = c.Bottom - c.Height + 1; y <= c.Bottom; ++y)
            expected.setPixel(c.X, y, DiagramGraphColor);
    if (shown.size() != expected.size())
        return QStringLiteral("picture is %1 x %2").arg(shown.width()).arg(shown.height());
    for (int y = 0; y < expected.height(); ++y)
        for (int x = 0; x < expected.width(); ++x)
            if (shown.pixel(x, y) != expected.pixel(x, y))
                return QStringLiteral("pixel (%1, %2) is #%3, expected #%4")
                    .arg(x)
                    .arg(y)
                    .arg(shown.pixel(x, y) & 0xFFFFFF, 6, 16, QLatin1Char('0'))
                    .arg(expected.pixel(x, y) & 0xFFFFFF, 6, 16, QLatin1Char('0'));
    return QString();
}

void SaveShot(QWidget& window, const QString& name) {
    const QString dir = qEnvironmentVariable("FADELINK_SHOTS_DIR");
    if (!dir.isEmpty())
        QVERIFY(window.grab().save(QDir(dir).filePath(name)));
}

} // namespace

class TestDiagramForm : public QObject {
    Q_OBJECT
private slots:
    void samplesDrawYellowColumnsAtTheirPlaces_data();
    void samplesDrawYellowColumnsAtTheirPlaces();
    void allZeroHistoriesShowTheBareBackground();
    void valueLabelsShowTheirFieldAsPlainText_data();
    void valueLabelsShowTheirFieldAsPlainText();
    void withoutADeviceTheWindowKeepsWhatItShows();
    void destroyedDeviceLeavesTheWindowIntact_data();
    void destroyedDeviceLeavesTheWindowIntact();
    void activationRedrawsAtOnce();
    void timerRedrawsWhileHidden();
    void opensOverTheMainWindowNamingItsAmplifier();
    void simulatorHistoriesFillEveryGraph();
};

void TestDiagramForm::samplesDrawYellowColumnsAtTheirPlaces_data() {
    QTest::addColumn<int>("area");
    QTest::addColumn<TSamples>("samples");
    QTest::addColumn<int>("columnFromRight");
    QTest::addColumn<int>("height");

    const QStringList names{"peak A", "peak B", "current A", "current B", "amp temp", "PSU temp"};
    for (int area = 0; area < 6; ++area)
        QTest::addRow("newest full scale, %s", qPrintable(names[area]))
            << area << TSamples{{511, 255}} << 0 << 85;
    QTest::newRow("oldest sample at the left end") << 0 << TSamples{{0, 255}} << 170 << 85;
    QTest::newRow("smallest visible sample") << 2 << TSamples{{511, 3}} << 0 << 1;
    QTest::newRow("sample 2 draws nothing") << 2 << TSamples{{511, 2}} << 0 << 0;
    QTest::newRow("half scale") << 4 << TSamples{{511, 128}} << 0 << 43;
    QTest::newRow("shared column shows the tallest")
        << 5 << TSamples{{511, 30}, {510, 200}, {509, 60}} << 0 << 67;
    QTest::newRow("fourth newest moves one column left") << 1 << TSamples{{508, 255}} << 1 << 85;
    QTest::newRow("20 minutes ago") << 3 << TSamples{{511 - 102, 255}} << 34 << 85;
}

void TestDiagramForm::samplesDrawYellowColumnsAtTheirPlaces() {
    QFETCH(int, area);
    QFETCH(TSamples, samples);
    QFETCH(int, columnFromRight);
    QFETCH(int, height);

    TModelFixture f;
    TDevice* device = new TDevice(f.AddGroup("G"), "127.0.16.1", "Amp", "AMP01");
    const TGraphArea& graph = DiagramGraphAreas()[size_t(area)];
    EditStatus(*device, [&](TDeviceStatus& s) {
        for (const auto& [index, value] : samples)
            (s.*graph.History)[index] = std::uint8_t(value);
    });

    TForm4 form;
    form.Timer1->stop();
    form.SetDevice(device);
    form.Refresh();

    QList<TYellowColumn> columns;
    if (height > 0)
        columns << TYellowColumn{graph.Right - columnFromRight, graph.Baseline, height};
    const QString difference = DifferenceFromBackground(Shown(form), columns);
    QVERIFY2(difference.isEmpty(), qPrintable(difference));
}

void TestDiagramForm::allZeroHistoriesShowTheBareBackground() {
    TModelFixture f;
    TDevice* device = new TDevice(f.AddGroup("G"), "127.0.16.1", "Amp", "AMP01");
    EditStatus(*device, [](TDeviceStatus& s) {
        for (const TGraphArea& graph : DiagramGraphAreas())
            std::memset(s.*graph.History, 255, TDeviceStatus::HistoryLength);
    });

    TForm4 form;
    form.Timer1->stop();
    form.SetDevice(device);
    form.Refresh();
    QVERIFY(!DifferenceFromBackground(Shown(form), {}).isEmpty());

    // Every redraw starts from the clean background, so nothing of the full graphs remains.
    EditStatus(*device, [](TDeviceStatus& s) {
        for (const TGraphArea& graph : DiagramGraphAreas())
            std::memset(s.*graph.History, 0, TDeviceStatus::HistoryLength);
    });
    form.Refresh();
    const QString difference = DifferenceFromBackground(Shown(form), {});
    QVERIFY2(difference.isEmpty(), qPrintable(difference));
}

void TestDiagramForm::valueLabelsShowTheirFieldAsPlainText_data() {
    QTest::addColumn<TTextField>("field");
    QTest::addColumn<TFormLabel>("label");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("shown");

    const QByteArray version("1.2\0\0", 5);
    QTest::newRow("main version") << &TDeviceStatus::PD_Main_SW_Version << &TForm4::PD_Main_SW_Version
                                  << version << "1.2";
    QTest::newRow("PSU version") << &TDeviceStatus::PD_PSU_SW_Version << &TForm4::PD_PSU_SW_Version << version
                                 << "1.2";
    QTest::newRow("webserver version")
        << &TDeviceStatus::PD_Webserver_SW_version << &TForm4::PD_Webserver_SW_version << version << "1.2";
    QTest::newRow("DDS version") << &TDeviceStatus::PD_DDS_SW_Version << &TForm4::PD_DDS_SW_Version << version
                                 << "1.2";
    QTest::newRow("serial number") << &TDeviceStatus::PD_Serial_Number << &TForm4::PD_Serial_Number << version
                                   << "1.2";
    QTest::newRow("five characters, no NUL")
        << &TDeviceStatus::PD_Serial_Number << &TForm4::PD_Serial_Number << QByteArray("12345") << "12345";
    QTest::newRow("text after a NUL is not shown")
        << &TDeviceStatus::PD_Serial_Number << &TForm4::PD_Serial_Number << QByteArray("AB\0CD", 5) << "AB";
    QTest::newRow("empty") << &TDeviceStatus::PD_DDS_SW_Version << &TForm4::PD_DDS_SW_Version
                           << QByteArray(5, '\0') << "";
    QTest::newRow("markup") << &TDeviceStatus::PD_Main_SW_Version << &TForm4::PD_Main_SW_Version
                            << QByteArray("<b>x<") << "<b>x<";
    QTest::newRow("entity") << &TDeviceStatus::PD_PSU_SW_Version << &TForm4::PD_PSU_SW_Version
                            << QByteArray("&amp;") << "&amp;";
    QTest::newRow("high and control bytes")
        << &TDeviceStatus::PD_Webserver_SW_version << &TForm4::PD_Webserver_SW_version
        << QByteArray("\xE9\x01\xFF\x7F>") << QString::fromLatin1("\xE9\x01\xFF\x7F>");
}

void TestDiagramForm::valueLabelsShowTheirFieldAsPlainText() {
    QFETCH(TTextField, field);
    QFETCH(TFormLabel, label);
    QFETCH(QByteArray, bytes);
    QFETCH(QString, shown);

    TModelFixture f;
    TDevice* device = new TDevice(f.AddGroup("G"), "127.0.16.1", "Amp", "AMP01");
    const TTextField fields[] = {&TDeviceStatus::PD_Main_SW_Version, &TDeviceStatus::PD_PSU_SW_Version,
                                 &TDeviceStatus::PD_Webserver_SW_version, &TDeviceStatus::PD_DDS_SW_Version,
                                 &TDeviceStatus::PD_Serial_Number};
    EditStatus(*device, [&](TDeviceStatus& s) {
        for (TTextField other : fields)
            (s.*other).Set("other");
        std::memcpy((s.*field).Chars, bytes.constData(), 5);
    });

    TForm4 form;
    form.Timer1->stop();
    QCOMPARE((form.*label)->text(), QStringLiteral("?????"));
    form.SetDevice(device);
    form.Refresh();

    QCOMPARE((form.*label)->text(), shown);
    QCOMPARE((form.*label)->textFormat(), Qt::PlainText);
    const QLabel* values[] = {form.PD_Main_SW_Version, form.PD_PSU_SW_Version, form.PD_Webserver_SW_version,
                              form.PD_DDS_SW_Version, form.PD_Serial_Number};
    for (const QLabel* other : values)
        if (other != form.*label)
            QCOMPARE(other->text(), QStringLiteral("other"));
}

void TestDiagramForm::withoutADeviceTheWindowKeepsWhatItShows() {
    TModelFixture f;
    TDevice* device = new TDevice(f.AddGroup("G"), "127.0.16.1", "Amp", "AMP01");
    EditStatus(*device, [](TDeviceStatus& s) {
        s.PD_Serial_Number.Set("10001");
        s.PD_History_Current_CHA[511] = 255;
    });

    TForm4 form;
    form.Timer1->stop();
    form.Refresh();
    QCOMPARE(form.PD_Serial_Number->text(), QStringLiteral("?????"));
    QVERIFY(DifferenceFromBackground(Shown(form), {}).isEmpty());

    form.SetDevice(device);
    form.Refresh();
    const QImage drawn = Shown(form);

    form.SetDevice(nullptr);
    EditStatus(*device, [](TDeviceStatus& s) {
        s.PD_Serial_Number.Set("99999");
        s.PD_History_Current_CHA[511] = 0;
    });
    form.Refresh();
    QCOMPARE(form.PD_Serial_Number->text(), QStringLiteral("10001"));
    QCOMPARE(Shown(form), drawn);
}

void TestDiagramForm::destroyedDeviceLeavesTheWindowIntact_data() {
    QTest::addColumn<int>("how");
    QTest::newRow("device deleted") << 0;
    QTest::newRow("its group deleted") << 1;
    QTest::newRow("registry replaced") << 2;
}

void TestDiagramForm::destroyedDeviceLeavesTheWindowIntact() {
    QFETCH(int, how);
    TModelFixture f;
    TGroup* group = f.AddGroup("G");
    TDevice* device = new TDevice(group, "127.0.16.1", "Amp", "AMP01");
    EditStatus(*device, [](TDeviceStatus& s) {
        s.PD_Serial_Number.Set("10001");
        s.PD_History_Peak_Voltage_CHA[511] = 255;
    });

    TForm4 form;
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    form.SetDevice(device);
    form.Refresh();
    const QImage drawn = Shown(form);

    if (how == 0)
        delete device;
    else if (how == 1)
        delete group;
    else
        f.Registry = std::make_unique<TGroups>();
    QVERIFY(!form.Device());

    // The next tick of the window's own timer finds no device and changes nothing.
    QSignalSpy ticks(form.Timer1, &QTimer::timeout);
    QVERIFY(ticks.wait(3000));
    form.Refresh();
    QCOMPARE(form.PD_Serial_Number->text(), QStringLiteral("10001"));
    QCOMPARE(Shown(form), drawn);
}

void TestDiagramForm::activationRedrawsAtOnce() {
    TModelFixture f;
    TDevice* device = new TDevice(f.AddGroup("G"), "127.0.16.1", "Amp", "AMP01");
    EditStatus(*device, [](TDeviceStatus& s) { s.PD_Serial_Number.Set("10001"); });

    TForm4 form;
    form.Timer1->stop();
    form.ShowDiagram(device);
    QVERIFY(form.isVisible());
    QCOMPARE(form.PD_Serial_Number->text(), QStringLiteral("10001"));
    QVERIFY(QTest::qWaitForWindowActive(&form));

    // Closing only hides; on reopening the window shows the device's current block before any
    // timer tick.
    form.close();
    QVERIFY(!form.isVisible());
    EditStatus(*device, [](TDeviceStatus& s) {
        s.PD_Serial_Number.Set("20002");
        s.PD_History_PSU_Temperature[511] = 255;
    });
    form.show();
    form.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&form));
    QCOMPARE(form.PD_Serial_Number->text(), QStringLiteral("20002"));
    const TGraphArea& psu = DiagramGraphAreas()[5];
    const QString difference = DifferenceFromBackground(Shown(form), {{psu.Right, psu.Baseline, 85}});
    QVERIFY2(difference.isEmpty(), qPrintable(difference));
}

void TestDiagramForm::timerRedrawsWhileHidden() {
    TModelFixture f;
    TDevice* device = new TDevice(f.AddGroup("G"), "127.0.16.1", "Amp", "AMP01");
    EditStatus(*device, [](TDeviceStatus& s) { s.PD_DDS_SW_Version.Set("1.15"); });

    TForm4 form;
    QCOMPARE(form.Timer1->interval(), 1000);
    form.SetDevice(device);
    QVERIFY(!form.isVisible());
    QCOMPARE(form.PD_DDS_SW_Version->text(), QStringLiteral("?????"));
    QTRY_COMPARE_WITH_TIMEOUT(form.PD_DDS_SW_Version->text(), QStringLiteral("1.15"), 2500);
}

// A simulated amplifier that has played for 100 minutes fills every history; each graph's
// newest column stands as tall as the largest of the three samples drawn there.
void TestDiagramForm::simulatorHistoriesFillEveryGraph() {
    TAmpConfig config = TAmpConfig::At("127.0.16.1");
    config.TimeScale = 0;
    config.State.Settings = {{181, 175, 191, 191, 155, 155}};
    TAmpSim amplifier(config);
    amplifier.AdvanceTime(TAmpMeters::HistorySpanSeconds + 60);

    TModelFixture f;
    TDevice* device = new TDevice(f.AddGroup("G"), amplifier.Address(), "Amp", "AMP01");
    device->StoreStatus(amplifier.BuildStatus());

    TForm4 form;
    form.Timer1->stop();
    form.ShowDiagram(device);
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    const QImage shown = Shown(form);
    for (const TGraphArea& graph : DiagramGraphAreas()) {
        const std::uint8_t* h = device->Status().*graph.History;
        const int height = DiagramSampleHeight(std::max({h[511], h[510], h[509]}));
        QVERIFY2(height > 0, graph.Title);
        QCOMPARE(shown.pixel(graph.Right, graph.Baseline - height + 1), DiagramGraphColor);
        QVERIFY2(shown.pixel(graph.Right, graph.Baseline - height) != DiagramGraphColor, graph.Title);
    }
    QCOMPARE(form.PD_Main_SW_Version->text(), QStringLiteral("3.10"));
    QCOMPARE(form.PD_Serial_Number->text(), QStringLiteral("10001"));
    SaveShot(form, QStringLiteral("diagram.png"));
}

void TestDiagramForm::opensOverTheMainWindowNamingItsAmplifier() {
    TModelFixture f;
    TDevice* device = new TDevice(f.AddGroup("G"), "127.0.16.1", "Stage left", "STL01");
    QWidget main;
    main.setGeometry(
        QRect(QPoint(40, 30), QSize(400, 300)).translated(main.screen()->availableGeometry().topLeft()));
    main.show();
    TForm4 form;
    form.ShowDiagram(device, &main);
    QCOMPARE(form.DeviceName->toolTip(), QStringLiteral("Amplifier: Stage left [STL01] 127.0.16.1"));
    const QRect area = form.screen()->availableGeometry();
    QCOMPARE(form.pos(), CentreRectOver(form.frameGeometry(), main.frameGeometry(), area).topLeft());
}

QTEST_MAIN(TestDiagramForm)
#include "tst_DiagramForm.moc"
