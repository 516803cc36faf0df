// Sorting, incremental search and column layout of the data grid, on a grid of their own.
#include <QHeaderView>
#include <QTest>
#include <algorithm>
#include <fstream>
#include <gtest/gtest.h>
#include <memory>

#include "components/DBSortGrid.h"
#include "components/core/CloneClientDataSet.h"
#include "platform/profile.h"
#include "tests/support/localescope.h"
#include "tests/support/tempdir.h"
#include "tests/support/walk.h"

using namespace quorvel;

namespace {

const std::vector<FieldDef> kDefs = {{"Id", FieldType::AutoInc},
                                     {"n", FieldType::Integer},
                                     {"lots", FieldType::Float},
                                     {"flag", FieldType::Boolean},
                                     {"at", FieldType::DateTime}};

// Columns Id, n, lots, flag, at, calc (calculated). Rows (n, lots): see kRows.
const std::pair<int, double> kRows[] = {{30, 0.5}, {12, 0.25}, {7, 0.5}, {125, 0.1}, {12, 1.5}, {3, 0.25}};

struct SortFixture {
    std::unique_ptr<ClientDataSet> ds;
    TDataSource source;
    TDBSortGrid grid;
    uint32_t tick = 50000;
    explicit SortFixture(bool clone = false, bool withId = true) {
        ds = clone ? std::make_unique<TCloneClientDataSet>("ds") : std::make_unique<ClientDataSet>("ds");
        std::vector<FieldDef> defs = kDefs;
        if (!withId) defs[0] = {"key", FieldType::AutoInc};
        for (const FieldDef& d : defs) ds->AddField(d.name, d.type);
        ds->AddCalculatedField("calc", FieldType::Integer);
        ds->OnCalcFields = [](ClientDataSet& d) {
            d.FieldByName("calc").SetAsInteger(-d.FieldByName("n").AsInteger());
        };
        ds->CreateDataSet(defs);
        for (const auto& [n, lots] : kRows) {
            ds->Append();
            ds->FieldByName("n").SetAsInteger(n);
            ds->FieldByName("lots").SetAsFloat(lots);
            ds->Post();
        }
        ds->First();
        source.SetDataSet(ds.get());
        grid.SetDataSource(&source);
        grid.SetOptions(grid.Options() & ~dgEditing);
        grid.TickCount = [this] { return tick; };
        grid.resize(600, 300);
        grid.show();
    }
    ~SortFixture() {
        grid.SetDataSource(nullptr);
        source.SetDataSet(nullptr);
    }
    int Current() { return ds->FieldByName("n").AsInteger(); }
    std::vector<int> Walk() { return test::Walk(*ds, "n"); }
    std::vector<std::string> Columns() {
        std::vector<std::string> out;
        for (int c = 0; c < grid.ColumnCount(); ++c) out.push_back(grid.ColumnField(c)->FieldName());
        return out;
    }
    void ClickTitle(int column) {
        const int logical = grid.horizontalHeader()->logicalIndex(column);
        const int x = grid.horizontalHeader()->sectionViewportPosition(logical) + 10;
        QTest::mouseClick(grid.horizontalHeader()->viewport(), Qt::LeftButton, {}, QPoint(x, 5));
    }
};

constexpr TColor kTitleSel = 0x00FFFF, kColumnSel = 0xFF00FF;

} // namespace

