// The EA fleet: many simulated EAs, one connection and one thread each, that quote, collect
// and execute their legs, close them when told, and now and then fail, through the real link.
#include "tools/fleet.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <clocale>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <random>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <unordered_map>
#include <vector>

#include "desk/core/orderlist.h"
#include "platform/clientdataset.h"
#include "platform/ealink.h"
#include "platform/messages.h"
#include "platform/numbers.h"
#include "platform/tlslink.h"
#include "tools/fleetfiles.h"
#include "tools/roundtrips.h"

namespace quorvel::fleet {

namespace {

using Clock = std::chrono::steady_clock;

bool ParseInt(const char* s, long long lo, long long hi, int& out) {
    char* end = nullptr;
    errno = 0;
    const long long v = std::strtoll(s, &end, 10);
    if (errno || !end || *end || v < lo || v > hi) return false;
    out = static_cast<int>(v);
    return true;
}

bool ParseReal(const char* s, double lo, double hi, double& out) {
    char* end = nullptr;
    errno = 0;
    const double v = std::strtod(s, &end);
    if (errno || !end || *end || !(v >= lo && v <= hi)) return false;
    out = v;
    return true;
}

// ---- round-trip figures --------------------------------------------------------------------

constexpr int32_t kFirstMessage = EAMsg::NewDataBid;
constexpr int32_t kLastMessage = EAMsg::GetEAMaxCounterCheckSeconds;
constexpr int kSlots = kLastMessage - kFirstMessage + 1;

// ---- the fleet -----------------------------------------------------------------------------

struct Options {
    int eas = 20;
    int tables = 0;
    double seconds = 10;
    double drain = 10;
    int loopMs = -1; // -1: the desk's "LoopTime"
    double failRate = 0;
    uint64_t seed = 1;
    std::string dir;
    std::string ids; // --ids: the share of the fleet this process plays; empty: all of it
    int stopDesk = 0;
    bool perMessageEachSecond = true;
};

enum Phase : int { kTrade = 0, kDrain = 1, kStop = 2 };

constexpr std::chrono::duration<double> kStartUpSpread{1.0};

// The order list's transactions as the run started, so that the figures can count whole
// transactions and not only legs.
struct Transactions {
    struct Tx {
        int realLegs = 0;
        std::atomic<int> opened{0};
        std::atomic<int> closed{0};
    };
    std::unordered_map<int32_t, size_t> legToTx;
    std::unique_ptr<Tx[]> txs;
    size_t count = 0;

    bool Load(const std::string& path) {
        ClientDataSet ds("fleet-start");
        try {
            ds.LoadFromFile(path);
        } catch (const std::exception& e) {
            std::fprintf(stderr, "quorvel-ea: cannot read %s: %s\n", path.c_str(), e.what());
            return false;
        }
        std::unordered_map<int32_t, size_t> keyToTx;
        std::vector<int> real;
        for (ds.First(); !ds.Eof(); ds.Next()) {
            const int32_t id = ds.FieldByName("OrderID").AsInteger();
            const Field& first = ds.FieldByName("FirstOrderID");
            const int32_t key = first.IsNull() ? id : first.AsInteger();
            auto [it, added] = keyToTx.emplace(key, real.size());
            if (added) real.push_back(0);
            const int32_t type = ds.FieldByName("OrderType").AsInteger();
            if (type == otBuy || type == otSell) ++real[it->second];
            legToTx[id] = it->second;
        }
        count = real.size();
        txs = std::make_unique<Tx[]>(count);
        for (size_t i = 0; i < count; ++i) txs[i].realLegs = real[i];
        return true;
    }
    // Counts one more opened (or closed) leg; true when that completes the transaction.
    bool Count(int32_t orderID, bool opened) {
        auto it = legToTx.find(orderID);
        if (it == legToTx.end()) return false;
        Tx& t = txs[it->second];
        const int n = (opened ? t.opened : t.closed).fetch_add(1) + 1;
        return n == t.realLegs;
    }
};

struct Shared {
    Options o;
    std::string socketPath;
    std::unique_ptr<Histogram[]> histograms{new Histogram[kSlots]};
    Transactions transactions;
    bool haveTransactions = false;
    std::atomic<int> phase{kTrade};
    std::atomic<int32_t> price{110000};
    std::atomic<uint64_t> legsOpened{0}, legsClosed{0}, legsFailed{0}, retries{0}, notices{0};
    std::atomic<uint64_t> txOpened{0}, txClosed{0};
    std::atomic<uint64_t> activity{0};
    std::atomic<int> openLegs{0}; // opened by an EA and not yet closed
    std::atomic<int> noticesDue{0};
    std::atomic<int> failedEAs{0};
    std::atomic<int> finished{0};
    std::atomic<uint64_t> unexpected{0};
    std::mutex firstUnexpectedLock;
    std::string firstUnexpected;
    void Unexpected(int32_t msg, int32_t wp, int32_t lp, int32_t r) {
        if (unexpected.fetch_add(1) > 0) return;
        std::lock_guard<std::mutex> lock(firstUnexpectedLock);
        firstUnexpected = "WM_APP+" + std::to_string(msg - WM_APP) + " " + std::to_string(wp) + " " +
                          std::to_string(lp) + " answered " + std::to_string(r);
    }
    std::vector<std::atomic<int>> fds;
    explicit Shared(int eas) : fds(static_cast<size_t>(eas)) {
        for (auto& f : fds) f.store(-1);
    }
};

class Ea {
public:
    Ea(Shared& s, int slot, int32_t id)
        : m_s(s), m_slot(slot), m_id(id), m_rng(s.o.seed * 1000003u + static_cast<uint64_t>(id)) {}

