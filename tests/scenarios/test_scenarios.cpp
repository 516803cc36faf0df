// Every scenario file of this folder, run on a desk core in this process and on the built desk
// over its link.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "runner/backends.h"
#include "runner/scenario.h"

using namespace quorvel::scenario;

namespace {

namespace fs = std::filesystem;

const fs::path kFolder = QUORVEL_SCENARIO_DIR;

// The names of the scenario files (shared/ holds the scripts they include).
std::vector<std::string> ScenarioNames() {
    std::vector<std::string> names;
    for (const fs::directory_entry& e : fs::directory_iterator(kFolder))
        if (e.is_regular_file() && e.path().extension() == ".scn") names.push_back(e.path().stem().string());
    std::sort(names.begin(), names.end());
    return names;
}

void RunOn(ScenarioDesk& desk, const std::string& name) {
    Scenario scenario;
    try {
        scenario = ParseScenario(kFolder / (name + ".scn"));
    } catch (const ScenarioError& e) {
        FAIL() << e.what();
    }
    // Each failure at its place in the scenario.
    for (const Failure& f : RunScenario(scenario, desk)) ADD_FAILURE_AT(f.file.c_str(), f.line) << f.what;
}

class Run : public ::testing::TestWithParam<std::string> {};

TEST_P(Run, InProcess) {
    InProcessDesk desk;
    RunOn(desk, GetParam());
}

TEST_P(Run, OverTheLink) {
    LinkedDesk desk;
    RunOn(desk, GetParam());
}

INSTANTIATE_TEST_SUITE_P(Scenarios, Run, ::testing::ValuesIn(ScenarioNames()),
                         [](const ::testing::TestParamInfo<std::string>& p) { return p.param; });

} // namespace
