#include <QPushButton>
#include <QTableView>
#include <gtest/gtest.h>

#include "desk/orderlistmodel.h"
#include "desk/uSkarlin.h"
#include "desk/windows/uFrmTable.h"
#include "tests/support/tempdir.h"
#include "tests/support/testpaths.h"

using namespace quorvel;

TEST(OrderListPanel, ShowsTheDisplayCursorAndActsOnTheSelectedRow) {
    test::TempDir dir;
    TForm3 form(test::PathsIn(dir), "");
    Desk& desk = form.DeskCore();
    const std::vector<BrokerItem> brokers = {{"1", true}, {"2", false}};
    desk.entry.OpenOrder(0, 0.1, 1, 3, 0.0002, brokers, 1, 0.0001, false, -0.0005, true);
    desk.entry.OpenOrder(0, 0.2, 1, 1, 0.0003, brokers, 1, 0.0001, false, -0.0005, false);
    QTableView* view = form.DBSortGrid1;
    QAbstractItemModel* model = view->model();
    ASSERT_EQ(model->rowCount(), 4);
    ASSERT_EQ(model->columnCount(), 26);
    EXPECT_EQ(model->headerData(0, Qt::Horizontal).toString(), "No.");
    EXPECT_EQ(model->headerData(6, Qt::Horizontal).toString(), "Direc.");
    EXPECT_EQ(model->index(1, 0).data().toString(), "2");
    EXPECT_EQ(model->index(1, 6).data().toString(), "Sell");
    EXPECT_EQ(model->index(3, 6).data().toString(), "---");
    EXPECT_EQ(model->index(0, 9).data().toString(), "To Open");
    EXPECT_EQ(model->index(0, 7).data().toString(), "0,00020");

    // Selecting a row moves the display cursor; the buttons act on it.
    view->setCurrentIndex(model->index(2, 0));
    EXPECT_EQ(desk.orders.m_CDSOrderlisteAnzeige.RecNo(), 3);
    form.Button3->click();
    EXPECT_EQ(model->rowCount(), 6);
    EXPECT_EQ(desk.orders.m_CDSOrderlisteAnzeige.RecNo(), 4); // the source's second leg
    EXPECT_EQ(view->currentIndex().row(), 3);
    view->setCurrentIndex(model->index(0, 0));
    form.Button14->click();
    EXPECT_EQ(model->rowCount(), 4);
    EXPECT_EQ(model->index(0, 0).data().toString(), "1");
    EXPECT_EQ(model->index(0, 7).data().toString(), "0,00030");
}

TEST(OrderListPanel, PlaceOrderOnATableTabAppendsATransaction) {
    test::TempDir dir;
    TForm3 form(test::PathsIn(dir), "");
    form.PageControl1->setCurrentIndex(2);
    form.GetFrameTable(2)->Button13->click();
    ClientDataSet& d = form.DeskCore().orders.m_CDSOrderlisteAnzeige;
    ASSERT_EQ(d.RecordCount(), 2);
    d.First();
    EXPECT_EQ(d.FieldByName("TableID").AsInteger(), 2);
    EXPECT_EQ(form.DBSortGrid1->model()->rowCount(), 2);
}
