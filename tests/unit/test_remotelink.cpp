// The remote EA link: enrolment and revocation of terminal machines, the TLS link's refusals,
// and the records it carries to the desk's own link server. Everything on 127.0.0.1.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <mutex>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "platform/ealink.h"
#include "platform/files.h"
#include "platform/linkcerts.h"
#include "platform/tlslink.h"
#include "tests/support/tempdir.h"

using namespace quorvel;
using namespace quorvel::test;
using namespace std::chrono_literals;

namespace {

// A desk in miniature: its link server served on a thread of its own, the remote link in
// front of it, the handled records and the refusals kept for the test.
class RemoteDesk {
public:
    explicit RemoteDesk(int handshakeMs = 5000)
        : m_server([this](TMessage& m) {
              {
                  std::lock_guard<std::mutex> g(m_mutex);
                  m_seen.push_back(m);
              }
              m.Result =
                  static_cast<int32_t>(static_cast<uint32_t>(m.WParam) + static_cast<uint32_t>(m.LParam));
          }),
          m_remote(
              m_dir.Path().string(),
              [this](std::unique_ptr<LinkTransport> t) {
                  // As the desk does: the serving thread adopts what the remote link hands over.
                  std::lock_guard<std::mutex> g(m_mutex);
                  m_handed.push_back(std::move(t));
                  const uint64_t one = 1;
                  [[maybe_unused]] ssize_t n = write(m_wake, &one, sizeof one);
              },
              [this](const std::string& text) {
                  std::lock_guard<std::mutex> g(m_mutex);
                  m_logs.push_back(text);
              }) {
        m_server.Listen(m_dir.File("run/TForm3"));
        m_loop = std::thread([this] {
            while (!m_stop.load()) {
                pollfd p[2] = {{m_server.PollFd(), POLLIN, 0}, {m_wake, POLLIN, 0}};
                if (poll(p, 2, 20) <= 0) continue;
                if (p[1].revents) {
                    uint64_t v;
                    [[maybe_unused]] ssize_t n = read(m_wake, &v, sizeof v);
                    std::vector<std::unique_ptr<LinkTransport>> handed;
                    {
                        std::lock_guard<std::mutex> g(m_mutex);
                        handed.swap(m_handed);
                    }
                    for (auto& t : handed) m_server.Adopt(std::move(t));
                }
                m_server.ProcessReady();
            }
        });
        m_remote.SetHandshakeTimeout(handshakeMs);
        m_remote.Listen("127.0.0.1:0");
    }
    ~RemoteDesk() {
        m_remote.Close();
        m_stop.store(true);
        m_loop.join();
        m_server.Close();
        close(m_wake);
    }

    std::string Address() const { return "127.0.0.1:" + std::to_string(m_remote.Port()); }
    std::string Dir() const { return m_dir.Path().string(); }
    // Enrols `name` and returns the path of its file.
    std::string Enrol(const std::string& name, const std::string& ids) {
        EaIdRanges r;
        EXPECT_TRUE(EaIdRanges::Parse(ids, r));
        const std::string file = m_dir.File(name + ".pem");
        EnrolMachine(Dir(), name, r, file);
        return file;
    }
    size_t Seen() {
        std::lock_guard<std::mutex> g(m_mutex);
        return m_seen.size();
    }
    std::vector<std::string> Logs() {
        std::lock_guard<std::mutex> g(m_mutex);
        return m_logs;
    }
    // Waits (up to ten seconds) for a refusal that contains `part`.
    bool WaitForLog(const std::string& part) {
        for (int i = 0; i < 1000; ++i) {
            for (const std::string& l : Logs())
                if (l.find(part) != std::string::npos) return true;
            std::this_thread::sleep_for(10ms);
        }
        return false;
    }
    // Waits (up to ten seconds) until no handshake is going on.
    bool WaitForNoHandshakes() {
        for (int i = 0; i < 1000 && m_remote.HandshakeCount() != 0; ++i) std::this_thread::sleep_for(10ms);
        return m_remote.HandshakeCount() == 0;
    }
    RemoteLinkServer& Remote() { return m_remote; }
    LinkServer& Server() { return m_server; }

private:
    TempDir m_dir;
    std::mutex m_mutex;
    int m_wake = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    std::vector<std::unique_ptr<LinkTransport>> m_handed;
    std::vector<TMessage> m_seen;
    std::vector<std::string> m_logs;
    LinkServer m_server;
    RemoteLinkServer m_remote;
    std::atomic<bool> m_stop{false};
    std::thread m_loop;
};

// A plain TCP connection to the remote link.
int TcpConnect(uint16_t port) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

// True when the desk closes `fd` (end of stream or reset) within ten seconds.
bool ClosedByDesk(int fd) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, 10000) <= 0) return false;
    char b[64];
    while (true) {
        const ssize_t n = read(fd, b, sizeof b);
        if (n <= 0) return true;
        if (poll(&p, 1, 10000) <= 0) return false;
    }
}

