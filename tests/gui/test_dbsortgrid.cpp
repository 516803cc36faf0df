#include <QApplication>
#include <QHeaderView>
#include <QMenu>
#include <QPainter>
#include <QScrollBar>
#include <QTest>
#include <QWheelEvent>
#include <gtest/gtest.h>
#include <map>
#include <memory>

#include "components/DBSortGrid.h"
#include "components/core/CloneClientDataSet.h"
#include "platform/widgets/celltext.h"
#include "tests/support/walk.h"

using namespace quorvel;

namespace {

const std::vector<FieldDef> kDefs = {
    {"id", FieldType::AutoInc}, {"n", FieldType::Integer}, {"flag", FieldType::Boolean}};

// A grid over a dataset of `rows` records: n = 1..rows, flag True, False, null in turn.
struct GridFixture {
    std::unique_ptr<ClientDataSet> ds;
    TDataSource source;
    TDBSortGrid grid;
    explicit GridFixture(int rows = 30, bool clone = false) {
        if (clone)
            ds = std::make_unique<TCloneClientDataSet>("ds");
        else
            ds = std::make_unique<ClientDataSet>("ds");
        ds->AddField("id", FieldType::AutoInc);
        ds->AddField("n", FieldType::Integer);
        ds->AddField("flag", FieldType::Boolean);
        ds->CreateDataSet(kDefs);
        for (int i = 1; i <= rows; ++i) {
            ds->Append();
            ds->FieldByName("n").SetAsInteger(i);
            if (i % 3 != 0) ds->FieldByName("flag").SetAsBoolean(i % 3 == 1);
            ds->Post();
        }
        ds->First();
        source.SetDataSet(ds.get());
        grid.SetDataSource(&source);
        grid.resize(320, 300);
        grid.show();
    }
    ~GridFixture() {
        grid.SetDataSource(nullptr);
        source.SetDataSet(nullptr);
    }
    QRect Cell(int row, int col) {
        return grid.visualRect(grid.model()->index(row, col))
            .translated(grid.viewport()->geometry().topLeft());
    }
    QPoint InViewport(int row, int col) { return grid.visualRect(grid.model()->index(row, col)).center(); }
    std::vector<int> Walk() { return test::Walk(*ds, "n"); }
};

int DarkPixels(const QImage& img, const QRect& r) {
    int n = 0;
    for (int y = r.top(); y <= r.bottom(); ++y)
        for (int x = r.left(); x <= r.right(); ++x)
            if (qGray(img.pixel(x, y)) < 96) ++n;
    return n;
}

void Wheel(TDBSortGrid& grid, int delta, Qt::KeyboardModifiers mods = Qt::NoModifier) {
    const QPointF at(20, 20);
    QWheelEvent ev(at, grid.viewport()->mapToGlobal(at), QPoint(), QPoint(0, delta), Qt::NoButton, mods,
                   Qt::NoScrollPhase, false);
    QApplication::sendEvent(grid.viewport(), &ev);
}

} // namespace

TEST(DBSortGrid, BooleanFieldsAreCheckBoxesGreyedWhenNull) {
    GridFixture f(6);
    for (bool threeD : {true, false}) {
        SCOPED_TRACE(threeD ? "3-D" : "flat");
        f.grid.SetCheckBox3D(threeD);
        EXPECT_EQ(f.grid.FFlat, threeD ? 0u : DFCS_FLAT);
        const QImage img = f.grid.grab().toImage();
        // Rows 0, 1, 2 hold True, False and null.
        struct Case {
            int row;
            bool ticked;
            QRgb fill;
        };
        for (const Case& c : {Case{0, true, qRgb(255, 255, 255)}, Case{1, false, qRgb(255, 255, 255)},
                              Case{2, false, qRgb(0xC0, 0xC0, 0xC0)}}) {
            SCOPED_TRACE(c.row);
            const QRect band = TDBSortGrid::CheckBoxBand(f.Cell(c.row, 2));
            const QRect box(band.left() + (band.width() - 13) / 2, band.top(), 13, 13);
            EXPECT_EQ(img.pixel(box.left() + 3, box.top() + 3), c.fill);
            EXPECT_EQ(DarkPixels(img, box.adjusted(3, 3, -3, -3)) > 0, c.ticked);
            // The frame: black on the flat look, a grey upper edge on the 3-D look.
            EXPECT_EQ(qGray(img.pixel(box.left() + 6, box.top())) < 40, !threeD && c.row != 2);
        }
    }
    // A Boolean field with its own text keeps the text instead of a box.
    f.ds->FieldByName("flag").OnGetText = [](Field& fl, std::string& t, bool) {
        t = fl.IsNull() ? "" : fl.AsBoolean() ? "yes" : "no";
    };
    f.grid.viewport()->update();
    const QImage img = f.grid.grab().toImage();
    const QRect band = TDBSortGrid::CheckBoxBand(f.Cell(2, 2));
    EXPECT_EQ(DarkPixels(img, band), 0); // null: empty text, no box
    EXPECT_EQ(img.pixel(band.center()), qRgb(255, 255, 255));
}

