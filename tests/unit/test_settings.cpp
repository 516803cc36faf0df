#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <utility>

#include "desk/core/desk.h"
#include "platform/files.h"
#include "platform/numbers.h"
#include "platform/profile.h"
#include "tests/support/fakes.h"
#include "tests/support/localescope.h"
#include "tests/support/tempdir.h"
#include "tests/support/testpaths.h"

using namespace quorvel;
using namespace quorvel::test;

namespace {

// The controls as the window lays them out, before config.ini is read.
void SetDesignValues(FakeControls& c) {
    const char sep = Locale().decimalSeparator;
    auto real = [sep](const char* s) {
        std::string t(s);
        for (char& ch : t)
            if (ch == ',') ch = sep;
        return t;
    };
    c.text[Ctl::seRequoteAnzahl] = "2";
    c.text[Ctl::seLoopTime] = "250";
    c.text[Ctl::seTimeOut] = "7";
    c.text[Ctl::seSlippage] = "2";
    c.text[Ctl::seMaxAutoTrades] = "5";
    c.text[Ctl::seTradeIntervall] = "10";
    c.text[Ctl::seDelayPos2] = "300";
    c.text[Ctl::seMaxCounterCheck] = "180";
    c.text[Ctl::reAlert] = real("0,00000");
    c.text[Ctl::reAlertIntervall] = real("0,1");
    c.text[Ctl::rePRIDynamic] = real("0,0030");
    c.checked[Ctl::chkbStandby] = false;
    c.checked[Ctl::cbAlertAktiv] = true;
    c.checked[Ctl::cbAutoTrade] = false;
    c.checked[Ctl::chkbDelayMode] = false;
    c.checked[Ctl::chkbSeqMode] = true;
    c.checked[Ctl::chkbAddCanT] = false;
    c.checked[Ctl::chkbAddCloT] = false;
    for (auto& f : c.frames) {
        f.text[FrameCtl::reLots1] = real("1,00");
        f.text[FrameCtl::reSpread1] = real("-0,00040");
        f.text[FrameCtl::reMaxVerlust] = real("0,00000");
        f.text[FrameCtl::reCloseSpread1] = real("-0,00020");
        f.checked[FrameCtl::rbBuySell1] = true;
        f.checked[FrameCtl::rbSpreadKleinerGleich1] = true;
        f.checked[FrameCtl::rbCloseSpreadKleiner1] = true;
        f.checked[FrameCtl::cbAutoClose] = true;
        f.checked[FrameCtl::cbSlippageAusgleich1] = true;
    }
}

std::string ReadRaw(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

void WriteRaw(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

// "[section]" and "key=value" lines of a written file, in file order.
std::vector<std::pair<std::string, std::string>> Entries(const std::string& path) {
    std::vector<std::pair<std::string, std::string>> out;
    std::istringstream in(ReadRaw(path));
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty()) continue;
        if (line.front() == '[') {
            out.emplace_back(line, "");
        } else {
            const size_t eq = line.find('=');
            out.emplace_back(line.substr(0, eq), eq == std::string::npos ? "" : line.substr(eq + 1));
        }
    }
    return out;
}

class Settings : public ::testing::Test {
protected:
    LocaleScope comma{','};

    // A desk with its controls at their design values and the broker lists prepared, as the
    // creation sequence has them when config.ini is read.
    struct Run {
        FakeControls controls;
        FakeView view;
        ManualClock clock{46000.5};
        Desk desk;
        explicit Run(const DeskPaths& paths) : desk(controls, view, clock, paths) {
            SetDesignValues(controls);
            for (int t = 0; t < kMaxTables; ++t) desk.InitializeBrokerIDList(t, 10 * t + 1);
        }
    };

    DeskPaths Paths() const { return test::PathsIn(dir); }

    TempDir dir;
};

const std::vector<const char*> kDefaultsKeys = {"Standby",
                                                "OrderAttempts",
                                                "LoopTime",
                                                "Timeout",
                                                "Tables",
                                                "Slippage",
                                                "AlertLevel",
                                                "AutoSaveMinutes",
                                                "MaxAutoTrades",
                                                "AutoTradeInterval",
                                                "AlertInterval",
                                                "Del",
                                                "DelMode",
                                                "SeqMode",
                                                "CombinationPause",
                                                "PRIDynamic",
                                                "SimultaneousClosing",
                                                "ClosingPause",
                                                "CloseTime",
                                                "AddCanT",
                                                "AddCloT"};
const std::vector<const char*> kGroupKeysWritten = {
    "Lots", "OpenSpread", "CloseSpread", "Direction", "MaxLoss", "SlippageCorrection", "ForcedAutoClose"};

} // namespace

