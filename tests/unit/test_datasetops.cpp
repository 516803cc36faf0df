#include <gtest/gtest.h>
#include <limits>
#include <memory>

#include "components/core/CloneClientDataSet.h"
#include "tests/support/tempdir.h"

using namespace quorvel;

namespace {

const std::vector<FieldDef> kDefs = {{"id", FieldType::AutoInc},
                                     {"nr", FieldType::Integer},
                                     {"grp", FieldType::Integer},
                                     {"t", FieldType::DateTime}};

void Add(ClientDataSet& ds, int nr, int grp = 0) {
    ds.Append();
    ds.FieldByName("nr").SetAsInteger(nr);
    ds.FieldByName("grp").SetAsInteger(grp);
    ds.Post();
}

struct Ui : IDataSetUi {
    std::vector<std::string> messages, errors;
    int waiting = 0;
    void ShowMessage(const std::string& t) override { messages.push_back(t); }
    void ShowError(const std::string& t) override { errors.push_back(t); }
    void BeginWait() override { ++waiting; }
    void EndWait() override { --waiting; }
};

struct UiScope {
    Ui ui;
    UiScope() { TCloneClientDataSet::SetUi(&ui); }
    ~UiScope() { TCloneClientDataSet::SetUi(nullptr); }
};

} // namespace

TEST(DataSetOperations, FreieNummerSuchenFindsTheNextFreeNumber) {
    struct Case {
        std::vector<int> values;
        int last;
        int expected;
    } cases[] = {
        {{1, 2, 3, 5}, 0, 4},
        {{5, 6}, 0, 1},
        {{1, 1, 2}, 0, 3}, // a repeated value does not count twice
        {{}, 0, 1},
        {{1, 2, 3, 5}, -7, 4}, // below 0 counts as 0
        {{1, 2, 3, 5}, 3, 4},
        {{1, 2, 3, 5}, 5, 6},
        {{1, 2, 3}, 10, 11},
        {{10, 11}, 9, 12},
        {{std::numeric_limits<int>::max() - 1},
         std::numeric_limits<int>::max() - 2,
         std::numeric_limits<int>::max()},
    };
    for (const Case& c : cases) {
        TCloneClientDataSet ds("ds");
        ds.CreateDataSet(kDefs);
        for (int v : c.values) Add(ds, v);
        EXPECT_EQ(ds.FreieNummerSuchen("nr", c.last, ""), c.expected) << c.last;
        EXPECT_EQ(ds.DisableCount(), 0);
    }
}

TEST(DataSetOperations, FreieNummerSuchenHonoursTheFilterTheEditedRecordAndOverflow) {
    UiScope scope;
    TCloneClientDataSet ds("ds");
    ds.CreateDataSet(kDefs);
    Add(ds, 1, 1);
    Add(ds, 2, 1);
    Add(ds, 3, 2);
    // Group 2 only: 1 and 2 are free there. A caller's OR stays inside its parentheses.
    EXPECT_EQ(ds.FreieNummerSuchen("nr", 0, "grp=2"), 1);
    EXPECT_EQ(ds.FreieNummerSuchen("nr", 0, "grp=1"), 3);
    // The record in edit (nr 2, group 1) does not count.
    ds.Locate("nr", Variant(2));
    ds.Edit();
    EXPECT_EQ(ds.FreieNummerSuchen("nr", 1, "grp=1 OR grp=1"), 2);
    ds.Cancel();
    EXPECT_TRUE(scope.ui.errors.empty());
    // Above the largest integer there is no number: an error, and 0.
    TCloneClientDataSet top("top");
    top.CreateDataSet(kDefs);
    Add(top, std::numeric_limits<int>::max());
    EXPECT_EQ(top.FreieNummerSuchen("nr", std::numeric_limits<int>::max() - 1, ""), 0);
    EXPECT_EQ(scope.ui.errors.size(), 1u);
    // A bad filter is an error shown in the box; the search still answers.
    EXPECT_EQ(ds.FreieNummerSuchen("nr", 0, "grp=("), 0);
    EXPECT_EQ(scope.ui.errors.size(), 2u);
    EXPECT_EQ(ds.DisableCount(), 0);
}

