#include "ui/CellGrid.h"

#include <QFocusEvent>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QStyle>
#include <QWheelEvent>
#include <qdrawutil.h>

#include <algorithm>

namespace {
const QString kNoText;
constexpr int kWheelRows = 3;
} // namespace

TScrollBarNeed ScrollBarsNeeded(const QSize& area, const QSize& content, int barExtent) {
    // Each bar can only make the other necessary, never unnecessary: two passes settle it.
    TScrollBarNeed need;
    for (int pass = 0; pass < 2; ++pass) {
        need.Vertical = content.height() > area.height() - (need.Horizontal ? barExtent : 0);
        need.Horizontal = content.width() > area.width() - (need.Vertical ? barExtent : 0);
    }
    return need;
}

TCellGrid::TCellGrid(QWidget* parent)
    : QWidget(parent), FCells(size_t(FColCount) * size_t(FRowCount)),
      FHorzBar(new QScrollBar(Qt::Horizontal, this)), FVertBar(new QScrollBar(Qt::Vertical, this)) {
    setFocusPolicy(Qt::StrongFocus);
    // Every pixel is painted, so the background need not be cleared first.
    setAttribute(Qt::WA_OpaquePaintEvent);
    FHorzBar->hide();
    FVertBar->hide();
    connect(FHorzBar, &QScrollBar::valueChanged, this, [this](int value) { SetLeftCol(FFixedCols + value); });
    connect(FVertBar, &QScrollBar::valueChanged, this, [this](int value) { SetTopRow(FFixedRows + value); });
}

void TCellGrid::SetColCount(int count) {
    count = std::max(count, 1);
    if (count == FColCount)
        return;
    std::vector<QString> cells(size_t(count) * size_t(FRowCount));
    const int kept = std::min(count, FColCount);
    for (int row = 0; row < FRowCount; ++row)
        for (int col = 0; col < kept; ++col)
            cells[size_t(row) * size_t(count) + size_t(col)] =
                std::move(FCells[size_t(row) * size_t(FColCount) + size_t(col)]);
    FCells.swap(cells);
    FColCount = count;
    FFixedCols = std::min(FFixedCols, count - 1);
    CountsChanged();
}

void TCellGrid::SetRowCount(int count) {
    count = std::max(count, 1);
    if (count == FRowCount)
        return;
    FCells.resize(size_t(count) * size_t(FColCount));
    FRowCount = count;
    FFixedRows = std::min(FFixedRows, count - 1);
    CountsChanged();
    emit RowCountChanged();
}

bool TCellGrid::SetFixedCols(int count) {
    if (count < 0 || count >= FColCount)
        return false;
    if (count != FFixedCols) {
        FFixedCols = count;
        CountsChanged();
    }
    return true;
}

bool TCellGrid::SetFixedRows(int count) {
    if (count < 0 || count >= FRowCount)
        return false;
    if (count != FFixedRows) {
        FFixedRows = count;
        CountsChanged();
    }
    return true;
}

void TCellGrid::SetColWidth(int width) {
    width = std::max(width, 1);
    if (width != FColWidth) {
        FColWidth = width;
        CountsChanged();
    }
}

void TCellGrid::SetRowHeight(int height) {
    height = std::max(height, 1);
    if (height != FRowHeight) {
        FRowHeight = height;
        CountsChanged();
    }
}

void TCellGrid::SetGridLineWidth(int width) {
    width = std::max(width, 0);
    if (width != FLineWidth) {
        FLineWidth = width;
        CountsChanged();
    }
}

void TCellGrid::CountsChanged() {
    FCol = std::clamp(FCol, FFixedCols, FColCount - 1);
    FRow = std::clamp(FRow, FFixedRows, FRowCount - 1);
    LayoutScrollBars();
    update();
}

const QString& TCellGrid::Cell(int col, int row) const {
    if (col < 0 || col >= FColCount || row < 0 || row >= FRowCount)
        return kNoText;
    return FCells[size_t(row) * size_t(FColCount) + size_t(col)];
}

void TCellGrid::SetCell(int col, int row, const QString& text) {
    if (col < 0 || col >= FColCount || row < 0 || row >= FRowCount)
        return;
    QString& cell = FCells[size_t(row) * size_t(FColCount) + size_t(col)];
    if (cell == text)
        return;
    cell = text;
    UpdateCell(col, row);
}

void TCellGrid::UpdateCell(int col, int row) {
    if (isVisible())
        UpdateArea(CellRect(col, row));
}

void TCellGrid::UpdateArea(const QRect& rect) {
    if (!isVisible())
        return;
    // Kept inside the cell area: a region reaching into a scroll bar would repaint the bar too.
    if (!rect.isEmpty())
        update(rect.adjusted(-FLineWidth, -FLineWidth, FLineWidth, FLineWidth) & ClientRect());
}

void TCellGrid::SelectCell(int col, int row) {
    if (col < FFixedCols || col >= FColCount || row < FFixedRows || row >= FRowCount)
        return;
    if (col == FCol && row == FRow)
        return;
    UpdateCell(FCol, FRow);
    FCol = col;
    FRow = row;
    UpdateCell(FCol, FRow);
}

