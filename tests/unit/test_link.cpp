#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "platform/ealink.h"
#include "tests/support/linkanswers.h"
#include "tests/support/tempdir.h"

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

namespace {

// Handlers of message 99 run a nested loop, as a modal box does, until the test closes the
// innermost one. Only three may be open at once; the others wait unanswered and are taken
// one by one as boxes close, while other EAs are served all along.
TEST(Link, NestedHandlersAreBoundedAndTheRestWaitTheirTurn) {
    TempDir dir;
    const std::string path = dir.File("TForm3");
    constexpr int kLimit = 3, kBoxes = 20;
    LinkServer* self = nullptr;
    std::atomic<int> open{0}, mostOpen{0}, entered{0}, toClose{0};
    LinkServer server([&](TMessage& m) {
        if (m.Msg == 99) {
            mostOpen = std::max(mostOpen.load(), ++open);
            ++entered;
            for (;;) {
                int want = toClose.load();
                if (want > 0 && toClose.compare_exchange_weak(want, want - 1)) break;
                pollfd p{self->PollFd(), POLLIN, 0};
                if (poll(&p, 1, 2) > 0) self->ProcessReady();
            }
            --open;
        }
        m.Result = m.Msg + m.LParam;
    });
    self = &server;
    server.SetNestingLimit(kLimit, [](const TMessage& m) { return m.Msg == 99; });
    server.Listen(path);
    std::atomic<bool> stop{false};
    std::thread loop([&] {
        while (!stop.load()) {
            pollfd p{server.PollFd(), POLLIN, 0};
            if (poll(&p, 1, 2) > 0) server.ProcessReady();
        }
    });

    std::vector<std::unique_ptr<LinkClient>> boxes;
    for (int i = 0; i < kBoxes; ++i) {
        boxes.push_back(std::make_unique<LinkClient>());
        ASSERT_TRUE(boxes.back()->Connect(path));
        unsigned char rec[16];
        EncodeMessage(TMessage{99, 1, i, 0}, rec);
        boxes.back()->SendRaw(rec, sizeof rec);
    }
    ASSERT_TRUE(Eventually([&] { return entered.load() == kLimit; }));
    LinkClient other;
    ASSERT_TRUE(other.Connect(path));
    for (int i = 0; i < 100; ++i) ASSERT_EQ(other.Send(7, 0, i), 7 + i);
    EXPECT_EQ(entered.load(), kLimit);
    for (const auto& b : boxes) {
        pollfd p{b->Fd(), POLLIN, 0};
        EXPECT_EQ(poll(&p, 1, 0), 0) << "answered before its box closed";
    }

    toClose = kBoxes;
    std::vector<int32_t> results;
    for (const auto& b : boxes) {
        const auto answers = ReadAnswers(b->Fd(), 1);
        results.push_back(answers.empty() ? -1 : answers[0].Result);
    }
    for (int i = 0; i < kBoxes; ++i) EXPECT_EQ(results[static_cast<size_t>(i)], 99 + i);
    EXPECT_EQ(entered.load(), kBoxes);
    EXPECT_EQ(mostOpen.load(), kLimit);
    EXPECT_EQ(other.Send(7, 0, 1), 8);
    stop = true;
    loop.join();
}

// A handler that throws leaves no connection waiting and no nesting counted: its EA sees
// the link close, and the next EA is served as if nothing had happened.
TEST(Link, AHandlerThatThrowsClosesItsConnectionAndLeavesTheLinkWhole) {
    TempDir dir;
    const std::string path = dir.File("TForm3");
    LinkServer server([](TMessage& m) {
        if (m.Msg == 13) throw std::runtime_error("bad record");
        m.Result = m.LParam;
    });
    server.SetNestingLimit(1, [](const TMessage& m) { return m.Msg == 13; });
    server.Listen(path);
    std::atomic<bool> stop{false};
    std::atomic<int> errors{0};
    std::thread loop([&] {
        while (!stop.load()) {
            pollfd p{server.PollFd(), POLLIN, 0};
            if (poll(&p, 1, 2) <= 0) continue;
            try {
                server.ProcessReady();
            } catch (const std::runtime_error&) {
                ++errors;
            }
        }
    });
    for (int round = 0; round < 3; ++round) {
        LinkClient thrower;
        ASSERT_TRUE(thrower.Connect(path));
        EXPECT_THROW(thrower.Send(13, 0, 0), LinkError) << round;
        LinkClient good;
        ASSERT_TRUE(good.Connect(path));
        EXPECT_EQ(good.Send(1, 0, 40 + round), 40 + round);
    }
    stop = true;
    loop.join();
    EXPECT_EQ(errors.load(), 3);
    EXPECT_EQ(server.Depth(), 0);
    EXPECT_EQ(server.HeldCount(), 0u);
}

// EAs that send many records without waiting for the answers still get every answer, in
// order, however the answers are split between this thread and the I/O lanes.
TEST(Link, PipeliningEAsGetEveryAnswerInOrder) {
    TempDir dir;
    const std::string path = dir.File("TForm3");
    ServedLink link(path);
    struct Case {
        int clients, records;
    };
    for (const Case k : {Case{48, 300}, Case{4, 5000}, Case{1, 20000}}) {
        std::atomic<int> lost{0}, misplaced{0};
        std::vector<std::thread> threads;
        for (int c = 0; c < k.clients; ++c) {
            threads.emplace_back([&, c] {
                LinkClient client;
                if (!client.Connect(path)) {
                    lost += k.records;
                    return;
                }
                std::vector<unsigned char> all(static_cast<size_t>(k.records) * 16);
                for (int i = 0; i < k.records; ++i)
                    EncodeMessage(TMessage{0, c * 100000, i, 0}, all.data() + static_cast<size_t>(i) * 16);
                std::thread writer([&] {
                    try {
                        client.SendRaw(all.data(), all.size());
                    } catch (const LinkError&) {
                    }
                });
                const auto answers = ReadAnswers(client.Fd(), static_cast<size_t>(k.records));
                writer.join();
                lost += k.records - static_cast<int>(answers.size());
                for (size_t i = 0; i < answers.size(); ++i)
                    if (answers[i].Result != c * 100000 + static_cast<int>(i)) ++misplaced;
            });
        }
        for (auto& t : threads) t.join();
        EXPECT_EQ(lost.load(), 0) << k.clients << " x " << k.records;
        EXPECT_EQ(misplaced.load(), 0) << k.clients << " x " << k.records;
    }
}

// Connections beyond the cap are closed at once; those within it are served, and a place
// that becomes free is taken again.
TEST(Link, ConnectionsBeyondTheCapAreClosedAtOnce) {
    TempDir dir;
    const std::string path = dir.File("TForm3");
    ServedLink link(path);
    EXPECT_GE(link.server.MaxConnections(), 16u);
    link.server.SetMaxConnections(4);
    std::vector<std::unique_ptr<LinkClient>> in;
    for (int i = 0; i < 4; ++i) {
        in.push_back(std::make_unique<LinkClient>());
        ASSERT_TRUE(in.back()->Connect(path));
        EXPECT_EQ(in.back()->Send(0, 1, i), 1 + i);
    }
    for (int i = 0; i < 3; ++i) {
        LinkClient surplus;
        ASSERT_TRUE(surplus.Connect(path));
        EXPECT_THROW(surplus.Send(0, 1, 1), LinkError);
    }
    in.front()->Disconnect();
    ASSERT_TRUE(Eventually([&] { return link.server.ConnectionCount() == 3; }));
    LinkClient later;
    ASSERT_TRUE(later.Connect(path));
    EXPECT_EQ(later.Send(0, 2, 2), 4);
    for (size_t i = 1; i < in.size(); ++i) EXPECT_EQ(in[i]->Send(0, 0, 5), 5);
}

// Sets the soft limit of open files for the scope of a test.
struct OpenFilesLimit {
    explicit OpenFilesLimit(rlim_t soft) {
        getrlimit(RLIMIT_NOFILE, &saved);
        rlimit low = saved;
        low.rlim_cur = soft;
        ok = setrlimit(RLIMIT_NOFILE, &low) == 0;
    }
    ~OpenFilesLimit() { setrlimit(RLIMIT_NOFILE, &saved); }
    rlimit saved{};
    bool ok = false;
};

// The open-files limit under which exactly `free` more descriptors can be opened.
rlim_t LimitLeavingFree(int free) {
    std::vector<int> open;
    for (const auto& e : std::filesystem::directory_iterator("/proc/self/fd"))
        open.push_back(std::atoi(e.path().filename().c_str()));
    std::sort(open.begin(), open.end());
    int n = 0;
    for (;; ++n) {
        if (std::binary_search(open.begin(), open.end(), n)) continue;
        if (--free == 0) break;
    }
    return static_cast<rlim_t>(n + 1);
}

// With no descriptor left, waiting EAs are refused one by one instead of the listening
// socket staying readable: serving comes to rest, and the accepted EAs are answered.
TEST(Link, NoDescriptorLeftRefusesTheWaitingEAsWithoutSpinning) {
    TempDir dir;
    const std::string path = dir.File("TForm3");
    LinkServer server([](TMessage& m) { m.Result = m.LParam; });
    server.Listen(path);
    constexpr int kClients = 40;
    std::vector<int> fds;
    for (int i = 0; i < kClients; ++i) fds.push_back(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    std::vector<int> fillers;
    {
        // Room for exactly three more descriptors.
        OpenFilesLimit limit(LimitLeavingFree(8));
        ASSERT_TRUE(limit.ok);
        for (int fd; (fd = open("/dev/null", O_RDONLY | O_CLOEXEC)) >= 0;) fillers.push_back(fd);
        ASSERT_GE(fillers.size(), 3u);
        for (int i = 0; i < 3; ++i) {
            close(fillers.back());
            fillers.pop_back();
        }
        sockaddr_un a{};
        a.sun_family = AF_UNIX;
        std::strncpy(a.sun_path, path.c_str(), sizeof a.sun_path - 1);
        for (int fd : fds) {
            ASSERT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
            unsigned char rec[16];
            EncodeMessage(TMessage{0, 0, fd, 0}, rec);
            ASSERT_EQ(send(fd, rec, sizeof rec, MSG_NOSIGNAL), 16);
        }
        int passes = 0;
        for (; passes < 100; ++passes) {
            pollfd p{server.PollFd(), POLLIN, 0};
            if (poll(&p, 1, 0) == 0) break;
            server.ProcessReady();
        }
        EXPECT_LT(passes, 100) << "the link stays ready with nothing to do";
    }
    int answered = 0, refused = 0;
    for (int fd : fds) {
        pollfd p{fd, POLLIN, 0};
        ASSERT_EQ(poll(&p, 1, 5000), 1);
        const auto answers = ReadAnswers(fd, 1);
        if (answers.empty()) {
            ++refused;
        } else {
            ++answered;
            EXPECT_EQ(answers[0].Result, fd);
        }
        close(fd);
    }
    for (int fd : fillers) close(fd);
    EXPECT_EQ(answered, 3);
    EXPECT_EQ(answered + refused, kClients);
}

// A directory at the link's place that is not ours is refused with the reason, and left as
// it is.
TEST(Link, ALinkDirectoryThatIsNotOursIsRefusedWithTheReason) {
    struct Case {
        const char* name;
        std::function<void(const std::string& dir, const std::string& elsewhere)> make;
        const char* reason;
    };
    const Case cases[] = {
        {"symbolic link",
         [](const std::string& d, const std::string& e) { ASSERT_EQ(symlink(e.c_str(), d.c_str()), 0); },
         "it is a symbolic link"},
        {"open to the group",
         [](const std::string& d, const std::string&) {
             ASSERT_EQ(mkdir(d.c_str(), 0750), 0);
             chmod(d.c_str(), 0750);
         },
         "its permissions are 0750, not 0700"},
        {"open to all",
         [](const std::string& d, const std::string&) {
             ASSERT_EQ(mkdir(d.c_str(), 0777), 0);
             chmod(d.c_str(), 0777);
         },
         "its permissions are 0777, not 0700"},
        {"a plain file", [](const std::string& d, const std::string&) { std::ofstream(d) << "x"; },
         "it is not a directory"},
        {"another owner",
         [](const std::string& d, const std::string&) {
             ASSERT_EQ(mkdir(d.c_str(), 0700), 0);
             if (geteuid() == 0) {
                 ASSERT_EQ(chown(d.c_str(), 65534, 65534), 0);
             }
         },
         "it belongs to user 65534"},
    };
    for (const Case& c : cases) {
        if (std::string(c.name) == "another owner" && geteuid() != 0) continue; // needs root to give away
        TempDir dir;
        const std::string linkDir = dir.File("q");
        std::filesystem::create_directory(dir.File("elsewhere"));
        std::filesystem::permissions(dir.File("elsewhere"), std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::replace);
        c.make(linkDir, dir.File("elsewhere"));
        LinkServer server([](TMessage&) {});
        try {
            server.Listen(linkDir + "/TForm3");
            ADD_FAILURE() << c.name << ": accepted";
        } catch (const LinkError& e) {
            const std::string text = e.what();
            EXPECT_NE(text.find("exists but is not ours"), std::string::npos) << c.name << ": " << text;
            EXPECT_NE(text.find(c.reason), std::string::npos) << c.name << ": " << text;
            EXPECT_NE(text.find(linkDir), std::string::npos) << c.name << ": " << text;
        }
        EXPECT_FALSE(std::filesystem::exists(dir.File("elsewhere/TForm3"))) << c.name;
        EXPECT_FALSE(std::filesystem::exists(linkDir + "/TForm3")) << c.name;
    }
}

TEST(Link, RaisingTheOpenFilesLimitReachesTheHardLimit) {
    OpenFilesLimit low(64);
    ASSERT_TRUE(low.ok);
    const uint64_t now = RaiseOpenFilesLimit();
    rlimit rl{};
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &rl), 0);
    EXPECT_EQ(rl.rlim_cur, rl.rlim_max);
    EXPECT_EQ(now, rl.rlim_max == RLIM_INFINITY ? UINT64_MAX : static_cast<uint64_t>(rl.rlim_max));
}

} // namespace

