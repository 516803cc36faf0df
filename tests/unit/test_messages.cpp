#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <optional>
#include <set>
#include <string>
#include <string_view>

#include "desk/core/desk.h"
#include "deskharness.h"

using namespace quorvel;
using namespace quorvel::test;

namespace {

// The EA protocol as the EAs know it: number on the wire, its name in the desk, and the
// handler that answers it (nullptr: default handling).
struct ProtocolRow {
    int32_t wire;
    int32_t named;
    const char* handler;
};
constexpr ProtocolRow kProtocol[] = {
    {0x8190, EAMsg::NewDataBid, "NewDataBid"},
    {0x8191, EAMsg::NewDataAsk, "NewDataAsk"},
    {0x8192, EAMsg::Reserved402, nullptr},
    {0x8193, EAMsg::NewDataAccount, "NewDataAccount"},
    {0x8194, EAMsg::DataComplete, "DataComplete"},
    {0x004A, EAMsg::NewDataCompanyName, "NewDataCompanyName"},
    {0x81F4, EAMsg::OrderQuestion, "OrderQuestion"},
    {0x81F5, EAMsg::GetOrderType, "GetOrderType"},
    {0x81F6, EAMsg::GetOrderLots, "GetOrderLots"},
    {0x81F7, EAMsg::OrderOpened, "OrderOpened"},
    {0x81F8, EAMsg::OrderClosed, "OrderClosed"},
    {0x81F9, EAMsg::OrderError, "OrderError"},
    {0x81FA, EAMsg::OrderOpenPrice, "OrderOpenPrice"},
    {0x81FB, EAMsg::OrderCloseQuestions, "OrderCloseQuestions"},
    {0x81FC, EAMsg::OrderClosePrice, "OrderClosePrice"},
    {0x81FD, EAMsg::OrderProfitLoss, "OrderProfitLoss"},
    {0x81FE, EAMsg::GetOrderID, "GetOrderID"},
    {0x81FF, EAMsg::RetryOrderExecution, "RetryOrderExecution"},
    {0x8200, EAMsg::CancelOrder, "CancelOrder"},
    {0x8201, EAMsg::GetTriggerPrice, "GetTriggerPrice"},
    {0x8202, EAMsg::ShowEAMessage, "ShowEAMessage"},
    {0x8203, EAMsg::ParamCounterCheckSeconds, "ParamCounterCheckSeconds"},
    {0x8204, EAMsg::GetTriggerPriceClose, "GetTriggerPriceClose"},
    {0x8258, EAMsg::GetEALoopTime, "GetEALoopTime"},
    {0x8259, EAMsg::GetEARequoteWaitMS, "GetEARequoteWaitMS"},
    {0x825A, EAMsg::GetEAMaxRequotes, "GetEAMaxRequotes"},
    {0x825B, EAMsg::GetEASlippage, "GetEASlippage"},
    {0x825C, EAMsg::GetEAMaxCounterCheckSeconds, "GetEAMaxCounterCheckSeconds"},
};

const ProtocolRow* RowOf(int32_t wire) {
    for (const ProtocolRow& r : kProtocol)
        if (r.wire == wire) return &r;
    return nullptr;
}

TEST(MessageNames, EveryNameCarriesItsWireNumber) {
    std::set<int32_t> seen;
    for (const ProtocolRow& r : kProtocol) {
        EXPECT_EQ(r.named, r.wire) << std::hex << r.wire;
        EXPECT_TRUE(seen.insert(r.wire).second) << "twice: " << std::hex << r.wire;
    }
}

TEST(MessageRoutes, EveryRouteIsTheProtocolsHandlerOfItsNumber) {
    std::set<int32_t> routed;
    for (const Desk::Route& route : Desk::Routes()) {
        SCOPED_TRACE(route.name);
        EXPECT_TRUE(routed.insert(route.msg).second) << "routed twice";
        const ProtocolRow* row = RowOf(route.msg);
        ASSERT_NE(row, nullptr) << "not a protocol number: " << std::hex << route.msg;
        ASSERT_NE(row->handler, nullptr) << "the protocol has no handler for this number";
        EXPECT_STREQ(route.name, row->handler);
        EXPECT_NE(route.handler, nullptr);
        EXPECT_EQ(Desk::RouteOf(route.msg), route.handler);
    }
    // The price store's messages, the parameter questions, the opening hand-shake, the close
    // question, the close reports and the execution failures are answered today.
    for (const char* name : {"NewDataBid",
                             "NewDataAsk",
                             "NewDataAccount",
                             "DataComplete",
                             "NewDataCompanyName",
                             "ParamCounterCheckSeconds",
                             "GetEALoopTime",
                             "GetEARequoteWaitMS",
                             "GetEAMaxRequotes",
                             "GetEASlippage",
                             "GetEAMaxCounterCheckSeconds",
                             "OrderQuestion",
                             "GetOrderType",
                             "GetOrderLots",
                             "OrderOpened",
                             "OrderError",
                             "OrderOpenPrice",
                             "GetOrderID",
                             "GetTriggerPrice",
                             "OrderCloseQuestions",
                             "GetTriggerPriceClose",
                             "OrderClosed",
                             "OrderClosePrice",
                             "OrderProfitLoss",
                             "RetryOrderExecution",
                             "CancelOrder",
                             "ShowEAMessage"}) {
        bool found = false;
        for (const Desk::Route& route : Desk::Routes()) found = found || std::strcmp(route.name, name) == 0;
        EXPECT_TRUE(found) << name;
    }
}

// The desk's list of the protocol is the protocol: each number once, with its handler's name,
// owned by a part exactly when it has a handler.
TEST(MessageList, HoldsEveryNumberOfTheProtocolOnce) {
    EXPECT_EQ(std::size(EAMsg::kProtocol), std::size(kProtocol));
    std::set<int32_t> seen;
    for (const EAMsg::Message& m : EAMsg::kProtocol) {
        SCOPED_TRACE(std::string(m.name));
        EXPECT_TRUE(seen.insert(m.number).second) << "twice";
        const ProtocolRow* row = RowOf(m.number);
        ASSERT_NE(row, nullptr) << "not a protocol number: " << std::hex << m.number;
        if (row->handler) {
            EXPECT_EQ(m.name, row->handler);
        }
        EXPECT_EQ(m.owner == MsgOwner::None, row->handler == nullptr);
    }
}

// Each route is the one of its message in the list; a message a part owns has exactly one, and
// 402 has none.
TEST(MessageList, GivesEachOwnedMessageOneRoute) {
    for (const Desk::Route& route : Desk::Routes()) {
        SCOPED_TRACE(route.name);
        const EAMsg::Message* m = FindMessage(route.msg);
        ASSERT_NE(m, nullptr) << "not in the list: " << std::hex << route.msg;
        EXPECT_EQ(m->name, route.name);
    }
    for (const EAMsg::Message& m : EAMsg::kProtocol) {
        int routes = 0;
        for (const Desk::Route& route : Desk::Routes()) routes += route.msg == m.number ? 1 : 0;
        EXPECT_EQ(routes, m.owner == MsgOwner::None ? 0 : 1) << m.name;
    }
    EXPECT_EQ(FindMessage(EAMsg::Reserved402)->owner, MsgOwner::None);
    EXPECT_EQ(Desk::RouteOf(EAMsg::Reserved402), nullptr);
}

// The messages whose WParam is the sending EA: the quotes, the account, the character box, the
// order question and the counter-check seconds.
TEST(MessageList, NamesTheMessagesWhoseWParamIsTheEA) {
    const std::set<int32_t> byEA = {0x8190, 0x8191, 0x8193, 0x8194, 0x004A, 0x81F4, 0x8203};
    for (const ProtocolRow& r : kProtocol) {
        EXPECT_EQ(EAMsg::WParamNamesEA(r.wire), byEA.count(r.wire) == 1) << std::hex << r.wire;
        EXPECT_EQ(FindMessage(r.wire)->wparamNamesEA, byEA.count(r.wire) == 1) << std::hex << r.wire;
    }
    for (int32_t n : {0, 0x818F, 0x8195, 0x8257, 0x825D, -1}) EXPECT_FALSE(EAMsg::WParamNamesEA(n)) << n;
}

static_assert(MessageByName("OrderQuestion") == EAMsg::OrderQuestion);
static_assert(MessageName(EAMsg::GetTriggerPriceClose) == "GetTriggerPriceClose");

// A message by its handler's name or by its number as the protocol writes it, and back.
TEST(MessageList, FindsMessagesByName) {
    for (const EAMsg::Message& m : EAMsg::kProtocol) {
        EXPECT_EQ(MessageByName(m.name), m.number) << m.name;
        EXPECT_EQ(MessageName(m.number), m.name);
    }
    struct Case {
        std::string_view text;
        std::optional<int32_t> msg;
    };
    for (const Case c :
         {Case{"WM_APP+500", 0x81F4}, Case{"WM_APP+402", 0x8192}, Case{"WM_APP+604", 0x825C},
          Case{"WM_COPYDATA", 0x004A}, Case{"DataComplete", 0x8194}, Case{"Reserved402", 0x8192},
          Case{"WM_APP+405", std::nullopt}, Case{"WM_APP+0500", std::nullopt}, Case{"WM_APP+", std::nullopt},
          Case{"WM_APP+5OO", std::nullopt}, Case{"WM_APP+99999", std::nullopt}, Case{"WM_APP", std::nullopt},
          Case{"orderquestion", std::nullopt}, Case{"OrderQuestion ", std::nullopt},
          Case{"", std::nullopt}}) {
        EXPECT_EQ(MessageByName(c.text), c.msg) << c.text;
    }
    for (int32_t n : {0, 0x8195, 0x825D, -1}) EXPECT_TRUE(MessageName(n).empty()) << n;
}

using UnroutedMessages = DeskHarness;

// A number without a handler, in the protocol or not, answers 0 whatever the record held.
TEST_F(UnroutedMessages, NumbersWithoutAHandlerAnswerZero) {
    Make();
    // Next to every block of the protocol's numbers, and the extremes.
    std::set<int32_t> numbers = {0,      1,      0x49,   0x4B,   WM_APP, 0x818F,    0x8195,   0x81F3,
                                 0x8205, 0x8257, 0x825D, 0x1234, -1,     INT32_MIN, INT32_MAX};
    for (const ProtocolRow& r : kProtocol) {
        bool routed = false;
        for (const Desk::Route& route : Desk::Routes()) routed = routed || route.msg == r.wire;
        if (!routed) numbers.insert(r.wire);
    }
    ASSERT_TRUE(numbers.count(EAMsg::Reserved402));
    for (int32_t n : numbers) {
        EXPECT_EQ(Desk::RouteOf(n), nullptr) << std::hex << n;
        TMessage m{n, 1, 777, 99};
        desk->Dispatch(m);
        EXPECT_EQ(m.Result, 0) << std::hex << n;
        EXPECT_EQ(m.Msg, n);
    }
    EXPECT_TRUE(view.messageBoxes.empty());
    EXPECT_TRUE(view.stopBoxes.empty());
}

using FixedAnswers = DeskHarness;

// A message the list gives a fixed answer gets it, whatever the WParam and LParam say.
TEST_F(FixedAnswers, AreTheHandlersAnswers) {
    Create();
    Quote(1, 110000, 110012);
    for (const EAMsg::Message& m : EAMsg::kProtocol) {
        if (!m.answer) continue;
        for (int32_t wparam : {0, 1, 2, kMaxEAs + 1, -1})
            for (int32_t lparam : {0, 110005, -1})
                EXPECT_EQ(Send(m.number, wparam, lparam), *m.answer)
                    << m.name << " " << wparam << " " << lparam;
    }
    EXPECT_TRUE(view.stopBoxes.empty());
}

} // namespace
