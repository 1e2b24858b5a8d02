#include "ui/AlignTools.h"

#include "ui/CellGrid.h"

#include <algorithm>

void FitGridToCells(TCellGrid& grid, const QSize& limit) {
    const QSize content = grid.ContentSize();
    QSize size = grid.size();
    // Bounded at every step: a height held at the limit brings a vertical scroll bar, for which
    // the second pass widens the grid.
    for (int pass = 0; pass < 2; ++pass) {
        size.setWidth(
            std::min(limit.width(), size.width() + content.width() - grid.ClientSizeAt(size).width()));
        size.setHeight(
            std::min(limit.height(), size.height() + content.height() - grid.ClientSizeAt(size).height()));
    }
    if (size != grid.size())
        grid.resize(size);
}

void MakeTopmost(QWidget& window) {
    if (window.windowFlags().testFlag(Qt::WindowStaysOnTopHint))
        return;
    const bool wasVisible = window.isVisible();
    const QRect geometry = window.geometry();
    // Changing the flags of a shown window hides it: show it again where it was, inactive.
    window.setWindowFlag(Qt::WindowStaysOnTopHint, true);
    if (wasVisible) {
        const bool showInactive = window.testAttribute(Qt::WA_ShowWithoutActivating);
        window.setAttribute(Qt::WA_ShowWithoutActivating, true);
        window.setGeometry(geometry);
        window.show();
        window.setAttribute(Qt::WA_ShowWithoutActivating, showInactive);
    }
}

void CenterInParent(QWidget& control) {
    const QWidget* parent = control.parentWidget();
    if (!parent)
        return;
    control.move((parent->width() - control.width()) / 2, (parent->height() - control.height()) / 2);
}

namespace {
QList<QWidget*> ChildControls(QWidget& panel) {
    return panel.findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly);
}

// The share of child `i` of `n` in a length, so that the shares add up to the length.
int EvenShare(int length, int n, int i) {
    const double h = double(length) / n;
    return int(h * (i + 1)) - int(h * i);
}
} // namespace

void SplitHeightsEvenly(QWidget& panel) {
    const QList<QWidget*> children = ChildControls(panel);
    const int n = int(children.size());
    for (int i = 0, top = 0; i < n; ++i) {
        const int share = EvenShare(panel.height(), n, i);
        children[i]->setGeometry(children[i]->x(), top, children[i]->width(), share);
        top += share;
    }
}

void SplitWidthsEvenly(QWidget& panel) {
    const QList<QWidget*> children = ChildControls(panel);
    const int n = int(children.size());
    for (int i = 0, left = 0; i < n; ++i) {
        const int share = EvenShare(panel.width(), n, i);
        children[i]->setGeometry(left, children[i]->y(), share, children[i]->height());
        left += share;
    }
}

QRect FitRectInto(const QRect& rect, const QRect& area) {
    if (area.isEmpty())
        return rect;
    QRect fitted(rect.topLeft(), rect.size().boundedTo(area.size()));
    fitted.moveLeft(std::clamp(fitted.left(), area.left(), area.right() - fitted.width() + 1));
    fitted.moveTop(std::clamp(fitted.top(), area.top(), area.bottom() - fitted.height() + 1));
    return fitted;
}

QRect CentreRectOver(const QRect& rect, const QRect& anchor, const QRect& area) {
    QRect centred = rect;
    centred.moveCenter(anchor.center());
    return FitRectInto(centred, area);
}