TEST(DBSortGrid, TheCheckBoxBandIsFourteenPixelsCentredInTheCell) {
    struct Case {
        int height;
        int offset;
    };
    for (const Case& c : {Case{30, 8}, Case{13, 0}, Case{12, -1}, Case{10, -2}, Case{18, 2}}) {
        SCOPED_TRACE(c.height);
        const QRect band = TDBSortGrid::CheckBoxBand(QRect(5, 100, 40, c.height));
        EXPECT_EQ(band.top(), 100 + c.offset);
        EXPECT_EQ(band.height(), 14);
        EXPECT_EQ(band.left(), 5);
        EXPECT_EQ(band.width(), 40);
    }
}

TEST(DBSortGrid, MemoTextStaysInsideItsBand) {
    QImage img(120, 60, QImage::Format_RGB32);
    img.fill(Qt::white);
    {
        QPainter p(&img);
        p.setPen(Qt::black);
        TDBSortGrid::DrawMemoText(p, QRect(0, 20, 120, 14), "first & line\twith tab\nsecond line",
                                  Alignment::Left);
    }
    EXPECT_GT(DarkPixels(img, QRect(0, 20, 120, 14)), 0);
    EXPECT_EQ(DarkPixels(img, QRect(0, 0, 120, 20)), 0);
    EXPECT_EQ(DarkPixels(img, QRect(0, 34, 120, 26)), 0);
    EXPECT_EQ(DarkPixels(img, QRect(0, 20, 2, 14)), 0); // 2 pixels in from the left
}

