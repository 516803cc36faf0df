#include "platform/ealink.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <mutex>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/timerfd.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace quorvel {

namespace {

constexpr uint64_t kListenId = 0, kWakeId = 1, kTimerId = 2, kWorkId = 3,
                   kDurableId = 4; // connections count from 16

std::string Errno(const std::string& what) {
    return what + ": " + std::strerror(errno);
}

sockaddr_un MakeAddress(const std::string& path) {
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    if (path.size() >= sizeof(addr.sun_path)) throw LinkError("Socket path too long: " + path);
    std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
    return addr;
}

void PutLE(unsigned char* p, int32_t v) {
    const uint32_t u = static_cast<uint32_t>(v);
    p[0] = static_cast<unsigned char>(u);
    p[1] = static_cast<unsigned char>(u >> 8);
    p[2] = static_cast<unsigned char>(u >> 16);
    p[3] = static_cast<unsigned char>(u >> 24);
}

int32_t GetLE(const unsigned char* p) {
    return static_cast<int32_t>(static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
                                static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24);
}

// The directory of the socket: created 0700, or, when it exists, a directory of ours that
// no one else can enter. Anything else is refused with the reason.
void PrepareLinkDirectory(const std::string& dir) {
    if (mkdir(dir.c_str(), 0700) == 0) {
        chmod(dir.c_str(), 0700);
        return;
    }
    if (errno != EEXIST) throw LinkError(Errno("Cannot create the link directory " + dir));
    struct stat st {};
    if (lstat(dir.c_str(), &st) != 0) throw LinkError(Errno("Cannot examine the link directory " + dir));
    const std::string lead = "The link directory " + dir + " exists but is not ours: ";
    if (S_ISLNK(st.st_mode)) throw LinkError(lead + "it is a symbolic link.");
    if (!S_ISDIR(st.st_mode)) throw LinkError(lead + "it is not a directory.");
    if (st.st_uid != geteuid())
        throw LinkError(lead + "it belongs to user " + std::to_string(st.st_uid) + ", not to user " +
                        std::to_string(geteuid()) + ".");
    if ((st.st_mode & 07777) != 0700) {
        char mode[8];
        std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(st.st_mode & 07777));
        throw LinkError(lead + "its permissions are " + mode + ", not 0700.");
    }
}

} // namespace

void EncodeMessage(const TMessage& m, unsigned char out[16]) {
    PutLE(out, m.Msg);
    PutLE(out + 4, m.WParam);
    PutLE(out + 8, m.LParam);
    PutLE(out + 12, m.Result);
}

TMessage DecodeMessage(const unsigned char in[16]) {
    return TMessage{GetLE(in), GetLE(in + 4), GetLE(in + 8), GetLE(in + 12)};
}

std::string LinkDirectory() {
    const char* xdg = std::getenv("XDG_RUNTIME_DIR");
    if (xdg && *xdg) return std::string(xdg) + "/Quorvel";
    return "/tmp/Quorvel-" + std::to_string(getuid());
}

std::string LinkSocketPath() {
    return LinkDirectory() + "/TForm3";
}

bool ParseMessageNumber(const std::string& text, int32_t& out) {
    std::string s;
    for (char c : text)
        if (!std::isspace(static_cast<unsigned char>(c)))
            s += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    auto parseNumber = [](const std::string& t, int64_t& v) {
        if (t.empty()) return false;
        char* end = nullptr;
        errno = 0;
        const bool hex = t.size() > 2 && t[0] == '0' && t[1] == 'X';
        v = std::strtoll(hex ? t.c_str() + 2 : t.c_str(), &end, hex ? 16 : 10);
        return errno == 0 && end && *end == '\0' &&
               (hex || std::isdigit(static_cast<unsigned char>(t[0])) || t[0] == '-');
    };
    int64_t base = 0;
    std::string rest;
    if (s == "WM_COPYDATA") {
        out = WM_COPYDATA;
        return true;
    }
    if (s.rfind("WM_APP", 0) == 0) {
        base = WM_APP;
        rest = s.substr(6);
        if (rest.empty()) {
            out = WM_APP;
            return true;
        }
        if (rest[0] != '+') return false;
        rest = rest.substr(1);
    } else {
        rest = s;
    }
    int64_t v = 0;
    if (!parseNumber(rest, v)) return false;
    v += base;
    if (v < INT32_MIN || v > INT32_MAX) return false;
    out = static_cast<int32_t>(v);
    return true;
}

// ---- server ---------------------------------------------------------------------------------

uint64_t RaiseOpenFilesLimit() {
    rlimit rl{};
    if (getrlimit(RLIMIT_NOFILE, &rl) != 0) return 0;
    if (rl.rlim_cur != rl.rlim_max) {
        rlimit raised = rl;
        raised.rlim_cur = rl.rlim_max;
        if (setrlimit(RLIMIT_NOFILE, &raised) == 0) rl = raised;
    }
    return rl.rlim_cur == RLIM_INFINITY ? UINT64_MAX : static_cast<uint64_t>(rl.rlim_cur);
}

