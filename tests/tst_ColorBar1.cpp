#include "controls/ColorBar1.h"

#include <QTest>

#include <climits>

namespace {

QColor ColorOfLetter(QChar letter) {
    const char c = letter.toUpper().toLatin1();
    return c == 'G' ? QColor(0, 255, 0) : c == 'Y' ? QColor(255, 255, 0) : QColor(255, 0, 0);
}

QString Repeat(char c, int count) {
    return QString(count, QLatin1Char(c));
}

// The painted pixels along the middle line of the bar, from its start (the bottom of a vertical bar).
QList<QRgb> MiddleLine(TDDLedBar& bar) {
    const QImage shot = bar.grab().toImage();
    const bool vertical = bar.Orientation() == trVertical;
    QList<QRgb> line;
    for (int k = 0; k < (vertical ? bar.height() : bar.width()); ++k) {
        line << (vertical ? shot.pixel(bar.width() / 2, bar.height() - 1 - k)
                          : shot.pixel(k, bar.height() / 2));
    }
    return line;
}

// One letter per segment, read at its middle: G lime, Y yellow, R red, lower case for the
// half-bright dark version, ? otherwise. Segment i starts after 2 + (i - 1) * BarSize pixels.
QString PaintedPattern(TDDLedBar& bar) {
    const QList<QRgb> line = MiddleLine(bar);
    const int b = bar.BarSize();
    QString pattern;
    for (int i = 1; i * b <= line.size() - 2; ++i) {
        const QColor pixel(line.at((i - 1) * b + 2 + (b - 2) / 2));
        QChar letter('?');
        for (const QChar c : QStringLiteral("GYR")) {
            const QColor lit = ColorOfLetter(c);
            if (pixel == lit) {
                letter = c;
            } else if (pixel == QColor(lit.red() / 2, lit.green() / 2, lit.blue() / 2)) {
                letter = c.toLower();
            }
        }
        pattern += letter;
    }
    return pattern;
}

// Runs of non-background pixels along the middle line.
int PaintedSegments(TDDLedBar& bar) {
    int runs = 0;
    QRgb previous = bar.BackColor().rgb();
    for (const QRgb pixel : MiddleLine(bar)) {
        runs += pixel != bar.BackColor().rgb() && previous == bar.BackColor().rgb() ? 1 : 0;
        previous = pixel;
    }
    return runs;
}

class TPaintCounter : public QObject {
public:
    int Count = 0;

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        Count += event->type() == QEvent::Paint ? 1 : 0;
        return false;
    }
};

} // namespace

class TestColorBar1 : public QObject {
    Q_OBJECT

private slots:
    void segmentCountFollowsLengthAndPitch_data();
    void segmentCountFollowsLengthAndPitch();
    void segmentsLightByZoneAndPosition_data();
    void segmentsLightByZoneAndPosition();
    void segmentsKeepGapsAndMargins();
    void settersRefuseValuesBreakingTheInvariants_data();
    void settersRefuseValuesBreakingTheInvariants();
    void orientationChangeSwapsWidthAndHeight();
    void writesRedrawAtOnceAsTheirRulesSay();
};

void TestColorBar1::segmentCountFollowsLengthAndPitch_data() {
    QTest::addColumn<int>("orientation");
    QTest::addColumn<QSize>("size");
    QTest::addColumn<int>("barSize");
    QTest::addColumn<int>("segments");
    QTest::newRow("default 25 x 147") << int(trVertical) << QSize() << 5 << 29;
    QTest::newRow("device panel channel bar 15 x 337") << int(trVertical) << QSize(15, 337) << 8 << 41;
    QTest::newRow("group panel bar 9 x 309") << int(trVertical) << QSize(9, 309) << 5 << 61;
    QTest::newRow("device panel row 618 x 21") << int(trHorizontal) << QSize(618, 21) << 8 << 77;
    QTest::newRow("shorter than one segment") << int(trVertical) << QSize(25, 6) << 5 << 0;
    QTest::newRow("empty") << int(trVertical) << QSize(0, 0) << 5 << 0;
}

