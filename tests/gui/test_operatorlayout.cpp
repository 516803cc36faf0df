// The ADMIN PANEL as the operator sees it: every control at its position on the tab (the grid
// and the sums following the tab's right and bottom edges), the grid first in the tab order,
// the boxes of the "Edit Orders" group inside their frames, the fonts the columns are counted
// in, and every status text whole in its column.
#include <QApplication>
#include <QFontInfo>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QPainter>
#include <QTabBar>
#include <QTest>
#include <gtest/gtest.h>

#include "components/NumEdit.h"
#include "desk/core/orderlist.h"
#include "desk/uSkarlin.h"
#include "desk/windows/uFrmTable.h"
#include "platform/widgets/stringgrid.h"
#include "tests/support/localescope.h"
#include "tests/support/tempdir.h"
#include "tests/support/testpaths.h"

using namespace quorvel;

namespace {

constexpr int kTabWidth = 1251, kTabHeight = 611; // the tab's size the positions are given for

struct AdminPanel {
    test::TempDir dir;
    test::LocaleScope comma{','};
    TForm3 form{test::PathsIn(dir), ""};
    QWidget& tab = *form.TabSheet4;
    TDBSortGrid& grid = *form.DBSortGrid1;
    AdminPanel() {
        form.resize(1280, 800);
        form.show();
        form.PageControl1->setCurrentWidget(form.TabSheet4);
        QApplication::processEvents();
    }
    // A control of this tab (the table frames have controls of the same names).
    QWidget* Find(const char* name) const { return tab.findChild<QWidget*>(name); }
};

enum : unsigned { kLeft = 1, kTop = 2, kRight = 4, kBottom = 8 };

struct Placed {
    const char* name;
    const char* parent;
    QRect rect; // a width of -1: only the position is given
    unsigned anchors = kLeft | kTop;
};

// Positions are left, top inside the parent named.
const Placed kPlaced[] = {
    {"DBSortGrid1", "TabSheet4", {0, 164, 1251, 444}, kLeft | kTop | kRight | kBottom},
    {"m_lSummelots", "TabSheet4", {1141, 101, -1, -1}, kTop | kRight},
    {"m_lSummeGewinn", "TabSheet4", {1141, 123, -1, -1}, kTop | kRight},
    {"m_lSummeGewinnPips", "TabSheet4", {1118, 145, -1, -1}, kTop | kRight},
    {"m_bManuell", "TabSheet4", {575, 3, 130, 25}},
    {"m_bManuell2", "TabSheet4", {575, 34, 130, 25}},
    {"m_bManuell3", "TabSheet4", {575, 65, 130, 25}},
    {"Button6", "TabSheet4", {576, 95, 130, 25}},
    {"Button4", "TabSheet4", {711, 33, 130, 25}},
    {"Button5", "TabSheet4", {711, 64, 130, 25}},
    {"Button1", "TabSheet4", {712, 95, 130, 25}},
    {"Button18", "TabSheet4", {712, 136, 130, 25}},
    {"m_gbChange", "TabSheet4", {3, 0, 567, 161}},
    {"Label12", "m_gbChange", {8, 16, -1, -1}},
    {"m_lbBrokerIDsChange", "m_gbChange", {66, 16, 52, 140}},
    {"Label13", "m_gbChange", {124, 14, -1, -1}},
    {"m_reLotsChange", "m_gbChange", {124, 30, 42, 21}},
    {"UpDown4", "m_gbChange", {162, 30, 17, 21}},
    {"m_gbOpenBedingung", "m_gbChange", {185, 14, 186, 41}},
    {"Label14", "m_gbOpenBedingung", {8, 16, -1, -1}},
    {"m_rbOpenKleinerChange", "m_gbOpenBedingung", {56, 16, 49, 17}},
    {"m_reOpenSpreadChange", "m_gbOpenBedingung", {96, 13, 65, 21}},
    {"UpDown1", "m_gbOpenBedingung", {162, 13, 17, 21}},
    {"m_gbChangeBuySell", "m_gbChange", {124, 57, 247, 41}},
    {"m_rbBuyChange", "m_gbChangeBuySell", {8, 16, -1, -1}},
    {"m_rbBuySellChange", "m_gbChangeBuySell", {80, 16, -1, -1}},
    {"m_rbSellChange", "m_gbChangeBuySell", {168, 16, -1, -1}},
    {"GroupBox1", "m_gbChange", {377, 14, 181, 41}},
    {"m_reMaxVerlust", "GroupBox1", {93, 15, 65, 21}},
    {"UpDown2", "GroupBox1", {155, 15, 17, 21}},
    {"m_gbCloseBedingung", "m_gbChange", {377, 56, 181, 41}},
    {"Label5", "m_gbCloseBedingung", {8, 19, -1, -1}},
    {"m_rbCloseKleinerChange", "m_gbCloseBedingung", {56, 18, 49, 17}},
    {"m_reCloseSpreadChange", "m_gbCloseBedingung", {93, 17, 65, 21}},
    {"UpDown3", "m_gbCloseBedingung", {157, 17, 17, 21}},
    {"m_cbAutoClose", "m_gbChange", {385, 100, 118, 17}},
    {"m_btnChangeOrder", "m_gbChange", {325, 124, 105, 25}},
    {"m_btnCloseOrder", "m_gbChange", {437, 124, 121, 25}},
};

// Where a control stands on a tab of this size: an edge it is anchored to keeps its distance.
QRect Expected(const Placed& p, QSize tab) {
    const int dx = tab.width() - kTabWidth, dy = tab.height() - kTabHeight;
    QRect r = p.rect;
    if (p.anchors & kRight) {
        if (p.anchors & kLeft)
            r.setWidth(r.width() + dx);
        else
            r.translate(dx, 0);
    }
    if (p.anchors & kBottom) {
        if (p.anchors & kTop)
            r.setHeight(r.height() + dy);
        else
            r.translate(0, dy);
    }
    return r;
}

void ExpectPlaced(const AdminPanel& a) {
    const QSize tab = a.tab.size();
    for (const Placed& p : kPlaced) {
        SCOPED_TRACE(p.name);
        QWidget* w = a.Find(p.name);
        ASSERT_NE(w, nullptr);
        ASSERT_NE(w->parentWidget(), nullptr);
        EXPECT_EQ(w->parentWidget()->objectName().toStdString(), p.parent);
        const QRect want = Expected(p, tab);
        if (p.rect.width() < 0)
            EXPECT_EQ(w->pos(), want.topLeft());
        else
            EXPECT_EQ(w->geometry(), want);
    }
}

// The rows of a group box's top and bottom frame lines, found in a column that no caption or
// control covers: the first rows from either end that differ from the background.
std::pair<int, int> FrameLines(QGroupBox* g) {
    const QImage img = g->grab().toImage();
    const int x = img.width() - 4;
    const int background = qGray(img.pixel(x, 0));
    auto differs = [&](int y) { return std::abs(qGray(img.pixel(x, y)) - background) > 12; };
    int top = 0, bottom = img.height() - 1;
    while (top < img.height() && !differs(top)) ++top;
    while (bottom > 0 && !differs(bottom)) --bottom;
    return {top, bottom};
}

// The columns of ink (dark pixels) in a rectangle of an image, -1 when there is none.
std::pair<int, int> InkColumns(const QImage& img, const QRect& r) {
    int first = -1, last = -1;
    for (int x = r.left(); x <= r.right(); ++x)
        for (int y = r.top(); y <= r.bottom(); ++y)
            if (qGray(img.pixel(x, y)) < 160) {
                if (first < 0) first = x;
                last = x;
                break;
            }
    return {first, last};
}

} // namespace

