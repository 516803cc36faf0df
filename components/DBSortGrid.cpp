#include "components/DBSortGrid.h"

#include <QApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMenu>
#include <QMessageBox>
#include <QPainter>
#include <QStyledItemDelegate>
#include <QTextLayout>
#include <QWheelEvent>
#include <cstdio>

#include "components/core/CloneClientDataSet.h"

namespace quorvel {

QColor ToQColor(TColor c) {
    return QColor(static_cast<int>(c & 0xFF), static_cast<int>((c >> 8) & 0xFF),
                  static_cast<int>((c >> 16) & 0xFF));
}

namespace {
constexpr TColor clWindow = 0xFFFFFF;
constexpr TColor clBtnFace = 0xF0F0F0;
constexpr TColor clWindowText = 0x000000;
constexpr TColor clHighlight = 0xD77800;
constexpr TColor clHighlightText = 0xFFFFFF;
constexpr TDBGridOptions kDefaultOptions = dgEditing | dgTitles | dgIndicator | dgColumnResize | dgColLines |
                                           dgRowLines | dgTabs | dgConfirmDelete | dgCancelOnExit;

QFont GridFont() {
    QFont f("Tahoma");
    f.setPixelSize(11);
    return f;
}

// The indicator column: a mark on the current record's row.
class IndicatorHeader : public QHeaderView {
public:
    explicit IndicatorHeader(QWidget* parent) : QHeaderView(Qt::Vertical, parent) {}
    int currentRow = -1;
    void Mark(int row) {
        if (currentRow == row) return;
        const int old = currentRow;
        currentRow = row;
        if (old >= 0) updateSection(old);
        if (row >= 0) updateSection(row);
    }

protected:
    void paintSection(QPainter* p, const QRect& rect, int logicalIndex) const override {
        p->fillRect(rect, ToQColor(clBtnFace));
        p->setPen(QColor(160, 160, 160));
        p->drawLine(rect.bottomLeft(), rect.bottomRight());
        p->drawLine(rect.topRight(), rect.bottomRight());
        if (logicalIndex != currentRow) return;
        const int cx = rect.center().x(), cy = rect.center().y();
        const QPoint tri[3] = {{cx - 2, cy - 4}, {cx - 2, cy + 4}, {cx + 2, cy}};
        p->setPen(Qt::NoPen);
        p->setBrush(Qt::black);
        p->drawPolygon(tri, 3);
    }
};
} // namespace

// Draws each cell through the grid: the default text, the data-cell event, the check boxes.
class DBSortGridDelegate : public QStyledItemDelegate {
public:
    explicit DBSortGridDelegate(TDBSortGrid* grid) : QStyledItemDelegate(grid), m_grid(grid) {}
    void paint(QPainter* p, const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        m_grid->PaintCell(p, option.rect, index);
    }
    QSize sizeHint(const QStyleOptionViewItem&, const QModelIndex&) const override {
        return {m_grid->columnWidth(0), m_grid->verticalHeader()->defaultSectionSize()};
    }
    QWidget* createEditor(QWidget*, const QStyleOptionViewItem&, const QModelIndex&) const override {
        return nullptr;
    }

private:
    TDBSortGrid* m_grid;
};

TDBSortGrid::TDBSortGrid(QWidget* parent) : QTableView(parent) {
    setFont(GridFont());
    setVerticalHeader(new IndicatorHeader(this));
    setItemDelegate(new DBSortGridDelegate(this));
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setSelectionBehavior(QAbstractItemView::SelectItems);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setWordWrap(false);
    setCornerButtonEnabled(false);
    setAutoScroll(true);
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 5);
    verticalHeader()->setFixedWidth(12);
    horizontalHeader()->setFont(GridFont());
    horizontalHeader()->setSectionsClickable(false); // a title click does not select or sort
    horizontalHeader()->setSectionsMovable(true);
    horizontalHeader()->setHighlightSections(false);
    horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    horizontalHeader()->viewport()->installEventFilter(this);
    {
        QPalette pal = palette();
        pal.setColor(QPalette::Base, ToQColor(clWindow));
        pal.setColor(QPalette::Text, ToQColor(clWindowText));
        pal.setColor(QPalette::Button, ToQColor(clBtnFace));
        setPalette(pal);
    }
    m_options = kDefaultOptions;
    SaveOptions = m_options;
    ApplyOptions();
    m_clrTitleSel = clBtnFace;
    m_clrColumnSel = clWindow;
    m_fntTitleSel = font();
    m_fntColumnSel = font();
    m_PopupMenu = new QMenu(this);
    m_MenuItem = m_PopupMenu->addAction("Exportieren");
    m_MenuItem->setData(0); // the tag
    connect(m_MenuItem, &QAction::triggered, this, [this] {
        try {
            ExportMenuItemClick();
        } catch (const std::exception& e) {
            ReportError(e);
        }
    });
}