namespace {

class SocketTransport final : public LinkTransport {
public:
    explicit SocketTransport(int fd) : m_fd(fd) {}
    ~SocketTransport() override {
        if (m_fd >= 0) close(m_fd);
    }
    int Fd() const override { return m_fd; }
    long Read(void* data, unsigned long size) override { return read(m_fd, data, size); }
    long Write(const void* data, unsigned long size) override {
        return send(m_fd, data, size, MSG_NOSIGNAL | MSG_DONTWAIT);
    }
    void Shutdown() override { shutdown(m_fd, SHUT_RDWR); }

private:
    int m_fd;
};

void Signal(int fd) {
    const uint64_t one = 1;
    [[maybe_unused]] ssize_t n = write(fd, &one, sizeof one);
}

void Clear(int fd) {
    uint64_t v;
    [[maybe_unused]] ssize_t n = read(fd, &v, sizeof v);
}

bool WouldBlock() {
    return errno == EAGAIN || errno == EWOULDBLOCK;
}

} // namespace

std::unique_ptr<LinkTransport> MakeSocketTransport(int fd) {
    return std::make_unique<SocketTransport>(fd);
}

// A connection as the serving thread and its lane share it. The transport (and with it the
// descriptor) goes when the last of them lets go.
struct LinkServer::Socket {
    std::unique_ptr<LinkTransport> t;
    uint64_t id;
    int fd;
    Socket(std::unique_ptr<LinkTransport> transport, uint64_t i)
        : t(std::move(transport)), id(i), fd(t->Fd()) {}
};

// The I/O lanes. A connection always belongs to the same lane, which reads its records one at a
// time and writes its answers in order: after a whole record the connection is not read again
// until its answer has been written. Each lane waits in an epoll set of its own; the serving
// thread hands it answers in batches and takes its records and news in batches.
class LinkServer::Lanes {
public:
    enum class Kind { Answer, Start, Forget, Kill };
    struct Command {
        std::shared_ptr<Socket> sock;
        Kind kind = Kind::Answer;
        unsigned sent = 0; // bytes of rec already written
        unsigned char rec[16];
    };
    // A whole record of the connection, or its end (broken: it failed).
    struct News {
        uint64_t id;
        bool closed;
        bool broken;
        unsigned char rec[16];
    };

    Lanes(int lanes, int notifyFd)
        : m_notifyFd(notifyFd), m_lanes(static_cast<size_t>(lanes)), m_outbox(static_cast<size_t>(lanes)) {
        for (auto& lane : m_lanes) {
            lane.wake = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
            lane.epoll = epoll_create1(EPOLL_CLOEXEC);
            epoll_event ev{};
            ev.events = EPOLLIN;
            ev.data.u64 = 0;
            if (lane.wake < 0 || lane.epoll < 0 ||
                epoll_ctl(lane.epoll, EPOLL_CTL_ADD, lane.wake, &ev) != 0) {
                const std::string msg = Errno("Cannot start the link's I/O lanes");
                Stop();
                throw LinkError(msg);
            }
        }
        for (auto& lane : m_lanes) lane.thread = std::thread([this, &lane] { Run(lane); });
    }
    ~Lanes() { Stop(); }

    // Queued on the serving thread; Commit hands what is queued to the lanes.
    void Queue(const std::shared_ptr<Socket>& sock, Kind kind, const unsigned char* rec = nullptr,
               unsigned sent = 0) {
        auto& box = m_outbox[sock->id % m_lanes.size()];
        box.emplace_back();
        Command& c = box.back();
        c.sock = sock;
        c.kind = kind;
        c.sent = sent;
        if (rec) std::memcpy(c.rec, rec, 16);
    }
    void Commit() {
        for (size_t i = 0; i < m_lanes.size(); ++i) {
            auto& box = m_outbox[i];
            if (box.empty()) continue;
            Lane& lane = m_lanes[i];
            bool wake;
            {
                std::lock_guard<std::mutex> g(lane.mutex);
                if (lane.queue.empty())
                    lane.queue.swap(box);
                else
                    for (Command& c : box) lane.queue.push_back(std::move(c));
                wake = lane.sleeping;
                lane.sleeping = false;
            }
            box.clear();
            if (wake) Signal(lane.wake);
        }
    }
    // What the lanes have read since the last call.
    // True when the lanes have news that Take would return.
    bool HasNews() const { return m_newsSignalled.load(std::memory_order_acquire); }
    std::vector<News>& Take() {
        Clear(m_notifyFd);
        m_taken.clear();
        std::lock_guard<std::mutex> g(m_newsMutex);
        m_taken.swap(m_news);
        m_newsSignalled = false;
        return m_taken;
    }

private:
    // How long a lane that has nothing to do keeps looking before it sleeps.
    static constexpr std::chrono::microseconds kSpin{50};
    struct Out {
        unsigned sent;
        unsigned char rec[16];
    };
    struct LaneConn {
        std::shared_ptr<Socket> sock;
        std::deque<Out> out;
        uint32_t watch = 0; // what the lane's epoll set watches of it (0: not in the set)
        bool reading = false;
        bool forgetting = false; // let go once the answers are written
        unsigned have = 0;
        unsigned char buf[16];
    };
    struct Lane {
        std::mutex mutex;
        std::vector<Command> queue;
        bool sleeping = false;
        bool stop = false;
        int wake = -1;
        int epoll = -1;
        std::thread thread;
        // Owned by the lane's thread.
        std::unordered_map<uint64_t, LaneConn> conns;
        std::vector<News> news;
    };

    void Stop() {
        for (auto& lane : m_lanes) {
            {
                std::lock_guard<std::mutex> g(lane.mutex);
                lane.stop = true;
            }
            if (lane.wake >= 0) Signal(lane.wake);
        }
        for (auto& lane : m_lanes) {
            if (lane.thread.joinable()) lane.thread.join();
            lane.conns.clear();
            for (int* fd : {&lane.wake, &lane.epoll}) {
                if (*fd >= 0) close(*fd);
                *fd = -1;
            }
        }
    }