namespace {

// Handlers run on the serving thread only, one batch at a time, and no EA sees an answer before
// the batch's end has been told: each answer carries the number of batch ends told before its
// handler ran, and must arrive after one more. Many EAs at once move to the I/O lanes; one EA
// alone is answered by the serving thread; both keep the rule.
TEST(Link, AnswersWaitForTheEndOfTheirBatch) {
    for (const int clients : {48, 1}) {
        TempDir dir;
        const std::string path = dir.File("TForm3");
        std::atomic<int32_t> batchesDone{0};
        std::atomic<int> offThread{0};
        std::atomic<bool> inBatch{false};
        std::thread::id serving;
        LinkServer server([&](TMessage& m) {
            if (std::this_thread::get_id() != serving) ++offThread;
            inBatch = true;
            m.Result = batchesDone.load();
        });
        server.SetBatchDone([&] {
            if (std::this_thread::get_id() != serving || !inBatch.exchange(false)) ++offThread;
            ++batchesDone;
        });
        server.Listen(path);
        std::atomic<bool> stop{false};
        std::thread loop([&] {
            while (!stop.load()) {
                pollfd p{server.PollFd(), POLLIN, 0};
                if (poll(&p, 1, 5) > 0) server.ProcessReady();
            }
        });
        serving = loop.get_id();
        std::atomic<int> early{0}, failed{0};
        std::vector<std::thread> threads;
        for (int c = 0; c < clients; ++c)
            threads.emplace_back([&] {
                LinkClient client;
                if (!client.Connect(path)) {
                    ++failed;
                    return;
                }
                for (int i = 0; i < 400; ++i)
                    if (client.Send(1, 0, 0) >= batchesDone.load()) ++early;
            });
        for (auto& t : threads) t.join();
        stop = true;
        loop.join();
        EXPECT_EQ(failed.load(), 0) << clients;
        EXPECT_EQ(early.load(), 0) << clients << " EAs: answers released before their batch ended";
        EXPECT_EQ(offThread.load(), 0) << clients;
    }
}

// A handler that runs a nested loop without being announced (a stop box after an error) while
// another EA's record waits in the same round: the inner loop answers that EA, whichever of
// the two the round took first.
TEST(Link, ANestedLoopServesTheRestOfTheInterruptedRound) {
    TempDir dir;
    const std::string path = dir.File("TForm3");
    LinkServer* self = nullptr;
    int boxFd = -1, otherFd = -1;
    bool otherAnsweredInside = false;
    LinkServer server([&](TMessage& m) {
        if (m.Msg == 98) {
            for (int i = 0; i < 2000 && !otherAnsweredInside; ++i) {
                pollfd p{self->PollFd(), POLLIN, 0};
                if (poll(&p, 1, 5) > 0) self->ProcessReady();
                pollfd o{otherFd, POLLIN, 0};
                otherAnsweredInside = poll(&o, 1, 0) == 1;
            }
        }
        m.Result = m.Msg;
    });
    self = &server;
    server.Listen(path);
    LinkClient box, other;
    ASSERT_TRUE(box.Connect(path));
    ASSERT_TRUE(other.Connect(path));
    boxFd = box.Fd();
    otherFd = other.Fd();
    unsigned char rec[16];
    EncodeMessage(TMessage{98, 0, 0, 0}, rec);
    box.SendRaw(rec, sizeof rec);
    EncodeMessage(TMessage{97, 0, 0, 0}, rec);
    other.SendRaw(rec, sizeof rec);
    // Both connections are accepted, then both records are read in one round.
    for (int i = 0; i < 200 && server.ConnectionCount() < 2; ++i) {
        pollfd p{server.PollFd(), POLLIN, 0};
        if (poll(&p, 1, 5) > 0) server.ProcessReady();
    }
    ASSERT_EQ(server.ConnectionCount(), 2u);
    for (int i = 0; i < 200; ++i) {
        pollfd p[2] = {{boxFd, POLLIN, 0}, {otherFd, POLLIN, 0}};
        if (poll(p, 2, 0) > 0) break;
        pollfd s{server.PollFd(), POLLIN, 0};
        if (poll(&s, 1, 5) > 0) server.ProcessReady();
    }
    EXPECT_TRUE(otherAnsweredInside);
    const auto o = ReadAnswers(otherFd, 1);
    const auto b = ReadAnswers(boxFd, 1);
    ASSERT_EQ(o.size(), 1u);
    ASSERT_EQ(b.size(), 1u);
    EXPECT_EQ(o[0].Result, 97);
    EXPECT_EQ(b[0].Result, 98);
}

// A transport over one end of a socket pair that flips every byte on the wire and notes the
// threads it is used on.
class FlippingTransport : public LinkTransport {
public:
    FlippingTransport(int fd, std::atomic<int>& onServing, std::thread::id serving, std::atomic<bool>& gone)
        : m_fd(fd), m_onServing(onServing), m_serving(serving), m_gone(gone) {}
    ~FlippingTransport() override {
        close(m_fd);
        m_gone = true;
    }
    int Fd() const override { return m_fd; }
    long Read(void* data, unsigned long size) override {
        Note();
        const long n = read(m_fd, data, size);
        for (long i = 0; i < n; ++i) static_cast<unsigned char*>(data)[i] ^= 0xFF;
        return n;
    }
    long Write(const void* data, unsigned long size) override {
        Note();
        std::vector<unsigned char> flipped(static_cast<const unsigned char*>(data),
                                           static_cast<const unsigned char*>(data) + size);
        for (auto& b : flipped) b ^= 0xFF;
        return send(m_fd, flipped.data(), size, MSG_NOSIGNAL | MSG_DONTWAIT);
    }
    void Shutdown() override {
        Note();
        shutdown(m_fd, SHUT_RDWR);
    }

private:
    void Note() {
        if (std::this_thread::get_id() == m_serving) ++m_onServing;
    }
    int m_fd;
    std::atomic<int>& m_onServing;
    std::thread::id m_serving;
    std::atomic<bool>& m_gone;
};

int32_t FlippedSend(int fd, TMessage m) {
    unsigned char rec[16];
    EncodeMessage(m, rec);
    for (auto& b : rec) b ^= 0xFF;
    if (send(fd, rec, sizeof rec, MSG_NOSIGNAL) != 16) return INT32_MIN;
    const auto answers = ReadAnswers(fd, 1);
    if (answers.empty()) return INT32_MIN;
    unsigned char back[16];
    EncodeMessage(answers[0], back);
    for (auto& b : back) b ^= 0xFF;
    return DecodeMessage(back).Result;
}

// An adopted connection is served through its own transport, by an I/O lane only, within the
// cap; Disconnect closes it, and the transport goes with it.
TEST(Link, AdoptedConnectionsAreServedThroughTheirTransport) {
    TempDir dir;
    const std::string path = dir.File("TForm3");
    std::thread::id serving;
    LinkServer server([&](TMessage& m) {
        if (std::this_thread::get_id() != serving)
            m.Result = -1;
        else
            m.Result = m.WParam * 2;
    });
    server.Listen(path);
    std::atomic<bool> stop{false};
    std::mutex calls;
    std::vector<std::function<void()>> onLoop; // run on the serving thread
    std::thread loop([&] {
        while (!stop.load()) {
            {
                std::lock_guard<std::mutex> g(calls);
                for (auto& f : onLoop) f();
                onLoop.clear();
            }
            pollfd p{server.PollFd(), POLLIN, 0};
            if (poll(&p, 1, 5) > 0) server.ProcessReady();
        }
    });
    serving = loop.get_id();
    auto onServing = [&](std::function<void()> f) {
        std::atomic<bool> done{false};
        {
            std::lock_guard<std::mutex> g(calls);
            onLoop.push_back([&] {
                f();
                done = true;
            });
        }
        while (!done.load()) std::this_thread::yield();
    };

    std::atomic<int> usedOnServing{0};
    struct Pair {
        int ours = -1, theirs = -1;
        std::atomic<bool> gone{false};
        uint64_t id = 0;
    };
    Pair pairs[3];
    for (Pair& p : pairs) {
        int sv[2];
        ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sv), 0);
        fcntl(sv[0], F_SETFL, O_NONBLOCK);
        p.ours = sv[1];
        p.theirs = sv[0];
    }
    onServing([&] { server.SetMaxConnections(2); });
    for (Pair& p : pairs)
        onServing([&] {
            p.id =
                server.Adopt(std::make_unique<FlippingTransport>(p.theirs, usedOnServing, serving, p.gone));
        });
    EXPECT_NE(pairs[0].id, 0u);
    EXPECT_NE(pairs[1].id, 0u);
    EXPECT_EQ(pairs[2].id, 0u) << "adopted beyond the cap";
    EXPECT_TRUE(pairs[2].gone.load());

    for (int i = 0; i < 200; ++i) {
        EXPECT_EQ(FlippedSend(pairs[0].ours, TMessage{1, i, 0, 0}), 2 * i);
        EXPECT_EQ(FlippedSend(pairs[1].ours, TMessage{1, -i, 0, 0}), -2 * i);
    }
    EXPECT_EQ(usedOnServing.load(), 0) << "the transport was used on the serving thread";

    onServing([&] { server.Disconnect(pairs[0].id); });
    EXPECT_TRUE(ReadAnswers(pairs[0].ours, 1).empty()) << "still open after Disconnect";
    EXPECT_TRUE(Eventually([&] { return pairs[0].gone.load(); }));
    EXPECT_EQ(FlippedSend(pairs[1].ours, TMessage{1, 21, 0, 0}), 42);
    // A partial record, then the end: that connection goes, and its transport with it.
    ASSERT_EQ(send(pairs[1].ours, "\x01\x02\x03", 3, MSG_NOSIGNAL), 3);
    shutdown(pairs[1].ours, SHUT_WR);
    EXPECT_TRUE(Eventually([&] { return pairs[1].gone.load(); }));
    EXPECT_TRUE(Eventually([&] { return server.ConnectionCount() == 0; }));
    stop = true;
    loop.join();
    for (Pair& p : pairs) close(p.ours);
}

} // namespace