TEST(GridSorting, SortingSetsTheIndexFieldNamesAndKeepsTheCurrentRecord) {
    struct Case {
        const char* what;
        int column;
        std::string defaults;
        std::string index;
        std::vector<int> order;
    };
    const Case cases[] = {
        {"integer column", 1, "", "n", {3, 7, 12, 12, 30, 125}},
        {"float column, ties in natural order", 2, "", "lots", {125, 12, 3, 30, 7, 12}},
        {"default sort fields appended", 2, "n;Id", "lots;n;Id", {125, 3, 12, 7, 30, 12}},
        {"key column", 0, "", "Id", {30, 12, 7, 125, 12, 3}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SortFixture f;
        f.grid.DefaultSortFields = c.defaults;
        ASSERT_TRUE(f.ds->Locate("n", Variant(125)));
        f.grid.SetSortColumn(c.column);
        EXPECT_EQ(f.grid.SortColumn(), c.column);
        EXPECT_EQ(f.ds->IndexFieldNames(), c.index);
        EXPECT_EQ(f.Walk(), c.order);
        EXPECT_EQ(f.Current(), 125);
        EXPECT_EQ(f.grid.currentIndex().row(), f.ds->RecNo() - 1); // the grid shows it where it went
    }
    // Without an "Id" field the record is kept by its bookmark.
    SortFixture f(false, false);
    ASSERT_TRUE(f.ds->Locate("n", Variant(7)));
    f.grid.SetSortColumn(1);
    EXPECT_EQ(f.ds->IndexFieldNames(), "n");
    EXPECT_EQ(f.Current(), 7);
    EXPECT_EQ(f.ds->RecNo(), 2);
}

TEST(GridSorting, RefusedSortRequestsChangeNothingNotEvenTheHighlight) {
    SortFixture f;
    f.grid.SetSelTitleColor(kTitleSel);
    f.grid.SetSelColumColor(kColumnSel);
    f.grid.SetSortColumn(1);
    ASSERT_EQ(f.ds->IndexFieldNames(), "n");
    struct Case {
        const char* what;
        int column;
    };
    const Case cases[] = {{"past the last column", 6}, {"negative", -1}, {"calculated column", 5}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        f.grid.SetSortColumn(c.column);
        EXPECT_EQ(f.grid.SortColumn(), 1);
        EXPECT_EQ(f.ds->IndexFieldNames(), "n");
        EXPECT_EQ(f.grid.ColumnTitleColor(1), kTitleSel);
        EXPECT_EQ(f.grid.ColumnColor(5), 0xFFFFFFu);
    }
    // Sorting switched off keeps the sorted column, its highlight and the index.
    f.grid.DisableSorting = true;
    f.grid.SetSortColumn(2);
    f.ClickTitle(2);
    EXPECT_EQ(f.grid.SortColumn(), 1);
    EXPECT_EQ(f.ds->IndexFieldNames(), "n");
    EXPECT_EQ(f.grid.ColumnColor(1), kColumnSel);
    EXPECT_EQ(f.grid.ColumnColor(2), 0xFFFFFFu);
}

TEST(GridSorting, TheSortColumnIsHighlightedAndGivesItsLookBack) {
    SortFixture f(true);
    auto* clone = static_cast<TCloneClientDataSet*>(f.ds.get());
    const TColor title = f.grid.ColumnTitleColor(2), cells = f.grid.ColumnColor(2);
    const QFont normal = f.grid.ColumnFont(2);
    QFont bold = normal;
    bold.setBold(true);
    f.grid.SetSelTitleColor(kTitleSel);
    f.grid.SetSelColumColor(kColumnSel);
    f.grid.SetSelColumFont(bold);
    EXPECT_EQ(f.grid.ColumnColor(2), cells); // no sort column yet: nothing highlighted
    f.grid.SetSortColumn(2);
    EXPECT_EQ(clone->DisableCount(), 0); // suspended while sorting, given back
    EXPECT_EQ(f.grid.ColumnTitleColor(2), kTitleSel);
    EXPECT_EQ(f.grid.ColumnColor(2), kColumnSel);
    EXPECT_TRUE(f.grid.ColumnFont(2).bold());
    // The cells are drawn in the column's colour.
    f.ds->First();
    f.grid.clearFocus();
    const QImage img = f.grid.grab().toImage();
    const QRect cell =
        f.grid.visualRect(f.grid.model()->index(3, 2)).translated(f.grid.viewport()->geometry().topLeft());
    EXPECT_EQ(img.pixel(cell.left() + 2, cell.top() + 2), ToQColor(kColumnSel).rgb());
    // So is the title.
    QHeaderView* header = f.grid.horizontalHeader();
    const QImage titles = header->grab().toImage();
    EXPECT_EQ(titles.pixel(header->sectionViewportPosition(2) + 1, 1), ToQColor(kTitleSel).rgb());
    EXPECT_EQ(titles.pixel(header->sectionViewportPosition(1) + 1, 1), ToQColor(title).rgb());
    // A new colour re-applies the highlight; another column takes it over and gives the look back.
    f.grid.SetSelColumColor(0x00FF00);
    EXPECT_EQ(f.grid.ColumnColor(2), 0x00FF00u);
    f.grid.SetSortColumn(1);
    EXPECT_EQ(f.grid.ColumnTitleColor(2), title);
    EXPECT_EQ(f.grid.ColumnColor(2), cells);
    EXPECT_EQ(f.grid.ColumnFont(2), normal);
    EXPECT_EQ(f.grid.ColumnColor(1), 0x00FF00u);
}

TEST(GridSorting, TheSortColumnFollowsColumnMovesAndAMoveDoesNotSort) {
    struct Case {
        int from, to, sort;
    };
    // Four data columns shown (Id, n, lots, flag) plus two; column 3 sorted.
    const Case cases[] = {{0, 3, 2}, {3, 0, 0}, {1, 2, 3}, {4, 5, 3}, {5, 2, 4}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.from) + " to " + std::to_string(c.to));
        SortFixture f;
        f.grid.SetSelColumColor(kColumnSel);
        f.grid.SetSortColumn(3);
        f.grid.MoveColumn(c.from, c.to);
        EXPECT_EQ(f.grid.SortColumn(), c.sort);
        EXPECT_EQ(f.grid.ColumnField(c.sort)->FieldName(), "flag");
        EXPECT_EQ(f.grid.ColumnColor(c.sort), kColumnSel); // the highlight moves with the column
        // The title click after a move does not sort; the next one does.
        const std::string index = f.ds->IndexFieldNames();
        f.ClickTitle(c.sort == 1 ? 2 : 1);
        EXPECT_EQ(f.ds->IndexFieldNames(), index);
        f.ClickTitle(c.sort == 1 ? 2 : 1);
        EXPECT_EQ(f.ds->IndexFieldNames(), f.grid.ColumnField(f.grid.SortColumn())->FieldName());
        EXPECT_NE(f.ds->IndexFieldNames(), index);
    }
}

