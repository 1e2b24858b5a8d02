// The mute matrix: its rows and texts, its colours and joined blocks, what a double click
// inverts, how the window follows the grid, that an unchanged project repaints nothing, and
// (against simulated amplifiers on 127.0.15.x:80) that a double click reaches the amplifier.
#include "model/Session.h"
#include "support/ModelFixture.h"
#include "tools/ampsim/AmpRack.h"
#include "ui/CellGrid.h"
#include "ui/MuteFormUnit.h"
#include "ui/MuteFrameUnit.h"

#include <QDir>
#include <QPaintEvent>
#include <QTimer>
#include <QtTest>

namespace {
const QColor kMuted(128, 0, 0);
const QColor kOpen(0, 128, 0);

int CountPixels(const QImage& picture, const QColor& colour) {
    int n = 0;
    for (int y = 0; y < picture.height(); ++y)
        for (int x = 0; x < picture.width(); ++x)
            n += picture.pixelColor(x, y) == colour;
    return n;
}

// A shown mute window on a registry (or none).
struct TShownForm {
    explicit TShownForm(TGroups* registry) {
        Form.SetRegistry(registry);
        Form.show();
        Grid = Form.MuteFrame->MuteGrid;
    }
    bool Exposed() { return QTest::qWaitForWindowExposed(&Form); }
    QImage Picture() const { return Grid->grab().toImage().convertToFormat(QImage::Format_RGB32); }
    // The colour of the line just below a cell, in the middle of its width.
    QColor LineBelow(const QImage& picture, int col, int row) const {
        const QRect cell = Grid->CellRect(col, row);
        return picture.pixelColor(cell.center().x(), cell.bottom() + 1);
    }
    // The colour at a cell's edge, where neither its word nor its hatching reaches.
    QColor Inside(const QImage& picture, int col, int row) const {
        return picture.pixelColor(Grid->CellRect(col, row).topLeft() + QPoint(1, 1));
    }
    // Pixels of `colour` in the middle of a cell, inside its edge; an invalid colour counts the
    // light ones (a word's, on the dark fills).
    int Within(const QImage& picture, int col, int row, const QColor& colour) const {
        const QImage middle = picture.copy(Grid->CellRect(col, row).adjusted(3, 3, -3, -3));
        int n = 0;
        for (int y = 0; y < middle.height(); ++y)
            for (int x = 0; x < middle.width(); ++x)
                n += colour.isValid() ? middle.pixelColor(x, y) == colour : qGray(middle.pixel(x, y)) > 160;
        return n;
    }
    void DoubleClick(int col, int row) const {
        QTest::mouseDClick(Grid, Qt::LeftButton, {}, Grid->CellRect(col, row).center());
    }
    TMuteForm Form;
    TCellGrid* Grid;
};

// Every mute flag of a registry, in matrix order: per device A and B, then the group mutes,
// then the global one.
QList<bool> Flags(const TGroups& registry) {
    QList<bool> flags;
    for (const TGroup* g : registry.Groups())
        for (const TDevice* d : g->Devices())
            flags << d->Mute_CHA() << d->Mute_CHB();
    for (const TGroup* g : registry.Groups())
        flags << g->Mute();
    flags << registry.Mute();
    return flags;
}

// Records the paint events a widget receives.
class TPaintRecorder : public QObject {
public:
    explicit TPaintRecorder(QWidget* widget) { widget->installEventFilter(this); }
    QList<QRect> Painted;

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Paint)
            Painted << static_cast<QPaintEvent*>(event)->rect();
        return false;
    }
};

void SaveShot(QWidget& window, const QString& name) {
    const QString dir = qEnvironmentVariable("FADELINK_SHOTS_DIR");
    if (!dir.isEmpty())
        QVERIFY(window.grab().save(QDir(dir).filePath(name)));
}
} // namespace