    void Run() {
        try {
            // The EAs come up one after another over about a second, as terminals started by
            // hand do; all at once would measure the machine's hand-shakes, not the desk.
            const auto spread = std::chrono::duration_cast<Clock::duration>(kStartUpSpread);
            std::this_thread::sleep_for(spread * m_slot / static_cast<int>(m_s.fds.size()));
            if (!m_client.Connect(m_s.socketPath)) throw LinkError(m_client.Error());
            m_s.fds[static_cast<size_t>(m_slot)].store(m_client.Fd());
            Play();
        } catch (const LinkError& e) {
            if (m_s.phase.load() != kStop) std::fprintf(stderr, "quorvel-ea: EA %d: %s\n", m_id, e.what());
            m_s.failedEAs.fetch_add(1);
        }
        m_s.fds[static_cast<size_t>(m_slot)].store(-1);
        m_s.finished.fetch_add(1);
    }

private:
    struct OpenLeg {
        int32_t orderID, type, openPts, lots100;
    };
    struct Notice {
        Clock::time_point due;
        int32_t orderID;
    };
    static constexpr int kOffsetRange = 20;

    int32_t Call(int32_t msg, int32_t wp, int32_t lp) {
        const auto t0 = Clock::now();
        const int32_t r = m_client.Send(msg, wp, lp);
        const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - t0).count();
        if (msg >= kFirstMessage && msg <= kLastMessage)
            m_s.histograms[static_cast<size_t>(msg - kFirstMessage)].Add(static_cast<uint64_t>(ns));
        if (!AnswerFits(msg, r)) m_s.Unexpected(msg, wp, lp, r);
        return r;
    }
    // The answers the protocol fixes; a handler that failed on the way answers otherwise.
    static bool AnswerFits(int32_t msg, int32_t r) {
        switch (msg) {
        case EAMsg::NewDataBid:
            return r == 2;
        case EAMsg::NewDataAsk:
            return r == 1;
        case EAMsg::NewDataAccount:
            return r == 4;
        case EAMsg::DataComplete:
            return r == 5;
        case EAMsg::GetOrderType:
            return r == 1 || r == 2;
        case EAMsg::OrderOpened:
        case EAMsg::OrderClosed:
        case EAMsg::OrderError:
        case EAMsg::OrderOpenPrice:
        case EAMsg::OrderClosePrice:
        case EAMsg::OrderProfitLoss:
        case EAMsg::CancelOrder:
        case EAMsg::ShowEAMessage:
        case EAMsg::ParamCounterCheckSeconds:
            return r == 0;
        case EAMsg::OrderCloseQuestions:
            return r >= 0 && r <= 2;
        case EAMsg::RetryOrderExecution:
            return r == 0 || r == 1;
        default:
            return true;
        }
    }
    bool Chance(double p) { return p > 0 && std::uniform_real_distribution<double>(0, 1)(m_rng) < p; }

