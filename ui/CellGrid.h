#pragma once

#include <QString>
#include <QWidget>

#include <functional>
#include <vector>

class QPainter;
class QScrollBar;

// Which scroll bars a grid needs to show `content` in `area` (the inside of its border): a bar
// takes room from the other direction, so one bar can make the other necessary.
struct TScrollBarNeed {
    bool Horizontal = false;
    bool Vertical = false;
};
TScrollBarNeed ScrollBarsNeeded(const QSize& area, const QSize& content, int barExtent);

// A grid of text cells, all columns one width and all rows one height, with lines of
// GridLineWidth between all cells (none after the last). The first FixedRows rows and
// FixedCols columns stay in place while the rest scrolls by whole cells; they cannot be
// selected. One other cell at a time is selected. Every cell is first drawn plainly (fixed
// cells as headers, the others on the base colour; texts are never interpreted) unless the
// owner's OnDrawCell painted it.
//
// Writing a cell's unchanged text costs a comparison and nothing else; a changed text repaints
// only that cell and the lines around it, so an owner may rewrite every cell many times a
// second.
class TCellGrid : public QWidget {
    Q_OBJECT
public:
    static constexpr int BorderWidth = 2;

    explicit TCellGrid(QWidget* parent = nullptr);

    int ColCount() const { return FColCount; }
    int RowCount() const { return FRowCount; }
    // At least 1. Fewer rows than fixed rows leaves count - 1 fixed rows (likewise columns);
    // the texts of the rows and columns that remain are kept.
    void SetColCount(int count);
    void SetRowCount(int count);

    int FixedCols() const { return FFixedCols; }
    int FixedRows() const { return FFixedRows; }
    // Refused (false, nothing changes) unless 0 <= count < ColCount or RowCount: one column
    // and one row must remain selectable.
    bool SetFixedCols(int count);
    bool SetFixedRows(int count);

    int ColWidth() const { return FColWidth; }
    int RowHeight() const { return FRowHeight; }
    int GridLineWidth() const { return FLineWidth; }
    void SetColWidth(int width);
    void SetRowHeight(int height);
    void SetGridLineWidth(int width);

    // Empty text outside the grid.
    const QString& Cell(int col, int row) const;
    // Stores the text and repaints the cell when it differs from the stored one.
    void SetCell(int col, int row, const QString& text);
    // Repaints a cell with the lines around it, for owners whose painting depends on more than
    // the cell's text.
    void UpdateCell(int col, int row);
    // Repaints an area of cells (a union of CellRects) with the lines around it, as one piece:
    // cheaper than cell by cell when many cells change together.
    void UpdateArea(const QRect& cells);

    // The selected cell, never a fixed one.
    int Col() const { return FCol; }
    int Row() const { return FRow; }
    // Ignored for fixed cells and cells outside the grid.
    void SelectCell(int col, int row);

    // The first scrollable row and column shown.
    int TopRow() const { return FTopRow; }
    int LeftCol() const { return FLeftCol; }
    void SetTopRow(int row);
    void SetLeftCol(int col);

    // A cell's rectangle in widget coordinates, without lines; empty when scrolled out of view.
    QRect CellRect(int col, int row) const;
    // The cell shown at a widget position; false between cells, outside them and on the border.
    bool CellAt(const QPoint& pos, int* col, int* row) const;

    // All cells with the lines between them.
    QSize ContentSize() const;
    // The area that shows cells: inside the border and the scroll bars, at the current size or
    // at another size the grid might be given.
    QSize ClientSize() const;
    QSize ClientSizeAt(const QSize& size) const;

    // Asked first for every cell painted; returns true when it painted the whole cell itself,
    // false to leave the cell to the plain drawing. `rect` is the cell without its lines; the
    // painter is clipped to the cell area of the grid, and the owner may paint the lines next
    // to the cell.
    std::function<bool(QPainter& painter, int col, int row, const QRect& rect)> OnDrawCell;
    // The plain drawing of a cell, for an owner that draws over it.
    void DrawPlainCell(QPainter& painter, int col, int row, const QRect& rect) const;

signals:
    // A double click on a selectable cell, which is then the selected one.
    void DblClick();
    // RowCount changed, and with it the size the grid needs.
    void RowCountChanged();

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    int ColPitch() const { return FColWidth + FLineWidth; }
    int RowPitch() const { return FRowHeight + FLineWidth; }
    QRect ClientRect() const;
    // Left edge of a column and top edge of a row inside the client area, or -1 when scrolled
    // out of view.
    int ColX(int col) const;
    int RowY(int row) const;
    // The column and row shown after `col` and `row`: past the fixed ones come the scrolled ones.
    int NextCol(int col) const { return col + 1 == FFixedCols ? FLeftCol : col + 1; }
    int NextRow(int row) const { return row + 1 == FFixedRows ? FTopRow : row + 1; }
    // The last scrollable row and column that can be the first shown, at the current size.
    int MaxTopRow() const;
    int MaxLeftCol() const;
    void LayoutScrollBars();
    // After a change of counts: keeps the selection and the scroll position valid, repaints.
    void CountsChanged();

    int FColCount = 5;
    int FRowCount = 5;
    int FFixedCols = 1;
    int FFixedRows = 1;
    int FColWidth = 64;
    int FRowHeight = 24;
    int FLineWidth = 1;
    int FCol = 1;
    int FRow = 1;
    int FTopRow = 1;
    int FLeftCol = 1;
    std::vector<QString> FCells; // row by row
    // ClientSize, with the grid size and content size it was worked out for.
    mutable QSize FClientFor{-1, -1};
    mutable QSize FClientContent;
    mutable QSize FClient;
    QScrollBar* FHorzBar;
    QScrollBar* FVertBar;
};