TEST_F(Settings, WithoutAFileEverySettingTakesItsDefault) {
    Run r(Paths());
    r.desk.LoadConfig();
    const FakeControls& c = r.controls;
    EXPECT_TRUE(c.Checked(Ctl::chkbStandby));
    EXPECT_EQ(c.Text(Ctl::seRequoteAnzahl), "2");
    EXPECT_EQ(c.Text(Ctl::seLoopTime), "200");
    EXPECT_EQ(c.Text(Ctl::seTimeOut), "4");
    EXPECT_DOUBLE_EQ(r.desk.settings.CONNECTION_TIMEOUT, 4.0 / 86400.0);
    EXPECT_EQ(r.desk.settings.m_iAnzahlTabellen, 1);
    EXPECT_EQ(c.Text(Ctl::seSlippage), "16");
    EXPECT_EQ(c.Text(Ctl::reAlert), "-0,00018");
    EXPECT_EQ(r.desk.settings.autoSaveMinutes, 3);
    EXPECT_EQ(r.view.autoSaveMs, 180000u);
    EXPECT_EQ(r.desk.settings.maxAutoTrades, 2);
    EXPECT_EQ(c.Text(Ctl::seMaxAutoTrades), "2");
    EXPECT_EQ(r.desk.settings.autoTradeInterval, 1);
    EXPECT_EQ(c.Text(Ctl::seTradeIntervall), "1");
    EXPECT_EQ(c.Text(Ctl::reAlertIntervall), "1,0");
    EXPECT_EQ(c.Text(Ctl::seDelayPos2), "100");
    EXPECT_FALSE(c.Checked(Ctl::chkbDelayMode));
    EXPECT_TRUE(c.Checked(Ctl::chkbSeqMode));
    EXPECT_EQ(r.desk.settings.combinationPauseMS, 500);
    EXPECT_EQ(c.Text(Ctl::rePRIDynamic), "0,0010");
    EXPECT_EQ(r.desk.settings.simultaneousClosing, 2);
    EXPECT_EQ(r.desk.settings.closingPauseSeconds, 1.0);
    EXPECT_EQ(c.Text(Ctl::seMaxCounterCheck), "60");
    EXPECT_TRUE(c.Checked(Ctl::chkbAddCanT));
    EXPECT_TRUE(c.Checked(Ctl::chkbAddCloT));
    // Controls without a key keep their design values.
    EXPECT_TRUE(c.Checked(Ctl::cbAlertAktiv));
    EXPECT_FALSE(c.Checked(Ctl::cbAutoTrade));
    for (int t = 0; t < kMaxTables; ++t) {
        const auto& f = c.frames[t];
        EXPECT_EQ(f.text.at(FrameCtl::reLots1), "0,10") << t;
        EXPECT_EQ(f.text.at(FrameCtl::reSpread1), "-0,00019") << t;
        EXPECT_EQ(f.text.at(FrameCtl::reMaxVerlust), "-0,00010") << t;
        EXPECT_EQ(f.text.at(FrameCtl::reCloseSpread1), "-0,00009") << t;
        EXPECT_TRUE(c.FrameChecked(t, FrameCtl::rbBuySell1));
        EXPECT_FALSE(c.FrameChecked(t, FrameCtl::rbBuy1));
        EXPECT_FALSE(c.FrameChecked(t, FrameCtl::cbSlippageAusgleich1));
        EXPECT_TRUE(c.FrameChecked(t, FrameCtl::cbAutoClose));
        EXPECT_TRUE(c.FrameChecked(t, FrameCtl::rbSpreadKleinerGleich1));
        for (int k = 0; k < 10; ++k) EXPECT_EQ(f.ticks[k], t < 10) << t << " " << k;
    }
}

