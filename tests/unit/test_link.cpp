#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

#include "platform/ealink.h"
#include "tempdir.h"

using namespace quorvel;
using namespace quorvel::test;

namespace {

// Runs a link server on its own thread, as the desk's loop would: poll, then serve.
struct ServedLink {
    explicit ServedLink(const std::string& path, LinkServer::Handler h = nullptr)
        : server(h ? std::move(h) : [](TMessage& m) {
              m.Result =
                  static_cast<int32_t>(static_cast<uint32_t>(m.WParam) + static_cast<uint32_t>(m.LParam));
          }) {
        server.Listen(path);
        loop = std::thread([this] {
            while (!stop.load()) {
                pollfd p{server.PollFd(), POLLIN, 0};
                if (poll(&p, 1, 20) > 0) server.ProcessReady();
            }
        });
    }
    ~ServedLink() {
        stop.store(true);
        loop.join();
    }
    LinkServer server;
    std::atomic<bool> stop{false};
    std::thread loop;
};

TEST(Link, RoundTripCarriesTheRecordAndTheResult) {
    TempDir dir;
    const std::string path = dir.File("q/TForm3");
    ServedLink link(path);
    LinkClient c;
    ASSERT_TRUE(c.Connect(path)) << c.Error();
    EXPECT_EQ(c.Send(EAMsg::NewDataBid, 3, 4), 7);
    EXPECT_EQ(c.Send(WM_APP, -10, 4), -6);
    EXPECT_EQ(c.Send(1, INT32_MAX, 0), INT32_MAX);
}

TEST(Link, SocketAndDirectoryAreOwnerOnly) {
    TempDir dir;
    const std::string path = dir.File("q/TForm3");
    ServedLink link(path);
    struct stat st {};
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_TRUE(S_ISSOCK(st.st_mode));
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    ASSERT_EQ(stat(dir.File("q").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
}

TEST(Link, WireFormatIsLittleEndian) {
    unsigned char b[16];
    EncodeMessage(TMessage{0x8194, 1, -1, 5}, b);
    EXPECT_EQ(b[0], 0x94);
    EXPECT_EQ(b[1], 0x81);
    EXPECT_EQ(b[4], 1);
    EXPECT_EQ(b[8], 0xFF);
    EXPECT_EQ(b[11], 0xFF);
    EXPECT_EQ(b[12], 5);
    const TMessage m = DecodeMessage(b);
    EXPECT_EQ(m.Msg, 0x8194);
    EXPECT_EQ(m.LParam, -1);
}

TEST(Link, BadClientsDoNotDisturbTheOthers) {
    TempDir dir;
    const std::string path = dir.File("TForm3");
    ServedLink link(path);
    LinkClient good;
    ASSERT_TRUE(good.Connect(path));
    EXPECT_EQ(good.Send(1, 1, 1), 2);
    {
        LinkClient partial; // a partial record, then close
        ASSERT_TRUE(partial.Connect(path));
        partial.SendRaw("\x01\x02\x03\x04\x05", 5);
    }
    {
        LinkClient garbage; // garbage that is not a whole number of records
        ASSERT_TRUE(garbage.Connect(path));
        std::string junk(1000 * 16 + 7, '\xAB');
        garbage.SendRaw(junk.data(), junk.size());
    }
    {
        LinkClient gone; // disconnects before its answer
        ASSERT_TRUE(gone.Connect(path));
        unsigned char rec[16] = {};
        gone.SendRaw(rec, sizeof rec);
    }
    for (int i = 0; i < 1000; ++i) {
        LinkClient dropped;
        ASSERT_TRUE(dropped.Connect(path));
    }
    EXPECT_EQ(good.Send(2, 3, 4), 7);
    // The server lets go of what it no longer needs.
    for (int i = 0; i < 100 && link.server.ConnectionCount() > 1; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_LE(link.server.ConnectionCount(), 1u);
}

TEST(Link, PipelinedRecordsAreAnsweredOneByOneInOrder) {
    TempDir dir;
    const std::string path = dir.File("TForm3");
    ServedLink link(path);
    LinkClient c;
    ASSERT_TRUE(c.Connect(path));
    unsigned char two[32];
    EncodeMessage(TMessage{1, 10, 1, 0}, two);
    EncodeMessage(TMessage{1, 20, 2, 0}, two + 16);
    c.SendRaw(two, sizeof two);
    unsigned char back[32];
    size_t have = 0;
    while (have < 32) {
        ssize_t n = read(c.Fd(), back + have, 32 - have);
        ASSERT_GT(n, 0);
        have += static_cast<size_t>(n);
    }
    EXPECT_EQ(DecodeMessage(back).Result, 11);
    EXPECT_EQ(DecodeMessage(back + 16).Result, 22);
}

TEST(Link, StaleSocketIsReplacedAndALiveDeskIsNot) {
    TempDir dir;
    const std::string path = dir.File("TForm3");
    {
        // A socket file left behind by a desk that crashed.
        int fd = socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un a{};
        a.sun_family = AF_UNIX;
        std::strncpy(a.sun_path, path.c_str(), sizeof a.sun_path - 1);
        ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
        close(fd);
    }
    ServedLink first(path);
    LinkServer second([](TMessage&) {});
    EXPECT_THROW(second.Listen(path), LinkError);
    LinkClient c;
    ASSERT_TRUE(c.Connect(path)); // the first desk still owns the path
    EXPECT_EQ(c.Send(0, 1, 1), 2);
}

TEST(Link, NoDeskGivesAClearError) {
    TempDir dir;
    LinkClient c;
    EXPECT_FALSE(c.Connect(dir.File("TForm3")));
    EXPECT_NE(c.Error().find("No desk answers"), std::string::npos);
}

// A handler that runs a nested loop (as a modal box does) lets other EAs through, while the
// EA whose message opened it waits for its own answer.
TEST(Link, NestedServingAnswersOthersWhileOneWaits) {
    TempDir dir;
    const std::string path = dir.File("TForm3");
    LinkServer* self = nullptr;
    std::atomic<int> nestedServed{0};
    std::atomic<bool> release{false};
    std::atomic<bool> entered{false};
    LinkServer server([&](TMessage& m) {
        if (m.Msg == 99) {
            entered = true;
            while (!release.load()) {
                pollfd p{self->PollFd(), POLLIN, 0};
                if (poll(&p, 1, 5) > 0) nestedServed += self->ProcessReady();
            }
        }
        m.Result = m.Msg;
    });
    self = &server;
    server.Listen(path);
    std::atomic<bool> stop{false};
    std::thread loop([&] {
        while (!stop.load()) {
            pollfd p{server.PollFd(), POLLIN, 0};
            if (poll(&p, 1, 5) > 0) server.ProcessReady();
        }
    });
    LinkClient waiting;
    ASSERT_TRUE(waiting.Connect(path));
    std::atomic<int32_t> waitingResult{-1};
    std::thread t([&] { waitingResult = waiting.Send(99, 0, 0); });
    while (!entered.load()) std::this_thread::yield();
    LinkClient other;
    ASSERT_TRUE(other.Connect(path));
    for (int i = 0; i < 50; ++i) EXPECT_EQ(other.Send(7, 0, 0), 7);
    EXPECT_EQ(waitingResult.load(), -1);
    release = true;
    t.join();
    EXPECT_GE(nestedServed.load(), 50);
    EXPECT_EQ(waitingResult.load(), 99);
    stop = true;
    loop.join();
}

TEST(Link, MessageNumbersParseAsNumbersOrNames) {
    struct Case {
        const char* text;
        bool ok;
        int32_t value;
    };
    for (const Case c : {Case{"WM_APP+404", true, 0x8194}, Case{"wm_app + 0x194", true, 0x8194},
                         Case{"WM_APP", true, 0x8000}, Case{"WM_COPYDATA", true, 0x4A},
                         Case{"0x81F4", true, 0x81F4}, Case{"33170", true, 33170}, Case{"WM_APP-1", false, 0},
                         Case{"hello", false, 0}, Case{"", false, 0}, Case{"99999999999", false, 0}}) {
        int32_t v = 0;
        EXPECT_EQ(ParseMessageNumber(c.text, v), c.ok) << c.text;
        if (c.ok) {
            EXPECT_EQ(v, c.value) << c.text;
        }
    }
}

TEST(Link, PathFollowsTheRuntimeDirectory) {
    const char* old = std::getenv("XDG_RUNTIME_DIR");
    const std::string saved = old ? old : "";
    setenv("XDG_RUNTIME_DIR", "/run/user/77", 1);
    EXPECT_EQ(LinkSocketPath(), "/run/user/77/Quorvel/TForm3");
    unsetenv("XDG_RUNTIME_DIR");
    EXPECT_EQ(LinkSocketPath(), "/tmp/Quorvel-" + std::to_string(getuid()) + "/TForm3");
    if (old) setenv("XDG_RUNTIME_DIR", saved.c_str(), 1);
}

} // namespace

namespace {
// Many EAs at once: the busy rounds hand their answers to the I/O threads; every EA still
// gets its own answer, in order.
TEST(Link, ManyConcurrentEAsEachGetTheirOwnAnswers) {
    TempDir dir;
    const std::string path = dir.File("TForm3");
    ServedLink link(path);
    constexpr int kClients = 48, kMessages = 300;
    std::atomic<int> wrong{0}, failed{0};
    std::vector<std::thread> threads;
    for (int c = 0; c < kClients; ++c) {
        threads.emplace_back([&, c] {
            LinkClient client;
            if (!client.Connect(path)) {
                ++failed;
                return;
            }
            for (int i = 0; i < kMessages; ++i)
                if (client.Send(0, c * 100000, i) != c * 100000 + i) ++wrong;
        });
    }
    for (auto& t : threads) t.join();
    EXPECT_EQ(failed.load(), 0);
    EXPECT_EQ(wrong.load(), 0);
}
} // namespace
