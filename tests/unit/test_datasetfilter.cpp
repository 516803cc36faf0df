#include <functional>
#include <gtest/gtest.h>

#include "platform/clientdataset.h"

using namespace quorvel;

namespace {

// id 1..6 with n and a flag; n null in the last record.
void Fill(ClientDataSet& ds) {
    ds.CreateDataSet({{"id", FieldType::AutoInc},
                      {"n", FieldType::Integer},
                      {"x", FieldType::Float},
                      {"on", FieldType::Boolean}});
    const int ns[] = {5, 3, 9, 3, 12};
    for (int i = 0; i < 5; ++i) {
        ds.Append();
        ds.FieldByName("n").SetAsInteger(ns[i]);
        ds.FieldByName("x").SetAsFloat(ns[i] / 2.0);
        ds.FieldByName("on").SetAsBoolean(i % 2 == 0);
        ds.Post();
    }
    ds.Append();
    ds.Post();
}

std::vector<int> Ids(ClientDataSet& ds) {
    std::vector<int> out;
    for (ds.First(); !ds.Eof(); ds.Next()) out.push_back(ds.FieldByName("id").AsInteger());
    return out;
}

} // namespace

TEST(DataSetFilter, ExpressionsPickTheirRecords) {
    struct Case {
        const char* filter;
        std::vector<int> ids;
    } cases[] = {
        {"", {1, 2, 3, 4, 5, 6}},
        {"n=3", {2, 4}},
        {"n<>3", {1, 3, 5}}, // a null compares false
        {"n>=9 AND id<5", {3}},
        {"n<4 OR n>10", {2, 4, 5}},
        {"(n=3 OR n=5) AND id>1", {2, 4}},
        {"NOT (n=3)", {1, 3, 5, 6}},
        {"on=TRUE", {1, 3, 5}},
        {"x>2.5", {3, 5}},
        {"x>=-1 and n<=5", {1, 2, 4}},
        {"n='1*'", {5}}, // a trailing star: the text starts with the rest
        {"n<>'1*'", {1, 2, 3, 4}},
        {"[n]=9", {3}},
    };
    for (const Case& c : cases) {
        ClientDataSet ds("f");
        Fill(ds);
        ds.SetFilter(c.filter);
        ds.SetFiltered(true);
        EXPECT_EQ(Ids(ds), c.ids) << c.filter;
        EXPECT_EQ(ds.RecordCount(), static_cast<int>(c.ids.size())) << c.filter;
        ds.SetFiltered(false);
        EXPECT_EQ(ds.RecordCount(), 6) << c.filter;
    }
}

TEST(DataSetFilter, AMalformedTextIsRefusedAndTheFormerFilterStays) {
    ClientDataSet ds("f");
    Fill(ds);
    ds.SetFilter("n=3");
    ds.SetFiltered(true);
    for (const char* bad : {"n=", "n=3 AND", "(n=3", "nope=1", "n='3", "3=3", "n ! 3"}) {
        EXPECT_THROW(ds.SetFilter(bad), DataSetError) << bad;
        EXPECT_EQ(ds.Filter(), "n=3");
        EXPECT_EQ(Ids(ds), (std::vector<int>{2, 4})) << bad;
    }
}

TEST(DataSetFilter, QuotesInsideATextAreDoubled) {
    ClientDataSet ds("f");
    Fill(ds);
    // No integer reads as "it's": nothing is shown, and the quote does not end the text early.
    ds.SetFilter("n='it''s'");
    ds.SetFiltered(true);
    EXPECT_TRUE(Ids(ds).empty());
    EXPECT_EQ(ds.RecordCount(), 0);
}

TEST(DataSetFilter, NavigationLocateAndLookupPassOverHiddenRecords) {
    ClientDataSet ds("f");
    Fill(ds);
    ds.SetFilter("n<>9");
    ds.SetFiltered(true);
    ds.Last();
    EXPECT_EQ(ds.FieldByName("id").AsInteger(), 5);
    ds.Prior();
    ds.Prior();
    EXPECT_EQ(ds.FieldByName("id").AsInteger(), 2); // 3 is hidden
    EXPECT_FALSE(ds.Locate("n", Variant(9)));
    EXPECT_TRUE(ds.Lookup("id", Variant(3), "n").IsNull());
    EXPECT_EQ(ds.Lookup("id", Variant(4), "n").AsInteger(), 3);
    // A clone with the settings takes the filter; a reset clone does not.
    ClientDataSet same("same"), reset("reset");
    same.CloneCursor(ds, false, false);
    reset.CloneCursor(ds, true);
    EXPECT_EQ(same.RecordCount(), 4);
    EXPECT_EQ(reset.RecordCount(), 6);
}