TEST_F(Settings, TheDefaultFileHoldsEveryKeyInOrderAndASecondStartReadsTheSameValues) {
    const DeskPaths paths = Paths();
    Run first(paths);
    first.desk.LoadConfig();
    ASSERT_TRUE(FileExists(paths.configIni));

    // 21 + 7 + 7 + 200 keys, sections and keys in the writer's order.
    std::vector<std::pair<std::string, std::string>> expected;
    expected.emplace_back("[Defaults]", "");
    const std::vector<const char*> defaultsValues = {"1",   "2",     "200", "4", "1",   "16", "-0,00018",
                                                     "3",   "2",     "1",   "1", "100", "0",  "1",
                                                     "500", "0,001", "2",   "1", "60",  "1",  "1"};
    for (size_t i = 0; i < kDefaultsKeys.size(); ++i)
        expected.emplace_back(kDefaultsKeys[i], defaultsValues[i]);
    // General format: fixed notation down to 0.00001.
    const std::vector<const char*> groupValues = {"0,1", "-0,00019", "-0,00009", "a", "-0,0001", "0", "1"};
    for (const char* g : {"[===== Group_1 =====]", "[===== Group_2 =====]"}) {
        expected.emplace_back(g, "");
        for (size_t i = 0; i < kGroupKeysWritten.size(); ++i)
            expected.emplace_back(kGroupKeysWritten[i], groupValues[i]);
    }
    expected.emplace_back("[===== BrokerIDs =====]", "");
    for (int n = 1; n <= 200; ++n)
        expected.emplace_back("BrokerID" + std::to_string(n), n <= 100 ? "1" : "0");
    EXPECT_EQ(Entries(paths.configIni), expected);
    EXPECT_EQ(expected.size(), 4u + 21 + 7 + 7 + 200);

    const std::string bytes = ReadRaw(paths.configIni);
    Run second(paths);
    second.desk.LoadConfig();
    EXPECT_EQ(ReadRaw(paths.configIni), bytes); // an existing file is not written
    EXPECT_EQ(second.controls.text, first.controls.text);
    EXPECT_EQ(second.controls.checked, first.controls.checked);
    for (int t = 0; t < kMaxTables; ++t) {
        EXPECT_EQ(second.controls.frames[t].text, first.controls.frames[t].text);
        EXPECT_EQ(second.controls.frames[t].checked, first.controls.frames[t].checked);
        EXPECT_EQ(second.controls.frames[t].ticks, first.controls.frames[t].ticks);
    }
    EXPECT_EQ(second.view.autoSaveMs, first.view.autoSaveMs);
    EXPECT_EQ(second.desk.settings.closingPauseSeconds, first.desk.settings.closingPauseSeconds);
    EXPECT_EQ(second.desk.settings.combinationPauseMS, first.desk.settings.combinationPauseMS);
}

TEST_F(Settings, MissingKeysTakeTheirDefaultsAndTheFileStaysAsItWas) {
    const DeskPaths paths = Paths();
    const std::string text = "[Defaults]\r\nTimeout=9\r\n[===== Group_2 =====]\r\nLots=0,7\r\n";
    WriteRaw(paths.configIni, text);
    Run r(paths);
    r.desk.LoadConfig();
    EXPECT_EQ(r.controls.Text(Ctl::seTimeOut), "9");
    EXPECT_EQ(r.controls.Text(Ctl::seLoopTime), "200");
    EXPECT_TRUE(r.controls.Checked(Ctl::chkbStandby));
    EXPECT_EQ(r.controls.frames[3].text.at(FrameCtl::reLots1), "0,10");
    EXPECT_EQ(r.controls.frames[12].text.at(FrameCtl::reLots1), "0,70");
    EXPECT_EQ(ReadRaw(paths.configIni), text);
}

