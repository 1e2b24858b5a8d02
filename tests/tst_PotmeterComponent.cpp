#include "controls/PotmeterComponent.h"
#include "model/Errors.h"

#include <QCursor>
#include <QMouseEvent>
#include <QScreen>
#include <QSignalSpy>
#include <QTest>

#include <limits>

namespace {

const double kNaN = std::numeric_limits<double>::quiet_NaN();
const double kInf = std::numeric_limits<double>::infinity();
const double kHuge = std::numeric_limits<double>::max();

// The group panel's level fader: 62 wide, 0 at the top, -95.5 at the bottom.
void MakeLevelFader(TFcRPotmeter& pot, int height = 343) {
    pot.resize(62, height);
    pot.SetValueA(0);
    pot.SetValueB(-95.5);
}

// Puts the screen cursor at `global` and delivers the mouse event it would cause.
void SendMouse(TFcRPotmeter& pot, QEvent::Type type, const QPoint& global, Qt::MouseButtons buttons,
               Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    QCursor::setPos(pot.screen(), global);
    const Qt::MouseButton button = type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton;
    QMouseEvent event(type, pot.mapFromGlobal(QPointF(global)), QPointF(global), button, buttons, modifiers);
    QCoreApplication::sendEvent(&pot, &event);
}

} // namespace

class TestPotmeterComponent : public QObject {
    Q_OBJECT

private slots:
    void writingValueMapsAndClamps_data();
    void writingValueMapsAndClamps();
    void internalValueTestsEqualityBeforeClamping_data();
    void internalValueTestsEqualityBeforeClamping();
    void endsChangeValueSilentlyAndEqualEndsRaise();
    void dragFollowsCursorRows_data();
    void dragFollowsCursorRows();
    void cursorWrapsOneRowInsideTheOppositeEdge_data();
    void cursorWrapsOneRowInsideTheOppositeEdge();
    void wrapDuringDragCausesNoJump();
    void scaleTicksAndLabels_data();
    void scaleTicksAndLabels();
    void anyValuesGiveBoundedScaleAndPaint_data();
    void anyValuesGiveBoundedScaleAndPaint();
    void knobCentreRowSitsOnTickOfPosition_data();
    void knobCentreRowSitsOnTickOfPosition();
};

void TestPotmeterComponent::writingValueMapsAndClamps_data() {
    QTest::addColumn<double>("valueA");
    QTest::addColumn<double>("valueB");
    QTest::addColumn<double>("start");
    QTest::addColumn<double>("value");
    QTest::addColumn<double>("position");
    QTest::addColumn<int>("changes");
    QTest::newRow("level -32") << 0.0 << -95.5 << 0.5 << -32.0 << 0.335078534031414 << 1;
    QTest::newRow("global 0 in the middle") << 96.0 << -96.0 << 0.0 << 0.0 << 0.5 << 1;
    QTest::newRow("limiter 10 at the bottom") << 170.0 << 10.0 << 0.75 << 10.0 << 1.0 << 1;
    QTest::newRow("limiter 200 clamped to the top") << 170.0 << 10.0 << 0.75 << 200.0 << 0.0 << 1;
    QTest::newRow("beyond an end fires at that end") << 170.0 << 10.0 << 0.0 << 200.0 << 0.0 << 1;
    QTest::newRow("same position fires nothing") << 170.0 << 10.0 << 1.0 << 10.0 << 1.0 << 0;
    QTest::newRow("NaN goes to the top") << 0.0 << -95.5 << 0.5 << kNaN << 0.0 << 1;
    QTest::newRow("infinite ends go to the top") << -kInf << kInf << 0.5 << 3.0 << 0.0 << 1;
}