TEST(GridSorting, ATitleClickSortsAndTheColumnOrderSurvivesTheNewIndex) {
    SortFixture f;
    f.grid.MoveColumn(2, 0); // lots, Id, n, ...
    f.grid.setColumnWidth(f.grid.horizontalHeader()->logicalIndex(2), 91);
    f.ClickTitle(3); // ignored: the move came first
    f.ClickTitle(2);
    EXPECT_EQ(f.grid.SortColumn(), 2);
    EXPECT_EQ(f.ds->IndexFieldNames(), "n");
    EXPECT_EQ(f.Columns(), (std::vector<std::string>{"lots", "Id", "n", "flag", "at", "calc"}));
    EXPECT_EQ(f.grid.columnWidth(f.grid.horizontalHeader()->logicalIndex(2)), 91);
    f.ClickTitle(0);
    EXPECT_EQ(f.ds->IndexFieldNames(), "lots");
    EXPECT_EQ(f.grid.SortColumn(), 0);
    EXPECT_EQ(f.Columns(), (std::vector<std::string>{"lots", "Id", "n", "flag", "at", "calc"}));
}

TEST(GridSorting, TypedCharactersWithinASecondSearchTheSortColumn) {
    struct Step {
        uint32_t pause; // ms since the key before
        char16_t key;
        std::string history;
        int current; // n of the current record afterwards
    };
    struct Case {
        const char* what;
        int column;
        std::vector<Step> steps;
    };
    const Case cases[] = {
        {"integer column",
         1,
         {{5000, '1', "1", 30},
          {100, '2', "12", 12},
          {100, 'x', "", 12},
          {100, '3', "3", 3},
          {999, '0', "30", 30},
          {1000, '7', "7", 7},
          {300, '\b', "", 7}}},
        {"digits restart after a pause",
         1,
         {{5000, '1', "1", 30}, {1200, '2', "2", 30}, {10, '5', "25", 30}}},
        {"float column by the locale",
         2,
         {{5000, '1', "1", 30},
          {10, ',', "1,", 30},
          {10, '5', "1,5", 12},
          {5000, '0', "0", 12},
          {1, '.', "", 12}}},
        {"boolean column only records the keys", 3, {{5000, 'a', "a", 30}, {10, '1', "a1", 30}}},
        {"date column only records the keys", 4, {{5000, '1', "1", 30}, {10, '2', "12", 30}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        test::LocaleScope comma{','};
        SortFixture f;
        f.grid.SetSortColumn(c.column);
        ASSERT_EQ(f.grid.SortColumn(), c.column);
        ASSERT_TRUE(f.ds->Locate("n", Variant(30)));
        for (const Step& s : c.steps) {
            SCOPED_TRACE(std::string(1, static_cast<char>(s.key)));
            f.tick += s.pause;
            f.grid.KeyPress(s.key);
            EXPECT_EQ(f.grid.KeyHistory(), s.history);
            EXPECT_EQ(f.Current(), s.current);
        }
    }
    // Typed through the widget: the character goes to the search and nowhere else.
    SortFixture f;
    f.grid.SetSortColumn(1);
    f.tick += 5000;
    QTest::keyClicks(&f.grid, "12");
    QTest::keyClick(&f.grid, Qt::Key_Delete); // no character
    EXPECT_EQ(f.grid.KeyHistory(), "12");
    EXPECT_EQ(f.Current(), 12);
    // A float: "0,25" typed quickly finds the first 0.25 in the sort order.
    test::LocaleScope comma{','};
    f.grid.SetSortColumn(2);
    f.tick += 5000;
    QTest::keyClicks(&f.grid, "0,25");
    EXPECT_EQ(f.grid.KeyHistory(), "0,25");
    EXPECT_EQ(f.ds->FieldByName("lots").AsFloat(), 0.25);
    EXPECT_EQ(f.Current(), 12);
}

namespace {
// A grid over a dataset with one text column.
struct TextFixture {
    ClientDataSet ds{"t"};
    TDataSource source;
    TDBSortGrid grid;
    uint32_t tick = 50000;
    TextFixture() {
        ds.CreateDataSet({{"id", FieldType::AutoInc}, {"name", FieldType::String}});
        for (const char* name : {"delta", "Alpha", "beta", "ALPINE", "alps", "Bart"}) {
            ds.Append();
            ds.FieldByName("name").SetAsString(name);
            ds.Post();
        }
        ds.First();
        source.SetDataSet(&ds);
        grid.SetDataSource(&source);
        grid.SetOptions(grid.Options() & ~dgEditing);
        grid.TickCount = [this] { return tick; };
        grid.resize(400, 300);
        grid.show();
    }
    ~TextFixture() {
        grid.SetDataSource(nullptr);
        source.SetDataSet(nullptr);
    }
    std::string Current() { return ds.FieldByName("name").AsString(); }
};
} // namespace

TEST(GridSorting, TypedCharactersFindTheFirstTextBeginningWithThemInAnyCase) {
    struct Step {
        uint32_t pause;
        char16_t key;
        std::string history;
        std::string current;
    };
    // In the sort order: ALPINE, Alpha, Bart, alps, beta, delta.
    const Step steps[] = {
        {5000, 'a', "a", "ALPINE"},    {10, 'l', "al", "ALPINE"},   {10, 'p', "alp", "ALPINE"},
        {10, 'h', "alph", "Alpha"},    {10, 'x', "alphx", "Alpha"}, // nothing begins so: it stays
        {1200, 'B', "B", "Bart"},      {10, 'E', "BE", "beta"},     {1000, 'a', "a", "ALPINE"},
        {10, 'l', "al", "ALPINE"},     {10, 'p', "alp", "ALPINE"},  {10, 's', "alps", "alps"},
        {999, '\b', "alps\b", "alps"},
    };
    TextFixture f;
    f.grid.SetSortColumn(1);
    ASSERT_EQ(f.ds.IndexFieldNames(), "name");
    for (const Step& s : steps) {
        SCOPED_TRACE(s.history);
        f.tick += s.pause;
        f.grid.KeyPress(s.key);
        EXPECT_EQ(f.grid.KeyHistory(), s.history);
        EXPECT_EQ(f.Current(), s.current);
    }
    // Typed through the widget, and in the dataset's order whatever it is.
    f.ds.SetIndexFieldNames("");
    f.tick += 5000;
    QTest::keyClicks(&f.grid, "AL");
    EXPECT_EQ(f.Current(), "Alpha"); // the natural order: delta, Alpha, ...
    f.tick += 5000;
    QTest::keyClicks(&f.grid, "D");
    EXPECT_EQ(f.Current(), "delta");
}

TEST(GridSorting, ADetailKeepsItsMasterFieldInFrontOfTheSortField) {
    struct Case {
        const char* what;
        std::string index;    // the detail's index field names before the sort
        std::string defaults; // DefaultSortFields
        std::string sorted;   // afterwards
    };
    const Case cases[] = {
        {"master field alone", "m", "", "m;x"},
        {"master field and more", "m;id", "", "m;x"},
        {"with default sort fields", "m;id", "y", "m;x;y"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ClientDataSet master("m");
        master.CreateDataSet({{"m", FieldType::Integer}});
        for (int m : {1, 2}) {
            master.Append();
            master.FieldByName("m").SetAsInteger(m);
            master.Post();
        }
        master.First();
        TCloneClientDataSet detail("d");
        detail.CreateDataSet({{"id", FieldType::AutoInc},
                              {"m", FieldType::Integer},
                              {"x", FieldType::Integer},
                              {"y", FieldType::Integer}});
        const int rows[][2] = {{1, 30}, {2, 5}, {1, 10}, {2, 20}, {1, 20}};
        for (const auto& [m, x] : rows) {
            detail.Append();
            detail.FieldByName("m").SetAsInteger(m);
            detail.FieldByName("x").SetAsInteger(x);
            detail.Post();
        }
        detail.SetIndexFieldNames(c.index);
        detail.SetMasterSource(&master, "m");
        TDataSource source;
        source.SetDataSet(&detail);
        TDBSortGrid grid;
        grid.SetDataSource(&source);
        grid.DefaultSortFields = c.defaults;
        auto ids = [&] {
            std::vector<int> out;
            for (detail.First(); !detail.Eof(); detail.Next())
                out.push_back(detail.FieldByName("id").AsInteger());
            return out;
        };
        ASSERT_TRUE(detail.Locate("id", Variant(5)));
        grid.SetSortColumn(2);
        EXPECT_EQ(detail.IndexFieldNames(), c.sorted);
        EXPECT_EQ(detail.FieldByName("id").AsInteger(), 5); // still current
        EXPECT_EQ(ids(), (std::vector<int>{3, 5, 1}));      // its master's records, by x
        master.Next();
        EXPECT_EQ(ids(), (std::vector<int>{2, 4}));
        grid.SetDataSource(nullptr);
    }
}

TEST(GridSorting, SortingIsAlwaysAscendingAlsoOnADescendingIndex) {
    struct Case {
        const char* field;
        int column;
        std::vector<int> order; // n in the sorted order
    };
    const Case cases[] = {{"n", 1, {3, 7, 12, 12, 30, 125}}, {"Id", 0, {30, 12, 7, 125, 12, 3}}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.field);
        SortFixture f;
        f.ds->SetIndex({"down", c.field, true});
        ASSERT_TRUE(f.ds->Locate("n", Variant(7)));
        f.grid.SetSortColumn(c.column);
        EXPECT_FALSE(f.ds->Index().descending);
        EXPECT_EQ(f.ds->IndexFieldNames(), c.field);
        EXPECT_EQ(f.Walk(), c.order);
        EXPECT_EQ(f.Current(), 7);
    }
}

TEST(GridSorting, NoSearchWithoutASortColumnOrWithInPlaceEditing) {
    struct Case {
        const char* what;
        bool sort;
        bool editing;
    };
    for (const Case& c : {Case{"no sort column", false, false}, Case{"in-place editing", true, true}}) {
        SCOPED_TRACE(c.what);
        SortFixture f;
        if (c.sort) f.grid.SetSortColumn(1);
        if (c.editing) f.grid.SetOptions(f.grid.Options() | dgEditing);
        f.grid.KeyPress('7');
        EXPECT_EQ(f.grid.KeyHistory(), "");
        EXPECT_EQ(f.Current(), 30);
    }
}

TEST(GridLayout, ALayoutSavedAndRestoredByFieldName) {
    test::TempDir dir;
    TGridSettings mem;
    {
        SortFixture f;
        f.grid.MoveColumn(3, 0);
        f.grid.MoveColumn(5, 1);
        f.grid.setColumnWidth(f.grid.horizontalHeader()->logicalIndex(0), 77);
        f.grid.setColumnWidth(f.grid.horizontalHeader()->logicalIndex(2), 123);
        TIniFile ini(dir.File("layout.ini"));
        f.grid.SaveSettingsToIni(ini, "Grid");
        f.grid.SaveSettingsToMem(mem);
    }
    const std::vector<std::string> order{"flag", "calc", "Id", "n", "lots", "at"};
    ASSERT_EQ(mem.size(), 6u);
    EXPECT_EQ(mem[0].sName, "flag");
    EXPECT_EQ(mem[0].nWidth, 77);
    EXPECT_EQ(mem[2].nWidth, 123);
    {
        TIniFile ini(dir.File("layout.ini"));
        EXPECT_EQ(ini.ReadString("Grid", "spalte_1_name", ""), "flag");
        EXPECT_EQ(ini.ReadInteger("Grid", "spalte_3_breite", 0), 123);
        EXPECT_EQ(ini.ReadString("Grid", "spalte_6_name", ""), "at");
    }
    for (bool fromIni : {true, false}) {
        SCOPED_TRACE(fromIni ? "ini" : "array");
        SortFixture f;
        f.grid.SetSortColumn(1); // n, which goes to position 3
        if (fromIni)
            f.grid.LoadSettingsFromIni(TIniFile(dir.File("layout.ini")), "Grid");
        else
            f.grid.LoadSettingsFromMem(mem);
        EXPECT_EQ(f.Columns(), order);
        EXPECT_EQ(f.grid.columnWidth(f.grid.horizontalHeader()->logicalIndex(0)), 77);
        EXPECT_EQ(f.grid.columnWidth(f.grid.horizontalHeader()->logicalIndex(2)), 123);
        EXPECT_EQ(f.grid.SortColumn(), 3);
        EXPECT_FALSE(f.ds->ControlsDisabled());
    }
    // A name that no column shows, or none, or one in another case, moves nothing; its width
    // still goes to the column standing at that position.
    {
        SortFixture g;
        g.grid.LoadSettingsFromMem({{"nosuch", 41}, {"", 42}, {"LOTS", 43}, {"flag", 44}});
        EXPECT_EQ(g.Columns(), (std::vector<std::string>{"Id", "n", "lots", "flag", "at", "calc"}));
        for (int c = 0; c < 4; ++c)
            EXPECT_EQ(g.grid.columnWidth(g.grid.horizontalHeader()->logicalIndex(c)), 41 + c) << c;
    }
    // A layout of fewer columns restores only its own positions.
    SortFixture f;
    f.grid.LoadSettingsFromMem({{"lots", 50}, {"n", -1}});
    EXPECT_EQ(f.Columns(), (std::vector<std::string>{"lots", "n", "Id", "flag", "at", "calc"}));
    EXPECT_EQ(f.grid.columnWidth(f.grid.horizontalHeader()->logicalIndex(0)), 50);
}

TEST(GridLayout, ADamagedLayoutFileNeitherHidesNorLosesAColumn) {
    test::TempDir dir;
    const std::string path = dir.File("damaged.ini");
    {
        std::ofstream out(path, std::ios::binary);
        static const char raw[] =
            "[Grid]\r\n"
            "spalte_1_name=nosuchfield\r\nspalte_1_breite=55\r\n" // unknown field: moves nothing
            "spalte_2_name=lots\r\nspalte_2_breite=0\r\n"         // zero: would hide it
            "spalte_3_name=n\r\nspalte_3_breite=-40\r\n"          // negative
            "spalte_4_name=flag\r\nspalte_4_breite=99999999\r\n"  // far too wide
            "spalte_5_name=\x01\xff\xfe garbage\r\nspalte_5_breite=abc\r\n"
            "spalte_6_name=lots\r\nspalte_6_breite=10001\r\n" // twice: placed again
            "\x00\x00\x80 broken line\r\n";
        out.write(raw, sizeof(raw) - 1);
    }
    SortFixture f;
    std::vector<int> before;
    for (int c = 0; c < f.grid.ColumnCount(); ++c) before.push_back(f.grid.columnWidth(c)); // by logical
    f.grid.LoadSettingsFromIni(TIniFile(path), "Grid");
    ASSERT_EQ(f.grid.ColumnCount(), 6);
    std::vector<std::string> shown = f.Columns();
    std::sort(shown.begin(), shown.end());
    EXPECT_EQ(shown, (std::vector<std::string>{"Id", "at", "calc", "flag", "lots", "n"}));
    before[0] = 55; // the unknown field's width went to the column at its position, Id
    for (int c = 0; c < f.grid.ColumnCount(); ++c) {
        SCOPED_TRACE(c);
        EXPECT_EQ(f.grid.columnWidth(c), before[static_cast<size_t>(c)]); // no other width was usable
        EXPECT_FALSE(f.grid.isColumnHidden(c));
    }
    EXPECT_EQ(f.grid.ColumnField(5)->FieldName(), "lots");
    // A missing section changes nothing; the largest width allowed is taken.
    const std::vector<std::string> now = f.Columns();
    f.grid.LoadSettingsFromIni(TIniFile(path), "Nothing");
    EXPECT_EQ(f.Columns(), now);
    f.grid.LoadSettingsFromMem({{"Id", kMaxLayoutColumnWidth}, {"n", 40}});
    EXPECT_EQ(f.grid.columnWidth(f.grid.horizontalHeader()->logicalIndex(0)), kMaxLayoutColumnWidth);
    EXPECT_EQ(f.grid.columnWidth(f.grid.horizontalHeader()->logicalIndex(1)), 40);
    EXPECT_EQ(f.grid.GetColIndexByFieldname(" \t"), -1);
}
