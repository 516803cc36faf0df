#include "platform/widgets/stringgrid.h"

#include <QCoreApplication>
#include <QHeaderView>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QStyledItemDelegate>
#include <QWheelEvent>
#include <algorithm>
#include <cstdlib>

namespace quorvel {

namespace {

class CellDelegate : public QStyledItemDelegate {
public:
    explicit CellDelegate(TStringGrid* grid) : QStyledItemDelegate(grid), m_grid(grid) {}

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        m_grid->DrawCell(*painter, index.column(), index.row(), option.rect,
                         (option.state & QStyle::State_Selected) != 0);
    }

private:
    TStringGrid* m_grid;
};

// The fixed rows over the scrolling columns (horizontal) or the fixed columns beside the
// scrolling rows (vertical). Its sections are the view's columns or rows, so it follows the
// view's scrolling and column widths; the fixed cells of each section are drawn across it.
// The horizontal one sizes columns on their lines; rows are not sized.
class FixedHeader : public QHeaderView {
public:
    FixedHeader(Qt::Orientation o, TStringGrid* grid) : QHeaderView(o, grid), m_grid(grid) {
        setSectionsClickable(false);
        setHighlightSections(false);
        setMinimumSectionSize(1);
        setSectionResizeMode(o == Qt::Horizontal ? QHeaderView::Interactive : QHeaderView::Fixed);
    }

    QSize sizeHint() const override {
        const bool horizontal = orientation() == Qt::Horizontal;
        int across = 0;
        if (horizontal)
            for (int r = 0; r < m_grid->FixedRows(); ++r) across += m_grid->RowHeight(r);
        else
            for (int c = 0; c < m_grid->FixedCols(); ++c) across += m_grid->ColWidth(c);
        return horizontal ? QSize(length(), across) : QSize(across, length());
    }

protected:
    void paintEvent(QPaintEvent* e) override {
        QPainter p(viewport());
        p.fillRect(e->rect(), m_grid->palette().color(QPalette::Base));
        const bool horizontal = orientation() == Qt::Horizontal;
        const int fixed = horizontal ? m_grid->FixedRows() : m_grid->FixedCols();
        const int extent = horizontal ? viewport()->width() : viewport()->height();
        for (int s = 0; s < count(); ++s) {
            if (isSectionHidden(s)) continue;
            const int pos = sectionViewportPosition(s);
            const int size = sectionSize(s);
            if (pos + size <= 0 || pos >= extent) continue;
            int across = 0;
            for (int k = 0; k < fixed; ++k) {
                const int len = horizontal ? m_grid->RowHeight(k) : m_grid->ColWidth(k);
                const QRect cell = horizontal ? QRect(pos, across, size, len) : QRect(across, pos, len, size);
                if (cell.intersects(e->rect()))
                    m_grid->DrawFixedCell(p, horizontal ? s : k, horizontal ? k : s, cell);
                across += len;
            }
        }
    }

    // A second click on a column line is another press: no fitting of the column to its texts.
    void mouseDoubleClickEvent(QMouseEvent* e) override { QHeaderView::mousePressEvent(e); }

    // The wheel scrolls the grid, as it does over the scrolling cells.
    void wheelEvent(QWheelEvent* e) override { QCoreApplication::sendEvent(m_grid->viewport(), e); }

private:
    TStringGrid* m_grid;
};

// The fixed cells where the fixed rows and columns meet; they never scroll. The fixed columns
// are sized on their lines here.
class FixedCorner : public QWidget {
public:
    explicit FixedCorner(TStringGrid* grid) : QWidget(grid), m_grid(grid) { setMouseTracking(true); }

protected:
    void paintEvent(QPaintEvent* e) override {
        QPainter p(this);
        p.fillRect(e->rect(), m_grid->palette().color(QPalette::Base));
        int y = 0;
        for (int r = 0; r < m_grid->FixedRows(); ++r) {
            int x = 0;
            for (int c = 0; c < m_grid->FixedCols(); ++c) {
                const QRect cell(x, y, m_grid->ColWidth(c), m_grid->RowHeight(r));
                if (cell.intersects(e->rect())) m_grid->DrawFixedCell(p, c, r, cell);
                x += cell.width();
            }
            y += m_grid->RowHeight(r);
        }
    }

