#pragma once

#include <QColor>
#include <QImage>
#include <QWidget>

enum TTrackBarOrientation { trHorizontal = 0, trVertical = 1 };

// A segmented bar meter drawn like a column of LEDs. Segments up to Position (of MaxValue) are lit in
// the colour of their zone (low, middle, high along the bar), the others show that colour dimmed to
// half. Vertical bars grow upward, horizontal ones rightward. Every accepted write redraws at once.
class TDDLedBar : public QWidget {
    Q_OBJECT

public:
    explicit TDDLedBar(QWidget* parent = nullptr);

    QColor ColorLow() const { return FColorLow; }
    QColor ColorMid() const { return FColorMid; }
    QColor ColorHi() const { return FColorHi; }
    QColor BackColor() const { return FBackColor; }
    // Stored and redrawn even when unchanged.
    void SetColorLow(const QColor& color);
    void SetColorMid(const QColor& color);
    void SetColorHi(const QColor& color);
    void SetBackColor(const QColor& color);

    TTrackBarOrientation Orientation() const { return FOrientation; }
    // On a change the width and height are exchanged, keeping the top-left corner.
    void SetOrientation(TTrackBarOrientation orientation);

    int MaxValue() const { return FMaxValue; }
    // Redrawn only when changed. A MaxValue of 0 or less shows every segment dark.
    void SetMaxValue(int value);

    int Position() const { return FPosition; }
    // Stored and redrawn even when unchanged: owners write it whenever the quantity shown changes.
    void SetPosition(int value);

    // Segment pitch in pixels. Accepted only when 2 < size < (length along the bar - 4).
    int BarSize() const { return FBarSize; }
    void SetBarSize(int size);

    // Percent from the far end covered by the middle and high zones together. Accepted only when
    // MidToHiPos < percent < 100.
    int LowToMidPos() const { return FLowToMidPos; }
    void SetLowToMidPos(int percent);

    // Percent from the far end covered by the high zone. Accepted only when 0 <= percent < LowToMidPos.
    int MidToHiPos() const { return FMidToHiPos; }
    void SetMidToHiPos(int percent);

    // (length along the bar - 2) div BarSize, from the current size.
    int SegmentCount() const;

    // The bar as it is drawn, in one image of the control's size.
    QImage Render() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    int Length() const { return FOrientation == trVertical ? height() : width(); }

    QColor FColorLow{0, 255, 0};
    QColor FColorMid{255, 255, 0};
    QColor FColorHi{255, 0, 0};
    TTrackBarOrientation FOrientation = trVertical;
    int FMaxValue = 100;
    QColor FBackColor{0, 0, 0};
    int FBarSize = 5;
    int FPosition = 0;
    int FLowToMidPos = 32;
    int FMidToHiPos = 16;
};