void TestPotmeterComponent::writingValueMapsAndClamps() {
    QFETCH(double, valueA);
    QFETCH(double, valueB);
    QFETCH(double, start);
    QFETCH(double, value);
    QFETCH(double, position);
    QFETCH(int, changes);
    TFcRPotmeter pot;
    pot.SetValueA(valueA);
    pot.SetValueB(valueB);
    pot.SetInternalValue(start);
    QSignalSpy spy(&pot, &TFcRPotmeter::OnChange);
    pot.SetValue(value);
    QCOMPARE(pot.InternalValue(), position);
    QCOMPARE(spy.count(), changes);
    if (changes > 0 && position > 0 && position < 1) {
        QCOMPARE(spy.at(0).at(0).value<TFcRPotmeter*>(), &pot);
        QCOMPARE(pot.Value(), value);
    }
}

void TestPotmeterComponent::internalValueTestsEqualityBeforeClamping_data() {
    QTest::addColumn<double>("start");
    QTest::addColumn<double>("written");
    QTest::addColumn<double>("stored");
    QTest::addColumn<int>("changes");
    QTest::newRow("same value") << 0.25 << 0.25 << 0.25 << 0;
    QTest::newRow("-0.2 at the top") << 0.0 << -0.2 << 0.0 << 1;
    QTest::newRow("1.5 at the bottom") << 1.0 << 1.5 << 1.0 << 1;
    QTest::newRow("NaN") << 0.5 << kNaN << 0.0 << 1;
    QTest::newRow("largest double") << 0.5 << kHuge << 1.0 << 1;
    QTest::newRow("minus infinity") << 0.5 << -kInf << 0.0 << 1;
}

void TestPotmeterComponent::internalValueTestsEqualityBeforeClamping() {
    QFETCH(double, start);
    QFETCH(double, written);
    QFETCH(double, stored);
    QFETCH(int, changes);
    TFcRPotmeter pot;
    pot.SetInternalValue(start);
    QSignalSpy spy(&pot, &TFcRPotmeter::OnChange);
    pot.SetInternalValue(written);
    QCOMPARE(pot.InternalValue(), stored);
    QCOMPARE(spy.count(), changes);
}

void TestPotmeterComponent::endsChangeValueSilentlyAndEqualEndsRaise() {
    TFcRPotmeter pot;
    MakeLevelFader(pot);
    QCOMPARE(pot.Value(), -47.75);
    QSignalSpy spy(&pot, &TFcRPotmeter::OnChange);
    pot.SetValueB(-48);
    QCOMPARE(pot.Value(), -24.0);
    pot.SetStep(0.5);
    pot.SetValueA(-48);
    QCOMPARE(pot.Value(), -48.0);
    try {
        pot.SetValue(-10);
        QFAIL("writing Value with equal ends must raise");
    } catch (const EFadelinkError& error) {
        QCOMPARE(error.Message, QStringLiteral("Interpolation error"));
    }
    QCOMPARE(pot.InternalValue(), 0.5);
    QCOMPARE(spy.count(), 0);
}

void TestPotmeterComponent::dragFollowsCursorRows_data() {
    QTest::addColumn<bool>("pressed");
    QTest::addColumn<int>("height");
    QTest::addColumn<int>("buttons");
    QTest::addColumn<int>("modifiers");
    QTest::addColumn<int>("dy");
    QTest::addColumn<double>("moved");
    const int left = Qt::LeftButton;
    QTest::newRow("10 px down on 343 px") << true << 343 << left << 0 << 10 << 10.0 / 274;
    QTest::newRow("10 px down with Shift")
        << true << 343 << left << int(Qt::ShiftModifier) << 10 << 1.0 / 274;
    QTest::newRow("20 px up") << true << 343 << left << 0 << -20 << -20.0 / 274;
    QTest::newRow("right button held") << true << 343 << int(Qt::RightButton) << 0 << 10 << 0.0;
    QTest::newRow("never pressed") << false << 343 << left << 0 << 10 << 0.0;
    QTest::newRow("no travel below the knob height") << true << 69 << left << 0 << 10 << 0.0;
}