void TestColorBar1::segmentCountFollowsLengthAndPitch() {
    QFETCH(int, orientation);
    QFETCH(QSize, size);
    QFETCH(int, barSize);
    QFETCH(int, segments);
    TDDLedBar bar;
    bar.SetOrientation(TTrackBarOrientation(orientation));
    if (size.isValid()) {
        bar.resize(size);
    }
    bar.SetBarSize(barSize);
    bar.SetPosition(1000);
    QCOMPARE(bar.BarSize(), barSize);
    QCOMPARE(bar.SegmentCount(), segments);
    QCOMPARE(PaintedSegments(bar), segments);
}

void TestColorBar1::segmentsLightByZoneAndPosition_data() {
    QTest::addColumn<int>("orientation");
    QTest::addColumn<QString>("zoneColours");
    QTest::addColumn<int>("lowToMid");
    QTest::addColumn<int>("midToHi");
    QTest::addColumn<int>("maxValue");
    QTest::addColumn<int>("position");
    QTest::addColumn<QString>("pattern");
    const int v = trVertical;
    const int h = trHorizontal; // 618 x 21, BarSize 8, 77 segments
    const QString allDefaultDark = Repeat('g', 19) + Repeat('y', 5) + Repeat('r', 5);
    QTest::newRow("default bar full: zones 1-19, 20-24, 25-29")
        << v << "GYR" << 32 << 16 << 100 << 100 << Repeat('G', 19) + Repeat('Y', 5) + Repeat('R', 5);
    QTest::newRow("position 0: every zone dark") << v << "GYR" << 32 << 16 << 100 << 0 << allDefaultDark;
    QTest::newRow("maximum 0 shows all dark") << v << "GYR" << 32 << 16 << 0 << 50 << allDefaultDark;
    QTest::newRow("largest position lights all without overflow")
        << v << "GYR" << 32 << 16 << 100 << INT_MAX << Repeat('G', 19) + Repeat('Y', 5) + Repeat('R', 5);
    QTest::newRow("75 of 150 lights segments 1 to 39")
        << h << "GYR" << 32 << 16 << 150 << 75
        << Repeat('G', 39) + Repeat('g', 13) + Repeat('y', 12) + Repeat('r', 13);
    QTest::newRow("200 of 150 lights all")
        << h << "GYR" << 32 << 16 << 150 << 200 << Repeat('G', 52) + Repeat('Y', 12) + Repeat('R', 13);
    QTest::newRow("-5 of 150 lights none")
        << h << "GYR" << 32 << 16 << 150 << -5 << Repeat('g', 52) + Repeat('y', 12) + Repeat('r', 13);
    QTest::newRow("10 of 35 lights its share of the scale, not 10 per cent")
        << h << "GYR" << 32 << 16 << 35 << 10
        << Repeat('G', 22) + Repeat('g', 30) + Repeat('y', 12) + Repeat('r', 13);
    QTest::newRow("35 of 35 lights all")
        << h << "GYR" << 32 << 16 << 35 << 35 << Repeat('G', 52) + Repeat('Y', 12) + Repeat('R', 13);
    QTest::newRow("mains bar red / lime / red at 50 / 12")
        << h << "RGR" << 50 << 12 << 300 << 300 << Repeat('R', 38) + Repeat('G', 29) + Repeat('R', 10);
}

void TestColorBar1::segmentsLightByZoneAndPosition() {
    QFETCH(int, orientation);
    QFETCH(QString, zoneColours);
    QFETCH(int, lowToMid);
    QFETCH(int, midToHi);
    QFETCH(int, maxValue);
    QFETCH(int, position);
    QFETCH(QString, pattern);
    TDDLedBar bar;
    if (orientation == trHorizontal) {
        bar.SetOrientation(trHorizontal);
        bar.resize(618, 21);
        bar.SetBarSize(8);
    }
    bar.SetColorLow(ColorOfLetter(zoneColours.at(0)));
    bar.SetColorMid(ColorOfLetter(zoneColours.at(1)));
    bar.SetColorHi(ColorOfLetter(zoneColours.at(2)));
    bar.SetMidToHiPos(midToHi);
    bar.SetLowToMidPos(lowToMid);
    bar.SetMaxValue(maxValue);
    bar.SetPosition(position);
    QCOMPARE(PaintedPattern(bar), pattern);
}

