#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <unistd.h>

#include "desk/core/desk.h"
#include "desk/core/orderlist.h"
#include "deskharness.h"
#include "platform/files.h"
#include "tests/support/tempdir.h"
#include "tests/support/testpaths.h"

using namespace quorvel;

namespace {

struct OrderListTest : test::DeskHarness {
    OrderListTest() { clock.Set(45000.5); }
    void Start() { Make().orders.OpenOrderList(); }
    // The order box of table t: direction, brokers ticked (1-based), values.
    void SetFrame(int t, FrameCtl direction, std::vector<int> brokers, const char* lots = "0,10",
                  const char* spread = "0,00020", const char* close = "0,00000",
                  const char* maxLoss = "-0,00050") {
        auto& f = controls.frames[t];
        std::vector<std::string> items;
        for (int k = 0; k < 10; ++k) items.push_back(std::to_string(10 * t + k + 1));
        controls.SetBrokerItems(t, items);
        for (int b : brokers) controls.SetBrokerChecked(t, b - 1, true);
        controls.SetFrameChecked(t, direction, true);
        f.checked[FrameCtl::rbSpreadKleinerGleich1] = true;
        f.checked[FrameCtl::rbCloseSpreadKleiner1] = true;
        f.text[FrameCtl::reLots1] = lots;
        f.text[FrameCtl::reSpread1] = spread;
        f.text[FrameCtl::reCloseSpread1] = close;
        f.text[FrameCtl::reMaxVerlust] = maxLoss;
    }
    ClientDataSet& Display() { return desk->orders.m_CDSOrderlisteAnzeige; }
    ClientDataSet& Engine() { return desk->orders.m_CDSOrderliste; }
    Field& D(const char* name) { return Display().FieldByName(name); }
    void SelectRow(int recNo) { Display().SetRecNo(recNo); }
    void WriteFile(const std::string& text) { std::ofstream(Paths().orderList, std::ios::binary) << text; }
    std::vector<std::filesystem::path> AsideFiles() {
        std::vector<std::filesystem::path> out;
        for (auto& e : std::filesystem::directory_iterator(dir.Path()))
            if (e.path().filename().string().rfind("Orderlist.xml.damaged-", 0) == 0) out.push_back(e.path());
        return out;
    }
};

} // namespace

TEST_F(OrderListTest, CursorsHoldTheirFieldsInOrder) {
    Start();
    EXPECT_EQ(Engine().FieldDefs().size(), 46u);
    EXPECT_EQ(Engine().Fields().size(), 44u);
    EXPECT_EQ(Display().Fields().size(), 41u);
    EXPECT_EQ(desk->orders.m_CDSAddNewOrder.Fields().size(), 35u);
    EXPECT_EQ(Engine().Index().field, "OrderID");
    EXPECT_TRUE(Engine().Index().descending);
    EXPECT_EQ(Display().Index().field, "");
    EXPECT_EQ(Display().FindField("PendingTime"), nullptr);
    EXPECT_EQ(desk->orders.m_CDSAddNewOrder.FindField("ForceClose"), nullptr);
    // the grid's visible columns, titles, formats and widths
    std::vector<std::string> titles;
    for (auto& f : Display().Fields())
        if (f->Visible) titles.push_back(f->DisplayName());
    ASSERT_EQ(titles.size(), 26u);
    EXPECT_EQ(titles[0], "No.");
    EXPECT_EQ(titles[5], "Lots");
    EXPECT_EQ(titles[9], "Status");
    EXPECT_EQ(titles[25], "P/ L");
    EXPECT_EQ(D("Gewinn").DisplayFormat, "0.00");
    EXPECT_EQ(D("OpenDelayUntil").DisplayFormat, "hh:nn:ss,zzz");
    EXPECT_EQ(D("OpenDelayUntil").DisplayWidth, 12);
    EXPECT_EQ(D("OrderID").DisplayName(), "ID");
    EXPECT_EQ(D("Verbindungsstatus").DisplayWidth, 5);
    EXPECT_EQ(Display().Fields()[29]->FieldName(), "ID10");
    EXPECT_EQ(D("Status").alignment, Alignment::Left);
    // the aggregates are there from the display cursor's opening
    ASSERT_NE(desk->orders.AggSumLots, nullptr);
    EXPECT_TRUE(desk->orders.AggSumLots->Value().IsNull());
}

