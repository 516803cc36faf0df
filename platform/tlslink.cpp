#include "platform/tlslink.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>
#include <unordered_map>

#include "platform/files.h"

namespace quorvel {

namespace {

using Clock = std::chrono::steady_clock;

std::string Errno(const std::string& what) {
    return what + ": " + std::strerror(errno);
}

// The reason OpenSSL gives for the last failure of this thread, or `fallback`.
std::string SslReason(const std::string& fallback) {
    const unsigned long e = ERR_get_error();
    ERR_clear_error();
    if (e == 0) return fallback;
    char buf[256];
    ERR_error_string_n(e, buf, sizeof buf);
    return buf;
}

std::string PeerText(const sockaddr_storage& a) {
    char host[INET6_ADDRSTRLEN] = "?";
    uint16_t port = 0;
    if (a.ss_family == AF_INET) {
        const auto* v4 = reinterpret_cast<const sockaddr_in*>(&a);
        inet_ntop(AF_INET, &v4->sin_addr, host, sizeof host);
        port = ntohs(v4->sin_port);
        return std::string(host) + ":" + std::to_string(port);
    }
    if (a.ss_family == AF_INET6) {
        const auto* v6 = reinterpret_cast<const sockaddr_in6*>(&a);
        inet_ntop(AF_INET6, &v6->sin6_addr, host, sizeof host);
        port = ntohs(v6->sin6_port);
    }
    return "[" + std::string(host) + "]:" + std::to_string(port);
}

X509* ReadCert(const std::string& pem, int index) {
    BIO* b = BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size()));
    X509* x = nullptr;
    for (int i = 0; i <= index; ++i) {
        X509_free(x);
        x = PEM_read_bio_X509(b, nullptr, nullptr, nullptr);
        if (!x) break;
    }
    BIO_free(b);
    ERR_clear_error();
    return x;
}

EVP_PKEY* ReadKey(const std::string& pem) {
    BIO* b = BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size()));
    EVP_PKEY* k = PEM_read_bio_PrivateKey(b, nullptr, nullptr, nullptr);
    BIO_free(b);
    ERR_clear_error();
    return k;
}

std::string SerialOf(X509* x) {
    BIGNUM* bn = ASN1_INTEGER_to_BN(X509_get_serialNumber(x), nullptr);
    if (!bn) return {};
    char* hex = BN_bn2hex(bn);
    std::string s = hex ? hex : "";
    OPENSSL_free(hex);
    BN_free(bn);
    return s;
}

std::string CommonName(X509* x) {
    char buf[128] = "";
    const int n = X509_NAME_get_text_by_NID(X509_get_subject_name(x), NID_commonName, buf, sizeof buf);
    return n > 0 ? std::string(buf, static_cast<size_t>(n)) : std::string();
}

// A socket BIO that never raises SIGPIPE: a machine or a desk that went away is an error of
// the write, not the end of the process (the C library runs inside other programs' EAs).
int QuietWrite(BIO* b, const char* data, int len) {
    BIO_clear_retry_flags(b);
    const int fd = static_cast<int>(reinterpret_cast<intptr_t>(BIO_get_data(b)));
    const ssize_t n = send(fd, data, static_cast<size_t>(len), MSG_NOSIGNAL);
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) BIO_set_retry_write(b);
    return static_cast<int>(n);
}

int QuietRead(BIO* b, char* out, int len) {
    BIO_clear_retry_flags(b);
    const int fd = static_cast<int>(reinterpret_cast<intptr_t>(BIO_get_data(b)));
    const ssize_t n = recv(fd, out, static_cast<size_t>(len), 0);
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) BIO_set_retry_read(b);
    return static_cast<int>(n);
}

long QuietCtrl(BIO*, int cmd, long, void*) {
    return cmd == BIO_CTRL_FLUSH || cmd == BIO_CTRL_DUP ? 1 : 0;
}

