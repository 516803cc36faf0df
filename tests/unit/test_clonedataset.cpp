#include <gtest/gtest.h>
#include <memory>

#include "components/core/CloneClientDataSet.h"

using namespace quorvel;

namespace {

const std::vector<FieldDef> kDefs = {{"id", FieldType::AutoInc}, {"n", FieldType::Integer}};

void AppendN(ClientDataSet& ds, int n) {
    ds.Append();
    ds.FieldByName("n").SetAsInteger(n);
    ds.Post();
}

// A root, a clone of it and a clone of that clone, plus a second clone of the root.
struct Chain {
    TCloneClientDataSet root{"root"}, mid{"mid"}, outer{"outer"}, other{"other"};
    Chain() {
        root.CreateDataSet(kDefs);
        mid.CloneCursor(root, true);
        outer.CloneCursor(mid, true);
        other.CloneCursor(root, true);
    }
    std::vector<int> Counts() const {
        return {root.DisableCount(), mid.DisableCount(), outer.DisableCount(), other.DisableCount()};
    }
};

} // namespace

TEST(CloneClientDataSet, SuspensionNestsLikeACounterAlongTheChain) {
    Chain c;
    c.outer.DisableDataChange();
    EXPECT_EQ(c.Counts(), (std::vector<int>{1, 1, 1, 0}));
    EXPECT_TRUE(c.root.DataChangeDisabled(nullptr, false));
    EXPECT_TRUE(c.other.DataChangeDisabled(nullptr, false)); // through the root
    EXPECT_EQ(c.outer.GetBaseDataSet(), &c.root);
    c.outer.DisableDataChange();
    EXPECT_EQ(c.Counts(), (std::vector<int>{2, 2, 2, 0}));
    c.outer.EnableDataChange();
    c.outer.EnableDataChange();
    EXPECT_EQ(c.Counts(), (std::vector<int>{0, 0, 0, 0}));
    // A third enable changes nothing, on the chain neither.
    c.mid.DisableDataChange();
    c.outer.EnableDataChange();
    EXPECT_EQ(c.Counts(), (std::vector<int>{1, 1, 0, 0}));
    c.mid.EnableDataChange();
    EXPECT_FALSE(c.root.DataChangeDisabled(nullptr, false));
    EXPECT_FALSE(c.other.DataChangeDisabled(nullptr, false));
}

TEST(CloneClientDataSet, AnUpdateCountSwallowsOneNotificationAndARefreshItsInitiatorsOwn) {
    Chain c;
    c.root.m_nUpdateCount = 1;
    EXPECT_FALSE(c.root.DataChangeDisabled(nullptr, false)); // not asked to count
    EXPECT_TRUE(c.root.DataChangeDisabled(nullptr, true));
    EXPECT_FALSE(c.root.DataChangeDisabled(nullptr, true));

    // During a refresh only its initiator is told to stay quiet.
    struct Observer : IDataSetObserver {
        TCloneClientDataSet* ds = nullptr;
        const void* self = this;
        const void* stranger = nullptr;
        std::vector<std::pair<bool, bool>> seen;
        void DataChanged(Change, int) override {
            seen.emplace_back(ds->DataChangeDisabled(self, false), ds->DataChangeDisabled(stranger, false));
        }
        void Scrolled() override {}
    } o;
    int strangerTag = 0;
    o.ds = &c.mid;
    o.stranger = &strangerTag;
    c.root.AddObserver(&o);
    c.outer.RefreshAllDataSets(&o);
    c.root.RemoveObserver(&o);
    ASSERT_EQ(o.seen.size(), 1u);
    EXPECT_EQ(o.seen[0], std::make_pair(true, false));
    EXPECT_FALSE(c.mid.DataChangeDisabled(&o, false)); // the refresh is over
}

TEST(CloneClientDataSet, PostWithSuspensionGivesItBackOnceBeforeTheAfterPostHandler) {
    Chain c;
    std::vector<bool> disabledInHandler;
    c.outer.AfterPost = [&](ClientDataSet&) {
        disabledInHandler.push_back(c.root.DataChangeDisabled(nullptr, false));
    };
    c.outer.Append();
    c.outer.FieldByName("n").SetAsInteger(1);
    c.outer.Post(true);
    EXPECT_EQ(disabledInHandler, std::vector<bool>{false});
    EXPECT_EQ(c.Counts(), (std::vector<int>{0, 0, 0, 0}));
    // The application's handler is back in place.
    c.outer.Edit();
    c.outer.Post(false);
    EXPECT_EQ(disabledInHandler.size(), 2u);

    // A post that fails leaves the counters where they were and the handler in place.
    c.outer.FieldByName("n").Required = true;
    c.outer.DisableDataChange();
    c.outer.Append();
    EXPECT_THROW(c.outer.Post(true), DataSetError);
    EXPECT_EQ(c.Counts(), (std::vector<int>{1, 1, 1, 0}));
    c.outer.FieldByName("n").SetAsInteger(2);
    c.outer.Post(true);
    EXPECT_EQ(disabledInHandler.size(), 3u);
    EXPECT_EQ(c.Counts(), (std::vector<int>{1, 1, 1, 0}));
    c.outer.EnableDataChange();
}