void TCellGrid::SetTopRow(int row) {
    row = std::clamp(row, FFixedRows, MaxTopRow());
    if (row == FTopRow)
        return;
    FTopRow = row;
    const QSignalBlocker block(FVertBar);
    FVertBar->setValue(FTopRow - FFixedRows);
    update();
}

void TCellGrid::SetLeftCol(int col) {
    col = std::clamp(col, FFixedCols, MaxLeftCol());
    if (col == FLeftCol)
        return;
    FLeftCol = col;
    const QSignalBlocker block(FHorzBar);
    FHorzBar->setValue(FLeftCol - FFixedCols);
    update();
}

QSize TCellGrid::ContentSize() const {
    return QSize(FColCount * ColPitch() - FLineWidth, FRowCount * RowPitch() - FLineWidth);
}

QSize TCellGrid::ClientSizeAt(const QSize& size) const {
    const QSize area = (size - QSize(2 * BorderWidth, 2 * BorderWidth)).expandedTo(QSize(0, 0));
    const int extent = style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, this);
    const TScrollBarNeed need = ScrollBarsNeeded(area, ContentSize(), extent);
    return QSize(std::max(0, area.width() - (need.Vertical ? extent : 0)),
                 std::max(0, area.height() - (need.Horizontal ? extent : 0)));
}

QSize TCellGrid::ClientSize() const {
    // Asked for every cell painted or changed; the style's scroll bar extent is not cheap.
    const QSize content = ContentSize();
    if (size() != FClientFor || content != FClientContent) {
        FClient = ClientSizeAt(size());
        FClientFor = size();
        FClientContent = content;
    }
    return FClient;
}

void TCellGrid::changeEvent(QEvent* event) {
    if (event->type() == QEvent::StyleChange) {
        FClientFor = QSize(-1, -1);
        LayoutScrollBars();
    }
    QWidget::changeEvent(event);
}

QRect TCellGrid::ClientRect() const {
    return QRect(QPoint(BorderWidth, BorderWidth), ClientSize());
}

int TCellGrid::ColX(int col) const {
    int x = -1;
    if (col >= 0 && col < FFixedCols)
        x = col * ColPitch();
    else if (col >= FLeftCol && col < FColCount)
        x = (FFixedCols + col - FLeftCol) * ColPitch();
    return x < ClientSize().width() ? x : -1;
}

int TCellGrid::RowY(int row) const {
    int y = -1;
    if (row >= 0 && row < FFixedRows)
        y = row * RowPitch();
    else if (row >= FTopRow && row < FRowCount)
        y = (FFixedRows + row - FTopRow) * RowPitch();
    return y < ClientSize().height() ? y : -1;
}

QRect TCellGrid::CellRect(int col, int row) const {
    const int x = ColX(col);
    const int y = RowY(row);
    if (x < 0 || y < 0)
        return QRect();
    return QRect(BorderWidth + x, BorderWidth + y, FColWidth, FRowHeight);
}

bool TCellGrid::CellAt(const QPoint& pos, int* col, int* row) const {
    const QRect client = ClientRect();
    if (!client.contains(pos))
        return false;
    const QPoint p = pos - client.topLeft();
    if (p.x() % ColPitch() >= FColWidth || p.y() % RowPitch() >= FRowHeight)
        return false;
    int c = p.x() / ColPitch();
    int r = p.y() / RowPitch();
    if (c >= FFixedCols)
        c += FLeftCol - FFixedCols;
    if (r >= FFixedRows)
        r += FTopRow - FFixedRows;
    if (c >= FColCount || r >= FRowCount)
        return false;
    *col = c;
    *row = r;
    return true;
}

int TCellGrid::MaxTopRow() const {
    const int room = ClientSize().height() - FFixedRows * RowPitch() + FLineWidth;
    const int whole = std::max(1, room / RowPitch());
    return FFixedRows + std::max(0, FRowCount - FFixedRows - whole);
}

int TCellGrid::MaxLeftCol() const {
    const int room = ClientSize().width() - FFixedCols * ColPitch() + FLineWidth;
    const int whole = std::max(1, room / ColPitch());
    return FFixedCols + std::max(0, FColCount - FFixedCols - whole);
}

void TCellGrid::LayoutScrollBars() {
    const QSize area = (size() - QSize(2 * BorderWidth, 2 * BorderWidth)).expandedTo(QSize(0, 0));
    const int extent = style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, this);
    const TScrollBarNeed need = ScrollBarsNeeded(area, ContentSize(), extent);
    const QSize client = ClientSize();

    FTopRow = std::clamp(FTopRow, FFixedRows, MaxTopRow());
    FLeftCol = std::clamp(FLeftCol, FFixedCols, MaxLeftCol());

    const QSignalBlocker blockV(FVertBar);
    FVertBar->setGeometry(BorderWidth + client.width(), BorderWidth, extent, client.height());
    FVertBar->setRange(0, MaxTopRow() - FFixedRows);
    FVertBar->setPageStep(std::max(1, (client.height() - FFixedRows * RowPitch()) / RowPitch()));
    FVertBar->setValue(FTopRow - FFixedRows);
    FVertBar->setVisible(need.Vertical);

    const QSignalBlocker blockH(FHorzBar);
    FHorzBar->setGeometry(BorderWidth, BorderWidth + client.height(), client.width(), extent);
    FHorzBar->setRange(0, MaxLeftCol() - FFixedCols);
    FHorzBar->setPageStep(std::max(1, (client.width() - FFixedCols * ColPitch()) / ColPitch()));
    FHorzBar->setValue(FLeftCol - FFixedCols);
    FHorzBar->setVisible(need.Horizontal);
}

