#pragma once
// Plain stand-ins for the window's controls and view.
#include <array>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "desk/core/controls.h"
#include "desk/core/view.h"

namespace quorvel::test {

class FakeControls : public IDeskControls {
public:
    std::map<Ctl, std::string> text;
    std::map<Ctl, bool> checked;
    std::string Text(Ctl c) const override {
        auto it = text.find(c);
        return it == text.end() ? std::string() : it->second;
    }
    void SetText(Ctl c, const std::string& t) override { text[c] = t; }
    bool Checked(Ctl c) const override {
        auto it = checked.find(c);
        return it != checked.end() && it->second;
    }
    void SetChecked(Ctl c, bool on) override {
        if (on && (c == Ctl::rbBuyChange || c == Ctl::rbBuySellChange || c == Ctl::rbSellChange))
            for (Ctl r : {Ctl::rbBuyChange, Ctl::rbBuySellChange, Ctl::rbSellChange}) checked[r] = false;
        checked[c] = on;
    }

    struct Frame {
        bool exists = true;
        std::map<FrameCtl, std::string> text;
        std::map<FrameCtl, bool> checked;
        std::vector<std::string> brokers;
        std::vector<bool> ticks;
    };
    std::array<Frame, 20> frames;
    int activePage = 21; // ADMIN PANEL
    bool HasFrame(int t) const override { return t >= 0 && t < 20 && frames[t].exists; }
    std::string FrameText(int t, FrameCtl c) const override {
        auto it = frames[t].text.find(c);
        return it == frames[t].text.end() ? std::string() : it->second;
    }
    void SetFrameText(int t, FrameCtl c, const std::string& s) override { frames[t].text[c] = s; }
    bool FrameChecked(int t, FrameCtl c) const override {
        auto it = frames[t].checked.find(c);
        return it != frames[t].checked.end() && it->second;
    }
    void SetFrameChecked(int t, FrameCtl c, bool on) override {
        if (on && (c == FrameCtl::rbBuy1 || c == FrameCtl::rbBuySell1 || c == FrameCtl::rbSell1))
            for (FrameCtl r : {FrameCtl::rbBuy1, FrameCtl::rbBuySell1, FrameCtl::rbSell1})
                frames[t].checked[r] = false;
        frames[t].checked[c] = on;
    }
    void SetBrokerItems(int t, const std::vector<std::string>& items) override {
        frames[t].brokers = items;
        frames[t].ticks.assign(items.size(), false);
    }
    int BrokerCount(int t) const override { return static_cast<int>(frames[t].brokers.size()); }
    std::string BrokerText(int t, int i) const override { return frames[t].brokers[i]; }
    bool BrokerChecked(int t, int i) const override { return frames[t].ticks[i]; }
    void SetBrokerChecked(int t, int i, bool on) override { frames[t].ticks[i] = on; }
    int ActiveTableIndex() const override { return activePage; }
    bool watchActive = false;
    bool WatchPageActive() const override { return watchActive; }