TDBSortGrid::~TDBSortGrid() {
    setModel(nullptr);
}

void TDBSortGrid::SetDataSource(TDataSource* source) {
    m_dataSource = source;
    setModel(nullptr);
    m_model.reset();
    m_indicatorRow = -1;
    if (!source || !source->DataSet()) return;
    m_model = std::make_unique<DataSetModel>(*source->DataSet());
    setModel(m_model.get());
    connect(m_model.get(), &DataSetModel::CurrentRowChanged, this, &TDBSortGrid::FollowCursor);
    connect(m_model.get(), &QAbstractItemModel::modelReset, this, [this] {
        LayOutColumns();
        FollowCursor(m_model->CurrentRow());
    });
    LayOutColumns();
    FollowCursor(m_model->CurrentRow());
}

void TDBSortGrid::SetOptions(TDBGridOptions options) {
    m_options = options;
    ApplyOptions();
}

void TDBSortGrid::ApplyOptions() {
    horizontalHeader()->setVisible(m_options & dgTitles);
    verticalHeader()->setVisible(m_options & dgIndicator);
    setShowGrid(m_options & (dgColLines | dgRowLines));
    horizontalHeader()->setSectionResizeMode((m_options & dgColumnResize) ? QHeaderView::Interactive
                                                                          : QHeaderView::Fixed);
    setTabKeyNavigation(m_options & dgTabs);
}

// Column widths from the fields' display widths (in characters), at least the title's width.
// Only when the columns are built, never per edit.
void TDBSortGrid::LayOutColumns() {
    if (!m_model) return;
    const QFontMetrics fm(font());
    const QFontMetrics tm(horizontalHeader()->font());
    const int digit = fm.horizontalAdvance('0');
    for (int c = 0; c < m_model->columnCount(); ++c) {
        Field* f = m_model->FieldAt(c);
        int w = f->DisplayWidth * digit + 4;
        if (m_options & dgTitles)
            w = std::max(w, tm.horizontalAdvance(QString::fromStdString(f->DisplayName())) + 8);
        setColumnWidth(c, w);
    }
}

void TDBSortGrid::FollowCursor(int row) {
    if (!m_model) return;
    auto* header = static_cast<IndicatorHeader*>(verticalHeader());
    header->Mark(row);
    if (m_following) return;
    const QModelIndex cur = currentIndex();
    if (row < 0) {
        if (cur.isValid()) {
            m_following = true;
            selectionModel()->clear();
            m_following = false;
        }
        return;
    }
    if (cur.isValid() && cur.row() == row) return;
    const int col = cur.isValid() ? cur.column() : 0;
    if (col >= m_model->columnCount()) return;
    m_following = true;
    setCurrentIndex(m_model->index(row, col));
    m_following = false;
}

TCloneClientDataSet* TDBSortGrid::CloneDataSet() const {
    return m_dataSource ? dynamic_cast<TCloneClientDataSet*>(m_dataSource->DataSet()) : nullptr;
}

Field* TDBSortGrid::FieldOfColumn(int column) const {
    return m_model ? m_model->FieldAt(column) : nullptr;
}

Field* TDBSortGrid::SelectedField() const {
    const QModelIndex cur = currentIndex();
    return cur.isValid() ? FieldOfColumn(cur.column()) : nullptr;
}

// ---- properties ----------------------------------------------------------------------------------

void TDBSortGrid::SetSortColumn(int column) {
    if (DisableSorting) return;
    m_nSortColumn = column;
}

void TDBSortGrid::SetSelTitleColor(TColor c) {
    m_clrTitleSel = c;
    SetSortColumn(m_nSortColumn);
}
void TDBSortGrid::SetSelColumColor(TColor c) {
    m_clrColumnSel = c;
    SetSortColumn(m_nSortColumn);
}
void TDBSortGrid::SetSelTitleFont(const QFont& f) {
    m_fntTitleSel = f;
    SetSortColumn(m_nSortColumn);
}
void TDBSortGrid::SetSelColumFont(const QFont& f) {
    m_fntColumnSel = f;
    SetSortColumn(m_nSortColumn);
}

