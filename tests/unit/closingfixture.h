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

    struct LegSpec {
        int32_t type = otBuy;
        int32_t status = stCloseCond;
        int32_t ea = 1;
        int32_t firstOrderID = 0; // 0: none (the first leg of its transaction)
        double closeSpread = -0.00009;
        int32_t closeBedingung = 1;
        double kurs = 1.2;
    };
    // Appends one leg; returns its OrderID.
    int32_t AddLeg(const LegSpec& s) {
        ClientDataSet& d = List();
        d.Append();
        d.FieldByName("TableID").SetAsInteger(0);
        d.FieldByName("Lots").SetAsFloat(0.1);
        d.FieldByName("OrderType").SetAsInteger(s.type);
        d.FieldByName("Status").SetAsInteger(s.status);
        d.FieldByName("EAID").SetAsInteger(s.ea);
        d.FieldByName("Account").SetAsInteger(5550000 + s.ea);
        d.FieldByName("Ticket").SetAsInteger(9000 + s.ea);
        d.FieldByName("Kurs").SetAsCurrency(s.kurs);
        d.FieldByName("CloseBedingung").SetAsInteger(s.closeBedingung);
        d.FieldByName("CloseSpread").SetAsCurrency(s.closeSpread);
        if (s.firstOrderID > 0) d.FieldByName("FirstOrderID").SetAsInteger(s.firstOrderID);
        d.Post();
        return d.FieldByName("OrderID").AsInteger();
    }
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
