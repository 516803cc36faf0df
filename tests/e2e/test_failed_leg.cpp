// One leg of a transaction fails on the real desk: its EA reports the error and asks whether
// to retry. While the counter order's loss is beyond its MaxLoss the EA is told to retry; once
// it lies within, the desk closes the counter order automatically and gives the failed leg up,
// and the counter's EA closes it when it next asks. The saved Orderlist.xml and
// Notifications.txt tell what was recorded.
#include <gtest/gtest.h>

#include <regex>
#include <string>

#include "../unit/tempdir.h"
#include "desk/core/orderlist.h"
#include "desk_process.h"
#include "platform/clientdataset.h"
#include "platform/files.h"
#include "platform/messages.h"
#include "transaction_steps.h"

using namespace quorvel;
using namespace quorvel::e2e;

namespace {

TEST(FailedLeg, CounterOrderIsClosedWithinMaxLossAndThenByItsEA) {
    test::TempDir dir;
    DeskProcess desk(dir.Path());
    WriteOneTableConfig(dir.Path());
    WriteWaitingTransaction(dir.Path() / "Orderlist.xml", 0.001);
    ASSERT_TRUE(desk.Start()) << desk.StdErr();
    EA buyer{1, {}}, seller{2, {}};
    ASSERT_TRUE(buyer.link.Connect(desk.SocketPath()));
    ASSERT_TRUE(seller.link.Connect(desk.SocketPath()));
    EXPECT_EQ(buyer.Send(EAMsg::NewDataAccount, 1, 5550001), 4);
    EXPECT_EQ(seller.Send(EAMsg::NewDataAccount, 2, 5550002), 4);
    EXPECT_EQ(seller.Send(EAMsg::ParamCounterCheckSeconds, 2, 15), 0);

    // EA 1's ask 1.20005 and EA 2's bid 1.20010 cross by -5 points: the transaction triggers.
    buyer.Quote(120000, 120005);
    seller.Quote(120010, 120015);
    const int32_t buyLeg = buyer.Send(EAMsg::OrderQuestion, 1);
    const int32_t sellLeg = seller.Send(EAMsg::OrderQuestion, 2);
    ASSERT_GT(buyLeg, 0);
    ASSERT_GT(sellLeg, 0);
    EXPECT_EQ(seller.Send(EAMsg::GetOrderType, sellLeg), 2);

    // The buy leg opens at 1.20005.
    EXPECT_EQ(buyer.Send(EAMsg::OrderOpened, buyLeg, 7001), 0);
    EXPECT_EQ(buyer.Send(EAMsg::OrderOpenPrice, buyLeg, 120005), 0);

    // The sell leg fails while EA 1's bid stands at 1.19800: the buy leg would lose 205 points,
    // beyond the 100 of its MaxLoss, so EA 2 is to try again.
    buyer.Quote(119800, 119805);
    EXPECT_EQ(seller.Send(EAMsg::OrderError, sellLeg, 130), 0);
    EXPECT_EQ(seller.Send(EAMsg::RetryOrderExecution, sellLeg), 1);
    // The notice after EA 2's counter-check time names the open buy leg.
    EXPECT_EQ(seller.Send(EAMsg::ShowEAMessage, sellLeg, 1), 0);

    // It fails again with the bid back at 1.19950: a loss of 55 points lies within MaxLoss.
    buyer.Quote(119950, 119955);
    EXPECT_EQ(seller.Send(EAMsg::OrderError, sellLeg, 130), 0);
    EXPECT_EQ(seller.Send(EAMsg::RetryOrderExecution, sellLeg), 0);
    EXPECT_EQ(seller.Send(EAMsg::RetryOrderExecution, sellLeg), 1); // counter To Close: retry, nothing else

    // EA 1 is told to close at its next close question and reports the close.
    EXPECT_EQ(buyer.Send(EAMsg::OrderCloseQuestions, buyLeg), 1);
    EXPECT_EQ(buyer.Send(EAMsg::OrderClosed, buyLeg), 0);
    EXPECT_EQ(buyer.Send(EAMsg::OrderClosePrice, buyLeg, 119950), 0);
    EXPECT_EQ(buyer.Send(EAMsg::OrderProfitLoss, buyLeg, -55000), 0);
    EXPECT_EQ(buyer.Send(EAMsg::OrderCloseQuestions, buyLeg), 0);
    buyer.link.Disconnect();
    seller.link.Disconnect();
    ASSERT_EQ(desk.Stop(SIGTERM), 0) << desk.StdErr();

    ClientDataSet saved("saved");
    saved.LoadFromFile((dir.Path() / "Orderlist.xml").string());
    ASSERT_EQ(saved.RecordCount(), 2);
    ASSERT_TRUE(saved.Locate("OrderID", Variant(buyLeg)));
    EXPECT_EQ(saved.FieldByName("Status").AsInteger(), stClosed);
    EXPECT_EQ(saved.FieldByName("Ticket").AsInteger(), 7001);
    EXPECT_DOUBLE_EQ(saved.FieldByName("CloseKurs").AsFloat(), 1.1995);
    ASSERT_TRUE(saved.Locate("OrderID", Variant(sellLeg)));
    EXPECT_EQ(saved.FieldByName("Status").AsInteger(), stCanceled);
    EXPECT_TRUE(saved.FieldByName("Ticket").IsNull());

    const auto text = ReadWholeFile((dir.Path() / "Notifications.txt").string());
    ASSERT_TRUE(text);
    // The separator is the system locale's.
    const std::regex autoClose(": AUTOCLOSE EXECUTED within MaxLoss Value \\(0[.,]00100\\): OrderNo=7001 - "
                               "Account=5550001 - EA=1\r\n");
    std::smatch closeLine;
    ASSERT_TRUE(std::regex_search(*text, closeLine, autoClose)) << *text;
    const size_t attempt =
        text->find(": CANCEL / AUTOCLOSE ATTEMPT (15 sec.): OrderNo=7001 - Account=5550001 - EA=1\r\n");
    const size_t closed = text->find(": LONG-Position CLOSED: OrderNo=7001 - Account=5550001 - EA=1\r\n");
    EXPECT_NE(attempt, std::string::npos) << *text;
    EXPECT_NE(closed, std::string::npos) << *text;
    // Newest first: the close, then the auto close, then the attempt.
    EXPECT_LT(closed, static_cast<size_t>(closeLine.position(0)));
    EXPECT_LT(static_cast<size_t>(closeLine.position(0)), attempt);
}

} // namespace