    void mousePressEvent(QMouseEvent* e) override {
        e->accept();
        if (e->button() != Qt::LeftButton) return;
        const int x = e->position().toPoint().x();
        m_sizingCol = ColumnLineAt(x);
        if (m_sizingCol >= 0) {
            m_startX = x;
            m_startWidth = m_grid->ColWidth(m_sizingCol);
        }
    }
    void mouseDoubleClickEvent(QMouseEvent* e) override { mousePressEvent(e); }

    void mouseMoveEvent(QMouseEvent* e) override {
        e->accept();
        const int x = e->position().toPoint().x();
        if (m_sizingCol >= 0) {
            m_grid->SetColWidth(m_sizingCol, std::max(1, m_startWidth + x - m_startX));
            return;
        }
        setCursor(ColumnLineAt(x) >= 0 ? Qt::SplitHCursor : Qt::ArrowCursor);
    }

    void mouseReleaseEvent(QMouseEvent* e) override {
        e->accept();
        m_sizingCol = -1;
    }

    void wheelEvent(QWheelEvent* e) override { QCoreApplication::sendEvent(m_grid->viewport(), e); }

private:
    // The fixed column whose right line is within 2 pixels of x, or -1.
    int ColumnLineAt(int x) const {
        int right = 0;
        for (int c = 0; c < m_grid->FixedCols(); ++c) {
            right += m_grid->ColWidth(c);
            if (std::abs(x - (right - 1)) <= 2) return c;
        }
        return -1;
    }

    TStringGrid* m_grid;
    int m_sizingCol = -1;
    int m_startX = 0;
    int m_startWidth = 0;
};

} // namespace

TStringGrid::TStringGrid(QWidget* parent) : QTableWidget(parent) {
    setHorizontalHeader(new FixedHeader(Qt::Horizontal, this));
    setVerticalHeader(new FixedHeader(Qt::Vertical, this));
    setCornerButtonEnabled(false);
    m_corner = new FixedCorner(this);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setSelectionMode(QAbstractItemView::ContiguousSelection);
    setSelectionBehavior(QAbstractItemView::SelectItems);
    setShowGrid(true);
    setWordWrap(false);
    setItemDelegate(new CellDelegate(this));
    // A column sized on a line of the fixed rows keeps its new width. Hiding a column passes
    // through width 0 before it counts as hidden; no column is sized to 0 by the mouse.
    m_connections.push_back(
        connect(horizontalHeader(), &QHeaderView::sectionResized, this, [this](int col, int, int size) {
            if (size > 0 && col >= 0 && col < static_cast<int>(m_colWidths.size()) && !isColumnHidden(col))
                m_colWidths[static_cast<size_t>(col)] = size;
        }));
    m_connections.push_back(connect(model(), &QAbstractItemModel::dataChanged, this,
                                    [this](const QModelIndex& topLeft, const QModelIndex& bottomRight) {
                                        RepaintFixed(topLeft.row(), topLeft.column(), bottomRight.row(),
                                                     bottomRight.column());
                                    }));
    SetColCount(5);
    SetRowCount(5);
    SetDefaultColWidth(m_defaultColWidth);
    SetDefaultRowHeight(m_defaultRowHeight);
}

TStringGrid::~TStringGrid() {
    for (const QMetaObject::Connection& c : m_connections) disconnect(c);
}

void TStringGrid::SetRowCount(int n) {
    n = std::max(0, n);
    const int old = rowCount();
    if (n == old) return;
    setRowCount(n);
    m_rowHeights.resize(static_cast<size_t>(n), m_defaultRowHeight);
    for (int r = old; r < n; ++r) setRowHeight(r, m_defaultRowHeight);
    ApplyFixed();
    UpdateCellFlags();
}

