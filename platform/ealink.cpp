#include "platform/ealink.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
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

constexpr uint64_t kListenId = 0, kWakeId = 1, kTimerId = 2; // connections count from 16

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

// What the server and the I/O lanes share of a connection. The descriptor is closed when the
// last user (the connection or a queued answer) lets go.
struct LinkServer::Socket {
    int fd = -1;
    uint64_t id = 0;
    std::atomic<unsigned> queued{0};   // answers handed to the lane and not yet written
    std::atomic<bool> wantWake{false}; // the server waits for the lane to catch up
    Socket(int f, uint64_t i) : fd(f), id(i) {}
    ~Socket() {
        if (fd >= 0) close(fd);
    }
};

// I/O threads that write answers. A connection always goes to the same lane, and the server
// writes an answer itself only when the lane holds none of that connection, so its answers
// keep their order. A socket that takes no more for now keeps its answers, in order, until it
// does; the other sockets of the lane go on meanwhile. A failed write shuts the socket down;
// the serving thread then sees the hang-up and drops the connection.
class LinkServer::Writers {
public:
    Writers(int lanes, int notifyFd) : m_notifyFd(notifyFd), m_lanes(static_cast<size_t>(lanes)) {
        for (auto& lane : m_lanes) {
            lane.wake = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
            if (lane.wake < 0) {
                Stop();
                throw LinkError(Errno("Cannot start the link's writers"));
            }
        }
        for (auto& lane : m_lanes) lane.thread = std::thread([this, &lane] { Run(lane); });
    }
    ~Writers() { Stop(); }

    void Push(const std::shared_ptr<Socket>& sock, const unsigned char rec[16], unsigned sent) {
        Lane& lane = m_lanes[sock->id % m_lanes.size()];
        sock->queued.fetch_add(1);
        Item item{sock, {}, sent};
        std::memcpy(item.rec, rec, 16);
        bool wake;
        {
            std::lock_guard<std::mutex> g(lane.mutex);
            lane.queue.push_back(std::move(item));
            wake = lane.sleeping;
            lane.sleeping = false;
        }
        if (wake) Signal(lane.wake);
    }

    // The connections whose queue has fallen below the limit since the last call.
    std::vector<uint64_t> TakeDrained() {
        std::vector<uint64_t> out;
        std::lock_guard<std::mutex> g(m_drainedMutex);
        out.swap(m_drained);
        return out;
    }

private:
    struct Item {
        std::shared_ptr<Socket> sock;
        unsigned char rec[16];
        unsigned sent = 0; // bytes of rec already written
    };
    struct Blocked {
        std::shared_ptr<Socket> sock;
        std::deque<Item> items;
    };
    struct Lane {
        std::mutex mutex;
        std::vector<Item> queue;
        bool sleeping = false;
        bool stop = false;
        int wake = -1;
        std::thread thread;
    };

