// The order list's journal: its records read back as they were written, a torn tail dropped
// whole, damage set aside with what came before it kept, its replay over Orderlist.xml, its
// new start after a save (with the changes after the snapshot kept), and a journal that cannot
// be written.
#include <gtest/gtest.h>

#include <algorithm>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <poll.h>
#include <unistd.h>

#include "desk/core/orderjournal.h"
#include "desk/core/orderlist.h"
#include "deskharness.h"
#include "platform/clientdataset.h"
#include "platform/files.h"
#include "tests/support/linkanswers.h"
#include "tests/support/tempdir.h"

using namespace quorvel;
using namespace quorvel::test;
namespace fs = std::filesystem;

namespace {

std::string ReadAll(const std::string& path) {
    return ReadWholeFile(path).value_or(std::string());
}

void Overwrite(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
}

std::vector<fs::path> SetAside(const fs::path& dir) {
    std::vector<fs::path> out;
    for (auto& e : fs::directory_iterator(dir))
        if (e.path().filename().string().find("Orderlist.journal.damaged-") == 0) out.push_back(e.path());
    return out;
}

// One run of a desk's order list: loaded from Orderlist.xml (or empty), the journal replayed
// over it, every change recorded.
struct ListRun {
    ClientDataSet list{"list"};
    OrderJournal journal;
    ListFileId base;
    std::vector<std::string> notes;

    ListRun(const TempDir& dir) : journal(dir.File("Orderlist.journal")) {
        const std::string xml = dir.File("Orderlist.xml");
        if (FileExists(xml)) {
            std::string bytes = ReadAll(xml);
            base = ListFileId::Of(bytes);
            list.LoadFromString(std::move(bytes), IdxOrderIDDesc());
        } else {
            list.CreateDataSet(OrderListFieldDefs(), IdxOrderIDDesc());
        }
        journal.Open(list, base, notes);
        list.SetChangeListener([this](const RecordChange& c) { journal.Record(c); });
    }
    std::string State() const { return list.SaveToString(); }

