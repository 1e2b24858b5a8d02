#include "controls/PotmeterComponent.h"

#include "model/Errors.h"

#include <QCursor>
#include <QFontMetrics>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QSvgRenderer>

#include <climits>
#include <cmath>

// Registering the images here keeps the knob available to every program that uses the fader,
// however its build links the resources; registering them again does no harm.
static void RegisterFadelinkResources() {
    Q_INIT_RESOURCE(fadelink);
}

namespace {

// Pixel coordinates and labels truncate toward zero; values beyond the integer range saturate and
// NaN gives 0, so that no property value reaches an undefined conversion.
int TruncToInt(double x) {
    if (std::isnan(x)) {
        return 0;
    }
    if (x >= static_cast<double>(INT_MAX)) {
        return INT_MAX;
    }
    if (x <= static_cast<double>(INT_MIN)) {
        return INT_MIN;
    }
    return static_cast<int>(x);
}

qint64 TruncToInt64(double x) {
    if (std::isnan(x)) {
        return 0;
    }
    // 2^63 is exactly representable; everything from there up saturates.
    if (x >= 9223372036854775808.0) {
        return LLONG_MAX;
    }
    if (x <= -9223372036854775808.0) {
        return LLONG_MIN;
    }
    return static_cast<qint64>(x);
}

QImage LoadKnobBitmap() {
    static const bool registered = (RegisterFadelinkResources(), true);
    Q_UNUSED(registered);
    QImage image(TFcRPotmeter::KnobWidth, TFcRPotmeter::KnobHeight, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QSvgRenderer renderer(QStringLiteral(":/POTISAPKA_JO.svg"));
    if (renderer.isValid()) {
        QPainter painter(&image);
        renderer.render(&painter, QRectF(0, 0, image.width(), image.height()));
    }
    return image;
}

} // namespace

double Interpolate(double x0, double x, double x1, double y0, double y1) {
    if (x1 - x0 == 0) {
        throw EFadelinkError(QStringLiteral("Interpolation error"));
    }
    return y0 + (y1 - y0) / (x1 - x0) * (x - x0);
}

double PotScaleSpacing(double valueA, double valueB, double step, int travel, int textHeight) {
    const double range = std::fabs(valueB - valueA);
    if (range == 0 || travel <= 0) {
        return 0.5;
    }
    double d = step / range;
    // Also catches NaN: a step or range that is not a number gives no usable spacing.
    if (!(d > 0)) {
        d = 0.5;
    }
    // A positive d reaches infinity after at most about two thousand doublings, which ends the loop.
    while (textHeight > travel * d) {
        d *= 2;
    }
    return d;
}

std::vector<TPotScaleTick> PotScaleTicks(double valueA, double valueB, double step, int travel,
                                         int knobHeight, int textHeight) {
    std::vector<TPotScaleTick> ticks;
    if (travel <= 0) {
        return ticks;
    }
    const double d = PotScaleSpacing(valueA, valueB, step, travel, textHeight);
    // With labels at least one pixel high there are never more ticks than rows of travel plus the
    // final one; the bound only matters for a spacing so fine that the sum would stall.
    const qint64 maxTicks = static_cast<qint64>(travel) + 2;
    double s = 0;
    for (qint64 pass = 0;; ++pass) {
        bool last = false;
        if (s > 1 || pass + 1 >= maxTicks) {
            s = 1;
            last = true;
        }
        const double label = Interpolate(0, s, 1, valueA, valueB);
        ticks.push_back({s, knobHeight / 2 + TruncToInt(travel * s), QString::number(TruncToInt64(label))});
        if (last) {
            break;
        }
        s += d;
    }
    return ticks;
}

double PotDragPosition(double position, int dy, int travel, bool fine) {
    if (travel <= 0) {
        return position;
    }
    const double valuePerPixel = 1.0 / travel;
    return fine ? position + valuePerPixel * dy / 10 : position + valuePerPixel * dy;
}

std::optional<QPoint> PotWrappedCursor(const QPoint& cursor, const QRect& screen) {
    if (screen.height() < 3) {
        return std::nullopt;
    }
    if (cursor.y() >= screen.bottom()) {
        return QPoint(cursor.x(), screen.top() + 1);
    }
    if (cursor.y() <= screen.top()) {
        return QPoint(cursor.x(), screen.bottom() - 1);
    }
    return std::nullopt;
}

TFcRPotmeter::TFcRPotmeter(QWidget* parent) : QWidget(parent), FKnobBitmap(LoadKnobBitmap()) {}

void TFcRPotmeter::SetInternalValue(double x) {
    if (x == FInternalValue) {
        return;
    }
    if (!(x >= 0)) {
        x = 0;
    } else if (x > 1) {
        x = 1;
    }
    FInternalValue = x;
    emit OnChange(this);
    update();
}

void TFcRPotmeter::SetValueA(double value) {
    if (value != FValueA) {
        FValueA = value;
        update();
    }
}

void TFcRPotmeter::SetValueB(double value) {
    if (value != FValueB) {
        FValueB = value;
        update();
    }
}

void TFcRPotmeter::SetStep(double value) {
    if (value != FStep) {
        FStep = value;
        update();
    }
}

double TFcRPotmeter::Value() const {
    return Interpolate(0, FInternalValue, 1, FValueA, FValueB);
}

void TFcRPotmeter::SetValue(double value) {
    SetInternalValue(Interpolate(FValueA, value, FValueB, 0, 1));
}

std::vector<TPotScaleTick> TFcRPotmeter::ScaleTicks(int textHeight) const {
    return PotScaleTicks(FValueA, FValueB, FStep, Travel(), KnobHeight, textHeight);
}

void TFcRPotmeter::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const int w = width();
    const int h = height();
    const int halfKh = KnobHeight / 2;
    const QBrush buttonFace = palette().button();

    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.setPen(QPen(Qt::black, 1));
    painter.setBrush(buttonFace);
    painter.drawRoundedRect(QRectF(0.5, 0.5, w - 1, h - 1), 10, 10);
    painter.setRenderHint(QPainter::Antialiasing, false);