int QuietCreate(BIO* b) {
    BIO_set_init(b, 1);
    return 1;
}

// Hands `fd` to `ssl` through the quiet socket BIO; the descriptor stays the caller's.
bool AttachSocket(SSL* ssl, int fd) {
    static BIO_METHOD* method = [] {
        BIO_METHOD* m = BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "quorvel socket");
        if (!m) return m;
        BIO_meth_set_write(m, QuietWrite);
        BIO_meth_set_read(m, QuietRead);
        BIO_meth_set_ctrl(m, QuietCtrl);
        BIO_meth_set_create(m, QuietCreate);
        return m;
    }();
    if (!method) return false;
    BIO* b = BIO_new(method);
    if (!b) return false;
    BIO_set_data(b, reinterpret_cast<void*>(static_cast<intptr_t>(fd)));
    SSL_set_bio(ssl, b, b);
    return true;
}

int64_t Minute() {
    return std::chrono::duration_cast<std::chrono::minutes>(Clock::now().time_since_epoch()).count();
}

} // namespace

bool SplitHostPort(const std::string& text, std::string& host, uint16_t& port) {
    std::string h, p;
    if (!text.empty() && text[0] == '[') {
        const size_t close = text.find(']');
        if (close == std::string::npos || close + 1 >= text.size() || text[close + 1] != ':') return false;
        h = text.substr(1, close - 1);
        p = text.substr(close + 2);
    } else {
        const size_t colon = text.rfind(':');
        if (colon == std::string::npos || text.find(':') != colon) return false;
        h = text.substr(0, colon);
        p = text.substr(colon + 1);
    }
    if (h.empty() || p.empty() || p.size() > 5) return false;
    unsigned v = 0;
    for (char c : p) {
        if (c < '0' || c > '9') return false;
        v = v * 10 + static_cast<unsigned>(c - '0');
    }
    if (v > 65535) return false;
    host = h;
    port = static_cast<uint16_t>(v);
    return true;
}

bool ClaimedEaId(const TMessage& m, int32_t& id) {
    if (!EAMsg::WParamNamesEA(m.Msg)) return false;
    id = m.WParam;
    return true;
}

bool MayClaim(const TMessage& m, const EaIdRanges& ids, int32_t& claimed) {
    if (!ClaimedEaId(m, claimed)) return true;
    return ids.Contains(claimed);
}

size_t RecordFramer::Feed(const unsigned char* data, size_t size) {
    const size_t take = std::min<size_t>(size, sizeof m_buf - m_have);
    std::memcpy(m_buf + m_have, data, take);
    m_have += static_cast<unsigned>(take);
    return take;
}

TMessage RecordFramer::Take() {
    m_have = 0;
    return DecodeMessage(m_buf);
}

// ---- the desk's end ---------------------------------------------------------------------------

// Tells the refusals, at most kLogsPerMinute a minute; shared by the server and the transports
// it handed over (which may outlive it inside the link server).
class RemoteLinkServer::Teller {
public:
    explicit Teller(Log log) : m_log(std::move(log)) {}
    void Tell(const std::string& text) {
        std::lock_guard<std::mutex> g(m_mutex);
        Roll(Minute());
        if (m_count >= kLogsPerMinute) {
            ++m_suppressed;
            return;
        }
        ++m_count;
        if (m_log) m_log("Remote link: " + text);
    }
    void Roll() {
        std::lock_guard<std::mutex> g(m_mutex);
        Roll(Minute());
    }

private:
    void Roll(int64_t minute) {
        if (minute == m_window) return;
        if (m_suppressed > 0 && m_log)
            m_log("Remote link: " + std::to_string(m_suppressed) +
                  " more refused connections in the last minute");
        m_window = minute;
        m_count = 0;
        m_suppressed = 0;
    }
    Log m_log;
    std::mutex m_mutex;
    int64_t m_window = 0;
    int m_count = 0, m_suppressed = 0;
};