void TStringGrid::SetColCount(int n) {
    n = std::max(0, n);
    const int old = columnCount();
    if (n == old) return;
    setColumnCount(n);
    m_colWidths.resize(static_cast<size_t>(n), m_defaultColWidth);
    for (int c = old; c < n; ++c) setColumnWidth(c, m_defaultColWidth);
    ApplyFixed();
    UpdateCellFlags();
}

void TStringGrid::SetFixedRows(int n) {
    m_fixedRows = std::max(0, n);
    ApplyFixed();
    UpdateCellFlags();
}

void TStringGrid::SetFixedCols(int n) {
    m_fixedCols = std::max(0, n);
    ApplyFixed();
    UpdateCellFlags();
}

void TStringGrid::SetDefaultColWidth(int w) {
    m_defaultColWidth = w;
    horizontalHeader()->setDefaultSectionSize(w);
    std::fill(m_colWidths.begin(), m_colWidths.end(), w);
    for (int c = 0; c < columnCount(); ++c) setColumnWidth(c, w);
    updateGeometries();
    RepaintFixed(0, 0, rowCount() - 1, columnCount() - 1);
}

void TStringGrid::SetDefaultRowHeight(int h) {
    m_defaultRowHeight = h;
    verticalHeader()->setDefaultSectionSize(h);
    std::fill(m_rowHeights.begin(), m_rowHeights.end(), h);
    for (int r = 0; r < rowCount(); ++r) setRowHeight(r, h);
    updateGeometries();
    RepaintFixed(0, 0, rowCount() - 1, columnCount() - 1);
}

int TStringGrid::ColWidth(int col) const {
    return col >= 0 && col < static_cast<int>(m_colWidths.size()) ? m_colWidths[static_cast<size_t>(col)] : 0;
}

int TStringGrid::RowHeight(int row) const {
    return row >= 0 && row < static_cast<int>(m_rowHeights.size()) ? m_rowHeights[static_cast<size_t>(row)]
                                                                   : 0;
}

void TStringGrid::SetColWidth(int col, int w) {
    if (col < 0 || col >= columnCount() || w < 0) return;
    m_colWidths[static_cast<size_t>(col)] = w;
    setColumnWidth(col, w); // kept for when the column is shown, if it is hidden
    if (col < m_fixedCols) {
        updateGeometries();
        RepaintFixed(0, 0, rowCount() - 1, m_fixedCols - 1);
    }
}

QString TStringGrid::Cells(int col, int row) const {
    const QTableWidgetItem* it = item(row, col);
    return it ? it->text() : QString();
}

void TStringGrid::SetCells(int col, int row, const QString& text) {
    if (row < 0 || row >= rowCount() || col < 0 || col >= columnCount()) return;
    QTableWidgetItem* it = item(row, col);
    if (!it) {
        it = new QTableWidgetItem(text);
        it->setFlags(IsFixed(col, row) ? Qt::ItemIsEnabled : Qt::ItemIsEnabled | Qt::ItemIsSelectable);
        setItem(row, col, it);
    } else if (it->text() != text) {
        it->setText(text);
    }
}

void TStringGrid::UpdateCellFlags() {
    for (int r = 0; r < rowCount(); ++r)
        for (int c = 0; c < columnCount(); ++c)
            if (QTableWidgetItem* it = item(r, c))
                it->setFlags(IsFixed(c, r) ? Qt::ItemIsEnabled : Qt::ItemIsEnabled | Qt::ItemIsSelectable);
}

int TStringGrid::FixedWidth() const {
    int w = 0;
    for (int c = 0; c < m_fixedCols && c < columnCount(); ++c) w += ColWidth(c);
    return w;
}

int TStringGrid::FixedHeight() const {
    int h = 0;
    for (int r = 0; r < m_fixedRows && r < rowCount(); ++r) h += RowHeight(r);
    return h;
}

void TStringGrid::ApplyFixed() {
    for (int r = 0; r < rowCount(); ++r) {
        const bool fixed = r < m_fixedRows;
        if (isRowHidden(r) == fixed) continue;
        setRowHidden(r, fixed);
        if (!fixed) setRowHeight(r, RowHeight(r));
    }
    for (int c = 0; c < columnCount(); ++c) {
        const bool fixed = c < m_fixedCols;
        if (isColumnHidden(c) == fixed) continue;
        setColumnHidden(c, fixed);
        if (!fixed) setColumnWidth(c, ColWidth(c));
    }
    horizontalHeader()->setVisible(m_fixedRows > 0);
    verticalHeader()->setVisible(m_fixedCols > 0);
    updateGeometries();
    RepaintFixed(0, 0, rowCount() - 1, columnCount() - 1);
}