// A cell text drawn from its kept layout has the pixels drawText gives it, for every kind of
// text, box, alignment and font the grid draws with, the first time and again from the cache.
TEST(DBSortGrid, CellTextsDrawTheSamePixelsAsDrawText) {
    struct Case {
        const char* text;
        QRect box;
        Qt::Alignment align;
    };
    const Case cases[] = {
        {"1.08123", QRect(7, 5, 80, 18), Qt::AlignRight},
        {"-1,25", QRect(3, 4, 41, 17), Qt::AlignRight},
        {"10000042", QRect(0, 0, 30, 18), Qt::AlignRight}, // wider than its box
        {"10000042", QRect(0, 0, 30, 18), Qt::AlignLeft},
        {"To Open", QRect(5, 1, 61, 16), Qt::AlignLeft},
        {"EURUSD", QRect(2, 2, 77, 19), Qt::AlignHCenter},
        {"07.12.2026 14:03:59", QRect(1, 3, 111, 18), Qt::AlignLeft},
        {"Größe & Ärger", QRect(4, 0, 90, 15), Qt::AlignHCenter},
        {"  spaced  ", QRect(0, 2, 90, 18), Qt::AlignRight},
        {"tab\tand\nbreak", QRect(0, 2, 90, 18), Qt::AlignLeft}, // drawText's own
        {"\u05e9\u05dc\u05d5\u05dd", QRect(0, 2, 90, 18), Qt::AlignLeft},
        {"", QRect(0, 2, 90, 18), Qt::AlignLeft},
    };
    QFont plain("Tahoma");
    plain.setPixelSize(11);
    QFont bold = plain;
    bold.setBold(true);
    QFont large("Tahoma");
    large.setPixelSize(13);
    QFont italic = plain;
    italic.setItalic(true);
    QFont points("Tahoma", 9);
    QFont underlined = plain;
    underlined.setUnderline(true);
    const QFont fonts[] = {plain, bold, large, italic, points, underlined};
    TDBSortGrid grid;
    for (const QFont& font : fonts) {
        for (const Case& c : cases) {
            for (int pass = 0; pass < 2; ++pass) {
                SCOPED_TRACE(testing::Message()
                             << c.text << " in " << font.toString().toStdString() << " pass " << pass);
                auto draw = [&](bool cached) {
                    QImage img(130, 30, QImage::Format_RGB32);
                    img.fill(QColor(0xF0, 0xE8, 0xD0));
                    QPainter p(&img);
                    p.translate(3, 2); // a cell of a viewport somewhere in the window
                    p.setFont(font);
                    p.setPen(QColor(0x20, 0x40, 0xA0));
                    if (cached)
                        grid.DrawCellText(p, c.box, c.align, QString::fromUtf8(c.text));
                    else
                        p.drawText(c.box, c.align | Qt::AlignVCenter | Qt::TextSingleLine,
                                   QString::fromUtf8(c.text));
                    return img;
                };
                const QImage expected = draw(false), got = draw(true);
                EXPECT_TRUE(got == expected);
            }
        }
    }
    // Every width and height of a cell, every text of an order row, in the alignments of the
    // data grid (centred) and the string grids (top).
    CellTexts texts;
    int differing = 0;
    for (const char* text : {"1.08123", "-0.00050", "10000042", "To Close", "45000.12345"})
        for (Qt::Alignment align : {Qt::AlignLeft | Qt::AlignVCenter, Qt::AlignRight | Qt::AlignVCenter,
                                    Qt::AlignLeft | Qt::AlignTop, Qt::AlignRight | Qt::AlignTop})
            for (int w = 10; w <= 90; w += 3)
                for (int h = 12; h <= 24; ++h) {
                    auto draw = [&](bool cached) {
                        QImage img(100, 30, QImage::Format_RGB32);
                        img.fill(Qt::white);
                        QPainter p(&img);
                        p.setFont(plain);
                        p.setPen(Qt::black);
                        const QRect box(1 + w % 4, 1 + h % 3, w, h);
                        if (cached)
                            texts.Draw(p, box, align, text);
                        else
                            p.drawText(box, align | Qt::TextSingleLine, text);
                        return img;
                    };
                    if (draw(true) != draw(false)) ++differing;
                }
    EXPECT_EQ(differing, 0);
    // The distinct ASCII texts aligned left or right were laid out once per upright font and
    // drawn the second time from their layouts.
    EXPECT_EQ(grid.CellTextsKept(), 7u * 4u);
    EXPECT_EQ(texts.Kept(), 5u);
}

// A data-cell event that draws every cell again (banded rows, coloured numbers) shows the same
// grid whether or not the grid draws the cell beneath it first.
TEST(DBSortGrid, AnEventThatDrawsEveryCellShowsTheSameGridWithoutTheCellBeneath) {
    GridFixture f(12);
    f.grid.OnDrawDataCell = [&](TDBSortGrid& g, const QRect& r, Field& field, TGridDrawState st) {
        TGridCanvas& canvas = g.Canvas();
        if (f.ds->RecNo() % 2 == 0) canvas.BrushColor = QColor(0xC0, 0xDC, 0xC0);
        if (field.FieldName() == "n" && field.AsInteger() % 3 == 0) canvas.FontColor = Qt::red;
        g.DefaultDrawDataCell(r, field, st);
    };
    f.grid.setFocus(); // the current cell is drawn highlighted
    QApplication::processEvents();
    const QImage beneath = f.grid.grab().toImage();
    f.grid.DataCellEventDrawsCell = true;
    f.grid.viewport()->update();
    QApplication::processEvents();
    const QImage without = f.grid.grab().toImage();
    EXPECT_TRUE(without == beneath);
    // The event's colours are what shows: a banded row differs from a plain one.
    EXPECT_NE(without.pixel(f.Cell(1, 1).center()), without.pixel(f.Cell(0, 1).center()));
}