TEST(DataSetFilter, MinAndMaxFollowTheFilterAndAreNullWithoutRecords) {
    ClientDataSet ds("f");
    Fill(ds);
    Aggregate& mn = ds.AddAggregate("lo", "Min(n)");
    Aggregate& mx = ds.AddAggregate("hi", "MAX( x )");
    mn.Active = mx.Active = true;
    ds.AggregatesActive = true;
    EXPECT_EQ(mn.Value().AsInteger(), 3);
    EXPECT_EQ(mn.Value().kind(), Variant::Kind::Integer);
    EXPECT_DOUBLE_EQ(mx.Value().AsFloat(), 6.0);
    ds.SetFilter("n>4");
    ds.SetFiltered(true);
    EXPECT_EQ(mn.Value().AsInteger(), 5);
    ds.SetFilter("n>100");
    EXPECT_TRUE(mn.Value().IsNull());
    EXPECT_TRUE(mx.Value().IsNull());
    EXPECT_THROW(ds.AddAggregate("bad", "Avg(n)"), DataSetError);
}

TEST(DataSetFilter, GotoNearestFindsTheFirstKeyNotBelow) {
    struct Case {
        Variant key;
        int n; // the value the cursor stands on
        bool eof;
    } cases[] = {
        {Variant(0), 3, false},   {Variant(3), 3, false},  {Variant(4), 5, false},
        {Variant(12), 12, false}, {Variant(13), 12, true}, // past every key: at the end, on the last
    };
    for (const Case& c : cases) {
        ClientDataSet ds("f");
        Fill(ds);
        ds.SetFilter("id<6"); // the record without n is hidden
        ds.SetFiltered(true);
        ds.SetIndexFieldNames("n");
        ds.GotoNearest(c.key);
        EXPECT_EQ(ds.FieldByName("n").AsInteger(), c.n) << c.key.AsString();
        EXPECT_EQ(ds.Eof(), c.eof) << c.key.AsString();
    }
    ClientDataSet plain("p");
    Fill(plain);
    EXPECT_THROW(plain.GotoNearest(Variant(1)), DataSetError); // no index
}

TEST(DataSetFilter, ReloadKeepsTheTableAndItsClones) {
    ClientDataSet ds("f"), clone("c");
    Fill(ds);
    const std::string before = ds.SaveToString();
    clone.CloneCursor(ds, true);
    ds.Last();
    ds.Delete();
    ds.First();
    ds.Edit();
    ds.FieldByName("n").SetAsInteger(77);
    ds.Post();
    ds.ReloadFromString(before);
    EXPECT_EQ(clone.RecordCount(), 6);
    EXPECT_EQ(clone.Lookup("id", Variant(1), "n").AsInteger(), 5);
    EXPECT_EQ(ds.SaveToString(), before);
    ClientDataSet other("o");
    other.CreateDataSet({{"id", FieldType::AutoInc}});
    EXPECT_THROW(ds.ReloadFromString(other.SaveToString()), DataSetError);
    EXPECT_EQ(ds.RecordCount(), 6); // unchanged
}

