#pragma once
// A desk whose order list is filled leg by leg through the engine cursor, with quotes set
// straight into the price store: for the failures of a leg and the minute sweeps.
#include <string>

#include "deskharness.h"

namespace quorvel::test {

struct LegsDesk : DeskHarness {
    void SetUp() override {
        Create(1); // EA IDs 1..10
        controls.checked[Ctl::chkbStandby] = false;
    }

    // An opened leg (ticket 9000 + EA, account 5550000 + EA) with a max loss of 0.001, neither
    // closed automatically nor waiting for its counter order.
    struct LegSpec : Leg {
        LegSpec() {
            maxVerlust = 0.001;
            autoClose = false;
            openAfterCounter = false;
        }
    };
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