// What the server keeps of a connection it handed over: enough to cut it when its machine is
// revoked. The descriptor is shut down only while the transport still owns it.
struct RemoteLinkServer::Handed {
    std::mutex mutex;
    int fd = -1;
    bool open = true;
    void Cut() {
        std::lock_guard<std::mutex> g(mutex);
        if (open) shutdown(fd, SHUT_RDWR);
    }
};

namespace {

// An authenticated TLS connection as the link server's I/O lanes read and write it. Each
// record is checked against the machine's EA IDs as its last byte is read: a record naming
// another machine's EA never reaches the desk, and the connection closes.
class TlsTransport final : public LinkTransport {
public:
    TlsTransport(int fd, SSL* ssl, std::string who, EaIdRanges ids,
                 std::shared_ptr<RemoteLinkServer::Teller> teller,
                 std::shared_ptr<RemoteLinkServer::Handed> handed)
        : m_fd(fd), m_ssl(ssl), m_who(std::move(who)), m_ids(std::move(ids)), m_teller(std::move(teller)),
          m_handed(std::move(handed)) {}
    ~TlsTransport() override {
        {
            std::lock_guard<std::mutex> g(m_handed->mutex);
            m_handed->open = false;
        }
        SSL_free(m_ssl);
        close(m_fd);
    }
    int Fd() const override { return m_fd; }
    long Read(void* data, unsigned long size) override {
        ERR_clear_error();
        m_wantsWrite = false;
        const int r = SSL_read(m_ssl, data, static_cast<int>(std::min<unsigned long>(size, 1 << 20)));
        if (r > 0) {
            const auto* p = static_cast<const unsigned char*>(data);
            size_t at = 0;
            while (at < static_cast<size_t>(r)) {
                at += m_framer.Feed(p + at, static_cast<size_t>(r) - at);
                if (!m_framer.Complete()) continue;
                const TMessage m = m_framer.Take();
                int32_t claimed = 0;
                if (!MayClaim(m, m_ids, claimed)) {
                    m_teller->Tell(m_who + " claimed EA " + std::to_string(claimed) +
                                   ", which is not one of its EAs (" + m_ids.Text() + "); connection closed");
                    errno = EPROTO;
                    return -1;
                }
            }
            return r;
        }
        const int err = SSL_get_error(m_ssl, r);
        if (err == SSL_ERROR_WANT_READ || err == SSL_ERROR_WANT_WRITE) {
            m_wantsWrite = err == SSL_ERROR_WANT_WRITE;
            errno = EAGAIN;
            return -1;
        }
        if (err == SSL_ERROR_ZERO_RETURN || (err == SSL_ERROR_SYSCALL && ERR_peek_error() == 0)) {
            if (m_framer.Partial() > 0) m_teller->Tell(m_who + " closed in the middle of a record");
            return 0;
        }
        m_teller->Tell(m_who + " sent what is not TLS: " + SslReason("broken stream") +
                       "; connection closed");
        errno = EPROTO;
        return -1;
    }
    long Write(const void* data, unsigned long size) override {
        ERR_clear_error();
        m_wantsWrite = false;
        const int r = SSL_write(m_ssl, data, static_cast<int>(size));
        if (r > 0) return r;
        const int err = SSL_get_error(m_ssl, r);
        if (err == SSL_ERROR_WANT_READ || err == SSL_ERROR_WANT_WRITE) {
            m_wantsWrite = err == SSL_ERROR_WANT_WRITE;
            errno = EAGAIN;
            return -1;
        }
        ERR_clear_error();
        errno = EPIPE;
        return -1;
    }
    void Shutdown() override { shutdown(m_fd, SHUT_RDWR); }
    bool Buffered() const override { return SSL_pending(m_ssl) > 0; }
    bool WantsWrite() const override { return m_wantsWrite; }

private:
    int m_fd;
    SSL* m_ssl;
    std::string m_who;
    EaIdRanges m_ids;
    std::shared_ptr<RemoteLinkServer::Teller> m_teller;
    std::shared_ptr<RemoteLinkServer::Handed> m_handed;
    RecordFramer m_framer;
    bool m_wantsWrite = false;
};

} // namespace