namespace {

// A link whose engine answers wait for a flush the test lets end: every handled record is a
// change (the written position grows by one), and the durable position moves only when the
// test opens the gate. The test's thread serves the link itself, so that what has been sent
// at any moment is known.
struct GatedLink {
    TempDir dir;
    std::string path = dir.File("TForm3");
    std::atomic<uint64_t> written{0}, durable{0};
    bool failed = false;
    int gate = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    std::vector<TMessage> handled;
    LinkServer server{[this](TMessage& m) {
        handled.push_back(m);
        ++written;
        m.Result = m.WParam * 2;
    }};

    GatedLink() {
        server.SetDurability([this] { return written.load(); },
                             [](const TMessage& m) {
                                 return m.Msg >= EAMsg::OrderQuestion && m.Msg <= EAMsg::GetTriggerPriceClose;
                             },
                             gate, [this] { return failed ? UINT64_MAX : durable.load(); });
        server.Listen(path);
    }
    ~GatedLink() {
        server.Close();
        close(gate);
    }
    // The flusher's end: what was written is durable (or failed), and the link is told.
    void OpenGate() {
        durable = written.load();
        const uint64_t one = 1;
        ASSERT_EQ(write(gate, &one, sizeof one), 8);
    }
    void Fail() {
        failed = true;
        const uint64_t one = 1;
        ASSERT_EQ(write(gate, &one, sizeof one), 8);
    }
    // Serves until `done` holds (at most a few seconds); false if it never did.
    bool ServeUntil(const std::function<bool()>& done) {
        for (int i = 0; i < 2000 && !done(); ++i) {
            pollfd p{server.PollFd(), POLLIN, 0};
            if (poll(&p, 1, 2) > 0) server.ProcessReady();
        }
        return done();
    }
    // Serves a few more rounds once nothing should be left to do.
    void ServeIdle() {
        for (int i = 0; i < 5; ++i) server.ProcessReady();
    }
    static bool HasAnswer(const LinkClient& c) {
        pollfd p{c.Fd(), POLLIN, 0};
        return poll(&p, 1, 0) == 1;
    }
    void Send(LinkClient& c, std::initializer_list<std::pair<int32_t, int32_t>> records) {
        std::vector<unsigned char> bytes;
        for (const auto& [msg, wparam] : records) {
            unsigned char b[16];
            EncodeMessage(TMessage{msg, wparam, 0, 0}, b);
            bytes.insert(bytes.end(), b, b + 16);
        }
        c.SendRaw(bytes.data(), bytes.size());
    }
    // The next answer on `c`, served for; Msg 0 when none came.
    TMessage Answer(LinkClient& c) {
        if (!ServeUntil([&] { return HasAnswer(c); })) return TMessage{};
        unsigned char b[16];
        size_t have = 0;
        while (have < 16) {
            const ssize_t n = read(c.Fd(), b + have, 16 - have);
            if (n <= 0) return TMessage{};
            have += static_cast<size_t>(n);
        }
        return DecodeMessage(b);
    }
};

// The order engine's answers wait until the flush covers the changes made before them; the
// quote, parameter and WM_COPYDATA answers carry no leg state and go at once.
TEST(DurableAnswers, EngineAnswersWaitForTheFlushAndTheOthersDoNot) {
    const struct {
        int32_t msg;
        bool waits;
    } cases[] = {
        {EAMsg::OrderQuestion, true},      {EAMsg::OrderOpened, true},
        {EAMsg::OrderOpenPrice, true},     {EAMsg::GetTriggerPriceClose, true},
        {EAMsg::NewDataBid, false},        {EAMsg::DataComplete, false},
        {EAMsg::OrderQuestion - 1, false}, {EAMsg::GetTriggerPriceClose + 1, false},
        {EAMsg::GetEALoopTime, false},     {EAMsg::NewDataCompanyName, false},
    };
    GatedLink link;
    LinkClient c;
    ASSERT_TRUE(c.Connect(link.path));
    for (const auto& k : cases) {
        const size_t before = link.handled.size();
        link.Send(c, {{k.msg, 21}});
        ASSERT_TRUE(link.ServeUntil([&] { return link.handled.size() > before; })) << k.msg;
        if (k.waits) {
            link.ServeIdle();
            EXPECT_FALSE(GatedLink::HasAnswer(c)) << k.msg << " answered before its change was durable";
            EXPECT_EQ(link.server.AwaitingCount(), 1u) << k.msg;
            link.OpenGate();
        }
        const TMessage a = link.Answer(c);
        EXPECT_EQ(a.Msg, k.msg);
        EXPECT_EQ(a.Result, 42) << k.msg;
        EXPECT_EQ(link.server.AwaitingCount(), 0u) << k.msg;
        link.OpenGate(); // the next case starts with everything durable
    }
}

// While one EA's report waits for the flush, another EA's quote is answered.
TEST(DurableAnswers, AnotherEAIsServedWhileAFlushIsUnderWay) {
    GatedLink link;
    LinkClient reporter, quoter;
    ASSERT_TRUE(reporter.Connect(link.path));
    ASSERT_TRUE(quoter.Connect(link.path));
    link.Send(reporter, {{EAMsg::OrderOpened, 1}});
    ASSERT_TRUE(link.ServeUntil([&] { return link.server.AwaitingCount() == 1; }));
    for (int32_t i = 0; i < 3; ++i) {
        link.Send(quoter, {{EAMsg::NewDataBid, 10 + i}});
        EXPECT_EQ(link.Answer(quoter).Result, 2 * (10 + i));
    }
    EXPECT_FALSE(GatedLink::HasAnswer(reporter));
    link.OpenGate();
    EXPECT_EQ(link.Answer(reporter).Result, 2);
}

// Records an EA sends behind a report whose answer waits are neither handled nor answered
// before it: a quote does not overtake the report, and each answer follows in order.
TEST(DurableAnswers, PipelinedRecordsWaitBehindAHeldAnswerInOrder) {
    GatedLink link;
    LinkClient c;
    ASSERT_TRUE(c.Connect(link.path));
    link.Send(c, {{EAMsg::OrderOpened, 1},
                  {EAMsg::NewDataBid, 2},
                  {EAMsg::OrderOpenPrice, 3},
                  {EAMsg::DataComplete, 4}});
    ASSERT_TRUE(link.ServeUntil([&] { return link.server.AwaitingCount() == 1; }));
    link.ServeIdle();
    ASSERT_EQ(link.handled.size(), 1u) << "a record behind a held answer was handled";
    EXPECT_FALSE(GatedLink::HasAnswer(c));
    link.OpenGate();
    EXPECT_EQ(link.Answer(c).WParam, 1);
    EXPECT_EQ(link.Answer(c).WParam, 2); // the quote goes at once
    ASSERT_TRUE(link.ServeUntil([&] { return link.server.AwaitingCount() == 1; }));
    link.ServeIdle();
    EXPECT_EQ(link.handled.size(), 3u);
    EXPECT_FALSE(GatedLink::HasAnswer(c));
    link.OpenGate();
    EXPECT_EQ(link.Answer(c).WParam, 3);
    EXPECT_EQ(link.Answer(c).WParam, 4);
    ASSERT_EQ(link.handled.size(), 4u);
    for (size_t i = 0; i < 4; ++i) EXPECT_EQ(link.handled[i].WParam, static_cast<int32_t>(i + 1));
}

// A flush that fails can never make the changes durable: the waiting answers go out, and
// the EAs do not hang.
TEST(DurableAnswers, AFailedFlushReleasesTheWaitingAnswers) {
    GatedLink link;
    std::vector<std::unique_ptr<LinkClient>> eas;
    for (int i = 0; i < 3; ++i) {
        eas.push_back(std::make_unique<LinkClient>());
        ASSERT_TRUE(eas.back()->Connect(link.path));
        link.Send(*eas.back(), {{EAMsg::OrderClosed, i}});
    }
    ASSERT_TRUE(link.ServeUntil([&] { return link.server.AwaitingCount() == 3; }));
    link.Fail();
    for (int i = 0; i < 3; ++i) EXPECT_EQ(link.Answer(*eas[static_cast<size_t>(i)]).WParam, i);
    EXPECT_EQ(link.server.AwaitingCount(), 0u);
}

} // namespace