TEST_F(OrderListTest, OrderEntryAppendsTheTwoLegs) {
    Start();
    SetFrame(3, FrameCtl::rbBuySell1, {2, 5});
    controls.activePage = 3;
    desk->entry.TableOpenOrderCurrent();
    ASSERT_EQ(Display().RecordCount(), 2);
    EXPECT_EQ(desk->orders.m_iDisableDataChange, 0);
    Display().First();
    const int first = D("OrderID").AsInteger();
    EXPECT_EQ(D("OrderType").AsInteger(), otBuy);
    EXPECT_EQ(D("Status").AsInteger(), stToOpen);
    EXPECT_TRUE(D("FirstOrderID").IsNull());
    EXPECT_EQ(D("TableID").AsInteger(), 3);
    EXPECT_DOUBLE_EQ(D("Lots").AsFloat(), 0.1);
    EXPECT_DOUBLE_EQ(D("Spread").AsFloat(), 0.0002);
    EXPECT_DOUBLE_EQ(D("MaxVerlust").AsFloat(), -0.0005);
    EXPECT_EQ(D("ID2").AsInteger(), 32);
    EXPECT_EQ(D("ID5").AsInteger(), 35);
    for (int k : {1, 3, 4, 6, 7, 8, 9, 10}) EXPECT_EQ(D(("ID" + std::to_string(k)).c_str()).AsInteger(), -1);
    EXPECT_EQ(D("CloseSpread").AsFloat(), 0.0); // a close spread of 0 is stored
    EXPECT_FALSE(D("CloseSpread").IsNull());
    EXPECT_EQ(D("CloseBedingung").AsInteger(), 1);
    EXPECT_DOUBLE_EQ(D("Zeitpunkt").AsDateTime(), 45000.5);
    EXPECT_TRUE(D("Ticket").IsNull());
    EXPECT_TRUE(Engine().Lookup("OrderID", Variant(first), "ForceClose").IsNull());
    EXPECT_EQ(D("Status").DisplayText(), "To Open");
    EXPECT_EQ(D("OrderType").DisplayText(), "Buy");
    EXPECT_EQ(D("TableID").DisplayText(), "3");
    EXPECT_EQ(D("Nr").AsInteger(), 1);
    Display().Next();
    EXPECT_EQ(D("OrderType").AsInteger(), otSell);
    EXPECT_EQ(D("FirstOrderID").AsInteger(), first);
    EXPECT_EQ(D("Nr").AsInteger(), 2);
    // the engine cursor meets the newest leg first
    Engine().First();
    EXPECT_EQ(Engine().FieldByName("OrderID").AsInteger(), first + 1);
}

TEST_F(OrderListTest, OneSidedTransactionsHaveAnEmptyLeg) {
    Start();
    struct Case {
        FrameCtl direction;
        int emptyLeg;
    };
    for (Case c : {Case{FrameCtl::rbBuy1, 2}, Case{FrameCtl::rbSell1, 1}}) {
        SetFrame(0, c.direction, {1});
        desk->entry.TableOpenOrder(0, 0);
    }
    ASSERT_EQ(Display().RecordCount(), 4);
    for (int row : {2, 3}) {
        SelectRow(row);
        EXPECT_EQ(D("OrderType").AsInteger(), otNone) << row;
        EXPECT_EQ(D("Status").AsInteger(), stNoLeg) << row;
        EXPECT_EQ(D("Status").DisplayText(), "") << row;
        EXPECT_EQ(D("OrderType").DisplayText(), "---") << row;
        for (const char* f : {"Lots", "Spread", "ID1", "ID10", "CloseSpread", "CloseBedingung"})
            EXPECT_TRUE(D(f).IsNull()) << f;
        EXPECT_FALSE(D("MaxVerlust").IsNull());
        EXPECT_FALSE(D("AutoClose").IsNull());
    }
    SelectRow(4);
    EXPECT_EQ(D("FirstOrderID").AsInteger(), 3); // the sell leg points to the empty first leg
    SelectRow(1);
    const int buyLeg = D("OrderID").AsInteger();
    EXPECT_EQ(desk->orders.GetOrderStatusByID(desk->orders.GetCounterOrderID(buyLeg)), -1);
}

TEST_F(OrderListTest, PlaceOrderOnAPageThatIsNoTableDoesNothing) {
    Start();
    SetFrame(0, FrameCtl::rbBuySell1, {1});
    for (int page : {20, 21, -1}) {
        controls.activePage = page;
        desk->entry.TableOpenOrderCurrent();
    }
    controls.activePage = 5;
    controls.frames[5].exists = false;
    desk->entry.TableOpenOrderCurrent();
    EXPECT_EQ(Display().RecordCount(), 0);
    // direction outside 1..3: two empty legs
    desk->entry.OpenOrder(0, 1, 1, 7, 0.1, {}, 1, 0.1, false, 0, false);
    Display().First();
    EXPECT_EQ(D("Status").AsInteger(), stNoLeg);
    Display().Next();
    EXPECT_EQ(D("Status").AsInteger(), stNoLeg);
}