    int32_t AddLeg(int32_t table, int32_t type, double lots) {
        list.Append();
        list.FieldByName("TableID").SetAsInteger(table);
        list.FieldByName("OrderType").SetAsInteger(type);
        list.FieldByName("Lots").SetAsFloat(lots);
        list.FieldByName("Status").SetAsInteger(stToOpen);
        list.FieldByName("Zeitpunkt").SetAsDateTime(45000.5);
        list.FieldByName("SlippageAusgleich").SetAsBoolean(true);
        list.Post();
        return list.FieldByName("OrderID").AsInteger();
    }
    void Set(int32_t id, const std::string& field, const Variant& v) {
        ASSERT_TRUE(list.Locate("OrderID", Variant(id)));
        list.Edit();
        list.FieldByName(field).SetValue(v);
        list.Post();
    }
    void Delete(int32_t id) {
        ASSERT_TRUE(list.Locate("OrderID", Variant(id)));
        list.Delete();
    }
};

// Orderlist.xml with two legs.
void WriteBaseList(const TempDir& dir) {
    ClientDataSet list("base");
    list.CreateDataSet(OrderListFieldDefs(), IdxOrderIDDesc());
    for (int32_t type : {int32_t{otBuy}, int32_t{otSell}}) {
        list.Append();
        list.FieldByName("OrderType").SetAsInteger(type);
        list.FieldByName("Status").SetAsInteger(stToOpen);
        list.FieldByName("Lots").SetAsFloat(0.1);
        list.Post();
    }
    list.SaveToFile(dir.File("Orderlist.xml"));
}

// A run that makes one change of each kind and keeps the list's state after each.
struct Played {
    std::vector<std::string> states; // states[k]: after the first k changes
    std::vector<size_t> ends;        // where the journal's records ended after each change
    std::string records;             // the journal's records at the end, without its room
};
Played PlayChanges(const TempDir& dir) {
    Played p;
    ListRun run(dir);
    EXPECT_TRUE(run.notes.empty());
    auto step = [&] {
        run.journal.Commit();
        p.states.push_back(run.State());
        p.ends.push_back(run.journal.Length());
    };
    step();
    const int32_t a = run.AddLeg(3, otBuy, 0.25);
    step();
    const int32_t b = run.AddLeg(3, otSell, 0.25);
    step();
    run.Set(a, "Ticket", Variant(int32_t{7001}));
    step();
    run.Set(a, "Kurs", Variant(1.23456));
    step();
    run.Set(b, "Lots", Variant()); // to null
    step();
    run.Delete(a); // not the last record
    step();
    run.AddLeg(4, otSell, 0.5);
    step();
    p.records = ReadAll(dir.File("Orderlist.journal")).substr(0, p.ends.back());
    return p;
}

TEST(OrderJournal, ReplaysEveryKindOfChangeOverTheListItContinues) {
    for (const bool withFile : {true, false}) {
        SCOPED_TRACE(withFile);
        TempDir dir;
        if (withFile) WriteBaseList(dir);
        const Played played = PlayChanges(dir);
        ListRun again(dir);
        EXPECT_TRUE(again.notes.empty());
        EXPECT_EQ(again.State(), played.states.back());
        // The list goes on from there: the next key follows the replayed ones.
        const int32_t next = again.AddLeg(1, otBuy, 0.1);
        EXPECT_EQ(next, withFile ? 6 : 4);
        // The journal was written anew with the replayed changes: a third run sees the same.
        again.journal.Commit();
        const std::string expected = again.State();
        ListRun third(dir);
        EXPECT_TRUE(third.notes.empty());
        EXPECT_EQ(third.State(), expected);
    }
}

TEST(OrderJournal, ATornTailIsDroppedWholeAndNothingIsSetAside) {
    TempDir dir;
    WriteBaseList(dir);
    const Played played = PlayChanges(dir);
    const std::string& full = played.records;
    const std::string room(OrderJournal::kRoomStep, '\0');
    const size_t last = played.ends[played.ends.size() - 2]; // where the last change begins
    ASSERT_GT(full.size(), last + 8);
    struct Case {
        const char* what;
        std::string bytes;
        size_t changes; // applied
    };
    const Case cases[] = {
        {"cut in the length", full.substr(0, last + 2), played.states.size() - 2},
        {"cut after the frame", full.substr(0, last + 8), played.states.size() - 2},
        {"cut in the body", full.substr(0, full.size() - 1), played.states.size() - 2},
        {"last body garbled", full.substr(0, full.size() - 1) + "\x7f", played.states.size() - 2},
        {"zeros after the end", full + std::string(64, '\0'), played.states.size() - 1},
        // Written in part over the room the journal keeps ahead of its writes.
        {"length cut over the room", full.substr(0, last + 2) + room, played.states.size() - 2},
        {"body cut over the room", full.substr(0, full.size() - 5) + room, played.states.size() - 2},
        {"the room behind whole records", full + room, played.states.size() - 1},
        {"whole", full, played.states.size() - 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Overwrite(dir.File("Orderlist.journal"), c.bytes);
        {
            ListRun run(dir);
            EXPECT_TRUE(run.notes.empty()) << run.notes.front();
            EXPECT_EQ(run.State(), played.states[c.changes]);
        }
        EXPECT_TRUE(SetAside(dir.Path()).empty());
    }
}

TEST(OrderJournal, DamageIsSetAsideAndReportedWithTheChangesBeforeItKept) {
    TempDir dir;
    WriteBaseList(dir);
    const Played played = PlayChanges(dir);
    const std::string& full = played.records;
    std::string garbledMiddle = full;
    garbledMiddle[played.ends[2] + 9] ^= 0x55; // in the body of the third change, more behind it
    std::string hugeLength = full;
    for (int i = 0; i < 4; ++i) hugeLength[played.ends[2] + static_cast<size_t>(i)] = i == 3 ? '\x40' : '\0';
    // The third change never reached the disk, the ones after it did (pages written out of
    // order by a machine that lost power over a room of zeros).
    std::string hole = full;
    std::fill(hole.begin() + static_cast<long>(played.ends[2]),
              hole.begin() + static_cast<long>(played.ends[3]), '\0');
    std::string otherList = full;
    {
        // The same changes, written for a list file of other content.
        TempDir other;
        ClientDataSet l("other");
        l.CreateDataSet(OrderListFieldDefs(), IdxOrderIDDesc());
        l.SaveToFile(other.File("Orderlist.xml"));
        otherList =
            journal::Header(ListFileId::Of(ReadAll(other.File("Orderlist.xml"))), OrderListFieldDefs()) +
            full.substr(
                journal::Header(ListFileId::Of(ReadAll(dir.File("Orderlist.xml"))), OrderListFieldDefs())
                    .size());
    }
    struct Case {
        const char* what;
        std::string bytes;
        size_t changes;   // applied
        const char* note; // part of the note
    };
    const Case cases[] = {
        {"a damaged record", garbledMiddle, 2, "holds a damaged record"},
        {"a length beyond the end", hugeLength, 2, "holds a damaged record"},
        {"zeros with records behind them", hole, 2, "holds a damaged record"},
        {"of another list", otherList, 0, "does not belong to the order list"},
        {"no journal at all", "<DATAPACKET Version=\"2.0\">", 0, "is no journal"},
        {"another version", std::string("QVJOURNL\x02\0\0\0", 12) + full.substr(12), 0, "version 2"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        for (const fs::path& p : SetAside(dir.Path())) fs::remove(p);
        Overwrite(dir.File("Orderlist.journal"), c.bytes);
        std::string kept;
        {
            ListRun run(dir);
            ASSERT_EQ(run.notes.size(), 1u);
            EXPECT_NE(run.notes[0].find(c.note), std::string::npos) << run.notes[0];
            EXPECT_EQ(run.State(), played.states[c.changes]);
            kept = run.State();
        }
        const auto aside = SetAside(dir.Path());
        ASSERT_EQ(aside.size(), 1u);
        EXPECT_EQ(ReadAll(aside[0].string()), c.bytes); // nothing of it is lost
        // The new journal holds what was applied: the next start finds the same, silently.
        ListRun next(dir);
        EXPECT_TRUE(next.notes.empty());
        EXPECT_EQ(next.State(), kept);
    }
}

TEST(OrderJournal, ASaveStartsItAnewAndKeepsTheChangesAfterTheSnapshot) {
    // The save's steps, and where a kill stops them.
    enum Stop { Finished, BeforeRestart, BeforeReplace };
    for (const Stop stop : {Finished, BeforeRestart, BeforeReplace}) {
        SCOPED_TRACE(stop);
        TempDir dir;
        WriteBaseList(dir);
        std::string expected;
        std::string journalBefore;
        {
            ListRun run(dir);
            const int32_t a = run.AddLeg(1, otBuy, 0.1);
            run.Set(a, "Status", Variant(int32_t{stPending}));
            run.journal.Commit();
            const OrderJournal::Mark mark = run.journal.TakeMark();
            const std::unique_ptr<TableSnapshot> snapshot = run.list.Snapshot();
            const std::string snapshotState = snapshot->SaveToString();
            // Changes while the snapshot is being written: they must survive the save.
            run.Set(a, "Ticket", Variant(int32_t{9001}));
            run.Set(1, "Status", Variant(int32_t{stCanceled}));
            run.journal.Commit();
            expected = run.State();
            if (stop == BeforeReplace) {
                // The save record is written, then the kill: Orderlist.xml is still the old one.
                run.journal.NoteSaved(mark, ListFileId::Of(snapshotState));
            } else {
                const ListFileId id =
                    WriteOrderList(*snapshot, dir.File("Orderlist.xml"), &run.journal, mark);
                EXPECT_EQ(ReadAll(dir.File("Orderlist.xml")),
                          snapshotState); // the list file as it always was
                EXPECT_EQ(id, ListFileId::Of(snapshotState));
                if (stop == Finished) {
                    run.journal.Restart(mark, id);
                    // Only the two changes after the snapshot are left, on the new file.
                    const journal::Parsed p = journal::Parse(ReadAll(dir.File("Orderlist.journal")));
                    ASSERT_TRUE(p.ok);
                    EXPECT_EQ(p.base, id);
                    EXPECT_EQ(p.changes.size(), 2u);
                    // It goes on taking changes.
                    run.Set(a, "Kurs", Variant(1.1));
                    run.journal.Commit();
                    expected = run.State();
                }
            }
        }
        ListRun after(dir);
        EXPECT_TRUE(after.notes.empty()) << after.notes.front();
        EXPECT_EQ(after.State(), expected);
        EXPECT_TRUE(SetAside(dir.Path()).empty());
    }
}

TEST(OrderJournal, AJournalThatCannotBeWrittenKeepsItsChangesUntilASaveLetsItStartAnew) {
    TempDir dir;
    WriteBaseList(dir);
    PlayChanges(dir);
    const std::string path = dir.File("Orderlist.journal");
    // No write bit: refused even under root.
    fs::permissions(path, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read,
                    fs::perm_options::replace);
    ClientDataSet list("list");
    std::string bytes = ReadAll(dir.File("Orderlist.xml"));
    const ListFileId base = ListFileId::Of(bytes);
    list.LoadFromString(std::move(bytes), IdxOrderIDDesc());
    OrderJournal journal(path);
    std::vector<std::string> notes;
    EXPECT_THROW(journal.Open(list, base, notes), FileError);
    EXPECT_TRUE(journal.Broken());
    list.SetChangeListener([&](const RecordChange& c) { journal.Record(c); });
    const int32_t replayedState = list.RecordCount();
    EXPECT_EQ(replayedState, 4); // replayed all the same
    // A change while broken: no commit is due, none is tried.
    ASSERT_TRUE(list.Locate("OrderID", Variant(int32_t{1})));
    list.Edit();
    list.FieldByName("Status").SetAsInteger(stCanceled);
    list.Post();
    EXPECT_FALSE(journal.Pending());
    EXPECT_NO_THROW(journal.Commit());

    // The save: the list file is written; the journal, still unwritable, fails to start anew.
    OrderJournal::Mark mark = journal.TakeMark();
    std::unique_ptr<TableSnapshot> snapshot = list.Snapshot();
    ListFileId id = WriteOrderList(*snapshot, dir.File("Orderlist.xml"), &journal, mark);
    EXPECT_THROW(journal.Restart(mark, id), FileError);
    EXPECT_TRUE(journal.Broken());
    // Writable again: the next save lets it start anew, with the change after its snapshot.
    fs::permissions(path, fs::perms::owner_read | fs::perms::owner_write, fs::perm_options::replace);
    mark = journal.TakeMark();
    snapshot = list.Snapshot();
    ASSERT_TRUE(list.Locate("OrderID", Variant(int32_t{1})));
    list.Edit();
    list.FieldByName("Ticket").SetAsInteger(4242);
    list.Post();
    id = WriteOrderList(*snapshot, dir.File("Orderlist.xml"), &journal, mark);
    snapshot.reset();
    EXPECT_NO_THROW(journal.Restart(mark, id));
    EXPECT_FALSE(journal.Broken());
    const std::string expected = list.SaveToString();
    ListRun after(dir);
    EXPECT_TRUE(after.notes.empty());
    EXPECT_EQ(after.State(), expected);
}

// ---- the flusher -------------------------------------------------------------------------------

// A disk the test holds: each flush waits until the test lets it end, and is counted.
struct HeldDisk {
    std::mutex lock;
    std::condition_variable changed;
    int started = 0, allowed = 0;
    int error = 0; // the flushes fail with it when set
    std::function<int(int)> Call() {
        return [this](int) {
            std::unique_lock<std::mutex> hold(lock);
            const int mine = ++started;
            changed.notify_all();
            changed.wait(hold, [&] { return allowed >= mine; });
            if (error) {
                errno = error;
                return -1;
            }
            return 0;
        };
    }
    void AwaitStarted(int n) {
        std::unique_lock<std::mutex> hold(lock);
        changed.wait(hold, [&] { return started >= n; });
    }
    void Allow(int n) {
        std::lock_guard<std::mutex> hold(lock);
        allowed = n;
        changed.notify_all();
    }
};

// Readable now, or within `waitMs` when given.
bool Readable(int fd, int waitMs = 0) {
    pollfd p{fd, POLLIN, 0};
    return poll(&p, 1, waitMs) == 1;
}

// The flusher keeps zeros ahead of the records while the serving thread writes into them, and
// the writes go on past them while a flush holds the flusher: no record is overwritten by the
// room made after it, and every one is replayed.
TEST(OrderJournal, WritesFillTheRoomKeptAheadOfThemAndNoneIsLost) {
    TempDir dir;
    const std::string path = dir.File("Orderlist.journal");
    std::string written;
    {
        ListRun run(dir);
        auto roomAhead = [&] {
            return fs::file_size(path) >= run.journal.Length() + OrderJournal::kRoomStep;
        };
        ASSERT_TRUE(Eventually(roomAhead)); // made at the start
        HeldDisk disk;
        run.journal.SetSyncCall(disk.Call());
        uint64_t changes = 0;
        auto change = [&](int i) {
            run.Set(run.AddLeg(i % 20 + 1, i % 2 ? otBuy : otSell, 0.1), "Kurs", Variant(1.0 + i * 1e-5));
            changes += 2;
            run.journal.Write();
        };
        change(0);
        disk.AwaitStarted(1);
        const uint64_t room = fs::file_size(path);
        for (int i = 1; run.journal.Length() < room + OrderJournal::kRoomStep; ++i) change(i);
        EXPECT_GT(fs::file_size(path), room); // written past the room
        disk.Allow(1 << 30);
        run.journal.Commit();
        ASSERT_TRUE(Eventually(roomAhead)); // made again behind what was written
        for (int i = 0; i < 100; ++i) change(i);
        run.journal.Commit();
        const std::string file = ReadAll(path);
        EXPECT_EQ(file.find_first_not_of('\0', run.journal.Length()), std::string::npos);
        const journal::Parsed parsed = journal::Parse(file);
        EXPECT_TRUE(parsed.damage.empty()) << parsed.damage;
        EXPECT_FALSE(parsed.tornTail);
        EXPECT_EQ(parsed.changes.size(), changes);
        written = run.State();
    }
    ListRun again(dir);
    EXPECT_TRUE(again.notes.empty());
    EXPECT_EQ(again.State(), written);
}

// Write only hands the changes to the system; the flusher's durable position reaches them once
// its flush has ended, and the wake descriptor says so. The writes made while a flush is under
// way all go with the next one.
TEST(OrderJournal, OneFlushCoversEveryWriteBeforeItAndTheNextTakesTheRest) {
    TempDir dir;
    HeldDisk disk;
    ListRun run(dir);
    run.journal.SetSyncCall(disk.Call());
    run.AddLeg(1, otBuy, 0.1);
    run.journal.Write();
    const uint64_t first = run.journal.Written();
    EXPECT_GT(first, 0u);
    disk.AwaitStarted(1);
    EXPECT_LT(run.journal.Durable(), first);
    // On file (the system's cache) already, though not on disk.
    EXPECT_EQ(journal::Parse(ReadAll(dir.File("Orderlist.journal"))).changes.size(), 1u);
    for (int i = 0; i < 3; ++i) {
        run.AddLeg(1, otSell, 0.1);
        run.journal.Write();
    }
    const uint64_t all = run.journal.Written();
    EXPECT_GT(all, first);
    disk.Allow(1);
    disk.AwaitStarted(2);
    EXPECT_GE(run.journal.Durable(), first);
    EXPECT_LT(run.journal.Durable(), all);
    EXPECT_TRUE(Readable(run.journal.WakeFd()));
    disk.Allow(2);
    run.journal.Commit(); // waits for the second flush
    EXPECT_EQ(run.journal.Durable(), all);
    EXPECT_EQ(disk.started, 2); // the three writes in one flush
    EXPECT_FALSE(run.journal.Broken());
}

// A flush that fails breaks the journal: the durable position stays behind, the error is
// kept, the wake descriptor tells, and a commit that waited for it fails.
TEST(OrderJournal, AFailedFlushBreaksTheJournalAndTellsTheWaiters) {
    TempDir dir;
    HeldDisk disk;
    disk.error = EIO;
    disk.Allow(100);
    ListRun run(dir);
    run.journal.SetSyncCall(disk.Call());
    run.AddLeg(1, otBuy, 0.1);
    EXPECT_THROW(run.journal.Commit(), FileError);
    EXPECT_TRUE(run.journal.Broken());
    EXPECT_LT(run.journal.Durable(), run.journal.Written());
    EXPECT_NE(run.journal.LastError().find("Cannot flush"), std::string::npos) << run.journal.LastError();
    EXPECT_TRUE(Readable(run.journal.WakeFd(), 5000)); // told after the journal broke
    // Nothing more is written until a save lets it start anew.
    run.AddLeg(1, otSell, 0.1);
    EXPECT_FALSE(run.journal.Pending());
    // The save: its new start is on disk by itself, and covers all that was written.
    disk.error = 0;
    const OrderJournal::Mark mark = run.journal.TakeMark();
    std::unique_ptr<TableSnapshot> snapshot = run.list.Snapshot();
    const ListFileId id = WriteOrderList(*snapshot, dir.File("Orderlist.xml"), &run.journal, mark);
    EXPECT_NO_THROW(run.journal.Restart(mark, id));
    EXPECT_FALSE(run.journal.Broken());
    EXPECT_EQ(run.journal.Durable(), run.journal.Written());
}

// ---- the desk ----------------------------------------------------------------------------------

struct DeskJournal : DeskHarness {};

TEST_F(DeskJournal, AJournalThatCannotBeWrittenSetsStandbyAndTellsTheOperatorOnce) {
    // A journal without a write bit, belonging to the list that loads.
    WriteBaseList(dir);
    { ListRun run(dir); }
    fs::permissions(dir.File("Orderlist.journal"), fs::perms::owner_read, fs::perm_options::replace);
    controls.SetChecked(Ctl::chkbStandby, false);
    Desk& d = Create();
    EXPECT_TRUE(controls.Checked(Ctl::chkbStandby));
    ASSERT_EQ(view.stopBoxes.size(), 1u);
    EXPECT_NE(view.stopBoxes[0].find("journal cannot be written"), std::string::npos) << view.stopBoxes[0];
    EXPECT_NE(view.stopBoxes[0].find("Standby is set"), std::string::npos);
    // Noted for the notifications window, which does not exist yet during the creation.
    ASSERT_EQ(d.files.FileNotes().size(), 1u);
    EXPECT_EQ(StopBoxText(d.files.FileNotes()[0]), view.stopBoxes[0]);
    EXPECT_TRUE(d.files.DataAtRisk());
    // Later changes tell nothing more.
    SetField(1, "Status", Variant(int32_t{stCanceled}));
    d.files.CommitJournal();
    EXPECT_EQ(view.stopBoxes.size(), 1u);
}

TEST_F(DeskJournal, EveryChangeIsOnDiskAfterTheCommitAndAShutDownSaveStartsTheJournalAnew) {
    Desk& d = Create();
    d.entry.OpenOrder(0, 0.1, 0, 3, -0.0001, {{"1", true}, {"2", true}}, 1, 0.0001, false, 0.0, false);
    ASSERT_EQ(List().RecordCount(), 2);
    const std::string path = dir.File("Orderlist.journal");
    EXPECT_EQ(journal::Parse(ReadAll(path)).changes.size(), 0u); // nothing before the commit
    d.files.CommitJournal();
    EXPECT_EQ(journal::Parse(ReadAll(path)).changes.size(), 2u);
    SetField(1, "Status", Variant(int32_t{stCanceled}));
    d.files.CommitJournal();
    EXPECT_EQ(journal::Parse(ReadAll(path)).changes.size(), 3u);
    d.FormDestroy();
    EXPECT_FALSE(d.files.DataAtRisk());
    const journal::Parsed p = journal::Parse(ReadAll(path));
    ASSERT_TRUE(p.ok);
    EXPECT_EQ(p.base, ListFileId::Of(ReadAll(dir.File("Orderlist.xml"))));
    EXPECT_TRUE(p.changes.empty());
}

// The link asks the desk for the journal's positions: a failed flush sets Standby, tells the
// operator (the box kept for the loop), and lets every waiting answer go.
TEST_F(DeskJournal, AFailedFlushSetsStandbyAndReleasesTheAnswers) {
    Desk& d = Create();
    controls.SetChecked(Ctl::chkbStandby, false);
    HeldDisk disk;
    disk.error = EIO;
    d.orders.Journal()->SetSyncCall(disk.Call());
    d.entry.OpenOrder(0, 0.1, 0, 3, -0.0001, {{"1", true}, {"2", true}}, 1, 0.0001, false, 0.0, false);
    const uint64_t ticket = d.files.JournalTicket();
    EXPECT_GT(ticket, 0u);
    EXPECT_LT(d.files.JournalDurable(), ticket); // the flush is held
    EXPECT_FALSE(controls.Checked(Ctl::chkbStandby));
    disk.Allow(1);
    for (int i = 0; i < 5000 && !d.orders.Journal()->Broken(); ++i) usleep(1000);
    EXPECT_EQ(d.files.JournalDurable(), UINT64_MAX);
    EXPECT_TRUE(controls.Checked(Ctl::chkbStandby));
    EXPECT_TRUE(d.files.DataAtRisk());
    EXPECT_NE(d.files.TakeJournalBox().find("journal cannot be written"), std::string::npos);
    EXPECT_TRUE(view.stopBoxes.empty()); // not inside the link's batch
}

} // namespace
