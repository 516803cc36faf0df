#include "platform/widgets/stringgrid.h"

#include <QHeaderView>
#include <QMouseEvent>
#include <QPainter>
#include <QStyledItemDelegate>
#include <algorithm>
#include <cstdlib>

namespace quorvel {

namespace {

class CellDelegate : public QStyledItemDelegate {
public:
    explicit CellDelegate(TStringGrid* grid) : QStyledItemDelegate(grid), m_grid(grid) {}

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        const int col = index.column();
        const int row = index.row();
        const QRect r = option.rect;
        const QPalette& pal = m_grid->palette();
        const bool fixed = m_grid->IsFixed(col, row);
        const bool selected = !fixed && (option.state & QStyle::State_Selected);
        painter->save();
        painter->fillRect(r, fixed      ? pal.color(QPalette::Button)
                             : selected ? pal.color(QPalette::Highlight)
                                        : pal.color(QPalette::Base));
        painter->setFont(m_grid->font());
        painter->setPen(selected ? pal.color(QPalette::HighlightedText) : pal.color(QPalette::WindowText));
        painter->drawText(r.adjusted(2, 2, 0, 0), Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine,
                          index.data(Qt::DisplayRole).toString());
        painter->restore();
        if (m_grid->OnDrawCell) {
            painter->save();
            painter->setClipRect(r);
            m_grid->OnDrawCell(*painter, col, row, r);
            painter->restore();
        }
    }

private:
    TStringGrid* m_grid;
};

} // namespace

TStringGrid::TStringGrid(QWidget* parent) : QTableWidget(parent) {
    horizontalHeader()->hide();
    verticalHeader()->hide();
    horizontalHeader()->setMinimumSectionSize(1);
    verticalHeader()->setMinimumSectionSize(1);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setSelectionMode(QAbstractItemView::ContiguousSelection);
    setSelectionBehavior(QAbstractItemView::SelectItems);
    setShowGrid(true);
    setWordWrap(false);
    setItemDelegate(new CellDelegate(this));
    viewport()->setMouseTracking(true);
    SetColCount(5);
    SetRowCount(5);
    SetDefaultColWidth(m_defaultColWidth);
    SetDefaultRowHeight(m_defaultRowHeight);
}

void TStringGrid::SetRowCount(int n) {
    const int old = rowCount();
    setRowCount(n);
    for (int r = old; r < n; ++r) setRowHeight(r, m_defaultRowHeight);
    UpdateCellFlags();
}

void TStringGrid::SetColCount(int n) {
    const int old = columnCount();
    setColumnCount(n);
    for (int c = old; c < n; ++c) setColumnWidth(c, m_defaultColWidth);
    UpdateCellFlags();
}

void TStringGrid::SetFixedRows(int n) {
    m_fixedRows = n;
    UpdateCellFlags();
}

void TStringGrid::SetFixedCols(int n) {
    m_fixedCols = n;
    UpdateCellFlags();
}

void TStringGrid::SetDefaultColWidth(int w) {
    m_defaultColWidth = w;
    horizontalHeader()->setDefaultSectionSize(w);
    for (int c = 0; c < columnCount(); ++c) setColumnWidth(c, w);
}

void TStringGrid::SetDefaultRowHeight(int h) {
    m_defaultRowHeight = h;
    verticalHeader()->setDefaultSectionSize(h);
    for (int r = 0; r < rowCount(); ++r) setRowHeight(r, h);
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

int TStringGrid::ColumnLineAt(const QPoint& pos) const {
    if (rowAt(pos.y()) < 0 || rowAt(pos.y()) >= m_fixedRows) return -1;
    for (int c = 0; c < columnCount(); ++c) {
        const int right = columnViewportPosition(c) + columnWidth(c);
        if (std::abs(pos.x() - right) <= 2) return c;
    }
    return -1;
}

void TStringGrid::mousePressEvent(QMouseEvent* e) {
    if (e->button() == Qt::LeftButton) {
        const int c = ColumnLineAt(e->position().toPoint());
        if (c >= 0) {
            m_sizingCol = c;
            m_sizingStartX = e->position().toPoint().x();
            m_sizingStartWidth = columnWidth(c);
            return;
        }
    }
    QTableWidget::mousePressEvent(e);
}

void TStringGrid::mouseMoveEvent(QMouseEvent* e) {
    const QPoint p = e->position().toPoint();
    if (m_sizingCol >= 0) {
        setColumnWidth(m_sizingCol, std::max(1, m_sizingStartWidth + p.x() - m_sizingStartX));
        return;
    }
    viewport()->setCursor(ColumnLineAt(p) >= 0 ? Qt::SplitHCursor : Qt::ArrowCursor);
    QTableWidget::mouseMoveEvent(e);
}

void TStringGrid::mouseReleaseEvent(QMouseEvent* e) {
    if (m_sizingCol >= 0) {
        m_sizingCol = -1;
        return;
    }
    QTableWidget::mouseReleaseEvent(e);
}

} // namespace quorvel
