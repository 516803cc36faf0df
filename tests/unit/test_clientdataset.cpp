#include <functional>
#include <gtest/gtest.h>
#include <tuple>

#include "platform/clientdataset.h"

using namespace quorvel;

namespace {

const std::vector<FieldDef> kDefs = {
    {"ID", FieldType::AutoInc},      {"Status", FieldType::Integer}, {"Lots", FieldType::Float},
    {"Gewinn", FieldType::Currency}, {"At", FieldType::DateTime},    {"Flag", FieldType::Boolean},
    {"Ticket", FieldType::Integer},
};
const IndexDef kDesc{"IdxDesc", "ID", true};

int AppendRow(ClientDataSet& ds, int status, double lots, int ticket = 0) {
    ds.Append();
    ds.FieldByName("Status").SetAsInteger(status);
    ds.FieldByName("Lots").SetAsFloat(lots);
    if (ticket) ds.FieldByName("Ticket").SetAsInteger(ticket);
    ds.Post();
    return ds.FieldByName("ID").AsInteger();
}

std::vector<int> Walk(ClientDataSet& ds) {
    std::vector<int> ids;
    for (ds.First(); !ds.Eof(); ds.Next()) ids.push_back(ds.FieldByName("ID").AsInteger());
    return ids;
}

struct Recorder : IDataSetObserver {
    std::vector<std::pair<Change, int>> changes;
    int scrolls = 0;
    void DataChanged(Change c, int row) override { changes.emplace_back(c, row); }
    void Scrolled() override { ++scrolls; }
};

} // namespace

TEST(ClientDataSet, ClonesShareTheTableAndSeeChangesAtOnce) {
    ClientDataSet engine("engine"), display("display");
    engine.CreateDataSet(kDefs, kDesc);
    for (int i = 0; i < 3; ++i) AppendRow(engine, 0, 0.1 * (i + 1));
    display.CloneCursor(engine, true);
    EXPECT_EQ(display.Index().field, ""); // settings reset: natural order
    EXPECT_EQ(Walk(engine), (std::vector<int>{3, 2, 1}));
    EXPECT_EQ(Walk(display), (std::vector<int>{1, 2, 3}));

    // An append through the clone is seen by the engine cursor's walk and lookups at once.
    const int id = AppendRow(display, 1, 0.5, 777);
    EXPECT_EQ(id, 4);
    EXPECT_EQ(engine.RecordCount(), 4);
    EXPECT_EQ(Walk(engine).front(), 4);
    EXPECT_EQ(engine.Lookup("Ticket", Variant(777), "ID").AsInteger(), 4);

    // An edit through the engine cursor is seen by the clone without a move.
    display.First();
    ASSERT_TRUE(engine.Locate("ID", Variant(1)));
    engine.Edit();
    engine.FieldByName("Status").SetAsInteger(5);
    engine.Post();
    EXPECT_EQ(display.FieldByName("Status").AsInteger(), 5);
    EXPECT_EQ(engine.Lookup("Status", Variant(5), "ID").AsInteger(), 1);

    // A delete through the clone.
    ASSERT_TRUE(display.Locate("ID", Variant(4)));
    display.Delete();
    EXPECT_EQ(engine.RecordCount(), 3);
    EXPECT_FALSE(engine.Locate("Ticket", Variant(777)));
    EXPECT_TRUE(engine.Lookup("Ticket", Variant(777), "ID").IsNull());
}

TEST(ClientDataSet, WalkingWhileEditingKeepsItsPlace) {
    ClientDataSet ds;
    ds.CreateDataSet(kDefs, kDesc);
    for (int i = 0; i < 5; ++i) AppendRow(ds, 0, 1.0);
    std::vector<int> seen;
    for (ds.First(); !ds.Eof(); ds.Next()) {
        seen.push_back(ds.FieldByName("ID").AsInteger());
        ds.Edit();
        ds.FieldByName("Status").SetAsInteger(1);
        ds.Post();
        // a lookup in the middle of the walk moves nothing
        EXPECT_EQ(ds.Lookup("ID", Variant(1), "Status").IsNull(), false);
    }
    EXPECT_EQ(seen, (std::vector<int>{5, 4, 3, 2, 1}));
    EXPECT_TRUE(ds.Locate("Status", Variant(0)) == false);
}

