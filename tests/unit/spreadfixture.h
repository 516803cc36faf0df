#pragma once
// A desk with fake controls and view, a settable clock and ticked broker lists, for the
// cross-spread and spread-table tests.
#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "desk/core/desk.h"
#include "deskharness.h"

namespace quorvel::test {

// Records the auto-trade transactions instead of placing them; can be told to fail.
struct AutoTradeDesk : Desk {
    using Desk::Desk;
    std::vector<int> placed;        // table index of each transaction
    std::vector<size_t> alertsSeen; // notifications present when each was placed
    bool fail = false;
    FakeView* view = nullptr;
    void AutoTradeTable(int t) override {
        if (fail) throw std::runtime_error("Order list not open");
        placed.push_back(t);
        alertsSeen.push_back(view ? view->notifications.size() : 0);
    }
};

struct SpreadFixture : DeskHarness {
    AutoTradeDesk* atDesk = nullptr;

    void Create(int tables = 2, int timeoutSeconds = 4) {
        // "Tables" and "Timeout" come from config.ini.
        WriteConfig(tables, timeoutSeconds);
        atDesk = &Make<AutoTradeDesk>();
        atDesk->view = &view;
        desk->FormCreate();
        ASSERT_EQ(desk->settings.m_iAnzahlTabellen, tables);
        for (int t = 0; t < 20; ++t) {
            std::vector<std::string> items;
            for (int k = 0; k < 10; ++k) items.push_back(std::to_string(10 * t + 1 + k));
            controls.SetBrokerItems(t, items);
            for (int k = 0; k < 10; ++k) controls.SetBrokerChecked(t, k, true);
        }
        controls.text[Ctl::seTimeOut] = std::to_string(timeoutSeconds);
        desk->UpdateConnectionTimeout();
        // Alerts and auto trade off until a test turns them on.
        controls.text[Ctl::reAlert] = "0,00000";
        controls.text[Ctl::reAlertIntervall] = "1,0";
        controls.text[Ctl::seTradeIntervall] = "10";
        controls.text[Ctl::seMaxAutoTrades] = "5";
        controls.checked[Ctl::cbAlertAktiv] = false;
        controls.checked[Ctl::cbAutoTrade] = false;
    }
    void Tick(int id, bool on) { controls.SetBrokerChecked((id - 1) / 10, (id - 1) % 10, on); }
    std::string Label(int t, IDeskView::FrameLabel l) const { return view.Label(t, l); }
};

} // namespace quorvel::test