    void Publish(Lane& lane) {
        if (lane.news.empty()) return;
        bool wake;
        {
            std::lock_guard<std::mutex> g(m_newsMutex);
            if (m_news.empty())
                m_news.swap(lane.news);
            else
                m_news.insert(m_news.end(), lane.news.begin(), lane.news.end());
            wake = !m_newsSignalled;
            m_newsSignalled = true;
        }
        lane.news.clear();
        if (wake) Signal(m_notifyFd);
    }

    void Closed(Lane& lane, LaneConn& lc, bool broken) {
        if (broken) lc.sock->t->Shutdown();
        lane.news.push_back(News{lc.sock->id, true, broken, {}});
        Remove(lane, lc);
    }

    void Remove(Lane& lane, LaneConn& lc) {
        const uint64_t id = lc.sock->id;
        if (lc.watch) epoll_ctl(lane.epoll, EPOLL_CTL_DEL, lc.sock->fd, nullptr);
        lane.conns.erase(id);
    }

    // What the lane waits for: the connection readable, or writable while an answer waits for
    // room, or nothing. The set is level-triggered and changed only when the wish changes: an
    // EA that waits for each answer costs no change at all, as its connection says nothing
    // while its record is in flight. One that says something then (the next record, or its
    // end) is taken out of the set until the answer is written.
    bool Watch(Lane& lane, LaneConn& lc, uint32_t events) {
        if (lc.watch == events) return true;
        int rc;
        if (events == 0) {
            rc = epoll_ctl(lane.epoll, EPOLL_CTL_DEL, lc.sock->fd, nullptr);
        } else {
            epoll_event ev{};
            ev.events = events;
            ev.data.u64 = lc.sock->id;
            rc = epoll_ctl(lane.epoll, lc.watch ? EPOLL_CTL_MOD : EPOLL_CTL_ADD, lc.sock->fd, &ev);
        }
        if (rc != 0) {
            Closed(lane, lc, true);
            return false;
        }
        lc.watch = events;
        return true;
    }
    uint32_t ReadEvents(const LaneConn& lc) const {
        return EPOLLIN | EPOLLRDHUP | (lc.sock->t->WantsWrite() ? EPOLLOUT : 0u);
    }
    // While an answer waits for room only writability counts: an EA that has shut down its
    // sending side would otherwise report a hang-up over and over.
    static constexpr uint32_t kWriteEvents = EPOLLOUT;

    void StartReading(Lane& lane, LaneConn& lc) {
        lc.reading = true;
        if (lc.sock->t->Buffered())
            Read(lane, lc);
        else
            Watch(lane, lc, ReadEvents(lc));
    }

    // Reads up to the end of one record; the next one is read after its answer.
    void Read(Lane& lane, LaneConn& lc) {
        LinkTransport& t = *lc.sock->t;
        for (;;) {
            const long n = t.Read(lc.buf + lc.have, sizeof lc.buf - lc.have);
            if (n > 0) {
                lc.have += static_cast<unsigned>(n);
                if (lc.have < sizeof lc.buf) continue;
                News r{lc.sock->id, false, false, {}};
                std::memcpy(r.rec, lc.buf, 16);
                lane.news.push_back(r);
                lc.have = 0;
                lc.reading = false;
                return;
            }
            if (n < 0 && errno == EINTR) continue;
            if (n < 0 && WouldBlock()) {
                Watch(lane, lc, ReadEvents(lc));
                return;
            }
            // End of stream (a partial record is discarded) or a broken connection.
            Closed(lane, lc, n < 0);
            return;
        }
    }

    // Writes the answers in order while the connection takes them; then reads on.
    void Flush(Lane& lane, LaneConn& lc) {
        LinkTransport& t = *lc.sock->t;
        while (!lc.out.empty()) {
            Out& o = lc.out.front();
            const long w = t.Write(o.rec + o.sent, 16 - o.sent);
            if (w > 0) {
                o.sent += static_cast<unsigned>(w);
                if (o.sent == 16) lc.out.pop_front();
                continue;
            }
            if (w < 0 && errno == EINTR) continue;
            if (w < 0 && WouldBlock()) {
                Watch(lane, lc, kWriteEvents);
                return;
            }
            Closed(lane, lc, true); // the EA went away: what is queued is given up
            return;
        }
        if (lc.forgetting)
            Remove(lane, lc);
        else
            StartReading(lane, lc);
    }

    void Apply(Lane& lane, Command& c) {
        const uint64_t id = c.sock->id;
        auto it = lane.conns.find(id);
        if (c.kind == Kind::Answer || c.kind == Kind::Start) {
            if (it == lane.conns.end()) {
                it = lane.conns.emplace(id, LaneConn{}).first;
                it->second.sock = c.sock;
            }
            LaneConn& lc = it->second;
            if (c.kind == Kind::Start) {
                StartReading(lane, lc);
                return;
            }
            lc.out.push_back(Out{c.sent, {}});
            std::memcpy(lc.out.back().rec, c.rec, 16);
            if (lc.out.size() == 1) Flush(lane, lc);
            return;
        }
        if (it == lane.conns.end()) return; // the lane let go already
        LaneConn& lc = it->second;
        if (c.kind == Kind::Kill) {
            lc.sock->t->Shutdown();
            Remove(lane, lc);
        } else if (lc.out.empty()) {
            Remove(lane, lc);
        } else {
            lc.forgetting = true; // a plain end: the answers still go out
            lc.reading = false;
        }
    }