TEST(ClientDataSet, LocateFindsTheNewestFirstOnTheDescendingIndex) {
    ClientDataSet engine, display;
    engine.CreateDataSet(kDefs, kDesc);
    AppendRow(engine, 2, 1.0, 55);
    AppendRow(engine, 2, 1.0, 55);
    AppendRow(engine, 3, 1.0, 56);
    display.CloneCursor(engine, true);
    ASSERT_TRUE(engine.Locate("Ticket", Variant(55)));
    EXPECT_EQ(engine.FieldByName("ID").AsInteger(), 2);
    ASSERT_TRUE(display.Locate("Ticket", Variant(55)));
    EXPECT_EQ(display.FieldByName("ID").AsInteger(), 1);
    // two fields, one of them a float scanned
    ASSERT_TRUE(engine.Locate({"Status", "Lots"}, {Variant(2), Variant(1.0)}));
    EXPECT_EQ(engine.FieldByName("ID").AsInteger(), 2);
    EXPECT_EQ(engine.RecNo(), 2);
    // not found: the cursor stays
    EXPECT_FALSE(engine.Locate({"Status", "Ticket"}, {Variant(3), Variant(55)}));
    EXPECT_EQ(engine.FieldByName("ID").AsInteger(), 2);
    EXPECT_EQ(engine.Lookup("Ticket", Variant(55), "ID").AsInteger(), 2);
    EXPECT_EQ(display.Lookup("Ticket", Variant(55), "ID").AsInteger(), 1);
}

TEST(ClientDataSet, RecordNumbersBookmarksAndDeletes) {
    ClientDataSet ds;
    ds.CreateDataSet(kDefs);
    EXPECT_EQ(ds.RecNo(), -1);
    EXPECT_TRUE(ds.Eof());
    for (int i = 0; i < 4; ++i) AppendRow(ds, 0, 1.0);
    ds.First();
    ds.Next();
    EXPECT_EQ(ds.RecNo(), 2);
    const Bookmark b = ds.GetBookmark();
    ds.Last();
    EXPECT_EQ(ds.RecNo(), 4);
    ds.GotoBookmark(b);
    EXPECT_EQ(ds.FieldByName("ID").AsInteger(), 2);
    ds.FreeBookmark(b);
    // deleting moves to the next record; the bookmark of a deleted record is gone
    ds.Delete();
    EXPECT_EQ(ds.FieldByName("ID").AsInteger(), 3);
    EXPECT_EQ(ds.RecNo(), 2);
    EXPECT_FALSE(ds.BookmarkValid(b));
    EXPECT_THROW(ds.GotoBookmark(b), DataSetError);
    ds.Last();
    ds.Delete(); // the last one: back to the previous
    EXPECT_EQ(ds.FieldByName("ID").AsInteger(), 3);
    EXPECT_EQ(ds.RecordCount(), 2);
    // keys of deleted records do not come back
    EXPECT_EQ(AppendRow(ds, 0, 1.0), 5);
}

TEST(ClientDataSet, NullsReadAsZeroAndTypedAccessorsConvert) {
    ClientDataSet ds;
    ds.CreateDataSet(kDefs);
    ds.Append();
    ds.Post();
    for (const char* f : {"Status", "Lots", "Gewinn", "At", "Flag", "Ticket"}) {
        Field& fld = ds.FieldByName(f);
        EXPECT_TRUE(fld.IsNull()) << f;
        EXPECT_EQ(fld.AsInteger(), 0) << f;
        EXPECT_EQ(fld.AsFloat(), 0.0) << f;
        EXPECT_FALSE(fld.AsBoolean()) << f;
        EXPECT_EQ(fld.AsString(), "") << f;
        EXPECT_EQ(fld.DisplayText(), "") << f;
    }
    EXPECT_FALSE(ds.FieldByName("ID").IsNull()); // assigned on post
    ds.Edit();
    ds.FieldByName("Lots").SetAsFloat(2.5);
    ds.FieldByName("Flag").SetAsBoolean(true);
    ds.FieldByName("Status").SetAsFloat(2.5); // to the even neighbour
    ds.Post();
    EXPECT_EQ(ds.FieldByName("Status").AsInteger(), 2);
    EXPECT_TRUE(ds.FieldByName("Flag").AsBoolean());
    ds.Edit();
    ds.FieldByName("Lots").Clear();
    ds.Post();
    EXPECT_TRUE(ds.FieldByName("Lots").IsNull());
    // the engine refuses what it cannot hold or may not change
    EXPECT_THROW(ds.FieldByName("Lots").SetAsFloat(1.0), DataSetError); // not in edit state
    ds.Edit();
    EXPECT_THROW(ds.FieldByName("ID").SetAsInteger(9), DataSetError);
    EXPECT_THROW(ds.FieldByName("Lots").SetAsFloat(std::numeric_limits<double>::quiet_NaN()), DataSetError);
    EXPECT_THROW(ds.FieldByName("At").SetAsDateTime(1e9), DataSetError);
    ds.Cancel();
    EXPECT_THROW(ds.FieldByName("Nope"), DataSetError);
}