void TestPotmeterComponent::dragFollowsCursorRows() {
    QFETCH(bool, pressed);
    QFETCH(int, height);
    QFETCH(int, buttons);
    QFETCH(int, modifiers);
    QFETCH(int, dy);
    QFETCH(double, moved);
    TFcRPotmeter pot;
    MakeLevelFader(pot, height);
    const QPoint start = pot.screen()->geometry().center();
    if (pressed) {
        SendMouse(pot, QEvent::MouseButtonPress, start, Qt::LeftButton);
        QCOMPARE(pot.InternalValue(), 0.5);
    }
    QSignalSpy spy(&pot, &TFcRPotmeter::OnChange);
    for (int step = 1; step <= 2; ++step) {
        // The second step is measured from where the first ended.
        SendMouse(pot, QEvent::MouseMove, start + QPoint(3, step * dy), Qt::MouseButtons(buttons),
                  Qt::KeyboardModifiers(modifiers));
        QCOMPARE(pot.InternalValue() - 0.5, step * moved);
    }
    QCOMPARE(spy.count(), moved != 0 ? 2 : 0);
}

void TestPotmeterComponent::cursorWrapsOneRowInsideTheOppositeEdge_data() {
    QTest::addColumn<QRect>("screen");
    QTest::addColumn<QPoint>("cursor");
    QTest::addColumn<QPoint>("wrapped"); // null: no wrap
    const QRect screen(0, 0, 800, 600);
    QTest::newRow("bottom row") << screen << QPoint(40, 599) << QPoint(40, 1);
    QTest::newRow("top row") << screen << QPoint(40, 0) << QPoint(40, 598);
    QTest::newRow("next to the bottom") << screen << QPoint(40, 598) << QPoint();
    QTest::newRow("screen below another") << QRect(0, 600, 800, 400) << QPoint(7, 600) << QPoint(7, 998);
    QTest::newRow("screen too low to wrap") << QRect(0, 0, 800, 2) << QPoint(0, 1) << QPoint();
}

void TestPotmeterComponent::cursorWrapsOneRowInsideTheOppositeEdge() {
    QFETCH(QRect, screen);
    QFETCH(QPoint, cursor);
    QFETCH(QPoint, wrapped);
    QCOMPARE(PotWrappedCursor(cursor, screen).value_or(QPoint()), wrapped);
}

void TestPotmeterComponent::wrapDuringDragCausesNoJump() {
    TFcRPotmeter pot;
    MakeLevelFader(pot);
    const QRect screen = pot.screen()->geometry();
    SendMouse(pot, QEvent::MouseButtonPress, QPoint(100, screen.bottom() - 5), Qt::LeftButton);
    // The move onto the bottom row only takes the cursor to the top; the next step counts from there.
    SendMouse(pot, QEvent::MouseMove, QPoint(100, screen.bottom()), Qt::LeftButton);
    QCOMPARE(QCursor::pos(pot.screen()), QPoint(100, screen.top() + 1));
    QCOMPARE(pot.InternalValue(), 0.5);
    SendMouse(pot, QEvent::MouseMove, QPoint(100, screen.top() + 5), Qt::LeftButton);
    QCOMPARE(pot.InternalValue() - 0.5, 4.0 / 274);
}

void TestPotmeterComponent::scaleTicksAndLabels_data() {
    QTest::addColumn<double>("step");
    QTest::addColumn<int>("height");
    QTest::addColumn<QStringList>("labels");
    QTest::addColumn<QList<int>>("rows");
    // Spacing doubled three times to 8 units; accumulated positions let some labels fall one short.
    QTest::newRow("group level fader")
        << 1.0 << 343
        << QStringList{"0", "-8", "-16", "-24", "-32", "-40", "-48", "-55", "-63", "-71", "-79", "-87", "-95"}
        << QList<int>{34, 56, 79, 102, 125, 148, 171, 194, 217, 240, 263, 286, 308};
    QTest::newRow("step 0: top, middle, bottom reached exactly and drawn twice")
        << 0.0 << 343 << QStringList{"0", "-47", "-95", "-95"} << QList<int>{34, 171, 308, 308};
    QTest::newRow("not taller than the knob") << 1.0 << 69 << QStringList{} << QList<int>{};
}

