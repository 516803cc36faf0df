// The state files as the desk meets them: of the wrong size, special, read-only, linked, or
// left half-written; and the saves that must each run whatever became of the others.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <limits>
#include <sys/stat.h>

#include "desk/core/desk.h"
#include "desk/core/notifications.h"
#include "desk/core/orderlist.h"
#include "platform/files.h"
#include "tests/support/fakes.h"
#include "tests/support/tempdir.h"
#include "tests/support/testpaths.h"

using namespace quorvel;
using namespace quorvel::test;
namespace fs = std::filesystem;

namespace {

// A view whose notification list is saved to its real file, as the window's is.
struct FileView : FakeView {
    NotificationList list;
    std::string path;
    void SaveNotifications() override {
        FakeView::SaveNotifications();
        list.Save(path);
    }
};

struct StateFilesTest : ::testing::Test {
    TempDir dir;
    FakeControls controls;
    FileView view;
    ManualClock clock{45000.25};
    std::unique_ptr<Desk> desk;
    DeskPaths paths = PathsIn(dir);

    void Create() {
        std::ofstream(paths.configIni, std::ios::binary) << "[Defaults]\r\nTables=1\r\n";
        view = FileView{};
        view.path = paths.notifications;
        view.list.Add(45000.0, ':', "a line");
        desk = std::make_unique<Desk>(controls, view, clock, paths);
        desk->FormCreate();
    }
    std::vector<fs::path> Aside(const std::string& name) const {
        std::vector<fs::path> out;
        for (auto& e : fs::directory_iterator(dir.Path()))
            if (e.path().filename().string().rfind(name + ".damaged-", 0) == 0) out.push_back(e.path());
        return out;
    }
    void Clear() {
        for (auto& e : fs::directory_iterator(dir.Path())) fs::remove_all(e.path());
    }
};

ino_t InodeOf(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 ? st.st_ino : 0;
}

std::string Snapshot(const std::function<void(PriceStore&)>& fill) {
    PriceStore p;
    p.ResetQuotes(1, kMaxEAs);
    p.ResetMin(1, kMaxEAs);
    fill(p);
    return p.Serialize();
}

} // namespace