TEST(ClientDataSet, SumsAreNullOnAnEmptyTableAndFollowEveryChange) {
    ClientDataSet engine, display;
    engine.CreateDataSet(kDefs, kDesc);
    display.CloneCursor(engine, true);
    Aggregate& sum = engine.AddAggregate("SumGewinn", "Sum(Gewinn)");
    sum.Active = true;
    engine.AggregatesActive = true;
    EXPECT_TRUE(sum.Value().IsNull());
    AppendRow(display, 0, 1.0);
    EXPECT_TRUE(sum.Value().IsNull()); // nothing to add yet
    auto setProfit = [&](int id, double v) {
        ASSERT_TRUE(display.Locate("ID", Variant(id)));
        display.Edit();
        display.FieldByName("Gewinn").SetAsCurrency(v);
        display.Post();
    };
    AppendRow(display, 0, 1.0);
    setProfit(1, -12.5);
    EXPECT_DOUBLE_EQ(sum.Value().AsFloat(), -12.5);
    setProfit(2, 12.5);
    EXPECT_FALSE(sum.Value().IsNull());
    EXPECT_EQ(sum.Value().AsFloat(), 0.0); // exactly
    setProfit(2, 0.1);
    setProfit(1, 0.2);
    EXPECT_EQ(sum.Value().AsFloat(), 0.3);
    display.Delete(); // record 1 with its 0.2
    EXPECT_EQ(sum.Value().AsFloat(), 0.1);
    display.First();
    display.Delete();
    EXPECT_TRUE(sum.Value().IsNull());
    EXPECT_THROW(engine.AddAggregate("x", "Avg(Lots)"), DataSetError);
}

TEST(ClientDataSet, WalkFilterVisitsOnlyMatchingRecordsInOrder) {
    ClientDataSet ds;
    ds.CreateDataSet(kDefs, kDesc);
    const int statuses[] = {5, 0, 5, 1, 0, 6};
    for (int s : statuses) AppendRow(ds, s, 1.0);
    ds.SetWalkFilter("Status", {0, 1});
    std::vector<int> seen;
    for (ds.First(); !ds.Eof(); ds.Next()) {
        const int id = ds.FieldByName("ID").AsInteger();
        seen.push_back(id);
        if (id == 5) {
            // the body moves the cursor and changes a record still ahead
            const Bookmark b = ds.GetBookmark();
            ASSERT_TRUE(ds.Locate("ID", Variant(2)));
            ds.Edit();
            ds.FieldByName("Status").SetAsInteger(5);
            ds.Post();
            ds.GotoBookmark(b);
        }
    }
    EXPECT_EQ(seen, (std::vector<int>{5, 4})); // 2 no longer matches when the walk gets there
    ds.ClearWalkFilter();
    EXPECT_EQ(Walk(ds).size(), 6u);
}

