#include "platform/ealink.h"

#include <cctype>
#include <cerrno>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace quorvel {

namespace {

constexpr uint64_t kListenId = 0;

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

bool MakeDirectory(const std::string& dir) {
    if (mkdir(dir.c_str(), 0700) == 0) return true;
    if (errno != EEXIST) return false;
    struct stat st {};
    if (lstat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != getuid()) return false;
    chmod(dir.c_str(), 0700);
    return true;
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

LinkServer::Socket::~Socket() {
    if (fd >= 0) close(fd);
}

// I/O threads that write answers. Each connection always goes to the same thread, so its
// answers keep their order. A failed write shuts the socket down; the serving thread then
// sees the hang-up and drops the connection.
class LinkServer::Writers {
public:
    explicit Writers(int n) : m_lanes(static_cast<size_t>(n)) {
        for (auto& lane : m_lanes) lane.thread = std::thread([&lane] { Run(lane); });
    }
    ~Writers() {
        for (auto& lane : m_lanes) {
            std::lock_guard<std::mutex> g(lane.mutex);
            lane.stop = true;
            lane.cv.notify_one();
        }
        for (auto& lane : m_lanes) lane.thread.join();
    }
    void Push(uint64_t id, const std::shared_ptr<Socket>& sock, const unsigned char rec[16]) {
        Lane& lane = m_lanes[id % m_lanes.size()];
        Item item{sock, {}};
        std::memcpy(item.rec, rec, 16);
        bool wake;
        {
            std::lock_guard<std::mutex> g(lane.mutex);
            lane.queue.push_back(std::move(item));
            wake = lane.sleeping;
            lane.sleeping = false;
        }
        if (wake) lane.cv.notify_one();
    }

private:
    struct Item {
        std::shared_ptr<Socket> sock;
        unsigned char rec[16];
    };
    struct Lane {
        std::mutex mutex;
        std::condition_variable cv;
        std::vector<Item> queue;
        bool sleeping = false;
        bool stop = false;
        std::thread thread;
    };
    static void Run(Lane& lane) {
        std::vector<Item> work;
        for (;;) {
            {
                std::unique_lock<std::mutex> lk(lane.mutex);
                while (lane.queue.empty() && !lane.stop) {
                    lane.sleeping = true;
                    lane.cv.wait(lk);
                }
                if (lane.queue.empty() && lane.stop) return;
                work.swap(lane.queue);
            }
            for (Item& it : work) {
                ssize_t w;
                do {
                    w = send(it.sock->fd, it.rec, 16, MSG_NOSIGNAL | MSG_DONTWAIT);
                } while (w < 0 && errno == EINTR);
                if (w != 16) shutdown(it.sock->fd, SHUT_RDWR);
            }
            work.clear();
        }
    }
    std::vector<Lane> m_lanes;
};

LinkServer::LinkServer(Handler handler) : m_handler(std::move(handler)) {}

LinkServer::~LinkServer() {
    Close();
}

void LinkServer::Listen(const std::string& path) {
    Close();
    const auto slash = path.rfind('/');
    if (slash != std::string::npos && slash > 0 && !MakeDirectory(path.substr(0, slash)))
        throw LinkError(Errno("Cannot create the link directory " + path.substr(0, slash)));
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
    chmod(path.c_str(), 0600);
    if (listen(m_listen, 4096) != 0) {
        const std::string msg = Errno("Cannot listen on " + path);
        Close();
        throw LinkError(msg);
    }
    m_path = path;
    m_epoll = epoll_create1(EPOLL_CLOEXEC);
    if (m_epoll < 0) {
        const std::string msg = Errno("epoll_create1");
        Close();
        throw LinkError(msg);
    }
    epoll_event ev{};
    ev.events = EPOLLIN;
    ev.data.u64 = kListenId;
    epoll_ctl(m_epoll, EPOLL_CTL_ADD, m_listen, &ev);
}

void LinkServer::Close() {
    m_writers.reset(); // writes what is queued, then stops
    m_conns.clear();
    if (m_listen >= 0) {
        close(m_listen);
        m_listen = -1;
        if (!m_path.empty()) unlink(m_path.c_str());
    }
    if (m_epoll >= 0) {
        close(m_epoll);
        m_epoll = -1;
    }
    m_path.clear();
}

void LinkServer::AcceptAll() {
    for (int i = 0; i < 256; ++i) {
        int fd = accept4(m_listen, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) return; // EAGAIN, or a connection that went away before we took it
        auto c = std::make_unique<Conn>();
        c->sock = std::make_shared<Socket>(fd);
        c->fd = fd;
        c->id = m_nextId++;
        epoll_event ev{};
        ev.events = EPOLLIN | EPOLLRDHUP;
        ev.data.u64 = c->id;
        if (epoll_ctl(m_epoll, EPOLL_CTL_ADD, fd, &ev) != 0) continue; // c closes it
        m_conns.emplace(c->id, std::move(c));
    }
}

void LinkServer::Drop(uint64_t id) {
    auto it = m_conns.find(id);
    if (it == m_conns.end()) return;
    if (!it->second->parked) epoll_ctl(m_epoll, EPOLL_CTL_DEL, it->second->fd, nullptr);
    shutdown(it->second->fd, SHUT_RDWR); // answers still queued for it are dropped
    m_conns.erase(it);
}

void LinkServer::Park(Conn& c) {
    if (c.parked) return;
    epoll_ctl(m_epoll, EPOLL_CTL_DEL, c.fd, nullptr);
    c.parked = true;
}

void LinkServer::Unpark(Conn& c) {
    if (!c.parked) return;
    epoll_event ev{};
    ev.events = EPOLLIN | EPOLLRDHUP;
    ev.data.u64 = c.id;
    epoll_ctl(m_epoll, EPOLL_CTL_ADD, c.fd, &ev);
    c.parked = false;
}

void LinkServer::Serve(uint64_t id, bool offload) {
    auto it = m_conns.find(id);
    if (it == m_conns.end()) return; // closed meanwhile
    Conn* c = it->second.get();
    if (c->busy) {
        // Its record is being answered further up the stack; look at it again afterwards.
        Park(*c);
        return;
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
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return; // partial record: wait for more
        Drop(id); // end of stream (a partial record is discarded) or a broken connection
        return;
    }
    TMessage m = DecodeMessage(c->buf);
    c->have = 0;
    m.Result = 0;
    c->busy = true;
    m_handler(m); // the handler catches its own errors; a nested loop may serve other EAs here
    it = m_conns.find(id);
    if (it == m_conns.end()) return;
    c = it->second.get();
    c->busy = false;
    unsigned char out[16];
    EncodeMessage(m, out);
    if (offload) {
        if (!m_writers) m_writers = std::make_unique<Writers>(3);
        m_writers->Push(id, c->sock, out);
        Unpark(*c);
        return;
    }
    ssize_t w;
    do {
        w = send(c->fd, out, sizeof out, MSG_NOSIGNAL | MSG_DONTWAIT);
    } while (w < 0 && errno == EINTR);
    if (w != static_cast<ssize_t>(sizeof out)) {
        // The EA went away, or it floods us without reading its answers.
        Drop(id);
        return;
    }
    Unpark(*c);
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
            auto it = m_conns.find(id);
            if (it == m_conns.end()) continue;
            if ((events[i].events & (EPOLLIN)) == 0 &&
                (events[i].events & (EPOLLHUP | EPOLLERR | EPOLLRDHUP))) {
                if (!it->second->busy)
                    Drop(id);
                else
                    Park(*it->second);
                continue;
            }
            const bool hadRecord = !it->second->busy;
            Serve(id, n >= kOffloadBatch);
            if (hadRecord) ++served;
        }
        if (n < 128) break;
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