    static void Signal(int fd) {
        const uint64_t one = 1;
        [[maybe_unused]] ssize_t n = write(fd, &one, sizeof one);
    }

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
            if (lane.wake >= 0) close(lane.wake);
            lane.wake = -1;
        }
    }

    // One answer is written or given up.
    void Done(Socket& sock) {
        const unsigned left = sock.queued.fetch_sub(1) - 1;
        if (left < kMaxQueuedAnswers && sock.wantWake.load() && sock.wantWake.exchange(false)) {
            {
                std::lock_guard<std::mutex> g(m_drainedMutex);
                m_drained.push_back(sock.id);
            }
            Signal(m_notifyFd);
        }
    }

    // Writes what the socket takes; false when the socket failed and its answers were given up.
    bool WriteOut(Item& it) {
        while (it.sent < 16) {
            const ssize_t w = send(it.sock->fd, it.rec + it.sent, 16 - it.sent, MSG_NOSIGNAL | MSG_DONTWAIT);
            if (w > 0) {
                it.sent += static_cast<unsigned>(w);
                continue;
            }
            if (w < 0 && errno == EINTR) continue;
            if (w < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return true;
            shutdown(it.sock->fd, SHUT_RDWR);
            return false;
        }
        return true;
    }

    // Writes the blocked socket's answers in order while it takes them; true when none is left.
    bool Flush(Blocked& b) {
        while (!b.items.empty()) {
            Item& it = b.items.front();
            if (!WriteOut(it)) {
                for (Item& gone : b.items) Done(*gone.sock);
                b.items.clear();
                return true;
            }
            if (it.sent < 16) return false;
            Done(*it.sock);
            b.items.pop_front();
        }
        return true;
    }

    void Write(std::vector<Blocked>& blocked, Item&& it) {
        for (Blocked& b : blocked) {
            if (b.sock == it.sock) {
                b.items.push_back(std::move(it));
                return;
            }
        }
        if (!WriteOut(it) || it.sent == 16) {
            Done(*it.sock);
            return;
        }
        Blocked b{it.sock, {}};
        b.items.push_back(std::move(it));
        blocked.push_back(std::move(b));
    }

    void Run(Lane& lane) {
        std::vector<Item> work;
        std::vector<Blocked> blocked;
        std::vector<pollfd> fds;
        for (;;) {
            bool stop, idle;
            {
                std::lock_guard<std::mutex> g(lane.mutex);
                work.swap(lane.queue);
                stop = lane.stop;
                idle = work.empty();
                if (idle && !stop) lane.sleeping = true;
            }
            for (Item& it : work) Write(blocked, std::move(it));
            work.clear();
            if (stop && idle) {
                // One last try; what a socket does not take now is given up.
                for (Blocked& b : blocked)
                    if (!Flush(b))
                        for (Item& gone : b.items) Done(*gone.sock);
                return;
            }
            if (!idle && blocked.empty()) continue;
            // Wait for more work or for a blocked socket to take data again (only look, when
            // more work may be queued already).
            fds.clear();
            fds.push_back(pollfd{lane.wake, POLLIN, 0});
            for (const Blocked& b : blocked) fds.push_back(pollfd{b.sock->fd, POLLOUT, 0});
            if (poll(fds.data(), fds.size(), idle && !stop ? -1 : 0) < 0) continue;
            if (fds[0].revents) {
                uint64_t v;
                [[maybe_unused]] ssize_t n = read(lane.wake, &v, sizeof v);
            }
            size_t keep = 0;
            for (size_t i = 0; i < blocked.size(); ++i) {
                const bool ready = fds[i + 1].revents != 0;
                if (ready && Flush(blocked[i])) continue;
                if (keep != i) blocked[keep] = std::move(blocked[i]);
                ++keep;
            }
            blocked.resize(keep);
        }
    }

    int m_notifyFd;
    std::vector<Lane> m_lanes;
    std::mutex m_drainedMutex;
    std::vector<uint64_t> m_drained;
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
    m_timer = timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
    if (m_timer < 0) fail("Cannot create the link's timer");
    m_reserve = open("/dev/null", O_RDONLY | O_CLOEXEC);
    for (const auto& [fd, id] : {std::pair{m_listen, kListenId}, {m_wake, kWakeId}, {m_timer, kTimerId}}) {
        epoll_event ev{};
        ev.events = EPOLLIN;
        ev.data.u64 = id;
        if (epoll_ctl(m_epoll, EPOLL_CTL_ADD, fd, &ev) != 0) fail("Cannot watch the link socket");
    }
    try {
        m_writers = std::make_unique<Writers>(kIoLanes, m_wake);
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
    m_writers.reset(); // writes what is queued, then stops
    m_conns.clear();
    m_heldNesting.clear();
    m_heldOther.clear();
    if (m_listen >= 0) {
        close(m_listen);
        m_listen = -1;
        if (!m_path.empty()) unlink(m_path.c_str());
    }
    for (int* fd : {&m_epoll, &m_wake, &m_timer, &m_reserve}) {
        if (*fd >= 0) close(*fd);
        *fd = -1;
    }
    m_accepting = false;
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
    uint64_t v;
    [[maybe_unused]] ssize_t n = read(m_timer, &v, sizeof v);
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
        if (m_conns.size() >= m_maxConns) {
            close(fd); // over the cap: the EA sees the link closed at once
            continue;
        }
        auto c = std::make_unique<Conn>();
        c->id = m_nextId++;
        c->sock = std::make_shared<Socket>(fd, c->id);
        c->fd = fd;
        epoll_event ev{};
        ev.events = EPOLLIN | EPOLLRDHUP;
        ev.data.u64 = c->id;
        if (epoll_ctl(m_epoll, EPOLL_CTL_ADD, fd, &ev) != 0) continue; // c closes it
        c->watch = Watch::Read;
        m_conns.emplace(c->id, std::move(c));
    }
}

void LinkServer::Drop(uint64_t id, bool broken) {
    auto it = m_conns.find(id);
    if (it == m_conns.end()) return;
    Conn& c = *it->second;
    // Only a descriptor that is not in the set can fail to leave it: nothing to mend.
    if (c.watch != Watch::None) epoll_ctl(m_epoll, EPOLL_CTL_DEL, c.fd, nullptr);
    // A broken connection is shut down: answers still queued for it are given up. After a
    // plain end of stream the lane still writes what it holds.
    if (broken) shutdown(c.fd, SHUT_RDWR);
    m_conns.erase(it);
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
    if (c.busy || c.waitDrain) return Watch::None;
    return c.held ? Watch::HangUp : Watch::Read;
}

