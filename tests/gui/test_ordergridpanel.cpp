#include <QApplication>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>
#include <gtest/gtest.h>

#include "desk/core/orderlist.h"
#include "desk/uSkarlin.h"
#include "tests/support/localescope.h"
#include "tests/support/tempdir.h"
#include "tests/support/testpaths.h"

using namespace quorvel;

namespace {

const std::vector<BrokerItem> kBrokers = {{"1", true}, {"2", true}};

struct Panel {
    test::TempDir dir;
    test::LocaleScope comma{','};
    TForm3 form{test::PathsIn(dir), ""};
    Desk& desk = form.DeskCore();
    TDBSortGrid& grid = *form.DBSortGrid1;
    Panel() {
        form.resize(1280, 800);
        form.show();
        form.PageControl1->setCurrentWidget(form.TabSheet4);
    }
    // A transaction of two legs (or one real leg and an empty one).
    void Place(double lots, int direction = 3) {
        desk.entry.OpenOrder(0, lots, 1, direction, 0.0002, kBrokers, 1, 0.0001, false, -0.0005,
                             direction == 3);
    }
    // Sets fields of the leg with this record number (display order) through the engine cursor.
    void SetLeg(int recNo, const std::vector<std::pair<const char*, Variant>>& values) {
        ClientDataSet& a = desk.orders.m_CDSOrderlisteAnzeige;
        int id = 0;
        a.PeekRecord(recNo, [&] { id = a.FieldByName("OrderID").AsInteger(); });
        ClientDataSet& e = desk.orders.m_CDSOrderliste;
        ASSERT_TRUE(e.Locate("OrderID", Variant(static_cast<int32_t>(id))));
        e.Edit();
        for (const auto& [field, v] : values) e.FieldByName(field).SetValue(v);
        e.Post();
    }
    QRect Cell(int row, const char* field) {
        const QModelIndex i = grid.model()->index(row, grid.GetColIndexByFieldname(field));
        grid.scrollTo(i);
        return grid.visualRect(i).translated(grid.viewport()->geometry().topLeft());
    }
    QImage Grab() { return grid.grab().toImage(); }
};

std::pair<QString, QRgb> Label(QLabel* l) {
    return {l->text(), l->palette().color(QPalette::WindowText).rgb()};
}
const QRgb kRed = qRgb(255, 0, 0), kGreen = qRgb(0, 128, 0), kBlack = qRgb(0, 0, 0);
const QRgb kBand = qRgb(192, 220, 192), kWhite = qRgb(255, 255, 255);

// Whether some pixel of the cell is close to the colour (text is drawn antialiased).
bool HasInk(const QImage& img, const QRect& r, QColor want) {
    for (int y = r.top(); y < r.bottom(); ++y)
        for (int x = r.left(); x < r.right(); ++x) {
            const QColor c = img.pixelColor(x, y);
            if (std::abs(c.red() - want.red()) < 40 && std::abs(c.green() - want.green()) < 40 &&
                std::abs(c.blue() - want.blue()) < 40)
                return true;
        }
    return false;
}

} // namespace

TEST(OrderGridPanel, SumLabelsFollowEveryPostAndDelete) {
    Panel p;
    auto labels = [&] {
        return std::vector<std::pair<QString, QRgb>>{Label(p.form.m_lSummelots), Label(p.form.m_lSummeGewinn),
                                                     Label(p.form.m_lSummeGewinnPips)};
    };
    using L = std::vector<std::pair<QString, QRgb>>;
    // An empty list.
    EXPECT_EQ(labels(), (L{{"Lots: 0,00", kBlack}, {"P/L: 0,00", kRed}, {"P/L Pips: 0,00000", kRed}}));
    // Open legs only: lots add up, no profit yet.
    p.Place(0.5);
    p.Place(0.1);
    EXPECT_EQ(labels(), (L{{"Lots: 1,20", kBlack}, {"P/L: 0,00", kRed}, {"P/L Pips: 0,00000", kRed}}));
    // Profits that sum to exactly zero.
    p.SetLeg(1, {{"Gewinn", Variant(12.5)}, {"GewinnPips", Variant(0.0002)}});
    EXPECT_EQ(labels(), (L{{"Lots: 1,20", kBlack}, {"P/L: 12,50", kGreen}, {"P/L Pips: 0,00020", kGreen}}));
    p.SetLeg(2, {{"Gewinn", Variant(-12.5)}, {"GewinnPips", Variant(-0.0002)}});
    EXPECT_EQ(labels(), (L{{"Lots: 1,20", kBlack}, {"P/L: 0,00", kBlack}, {"P/L Pips: 0,00000", kBlack}}));
    p.SetLeg(4, {{"Gewinn", Variant(-3.25)}, {"GewinnPips", Variant(-0.00001)}});
    EXPECT_EQ(labels(), (L{{"Lots: 1,20", kBlack}, {"P/L: -3,25", kRed}, {"P/L Pips: -0,00001", kRed}}));
    // "Delete Order" on the second transaction.
    p.grid.setCurrentIndex(p.grid.model()->index(2, 0));
    p.form.Button14->click();
    EXPECT_EQ(labels(), (L{{"Lots: 1,00", kBlack}, {"P/L: 0,00", kBlack}, {"P/L Pips: 0,00000", kBlack}}));
    // A delete through the engine cursor updates them too.
    ClientDataSet& e = p.desk.orders.m_CDSOrderliste;
    e.Last(); // the oldest leg: +12.50
    e.Delete();
    EXPECT_EQ(labels(), (L{{"Lots: 0,50", kBlack}, {"P/L: -12,50", kRed}, {"P/L Pips: -0,00020", kRed}}));
}