class TestMuteMatrix : public QObject {
    Q_OBJECT
private slots:
    void scrollBarsNeeded_data();
    void scrollBarsNeeded();
    void noDevicesShowsAnUncolouredHeaderFittedToOneRow_data();
    void noDevicesShowsAnUncolouredHeaderFittedToOneRow();
    void rowsFollowTheCurrentRegistryInOrder();
    void mutedCellsAreDarkRedOpenOnesGreenNamesUncoloured();
    void cellsSayTheirStateAndHatchHeldChannels_data();
    void cellsSayTheirStateAndHatchHeldChannels();
    void groupColumnJoinsWithinOneGroupOnly_data();
    void groupColumnJoinsWithinOneGroupOnly();
    void doubleClickInvertsTheFlagOfItsColumn_data();
    void doubleClickInvertsTheFlagOfItsColumn();
    void windowFollowsTheRowCountWithinAFitPeriod_data();
    void windowFollowsTheRowCountWithinAFitPeriod();
    void unchangedProjectRepaintsNothing();
    void tallProjectScrollsUnderAFixedHeader();
    void amplifiersFollowDoubleClicks();
};

void TestMuteMatrix::scrollBarsNeeded_data() {
    QTest::addColumn<QSize>("area");
    QTest::addColumn<QSize>("content");
    QTest::addColumn<bool>("horizontal");
    QTest::addColumn<bool>("vertical");
    QTest::newRow("fits exactly") << QSize(324, 99) << QSize(324, 99) << false << false;
    QTest::newRow("too tall") << QSize(340, 99) << QSize(324, 124) << false << true;
    QTest::newRow("too wide") << QSize(300, 120) << QSize(324, 99) << true << false;
    // The vertical bar takes the width the content needed.
    QTest::newRow("too tall, bar makes it too wide") << QSize(324, 99) << QSize(324, 124) << true << true;
    // The horizontal bar takes the height the content needed.
    QTest::newRow("too wide, bar makes it too tall") << QSize(300, 99) << QSize(324, 99) << true << true;
}

void TestMuteMatrix::scrollBarsNeeded() {
    QFETCH(QSize, area);
    QFETCH(QSize, content);
    QFETCH(bool, horizontal);
    QFETCH(bool, vertical);
    const TScrollBarNeed need = ScrollBarsNeeded(area, content, 16);
    QCOMPARE(need.Horizontal, horizontal);
    QCOMPARE(need.Vertical, vertical);
}

void TestMuteMatrix::noDevicesShowsAnUncolouredHeaderFittedToOneRow_data() {
    QTest::addColumn<bool>("withRegistry");
    QTest::addColumn<bool>("withGroup");
    QTest::newRow("no registry") << false << false;
    QTest::newRow("empty registry") << true << false;
    QTest::newRow("group without devices") << true << true;
}

void TestMuteMatrix::noDevicesShowsAnUncolouredHeaderFittedToOneRow() {
    QFETCH(bool, withRegistry);
    QFETCH(bool, withGroup);
    TModelFixture f;
    if (withGroup)
        f.AddGroup("EMPTY");
    TShownForm w(withRegistry ? f.Registry.get() : nullptr);
    QVERIFY(w.Exposed());

    QCOMPARE(w.Grid->RowCount(), 1);
    QCOMPARE(w.Grid->FixedRows(), 0); // the header is the only row and cannot be fixed
    QCOMPARE(w.Grid->FixedCols(), 1);
    const QStringList header{"", "Ch A", "Ch B", "Group", "Global"};
    for (int col = 0; col < header.size(); ++col)
        QCOMPARE(w.Grid->Cell(col, 0), header[col]);

    const QImage picture = w.Picture();
    QCOMPARE(CountPixels(picture, kMuted), 0);
    QCOMPARE(CountPixels(picture, kOpen), 0);

    QCOMPARE(w.Grid->ContentSize(), QSize(5 * 64 + 4, 24));
    QCOMPARE(w.Grid->ClientSize(), w.Grid->ContentSize());
    QCOMPARE(w.Form.size(), w.Grid->size());
}

