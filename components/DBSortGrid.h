#pragma once
// The data-aware grid of a read-mostly list of records, over Qt's model/view.
//
// It shows the visible fields of its data source's dataset, one row per record, with each
// field's title, display text, width in characters and alignment. Boolean fields are drawn as
// check boxes (greyed when null); one wheel notch moves one record, like an arrow key; Ctrl+
// Delete is blocked unless allowed; typed characters and title clicks do nothing; a right
// press opens the grid's own menu ("Exportieren"); the first mouse release after the grid
// took the focus raises the data source's data-change event.
//
// Sorting: a title click or SortColumn sorts the dataset ascending by the column's field
// (through its index field names, DefaultSortFields appended; a detail keeps the first of its
// index fields, its master link's, in front), highlights the column's title
// and cells with the Sel* colours and fonts, and keeps the current record. While sorting is
// off (DisableSorting) neither does anything. With a sort column and no in-place editing,
// characters typed within a second of each other build a text the dataset is moved to, on
// the sort column. The column order and widths are saved to and restored from an ini section
// or an array, by field name; a restore passes over what the grid cannot use. Column indices
// count the columns as they stand on screen, from 0. A posted edit repaints only the
// rows it changed: nothing resets the model, walks all rows or lays out the columns per edit.
//
// No exception leaves a paint or event handler: a cell whose drawing fails is drawn empty,
// errors of the key handling are dropped, and other errors go to OnError.
#include <QFont>
#include <QTableView>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "components/DataSetModel.h"
#include "platform/datasource.h"

class QMenu;
class QAction;

namespace quorvel {

class TIniFile;

// The layout of one column: its field name and width in pixels (-1: width unchanged).
struct TGridSetting {
    std::string sName;
    int nWidth = -1;
};
using TGridSettings = std::vector<TGridSetting>;

// The widest column a stored layout may set; a wider or non-positive width is passed over.
constexpr int kMaxLayoutColumnWidth = 10000;

class TCloneClientDataSet;
class CellTexts;

// Colours written 0x00BBGGRR.
using TColor = uint32_t;
QColor ToQColor(TColor c);

// The grid's options.
enum TDBGridOption : unsigned {
    dgEditing = 1u << 0,
    dgAlwaysShowEditor = 1u << 1,
    dgTitles = 1u << 2,
    dgIndicator = 1u << 3,
    dgColumnResize = 1u << 4,
    dgColLines = 1u << 5,
    dgRowLines = 1u << 6,
    dgTabs = 1u << 7,
    dgRowSelect = 1u << 8,
    dgAlwaysShowSelection = 1u << 9,
    dgConfirmDelete = 1u << 10,
    dgCancelOnExit = 1u << 11,
    dgMultiSelect = 1u << 12,
};
using TDBGridOptions = unsigned;

// The state of a cell being drawn.
enum TGridDrawStateBit : unsigned { gdSelected = 1u, gdFocused = 2u, gdFixed = 4u };
using TGridDrawState = unsigned;

// Check-box states of the drawing: flat look, ticked, greyed.
constexpr unsigned DFCS_INACTIVE = 0x0100;
constexpr unsigned DFCS_CHECKED = 0x0400;
constexpr unsigned DFCS_FLAT = 0x4000;

// What a cell is drawn with; the data-cell event may change the colours and then draw the cell
// again with DefaultDrawDataCell.
struct TGridCanvas {
    QPainter* Painter = nullptr;
    QColor BrushColor;
    QColor FontColor;
    QFont Font;
};

class TDBSortGrid : public QTableView {
    Q_OBJECT
public:
    explicit TDBSortGrid(QWidget* parent = nullptr);
    ~TDBSortGrid() override;

    // ---- data ----------------------------------------------------------------------------
    void SetDataSource(TDataSource* source);
    TDataSource* DataSource() const { return m_dataSource; }
    DataSetModel* Model() const { return m_model.get(); }