// Whether a machine's client can still talk: connect and one round trip.
bool Talks(const RemoteDesk& desk, const std::string& file, int32_t id) {
    RemoteLinkClient c;
    if (!c.Connect(desk.Address(), file)) return false;
    try {
        return c.Send(EAMsg::NewDataBid, id, 100) == id + 100;
    } catch (const LinkError&) {
        return false;
    }
}

mode_t ModeOf(const std::string& path) {
    struct stat st {};
    EXPECT_EQ(stat(path.c_str(), &st), 0) << path;
    return st.st_mode & 07777;
}

} // namespace

TEST(RemoteLinkIds, RangesParseOnlyWhatTheyShould) {
    struct Case {
        const char* text;
        bool ok;
        const char* canonical;
    };
    const Case cases[] = {
        {"1-50", true, "1-50"}, {"7", true, "7"},     {"1-3,5,9-9", true, "1-3,5,9"},
        {"", false, ""},        {"0-5", false, ""},   {"5-1", false, ""},
        {"1-", false, ""},      {"1,,2", false, ""},  {"1-50,", false, ""},
        {"-3", false, ""},      {"1 - 5", false, ""}, {"99999999999", false, ""},
        {"1000001", false, ""}, {"abc", false, ""},
    };
    for (const Case& c : cases) {
        EaIdRanges r;
        EXPECT_EQ(EaIdRanges::Parse(c.text, r), c.ok) << c.text;
        if (c.ok) {
            EXPECT_EQ(r.Text(), c.canonical) << c.text;
        }
    }
    EaIdRanges r;
    ASSERT_TRUE(EaIdRanges::Parse("1-3,10-12", r));
    for (int32_t id : {1, 2, 3, 10, 12}) EXPECT_TRUE(r.Contains(id)) << id;
    for (int32_t id : {0, 4, 9, 13, -1}) EXPECT_FALSE(r.Contains(id)) << id;
}

TEST(RemoteLinkIds, OnlyTheMessagesThatNameAnEaAreChecked) {
    EaIdRanges mine;
    ASSERT_TRUE(EaIdRanges::Parse("1-5", mine));
    struct Case {
        int32_t msg;
        int32_t wparam;
        bool passes;
    };
    const Case cases[] = {
        {EAMsg::NewDataBid, 3, true},
        {EAMsg::NewDataBid, 7, false},
        {EAMsg::NewDataAsk, 7, false},
        {EAMsg::NewDataAccount, 0, false},
        {EAMsg::DataComplete, 6, false},
        {EAMsg::NewDataCompanyName, 9, false},
        {EAMsg::OrderQuestion, 200, false},
        {EAMsg::ParamCounterCheckSeconds, -1, false},
        {EAMsg::OrderQuestion, 5, true},
        {EAMsg::GetOrderType, 7, true},   // an OrderID
        {EAMsg::GetEALoopTime, 99, true}, // not used
        {12345, 7, true},                 // a number the desk does not know
    };
    for (const Case& c : cases) {
        int32_t claimed = 0;
        EXPECT_EQ(MayClaim(TMessage{c.msg, c.wparam, 0, 0}, mine, claimed), c.passes)
            << c.msg << " " << c.wparam;
        if (!c.passes) {
            EXPECT_EQ(claimed, c.wparam);
        }
    }
}