TEST_F(OrderListTest, LookupsGiveTheirNoResultValues) {
    Start();
    SetFrame(1, FrameCtl::rbBuySell1, {1}, "0,10");
    controls.frames[1].checked[FrameCtl::cbSlippageAusgleich1] = true;
    desk->entry.TableOpenOrder(1, 1);
    const int first = 1, second = 2;
    EXPECT_EQ(desk->orders.GetCounterOrderID(first), second);
    EXPECT_EQ(desk->orders.GetCounterOrderID(second), first);
    EXPECT_EQ(desk->orders.GetOrderTypeByID(second), otSell);
    EXPECT_EQ(desk->orders.GetOrderStatusByID(first), stToOpen);
    EXPECT_EQ(desk->orders.LookupOrderInteger(first, "ID1"), 11);
    EXPECT_EQ(desk->orders.LookupOrderString(first, "TableID"), "1");
    EXPECT_EQ(desk->orders.LookupOrderPoints(first, "Lots"), 10000);
    bool b = false;
    desk->orders.LookupOrderBoolean(first, "SlippageAusgleich", b);
    EXPECT_TRUE(b);
    b = true;
    desk->orders.LookupOrderBoolean(first, "AutoClose", b);
    EXPECT_FALSE(b);
    // a missing order, a missing counter order (-1) and a null field
    for (int id : {99, -1}) {
        EXPECT_EQ(desk->orders.GetCounterOrderID(id), -1);
        EXPECT_EQ(desk->orders.GetOrderTypeByID(id), -1);
        EXPECT_EQ(desk->orders.GetOrderStatusByID(id), -1);
        EXPECT_EQ(desk->orders.LookupOrderInteger(id, "Ticket"), -1);
        EXPECT_EQ(desk->orders.LookupOrderString(id, "Ticket"), "");
        EXPECT_EQ(desk->orders.LookupOrderPoints(id, "Lots"), -10000);
        b = true;
        desk->orders.LookupOrderBoolean(id, "SlippageAusgleich", b);
        EXPECT_FALSE(b);
    }
    EXPECT_EQ(desk->orders.LookupOrderInteger(first, "Ticket"), -1);
    EXPECT_EQ(desk->orders.LookupOrderPoints(first, "Kurs"), -10000);
    b = true;
    desk->orders.LookupOrderBoolean(first, "ATRaiseChecked", b);
    EXPECT_FALSE(b);
    EXPECT_EQ(desk->orders.m_iDisableDataChange, 0);
    // lookups move no cursor
    Engine().Last();
    Display().First();
    desk->orders.GetCounterOrderID(first);
    EXPECT_EQ(Engine().RecNo(), 2);
    EXPECT_EQ(Display().RecNo(), 1);
}