TEST(AdminPanelLayout, EveryControlStandsAtItsPositionAndTheGridAndSumsFollowTheTabsEdges) {
    AdminPanel a;
    ExpectPlaced(a);
    // A larger window: the grid grows with the tab, the sums move with its right edge, the
    // rest stays where it is.
    const QSize before = a.tab.size();
    a.form.resize(a.form.size() + QSize(90, 70));
    QApplication::processEvents();
    ASSERT_EQ(a.tab.size(), before + QSize(90, 70));
    ExpectPlaced(a);
    // "COPY TRANSACTION" and "Delete Order" stand above the grid, and no control of the tab
    // covers another.
    std::vector<QWidget*> controls;
    for (QWidget* w : a.tab.findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
        if (w->isVisible()) controls.push_back(w);
    for (QPushButton* b : {a.form.Button3, a.form.Button14}) {
        SCOPED_TRACE(b->text().toStdString());
        EXPECT_EQ(b->parentWidget(), &a.tab);
        EXPECT_TRUE(b->isVisible());
        EXPECT_LE(b->geometry().bottom(), a.grid.geometry().top());
    }
    for (size_t i = 0; i < controls.size(); ++i)
        for (size_t j = i + 1; j < controls.size(); ++j)
            EXPECT_FALSE(controls[i]->geometry().intersects(controls[j]->geometry()))
                << controls[i]->objectName().toStdString() << " and "
                << controls[j]->objectName().toStdString();
}

TEST(AdminPanelLayout, TheGridIsFirstInTheTabOrder) {
    AdminPanel a;
    // From the page control's tab bar, Tab goes to the grid.
    QApplication::setActiveWindow(&a.form);
    a.form.PageControl1->tabBar()->setFocus();
    ASSERT_TRUE(a.form.PageControl1->tabBar()->hasFocus());
    QTest::keyClick(a.form.PageControl1->tabBar(), Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), &a.grid);
    // And the first of the tab's controls in the focus chain that takes Tab is the grid.
    QWidget* first = nullptr;
    for (QWidget* w = a.tab.nextInFocusChain(); w != &a.tab && !first; w = w->nextInFocusChain())
        if (a.tab.isAncestorOf(w) && w->isVisible() && w->isEnabled() && (w->focusPolicy() & Qt::TabFocus))
            first = w;
    EXPECT_EQ(first, &a.grid);
}