TEST(RemoteLinkIds, FramerCutsAStreamIntoRecords) {
    unsigned char stream[40];
    EncodeMessage(TMessage{EAMsg::NewDataBid, 1, 2, 0}, stream);
    EncodeMessage(TMessage{EAMsg::DataComplete, 3, 4, 9}, stream + 16);
    for (int i = 32; i < 40; ++i) stream[i] = static_cast<unsigned char>(i);
    for (size_t step : {1u, 3u, 16u, 40u}) {
        RecordFramer f;
        std::vector<TMessage> got;
        size_t at = 0;
        while (at < sizeof stream) {
            at += f.Feed(stream + at, std::min(step, sizeof stream - at));
            if (f.Complete()) got.push_back(f.Take());
        }
        ASSERT_EQ(got.size(), 2u) << step;
        EXPECT_EQ(got[0].Msg, EAMsg::NewDataBid);
        EXPECT_EQ(got[1].LParam, 4);
        EXPECT_EQ(got[1].Result, 9);
        EXPECT_EQ(f.Partial(), 8u) << step;
    }
}

TEST(RemoteLinkIds, HostAndPortSplit) {
    struct Case {
        const char* text;
        bool ok;
        const char* host;
        uint16_t port;
    };
    const Case cases[] = {
        {"127.0.0.1:7400", true, "127.0.0.1", 7400},
        {"[::1]:0", true, "::1", 0},
        {"desk.example:65535", true, "desk.example", 65535},
        {"127.0.0.1", false, "", 0},
        {":7400", false, "", 0},
        {"h:65536", false, "", 0},
        {"h:", false, "", 0},
        {"::1:80", false, "", 0},
        {"h:8a", false, "", 0},
        {"[::1]80", false, "", 0},
    };
    for (const Case& c : cases) {
        std::string host;
        uint16_t port = 1;
        EXPECT_EQ(SplitHostPort(c.text, host, port), c.ok) << c.text;
        if (!c.ok) continue;
        EXPECT_EQ(host, c.host);
        EXPECT_EQ(port, c.port);
    }
}

TEST(RemoteLinkEnrolment, CredentialsAreCreatedOnceAndPrivate) {
    TempDir dir;
    bool created = false;
    const DeskCredentials first = LoadOrCreateDeskCredentials(dir.Path().string(), &created);
    EXPECT_TRUE(created);
    EXPECT_EQ(first.fingerprint.size(), 32u * 3 - 1);
    EXPECT_EQ(ModeOf(dir.File(kLinkKeyFile)), 0600u);
    EXPECT_EQ(ModeOf(dir.File(kLinkCertFile)), 0600u);
    const DeskCredentials again = LoadOrCreateDeskCredentials(dir.Path().string(), &created);
    EXPECT_FALSE(created);
    EXPECT_EQ(again.fingerprint, first.fingerprint);

    EaIdRanges ids;
    ASSERT_TRUE(EaIdRanges::Parse("1-50", ids));
    EnrolMachine(dir.Path().string(), "london-1", ids, dir.File("london-1.pem"));
    EXPECT_EQ(ModeOf(dir.File("london-1.pem")), 0600u);
    const auto machines = LoadEnrolledMachines(dir.Path().string());
    ASSERT_EQ(machines.size(), 1u);
    EXPECT_EQ(machines[0].name, "london-1");
    EXPECT_EQ(machines[0].ids.Text(), "1-50");
    EXPECT_FALSE(machines[0].revoked);
}