TEST_F(OrderListTest, CopyTransactionAppendsAFreshCopy) {
    Start();
    SetFrame(2, FrameCtl::rbBuySell1, {3, 4}, "0,25", "0,00030", "0,00010", "0,00100");
    controls.frames[2].checked[FrameCtl::cbAutoClose] = true;
    desk->entry.TableOpenOrder(2, 2);
    // the source transaction has run to its end
    for (int id : {1, 2}) {
        ASSERT_TRUE(Engine().Locate("OrderID", Variant(id)));
        Engine().Edit();
        Engine().FieldByName("Status").SetAsInteger(stClosed);
        Engine().FieldByName("Ticket").SetAsInteger(1000 + id);
        Engine().FieldByName("Gewinn").SetAsCurrency(1.5);
        Engine().FieldByName("ForceClose").SetAsBoolean(true);
        Engine().Post();
    }
    clock.AdvanceSeconds(60);
    SelectRow(2); // the second leg selected: the first is copied first all the same
    desk->entry.CopySelectedTransaction();
    EXPECT_EQ(desk->orders.m_iDisableDataChange, 0);
    ASSERT_EQ(Display().RecordCount(), 4);
    EXPECT_EQ(D("OrderID").AsInteger(), 2); // the selection stands on the source's second leg
    EXPECT_EQ(desk->orders.GetOrderStatusByID(1), stClosed);
    for (int row : {3, 4}) {
        SelectRow(row);
        EXPECT_EQ(D("Status").AsInteger(), stToOpen);
        EXPECT_EQ(D("OrderType").AsInteger(), row == 3 ? otBuy : otSell);
        EXPECT_EQ(D("TableID").AsInteger(), 2);
        EXPECT_DOUBLE_EQ(D("Lots").AsFloat(), 0.25);
        EXPECT_DOUBLE_EQ(D("Spread").AsFloat(), 0.0003);
        EXPECT_DOUBLE_EQ(D("CloseSpread").AsFloat(), 0.0001);
        EXPECT_DOUBLE_EQ(D("MaxVerlust").AsFloat(), 0.001);
        EXPECT_EQ(D("ID3").AsInteger(), 23);
        EXPECT_EQ(D("ID1").AsInteger(), -1);
        EXPECT_TRUE(D("AutoClose").AsBoolean());
        EXPECT_TRUE(D("Ticket").IsNull());
        EXPECT_TRUE(D("Gewinn").IsNull());
        EXPECT_TRUE(D("ForceClose").IsNull());
        EXPECT_DOUBLE_EQ(D("Zeitpunkt").AsDateTime(), 45000.5 + 60 / 86400.0);
    }
    EXPECT_EQ(D("FirstOrderID").AsInteger(), 3);
    EXPECT_EQ(desk->orders.GetCounterOrderID(3), 4);

    // an empty leg is copied as an empty leg
    SetFrame(2, FrameCtl::rbSell1, {3});
    desk->entry.TableOpenOrder(2, 2);
    SelectRow(5);
    desk->entry.CopySelectedTransaction();
    ASSERT_EQ(Display().RecordCount(), 8);
    SelectRow(7);
    EXPECT_EQ(D("Status").AsInteger(), stNoLeg);
    EXPECT_TRUE(D("Lots").IsNull());
    SelectRow(8);
    EXPECT_EQ(D("Status").AsInteger(), stToOpen);
    EXPECT_EQ(D("FirstOrderID").AsInteger(), 7);
}

TEST_F(OrderListTest, DeleteOrderRemovesBothLegs) {
    Start();
    SetFrame(0, FrameCtl::rbBuySell1, {1});
    desk->entry.TableOpenOrder(0, 0);
    desk->entry.TableOpenOrder(0, 0);
    ASSERT_TRUE(Engine().Locate("OrderID", Variant(2)));
    Engine().Edit();
    Engine().FieldByName("Status").SetAsInteger(stOpened);
    Engine().Post();
    SelectRow(1);
    desk->entry.DeleteSelectedTransaction();
    ASSERT_EQ(Display().RecordCount(), 2);
    EXPECT_FALSE(Engine().Locate("OrderID", Variant(1)));
    EXPECT_FALSE(Engine().Locate("OrderID", Variant(2)));
    EXPECT_EQ(desk->orders.GetOrderStatusByID(2), -1);
    Display().First();
    EXPECT_EQ(D("Nr").AsInteger(), 1);
    EXPECT_EQ(D("OrderID").AsInteger(), 3);
    desk->entry.DeleteSelectedTransaction();
    desk->entry.DeleteSelectedTransaction(); // empty: nothing
    desk->entry.CopySelectedTransaction();
    EXPECT_EQ(Display().RecordCount(), 0);
}

TEST_F(OrderListTest, TheListSurvivesARestartAndNewKeysStayAhead) {
    Start();
    SetFrame(0, FrameCtl::rbBuySell1, {1, 2});
    desk->entry.TableOpenOrder(0, 0);
    desk->entry.TableOpenOrder(0, 0);
    SelectRow(3);
    desk->entry.DeleteSelectedTransaction();
    desk->files.SaveData();
    desk->FormDestroy();
    EXPECT_FALSE(Engine().Active());

    Start();
    ASSERT_EQ(Engine().RecordCount(), 2);
    EXPECT_EQ(desk->orders.GetCounterOrderID(1), 2);
    desk->entry.TableOpenOrder(0, 0);
    EXPECT_EQ(desk->orders.LookupOrderInteger(6, "FirstOrderID"), 5); // 3 and 4 do not come back
    EXPECT_TRUE(view.messageBoxes.empty());
}

