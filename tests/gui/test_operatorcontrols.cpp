// The operator's controls on the ADMIN PANEL, clicked as the operator clicks them: the
// "Edit Orders" group follows the grid's selection, the buttons change the selected
// transaction, and the EAs see the change at their next question through the link.
#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QGroupBox>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QTableView>
#include <atomic>
#include <fstream>
#include <gtest/gtest.h>
#include <thread>

#include "components/NumEdit.h"
#include "desk/uSkarlin.h"
#include "platform/ealink.h"
#include "platform/messages.h"
#include "tests/support/localescope.h"
#include "tests/support/tempdir.h"
#include "tests/support/testpaths.h"

using namespace quorvel;

namespace {

struct Panel {
    TForm3& form;
    Desk& desk() { return form.DeskCore(); }
    ClientDataSet& Display() { return desk().orders.m_CDSOrderlisteAnzeige; }
    // Selects grid row `row` (0-based) as the operator's click does.
    void Select(int row) { form.DBSortGrid1->setCurrentIndex(form.DBSortGrid1->model()->index(row, 0)); }
    int SelectedRow() { return form.DBSortGrid1->currentIndex().row(); }
    // Three transactions of table 1: both sides, buy only, both sides.
    void PlaceThree() {
        const std::vector<BrokerItem> brokers = {{"11", true}, {"12", false}, {"13", true}};
        desk().entry.OpenOrder(1, 0.1, 1, 3, 0.0002, brokers, 1, -0.0001, false, 0.0005, true);
        desk().entry.OpenOrder(1, 0.2, 1, 1, 0.0003, brokers, 1, -0.0001, false, 0.0005, true);
        desk().entry.OpenOrder(1, 0.3, 1, 3, 0.0004, brokers, -1, 0.0, false, 0.0005, false);
    }
    // Writes a leg's field as an EA report would (through the engine cursor).
    void SetLeg(int row, const char* field, const Variant& v) {
        int32_t orderID = 0;
        Display().PeekRecord(row + 1, [&] { orderID = Display().FieldByName("OrderID").AsInteger(); });
        ClientDataSet& e = desk().orders.m_CDSOrderliste;
        ASSERT_TRUE(e.Locate("OrderID", Variant(orderID)));
        e.Edit();
        e.FieldByName(field).SetValue(v);
        e.Post();
    }
    Variant Get(int row, const char* field) {
        Variant v;
        Display().PeekRecord(row + 1, [&] { v = Display().FieldByName(field).Value(); });
        return v;
    }
    std::vector<bool> Ticks() {
        std::vector<bool> out;
        for (int i = 0; i < form.m_lbBrokerIDsChange->count(); ++i)
            out.push_back(form.m_lbBrokerIDsChange->item(i)->checkState() == Qt::Checked);
        return out;
    }
};

TEST(OperatorControls, TheGroupFollowsTheSelectionAndTheButtonsChangeTheList) {
    test::LocaleScope comma(',');
    test::TempDir dir;
    TForm3 form(test::PathsIn(dir), "");
    Panel p{form};
    // The start values before the first load.
    EXPECT_EQ(form.m_reLotsChange->text(), "1,00");
    EXPECT_EQ(form.m_reMaxVerlust->text(), "0,00100");
    EXPECT_EQ(form.m_lbBrokerIDsChange->count(), 3);
    EXPECT_FALSE(form.m_rbCloseKleinerChange->isChecked());
    EXPECT_TRUE(form.m_rbBuySellChange->isChecked());
    EXPECT_EQ(form.Button18->text(), "Close Position");
    EXPECT_EQ(form.m_bManuell->geometry(), QRect(575, 3, 130, 25));
    EXPECT_EQ(form.m_gbChange->geometry(), QRect(3, 0, 567, 161));

    p.PlaceThree();
    // The second transaction's empty leg: "Buy", the real leg's lots and brokers only.
    p.Select(3);
    EXPECT_TRUE(form.m_rbBuyChange->isChecked());
    EXPECT_EQ(form.m_reLotsChange->text(), "0,20");
    ASSERT_EQ(form.m_lbBrokerIDsChange->count(), 10);
    EXPECT_EQ(form.m_lbBrokerIDsChange->item(0)->text(), "11");
    EXPECT_EQ(p.Ticks(),
              (std::vector<bool>{true, false, true, false, false, false, false, false, false, false}));
    EXPECT_TRUE(form.m_btnChangeOrder->isEnabled());
    EXPECT_FALSE(form.m_btnCloseOrder->isEnabled());

    // The third transaction opened: "Close Transaction" forces both legs, the selection ends
    // on the counter order, which the group now shows.
    for (int row : {4, 5}) {
        p.SetLeg(row, "Status", Variant(int32_t(stOpened)));
        p.SetLeg(row, "EAID", Variant(int32_t(row == 4 ? 11 : 13)));
    }
    p.desk().prices.Bid[11] = 120100;
    p.desk().prices.Ask[13] = 120150;
    p.Select(4);
    EXPECT_FALSE(form.m_btnChangeOrder->isEnabled());
    EXPECT_TRUE(form.m_btnCloseOrder->isEnabled());
    EXPECT_FALSE(form.m_reLotsChange->Enabled());
    EXPECT_EQ(form.m_reCloseSpreadChange->text(), "0,00000");
    form.Button1->click();
    EXPECT_EQ(p.SelectedRow(), 5);
    EXPECT_EQ(p.Get(4, "Status").AsInteger(), stToClose);
    EXPECT_EQ(p.Get(5, "Status").AsInteger(), stToClose);
    EXPECT_DOUBLE_EQ(p.Get(4, "TrigCloseKurs").AsFloat(), 1.201);
    EXPECT_DOUBLE_EQ(p.Get(5, "TrigCloseKurs").AsFloat(), 1.2015);

    // A preset brings both legs back to "Close Cond." and the selection back to its row.
    form.Button4->click();
    EXPECT_EQ(p.SelectedRow(), 5);
    EXPECT_EQ(p.Get(4, "Status").AsInteger(), stCloseCond);
    EXPECT_DOUBLE_EQ(p.Get(5, "CloseSpread").AsFloat(), 0.0002);
    EXPECT_EQ(form.m_reCloseSpreadChange->text(), "0,00000"); // reloaded: no close condition, so 0

    // "Change Order" on the first transaction with the lots stepped up and broker 2 ticked.
    p.Select(0);
    EXPECT_EQ(form.m_reLotsChange->text(), "0,10");
    form.UpDown4->Press(TUDBtnType::btNext);
    EXPECT_EQ(form.m_reLotsChange->text(), "0,20");
    form.m_lbBrokerIDsChange->item(1)->setCheckState(Qt::Checked);
    form.m_btnChangeOrder->click();
    EXPECT_EQ(p.SelectedRow(), 0);
    EXPECT_DOUBLE_EQ(p.Get(1, "Lots").AsFloat(), 0.2);
    EXPECT_EQ(p.Get(1, "ID2").AsInteger(), 12);
    EXPECT_EQ(p.desk().orders.m_iDisableDataChange, 0);

    // What was saved.
    p.desk().orders.SaveOrderList();
    ClientDataSet saved("saved");
    saved.LoadFromFile(test::PathsIn(dir).orderList);
    ASSERT_EQ(saved.RecordCount(), 6);
    saved.SetRecNo(5);
    EXPECT_EQ(saved.FieldByName("Status").AsInteger(), stCloseCond);
    EXPECT_TRUE(saved.FieldByName("ForceClose").AsBoolean());
    saved.SetRecNo(1);
    EXPECT_DOUBLE_EQ(saved.FieldByName("Lots").AsFloat(), 0.2);

    // The ADMIN PANEL with the group loaded from an opened transaction.
    p.Select(4);
    form.resize(1280, 600);
    form.show();
    form.PageControl1->setCurrentWidget(form.TabSheet4);
    QApplication::processEvents();
    EXPECT_FALSE(form.m_btnChangeOrder->isEnabled());
    EXPECT_EQ(form.m_gbOpenBedingung->palette().color(QPalette::Active, QPalette::WindowText),
              QColor(128, 128, 128));
    EXPECT_NE(form.m_gbCloseBedingung->palette().color(QPalette::Active, QPalette::WindowText),
              QColor(128, 128, 128));
    EXPECT_TRUE(form.grab().save(QUORVEL_SCREENSHOT_DIR "/admin_panel_controls.png"));
}

TEST(OperatorControls, ClosePositionReachesTheEAThroughTheLink) {
    test::LocaleScope comma(',');
    test::TempDir dir;
    DeskPaths paths = test::PathsIn(dir);
    std::ofstream(paths.configIni, std::ios::binary)
        << "[Defaults]\r\nStandby=0\r\nTables=2\r\nTimeout=60\r\n";
    const std::string link = dir.File("xdg/TForm3");
    TForm3 form(paths, link);
    Panel p{form};
    p.PlaceThree();
    p.SetLeg(0, "Status", Variant(int32_t(stOpened)));
    p.SetLeg(0, "EAID", Variant(int32_t(11)));
    p.SetLeg(1, "Status", Variant(int32_t(stOpened)));
    p.SetLeg(1, "EAID", Variant(int32_t(12)));
    const int32_t orderID = p.Get(0, "OrderID").AsInteger();

    // Runs `fn` on an EA's thread while the window serves the link.
    auto asEA = [&](const std::function<void(LinkClient&)>& fn) {
        std::atomic<bool> done{false};
        std::thread ea([&] {
            LinkClient c;
            if (c.Connect(link)) fn(c);
            done = true;
        });
        QElapsedTimer t;
        t.start();
        while (!done.load() && t.elapsed() < 10000)
            QApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 20);
        ea.join();
        ASSERT_TRUE(done.load());
    };
    std::atomic<int32_t> before{-1}, answer{-1}, trigger{-1};
    asEA([&](LinkClient& c) {
        c.Send(EAMsg::NewDataBid, 11, 123456);
        c.Send(EAMsg::NewDataAsk, 11, 123470);
        c.Send(EAMsg::DataComplete, 11, 0);
        before = c.Send(EAMsg::OrderCloseQuestions, orderID, 0);
    });
    EXPECT_EQ(before.load(), 0); // "Opened": nothing to close

    p.Select(0);
    form.Button18->click();
    EXPECT_EQ(p.SelectedRow(), 0);
    asEA([&](LinkClient& c) {
        answer = c.Send(EAMsg::OrderCloseQuestions, orderID, 0);
        trigger = c.Send(EAMsg::GetTriggerPriceClose, orderID, 0);
    });
    EXPECT_EQ(answer.load(), 1);
    EXPECT_EQ(trigger.load(), 123456);
    EXPECT_EQ(p.Get(1, "Status").AsInteger(), stOpened); // the counter order stays
}

} // namespace