TEST(DataSetFilter, StringFieldsSortFilterAndRoundTripThroughThePacket) {
    ClientDataSet ds("s");
    ds.CreateDataSet({{"id", FieldType::AutoInc}, {"code", FieldType::String}});
    const char* texts[] = {"b-2", "a \"q\" <&>", "", "b-1", "line\nbreak\ttab"};
    for (const char* t : texts) {
        ds.Append();
        ds.FieldByName("code").SetAsString(t);
        ds.Post();
    }
    ds.Append();
    ds.Post(); // null
    ds.SetIndexFieldNames("code");
    EXPECT_EQ(Ids(ds), (std::vector<int>{6, 3, 2, 4, 1, 5})); // null, then by text
    ds.SetFilter("code='b*'");
    ds.SetFiltered(true);
    EXPECT_EQ(Ids(ds), (std::vector<int>{4, 1}));
    ds.SetFilter("code>='b-2' OR code='a \"q\" <&>'");
    EXPECT_EQ(Ids(ds), (std::vector<int>{2, 1, 5}));
    ds.GotoNearest(Variant("b"));
    EXPECT_EQ(ds.FieldByName("id").AsInteger(), 1);
    ds.SetFiltered(false);
    EXPECT_EQ(ds.Lookup("code", Variant("b-1"), "id").AsInteger(), 4);
    EXPECT_EQ(ds.Lookup("id", Variant(2), "code").AsString(), "a \"q\" <&>");

    const std::string packet = ds.SaveToString();
    EXPECT_NE(packet.find("fieldtype=\"string\" WIDTH=\"14\""), std::string::npos);
    ClientDataSet back("back");
    back.LoadFromString(packet);
    for (int id = 1; id <= 6; ++id) {
        EXPECT_EQ(back.Lookup("id", Variant(id), "code"), ds.Lookup("id", Variant(id), "code")) << id;
    }
    EXPECT_EQ(back.SaveToString(), packet);
    Aggregate& m = ds.AddAggregate("m", "Min(code)");
    m.Active = ds.AggregatesActive = true;
    EXPECT_THROW(m.Value(), DataSetError); // texts have no numeric order
}

TEST(DataSetFilter, ADetailShowsTheRecordsOfTheMastersCurrentRecord) {
    ClientDataSet master("m"), detail("d");
    master.CreateDataSet({{"id", FieldType::AutoInc}, {"n", FieldType::Integer}});
    for (int n : {3, 5, 7}) {
        master.Append();
        master.FieldByName("n").SetAsInteger(n);
        master.Post();
    }
    Fill(detail); // n: 5, 3, 9, 3, 12, null
    detail.SetIndexFieldNames("n");
    detail.SetMasterSource(&master, "n");
    master.First();
    EXPECT_EQ(Ids(detail), (std::vector<int>{2, 4}));
    master.Next();
    EXPECT_EQ(detail.FieldByName("id").AsInteger(), 1); // moved with the master
    EXPECT_EQ(detail.RecordCount(), 1);
    master.Next();
    EXPECT_EQ(detail.RecordCount(), 0);
    EXPECT_TRUE(detail.Eof());
    // A clone with the settings takes the link; a reset one does not.
    ClientDataSet same("same"), reset("reset");
    same.CloneCursor(detail, false, false);
    reset.CloneCursor(detail, true);
    EXPECT_EQ(same.MasterSource(), &master);
    EXPECT_EQ(reset.MasterSource(), nullptr);
    EXPECT_EQ(reset.RecordCount(), 6);
    {
        ClientDataSet gone("gone");
        gone.CreateDataSet({{"n", FieldType::Integer}});
        detail.SetMasterSource(&gone, "n");
        EXPECT_EQ(detail.RecordCount(), 0); // an empty master shows nothing
    }
    EXPECT_EQ(detail.MasterSource(), nullptr); // the master went first
    EXPECT_EQ(detail.RecordCount(), 6);
}

namespace {

// The ids of the shown records as the record numbers reach them: SetRecNo, RecNo and PeekRecord
// each from 1 to RecordCount.
struct Numbered {
    std::vector<int> bySetRecNo, byPeek, recNos;
};
Numbered ByRecordNumber(ClientDataSet& ds) {
    Numbered out;
    const int n = ds.RecordCount();
    for (int k = 1; k <= n; ++k) {
        ds.SetRecNo(k);
        out.bySetRecNo.push_back(ds.FieldByName("id").AsInteger());
        out.recNos.push_back(ds.RecNo());
        ds.PeekRecord(k, [&] { out.byPeek.push_back(ds.FieldByName("id").AsInteger()); });
    }
    return out;
}

} // namespace

