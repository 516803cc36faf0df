#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <unistd.h>

#include "desk/core/desk.h"
#include "deskharness.h"
#include "platform/files.h"
#include "tests/support/tempdir.h"
#include "tests/support/testpaths.h"

using namespace quorvel;
using namespace quorvel::test;

namespace {

using DeskFixture = DeskHarness;

TEST_F(DeskFixture, QuoteMessagesAnswerFixedResultsForAnyEAID) {
    Create(1);
    struct Case {
        int32_t msg;
        int32_t id;
        int32_t result;
    };
    for (const Case c :
         {Case{EAMsg::NewDataBid, 1, 2}, Case{EAMsg::NewDataBid, 0, 2}, Case{EAMsg::NewDataBid, 11, 2},
          Case{EAMsg::NewDataAsk, 1, 1}, Case{EAMsg::NewDataAsk, 11, 1}, Case{EAMsg::NewDataAsk, -5, 1},
          Case{EAMsg::NewDataAccount, 10, 4}, Case{EAMsg::NewDataAccount, 201, 4},
          Case{EAMsg::DataComplete, 11, 5}, Case{EAMsg::NewDataCompanyName, 11, 6},
          Case{EAMsg::ParamCounterCheckSeconds, 11, 0}, Case{EAMsg::Reserved402, 1, 0},
          Case{EAMsg::GetEARequoteWaitMS, 0, 0}, Case{0x1234, 1, 0}})
        EXPECT_EQ(Send(c.msg, c.id, 777), c.result) << std::hex << c.msg << " id " << std::dec << c.id;
    // Nothing was stored for the invalid IDs.
    EXPECT_EQ(desk->prices.Bid[11], kNoPoints);
    EXPECT_EQ(desk->prices.Ask[11], kNoPoints);
    EXPECT_EQ(desk->prices.Accounts[201 - 1], kNoAccount);
    EXPECT_EQ(desk->prices.Time[11], kNoTime);
    EXPECT_TRUE(view.messageBoxes.empty());
    EXPECT_EQ(desk->prices.Accounts[10], 777);
}

TEST_F(DeskFixture, CompleteQuoteSetsSpreadAndMinimum) {
    Create(1);
    Quote(3, 123456, 123468);
    const PriceStore& p = desk->prices;
    EXPECT_EQ(p.Spread[3], 12);
    EXPECT_EQ(p.Min[3], 12);
    EXPECT_EQ(p.MinAsk[3], 123468);
    EXPECT_EQ(p.MinBid[3], 123456);
    EXPECT_DOUBLE_EQ(p.TimeMin[3], 45000.25);
    EXPECT_DOUBLE_EQ(p.Time[3], 45000.25);

    // Equal spread: the minimum moves to the new quote.
    clock.AdvanceSeconds(1);
    Quote(3, 123500, 123512);
    EXPECT_EQ(p.Min[3], 12);
    EXPECT_EQ(p.MinBid[3], 123500);
    EXPECT_DOUBLE_EQ(p.TimeMin[3], clock.Now());

    // Larger spread: the minimum stays.
    const double before = p.TimeMin[3];
    clock.AdvanceSeconds(1);
    Quote(3, 123600, 123613);
    EXPECT_EQ(p.Spread[3], 13);
    EXPECT_EQ(p.Min[3], 12);
    EXPECT_EQ(p.MinBid[3], 123500);
    EXPECT_DOUBLE_EQ(p.TimeMin[3], before);
}

TEST_F(DeskFixture, CrossedQuoteIsStoredAndReplacedByTheNext) {
    Create(1);
    Quote(2, 100010, 100000);
    EXPECT_EQ(desk->prices.Spread[2], -10);
    EXPECT_EQ(desk->prices.Min[2], -10);
    Quote(2, 100000, 100020);
    EXPECT_EQ(desk->prices.Min[2], 20); // a negative minimum counts as none
}

TEST_F(DeskFixture, CompleteWithoutPositiveQuoteOnlyStampsTime) {
    Create(1);
    Send(EAMsg::NewDataBid, 4, 100000);
    EXPECT_EQ(Send(EAMsg::DataComplete, 4), 5); // ask still -10000
    EXPECT_DOUBLE_EQ(desk->prices.Time[4], 45000.25);
    EXPECT_EQ(desk->prices.Spread[4], kNoPoints);
    EXPECT_EQ(desk->prices.Min[4], kNoPoints);
}

TEST_F(DeskFixture, PricesAreSignExtendedFrom32Bits) {
    Create(1);
    Send(EAMsg::NewDataBid, 1, -2147483647 - 1);
    EXPECT_EQ(desk->prices.Bid[1], int64_t{-2147483648LL});
}

TEST_F(DeskFixture, TablesBeyondTwentyAreClampedToTwoHundredIDs) {
    for (int tables : {0, -3, 25, 1000000}) {
        Create(tables);
        EXPECT_GE(desk->settings.maxIDs, 0);
        EXPECT_LE(desk->settings.maxIDs, kMaxEAs);
        EXPECT_EQ(Send(EAMsg::NewDataBid, 201, 5), 2);
        EXPECT_EQ(Send(EAMsg::DataComplete, 201), 5);
    }
    Create(20);
    EXPECT_EQ(desk->settings.maxIDs, 200);
    Send(EAMsg::NewDataBid, 200, 99);
    EXPECT_EQ(desk->prices.Bid[200], 99);
}

TEST_F(DeskFixture, ParameterQuestionsReadTheBoxesNow) {
    Create(1);
    controls.text[Ctl::seLoopTime] = "200";
    controls.text[Ctl::seRequoteAnzahl] = "3";
    controls.text[Ctl::seSlippage] = "16";
    controls.text[Ctl::seMaxCounterCheck] = "abc"; // not a number: the lower limit, 0
    EXPECT_EQ(Send(EAMsg::GetEALoopTime, 0), 200);
    EXPECT_EQ(Send(EAMsg::GetEARequoteWaitMS, 0), 0);
    EXPECT_EQ(Send(EAMsg::GetEAMaxRequotes, 0), 3);
    EXPECT_EQ(Send(EAMsg::GetEASlippage, 0), 16);
    EXPECT_EQ(Send(EAMsg::GetEAMaxCounterCheckSeconds, 0), 0);
    controls.text[Ctl::seLoopTime] = "-40";
    EXPECT_EQ(Send(EAMsg::GetEALoopTime, 0), -40);
}

TEST_F(DeskFixture, CopyDataShowsOneCharacterForValidIDOnly) {
    Create(1);
    EXPECT_EQ(Send(EAMsg::NewDataCompanyName, 1, 65), 6);
    ASSERT_EQ(view.messageBoxes.size(), 1u);
    EXPECT_EQ(view.messageBoxes[0], u"A");
    EXPECT_EQ(Send(EAMsg::NewDataCompanyName, 1, 0x7FFF00E4), 6); // only the low 16 bits count
    EXPECT_EQ(view.messageBoxes.back(), u"\u00E4");
    EXPECT_EQ(Send(EAMsg::NewDataCompanyName, 0, 65), 6);
    EXPECT_EQ(view.messageBoxes.size(), 2u);
}

TEST_F(DeskFixture, CounterCheckSecondsAreKeptButNotReset) {
    Create(1);
    Send(EAMsg::ParamCounterCheckSeconds, 7, 33);
    desk->feed.ResetAll(1, 200);
    EXPECT_EQ(desk->prices.aiParamCounterCheckSeconds[7], 33);
}

TEST_F(DeskFixture, ResetsTouchOnlyTheirRange) {
    Create(2);
    Quote(5, 100, 110);
    Quote(6, 100, 120);
    Send(EAMsg::NewDataAccount, 5, 42);
    desk->feed.ResetMin(5, 5);
    EXPECT_EQ(desk->prices.Min[5], kNoPoints);
    EXPECT_EQ(desk->prices.TimeMin[5], kNoTime);
    EXPECT_EQ(desk->prices.Spread[5], 10);
    EXPECT_EQ(desk->prices.Min[6], 20);
    desk->feed.ResetAll(6, 5); // empty range
    EXPECT_EQ(desk->prices.Min[6], 20);
    desk->feed.ResetAll(5, 6);
    for (int id : {5, 6}) {
        EXPECT_EQ(desk->prices.Accounts[id], kNoAccount);
        EXPECT_EQ(desk->prices.Bid[id], kNoPoints);
        EXPECT_EQ(desk->prices.Ask[id], kNoPoints);
        EXPECT_EQ(desk->prices.Spread[id], kNoPoints);
        EXPECT_EQ(desk->prices.Time[id], kNoTime);
        EXPECT_EQ(desk->prices.MinBid[id], kNoPoints);
    }
}

// ---- Data.dat ----------------------------------------------------------------------------

TEST_F(DeskFixture, MissingSnapshotResetsEveryEA) {
    Create(1);
    for (int id : {1, 100, 200}) {
        EXPECT_EQ(desk->prices.Accounts[id], kNoAccount);
        EXPECT_EQ(desk->prices.Time[id], kNoTime);
        EXPECT_EQ(desk->prices.Min[id], kNoPoints);
    }
}

TEST_F(DeskFixture, SnapshotRoundTripsBitForBit) {
    Create(20);
    for (int id = 1; id <= 200; id += 7) {
        Send(EAMsg::NewDataAccount, id, 1000 + id);
        clock.AdvanceSeconds(0.123);
        Quote(id, 100000 + id, 100000 + 3 * id);
    }
    desk->prices.Time[9] = 1e-300; // an odd double survives unchanged
    desk->files.SaveData();
    const auto bytes = ReadWholeFile(dir.File("Data.dat"));
    ASSERT_TRUE(bytes);
    EXPECT_EQ(bytes->size(), kDataDatSize);
    EXPECT_EQ(bytes->size(), 13600u);
    const PriceStore saved = desk->prices;

    Create(20);
    const PriceStore& p = desk->prices;
    EXPECT_EQ(std::memcmp(&p.Accounts, &saved.Accounts, sizeof p.Accounts), 0);
    EXPECT_EQ(std::memcmp(&p.Time, &saved.Time, sizeof p.Time), 0);
    EXPECT_EQ(std::memcmp(&p.Bid, &saved.Bid, sizeof p.Bid), 0);
    EXPECT_EQ(std::memcmp(&p.Ask, &saved.Ask, sizeof p.Ask), 0);
    EXPECT_EQ(std::memcmp(&p.Spread, &saved.Spread, sizeof p.Spread), 0);
    EXPECT_EQ(std::memcmp(&p.Min, &saved.Min, sizeof p.Min), 0);
    EXPECT_EQ(std::memcmp(&p.MinAsk, &saved.MinAsk, sizeof p.MinAsk), 0);
    EXPECT_EQ(std::memcmp(&p.MinBid, &saved.MinBid, sizeof p.MinBid), 0);
    EXPECT_EQ(std::memcmp(&p.TimeMin, &saved.TimeMin, sizeof p.TimeMin), 0);
    EXPECT_EQ(p.Serialize(), *bytes);
}

TEST(DataDatLayout, ArraysStandAtTheirOffsets) {
    PriceStore p;
    p.Accounts[1] = 0x01020304;
    p.Spread[1] = 5;
    p.Time[200] = 2.5;
    p.MinAsk[200] = -10000;
    const std::string b = p.Serialize();
    ASSERT_EQ(b.size(), 13600u);
    int32_t acc;
    std::memcpy(&acc, b.data(), 4);
    EXPECT_EQ(acc, 0x01020304);
    EXPECT_EQ(static_cast<unsigned char>(b[0]), 0x04); // little-endian
    int64_t spread;
    std::memcpy(&spread, b.data() + 800, 8);
    EXPECT_EQ(spread, 5);
    double t;
    std::memcpy(&t, b.data() + 2400 + 199 * 8, 8);
    EXPECT_EQ(t, 2.5);
    int64_t minAsk;
    std::memcpy(&minAsk, b.data() + 12000 + 199 * 8, 8);
    EXPECT_EQ(minAsk, -10000);
}

TEST(DataDatLayout, ShortFileFillsWhatItHolds) {
    PriceStore full;
    for (int id = 1; id <= 200; ++id) full.Accounts[id] = id * 3, full.Spread[id] = id;
    const std::string bytes = full.Serialize();
    PriceStore p;
    p.Deserialize(std::string_view(bytes).substr(0, 800));
    EXPECT_EQ(p.Accounts[200], 600);
    EXPECT_EQ(p.Spread[1], 0);
    PriceStore q;
    q.Deserialize(std::string_view(bytes).substr(0, 805)); // a broken entry is not applied
    EXPECT_EQ(q.Spread[1], 0);
    PriceStore r;
    r.Deserialize(bytes + std::string(100, 'x')); // trailing bytes ignored
    EXPECT_EQ(r.Spread[200], 200);
}

TEST_F(DeskFixture, EightHundredByteSnapshotRestoresAccountsOnly) {
    PriceStore full;
    full.ResetQuotes(1, 200);
    full.Accounts[3] = 77;
    std::ofstream(dir.File("Data.dat"), std::ios::binary) << full.Serialize().substr(0, 800);
    Create(1);
    EXPECT_EQ(desk->prices.Accounts[3], 77);
    EXPECT_EQ(desk->prices.Accounts[4], -1);
    EXPECT_EQ(desk->prices.Bid[3], 0);
    EXPECT_EQ(desk->prices.Time[3], 0.0);
}

TEST_F(DeskFixture, UnwritableSnapshotIsReportedAndNothingIsOverwritten) {
    Create(1);
    Quote(1, 100, 110);
    desk->files.SaveData();
    const auto before = ReadWholeFile(dir.File("Data.dat"));
    ASSERT_TRUE(before);
    // Make the file's place unwritable even for root: the directory becomes a plain file's
    // sibling path that cannot hold a temporary file.
    DeskPaths p = desk->Paths();
    p.dataDat = dir.File("missing-dir/Data.dat");
    Desk other(controls, view, clock, p);
    other.FormCreate();
    const int savesBefore = view.notificationSaves;
    other.Guarded([&] { other.files.SaveData(); });
    // Reported in the stop box as a failed order-list save is, and the other files are saved.
    ASSERT_EQ(view.stopBoxes.size(), 1u);
    EXPECT_EQ(view.stopBoxes[0].rfind("Cannot create " + p.dataDat + ": ", 0), 0u) << view.stopBoxes[0];
    EXPECT_EQ(view.notificationSaves, savesBefore + 1);
    EXPECT_TRUE(FileExists(p.orderList));
    EXPECT_FALSE(FileExists(p.dataDat));
    EXPECT_EQ(ReadWholeFile(dir.File("Data.dat")), before);
}

TEST(AtomicWrite, FailedWriteLeavesThePreviousFile) {
    TempDir dir;
    const std::string f = dir.File("state.bin");
    WriteFileAtomic(f, "old contents");
    // A target that is a directory cannot be replaced by a file: the rename fails.
    std::filesystem::create_directory(dir.File("d"));
    EXPECT_THROW(WriteFileAtomic(dir.File("d"), "x"), FileError);
    EXPECT_THROW(WriteFileAtomic(dir.File("nodir/x"), "x"), FileError);
    EXPECT_EQ(ReadWholeFile(f), "old contents");
    WriteFileAtomic(f, "new");
    EXPECT_EQ(ReadWholeFile(f), "new");
    // No temporary files are left behind.
    int entries = 0;
    for (auto& e : std::filesystem::directory_iterator(dir.Path())) (void)e, ++entries;
    EXPECT_EQ(entries, 2);
}

// ---- event model -------------------------------------------------------------------------

struct ThrowingDesk : Desk {
    using Desk::Desk;
    void ComputeCrossSpreads(int) override { throw std::runtime_error("Division by zero"); }
};

using EventModel = DeskHarness;

TEST_F(EventModel, FailingHandlerShowsStopBoxAndAnswersWhatWasSet) {
    ThrowingDesk& throwing = Make<ThrowingDesk>();
    throwing.FormCreate();
    TMessage bid{EAMsg::NewDataBid, 1, 1000, 0}, ask{EAMsg::NewDataAsk, 1, 1010, 0},
        done{EAMsg::DataComplete, 1, 0, 0};
    throwing.Dispatch(bid);
    throwing.Dispatch(ask);
    throwing.Dispatch(done);
    EXPECT_EQ(done.Result, 0); // set at the end of the handler, so 0 after the error
    ASSERT_EQ(view.stopBoxes.size(), 1u);
    EXPECT_EQ(view.stopBoxes[0], "Division by zero.");
    EXPECT_EQ(throwing.prices.Spread[1], 10); // steps before the error stand
    TMessage next{EAMsg::NewDataBid, 1, 2000, 0};
    throwing.Dispatch(next);
    EXPECT_EQ(next.Result, 2);
}

TEST_F(EventModel, StopBoxTextAppendsPeriodOnlyAfterLaterCharacters) {
    struct Case {
        const char* in;
        const char* out;
    };
    for (const Case c : {Case{"Error", "Error."}, Case{"Error.", "Error."}, Case{"Error!", "Error!"},
                         Case{"Code 7", "Code 7."}, Case{"Ends with -", "Ends with -"}, Case{"", ""},
                         Case{"path/", "path/."}})
        EXPECT_EQ(StopBoxText(c.in), c.out) << c.in;
}

TEST_F(DeskFixture, EmptyTimeoutBoxKeepsTheLastValue) {
    controls.text[Ctl::seTimeOut] = "4";
    Create(1);
    EXPECT_DOUBLE_EQ(desk->settings.CONNECTION_TIMEOUT, 4.0 / 86400);
    controls.text[Ctl::seTimeOut] = "";
    desk->UpdateConnectionTimeout();
    EXPECT_DOUBLE_EQ(desk->settings.CONNECTION_TIMEOUT, 4.0 / 86400);
    controls.text[Ctl::seTimeOut] = "x";
    desk->UpdateConnectionTimeout();
    EXPECT_DOUBLE_EQ(desk->settings.CONNECTION_TIMEOUT, 0.0);
    controls.text[Ctl::seTimeOut] = "10";
    desk->UpdateConnectionTimeout();
    EXPECT_DOUBLE_EQ(desk->settings.CONNECTION_TIMEOUT, 10.0 / 86400);
}

} // namespace
