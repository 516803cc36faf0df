#include <algorithm>
#include <filesystem>
#include <gtest/gtest.h>
#include <stdexcept>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "platform/files.h"
#include "tests/support/tempdir.h"

using namespace quorvel;

TEST(AtomicWrite, PiecesMakeTheFileAndAFailedProducerLeavesThePreviousOne) {
    test::TempDir dir;
    const std::string f = dir.File("Orderlist.xml");
    WriteFileAtomic(f, "old contents");

    // Twelve pieces of a megabyte each: past the point where the disk is handed data early.
    std::string whole;
    WriteFileAtomic(f, [&](const FilePieceWriter& put) {
        for (int i = 0; i < 12; ++i) {
            const std::string piece(size_t{1} << 20, static_cast<char>('a' + i));
            whole += piece;
            put(piece);
        }
        put("");
        put("end");
    });
    whole += "end";
    EXPECT_EQ(ReadWholeFile(f), whole);

    EXPECT_THROW(WriteFileAtomic(f,
                                 [](const FilePieceWriter& put) {
                                     put("half a file");
                                     throw std::runtime_error("out of memory");
                                 }),
                 std::runtime_error);
    EXPECT_EQ(ReadWholeFile(f), whole);
    EXPECT_THROW(WriteFileAtomic(dir.File("nodir/x"), [](const FilePieceWriter& put) { put("x"); }),
                 FileError);
    // No temporary files are left behind.
    int entries = 0;
    for (auto& e : std::filesystem::directory_iterator(dir.Path())) (void)e, ++entries;
    EXPECT_EQ(entries, 1);
}

namespace {

namespace fs = std::filesystem;

std::vector<std::string> TempNamesIn(const fs::path& dir) {
    std::vector<std::string> out;
    for (auto& e : fs::directory_iterator(dir))
        if (e.path().filename().string().find(".tmp-") != std::string::npos)
            out.push_back(e.path().filename().string());
    return out;
}

fs::perms PermsOf(const std::string& path) {
    return fs::status(path).permissions();
}

} // namespace

TEST(StateFileRead, SpecialFilesAreNeitherOpenedForLongNorRead) {
    test::TempDir dir;
    WriteFileAtomic(dir.File("regular"), "twelve bytes");
    WriteFileAtomic(dir.File("empty"), "");
    fs::create_directory(dir.File("dir"));
    ASSERT_EQ(mkfifo(dir.File("fifo").c_str(), 0600), 0); // no writer: a blocking open would hang
    fs::create_symlink("/dev/zero", dir.File("zero"));    // endless, if it were read
    fs::create_symlink("regular", dir.File("link"));
    fs::create_symlink("nothing-here", dir.File("dangling"));
    struct Case {
        const char* name;
        size_t cap;
        ReadStatus status;
        std::string bytes;
        bool truncated;
    };
    const Case cases[] = {
        {"regular", kStateFileReadCap, ReadStatus::Ok, "twelve bytes", false},
        {"regular", 12, ReadStatus::Ok, "twelve bytes", false}, // exactly the cap
        {"regular", 5, ReadStatus::Ok, "twelv", true},          // more than the cap
        {"empty", kStateFileReadCap, ReadStatus::Ok, "", false},
        {"link", kStateFileReadCap, ReadStatus::Ok, "twelve bytes", false},
        {"missing", kStateFileReadCap, ReadStatus::Missing, "", false},
        {"dangling", kStateFileReadCap, ReadStatus::Missing, "", false},
        {"dir", kStateFileReadCap, ReadStatus::NotRegular, "", false},
        {"fifo", kStateFileReadCap, ReadStatus::NotRegular, "", false},
        {"zero", kStateFileReadCap, ReadStatus::NotRegular, "", false},
    };
    for (const Case& c : cases) {
        const FileRead r = ReadStateFile(dir.File(c.name), c.cap);
        EXPECT_EQ(r.status, c.status) << c.name;
        EXPECT_EQ(r.bytes, c.bytes) << c.name;
        EXPECT_EQ(r.truncated, c.truncated) << c.name;
        if (c.status == ReadStatus::Ok) {
            EXPECT_EQ(r.size, std::string_view(c.name) == "empty" ? 0u : 12u);
        }
    }
    EXPECT_EQ(ReadWholeFile(dir.File("fifo")), std::nullopt);
    EXPECT_EQ(ReadWholeFile(dir.File("zero")), std::nullopt);
    // A special file is set aside like any other: the name itself moves, a link stays a link.
    const std::string fifoAside = SetFileAside(dir.File("fifo"));
    ASSERT_FALSE(fifoAside.empty());
    EXPECT_TRUE(fs::is_fifo(fifoAside));
    const std::string zeroAside = SetFileAside(dir.File("zero"));
    ASSERT_FALSE(zeroAside.empty());
    EXPECT_TRUE(fs::is_symlink(zeroAside));
    EXPECT_FALSE(fs::exists(fs::symlink_status(dir.File("zero"))));
}

