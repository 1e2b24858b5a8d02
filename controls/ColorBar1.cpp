#include "controls/ColorBar1.h"

#include <QPainter>

namespace {

// Colours count as plain red-green-blue values: alpha and colour models are dropped.
QColor PlainRgb(const QColor& color) {
    const QColor rgb = color.toRgb();
    return QColor(rgb.red(), rgb.green(), rgb.blue());
}

QColor Dimmed(const QColor& color) {
    return QColor(color.red() / 2, color.green() / 2, color.blue() / 2);
}

// The integer arithmetic is done in 64 bits so that no Position overflows when scaled by 100.
// A segment is lit up to the position's share of the full scale. (Comparing the raw position with
// the segment's percentage as well would cut every bar whose full scale is below 100, such as a
// 35 A current meter, to position per cent of its length.)
bool SegmentIsDark(qint64 pct, qint64 position, qint64 maxValue) {
    if (maxValue <= 0) {
        return true;
    }
    return (position < maxValue && pct > position * 100 / maxValue) || position == 0;
}

} // namespace

TDDLedBar::TDDLedBar(QWidget* parent) : QWidget(parent) {
    // The paint covers every pixel, so Qt need not clear the background first.
    setAttribute(Qt::WA_OpaquePaintEvent);
    resize(25, 147);
}

void TDDLedBar::SetColorLow(const QColor& color) {
    FColorLow = color;
    repaint();
}

void TDDLedBar::SetColorMid(const QColor& color) {
    FColorMid = color;
    repaint();
}

void TDDLedBar::SetColorHi(const QColor& color) {
    FColorHi = color;
    repaint();
}

void TDDLedBar::SetBackColor(const QColor& color) {
    FBackColor = color;
    repaint();
}

void TDDLedBar::SetOrientation(TTrackBarOrientation orientation) {
    if (orientation == FOrientation) {
        return;
    }
    FOrientation = orientation;
    setGeometry(x(), y(), height(), width());
    repaint();
}

void TDDLedBar::SetMaxValue(int value) {
    if (value != FMaxValue) {
        FMaxValue = value;
        repaint();
    }
}

void TDDLedBar::SetPosition(int value) {
    FPosition = value;
    repaint();
}

void TDDLedBar::SetBarSize(int size) {
    if (size > 2 && size < Length() - 4 && size <= 0xFFFF) {
        FBarSize = size;
        repaint();
    }
}

void TDDLedBar::SetLowToMidPos(int percent) {
    if (percent < 100 && percent > FMidToHiPos) {
        FLowToMidPos = percent;
        repaint();
    }
}

void TDDLedBar::SetMidToHiPos(int percent) {
    if (percent >= 0 && percent <= 100 && percent < FLowToMidPos) {
        FMidToHiPos = percent;
        repaint();
    }
}

int TDDLedBar::SegmentCount() const {
    return (Length() - 2) / FBarSize;
}

QImage TDDLedBar::Render() const {
    const int w = width();
    const int h = height();
    QImage image(w, h, QImage::Format_RGB32);
    if (image.isNull()) {
        return image;
    }
    image.fill(PlainRgb(FBackColor));
    const int n = SegmentCount();
    if (n <= 0) {
        return image;
    }
    const QColor low = PlainRgb(FColorLow);
    const QColor mid = PlainRgb(FColorMid);
    const QColor hi = PlainRgb(FColorHi);
    QPainter painter(&image);
    for (int i = 1; i <= n; ++i) {
        const qint64 pct = static_cast<qint64>(i) * 100 / n;
        const QColor& zone = pct < 100 - FLowToMidPos ? low : (pct < 100 - FMidToHiPos ? mid : hi);
        const QColor fill = SegmentIsDark(pct, FPosition, FMaxValue) ? Dimmed(zone) : zone;
        // Rectangles as left, top, right, bottom with right and bottom exclusive.
        const QRect segment =
            FOrientation == trVertical
                ? QRect(QPoint(2, h - i * FBarSize), QPoint(w - 3, h - 3 - (i - 1) * FBarSize))
                : QRect(QPoint((i - 1) * FBarSize + 2, 2), QPoint(i * FBarSize - 1, h - 3));
        painter.fillRect(segment, fill);
    }
    return image;
}

void TDDLedBar::paintEvent(QPaintEvent*) {
    // Drawn off-screen first and copied in one operation, so a bar written often never flickers.
    QPainter painter(this);
    painter.drawImage(0, 0, Render());
}