// The trigger moves the cursor to a leg's counter order and back in the middle of its walk:
// Locate, GotoBookmark and SetRecNo keep the walk, while Prior (like Last) ends it.
TEST(ClientDataSet, WalkFilterOutlivesLocateAndBookmarksButNotPrior) {
    ClientDataSet ds;
    ds.CreateDataSet(kDefs, kDesc);
    const int statuses[] = {5, 0, 5, 1, 0, 6}; // IDs 1..6; walked newest first: 5, 4, 2
    for (int s : statuses) AppendRow(ds, s, 1.0);
    ds.SetWalkFilter("Status", {0, 1});
    Bookmark four = kNoBookmark;
    for (ds.First(); !ds.Eof(); ds.Next())
        if (ds.FieldByName("ID").AsInteger() == 4) four = ds.GetBookmark();
    struct Case {
        const char* what;
        std::function<void()> move; // made with the cursor on the walk's first record, 5
        std::vector<int> next;      // what Next visits afterwards
    };
    const Case cases[] = {
        {"Locate before the walk's records", [&] { ds.Locate("ID", Variant(6)); }, {5, 4, 2}},
        {"Locate between them", [&] { ds.Locate("ID", Variant(3)); }, {2}},
        {"Locate behind them", [&] { ds.Locate("ID", Variant(1)); }, {}},
        {"GotoBookmark", [&] { ds.GotoBookmark(four); }, {2}},
        {"SetRecNo", [&] { ds.SetRecNo(2); }, {4, 2}},
        {"Prior ends the walk", [&] { ds.Prior(); }, {5, 4, 3, 2, 1}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ds.First();
        ASSERT_EQ(ds.FieldByName("ID").AsInteger(), 5);
        c.move();
        std::vector<int> seen;
        for (ds.Next(); !ds.Eof(); ds.Next()) seen.push_back(ds.FieldByName("ID").AsInteger());
        EXPECT_EQ(seen, c.next);
        // The filter stays set: the next First picks anew.
        EXPECT_EQ(Walk(ds), (std::vector<int>{5, 4, 2}));
    }
    ds.Last();
    EXPECT_EQ(Walk(ds), (std::vector<int>{5, 4, 2}));
    ds.ClearWalkFilter();
    EXPECT_EQ(Walk(ds).size(), 6u);
}

TEST(ClientDataSet, EventsCalculatedFieldsAndControls) {
    ClientDataSet engine, display;
    display.AddCalculatedField("Nr", FieldType::Integer);
    display.AddField("ID", FieldType::AutoInc);
    display.AddField("Status", FieldType::Integer).OnGetText = [](Field& f, std::string& t, bool) {
        t = f.AsInteger() == 1 ? "one" : "other";
    };
    display.AddField("At", FieldType::DateTime).DisplayFormat = "hh:nn:ss,zzz";
    display.AddField("Gewinn", FieldType::Currency).DisplayFormat = "0.00";
    int opened = 0, posted = 0, deleted = 0;
    display.AfterOpen = [&](ClientDataSet&) { ++opened; };
    display.AfterPost = [&](ClientDataSet&) { ++posted; };
    display.AfterDelete = [&](ClientDataSet&) { ++deleted; };
    display.OnCalcFields = [](ClientDataSet& ds) { ds.FieldByName("Nr").SetAsInteger(ds.RecNo()); };
    engine.CreateDataSet(kDefs, kDesc);
    display.CloneCursor(engine, true);
    EXPECT_EQ(opened, 1);
    EXPECT_EQ(display.Fields().size(), 5u); // its own fields only
    EXPECT_EQ(display.FindField("Lots"), nullptr);

    Recorder rec;
    display.AddObserver(&rec);
    AppendRow(engine, 1, 1.0);
    AppendRow(engine, 0, 1.0);
    EXPECT_EQ(posted, 0); // the engine cursor's post raises the engine's event only
    ASSERT_EQ(rec.changes.size(), 2u);
    EXPECT_EQ(rec.changes[1], std::make_pair(IDataSetObserver::Change::Appended, 2));
    display.Last();
    EXPECT_EQ(display.FieldByName("Nr").AsInteger(), 2);
    display.Edit();
    display.FieldByName("At").SetAsDateTime(EncodeDateTime(2024, 1, 2, 3, 4, 5, 67));
    display.FieldByName("Gewinn").SetAsCurrency(-12.5);
    display.Post();
    EXPECT_EQ(posted, 1);
    EXPECT_EQ(display.FieldByName("At").DisplayText(), "03:04:05,067");
    EXPECT_EQ(display.FieldByName("Gewinn").DisplayText(), "-12,50");
    EXPECT_EQ(display.FieldByName("Status").DisplayText(), "other");
    std::string firstRow;
    display.PeekRecord(1, [&] {
        firstRow = display.FieldByName("Nr").AsString() + display.FieldByName("Status").DisplayText();
    });
    EXPECT_EQ(firstRow, "1one");
    EXPECT_EQ(display.RecNo(), 2); // peeking moved nothing

    rec.changes.clear();
    display.DisableControls();
    display.Delete();
    EXPECT_EQ(deleted, 1);
    EXPECT_TRUE(rec.changes.empty());
    display.EnableControls();
    ASSERT_EQ(rec.changes.size(), 1u);
    EXPECT_EQ(rec.changes[0].first, IDataSetObserver::Change::Reset);
    display.RemoveObserver(&rec);

    display.Close();
    EXPECT_FALSE(display.Active());
    EXPECT_TRUE(engine.Active());
    EXPECT_THROW(display.RecordCount(), DataSetError);
}

TEST(ClientDataSet, APersistentFieldMissingOrOfAnotherTypeDoesNotOpen) {
    ClientDataSet engine;
    engine.CreateDataSet(kDefs);
    ClientDataSet a, b;
    a.AddField("Missing", FieldType::Integer);
    EXPECT_THROW(a.CloneCursor(engine, true), DataSetError);
    EXPECT_FALSE(a.Active());
    b.AddField("Lots", FieldType::Currency);
    EXPECT_THROW(b.CloneCursor(engine, true), DataSetError);
    EXPECT_FALSE(b.Active());
}

TEST(ClientDataSet, ObserversHearEachChangeBeforeAndAfterItReachesTheTable) {
    using C = IDataSetObserver::Change;
    struct Heard : IDataSetObserver {
        ClientDataSet* ds = nullptr;
        std::vector<std::tuple<char, C, int, int>> calls; // before/after, change, row, records then
        void DataChanging(Change c, int row) override { calls.emplace_back('b', c, row, ds->RecordCount()); }
        void DataChanged(Change c, int row) override { calls.emplace_back('a', c, row, ds->RecordCount()); }
        void Scrolled() override {}
    };
    struct Case {
        const char* name;
        IndexDef index;
        std::function<void(ClientDataSet&)> act;
        std::vector<std::tuple<char, C, int, int>> calls;
    };
    const IndexDef byLots{"IdxLots", "Lots", false};
    auto setLots = [](int id, double lots) {
        return [id, lots](ClientDataSet& ds) {
            ASSERT_TRUE(ds.Locate("ID", Variant(id)));
            ds.Edit();
            ds.FieldByName("Lots").SetAsFloat(lots);
            ds.Post();
        };
    };
    auto remove = [](int id) {
        return [id](ClientDataSet& ds) {
            ASSERT_TRUE(ds.Locate("ID", Variant(id)));
            ds.Delete();
        };
    };
    // Three records with lots 0.1, 0.2, 0.3 (IDs 1, 2, 3) before each case.
    const Case cases[] = {
        {"append, natural order",
         {},
         [](ClientDataSet& ds) { AppendRow(ds, 0, 0.5); },
         {{'b', C::Appended, 4, 3}, {'a', C::Appended, 4, 4}}},
        {"append, descending index",
         kDesc,
         [](ClientDataSet& ds) { AppendRow(ds, 0, 0.5); },
         {{'b', C::Appended, 1, 3}, {'a', C::Appended, 1, 4}}},
        {"append between on an index",
         byLots,
         [](ClientDataSet& ds) { AppendRow(ds, 0, 0.15); },
         {{'b', C::Appended, 2, 3}, {'a', C::Appended, 2, 4}}},
        {"edit in place", {}, setLots(2, 0.9), {{'b', C::Edited, 2, 3}, {'a', C::Edited, 2, 3}}},
        {"edit that moves on the index",
         byLots,
         setLots(1, 0.9),
         {{'b', C::Edited, 1, 3}, {'a', C::Edited, 3, 3}}},
        {"delete, natural order", {}, remove(2), {{'b', C::Deleted, 2, 3}, {'a', C::Deleted, 2, 2}}},
        {"delete, descending index", kDesc, remove(3), {{'b', C::Deleted, 1, 3}, {'a', C::Deleted, 1, 2}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ClientDataSet engine, watched;
        engine.CreateDataSet(kDefs);
        for (int i = 1; i <= 3; ++i) AppendRow(engine, 0, 0.1 * i);
        watched.CloneCursor(engine, true);
        watched.SetIndex(c.index);
        Heard heard;
        heard.ds = &watched;
        watched.AddObserver(&heard);
        c.act(engine);
        EXPECT_EQ(heard.calls, c.calls);
        watched.RemoveObserver(&heard);
    }
}

TEST(ClientDataSet, AnEditMovesTheRecordInEveryIndexAndSumOfItsChangedColumns) {
    ClientDataSet engine, byTicket;
    engine.CreateDataSet(kDefs);
    for (int i = 1; i <= 4; ++i) AppendRow(engine, i % 2, 0.25 * i, 100 * i);
    byTicket.CloneCursor(engine, true);
    byTicket.SetIndex({"IdxTicket", "Ticket", true});
    Aggregate& sum = engine.AddAggregate("SumLots", "Sum(Lots)");
    sum.Active = true;
    engine.AggregatesActive = true;
    ASSERT_EQ(engine.Lookup("Ticket", Variant(200), "ID").AsInteger(), 2); // builds the key index
    ASSERT_EQ(sum.Value().AsFloat(), 2.5);
    auto edit = [&](int id, const Variant& ticket, const Variant& lots) {
        ASSERT_TRUE(engine.Locate("ID", Variant(id)));
        engine.Edit();
        engine.FieldByName("Ticket").SetValue(ticket);
        engine.FieldByName("Lots").SetValue(lots);
        engine.Post();
    };
    edit(2, Variant(500), Variant(1.0));
    EXPECT_TRUE(engine.Lookup("Ticket", Variant(200), "ID").IsNull());
    EXPECT_EQ(engine.Lookup("Ticket", Variant(500), "ID").AsInteger(), 2);
    EXPECT_EQ(Walk(byTicket), (std::vector<int>{2, 4, 3, 1}));
    EXPECT_EQ(sum.Value().AsFloat(), 3.0);
    edit(4, Variant(), Variant()); // to null: lowest on the index, out of the key index and sum
    EXPECT_TRUE(engine.Lookup("Ticket", Variant(400), "ID").IsNull());
    EXPECT_EQ(Walk(byTicket), (std::vector<int>{2, 3, 1, 4}));
    EXPECT_EQ(sum.Value().AsFloat(), 2.0);
    edit(4, Variant(200), Variant(0.5)); // and back
    EXPECT_EQ(engine.Lookup("Ticket", Variant(200), "ID").AsInteger(), 4);
    EXPECT_EQ(Walk(byTicket), (std::vector<int>{2, 3, 4, 1}));
    EXPECT_EQ(sum.Value().AsFloat(), 2.5);
    edit(3, Variant(300), Variant(0.75)); // nothing changes
    EXPECT_EQ(engine.Lookup("Ticket", Variant(300), "ID").AsInteger(), 3);
    EXPECT_EQ(Walk(byTicket), (std::vector<int>{2, 3, 4, 1}));
    EXPECT_EQ(sum.Value().AsFloat(), 2.5);
}

TEST(ClientDataSet, IndexFieldNamesOrderByEachFieldInTurnAndKeepTheCurrentRecord) {
    ClientDataSet ds;
    ds.CreateDataSet(kDefs);
    // (Status, Lots): IDs 1..6
    const std::pair<int, double> rows[] = {{1, 0.3}, {0, 0.2}, {1, 0.1}, {0, 0.2}, {2, 0.0}, {0, 0.1}};
    for (const auto& [status, lots] : rows) AppendRow(ds, status, lots);
    ds.Append();
    ds.Post(); // ID 7: Status and Lots null, lowest on every index
    struct Case {
        std::string names;
        std::vector<int> order;
    };
    const Case cases[] = {
        {"Status", {7, 2, 4, 6, 1, 3, 5}},
        {"Status;Lots", {7, 6, 2, 4, 3, 1, 5}},
        {" Lots ; Status ", {7, 5, 6, 3, 2, 4, 1}},
        {"Lots;Status;ID", {7, 5, 6, 3, 2, 4, 1}},
        {"", {1, 2, 3, 4, 5, 6, 7}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.names);
        ASSERT_TRUE(ds.Locate("ID", Variant(4)));
        ds.SetIndexFieldNames(c.names);
        EXPECT_EQ(ds.IndexFieldNames(), c.names);
        EXPECT_EQ(ds.FieldByName("ID").AsInteger(), 4); // the current record stays
        EXPECT_EQ(Walk(ds), c.order);
    }
    // A composite index keeps its order as records are appended and edited.
    ds.SetIndexFieldNames("Status;Lots");
    AppendRow(ds, 0, 0.15); // ID 8 between 6 and 2
    ASSERT_TRUE(ds.Locate("ID", Variant(5)));
    ds.Edit();
    ds.FieldByName("Status").SetAsInteger(0); // 5 moves to the front of Status 0
    ds.Post();
    EXPECT_EQ(Walk(ds), (std::vector<int>{7, 5, 6, 8, 2, 4, 3, 1}));
    // An unknown field is refused and the index stays.
    EXPECT_THROW(ds.SetIndexFieldNames("Status;Nope"), DataSetError);
    EXPECT_EQ(ds.IndexFieldNames(), "Status;Lots");
    EXPECT_EQ(Walk(ds), (std::vector<int>{7, 5, 6, 8, 2, 4, 3, 1}));
}