void TStringGrid::updateGeometries() {
    QTableWidget::updateGeometries();
    if (!m_corner) return;
    const QRect vg = viewport()->geometry();
    const int w = verticalHeader()->isHidden() ? 0 : verticalHeader()->width();
    const int h = horizontalHeader()->isHidden() ? 0 : horizontalHeader()->height();
    m_corner->setGeometry(vg.left() - w, vg.top() - h, w, h);
    m_corner->setVisible(w > 0 && h > 0);
    m_corner->raise();
}

void TStringGrid::RepaintFixed(int top, int left, int bottom, int right) {
    if (!m_corner) return;
    if (top < m_fixedRows && left < m_fixedCols) m_corner->update();
    if (top < m_fixedRows && right >= m_fixedCols) horizontalHeader()->viewport()->update();
    if (bottom >= m_fixedRows && left < m_fixedCols) verticalHeader()->viewport()->update();
}

QRect TStringGrid::CellRect(int col, int row) const {
    if (row < 0 || row >= rowCount() || col < 0 || col >= columnCount()) return {};
    const QRect vg = viewport()->geometry();
    int x = vg.left() - FixedWidth();
    if (col < m_fixedCols) {
        for (int c = 0; c < col; ++c) x += ColWidth(c);
    } else {
        x = vg.left() + columnViewportPosition(col);
        if (x + ColWidth(col) <= vg.left() || x > vg.right()) return {};
    }
    int y = vg.top() - FixedHeight();
    if (row < m_fixedRows) {
        for (int r = 0; r < row; ++r) y += RowHeight(r);
    } else {
        y = vg.top() + rowViewportPosition(row);
        if (y + RowHeight(row) <= vg.top() || y > vg.bottom()) return {};
    }
    const int line = showGrid() ? 1 : 0;
    return QRect(x, y, ColWidth(col) - line, RowHeight(row) - line);
}

void TStringGrid::DrawCell(QPainter& painter, int col, int row, const QRect& r, bool selected) const {
    const QPalette& pal = palette();
    const bool fixed = IsFixed(col, row);
    selected = selected && !fixed;
    painter.save();
    painter.fillRect(r, fixed      ? pal.color(QPalette::Button)
                        : selected ? pal.color(QPalette::Highlight)
                                   : pal.color(QPalette::Base));
    painter.setFont(font());
    painter.setPen(selected ? pal.color(QPalette::HighlightedText) : pal.color(QPalette::WindowText));
    m_texts.Draw(painter, r.adjusted(2, 2, 0, 0), Qt::AlignLeft | Qt::AlignTop, Cells(col, row));
    painter.restore();
    if (OnDrawCell) {
        painter.save();
        painter.setClipRect(r);
        OnDrawCell(painter, col, row, r);
        painter.restore();
    }
}

void TStringGrid::DrawFixedCell(QPainter& painter, int col, int row, const QRect& withLines) const {
    const int line = showGrid() ? 1 : 0;
    DrawCell(painter, col, row, withLines.adjusted(0, 0, -line, -line), false);
    if (!line) return;
    // The lines as the scrolling cells have them: the grid-line colour of the style.
    QStyleOptionViewItem opt;
    initViewItemOption(&opt);
    const int hint = style()->styleHint(QStyle::SH_Table_GridLineColor, &opt, this);
    painter.save();
    painter.setPen(QPen(QColor::fromRgba(static_cast<QRgb>(hint)), 1, gridStyle()));
    painter.drawLine(withLines.right(), withLines.top(), withLines.right(), withLines.bottom());
    painter.drawLine(withLines.left(), withLines.bottom(), withLines.right(), withLines.bottom());
    painter.restore();
}

} // namespace quorvel
