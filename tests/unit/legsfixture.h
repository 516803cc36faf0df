#pragma once
// A desk whose order list is filled leg by leg through the engine cursor, with quotes set
// straight into the price store: for the failures of a leg and the minute sweeps.
#include <optional>
#include <string>

#include "deskharness.h"

namespace quorvel::test {

struct LegsDesk : DeskHarness {
    void SetUp() override {
        Create(1); // EA IDs 1..10
        controls.checked[Ctl::chkbStandby] = false;
    }

    struct LegSpec {
        int32_t type = otBuy;
        int32_t status = stOpened;
        std::optional<int32_t> ea = 1;
        int32_t firstOrderID = 0; // 0: the first leg of its transaction
        std::optional<double> kurs = 1.2;
        double maxVerlust = 0.001;
        bool autoClose = false;
        bool openAfterCounter = false;
    };
    // Appends one leg (ticket 9000 + EA, account 5550000 + EA); returns its OrderID.
    int32_t AddLeg(const LegSpec& s) {
        ClientDataSet& d = List();
        d.Append();
        d.FieldByName("TableID").SetAsInteger(0);
        d.FieldByName("Lots").SetAsFloat(0.1);
        d.FieldByName("OrderType").SetAsInteger(s.type);
        d.FieldByName("Status").SetAsInteger(s.status);
        if (s.ea) {
            d.FieldByName("EAID").SetAsInteger(*s.ea);
            d.FieldByName("Account").SetAsInteger(5550000 + *s.ea);
            d.FieldByName("Ticket").SetAsInteger(9000 + *s.ea);
        }
        if (s.kurs) d.FieldByName("Kurs").SetAsCurrency(*s.kurs);
        d.FieldByName("MaxVerlust").SetAsCurrency(s.maxVerlust);
        d.FieldByName("AutoClose").SetAsBoolean(s.autoClose);
        d.FieldByName("OpenAfterCounterOrder").SetAsBoolean(s.openAfterCounter);
        if (s.firstOrderID > 0) d.FieldByName("FirstOrderID").SetAsInteger(s.firstOrderID);
        d.Post();
        return d.FieldByName("OrderID").AsInteger();
    }
    struct Tx {
        int32_t buy, sell;
    };
    // A buy leg and its sell counter order.
    Tx AddTransaction(const LegSpec& buy, LegSpec sell) {
        const int32_t b = AddLeg(buy);
        sell.firstOrderID = b;
        return {b, AddLeg(sell)};
    }

    // A time stamp `seconds` before the clock's now.
    TDateTime Ago(double seconds) const { return clock.Now() - seconds / 86400.0; }
};

} // namespace quorvel::test