namespace {

// Connections that the I/O lanes serve: each sends one record before the serving loop starts,
// so that its first round is a busy one and moves every connection to its lane. Message 99
// runs a nested loop, as an unannounced stop box does, until `closeBox` is set.
struct LanedLink {
    static constexpr int kClients = 20;
    explicit LanedLink(const std::string& path)
        : server([this](TMessage& m) {
              if (m.Msg != 99) {
                  m.Result =
                      static_cast<int32_t>(static_cast<uint32_t>(m.WParam) + static_cast<uint32_t>(m.LParam));
                  return;
              }
              boxOpen = true;
              while (!closeBox.load()) Turn(5);
              m.Result = -99;
          }) {
        server.Listen(path);
        for (auto& c : clients) {
            c = std::make_unique<LinkClient>();
            EXPECT_TRUE(c->Connect(path)) << c->Error();
        }
        for (int i = 0; i < kClients; ++i) Put(i, TMessage{0, i, 1000, 0});
        loop = std::thread([this] {
            while (!stop.load()) Turn(5);
        });
        for (int i = 0; i < kClients; ++i) {
            const auto a = Answers(i, 1);
            EXPECT_TRUE(a.size() == 1 && a[0].Result == i + 1000) << i;
        }
    }
    ~LanedLink() {
        closeBox = true;
        stop = true;
        loop.join();
    }
    void Turn(int ms) {
        pollfd p{server.PollFd(), POLLIN, 0};
        if (poll(&p, 1, ms) > 0) server.ProcessReady();
    }
    void Put(int client, const TMessage& m) {
        unsigned char b[16];
        EncodeMessage(m, b);
        clients[static_cast<size_t>(client)]->SendRaw(b, sizeof b);
    }
    // The next `count` answers of a client; fewer when none comes for a long while (a bug) or
    // the link closes.
    std::vector<TMessage> Answers(int client, size_t count) {
        const int fd = clients[static_cast<size_t>(client)]->Fd();
        std::vector<TMessage> out;
        while (out.size() < count) {
            pollfd p{fd, POLLIN, 0};
            if (poll(&p, 1, 10000) <= 0) break;
            const auto got = ReadAnswers(fd, 1);
            if (got.empty()) break;
            out.push_back(got[0]);
        }
        return out;
    }
    LinkServer server;
    std::array<std::unique_ptr<LinkClient>, kClients> clients;
    std::atomic<bool> stop{false}, boxOpen{false}, closeBox{false};
    std::thread loop;
};

} // namespace