int TDBSortGrid::GetColIndexByFieldname(const std::string& sFieldname) const {
    if (!m_model) return -1;
    for (int c = 0; c < m_model->columnCount(); ++c)
        if (QString::fromStdString(m_model->FieldAt(c)->FieldName())
                .compare(QString::fromStdString(sFieldname), Qt::CaseInsensitive) == 0)
            return c;
    return -1;
}

QRect TDBSortGrid::CellRect(int ACol, int ARow) const {
    const bool indicator = m_options & dgIndicator;
    const bool titles = m_options & dgTitles;
    const QPoint origin = viewport()->geometry().topLeft();
    int x, w, y, h;
    if (indicator && ACol == 0) {
        x = verticalHeader()->geometry().left() - origin.x();
        w = verticalHeader()->width();
    } else {
        const int c = ACol - (indicator ? 1 : 0);
        if (!m_model || c < 0 || c >= m_model->columnCount()) return {};
        x = columnViewportPosition(c);
        w = columnWidth(c);
    }
    if (titles && ARow == 0) {
        y = horizontalHeader()->geometry().top() - origin.y();
        h = horizontalHeader()->height();
    } else {
        const int first = rowAt(0);
        const int r = (first < 0 ? 0 : first) + ARow - (titles ? 1 : 0);
        if (!m_model || r < 0 || r >= m_model->rowCount()) return {};
        y = rowViewportPosition(r);
        h = rowHeight(r);
    }
    // A data cell is the rectangle it is drawn in, without its grid lines.
    const bool data = !(indicator && ACol == 0) && !(titles && ARow == 0);
    if (data && showGrid()) {
        --w;
        --h;
    }
    return QRect(x, y, w, h).translated(origin);
}

// ---- menu and export -------------------------------------------------------------------------------

void TDBSortGrid::ExportMenuItemClick() {
    if (m_MenuItem->data().toInt() != 0) return;
    if (!m_dataSource) return;
    ExportDataset(m_dataSource->DataSet());
}

void TDBSortGrid::ExportDataset(ClientDataSet* DataSet) {
    if (!DataSet) return;
    if (auto* clone = dynamic_cast<TCloneClientDataSet*>(DataSet); clone && clone->DisableExport) return;
    if (ExportWriter) ExportWriter(*DataSet);
}

void TDBSortGrid::PopupAt(const QPoint& globalPos) {
    if (!m_dataSource || !m_dataSource->DataSet()) return;
    m_PopupMenu->popup(globalPos);
}

// ---- drawing -----------------------------------------------------------------------------------------

QRect TDBSortGrid::CheckBoxBand(const QRect& cell) {
    const int top = cell.top() + (cell.height() - 14) / 2; // truncated toward zero
    return QRect(cell.left(), top, cell.width(), 14);
}

void TDBSortGrid::DrawCheckBox(QPainter& p, const QRect& band, unsigned state) {
    const int size = 13;
    const QRect box(band.left() + (band.width() - size) / 2, band.top() + (band.height() - size) / 2, size,
                    size);
    const bool inactive = state & DFCS_INACTIVE;
    const bool flat = state & DFCS_FLAT;
    p.save();
    p.setClipRect(band, Qt::IntersectClip);
    p.setRenderHint(QPainter::Antialiasing, false);
    p.fillRect(box, inactive ? QColor(0xC0, 0xC0, 0xC0) : QColor(Qt::white));
    if (flat) {
        p.setPen(inactive ? QColor(0x80, 0x80, 0x80) : QColor(Qt::black));
        p.drawRect(box.adjusted(0, 0, -1, -1));
    } else {
        // Sunken: dark above and left, light below and right.
        p.setPen(QColor(0x80, 0x80, 0x80));
        p.drawLine(box.topLeft(), box.topRight());
        p.drawLine(box.topLeft(), box.bottomLeft());
        p.setPen(QColor(0x40, 0x40, 0x40));
        p.drawLine(box.topLeft() + QPoint(1, 1), box.topRight() + QPoint(-1, 1));
        p.drawLine(box.topLeft() + QPoint(1, 1), box.bottomLeft() + QPoint(1, -1));
        p.setPen(QColor(0xFF, 0xFF, 0xFF));
        p.drawLine(box.bottomLeft(), box.bottomRight());
        p.drawLine(box.topRight(), box.bottomRight());
        p.setPen(QColor(0xD4, 0xD0, 0xC8));
        p.drawLine(box.bottomLeft() + QPoint(1, -1), box.bottomRight() + QPoint(-1, -1));
        p.drawLine(box.topRight() + QPoint(-1, 1), box.bottomRight() + QPoint(-1, -1));
    }
    if (state & DFCS_CHECKED) {
        p.setPen(QPen(inactive ? QColor(0x80, 0x80, 0x80) : QColor(Qt::black), 2));
        const QPoint a = box.topLeft() + QPoint(3, 6), b = box.topLeft() + QPoint(5, 9),
                     c = box.topLeft() + QPoint(10, 3);
        p.drawLine(a, b);
        p.drawLine(b, c);
    }
    p.restore();
}

