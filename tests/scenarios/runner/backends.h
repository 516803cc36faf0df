#pragma once
// The two desks a scenario runs against: a desk core in this process with the unit tests'
// fakes, each message through Desk::Dispatch; and the built desk as a process of its own,
// each message a record over its link.
#include <map>
#include <memory>
#include <string>

#include "platform/ealink.h"
#include "scenario.h"
#include "tests/support/tempdir.h"
#include "tests/unit/deskharness.h"

namespace quorvel::e2e {
class DeskProcess;
}

namespace quorvel::scenario {

class InProcessDesk final : public ScenarioDesk {
public:
    InProcessDesk();
    std::filesystem::path ConfigFile() const override;
    std::filesystem::path DataDir() const override;
    TDateTime Now() const override;
    void Start() override;
    void Connect(const std::string& link) override;
    int32_t Send(const std::string& link, int32_t msg, int32_t wparam, int32_t lparam) override;
    void Stop() override;
    std::vector<std::string> Notifications() override;

private:
    // Throws when the desk showed a stop box.
    void NoStopBox(const char* when) const;
    // The unit tests' desk fixture, used outside a test of its own.
    struct Harness final : test::DeskHarness {
        void TestBody() override {}
    };
    Harness m_harness;
};

class LinkedDesk final : public ScenarioDesk {
public:
    LinkedDesk();
    ~LinkedDesk() override;
    std::filesystem::path ConfigFile() const override;
    std::filesystem::path DataDir() const override;
    TDateTime Now() const override;
    void Start() override;
    void Connect(const std::string& link) override;
    int32_t Send(const std::string& link, int32_t msg, int32_t wparam, int32_t lparam) override;
    void Stop() override;
    std::vector<std::string> Notifications() override;

private:
    test::TempDir m_dir;
    std::unique_ptr<e2e::DeskProcess> m_desk;
    std::map<std::string, std::unique_ptr<LinkClient>> m_links;
};

} // namespace quorvel::scenario
