// The desk with its remote link switched on in config.ini: a terminal machine enrolled with
// quorvel-ea trades through TLS on 127.0.0.1, and what the link refuses is in the
// notifications. Without the key nothing of it exists.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <cstdio>
#include <netinet/in.h>
#include <sys/socket.h>
#include <tuple>

#include "desk_process.h"
#include "platform/files.h"
#include "platform/linkcerts.h"
#include "platform/tlslink.h"
#include "tests/support/tempdir.h"

using namespace quorvel;
using namespace quorvel::e2e;

namespace {

// A port on 127.0.0.1 that was free a moment ago.
uint16_t FreePort() {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t len = sizeof a;
    getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    close(fd);
    return ntohs(a.sin_port);
}

// Runs quorvel-ea with `args`; its output (stdout and stderr) and exit code.
std::pair<int, std::string> Tool(const fs::path& root, const std::string& args) {
    const std::string cmd = "cd " + root.string() + " && XDG_RUNTIME_DIR=" + (root / "xdg").string() + " " +
                            QUORVEL_EA_BINARY + " " + args + " 2>&1";
    FILE* p = popen(cmd.c_str(), "r");
    std::string out;
    char buf[256];
    while (p && std::fgets(buf, sizeof buf, p)) out += buf;
    const int status = p ? pclose(p) : -1;
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, out};
}

void WriteConfig(const fs::path& root, const std::string& listen) {
    WriteFileAtomic((root / "bin" / "config.ini").string(), "[Link]\r\nListen=" + listen + "\r\n");
}

// Whether something accepts TCP connections on 127.0.0.1:port.
bool Accepts(uint16_t port) {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool ok = connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    close(fd);
    return ok;
}

// Starts the desk with its remote link on a free port and waits until that listens; the
// address, or "" when it never did. A port taken meanwhile by another test is tried again.
std::string StartListening(DeskProcess& desk, const fs::path& root) {
    for (int attempt = 0; attempt < 5; ++attempt) {
        const uint16_t port = FreePort();
        WriteConfig(root, "127.0.0.1:" + std::to_string(port));
        if (!desk.Start()) return "";
        for (int i = 0; i < 200; ++i) {
            if (Accepts(port)) return "127.0.0.1:" + std::to_string(port);
            if (desk.StdErr().find("Remote link not started") != std::string::npos) break;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        desk.Stop();
        fs::remove(root / "stderr.log");
    }
    return "";
}

} // namespace

TEST(DeskRemoteLink, AnEnrolledMachineTradesAndAForeignClaimIsTold) {
    test::TempDir dir;
    DeskProcess desk(dir.Path());
    const std::string address = StartListening(desk, dir.Path());
    ASSERT_FALSE(address.empty()) << desk.StdErr();
    EXPECT_TRUE(fs::exists(dir.Path() / kLinkKeyFile));

    auto [rc, out] = Tool(dir.Path(), "enrol m1 --ids 1-5");
    ASSERT_EQ(rc, 0) << out;
    EXPECT_NE(out.find(CertificateFingerprint(*ReadWholeFile((dir.Path() / kLinkCertFile).string()))),
              std::string::npos)
        << out;
    std::tie(rc, out) = Tool(dir.Path(), "send WM_APP+401 2 12345 --connect " + address + " --cert m1.pem");
    EXPECT_EQ(rc, 0) << out;
    EXPECT_EQ(out, "1\n");
    std::tie(rc, out) = Tool(dir.Path(), "send WM_APP+401 9 12345 --connect " + address + " --cert m1.pem");
    EXPECT_NE(rc, 0) << out;
    std::tie(rc, out) = Tool(dir.Path(), "revoke m1");
    EXPECT_EQ(rc, 0) << out;
    std::tie(rc, out) = Tool(dir.Path(), "send WM_APP+401 2 12345 --connect " + address + " --cert m1.pem");
    EXPECT_NE(rc, 0) << out;
    // The refusals reach the notifications through the loop: the local link still answers.
    LinkClient ea;
    ASSERT_TRUE(ea.Connect(desk.SocketPath()));
    EXPECT_EQ(ea.Send(EAMsg::GetEARequoteWaitMS, 0, 0), 0);
    EXPECT_EQ(desk.Stop(), 0);
    const std::string notes = ReadWholeFile((dir.Path() / "Notifications.txt").string()).value_or("");
    EXPECT_NE(notes.find("claimed EA 9, which is not one of its EAs (1-5)"), std::string::npos) << notes;
    EXPECT_NE(notes.find("machine \"m1\" (127.0.0.1:"), std::string::npos) << notes;
    EXPECT_NE(notes.find("is revoked"), std::string::npos) << notes;
}

TEST(DeskRemoteLink, OffByDefaultAndABadAddressLeavesTheLocalLink) {
    test::TempDir dir;
    DeskProcess desk(dir.Path());
    ASSERT_TRUE(desk.Start()) << desk.StdErr();
    EXPECT_EQ(desk.Stop(), 0);
    EXPECT_FALSE(fs::exists(dir.Path() / kLinkKeyFile));
    EXPECT_FALSE(fs::exists(dir.Path() / kLinkCertFile));

    WriteConfig(dir.Path(), "nowhere");
    ASSERT_TRUE(desk.Start()) << desk.StdErr();
    LinkClient ea;
    ASSERT_TRUE(ea.Connect(desk.SocketPath()));
    EXPECT_EQ(ea.Send(EAMsg::NewDataBid, 1, 123456), 2);
    EXPECT_EQ(desk.Stop(), 0);
    EXPECT_NE(desk.StdErr().find("Remote link not started: [Link] Listen=nowhere is not host:port"),
              std::string::npos)
        << desk.StdErr();
}