    // ---- options and properties ----------------------------------------------------------
    TDBGridOptions Options() const { return m_options; }
    void SetOptions(TDBGridOptions options);
    TDBGridOptions SaveOptions = 0;
    bool ReadOnly = false;
    // 0 (3-D look) or DFCS_FLAT: added to every check box drawn.
    unsigned FFlat = 0;
    bool CheckBox3D() const { return FFlat == 0; }
    void SetCheckBox3D(bool value) { FFlat = value ? 0 : DFCS_FLAT; }
    bool AllowDelete = false;
    bool DisableSorting = false;
    std::string DefaultSortFields;
    int SortColumn() const { return m_nSortColumn; }
    void SetSortColumn(int column);
    TColor SelTitleColor() const { return m_clrTitleSel; }
    void SetSelTitleColor(TColor c);
    TColor SelColumColor() const { return m_clrColumnSel; }
    void SetSelColumColor(TColor c);
    const QFont& SelTitleFont() const { return m_fntTitleSel; }
    void SetSelTitleFont(const QFont& f);
    const QFont& SelColumFont() const { return m_fntColumnSel; }
    void SetSelColumFont(const QFont& f);
    // The rows marked by plain key moves (shown only with multi-selection).
    const std::set<Bookmark>& SelectedRows() const { return m_selectedRows; }

    // Index of the first column showing the field (the name compared exactly, case included),
    // -1 when none does or the name is blank.
    int GetColIndexByFieldname(const std::string& sFieldname) const;
    // The number of columns, and the field shown in a column (null outside).
    int ColumnCount() const;
    Field* ColumnField(int column) const;
    // Moves a column to another place; the sort column's index follows.
    void MoveColumn(int from, int to);
    // The look of a column's title and cells (the highlight of the sort column).
    TColor ColumnTitleColor(int column) const;
    TColor ColumnColor(int column) const;
    QFont ColumnTitleFont(int column) const;
    QFont ColumnFont(int column) const;

    // ---- column layout ---------------------------------------------------------------------
    void SaveSettingsToIni(TIniFile& IniFile, const std::string& sSection) const;
    void LoadSettingsFromIni(const TIniFile& IniFile, const std::string& sSection);
    void SaveSettingsToMem(TGridSettings& Settings) const;
    void LoadSettingsFromMem(const TGridSettings& Settings);

    // ---- incremental search ----------------------------------------------------------------
    // The millisecond tick count the search measures its pauses with.
    std::function<uint32_t()> TickCount;
    const std::string& KeyHistory() const { return sKeyHistory; }
    // A typed character: the search step; it never reaches the base grid.
    void KeyPress(char16_t Key);
    // The cell's rectangle in the grid's coordinates; column 0 is the indicator and row 0 the
    // titles when they are shown, data rows count from the first one on screen.
    QRect CellRect(int ACol, int ARow) const;

    // ---- menu and export -------------------------------------------------------------------
    QMenu* m_PopupMenu = nullptr;
    QAction* m_MenuItem = nullptr; // "Exportieren", tag 0
    void ExportMenuItemClick();
    // Writes the dataset out; refuses a missing dataset and one whose export is locked.
    void ExportDataset(ClientDataSet* DataSet);
    // The writer the export hands the dataset to: the save dialog and the CSV file
    // (ExportDialog.h) unless replaced.
    std::function<void(ClientDataSet&)> ExportWriter;

    // ---- drawing ---------------------------------------------------------------------------
    using DrawDataCellEvent =
        std::function<void(TDBSortGrid& Sender, const QRect& Rect, Field& field, TGridDrawState State)>;
    using DrawColumnCellEvent = std::function<void(TDBSortGrid& Sender, const QRect& Rect, int DataCol,
                                                   Field* field, TGridDrawState State)>;
    // Called for every data cell after its text was written with the normal colours, before
    // the check boxes; the cell's record is the dataset's current one meanwhile.
    DrawDataCellEvent OnDrawDataCell;
    // Set when the data-cell event always ends by drawing the whole cell again through
    // DefaultDrawDataCell with an opaque brush: the grid then leaves out its own drawing of
    // the cell beneath, which nobody would see. Off by default.
    bool DataCellEventDrawsCell = false;
    DrawColumnCellEvent OnDrawColumnCell;
    TGridCanvas& Canvas() { return m_canvas; }
    // Fills the cell with the canvas's brush and writes the field's display text in its
    // alignment with the canvas's font.
    void DefaultDrawDataCell(const QRect& Rect, Field& field, TGridDrawState State);
    // The 14-pixel band of a cell that check boxes and memo text are drawn into.
    static QRect CheckBoxBand(const QRect& cell);
    // A check box in the band; state: FFlat plus DFCS_CHECKED or DFCS_INACTIVE.
    static void DrawCheckBox(QPainter& p, const QRect& band, unsigned state);
    // Memo text wrapped into the band (its left edge 2 pixels in), tabs expanded, "&" literal.
    static void DrawMemoText(QPainter& p, const QRect& band, const QString& text, Alignment alignment);
    // Whether the field is drawn as memo text (the engine has no memo fields yet).
    static bool IsMemoField(const Field&) { return false; }
    // Writes a single line of text in a box exactly as QPainter::drawText(box, flags | Qt::
    // AlignVCenter | Qt::TextSingleLine, text) does, clipped to the box, with the painter's font
    // and pen; the text's layout is kept for the next time the same text is drawn in the same
    // font (CellTexts). Other texts go to drawText itself.
    void DrawCellText(QPainter& p, const QRect& box, Qt::Alignment horizontal, const QString& text);
    // Texts whose layouts are kept.
    size_t CellTextsKept() const;

