#pragma once
// Protocol scenarios: script files of EA messages and their answers, the files the desk starts
// with and what it saved (the format: tests/scenarios/README.md). A scenario is read once and
// run against a desk behind ScenarioDesk: a desk core in this process or the built desk over
// the link.
#include <cstdint>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "platform/clientdataset_field.h"
#include "platform/timestamp.h"

namespace quorvel::scenario {

// A malformed line ("file:line: what is wrong"), or a desk that could not be run.
class ScenarioError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A 32-bit number as written, or the name of an OrderID an earlier answer bound.
struct Number {
    int32_t value = 0;
    std::string order; // empty: the value as written
};

// FIELD=VALUE of an order list leg. A value that names a bound OrderID is converted when the
// run knows it; every other value was checked against the field's type when read.
struct FieldValue {
    std::string field;
    FieldType type = FieldType::Integer;
    std::string text;
    bool order = false;
};

enum class Op { Config, Leg, Start, Connect, Send, Stop, SavedLegs, SavedLeg, SavedTimes, Notified };

struct Step {
    Op op = Op::Start;
    std::string file; // where the step is written
    int line = 0;
    std::string link; // Connect, Send
    int32_t msg = 0;  // Send
    std::string msgText;
    Number wparam, lparam, answer;
    bool binds = false;             // Send: the answer is a new OrderID for the name answer.order
    std::string text;               // Config: KEY=VALUE; Notified: the text
    Number leg;                     // SavedLeg, SavedTimes: its OrderID; SavedLegs: the count
    std::vector<FieldValue> fields; // Leg, SavedLeg
    std::vector<std::string> times; // SavedTimes
};

struct Scenario {
    std::vector<Step> steps;
};

// Reads a scenario file and the files it includes. Throws ScenarioError.
Scenario ParseScenario(const std::filesystem::path& file);
// The same for text named `name`; included files are found relative to `dir`.
Scenario ParseScenarioText(const std::string& name, std::string_view text, const std::filesystem::path& dir);

// A field value as the order list holds it (null for "null"; `now` for a date-time "now").
// Throws ScenarioError (without a place) when the text is no value of the field's type.
Variant FieldVariant(FieldType type, const std::string& text, TDateTime now);

// The desk a scenario runs against.
class ScenarioDesk {
public:
    virtual ~ScenarioDesk() = default;
    // Where the desk reads its config.ini, and the folder of its Orderlist.xml.
    virtual std::filesystem::path ConfigFile() const = 0;
    virtual std::filesystem::path DataDir() const = 0;
    // The desk's local time.
    virtual TDateTime Now() const = 0;
    // Starts the desk over its files. Throws when it does not come up.
    virtual void Start() = 0;
    // An EA's connection named `link`. Throws when there is none to be had.
    virtual void Connect(const std::string& link) = 0;
    // One message over `link` and its answer. Throws when the link breaks.
    virtual int32_t Send(const std::string& link, int32_t msg, int32_t wparam, int32_t lparam) = 0;
    // Closes the links and shuts the desk down with its saves. Throws unless it ends cleanly.
    virtual void Stop() = 0;
    // After Stop: the notification texts without their time stamps, the newest first.
    virtual std::vector<std::string> Notifications() = 0;
};

// A step that did not come out as the scenario says.
struct Failure {
    std::string file;
    int line = 0;
    std::string what;
    // "file:line: what"
    std::string Text() const { return file + ":" + std::to_string(line) + ": " + what; }
    bool operator==(const Failure&) const = default;
};

// Runs the steps in order against `desk` and returns the failures; none when everything came
// out as the scenario says. A step that leaves the rest without meaning (the desk does not
// start, a link breaks, an answer binds no new order) ends the run.
std::vector<Failure> RunScenario(const Scenario& scenario, ScenarioDesk& desk);

} // namespace quorvel::scenario