TEST_F(Settings, ValueFormsAndClampsOfTheDefaultsSection) {
    struct Case {
        const char* key;
        const char* text;
        Ctl control;
        const char* shown; // spin or real edit text; for check boxes "1" or "0"
    };
    const Case cases[] = {
        {"Standby", "0", Ctl::chkbStandby, "0"},
        {"Standby", "2", Ctl::chkbStandby, "1"},
        {"Standby", "-1", Ctl::chkbStandby, "1"},
        {"Standby", "yes", Ctl::chkbStandby, "1"},    // a word gives the default
        {"DelMode", "True", Ctl::chkbDelayMode, "0"}, // default false
        {"SeqMode", "0", Ctl::chkbSeqMode, "0"},
        {"Timeout", "0x10", Ctl::seTimeOut, "16"},
        {"Timeout", "0X1f", Ctl::seTimeOut, "31"},
        {"Timeout", "4.5", Ctl::seTimeOut, "4"},
        {"Timeout", "", Ctl::seTimeOut, "4"},
        {"Slippage", "500", Ctl::seSlippage, "100"},
        {"OrderAttempts", "-3", Ctl::seRequoteAnzahl, "0"},
        {"LoopTime", "-5", Ctl::seLoopTime, "-5"}, // no limits
        {"CloseTime", "99999", Ctl::seMaxCounterCheck, "99999"},
        {"AlertLevel", "-0.00018", Ctl::reAlert, "-0,00018"}, // the other separator: default
        {"AlertLevel", "-0,0002", Ctl::reAlert, "-0,00020"},
        {"AlertLevel", "-0,000123456", Ctl::reAlert, "-0,00012"}, // rounded by the box
        {"AlertLevel", "x", Ctl::reAlert, "-0,00018"},
        {"AlertInterval", "2,5", Ctl::reAlertIntervall, "2,5"},
        {"PRIDynamic", "0,0025", Ctl::rePRIDynamic, "0,0025"},
        {"MaxAutoTrades", "7", Ctl::seMaxAutoTrades, "7"},
        {"AutoTradeInterval", "0", Ctl::seTradeIntervall, "1"},
        {"AutoTradeInterval", "20000", Ctl::seTradeIntervall, "10000"},
    };
    const DeskPaths paths = Paths();
    for (const Case& k : cases) {
        WriteRaw(paths.configIni, std::string("[Defaults]\r\n") + k.key + "=" + k.text + "\r\n");
        Run r(paths);
        r.desk.LoadConfig();
        const bool isCheck = k.control >= Ctl::chkbStandby;
        const std::string shown =
            isCheck ? (r.controls.Checked(k.control) ? "1" : "0") : r.controls.Text(k.control);
        EXPECT_EQ(shown, k.shown) << k.key << "=" << k.text;
    }
    // Fields keep what was read.
    WriteRaw(paths.configIni, "[Defaults]\r\nAutoTradeInterval=0\r\nTables=3\r\nAutoSaveMinutes=0\r\n"
                              "CombinationPause=0x100\r\nClosingPause=2,5\r\nSimultaneousClosing=5\r\n");
    Run r(paths);
    r.desk.LoadConfig();
    EXPECT_EQ(r.desk.settings.autoTradeInterval, 0);
    EXPECT_EQ(r.desk.settings.m_iAnzahlTabellen, 3);
    EXPECT_EQ(r.view.autoSaveMs, 0u); // no automatic save
    EXPECT_EQ(r.desk.settings.combinationPauseMS, 256);
    EXPECT_EQ(r.desk.settings.closingPauseSeconds, 2.5);
    EXPECT_EQ(r.desk.settings.simultaneousClosing, 5);
}

// "Tables" and "AutoSaveMinutes" are held within what the window and the timer can take, and
// the interval is worked out without wrapping.
TEST_F(Settings, TablesAndTheAutoSaveIntervalAreClampedAtReading) {
    struct Case {
        const char* tables;
        const char* minutes;
        int tablesHeld, minutesHeld;
        unsigned intervalMs;
    };
    const Case cases[] = {
        {"20", "1", 20, 1, 60000u},
        {"21", "0", 20, 0, 0u},
        {"2147483647", "87903664", 20, 35791, 2147460000u}, // not a save every 512 ms
        {"-2147483648", "-1", 0, 0, 0u},
        {"0", "35791", 0, 35791, 2147460000u},
        {"-3", "71583", 0, 35791, 2147460000u}, // 71,583 x 60,000 leaves 32 bits by 20 s
        {"1", "2147483647", 1, 35791, 2147460000u},
    };
    const DeskPaths paths = Paths();
    for (const Case& c : cases) {
        WriteRaw(paths.configIni, std::string("[Defaults]\r\nTables=") + c.tables +
                                      "\r\nAutoSaveMinutes=" + c.minutes + "\r\n");
        Run r(paths);
        r.desk.FormCreate();
        EXPECT_EQ(r.desk.settings.m_iAnzahlTabellen, c.tablesHeld) << c.tables;
        EXPECT_EQ(r.desk.settings.maxIDs, 10 * c.tablesHeld) << c.tables;
        EXPECT_EQ(r.desk.settings.autoSaveMinutes, c.minutesHeld) << c.minutes;
        EXPECT_EQ(r.view.autoSaveMs, c.intervalMs) << c.minutes;
        r.desk.UpdateWatchGrid(); // the Watch grid's row count from "Tables"
        EXPECT_EQ(r.view.watch.rows, c.tablesHeld + 1) << c.tables;
    }
}

