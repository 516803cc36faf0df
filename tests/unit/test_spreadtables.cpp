#include <gtest/gtest.h>

#include <limits>

#include "desk/core/crossspreads.h"
#include "desk/core/spreadtables.h"
#include "spreadfixture.h"

using namespace quorvel;
using namespace quorvel::test;

namespace {

struct SpreadTables : SpreadFixture {
    const FakeView::FakeGrid& Q(int t) const { return view.quote[t]; }
    const FakeView::FakeGrid& P(int t) const { return view.pair[t]; }
    std::vector<std::string> Row(const FakeView::FakeGrid& g, int row, int cols) const {
        std::vector<std::string> out;
        for (int c = 0; c < cols; ++c) out.push_back(g.Cell(c, row));
        return out;
    }
    using V = std::vector<std::string>;
};

TEST_F(SpreadTables, InitTableGridsWritesHeadersRowLabelsAndWidths) {
    Create();
    for (int t : {0, 1, 19}) {
        EXPECT_EQ(Q(t).rows, 21);
        EXPECT_EQ(Q(t).cols, 7);
        EXPECT_EQ(Row(Q(t), 0, 7), (V{"Bid/Ask", "Account No.", "Conn. Status", "Live Spread", "Time",
                                      "Min. Spread", "Time Stamp"}));
        EXPECT_EQ(Q(t).widths.at(0), 60);
        EXPECT_EQ(Q(t).widths.count(1), 0u);
        EXPECT_EQ(P(t).rows, 46); // as laid out
        EXPECT_EQ(Row(P(t), 0, 5),
                  (V{"Min. Cross Spread", "EA Bid", "EA Ask", "Min. Counter Spread", "TOTAL ARB"}));
    }
    EXPECT_EQ(Q(1).Cell(0, 1), "EA ID 11");
    EXPECT_EQ(Q(1).Cell(0, 2), "Bid/Ask");
    EXPECT_EQ(Q(19).Cell(0, 19), "EA ID 200");
    const int widths[] = {125, 60, 60, 125, 75};
    for (int c = 0; c < 5; ++c) EXPECT_EQ(P(0).widths.at(c), widths[c]);
}

TEST_F(SpreadTables, QuoteRowsOfOneEA) {
    Create(2);
    clock.Set(EncodeDateTime(2026, 12, 8, 19, 45, 14, 0));
    controls.activePage = 1;
    Send(EAMsg::NewDataAccount, 12, 4711);
    Quote(12, 123456, 123468);
    EXPECT_EQ(Row(Q(1), 3, 7),
              (V{"EA ID 12", "4711", "0 s", "0,00012", "19:45:14", "0,00012", "08.12. 19:45:14"}));
    EXPECT_EQ(Row(Q(1), 4, 7), (V{"Bid/Ask", "", "", "1,23456", "1,23468", "1,23456", "1,23468"}));

    // Later with a larger spread: the minimum's cells keep the first quote.
    clock.AdvanceSeconds(2.5);
    Quote(12, 123450, 123470);
    EXPECT_EQ(Row(Q(1), 3, 7),
              (V{"EA ID 12", "4711", "0 s", "0,00020", "19:45:16", "0,00012", "08.12. 19:45:14"}));
    clock.AdvanceSeconds(2.5);
    desk->UpdateTables(-1);
    EXPECT_EQ(Q(1).Cell(2, 3), "2 s");
}

TEST_F(SpreadTables, ConnectionStatusTexts) {
    struct Case {
        double ageSeconds;
        int timeout;
        const char* text;
    };
    for (const Case c :
         {Case{2.5, 4, "2 s"}, Case{3.999, 4, "3 s"}, Case{4.0, 4, "Timeout"}, Case{0, 4, "0 s"},
          Case{65.2, 100, "5 s"}, Case{4000, 4, "Timeout"}, Case{0.5, 0, "Timeout"}}) {
        FixedText t;
        const TDateTime now = 45000.25;
        ConnStatusText(t, now - c.ageSeconds * 1000.0 / 86400000.0, now, c.timeout / 86400.0);
        EXPECT_EQ(t.Str(), c.text) << c.ageSeconds;
    }
    FixedText t;
    ConnStatusText(t, kNoTime, 45000.25, 1.0);
    EXPECT_EQ(t.Str(), "");
}

TEST_F(SpreadTables, EmptyCellsForMissingValues) {
    Create(1);
    controls.activePage = 0;
    // No quote yet: everything empty but the row labels.
    desk->UpdateTables(-1);
    EXPECT_EQ(Row(Q(0), 1, 7), (V{"EA ID 1", "", "", "", "", "", ""}));
    // Crossed quote: live cells empty, the minimum (none either) empty, status shown.
    Quote(1, 100010, 100000);
    EXPECT_EQ(Row(Q(0), 1, 7), (V{"EA ID 1", "", "0 s", "", "", "", ""}));
    EXPECT_EQ(Row(Q(0), 2, 7), (V{"Bid/Ask", "", "", "", "", "", ""}));
    // Spread exactly 0 is a value.
    Quote(2, 100000, 100000);
    EXPECT_EQ(Q(0).Cell(3, 3), "0,00000");
    EXPECT_EQ(Q(0).Cell(5, 3), "0,00000");
    // Loaded from an old snapshot: "Timeout".
    desk->prices.Time[3] = clock.Now() - 1.0;
    desk->prices.Spread[3] = 5;
    desk->UpdateTables(-1);
    EXPECT_EQ(Q(0).Cell(2, 5), "Timeout");
}

TEST_F(SpreadTables, QuoteRedrawsOnlyItsTwoRowsAndOnlyOnScreen) {
    Create(2);
    controls.activePage = 0;
    view.ClearWrites();
    Quote(11, 100000, 100010); // other table
    EXPECT_EQ(Q(0).writes + Q(1).writes + P(0).writes + P(1).writes, 0);
    Quote(3, 100000, 100010);
    EXPECT_EQ(Q(0).writes, 10);
    EXPECT_EQ(P(0).writes, 0);
    for (const auto& [key, text] : Q(0).cells)
        if (!text.empty() && key.first > 0 && key.second > 0) {
            EXPECT_TRUE(key.second == 5 || key.second == 6) << key.second;
        }
    controls.activePage = 21; // ADMIN PANEL
    view.ClearWrites();
    desk->UpdateTables(-1);
    Quote(3, 100000, 100010);
    EXPECT_EQ(Q(0).writes + P(0).writes, 0);
}

TEST_F(SpreadTables, PairRowsOnAFullPass) {
    Create(2);
    controls.activePage = 1;
    Quote(11, 100000, 100010);
    Quote(13, 100020, 100025);
    Tick(12, false);
    Quote(12, 100000, 100004);
    desk->UpdateTables(-1);
    // 45 rows, (11, 12), (11, 13), .., (19, 20).
    EXPECT_EQ(Row(P(1), 1, 5), (V{"---", "EA 11", "EA 12", "---", "---"})); // EA 12 unticked: no pair
    EXPECT_EQ(Row(P(1), 2, 5), (V{"0,00025", "EA 11", "EA 13", "-0,00010", "0,00015"}));
    EXPECT_EQ(Row(P(1), 45, 5), (V{"---", "EA 19", "EA 20", "---", "---"}));
    EXPECT_EQ(Row(P(1), 10, 5), (V{"---", "EA 12", "EA 13", "---", "---"}));
    // Only one direction set: still "---".
    desk->spreads.acMinSpread[12][13] = 7;
    desk->UpdateTables(-1);
    EXPECT_EQ(Row(P(1), 10, 5), (V{"---", "EA 12", "EA 13", "---", "---"}));
    desk->spreads.acMinSpread[13][12] = -3;
    desk->UpdateTables(-1);
    EXPECT_EQ(Row(P(1), 10, 5), (V{"0,00007", "EA 12", "EA 13", "-0,00003", "0,00004"}));
    // "Reset ARB Table" brings the dashes back.
    desk->ResetMinSpreadCurrent();
    EXPECT_EQ(Row(P(1), 2, 5), (V{"---", "EA 11", "EA 13", "---", "---"}));
}

TEST_F(SpreadTables, VisiblePageMustBeATableInUseWithAFrame) {
    Create(2);
    for (int page : {2, 20, -1}) {
        controls.activePage = page;
        view.ClearWrites();
        desk->UpdateTables(-1);
        int writes = view.watch.writes;
        for (int t = 0; t < 20; ++t) writes += Q(t).writes + P(t).writes;
        EXPECT_EQ(writes, 0) << page;
    }
    controls.activePage = 1;
    controls.frames[1].exists = false;
    view.ClearWrites();
    desk->UpdateTables(-1);
    EXPECT_EQ(Q(1).writes, 0);
}

// ---- Watch grid ----------------------------------------------------------------------------

TEST_F(SpreadTables, WatchGridIsCutToTheTablesAndFilledOnScreen) {
    Create(3);
    EXPECT_EQ(view.watch.rows, 4); // cut at creation
    Quote(1, 100000, 100010);
    Quote(2, 100020, 100030);
    EXPECT_EQ(view.watch.writes, 0); // not on screen
    controls.activePage = 3;
    controls.watchActive = true;
    desk->PageControl1Change();
    EXPECT_EQ(Row(view.watch, 0, 6), (V{"", "Min. Live Cross Spread", "Min. Cross Spread", "Counter Spread",
                                        "Min. Counter Spread", "TOTAL ARB"}));
    EXPECT_EQ(Row(view.watch, 1, 6), (V{"Tab  0", "-0,00010", "-0,00010", "0,00030", "0,00030", "0,00020"}));
    EXPECT_EQ(Row(view.watch, 2, 6), (V{"Tab  1", "---", "---", "---", "---", "---"}));
    EXPECT_EQ(Row(view.watch, 3, 6), (V{"Tab  2", "---", "---", "---", "---", "---"}));
    EXPECT_EQ(view.watch.Cell(0, 4), "");
    // Never enlarged.
    desk->settings.m_iAnzahlTabellen = 5;
    desk->UpdateWatchGrid();
    EXPECT_EQ(view.watch.rows, 4);
}

TEST_F(SpreadTables, WatchRowLabelsAreRightAligned) {
    Create(12);
    controls.watchActive = true;
    desk->PageControl1Change();
    EXPECT_EQ(view.watch.rows, 13);
    EXPECT_EQ(view.watch.Cell(0, 1), "Tab  0");
    EXPECT_EQ(view.watch.Cell(0, 11), "Tab 10");
    EXPECT_EQ(view.watch.Cell(0, 12), "Tab 11");
}

TEST_F(SpreadTables, WatchGridFollowsQuotesLikeAFullPass) {
    Create(3);
    controls.watchActive = true;
    desk->PageControl1Change();
    Quote(1, 100000, 100010);
    EXPECT_EQ(view.watch.Cell(1, 1), "0,00010");
    // Table 0 loses its cross spread: no Watch refresh, its row keeps the last values.
    Tick(1, false);
    Quote(1, 100000, 100012);
    EXPECT_FALSE(desk->spreads.CSActiv[0]);
    EXPECT_EQ(view.watch.Cell(1, 1), "0,00010");
    // The next quote that leaves a table with a live cross spread redraws it.
    view.ClearWrites();
    Quote(21, 100000, 100003);
    EXPECT_EQ(Row(view.watch, 1, 6), (V{"Tab  0", "---", "---", "---", "---", "---"}));
    EXPECT_EQ(Row(view.watch, 3, 6), (V{"Tab  2", "0,00003", "0,00003", "0,00003", "0,00003", "0,00006"}));
    EXPECT_EQ(view.watch.writes, 12); // the two changed rows, not the whole grid
    // "Reset Table": every table "---".
    desk->spreads.ResetCrossSpreads();
    for (int r = 1; r <= 3; ++r) EXPECT_EQ(view.watch.Cell(1, r), "---") << r;
    // Off screen nothing is drawn; the page change brings it up to date.
    controls.watchActive = false;
    Quote(21, 100000, 100004);
    EXPECT_EQ(view.watch.Cell(1, 3), "---");
    controls.watchActive = true;
    desk->PageControl1Change();
    EXPECT_EQ(view.watch.Cell(1, 3), "0,00004");
}

// ---- values no quote makes ----------------------------------------------------------------

// A snapshot may hold any 64-bit price and any time stamp. The spreads built from them stay at
// the ends of the 64-bit range instead of wrapping, and every text shows a defined value.
TEST_F(SpreadTables, SnapshotExtremesGiveDefinedSpreadsAndTexts) {
    struct EA {
        int64_t bid, ask;
    };
    struct Case {
        const char* name;
        EA ea1, ea2;
        int64_t cs, gs, sum;   // cross spread, counter spread, their sum
        int64_t csMin, gsMin;  // the best pair's two directions
        const char* pairTotal; // "TOTAL ARB" of the pair (1, 2); nullptr: the sum of both
    };
    constexpr int64_t kMax = INT64_MAX, kMin = INT64_MIN;
    const Case cases[] = {
        {"bids at the top of the range",
         {kMax, 1},
         {kMax, 1},
         kMin + 2,
         kMin + 2,
         kMin,
         kMin + 2,
         kMin + 2,
         nullptr},
        {"ask at the bottom of the range", {kMax, kMin}, {5, 10}, kMin + 11, kMin, kMin, 5, 5, "---"},
        {"asks at the top of the range",
         {1, kMax},
         {2, kMax},
         kMax - 2,
         kMax - 1,
         kMax,
         kNoTableMin,
         kNoTableMin,
         "---"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Create(1);
        controls.activePage = 0;
        controls.watchActive = true;
        desk->PageControl1Change();
        for (int id : {1, 2}) {
            const EA& e = id == 1 ? c.ea1 : c.ea2;
            desk->prices.Bid[id] = e.bid;
            desk->prices.Ask[id] = e.ask;
            desk->prices.Spread[id] = 0;
            desk->prices.Time[id] = clock.Now();
        }
        desk->ComputeCrossSpreads(1);
        desk->UpdateTables(-1);
        EXPECT_EQ(desk->spreads.CrossSpread[0], c.cs);
        EXPECT_EQ(desk->spreads.CSGegenwert[0], c.gs);
        EXPECT_EQ(desk->spreads.CSMin[0], c.csMin);
        EXPECT_EQ(desk->spreads.CSGegenwertMin[0], c.gsMin);
        const auto points = [](int64_t v) { return FixedText().AddPoints(v).Str(); };
        EXPECT_EQ(Label(0, IDeskView::FrameLabel::Summe).substr(0, points(c.sum).size()), points(c.sum));
        EXPECT_EQ(view.watch.Cell(5, 1), points(PointsSum(c.csMin, c.gsMin)));
        const int64_t x = desk->spreads.acMinSpread[1][2], y = desk->spreads.acMinSpread[2][1];
        EXPECT_EQ(P(0).Cell(4, 1), c.pairTotal ? std::string(c.pairTotal) : points(PointsSum(x, y)));
        if (!c.pairTotal) {
            EXPECT_EQ(P(0).Cell(4, 1), points(kMin));
        }
    }
}

TEST(PointsArithmetic, StaysAtTheEndsOfTheRange) {
    struct Case {
        int64_t a, b, sum, difference;
    };
    constexpr int64_t kMax = INT64_MAX, kMin = INT64_MIN;
    for (const Case c :
         {Case{1, 2, 3, -1}, Case{kMax, 1, kMax, kMax - 1}, Case{kMin, -1, kMin, kMin + 1},
          Case{kMax, kMax, kMax, 0}, Case{kMin, kMin, kMin, 0}, Case{kMin, 1, kMin + 1, kMin},
          Case{kMax, -1, kMax - 1, kMax}, Case{0, kMin, kMin, kMax}, Case{-1, kMin, kMin, kMax}}) {
        EXPECT_EQ(PointsSum(c.a, c.b), c.sum) << c.a << " + " << c.b;
        EXPECT_EQ(PointsDifference(c.a, c.b), c.difference) << c.a << " - " << c.b;
    }
}

// Time stamps a quote cannot have: far in the future, far in the past, not a number.
TEST_F(SpreadTables, SnapshotTimesOfAnyValueShowDefinedTexts) {
    Create(1);
    controls.activePage = 0;
    const double nan = std::numeric_limits<double>::quiet_NaN();
    struct Case {
        int id;
        double time, timeMin;
        const char* status;
        const char* timeText;
        const char* minText;
    };
    const Case cases[] = {
        {1, 1e300, -1e300, "55 s", "23:59:59", "01.01. 00:00:00"}, // age: the lowest 64-bit count
        {2, nan, nan, "0 s", "00:00:00", "30.12. 00:00:00"},
        {3, -1e300, 1e300, "", "00:00:00", "31.12. 23:59:59"}, // before any quote: no status
    };
    for (const Case& c : cases) {
        desk->prices.Time[c.id] = c.time;
        desk->prices.TimeMin[c.id] = c.timeMin;
        desk->prices.Spread[c.id] = 5;
        desk->prices.Min[c.id] = 5;
    }
    desk->UpdateTables(-1);
    for (const Case& c : cases) {
        const int row = 2 * c.id - 1;
        EXPECT_EQ(Q(0).Cell(2, row), c.status) << c.id;
        EXPECT_EQ(Q(0).Cell(4, row), c.timeText) << c.id;
        EXPECT_EQ(Q(0).Cell(6, row), c.minText) << c.id;
    }
}

TEST(Banding, RowsOfEverySecondPair) {
    std::vector<int> banded;
    for (int r = 0; r <= 21; ++r)
        if (IsBandedRow(r)) banded.push_back(r);
    EXPECT_EQ(banded, (std::vector<int>{3, 4, 7, 8, 11, 12, 15, 16, 19, 20}));
}

// ---- Watch tab steps ---------------------------------------------------------------------

TEST_F(SpreadTables, WatchTabSteps) {
    Create();
    struct Case {
        const char* name;
        Ctl box;
        const char* before;
        std::function<void(Desk&)> step;
        const char* after;
    };
    const std::vector<Case> cases = {
        {"UpDown5 up", Ctl::reAlert, "-0,00018", [](Desk& d) { d.UpDown5Click(true); }, "-0,00013"},
        {"UpDown5 down", Ctl::reAlert, "0,00000", [](Desk& d) { d.UpDown5Click(false); }, "-0,00005"},
        {"Alert Level Up key", Ctl::reAlert, "0,00010", [](Desk& d) { d.RealEditKeyUp(Ctl::reAlert, kVkUp); },
         "0,00015"},
        {"Alert Level Down key", Ctl::reAlert, "", [](Desk& d) { d.RealEditKeyUp(Ctl::reAlert, kVkDown); },
         "-0,00005"},
        {"Alert Level other key", Ctl::reAlert, "0,0001", [](Desk& d) { d.RealEditKeyUp(Ctl::reAlert, 65); },
         "0,0001"},
        {"UpDown6 up", Ctl::reAlertIntervall, "1,0", [](Desk& d) { d.UpDown6Click(true); }, "1,1"},
        {"UpDown6 down at 0,1", Ctl::reAlertIntervall, "0,1", [](Desk& d) { d.UpDown6Click(false); }, "0,1"},
        {"UpDown6 down", Ctl::reAlertIntervall, "0,5", [](Desk& d) { d.UpDown6Click(false); }, "0,4"},
        {"Interval Down key at 0,1", Ctl::reAlertIntervall, "0,1",
         [](Desk& d) { d.m_reAlertIntervallKeyUp(kVkDown); }, "0,1"},
        {"Interval Up key", Ctl::reAlertIntervall, "2,25", [](Desk& d) { d.m_reAlertIntervallKeyUp(kVkUp); },
         "2,4"},
        {"Interval emptied by Backspace", Ctl::reAlertIntervall, "",
         [](Desk& d) { d.m_reAlertIntervallKeyUp(8); }, "0,1"},
        {"Interval typed 0", Ctl::reAlertIntervall, "0", [](Desk& d) { d.m_reAlertIntervallKeyUp('0'); },
         "0,1"},
        {"Interval typing keeps text", Ctl::reAlertIntervall, "1,25",
         [](Desk& d) { d.m_reAlertIntervallKeyUp('5'); }, "1,25"},
    };
    for (const Case& c : cases) {
        controls.text[c.box] = c.before;
        c.step(*desk);
        EXPECT_EQ(controls.text[c.box], c.after) << c.name;
    }
}

} // namespace