TEST(DataSetOperations, IstNummerFreiLooksAtTheShownRecords) {
    TCloneClientDataSet ds("ds");
    ds.CreateDataSet(kDefs);
    Add(ds, 7, 1);
    Add(ds, 8, 2);
    EXPECT_FALSE(ds.IstNummerFrei("nr", "7", 0, ""));
    EXPECT_TRUE(ds.IstNummerFrei("nr", "9", 0, ""));
    EXPECT_TRUE(ds.IstNummerFrei("nr", "7", 0, "grp=2"));
    EXPECT_TRUE(ds.IstNummerFrei("nr", "x", 0, ""));
    // In edit state the record with the given id is ignored.
    ds.Locate("nr", Variant(7));
    ds.Edit();
    const int id = ds.FieldByName("id").AsInteger();
    EXPECT_TRUE(ds.IstNummerFrei("nr", "7", id, ""));
    EXPECT_FALSE(ds.IstNummerFrei("nr", "8", id, "grp=2 OR grp=1"));
    EXPECT_TRUE(ds.IstNummerFrei("nr", "7", id, "grp=2 OR grp=1")); // the OR stays inside
    ds.Cancel();
    EXPECT_FALSE(ds.IstNummerFrei("nr", "7", id, ""));
}

TEST(DataSetOperations, IstNummerFreiLooksUpATextReferenceAsItStands) {
    TCloneClientDataSet ds("ds");
    ds.CreateDataSet({{"id", FieldType::AutoInc}, {"code", FieldType::String}, {"grp", FieldType::Integer}});
    for (const auto& [code, grp] : {std::pair{"303-101", 1}, {"303-102", 2}, {"12", 1}}) {
        ds.Append();
        ds.FieldByName("code").SetAsString(code);
        ds.FieldByName("grp").SetAsInteger(grp);
        ds.Post();
    }
    struct Case {
        const char* number;
        const char* filter;
        bool free;
    };
    const Case cases[] = {
        {"303-101", "", false},     {"303-102", "", false},
        {"303-103", "", true},      {"303-10", "", true}, // the whole text, not its beginning
        {"12", "", false},          {"12.0", "", true},   // a text, not a number
        {"303-102", "grp=1", true}, {"", "", true},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ds.IstNummerFrei("code", c.number, 0, c.filter), c.free) << c.number;
    // In edit state the record with the given id is passed over.
    ASSERT_TRUE(ds.Locate("code", Variant("303-101")));
    ds.Edit();
    EXPECT_TRUE(ds.IstNummerFrei("code", "303-101", ds.FieldByName("id").AsInteger(), ""));
    EXPECT_FALSE(ds.IstNummerFrei("code", "303-102", ds.FieldByName("id").AsInteger(), ""));
    ds.Cancel();
}

TEST(DataSetOperations, CloneDBTakesTheSourcesDesignSettings) {
    TCloneClientDataSet src("src");
    src.AddField("id", FieldType::AutoInc);
    Field& nr = src.AddField("nr", FieldType::Integer);
    Field& t = src.AddField("t", FieldType::DateTime);
    src.AddField("grp", FieldType::Integer);
    src.CreateDataSet(kDefs);
    nr.DisplayLabel = "Number";
    nr.DisplayWidth = 4;
    nr.DisplayFormat = "0.0";
    nr.Visible = false;
    nr.Required = true;
    nr.OnGetText = [](Field&, std::string& text, bool) { text = "src"; };
    t.DisplayFormat = "hh:nn";
    src.DisableExport = true;
    int srcPosts = 0, ownDeletes = 0;
    src.AfterPost = [&](ClientDataSet&) { ++srcPosts; };
    src.AfterDelete = [&](ClientDataSet&) { ADD_FAILURE() << "the clone keeps its own"; };
    Add(src, 4);

    TCloneClientDataSet clone("clone");
    clone.AddField("id", FieldType::AutoInc);
    Field& cnr = clone.AddField("nr", FieldType::Integer);
    Field& ct = clone.AddField("t", FieldType::DateTime);
    clone.AddField("grp", FieldType::Integer);
    cnr.OnGetText = [](Field&, std::string& text, bool) { text = "own"; };
    clone.AfterDelete = [&](ClientDataSet&) { ++ownDeletes; };
    clone.CloneDB(src, true, false, true);
    EXPECT_EQ(clone.CloneSource(), &src);
    EXPECT_EQ(cnr.DisplayLabel, "Number");
    EXPECT_EQ(cnr.DisplayWidth, 4);
    EXPECT_EQ(cnr.DisplayFormat, "0.0");
    EXPECT_EQ(ct.DisplayFormat, "hh:nn");
    EXPECT_FALSE(cnr.Visible);
    EXPECT_TRUE(cnr.Required);
    EXPECT_EQ(cnr.DisplayText(), "own");
    EXPECT_TRUE(clone.DisableExport);
    EXPECT_EQ(src.DisableCount(), 0);
    Add(clone, 5);
    EXPECT_EQ(srcPosts, 2); // the clone took the source's after-post handler
    clone.Delete();
    EXPECT_EQ(ownDeletes, 1);
}