// An edited record repaints its own row and no other, and the grid looks as if it were drawn
// anew.
TEST(DBSortGrid, AnEditRepaintsExactlyItsRow) {
    GridFixture f(40);
    std::map<int, int> drawn; // cells drawn by row
    f.grid.OnDrawColumnCell = [&](TDBSortGrid&, const QRect&, int, Field*, TGridDrawState) {
        ++drawn[f.ds->RecNo() - 1];
    };
    QApplication::processEvents();
    struct Case {
        int record; // 1-based
        std::vector<int> rows;
    };
    for (const Case& c : {Case{1, {0}}, Case{5, {4}}, Case{12, {11}}}) {
        SCOPED_TRACE(c.record);
        f.ds->SetRecNo(c.record);
        QApplication::processEvents();
        drawn.clear(); // the cursor's move repainted the old and new current cells
        f.ds->Edit();
        f.ds->FieldByName("n").SetAsInteger(1000 + c.record);
        f.ds->Post();
        QApplication::processEvents();
        std::vector<int> rows;
        for (const auto& [row, cells] : drawn) rows.push_back(row);
        EXPECT_EQ(rows, c.rows);
        const QImage afterEdit = f.grid.grab().toImage();
        f.grid.viewport()->update();
        QApplication::processEvents();
        EXPECT_TRUE(f.grid.grab().toImage() == afterEdit);
    }
}

TEST(DBSortGrid, TheWheelMovesOneRecordPerNotch) {
    GridFixture f(30);
    struct Case {
        int delta;
        Qt::KeyboardModifiers mods;
        int recNo; // after the step
    };
    const Case cases[] = {
        {-120, Qt::NoModifier, 2},      {-120, Qt::NoModifier, 3},
        {-360, Qt::NoModifier, 6},      {120, Qt::NoModifier, 5},
        {-60, Qt::NoModifier, 5},       {-60, Qt::NoModifier, 6}, // half notches add up
        {-120, Qt::ControlModifier, 7}, {240, Qt::NoModifier, 5},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.delta);
        Wheel(f.grid, c.delta, c.mods);
        EXPECT_EQ(f.ds->RecNo(), c.recNo);
        EXPECT_EQ(f.grid.currentIndex().row(), c.recNo - 1);
    }
    EXPECT_EQ(f.grid.verticalScrollBar()->value(), 0); // the wheel moves the record, not the view
}

TEST(DBSortGrid, BlockedKeysTypingAndTitleClicksChangeNothing) {
    GridFixture f(10);
    f.ds->SetRecNo(4);
    const std::vector<int> before = f.Walk();
    struct Case {
        const char* what;
        std::function<void()> act;
    };
    const Case cases[] = {
        {"Ctrl+Delete", [&] { QTest::keyClick(&f.grid, Qt::Key_Delete, Qt::ControlModifier); }},
        {"Ctrl+Shift+Delete",
         [&] { QTest::keyClick(&f.grid, Qt::Key_Delete, Qt::ControlModifier | Qt::ShiftModifier); }},
        {"typing a letter", [&] { QTest::keyClick(&f.grid, Qt::Key_A); }},
        {"typing a digit", [&] { QTest::keyClick(&f.grid, Qt::Key_1); }},
        {"typing a word", [&] { QTest::keyClicks(&f.grid, "7 x"); }},
        {"a title click",
         [&] {
             QTest::mouseClick(f.grid.horizontalHeader()->viewport(), Qt::LeftButton, {},
                               QPoint(f.grid.columnViewportPosition(1) + 5, 5));
         }},
    };
    for (bool readOnly : {true, false}) {
        f.grid.ReadOnly = readOnly;
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(c.what) + (readOnly ? " read-only" : ""));
            c.act();
            EXPECT_EQ(f.Walk(), before);
            EXPECT_EQ(f.ds->RecNo(), 4);
            EXPECT_EQ(f.grid.currentIndex().row(), 3);
        }
    }
    // Allowed, Ctrl+Delete reaches the grid, which deletes the record (here without asking).
    f.grid.AllowDelete = true;
    f.grid.SetOptions(f.grid.Options() & ~dgConfirmDelete);
    QTest::keyClick(&f.grid, Qt::Key_Delete, Qt::ControlModifier);
    EXPECT_EQ(f.ds->RecordCount(), 9);
    EXPECT_EQ(f.ds->FieldByName("n").AsInteger(), 5);
}

