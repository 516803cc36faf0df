#pragma once
// The EA link for terminals on other machines: the same 16-byte records inside TLS 1.3 over
// TCP. Every terminal machine presents a client certificate that the desk signed
// (platform/linkcerts.h) and may speak only for the EA IDs it was enrolled with.
//
// The desk's end takes the TLS connections on I/O threads of its own: handshakes and the
// machine's checks never run on the thread of the handlers. Each authenticated connection is
// then adopted by the desk's link server, whose I/O lanes read, decrypt and check its records
// and write its answers; the records are served, one in flight per connection, exactly as
// those of a local EA.
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/ealink.h"
#include "platform/linkcerts.h"

typedef struct ssl_st SSL;
typedef struct ssl_ctx_st SSL_CTX;

namespace quorvel {

// "host:port" or "[v6]:port"; false when it does not parse (port 0..65535).
bool SplitHostPort(const std::string& text, std::string& host, uint16_t& port);

// The messages whose WParam names an EA; for these `id` is set and true is returned.
bool ClaimedEaId(const TMessage& m, int32_t& id);

// Collects the bytes of a stream into 16-byte records.
class RecordFramer {
public:
    // Takes bytes up to the end of the current record; returns how many it took.
    size_t Feed(const unsigned char* data, size_t size);
    bool Complete() const { return m_have == sizeof m_buf; }
    // The complete record; the framer starts the next one.
    TMessage Take();
    // Bytes of an incomplete record.
    unsigned Partial() const { return m_have; }

private:
    unsigned char m_buf[16];
    unsigned m_have = 0;
};

// Whether a record may pass for a machine enrolled with `ids`; on false `claimed` is the EA
// ID the record named.
bool MayClaim(const TMessage& m, const EaIdRanges& ids, int32_t& claimed);

class RemoteLinkServer {
public:
    // Every refusal (a failed or stalled handshake, a machine not enrolled or revoked, a claim
    // of another machine's EA, a broken stream) is told through `log`, from an I/O thread.
    using Log = std::function<void(const std::string&)>;
    // Takes an authenticated connection, from an I/O thread of the remote link; the desk
    // adopts it into its link server (LinkServer::Adopt, on the serving thread).
    using Handoff = std::function<void(std::unique_ptr<LinkTransport>)>;

    // `deskDir` holds the credentials and the enrolled machines.
    RemoteLinkServer(std::string deskDir, Handoff handoff, Log log);
    ~RemoteLinkServer();
    RemoteLinkServer(const RemoteLinkServer&) = delete;
    RemoteLinkServer& operator=(const RemoteLinkServer&) = delete;

    // Loads (or at the first start creates) the desk's credentials, binds host:port and starts
    // the I/O threads. Throws LinkError with the reason.
    void Listen(const std::string& hostPort);
    // Stops taking connections; those handed over stay with the link server.
    void Close();

    uint16_t Port() const { return m_port; }
    const std::string& Fingerprint() const { return m_fingerprint; }
    bool CreatedCredentials() const { return m_created; }
    // Connections in their handshake now.
    size_t HandshakeCount() const { return m_open.load(); }

    // A handshake not finished within this time is given up.
    void SetHandshakeTimeout(int ms) { m_handshakeMs = ms; }
    static constexpr int kLanes = 2;
    // Connections beyond this many in their handshake are closed as soon as they are accepted.
    static constexpr size_t kMaxConnections = 4096;
    // At most this many refusals are told per minute; the rest are counted and told as one.
    static constexpr int kLogsPerMinute = 30;

    class Teller;
    struct Handed;

private:
    struct Lane;
    struct Conn;
    struct HandedEntry {
        std::string name, serial, who;
        std::weak_ptr<Handed> handed;
        bool cut = false;
    };
    void Run(Lane& lane);

    std::string m_dir;
    Handoff m_handoff;
    std::shared_ptr<Teller> m_teller;
    SSL_CTX* m_ctx = nullptr;
    int m_listen = -1;
    uint16_t m_port = 0;
    int m_handshakeMs = 5000;
    std::string m_fingerprint;
    bool m_created = false;
    std::atomic<size_t> m_open{0};
    std::vector<std::unique_ptr<Lane>> m_lanes;
    std::mutex m_handedMutex;
    std::vector<HandedEntry> m_handed;
};

// A terminal machine's end: a blocking client for tools, tests and the C library.
class RemoteLinkClient {
public:
    RemoteLinkClient() = default;
    ~RemoteLinkClient();
    RemoteLinkClient(const RemoteLinkClient&) = delete;
    RemoteLinkClient& operator=(const RemoteLinkClient&) = delete;

    // Connects to host:port with the machine's file (its certificate, key and the desk's
    // certificate); the desk must present exactly that certificate. False with Error().
    bool Connect(const std::string& hostPort, const std::string& certFile);
    void Disconnect();
    bool Connected() const { return m_ssl != nullptr; }

    // Sends one message and waits for its answer. Throws LinkError when the link breaks.
    int32_t Send(int32_t msg, int32_t wparam, int32_t lparam);
    // The two halves of Send. Throw LinkError when the link breaks.
    void SendRecord(const TMessage& m);
    TMessage ReceiveAnswer();
    // Sends raw bytes inside TLS (for tests of malformed input).
    void SendRaw(const void* data, size_t size);
    const std::string& Error() const { return m_error; }
    int Fd() const { return m_fd; }

private:
    SSL_CTX* m_ctx = nullptr;
    SSL* m_ssl = nullptr;
    int m_fd = -1;
    std::string m_error;
};

// An EA's connection to the desk, local (the Unix socket) or remote (TLS), as the tools choose.
class EaConnection {
public:
    // Every later Connect of any EaConnection goes to host:port with the machine's file
    // instead of the socket path it is given.
    static void UseRemote(const std::string& hostPort, const std::string& certFile);
    static bool Remote();

    bool Connect(const std::string& socketPath);
    void Disconnect();
    int32_t Send(int32_t msg, int32_t wparam, int32_t lparam);
    const std::string& Error() const { return m_remote ? m_tls.Error() : m_local.Error(); }
    int Fd() const { return m_remote ? m_tls.Fd() : m_local.Fd(); }

private:
    bool m_remote = false;
    LinkClient m_local;
    RemoteLinkClient m_tls;
};

} // namespace quorvel
