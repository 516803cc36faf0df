#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <random>

#include "desk/core/desk.h"
#include "desk/core/notifications.h"
#include "platform/files.h"
#include "tests/support/fakes.h"
#include "tests/support/tempdir.h"
#include "tests/support/testpaths.h"

using namespace quorvel;
using namespace quorvel::test;

namespace {

void WriteRaw(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

std::vector<std::string> Loaded(const std::string& path) {
    NotificationList list;
    list.Load(path);
    return {list.Lines().begin(), list.Lines().end()};
}

using Lines = std::vector<std::string>;

} // namespace

TEST(Notifications, TimeStampUsesTheLocaleTimeSeparator) {
    struct Case {
        TDateTime when;
        char sep;
        const char* text;
    };
    for (const Case c : {Case{EncodeDateTime(2026, 12, 8, 19, 45, 14, 123), ':', "08.12. 19:45:14,123: "},
                         {EncodeDateTime(2026, 12, 8, 19, 45, 14, 123), '.', "08.12. 19.45.14,123. "},
                         {EncodeDateTime(2027, 1, 1, 0, 0, 0, 0), ':', "01.01. 00:00:00,000: "},
                         {EncodeDateTime(2026, 3, 9, 7, 5, 3, 7), ':', "09.03. 07:05:03,007: "},
                         {EncodeDateTime(2026, 12, 31, 23, 59, 59, 999), ':', "31.12. 23:59:59,999: "}})
        EXPECT_EQ(NotificationTimeStamp(c.when, c.sep), c.text);
}

TEST(Notifications, NewestLineComesFirst) {
    NotificationList list;
    list.Add(EncodeDateTime(2026, 12, 8, 19, 45, 14, 123), ':', "first");
    list.Add(EncodeDateTime(2026, 12, 8, 19, 45, 15, 0), ':', "second");
    ASSERT_EQ(list.Lines().size(), 2u);
    EXPECT_EQ(list.Lines()[0], "08.12. 19:45:15,000: second");
    EXPECT_EQ(list.Lines()[1], "08.12. 19:45:14,123: first");
    list.Clear();
    EXPECT_TRUE(list.Lines().empty());
}

TEST(Notifications, FileIsWindows1252WithCrLfAfterEveryLine) {
    TempDir dir;
    const std::string path = dir.File("Notifications.txt");
    NotificationList list;
    list.Add(0, ':', "K\xC3\xA4ufer \xE2\x82\xAC \xC3\x9F");   // "Käufer € ß"
    list.Add(0, ':', "Omega \xCE\xA9 smile \xF0\x9F\x98\x80"); // no form in the code page: '?'
    list.Save(path);
    EXPECT_EQ(ReadWholeFile(path), "30.12. 00:00:00,000: Omega ? smile ?\r\n"
                                   "30.12. 00:00:00,000: K\xE4ufer \x80 \xDF\r\n");
    // Loading gives the lines back in the same order, as the code page holds them.
    EXPECT_EQ(Loaded(path), (Lines{"30.12. 00:00:00,000: Omega ? smile ?", list.Lines()[1]}));

    // An emptied list writes an empty file.
    list.Clear();
    list.Save(path);
    EXPECT_EQ(ReadWholeFile(path), "");
}

TEST(Notifications, EveryCodePageByteSurvivesALoadAndASave) {
    TempDir dir;
    const std::string path = dir.File("Notifications.txt");
    std::string bytes;
    for (int b = 0; b < 256; ++b)
        if (b != '\r' && b != '\n') bytes += static_cast<char>(b);
    bytes += "\r\n";
    WriteRaw(path, bytes);
    NotificationList list;
    list.Load(path);
    ASSERT_EQ(list.Lines().size(), 1u);
    // 254 characters, one per byte, with the euro sign for 0x80.
    const std::string& line = list.Lines()[0];
    EXPECT_EQ(std::count_if(line.begin(), line.end(), [](char c) { return (c & 0xC0) != 0x80; }), 254);
    EXPECT_NE(line.find("\xE2\x82\xAC"), std::string::npos);
    list.Save(path);
    EXPECT_EQ(ReadWholeFile(path), bytes);
}

TEST(Notifications, ReadingAcceptsTheCodePageAndByteOrderMarks) {
    TempDir dir;
    const std::string path = dir.File("Notifications.txt");
    struct Case {
        const char* name;
        std::string bytes;
        Lines lines;
    };
    const std::string u16le = std::string("\xFF\xFE", 2) + std::string("a\0\xE4\0\r\0\n\0"
                                                                       "b\0\x3D\xD8\x00\xDE",
                                                                       14);
    const std::string u16be = std::string("\xFE\xFF", 2) + std::string("\0a\0\xE4\0\n\0b", 8);
    const std::vector<Case> cases = {
        {"three lines", "third\r\nsecond\r\nfirst\r\n", {"third", "second", "first"}},
        {"no final line end", "one\r\ntwo", {"one", "two"}},
        {"LF and CR line ends", "a\nb\rc\r\n\r\nd\n", {"a", "b", "c", "", "d"}},
        {"code page",
         "Gr\xFC\xDF\x65 \x80",
         {"Gr\xC3\xBC\xC3\x9F"
          "e \xE2\x82\xAC"}},
        {"UTF-8 mark",
         "\xEF\xBB\xBFGr\xC3\xBC\xC3\x9F"
         "e\r\n",
         {"Gr\xC3\xBC\xC3\x9F"
          "e"}},
        {"UTF-8 mark, broken sequences",
         "\xEF\xBB\xBF"
         "a\xC3\x28\xED\xA0\x80\xF8z",
         {"a\xEF\xBF\xBD(\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBDz"}},
        {"UTF-16LE mark", u16le, {"a\xC3\xA4", "b\xF0\x9F\x98\x80"}},
        {"UTF-16BE mark", u16be, {"a\xC3\xA4", "b"}},
        {"UTF-16LE, lone surrogate and odd byte",
         std::string("\xFF\xFE"
                     "\x00\xD8"
                     "x\0"
                     "y",
                     7),
         {"\xEF\xBF\xBDx"}},
        {"empty", "", {}},
    };
    for (const Case& c : cases) {
        WriteRaw(path, c.bytes);
        EXPECT_EQ(Loaded(path), c.lines) << c.name;
    }
}

TEST(Notifications, JunkLoadsAndSavesWithoutFailing) {
    TempDir dir;
    const std::string path = dir.File("Notifications.txt");
    std::mt19937 rng(11);
    for (const std::string prefix : {"", "\xEF\xBB\xBF", "\xFF\xFE", "\xFE\xFF"}) {
        std::string junk = prefix;
        for (int i = 0; i < 50000; ++i) junk += static_cast<char>(rng() & 0xFF);
        WriteRaw(path, junk);
        NotificationList list;
        list.Load(path);
        EXPECT_FALSE(list.Lines().empty());
        list.Add(0, ':', "after junk");
        EXPECT_NO_THROW(list.Save(path));
        EXPECT_EQ(Loaded(path).front(), "30.12. 00:00:00,000: after junk");
    }
}

TEST(Notifications, LoadFailuresGiveAnEmptyListAndSaveFailuresRaise) {
    TempDir dir;
    // No file: empty, and nothing is created until the first save.
    const std::string path = dir.File("Notifications.txt");
    EXPECT_TRUE(Loaded(path).empty());
    EXPECT_FALSE(FileExists(path));
    // A directory in the file's place: empty, and moved aside whole, with a word about it.
    std::filesystem::create_directories(path + "/inside");
    {
        NotificationList l;
        const std::string note = l.Load(path);
        EXPECT_TRUE(l.Lines().empty());
        EXPECT_NE(note.find("is not a regular file"), std::string::npos) << note;
        EXPECT_FALSE(std::filesystem::exists(path));
        const auto at = note.find("set aside as ");
        ASSERT_NE(at, std::string::npos) << note;
        const std::string aside = note.substr(at + 13, note.size() - at - 14);
        EXPECT_TRUE(std::filesystem::is_directory(aside + "/inside")) << aside;
    }
    // One standing there at save time is not replaced.
    std::filesystem::create_directory(path);

    // A save that cannot create the file raises and keeps the list.
    NotificationList list;
    list.Add(0, ':', "kept");
    EXPECT_THROW(list.Save(dir.File("missing/Notifications.txt")), FileError);
    EXPECT_THROW(list.Save(path), FileError);
    EXPECT_EQ(list.Lines().size(), 1u);
}

TEST(Notifications, SaveDataSavesTheListAfterTheSnapshot) {
    TempDir dir;
    FakeControls controls;
    struct View : FakeView {
        std::string dataDat;
        bool snapshotFirst = false;
        void SaveNotifications() override {
            FakeView::SaveNotifications();
            snapshotFirst = FileExists(dataDat);
        }
    } view;
    view.dataDat = dir.File("Data.dat");
    ManualClock clock;
    DeskPaths p = PathsIn(dir);
    Desk desk(controls, view, clock, p);
    desk.FormCreate();
    desk.files.SaveData();
    EXPECT_EQ(view.notificationSaves, 1);
    EXPECT_TRUE(view.snapshotFirst);
}