    // The "Edit Orders" group: its broker list and which parts are on and grey.
    std::vector<std::string> panelBrokers{"01", "02", "03"};
    std::vector<bool> panelTicks = std::vector<bool>(3, false);
    std::map<PanelPart, bool> panelEnabled;
    std::map<PanelPart, bool> panelGrey;
    void SetPanelBrokerItems(const std::vector<std::string>& items) override {
        panelBrokers = items;
        panelTicks.assign(items.size(), false);
    }
    int PanelBrokerCount() const override { return static_cast<int>(panelBrokers.size()); }
    std::string PanelBrokerText(int i) const override { return panelBrokers.at(static_cast<size_t>(i)); }
    bool PanelBrokerChecked(int i) const override { return panelTicks.at(static_cast<size_t>(i)); }
    void SetPanelBrokerChecked(int i, bool on) override { panelTicks.at(static_cast<size_t>(i)) = on; }
    void SetPanelEnabled(PanelPart p, bool on) override { panelEnabled[p] = on; }
    void SetPanelFontGrey(PanelPart p, bool grey) override { panelGrey[p] = grey; }
    // Enabled unless switched off (the group starts with every part on).
    bool PanelOn(PanelPart p) const {
        auto it = panelEnabled.find(p);
        return it == panelEnabled.end() || it->second;
    }
    bool PanelGrey(PanelPart p) const {
        auto it = panelGrey.find(p);
        return it != panelGrey.end() && it->second;
    }
};

class FakeView : public IDeskView {
public:
    std::vector<std::string> stopBoxes;
    std::vector<std::u16string> messageBoxes;
    bool terminated = false;
    unsigned autoSaveMs = 300000;
    int beeps = 0;
    void ShowStopBox(const std::string& t) override { stopBoxes.push_back(t); }
    void ShowMessageBox(const std::u16string& t) override { messageBoxes.push_back(t); }
    void Terminate() override { terminated = true; }
    void SetAutoSaveInterval(unsigned ms) override { autoSaveMs = ms; }
    void Beep() override { ++beeps; }

    // notifications: the texts in the order raised; saves counted
    std::vector<std::string> notifications;
    int notificationSaves = 0;
    void ShowNotification(const std::string& t) override { notifications.push_back(t); }
    void SaveNotifications() override { ++notificationSaves; }

    // ---- spread tables: grids and labels as plain cells ------------------------------------
    struct FakeGrid {
        int rows = 0;
        int cols = 0;
        std::map<std::pair<int, int>, std::string> cells; // (col, row)
        std::map<int, int> widths;
        int writes = 0;
        std::string Cell(int col, int row) const {
            auto it = cells.find({col, row});
            return it == cells.end() ? std::string() : it->second;
        }
    };
    // Sizes as laid out.
    std::array<FakeGrid, 20> quote = MakeGrids(21, 13);
    std::array<FakeGrid, 20> pair = MakeGrids(46, 5);
    FakeGrid watch = FakeGrid{21, 6, {}, {}, 0};
    std::array<std::array<std::string, 3>, 20> labels{};
    int labelWrites = 0;

    FakeGrid& GridOf(Grid g, int t) {
        return g == Grid::Watch ? watch : g == Grid::Quote ? quote.at(t) : pair.at(t);
    }
    const FakeGrid& GridOf(Grid g, int t) const { return const_cast<FakeView*>(this)->GridOf(g, t); }
    int GridRowCount(Grid g, int t) const override { return GridOf(g, t).rows; }
    void SetGridRowCount(Grid g, int t, int rows) override { GridOf(g, t).rows = rows; }
    void SetGridColCount(Grid g, int t, int cols) override { GridOf(g, t).cols = cols; }
    void SetGridColWidth(Grid g, int t, int col, int width) override { GridOf(g, t).widths[col] = width; }
    void SetGridCell(Grid g, int t, int col, int row, std::string_view text) override {
        FakeGrid& grid = GridOf(g, t);
        grid.cells[{col, row}] = std::string(text);
        ++grid.writes;
    }
    void SetFrameLabel(int t, FrameLabel l, std::string_view text) override {
        labels.at(t)[static_cast<size_t>(l)] = std::string(text);
        ++labelWrites;
    }
    std::string Label(int t, FrameLabel l) const { return labels.at(t)[static_cast<size_t>(l)]; }
    void ClearWrites() {
        for (auto& g : quote) g.writes = 0;
        for (auto& g : pair) g.writes = 0;
        watch.writes = 0;
        labelWrites = 0;
    }

private:
    static std::array<FakeGrid, 20> MakeGrids(int rows, int cols) {
        std::array<FakeGrid, 20> a;
        for (auto& g : a) {
            g.rows = rows;
            g.cols = cols;
        }
        return a;
    }
};

// A view that shows nothing and controls that hold nothing.
struct NullView : IDeskView {};
struct NullControls : IDeskControls {};

} // namespace quorvel::test