TEST(DataSetFilter, RecordNumbersCountOnlyTheShownRecords) {
    struct Case {
        const char* what;
        std::function<void(ClientDataSet& ds, ClientDataSet& master)> set;
        std::vector<int> ids;
    };
    const Case cases[] = {
        {"no filter", [](ClientDataSet&, ClientDataSet&) {}, {1, 2, 3, 4, 5, 6}},
        {"filter",
         [](ClientDataSet& ds, ClientDataSet&) {
             ds.SetFilter("n>4");
             ds.SetFiltered(true);
         },
         {1, 3, 5}},
        {"filter on an index",
         [](ClientDataSet& ds, ClientDataSet&) {
             ds.SetIndexFieldNames("n");
             ds.SetFilter("n>4");
             ds.SetFiltered(true);
         },
         {1, 3, 5}},
        {"filter on a descending index",
         [](ClientDataSet& ds, ClientDataSet&) {
             ds.SetIndex({"down", "n", true});
             ds.SetFilter("n>4");
             ds.SetFiltered(true);
         },
         {5, 3, 1}},
        {"detail",
         [](ClientDataSet& ds, ClientDataSet& master) {
             ds.SetIndexFieldNames("n");
             ds.SetMasterSource(&master, "n");
         },
         {2, 4}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ClientDataSet master("m"), ds("f");
        master.CreateDataSet({{"n", FieldType::Integer}});
        master.Append();
        master.FieldByName("n").SetAsInteger(3);
        master.Post();
        Fill(ds); // n: 5, 3, 9, 3, 12, null
        c.set(ds, master);
        ASSERT_EQ(ds.RecordCount(), static_cast<int>(c.ids.size()));
        std::vector<int> numbers(c.ids.size());
        for (size_t k = 0; k < numbers.size(); ++k) numbers[k] = static_cast<int>(k) + 1;
        const Numbered got = ByRecordNumber(ds);
        EXPECT_EQ(got.bySetRecNo, c.ids);
        EXPECT_EQ(got.byPeek, c.ids);
        EXPECT_EQ(got.recNos, numbers);
        // Past the shown records nothing moves and nothing is read.
        ds.SetRecNo(1);
        ds.SetRecNo(static_cast<int>(c.ids.size()) + 1);
        EXPECT_EQ(ds.RecNo(), 1);
        bool read = false;
        ds.PeekRecord(static_cast<int>(c.ids.size()) + 1, [&] { read = true; });
        EXPECT_FALSE(read);
    }
}

TEST(DataSetFilter, RecordNumbersFollowChangesOfTheDataAndOfTheMaster) {
    ClientDataSet ds("f");
    Fill(ds); // n: 5, 3, 9, 3, 12, null
    ds.SetFilter("n>4");
    ds.SetFiltered(true); // 1, 3, 5
    ASSERT_EQ(ByRecordNumber(ds).byPeek, (std::vector<int>{1, 3, 5}));
    // An edit through another cursor hides a record and shows another.
    ClientDataSet other("o");
    other.CloneCursor(ds, true);
    ASSERT_TRUE(other.Locate("id", Variant(3)));
    other.Edit();
    other.FieldByName("n").SetAsInteger(1);
    other.Post();
    ASSERT_TRUE(other.Locate("id", Variant(2)));
    other.Edit();
    other.FieldByName("n").SetAsInteger(8);
    other.Post();
    EXPECT_EQ(ByRecordNumber(ds).byPeek, (std::vector<int>{1, 2, 5}));
    other.Append();
    other.FieldByName("n").SetAsInteger(7);
    other.Post(); // id 7
    ASSERT_TRUE(other.Locate("id", Variant(1)));
    other.Delete();
    EXPECT_EQ(ByRecordNumber(ds).byPeek, (std::vector<int>{2, 5, 7}));
    ds.SetFilter("n<4");
    EXPECT_EQ(ByRecordNumber(ds).byPeek, (std::vector<int>{3, 4}));
    // A record hidden by an edit through this cursor has no number while it stays current.
    ASSERT_TRUE(ds.Locate("id", Variant(4)));
    ds.Edit();
    ds.FieldByName("n").SetAsInteger(40);
    ds.Post();
    EXPECT_EQ(ds.RecNo(), -1);
    EXPECT_EQ(ds.RecordCount(), 1);

    // A detail numbers the records of its master's current record, also while the master's
    // controls are off and its moves are not told.
    ClientDataSet master("m"), detail("d");
    master.CreateDataSet({{"n", FieldType::Integer}});
    for (int n : {3, 5}) {
        master.Append();
        master.FieldByName("n").SetAsInteger(n);
        master.Post();
    }
    Fill(detail);
    detail.SetIndexFieldNames("n");
    detail.SetMasterSource(&master, "n");
    master.First();
    EXPECT_EQ(ByRecordNumber(detail).byPeek, (std::vector<int>{2, 4}));
    master.DisableControls();
    master.Next();
    EXPECT_EQ(detail.RecordCount(), 1);
    detail.PeekRecord(1, [&] { EXPECT_EQ(detail.FieldByName("id").AsInteger(), 1); });
    master.EnableControls();
    EXPECT_EQ(ByRecordNumber(detail).byPeek, (std::vector<int>{1}));
}

TEST(DataSetFilter, ObserversOfACursorThatHidesRecordsHearOfTheWholeData) {
    struct Heard : IDataSetObserver {
        std::vector<std::pair<Change, int>> changed;
        int changing = 0;
        void DataChanged(Change c, int row) override { changed.emplace_back(c, row); }
        void DataChanging(Change, int) override { ++changing; }
        void Scrolled() override {}
    } heard;
    ClientDataSet ds("f"), other("o");
    Fill(ds);
    ds.SetFilter("n>4");
    ds.SetFiltered(true);
    other.CloneCursor(ds, true);
    ds.AddObserver(&heard);
    other.Append();
    other.FieldByName("n").SetAsInteger(1); // hidden: its place in the table is no row here
    other.Post();
    other.First();
    other.Delete(); // id 1, the first row shown
    ds.RemoveObserver(&heard);
    using C = IDataSetObserver::Change;
    EXPECT_EQ(heard.changed, (std::vector<std::pair<C, int>>{{C::Reset, 0}, {C::Reset, 0}}));
    EXPECT_EQ(heard.changing, 0);
}

TEST(DataSetFilter, LocateComparesTextsByPrefixAndCaseOnRequest) {
    ClientDataSet ds("s");
    ds.CreateDataSet({{"id", FieldType::AutoInc}, {"code", FieldType::String}, {"n", FieldType::Integer}});
    const char* texts[] = {"Bravo", "alpha", "ALPS", "al", "beta"};
    for (const char* t : texts) {
        ds.Append();
        ds.FieldByName("code").SetAsString(t);
        ds.FieldByName("n").SetAsInteger(10);
        ds.Post();
    }
    struct Case {
        const char* key;
        TLocateOptions options;
        int natural; // id found in the natural order, 0: none
        int indexed; // ... on the index by code
    };
    const Case cases[] = {
        {"alpha", 0, 2, 2},
        {"ALPHA", 0, 0, 0},
        {"ALPHA", loCaseInsensitive, 2, 2},
        {"alp", 0, 0, 0},
        {"alp", loPartialKey, 2, 2},
        {"AL", loPartialKey, 3, 3},
        {"al", loPartialKey | loCaseInsensitive, 2, 3}, // the index puts ALPS first
        {"b", loPartialKey | loCaseInsensitive, 1, 1},
        {"b", loPartialKey, 5, 5},
        {"alphabet", loPartialKey | loCaseInsensitive, 0, 0},
        {"", loPartialKey, 1, 3}, // every text begins with the empty one
    };
    for (bool indexed : {false, true}) {
        ds.SetIndexFieldNames(indexed ? "code" : "");
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(c.key) + (indexed ? " indexed" : " natural"));
            const int expected = indexed ? c.indexed : c.natural;
            ASSERT_TRUE(ds.Locate("id", Variant(4)));
            EXPECT_EQ(ds.Locate("code", Variant(std::string(c.key)), c.options), expected != 0);
            EXPECT_EQ(ds.FieldByName("id").AsInteger(), expected ? expected : 4);
        }
    }
    // Numbers compare exactly whatever the options; with two fields each text field is loosened.
    EXPECT_FALSE(ds.Locate("n", Variant(1), loPartialKey));
    EXPECT_TRUE(ds.Locate(std::vector<std::string>{"code", "n"}, {Variant("be"), Variant(10)}, loPartialKey));
    EXPECT_EQ(ds.FieldByName("id").AsInteger(), 5);
}
