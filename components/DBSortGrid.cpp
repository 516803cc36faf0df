#include "components/DBSortGrid.h"

#include <QAccessible>
#include <QApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMenu>
#include <QMessageBox>
#include <QPainter>
#include <QStyledItemDelegate>
#include <QTextLayout>
#include <QWheelEvent>
#include <algorithm>
#include <chrono>
#include <cstdio>

#include "components/ExportDialog.h"
#include "components/core/CloneClientDataSet.h"
#include "platform/numbers.h"
#include "platform/profile.h"
#include "platform/widgets/celltext.h"

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

// The title row: each title in its column's colour and font; a left release over a title that
// ends neither a resize nor a move is a title click.
class TitleHeader : public QHeaderView {
public:
    explicit TitleHeader(TDBSortGrid* grid) : QHeaderView(Qt::Horizontal, grid), m_grid(grid) {
        connect(this, &QHeaderView::sectionResized, this, [this] { m_resized = true; });
    }

protected:
    void paintSection(QPainter* p, const QRect& rect, int logicalIndex) const override {
        const TDBSortGrid::ColumnLook* look = m_grid->LookAt(logicalIndex);
        p->save();
        p->fillRect(rect, ToQColor(look ? look->titleColor : clBtnFace));
        p->setPen(QColor(160, 160, 160));
        p->drawLine(rect.bottomLeft(), rect.bottomRight());
        p->drawLine(rect.topRight(), rect.bottomRight());
        p->setFont(look ? look->titleFont : font());
        p->setPen(ToQColor(clWindowText));
        p->setClipRect(rect, Qt::IntersectClip);
        p->drawText(rect.adjusted(3, 0, -3, 0), Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
                    model() ? model()->headerData(logicalIndex, Qt::Horizontal).toString() : QString());
        p->restore();
    }
    void mousePressEvent(QMouseEvent* e) override {
        m_resized = false;
        m_pressed = e->button() == Qt::LeftButton ? logicalIndexAt(e->position().toPoint()) : -1;
        QHeaderView::mousePressEvent(e);
    }
    void mouseReleaseEvent(QMouseEvent* e) override {
        const int pressed = m_pressed;
        m_pressed = -1;
        QHeaderView::mouseReleaseEvent(e);
        try {
            if (e->button() == Qt::LeftButton && pressed >= 0 && !m_resized) {
                const int at = logicalIndexAt(e->position().toPoint());
                if (at >= 0) m_grid->TitleClick(visualIndex(at));
            }
        } catch (const std::exception& ex) {
            m_grid->ReportError(ex);
        } catch (...) {
        }
        m_grid->m_bIgnoreTitleClick = false; // the mouse release's last step
    }

private:
    TDBSortGrid* m_grid;
    int m_pressed = -1;
    bool m_resized = false;
};

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
    setHorizontalHeader(new TitleHeader(this));
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
    m_fntTitleSel = horizontalHeader()->font();
    m_fntColumnSel = font();
    m_lookOld = {clBtnFace, clWindow, horizontalHeader()->font(), font()};
    TickCount = [] {
        using namespace std::chrono;
        return static_cast<uint32_t>(
            duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
    };
    connect(horizontalHeader(), &QHeaderView::sectionMoved, this, [this](int, int from, int to) {
        ColumnMoved(from + 1, to + 1); // grid positions count the indicator
    });
    m_PopupMenu = new QMenu(this);
    m_MenuItem = m_PopupMenu->addAction("Exportieren");
    m_MenuItem->setData(0); // the tag
    ExportWriter = [this](ClientDataSet& ds) { quorvel::ExportDataset(this, &ds); };
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
    connect(m_model.get(), &QAbstractItemModel::modelAboutToBeReset, this, [this] {
        m_keptLayout.clear();
        SaveSettingsToMem(m_keptLayout);
        m_keptSortLogical = LogicalOf(m_nSortColumn);
    });
    connect(m_model.get(), &QAbstractItemModel::modelReset, this, [this] {
        // A new index or a reopen keeps the columns' order and widths when the fields stay.
        const TGridSettings kept = std::move(m_keptLayout);
        m_keptLayout.clear();
        LayOutColumns();
        bool same = static_cast<int>(kept.size()) == ColumnCount();
        if (same) {
            for (int c = 0; c < ColumnCount() && same; ++c)
                same = m_model->FieldAt(c) && GetColIndexByFieldname(m_model->FieldAt(c)->FieldName()) >= 0;
        }
        if (same) {
            const bool ignore = m_bIgnoreTitleClick;
            PlaceColumns(static_cast<int>(kept.size()),
                         [&](int i) { return kept[static_cast<size_t>(i - 1)]; });
            if (m_keptSortLogical >= 0) m_nSortColumn = horizontalHeader()->visualIndex(m_keptSortLogical);
            m_bIgnoreTitleClick = ignore;
        } else {
            ResetLooks();
        }
        FollowCursor(m_model->CurrentRow());
    });
    ResetLooks();
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
// The width counts the cell alone: the grid line beside it comes on top, as the view's
// column width holds both. Only when the columns are built, never per edit.
void TDBSortGrid::LayOutColumns() {
    if (!m_model) return;
    const QFontMetrics fm(font());
    const QFontMetrics tm(horizontalHeader()->font());
    const int digit = fm.horizontalAdvance('0');
    const int line = showGrid() ? 1 : 0;
    for (int c = 0; c < m_model->columnCount(); ++c) {
        Field* f = m_model->FieldAt(c);
        int w = f->DisplayWidth * digit + 4;
        if (m_options & dgTitles)
            w = std::max(w, tm.horizontalAdvance(QString::fromStdString(f->DisplayName())) + 8);
        setColumnWidth(c, w + line);
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

int TDBSortGrid::ColumnCount() const {
    return m_model ? m_model->columnCount() : 0;
}

int TDBSortGrid::LogicalOf(int column) const {
    if (column < 0 || column >= ColumnCount()) return -1;
    return horizontalHeader()->logicalIndex(column);
}

Field* TDBSortGrid::ColumnField(int column) const {
    const int logical = LogicalOf(column);
    return logical < 0 ? nullptr : m_model->FieldAt(logical);
}

void TDBSortGrid::MoveColumn(int from, int to) {
    if (from < 0 || from >= ColumnCount() || to < 0 || to >= ColumnCount() || from == to) return;
    horizontalHeader()->moveSection(from, to); // through ColumnMoved
}

void TDBSortGrid::ResetLooks() {
    const ColumnLook normal{clBtnFace, clWindow, horizontalHeader()->font(), font()};
    m_looks.assign(static_cast<size_t>(ColumnCount()), normal);
}

const TDBSortGrid::ColumnLook* TDBSortGrid::LookAt(int logical) const {
    return logical >= 0 && logical < static_cast<int>(m_looks.size()) ? &m_looks[static_cast<size_t>(logical)]
                                                                      : nullptr;
}

TDBSortGrid::ColumnLook& TDBSortGrid::LookOf(int column) {
    const int logical = LogicalOf(column);
    if (logical >= static_cast<int>(m_looks.size())) ResetLooks();
    return m_looks.at(static_cast<size_t>(logical));
}

TColor TDBSortGrid::ColumnTitleColor(int column) const {
    const ColumnLook* l = LookAt(LogicalOf(column));
    return l ? l->titleColor : clBtnFace;
}
TColor TDBSortGrid::ColumnColor(int column) const {
    const ColumnLook* l = LookAt(LogicalOf(column));
    return l ? l->color : clWindow;
}
QFont TDBSortGrid::ColumnTitleFont(int column) const {
    const ColumnLook* l = LookAt(LogicalOf(column));
    return l ? l->titleFont : horizontalHeader()->font();
}
QFont TDBSortGrid::ColumnFont(int column) const {
    const ColumnLook* l = LookAt(LogicalOf(column));
    return l ? l->font : font();
}

// ---- sorting -------------------------------------------------------------------------------------

void TDBSortGrid::SetSortColumn(int Value) {
    if (Value < 0 || Value >= ColumnCount() || DisableSorting || !m_dataSource || !m_dataSource->DataSet())
        return;
    Field* field = ColumnField(Value);
    if (!field || field->Calculated() || IsMemoField(*field)) return;
    ApplySortColumn(Value);
}

void TDBSortGrid::ApplySortColumn(int Value) {
    ClientDataSet& ds = *m_dataSource->DataSet();
    const std::string fieldName = ColumnField(Value)->FieldName();
    // A detail keeps its master link's field in front of the sort field: the first of the
    // index field names it has now.
    std::string prefix;
    if (ds.MasterSource()) {
        m_sInitialIndexString = ds.IndexFieldNames();
        prefix = m_sInitialIndexString.substr(0, m_sInitialIndexString.find(';'));
    }
    if (m_nSortColumn >= 0 && m_nSortColumn < ColumnCount()) LookOf(m_nSortColumn) = m_lookOld;
    TCloneClientDataSet* clone = dynamic_cast<TCloneClientDataSet*>(&ds);
    if (clone) clone->DisableDataChange();
    struct Resume {
        TCloneClientDataSet* c;
        ~Resume() {
            if (c) c->EnableDataChange();
        }
    } resume{clone};
    ColumnLook& look = LookOf(Value);
    m_lookOld = look;
    look = {m_clrTitleSel, m_clrColumnSel, m_fntTitleSel, m_fntColumnSel};
    m_nSortColumn = Value;
    horizontalHeader()->viewport()->update();
    viewport()->update();
    if (!ds.Active()) return;
    // The current record, by its "Id" when the dataset has one, else by a bookmark.
    Field* id = ds.FindField("Id");
    const int32_t idValue = id ? id->AsInteger() : 0;
    const Bookmark mark = id ? kNoBookmark : ds.GetBookmark();
    std::string index = prefix.empty() ? fieldName : prefix + ";" + fieldName;
    if (!DefaultSortFields.empty()) index += ";" + DefaultSortFields;
    // Always ascending: a descending index on the same fields is replaced too.
    if (ds.IndexFieldNames() != index || ds.Index().descending) {
        ds.SetIndexFieldNames(index);
        m_selectedRows.clear();
    }
    if (id) {
        ds.Locate(id->FieldName(), Variant(idValue));
    } else if (mark != kNoBookmark) {
        try {
            ds.GotoBookmark(mark);
        } catch (const std::exception&) {
        }
        ds.FreeBookmark(mark);
    }
}

void TDBSortGrid::TitleClick(int column) {
    if (m_bIgnoreTitleClick) {
        m_bIgnoreTitleClick = false;
        return;
    }
    SetSortColumn(column);
}

void TDBSortGrid::ColumnMoved(int FromIndex, int ToIndex) {
    const int f = FromIndex - 1, t = ToIndex - 1, s = m_nSortColumn;
    if (f < s && t >= s)
        m_nSortColumn = s - 1;
    else if (f == s)
        m_nSortColumn = t;
    else if (f > s && t <= s)
        m_nSortColumn = s + 1;
    m_bIgnoreTitleClick = true;
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
    bool blank = true;
    for (const char ch : sFieldname)
        if (static_cast<unsigned char>(ch) > ' ') blank = false;
    if (blank) return -1;
    for (int c = 0; c < ColumnCount(); ++c)
        if (ColumnField(c)->FieldName() == sFieldname) return c;
    return -1;
}

// ---- incremental search ----------------------------------------------------------------------------

void TDBSortGrid::KeyPress(char16_t Key) {
    if ((m_options & dgEditing) || m_nSortColumn < 0 || !m_dataSource || !m_dataSource->DataSet()) return;
    ClientDataSet& ds = *m_dataSource->DataSet();
    if (ds.State() != DataSetState::Browse) return;
    Field* field = ColumnField(m_nSortColumn);
    if (!field) return;
    const int32_t t = static_cast<int32_t>(TickCount ? TickCount() : 0u);
    const std::string ch = QString(QChar(Key)).toStdString();
    if (static_cast<int32_t>(static_cast<uint32_t>(t) - static_cast<uint32_t>(liKeyHistoryTickCount)) >= 1000)
        sKeyHistory = ch;
    else
        sKeyHistory += ch;
    liKeyHistoryTickCount = t;
    Variant value;
    switch (field->DataType()) {
    case FieldType::String:
        // The first value in the dataset's order that begins with the text, in any case; an
        // error here is not a number that failed to convert and goes on to the caller.
        ds.Locate(field->FieldName(), Variant(sKeyHistory), loCaseInsensitive | loPartialKey);
        return;
    case FieldType::Integer:
    case FieldType::AutoInc:
        if (auto v = ParseInt32(sKeyHistory)) {
            value = Variant(*v);
        } else {
            sKeyHistory.clear();
            return;
        }
        break;
    case FieldType::Float:
    case FieldType::Currency:
        if (auto v = ParseDouble(sKeyHistory, Locale().decimalSeparator)) {
            value = Variant(*v);
        } else {
            sKeyHistory.clear();
            return;
        }
        break;
    default:
        return; // Booleans and date-times are not sought
    }
    try {
        ds.Locate(field->FieldName(), value);
    } catch (const std::exception&) {
        // a number that cannot be sought leaves the record where it is
    }
}

// ---- column layout ----------------------------------------------------------------------------------

void TDBSortGrid::SaveSettingsToIni(TIniFile& IniFile, const std::string& sSection) const {
    for (int c = 0; c < ColumnCount(); ++c) {
        const std::string n = std::to_string(c + 1);
        IniFile.WriteString(sSection, "spalte_" + n + "_name", ColumnField(c)->FieldName());
        IniFile.WriteInteger(sSection, "spalte_" + n + "_breite", columnWidth(LogicalOf(c)));
    }
}

void TDBSortGrid::SaveSettingsToMem(TGridSettings& Settings) const {
    Settings.clear();
    for (int c = 0; c < ColumnCount(); ++c)
        Settings.push_back({ColumnField(c)->FieldName(), columnWidth(LogicalOf(c))});
}

void TDBSortGrid::LoadSettingsFromIni(const TIniFile& IniFile, const std::string& sSection) {
    LoadSettings(ColumnCount(), [&](int i) {
        const std::string n = std::to_string(i);
        return TGridSetting{IniFile.ReadString(sSection, "spalte_" + n + "_name", ""),
                            IniFile.ReadInteger(sSection, "spalte_" + n + "_breite", -1)};
    });
}

void TDBSortGrid::LoadSettingsFromMem(const TGridSettings& Settings) {
    LoadSettings(std::min(ColumnCount(), static_cast<int>(Settings.size())),
                 [&](int i) { return Settings[static_cast<size_t>(i - 1)]; });
}

// Position i (from 1) takes the column of the entry's field; the entry's width goes to the
// column standing at that position then, also when the name is empty or no column shows that
// field. Only widths from 1 to kMaxLayoutColumnWidth are taken: a damaged layout neither hides
// nor loses a column.
void TDBSortGrid::LoadSettings(int count, const std::function<TGridSetting(int)>& entry) {
    ClientDataSet* ds = m_dataSource ? m_dataSource->DataSet() : nullptr;
    const bool disable = ds && !ds->ControlsDisabled();
    if (disable) ds->DisableControls();
    struct Enable {
        ClientDataSet* ds;
        ~Enable() {
            if (ds) ds->EnableControls();
        }
    } enable{disable ? ds : nullptr};
    PlaceColumns(count, entry);
}

void TDBSortGrid::PlaceColumns(int count, const std::function<TGridSetting(int)>& entry) {
    for (int i = 1; i <= count; ++i) {
        const TGridSetting e = entry(i);
        bool blank = true;
        for (const char ch : e.sName)
            if (static_cast<unsigned char>(ch) > ' ') blank = false;
        if (!blank) {
            const int at = GetColIndexByFieldname(e.sName);
            if (at >= 0 && at != i - 1) MoveColumn(at, i - 1);
        }
        if (e.nWidth > 0 && e.nWidth <= kMaxLayoutColumnWidth && i <= ColumnCount())
            setColumnWidth(LogicalOf(i - 1), e.nWidth);
    }
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
    const bool dataCell = !(indicator && ACol == 0) && !(titles && ARow == 0);
    if (dataCell && showGrid()) {
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
    // Left-aligned text starts 2 pixels in and runs to the cell's right edge; right-aligned
    // text ends 3 pixels before it; centred text is centred in the whole cell.
    const Qt::Alignment h = field.alignment == Alignment::Left    ? Qt::AlignLeft
                            : field.alignment == Alignment::Right ? Qt::AlignRight
                                                                  : Qt::AlignHCenter;
    const QRect box = field.alignment == Alignment::Left    ? Rect.adjusted(2, 0, 0, 0)
                      : field.alignment == Alignment::Right ? Rect.adjusted(0, 0, -3, 0)
                                                            : Rect;
    p.save();
    p.setClipRect(Rect, Qt::IntersectClip);
    DrawCellText(p, box, h, text);
    p.restore();
}

size_t TDBSortGrid::CellTextsKept() const {
    return m_texts ? m_texts->Kept() : 0;
}

void TDBSortGrid::DrawCellText(QPainter& p, const QRect& box, Qt::Alignment horizontal, const QString& text) {
    if (!m_texts) m_texts = std::make_unique<CellTexts>();
    m_texts->Draw(p, box, (horizontal & Qt::AlignHorizontal_Mask) | Qt::AlignVCenter, text);
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
    const ColumnLook* look = LookAt(index.column());
    const QColor base = ToQColor(highlight ? clHighlight : look ? look->color : clWindow);
    p->save();
    try {
        if (!field) throw DataSetError("no field");
        m_model->Cursor().PeekRecord(index.row() + 1, [&] {
            m_canvas.Painter = p;
            m_canvas.BrushColor = base;
            m_canvas.FontColor = ToQColor(highlight ? clHighlightText : clWindowText);
            m_canvas.Font = look ? look->font : font();
            if (!OnDrawDataCell || !DataCellEventDrawsCell) DefaultDrawDataCell(rect, *field, state);
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

void TDBSortGrid::dataChanged(const QModelIndex& topLeft, const QModelIndex& bottomRight,
                              const QList<int>& roles) {
    // Qt's table view repaints a changed range of cells with the first pixel row beyond it,
    // which draws the next row again. Whole rows (what the grid's model reports) repaint exactly
    // their cells; the grid lines around them stay as they are.
    const bool wholeRows = topLeft.isValid() && bottomRight.isValid() && topLeft.model() == model() &&
                           bottomRight.model() == model() && !topLeft.parent().isValid() &&
                           topLeft.column() == 0 && bottomRight.column() == model()->columnCount() - 1 &&
                           topLeft.row() <= bottomRight.row() && topLeft != bottomRight;
    if (!wholeRows || QAccessible::isActive()) {
        QTableView::dataChanged(topLeft, bottomRight, roles);
        return;
    }
    if (!isVisible()) return;
    const QRect shown = viewport()->rect();
    const int top = rowViewportPosition(topLeft.row());
    const int bottom = rowViewportPosition(bottomRight.row());
    if (top < 0 || bottom < 0) { // a row that is not laid out (yet): as Qt does it
        QTableView::dataChanged(topLeft, bottomRight, roles);
        return;
    }
    const int end = bottom + rowHeight(bottomRight.row()) - (showGrid() ? 1 : 0);
    const QRect dirty = QRect(0, top, shown.width(), end - top).intersected(shown);
    if (!dirty.isEmpty()) viewport()->update(dirty);
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
        // A typed character goes to the search only, never to the base grid.
        // (Delete makes no character, as on the platform the grid follows.)
        for (const QChar ch : e->text())
            if (ch.unicode() != 0x7F) KeyPress(ch.unicode());
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
        }
    }
    return QTableView::eventFilter(watched, event);
}

} // namespace quorvel