TEST_F(Settings, GroupSectionsAndBrokerTicksReachTheirFrames) {
    const DeskPaths paths = Paths();
    // CloseSpread in the exponent form that earlier desks wrote.
    WriteRaw(paths.configIni,
             "[===== Group_1 =====]\r\nLots=0,125\r\nDirection=b\r\nMaxLoss=-0,0003\r\n"
             "SlippageCorrection=1\r\nForcedAutoClose=0\r\nCloseSpread=-7E-5\r\n"
             "[===== Group_2 =====]\r\nDirection=s\r\nOpenSpread=-0,0005\r\n"
             "CloseSpread=0,0001\r\n"
             "[===== BrokerIDs =====]\r\nBrokerID5=0\r\nBrokerID105=1\r\nBrokerID200=yes\r\n");
    Run r(paths);
    r.desk.LoadConfig();
    const FakeControls& c = r.controls;
    for (int t : {0, 2, 9}) {
        EXPECT_EQ(c.frames[t].text.at(FrameCtl::reLots1), "0,12") << t; // two decimals
        EXPECT_TRUE(c.FrameChecked(t, FrameCtl::rbBuy1));
        EXPECT_FALSE(c.FrameChecked(t, FrameCtl::rbBuySell1));
        EXPECT_EQ(c.frames[t].text.at(FrameCtl::reMaxVerlust), "-0,00030");
        EXPECT_TRUE(c.FrameChecked(t, FrameCtl::cbSlippageAusgleich1));
        EXPECT_FALSE(c.FrameChecked(t, FrameCtl::cbAutoClose));
        EXPECT_EQ(c.frames[t].text.at(FrameCtl::reCloseSpread1), "-0,00007") << t;
    }
    for (int t : {10, 19}) {
        EXPECT_EQ(c.frames[t].text.at(FrameCtl::reLots1), "0,10") << t;
        EXPECT_TRUE(c.FrameChecked(t, FrameCtl::rbSell1));
        EXPECT_EQ(c.frames[t].text.at(FrameCtl::reSpread1), "-0,00050");
        EXPECT_EQ(c.frames[t].text.at(FrameCtl::reCloseSpread1), "0,00010");
    }
    EXPECT_FALSE(c.frames[0].ticks[4]); // EA 5
    EXPECT_TRUE(c.frames[0].ticks[5]);
    EXPECT_TRUE(c.frames[10].ticks[4]); // EA 105
    EXPECT_FALSE(c.frames[10].ticks[5]);
    EXPECT_FALSE(c.frames[19].ticks[9]); // EA 200: a word gives the default, unticked
}

TEST_F(Settings, DirectionIsComparedExactly) {
    const DeskPaths paths = Paths();
    for (auto [text, expected] :
         {std::pair{"b", FrameCtl::rbBuy1}, std::pair{"s", FrameCtl::rbSell1},
          std::pair{"B", FrameCtl::rbBuySell1}, std::pair{"buy", FrameCtl::rbBuySell1},
          std::pair{"a", FrameCtl::rbBuySell1}, std::pair{"", FrameCtl::rbBuySell1}}) {
        WriteRaw(paths.configIni, std::string("[===== Group_1 =====]\r\nDirection=") + text + "\r\n");
        Run r(paths);
        r.controls.SetFrameChecked(0, FrameCtl::rbSell1, true); // something else before the read
        r.desk.LoadConfig();
        for (FrameCtl rb : {FrameCtl::rbBuy1, FrameCtl::rbBuySell1, FrameCtl::rbSell1})
            EXPECT_EQ(r.controls.FrameChecked(0, rb), rb == expected) << '"' << text << '"';
    }
}

