// A snapshot of a table writes the rows as they stood when it was taken, whatever the table
// does afterwards, also while a writer on another thread is reading them.
#include <atomic>
#include <gtest/gtest.h>
#include <thread>

#include "platform/clientdataset.h"
#include "platform/files.h"
#include "tests/support/tempdir.h"

using namespace quorvel;

namespace {

const std::vector<FieldDef> kDefs = {
    {"Key", FieldType::AutoInc},    {"Count", FieldType::Integer}, {"Lots", FieldType::Float},
    {"Money", FieldType::Currency}, {"At", FieldType::DateTime},   {"Flag", FieldType::Boolean},
};

void AddRows(ClientDataSet& ds, int n, int from = 0) {
    for (int i = from; i < from + n; ++i) {
        ds.Append();
        ds.FieldByName("Count").SetAsInteger(i);
        if (i % 3) ds.FieldByName("Lots").SetAsFloat(0.01 * i);
        ds.FieldByName("Money").SetAsCurrency(-1.25 + i * 0.5);
        ds.FieldByName("At").SetAsDateTime(45000.0 + i * 0.001);
        if (i % 4) ds.FieldByName("Flag").SetAsBoolean(i % 2 == 0);
        ds.Post();
    }
}

// One change of each kind through `ds`: an edit (twice on one row, once to null), deletes at
// the start, the middle and the end, and appends that move the key counter on.
void ChangeEverything(ClientDataSet& ds, int round) {
    ds.First();
    ds.Edit();
    ds.FieldByName("Count").SetAsInteger(-1000 - round);
    ds.FieldByName("Lots").Clear();
    ds.Post();
    ds.Edit();
    ds.FieldByName("Money").SetAsCurrency(99.5 + round);
    ds.Post();
    ds.SetRecNo(ds.RecordCount() / 2);
    ds.Edit();
    ds.FieldByName("At").SetAsDateTime(46000.5);
    ds.FieldByName("Flag").SetAsBoolean(true);
    ds.Post();
    ds.Next();
    ds.Delete();
    ds.First();
    ds.Delete();
    ds.Last();
    ds.Delete();
    AddRows(ds, 3, 100000 + 3 * round);
    ds.Last();
    ds.Edit();
    ds.FieldByName("Count").SetAsInteger(7);
    ds.Post();
}

} // namespace

TEST(TableSnapshot, WritesTheRowsAsTheyWereWhenTaken) {
    test::TempDir dir;
    for (const int rows : {0, 5, 700}) {
        SCOPED_TRACE(rows);
        ClientDataSet ds;
        ds.CreateDataSet(kDefs);
        AddRows(ds, rows);
        if (rows > 0) {
            ds.First();
            ds.Delete(); // a gap in the keys before the snapshot
        }
        const std::string taken = ds.SaveToString();
        auto snap = ds.Snapshot();
        EXPECT_EQ(snap->RecordCount(), static_cast<size_t>(ds.RecordCount()));
        if (rows > 0) {
            ChangeEverything(ds, 0);
            ChangeEverything(ds, 1);
        } else {
            AddRows(ds, 2);
        }
        ASSERT_NE(ds.SaveToString(), taken);
        EXPECT_EQ(snap->SaveToString(), taken);
        snap->SaveToFile(dir.File("Orderlist.xml"));
        EXPECT_EQ(ReadWholeFile(dir.File("Orderlist.xml")).value_or(""), taken);
        // A second snapshot taken now keeps its own moment; the first is unchanged by it.
        const std::string later = ds.SaveToString();
        auto snap2 = ds.Snapshot();
        if (rows > 0) ChangeEverything(ds, 2);
        AddRows(ds, 1);
        EXPECT_EQ(snap2->SaveToString(), later);
        EXPECT_EQ(snap->SaveToString(), taken);
        // The table may even go: the snapshot keeps what it needs.
        ds.Close();
        EXPECT_EQ(snap->SaveToString(), taken);
        EXPECT_EQ(snap2->SaveToString(), later);
    }
}

TEST(TableSnapshot, ChangesThroughAnyCloneAreKeptFromTheSnapshot) {
    ClientDataSet ds, clone;
    ds.CreateDataSet(kDefs, IndexDef{"ix", "Key", true});
    clone.CloneCursor(ds, true);
    AddRows(clone, 50);
    const std::string taken = ds.SaveToString();
    auto snap = clone.Snapshot();
    ChangeEverything(ds, 0); // the engine's descending order: other rows than the clone's
    ChangeEverything(clone, 1);
    EXPECT_EQ(snap->SaveToString(), taken);
    snap.reset();
    // Dropped: changes go on as before and the table saves its present rows.
    ChangeEverything(ds, 2);
    ClientDataSet back;
    back.LoadFromString(ds.SaveToString());
    EXPECT_EQ(back.RecordCount(), ds.RecordCount());
}

TEST(TableSnapshot, AWriterOnAnotherThreadNeverSeesAChange) {
    // Enough rows for the writer to read them in many blocks while the table changes under it.
    ClientDataSet ds;
    ds.CreateDataSet(kDefs);
    AddRows(ds, 3000);
    for (int round = 0; round < 4; ++round) {
        SCOPED_TRACE(round);
        const std::string taken = ds.SaveToString();
        auto snap = ds.Snapshot();
        std::string written;
        std::atomic<bool> done{false};
        std::thread writer([&] {
            written = snap->SaveToString();
            done = true;
        });
        int changes = 0;
        while (!done || changes < 3) {
            ChangeEverything(ds, 10 * round + changes);
            ++changes;
        }
        writer.join();
        EXPECT_EQ(written, taken);
        snap.reset();
    }
}
