#pragma once
// A string grid: a table of text cells addressed as (column, row), whose first FixedRows rows
// and FixedCols columns are fixed cells (drawn as headers, never selected). The fixed rows stay
// at the top while the other rows scroll, the fixed columns stay at the left while the other
// columns scroll; the fixed rows follow the columns sideways and the fixed columns follow the
// rows up and down. Cells are drawn with their text 2 pixels in from the left and top edges; an
// optional cell-drawing handler runs after that default drawing of each cell, fixed or not.
// Cells(0, 0) is the top-left fixed cell. Column widths can be changed with the mouse on the
// column lines of the fixed rows.
//
// Inside, the fixed cells are hidden from the scrolling part of the view and drawn by the
// view's two headers (the fixed rows above, the fixed columns to the left) and by a corner
// piece where both meet, so that the scrolling part keeps the view's own keys, selection and
// scrolling.
#include <QTableWidget>
#include <functional>
#include <vector>

#include "platform/widgets/celltext.h"

namespace quorvel {

class TStringGrid : public QTableWidget {
    Q_OBJECT
public:
    explicit TStringGrid(QWidget* parent = nullptr);
    ~TStringGrid() override;

    int RowCount() const { return rowCount(); }
    void SetRowCount(int n);
    int ColCount() const { return columnCount(); }
    void SetColCount(int n);
    int FixedRows() const { return m_fixedRows; }
    void SetFixedRows(int n);
    int FixedCols() const { return m_fixedCols; }
    void SetFixedCols(int n);
    int DefaultColWidth() const { return m_defaultColWidth; }
    // Sets every column's width.
    void SetDefaultColWidth(int w);
    int DefaultRowHeight() const { return m_defaultRowHeight; }
    // Sets every row's height.
    void SetDefaultRowHeight(int h);
    // A column's width and a row's height, the grid line included; 0 outside the grid.
    int ColWidth(int col) const;
    void SetColWidth(int col, int w);
    int RowHeight(int row) const;

    QString Cells(int col, int row) const;
    void SetCells(int col, int row, const QString& text);

    bool IsFixed(int col, int row) const { return row < m_fixedRows || col < m_fixedCols; }

    // Where a cell is drawn, in the grid's own coordinates, without its grid lines: the
    // rectangle the cell-drawing handler gets. Empty when the cell is outside the grid or
    // scrolled out of view.
    QRect CellRect(int col, int row) const;

    // Draws one cell as the grid does (background, text, then the cell-drawing handler) into
    // the rectangle without its grid lines.
    void DrawCell(QPainter& painter, int col, int row, const QRect& rect, bool selected) const;
    // Draws a fixed cell and its right and bottom grid lines into the rectangle with them.
    void DrawFixedCell(QPainter& painter, int col, int row, const QRect& withLines) const;

    // Called for each cell after its default drawing: painter, column, row, cell rectangle.
    std::function<void(QPainter&, int, int, const QRect&)> OnDrawCell;
    // The laid-out texts of the cells, for the cell drawing (also OnDrawCell's).
    CellTexts& Texts() const { return m_texts; }

protected:
    void updateGeometries() override;

private:
    mutable CellTexts m_texts;
    // Hides the fixed rows and columns from the scrolling part and fits the fixed parts.
    void ApplyFixed();
    void UpdateCellFlags();
    // Repaints the fixed parts that show a cell of the range.
    void RepaintFixed(int top, int left, int bottom, int right);
    int FixedWidth() const;
    int FixedHeight() const;

    QWidget* m_corner = nullptr;
    // The grid's own handlers of its model and header, dropped before the base class goes.
    std::vector<QMetaObject::Connection> m_connections;
    std::vector<int> m_colWidths;
    std::vector<int> m_rowHeights;
    int m_fixedRows = 1;
    int m_fixedCols = 1;
    int m_defaultColWidth = 64;
    int m_defaultRowHeight = 24;
};

} // namespace quorvel
