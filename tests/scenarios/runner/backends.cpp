#include "backends.h"

#include <algorithm>

#include "desk/core/notifications.h"
#include "platform/files.h"
#include "tests/e2e/desk_process.h"

namespace quorvel::scenario {

// ---- in process ------------------------------------------------------------------------------

InProcessDesk::InProcessDesk() {
    // The clock reads the time of the run, as the desk's own would, and stands still.
    m_harness.clock.Set(NowLocal());
}

std::filesystem::path InProcessDesk::ConfigFile() const {
    return m_harness.Paths().configIni;
}
std::filesystem::path InProcessDesk::DataDir() const {
    return m_harness.dir.Path();
}
TDateTime InProcessDesk::Now() const {
    return m_harness.clock.Now();
}

void InProcessDesk::NoStopBox(const char* when) const {
    const std::vector<std::string>& boxes = m_harness.view.stopBoxes;
    if (!boxes.empty())
        throw ScenarioError(std::string(when) + " the desk showed the stop box: " + boxes.front());
}

void InProcessDesk::Start() {
    // As the main window: the desk core over its controls and view, then its creation.
    Desk& desk = m_harness.Make();
    desk.Guarded([&desk] { desk.FormCreate(); });
    NoStopBox("starting,");
}

void InProcessDesk::Connect(const std::string&) {}

int32_t InProcessDesk::Send(const std::string&, int32_t msg, int32_t wparam, int32_t lparam) {
    return m_harness.Send(msg, wparam, lparam);
}

void InProcessDesk::Stop() {
    // As the main window's destruction: the shut-down saves. A save or a journal that failed
    // showed the stop box.
    Desk& desk = *m_harness.desk;
    desk.Guarded([&desk] { desk.FormDestroy(); });
    NoStopBox("by its stop,");
}

std::vector<std::string> InProcessDesk::Notifications() {
    const std::vector<std::string>& raised = m_harness.view.notifications;
    return {raised.rbegin(), raised.rend()};
}

// ---- over the link ---------------------------------------------------------------------------

LinkedDesk::LinkedDesk() : m_desk(std::make_unique<e2e::DeskProcess>(m_dir.Path())) {}
LinkedDesk::~LinkedDesk() = default;

std::filesystem::path LinkedDesk::ConfigFile() const {
    return m_desk->Root() / "bin" / "config.ini";
}
std::filesystem::path LinkedDesk::DataDir() const {
    return m_desk->Root();
}
TDateTime LinkedDesk::Now() const {
    return NowLocal();
}

void LinkedDesk::Start() {
    if (!m_desk->Start()) throw ScenarioError("the desk did not start: " + m_desk->StdErr());
}

void LinkedDesk::Connect(const std::string& link) {
    auto client = std::make_unique<LinkClient>();
    if (!client->Connect(m_desk->SocketPath()))
        throw ScenarioError("link " + link + " does not connect: " + client->Error());
    m_links[link] = std::move(client);
}

int32_t LinkedDesk::Send(const std::string& link, int32_t msg, int32_t wparam, int32_t lparam) {
    return m_links.at(link)->Send(msg, wparam, lparam);
}

void LinkedDesk::Stop() {
    for (auto& [name, client] : m_links) client->Disconnect();
    const int code = m_desk->Stop();
    if (code != 0)
        throw ScenarioError("the desk ended with " + std::to_string(code) + ": " + m_desk->StdErr());
}

std::vector<std::string> LinkedDesk::Notifications() {
    const std::string path = (m_desk->Root() / "Notifications.txt").string();
    const std::optional<std::string> bytes = ReadWholeFile(path);
    if (!bytes) throw ScenarioError("cannot read " + path);
    // Each line starts with its time stamp, which is as long for every time.
    const size_t stamp = NotificationTimeStamp(NowLocal(), ':').size();
    std::vector<std::string> lines = DecodeNotificationLines(*bytes);
    for (std::string& line : lines) line.erase(0, std::min(stamp, line.size()));
    return lines;
}

} // namespace quorvel::scenario