TEST(DataSetOperations, CreateCloneLeavesBothCountersWhereTheyWere) {
    TCloneClientDataSet src("src");
    src.CreateDataSet(kDefs);
    src.SetIndexFieldNames("nr");
    src.SetFilter("nr>1");
    src.SetFiltered(true);
    Add(src, 1);
    Add(src, 2);
    auto plain = TCloneClientDataSet::CreateClone(src, false, false, "plain");
    auto reset = TCloneClientDataSet::CreateClone(src, true, false, "reset");
    EXPECT_EQ(src.DisableCount(), 0);
    EXPECT_EQ(plain->DisableCount(), 0);
    EXPECT_EQ(plain->IndexFieldNames(), "nr");
    EXPECT_EQ(plain->RecordCount(), 1);
    EXPECT_EQ(reset->IndexFieldNames(), "");
    EXPECT_EQ(reset->RecordCount(), 2);
    EXPECT_EQ(reset->GetBaseDataSet(), &src);
    // Keeping the own master-detail settings keeps the own index.
    TCloneClientDataSet keep("keep");
    keep.SetIndexFieldNames("grp");
    keep.CloneCursorWithDesignSettings(src, true, false, false, false);
    EXPECT_EQ(keep.IndexFieldNames(), "grp");
}

TEST(DataSetOperations, CopyCurrentDataSetCopiesByNameNullsIncluded) {
    TCloneClientDataSet a("a"), b("b");
    a.CreateDataSet(kDefs);
    b.CreateDataSet({{"id", FieldType::AutoInc},
                     {"nr", FieldType::Integer},
                     {"t", FieldType::DateTime},
                     {"other", FieldType::Float}});
    a.Append();
    a.FieldByName("nr").SetAsInteger(42);
    a.Post(); // t stays null
    b.Append();
    b.FieldByName("t").SetAsDateTime(1000.5);
    b.FieldByName("other").SetAsFloat(2.5);
    b.CopyCurrentDataSet(a);
    b.Post();
    EXPECT_EQ(b.FieldByName("nr").AsInteger(), 42);
    EXPECT_TRUE(b.FieldByName("t").IsNull());
    EXPECT_DOUBLE_EQ(b.FieldByName("other").AsFloat(), 2.5);
    EXPECT_EQ(b.FieldByName("id").AsInteger(), 1); // read-only: its own key
}

TEST(DataSetOperations, OpenAndCloseDBRoundTripThroughTheFile) {
    test::TempDir dir;
    const std::string path = dir.File("ops.xml");
    {
        TCloneClientDataSet ds("w");
        ds.CreateDataSet(kDefs);
        ds.FileName = path;
        Add(ds, 3);
        Add(ds, 4);
        ds.CloseDB(true);
        EXPECT_FALSE(ds.Active());
    }
    TCloneClientDataSet ds("r");
    ds.DisableExport = true;
    ds.OpenDB(path, true, true, false);
    EXPECT_EQ(ds.RecordCount(), 2);
    EXPECT_TRUE(ds.ReadOnly);
    EXPECT_TRUE(ds.DisableExport); // a lock set before stays
    EXPECT_THROW(ds.Append(), DataSetError);
    EXPECT_EQ(ds.DisableCount(), 0);
    TCloneClientDataSet missing("m");
    EXPECT_THROW(missing.OpenDB(dir.File("none.xml"), false, false, true), DataSetError);
    EXPECT_FALSE(missing.Active());
}