TEST_F(StateFilesTest, ADataDatOfTheWrongSizeOrKindIsReadAsFarAsItCanAndSetAside) {
    const std::string whole = Snapshot([](PriceStore& p) {
        p.Accounts[3] = 77;
        p.Bid[3] = 108123;
    });
    enum Kind { Regular, Directory, Fifo, LinkToZero };
    struct Case {
        const char* name;
        Kind kind;
        std::string bytes;
        int32_t account3; // what the store holds afterwards
        int64_t bid3;
        const char* note; // empty: no note and nothing set aside
    };
    const Case cases[] = {
        {"whole", Regular, whole, 77, 108123, ""},
        {"accounts only", Regular, whole.substr(0, 800), 77, 0, "holds 800 bytes instead of 13600"},
        {"cut in the bids", Regular, whole.substr(0, 4004), 77, 0, "holds 4004 bytes instead of 13600"},
        {"longer", Regular, whole + "tail", 77, 108123, "holds 13604 bytes instead of 13600"},
        {"empty", Regular, "", 0, 0, "holds 0 bytes instead of 13600"},
        {"directory", Directory, "", kNoAccount, kNoPoints, "is not a regular file"},
        {"fifo", Fifo, "", kNoAccount, kNoPoints, "is not a regular file"},
        {"link to /dev/zero", LinkToZero, "", kNoAccount, kNoPoints, "is not a regular file"},
    };
    for (const Case& c : cases) {
        Clear();
        switch (c.kind) {
        case Regular:
            std::ofstream(paths.dataDat, std::ios::binary) << c.bytes;
            break;
        case Directory:
            fs::create_directory(paths.dataDat);
            break;
        case Fifo:
            ASSERT_EQ(mkfifo(paths.dataDat.c_str(), 0600), 0);
            break;
        case LinkToZero:
            fs::create_symlink("/dev/zero", paths.dataDat);
            break;
        }
        Create();
        EXPECT_EQ(desk->prices.Accounts[3], c.account3) << c.name;
        EXPECT_EQ(desk->prices.Bid[3], c.bid3) << c.name;
        const auto aside = Aside("Data.dat");
        if (!*c.note) {
            EXPECT_TRUE(aside.empty()) << c.name;
            EXPECT_TRUE(desk->files.FileNotes().empty()) << c.name;
        } else {
            ASSERT_EQ(aside.size(), 1u) << c.name;
            ASSERT_EQ(desk->files.FileNotes().size(), 1u) << c.name;
            const std::string& note = desk->files.FileNotes()[0];
            EXPECT_NE(note.find(c.note), std::string::npos) << note;
            EXPECT_NE(note.find("set aside as " + aside[0].string() + "."), std::string::npos) << note;
            if (c.kind == Regular) {
                EXPECT_EQ(ReadWholeFile(aside[0].string()), c.bytes) << c.name;
            }
            if (c.kind == Directory) {
                EXPECT_TRUE(fs::is_directory(aside[0]));
            }
            if (c.kind == Fifo) {
                EXPECT_TRUE(fs::is_fifo(aside[0]));
            }
            if (c.kind == LinkToZero) {
                EXPECT_TRUE(fs::is_symlink(aside[0]));
            }
        }
        // The next save writes a whole snapshot and leaves what was set aside alone.
        desk->files.SaveData();
        EXPECT_TRUE(view.stopBoxes.empty()) << c.name;
        const auto saved = ReadStateFile(paths.dataDat);
        EXPECT_EQ(saved.status, ReadStatus::Ok) << c.name;
        EXPECT_EQ(saved.bytes.size(), kDataDatSize) << c.name;
        EXPECT_EQ(Aside("Data.dat").size(), aside.size()) << c.name;
    }
}

TEST_F(StateFilesTest, ValuesNoQuoteCanProduceCountAsMissing) {
    constexpr double nan = std::numeric_limits<double>::quiet_NaN();
    constexpr double inf = std::numeric_limits<double>::infinity();
    constexpr int64_t big = 1'000'000'000'000, i64max = std::numeric_limits<int64_t>::max();
    std::ofstream(paths.dataDat, std::ios::binary) << Snapshot([&](PriceStore& p) {
        p.Time[1] = nan, p.Time[2] = inf, p.Time[3] = 2958466.0, p.Time[4] = 2958465.999, p.Time[5] = -1e300;
        p.Time[6] = -693593.0, p.TimeMin[7] = -inf, p.TimeMin[8] = 45000.5;
        p.Bid[1] = big, p.Bid[2] = big + 1, p.Ask[3] = -big, p.Ask[4] = -big - 1, p.Spread[5] = i64max;
        p.Spread[6] = std::numeric_limits<int64_t>::min(), p.Min[7] = i64max, p.MinBid[8] = -i64max;
        p.MinAsk[9] = big + 7, p.Min[10] = 12;
    });
    Create();
    const PriceStore& p = desk->prices;
    EXPECT_TRUE(std::isnan(nan)); // the file really held one
    const std::pair<double, double> times[] = {
        {p.Time[1], kNoTime}, {p.Time[2], kNoTime},   {p.Time[3], kNoTime},    {p.Time[4], 2958465.999},
        {p.Time[5], kNoTime}, {p.Time[6], -693593.0}, {p.TimeMin[7], kNoTime}, {p.TimeMin[8], 45000.5},
    };
    for (size_t i = 0; i < std::size(times); ++i) EXPECT_EQ(times[i].first, times[i].second) << i;
    const std::pair<int64_t, int64_t> points[] = {
        {p.Bid[1], big},          {p.Bid[2], kNoPoints},    {p.Ask[3], -big},      {p.Ask[4], kNoPoints},
        {p.Spread[5], kNoPoints}, {p.Spread[6], kNoPoints}, {p.Min[7], kNoPoints}, {p.MinBid[8], kNoPoints},
        {p.MinAsk[9], kNoPoints}, {p.Min[10], 12},
    };
    for (size_t i = 0; i < std::size(points); ++i) EXPECT_EQ(points[i].first, points[i].second) << i;
    EXPECT_TRUE(Aside("Data.dat").empty()); // the size was right: only the values were wrong
}

