#pragma once
// The null surroundings the desk benchmarks run the engine in: controls with twenty table
// frames of ten ticked brokers each, and a view that only counts its stop boxes.
#include <string>
#include <string_view>
#include <vector>

#include "desk/core/desk.h"

namespace quorvel::bench {

// Twenty table frames, ten ticked brokers each, the ADMIN PANEL's page active; the desk's own
// controls (text and ticks) are left to the benchmark.
class FrameControls : public IDeskControls {
public:
    bool HasFrame(int t) const override { return t >= 0 && t < 20; }
    std::string FrameText(int, FrameCtl) const override { return {}; }
    void SetFrameText(int, FrameCtl, const std::string&) override {}
    bool FrameChecked(int, FrameCtl) const override { return false; }
    void SetFrameChecked(int, FrameCtl, bool) override {}
    void SetBrokerItems(int, const std::vector<std::string>&) override {}
    int BrokerCount(int) const override { return 10; }
    std::string BrokerText(int, int) const override { return {}; }
    bool BrokerChecked(int, int) const override { return true; }
    void SetBrokerChecked(int, int, bool) override {}
    int ActiveTableIndex() const override { return 21; }
    bool WatchPageActive() const override { return false; }
};

// Shows nothing; counts the stop boxes.
class NullView : public IDeskView {
public:
    void ShowStopBox(const std::string&) override { ++stops; }
    void ShowMessageBox(const std::u16string&) override {}
    void Terminate() override {}
    void SetAutoSaveInterval(unsigned) override {}
    void Beep() override {}
    void ShowNotification(const std::string&) override {}
    void SaveNotifications() override {}
    int GridRowCount(Grid g, int) const override { return g == Grid::Watch ? 4 : 21; }
    void SetGridRowCount(Grid, int, int) override {}
    void SetGridColCount(Grid, int, int) override {}
    void SetGridColWidth(Grid, int, int, int) override {}
    void SetGridCell(Grid, int, int, int, std::string_view) override {}
    void SetFrameLabel(int, FrameLabel, std::string_view) override {}
    int stops = 0;
};

} // namespace quorvel::bench
