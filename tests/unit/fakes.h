#pragma once
// Plain stand-ins for the window's controls and view.
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
};

} // namespace quorvel::test