TEST(AtomicWrite, ALinkedFileIsReplacedInItsTargetsFolderAndStaysLinked) {
    test::TempDir dir;
    fs::create_directories(dir.Path() / "work");
    fs::create_directories(dir.Path() / "store" / "deep");
    WriteFileAtomic(dir.File("store/deep/Data.dat"), "first");
    // work/Data.dat -> ../store/middle -> deep/Data.dat: relative links, each against its own folder.
    fs::create_symlink("deep/Data.dat", dir.Path() / "store" / "middle");
    fs::create_symlink("../store/middle", dir.Path() / "work" / "Data.dat");
    fs::create_symlink("../store/new.txt", dir.Path() / "work" / "new.txt"); // target not there yet
    const std::string link = dir.File("work/Data.dat");
    EXPECT_EQ(ResolveFileLinks(link), dir.File("work/../store/deep/Data.dat"));
    EXPECT_EQ(ResolveFileLinks(dir.File("store/deep/Data.dat")), dir.File("store/deep/Data.dat"));

    WriteFileAtomic(link, "second");
    WriteFileAtomic(link, [](const FilePieceWriter& put) { put("th"), put("ird"); });
    WriteFileAtomic(dir.File("work/new.txt"), "made through the link");
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_TRUE(fs::is_symlink(dir.Path() / "store" / "middle"));
    EXPECT_EQ(ReadWholeFile(dir.File("store/deep/Data.dat")), "third");
    EXPECT_EQ(ReadWholeFile(link), "third");
    EXPECT_TRUE(fs::is_symlink(dir.Path() / "work" / "new.txt"));
    EXPECT_EQ(ReadWholeFile(dir.File("store/new.txt")), "made through the link");
    for (const char* d : {"work", "store", "store/deep"})
        EXPECT_TRUE(TempNamesIn(dir.Path() / d).empty()) << d;
}