    void Play() {
        // What an EA does once when it comes up: its account, its counter-check seconds and
        // the desk's parameters.
        Call(EAMsg::NewDataAccount, m_id, 1000000 + m_id);
        // Two to four seconds: a counter order handed out with the EA's leg has long been
        // executed by then, unless its own EA failed.
        m_checkSeconds = 2 + m_id % 3;
        Call(EAMsg::ParamCounterCheckSeconds, m_id, m_checkSeconds);
        const int32_t loop = Call(EAMsg::GetEALoopTime, 0, 0);
        Call(EAMsg::GetEARequoteWaitMS, 0, 0);
        m_attempts = std::clamp(Call(EAMsg::GetEAMaxRequotes, 0, 0), 1, 10);
        Call(EAMsg::GetEASlippage, 0, 0);
        Call(EAMsg::GetEAMaxCounterCheckSeconds, 0, 0);
        const auto gap =
            std::chrono::milliseconds(m_s.o.loopMs >= 0 ? m_s.o.loopMs : std::clamp(loop, 0, 10000));
        m_offset = std::uniform_int_distribution<int>(-kOffsetRange, kOffsetRange)(m_rng);
        // EAs run side by side, not in step: each starts its rounds at a phase of its own, so
        // that the fleet's load is spread over the loop time instead of arriving in bursts.
        auto next = Clock::now();
        if (gap.count() > 0) {
            next += std::chrono::microseconds(
                std::uniform_int_distribution<int64_t>(0, gap.count() * 1000 - 1)(m_rng));
            std::this_thread::sleep_until(next);
        }
        while (m_s.phase.load(std::memory_order_relaxed) != kStop) {
            Quote();
            const int32_t orderID = Call(EAMsg::OrderQuestion, m_id, 0);
            if (orderID > 0) Execute(orderID);
            for (size_t i = 0; i < m_open.size();) {
                const int32_t answer = Call(EAMsg::OrderCloseQuestions, m_open[i].orderID, 0);
                if (answer == 1 || answer == 2) {
                    Close(m_open[i]);
                    m_open.erase(m_open.begin() + static_cast<long>(i));
                } else {
                    ++i;
                }
            }
            SendDueNotices();
            if (gap.count() > 0) {
                next += gap;
                const auto now = Clock::now();
                if (next < now) next = now;
                std::this_thread::sleep_until(next);
            }
        }
    }

    // A random walk around the common price: each EA its own offset, so that now and then
    // two brokers of a table lie far enough apart to open and later close a transaction.
    // While the fleet winds down every offset goes to 0: nothing opens, everything closes.
    // One point up or down, drawn back towards the common price the further the EA has strayed,
    // so that the spreads that opened a transaction come back and close it.
    int Step() {
        const int away = m_offset > 0 ? 1 : m_offset < 0 ? -1 : (m_rng() & 1 ? 1 : -1);
        const double back = 0.5 + 0.25 * std::abs(m_offset) / kOffsetRange;
        return std::uniform_real_distribution<double>(0, 1)(m_rng) < back ? -away : away;
    }

    void Quote() {
        if (m_s.phase.load(std::memory_order_relaxed) == kDrain)
            m_offset = 0;
        else
            m_offset = std::clamp(m_offset + Step(), -kOffsetRange, kOffsetRange);
        const int32_t mid = m_s.price.load(std::memory_order_relaxed) + m_offset;
        m_bid = mid - kQuoteSpreadPoints / 2;
        m_ask = m_bid + kQuoteSpreadPoints;
        Call(EAMsg::NewDataBid, m_id, m_bid);
        Call(EAMsg::NewDataAsk, m_id, m_ask);
        Call(EAMsg::DataComplete, m_id, 0);
    }