TEST_F(Settings, TheWriterTakesFieldsAndEachGroupsLastFrame) {
    const DeskPaths paths = Paths();
    Run r(paths);
    r.desk.settings.maxAutoTrades = 4;
    r.desk.settings.autoTradeInterval = 0;
    r.controls.text[Ctl::seMaxAutoTrades] = "9";  // the fields are written, not the spin edits
    r.controls.text[Ctl::seTradeIntervall] = "8"; //
    r.controls.text[Ctl::seSlippage] = "abc";     // not an integer: the lower limit
    r.controls.SetFrameRealValue(3, FrameCtl::reLots1, 0.3);
    r.controls.SetFrameRealValue(9, FrameCtl::reLots1, 0.9);
    r.controls.SetFrameChecked(9, FrameCtl::rbSell1, true);
    r.controls.SetFrameChecked(19, FrameCtl::rbBuy1, true);
    r.controls.frames[15].exists = false; // a table without a frame writes nothing
    r.desk.SaveConfig();
    const auto e = Entries(paths.configIni);
    auto value = [&](const std::string& section, const std::string& key) {
        bool in = false;
        for (const auto& [k, v] : e) {
            if (k.front() == '[')
                in = k == "[" + section + "]";
            else if (in && k == key)
                return v;
        }
        return std::string("<missing>");
    };
    EXPECT_EQ(value("Defaults", "MaxAutoTrades"), "4");
    EXPECT_EQ(value("Defaults", "AutoTradeInterval"), "0");
    EXPECT_EQ(value("Defaults", "Slippage"), "0");
    EXPECT_EQ(value("===== Group_1 =====", "Lots"), "0,9");
    EXPECT_EQ(value("===== Group_1 =====", "Direction"), "s");
    EXPECT_EQ(value("===== Group_2 =====", "Direction"), "b");
    EXPECT_EQ(value("===== BrokerIDs =====", "BrokerID150"), "1");
    EXPECT_EQ(value("===== BrokerIDs =====", "BrokerID151"), "<missing>");
    EXPECT_EQ(value("===== BrokerIDs =====", "BrokerID160"), "<missing>");
    EXPECT_EQ(value("===== BrokerIDs =====", "BrokerID161"), "1");
}

TEST_F(Settings, FloatsFollowThePointLocale) {
    test::LocaleScope point('.');
    const DeskPaths paths = Paths();
    {
        Run r(paths);
        r.desk.LoadConfig();
        EXPECT_EQ(r.controls.Text(Ctl::reAlert), "-0.00018");
        EXPECT_EQ(r.controls.frames[0].text.at(FrameCtl::reLots1), "0.10");
    }
    auto e = Entries(paths.configIni);
    EXPECT_EQ(e[7], (std::pair<std::string, std::string>{"AlertLevel", "-0.00018"}));
    EXPECT_EQ(e[16], (std::pair<std::string, std::string>{"PRIDynamic", "0.001"}));
    // A file written under a comma locale gives the defaults of its floats here.
    WriteRaw(paths.configIni, "[Defaults]\r\nAlertLevel=-0,0002\r\nAlertInterval=2.5\r\n");
    Run r(paths);
    r.desk.LoadConfig();
    EXPECT_EQ(r.controls.Text(Ctl::reAlert), "-0.00018");
    EXPECT_EQ(r.controls.Text(Ctl::reAlertIntervall), "2.5");
}

TEST_F(Settings, AFailedWriteStopsTheCreationAndNothingIsOverwritten) {
    DeskPaths paths = Paths();
    paths.configIni = dir.File("missing/config.ini"); // the directory does not exist
    WriteRaw(paths.dataDat, "previous snapshot");
    {
        Run r(paths);
        try {
            r.desk.LoadConfig();
            FAIL() << "no error";
        } catch (const IniWriteError& e) {
            EXPECT_EQ(std::string(e.what()), "In " + paths.configIni + " kann nicht geschrieben werden");
        }
    }
    FakeControls controls;
    SetDesignValues(controls);
    FakeView view;
    ManualClock clock{46000.5};
    {
        Desk desk(controls, view, clock, paths);
        desk.Guarded([&] { desk.FormCreate(); }); // as the window runs its creation
        ASSERT_EQ(view.stopBoxes.size(), 1u);
        EXPECT_EQ(view.stopBoxes[0], "In " + paths.configIni + " kann nicht geschrieben werden.");
        EXPECT_EQ(controls.Text(Ctl::seTimeOut), "4"); // what was read stays applied
        EXPECT_EQ(desk.settings.maxIDs, 0);            // the creation stopped before it
        EXPECT_FALSE(desk.files.m_bPricesLoaded);
        desk.Guarded([&] { desk.FormDestroy(); });
    }
    EXPECT_EQ(ReadRaw(paths.dataDat), "previous snapshot");
}