TEST(RemoteLinkEnrolment, BadCredentialFilesAreRefusedAndKept) {
    struct Case {
        const char* name;
        const char* key;  // nullptr: no file
        const char* cert; // nullptr: no file
        mode_t mode;
        const char* reason;
    };
    const Case cases[] = {
        {"key only", "x", nullptr, 0600, "is missing"},
        {"certificate only", nullptr, "x", 0600, "is missing"},
        {"not PEM", "garbage", "garbage", 0600, "holds no private key"},
        {"readable by others", "x", "x", 0644, "not 0600"},
    };
    for (const Case& c : cases) {
        TempDir dir;
        for (auto [name, text] : {std::pair{kLinkKeyFile, c.key}, {kLinkCertFile, c.cert}}) {
            if (!text) continue;
            WriteFileAtomic(dir.File(name), text);
            chmod(dir.File(name).c_str(), c.mode);
        }
        try {
            LoadOrCreateDeskCredentials(dir.Path().string());
            ADD_FAILURE() << c.name << ": accepted";
        } catch (const LinkError& e) {
            EXPECT_NE(std::string(e.what()).find(c.reason), std::string::npos) << c.name << ": " << e.what();
        }
        if (c.key) {
            EXPECT_EQ(*ReadWholeFile(dir.File(kLinkKeyFile)), c.key) << c.name;
        }
        if (c.cert) {
            EXPECT_EQ(*ReadWholeFile(dir.File(kLinkCertFile)), c.cert) << c.name;
        }
    }
}

TEST(RemoteLinkEnrolment, NamesAndIdsAreNotShared) {
    TempDir dir;
    const std::string d = dir.Path().string();
    EaIdRanges a, b, c;
    ASSERT_TRUE(EaIdRanges::Parse("1-50", a));
    ASSERT_TRUE(EaIdRanges::Parse("50-60", b));
    ASSERT_TRUE(EaIdRanges::Parse("51-60", c));
    EnrolMachine(d, "one", a, dir.File("one.pem"));
    EXPECT_THROW(EnrolMachine(d, "one", c, dir.File("x.pem")), LinkError);      // enrolled already
    EXPECT_THROW(EnrolMachine(d, "ONE", c, dir.File("x.pem")), LinkError);      // the same, by case
    EXPECT_THROW(EnrolMachine(d, "two", b, dir.File("x.pem")), LinkError);      // ID 50 is taken
    EXPECT_THROW(EnrolMachine(d, "bad name", c, dir.File("x.pem")), LinkError); // not a name
    EXPECT_THROW(RevokeMachine(d, "nobody"), LinkError);
    EXPECT_FALSE(std::filesystem::exists(dir.File("x.pem")));
    EnrolMachine(d, "two", c, dir.File("two.pem"));
    RevokeMachine(d, "one");
    EnrolMachine(d, "three", a, dir.File("three.pem")); // one's IDs are free once it is revoked
    EXPECT_EQ(LoadEnrolledMachines(d).size(), 3u);
}

TEST(RemoteLink, AnEnrolledMachineTradesThroughTheDesk) {
    RemoteDesk desk;
    const std::string file = desk.Enrol("m1", "1-5");
    RemoteLinkClient c;
    ASSERT_TRUE(c.Connect(desk.Address(), file)) << c.Error();
    EXPECT_EQ(c.Send(EAMsg::NewDataBid, 3, 110000), 110003);
    EXPECT_EQ(c.Send(EAMsg::GetOrderType, 77, 1), 78); // an OrderID, not an EA ID
    EXPECT_EQ(c.Send(EAMsg::GetEALoopTime, 0, -4), -4);
    EXPECT_EQ(desk.Seen(), 3u);
    // The same records, sent without waiting, come back in order.
    for (int i = 0; i < 20; ++i) c.SendRecord(TMessage{EAMsg::NewDataAsk, 5, i, 0});
    for (int i = 0; i < 20; ++i) EXPECT_EQ(c.ReceiveAnswer().Result, 5 + i);
    EXPECT_TRUE(desk.Logs().empty());
}