    void Execute(int32_t orderID) {
        const int32_t type = Call(EAMsg::GetOrderType, orderID, 0);
        if (type != otBuy && type != otSell) return;
        const int32_t lots100 = Call(EAMsg::GetOrderLots, orderID, 0);
        int32_t trigger = Call(EAMsg::GetTriggerPrice, orderID, 0);
        if (trigger <= 0) trigger = type == otBuy ? m_ask : m_bid;
        m_s.activity.fetch_add(1, std::memory_order_relaxed);
        for (int attempt = 1;; ++attempt) {
            if (Chance(m_s.o.failRate)) {
                Call(EAMsg::OrderError, orderID, 136); // off quotes
                const int32_t retry = Call(EAMsg::RetryOrderExecution, orderID, 0);
                if (retry == 1 && attempt < m_attempts) {
                    m_s.retries.fetch_add(1, std::memory_order_relaxed);
                    continue;
                }
                Call(EAMsg::CancelOrder, orderID, 0);
                m_s.legsFailed.fetch_add(1, std::memory_order_relaxed);
                // Tell the desk about the counter order once the counter-check time is up.
                m_notices.push_back({Clock::now() + std::chrono::seconds(m_checkSeconds), orderID});
                m_s.noticesDue.fetch_add(1);
                return;
            }
            Call(EAMsg::OrderOpened, orderID, m_id * 10000000 + (++m_tickets % 10000000));
            const int32_t slip = static_cast<int32_t>(m_rng() % 3);
            const int32_t fill = type == otBuy ? trigger + slip : trigger - slip;
            Call(EAMsg::OrderOpenPrice, orderID, fill);
            m_open.push_back({orderID, type, fill, lots100});
            m_s.openLegs.fetch_add(1);
            m_s.legsOpened.fetch_add(1, std::memory_order_relaxed);
            if (m_s.haveTransactions && m_s.transactions.Count(orderID, true)) m_s.txOpened.fetch_add(1);
            return;
        }
    }

    void Close(const OpenLeg& leg) {
        m_s.activity.fetch_add(1, std::memory_order_relaxed);
        Call(EAMsg::OrderClosed, leg.orderID, 0);
        const int32_t price = leg.type == otBuy ? m_bid : m_ask;
        Call(EAMsg::OrderClosePrice, leg.orderID, price);
        // Account money: one unit per point and lot, sent times 100000.
        const int64_t points = leg.type == otBuy ? price - leg.openPts : leg.openPts - price;
        const int64_t money = std::clamp<int64_t>(points * leg.lots100 * 1000, INT32_MIN, INT32_MAX);
        Call(EAMsg::OrderProfitLoss, leg.orderID, static_cast<int32_t>(money));
        m_s.legsClosed.fetch_add(1, std::memory_order_relaxed);
        m_s.openLegs.fetch_sub(1);
        if (m_s.haveTransactions && m_s.transactions.Count(leg.orderID, false)) m_s.txClosed.fetch_add(1);
    }

    void SendDueNotices() {
        const auto now = Clock::now();
        for (size_t i = 0; i < m_notices.size();) {
            if (m_notices[i].due > now) {
                ++i;
                continue;
            }
            Call(EAMsg::ShowEAMessage, m_notices[i].orderID, 1);
            Call(EAMsg::ShowEAMessage, m_notices[i].orderID, 2);
            m_s.notices.fetch_add(1, std::memory_order_relaxed);
            m_s.activity.fetch_add(1, std::memory_order_relaxed);
            m_s.noticesDue.fetch_sub(1);
            m_notices.erase(m_notices.begin() + static_cast<long>(i));
        }
    }

    Shared& m_s;
    int m_slot;
    int32_t m_id;
    std::mt19937_64 m_rng;
    EaConnection m_client;
    int32_t m_checkSeconds = 1;
    int m_attempts = 1;
    int m_offset = 0;
    int32_t m_bid = 0, m_ask = 0;
    int32_t m_tickets = 0;
    std::vector<OpenLeg> m_open;
    std::vector<Notice> m_notices;
};

// "WM_APP+507 OrderCloseQuestions": the number and the desk's handler of it, if it has one.
std::string SlotName(int slot) {
    const int32_t msg = kFirstMessage + slot;
    const EAMsg::Message* m = FindMessage(msg);
    std::string name = "WM_APP+" + std::to_string(msg - WM_APP);
    if (m && m->owner != MsgOwner::None) name += " " + std::string(m->name);
    return name;
}

class Reporter {
public:
    explicit Reporter(Shared& s) : m_s(s), m_last(static_cast<size_t>(kSlots) * Histogram::kBuckets, 0) {}