void TestMuteMatrix::rowsFollowTheCurrentRegistryInOrder() {
    TModelFixture f;
    TGroup* stage = f.AddGroup("stage");
    // A group short name with markup and a line break is only ever compared, never shown.
    TGroup* odd = f.AddGroup("<b>&amp;\n");
    TDevice* left = new TDevice(stage, "192.168.1.10", "Left", "LEFT", true, false);
    TDevice* sub = new TDevice(odd, "192.168.1.30", "Sub", "<i>S");
    TDevice* right = new TDevice(stage, "192.168.1.11", "Right", "RIGHT", false, true);
    odd->SetMute(true);
    TShownForm w(f.Registry.get());

    using TRow = QStringList;
    const QList<TRow> expected{
        {"", "Ch A", "Ch B", "Group", "Global"},
        {"LEFT ", "MSTAGE", "USTAGE", "USTAGE", "USTAGE"},
        {"RIGHT", "USTAGE", "MSTAGE", "USTAGE", "USTAGE"},
        {sub->ShortName(), "U<B>&AMP;\n", "U<B>&AMP;\n", "M<B>&AMP;\n", "U<B>&AMP;\n"},
    };
    auto rows = [&w] {
        QList<TRow> shown;
        for (int row = 0; row < w.Grid->RowCount(); ++row) {
            TRow cells;
            for (int col = 0; col < w.Grid->ColCount(); ++col)
                cells << w.Grid->Cell(col, row);
            shown << cells;
        }
        return shown;
    };
    QCOMPARE(rows(), expected);
    QCOMPARE(w.Grid->FixedRows(), 1);
    QCOMPARE(sub->ShortName(), QStringLiteral(" I S ")); // what the amplifier is told

    // A move, a global mute and another registry all show within one rebuild period.
    odd->AdoptDevice(left);
    f.Registry->SetMute(true);
    QTRY_COMPARE_WITH_TIMEOUT(w.Grid->Cell(0, 3), QStringLiteral("LEFT "), 1000);
    QCOMPARE(w.Grid->Cell(1, 3), QStringLiteral("M<B>&AMP;\n"));
    QCOMPARE(w.Grid->Cell(4, 1), QStringLiteral("MSTAGE"));
    QCOMPARE(w.Grid->Cell(0, 1), right->ShortName());

    TModelFixture other;
    new TDevice(other.AddGroup("NEW"), "192.168.1.50", "New", "NEW");
    w.Form.SetRegistry(other.Registry.get());
    QTRY_COMPARE_WITH_TIMEOUT(w.Grid->RowCount(), 2, 1000);
    QCOMPARE(w.Grid->Cell(3, 1), QStringLiteral("UNEW"));
}

void TestMuteMatrix::mutedCellsAreDarkRedOpenOnesGreenNamesUncoloured() {
    TModelFixture f;
    TGroup* front = f.AddGroup("FRONT");
    TGroup* delay = f.AddGroup("DELAY");
    new TDevice(front, "192.168.1.10", "Left", "FRL", true, false);
    new TDevice(front, "192.168.1.11", "Right", "FRR", false, false);
    new TDevice(delay, "192.168.1.20", "Delay 1", "DL1", false, true);
    new TDevice(delay, "192.168.1.21", "Delay 2", "DL2", true, true);
    delay->SetMute(true);
    TShownForm w(f.Registry.get());
    QVERIFY(w.Exposed());

    const QImage picture = w.Picture();
    const QList<QList<bool>> muted{{true, false, false, false},
                                   {false, false, false, false},
                                   {false, true, true, false},
                                   {true, true, true, false}};
    for (int row = 1; row <= 4; ++row) {
        for (int col = 1; col <= 4; ++col)
            QCOMPARE(w.Inside(picture, col, row), muted[row - 1][col - 1] ? kMuted : kOpen);
        const QColor name = w.Inside(picture, 0, row);
        QVERIFY2(name != kMuted && name != kOpen, qPrintable(name.name()));
    }
    SaveShot(w.Form, QStringLiteral("mute.png"));
}

void TestMuteMatrix::cellsSayTheirStateAndHatchHeldChannels_data() {
    QTest::addColumn<bool>("own");
    QTest::addColumn<bool>("group");
    QTest::addColumn<bool>("global");
    QTest::addColumn<QString>("steps"); // what the amplifier did (see PlaySteps)
    QTest::addColumn<QColor>("image");  // a colour of its state image in the name column
    const QColor ok(0x1e, 0x9e, 0x32), clock(0x4f, 0x6f, 0x96), noStatus(0xf2, 0xc2, 0x00);
    QTest::newRow("open, on-line") << false << false << false << "ok" << ok;
    QTest::newRow("own mute") << true << false << false << "" << noStatus;
    QTest::newRow("held by the group, not answering") << false << true << false << "ok;wait 2000" << clock;
    QTest::newRow("held by the global mute") << false << false << true << "" << noStatus;
    QTest::newRow("own mute in a muted group") << true << true << false << "" << noStatus;
}