    // ---- input -----------------------------------------------------------------------------
    // The key step of the grid; the wheel calls it with Down or Up for each notch.
    void KeyDown(int& Key, Qt::KeyboardModifiers Shift, Qt::MouseButtons buttons = Qt::NoButton);
    // An error that escaped an input handler (the key handling's own are dropped).
    std::function<void(const std::exception&)> OnError;

protected:
    void keyPressEvent(QKeyEvent* e) override;
    void wheelEvent(QWheelEvent* e) override;
    void mousePressEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;
    void mouseDoubleClickEvent(QMouseEvent* e) override;
    void focusInEvent(QFocusEvent* e) override;
    void currentChanged(const QModelIndex& current, const QModelIndex& previous) override;
    void dataChanged(const QModelIndex& topLeft, const QModelIndex& bottomRight,
                     const QList<int>& roles = QList<int>()) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

public:
    void keyboardSearch(const QString&) override {} // typed characters do nothing

private:
    friend class DBSortGridDelegate;
    friend class TitleHeader;
    struct ColumnLook {
        TColor titleColor, color;
        QFont titleFont, font;
    };
    void TitleClick(int column);
    void ColumnMoved(int FromIndex, int ToIndex);
    void ApplySortColumn(int Value);
    void LoadSettings(int count, const std::function<TGridSetting(int)>& entry);
    void PlaceColumns(int count, const std::function<TGridSetting(int)>& entry);
    int LogicalOf(int column) const;
    ColumnLook& LookOf(int column);
    const ColumnLook* LookAt(int logical) const;
    void ResetLooks();
    void PaintCell(QPainter* p, const QRect& rect, const QModelIndex& index);
    void DrawColumnCell(const QRect& rect, int dataCol, Field* field, TGridDrawState state);
    void CellClick(int column);
    void ColEnter(int column);
    void ColExit(int column);
    void BaseKeyDown(int key, Qt::KeyboardModifiers shift);
    void MouseDown(QMouseEvent* e);
    void PopupAt(const QPoint& globalPos);
    void ApplyOptions();
    void LayOutColumns();
    void FollowCursor(int row);
    void ReportError(const std::exception& e);
    void RethrowPending();
    TCloneClientDataSet* CloneDataSet() const;
    Field* SelectedField() const;
    Field* FieldOfColumn(int column) const;

    TDataSource* m_dataSource = nullptr;
    std::unique_ptr<DataSetModel> m_model;
    TDBGridOptions m_options = 0;
    int m_nSortColumn = -1;
    bool m_bIgnoreTitleClick = false;
    bool m_bEntered = false;
    TColor m_clrTitleSel = 0;
    TColor m_clrColumnSel = 0;
    QFont m_fntTitleSel, m_fntColumnSel;
    TGridCanvas m_canvas;
    std::vector<ColumnLook> m_looks; // by model column
    ColumnLook m_lookOld;            // the sort column's look before it was highlighted
    TGridSettings m_keptLayout;      // the layout across a reset of the model
    int32_t liKeyHistoryTickCount = 0;
    std::string sKeyHistory;
    std::string m_sInitialIndexString; // a detail's index field names at the last sort
    int m_keptSortLogical = -1;
    std::set<Bookmark> m_selectedRows;
    bool m_following = false;     // the view follows a move of the cursor
    std::exception_ptr m_pending; // an error of a cursor move inside a base step
    int m_wheelRest = 0;
    int m_indicatorRow = -1;
    std::unique_ptr<CellTexts> m_texts; // the cells' laid-out texts
};

} // namespace quorvel