TEST(RemoteLink, AClaimOfAnotherMachinesEaClosesTheConnection) {
    RemoteDesk desk;
    const std::string a = desk.Enrol("a", "1-5");
    desk.Enrol("b", "6-10");
    for (int32_t msg : {static_cast<int32_t>(EAMsg::NewDataBid), static_cast<int32_t>(EAMsg::OrderQuestion),
                        static_cast<int32_t>(EAMsg::NewDataCompanyName)}) {
        RemoteLinkClient c;
        ASSERT_TRUE(c.Connect(desk.Address(), a)) << c.Error();
        EXPECT_EQ(c.Send(EAMsg::NewDataBid, 1, 1), 2);
        const size_t before = desk.Seen();
        EXPECT_THROW(c.Send(msg, 7, 1), LinkError) << msg;
        EXPECT_EQ(desk.Seen(), before) << msg; // the desk never handled it
    }
    EXPECT_TRUE(desk.WaitForLog("machine \"a\" (127.0.0.1:"));
    EXPECT_TRUE(desk.WaitForLog("claimed EA 7, which is not one of its EAs (1-5)"));
    EXPECT_TRUE(Talks(desk, a, 2)); // its own EAs go on
}

TEST(RemoteLink, RevocationStopsNewAndOpenConnections) {
    RemoteDesk desk;
    const std::string file = desk.Enrol("gone", "1-5");
    const std::string other = desk.Enrol("stays", "6-9");
    RemoteLinkClient open;
    ASSERT_TRUE(open.Connect(desk.Address(), file)) << open.Error();
    EXPECT_EQ(open.Send(EAMsg::NewDataBid, 1, 1), 2);
    RevokeMachine(desk.Dir(), "gone");
    EXPECT_FALSE(Talks(desk, file, 1));
    EXPECT_TRUE(desk.WaitForLog("machine \"gone\" (127.0.0.1:"));
    EXPECT_TRUE(desk.WaitForLog("is revoked; connection closed"));
    EXPECT_TRUE(ClosedByDesk(open.Fd())); // the connection that was open goes too
    EXPECT_TRUE(Talks(desk, other, 6));

    // Enrolled again, the name gets a new certificate; the old one stays out.
    const std::string old = desk.Dir() + "/gone-old.pem";
    std::filesystem::rename(file, old);
    desk.Enrol("gone", "1-5");
    EXPECT_TRUE(Talks(desk, file, 1));
    EXPECT_FALSE(Talks(desk, old, 1));
    EXPECT_TRUE(desk.WaitForLog("presents a certificate that was replaced"));
}

TEST(RemoteLink, ACertificateTheDeskDidNotSignIsRefused) {
    RemoteDesk desk;
    RemoteDesk stranger;
    const std::string foreign = stranger.Enrol("m1", "1-5");
    desk.Enrol("m1", "1-5"); // the same name, enrolled here: the signature still decides
    // The machine does not take this desk for its own...
    EXPECT_FALSE(Talks(desk, foreign, 1));
    EXPECT_TRUE(desk.WaitForLog("failed the TLS handshake"));
    // ...and the desk does not take the stranger's machine, even when it trusts this desk.
    std::string forged = *ReadWholeFile(foreign);
    forged.erase(forged.rfind("-----BEGIN CERTIFICATE-----"));
    forged += *ReadWholeFile(desk.Dir() + "/" + kLinkCertFile);
    const std::string forgedFile = desk.Dir() + "/forged.pem";
    WriteFileAtomic(forgedFile, forged);
    EXPECT_FALSE(Talks(desk, forgedFile, 1));
    EXPECT_TRUE(desk.WaitForLog("(certificate signature failure)")) << ::testing::PrintToString(desk.Logs());
    EXPECT_EQ(desk.Seen(), 0u);

    // A machine's file that is no file of a machine does not connect at all.
    const std::string junk = desk.Dir() + "/junk.pem";
    WriteFileAtomic(junk, "not a certificate");
    RemoteLinkClient c;
    EXPECT_FALSE(c.Connect(desk.Address(), junk));
    EXPECT_NE(c.Error().find("is not a machine's file"), std::string::npos) << c.Error();
}

