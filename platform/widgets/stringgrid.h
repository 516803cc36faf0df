#pragma once
// A string grid: a table of text cells addressed as (column, row), whose first FixedRows rows
// and FixedCols columns are fixed cells (drawn as headers, never selected). Cells are drawn
// with their text 2 pixels in from the left and top edges; an optional cell-drawing handler
// runs after that default drawing of each cell. The widget's own headers are not used: row 0
// and column 0 are ordinary cells, so Cells(0, 0) is the top-left fixed cell. Column widths
// can be changed with the mouse on the column lines of the fixed rows.
#include <QTableWidget>
#include <functional>

namespace quorvel {

class TStringGrid : public QTableWidget {
    Q_OBJECT
public:
    explicit TStringGrid(QWidget* parent = nullptr);

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
    int ColWidth(int col) const { return columnWidth(col); }
    void SetColWidth(int col, int w) { setColumnWidth(col, w); }

    QString Cells(int col, int row) const;
    void SetCells(int col, int row, const QString& text);

    bool IsFixed(int col, int row) const { return row < m_fixedRows || col < m_fixedCols; }

    // Called for each cell after its default drawing: painter, column, row, cell rectangle.
    std::function<void(QPainter&, int, int, const QRect&)> OnDrawCell;

protected:
    void mousePressEvent(QMouseEvent* e) override;
    void mouseMoveEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;

private:
    void UpdateCellFlags();
    int ColumnLineAt(const QPoint& pos) const;

    int m_fixedRows = 1;
    int m_fixedCols = 1;
    int m_defaultColWidth = 64;
    int m_defaultRowHeight = 24;
    int m_sizingCol = -1;
    int m_sizingStartX = 0;
    int m_sizingStartWidth = 0;
};

} // namespace quorvel