TEST(DBSortGrid, PlainMovesMarkTheRowAndShiftedOnesDoNot) {
    GridFixture f(10);
    QTest::keyClick(&f.grid, Qt::Key_Down, Qt::ShiftModifier);
    EXPECT_EQ(f.ds->RecNo(), 2);
    EXPECT_TRUE(f.grid.SelectedRows().empty());
    QTest::keyClick(&f.grid, Qt::Key_Down);
    EXPECT_EQ(f.ds->RecNo(), 3);
    EXPECT_EQ(f.grid.SelectedRows(), std::set<Bookmark>{f.ds->GetBookmark()});
}

TEST(DBSortGrid, TheRightButtonMakesTheRowCurrentAndOpensTheExportMenu) {
    GridFixture f(10);
    int exported = 0;
    f.grid.ExportWriter = [&](ClientDataSet& d) {
        EXPECT_EQ(&d, f.ds.get());
        ++exported;
    };
    QTest::mousePress(f.grid.viewport(), Qt::RightButton, {}, f.InViewport(4, 1));
    EXPECT_EQ(f.ds->RecNo(), 5);
    ASSERT_TRUE(f.grid.m_PopupMenu->isVisible());
    ASSERT_EQ(f.grid.m_PopupMenu->actions().size(), 1);
    EXPECT_EQ(f.grid.m_PopupMenu->actions()[0]->text(), "Exportieren");
    f.grid.m_MenuItem->trigger();
    EXPECT_EQ(exported, 1);
    f.grid.m_PopupMenu->hide();
    // On the title row as well.
    QTest::mousePress(f.grid.horizontalHeader()->viewport(), Qt::RightButton, {}, QPoint(10, 5));
    EXPECT_TRUE(f.grid.m_PopupMenu->isVisible());
    f.grid.m_PopupMenu->hide();
    // Without a data source nothing opens.
    f.grid.SetDataSource(nullptr);
    QTest::mousePress(f.grid.viewport(), Qt::RightButton, {}, QPoint(30, 30));
    EXPECT_FALSE(f.grid.m_PopupMenu->isVisible());
    f.grid.ExportMenuItemClick();
    EXPECT_EQ(exported, 1);
}

TEST(DBSortGrid, ADatasetWhoseExportIsLockedIsNotExported) {
    GridFixture f(3, true);
    int exported = 0;
    f.grid.ExportWriter = [&](ClientDataSet&) { ++exported; };
    static_cast<TCloneClientDataSet&>(*f.ds).DisableExport = true;
    f.grid.ExportMenuItemClick();
    EXPECT_EQ(exported, 0);
    static_cast<TCloneClientDataSet&>(*f.ds).DisableExport = false;
    f.grid.ExportMenuItemClick();
    EXPECT_EQ(exported, 1);
    f.grid.ExportDataset(nullptr);
    EXPECT_EQ(exported, 1);
}

TEST(DBSortGrid, TheFirstReleaseAfterTheGridTookTheFocusRaisesTheDataChange) {
    GridFixture f(10);
    std::vector<const void*> senders;
    f.source.OnDataChange = [&](const void* sender, Field* field) {
        EXPECT_EQ(field, nullptr);
        senders.push_back(sender);
    };
    QFocusEvent in(QEvent::FocusIn, Qt::TabFocusReason);
    QApplication::sendEvent(&f.grid, &in);
    QTest::mouseClick(f.grid.viewport(), Qt::LeftButton, {}, f.InViewport(2, 1));
    // The move through the data source, then the grid's own call on the first release.
    EXPECT_EQ(senders, (std::vector<const void*>{&f.source, &f.grid}));
    senders.clear();
    QTest::mouseClick(f.grid.viewport(), Qt::LeftButton, {}, f.InViewport(2, 1));
    EXPECT_TRUE(senders.empty());
    QApplication::sendEvent(&f.grid, &in); // leaving and coming back
    QTest::mouseClick(f.grid.viewport(), Qt::LeftButton, {}, f.InViewport(2, 1));
    EXPECT_EQ(senders, (std::vector<const void*>{&f.grid}));
}