void TestMuteMatrix::cellsSayTheirStateAndHatchHeldChannels() {
    QFETCH(bool, own);
    QFETCH(bool, group);
    QFETCH(bool, global);
    QFETCH(QString, steps);
    QFETCH(QColor, image);
    TModelFixture f;
    TGroup* g = f.AddGroup("G");
    PlaySteps(*new TDevice(g, "192.168.1.10", "Amp", "AMP", own, false), f.Clock, steps);
    g->SetMute(group);
    f.Registry->SetMute(global);
    TShownForm w(f.Registry.get());
    QVERIFY(w.Exposed());
    const QImage picture = w.Picture();
    QCOMPARE(w.Inside(picture, 1, 1), own ? kMuted : kOpen);
    for (int col = 1; col <= 4; ++col) // a word in every flag cell: not by colour alone
        QVERIFY2(w.Within(picture, col, 1, QColor()) > 10, qPrintable(QString::number(col)));
    // Hatched where the channel's own flag is open but the group or global mute holds it.
    QCOMPARE(w.Within(picture, 1, 1, kMuted) > 0, own || group || global);
    QCOMPARE(w.Within(picture, 2, 1, kMuted) > 0, group || global);
    QVERIFY(w.Within(picture, 0, 1, image) > 0);
}

void TestMuteMatrix::groupColumnJoinsWithinOneGroupOnly_data() {
    QTest::addColumn<QString>("secondShortName");
    QTest::addColumn<bool>("firstMute");
    QTest::addColumn<bool>("secondMute");
    QTest::addColumn<bool>("globalMute");
    QTest::newRow("both open") << "REAR" << false << false << false;
    QTest::newRow("both muted, global muted") << "REAR" << true << true << true;
    QTest::newRow("first muted") << "REAR" << true << false << false;
    // Renamed to "hall", the second group is named HALL too (the model still allows it).
    QTest::newRow("same short name, same state") << "hall" << false << false << true;
}

void TestMuteMatrix::groupColumnJoinsWithinOneGroupOnly() {
    QFETCH(QString, secondShortName);
    QFETCH(bool, firstMute);
    QFETCH(bool, secondMute);
    QFETCH(bool, globalMute);
    TModelFixture f;
    TGroup* first = f.AddGroup("HALL");
    TGroup* second = f.AddGroup("SECOND");
    second->SetShortName(secondShortName);
    for (TGroup* g : {first, first, second, second})
        new TDevice(g, "192.168.1.1", "Amp", "AMP");
    first->SetMute(firstMute);
    second->SetMute(secondMute);
    f.Registry->SetMute(globalMute);
    TShownForm w(f.Registry.get());
    QVERIFY(w.Exposed());

    const QImage picture = w.Picture();
    const QColor line(w.Grid->palette().color(QPalette::Mid).rgb());
    const QColor global = globalMute ? kMuted : kOpen;
    QCOMPARE(w.LineBelow(picture, 3, 1), firstMute ? kMuted : kOpen);
    QCOMPARE(w.LineBelow(picture, 3, 2), line);
    QCOMPARE(w.LineBelow(picture, 3, 3), secondMute ? kMuted : kOpen);
    for (int row = 1; row <= 3; ++row) {
        QCOMPARE(w.LineBelow(picture, 4, row), global);
        QCOMPARE(w.LineBelow(picture, 1, row), line); // channel cells are never joined
    }
}

