#pragma once
// The EA message link: a Unix domain stream socket carrying 16-byte records of four
// little-endian 32-bit integers (Msg, WParam, LParam, Result). The desk answers each record
// with the same record, Result set by its handler. One record is in flight per connection.
#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <unordered_map>

#include "platform/messages.h"

namespace quorvel {

class LinkError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The directory that holds the desk's socket: $XDG_RUNTIME_DIR/Quorvel, or /tmp/Quorvel-<uid>.
std::string LinkDirectory();
// The socket path an EA connects to: LinkDirectory() + "/TForm3".
std::string LinkSocketPath();

// Parses a message number as written by an operator: decimal, 0x hex, or a name such as
// WM_APP+404, WM_APP + 0x194 or WM_COPYDATA.
bool ParseMessageNumber(const std::string& text, int32_t& out);

// The desk's end of the link. It owns a listening socket and an epoll set; the event loop
// watches PollFd() and calls ProcessReady() when it becomes readable. ProcessReady may be
// re-entered from within a handler (a modal box runs its own loop): the connection whose
// record is being handled is not read again until its answer has been written.
class LinkServer {
public:
    using Handler = std::function<void(TMessage&)>;

    explicit LinkServer(Handler handler);
    ~LinkServer();
    LinkServer(const LinkServer&) = delete;
    LinkServer& operator=(const LinkServer&) = delete;

    // Creates the directory (0700) and binds the socket (0600). A stale socket file is
    // replaced; when another desk answers on the path, LinkError is thrown and nothing is
    // touched.
    void Listen(const std::string& path);
    void Close();

    int PollFd() const { return m_epoll; }
    // Serves what is ready now; returns the number of records answered.
    int ProcessReady();

    size_t ConnectionCount() const { return m_conns.size(); }
    const std::string& Path() const { return m_path; }

    // Answers are written by this thread while few EAs are active. Under load, waking each EA
    // costs more than handling its message, so the writes of a busy round go to I/O threads;
    // handlers still run only on the thread that calls ProcessReady.
    static constexpr int kOffloadBatch = 16;

private:
    // A connection's socket, closed when the last user (connection or queued answer) lets go.
    struct Socket {
        int fd = -1;
        explicit Socket(int f) : fd(f) {}
        ~Socket();
    };
    class Writers;
    struct Conn {
        std::shared_ptr<Socket> sock;
        int fd = -1;
        uint64_t id = 0;
        unsigned have = 0;
        bool busy = false;
        bool parked = false; // removed from the epoll set while busy
        unsigned char buf[16];
    };
    void AcceptAll();
    void Serve(uint64_t id, bool offload);
    void Drop(uint64_t id);
    void Park(Conn& c);
    void Unpark(Conn& c);

    Handler m_handler;
    int m_listen = -1;
    int m_epoll = -1;
    uint64_t m_nextId = 1;
    std::string m_path;
    std::unordered_map<uint64_t, std::unique_ptr<Conn>> m_conns;
    std::unique_ptr<Writers> m_writers;
};

// The EA's end: a blocking client for tools, tests and benchmarks.
class LinkClient {
public:
    LinkClient() = default;
    ~LinkClient();
    LinkClient(const LinkClient&) = delete;
    LinkClient& operator=(const LinkClient&) = delete;

    // Connects to the desk; false (with Error()) when no desk answers at the path.
    bool Connect(const std::string& path);
    void Disconnect();
    bool Connected() const { return m_fd >= 0; }

    // Sends one message and waits for its answer. Throws LinkError when the link breaks.
    int32_t Send(int32_t msg, int32_t wparam, int32_t lparam);
    // Sends raw bytes (for tests of malformed input).
    void SendRaw(const void* data, size_t size);
    int Fd() const { return m_fd; }
    const std::string& Error() const { return m_error; }

private:
    int m_fd = -1;
    std::string m_error;
};

// Little-endian encoding of the wire record.
void EncodeMessage(const TMessage& m, unsigned char out[16]);
TMessage DecodeMessage(const unsigned char in[16]);

} // namespace quorvel