TEST(DBSortGrid, KeysOnACloneDatasetAreSuspendedThenTellTheDataChange) {
    GridFixture f(10, true);
    auto& clone = static_cast<TCloneClientDataSet&>(*f.ds);
    std::vector<std::pair<const void*, bool>> seen;
    f.source.OnDataChange = [&](const void* sender, Field*) {
        seen.emplace_back(sender, clone.DataChangeDisabled(nullptr, false));
    };
    QTest::keyClick(&f.grid, Qt::Key_Down);
    EXPECT_EQ(f.ds->RecNo(), 2);
    EXPECT_EQ(seen, (std::vector<std::pair<const void*, bool>>{{&f.source, true}, {&f.grid, false}}));
    EXPECT_EQ(clone.DisableCount(), 0);
}

TEST(DBSortGrid, AClickOnABooleanCellTogglesItOnlyWhenTheSourceEditsByItself) {
    GridFixture f(6);
    f.source.AutoEdit = false;
    const QPoint nullFlag = f.InViewport(2, 2);
    QTest::mouseClick(f.grid.viewport(), Qt::LeftButton, {}, nullFlag);
    EXPECT_EQ(f.ds->RecNo(), 3);
    EXPECT_EQ(f.ds->State(), DataSetState::Browse);
    EXPECT_TRUE(f.ds->FieldByName("flag").IsNull());
    f.source.AutoEdit = true;
    f.grid.ReadOnly = true; // a read-only grid does not edit either
    QTest::mouseClick(f.grid.viewport(), Qt::LeftButton, {}, nullFlag);
    EXPECT_EQ(f.ds->State(), DataSetState::Browse);
    f.grid.ReadOnly = false;
    QTest::mouseClick(f.grid.viewport(), Qt::LeftButton, {}, nullFlag);
    EXPECT_EQ(f.ds->State(), DataSetState::Edit);
    EXPECT_TRUE(f.ds->FieldByName("flag").AsBoolean()); // null becomes True
    QTest::mouseClick(f.grid.viewport(), Qt::LeftButton, {}, nullFlag);
    EXPECT_FALSE(f.ds->FieldByName("flag").IsNull());
    EXPECT_FALSE(f.ds->FieldByName("flag").AsBoolean());
    EXPECT_FALSE(f.grid.Options() & dgEditing); // no in-place editing on a Boolean column
    f.ds->Cancel();
}

TEST(DBSortGrid, NoErrorLeavesAPaintOrInputHandler) {
    GridFixture f(6);
    // A data-cell event that fails leaves its cell empty; the others are drawn.
    f.grid.OnDrawDataCell = [&](TDBSortGrid&, const QRect&, Field& field, TGridDrawState) {
        if (f.ds->RecNo() == 2 && field.FieldName() == "n") f.ds->FieldByName("missing");
    };
    QImage img = f.grid.grab().toImage();
    EXPECT_GT(DarkPixels(img, f.Cell(0, 1)), 0);
    EXPECT_EQ(DarkPixels(img, f.Cell(1, 1)), 0);
    EXPECT_EQ(img.pixel(f.Cell(1, 1).center()), qRgb(255, 255, 255));
    EXPECT_GT(DarkPixels(img, f.Cell(2, 1)), 0);
    f.grid.OnDrawDataCell = nullptr;

    // A Boolean column whose field the data source's dataset does not hold is drawn empty.
    ClientDataSet other("other");
    other.CreateDataSet({{"id", FieldType::AutoInc}});
    f.source.SetDataSet(&other);
    img = f.grid.grab().toImage();
    EXPECT_EQ(DarkPixels(img, TDBSortGrid::CheckBoxBand(f.Cell(0, 2))), 0);
    EXPECT_GT(DarkPixels(img, f.Cell(0, 1)), 0);
    f.source.SetDataSet(f.ds.get());

    // A move that the dataset refuses: keys drop the error, the mouse reports it.
    std::vector<std::string> errors;
    f.grid.OnError = [&](const std::exception& e) { errors.push_back(e.what()); };
    f.ds->FieldByName("n").Required = true;
    f.ds->Edit();
    f.ds->FieldByName("n").Clear();
    QTest::keyClick(&f.grid, Qt::Key_Down);
    Wheel(f.grid, -120);
    EXPECT_EQ(f.ds->RecNo(), 1);
    EXPECT_EQ(f.grid.currentIndex().row(), 0);
    EXPECT_TRUE(errors.empty());
    QTest::mouseClick(f.grid.viewport(), Qt::LeftButton, {}, f.InViewport(3, 1));
    EXPECT_EQ(f.ds->RecNo(), 1);
    EXPECT_EQ(f.grid.currentIndex().row(), 0);
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_NE(errors[0].find("must have a value"), std::string::npos);
    EXPECT_EQ(f.ds->State(), DataSetState::Edit);
    f.ds->Cancel();
}