    void Run(Lane& lane) {
        std::vector<Command> work;
        epoll_event events[64];
        auto lastBusy = std::chrono::steady_clock::now();
        for (;;) {
            bool stop;
            {
                std::lock_guard<std::mutex> g(lane.mutex);
                work.swap(lane.queue);
                stop = lane.stop;
            }
            const size_t commands = work.size();
            for (Command& c : work) Apply(lane, c);
            work.clear();
            Publish(lane);
            if (stop) {
                // One last try; what a socket does not take now is given up.
                for (auto& [id, lc] : lane.conns) {
                    LinkTransport& t = *lc.sock->t;
                    for (Out& o : lc.out)
                        while (o.sent < 16) {
                            const long w = t.Write(o.rec + o.sent, 16 - o.sent);
                            if (w <= 0) break;
                            o.sent += static_cast<unsigned>(w);
                        }
                }
                return;
            }
            int n = epoll_wait(lane.epoll, events, 64, 0);
            const auto now = std::chrono::steady_clock::now();
            const size_t items = (n > 0 ? static_cast<size_t>(n) : 0) + commands;
            if (items >= 2) {
                lastBusy = now; // several EAs at once: worth looking again before sleeping
            } else if (items == 1) {
                lastBusy = now - kSpin;
            } else if (n == 0 && now - lastBusy >= kSpin) {
                // Nothing for a while: sleep until the serving thread or a socket wakes the lane.
                // While many EAs keep it busy, it looks again instead, and the serving thread
                // hands over its answers without having to wake it; a lane with one EA at a
                // time sleeps at once.
                {
                    std::lock_guard<std::mutex> g(lane.mutex);
                    if (!lane.queue.empty() || lane.stop) continue;
                    lane.sleeping = true;
                }
                n = epoll_wait(lane.epoll, events, 64, -1);
                std::lock_guard<std::mutex> g(lane.mutex);
                lane.sleeping = false;
                lastBusy = std::chrono::steady_clock::now();
            }
            for (int i = 0; i < n; ++i) {
                const uint64_t id = events[i].data.u64;
                if (id == 0) {
                    Clear(lane.wake);
                    continue;
                }
                auto it = lane.conns.find(id);
                if (it == lane.conns.end()) continue;
                LaneConn& lc = it->second;
                if (!lc.out.empty())
                    Flush(lane, lc);
                else if (lc.reading)
                    Read(lane, lc);
                else
                    Watch(lane, lc, 0); // its record is in flight: not before the answer
            }
            Publish(lane);
        }
    }

    int m_notifyFd;
    std::vector<Lane> m_lanes;
    std::vector<std::vector<Command>> m_outbox;
    std::mutex m_newsMutex;
    std::vector<News> m_news;
    std::atomic<bool> m_newsSignalled{false};
    std::vector<News> m_taken;
};

LinkServer::LinkServer(Handler handler) : m_handler(std::move(handler)) {}

LinkServer::~LinkServer() {
    Close();
}

void LinkServer::SetNestingLimit(int limit, Predicate nests) {
    m_nestLimit = limit < 1 ? 1 : limit;
    m_nests = std::move(nests);
}