void TCellGrid::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    LayoutScrollBars();
}

void TCellGrid::DrawPlainCell(QPainter& painter, int col, int row, const QRect& rect) const {
    const bool fixed = col < FFixedCols || row < FFixedRows;
    painter.fillRect(rect, palette().color(fixed ? QPalette::Button : QPalette::Base));
    const QString& text = Cell(col, row);
    if (text.isEmpty())
        return;
    painter.setPen(palette().color(fixed ? QPalette::ButtonText : QPalette::Text));
    painter.drawText(rect.adjusted(2, 0, -2, 0), Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, text);
}

void TCellGrid::paintEvent(QPaintEvent* event) {
    QPainter painter(this);
    const QRect dirty = event->rect();
    // Cells are skipped unless the region itself reaches them: scattered changes (a column here,
    // a column there) have a bounding rectangle that covers much more.
    const QRegion& region = event->region();
    qDrawWinPanel(&painter, rect(), palette(), true);

    const QRect client = ClientRect();
    if (FVertBar->isVisible() && FHorzBar->isVisible())
        painter.fillRect(
            QRect(client.bottomRight() + QPoint(1, 1), QSize(FVertBar->width(), FHorzBar->height())),
            palette().color(QPalette::Button));
    painter.setClipRect(client, Qt::IntersectClip);
    painter.fillRect(client & dirty, palette().color(QPalette::Base));

    const int firstCol = FFixedCols > 0 ? 0 : FLeftCol;
    const int firstRow = FFixedRows > 0 ? 0 : FTopRow;
    int lastCol = -1;
    for (int col = firstCol; col < FColCount && ColX(col) >= 0; col = NextCol(col))
        lastCol = col;
    int lastRow = -1;
    for (int row = firstRow; row < FRowCount && RowY(row) >= 0; row = NextRow(row))
        lastRow = row;
    if (lastCol < 0 || lastRow < 0)
        return;

    // Lines: everything under the cells shown, which then cover all but the gaps between them.
    const QRect shown(client.topLeft(), CellRect(lastCol, lastRow).bottomRight());
    painter.fillRect(shown & dirty, palette().color(QPalette::Mid));

    for (int row = firstRow; row <= lastRow; row = NextRow(row)) {
        for (int col = firstCol; col <= lastCol; col = NextCol(col)) {
            const QRect cell = CellRect(col, row);
            // A cell also owns the lines to its right and below, which its owner may paint.
            if (!region.intersects(cell.adjusted(0, 0, FLineWidth, FLineWidth)))
                continue;
            painter.save();
            const bool painted = OnDrawCell && OnDrawCell(painter, col, row, cell);
            painter.restore();
            if (!painted)
                DrawPlainCell(painter, col, row, cell);
            if (col == FCol && row == FRow && hasFocus() && col >= FFixedCols && row >= FFixedRows) {
                painter.save();
                painter.setCompositionMode(QPainter::RasterOp_SourceXorDestination);
                painter.setPen(QPen(Qt::white, 1, Qt::DotLine));
                painter.drawRect(cell.adjusted(1, 1, -2, -2));
                painter.restore();
            }
        }
    }
}

void TCellGrid::mousePressEvent(QMouseEvent* event) {
    int col = 0;
    int row = 0;
    if (event->button() == Qt::LeftButton && CellAt(event->position().toPoint(), &col, &row))
        SelectCell(col, row);
    QWidget::mousePressEvent(event);
}

void TCellGrid::mouseDoubleClickEvent(QMouseEvent* event) {
    int col = 0;
    int row = 0;
    // Only on a cell that can be selected: a double click on a header or between cells must
    // not act on whichever cell happened to be selected before.
    if (event->button() == Qt::LeftButton && CellAt(event->position().toPoint(), &col, &row) &&
        col >= FFixedCols && row >= FFixedRows) {
        SelectCell(col, row);
        emit DblClick();
        return;
    }
    QWidget::mouseDoubleClickEvent(event);
}

void TCellGrid::wheelEvent(QWheelEvent* event) {
    const int steps = event->angleDelta().y() / 120;
    if (steps != 0)
        SetTopRow(FTopRow - steps * kWheelRows);
    event->accept();
}

void TCellGrid::focusInEvent(QFocusEvent* event) {
    QWidget::focusInEvent(event);
    UpdateCell(FCol, FRow);
}

void TCellGrid::focusOutEvent(QFocusEvent* event) {
    QWidget::focusOutEvent(event);
    UpdateCell(FCol, FRow);
}