    void Second(double t) {
        uint64_t messages = 0;
        std::string detail;
        std::vector<uint32_t> counts(Histogram::kBuckets);
        for (int slot = 0; slot < kSlots; ++slot) {
            Histogram& h = m_s.histograms[static_cast<size_t>(slot)];
            for (int b = 0; b < Histogram::kBuckets; ++b) {
                uint32_t& last =
                    m_last[static_cast<size_t>(slot) * Histogram::kBuckets + static_cast<size_t>(b)];
                const uint32_t now = h.Count(b);
                counts[static_cast<size_t>(b)] = now - last;
                last = now;
            }
            const Figures f = FromCounts(counts, h.TakeSecondMax());
            if (f.count == 0) continue;
            messages += f.count;
            char buf[96];
            std::snprintf(buf, sizeof buf, " %d:%.0f/%.0f/%.0f", kFirstMessage - WM_APP + slot, f.p50, f.p99,
                          f.max);
            detail += buf;
        }
        const double span = t - m_lastT;
        m_lastT = t;
        // This second's transactions, then the run's so far; the legs so far.
        const uint64_t opened = Ull(m_s.txOpened), closed = Ull(m_s.txClosed);
        std::printf(
            "%5.1f s  opened %llu (%llu) closed %llu (%llu)  legs opened %llu closed %llu failed %llu  "
            "%.0f msg/s",
            t, static_cast<unsigned long long>(opened - m_lastOpened),
            static_cast<unsigned long long>(opened), static_cast<unsigned long long>(closed - m_lastClosed),
            static_cast<unsigned long long>(closed), Ull(m_s.legsOpened), Ull(m_s.legsClosed),
            Ull(m_s.legsFailed), span > 0 ? messages / span : 0.0);
        m_lastOpened = opened;
        m_lastClosed = closed;
        if (m_s.o.perMessageEachSecond && !detail.empty()) std::printf("  p50/p99/max us%s", detail.c_str());
        std::printf("\n");
        std::fflush(stdout);
    }