void TDBSortGrid::DrawMemoText(QPainter& p, const QRect& band, const QString& text, Alignment alignment) {
    const QRect r = band.adjusted(2, 0, 0, 0);
    QTextOption opt;
    opt.setWrapMode(QTextOption::WordWrap);
    opt.setAlignment((alignment == Alignment::Right    ? Qt::AlignRight
                      : alignment == Alignment::Center ? Qt::AlignHCenter
                                                       : Qt::AlignLeft) |
                     Qt::AlignTop);
    opt.setTabStopDistance(8 * p.fontMetrics().horizontalAdvance(' '));
    p.save();
    p.setClipRect(r, Qt::IntersectClip);
    p.drawText(QRectF(r), text, opt); // no mnemonic: "&" stays literal
    p.restore();
}

void TDBSortGrid::DefaultDrawDataCell(const QRect& Rect, Field& field, TGridDrawState) {
    QPainter& p = *m_canvas.Painter;
    p.fillRect(Rect, m_canvas.BrushColor);
    const QString text = QString::fromStdString(field.DisplayText());
    if (text.isEmpty()) return;
    p.setFont(m_canvas.Font);
    p.setPen(m_canvas.FontColor);
    const Qt::Alignment h = field.alignment == Alignment::Left    ? Qt::AlignLeft
                            : field.alignment == Alignment::Right ? Qt::AlignRight
                                                                  : Qt::AlignHCenter;
    p.save();
    p.setClipRect(Rect, Qt::IntersectClip);
    p.drawText(Rect.adjusted(2, 0, -3, 0), h | Qt::AlignVCenter | Qt::TextSingleLine, text);
    p.restore();
}

void TDBSortGrid::PaintCell(QPainter* p, const QRect& rect, const QModelIndex& index) {
    Field* field = m_model ? m_model->FieldAt(index.column()) : nullptr;
    const QModelIndex cur = currentIndex();
    TGridDrawState state = 0;
    if (cur.isValid() && cur.row() == index.row() && cur.column() == index.column()) {
        state |= gdSelected;
        if (hasFocus()) state |= gdFocused;
    }
    const bool highlight =
        (state & gdSelected) && ((state & gdFocused) || (m_options & dgAlwaysShowSelection));
    const QColor base = ToQColor(highlight ? clHighlight : clWindow);
    p->save();
    try {
        if (!field) throw DataSetError("no field");
        m_model->Cursor().PeekRecord(index.row() + 1, [&] {
            m_canvas.Painter = p;
            m_canvas.BrushColor = base;
            m_canvas.FontColor = ToQColor(highlight ? clHighlightText : clWindowText);
            m_canvas.Font = font();
            DefaultDrawDataCell(rect, *field, state);
            if (OnDrawDataCell) OnDrawDataCell(*this, rect, *field, state);
            DrawColumnCell(rect, index.column(), field, state);
        });
    } catch (...) {
        // A cell whose drawing fails stays empty; the error must not leave the paint event.
        p->restore();
        p->save();
        p->fillRect(rect, base);
    }
    p->restore();
    m_canvas.Painter = nullptr;
}

void TDBSortGrid::DrawColumnCell(const QRect& rect, int dataCol, Field* field, TGridDrawState state) {
    QRect band = CheckBoxBand(rect);
    const bool boolean = field && field->DataType() == FieldType::Boolean;
    if (field && (boolean || IsMemoField(*field)) && m_dataSource && m_dataSource->DataSet()) {
        Field& f =
            m_dataSource->DataSet()->FieldByName(field->FieldName()); // may raise: the cell stays empty
        QPainter& p = *m_canvas.Painter;
        if (boolean) {
            if (!f.OnGetText) {
                p.fillRect(rect, m_canvas.BrushColor);
                const unsigned st = FFlat + (f.IsNull() ? DFCS_INACTIVE : f.AsBoolean() ? DFCS_CHECKED : 0u);
                DrawCheckBox(p, band, st);
            }
        } else {
            p.fillRect(rect, m_canvas.BrushColor);
            if (!f.IsNull()) {
                p.setPen(m_canvas.FontColor);
                p.setFont(m_canvas.Font);
                DrawMemoText(p, band, QString::fromStdString(f.AsString()), f.alignment);
            }
        }
    }
    if (OnDrawColumnCell) OnDrawColumnCell(*this, rect, dataCol, field, state);
}