TEST(DataSetOperations, TheProviderIsAFileThatUpdatesAndRefreshesGoThrough) {
    test::TempDir dir;
    const std::string path = dir.File("provider.xml");
    {
        ClientDataSet seed("seed");
        seed.CreateDataSet(kDefs);
        Add(seed, 1, 1);
        Add(seed, 2, 2);
        Add(seed, 3, 1);
        seed.SaveToFile(path);
    }
    UiScope scope;
    TLocalDataServer server;
    server.AddProvider("orders", path);
    TCloneClientDataSet root("root");
    root.OpenDB(path, false, false, false);
    root.RemoteServer = &server;
    root.ProviderName = "orders";
    auto view = TCloneClientDataSet::CreateClone(root, false, false, "view");

    // An update with refresh keeps the current id and swallows one notification of the root.
    view->Locate("id", Variant(2));
    view->Edit();
    view->FieldByName("nr").SetAsInteger(20);
    view->Post();
    view->CDSUpdate(true);
    EXPECT_EQ(view->FieldByName("id").AsInteger(), 2);
    EXPECT_EQ(view->FieldByName("nr").AsInteger(), 20);
    EXPECT_EQ(scope.ui.waiting, 0);
    EXPECT_TRUE(root.DataChangeDisabled(nullptr, true));
    EXPECT_FALSE(root.DataChangeDisabled(nullptr, true));
    EXPECT_FALSE(view->DataChangeDisabled(nullptr, true)); // its own count stays 0
    {
        ClientDataSet check("check");
        check.LoadFromFile(path);
        EXPECT_EQ(check.Lookup("id", Variant(2), "nr").AsInteger(), 20);
    }

    // Read-only: the changes since the last apply are given up.
    view->Locate("id", Variant(3));
    view->Edit();
    view->FieldByName("nr").SetAsInteger(30);
    view->Post();
    root.ReadOnly = true;
    view->CDSUpdate(false);
    EXPECT_EQ(root.Lookup("id", Variant(3), "nr").AsInteger(), 3);
    root.ReadOnly = false;

    // Provider-side deletion of what the filter shows; the root is refreshed.
    view->SetFilter("grp=1");
    view->SetFiltered(true);
    view->EmptyDataSet(false, false, "");
    EXPECT_EQ(root.RecordCount(), 1);
    EXPECT_EQ(root.Lookup("id", Variant(2), "nr").AsInteger(), 20);
    EXPECT_EQ(root.DisableCount(), 0);

    // A failed apply: the message, then the silent abort.
    server.AddProvider("orders", dir.File("no-such-dir/provider.xml"));
    EXPECT_THROW(view->CDSUpdate(true), EAbort);
    ASSERT_EQ(scope.ui.messages.size(), 1u);
    EXPECT_EQ(scope.ui.messages[0],
              "Beim Aktualisieren der Daten ist ein Fehler aufgetreten! (Operation abgebrochen)");
    EXPECT_FALSE(view->ControlsDisabled());
    EXPECT_EQ(scope.ui.waiting, 0);
}

TEST(DataSetOperations, EmptyDataSetDeletesWhatTheCursorShowsWithoutAfterDelete) {
    TCloneClientDataSet ds("ds");
    ds.CreateDataSet(kDefs);
    for (int i = 1; i <= 5; ++i) Add(ds, i, i % 2);
    int deletes = 0;
    ds.AfterDelete = [&](ClientDataSet&) { ++deletes; };
    ds.SetFilter("grp=1");
    ds.SetFiltered(true);
    ds.EmptyDataSet(false, false, "");
    EXPECT_EQ(deletes, 0);
    EXPECT_TRUE(static_cast<bool>(ds.AfterDelete)); // given back
    EXPECT_EQ(ds.RecordCount(), 0);
    ds.SetFiltered(false);
    EXPECT_EQ(ds.RecordCount(), 2);
    EXPECT_EQ(ds.DisableCount(), 0);
    EXPECT_FALSE(ds.ControlsDisabled());
}