TEST(OrderGridPanel, PairsOfRowsAreBandedAndProfitAndOrderNumbersColoured) {
    Panel p;
    for (int t = 0; t < 3; ++t) p.Place(0.1);
    p.SetLeg(1,
             {{"Gewinn", Variant(-12.5)}, {"GewinnPips", Variant(0.0)}, {"Ticket", Variant(int32_t{4711})}});
    p.SetLeg(3,
             {{"Gewinn", Variant(7.0)}, {"GewinnPips", Variant(-0.0003)}, {"Ticket", Variant(int32_t{815})}});
    p.SetLeg(6, {{"Ticket", Variant(int32_t{99})}});
    // The selected cell, focused, on a banded row: the band and the colours apply to it too.
    QApplication::setActiveWindow(&p.form);
    p.grid.setFocus();
    p.grid.setCurrentIndex(p.grid.model()->index(2, p.grid.GetColIndexByFieldname("Gewinn")));
    ASSERT_TRUE(p.grid.hasFocus());
    for (const char* field : {"Nr", "Gewinn"}) {
        SCOPED_TRACE(field);
        QImage img = p.Grab();
        for (int row = 0; row < 6; ++row) {
            SCOPED_TRACE(row);
            const QRect c = p.Cell(row, field);
            img = p.Grab();
            EXPECT_EQ(img.pixel(c.left() + 1, c.top() + 1), row == 2 || row == 3 ? kBand : kWhite);
        }
    }
    QImage img = p.Grab();
    QRect c = p.Cell(0, "Gewinn");
    img = p.Grab();
    EXPECT_TRUE(HasInk(img, c, QColor(kRed)));
    c = p.Cell(2, "Gewinn");
    img = p.Grab();
    EXPECT_TRUE(HasInk(img, c, QColor(kGreen)));
    EXPECT_FALSE(HasInk(img, c, QColor(kRed)));
    // A price gain of 0 or none keeps the normal colour.
    for (int row : {0, 1}) {
        c = p.Cell(row, "GewinnPips");
        img = p.Grab();
        EXPECT_FALSE(HasInk(img, c, QColor(kRed)));
        EXPECT_FALSE(HasInk(img, c, QColor(kGreen)));
    }
    c = p.Cell(2, "GewinnPips");
    img = p.Grab();
    EXPECT_TRUE(HasInk(img, c, QColor(kRed)));
    for (int row : {0, 2, 5}) {
        c = p.Cell(row, "Ticket");
        img = p.Grab();
        EXPECT_TRUE(HasInk(img, c, QColor(0, 0, 255)));
    }
    c = p.Cell(0, "Kurs"); // other columns keep the grid's font colour
    img = p.Grab();
    EXPECT_FALSE(HasInk(img, c, QColor(0, 0, 255)));
    // The text itself: display format and locale.
    EXPECT_EQ(p.grid.model()->index(0, p.grid.GetColIndexByFieldname("Gewinn")).data().toString(), "-12,50");
}

