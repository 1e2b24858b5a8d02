#pragma once

#include <QImage>
#include <QPoint>
#include <QRect>
#include <QString>
#include <QWidget>

#include <optional>
#include <vector>

// y0 + (y1 - y0) / (x1 - x0) * (x - x0). Raises EFadelinkError "Interpolation error" when x1 - x0 is 0.
double Interpolate(double x0, double x, double x1, double y0, double y1);

// One tick of the fader's scale: the pixel row of the tick and its label.
struct TPotScaleTick {
    double Position; // normalised, 0 at the top end, 1 at the bottom end
    int Row;
    QString Label;
};

// Normalised spacing of the scale labels: Step over the value range, doubled until a label of
// `textHeight` pixels fits between two ticks of a travel of `travel` pixels; 0.5 when there is no
// usable spacing. `travel` must be positive.
double PotScaleSpacing(double valueA, double valueB, double step, int travel, int textHeight);

// The ticks from the top end down by repeated addition of the spacing, plus a final tick at exactly
// the bottom end; empty when `travel` is not positive. Rows are knob-centre rows: half the knob
// height below the top of the travel.
std::vector<TPotScaleTick> PotScaleTicks(double valueA, double valueB, double step, int travel,
                                         int knobHeight, int textHeight);

// Where a drag of `dy` pixels (positive downward) puts a knob at `position`: pixel for pixel over the
// travel, a tenth of that when `fine`. Unchanged when the travel is not positive.
double PotDragPosition(double position, int dy, int travel, bool fine);

// The cursor position after the vertical wrap at the top and bottom rows of `screen`, or nothing when
// the cursor is not on either row. The cursor lands one row inside the opposite edge, so that the
// move the jump itself produces does not wrap it back.
std::optional<QPoint> PotWrappedCursor(const QPoint& cursor, const QRect& screen);

// The vertical fader: a knob sliding in a black slot beside a scale. Its normalised position
// InternalValue (0 at the top, 1 at the bottom) maps linearly onto the user value between ValueA (top)
// and ValueB (bottom). The user changes it only by dragging; OnChange fires on every accepted write of
// the position, by the mouse or by an owner.
class TFcRPotmeter : public QWidget {
    Q_OBJECT
    Q_PROPERTY(double Value READ Value WRITE SetValue)
    Q_PROPERTY(double InternalValue READ InternalValue WRITE SetInternalValue NOTIFY OnChange)
    Q_PROPERTY(double ValueA READ ValueA WRITE SetValueA)
    Q_PROPERTY(double ValueB READ ValueB WRITE SetValueB)
    Q_PROPERTY(double Step READ Step WRITE SetStep)

public:
    static constexpr int KnobWidth = 27;
    static constexpr int KnobHeight = 69;

    explicit TFcRPotmeter(QWidget* parent = nullptr);

    double InternalValue() const { return FInternalValue; }
    // Ignored when equal to the stored value (tested before clamping); otherwise stored clamped to
    // [0, 1] (NaN becomes 0), OnChange fires and the control repaints.
    void SetInternalValue(double x);

    double ValueA() const { return FValueA; }
    double ValueB() const { return FValueB; }
    double Step() const { return FStep; }
    // These leave the position alone, so Value changes without OnChange.
    void SetValueA(double value);
    void SetValueB(double value);
    void SetStep(double value);

    double Value() const;
    // Moves the knob to the position of `value` through SetInternalValue. Raises EFadelinkError
    // "Interpolation error" when ValueA equals ValueB; the position is then unchanged.
    void SetValue(double value);

    bool DragArmed() const { return FDragArmed; }

    // The ticks this control paints with the given label text height.
    std::vector<TPotScaleTick> ScaleTicks(int textHeight) const;

signals:
    void OnChange(TFcRPotmeter* Sender);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;

private:
    int Travel() const { return height() - KnobHeight; }

    double FInternalValue = 0.5;
    double FValueA = 0;
    double FValueB = 128;
    double FStep = 1;
    QImage FKnobBitmap;
    bool FDragArmed = false;
    QPoint FLastCursorPos;
};