TEST_F(StateFilesTest, EachSaveRunsWhateverBecameOfTheOthers) {
    struct Case {
        const char* name;
        bool blockData, blockList, blockNotes;
    };
    const Case cases[] = {
        {"Data.dat", true, false, false},      {"Orderlist.xml", false, true, false},
        {"Notifications", false, false, true}, {"Data.dat and Orderlist.xml", true, true, false},
        {"all three", true, true, true},       {"none", false, false, false},
    };
    for (const Case& c : cases) {
        Clear();
        Create();
        // Something that cannot be replaced by a file stands under each blocked name.
        if (c.blockData) fs::create_directories(paths.dataDat + "/keep");
        if (c.blockList) fs::create_directories(paths.orderList + "/keep");
        if (c.blockNotes) fs::create_directories(paths.notifications + "/keep");
        desk->Guarded([&] { desk->files.SaveData(); });
        const int blocked = c.blockData + c.blockList + c.blockNotes;
        if (!blocked) {
            EXPECT_TRUE(view.stopBoxes.empty()) << c.name;
        } else {
            ASSERT_EQ(view.stopBoxes.size(), 1u) << c.name;
            const std::string& text = view.stopBoxes[0];
            EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), blocked - 1) << text;
            for (size_t end = text.find('\n'); end != std::string::npos; end = text.find('\n', end + 1))
                EXPECT_EQ(text[end - 1], '.') << text;
            EXPECT_EQ(text.back(), '.') << text;
            EXPECT_EQ(text.find(paths.dataDat + ":") != std::string::npos, c.blockData) << text;
            EXPECT_EQ(text.find(paths.orderList + ":") != std::string::npos, c.blockList) << text;
            EXPECT_EQ(text.find(paths.notifications + ":") != std::string::npos, c.blockNotes) << text;
        }
        EXPECT_EQ(fs::is_regular_file(paths.dataDat), !c.blockData) << c.name;
        EXPECT_EQ(fs::is_regular_file(paths.orderList), !c.blockList) << c.name;
        EXPECT_EQ(fs::is_regular_file(paths.notifications), !c.blockNotes) << c.name;
        EXPECT_EQ(view.notificationSaves, 1) << c.name;
        for (const std::string* p : {&paths.dataDat, &paths.orderList, &paths.notifications})
            if (fs::is_directory(*p)) {
                EXPECT_TRUE(fs::is_directory(*p + "/keep"));
            }
    }
}

TEST_F(StateFilesTest, AReadOnlyStateFileFailsItsSaveAndKeepsItsMode) {
    using P = fs::perms;
    const P readOnly = P::owner_read | P::group_read | P::others_read;
    const P ownerGroup = P::owner_read | P::owner_write | P::group_read;
    for (const std::string* target : {&paths.dataDat, &paths.orderList, &paths.notifications}) {
        Clear();
        Create();
        desk->files.SaveData(); // all three exist now
        const auto before = ReadWholeFile(*target);
        ASSERT_TRUE(before);
        const ino_t inode = InodeOf(*target);
        fs::permissions(*target, readOnly, fs::perm_options::replace);
        clock.AdvanceSeconds(1);
        view.list.Add(45001.0, ':', "one more");
        desk->prices.Accounts[2] = 42;
        desk->Guarded([&] { desk->files.SaveData(); });
        ASSERT_EQ(view.stopBoxes.size(), 1u) << *target;
        EXPECT_EQ(view.stopBoxes[0], "Cannot write " + *target + ": Permission denied.");
        EXPECT_EQ(fs::status(*target).permissions(), readOnly) << *target;
        EXPECT_EQ(ReadWholeFile(*target), before) << *target;
        EXPECT_EQ(InodeOf(*target), inode) << *target;
        // The other two were written.
        EXPECT_EQ(ReadWholeFile(paths.notifications)->find("one more") != std::string::npos,
                  target != &paths.notifications);
        // A file the operator may write keeps its own mode through the replace.
        fs::permissions(*target, ownerGroup, fs::perm_options::replace);
        view.stopBoxes.clear();
        desk->Guarded([&] { desk->files.SaveData(); });
        EXPECT_TRUE(view.stopBoxes.empty()) << *target;
        EXPECT_EQ(fs::status(*target).permissions(), ownerGroup) << *target;
        EXPECT_NE(InodeOf(*target), inode) << *target; // replaced, not written in place
    }
}

