#pragma once

#include "device/DeviceStatus.h"

#include <QImage>
#include <QRgb>

#include <array>
#include <cstdint>

// The picture of the diagram window: six framed graph areas, three per row, each drawing one
// 100-minute history of a status block. The clean background and the graph drawing are kept
// apart so that the window can restore the one before every redraw of the other.

constexpr int DiagramPictureWidth = 894;
constexpr int DiagramPictureHeight = 441;
// A graph spans the columns R - 170 ... R (oldest ... newest sample) and a full-scale sample
// fills the 85 pixels from the baseline up.
constexpr int DiagramGraphColumns = 171;
constexpr int DiagramFullScalePixels = 85;

constexpr QRgb DiagramGraphColor = qRgb(255, 255, 0);

using THistoryField = std::uint8_t (TDeviceStatus::*)[TDeviceStatus::HistoryLength];

struct TGraphArea {
    const char* Title;
    THistoryField History;
    int Right;        // x of the newest sample
    int Baseline;     // y of the lowest pixel of every sample
    int FullScale;    // what a sample of 255 stands for, in the unit below
    const char* Unit; // the caption of the value axis
};

// The six graph areas in drawing order: peak voltage A and B, current A and B, amplifier and
// power-supply temperature.
const std::array<TGraphArea, 6>& DiagramGraphAreas();

// Column of the sample drawn i-th from the newest: three samples share most columns.
inline int DiagramSampleColumn(int right, int i) {
    return right - (i * DiagramGraphColumns) / TDeviceStatus::HistoryLength;
}
// Height in pixels of a sample 0 ... 255; 255 gives 85, 0 gives nothing.
inline int DiagramSampleHeight(int sample) {
    return (sample * (DiagramFullScalePixels + 1)) / 256;
}

// The clean background: black, with the frames, titles, grids, axes, marks and captions.
QImage DiagramBackground();

// Draws one history as yellow columns standing on the area's baseline, newest at its right edge.
void DrawHistoryGraph(QImage& picture, const TGraphArea& area, const TDeviceStatus& status);