TEST(AtomicWrite, AReadOnlyTargetIsRefusedAndAReplacementKeepsTheMode) {
    test::TempDir dir;
    const std::string f = dir.File("Notifications.txt");
    struct Case {
        fs::perms mode;
        bool writable;
    };
    using P = fs::perms;
    const Case cases[] = {
        {P::owner_read | P::group_read | P::others_read, false}, // 0444: no write bit, even for root
        {P::owner_read, false},
        {P::none, false},
        {P::owner_read | P::owner_write | P::group_read, true}, // 0640 stays 0640
        {P::owner_read | P::owner_write, true},
        {P::owner_all | P::group_all | P::others_read, true},
    };
    for (const Case& c : cases) {
        fs::remove(f);
        WriteFileAtomic(f, "before");
        fs::permissions(f, c.mode, fs::perm_options::replace);
        if (c.writable) {
            EXPECT_NO_THROW(WriteFileAtomic(f, "after")) << static_cast<int>(c.mode);
            EXPECT_NO_THROW(WriteFileAtomic(f, [](const FilePieceWriter& put) { put("after"); }));
        } else {
            try {
                WriteFileAtomic(f, "after");
                ADD_FAILURE() << "replaced a read-only file, mode " << static_cast<int>(c.mode);
            } catch (const FileError& e) {
                EXPECT_EQ(std::string(e.what()), "Cannot write " + f + ": Permission denied");
            }
            EXPECT_THROW(WriteFileAtomic(f, [](const FilePieceWriter& put) { put("after"); }), FileError);
        }
        EXPECT_EQ(PermsOf(f), c.mode) << static_cast<int>(c.mode);
        fs::permissions(f, P::owner_read | P::owner_write, fs::perm_options::add);
        EXPECT_EQ(ReadWholeFile(f), c.writable ? "after" : "before") << static_cast<int>(c.mode);
        EXPECT_TRUE(TempNamesIn(dir.Path()).empty());
    }
    // Through a link, the target's mode counts.
    const std::string target = dir.File("target.txt");
    WriteFileAtomic(target, "kept");
    fs::permissions(target, P::owner_read, fs::perm_options::replace);
    fs::create_symlink("target.txt", dir.File("link.txt"));
    EXPECT_THROW(WriteFileAtomic(dir.File("link.txt"), "x"), FileError);
    EXPECT_EQ(ReadWholeFile(target), "kept");
}

TEST(LeftoverTempFiles, OnlyTheNamesAReplacementMakesAreRemoved) {
    test::TempDir dir;
    fs::create_directories(dir.Path() / "store");
    const std::string list = dir.File("Orderlist.xml");
    // A replacement killed half-way: the child dies inside the save.
    const pid_t pid = fork();
    if (pid == 0) {
        try {
            WriteFileAtomic(list, [](const FilePieceWriter& put) {
                put("<DATAPACKET half");
                _exit(0);
            });
        } catch (...) {
        }
        _exit(1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_EQ(TempNamesIn(dir.Path()).size(), 1u);

    const std::vector<std::string> kept = {
        "Orderlist.xml.tmp-ab12",   "Orderlist.xml.tmp-ab12CD3", "Orderlist.xml.tmp-ab!2CD",
        "Data.dat.tmp-ab12CD",      "xOrderlist.xml.tmp-ab12CD", "Orderlist.xml.damaged-20260101-000000",
        "Orderlist.xml.tmp-dir123", "Orderlist.xml.tmp-lnk123",
    };
    for (const std::string& n : kept) {
        if (n == "Orderlist.xml.tmp-dir123")
            fs::create_directory(dir.Path() / n);
        else if (n == "Orderlist.xml.tmp-lnk123")
            fs::create_symlink("Orderlist.xml.tmp-zzzzzz", dir.Path() / n);
        else
            WriteFileAtomic(dir.File(n), "x");
    }
    WriteFileAtomic(dir.File("Orderlist.xml.tmp-zzzzzz"), "the link's target goes, not the link");
    // A linked state file leaves its temporary files in the target's folder.
    fs::create_symlink("store/real.txt", dir.File("Notifications.txt"));
    WriteFileAtomic(dir.File("store/real.txt.tmp-Q1w2E3"), "x");
    WriteFileAtomic(dir.File("Notifications.txt.tmp-Q1w2E3"), "x");

    std::vector<std::string> removed = RemoveLeftoverTempFiles(list);
    const std::vector<std::string> second = RemoveLeftoverTempFiles(dir.File("Notifications.txt"));
    removed.insert(removed.end(), second.begin(), second.end());
    EXPECT_EQ(removed.size(), 4u);
    std::vector<std::string> left = TempNamesIn(dir.Path());
    std::sort(left.begin(), left.end());
    std::vector<std::string> expected;
    for (const std::string& n : kept)
        if (n.find(".tmp-") != std::string::npos) expected.push_back(n);
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(left, expected);
    EXPECT_TRUE(TempNamesIn(dir.Path() / "store").empty());
    for (const std::string& n : kept) EXPECT_TRUE(fs::exists(fs::symlink_status(dir.Path() / n))) << n;
    EXPECT_FALSE(fs::exists(list)); // the killed save never replaced it
}