    painter.fillRect(QRect(QPoint(w - 22, halfKh), QPoint(w - 18, h - halfKh - 1)), Qt::black);

    const int travel = Travel();
    if (travel <= 0) {
        return;
    }

    const QFontMetrics metrics(font());
    const int textHeight = metrics.height();
    painter.setPen(palette().color(QPalette::WindowText));
    for (const TPotScaleTick& tick : ScaleTicks(textHeight)) {
        painter.fillRect(QRect(w - 39, tick.Row, 10, 1), Qt::black);
        const int textWidth = metrics.horizontalAdvance(tick.Label);
        const int x = TruncToInt((w - 43) - static_cast<double>(textWidth));
        const int top = TruncToInt(travel * tick.Position - textHeight / 2 + halfKh);
        painter.fillRect(QRect(x, top, textWidth, textHeight), buttonFace);
        painter.drawText(QPoint(x, top + metrics.ascent()), tick.Label);
    }

    painter.drawImage(QPoint(w - 20 - KnobWidth / 2, TruncToInt(travel * FInternalValue)), FKnobBitmap);
}

void TFcRPotmeter::mousePressEvent(QMouseEvent* event) {
    FDragArmed = true;
    // Where the cursor was at the press, not where it is when the press is handled: moves made in
    // between still count.
    FLastCursorPos = event->globalPosition().toPoint();
    event->accept();
}

void TFcRPotmeter::mouseMoveEvent(QMouseEvent* event) {
    QScreen* cursorScreen = screen();
    if (cursorScreen) {
        if (const auto wrapped = PotWrappedCursor(QCursor::pos(cursorScreen), cursorScreen->geometry())) {
            QCursor::setPos(cursorScreen, *wrapped);
            // Read back: a platform that cannot move the cursor must not leave a false reference.
            FLastCursorPos = QCursor::pos(cursorScreen);
        }
    }
    if (!FDragArmed || !(event->buttons() & Qt::LeftButton)) {
        return;
    }
    const QPoint cursor = QCursor::pos(cursorScreen);
    const bool fine = event->modifiers() & Qt::ShiftModifier;
    SetInternalValue(PotDragPosition(FInternalValue, cursor.y() - FLastCursorPos.y(), Travel(), fine));
    FLastCursorPos = cursor;
    event->accept();
}