TEST_F(StateFilesTest, AnOrderListThatIsNoRegularFileIsSetAsideWithTheMessage) {
    ASSERT_EQ(mkfifo(paths.orderList.c_str(), 0600), 0);
    Create();
    const auto aside = Aside("Orderlist.xml");
    ASSERT_EQ(aside.size(), 1u);
    EXPECT_TRUE(fs::is_fifo(aside[0]));
    ASSERT_EQ(view.messageBoxes.size(), 1u);
    const std::string line = paths.orderList + " was set aside as " + aside[0].string() + ".";
    EXPECT_EQ(view.messageBoxes[0],
              kOrderListLoadFailed + std::u16string(u"\n") + std::u16string(line.begin(), line.end()));
    EXPECT_TRUE(view.terminated);
    desk->files.SaveData(); // the empty list may now take the name
    EXPECT_TRUE(fs::is_regular_file(paths.orderList));
    EXPECT_TRUE(fs::is_fifo(aside[0]));
}

TEST_F(StateFilesTest, LeftoverTemporaryFilesOfEveryStateFileGo) {
    Create();
    for (const std::string* p : {&paths.configIni, &paths.dataDat, &paths.orderList, &paths.notifications})
        WriteFileAtomic(*p + ".tmp-aB3dE9", "killed half-way");
    WriteFileAtomic(dir.File("Other.txt.tmp-aB3dE9"), "not ours");
    EXPECT_EQ(desk->files.RemoveLeftoverTempFiles().size(), 4u);
    for (const std::string* p : {&paths.configIni, &paths.dataDat, &paths.orderList, &paths.notifications})
        EXPECT_FALSE(fs::exists(*p + ".tmp-aB3dE9")) << *p;
    EXPECT_TRUE(fs::exists(dir.File("Other.txt.tmp-aB3dE9")));
}

TEST_F(StateFilesTest, AFileThatCannotBeSetAsideIsNeverOverwritten) {
    // A name so long that no ".damaged-" name fits beside it: the rename fails, even for root.
    const std::string longName(240, 'n');
    paths.dataDat = dir.File(longName + ".dat");
    std::ofstream(paths.dataDat, std::ios::binary) << "short";
    Create();
    ASSERT_EQ(desk->files.FileNotes().size(), 1u);
    EXPECT_NE(desk->files.FileNotes()[0].find("could not be set aside"), std::string::npos)
        << desk->files.FileNotes()[0];
    desk->files.SaveData();
    EXPECT_TRUE(view.stopBoxes.empty());
    EXPECT_EQ(ReadWholeFile(paths.dataDat), "short");

    const std::string notes = dir.File(longName + ".txt");
    fs::create_directory(notes);
    NotificationList list;
    const std::string note = list.Load(notes);
    EXPECT_NE(note.find("could not be set aside and is not overwritten"), std::string::npos) << note;
    list.Add(0, ':', "new");
    EXPECT_NO_THROW(list.Save(notes));
    EXPECT_TRUE(fs::is_directory(notes));
    // Another list, or another file, saves as usual.
    EXPECT_NO_THROW(list.Save(dir.File("Notifications.txt")));
    EXPECT_TRUE(fs::is_regular_file(dir.File("Notifications.txt")));
}