void TestMuteMatrix::doubleClickInvertsTheFlagOfItsColumn_data() {
    QTest::addColumn<int>("col");
    QTest::addColumn<int>("row");
    QTest::addColumn<int>("flag"); // index into Flags(), or -1 for none
    // Rows: 1 A1, 2 A2 (group A), 3 B1 (group B). Flags: A1a A1b A2a A2b B1a B1b, A, B, global.
    QTest::newRow("Ch A of the first device") << 1 << 1 << 0;
    QTest::newRow("Ch B of the second device") << 2 << 2 << 3;
    QTest::newRow("Ch A of the other group's device") << 1 << 3 << 4;
    QTest::newRow("Group of the first group") << 3 << 2 << 6;
    QTest::newRow("Group of the second group") << 3 << 3 << 7;
    QTest::newRow("Global from the first row") << 4 << 1 << 8;
    QTest::newRow("Global from the last row") << 4 << 3 << 8;
    QTest::newRow("name column") << 0 << 2 << -1;
    QTest::newRow("header row") << 2 << 0 << -1;
}

void TestMuteMatrix::doubleClickInvertsTheFlagOfItsColumn() {
    QFETCH(int, col);
    QFETCH(int, row);
    QFETCH(int, flag);
    TModelFixture f;
    TGroup* a = f.AddGroup("A");
    TGroup* b = f.AddGroup("B");
    new TDevice(a, "192.168.1.1", "A1", "A1", false, true);
    new TDevice(a, "192.168.1.2", "A2", "A2");
    new TDevice(b, "192.168.1.3", "B1", "B1");
    b->SetMute(true);
    TShownForm w(f.Registry.get());
    QVERIFY(w.Exposed());
    // A selected cell elsewhere must not be what a double click on a header acts on.
    QTest::mouseClick(w.Grid, Qt::LeftButton, {}, w.Grid->CellRect(1, 3).center());
    QCOMPARE(w.Grid->Col(), 1);
    QCOMPARE(w.Grid->Row(), 3);

    const QList<bool> before = Flags(*f.Registry);
    QList<bool> expected = before;
    if (flag >= 0)
        expected[flag] = !expected[flag];
    w.DoubleClick(col, row);
    QCOMPARE(Flags(*f.Registry), expected);
    if (flag < 0)
        return;
    QCOMPARE(w.Grid->Col(), col);
    QCOMPARE(w.Grid->Row(), row);
    // Inverting shows in the grid within one rebuild, in every row the flag belongs to.
    const QString letter = expected[flag] ? "M" : "U";
    QTRY_VERIFY_WITH_TIMEOUT(w.Grid->Cell(col, row).startsWith(letter), 1000);
    if (col == 4)
        for (int r = 1; r <= 3; ++r)
            QVERIFY(w.Grid->Cell(4, r).startsWith(letter));
    w.DoubleClick(col, row);
    QCOMPARE(Flags(*f.Registry), before);
}

void TestMuteMatrix::windowFollowsTheRowCountWithinAFitPeriod_data() {
    QTest::addColumn<int>("devicesBefore");
    QTest::newRow("first device") << 0;
    QTest::newRow("third device") << 2;
}

void TestMuteMatrix::windowFollowsTheRowCountWithinAFitPeriod() {
    QFETCH(int, devicesBefore);
    TModelFixture f;
    TGroup* g = f.AddGroup("G");
    for (int i = 0; i < devicesBefore; ++i)
        new TDevice(g, "192.168.1.1", "Amp", "AMP");
    TShownForm w(f.Registry.get());
    QVERIFY(w.Exposed());
    const int before = w.Form.height();
    QCOMPARE(before, 24 + devicesBefore * 25 + 2 * TCellGrid::BorderWidth);

    auto* added = new TDevice(g, "192.168.1.2", "New", "NEW");
    QTRY_COMPARE_WITH_TIMEOUT(w.Form.height(), before + 25, TMuteForm::FitIntervalMs);
    QCOMPARE(w.Grid->ClientSize(), w.Grid->ContentSize());
    QCOMPARE(w.Form.size(), w.Grid->size());

    delete added;
    QTRY_COMPARE_WITH_TIMEOUT(w.Form.height(), before, TMuteForm::FitIntervalMs);
}

