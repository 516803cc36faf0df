// What the runner tells of a faulty scenario: a malformed line with its file and line, and
// each step whose outcome differs from what the scenario says.
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "runner/scenario.h"
#include "tests/support/tempdir.h"

using namespace quorvel;
using namespace quorvel::scenario;

namespace {

std::string ParseError(const std::string& text, const std::filesystem::path& dir = ".") {
    try {
        ParseScenarioText("t.scn", text, dir);
    } catch (const ScenarioError& e) {
        return e.what();
    }
    return "(no error)";
}

TEST(ScenarioFaults, MalformedLinesAreNamedWithTheirFileAndLine) {
    const std::string linked = "start\nconnect a\n";
    const struct {
        std::string text, error;
    } cases[] = {
        {"stat", "t.scn:1: unknown step stat"},
        {linked + "a: send OrderQuestoin 1 -> 1", "t.scn:3: unknown message OrderQuestoin"},
        {linked + "a: send OrderQuestion 1 1", "t.scn:3: send needs MSG WPARAM [LPARAM] -> ANSWER"},
        {linked + "a: send OrderQuestion one -> 1", "t.scn:3: one is not a 32-bit integer"},
        {linked + "b: send OrderQuestion 1 -> 1", "t.scn:3: no link b: connect it first"},
        {linked + "a: stop", "t.scn:3: only send and quote go over a link: a:"},
        {linked + "a: send GetOrderType $buy -> 1",
         "t.scn:3: $buy is neither set nor bound by an answer before this line"},
        {"# the desk\n\nleg Lotz=0.1", "t.scn:3: no field Lotz in the order list"},
        {"leg Lots=0,1", "t.scn:1: Lots=0,1: not a decimal number"},
        {"leg Status=stClose", "t.scn:1: Status=stClose: not an integer"},
        {"config Tables=1 Tables=2", "t.scn:1: config key Tables is given twice"},
        {"connect a", "t.scn:1: connect comes after start"},
        {"start\nconfig Tables=1", "t.scn:2: config comes before start"},
        {"start\nstart", "t.scn:2: the desk starts once"},
        {"start\nsaved legs 2", "t.scn:2: saved comes after stop"},
        {linked + "stop\na: send OrderQuestion 1 -> 1", "t.scn:4: send comes before stop"},
        {"start\nstop\nsaved times 1 Lots", "t.scn:3: Lots is no date-time field of the order list"},
    };
    for (const auto& c : cases) EXPECT_EQ(ParseError(c.text), c.error) << c.text;
}

TEST(ScenarioFaults, AnIncludedFileNamesItsOwnLines) {
    test::TempDir dir;
    const std::string bad = dir.File("bad.scn"), self = dir.File("self.scn");
    std::ofstream(bad) << "# fine\nstrat\n";
    std::ofstream(self) << "include self.scn\n";
    EXPECT_EQ(ParseError("include bad.scn", dir.Path()), bad + ":2: unknown step strat");
    EXPECT_EQ(ParseError("\ninclude none.scn", dir.Path()), "t.scn:2: cannot read " + dir.File("none.scn"));
    EXPECT_EQ(ParseError("include self.scn", dir.Path()), self + ":1: " + self + " includes itself");
}

// A desk that answers every message with its LParam, keeps the files it is given, and has
// notified two texts.
class EchoDesk final : public ScenarioDesk {
public:
    std::filesystem::path ConfigFile() const override { return m_dir.Path() / "config.ini"; }
    std::filesystem::path DataDir() const override { return m_dir.Path(); }
    TDateTime Now() const override { return 45000.5; }
    void Start() override {}
    void Connect(const std::string&) override {}
    int32_t Send(const std::string&, int32_t, int32_t, int32_t lparam) override { return lparam; }
    void Stop() override {}
    std::vector<std::string> Notifications() override { return {"B closed", "A closed at 0,5"}; }

private:
    test::TempDir m_dir;
};

TEST(ScenarioFaults, EachDifferingOutcomeIsReportedWithItsLine) {
    const std::string linked = "start\nconnect a\n";
    const std::string saved = "leg Lots=0.1 PendingTime=45000.5 OrderOpenTime=45000.25\nstart\nstop\n";
    const struct {
        std::string text;
        std::vector<std::string> failures;
    } cases[] = {
        {linked + "a: send GetEALoopTime 1 7 -> 8\na: send GetEALoopTime 1 8 -> 8",
         {"t.scn:3: a: GetEALoopTime 1 7 answered 7, expected 8"}},
        // An answer that binds no new OrderID ends the run.
        {linked + "a: send OrderQuestion 1 0 -> $buy\na: send GetEALoopTime 1 7 -> 8",
         {"t.scn:3: a: OrderQuestion 1 0 answered 0: no new OrderID for $buy"}},
        {linked + "a: send OrderQuestion 1 5 -> $buy\na: send OrderQuestion 2 5 -> $sell",
         {"t.scn:4: a: OrderQuestion 2 5 answered 5: no new OrderID for $sell"}},
        {linked + "a: send OrderQuestion 1 5 -> $buy\na: send GetOrderType $buy 6 -> $buy",
         {"t.scn:4: a: GetOrderType 5 6 answered 6, expected 5"}},
        {saved + "saved legs 2", {"t.scn:4: Orderlist.xml holds 1 legs, expected 2"}},
        {saved + "saved leg 1 Lots=0.1 Status=null\nsaved leg 1 Lots=0.2 Ticket=5",
         {"t.scn:5: leg 1: Lots is 0.1, expected 0.2", "t.scn:5: leg 1: Ticket is null, expected 5"}},
        {saved + "saved leg 2 Lots=0.1", {"t.scn:4: Orderlist.xml holds no leg 2"}},
        {saved + "saved times 1 PendingTime\nsaved times 1 PendingTime OrderOpenTime",
         {"t.scn:5: leg 1: OrderOpenTime 45000.25 lies before PendingTime 45000.5"}},
        {saved + "notified B closed\nnotified A closed at 0.5", {}},
        {saved + "notified A closed at 0.5\nnotified B closed",
         {"t.scn:5: no notification reads 'B closed' after the one the line before names; newest first:\n"
          "  B closed\n  A closed at 0,5"}},
        {saved + "notified A closed at 0.6",
         {"t.scn:4: no notification reads 'A closed at 0.6'; newest first:\n  B closed\n  A closed at 0,5"}},
    };
    for (const auto& c : cases) {
        EchoDesk desk;
        std::vector<std::string> failures;
        for (const Failure& f : RunScenario(ParseScenarioText("t.scn", c.text, "."), desk))
            failures.push_back(f.Text());
        EXPECT_EQ(failures, c.failures) << c.text;
    }
}

} // namespace
