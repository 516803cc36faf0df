// Hostile and careless EAs against the built desk, through the real socket.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <linux/sockios.h>
#include <memory>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <thread>
#include <vector>

#include "desk_process.h"
#include "tests/support/linkanswers.h"
#include "tests/support/tempdir.h"

using namespace quorvel;
using namespace quorvel::e2e;
using quorvel::test::Eventually;
using quorvel::test::ReadAnswers;

namespace {

constexpr int32_t BID = EAMsg::NewDataBid, ASK = EAMsg::NewDataAsk, ACCOUNT = EAMsg::NewDataAccount;

// Raises this process's soft limit of open files to at least `want` (within the hard limit).
bool RoomForFiles(rlim_t want) {
    rlimit rl{};
    if (getrlimit(RLIMIT_NOFILE, &rl) != 0) return false;
    if (rl.rlim_cur >= want) return true;
    if (rl.rlim_max != RLIM_INFINITY && rl.rlim_max < want) return false;
    rl.rlim_cur = want;
    return setrlimit(RLIMIT_NOFILE, &rl) == 0;
}

// Bytes this end has sent that the desk has not read yet.
int Unread(int fd) {
    int n = 0;
    return ioctl(fd, SIOCOUTQ, &n) == 0 ? n : -1;
}

void SendRecord(LinkClient& c, int32_t msg, int32_t wparam, int32_t lparam) {
    unsigned char rec[16];
    EncodeMessage(TMessage{msg, wparam, lparam, 0}, rec);
    c.SendRaw(rec, sizeof rec);
}

// Thousands of WM_COPYDATA boxes asked for at once: a bounded number opens, the rest wait
// unanswered, the desk stays up and goes on answering the other EAs.
TEST(LinkHardening, AFloodOfCopyDataBoxesNeitherCrashesTheDeskNorStopsTheOthers) {
    // About 2,500 nested boxes overflow the stack; the desk takes EAs up to half its limit.
    rlimit rl{};
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &rl), 0);
    const int kFlood = static_cast<int>(std::min<rlim_t>(3000, rl.rlim_max / 2 - 100));
    if (kFlood < 1000) GTEST_SKIP() << "the open-files limit is too low for a flood";
    ASSERT_TRUE(RoomForFiles(static_cast<rlim_t>(kFlood) + 200));
    test::TempDir dir;
    DeskProcess desk(dir.Path());
    ASSERT_TRUE(desk.Start()) << desk.StdErr();
    LinkClient good;
    ASSERT_TRUE(good.Connect(desk.SocketPath()));
    EXPECT_EQ(good.Send(BID, 1, 100000), 2);

    std::vector<std::unique_ptr<LinkClient>> flood;
    for (int i = 0; i < kFlood; ++i) {
        flood.push_back(std::make_unique<LinkClient>());
        ASSERT_TRUE(flood.back()->Connect(desk.SocketPath())) << i << ": " << flood.back()->Error();
        SendRecord(*flood.back(), EAMsg::NewDataCompanyName, 1 + i % 10, 'A' + i % 26);
    }
    // Every record has been taken in by the desk.
    EXPECT_TRUE(Eventually([&] {
        for (const auto& c : flood)
            if (Unread(c->Fd()) != 0) return false;
        return true;
    }));
    ASSERT_TRUE(desk.Running()) << desk.StdErr();
    for (int i = 0; i < 200; ++i) ASSERT_EQ(good.Send(ASK, 1 + i % 10, 100010 + i), 1) << i;
    LinkClient late;
    ASSERT_TRUE(late.Connect(desk.SocketPath()));
    EXPECT_EQ(late.Send(ACCOUNT, 2, 77), 4);
    EXPECT_EQ(late.Send(EAMsg::GetEALoopTime, 0, 0), 200);

    // No box has been closed, so no WM_COPYDATA is answered, and none was closed on its EA.
    std::vector<pollfd> fds;
    for (const auto& c : flood) fds.push_back(pollfd{c->Fd(), POLLIN, 0});
    EXPECT_EQ(poll(fds.data(), fds.size(), 0), 0);
    EXPECT_TRUE(desk.Running()) << desk.StdErr();

    // A signal closes the open boxes, and the waiting ones are then served without a box:
    // every EA of the flood gets its answer before the desk ends.
    EXPECT_EQ(desk.Stop(SIGTERM), 0);
    int six = 0;
    for (const auto& c : flood) {
        const auto answers = ReadAnswers(c->Fd(), 1);
        six += answers.size() == 1 && answers[0].Result == 6;
    }
    EXPECT_EQ(six, kFlood);
}