// ---- input -------------------------------------------------------------------------------------------

void TDBSortGrid::ReportError(const std::exception& e) {
    if (OnError)
        OnError(e);
    else
        std::fprintf(stderr, "%s\n", e.what());
}

void TDBSortGrid::RethrowPending() {
    if (m_pending) {
        std::exception_ptr e = m_pending;
        m_pending = nullptr;
        std::rethrow_exception(e);
    }
}

void TDBSortGrid::currentChanged(const QModelIndex& current, const QModelIndex& previous) {
    QTableView::currentChanged(current, previous);
    if (previous.column() != current.column()) {
        if (previous.isValid()) ColExit(previous.column());
        if (current.isValid()) ColEnter(current.column());
    }
    if (m_following || !current.isValid() || !m_model) return;
    // The operator's move moves the cursor. An error of the move is kept and raised again
    // once the base step of the event has returned, never inside Qt's own code.
    try {
        ClientDataSet& d = m_model->Cursor();
        if (d.Active() && d.RecNo() != current.row() + 1) d.SetRecNo(current.row() + 1);
    } catch (...) {
        if (!m_pending) m_pending = std::current_exception();
    }
    // The view stays on the cursor's record when the move did not take place.
    if (m_model->CurrentRow() != current.row()) FollowCursor(m_model->CurrentRow());
}

void TDBSortGrid::ColEnter(int column) {
    Field* f = FieldOfColumn(column);
    if (f && f->DataType() == FieldType::Boolean) {
        SaveOptions = m_options;
        m_options &= ~dgEditing;
    }
}

void TDBSortGrid::ColExit(int column) {
    Field* f = FieldOfColumn(column);
    if (f && f->DataType() == FieldType::Boolean) m_options = SaveOptions;
}

void TDBSortGrid::CellClick(int column) {
    Field* shown = FieldOfColumn(column);
    if (!shown || shown->DataType() != FieldType::Boolean || !m_dataSource || !m_dataSource->DataSet())
        return;
    ClientDataSet& ds = *m_dataSource->DataSet();
    m_options = SaveOptions;
    auto editing = [&ds] { return ds.State() == DataSetState::Edit || ds.State() == DataSetState::Insert; };
    if (!editing() && !ReadOnly) m_dataSource->Edit();
    m_options &= ~dgEditing;
    if (editing()) {
        Field& f = ds.FieldByName(shown->FieldName());
        f.SetAsBoolean(!f.AsBoolean());
        viewport()->update();
    }
}

void TDBSortGrid::BaseKeyDown(int key, Qt::KeyboardModifiers shift) {
    switch (key) {
    case 0:
        return;
    case Qt::Key_Delete:
        // The base grid's Ctrl+Delete removes the current record, after asking.
        if (!(shift & Qt::ControlModifier) || ReadOnly || !m_dataSource || !m_dataSource->DataSet()) return;
        if (ClientDataSet* ds = m_dataSource->DataSet(); ds->Active() && !ds->IsEmpty() && !ds->ReadOnly) {
            if ((m_options & dgConfirmDelete) && QMessageBox::question(this, QApplication::applicationName(),
                                                                       "Delete record?") != QMessageBox::Yes)
                return;
            ds->Delete();
        }
        return;
    case Qt::Key_Up:
    case Qt::Key_Down:
    case Qt::Key_PageUp:
    case Qt::Key_PageDown:
    case Qt::Key_Home:
    case Qt::Key_End:
    case Qt::Key_Left:
    case Qt::Key_Right:
    case Qt::Key_Tab:
    case Qt::Key_Backtab: {
        QKeyEvent ev(QEvent::KeyPress, key, shift);
        QTableView::keyPressEvent(&ev);
        RethrowPending();
        return;
    }
    default:
        return; // nothing else moves the grid
    }
}