bool LinkServer::MayRun(bool nests) const {
    return m_depth < kMaxDepth && (!nests || m_nestOpen < m_nestLimit);
}

bool LinkServer::Serve(uint64_t id, bool offload) {
    auto it = m_conns.find(id);
    if (it == m_conns.end()) return false; // closed meanwhile
    Conn* c = it->second.get();
    if (c->busy || c->held || c->waitDrain) {
        // Its record is being answered further up the stack, or waits: look at it afterwards.
        if (!SetWatch(*c, WantedWatch(*c))) Drop(id, true);
        return false;
    }
    // Read only up to the end of one record: the next one is taken after this answer.
    for (;;) {
        ssize_t n = read(c->fd, c->buf + c->have, sizeof c->buf - c->have);
        if (n > 0) {
            c->have += static_cast<unsigned>(n);
            if (c->have == sizeof c->buf) break;
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return false; // partial: wait
        Drop(id, n < 0); // end of stream (a partial record is discarded) or a broken connection
        return false;
    }
    const bool nests = m_nests && m_nests(DecodeMessage(c->buf));
    if (!MayRun(nests)) {
        // Held until a nested handler returns; only a hang-up is watched meanwhile.
        c->held = true;
        (nests ? m_heldNesting : m_heldOther).push_back(id);
        if (!SetWatch(*c, Watch::HangUp)) Drop(id, true);
        return false;
    }
    return Handle(id, nests, offload);
}

bool LinkServer::Handle(uint64_t id, bool nests, bool offload) {
    Conn* c = m_conns.at(id).get();
    TMessage m = DecodeMessage(c->buf);
    c->have = 0;
    m.Result = 0;
    c->busy = true;
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
    auto it = m_conns.find(id);
    if (it == m_conns.end()) return true;
    c = it->second.get();
    c->busy = false;
    unsigned char out[16];
    EncodeMessage(m, out);
    Answer(*c, out, offload);
    return true;
}

void LinkServer::Answer(Conn& c, const unsigned char out[16], bool offload) {
    Socket& s = *c.sock;
    const uint64_t id = c.id;
    unsigned sent = 0;
    if (!offload && s.queued.load() == 0) {
        for (;;) {
            const ssize_t w = send(c.fd, out + sent, 16 - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
            if (w > 0) {
                sent += static_cast<unsigned>(w);
                if (sent == 16) break;
                continue;
            }
            if (w < 0 && errno == EINTR) continue;
            if (w < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break; // the lane finishes it
            Drop(id, true);                                                // the EA went away
            return;
        }
    }
    if (sent < 16) {
        m_writers->Push(c.sock, out, sent);
        if (s.queued.load() >= kMaxQueuedAnswers) {
            s.wantWake.store(true);
            if (s.queued.load() >= kMaxQueuedAnswers || !s.wantWake.exchange(false)) c.waitDrain = true;
        }
    }
    if (!SetWatch(c, WantedWatch(c))) Drop(id, true);
}

void LinkServer::OnWake() {
    uint64_t v;
    [[maybe_unused]] ssize_t n = read(m_wake, &v, sizeof v);
    if (!m_writers) return;
    for (uint64_t id : m_writers->TakeDrained()) {
        auto it = m_conns.find(id);
        if (it == m_conns.end()) continue;
        Conn& c = *it->second;
        c.waitDrain = false;
        if (!c.busy && !SetWatch(c, WantedWatch(c))) Drop(id, true);
    }
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
        if (Handle(id, from == &m_heldNesting, false)) ++served;
    }
    return served;
}

int LinkServer::ProcessReady() {
    if (m_epoll < 0) return 0;
    epoll_event events[128];
    int served = 0;
    // Bounded: the event loop gets control back after a few rounds even under full load.
    for (int round = 0; round < 8; ++round) {
        const int n = epoll_wait(m_epoll, events, 128, 0);
        if (n <= 0) break;
        for (int i = 0; i < n; ++i) {
            const uint64_t id = events[i].data.u64;
            if (id == kListenId) {
                AcceptAll();
                continue;
            }
            if (id == kWakeId) {
                OnWake();
                continue;
            }
            if (id == kTimerId) {
                ResumeAccepting();
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
            if (!c.busy && !c.waitDrain && (ev & EPOLLIN) == 0 && hangUp) {
                Drop(id, (ev & EPOLLERR) != 0);
                continue;
            }
            if (Serve(id, n >= kOffloadBatch)) ++served;
        }
        if (n < 128) break;
    }
    if (!m_heldNesting.empty() || !m_heldOther.empty()) served += ServeHeld();
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
