// Auto trade on a real desk: a quote below the alert level places one transaction from the
// table frame's order box into the order list, and spends one credit.
#include "tests/support/testpaths.h"
#include <gtest/gtest.h>

#include "desk/core/orderlist.h"
#include "spreadfixture.h"

using namespace quorvel;
using namespace quorvel::test;

namespace {

struct RealAutoTrade : DeskHarness {
    void SetUp() override {
        Create(1, 4);
        for (int k = 0; k < 10; ++k) controls.SetBrokerChecked(0, k, true);
        controls.text[Ctl::reAlert] = "0,00010";
        controls.text[Ctl::reAlertIntervall] = "1,0";
        controls.text[Ctl::seTradeIntervall] = "10";
        controls.text[Ctl::seMaxAutoTrades] = "1";
        controls.checked[Ctl::cbAlertAktiv] = false;
        controls.checked[Ctl::cbAutoTrade] = true;
    }
};

TEST_F(RealAutoTrade, PlacesOneTransactionPerCredit) {
    Quote(1, 100000, 100008);
    Quote(2, 100006, 100014); // cross spread 100008 - 100006 = 0,00002 < 0,00010
    EXPECT_TRUE(view.stopBoxes.empty());
    ASSERT_EQ(desk->orders.m_CDSOrderlisteAnzeige.RecordCount(), 2);
    EXPECT_EQ(controls.SpinValue(Ctl::seMaxAutoTrades), 0);
    desk->orders.m_CDSOrderlisteAnzeige.First();
    EXPECT_EQ(desk->orders.m_CDSOrderlisteAnzeige.FieldByName("TableID").AsInteger(), 0);
    EXPECT_EQ(desk->orders.m_CDSOrderlisteAnzeige.FieldByName("Status").AsInteger(), stToOpen);

    // No credit left: further quotes place nothing.
    clock.AdvanceSeconds(20);
    Quote(1, 100000, 100008);
    EXPECT_EQ(desk->orders.m_CDSOrderlisteAnzeige.RecordCount(), 2);
}

} // namespace