TEST(DBSortGrid, ABooleanColumnHasNoInPlaceEditingWhileItIsCurrent) {
    GridFixture f(4);
    ASSERT_TRUE(f.grid.Options() & dgEditing); // the grid's defaults
    EXPECT_EQ(f.grid.SaveOptions, f.grid.Options());
    const TDBGridOptions defaults = f.grid.Options();
    f.grid.setCurrentIndex(f.grid.model()->index(0, 2)); // into "flag"
    EXPECT_EQ(f.grid.Options(), defaults & ~dgEditing);
    EXPECT_EQ(f.grid.SaveOptions, defaults);
    QTest::keyClick(&f.grid, Qt::Key_Left); // out again
    EXPECT_EQ(f.grid.currentIndex().column(), 1);
    EXPECT_EQ(f.grid.Options(), defaults);
}

TEST(DBSortGrid, CellRectCountsTheIndicatorAndTheTitles) {
    GridFixture f(40);
    f.grid.verticalScrollBar()->setValue(5); // the first row on screen is the sixth
    const QPoint origin = f.grid.viewport()->geometry().topLeft();
    EXPECT_EQ(f.grid.CellRect(1, 1), f.grid.visualRect(f.grid.model()->index(5, 0)).translated(origin));
    EXPECT_EQ(f.grid.CellRect(3, 2), f.grid.visualRect(f.grid.model()->index(6, 2)).translated(origin));
    EXPECT_EQ(f.grid.CellRect(0, 0).topLeft(),
              f.grid.rect().topLeft() + QPoint(f.grid.frameWidth(), f.grid.frameWidth()));
    EXPECT_EQ(f.grid.CellRect(2, 0).height(), f.grid.horizontalHeader()->height());
    EXPECT_TRUE(f.grid.CellRect(9, 1).isNull()); // no such column
    // Field names are compared exactly: case and blanks count.
    EXPECT_EQ(f.grid.GetColIndexByFieldname("flag"), 2);
    EXPECT_EQ(f.grid.GetColIndexByFieldname("FLAG"), -1);
    EXPECT_EQ(f.grid.GetColIndexByFieldname(" flag"), -1);
    EXPECT_EQ(f.grid.GetColIndexByFieldname("none"), -1);
}

TEST(DBSortGrid, AGridOnAFilteredCursorShowsAndFollowsTheShownRecords) {
    GridFixture f(30);
    f.ds->SetFilter("n>20 AND n<>25");
    f.ds->SetFiltered(true);
    auto* model = f.grid.model();
    ASSERT_EQ(model->rowCount(), 9);
    std::vector<QString> shown;
    for (int r = 0; r < model->rowCount(); ++r) shown.push_back(model->data(model->index(r, 1)).toString());
    EXPECT_EQ(shown, (std::vector<QString>{"21", "22", "23", "24", "26", "27", "28", "29", "30"}));
    EXPECT_EQ(f.grid.currentIndex().row(), 0);
    // A click on a row makes its record current; a move of the cursor moves the grid's row.
    QTest::mouseClick(f.grid.viewport(), Qt::LeftButton, {}, f.InViewport(4, 1));
    EXPECT_EQ(f.ds->FieldByName("n").AsInteger(), 26);
    ASSERT_TRUE(f.ds->Locate("n", Variant(29)));
    EXPECT_EQ(f.grid.currentIndex().row(), 7);
    // A record appended through another cursor shows in its place.
    ClientDataSet other("o");
    other.CloneCursor(*f.ds, true);
    other.Append();
    other.FieldByName("n").SetAsInteger(40);
    other.Post();
    other.Append();
    other.FieldByName("n").SetAsInteger(2); // hidden
    other.Post();
    ASSERT_EQ(model->rowCount(), 10);
    EXPECT_EQ(model->data(model->index(9, 1)).toString(), "40");
    EXPECT_EQ(f.ds->FieldByName("n").AsInteger(), 29);
    EXPECT_EQ(f.grid.currentIndex().row(), 7);
}
