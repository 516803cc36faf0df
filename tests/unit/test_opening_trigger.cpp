// The opening trigger: which quotes start a waiting transaction, which EAs get its legs, the
// pause of an EA pair, the trend-ordered modes and the records it passes over.
#include <gtest/gtest.h>

#include <fstream>
#include <random>

#include "openingfixture.h"

using namespace quorvel;
using namespace quorvel::test;

namespace {

using Trigger = OpeningDesk;

struct Q {
    int id;
    int64_t bid, ask;
    double ageMs;
};

TEST_F(Trigger, CandidatesAndTargetDecideWhetherAndOnWhichPairItStarts) {
    struct Case {
        const char* what;
        std::vector<Q> quotes;
        double spread;
        std::vector<int> brokers;
        int buyEA, sellEA; // -1: no trigger
    };
    const std::vector<int> all{1, 2, 3, 4};
    const Case cases[] = {
        {"cross spread equal to the target",
         {{1, 100000, 100010, 0}, {2, 100020, 100030, 0}},
         -0.00010,
         all,
         1,
         2},
        {"one point above the target",
         {{1, 100000, 100010, 0}, {2, 100020, 100030, 0}},
         -0.00011,
         all,
         -1,
         -1},
        {"target -0.00019 at -19 points",
         {{1, 100000, 100010, 0}, {2, 100029, 100039, 0}},
         -0.00019,
         all,
         1,
         2},
        {"target -0.00019 at -18 points",
         {{1, 100000, 100010, 0}, {2, 100028, 100038, 0}},
         -0.00019,
         all,
         -1,
         -1},
        {"positive target", {{1, 100000, 100010, 0}, {2, 100005, 100030, 0}}, 0.00005, all, 1, 2},
        {"age equal to the timeout is fresh",
         {{1, 100000, 100010, 0}, {2, 100020, 100030, 4000}},
         -0.0001,
         all,
         1,
         2},
        {"age above the timeout is not",
         {{1, 100000, 100010, 0}, {2, 100020, 100030, 4001}},
         -0.0001,
         all,
         -1,
         -1},
        {"never quoted", {{1, 100000, 100010, 0}, {2, 100020, 100030, -1}}, -0.0001, all, -1, -1},
        {"zero bid", {{1, 100000, 100010, 0}, {2, 0, 100030, 0}}, -0.0001, all, -1, -1},
        {"negative ask", {{1, -100000, 100010, 0}, {2, 100020, 100030, 0}}, -0.0001, all, -1, -1},
        {"a broker not ticked", {{1, 100000, 100010, 0}, {2, 100020, 100030, 0}}, -0.0001, {1, 3, 4}, -1, -1},
        {"equal asks and bids: the lower EA IDs keep the roles",
         {{1, 100000, 100010, 0}, {2, 100020, 100030, 0}, {3, 100000, 100010, 0}, {4, 100020, 100030, 0}},
         -0.0001,
         all,
         1,
         2},
        {"the best prices of a higher EA win",
         {{1, 100000, 100010, 0}, {2, 100020, 100030, 0}, {3, 100000, 100009, 0}, {4, 100021, 100030, 0}},
         -0.0001,
         all,
         3,
         4},
        {"one EA with the lowest ask and the highest bid blocks",
         {{1, 100020, 100005, 0}, {2, 100015, 100030, 0}},
         -0.0001,
         all,
         -1,
         -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        desk->orders.m_CDSOrderliste.Close();
        desk->orders.OpenOrderList();
        desk->trigger.LastTrades().Fill(0.0);
        for (int id = 1; id <= 20; ++id) SetQuote(id, 0, 0, -1);
        for (const Q& q : c.quotes) SetQuote(q.id, q.bid, q.ask, q.ageMs);
        Order o;
        o.spread = c.spread;
        o.brokers = c.brokers;
        const int buy = Place(o), sell = buy + 1;
        desk->CheckOrders();
        if (c.buyEA < 0) {
            EXPECT_EQ(Int(buy, "Status"), stToOpen);
            EXPECT_EQ(Int(sell, "Status"), stToOpen);
            EXPECT_FALSE(AnyPairStamped());
            continue;
        }
        EXPECT_EQ(Int(buy, "Status"), stPending);
        EXPECT_EQ(Int(sell, "Status"), stPending);
        EXPECT_EQ(Int(buy, "EAID"), c.buyEA);
        EXPECT_EQ(Int(sell, "EAID"), c.sellEA);
        EXPECT_EQ(desk->trigger.LastTrades()[c.sellEA][c.buyEA], clock.Now());
    }
}

TEST_F(Trigger, PendingLegsCarryTheirEAAccountTimeAndTriggerPrice) {
    SetQuote(3, 123400, 123456, 0, 7001);
    SetQuote(4, 123470, 123480, 0, 7002);
    const int buy = Place(), sell = buy + 1;
    desk->CheckOrders();
    EXPECT_EQ(Int(buy, "EAID"), 3);
    EXPECT_EQ(Int(buy, "Account"), 7001);
    EXPECT_DOUBLE_EQ(Real(buy, "TrigOpenKurs"), 1.23456);
    EXPECT_EQ(Int(sell, "EAID"), 4);
    EXPECT_EQ(Int(sell, "Account"), 7002);
    EXPECT_DOUBLE_EQ(Real(sell, "TrigOpenKurs"), 1.23470);
    for (int id : {buy, sell}) {
        EXPECT_EQ(Int(id, "Status"), stPending);
        EXPECT_EQ(Real(id, "PendingTime"), clock.Now());
        EXPECT_FALSE(Get(id, "OpenAfterCounterOrder").AsBoolean());
        EXPECT_FALSE(Get(id, "OpenAfterCounterOrder").IsNull());
        EXPECT_TRUE(Get(id, "OpenDelayUntil").IsNull());
    }
    EXPECT_TRUE(view.notifications.empty());
}

TEST_F(Trigger, ACompleteQuoteRunsTheTestAndAQuoteWithoutPricesDoesNot) {
    const int buy = Place();
    Quote(1, 100000, 100010);
    EXPECT_EQ(Int(buy, "Status"), stToOpen); // EA 1 alone holds both roles
    // EA 2's stored bid is no price: its complete quote stamps the time and goes no further.
    SetQuote(2, 100020, 0, -1);
    Send(EAMsg::NewDataBid, 2, 100020);
    EXPECT_EQ(Send(EAMsg::DataComplete, 2), 5);
    EXPECT_EQ(Int(buy, "Status"), stToOpen);
    Quote(2, 100020, 100030);
    EXPECT_EQ(Int(buy, "Status"), stPending);
    EXPECT_EQ(Int(buy + 1, "EAID"), 2);
}

TEST_F(Trigger, APairWaitsOutItsPauseFromItsStamp) {
    struct Case {
        const char* what;
        double stampOffsetMs; // stamp relative to now
        int pauseMs;
        bool starts;
    };
    const Case cases[] = {
        {"never triggered", 0, 500, true}, // offset ignored: no stamp
        {"499 ms ago", -499, 500, false},
        {"500 ms ago", -500, 500, true},
        {"a stamp in the future", 1000, 500, false},
        {"no pause", 0, 0, true},
        {"negative pause, stamp in the future", 1000, -1, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        desk->orders.m_CDSOrderliste.Close();
        desk->orders.OpenOrderList();
        desk->trigger.LastTrades().Fill(0.0);
        if (std::string(c.what) != "never triggered")
            desk->trigger.LastTrades()[2][1] = clock.Now() + c.stampOffsetMs / 86400000.0;
        desk->settings.combinationPauseMS = c.pauseMs;
        SetQuote(1, 100000, 100010);
        SetQuote(2, 100020, 100030);
        const int buy = Place();
        const TDateTime before = desk->trigger.LastTrades()[2][1];
        desk->CheckOrders();
        EXPECT_EQ(Int(buy, "Status"), c.starts ? stPending : stToOpen);
        EXPECT_EQ(desk->trigger.LastTrades()[2][1], c.starts ? clock.Now() : before);
    }
}

TEST_F(Trigger, APauseLastsItsMillisecondsWhateverTheLocalTimeDoes) {
    struct Case {
        const char* what;
        double stepSeconds; // the local time set forward or back after the first trigger
        double afterMs;     // then the time that passes
        bool secondStarts;
    };
    const Case cases[] = {
        {"an hour back, the pause over", -3600, 500, true},
        {"an hour back, within the pause", -3600, 499, false},
        {"an hour ahead, within the pause", 3600, 0, false},
        {"an hour ahead, the pause over", 3600, 500, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        desk->orders.m_CDSOrderliste.Close();
        desk->orders.OpenOrderList();
        desk->trigger.LastTrades().Fill(0.0);
        SetQuote(1, 100000, 100010);
        SetQuote(2, 100020, 100030);
        const int first = Place();
        desk->CheckOrders();
        ASSERT_EQ(Int(first, "Status"), stPending);
        const int second = Place();
        clock.StepSeconds(c.stepSeconds);
        clock.AdvanceSeconds(c.afterMs / 1000.0);
        SetQuote(1, 100000, 100010);
        SetQuote(2, 100020, 100030);
        desk->CheckOrders();
        EXPECT_EQ(Int(second, "Status"), c.secondStarts ? stPending : stToOpen);
        // What is stored keeps the local time.
        if (c.secondStarts) {
            EXPECT_EQ(Real(second, "PendingTime"), clock.Now());
        }
    }
}

// A quote is fresh for the timeout (4 s) from when it came in: a step of the local time
// neither ages nor refreshes it. The test of a table that found its quotes stale runs again
// when they are fresh.
TEST_F(Trigger, AQuoteIsFreshForItsTimeoutSinceItCameInWhateverTheLocalTimeDoes) {
    struct Case {
        const char* what;
        double stepSeconds; // the local time set forward or back after the quotes
        double afterSeconds;
        bool starts;
    };
    const Case cases[] = {
        {"an hour ahead", 3600, 0, true},
        {"an hour ahead, within the timeout", 3600, 3.9, true},
        {"an hour ahead, past the timeout", 3600, 4.1, false},
        {"an hour back, within the timeout", -3600, 3.9, true},
        {"an hour back, past the timeout", -3600, 4.1, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        desk->orders.m_CDSOrderliste.Close();
        desk->orders.OpenOrderList();
        desk->trigger.LastTrades().Fill(0.0);
        clock.AdvanceSeconds(60); // the quotes of the case before are stale
        const int first = Place();
        desk->CheckOrders(); // tested against stale quotes
        ASSERT_EQ(Int(first, "Status"), stToOpen);
        Quote(1, 100000, 100010);
        clock.StepSeconds(c.stepSeconds);
        clock.AdvanceSeconds(c.afterSeconds);
        Quote(2, 100020, 100030);
        EXPECT_EQ(Int(first, "Status"), c.starts ? stPending : stToOpen);
        const int second = Place();
        desk->CheckOrders();
        EXPECT_EQ(Int(second, "Status"), stToOpen); // the pair's pause, or EA 1 stale
        clock.AdvanceSeconds(0.5);
        desk->CheckOrders();
        EXPECT_EQ(Int(second, "Status"), c.starts && c.afterSeconds + 0.5 <= 4.0 ? stPending : stToOpen);
    }
}

TEST_F(Trigger, OnOneQuoteOnlyTheNewestTransactionOfAPairStarts) {
    SetQuote(1, 100000, 100010);
    SetQuote(2, 100020, 100030);
    SetQuote(3, 100000, 100010);
    SetQuote(4, 100020, 100030);
    Order pair12;
    pair12.brokers = {1, 2};
    Order pair34;
    pair34.brokers = {3, 4};
    const int older = Place(pair12), newer = Place(pair12), other = Place(pair34);
    desk->CheckOrders();
    EXPECT_EQ(Int(newer, "Status"), stPending);
    EXPECT_EQ(Int(newer + 1, "Status"), stPending);
    EXPECT_EQ(Int(older, "Status"), stToOpen);
    EXPECT_EQ(Int(older + 1, "Status"), stToOpen);
    EXPECT_EQ(Int(other, "EAID"), 3);
    EXPECT_EQ(Int(other + 1, "EAID"), 4);
    // Once the pause has passed, the older one starts as well.
    clock.AdvanceSeconds(0.5);
    desk->CheckOrders();
    EXPECT_EQ(Int(older, "Status"), stPending);
}

TEST_F(Trigger, TheTrendDecidesWhichLegGoesFirst) {
    // Buy EA 1 quoted 200 ms before sell EA 2; the sell EA's mid is 0.00030 higher (rising) or
    // 0.00030 lower (falling); the tolerance is 0.000012.
    struct Case {
        bool seq, del;
        int trend;
        bool buyWaits, sellWaits; // OpenAfterCounterOrder
        bool buyDelayed, sellDelayed;
        const char* note;
    };
    const Case cases[] = {
        {true, false, 1, false, true, false, false, "POSITIVE TREND: BUY -> SELL (SeqMode)"},
        {true, false, -1, true, false, false, false, "NEGATIVE TREND: SELL -> BUY (SeqMode)"},
        {false, true, 1, false, false, false, true, "POSITIVE TREND: BUY -> SELL (DelayMode, 250ms)"},
        {false, true, -1, false, false, true, false, "NEGATIVE TREND: SELL -> BUY (DelayMode, 250ms)"},
        {true, true, 1, false, true, false, false, "POSITIVE TREND: BUY -> SELL (SeqMode)"},
        {false, false, 1, false, false, false, false, nullptr},
    };
    controls.text[Ctl::seDelayPos2] = "250";
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.seq << c.del << c.trend);
        desk->orders.m_CDSOrderliste.Close();
        desk->orders.OpenOrderList();
        desk->trigger.LastTrades().Fill(0.0);
        view.notifications.clear();
        controls.checked[Ctl::chkbSeqMode] = c.seq;
        controls.checked[Ctl::chkbDelayMode] = c.del;
        // The cross spread is -10 points either way.
        if (c.trend == 1) {
            SetQuote(1, 120000, 120010, 200);
            SetQuote(2, 120020, 120040, 0);
        } else {
            SetQuote(2, 120020, 120070, 200); // older and higher: falling towards EA 1
            SetQuote(1, 119990, 120010, 0);
        }
        const int buy = Place(), sell = buy + 1;
        desk->CheckOrders();
        EXPECT_EQ(Int(buy, "Status"), stPending);
        EXPECT_EQ(Int(sell, "Status"), stPending);
        EXPECT_EQ(Get(buy, "OpenAfterCounterOrder").AsBoolean(), c.buyWaits);
        EXPECT_EQ(Get(sell, "OpenAfterCounterOrder").AsBoolean(), c.sellWaits);
        const TDateTime delay = clock.Now() + 250.0 / 86400000.0;
        EXPECT_EQ(Get(buy, "OpenDelayUntil").IsNull(), !c.buyDelayed);
        EXPECT_EQ(Get(sell, "OpenDelayUntil").IsNull(), !c.sellDelayed);
        EXPECT_DOUBLE_EQ(Real(buy, "OpenDelayUntil"), c.buyDelayed ? delay : 0.0);
        EXPECT_DOUBLE_EQ(Real(sell, "OpenDelayUntil"), c.sellDelayed ? delay : 0.0);
        const std::vector<std::string> notes =
            c.note ? std::vector<std::string>{c.note} : std::vector<std::string>{};
        EXPECT_EQ(view.notifications, notes);
    }
}

TEST_F(Trigger, TheTrendOfTwoQuotesIgnoresAStepOfTheLocalTimeBetweenThem) {
    controls.checked[Ctl::chkbDelayMode] = true;
    controls.text[Ctl::seDelayPos2] = "250";
    for (double step : {-3600.0, 3600.0}) {
        SCOPED_TRACE(step);
        desk->orders.m_CDSOrderliste.Close();
        desk->orders.OpenOrderList();
        desk->trigger.LastTrades().Fill(0.0);
        view.notifications.clear();
        clock.AdvanceSeconds(60); // the quotes of the case before are stale
        const int buy = Place(), sell = buy + 1;
        // Buy EA 1 quotes 200 ms before sell EA 2, whose mid is 0.00025 higher: rising.
        Quote(1, 120000, 120010);
        clock.StepSeconds(step);
        clock.AdvanceSeconds(0.2);
        Quote(2, 120020, 120040);
        EXPECT_EQ(Int(buy, "Status"), stPending);
        EXPECT_EQ(Int(sell, "Status"), stPending);
        EXPECT_TRUE(Get(buy, "OpenDelayUntil").IsNull());
        EXPECT_FALSE(Get(sell, "OpenDelayUntil").IsNull());
        EXPECT_EQ(view.notifications,
                  std::vector<std::string>{"POSITIVE TREND: BUY -> SELL (DelayMode, 250ms)"});
    }
}

TEST_F(Trigger, ANeutralTrendStartsNothingButStampsThePair) {
    for (Ctl mode : {Ctl::chkbSeqMode, Ctl::chkbDelayMode}) {
        desk->orders.m_CDSOrderliste.Close();
        desk->orders.OpenOrderList();
        desk->trigger.LastTrades().Fill(0.0);
        controls.checked[Ctl::chkbSeqMode] = mode == Ctl::chkbSeqMode;
        controls.checked[Ctl::chkbDelayMode] = mode == Ctl::chkbDelayMode;
        SetQuote(1, 120000, 120010, 100);
        SetQuote(2, 120020, 120030, 0); // mids 0.00020 apart, within a tolerance of 1 % of the price
        controls.text[Ctl::rePRIDynamic] = "1,0000";
        const int buy = Place();
        desk->CheckOrders();
        EXPECT_EQ(Int(buy, "Status"), stToOpen);
        EXPECT_EQ(Int(buy + 1, "Status"), stToOpen);
        EXPECT_TRUE(Get(buy, "EAID").IsNull());
        EXPECT_TRUE(view.notifications.empty());
        EXPECT_EQ(desk->trigger.LastTrades()[2][1], clock.Now());
    }
}

TEST_F(Trigger, AOneSidedTransactionStartsWithoutTrendAndItsEmptyLegTakesTheOtherEA) {
    controls.checked[Ctl::chkbSeqMode] = true;
    SetQuote(1, 120000, 120010, 200);
    SetQuote(2, 120020, 120040, 0); // rising: a two-sided transaction's sell leg would wait
    struct Case {
        int buySell;
        int realEA, emptyEA;
    };
    for (const Case c : {Case{1, 1, 2}, Case{2, 2, 1}}) {
        desk->orders.m_CDSOrderliste.Close();
        desk->orders.OpenOrderList();
        desk->trigger.LastTrades().Fill(0.0);
        Order o;
        o.buySell = c.buySell;
        const int first = Place(o);
        const int real = c.buySell == 1 ? first : first + 1, empty = c.buySell == 1 ? first + 1 : first;
        desk->CheckOrders();
        EXPECT_EQ(Int(real, "Status"), stPending);
        EXPECT_EQ(Int(real, "EAID"), c.realEA);
        EXPECT_FALSE(Get(real, "OpenAfterCounterOrder").AsBoolean());
        EXPECT_EQ(Int(empty, "Status"), stNoLeg);
        EXPECT_EQ(Int(empty, "EAID"), c.emptyEA);
        EXPECT_EQ(Int(empty, "Account"), 5000 + c.emptyEA);
        EXPECT_EQ(Real(empty, "PendingTime"), clock.Now());
        EXPECT_FALSE(Get(empty, "OpenAfterCounterOrder").AsBoolean());
        EXPECT_TRUE(Get(empty, "TrigOpenKurs").IsNull());
        EXPECT_TRUE(view.notifications.empty());
    }
}

TEST_F(Trigger, StandbyAndRecordsOutsideTheTablesStartNothingAndStampNoPair) {
    struct Case {
        bool standby;
        int table;
    };
    for (const Case c : {Case{true, 0}, Case{false, 20}, Case{false, -1}, Case{false, 1000000}}) {
        SCOPED_TRACE(c.table);
        desk->orders.m_CDSOrderliste.Close();
        desk->orders.OpenOrderList();
        controls.checked[Ctl::chkbStandby] = c.standby;
        for (int id = 1; id <= kMaxEAs; ++id) SetQuote(id, 100000 + (id % 2) * 20, 100010 + (id % 2) * 20);
        // The brokers ticked are the EA IDs the table would name.
        const int buy = Place();
        for (int leg : {buy, buy + 1}) {
            Set(leg, "TableID", Variant(static_cast<int32_t>(c.table)));
            for (int k = 1; k <= 10; ++k)
                Set(leg, "ID" + std::to_string(k), Variant(static_cast<int32_t>(c.table * 10 + k)));
        }
        desk->CheckOrders();
        EXPECT_EQ(Int(buy, "Status"), stToOpen);
        EXPECT_EQ(Int(buy + 1, "Status"), stToOpen);
        EXPECT_FALSE(AnyPairStamped());
    }
}

TEST_F(Trigger, ALegThatAlreadyLeftToOpenIsNotHandedOutAgain) {
    // The sell leg went back to To Open (the minute sweep) while its buy leg was opened by
    // EA 3; the sell leg triggers again on EAs 1 and 2. The opened leg stays with EA 3.
    SetQuote(1, 100000, 100010);
    SetQuote(2, 100020, 100030);
    for (int status : {stPending, stOpened, stCloseCond, stToClose, stClosed, stCanceled}) {
        SCOPED_TRACE(status);
        desk->orders.m_CDSOrderliste.Close();
        desk->orders.OpenOrderList();
        desk->trigger.LastTrades().Fill(0.0);
        const int buy = Place(), sell = buy + 1;
        Set(buy, "Status", Variant(static_cast<int32_t>(status)));
        Set(buy, "EAID", Variant(int32_t{3}));
        Set(buy, "Account", Variant(int32_t{5003}));
        desk->CheckOrders();
        EXPECT_EQ(Int(sell, "Status"), stPending);
        EXPECT_EQ(Int(sell, "EAID"), 2);
        EXPECT_EQ(Int(buy, "Status"), status);
        EXPECT_EQ(Int(buy, "EAID"), 3);
        EXPECT_EQ(Int(buy, "Account"), 5003);
        EXPECT_TRUE(Get(buy, "TrigOpenKurs").IsNull());
    }
}

TEST_F(Trigger, TheCreationSequenceClearsThePairStamps) {
    desk->trigger.LastTrades()[2][1] = 45000.0;
    desk->trigger.LastTrades()[200][199] = 45000.0;
    desk->FormCreate();
    EXPECT_FALSE(AnyPairStamped());
    // SetLastTrade writes only pairs of valid EA IDs (two tables: 1..20).
    desk->trigger.SetLastTrade(21, 1, 45000.0);
    desk->trigger.SetLastTrade(2, 0, 45000.0);
    EXPECT_FALSE(AnyPairStamped());
    EXPECT_TRUE(desk->trigger.IsCombinationPauseOver(21, 1, 0.0));
    desk->trigger.SetLastTrade(2, 1, 45000.0);
    EXPECT_EQ(desk->trigger.LastTrades()[2][1], 45000.0);
    EXPECT_FALSE(desk->trigger.IsCombinationPauseOver(2, 1, 45000.0));
    EXPECT_TRUE(desk->trigger.IsCombinationPauseOver(1, 2, 45000.0));
}

} // namespace

namespace {

TEST_F(Trigger, TheWalkLeavesTheEngineCursorWalkingEveryRecord) {
    SetQuote(1, 100000, 100010);
    SetQuote(2, 100020, 100030);
    Place();
    Order far;
    far.spread = -0.01;
    Place(far);
    Set(Place(far), "Status", Variant(static_cast<int32_t>(stClosed)));
    desk->CheckOrders();
    ClientDataSet& ds = desk->orders.m_CDSOrderliste;
    int walked = 0;
    for (ds.First(); !ds.Eof(); ds.Next()) ++walked;
    EXPECT_EQ(walked, ds.RecordCount());
    EXPECT_EQ(walked, 6);
}

} // namespace

namespace {

// A desk whose trigger runs either the walk over every waiting leg or the walk over the legs
// due, and logs, in order, every leg the trigger posts.
class TwinDesk : public Desk {
public:
    TwinDesk(IDeskControls& c, IDeskView& v, const IClock& k, DeskPaths p, bool everyLeg)
        : Desk(c, v, k, std::move(p)), m_everyLeg(everyLeg) {}
    void CheckOrders() override {
        m_walking = true;
        if (m_everyLeg)
            trigger.CheckEveryWaitingLeg();
        else
            trigger.CheckOrders();
        m_walking = false;
    }
    void Log() {
        if (!m_walking) return;
        const ClientDataSet& ds = orders.m_CDSOrderliste;
        std::string line;
        for (const char* f : {"OrderID", "Status", "EAID", "Account", "TrigOpenKurs", "PendingTime",
                              "OpenAfterCounterOrder", "OpenDelayUntil"})
            line += ds.FieldByName(f).AsString() + ";";
        posts.push_back(line);
    }
    std::vector<std::string> posts;

private:
    bool m_everyLeg;
    bool m_walking = false;
};

// The view of a twin desk: every refresh of the sum labels, which ends each post and delete in
// the order list, logs the leg the desk's cursor stands on (Lots is the last label refreshed).
struct PostingView : FakeView {
    std::function<void()> posted;
    void SetSumLabel(SumLabel l, std::string_view, unsigned) override {
        if (l == SumLabel::Lots && posted) posted();
    }
};

struct Twin {
    TempDir dir;
    FakeControls controls;
    PostingView view;
    ManualClock clock{45000.25};
    std::unique_ptr<TwinDesk> desk;

    Twin(bool everyLeg, int pauseMs) {
        std::ofstream(PathsIn(dir).configIni, std::ios::binary) << "[Defaults]\r\nTables=3\r\nTimeout=2\r\n";
        desk = std::make_unique<TwinDesk>(controls, view, clock, PathsIn(dir), everyLeg);
        view.posted = [this] { desk->Log(); };
        desk->FormCreate();
        controls.checked[Ctl::chkbStandby] = false;
        controls.text[Ctl::rePRIDynamic] = "0,0010";
        controls.text[Ctl::seDelayPos2] = "100";
        desk->settings.combinationPauseMS = pauseMs;
    }
};

// One step of a random session, applied alike to both desks.
struct Step {
    enum Kind { Quote, HalfQuote, EmptyQuote, Clock, Place, Edit, Control, ResetTable } kind;
    int a = 0, b = 0, c = 0, d = 0;
};

void Apply(Twin& w, const Step& s) {
    Desk& d = *w.desk;
    ClientDataSet& ds = d.orders.m_CDSOrderliste;
    switch (s.kind) {
    case Step::Quote:
        QuoteTo(d, s.a, s.b, s.b + s.c);
        break;
    case Step::HalfQuote: // a bid or an ask that changes the store without a complete quote
        SendTo(d, s.c % 2 ? EAMsg::NewDataBid : EAMsg::NewDataAsk, s.a, s.b);
        break;
    case Step::EmptyQuote: // a complete quote without a price: the time only
        SendTo(d, EAMsg::NewDataAsk, s.a, 0);
        SendTo(d, EAMsg::DataComplete, s.a);
        break;
    case Step::Clock:
        w.clock.AdvanceSeconds(s.a / 1000.0);
        break;
    case Step::Place: {
        std::vector<BrokerItem> items;
        for (int k = 0; k < 10; ++k)
            if ((s.b >> k) & 1) items.push_back({std::to_string(10 * s.a + 1 + k), true});
        const double spreads[] = {-0.0002, -0.0001, -0.00005, 0.0, 0.0001};
        d.entry.OpenOrder(s.a, 0.1, 1, 1 + s.c % 3, spreads[s.d % 5], items, 1, -0.00009, false, -0.0001,
                          false);
        break;
    }
    case Step::Edit: { // a leg, picked by its place in the list, edited as the other parts do
        if (ds.RecordCount() == 0) break;
        ds.SetRecNo(1 + s.a % ds.RecordCount());
        if (s.b % 5 == 4) {
            ds.Delete();
            break;
        }
        ds.Edit();
        switch (s.b % 5) {
        case 0: // back to To Open, as the minute sweep does
            ds.FieldByName("Status").SetAsInteger(stToOpen);
            break;
        case 1: // handed out and opened
            ds.FieldByName("Status").SetAsInteger(stOpened);
            break;
        case 2: // a new target
            ds.FieldByName("Spread").SetAsCurrency((s.c % 5 - 3) * 0.00005);
            break;
        case 3: // another table, or none
            ds.FieldByName("TableID").SetAsInteger(s.c % 4 == 3 ? 25 : s.c % 3);
            break;
        }
        ds.Post();
        break;
    }
    case Step::Control:
        switch (s.a % 5) {
        case 0:
            w.controls.checked[Ctl::chkbSeqMode] = !w.controls.checked[Ctl::chkbSeqMode];
            break;
        case 1:
            w.controls.checked[Ctl::chkbDelayMode] = !w.controls.checked[Ctl::chkbDelayMode];
            break;
        case 2:
            w.controls.checked[Ctl::chkbStandby] = !w.controls.checked[Ctl::chkbStandby];
            break;
        case 3:
            w.controls.text[Ctl::seTimeOut] = std::to_string(1 + s.b % 4);
            d.UpdateConnectionTimeout();
            break;
        case 4:
            d.settings.combinationPauseMS = (s.b % 4) * 400 - 100;
            break;
        }
        break;
    case Step::ResetTable:
        d.feed.ResetAll(10 * s.a + 1, 10 * s.a + 10);
        break;
    }
}

// The walk over the legs due against the walk over every waiting leg: random sessions of
// quotes (also half and empty ones), a clock that goes on and sometimes back, new
// transactions, legs edited, deleted and put back, and the controls the trigger reads. After
// every step both desks must have posted the same legs, with the same values, in the same
// order, raised the same notifications and stamped the same pairs.
TEST(TriggerWalk, TheLegsDueTriggerAsTheWalkOverEveryWaitingLeg) {
    struct Case {
        unsigned seed;
        int pauseMs;
        bool seqMode, delMode;
    };
    const Case cases[] = {
        {1, 500, false, false}, {2, 0, false, false}, {3, 800, true, false},
        {4, 300, false, true},  {5, -1, true, true},  {6, 1500, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("seed " + std::to_string(c.seed));
        Twin every(true, c.pauseMs), due(false, c.pauseMs);
        for (Twin* w : {&every, &due}) {
            w->controls.checked[Ctl::chkbSeqMode] = c.seqMode;
            w->controls.checked[Ctl::chkbDelayMode] = c.delMode;
        }
        std::mt19937 rng(c.seed);
        auto pick = [&rng](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
        for (int i = 0; i < 4000; ++i) {
            Step s{};
            const int r = pick(100);
            if (r < 45) {
                s = {Step::Quote, 1 + pick(30), 100000 + pick(40), 1 + pick(12)};
            } else if (r < 53) {
                s = {Step::HalfQuote, 1 + pick(30), 100000 + pick(40), pick(2)};
            } else if (r < 55) {
                s = {Step::EmptyQuote, 1 + pick(30)};
            } else if (r < 75) {
                s = {Step::Clock, pick(100) < 5 ? -pick(3000) : pick(1200)};
            } else if (r < 83) {
                s = {Step::Place, pick(3), pick(1024), pick(3), pick(5)};
            } else if (r < 94) {
                s = {Step::Edit, pick(1000), pick(5), pick(12)};
            } else if (r < 99) {
                s = {Step::Control, pick(5), pick(8)};
            } else {
                s = {Step::ResetTable, pick(3)};
            }
            Apply(every, s);
            Apply(due, s);
            ASSERT_EQ(due.desk->posts, every.desk->posts) << "step " << i;
            ASSERT_EQ(due.view.notifications, every.view.notifications) << "step " << i;
        }
        for (int sell = 1; sell <= 30; ++sell)
            for (int buy = 1; buy <= 30; ++buy)
                EXPECT_EQ(due.desk->trigger.LastTrades()[sell][buy],
                          every.desk->trigger.LastTrades()[sell][buy]);
        EXPECT_EQ(due.desk->orders.m_CDSOrderliste.SaveToString(),
                  every.desk->orders.m_CDSOrderliste.SaveToString());
        // The sessions trigger often enough to tell the walks apart.
        EXPECT_GT(every.desk->posts.size(), 100u);
    }
}

} // namespace