TEST_F(OrderListTest, AFileThatDoesNotLoadIsSetAsideAndTheDeskGoesOnEmpty) {
    const std::string valid = [&] {
        Start();
        SetFrame(0, FrameCtl::rbBuySell1, {1});
        desk->entry.TableOpenOrder(0, 0);
        return Engine().SaveToString();
    }();
    auto without = [&](const std::string& field) {
        std::string s = valid;
        const auto at = s.find("<FIELD attrname=\"" + field + "\"");
        s.erase(at, s.find("/>", at) + 2 - at);
        return s;
    };
    auto retyped = [&](const std::string& field, const std::string& from, const std::string& to) {
        std::string s = valid;
        const auto at = s.find("<FIELD attrname=\"" + field + "\" fieldtype=\"" + from + "\"");
        s.replace(s.find(from, at + field.size()), from.size(), to);
        return s;
    };
    const std::string bad[] = {
        "not xml at all",
        valid.substr(0, valid.size() - 40),
        without("ATRaiseChecked"),
        without("OrderID"),
        retyped("Spread", "r8\" SUBTYPE=\"Money", "r8"),
        retyped("Status", "i4", "boolean"),
    };
    for (const std::string& data : bad) {
        std::filesystem::remove_all(dir.Path());
        std::filesystem::create_directories(dir.Path());
        view = test::FakeView{};
        WriteFile(data);
        Start();
        ASSERT_EQ(view.messageBoxes.size(), 1u);
        EXPECT_TRUE(view.terminated);
        EXPECT_EQ(Display().RecordCount(), 0);
        EXPECT_TRUE(Display().Active() && desk->orders.m_CDSAddNewOrder.Active());
        const auto aside = AsideFiles();
        ASSERT_EQ(aside.size(), 1u);
        // The message's text, and one line more that names where the file went.
        const std::string line = Paths().orderList + " was set aside as " + aside[0].string() + ".";
        EXPECT_EQ(view.messageBoxes[0],
                  kOrderListLoadFailed + std::u16string(u"\n") + std::u16string(line.begin(), line.end()));
        EXPECT_EQ(ReadWholeFile(aside[0].string()), data); // nothing of it is lost
        desk->FormDestroy();                               // writes the empty list
        view = test::FakeView{};
        Start(); // the next start begins empty
        EXPECT_TRUE(view.messageBoxes.empty());
        EXPECT_EQ(Engine().RecordCount(), 0);
    }
    // a file lacking only Bedingung and CloseDelaySec loads; later saves go without them
    std::filesystem::remove(Paths().orderList);
    view = test::FakeView{};
    std::string partial = valid;
    for (const char* f : {"Bedingung", "CloseDelaySec"}) {
        const auto at = partial.find(std::string("<FIELD attrname=\"") + f + "\"");
        partial.erase(at, partial.find("/>", at) + 2 - at);
    }
    WriteFile(partial);
    Start();
    EXPECT_TRUE(view.messageBoxes.empty());
    EXPECT_EQ(Engine().RecordCount(), 2);
    EXPECT_EQ(Engine().FieldDefs().size(), 44u);
    desk->files.SaveData();
    EXPECT_EQ(ReadWholeFile(Paths().orderList)->find("CloseDelaySec"), std::string::npos);

    // a file of another tool with columns of other types beside the list's own loads
    desk->FormDestroy();
    view = test::FakeView{};
    std::string foreign = valid;
    const auto fieldsEnd = foreign.find("</FIELDS>");
    foreign.insert(fieldsEnd, "<FIELD attrname=\"Comment\" fieldtype=\"string\" WIDTH=\"50\"/>"
                              "<FIELD attrname=\"Memo\" fieldtype=\"bin.hex\" SUBTYPE=\"Text\"/>");
    const auto firstRow = foreign.find("<ROW ") + 4;
    foreign.insert(firstRow, " Comment=\"hedge; EURUSD\" Memo=\"AA==\"");
    WriteFile(foreign);
    const size_t asideBefore = AsideFiles().size();
    Start();
    EXPECT_TRUE(view.messageBoxes.empty());
    EXPECT_FALSE(view.terminated);
    EXPECT_EQ(AsideFiles().size(), asideBefore);
    EXPECT_EQ(Engine().RecordCount(), 2);
    EXPECT_EQ(desk->orders.LookupOrderInteger(2, "FirstOrderID"), 1);
}

TEST_F(OrderListTest, ASaveThatFailsRaisesAndKeepsWhatWasThere) {
    Start();
    SetFrame(0, FrameCtl::rbBuySell1, {1});
    desk->entry.TableOpenOrder(0, 0);
    // Something that cannot be replaced stands under the file's name.
    std::filesystem::create_directories(dir.File("Orderlist.xml/keep"));
    desk->Guarded([&] { desk->files.SaveData(); });
    ASSERT_EQ(view.stopBoxes.size(), 1u);
    EXPECT_TRUE(std::filesystem::is_directory(dir.File("Orderlist.xml/keep")));
    // A list that failed to load and could not be set aside is never saved.
    std::filesystem::remove_all(dir.File("Orderlist.xml"));
    desk->orders.m_bOrderListLoaded = false;
    desk->files.SaveData();
    EXPECT_FALSE(FileExists(Paths().orderList));
}
