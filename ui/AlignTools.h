#pragma once

#include <QRect>
#include <QSize>
#include <QWidget>

class TCellGrid;

// Centres `control` in its parent's client area: left = (parent width - width) / 2, top =
// (parent height - height) / 2, truncating; its size is kept. Nothing happens without a parent.
void CenterInParent(QWidget& control);

// Gives the children of `panel`, in child order, heights that split its client height evenly:
// child i gets floor(h * (i + 1)) - floor(h * i) with h = height / n, so they add up exactly.
// A panel without child widgets is left alone.
void SplitHeightsEvenly(QWidget& panel);
// The same with the client width and the children's widths.
void SplitWidthsEvenly(QWidget& panel);

// Sizes a grid so that its client area holds all its cells exactly, no more and no less, but
// never larger than `limit` (the grid then scrolls, its fixed rows and columns staying in view).
// The client width and height depend on each other through the scroll bars, so both are fitted
// twice.
void FitGridToCells(TCellGrid& grid, const QSize& limit = QSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX));

// Puts a top-level window into the layer that stays above all ordinary windows, without moving,
// resizing or activating it. Nothing happens when it is there already.
void MakeTopmost(QWidget& window);

// `rect` moved, and shrunk where it is larger, so that it lies inside `area`: a window's bounds
// fitted to the screen area available to it. An empty area leaves `rect` as it is.
QRect FitRectInto(const QRect& rect, const QRect& area);

// `rect` with its centre on the centre of `anchor`, then fitted into `area` as above: a window
// centred over another without leaving the screen.
QRect CentreRectOver(const QRect& rect, const QRect& anchor, const QRect& area);