struct RemoteLinkServer::Conn {
    uint64_t id = 0;
    int tcp = -1;
    SSL* ssl = nullptr;
    std::string peer;
    ~Conn() {
        if (ssl) SSL_free(ssl);
        if (tcp >= 0) close(tcp);
    }
};

struct RemoteLinkServer::Lane {
    int epoll = -1, wake = -1;
    std::thread thread;
    std::unordered_map<uint64_t, std::unique_ptr<Conn>> conns;
    std::deque<std::pair<Clock::time_point, uint64_t>> handshakes; // in the order of their deadlines
    uint64_t nextId = 1;
    std::vector<EnrolledMachine> machines;
    timespec machinesStamp{};
    off_t machinesSize = -1;
    ~Lane() {
        conns.clear();
        if (epoll >= 0) close(epoll);
        if (wake >= 0) close(wake);
    }
};

RemoteLinkServer::RemoteLinkServer(std::string deskDir, Handoff handoff, Log log)
    : m_dir(std::move(deskDir)), m_handoff(std::move(handoff)),
      m_teller(std::make_shared<Teller>(std::move(log))) {}

RemoteLinkServer::~RemoteLinkServer() {
    Close();
}

void RemoteLinkServer::Listen(const std::string& hostPort) {
    Close();
    std::string host;
    uint16_t port = 0;
    if (!SplitHostPort(hostPort, host, port))
        throw LinkError("[Link] Listen=" + hostPort + " is not host:port (for example 0.0.0.0:7400).");
    const DeskCredentials cred = LoadOrCreateDeskCredentials(m_dir, &m_created);
    m_fingerprint = cred.fingerprint;

    m_ctx = SSL_CTX_new(TLS_server_method());
    if (!m_ctx) throw LinkError("Cannot set up TLS: " + SslReason("no context"));
    auto fail = [this](const std::string& msg) {
        Close();
        throw LinkError(msg);
    };
    SSL_CTX_set_min_proto_version(m_ctx, TLS1_3_VERSION);
    SSL_CTX_set_mode(m_ctx, SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
    SSL_CTX_set_session_cache_mode(m_ctx, SSL_SESS_CACHE_OFF);
    SSL_CTX_set_num_tickets(m_ctx, 0);
    X509* cert = ReadCert(cred.certPem, 0);
    EVP_PKEY* key = ReadKey(cred.keyPem);
    const bool ok = cert && key && SSL_CTX_use_certificate(m_ctx, cert) == 1 &&
                    SSL_CTX_use_PrivateKey(m_ctx, key) == 1 &&
                    X509_STORE_add_cert(SSL_CTX_get_cert_store(m_ctx), cert) == 1;
    X509_free(cert);
    EVP_PKEY_free(key);
    if (!ok) fail("Cannot use the desk's link certificate: " + SslReason("unreadable"));
    // Only certificates the desk signed itself, directly.
    SSL_CTX_set_verify(m_ctx, SSL_VERIFY_PEER | SSL_VERIFY_FAIL_IF_NO_PEER_CERT, nullptr);
    SSL_CTX_set_verify_depth(m_ctx, 1);

    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
    addrinfo* res = nullptr;
    const std::string service = std::to_string(port);
    if (const int rc = getaddrinfo(host.c_str(), service.c_str(), &hints, &res); rc != 0)
        fail("[Link] Listen=" + hostPort + ": " + gai_strerror(rc));
    std::string why = "no address";
    for (addrinfo* a = res; a && m_listen < 0; a = a->ai_next) {
        const int fd = socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, a->ai_protocol);
        if (fd < 0) continue;
        const int one = 1;
        setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        if (bind(fd, a->ai_addr, a->ai_addrlen) == 0 && listen(fd, 4096) == 0) {
            m_listen = fd;
            sockaddr_storage bound{};
            socklen_t len = sizeof bound;
            getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &len);
            m_port = bound.ss_family == AF_INET6 ? ntohs(reinterpret_cast<sockaddr_in6*>(&bound)->sin6_port)
                                                 : ntohs(reinterpret_cast<sockaddr_in*>(&bound)->sin_port);
        } else {
            why = std::strerror(errno);
            close(fd);
        }
    }
    freeaddrinfo(res);
    if (m_listen < 0) fail("Cannot listen on " + hostPort + ": " + why);

    for (int i = 0; i < kLanes; ++i) {
        auto lane = std::make_unique<Lane>();
        lane->epoll = epoll_create1(EPOLL_CLOEXEC);
        lane->wake = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
        if (lane->epoll < 0 || lane->wake < 0) fail(Errno("Cannot start the remote link"));
        epoll_event ev{};
        ev.events = EPOLLIN | EPOLLEXCLUSIVE;
        ev.data.u64 = 0;
        if (epoll_ctl(lane->epoll, EPOLL_CTL_ADD, m_listen, &ev) != 0)
            fail(Errno("Cannot watch " + hostPort));
        ev.events = EPOLLIN;
        ev.data.u64 = 1;
        if (epoll_ctl(lane->epoll, EPOLL_CTL_ADD, lane->wake, &ev) != 0)
            fail(Errno("Cannot watch " + hostPort));
        m_lanes.push_back(std::move(lane));
    }
    for (auto& lane : m_lanes) lane->thread = std::thread([this, l = lane.get()] { Run(*l); });
}

