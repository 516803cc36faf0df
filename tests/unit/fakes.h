#pragma once
// Plain stand-ins for the window's controls and view.
#include <array>
#include <map>
#include <string>
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
    void SetChecked(Ctl c, bool on) override { checked[c] = on; }

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
};

} // namespace quorvel::test
