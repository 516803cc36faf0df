#pragma once
// A desk whose order list is filled leg by leg, as an opened transaction leaves it, with quotes
// set straight into the price store, for the closing engine and the close reports.
#include <string>

#include "deskharness.h"

namespace quorvel::test {

constexpr int32_t kCloseQuestion = EAMsg::OrderCloseQuestions;
constexpr int32_t kClosed = EAMsg::OrderClosed;
constexpr int32_t kClosePrice = EAMsg::OrderClosePrice;
constexpr int32_t kProfitLoss = EAMsg::OrderProfitLoss;
constexpr int32_t kTriggerPriceClose = EAMsg::GetTriggerPriceClose;

struct ClosingDesk : DeskHarness {
    void SetUp() override {
        Create(1); // EA IDs 1..10; SimultaneousClosing 2, ClosingPause 1.0
        controls.checked[Ctl::chkbStandby] = false;
        controls.checked[Ctl::chkbSeqMode] = false;
        controls.checked[Ctl::chkbDelayMode] = false;
        controls.text[Ctl::seSlippage] = "2";
        controls.text[Ctl::seDelayPos2] = "100";
        controls.text[Ctl::rePRIDynamic] = "0,0010";
    }

    // A leg waiting for its close condition (close spread -0.00009, "<=").
    struct LegSpec : Leg {
        LegSpec() {
            status = stCloseCond;
            closeBedingung = 1;
            closeSpread = -0.00009;
        }
    };
    struct Tx {
        int32_t buy, sell;
    };
    // A two-sided transaction, both legs waiting for their close condition.
    Tx AddTransaction(int buyEA, int sellEA, double closeSpread = -0.00009, int32_t status = stCloseCond) {
        LegSpec b;
        b.ea = buyEA;
        b.closeSpread = closeSpread;
        b.status = status;
        const int32_t buy = AddLeg(b);
        LegSpec s = b;
        s.type = otSell;
        s.ea = sellEA;
        s.firstOrderID = buy;
        return {buy, AddLeg(s)};
    }

    int32_t AskClose(int32_t id) { return Send(kCloseQuestion, id); }
    int32_t WindowCount(int buyEA, int sellEA) const { return desk->closing.ClosesInWindow(buyEA, sellEA); }
};

} // namespace quorvel::test