void RemoteLinkServer::Close() {
    for (auto& lane : m_lanes) {
        const uint64_t one = 1;
        [[maybe_unused]] ssize_t n = write(lane->wake, &one, sizeof one);
    }
    for (auto& lane : m_lanes)
        if (lane->thread.joinable()) lane->thread.join();
    m_lanes.clear();
    m_open = 0;
    if (m_listen >= 0) close(m_listen);
    m_listen = -1;
    if (m_ctx) SSL_CTX_free(m_ctx);
    m_ctx = nullptr;
}

void RemoteLinkServer::Run(Lane& lane) {
    auto watch = [&](Conn& c, uint32_t events) {
        epoll_event ev{};
        ev.events = events;
        ev.data.u64 = c.id;
        return epoll_ctl(lane.epoll, EPOLL_CTL_MOD, c.tcp, &ev) == 0;
    };
    auto drop = [&](uint64_t id) {
        if (lane.conns.erase(id)) m_open.fetch_sub(1);
    };
    // The machine's standing now: empty when it may speak, else why not.
    auto standing = [&](const std::string& name, const std::string& serial, EaIdRanges* ids) -> std::string {
        for (const EnrolledMachine& m : lane.machines) {
            if (m.name != name) continue;
            if (m.revoked) return "is revoked";
            if (m.serial != serial) return "presents a certificate that was replaced";
            if (ids) *ids = m.ids;
            return {};
        }
        return "is not enrolled";
    };
    // Reads the list of machines again when it changed; a machine revoked meanwhile loses the
    // connections it has open.
    auto reloadMachines = [&] {
        struct stat st {};
        const std::string path = m_dir + "/" + kLinkMachinesFile;
        if (stat(path.c_str(), &st) != 0) {
            st = {};
            st.st_size = -2;
        }
        if (st.st_size == lane.machinesSize && st.st_mtim.tv_sec == lane.machinesStamp.tv_sec &&
            st.st_mtim.tv_nsec == lane.machinesStamp.tv_nsec)
            return;
        lane.machines = LoadEnrolledMachines(m_dir);
        lane.machinesSize = st.st_size;
        lane.machinesStamp = st.st_mtim;
        std::lock_guard<std::mutex> g(m_handedMutex);
        for (size_t i = 0; i < m_handed.size();) {
            HandedEntry& e = m_handed[i];
            auto h = e.handed.lock();
            if (!h) {
                m_handed[i] = std::move(m_handed.back());
                m_handed.pop_back();
                continue;
            }
            const std::string why = standing(e.name, e.serial, nullptr);
            if (!why.empty() && !e.cut) {
                e.cut = true;
                m_teller->Tell(e.who + " " + why + "; connection closed");
                h->Cut();
            }
            ++i;
        }
    };
    // Moves a handshake on; once it is done and the machine may speak, the connection goes to
    // the desk. False when the connection is closed or handed over.
    auto pump = [&](Conn& c) -> bool {
        ERR_clear_error();
        const int r = SSL_do_handshake(c.ssl);
        if (r != 1) {
            const int err = SSL_get_error(c.ssl, r);
            if (err == SSL_ERROR_WANT_READ) return watch(c, EPOLLIN);
            if (err == SSL_ERROR_WANT_WRITE) return watch(c, EPOLLIN | EPOLLOUT);
            std::string reason = SslReason("the peer hung up");
            const long verify = SSL_get_verify_result(c.ssl);
            if (verify != X509_V_OK)
                reason += " (" + std::string(X509_verify_cert_error_string(verify)) + ")";
            m_teller->Tell(c.peer + " failed the TLS handshake: " + reason + "; connection closed");
            return false;
        }
        X509* peer = SSL_get0_peer_certificate(c.ssl);
        if (!peer) {
            m_teller->Tell(c.peer + " presented no certificate; connection closed");
            return false;
        }
        const std::string name = CommonName(peer), serial = SerialOf(peer);
        const std::string who = "machine \"" + name + "\" (" + c.peer + ")";
        reloadMachines();
        EaIdRanges ids;
        const std::string why = standing(name, serial, &ids);
        if (!why.empty()) {
            m_teller->Tell(who + " " + why + "; connection closed");
            return false;
        }
        epoll_ctl(lane.epoll, EPOLL_CTL_DEL, c.tcp, nullptr);
        auto handed = std::make_shared<Handed>();
        handed->fd = c.tcp;
        {
            std::lock_guard<std::mutex> g(m_handedMutex);
            m_handed.push_back(HandedEntry{name, serial, who, handed, false});
        }
        auto t = std::make_unique<TlsTransport>(c.tcp, c.ssl, who, ids, m_teller, handed);
        c.tcp = -1;
        c.ssl = nullptr;
        if (m_handoff) m_handoff(std::move(t));
        return false;
    };
    auto accept = [&] {
        for (int i = 0; i < 64; ++i) {
            sockaddr_storage from{};
            socklen_t len = sizeof from;
            const int fd =
                accept4(m_listen, reinterpret_cast<sockaddr*>(&from), &len, SOCK_NONBLOCK | SOCK_CLOEXEC);
            if (fd < 0) {
                if (errno == EINTR || errno == ECONNABORTED) continue;
                return;
            }
            if (m_open.load() >= kMaxConnections) {
                close(fd);
                m_teller->Tell(PeerText(from) + " refused: " + std::to_string(kMaxConnections) +
                               " hand-shakes are going on");
                continue;
            }
            const int one = 1;
            setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
            auto c = std::make_unique<Conn>();
            c->id = lane.nextId++ + 1; // 0 and 1 are the listening socket and the wake-up
            c->tcp = fd;
            c->peer = PeerText(from);
            c->ssl = SSL_new(m_ctx);
            if (!c->ssl || !AttachSocket(c->ssl, fd)) continue;
            SSL_set_accept_state(c->ssl);
            epoll_event ev{};
            ev.events = EPOLLIN;
            ev.data.u64 = c->id;
            if (epoll_ctl(lane.epoll, EPOLL_CTL_ADD, fd, &ev) != 0) continue;
            lane.handshakes.emplace_back(Clock::now() + std::chrono::milliseconds(m_handshakeMs), c->id);
            m_open.fetch_add(1);
            lane.conns.emplace(c->id, std::move(c));
        }
    };

    auto lastCheck = Clock::now();
    epoll_event events[64];
    for (;;) {
        int timeout = 1000;
        if (!lane.handshakes.empty()) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                lane.handshakes.front().first - Clock::now());
            timeout = static_cast<int>(std::clamp<int64_t>(left.count() + 1, 0, 1000));
        }
        const int n = epoll_wait(lane.epoll, events, 64, timeout);
        for (int i = 0; i < n; ++i) {
            const uint64_t key = events[i].data.u64;
            if (key == 0) {
                accept();
                continue;
            }
            if (key == 1) return; // closing
            auto it = lane.conns.find(key);
            if (it == lane.conns.end()) continue;
            if (!pump(*it->second)) drop(key);
        }
        const auto now = Clock::now();
        while (!lane.handshakes.empty() && lane.handshakes.front().first <= now) {
            const uint64_t id = lane.handshakes.front().second;
            lane.handshakes.pop_front();
            auto it = lane.conns.find(id);
            if (it == lane.conns.end()) continue;
            m_teller->Tell(it->second->peer + " did not finish the TLS handshake within " +
                           std::to_string(m_handshakeMs) + " ms; connection closed");
            drop(id);
        }
        if (now - lastCheck >= std::chrono::seconds(1)) {
            lastCheck = now;
            m_teller->Roll();
            reloadMachines();
        }
    }
}