void TestColorBar1::segmentsKeepGapsAndMargins() {
    TDDLedBar bar;
    bar.SetBackColor(QColor(0, 0, 200));
    bar.SetPosition(100);
    const QImage shot = bar.grab().toImage();
    QString along;
    for (const QRgb pixel : MiddleLine(bar)) {
        along += pixel == bar.BackColor().rgb() ? QLatin1Char('.') : QLatin1Char('#');
    }
    QCOMPARE(along, QString("..") + QString("###..").repeated(29));
    QString across;
    for (int x = 0; x < bar.width(); ++x) {
        across +=
            shot.pixel(x, bar.height() - 4) == bar.BackColor().rgb() ? QLatin1Char('.') : QLatin1Char('#');
    }
    QCOMPARE(across, QString("..") + Repeat('#', 21) + QString(".."));
}

void TestColorBar1::settersRefuseValuesBreakingTheInvariants_data() {
    QTest::addColumn<QStringList>("writes");
    QTest::addColumn<QList<int>>("kept"); // BarSize, LowToMidPos, MidToHiPos
    QTest::newRow("BarSize 2 refused") << QStringList{"BarSize=2"} << QList<int>{5, 32, 16};
    QTest::newRow("BarSize at length - 4 refused") << QStringList{"BarSize=143"} << QList<int>{5, 32, 16};
    QTest::newRow("BarSize at length - 5 accepted") << QStringList{"BarSize=142"} << QList<int>{142, 32, 16};
    QTest::newRow("LowToMidPos below MidToHiPos refused")
        << QStringList{"LowToMidPos=10"} << QList<int>{5, 32, 16};
    QTest::newRow("LowToMidPos 100 refused") << QStringList{"LowToMidPos=100"} << QList<int>{5, 32, 16};
    QTest::newRow("MidToHiPos first, then LowToMidPos")
        << QStringList{"MidToHiPos=5", "LowToMidPos=10"} << QList<int>{5, 10, 5};
    QTest::newRow("MidToHiPos equal to LowToMidPos refused")
        << QStringList{"MidToHiPos=32"} << QList<int>{5, 32, 16};
    QTest::newRow("negative MidToHiPos refused") << QStringList{"MidToHiPos=-1"} << QList<int>{5, 32, 16};
}

void TestColorBar1::settersRefuseValuesBreakingTheInvariants() {
    QFETCH(QStringList, writes);
    QFETCH(QList<int>, kept);
    TDDLedBar bar;
    for (const QString& write : writes) {
        const QString name = write.section('=', 0, 0);
        const int value = write.section('=', 1).toInt();
        if (name == "BarSize") {
            bar.SetBarSize(value);
        } else if (name == "LowToMidPos") {
            bar.SetLowToMidPos(value);
        } else {
            bar.SetMidToHiPos(value);
        }
    }
    QCOMPARE((QList<int>{bar.BarSize(), bar.LowToMidPos(), bar.MidToHiPos()}), kept);
    QCOMPARE(PaintedSegments(bar), bar.SegmentCount());
}

void TestColorBar1::orientationChangeSwapsWidthAndHeight() {
    QWidget parent;
    TDDLedBar bar(&parent);
    bar.move(3, 4);
    bar.SetPosition(100);
    bar.SetOrientation(trHorizontal);
    QCOMPARE(bar.geometry(), QRect(3, 4, 147, 25));
    // Segment 1 is now at the left, the high zone at the right.
    QCOMPARE(PaintedPattern(bar), Repeat('G', 19) + Repeat('Y', 5) + Repeat('R', 5));
    bar.SetOrientation(trHorizontal);
    QCOMPARE(bar.geometry(), QRect(3, 4, 147, 25));
    bar.SetOrientation(trVertical);
    QCOMPARE(bar.geometry(), QRect(3, 4, 25, 147));
}

void TestColorBar1::writesRedrawAtOnceAsTheirRulesSay() {
    TDDLedBar bar;
    bar.show();
    QVERIFY(QTest::qWaitForWindowExposed(&bar));
    TPaintCounter counter;
    bar.installEventFilter(&counter);
    // No event processing in between: each redraw must happen inside the write.
    bar.SetPosition(0);
    bar.SetPosition(0);
    bar.SetColorLow(bar.ColorLow());
    bar.SetBackColor(bar.BackColor());
    QCOMPARE(counter.Count, 4);
    bar.SetMaxValue(100);
    bar.SetBarSize(2);
    QCOMPARE(counter.Count, 4);
    bar.SetMaxValue(150);
    QCOMPARE(counter.Count, 5);
}

QTEST_MAIN(TestColorBar1)
#include "tst_ColorBar1.moc"
