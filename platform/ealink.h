#pragma once
// The EA message link: a Unix domain stream socket carrying 16-byte records of four
// little-endian 32-bit integers (Msg, WParam, LParam, Result). The desk answers each record
// with the same record, Result set by its handler. One record is in flight per connection.
#include <atomic>
#include <cstdint>
#include <deque>
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

// Raises the soft limit of open files to the hard limit, so that the link can take as many
// EAs as the system allows; returns the soft limit in force afterwards.
uint64_t RaiseOpenFilesLimit();

// The desk's end of the link. It owns a listening socket and an epoll set; the event loop
// watches PollFd() and calls ProcessReady() when it becomes readable. ProcessReady may be
// re-entered from within a handler (a modal box runs its own loop): the connection whose
// record is being handled is not read again until its answer has been written.
class LinkServer {
public:
    using Handler = std::function<void(TMessage&)>;
    using Predicate = std::function<bool(const TMessage&)>;

    explicit LinkServer(Handler handler);
    ~LinkServer();
    LinkServer(const LinkServer&) = delete;
    LinkServer& operator=(const LinkServer&) = delete;

    // Creates the directory (0700) and binds the socket (0600). A stale socket file is
    // replaced; when another desk answers on the path, or the directory exists but is not
    // ours (a symbolic link, another owner, other permissions), LinkError is thrown and
    // nothing is touched. The connection cap follows the open-files limit in force.
    void Listen(const std::string& path);
    void Close();

    int PollFd() const { return m_epoll; }
    // Serves what is ready now; returns the number of records answered.
    int ProcessReady();

    // Records for which `nests` holds may run a nested loop in their handler (a modal box).
    // At most `limit` of them are handled at once; a further one is held, unanswered, its
    // connection not read, until one of them returns. Other records go on being served.
    void SetNestingLimit(int limit, Predicate nests);
    // Connections beyond the cap are closed as soon as they are accepted.
    // Listen sets it to half of the open-files limit in force.
    void SetMaxConnections(size_t cap) { m_maxConns = cap; }
    size_t MaxConnections() const { return m_maxConns; }

    size_t ConnectionCount() const { return m_conns.size(); }
    // Records read and waiting for a nested handler to return.
    size_t HeldCount() const { return m_heldNesting.size() + m_heldOther.size(); }
    // Handlers running now, one inside the other.
    int Depth() const { return m_depth; }
    const std::string& Path() const { return m_path; }

    // Answers are written by this thread while few EAs are active. Under load, waking each EA
    // costs more than handling its message, so the writes of a busy round go to I/O threads;
    // handlers still run only on the thread that calls ProcessReady.
    static constexpr int kOffloadBatch = 16;
    // Three lanes: handlers run on one thread, so the lanes only take over the writes, whose
    // cost is waking the EAs; a few threads absorb that, and more would take cores from the
    // EAs, which usually run on the same machine.
    static constexpr int kIoLanes = 3;
    // A connection with this many answers still unwritten is not read until its lane has
    // written some: an EA that sends without reading its answers cannot grow the queue.
    static constexpr unsigned kMaxQueuedAnswers = 64;
    // However the handlers nest, no deeper than this: any further record is held.
    static constexpr int kMaxDepth = 64;

private:
    struct Socket;
    class Writers;
    enum class Watch { None, HangUp, Read };
    struct Conn {
        std::shared_ptr<Socket> sock;
        int fd = -1;
        uint64_t id = 0;
        unsigned have = 0;
        bool busy = false;
        bool held = false;      // a whole record waits in buf for a nested handler to return
        bool waitDrain = false; // too many answers still unwritten
        Watch watch = Watch::Read;
        unsigned char buf[16];
    };
    void AcceptAll();
    void PauseAccepting();
    void ResumeAccepting();
    bool Serve(uint64_t id, bool offload);
    bool Handle(uint64_t id, bool nests, bool offload);
    int ServeHeld();
    bool MayRun(bool nests) const;
    void Answer(Conn& c, const unsigned char out[16], bool offload);
    void Drop(uint64_t id, bool broken);
    bool SetWatch(Conn& c, Watch w);
    Watch WantedWatch(const Conn& c) const;
    void OnWake();

    Handler m_handler;
    Predicate m_nests;
    int m_nestLimit = 16;
    int m_nestOpen = 0;
    int m_depth = 0;
    int m_listen = -1;
    int m_epoll = -1;
    int m_wake = -1;    // eventfd: the I/O lanes have drained a connection
    int m_timer = -1;   // timerfd: accepting resumes
    int m_reserve = -1; // a spare descriptor, given up to refuse a connection when none is left
    bool m_accepting = false;
    std::atomic<size_t> m_maxConns{1024}; // may be lowered from another thread
    uint64_t m_nextId = 16;
    std::string m_path;
    std::unordered_map<uint64_t, std::unique_ptr<Conn>> m_conns;
    std::deque<uint64_t> m_heldNesting, m_heldOther;
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