// ---- a terminal machine's end -----------------------------------------------------------------

RemoteLinkClient::~RemoteLinkClient() {
    Disconnect();
}

void RemoteLinkClient::Disconnect() {
    if (m_ssl) SSL_free(m_ssl);
    m_ssl = nullptr;
    if (m_ctx) SSL_CTX_free(m_ctx);
    m_ctx = nullptr;
    if (m_fd >= 0) close(m_fd);
    m_fd = -1;
}

bool RemoteLinkClient::Connect(const std::string& hostPort, const std::string& certFile) {
    Disconnect();
    auto failed = [this](const std::string& why) {
        m_error = why;
        Disconnect();
        return false;
    };
    std::string host;
    uint16_t port = 0;
    if (!SplitHostPort(hostPort, host, port)) return failed("Not host:port: " + hostPort);
    const auto pem = ReadWholeFile(certFile);
    if (!pem) return failed("Cannot read the machine's file " + certFile);
    X509* mine = ReadCert(*pem, 0);
    X509* desk = ReadCert(*pem, 1);
    EVP_PKEY* key = ReadKey(*pem);
    m_ctx = SSL_CTX_new(TLS_client_method());
    bool ok = m_ctx && mine && desk && key;
    if (ok) {
        SSL_CTX_set_min_proto_version(m_ctx, TLS1_3_VERSION);
        ok = SSL_CTX_use_certificate(m_ctx, mine) == 1 && SSL_CTX_use_PrivateKey(m_ctx, key) == 1 &&
             X509_STORE_add_cert(SSL_CTX_get_cert_store(m_ctx), desk) == 1;
        SSL_CTX_set_verify(m_ctx, SSL_VERIFY_PEER, nullptr);
    }
    X509_free(mine);
    EVP_PKEY_free(key);
    if (!ok) {
        X509_free(desk);
        ERR_clear_error();
        return failed(certFile +
                      " is not a machine's file (its certificate, its key and the desk's certificate)");
    }

    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV;
    addrinfo* res = nullptr;
    const std::string service = std::to_string(port);
    if (const int rc = getaddrinfo(host.c_str(), service.c_str(), &hints, &res); rc != 0) {
        X509_free(desk);
        return failed(hostPort + ": " + gai_strerror(rc));
    }
    std::string why = "no address";
    for (addrinfo* a = res; a && m_fd < 0; a = a->ai_next) {
        m_fd = socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC, a->ai_protocol);
        if (m_fd < 0) continue;
        if (connect(m_fd, a->ai_addr, a->ai_addrlen) != 0) {
            why = std::strerror(errno);
            close(m_fd);
            m_fd = -1;
        }
    }
    freeaddrinfo(res);
    if (m_fd < 0) {
        X509_free(desk);
        return failed("No desk answers on " + hostPort + ": " + why);
    }
    const int one = 1;
    setsockopt(m_fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    m_ssl = SSL_new(m_ctx);
    if (!m_ssl || !AttachSocket(m_ssl, m_fd)) return failed("Cannot set up TLS");
    ERR_clear_error();
    if (SSL_connect(m_ssl) != 1) {
        X509_free(desk);
        return failed("TLS handshake with " + hostPort + " failed: " + SslReason("the desk closed the link"));
    }
    // Only the desk itself: another certificate it signed (a machine's) is not the desk.
    X509* peer = SSL_get0_peer_certificate(m_ssl);
    const bool isDesk = peer && X509_cmp(peer, desk) == 0;
    X509_free(desk);
    if (!isDesk) return failed(hostPort + " is not the desk of " + certFile);
    return true;
}