    void Final(double seconds) {
        uint64_t messages = 0;
        std::printf("\nround trips per message (microseconds):\n");
        std::printf("  %-39s %10s %9s %9s %9s\n", "message", "count", "p50", "p99", "max");
        std::vector<uint32_t> counts(Histogram::kBuckets);
        for (int slot = 0; slot < kSlots; ++slot) {
            Histogram& h = m_s.histograms[static_cast<size_t>(slot)];
            for (int b = 0; b < Histogram::kBuckets; ++b) counts[static_cast<size_t>(b)] = h.Count(b);
            const Figures f = FromCounts(counts, h.Max());
            if (f.count == 0) continue;
            messages += f.count;
            std::printf("  %-39s %10llu %9.1f %9.1f %9.1f\n", SlotName(slot).c_str(),
                        static_cast<unsigned long long>(f.count), f.p50, f.p99, f.max);
        }
        std::printf(
            "total: %llu messages in %.1f s (%.0f msg/s); transactions opened %llu, closed %llu; legs "
            "opened %llu, closed %llu, failed %llu; retries %llu; counter-order notices %llu\n",
            static_cast<unsigned long long>(messages), seconds, seconds > 0 ? messages / seconds : 0.0,
            Ull(m_s.txOpened), Ull(m_s.txClosed), Ull(m_s.legsOpened), Ull(m_s.legsClosed),
            Ull(m_s.legsFailed), Ull(m_s.retries), Ull(m_s.notices));
        std::fflush(stdout);
    }

private:
    static unsigned long long Ull(const std::atomic<uint64_t>& a) { return a.load(); }
    Shared& m_s;
    std::vector<uint32_t> m_last;
    double m_lastT = 0;
    uint64_t m_lastOpened = 0, m_lastClosed = 0;
};

// Waits for a desk we were asked to stop: SIGTERM, then until the process is gone (or a
// zombie) or 30 seconds have passed.
bool StopDesk(int pid) {
    if (kill(pid, SIGTERM) != 0) {
        std::fprintf(stderr, "quorvel-ea: cannot stop the desk (pid %d): %s\n", pid, std::strerror(errno));
        return false;
    }
    for (int i = 0; i < 600; ++i) {
        if (kill(pid, 0) != 0) return true;
        std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
        std::string text((std::istreambuf_iterator<char>(stat)), {});
        const size_t paren = text.rfind(')');
        if (paren != std::string::npos && paren + 2 < text.size() && text[paren + 2] == 'Z') return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    std::fprintf(stderr, "quorvel-ea: the desk (pid %d) did not end within 30 s\n", pid);
    return false;
}

// Prints the end of every transaction that is left half open; returns their number.
int Report(const std::string& dir) {
    CheckReport r;
    try {
        r = CheckOrderList(dir + "/Orderlist.xml", dir + "/Notifications.txt");
    } catch (const std::exception& e) {
        std::fprintf(stderr, "quorvel-ea: cannot check %s/Orderlist.xml: %s\n", dir.c_str(), e.what());
        return -1;
    }
    std::printf(
        "order list: %zu transactions: %d ended, %d waiting, %d left to a manual close, %d half open\n",
        r.transactions.size(), r.ended, r.waiting, r.manual, r.halfOpen);
    for (const TransactionSummary& t : r.transactions)
        if (t.end == TransactionEnd::HalfOpen)
            std::printf("  half open: transaction %d: %s\n", t.key, DescribeLegs(t).c_str());
    std::fflush(stdout);
    return r.halfOpen;
}

int FleetUsage() {
    std::fprintf(
        stderr,
        "usage: quorvel-ea fleet --eas N [--tables T] --seconds S [--fail-rate P] [--seed K]\n"
        "                        [--loop-ms L] [--drain S] [--dir DIR [--stop-desk PID]] [--brief]\n"
        "                        [--ids 1-50[,60,...]]  only these EAs of the fleet\n"
        "       quorvel-ea prepare DIR --eas N [--tables T] [--transactions K] [--history H]\n"
        "                          [--seed K] [--config PATH] [--seqmode] [--delmode] [--auto-trades N]\n"
        "       quorvel-ea check DIR\n");
    return 2;
}

} // namespace

int PrepareCommand(int argc, char** argv) {
    if (argc < 1 || argv[0][0] == '-') return FleetUsage();
    const std::string dir = argv[0];
    PrepareOptions o;
    o.transactions = 20;
    std::string config = dir + "/config.ini";
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--seqmode" || a == "--delmode") {
            (a == "--seqmode" ? o.seqMode : o.delMode) = true;
            continue;
        }
        const char* v = i + 1 < argc ? argv[++i] : nullptr;
        int n = 0;
        if (!v) return FleetUsage();
        if (a == "--eas" && ParseInt(v, 2, 200, n))
            o.eas = n;
        else if (a == "--tables" && ParseInt(v, 1, 20, n))
            o.tables = n;
        else if (a == "--transactions" && ParseInt(v, 0, 1000000, n))
            o.transactions = n;
        else if (a == "--history" && ParseInt(v, 0, 10000000, n))
            o.history = n;
        else if (a == "--seed" && ParseInt(v, 0, INT32_MAX, n))
            o.seed = static_cast<uint64_t>(n);
        else if (a == "--auto-trades" && ParseInt(v, 0, 1000000, n))
            o.autoTrades = n;
        else if (a == "--config")
            config = v;
        else
            return FleetUsage();
    }
    // config.ini's reals are read by the desk with the decimal separator of the user's locale.
    {
        const char* old = std::setlocale(LC_NUMERIC, nullptr);
        const std::string saved = old ? old : "C";
        LocaleFormat f = Locale();
        if (std::setlocale(LC_NUMERIC, "")) {
            const char* dp = std::localeconv()->decimal_point;
            if (dp && dp[0] && !dp[1]) f.decimalSeparator = dp[0];
        }
        std::setlocale(LC_NUMERIC, saved.c_str());
        SetLocale(f);
    }
    try {
        std::filesystem::create_directories(dir);
        WriteFleetConfig(config, o);
        WriteFleetOrderList(dir + "/Orderlist.xml", o);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "quorvel-ea: %s\n", e.what());
        return 1;
    }
    std::printf("%s: %d waiting transactions over %d EAs, %d closed legs; %s\n", dir.c_str(), o.transactions,
                o.eas, o.history, config.c_str());
    return 0;
}

int CheckCommand(int argc, char** argv) {
    if (argc != 1) return FleetUsage();
    const int halfOpen = Report(argv[0]);
    return halfOpen < 0 ? 1 : halfOpen > 0 ? 3 : 0;
}