void LinkServer::Listen(const std::string& path) {
    Close();
    const auto slash = path.rfind('/');
    if (slash != std::string::npos && slash > 0) PrepareLinkDirectory(path.substr(0, slash));
    sockaddr_un addr = MakeAddress(path);

    struct stat st {};
    if (lstat(path.c_str(), &st) == 0) {
        if (!S_ISSOCK(st.st_mode)) throw LinkError("The link path is taken by something else: " + path);
        int probe = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (probe >= 0) {
            const bool answered = connect(probe, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
            close(probe);
            if (answered) throw LinkError("Another desk is already running and answers on " + path + ".");
        }
        unlink(path.c_str()); // stale socket of a desk that did not shut down
    }

    m_listen = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (m_listen < 0) throw LinkError(Errno("Cannot create the link socket"));
    const mode_t old = umask(0177);
    const int rc = bind(m_listen, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    umask(old);
    if (rc != 0) {
        const std::string msg = Errno("Cannot bind the link socket " + path);
        close(m_listen);
        m_listen = -1;
        throw LinkError(msg);
    }
    m_path = path;
    chmod(path.c_str(), 0600);
    auto fail = [this](const std::string& what) {
        const std::string msg = Errno(what);
        Close();
        throw LinkError(msg);
    };
    if (listen(m_listen, 4096) != 0) fail("Cannot listen on " + path);
    m_epoll = epoll_create1(EPOLL_CLOEXEC);
    if (m_epoll < 0) fail("Cannot create the link's epoll set");
    m_wake = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (m_wake < 0) fail("Cannot create the link's wake-up event");
    m_work = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (m_work < 0) fail("Cannot create the link's wake-up event");
    m_timer = timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
    if (m_timer < 0) fail("Cannot create the link's timer");
    m_reserve = open("/dev/null", O_RDONLY | O_CLOEXEC);
    for (const auto& [fd, id] :
         {std::pair{m_listen, kListenId}, {m_wake, kWakeId}, {m_timer, kTimerId}, {m_work, kWorkId}}) {
        epoll_event ev{};
        ev.events = EPOLLIN;
        ev.data.u64 = id;
        if (epoll_ctl(m_epoll, EPOLL_CTL_ADD, fd, &ev) != 0) fail("Cannot watch the link socket");
    }
    if (m_durableWake >= 0) {
        epoll_event ev{};
        ev.events = EPOLLIN;
        ev.data.u64 = kDurableId;
        if (epoll_ctl(m_epoll, EPOLL_CTL_ADD, m_durableWake, &ev) != 0)
            fail("Cannot watch the link's durability");
    }
    try {
        m_lanes = std::make_unique<Lanes>(kIoLanes, m_wake);
    } catch (...) {
        Close();
        throw;
    }
    m_accepting = true;
    // Keep half of the descriptors for the desk's own files and for refusing the surplus.
    rlimit rl{};
    uint64_t limit = 1024;
    if (getrlimit(RLIMIT_NOFILE, &rl) == 0)
        limit = rl.rlim_cur == RLIM_INFINITY ? (uint64_t{1} << 21) : static_cast<uint64_t>(rl.rlim_cur);
    m_maxConns = static_cast<size_t>(std::max<uint64_t>(limit / 2, 1));
}

void LinkServer::Close() {
    m_lanes.reset(); // writes what is queued, then stops
    m_conns.clear();
    m_connCount = 0;
    m_ready.clear();
    m_pending.clear();
    m_awaiting.clear();
    m_heldNesting.clear();
    m_heldOther.clear();
    if (m_listen >= 0) {
        close(m_listen);
        m_listen = -1;
        if (!m_path.empty()) unlink(m_path.c_str());
    }
    for (int* fd : {&m_epoll, &m_wake, &m_work, &m_timer, &m_reserve}) {
        if (*fd >= 0) close(*fd);
        *fd = -1;
    }
    m_accepting = false;
    m_workSignalled = false;
    m_busyRound = false;
    m_path.clear();
}

void LinkServer::PauseAccepting() {
    // Nothing can be accepted now (no descriptor, no memory): stop looking at the listening
    // socket for a moment instead of finding it readable again at once.
    if (!m_accepting) return;
    if (epoll_ctl(m_epoll, EPOLL_CTL_DEL, m_listen, nullptr) != 0 && errno != ENOENT) return;
    m_accepting = false;
    itimerspec t{};
    t.it_value.tv_nsec = 100 * 1000 * 1000;
    timerfd_settime(m_timer, 0, &t, nullptr);
}

void LinkServer::ResumeAccepting() {
    Clear(m_timer);
    if (m_accepting) return;
    epoll_event ev{};
    ev.events = EPOLLIN;
    ev.data.u64 = kListenId;
    if (epoll_ctl(m_epoll, EPOLL_CTL_ADD, m_listen, &ev) == 0 || errno == EEXIST) {
        m_accepting = true;
        return;
    }
    itimerspec t{};
    t.it_value.tv_nsec = 100 * 1000 * 1000;
    timerfd_settime(m_timer, 0, &t, nullptr);
}

uint64_t LinkServer::AddConnection(std::unique_ptr<LinkTransport> t, bool pinned) {
    // Over the cap the transport goes at once: the EA sees the link closed.
    if (!t || m_conns.size() >= m_maxConns || !m_lanes) return 0;
    auto c = std::make_unique<Conn>();
    c->id = m_nextId++;
    c->sock = std::make_shared<Socket>(std::move(t), c->id);
    c->fd = c->sock->fd;
    c->pinned = pinned;
    if (pinned) {
        c->laned = true;
        c->watch = Watch::None;
        m_lanes->Queue(c->sock, Lanes::Kind::Start);
        m_lanes->Commit();
    } else {
        epoll_event ev{};
        ev.events = EPOLLIN | EPOLLRDHUP;
        ev.data.u64 = c->id;
        if (epoll_ctl(m_epoll, EPOLL_CTL_ADD, c->fd, &ev) != 0) return 0;
        c->watch = Watch::Read;
    }
    const uint64_t id = c->id;
    m_conns.emplace(id, std::move(c));
    m_connCount = m_conns.size();
    return id;
}

uint64_t LinkServer::Adopt(std::unique_ptr<LinkTransport> transport) {
    return AddConnection(std::move(transport), true);
}

void LinkServer::Disconnect(uint64_t id) {
    Drop(id, true);
}

void LinkServer::AcceptAll() {
    for (int i = 0; i < 256; ++i) {
        int fd = accept4(m_listen, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) {
            const int err = errno;
            if (err == EAGAIN || err == EWOULDBLOCK) return;
            if (err == EINTR || err == ECONNABORTED || err == EPROTO) continue;
            if ((err == EMFILE || err == ENFILE) && m_reserve >= 0) {
                // No descriptor left: give up the spare one to take the waiting EA and close it
                // at once, so that it learns and the listening socket does not stay readable.
                close(m_reserve);
                const int refused = accept4(m_listen, nullptr, nullptr, SOCK_CLOEXEC);
                const int refusedErr = errno;
                if (refused >= 0) close(refused);
                m_reserve = open("/dev/null", O_RDONLY | O_CLOEXEC);
                if (refused < 0 && (refusedErr == EAGAIN || refusedErr == EWOULDBLOCK)) return;
                if (refused >= 0 && m_reserve >= 0) continue;
            }
            PauseAccepting();
            return;
        }
        AddConnection(MakeSocketTransport(fd), false);
    }
}

void LinkServer::Drop(uint64_t id, bool broken) {
    auto it = m_conns.find(id);
    if (it == m_conns.end()) return;
    Conn& c = *it->second;
    // Only a descriptor that is not in the set can fail to leave it: nothing to mend.
    if (c.watch != Watch::None) epoll_ctl(m_epoll, EPOLL_CTL_DEL, c.fd, nullptr);
    if (c.laned && m_lanes) {
        // The lane lets go: a broken connection at once, giving up what is queued for it;
        // after a plain end of stream once it has written what it holds.
        m_lanes->Queue(c.sock, broken ? Lanes::Kind::Kill : Lanes::Kind::Forget);
        m_lanes->Commit();
    } else if (broken) {
        c.sock->t->Shutdown();
    }
    m_conns.erase(it);
    m_connCount = m_conns.size();
}

bool LinkServer::SetWatch(Conn& c, Watch w) {
    if (c.watch == w) return true;
    int rc;
    if (w == Watch::None) {
        rc = epoll_ctl(m_epoll, EPOLL_CTL_DEL, c.fd, nullptr);
        if (rc != 0 && errno == ENOENT) rc = 0;
    } else {
        epoll_event ev{};
        ev.events = w == Watch::Read ? EPOLLIN | EPOLLRDHUP : EPOLLRDHUP;
        ev.data.u64 = c.id;
        rc = epoll_ctl(m_epoll, c.watch == Watch::None ? EPOLL_CTL_ADD : EPOLL_CTL_MOD, c.fd, &ev);
    }
    if (rc != 0) return false;
    c.watch = w;
    return true;
}

LinkServer::Watch LinkServer::WantedWatch(const Conn& c) const {
    if (c.busy || c.queued) return Watch::None;
    if (c.held) return Watch::HangUp; // its lane does not look at it meanwhile
    return c.laned ? Watch::None : Watch::Read;
}

bool LinkServer::MayRun(bool nests) const {
    return m_depth < kMaxDepth && (!nests || m_nestOpen < m_nestLimit);
}

void LinkServer::SignalWork() {
    // A handler may run a nested loop; it must find the link ready, so that it takes over the
    // records and answers of this round.
    if (m_workSignalled) return;
    Signal(m_work);
    m_workSignalled = true;
}

void LinkServer::Serve(uint64_t id) {
    Conn* c = m_conns.at(id).get();
    if (c->laned || c->busy || c->held || c->queued) {
        // Its record is being answered further up the stack, or waits: look at it afterwards.
        if (!SetWatch(*c, WantedWatch(*c))) Drop(id, true);
        return;
    }
    // Read only up to the end of one record: the next one is taken after this answer.
    for (;;) {
        const long n = c->sock->t->Read(c->buf + c->have, sizeof c->buf - c->have);
        if (n > 0) {
            c->have += static_cast<unsigned>(n);
            if (c->have == sizeof c->buf) break;
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && WouldBlock()) return; // partial: wait
        Drop(id, n < 0); // end of stream (a partial record is discarded) or a broken connection
        return;
    }
    c->have = 0;
    c->queued = true;
    m_ready.push_back(id);
}

void LinkServer::TakeFromLanes() {
    for (const Lanes::News& n : m_lanes->Take()) {
        auto it = m_conns.find(n.id);
        if (it == m_conns.end()) continue;
        Conn& c = *it->second;
        if (n.closed) {
            // The lane has let go already.
            if (c.watch != Watch::None) epoll_ctl(m_epoll, EPOLL_CTL_DEL, c.fd, nullptr);
            m_conns.erase(it);
            m_connCount = m_conns.size();
            continue;
        }
        std::memcpy(c.buf, n.rec, 16);
        c.queued = true;
        m_ready.push_back(n.id);
    }
}

int LinkServer::RunBatch() {
    int served = 0;
    if (m_ready.size() >= static_cast<size_t>(kOffloadBatch)) m_busyRound = true;
    while (!m_ready.empty()) {
        const uint64_t id = m_ready.front();
        m_ready.pop_front();
        auto it = m_conns.find(id);
        if (it == m_conns.end() || !it->second->queued) continue; // gone meanwhile
        Conn& c = *it->second;
        c.queued = false;
        const bool nests = m_nests && m_nests(DecodeMessage(c.buf));
        if (!MayRun(nests)) {
            // Held until a nested handler returns; only a hang-up is watched meanwhile.
            c.held = true;
            (nests ? m_heldNesting : m_heldOther).push_back(id);
            if (!SetWatch(c, Watch::HangUp)) Drop(id, true);
            continue;
        }
        Handle(id, nests);
        ++served;
    }
    return served;
}

void LinkServer::Handle(uint64_t id, bool nests) {
    Conn* c = m_conns.at(id).get();
    TMessage m = DecodeMessage(c->buf);
    m.Result = 0;
    c->busy = true;
    if (!m_ready.empty() || !m_pending.empty()) SignalWork();
    {
        // Whatever way the handler leaves, the nesting counts go back; when it throws, its
        // EA gets no answer, so its connection is closed rather than left waiting.
        struct Running {
            LinkServer& s;
            uint64_t id;
            bool nests;
            bool returned = false;
            ~Running() {
                --s.m_depth;
                if (nests) --s.m_nestOpen;
                if (returned) return;
                auto it = s.m_conns.find(id);
                if (it == s.m_conns.end()) return;
                it->second->busy = false;
                s.Drop(id, true);
            }
        } running{*this, id, nests};
        ++m_depth;
        if (nests) ++m_nestOpen;
        m_handler(m); // a nested loop may serve other EAs here
        running.returned = true;
    }
    if (m_conns.find(id) == m_conns.end()) return; // closed meanwhile
    m_pending.emplace_back();
    m_pending.back().id = id;
    EncodeMessage(m, m_pending.back().rec);
}

void LinkServer::MoveToLane(Conn& c, const unsigned char out[16], unsigned sent) {
    // From now on its lane reads and answers it.
    c.laned = true;
    if (!SetWatch(c, WantedWatch(c))) {
        Drop(c.id, true);
        return;
    }
    m_lanes->Queue(c.sock, Lanes::Kind::Answer, out, sent);
}

void LinkServer::AnswerDirect(Conn& c, const unsigned char out[16]) {
    unsigned sent = 0;
    for (;;) {
        const long w = c.sock->t->Write(out + sent, 16 - sent);
        if (w > 0) {
            sent += static_cast<unsigned>(w);
            if (sent < 16) continue;
            if (!SetWatch(c, WantedWatch(c))) Drop(c.id, true);
            return;
        }
        if (w < 0 && errno == EINTR) continue;
        if (w < 0 && WouldBlock()) {
            MoveToLane(c, out, sent); // the lane finishes it
            return;
        }
        Drop(c.id, true); // the EA went away
        return;
    }
}

void LinkServer::SetDurability(std::function<uint64_t()> ticket, Predicate mustWait, int wakeFd,
                               std::function<uint64_t()> durable) {
    m_ticket = std::move(ticket);
    m_mustWait = std::move(mustWait);
    m_durable = std::move(durable);
    m_durableWake = wakeFd;
}

void LinkServer::Deliver(Conn& c, const unsigned char rec[16], bool busy) {
    c.busy = false;
    if (c.laned)
        m_lanes->Queue(c.sock, Lanes::Kind::Answer, rec);
    else if (busy)
        MoveToLane(c, rec, 0);
    else
        AnswerDirect(c, rec);
}

void LinkServer::Release() {
    if (m_pending.empty()) return;
    if (m_batchDone) m_batchDone();
    // The ticket covers every change made so far, whoever made it: an answer may depend on any.
    const bool gated = m_ticket && m_durable && m_mustWait;
    const uint64_t ticket = gated ? m_ticket() : 0;
    const uint64_t durable = gated ? m_durable() : 0;
    std::vector<Pending> out;
    out.swap(m_pending);
    const bool busy = m_busyRound || out.size() >= static_cast<size_t>(kOffloadBatch);
    m_busyRound = false;
    for (const Pending& p : out) {
        auto it = m_conns.find(p.id);
        if (it == m_conns.end()) continue;
        Conn& c = *it->second;
        if (gated && ticket > durable && m_mustWait(DecodeMessage(p.rec))) {
            // Busy until it goes: its connection is not read, so nothing it sends overtakes it.
            m_awaiting.push_back(Awaiting{p.id, ticket, {}});
            std::memcpy(m_awaiting.back().rec, p.rec, 16);
            continue;
        }
        Deliver(c, p.rec, busy);
    }
    m_lanes->Commit();
    if (m_pending.empty()) {
        out.clear();
        m_pending.swap(out); // keeps its room for the next batch
    }
    // Answers held before, and those just held when the flush ended meanwhile.
    if (gated && !m_awaiting.empty()) ReleaseDurable();
}

void LinkServer::ReleaseDurable() {
    if (m_awaiting.empty() || !m_durable || !m_lanes) return;
    const uint64_t durable = m_durable();
    bool any = false;
    while (!m_awaiting.empty() && m_awaiting.front().ticket <= durable) {
        const Awaiting a = m_awaiting.front();
        m_awaiting.pop_front();
        auto it = m_conns.find(a.id);
        if (it == m_conns.end()) continue;
        Deliver(*it->second, a.rec, false);
        any = true;
    }
    if (any) m_lanes->Commit();
}

int LinkServer::ServeHeld() {
    int served = 0;
    for (;;) {
        std::deque<uint64_t>* from = nullptr;
        if (m_depth < kMaxDepth && !m_heldOther.empty())
            from = &m_heldOther;
        else if (MayRun(true) && !m_heldNesting.empty())
            from = &m_heldNesting;
        if (!from) break;
        const uint64_t id = from->front();
        from->pop_front();
        auto it = m_conns.find(id);
        if (it == m_conns.end() || !it->second->held) continue; // gone meanwhile
        it->second->held = false;
        if (!SetWatch(*it->second, Watch::None)) {
            Drop(id, true);
            continue;
        }
        Handle(id, from == &m_heldNesting);
        ++served;
        Release();
    }
    return served;
}

bool LinkServer::AwaitNews() const {
    const auto until = std::chrono::steady_clock::now() + kAwaitNews;
    do {
        if (m_lanes->HasNews()) return true;
    } while (std::chrono::steady_clock::now() < until);
    return false;
}

// One EA alone, record after record: its connection is read first, without asking the epoll
// set, which saves a system call per record. Every few records, and whenever it has nothing,
// the set is asked as usual, so that nothing else waits for long.
bool LinkServer::ServeQuiet(int& served) {
    if (m_quietStreak < 2 || m_quietRun >= 8) {
        m_quietRun = 0;
        return false;
    }
    auto it = m_conns.find(m_quiet);
    if (it == m_conns.end()) return false;
    const Conn& c = *it->second;
    if (c.laned || c.busy || c.queued || c.held || c.watch != Watch::Read || !m_ready.empty() ||
        !m_pending.empty())
        return false;
    Serve(m_quiet);
    if (m_ready.empty()) {
        m_quietStreak = 0;
        return false;
    }
    ++m_quietRun;
    served += RunBatch();
    Release();
    return true;
}

void LinkServer::NoteQuiet(uint64_t id) {
    auto it = id ? m_conns.find(id) : m_conns.end();
    if (it == m_conns.end() || it->second->laned) {
        m_quietStreak = 0;
        m_quiet = 0;
        return;
    }
    m_quietStreak = id == m_quiet ? m_quietStreak + 1 : 1;
    m_quiet = id;
}

int LinkServer::ProcessReady() {
    if (m_epoll < 0) return 0;
    epoll_event events[128];
    int served = 0;
    try {
        if (ServeQuiet(served)) goto roundsDone;
        // Bounded: the event loop gets control back after a few rounds even under full load.
        for (int round = 0; round < 8; ++round) {
            const int n = epoll_wait(m_epoll, events, 128, 0);
            const uint64_t only = n == 1 ? events[0].data.u64 : 0;
            for (int i = 0; i < n; ++i) {
                const uint64_t id = events[i].data.u64;
                if (id == kListenId) {
                    AcceptAll();
                    continue;
                }
                if (id == kWakeId) {
                    TakeFromLanes();
                    continue;
                }
                if (id == kTimerId) {
                    ResumeAccepting();
                    continue;
                }
                if (id == kWorkId) continue; // cleared once the round's work is done
                if (id == kDurableId) {
                    Clear(m_durableWake); // before durable is read: a later growth wakes again
                    ReleaseDurable();
                    continue;
                }
                auto it = m_conns.find(id);
                if (it == m_conns.end()) continue;
                Conn& c = *it->second;
                const uint32_t ev = events[i].events;
                const bool hangUp = (ev & (EPOLLHUP | EPOLLERR | EPOLLRDHUP)) != 0;
                if (c.held) {
                    if (hangUp) Drop(id, (ev & EPOLLERR) != 0); // its EA no longer waits
                    continue;
                }
                if (!c.busy && !c.queued && !c.laned && (ev & EPOLLIN) == 0 && hangUp) {
                    Drop(id, (ev & EPOLLERR) != 0);
                    continue;
                }
                Serve(id);
            }
            const bool busy = m_ready.size() >= static_cast<size_t>(kOffloadBatch);
            const bool one = m_ready.size() == 1 && m_ready.front() == only;
            served += RunBatch();
            Release();
            NoteQuiet(round == 0 && one ? only : 0);
            if (n >= 128) continue;
            // After a busy round the lanes' next records are due within microseconds: waiting a
            // moment for them costs less than going to sleep and being woken.
            if (!busy || !AwaitNews()) break;
        }
    roundsDone:
        if (!m_heldNesting.empty() || !m_heldOther.empty()) served += ServeHeld();
        if (m_workSignalled && m_ready.empty() && m_pending.empty()) {
            Clear(m_work);
            m_workSignalled = false;
        }
    } catch (...) {
        // What this round still holds is served at the next call: make sure there is one.
        SignalWork();
        throw;
    }
    return served;
}

// ---- client ---------------------------------------------------------------------------------

LinkClient::~LinkClient() {
    Disconnect();
}

bool LinkClient::Connect(const std::string& path) {
    Disconnect();
    sockaddr_un addr{};
    try {
        addr = MakeAddress(path);
    } catch (const LinkError& e) {
        m_error = e.what();
        return false;
    }
    m_fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (m_fd < 0) {
        m_error = Errno("socket");
        return false;
    }
    if (connect(m_fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        m_error = Errno("No desk answers on " + path);
        close(m_fd);
        m_fd = -1;
        return false;
    }
    return true;
}

void LinkClient::Disconnect() {
    if (m_fd >= 0) close(m_fd);
    m_fd = -1;
}

void LinkClient::SendRaw(const void* data, size_t size) {
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
        ssize_t n = send(m_fd, p, size, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) throw LinkError(Errno("The link to the desk broke"));
        p += n;
        size -= static_cast<size_t>(n);
    }
}

int32_t LinkClient::Send(int32_t msg, int32_t wparam, int32_t lparam) {
    if (m_fd < 0) throw LinkError("Not connected to the desk");
    unsigned char buf[16];
    EncodeMessage(TMessage{msg, wparam, lparam, 0}, buf);
    SendRaw(buf, sizeof buf);
    size_t have = 0;
    while (have < sizeof buf) {
        // Wait in poll for input only: a reader blocked in read() is also woken each time the
        // desk consumes our record (write space), which costs a wake-up per message.
        pollfd p{m_fd, POLLIN, 0};
        if (poll(&p, 1, -1) < 0) {
            if (errno == EINTR) continue;
            throw LinkError(Errno("The link to the desk broke"));
        }
        ssize_t n = read(m_fd, buf + have, sizeof buf - have);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0)
            throw LinkError(n == 0 ? "The desk closed the link" : Errno("The link to the desk broke"));
        have += static_cast<size_t>(n);
    }
    return DecodeMessage(buf).Result;
}

} // namespace quorvel