TEST_F(Settings, CreationPreparesTheBrokerListsBeforeReadingTheFile) {
    const DeskPaths paths = Paths();
    WriteRaw(paths.configIni, "[Defaults]\r\nTables=2\r\n[===== BrokerIDs =====]\r\nBrokerID3=0\r\n");
    FakeControls controls;
    SetDesignValues(controls);
    FakeView view;
    ManualClock clock{46000.5};
    Desk desk(controls, view, clock, paths);
    desk.FormCreate();
    EXPECT_TRUE(view.stopBoxes.empty());
    const std::vector<std::string> first = {"1", "2", "3", "4", "5", "6", "7", "8", "9", "10"};
    EXPECT_EQ(controls.frames[0].brokers, first);
    EXPECT_EQ(controls.frames[19].brokers.front(), "191");
    EXPECT_EQ(controls.frames[19].brokers.back(), "200");
    EXPECT_EQ(controls.frames[0].ticks,
              std::vector<bool>({true, true, false, true, true, true, true, true, true, true}));
    EXPECT_EQ(controls.frames[10].ticks, std::vector<bool>(10, false));
    EXPECT_EQ(desk.settings.maxIDs, 20);
}

TEST_F(Settings, ResetATRestoresTheConfiguredCredits) {
    const DeskPaths paths = Paths();
    WriteRaw(paths.configIni, "[Defaults]\r\nMaxAutoTrades=3\r\n");
    Run r(paths);
    r.desk.LoadConfig();
    r.controls.text[Ctl::seMaxAutoTrades] = "7"; // credits given back meanwhile
    r.controls.checked[Ctl::cbAutoTrade] = false;
    r.desk.orderControls.ResetAutoTrade();
    EXPECT_EQ(r.controls.Text(Ctl::seMaxAutoTrades), "3");
    EXPECT_TRUE(r.controls.Checked(Ctl::cbAutoTrade));
}

TEST(SpinEdit, ReadsTextAsAnIntegerAndClampsWhenItHasARange) {
    struct Read {
        const char* text;
        SpinRange range;
        int32_t value;
    };
    for (const Read& c : {Read{"12", {0, 100}, 12}, Read{"", {0, 0}, 0}, Read{"abc", {1, 10000}, 1},
                          Read{"1,5", {0, 100}, 0}, Read{"-7", {0, 0}, -7}, Read{"2147483648", {0, 0}, 0},
                          Read{"500", {0, 100}, 500}}) // reading does not clamp
        EXPECT_EQ(SpinTextToValue(c.text, c.range), c.value) << c.text;
    struct Clamp {
        int32_t in;
        SpinRange range;
        int32_t out;
    };
    for (const Clamp& c :
         {Clamp{500, {0, 100}, 100}, Clamp{-3, {0, 100}, 0}, Clamp{0, {1, 10000}, 1},
          Clamp{20000, {1, 10000}, 10000}, Clamp{-5, {0, 0}, -5}, Clamp{INT32_MAX, {0, 0}, INT32_MAX}})
        EXPECT_EQ(SpinClamp(c.in, c.range), c.out) << c.in;
    FakeControls controls;
    controls.SetSpinValue(Ctl::seSlippage, 500);
    EXPECT_EQ(controls.Text(Ctl::seSlippage), "100");
    controls.SetSpinValue(Ctl::seLoopTime, -1);
    EXPECT_EQ(controls.Text(Ctl::seLoopTime), "-1");
    controls.text[Ctl::seTradeIntervall] = "x";
    EXPECT_EQ(controls.SpinValue(Ctl::seTradeIntervall), 1);
}