// EAs that send hundreds of records without waiting get every answer, in order, whatever
// thread of the desk writes it.
TEST(LinkHardening, PipelinedRecordsAreAllAnsweredInOrder) {
    constexpr int kClients = 48, kRecords = 300;
    ASSERT_TRUE(RoomForFiles(kClients * 2 + 100));
    test::TempDir dir;
    DeskProcess desk(dir.Path());
    ASSERT_TRUE(desk.Start()) << desk.StdErr();
    struct Kind {
        int32_t msg, result;
    };
    // Defaults of a first start: LoopTime 200, OrderAttempts 2, Slippage 16, CloseTime 60.
    const Kind kinds[] = {{BID, 2},
                          {ASK, 1},
                          {ACCOUNT, 4},
                          {EAMsg::GetEALoopTime, 200},
                          {EAMsg::GetEAMaxRequotes, 2},
                          {EAMsg::GetEASlippage, 16},
                          {EAMsg::GetEAMaxCounterCheckSeconds, 60},
                          {EAMsg::GetEARequoteWaitMS, 0}};
    std::atomic<int> lost{0}, misplaced{0};
    std::vector<std::thread> eas;
    for (int c = 0; c < kClients; ++c) {
        eas.emplace_back([&, c] {
            LinkClient ea;
            if (!ea.Connect(desk.SocketPath())) {
                lost += kRecords;
                return;
            }
            std::vector<unsigned char> all(kRecords * 16);
            std::vector<int32_t> expected;
            for (int i = 0; i < kRecords; ++i) {
                const Kind& k = kinds[(i * 3 + c) % 8];
                EncodeMessage(TMessage{k.msg, 1 + c % 10, 100000 + i, 0}, all.data() + i * 16);
                expected.push_back(k.result);
            }
            std::thread writer([&] {
                try {
                    ea.SendRaw(all.data(), all.size());
                } catch (const LinkError&) {
                }
            });
            const auto answers = ReadAnswers(ea.Fd(), kRecords);
            writer.join();
            lost += kRecords - static_cast<int>(answers.size());
            for (size_t i = 0; i < answers.size(); ++i)
                if (answers[i].Result != expected[i] || answers[i].LParam != 100000 + static_cast<int>(i))
                    ++misplaced;
        });
    }
    for (auto& t : eas) t.join();
    EXPECT_EQ(lost.load(), 0);
    EXPECT_EQ(misplaced.load(), 0);
    EXPECT_EQ(desk.Stop(), 0);
}

int SoftOpenFilesLimitOf(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/limits");
    std::string line;
    while (std::getline(in, line))
        if (line.rfind("Max open files", 0) == 0) return std::atoi(line.c_str() + 26);
    return -1;
}

// The desk raises its open-files limit to the hard limit at start, takes EAs up to half of
// it and closes the surplus at once; a place that becomes free is taken again.
TEST(LinkHardening, ConnectionsBeyondTheCapAreRefusedAtOnceAndTheDeskGoesOn) {
    constexpr int kHard = 1200, kCap = kHard / 2, kTries = kCap + 150;
    ASSERT_TRUE(RoomForFiles(kTries + 100));
    test::TempDir dir;
    DeskProcess desk(dir.Path());
    desk.SetOpenFilesLimit(200, kHard);
    ASSERT_TRUE(desk.Start()) << desk.StdErr();
    EXPECT_EQ(SoftOpenFilesLimitOf(desk.Pid()), kHard);

    std::vector<std::unique_ptr<LinkClient>> in;
    int refused = 0;
    for (int i = 0; i < kTries; ++i) {
        auto ea = std::make_unique<LinkClient>();
        ASSERT_TRUE(ea->Connect(desk.SocketPath())) << i;
        try {
            ASSERT_EQ(ea->Send(ACCOUNT, 1, i), 4);
            in.push_back(std::move(ea));
        } catch (const LinkError&) {
            ++refused;
        }
    }
    EXPECT_LE(static_cast<int>(in.size()), kCap);
    EXPECT_GE(static_cast<int>(in.size()), kCap - 5); // the start-up probe may still count
    EXPECT_EQ(static_cast<int>(in.size()) + refused, kTries);

    // Those inside are still served; once some leave, newcomers get in.
    for (size_t i = 0; i < in.size(); i += 50) EXPECT_EQ(in[i]->Send(BID, 2, 5), 2);
    in.resize(in.size() - 20);
    EXPECT_TRUE(Eventually([&] {
        LinkClient newcomer;
        if (!newcomer.Connect(desk.SocketPath())) return false;
        try {
            return newcomer.Send(ASK, 2, 7) == 1;
        } catch (const LinkError&) {
            return false;
        }
    }));
    EXPECT_TRUE(desk.Running());
    in.clear();
    EXPECT_EQ(desk.Stop(), 0);
}

// A link directory squatted by something that is not the desk's own stops the start with
// a message that says so.
TEST(LinkHardening, ASquattedLinkDirectoryStopsTheStartWithTheReason) {
    test::TempDir dir;
    DeskProcess desk(dir.Path());
    fs::create_directories(dir.Path() / "xdg" / "Quorvel");
    fs::permissions(dir.Path() / "xdg" / "Quorvel", fs::perms::owner_all | fs::perms::group_all,
                    fs::perm_options::replace);
    EXPECT_NE(desk.RunToExit(), 0);
    const std::string err = desk.StdErr();
    EXPECT_NE(err.find("exists but is not ours: its permissions are 0770, not 0700."), std::string::npos)
        << err;
    EXPECT_EQ(err.find("File exists"), std::string::npos) << err;
}

} // namespace
