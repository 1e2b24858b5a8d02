#include "ui/DiagramPicture.h"

#include <QFont>
#include <QFontMetrics>
#include <QPainter>
#include <QPen>
#include <QString>

namespace {

// Offsets of a frame's edges from its graph's right edge R and baseline B. The frames are 300
// pixels apart across and 224 down, like the graphs, so the picture keeps equal gaps.
constexpr int kFrameLeft = -183;
constexpr int kFrameRight = 101;
constexpr int kFrameTop = -139;
constexpr int kFrameBottom = 60;

// Five divisions on each axis: 20 minutes are 34 columns, a fifth of full scale is 17 pixels.
constexpr int kDivisions = 5;
constexpr int kMinutesPerDivision = 20;
constexpr int kColumnsPerDivision = (DiagramGraphColumns - 1) / kDivisions;
constexpr int kPixelsPerDivision = DiagramFullScalePixels / kDivisions;
constexpr int kMarkLength = 4;

const QColor kFrameColor(110, 110, 110);
const QColor kGridColor(55, 55, 55);
const QColor kAxisColor(190, 190, 190);
const QColor kTitleColor(255, 255, 255);
const QColor kMarkTextColor(190, 190, 190);

QFont PixelFont(int pixels, bool bold = false) {
    QFont font;
    font.setPixelSize(pixels);
    font.setBold(bold);
    return font;
}

void DrawText(QPainter& painter, const QRect& box, int flags, const QString& text) {
    painter.drawText(box, flags | Qt::TextSingleLine, text);
}

void DrawArea(QPainter& painter, const TGraphArea& area) {
    const int right = area.Right;
    const int baseline = area.Baseline;
    const int plotLeft = right - (DiagramGraphColumns - 1);
    const int plotTop = baseline - (DiagramFullScalePixels - 1);
    // The axes lie just outside the plotted pixels, so that no sample ever covers them.
    const int axisX = right + 1;
    const int axisY = baseline + 1;

    const QRect frame(QPoint(right + kFrameLeft, baseline + kFrameTop),
                      QPoint(right + kFrameRight, baseline + kFrameBottom));
    painter.setPen(kFrameColor);
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(frame.x(), frame.y(), frame.width() - 1, frame.height() - 1);

    painter.setPen(QPen(kGridColor, 1, Qt::DotLine));
    for (int k = 1; k <= kDivisions; ++k) {
        const int y = axisY - k * kPixelsPerDivision;
        painter.drawLine(plotLeft, y, right, y);
        const int x = right - k * kColumnsPerDivision;
        painter.drawLine(x, plotTop, x, baseline);
    }

    painter.setPen(kAxisColor);
    painter.drawLine(plotLeft, axisY, axisX, axisY);
    painter.drawLine(axisX, plotTop, axisX, axisY);
    for (int k = 0; k <= kDivisions; ++k) {
        const int y = axisY - k * kPixelsPerDivision;
        painter.drawLine(axisX, y, axisX + kMarkLength, y);
        const int x = right - k * kColumnsPerDivision;
        painter.drawLine(x, axisY, x, axisY + kMarkLength);
    }

    painter.setFont(PixelFont(11));
    painter.setPen(kMarkTextColor);
    const int textHeight = QFontMetrics(painter.font()).height();
    for (int k = 0; k <= kDivisions; ++k) {
        const int y = axisY - k * kPixelsPerDivision;
        DrawText(painter, QRect(axisX + kMarkLength + 4, y - textHeight / 2, 40, textHeight),
                 Qt::AlignLeft | Qt::AlignVCenter, QString::number(area.FullScale * k / kDivisions));
        const int x = right - k * kColumnsPerDivision;
        DrawText(painter, QRect(x - 20, axisY + kMarkLength + 2, 40, textHeight), Qt::AlignCenter,
                 QString::number(k * kMinutesPerDivision));
    }
    DrawText(painter, QRect(plotLeft, axisY + kMarkLength + 4 + textHeight, right - plotLeft, textHeight),
             Qt::AlignCenter, QStringLiteral("m [minute]"));
    DrawText(painter, QRect(axisX + 40, axisY - DiagramFullScalePixels / 2 - textHeight / 2, 56, textHeight),
             Qt::AlignLeft | Qt::AlignVCenter, QString::fromLatin1(area.Unit));

    painter.setFont(PixelFont(13, true));
    painter.setPen(kTitleColor);
    DrawText(painter, QRect(frame.x() + 8, frame.y() + 6, frame.width() - 16, 18),
             Qt::AlignLeft | Qt::AlignTop, QString::fromLatin1(area.Title));
}

} // namespace

const std::array<TGraphArea, 6>& DiagramGraphAreas() {
    static const std::array<TGraphArea, 6> areas{{
        {"Peak voltage CHA", &TDeviceStatus::PD_History_Peak_Voltage_CHA, 187, 147, 200, "V [Volt]"},
        {"Peak voltage CHB", &TDeviceStatus::PD_History_Peak_Voltage_CHB, 487, 147, 200, "V [Volt]"},
        {"Current CHA", &TDeviceStatus::PD_History_Current_CHA, 187, 371, 50, "A [Amps]"},
        {"Current CHB", &TDeviceStatus::PD_History_Current_CHB, 487, 371, 50, "A [Amps]"},
        {"Amplifier temp", &TDeviceStatus::PD_History_Amplifier_Temperature, 787, 147, 100, "C [Cels]"},
        {"PSU temp", &TDeviceStatus::PD_History_PSU_Temperature, 787, 371, 100, "C [Cels]"},
    }};
    return areas;
}

QImage DiagramBackground() {
    QImage picture(DiagramPictureWidth, DiagramPictureHeight, QImage::Format_RGB32);
    picture.fill(Qt::black);
    QPainter painter(&picture);
    for (const TGraphArea& area : DiagramGraphAreas())
        DrawArea(painter, area);
    return picture;
}

void DrawHistoryGraph(QImage& picture, const TGraphArea& area, const TDeviceStatus& status) {
    const std::uint8_t* history = status.*area.History;
    QPainter painter(&picture);
    for (int i = 0; i < TDeviceStatus::HistoryLength; ++i) {
        const int height = DiagramSampleHeight(history[TDeviceStatus::HistoryLength - 1 - i]);
        // The column runs from the baseline up to, but not including, baseline - height.
        if (height > 0)
            painter.fillRect(DiagramSampleColumn(area.Right, i), area.Baseline - height + 1, 1, height,
                             QColor(DiagramGraphColor));
    }
}