TEST(AdminPanelLayout, TheControlsOfTheEditOrdersGroupLieInsideTheirGroupFrames) {
    AdminPanel a;
    for (QGroupBox* g : {a.form.m_gbChange, a.form.m_gbOpenBedingung, a.form.m_gbChangeBuySell,
                         a.form.GroupBox1, a.form.m_gbCloseBedingung}) {
        SCOPED_TRACE(g->objectName().toStdString());
        const auto [top, bottom] = FrameLines(g);
        ASSERT_LT(top, bottom);
        const auto children = g->findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
        ASSERT_FALSE(children.isEmpty());
        for (QWidget* w : children) {
            SCOPED_TRACE(w->objectName().toStdString() + " " + w->metaObject()->className());
            const QRect r = w->geometry();
            EXPECT_GT(r.top(), top);
            EXPECT_LT(r.bottom(), bottom);
            EXPECT_GT(r.left(), 0);
            EXPECT_LT(r.right(), g->width() - 1);
        }
    }
}

TEST(AdminPanelLayout, TheGridTheSumsAndTheFramesShowInTahoma) {
    AdminPanel a;
    TFrameTable* frame = a.form.GetFrameTable(0);
    ASSERT_NE(frame, nullptr);
    const std::pair<const char*, QFont> fonts[] = {
        {"grid cells", a.grid.font()},
        {"grid titles", a.grid.horizontalHeader()->font()},
        {"sums", a.form.m_lSummelots->font()},
        {"Edit Orders", a.form.m_gbChange->font()},
        {"preset buttons", a.form.m_bManuell->font()},
        {"table frame", frame->font()},
        {"quote grid of a table frame", frame->StringGrid1->font()},
        {"Watch grid", a.form.StringGrid1->font()},
    };
    for (const auto& [what, font] : fonts) {
        SCOPED_TRACE(what);
        const QFontInfo info(font);
        EXPECT_EQ(info.family(), "Tahoma");
        EXPECT_TRUE(info.exactMatch());
    }
}

TEST(AdminPanelLayout, EveryStatusTextStandsWholeInTheStatusColumn) {
    AdminPanel a;
    Desk& desk = a.form.DeskCore();
    const std::vector<BrokerItem> brokers = {{"1", true}, {"2", true}};
    const int statuses[] = {stToOpen, stPending, stOpened, stCloseCond, stToClose, stClosed, stCanceled};
    for (size_t i = 0; i < std::size(statuses); i += 2)
        desk.entry.OpenOrder(0, 0.1, 1, 3, 0.0002, brokers, 1, 0.0001, false, -0.0005, true);
    ClientDataSet& e = desk.orders.m_CDSOrderliste;
    ClientDataSet& shown = desk.orders.m_CDSOrderlisteAnzeige;
    for (size_t i = 0; i < std::size(statuses); ++i) {
        int32_t id = 0;
        shown.PeekRecord(static_cast<int>(i) + 1, [&] { id = shown.FieldByName("OrderID").AsInteger(); });
        ASSERT_TRUE(e.Locate("OrderID", Variant(id)));
        e.Edit();
        e.FieldByName("Status").SetValue(Variant(int32_t{statuses[i]}));
        e.Post();
    }
    a.grid.setCurrentIndex(a.grid.model()->index(0, 0));
    QApplication::processEvents();
    const int column = a.grid.GetColIndexByFieldname("Status");
    for (size_t row = 0; row < std::size(statuses); ++row) {
        const QModelIndex index = a.grid.model()->index(static_cast<int>(row), column);
        const QString text = index.data().toString();
        SCOPED_TRACE(text.toStdString());
        ASSERT_FALSE(text.isEmpty());
        a.grid.scrollTo(index);
        const QRect cell = a.grid.visualRect(index).translated(a.grid.viewport()->geometry().topLeft());
        const QImage shot = a.grid.grab().toImage();
        const auto [first, last] = InkColumns(shot, cell);
        ASSERT_GE(first, 0);
        // The same text drawn without any bound, 2 pixels from the left as in the cell.
        QImage free(cell.width() * 3, cell.height(), QImage::Format_RGB32);
        free.fill(Qt::white);
        {
            QPainter p(&free);
            p.setFont(a.grid.font());
            p.setPen(Qt::black);
            p.drawText(QRect(2, 0, free.width(), free.height()),
                       Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, text);
        }
        const auto [freeFirst, freeLast] = InkColumns(free, free.rect());
        EXPECT_EQ(first - cell.left(), freeFirst);
        EXPECT_EQ(last - cell.left(), freeLast);
    }
}
