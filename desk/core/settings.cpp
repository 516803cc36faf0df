// The settings: config.ini's reader and writer, and the broker lists of the table frames that
// the settings tick.
#include <cstdint>
#include <string>
#include <vector>

#include "desk/core/desk.h"
#include "platform/files.h"
#include "platform/profile.h"

namespace quorvel {

namespace {

constexpr const char* kDefaults = "Defaults";
constexpr const char* kBrokerIDs = "===== BrokerIDs =====";

// Tables 0 to 9 share Group_1, tables 10 to 19 Group_2.
std::string GroupSection(int t) {
    return "===== Group_" + std::to_string(t / kEAsPerTable + 1) + " =====";
}

// Calls f(table, item, EA ID) for every broker item of every table that has a frame, in
// the order of the EA IDs.
template <class F> void ForEachBrokerItem(const IDeskControls& c, F f) {
    for (int t = 0; t < kMaxTables; ++t) {
        if (!c.HasFrame(t)) continue;
        const int count = c.BrokerCount(t);
        for (int item = 0; item < kEAsPerTable && item < count; ++item)
            f(t, item, kEAsPerTable * t + 1 + item);
    }
}

// "Tables" beyond the 20 tables the window holds means all of them; 0 or less, none.
int ClampTables(int32_t tables) {
    return tables < 0 ? 0 : tables > kMaxTables ? kMaxTables : tables;
}

// The auto-save timer counts milliseconds in a signed 32-bit number: the longest interval is
// 35,791 minutes (about 24.8 days); a count below 0 means no automatic save, as 0 does.
constexpr int32_t kMaxAutoSaveMinutes = INT32_MAX / 60000;
int ClampAutoSaveMinutes(int32_t minutes) {
    return minutes < 0 ? 0 : minutes > kMaxAutoSaveMinutes ? kMaxAutoSaveMinutes : minutes;
}

unsigned AutoSaveIntervalMs(int minutes) {
    const int64_t ms = static_cast<int64_t>(ClampAutoSaveMinutes(minutes)) * 60000;
    return static_cast<unsigned>(ms);
}

std::string BrokerKey(int id) {
    return "BrokerID" + std::to_string(id);
}

} // namespace

void Desk::InitializeBrokerIDList(int t, int iStartID) {
    if (!m_controls.HasFrame(t)) return;
    std::vector<std::string> items;
    for (int k = 0; k < kEAsPerTable; ++k) items.push_back(std::to_string(iStartID + k));
    m_controls.SetBrokerItems(t, items);
    for (int k = 0; k < kEAsPerTable; ++k) m_controls.SetBrokerChecked(t, k, true);
}

std::string Desk::GetConfigFileName() const {
    return m_paths.configIni;
}

void Desk::LoadConfig() {
    IDeskControls& c = m_controls;
    const std::string path = GetConfigFileName();
    {
        const TIniFile ini(path);
        // "Defaults", each value applied to its target at once.
        c.SetChecked(Ctl::chkbStandby, ini.ReadBool(kDefaults, "Standby", true));
        c.SetSpinValue(Ctl::seRequoteAnzahl, ini.ReadInteger(kDefaults, "OrderAttempts", 2));
        c.SetSpinValue(Ctl::seLoopTime, ini.ReadInteger(kDefaults, "LoopTime", 200));
        c.SetSpinValue(Ctl::seTimeOut, ini.ReadInteger(kDefaults, "Timeout", 4));
        UpdateConnectionTimeout(); // what the box's change event does
        settings.m_iAnzahlTabellen = ClampTables(ini.ReadInteger(kDefaults, "Tables", 1));
        c.SetSpinValue(Ctl::seSlippage, ini.ReadInteger(kDefaults, "Slippage", 16));
        c.SetRealValue(Ctl::reAlert, ini.ReadFloat(kDefaults, "AlertLevel", -0.00018));
        settings.autoSaveMinutes = ClampAutoSaveMinutes(ini.ReadInteger(kDefaults, "AutoSaveMinutes", 3));
        settings.maxAutoTrades = ini.ReadInteger(kDefaults, "MaxAutoTrades", 2);
        settings.autoTradeInterval = ini.ReadInteger(kDefaults, "AutoTradeInterval", 1);
        c.SetRealValue(Ctl::reAlertIntervall, ini.ReadFloat(kDefaults, "AlertInterval", 1.0));
        c.SetSpinValue(Ctl::seDelayPos2, ini.ReadInteger(kDefaults, "Del", 100));
        c.SetChecked(Ctl::chkbDelayMode, ini.ReadBool(kDefaults, "DelMode", false));
        c.SetChecked(Ctl::chkbSeqMode, ini.ReadBool(kDefaults, "SeqMode", true));
        settings.combinationPauseMS = ini.ReadInteger(kDefaults, "CombinationPause", 500);
        c.SetRealValue(Ctl::rePRIDynamic, ini.ReadFloat(kDefaults, "PRIDynamic", 0.001));
        settings.simultaneousClosing = ini.ReadInteger(kDefaults, "SimultaneousClosing", 2);
        settings.closingPauseSeconds = ini.ReadFloat(kDefaults, "ClosingPause", 1.0);
        c.SetSpinValue(Ctl::seMaxCounterCheck, ini.ReadInteger(kDefaults, "CloseTime", 60));
        c.SetChecked(Ctl::chkbAddCanT, ini.ReadBool(kDefaults, "AddCanT", true));
        c.SetChecked(Ctl::chkbAddCloT, ini.ReadBool(kDefaults, "AddCloT", true));

        c.SetSpinValue(Ctl::seMaxAutoTrades, settings.maxAutoTrades);
        c.SetSpinValue(Ctl::seTradeIntervall,
                       settings.autoTradeInterval); // the control clamps, the field keeps
        m_view.SetAutoSaveInterval(AutoSaveIntervalMs(settings.autoSaveMinutes));

        // The order box of every frame from its group section.
        for (int t = 0; t < kMaxTables; ++t) {
            if (!c.HasFrame(t)) continue;
            const std::string section = GroupSection(t);
            c.SetFrameRealValue(t, FrameCtl::reLots1, ini.ReadFloat(section, "Lots", 0.1));
            c.SetFrameRealValue(t, FrameCtl::reSpread1, ini.ReadFloat(section, "OpenSpread", -0.00019));
            const std::string direction = ini.ReadString(section, "Direction", "a");
            c.SetFrameChecked(t,
                              direction == "b"   ? FrameCtl::rbBuy1
                              : direction == "s" ? FrameCtl::rbSell1
                                                 : FrameCtl::rbBuySell1,
                              true);
            c.SetFrameRealValue(t, FrameCtl::reMaxVerlust, ini.ReadFloat(section, "MaxLoss", -0.0001));
            c.SetFrameRealValue(t, FrameCtl::reCloseSpread1, ini.ReadFloat(section, "CloseSpread", -0.00009));
            c.SetFrameChecked(t, FrameCtl::cbSlippageAusgleich1,
                              ini.ReadBool(section, "SlippageCorrection", false));
            c.SetFrameChecked(t, FrameCtl::cbAutoClose, ini.ReadBool(section, "ForcedAutoClose", true));
        }

        // The broker ticks: tables 0 to 9 ticked, 10 to 19 unticked when the file says nothing.
        ForEachBrokerItem(c, [&](int t, int item, int n) {
            c.SetBrokerChecked(t, item, ini.ReadBool(kBrokerIDs, BrokerKey(n), t < kMaxTables / 2));
        });
    } // the accessor is released
    if (!FileExists(path)) SaveConfig();
}

void Desk::SaveConfig() {
    IDeskControls& c = m_controls;
    TIniFile ini(GetConfigFileName());
    ini.WriteBool(kDefaults, "Standby", c.Checked(Ctl::chkbStandby));
    ini.WriteInteger(kDefaults, "OrderAttempts", c.SpinValue(Ctl::seRequoteAnzahl));
    ini.WriteInteger(kDefaults, "LoopTime", c.SpinValue(Ctl::seLoopTime));
    ini.WriteInteger(kDefaults, "Timeout", c.SpinValue(Ctl::seTimeOut));
    ini.WriteInteger(kDefaults, "Tables", settings.m_iAnzahlTabellen);
    ini.WriteInteger(kDefaults, "Slippage", c.SpinValue(Ctl::seSlippage));
    ini.WriteFloat(kDefaults, "AlertLevel", c.RealValue(Ctl::reAlert));
    ini.WriteInteger(kDefaults, "AutoSaveMinutes", settings.autoSaveMinutes);
    ini.WriteInteger(kDefaults, "MaxAutoTrades", settings.maxAutoTrades);
    ini.WriteInteger(kDefaults, "AutoTradeInterval", settings.autoTradeInterval);
    ini.WriteFloat(kDefaults, "AlertInterval", c.RealValue(Ctl::reAlertIntervall));
    ini.WriteInteger(kDefaults, "Del", c.SpinValue(Ctl::seDelayPos2));
    ini.WriteBool(kDefaults, "DelMode", c.Checked(Ctl::chkbDelayMode));
    ini.WriteBool(kDefaults, "SeqMode", c.Checked(Ctl::chkbSeqMode));
    ini.WriteInteger(kDefaults, "CombinationPause", settings.combinationPauseMS);
    ini.WriteFloat(kDefaults, "PRIDynamic", c.RealValue(Ctl::rePRIDynamic));
    ini.WriteInteger(kDefaults, "SimultaneousClosing", settings.simultaneousClosing);
    ini.WriteFloat(kDefaults, "ClosingPause", settings.closingPauseSeconds);
    ini.WriteInteger(kDefaults, "CloseTime", c.SpinValue(Ctl::seMaxCounterCheck));
    ini.WriteBool(kDefaults, "AddCanT", c.Checked(Ctl::chkbAddCanT));
    ini.WriteBool(kDefaults, "AddCloT", c.Checked(Ctl::chkbAddCloT));

    // The ten frames of a group write the same keys: the group's last frame stays.
    for (int t = 0; t < kMaxTables; ++t) {
        if (!c.HasFrame(t)) continue;
        const std::string section = GroupSection(t);
        ini.WriteFloat(section, "Lots", c.FrameRealValue(t, FrameCtl::reLots1));
        ini.WriteFloat(section, "OpenSpread", c.FrameRealValue(t, FrameCtl::reSpread1));
        ini.WriteFloat(section, "CloseSpread", c.FrameRealValue(t, FrameCtl::reCloseSpread1));
        ini.WriteString(section, "Direction",
                        c.FrameChecked(t, FrameCtl::rbBuy1)    ? "b"
                        : c.FrameChecked(t, FrameCtl::rbSell1) ? "s"
                                                               : "a");
        ini.WriteFloat(section, "MaxLoss", c.FrameRealValue(t, FrameCtl::reMaxVerlust));
        ini.WriteBool(section, "SlippageCorrection", c.FrameChecked(t, FrameCtl::cbSlippageAusgleich1));
        ini.WriteBool(section, "ForcedAutoClose", c.FrameChecked(t, FrameCtl::cbAutoClose));
    }

    ForEachBrokerItem(c, [&](int t, int item, int n) {
        ini.WriteBool(kBrokerIDs, BrokerKey(n), c.BrokerChecked(t, item));
    });
    ini.UpdateFile();
}

} // namespace quorvel