// A box opened by one laned EA's handler while nothing else waits: the lanes' records that
// arrive while it is open wake its loop, which answers every other EA, pipelining or not.
TEST(Link, ABoxOpenedBetweenBatchesServesTheLanedEAs) {
    for (const int pipelined : {1, 40}) {
        TempDir dir;
        LanedLink link(dir.File("TForm3"));
        link.Put(0, TMessage{99, 0, 0, 0});
        ASSERT_TRUE(Eventually([&] { return link.boxOpen.load(); }));
        for (int i = 1; i < LanedLink::kClients; ++i)
            for (int k = 0; k < pipelined; ++k) link.Put(i, TMessage{0, i * 1000, k, 0});
        for (int i = 1; i < LanedLink::kClients; ++i) {
            const auto a = link.Answers(i, static_cast<size_t>(pipelined));
            ASSERT_EQ(a.size(), static_cast<size_t>(pipelined)) << "EA " << i << " not served under the box";
            for (int k = 0; k < pipelined; ++k) EXPECT_EQ(a[static_cast<size_t>(k)].Result, i * 1000 + k);
        }
        link.closeBox = true;
        const auto box = link.Answers(0, 1);
        ASSERT_EQ(box.size(), 1u);
        EXPECT_EQ(box[0].Result, -99);
    }
}