TEST(DataSetOperations, RefreshDataSetKeepsTheCurrentId) {
    TCloneClientDataSet ds("ds");
    ds.CreateDataSet(kDefs);
    for (int i = 1; i <= 3; ++i) Add(ds, i);
    ds.SetIndexFieldNames("nr");
    ds.Locate("id", Variant(2));
    ds.RefreshDataSet();
    EXPECT_EQ(ds.FieldByName("id").AsInteger(), 2);
    ds.RefreshRootDataSet(); // no remote server: nothing happens
    EXPECT_EQ(ds.FieldByName("id").AsInteger(), 2);
}

TEST(DataSetOperations, FreieTarvikNummerSuchenFindsTheNextThreeDigitNumber) {
    struct Case {
        std::vector<const char*> values;
        int last;
        const char* current;
        const char* expected;
    } cases[] = {
        {{"303-101", "303-102", "303-104"}, 100, "303-999", "303-103"},
        {{"303-101", "303-102", "303-104"}, 100, "30", "303-103"},      // too short: "303"
        {{"303-101", "303-102", "303-104"}, 998, "303-999", "303-103"}, // 998 starts at 101
        {{"303-101", "303-102", "303-104"}, -5, "303", "303-1"},        // below 0: 0
        {{"404-101", "303-101", "303-1x2", "303-102"}, 100, "303-5", "303-103"},
        {{"303-105", "303-101"}, 100, "303-1", "303-102"}, // ordered by the field
        {{}, 0, "", "303-1"},
        {{"a'b-001"}, 0, "a'b-7", "a'b-2"}, // a quote in the prefix is no end of the text
    };
    for (const Case& c : cases) {
        TCloneClientDataSet ds("ds");
        ds.CreateDataSet({{"id", FieldType::AutoInc}, {"code", FieldType::String}});
        for (const char* v : c.values) {
            ds.Append();
            ds.FieldByName("code").SetAsString(v);
            ds.Post();
        }
        EXPECT_EQ(ds.FreieTarvikNummerSuchen("code", c.last, c.current, ""), c.expected) << c.current;
    }
}

TEST(DataSetOperations, FreieTarvikNummerSuchenPassesOverTheEditedRecordAndKeepsTheCallersOr) {
    TCloneClientDataSet ds("ds");
    ds.CreateDataSet({{"id", FieldType::AutoInc}, {"code", FieldType::String}, {"grp", FieldType::Integer}});
    for (const char* v : {"303-101", "303-102", "303-103"}) {
        ds.Append();
        ds.FieldByName("code").SetAsString(v);
        ds.FieldByName("grp").SetAsInteger(1);
        ds.Post();
    }
    ds.Locate("code", Variant("303-102"));
    ds.Edit();
    EXPECT_EQ(ds.FreieTarvikNummerSuchen("code", 100, "303", "grp=1 OR grp=2"), "303-102");
    ds.Cancel();
    EXPECT_EQ(ds.FreieTarvikNummerSuchen("code", 100, "303", "grp=1 OR grp=2"), "303-104");
}

TEST(DataSetOperations, ASuspendedMasterQuietsItsDetailAndADetailEmptiesLocally) {
    TCloneClientDataSet master("master"), detail("detail");
    master.CreateDataSet({{"id", FieldType::AutoInc}, {"grp", FieldType::Integer}});
    master.Append();
    master.FieldByName("grp").SetAsInteger(1);
    master.Post();
    detail.CreateDataSet(kDefs);
    for (int i = 1; i <= 4; ++i) Add(detail, i, i % 2);
    detail.SetIndexFieldNames("grp");
    detail.SetMasterSource(&master, "grp");
    master.DisableDataChange();
    EXPECT_TRUE(detail.DataChangeDisabled(nullptr, false));
    master.EnableDataChange();
    EXPECT_FALSE(detail.DataChangeDisabled(nullptr, false));
    // Cloning keeps the own master link when asked to.
    TCloneClientDataSet keep("keep");
    keep.CreateDataSet(kDefs);
    keep.SetMasterSource(&master, "grp");
    keep.CloneCursorWithDesignSettings(detail, true, true, false, false);
    EXPECT_EQ(keep.MasterSource(), &master);
    detail.EmptyDataSet(true, false, "");
    detail.SetMasterSource(nullptr, {});
    EXPECT_EQ(detail.RecordCount(), 2); // group 0 stays
}
