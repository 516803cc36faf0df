// quorvel-ea: a command-line EA. Sends one message to the running desk and prints the answer,
// or drives the desk with many simulated EAs and measures the link.
//
//   quorvel-ea send MSG WPARAM LPARAM
//   quorvel-ea bench [--clients N] [--seconds S] [--msg MSG] [--wparam W] [--lparam L]
//                    [--quotes-per-second Q] [--every S] [--no-echo] [--socket PATH]
//   quorvel-ea fleet --eas N --seconds S [...]     many EAs trading (see tools/fleet.cpp)
//   quorvel-ea prepare DIR --eas N [...]           a desk folder for the fleet
//   quorvel-ea check DIR                           how the transactions of a run ended
//   quorvel-ea enrol NAME --ids 1-50 [--dir DESKDIR] [--out FILE]   a terminal machine's file
//   quorvel-ea revoke NAME [--dir DESKDIR]                          that machine connects no more
// send, bench and fleet talk to a desk on another machine with --connect HOST:PORT --cert FILE.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <sys/socket.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "platform/ealink.h"
#include "platform/linkcerts.h"
#include "platform/messages.h"
#include "platform/tlslink.h"
#include "tools/fleet.h"

using namespace quorvel;
using Clock = std::chrono::steady_clock;

namespace {

int Usage() {
    std::fprintf(
        stderr,
        "usage:\n"
        "  quorvel-ea send MSG WPARAM LPARAM      send one message, print its Result\n"
        "  quorvel-ea bench [--clients N] [--seconds S] [--msg MSG] [--wparam W] [--lparam L]\n"
        "                   [--quotes-per-second Q] [--every S] [--no-echo] [--socket PATH]\n"
        "--every S prints the messages and the longest round trip of every S seconds.\n"
        "  quorvel-ea fleet --eas N [--tables T] --seconds S [--fail-rate P] [--seed K]\n"
        "                   [--loop-ms L] [--drain S] [--dir DIR [--stop-desk PID]] [--brief]\n"
        "                   [--ids 1-50[,60,...]]  only these EAs of the fleet (one machine's share)\n"
        "  quorvel-ea prepare DIR --eas N [--tables T] [--transactions K] [--history H]\n"
        "                   [--seed K] [--config PATH] [--seqmode] [--delmode] [--auto-trades N]\n"
        "  quorvel-ea check DIR                 how the transactions in DIR/Orderlist.xml ended\n"
        "  quorvel-ea enrol NAME --ids 1-50[,60,...] [--dir DESKDIR] [--out FILE]\n"
        "                                       a terminal machine's file (default NAME.pem)\n"
        "  quorvel-ea revoke NAME [--dir DESKDIR]  the machine no longer connects\n"
        "send, bench and fleet reach a desk on another machine with --connect HOST:PORT --cert FILE.\n"
        "MSG is a number, 0x hex, a name such as WM_APP+404 or WM_COPYDATA, or the name of the desk's\n"
        "handler of it such as DataComplete.\n");
    return 2;
}

bool ParseInt(const char* s, int32_t& out) {
    char* end = nullptr;
    errno = 0;
    const long long v = std::strtoll(s, &end, 0);
    if (errno || !end || *end || v < INT32_MIN || v > INT32_MAX) return false;
    out = static_cast<int32_t>(v);
    return true;
}

// A message as the operator names it: the desk's handler of it ("OrderQuestion"), or its
// number in any form ParseMessageNumber reads.
bool ParseMessage(const std::string& text, int32_t& out) {
    if (const std::optional<int32_t> msg = MessageByName(text)) {
        out = *msg;
        return true;
    }
    return ParseMessageNumber(text, out);
}

int Send(int argc, char** argv, const std::string& path) {
    if (argc != 3) return Usage();
    int32_t msg = 0, wp = 0, lp = 0;
    if (!ParseMessage(argv[0], msg)) {
        std::fprintf(stderr, "quorvel-ea: not a message number: %s\n", argv[0]);
        return 2;
    }
    if (!ParseInt(argv[1], wp) || !ParseInt(argv[2], lp)) {
        std::fprintf(stderr, "quorvel-ea: WPARAM and LPARAM must be 32-bit integers\n");
        return 2;
    }
    EaConnection client;
    if (!client.Connect(path)) {
        std::fprintf(stderr, "quorvel-ea: no desk is running (%s)\n", client.Error().c_str());
        return 1;
    }
    try {
        std::printf("%d\n", client.Send(msg, wp, lp));
    } catch (const LinkError& e) {
        std::fprintf(stderr, "quorvel-ea: %s\n", e.what());
        return 1;
    }
    return 0;
}

// ---- load generator ------------------------------------------------------------------------

struct BenchOptions {
    int clients = 1;
    double seconds = 3;
    int32_t msg = EAMsg::GetEALoopTime;
    int32_t wparam = 1;
    int32_t lparam = 0;
    double quotesPerSecond = 0; // aggregate; 0: back-to-back single messages
    bool echo = true;
    double every = 0; // seconds per line of the timeline; 0: no timeline
};

struct BenchResult {
    uint64_t messages = 0;
    uint64_t quotes = 0;
    double seconds = 0;
    double p50 = 0, p99 = 0, max = 0; // microseconds
    int failedClients = 0;
    // The timeline: per interval of `every` seconds, the messages sent and their longest
    // round trip (microseconds).
    std::vector<uint64_t> slotMessages;
    std::vector<double> slotMax;
};

BenchResult RunLoad(const std::string& path, const BenchOptions& o) {
    std::vector<std::vector<float>> lat(static_cast<size_t>(o.clients));
    std::vector<std::vector<float>> sentAt(static_cast<size_t>(o.clients)); // seconds from start
    std::vector<uint64_t> quotes(static_cast<size_t>(o.clients), 0);
    std::atomic<int> failed{0};
    std::atomic<int> ready{0};
    std::atomic<bool> go{false};
    const auto dur = std::chrono::duration<double>(o.seconds);
    Clock::time_point start{};
    std::vector<std::thread> threads;
    for (int c = 0; c < o.clients; ++c) {
        threads.emplace_back([&, c] {
            EaConnection client;
            auto& my = lat[static_cast<size_t>(c)];
            auto& myAt = sentAt[static_cast<size_t>(c)];
            my.reserve(o.quotesPerSecond > 0 ? 1 << 12 : 1 << 20);
            if (o.every > 0) myAt.reserve(my.capacity());
            const bool ok = client.Connect(path);
            ready.fetch_add(1);
            while (!go.load()) std::this_thread::yield();
            if (!ok) {
                failed.fetch_add(1);
                return;
            }
            const auto end = start + std::chrono::duration_cast<Clock::duration>(dur);
            auto timed = [&](int32_t msg, int32_t wp, int32_t lp) {
                const auto t0 = Clock::now();
                client.Send(msg, wp, lp);
                my.push_back(std::chrono::duration<float, std::micro>(Clock::now() - t0).count());
                if (o.every > 0) myAt.push_back(std::chrono::duration<float>(t0 - start).count());
            };
            try {
                if (o.quotesPerSecond > 0) {
                    // Each client quotes as its own EA, paced so that all clients together
                    // send the aggregate rate of complete quotes.
                    const double perClient = o.quotesPerSecond / o.clients;
                    const auto gap = std::chrono::duration_cast<Clock::duration>(
                        std::chrono::duration<double>(1.0 / perClient));
                    auto next = start + gap * c / o.clients;
                    const int32_t id = o.wparam > 0 ? (c % o.wparam) + 1 : 1;
                    int32_t px = 110000 + c;
                    while (next < end) {
                        std::this_thread::sleep_until(next);
                        timed(EAMsg::NewDataBid, id, px);
                        timed(EAMsg::NewDataAsk, id, px + 12);
                        timed(EAMsg::DataComplete, id, 0);
                        ++quotes[static_cast<size_t>(c)];
                        px += (quotes[static_cast<size_t>(c)] & 1) ? 1 : -1;
                        next += gap;
                    }
                } else {
                    while (Clock::now() < end) timed(o.msg, o.wparam, o.lparam);
                }
            } catch (const LinkError&) {
                failed.fetch_add(1);
            }
        });
    }
    while (ready.load() < o.clients) std::this_thread::yield();
    start = Clock::now();
    go.store(true);
    for (auto& t : threads) t.join();
    BenchResult r;
    r.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    if (o.every > 0) {
        const size_t slots = static_cast<size_t>(r.seconds / o.every) + 1;
        r.slotMessages.assign(slots, 0);
        r.slotMax.assign(slots, 0.0);
        for (size_t c = 0; c < lat.size(); ++c)
            for (size_t k = 0; k < sentAt[c].size(); ++k) {
                const size_t s = std::min(slots - 1, static_cast<size_t>(sentAt[c][k] / o.every));
                ++r.slotMessages[s];
                r.slotMax[s] = std::max(r.slotMax[s], static_cast<double>(lat[c][k]));
            }
    }
    std::vector<float> all;
    for (auto& v : lat) all.insert(all.end(), v.begin(), v.end());
    for (auto q : quotes) r.quotes += q;
    r.messages = all.size();
    r.failedClients = failed.load();
    if (!all.empty()) {
        auto pct = [&](double p) {
            const size_t k =
                std::min(all.size() - 1, static_cast<size_t>(p * static_cast<double>(all.size())));
            std::nth_element(all.begin(), all.begin() + static_cast<long>(k), all.end());
            return static_cast<double>(all[k]);
        };
        r.p50 = pct(0.50);
        r.p99 = pct(0.99);
        r.max = *std::max_element(all.begin(), all.end());
    }
    return r;
}

// A plain echo server over the same kind of socket: one thread per connection, no handler.
class EchoServer {
public:
    explicit EchoServer(std::string path) : m_path(std::move(path)) {
        unlink(m_path.c_str());
        m_fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un a{};
        a.sun_family = AF_UNIX;
        std::strncpy(a.sun_path, m_path.c_str(), sizeof a.sun_path - 1);
        if (bind(m_fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(m_fd, 4096) != 0) {
            close(m_fd);
            m_fd = -1;
            return;
        }
        m_accept = std::thread([this] {
            for (;;) {
                int c = accept(m_fd, nullptr, nullptr);
                if (c < 0) return;
                std::thread([c] {
                    unsigned char b[16];
                    for (;;) {
                        size_t have = 0;
                        while (have < 16) {
                            ssize_t n = read(c, b + have, 16 - have);
                            if (n <= 0) {
                                close(c);
                                return;
                            }
                            have += static_cast<size_t>(n);
                        }
                        if (send(c, b, 16, MSG_NOSIGNAL) != 16) {
                            close(c);
                            return;
                        }
                    }
                }).detach();
            }
        });
    }
    ~EchoServer() {
        if (m_fd >= 0) {
            shutdown(m_fd, SHUT_RDWR);
            close(m_fd);
        }
        if (m_accept.joinable()) m_accept.join();
        unlink(m_path.c_str());
    }
    bool Ok() const { return m_fd >= 0; }

private:
    std::string m_path;
    int m_fd = -1;
    std::thread m_accept;
};

void Print(const char* who, const BenchResult& r, double every) {
    std::printf("%-6s messages %llu in %.2f s: %.0f msg/s", who, static_cast<unsigned long long>(r.messages),
                r.seconds, r.messages / r.seconds);
    if (r.quotes) std::printf(", %.0f complete quotes/s", r.quotes / r.seconds);
    std::printf("; round trip p50 %.1f us, p99 %.1f us, max %.1f us", r.p50, r.p99, r.max);
    if (r.failedClients) std::printf("; %d clients failed", r.failedClients);
    std::printf("\n");
    for (size_t k = 0; k < r.slotMessages.size(); ++k)
        std::printf("  %7.1f s +%.1f: %8llu messages, max %.1f us\n", static_cast<double>(k) * every, every,
                    static_cast<unsigned long long>(r.slotMessages[k]), r.slotMax[k]);
}

int Bench(int argc, char** argv, const std::string& path) {
    BenchOptions o;
    for (int i = 0; i < argc; ++i) {
        const std::string a = argv[i];
        auto next = [&]() -> const char* { return i + 1 < argc ? argv[++i] : nullptr; };
        const char* v = nullptr;
        if (a == "--no-echo") {
            o.echo = false;
            continue;
        }
        if (!(v = next())) return Usage();
        int32_t n = 0;
        if (a == "--clients" && ParseInt(v, n) && n > 0 && n <= 4096)
            o.clients = n;
        else if (a == "--seconds")
            o.seconds = std::atof(v);
        else if (a == "--msg" && ParseMessage(v, o.msg)) {
        } else if (a == "--wparam" && ParseInt(v, o.wparam)) {
        } else if (a == "--lparam" && ParseInt(v, o.lparam)) {
        } else if (a == "--quotes-per-second")
            o.quotesPerSecond = std::atof(v);
        else if (a == "--every")
            o.every = std::atof(v);
        else
            return Usage();
    }
    if (o.seconds <= 0) return Usage();
    {
        EaConnection probe;
        if (!probe.Connect(path)) {
            std::fprintf(stderr, "quorvel-ea: no desk is running (%s)\n", probe.Error().c_str());
            return 1;
        }
    }
    std::printf("%d clients, %.1f s, %s\n", o.clients, o.seconds,
                o.quotesPerSecond > 0 ? "paced complete quotes (400, 401, 404)" : "back-to-back messages");
    const BenchResult desk = RunLoad(path, o);
    Print(EaConnection::Remote() ? "tls" : "desk", desk, o.every);
    if (EaConnection::Remote()) {
        // The same desk through its local socket, in the same run.
        EaConnection::UseRemote("", "");
        const BenchResult local = RunLoad(path, o);
        Print("unix", local, o.every);
        std::printf("tls - unix: p50 %+.1f us, p99 %+.1f us\n", desk.p50 - local.p50, desk.p99 - local.p99);
        return desk.failedClients || local.failedClients ? 1 : 0;
    }
    if (o.echo) {
        const std::string echoPath = LinkDirectory() + "/echo-" + std::to_string(getpid());
        EchoServer echo(echoPath);
        if (!echo.Ok()) {
            std::fprintf(stderr, "quorvel-ea: cannot start the echo baseline\n");
            return 1;
        }
        const BenchResult base = RunLoad(echoPath, o);
        Print("echo", base, o.every);
        if (base.p50 > 0 && base.messages > 0)
            std::printf("ratio desk/echo: p50 %.2f, p99 %.2f, throughput %.2f\n", desk.p50 / base.p50,
                        desk.p99 / base.p99, (desk.messages / desk.seconds) / (base.messages / base.seconds));
    }
    return desk.failedClients ? 1 : 0;
}

// enrol NAME --ids RANGES [--dir DESKDIR] [--out FILE], revoke NAME [--dir DESKDIR]
int Machines(const std::string& cmd, int argc, char** argv) {
    if (argc < 1) return Usage();
    const std::string name = argv[0];
    std::string dir = ".", out = name + ".pem", idsText;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (i + 1 >= argc) return Usage();
        if (a == "--dir")
            dir = argv[++i];
        else if (a == "--out" && cmd == "enrol")
            out = argv[++i];
        else if (a == "--ids" && cmd == "enrol")
            idsText = argv[++i];
        else
            return Usage();
    }
    try {
        if (cmd == "revoke") {
            RevokeMachine(dir, name);
            std::printf("Revoked %s: it no longer connects to the desk in %s\n", name.c_str(), dir.c_str());
            return 0;
        }
        EaIdRanges ids;
        if (!EaIdRanges::Parse(idsText, ids)) {
            std::fprintf(stderr, "quorvel-ea: --ids needs EA IDs such as 1-50 or 1-20,41,45-50\n");
            return 2;
        }
        bool created = false;
        const DeskCredentials desk = LoadOrCreateDeskCredentials(dir, &created);
        if (created) std::printf("Created the desk's link key and certificate in %s\n", dir.c_str());
        EnrolMachine(dir, name, ids, out);
        std::printf("Enrolled %s for EA IDs %s: %s\ndesk certificate SHA-256 %s\n", name.c_str(),
                    ids.Text().c_str(), out.c_str(), desk.fingerprint.c_str());
        return 0;
    } catch (const LinkError& e) {
        std::fprintf(stderr, "quorvel-ea: %s\n", e.what());
        return 1;
    }
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) return Usage();
    std::string path = LinkSocketPath();
    std::string connectTo, certFile;
    std::vector<char*> rest;
    for (int i = 2; i < argc; ++i) {
        if (std::strcmp(argv[i], "--socket") == 0 && i + 1 < argc)
            path = argv[++i];
        else if (std::strcmp(argv[i], "--connect") == 0 && i + 1 < argc)
            connectTo = argv[++i];
        else if (std::strcmp(argv[i], "--cert") == 0 && i + 1 < argc)
            certFile = argv[++i];
        else
            rest.push_back(argv[i]);
    }
    const std::string cmd = argv[1];
    if (connectTo.empty() != certFile.empty()) {
        std::fprintf(stderr, "quorvel-ea: --connect and --cert go together\n");
        return 2;
    }
    if (!connectTo.empty()) EaConnection::UseRemote(connectTo, certFile);
    if (cmd == "enrol" || cmd == "revoke") return Machines(cmd, static_cast<int>(rest.size()), rest.data());
    if (cmd == "send") return Send(static_cast<int>(rest.size()), rest.data(), path);
    if (cmd == "bench") return Bench(static_cast<int>(rest.size()), rest.data(), path);
    if (cmd == "fleet") return fleet::FleetCommand(static_cast<int>(rest.size()), rest.data(), path);
    if (cmd == "prepare") return fleet::PrepareCommand(static_cast<int>(rest.size()), rest.data());
    if (cmd == "check") return fleet::CheckCommand(static_cast<int>(rest.size()), rest.data());
    return Usage();
}
