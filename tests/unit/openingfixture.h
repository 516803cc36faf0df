#pragma once
// A desk of two tables with the engine awake ("Standby", "SeqMode" and "DelMode" unticked,
// timeout 4 s, combination pause 500 ms), transactions placed straight into its order list,
// and quotes set with their age on the settable clock.
#include <string>
#include <vector>

#include "deskharness.h"

namespace quorvel::test {

struct OpeningDesk : DeskHarness {
    void SetUp() override {
        Create(2, 4);
        controls.checked[Ctl::chkbStandby] = false;
        controls.checked[Ctl::chkbSeqMode] = false;
        controls.checked[Ctl::chkbDelayMode] = false;
        controls.text[Ctl::rePRIDynamic] = "0,0010";
        controls.text[Ctl::seDelayPos2] = "100";
        desk->settings.combinationPauseMS = 500;
    }

    struct Order {
        int table = 0;
        double spread = -0.00010;
        std::vector<int> brokers{1, 2, 3, 4};
        int buySell = 3; // 1 buy only, 2 sell only, 3 both
        int closeBedingung = 1;
        double closeSpread = -0.00009;
        bool slippage = false;
        double lots = 0.1;
    };
    // Appends one transaction; returns the OrderID of its first leg (the second is one more).
    int Place(const Order& o) {
        std::vector<BrokerItem> items;
        for (int id : o.brokers) items.push_back({std::to_string(id), true});
        desk->entry.OpenOrder(o.table, o.lots, 1, o.buySell, o.spread, items, o.closeBedingung, o.closeSpread,
                              o.slippage, -0.0001, false);
        ClientDataSet& ds = desk->orders.m_CDSOrderliste;
        ds.First();
        return ds.FieldByName("OrderID").AsInteger() - 1;
    }
    int Place() { return Place(Order{}); }

    // A quote of EA `id` stamped `ageMs` milliseconds before now (-1: never quoted).
    void SetQuote(int id, int64_t bid, int64_t ask, double ageMs = 0, int32_t account = -2) {
        DeskHarness::SetQuote(id, bid, ask, ageMs < 0 ? kNoTime : clock.Now() - ageMs / 86400000.0);
        desk->prices.Accounts[id] = account == -2 ? 5000 + id : account;
    }

    Variant Get(int orderID, const std::string& field) const {
        return desk->orders.m_CDSOrderliste.Lookup("OrderID", Variant(static_cast<int32_t>(orderID)), field);
    }
    int Int(int orderID, const std::string& field) const { return Get(orderID, field).AsInteger(); }
    double Real(int orderID, const std::string& field) const { return Get(orderID, field).AsFloat(); }
    void Set(int orderID, const std::string& field, const Variant& v) {
        ClientDataSet& ds = desk->orders.m_CDSOrderliste;
        ASSERT_TRUE(ds.Locate("OrderID", Variant(static_cast<int32_t>(orderID))));
        ds.Edit();
        ds.FieldByName(field).SetValue(v);
        ds.Post();
    }
    // Whether any EA pair carries a trigger stamp.
    bool AnyPairStamped() const {
        for (int i = 0; i <= kMaxEAs; ++i)
            for (int j = 0; j <= kMaxEAs; ++j)
                if (desk->trigger.LastTrades()[i][j] != 0.0) return true;
        return false;
    }
};

} // namespace quorvel::test