void RemoteLinkClient::SendRaw(const void* data, size_t size) {
    if (!m_ssl) throw LinkError("Not connected to the desk");
    ERR_clear_error();
    const int r = SSL_write(m_ssl, data, static_cast<int>(size));
    if (r <= 0 || static_cast<size_t>(r) != size) throw LinkError("The link to the desk broke");
}

void RemoteLinkClient::SendRecord(const TMessage& m) {
    unsigned char buf[16];
    EncodeMessage(TMessage{m.Msg, m.WParam, m.LParam, 0}, buf);
    SendRaw(buf, sizeof buf);
}

TMessage RemoteLinkClient::ReceiveAnswer() {
    if (!m_ssl) throw LinkError("Not connected to the desk");
    unsigned char buf[16];
    int have = 0;
    while (have < 16) {
        ERR_clear_error();
        const int r = SSL_read(m_ssl, buf + have, 16 - have);
        if (r > 0) {
            have += r;
            continue;
        }
        const int err = SSL_get_error(m_ssl, r);
        if (err == SSL_ERROR_WANT_READ || err == SSL_ERROR_WANT_WRITE) continue;
        ERR_clear_error();
        throw LinkError("The desk closed the link");
    }
    return DecodeMessage(buf);
}

int32_t RemoteLinkClient::Send(int32_t msg, int32_t wparam, int32_t lparam) {
    SendRecord(TMessage{msg, wparam, lparam, 0});
    return ReceiveAnswer().Result;
}

// ---- either end, for the tools -----------------------------------------------------------------

namespace {
std::string g_remoteHostPort, g_remoteCert;
} // namespace

void EaConnection::UseRemote(const std::string& hostPort, const std::string& certFile) {
    g_remoteHostPort = hostPort;
    g_remoteCert = certFile;
}

bool EaConnection::Remote() {
    return !g_remoteHostPort.empty();
}

bool EaConnection::Connect(const std::string& socketPath) {
    m_remote = Remote();
    return m_remote ? m_tls.Connect(g_remoteHostPort, g_remoteCert) : m_local.Connect(socketPath);
}

void EaConnection::Disconnect() {
    m_tls.Disconnect();
    m_local.Disconnect();
}

int32_t EaConnection::Send(int32_t msg, int32_t wparam, int32_t lparam) {
    return m_remote ? m_tls.Send(msg, wparam, lparam) : m_local.Send(msg, wparam, lparam);
}

} // namespace quorvel