void TestMuteMatrix::unchangedProjectRepaintsNothing() {
    TModelFixture f;
    TGroup* g = f.AddGroup("G");
    TDevice* d = nullptr;
    for (int i = 0; i < 3; ++i)
        d = new TDevice(g, "192.168.1.1", "Amp", "AMP");
    TShownForm w(f.Registry.get());
    QVERIFY(w.Exposed());
    QSignalSpy settled(w.Form.MuteFrame->Timer1, &QTimer::timeout);
    QTRY_VERIFY(settled.count() >= 2);

    TPaintRecorder recorder(w.Grid);
    QSignalSpy ticks(w.Form.MuteFrame->Timer1, &QTimer::timeout);
    QTRY_VERIFY(ticks.count() >= 4);
    QCoreApplication::processEvents();
    QCOMPARE(recorder.Painted.size(), 0);

    d->SetMute_CHB(true); // the last row's Ch B cell
    QTRY_VERIFY(!recorder.Painted.isEmpty());
    const QRect cell = w.Grid->CellRect(2, 3).adjusted(-1, -1, 1, 1);
    for (const QRect& painted : std::as_const(recorder.Painted))
        QVERIFY2(cell.contains(painted), qPrintable(QStringLiteral("painted %1,%2 %3x%4")
                                                        .arg(painted.x())
                                                        .arg(painted.y())
                                                        .arg(painted.width())
                                                        .arg(painted.height())));
}

void TestMuteMatrix::tallProjectScrollsUnderAFixedHeader() {
    TModelFixture f;
    TGroup* g = f.AddGroup("G");
    for (int i = 0; i < 80; ++i)
        new TDevice(g, "192.168.1.1", "Amp", QStringLiteral("A%1").arg(i));
    TShownForm w(f.Registry.get());
    QVERIFY(w.Exposed());

    const QRect screen = w.Form.screen()->availableGeometry();
    QVERIFY(w.Grid->ContentSize().height() > screen.height());
    QVERIFY(w.Form.height() <= screen.height());
    QCOMPARE(w.Form.size(), w.Grid->size());
    QCOMPARE(w.Grid->ClientSize().width(), w.Grid->ContentSize().width()); // no horizontal bar

    w.Grid->SetTopRow(w.Grid->RowCount());
    const QRect client(QPoint(TCellGrid::BorderWidth, TCellGrid::BorderWidth), w.Grid->ClientSize());
    QCOMPARE(w.Grid->CellRect(1, 0).top(), TCellGrid::BorderWidth);
    QVERIFY(client.contains(w.Grid->CellRect(4, 80)));
    QVERIFY(w.Grid->CellRect(4, 1).isEmpty());
    QCOMPARE(w.Grid->Cell(0, 80), QStringLiteral("A79  "));

    // The window keeps to the screen on every fitting: no growing and shrinking back.
    const QSize fitted = w.Form.size();
    QSignalSpy ticks(w.Form.Timer1, &QTimer::timeout);
    QTRY_VERIFY(ticks.count() >= 2);
    QCOMPARE(w.Form.size(), fitted);
}

void TestMuteMatrix::amplifiersFollowDoubleClicks() {
    TAmpRack rack;
    TAmpSim& amp = rack.Add(TAmpConfig::At("127.0.15.1"));
    QVERIFY2(rack.Start(), qPrintable(rack.ErrorString()));

    TSession session;
    TGroups* registry = session.Registry();
    TDevice* device = new TDevice(registry->FindOrAddGroup("Stage", "STAGE"), "127.0.15.1", "Left", "LEFT");
    session.Start();
    TShownForm w(registry);
    QVERIFY(w.Exposed());
    QTRY_VERIFY_WITH_TIMEOUT(device->StatusCount() > 0, 5000);
    QVERIFY(!amp.State().MuteA && !amp.State().MuteB);

    w.DoubleClick(1, 1);
    QTRY_VERIFY_WITH_TIMEOUT(amp.State().MuteA, 5000);
    QVERIFY(!amp.State().MuteB);

    w.DoubleClick(4, 1); // global: every channel, whatever its own flag
    QTRY_VERIFY_WITH_TIMEOUT(amp.State().MuteB, 5000);
    QVERIFY(amp.State().MuteA);

    w.DoubleClick(4, 1);
    QTRY_VERIFY_WITH_TIMEOUT(!amp.State().MuteB, 5000);
    QVERIFY(amp.State().MuteA);
}

QTEST_MAIN(TestMuteMatrix)
#include "tst_MuteMatrix.moc"
