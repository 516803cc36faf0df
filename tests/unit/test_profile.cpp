#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>

#include "platform/files.h"
#include "platform/numbers.h"
#include "platform/profile.h"
#include "tests/support/localescope.h"
#include "tests/support/tempdir.h"

using namespace quorvel;
using namespace quorvel::test;

namespace {

void WriteRaw(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

std::string ReadRaw(const std::string& path) {
    return ReadWholeFile(path).value_or("<missing>");
}

// Runs a test body under a decimal separator and restores the comma afterwards.

} // namespace

TEST(Profile, TypedReadsFollowTheValueForms) {
    TempDir dir;
    const std::string path = dir.File("config.ini");
    WriteRaw(path,
             "[S]\n"
             "i1=42\ni2=-7\ni3=+5\ni4=0x10\ni5=0X1f\ni6=0x\ni7=0xG\ni8=0xFFFFFFFF\ni9=0x100000000\n"
             "i10=2147483648\ni11=4.2\ni12=\ni13=  12  \ni14=abc\ni15=$10\ni16=-2147483648\n"
             "b1=0\nb2=2\nb3=-1\nb4=True\nb5=yes\nb6=0x0\nb7=1\n"
             "f1=0,001\nf2=-0,00018\nf3=1\nf4=-0.00018\nf5=\nf6=abc\nf7=1E-5\nf8=inf\nf9=nan\nf10=1,5.0\n"
             "s1=\"a b\"\ns2=  x  \ns3='q'\ns4=\"\ns5=a=b\n");
    LocaleScope comma(',');
    TIniFile ini(path);

    struct IntCase {
        const char* key;
        int32_t def, expected;
    };
    for (const IntCase c : {IntCase{"i1", 9, 42},
                            {"i2", 9, -7},
                            {"i3", 9, 5},
                            {"i4", 9, 16},
                            {"i5", 9, 31},
                            {"i6", 9, 9},
                            {"i7", 9, 9},
                            {"i8", 9, -1},
                            {"i9", 9, 9},
                            {"i10", 9, 9},
                            {"i11", 9, 9},
                            {"i12", 9, 9},
                            {"i13", 9, 12},
                            {"i14", 9, 9},
                            {"i15", 9, 9},
                            {"i16", 9, INT32_MIN},
                            {"missing", 9, 9}})
        EXPECT_EQ(ini.ReadInteger("S", c.key, c.def), c.expected) << c.key;

    struct BoolCase {
        const char* key;
        bool def, expected;
    };
    for (const BoolCase c : {BoolCase{"b1", true, false},
                             {"b2", false, true},
                             {"b3", false, true},
                             {"b4", false, false},
                             {"b4", true, true},
                             {"b5", true, true},
                             {"b5", false, false},
                             {"b6", true, false},
                             {"b7", false, true},
                             {"missing", true, true}})
        EXPECT_EQ(ini.ReadBool("S", c.key, c.def), c.expected) << c.key << " def " << c.def;

    struct FloatCase {
        const char* key;
        double expected; // the default is -99
    };
    for (const FloatCase c : {FloatCase{"f1", 0.001},
                              {"f2", -0.00018},
                              {"f3", 1.0},
                              {"f4", -99},
                              {"f5", -99},
                              {"f6", -99},
                              {"f7", 1e-5},
                              {"f8", -99},
                              {"f9", -99},
                              {"f10", -99},
                              {"missing", -99}})
        EXPECT_EQ(ini.ReadFloat("S", c.key, -99), c.expected) << c.key;

    struct StringCase {
        const char* key;
        const char* expected; // the default is "def"
    };
    for (const StringCase c : {StringCase{"s1", "a b"},
                               {"s2", "x"},
                               {"s3", "q"},
                               {"s4", "\""},
                               {"s5", "a=b"},
                               {"i12", ""},
                               {"missing", "def"}})
        EXPECT_EQ(ini.ReadString("S", c.key, "def"), c.expected) << c.key;

    EXPECT_EQ(ini.ReadInteger("NoSection", "i1", 3), 3);

    // Under a decimal point the comma forms are the ones that do not parse.
    LocaleScope point('.');
    EXPECT_EQ(ini.ReadFloat("S", "f1", -99), -99);
    EXPECT_EQ(ini.ReadFloat("S", "f4", -99), -0.00018);
}

TEST(Profile, MissingFileGivesDefaultsAndCreatesNothing) {
    TempDir dir;
    const std::string path = dir.File("config.ini");
    {
        TIniFile ini(path);
        EXPECT_EQ(ini.ReadInteger("Defaults", "Tables", 1), 1);
        EXPECT_TRUE(ini.ReadBool("Defaults", "Standby", true));
        EXPECT_EQ(ini.ReadFloat("Defaults", "AlertLevel", -0.00018), -0.00018);
        EXPECT_EQ(ini.ReadString("Defaults", "Direction", "a"), "a");
        EXPECT_FALSE(ini.SectionExists("Defaults"));
    }
    EXPECT_FALSE(FileExists(path));
}

TEST(Profile, FloatsAreWrittenInGeneralFormat) {
    struct Case {
        double value;
        char sep;
        const char* text;
    };
    for (const Case c : {Case{1.0, ',', "1"},
                         {0.1, ',', "0,1"},
                         {0.001, ',', "0,001"},
                         {-0.0001, ',', "-0,0001"},
                         {-0.00018, ',', "-0,00018"},
                         {0.00001, ',', "0,00001"},
                         {0.000001, ',', "1E-6"},
                         {-0.00009, ',', "-0,00009"},
                         {-2.5e-7, ',', "-2,5E-7"},
                         {1.5e20, ',', "1,5E20"},
                         {1e14, ',', "100000000000000"},
                         {1e15, ',', "1E15"},
                         {123456789012345678.0, ',', "1,23456789012346E17"},
                         {0.1 + 0.2, ',', "0,3"},
                         {1.0 / 3, ',', "0,333333333333333"},
                         {100.0, ',', "100"},
                         {12.5, ',', "12,5"},
                         {0.0, ',', "0"},
                         {-0.0, ',', "0"},
                         {2.5, '.', "2.5"},
                         {-0.00019, '.', "-0.00019"}})
        EXPECT_EQ(FormatIniFloat(c.value, c.sep), c.text) << c.value;
}

TEST(Profile, SectionsAndKeysIgnoreCaseAndTheFirstWins) {
    TempDir dir;
    const std::string path = dir.File("config.ini");
    WriteRaw(path,
             "[DEFAULTS]\r\nstandby=0\r\nStandby=1\r\n[defaults]\r\nTables=7\r\n[===== group_1 =====]\r\n"
             "LOTS=0,5\r\n");
    TIniFile ini(path);
    EXPECT_FALSE(ini.ReadBool("Defaults", "Standby", true));
    EXPECT_EQ(ini.ReadInteger("Defaults", "Tables", 1), 1); // only the first [Defaults] counts
    EXPECT_EQ(ini.ReadFloat("===== Group_1 =====", "Lots", 0.1), 0.5);

    // A write to an existing key replaces that line in place and keeps its spelling.
    ini.WriteBool("Defaults", "STANDBY", true);
    EXPECT_EQ(ReadRaw(path), "[DEFAULTS]\r\nstandby=1\r\nStandby=1\r\n[defaults]\r\nTables=7\r\n"
                             "[===== group_1 =====]\r\nLOTS=0,5\r\n");
}

TEST(Profile, NewKeysGoToTheEndOfTheirSectionAndNewSectionsToTheEndOfTheFile) {
    TempDir dir;
    const std::string path = dir.File("config.ini");
    WriteRaw(path, "; comment\n[A]\nx=1\n\n[B]\ny=2\n");
    TIniFile ini(path);
    ini.WriteInteger("a", "z", 3);
    ini.WriteString("C", "w", "text");
    ini.WriteInteger("B", "v", -4);
    ini.WriteInteger("C", "u", 5);
    EXPECT_EQ(ReadRaw(path),
              "; comment\r\n[A]\r\nx=1\r\nz=3\r\n\r\n[B]\r\ny=2\r\nv=-4\r\n[C]\r\nw=text\r\nu=5\r\n");
}

TEST(Profile, FirstWriteCreatesTheFileWithCrLf) {
    TempDir dir;
    const std::string path = dir.File("config.ini");
    LocaleScope comma(',');
    {
        TIniFile ini(path);
        ini.WriteBool("Defaults", "Standby", true);
        EXPECT_TRUE(FileExists(path)); // each write is in the file when it returns
        ini.WriteInteger("Defaults", "Tables", 1);
        ini.WriteFloat("Defaults", "AlertLevel", -0.00018);
        ini.WriteFloat("Defaults", "AlertInterval", 1.0);
        ini.WriteString("===== Group_1 =====", "Direction", "a");
        ini.WriteBool("===== BrokerIDs =====", "BrokerID1", false);
        ini.UpdateFile();
    }
    EXPECT_EQ(ReadRaw(path),
              "[Defaults]\r\nStandby=1\r\nTables=1\r\nAlertLevel=-0,00018\r\nAlertInterval=1\r\n"
              "[===== Group_1 =====]\r\nDirection=a\r\n"
              "[===== BrokerIDs =====]\r\nBrokerID1=0\r\n");
}

TEST(Profile, RoundTripThroughANewAccessor) {
    TempDir dir;
    const std::string path = dir.File("config.ini");
    for (char sep : {',', '.'}) {
        LocaleScope scope(sep);
        const double floats[] = {-0.00018, 0.001, 1.0, 0.1, -0.0001, 12345.678, 1e-7, 3e20};
        {
            TIniFile ini(path);
            ini.WriteInteger("Defaults", "Int", INT32_MIN);
            ini.WriteBool("Defaults", "Off", false);
            ini.WriteString("Defaults", "Str", "s");
            for (size_t i = 0; i < std::size(floats); ++i)
                ini.WriteFloat("Defaults", "F" + std::to_string(i), floats[i]);
        }
        TIniFile ini(path);
        EXPECT_EQ(ini.ReadInteger("Defaults", "Int", 0), INT32_MIN);
        EXPECT_FALSE(ini.ReadBool("Defaults", "Off", true));
        EXPECT_EQ(ini.ReadString("Defaults", "Str", ""), "s");
        for (size_t i = 0; i < std::size(floats); ++i)
            EXPECT_EQ(ini.ReadFloat("Defaults", "F" + std::to_string(i), -99), floats[i]) << sep << i;
    }
}

TEST(Profile, AWriteThatFailsRaisesTheIniErrorAndKeepsWhatWasWritten) {
    TempDir dir;
    // The target's directory does not exist.
    {
        const std::string path = dir.File("missing/config.ini");
        TIniFile ini(path);
        try {
            ini.WriteBool("Defaults", "Standby", true);
            FAIL() << "no error";
        } catch (const IniWriteError& e) {
            EXPECT_STREQ(e.what(), ("In " + path + " kann nicht geschrieben werden").c_str());
        }
    }
    // The target is a directory: it reads as empty and is never replaced.
    {
        const std::string path = dir.File("adir");
        std::filesystem::create_directory(path);
        TIniFile ini(path);
        EXPECT_EQ(ini.ReadInteger("Defaults", "Tables", 1), 1);
        EXPECT_THROW(ini.WriteInteger("Defaults", "Tables", 2), IniWriteError);
        EXPECT_TRUE(std::filesystem::is_directory(path));
    }
    // The directory goes away in the middle of a run of writes: the keys before stay, the
    // failed one is not kept in memory either, and later writes go on from there.
    {
        const std::string sub = dir.File("sub"), moved = dir.File("moved");
        std::filesystem::create_directory(sub);
        TIniFile ini(sub + "/config.ini");
        ini.WriteInteger("Defaults", "k1", 1);
        std::filesystem::rename(sub, moved);
        EXPECT_THROW(ini.WriteInteger("Defaults", "k2", 2), IniWriteError);
        EXPECT_EQ(ReadRaw(moved + "/config.ini"), "[Defaults]\r\nk1=1\r\n");
        EXPECT_FALSE(ini.ValueExists("Defaults", "k2"));
        std::filesystem::rename(moved, sub);
        ini.WriteInteger("Defaults", "k3", 3);
        EXPECT_EQ(ReadRaw(sub + "/config.ini"), "[Defaults]\r\nk1=1\r\nk3=3\r\n");
    }
}

TEST(Profile, DamagedContentReadsWithoutFailing) {
    TempDir dir;
    const std::string path = dir.File("config.ini");
    std::mt19937 rng(7);
    std::string junk;
    for (int i = 0; i < 20000; ++i) junk += static_cast<char>(rng() & 0xFF);
    std::string content = "\xEF\xBB\xBF[Defaults]\nTables=3\r\n";
    content += junk + "\n";
    content += "garbage line without equals\r\n=no name\r\n[broken header\r\n";
    content += "Long=" + std::string(1 << 20, 'x') + "\r\n";
    content += "[Defaults]\nTables=9\n"; // a second section of that name does not count
    content += "[Group]\r\nLots=0,2\r\n";
    WriteRaw(path, content);

    LocaleScope comma(',');
    TIniFile ini(path);
    EXPECT_EQ(ini.ReadInteger("Defaults", "Tables", 1), 3); // the byte-order mark is no part of the name
    EXPECT_EQ(ini.ReadFloat("Group", "Lots", 0.1), 0.2);
    EXPECT_EQ(ini.ReadInteger("Defaults", "Missing", 4), 4);

    // A write keeps every other line as it was, the mark included, with CR LF line ends.
    ini.WriteInteger("Group", "Tables", 5);
    const std::string after = ReadRaw(path);
    EXPECT_EQ(after.substr(0, 3), "\xEF\xBB\xBF");
    EXPECT_NE(after.find("Long=" + std::string(1 << 20, 'x') + "\r\n"), std::string::npos);
    const std::string tail = "[Group]\r\nLots=0,2\r\nTables=5\r\n";
    ASSERT_GE(after.size(), tail.size());
    EXPECT_EQ(after.substr(after.size() - tail.size()), tail);
    EXPECT_EQ(TIniFile(path).ReadInteger("Defaults", "Tables", 1), 3);
}

TEST(Profile, AValueCannotBreakTheFileApart) {
    TempDir dir;
    const std::string path = dir.File("config.ini");
    TIniFile ini(path);
    ini.WriteString("S", "Direction", "b\r\n[Evil]\r\nx=1");
    EXPECT_EQ(ReadRaw(path), "[S]\r\nDirection=b\r\n");
}

TEST(Profile, ANameCannotBreakTheFileApart) {
    struct Case {
        const char* section;
        const char* key;
        const char* file;
    };
    const Case cases[] = {
        {"S\n[T]", "k", "[S]\r\nk=v\r\n"},
        {"S\r\nx=1", "k", "[S]\r\nk=v\r\n"},
        {"S", "k\nother=2", "[S]\r\nk=v\r\n"},
        {"S", "k\r", "[S]\r\nk=v\r\n"},
    };
    for (const Case& c : cases) {
        TempDir dir;
        const std::string path = dir.File("config.ini");
        TIniFile ini(path);
        ini.WriteString(c.section, c.key, "v");
        EXPECT_EQ(ReadRaw(path), c.file) << c.section << " / " << c.key;
        // What the writer holds is what the file holds.
        const TIniFile fresh(path);
        for (const char* s : {"S", "T", c.section})
            for (const char* k : {"k", "x", "other", c.key})
                EXPECT_EQ(fresh.ReadString(s, k, "-"), ini.ReadString(s, k, "-")) << s << " / " << k;
    }
}
