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
    int BrokerCount(int) const override { return 10; }
    bool BrokerChecked(int, int) const override { return true; }
    int ActiveTableIndex() const override { return 21; }
};

// Shows nothing; counts the stop boxes.
class NullView : public IDeskView {
public:
    void ShowStopBox(const std::string&) override { ++stops; }
    int GridRowCount(Grid g, int) const override { return g == Grid::Watch ? 4 : 21; }
    int stops = 0;
};

} // namespace quorvel::bench