TEST(OrderGridPanel, ShowsTheColumnsOfTheDisplayCursorAndTheirCheckBoxes) {
    Panel p;
    p.Place(0.1);
    DataSetModel* m = p.form.OrderModel();
    ASSERT_EQ(m->columnCount(), 26);
    QStringList titles;
    for (int c = 0; c < m->columnCount(); ++c) titles << m->headerData(c, Qt::Horizontal).toString();
    EXPECT_EQ(titles.join("|"),
              "No.|OrderTime|Account No.|Tab|ID|Lots|Direc.|O-Spread|MaxLoss|Status|Tr-O-Time|"
              "OpenTime|Tr-O-Price|O-Price|Ta-O-Spread|Order No.|Tr-C-Time|CloseTime|C-Spread|"
              "SL-C|FoAC|Tr-C-Price|C-Price|Ta-C-Spread|P/ L Pips|P/ L");
    // Wider columns for wider fields, every title readable.
    EXPECT_GT(p.grid.columnWidth(p.grid.GetColIndexByFieldname("Account")),
              p.grid.columnWidth(p.grid.GetColIndexByFieldname("EAID")));
    const QFontMetrics fm(p.grid.horizontalHeader()->font());
    for (int c = 0; c < m->columnCount(); ++c)
        EXPECT_GE(p.grid.columnWidth(c), fm.horizontalAdvance(titles[c]));
    // "FoAC" is ticked on a transaction placed with auto close, "SL-C" is not.
    const QImage img = p.Grab();
    auto ticked = [&](const char* field) {
        const QRect band = TDBSortGrid::CheckBoxBand(p.Cell(0, field));
        const QRect box(band.left() + (band.width() - 13) / 2 + 3, band.top() + 3, 7, 7);
        const QImage now = p.Grab();
        for (int y = box.top(); y <= box.bottom(); ++y)
            for (int x = box.left(); x <= box.right(); ++x)
                if (qGray(now.pixel(x, y)) < 96) return true;
        return false;
    };
    (void)img;
    EXPECT_TRUE(ticked("AutoClose"));
    EXPECT_FALSE(ticked("SlippageAusgleich"));
    EXPECT_TRUE(p.grid.ReadOnly);
    EXPECT_FALSE(p.grid.Options() & dgEditing);
}

TEST(OrderGridPanel, ScreenshotsOfTenTransactionsInMixedStatuses) {
    Panel p;
    const int statuses[][2] = {{stToOpen, stToOpen},       {stPending, stPending}, {stOpened, stOpened},
                               {stCloseCond, stCloseCond}, {stToClose, stClosed},  {stClosed, stClosed},
                               {stCanceled, stOpened},     {stClosed, stClosed},   {stOpened, stNoLeg},
                               {stToOpen, stToOpen}};
    for (int t = 0; t < 10; ++t) p.Place(0.1 * (t + 1), t == 8 ? 1 : 3);
    for (int t = 0; t < 10; ++t)
        for (int leg = 0; leg < 2; ++leg) {
            const int rec = 2 * t + leg + 1;
            const int st = statuses[t][leg];
            std::vector<std::pair<const char*, Variant>> v = {{"Status", Variant(int32_t{st})}};
            if (st >= stOpened && st != stCanceled) {
                v.push_back({"Ticket", Variant(int32_t{100000 + rec})});
                v.push_back({"Kurs", Variant(1.1 + rec * 0.0001)});
                v.push_back({"EAID", Variant(int32_t{leg + 1})});
                v.push_back({"Account", Variant(int32_t{5550000 + rec})});
            }
            if (st == stClosed) {
                const double g = (rec % 3 == 0 ? -1.0 : 1.0) * 3.5 * rec;
                v.push_back({"Gewinn", Variant(g)});
                v.push_back({"GewinnPips", Variant(g / 10000.0)});
                v.push_back({"CloseKurs", Variant(1.1 + rec * 0.0002)});
            }
            if (st == stNoLeg) continue;
            p.SetLeg(rec, v);
        }
    p.grid.setFocus();
    p.grid.setCurrentIndex(p.grid.model()->index(4, 1));
    QApplication::processEvents();
    ASSERT_TRUE(p.form.grab().save(QUORVEL_SCREENSHOT_DIR "/admin_panel.png"));
    p.grid.horizontalScrollBar()->setValue(p.grid.horizontalScrollBar()->maximum());
    QApplication::processEvents();
    ASSERT_TRUE(p.form.TabSheet4->grab().save(QUORVEL_SCREENSHOT_DIR "/admin_panel_right.png"));
    EXPECT_EQ(p.grid.model()->rowCount(), 20);
}

TEST(OrderGridPanel, SortingStaysOffTitleClicksAndTypingMoveNothing) {
    Panel p;
    for (int i = 0; i < 3; ++i) p.Place(0.1 * (i + 1));
    ClientDataSet& shown = p.desk.orders.m_CDSOrderlisteAnzeige;
    shown.SetRecNo(2);
    const std::string index = shown.IndexFieldNames();
    p.grid.SetSortColumn(p.grid.GetColIndexByFieldname("Lots"));
    QHeaderView* header = p.grid.horizontalHeader();
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
                      QPoint(header->sectionViewportPosition(p.grid.GetColIndexByFieldname("Lots")) + 5, 5));
    QTest::keyClicks(&p.grid, "1");
    EXPECT_EQ(p.grid.SortColumn(), -1);
    EXPECT_EQ(shown.IndexFieldNames(), index);
    EXPECT_EQ(shown.RecNo(), 2);
    EXPECT_EQ(p.grid.KeyHistory(), "");
}