void TestPotmeterComponent::scaleTicksAndLabels() {
    QFETCH(double, step);
    QFETCH(int, height);
    QFETCH(QStringList, labels);
    QFETCH(QList<int>, rows);
    TFcRPotmeter pot;
    MakeLevelFader(pot, height);
    pot.SetStep(step);
    QStringList paintedLabels;
    QList<int> paintedRows;
    for (const TPotScaleTick& tick : pot.ScaleTicks(13)) {
        paintedLabels << tick.Label;
        paintedRows << tick.Row;
    }
    QCOMPARE(paintedLabels, labels);
    QCOMPARE(paintedRows, rows);
}

void TestPotmeterComponent::anyValuesGiveBoundedScaleAndPaint_data() {
    QTest::addColumn<double>("valueA");
    QTest::addColumn<double>("valueB");
    QTest::addColumn<double>("step");
    QTest::addColumn<int>("height");
    QTest::addColumn<int>("textHeight");
    const double tiny = std::numeric_limits<double>::denorm_min();
    QTest::newRow("tiny step, labels without height") << 0.0 << 1.0 << tiny << 343 << 0;
    QTest::newRow("tiny step, huge range") << -kHuge << kHuge << tiny << 343 << 13;
    QTest::newRow("NaN step") << 0.0 << 1.0 << kNaN << 343 << 13;
    QTest::newRow("infinite step") << 0.0 << 1.0 << kInf << 343 << 13;
    QTest::newRow("NaN end") << kNaN << 1.0 << 1.0 << 343 << 13;
    QTest::newRow("labels beyond 64 bits") << kHuge << -kHuge << 1.0 << 343 << 13;
    QTest::newRow("one pixel of travel") << 0.0 << 1.0 << 1.0 << 70 << 13;
    QTest::newRow("nothing to paint on") << 0.0 << 1.0 << 1.0 << 0 << 13;
}

void TestPotmeterComponent::anyValuesGiveBoundedScaleAndPaint() {
    QFETCH(double, valueA);
    QFETCH(double, valueB);
    QFETCH(double, step);
    QFETCH(int, height);
    QFETCH(int, textHeight);
    TFcRPotmeter pot;
    pot.resize(62, height);
    pot.SetValueA(valueA);
    pot.SetValueB(valueB);
    pot.SetStep(step);
    const int travel = height - TFcRPotmeter::KnobHeight;
    const std::vector<TPotScaleTick> ticks = pot.ScaleTicks(textHeight);
    if (travel > 0) {
        QVERIFY2(ticks.size() <= static_cast<size_t>(travel) + 2, qPrintable(QString::number(ticks.size())));
        QCOMPARE(ticks.back().Row, TFcRPotmeter::KnobHeight / 2 + travel);
    }
    QCOMPARE(pot.grab().isNull(), height == 0);
}

void TestPotmeterComponent::knobCentreRowSitsOnTickOfPosition_data() {
    QTest::addColumn<double>("position");
    QTest::newRow("top") << 0.0;
    QTest::newRow("-32 dB") << 0.335078534031414;
    QTest::newRow("bottom") << 1.0;
}

void TestPotmeterComponent::knobCentreRowSitsOnTickOfPosition() {
    QFETCH(double, position);
    TFcRPotmeter pot;
    MakeLevelFader(pot);
    pot.SetInternalValue(position);
    const QImage shot = pot.grab().toImage();
    const int slot = pot.width() - 20;
    const int top = static_cast<int>(274 * position);
    const int centreRow = top + TFcRPotmeter::KnobHeight / 2;
    QVERIFY2(QColor(shot.pixel(slot, centreRow)).lightness() > 200,
             "bright centre rib not on the position's row");
    QVERIFY(QColor(shot.pixel(slot, centreRow - 2)).lightness() < 60);
    // A rounded corner of the knob (the one away from the control's border) shows the control's face.
    const int cornerRow = position < 0.5 ? top + TFcRPotmeter::KnobHeight - 1 : top;
    QCOMPARE(QColor(shot.pixel(slot + 13, cornerRow)), pot.palette().color(QPalette::Button));
    QCOMPARE(QColor(shot.pixel(slot, position < 0.5 ? 300 : 40)), QColor(Qt::black));
}

QTEST_MAIN(TestPotmeterComponent)
#include "tst_PotmeterComponent.moc"