void TDBSortGrid::KeyDown(int& Key, Qt::KeyboardModifiers Shift, Qt::MouseButtons buttons) {
    TCloneClientDataSet* clone = CloneDataSet();
    if (!AllowDelete && (Shift & Qt::ControlModifier) && Key == Qt::Key_Delete) Key = 0;
    if (clone) clone->DisableDataChange();
    try {
        BaseKeyDown(Key, Shift);
    } catch (...) {
        m_pending = nullptr; // errors of the base key handling are dropped
    }
    const Qt::KeyboardModifiers mods = Shift & (Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier);
    if (mods == Qt::NoModifier && buttons == Qt::NoButton && m_dataSource && m_dataSource->DataSet() &&
        m_dataSource->DataSet()->Active()) {
        const Bookmark b = m_dataSource->DataSet()->GetBookmark();
        if (b != kNoBookmark) m_selectedRows.insert(b);
    }
    if (clone) {
        clone->EnableDataChange();
        if (m_dataSource && m_dataSource->OnDataChange) m_dataSource->OnDataChange(this, nullptr);
    }
}

void TDBSortGrid::keyPressEvent(QKeyEvent* e) {
    try {
        int key = e->key();
        KeyDown(key, e->modifiers());
        // Typed characters go nowhere: with no sort column there is no search.
    } catch (const std::exception& ex) {
        ReportError(ex);
    } catch (...) {
    }
    e->accept();
}

void TDBSortGrid::wheelEvent(QWheelEvent* e) {
    e->accept();
    try {
        m_wheelRest += e->angleDelta().y();
        while (m_wheelRest <= -120 || m_wheelRest >= 120) {
            const bool down = m_wheelRest < 0;
            m_wheelRest += down ? 120 : -120;
            int key = down ? Qt::Key_Down : Qt::Key_Up;
            KeyDown(key, e->modifiers(), e->buttons());
        }
    } catch (const std::exception& ex) {
        ReportError(ex);
    } catch (...) {
    }
}

void TDBSortGrid::MouseDown(QMouseEvent* e) {
    QTableView::mousePressEvent(e);
    // A press with either button on a data row makes that row the current record.
    const QModelIndex at = indexAt(e->position().toPoint());
    if (e->button() == Qt::RightButton && at.isValid() && at != currentIndex()) setCurrentIndex(at);
    RethrowPending();
    if (e->button() == Qt::RightButton) PopupAt(e->globalPosition().toPoint());
}

void TDBSortGrid::mousePressEvent(QMouseEvent* e) {
    try {
        MouseDown(e);
    } catch (const std::exception& ex) {
        ReportError(ex);
    } catch (...) {
    }
}

void TDBSortGrid::mouseDoubleClickEvent(QMouseEvent* e) {
    // A double click is a second press; nothing opens an editor.
    mousePressEvent(e);
}

void TDBSortGrid::mouseReleaseEvent(QMouseEvent* e) {
    try {
        auto base = [this, e] {
            const QModelIndex at = indexAt(e->position().toPoint());
            QTableView::mouseReleaseEvent(e);
            RethrowPending();
            if (e->button() == Qt::LeftButton && at.isValid()) CellClick(at.column());
        };
        TCloneClientDataSet* clone = CloneDataSet();
        if (!m_bEntered && clone) {
            clone->DisableDataChange();
            try {
                base();
            } catch (...) {
                clone->EnableDataChange();
                throw;
            }
            clone->EnableDataChange();
        } else {
            base();
        }
        if (m_bEntered && m_dataSource) {
            if (m_dataSource->OnDataChange) m_dataSource->OnDataChange(this, nullptr);
            m_bEntered = false;
        }
    } catch (const std::exception& ex) {
        ReportError(ex);
    } catch (...) {
    }
    m_bIgnoreTitleClick = false;
}

void TDBSortGrid::focusInEvent(QFocusEvent* e) {
    QTableView::focusInEvent(e);
    // Coming back from a menu or another window is no new entry.
    if (e->reason() != Qt::PopupFocusReason && e->reason() != Qt::ActiveWindowFocusReason) m_bEntered = true;
}

bool TDBSortGrid::eventFilter(QObject* watched, QEvent* event) {
    if (watched == horizontalHeader()->viewport()) {
        if (event->type() == QEvent::MouseButtonPress) {
            auto* me = static_cast<QMouseEvent*>(event);
            if (me->button() == Qt::RightButton) {
                PopupAt(me->globalPosition().toPoint());
                return true;
            }
        } else if (event->type() == QEvent::MouseButtonRelease) {
            m_bIgnoreTitleClick = false;
        }
    }
    return QTableView::eventFilter(watched, event);
}

} // namespace quorvel