TEST(RemoteLink, AMachineNotEnrolledIsRefused) {
    RemoteDesk desk;
    // Signed by this desk, but not in its list (as if the list had lost it).
    const std::string file = desk.Enrol("ghost", "1-5");
    WriteFileAtomic(desk.Dir() + "/" + kLinkMachinesFile, "[other]\r\nSerial=01\r\nIDs=1-5\r\n");
    EXPECT_FALSE(Talks(desk, file, 1));
    EXPECT_TRUE(desk.WaitForLog("machine \"ghost\" (127.0.0.1:"));
    EXPECT_TRUE(desk.WaitForLog("is not enrolled; connection closed"));
    EXPECT_EQ(desk.Seen(), 0u);
}

TEST(RemoteLink, APlainTcpClientGetsNothingIn) {
    RemoteDesk desk;
    const int fd = TcpConnect(desk.Remote().Port());
    ASSERT_GE(fd, 0);
    unsigned char rec[16];
    EncodeMessage(TMessage{EAMsg::NewDataBid, 1, 1, 0}, rec);
    ASSERT_EQ(send(fd, rec, sizeof rec, MSG_NOSIGNAL), 16);
    EXPECT_TRUE(ClosedByDesk(fd));
    close(fd);
    EXPECT_TRUE(desk.WaitForLog("failed the TLS handshake"));
    EXPECT_EQ(desk.Seen(), 0u);
}

TEST(RemoteLink, AStalledHandshakeIsGivenUpAndBlocksNoOne) {
    RemoteDesk desk(300);
    const std::string file = desk.Enrol("m1", "1-5");
    // Silent, and a TLS record header that promises more than ever comes.
    const int silent = TcpConnect(desk.Remote().Port());
    const int partial = TcpConnect(desk.Remote().Port());
    ASSERT_GE(silent, 0);
    ASSERT_GE(partial, 0);
    const unsigned char header[] = {0x16, 0x03, 0x01, 0x01, 0x00, 0x01};
    ASSERT_EQ(send(partial, header, sizeof header, MSG_NOSIGNAL), static_cast<ssize_t>(sizeof header));
    EXPECT_TRUE(Talks(desk, file, 2)); // served while both stall
    EXPECT_TRUE(ClosedByDesk(silent));
    EXPECT_TRUE(ClosedByDesk(partial));
    close(silent);
    close(partial);
    EXPECT_TRUE(desk.WaitForLog("did not finish the TLS handshake within 300 ms"));
    EXPECT_TRUE(desk.WaitForNoHandshakes());
}

TEST(RemoteLink, AThousandConnectionsOpenedAndDroppedLeaveNothingBehind) {
    RemoteDesk desk;
    const std::string file = desk.Enrol("m1", "1-5");
    RemoteLinkClient steady;
    ASSERT_TRUE(steady.Connect(desk.Address(), file)) << steady.Error();
    for (int i = 0; i < 1000; ++i) {
        const int fd = TcpConnect(desk.Remote().Port());
        ASSERT_GE(fd, 0) << i;
        if (i % 3 == 1) {
            const char junk[] = "GET / HTTP/1.0\r\n\r\n";
            [[maybe_unused]] ssize_t n = send(fd, junk, sizeof junk - 1, MSG_NOSIGNAL);
        }
        close(fd);
        if (i % 100 == 0) {
            EXPECT_EQ(steady.Send(EAMsg::NewDataBid, 4, i), 4 + i) << i;
        }
    }
    EXPECT_TRUE(desk.WaitForNoHandshakes());
    EXPECT_TRUE(Talks(desk, file, 1));
    // The refusals are told, but not a thousand times.
    EXPECT_TRUE(desk.WaitForLog("127.0.0.1:"));
    // (the run may straddle the turn of a minute: two windows at most)
    EXPECT_LE(desk.Logs().size(), 2u * RemoteLinkServer::kLogsPerMinute + 2);
}

TEST(RemoteLink, BadListenAddressesAreRefusedWithTheReason) {
    TempDir dir;
    for (const char* bad : {"7400", "127.0.0.1:99999", "127.0.0.1:x", "[::1:7400"}) {
        RemoteLinkServer s(dir.Path().string(), nullptr, nullptr);
        EXPECT_THROW(s.Listen(bad), LinkError) << bad;
    }
}