TEST(CloneClientDataSet, AnAfterPostHandlerThatPostsAgainNestsAndEnds) {
    TCloneClientDataSet ds("ds");
    ds.CreateDataSet(kDefs);
    int calls = 0;
    ds.AfterPost = [&](ClientDataSet& d) {
        ++calls;
        EXPECT_FALSE(ds.DataChangeDisabled(nullptr, false));
        if (d.FieldByName("n").AsInteger() < 3) { // posts again, suspended, until n is 3
            d.Edit();
            d.FieldByName("n").SetAsInteger(d.FieldByName("n").AsInteger() + 1);
            ds.Post(true);
        }
    };
    ds.Append();
    ds.FieldByName("n").SetAsInteger(0);
    ds.Post(true);
    EXPECT_EQ(calls, 4);
    EXPECT_EQ(ds.FieldByName("n").AsInteger(), 3);
    EXPECT_EQ(ds.DisableCount(), 0);
    // Every level put back what it found: the application's handler runs once per post.
    ds.Edit();
    ds.Post();
    EXPECT_EQ(calls, 5);
}

TEST(CloneClientDataSet, ACloneForgetsADestroyedSourceAndACircleIsRefused) {
    auto root = std::make_unique<TCloneClientDataSet>("root");
    auto mid = std::make_unique<TCloneClientDataSet>("mid");
    TCloneClientDataSet outer("outer");
    root->CreateDataSet(kDefs);
    AppendN(*root, 7);
    mid->CloneCursor(*root, true);
    outer.CloneCursor(*mid, true);
    outer.DisableDataChange();
    // The middle member goes: it gives back what it held on the root, and the outer clone
    // forgets it.
    mid.reset();
    EXPECT_EQ(root->DisableCount(), 0);
    EXPECT_EQ(outer.CloneSource(), nullptr);
    EXPECT_EQ(outer.GetBaseDataSet(), &outer);
    outer.EnableDataChange();
    outer.DisableDataChange(); // walks no freed memory
    EXPECT_EQ(outer.DisableCount(), 1);
    outer.EnableDataChange();
    outer.First();
    EXPECT_EQ(outer.FieldByName("n").AsInteger(), 7); // the table lives on with its cursors

    // Cloning in a circle, directly or down a chain, is refused and changes nothing.
    TCloneClientDataSet a("a"), b("b"), c("c");
    a.CreateDataSet(kDefs);
    b.CloneCursor(a, true);
    c.CloneCursor(b, true);
    EXPECT_THROW(a.CloneCursor(b, true), DataSetError);
    EXPECT_THROW(a.CloneCursor(c, true), DataSetError);
    EXPECT_THROW(a.CloneCursor(a, true), DataSetError);
    EXPECT_EQ(a.CloneSource(), nullptr);
    EXPECT_TRUE(a.Active());
    EXPECT_EQ(c.GetBaseDataSet(), &a);
    // A source that goes while its clone is closed is forgotten too.
    auto d = std::make_unique<TCloneClientDataSet>("d");
    d->CloneCursor(a, true);
    TCloneClientDataSet e("e");
    e.CloneCursor(*d, true);
    e.Close();
    d.reset();
    EXPECT_EQ(e.CloneSource(), nullptr);
    root.reset();
    EXPECT_EQ(TCloneClientDataSet::Instances(), 5); // outer, a, b, c, e
}

TEST(CloneClientDataSet, DestroyingADatasetGivesBackItsSuspensionOnTheChain) {
    TCloneClientDataSet root("root");
    root.CreateDataSet(kDefs);
    {
        TCloneClientDataSet clone("clone");
        clone.CloneCursor(root, true);
        clone.DisableDataChange();
        clone.DisableDataChange();
        EXPECT_EQ(root.DisableCount(), 2);
    }
    EXPECT_EQ(root.DisableCount(), 0);
}