int FleetCommand(int argc, char** argv, const std::string& socketPath) {
    Options o;
    bool haveSeconds = false;
    for (int i = 0; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--brief") {
            o.perMessageEachSecond = false;
            continue;
        }
        const char* v = i + 1 < argc ? argv[++i] : nullptr;
        int n = 0;
        if (!v) return FleetUsage();
        if (a == "--eas" && ParseInt(v, 1, 200, n))
            o.eas = n;
        else if (a == "--tables" && ParseInt(v, 1, 20, n))
            o.tables = n;
        else if (a == "--seconds" && ParseReal(v, 0.1, 86400, o.seconds))
            haveSeconds = true;
        else if (a == "--drain" && ParseReal(v, 0, 3600, o.drain)) {
        } else if (a == "--fail-rate" && ParseReal(v, 0, 1, o.failRate)) {
        } else if (a == "--seed" && ParseInt(v, 0, INT32_MAX, n))
            o.seed = static_cast<uint64_t>(n);
        else if (a == "--loop-ms" && ParseInt(v, 0, 10000, n))
            o.loopMs = n;
        else if (a == "--dir")
            o.dir = v;
        else if (a == "--ids" && v[0])
            o.ids = v;
        else if (a == "--stop-desk" && ParseInt(v, 1, INT32_MAX, n))
            o.stopDesk = n;
        else
            return FleetUsage();
    }
    auto byTable = EAsByTable(o.eas, o.tables);
    // A share of the fleet cannot know when the other shares have ended: the desk is stopped,
    // and the order list checked, once all of them have.
    if (!haveSeconds || byTable.empty() || (o.stopDesk && (o.dir.empty() || !o.ids.empty())))
        return FleetUsage();
    FleetShare share;
    if (!o.ids.empty()) {
        EaIdRanges ranges;
        std::string error;
        if (!EaIdRanges::Parse(o.ids, ranges)) {
            std::fprintf(stderr, "quorvel-ea: --ids needs EA IDs such as 1-50 or 1-20,41,45-50\n");
            return 2;
        }
        if (!ShareOfFleet(o.eas, o.tables, ranges, share, error)) {
            std::fprintf(stderr, "quorvel-ea: --ids %s: %s\n", o.ids.c_str(), error.c_str());
            return 2;
        }
        byTable = share.byTable;
    }
    {
        EaConnection probe;
        if (!probe.Connect(socketPath)) {
            std::fprintf(stderr, "quorvel-ea: no desk is running (%s)\n", probe.Error().c_str());
            return 1;
        }
    }
    std::vector<int32_t> ids;
    for (const auto& table : byTable) ids.insert(ids.end(), table.begin(), table.end());
    std::sort(ids.begin(), ids.end());
    Shared s(static_cast<int>(ids.size()));
    s.o = o;
    s.socketPath = socketPath;
    if (!o.dir.empty()) s.haveTransactions = s.transactions.Load(o.dir + "/Orderlist.xml");
    if (o.ids.empty()) {
        std::printf("fleet: %d EAs over %zu tables", o.eas, byTable.size());
    } else {
        std::printf("fleet: %zu of %d EAs (IDs %s) over %zu of %zu tables", ids.size(), o.eas, o.ids.c_str(),
                    byTable.size(), EAsByTable(o.eas, o.tables).size());
    }
    std::printf(", %.1f s of trading, fail rate %.2f, seed %llu%s\n", o.seconds, o.failRate,
                static_cast<unsigned long long>(o.seed),
                s.haveTransactions ? "" : " (no order list read: legs only)");
    if (!share.splitTables.empty()) {
        // Each fleet process walks its own common price, so the EAs of one table in two
        // processes quote apart, and a transaction over both counts as whole in neither.
        std::string list;
        for (int32_t t : share.splitTables) list += (list.empty() ? "" : ", ") + std::to_string(t);
        std::printf("note: tables %s have EAs outside --ids; give each process whole tables\n", list.c_str());
    }
    if (s.haveTransactions) std::printf("order list at the start: %zu transactions\n", s.transactions.count);
    std::fflush(stdout);

    std::vector<std::unique_ptr<Ea>> eas;
    std::vector<std::thread> threads;
    for (size_t k = 0; k < ids.size(); ++k)
        eas.push_back(std::make_unique<Ea>(s, static_cast<int>(k), ids[k]));
    const auto start = Clock::now();
    for (auto& ea : eas) threads.emplace_back([&ea] { ea->Run(); });

    // The common price walks, the figures come once a second, the trading ends after the
    // given seconds and the winding down when nothing has happened for a second and no EA
    // holds an open leg (or after --drain seconds).
    std::mt19937_64 rng(o.seed);
    // While winding down the price keeps a small trend that turns now and then, as a market
    // does: "SeqMode" and "DelMode" close only on a trend, and every EA quotes the common price
    // then, so without it their transactions would never close. The price moves in steps of a
    // few points, larger than the desk's tolerance for a trend, so that for a moment after each
    // step the EAs that quoted since see a trend against those that have not yet.
    constexpr int kDrainStep = 4;
    int trend = 1;
    auto nextStep = Clock::time_point::max(), nextTurn = Clock::time_point::max();
    Reporter reporter(s);
    const auto tradeEnd =
        start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(o.seconds));
    const auto drainEnd =
        tradeEnd + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(o.drain));
    auto nextSecond = start + std::chrono::seconds(1);
    auto quietSince = tradeEnd;
    uint64_t lastActivity = 0;
    const int total = static_cast<int>(ids.size());
    while (s.finished.load() < total) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        const auto now = Clock::now();
        int32_t p = s.price.load();
        if (s.phase.load() == kTrade) {
            p += rng() & 1 ? 1 : -1;
        } else {
            if (now >= nextTurn) {
                trend = -trend;
                nextTurn = now + std::chrono::milliseconds(1000 + static_cast<int>(rng() % 2000));
            }
            if (now >= nextStep) {
                p += trend * kDrainStep;
                nextStep = now + std::chrono::milliseconds(300 + static_cast<int>(rng() % 500));
            }
        }
        s.price.store(std::clamp(p, 100000, 120000));
        if (now >= nextSecond) {
            reporter.Second(std::chrono::duration<double>(now - start).count());
            nextSecond += std::chrono::seconds(1);
        }
        const int phase = s.phase.load();
        if (phase == kTrade && now >= tradeEnd) {
            s.phase.store(kDrain);
            nextTurn = now + std::chrono::milliseconds(1000 + static_cast<int>(rng() % 2000));
            nextStep = now;
            lastActivity = s.activity.load();
            quietSince = now;
        } else if (phase == kDrain) {
            const uint64_t a = s.activity.load();
            if (a != lastActivity || s.noticesDue.load() > 0 || s.openLegs.load() > 0) {
                lastActivity = a;
                quietSince = now;
            }
            if (now - quietSince >= std::chrono::seconds(1) || now >= drainEnd) s.phase.store(kStop);
        } else if (phase == kStop && now >= drainEnd + std::chrono::seconds(5)) {
            // A desk that stopped answering: break the links so that every EA ends.
            for (auto& fd : s.fds) {
                const int f = fd.load();
                if (f >= 0) shutdown(f, SHUT_RDWR);
            }
        }
    }
    for (auto& t : threads) t.join();
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    reporter.Final(seconds);
    if (s.failedEAs.load()) std::printf("%d EAs lost their link\n", s.failedEAs.load());
    if (s.unexpected.load()) {
        std::lock_guard<std::mutex> lock(s.firstUnexpectedLock);
        std::printf("%llu answers the protocol does not give, the first: %s\n",
                    static_cast<unsigned long long>(s.unexpected.load()), s.firstUnexpected.c_str());
    }

    int halfOpen = 0;
    if (!o.dir.empty() && !o.ids.empty()) {
        std::printf("(one share of the fleet: once every share has ended and the desk has saved, "
                    "quorvel-ea check %s checks the order list)\n",
                    o.dir.c_str());
    } else if (!o.dir.empty()) {
        if (o.stopDesk && !StopDesk(o.stopDesk)) return 1;
        if (!o.stopDesk) std::printf("(the order list as the desk last saved it)\n");
        halfOpen = Report(o.dir);
        if (halfOpen < 0) return 1;
    }
    return s.failedEAs.load() || s.unexpected.load() ? 1 : halfOpen > 0 ? 3 : 0;
}

} // namespace quorvel::fleet