// Laned EAs that go away with records on their way (whole ones, a part of one, or with their
// answers unread) leave the others served in order and free their places.
TEST(Link, LanedEAsHangingUpWithRecordsInFlightLeaveTheLinkWhole) {
    struct Case {
        int records;     // sent without waiting before the hang-up
        unsigned extra;  // bytes of one more record
        bool halfClosed; // only the sending side is shut: the answers still go out
    };
    for (const Case k : {Case{1, 0, false}, Case{50, 0, false}, Case{3, 7, false}, Case{20, 0, true}}) {
        TempDir dir;
        LanedLink link(dir.File("TForm3"));
        constexpr int kLeaving = LanedLink::kClients / 2;
        for (int i = 0; i < LanedLink::kClients; ++i)
            for (int r = 0; r < k.records; ++r) link.Put(i, TMessage{0, i * 1000, r, 0});
        for (int i = 0; i < kLeaving; ++i) {
            LinkClient& c = *link.clients[static_cast<size_t>(i)];
            const unsigned char part[16] = {};
            if (k.extra) c.SendRaw(part, k.extra);
            if (k.halfClosed) {
                shutdown(c.Fd(), SHUT_WR);
                const auto a = link.Answers(i, static_cast<size_t>(k.records));
                EXPECT_EQ(a.size(), static_cast<size_t>(k.records)) << i;
            }
            c.Disconnect();
        }
        for (int i = kLeaving; i < LanedLink::kClients; ++i) {
            const auto a = link.Answers(i, static_cast<size_t>(k.records));
            ASSERT_EQ(a.size(), static_cast<size_t>(k.records)) << i;
            for (int r = 0; r < k.records; ++r) EXPECT_EQ(a[static_cast<size_t>(r)].Result, i * 1000 + r);
            link.Put(i, TMessage{0, i, 5, 0});
            const auto next = link.Answers(i, 1);
            EXPECT_TRUE(next.size() == 1 && next[0].Result == i + 5) << i;
        }
        EXPECT_TRUE(Eventually([&] {
            return link.server.ConnectionCount() == static_cast<size_t>(LanedLink::kClients - kLeaving);
        })) << k.records
            << " records, " << k.extra << " bytes more";
    }
}
