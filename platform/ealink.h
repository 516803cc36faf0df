#pragma once
// The EA message link: a Unix domain stream socket carrying 16-byte records of four
// little-endian 32-bit integers (Msg, WParam, LParam, Result). The desk answers each record
// with the same record, Result set by its handler. One record is in flight per connection.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <unordered_map>
#include <vector>

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

// One connection's byte stream as the link's I/O threads use it. A plain Unix socket is one
// kind; others (an encrypted stream, say) plug into the same lanes through LinkServer::Adopt.
// Read, Write and Shutdown are called by one thread at a time, from the moment the server
// takes the connection until it lets go; the transport is destroyed after the last of them
// (its destructor closes the descriptor).
class LinkTransport {
public:
    virtual ~LinkTransport() = default;
    // The non-blocking descriptor whose readiness the lane waits for.
    virtual int Fd() const = 0;
    // As read(2) and send(2) on a non-blocking socket: the bytes moved; 0 from Read at the end
    // of the stream; -1 with errno set, EAGAIN meaning "not now, wait for the descriptor".
    virtual long Read(void* data, unsigned long size) = 0;
    virtual long Write(const void* data, unsigned long size) = 0;
    // Ends the connection in both directions at once (queued answers are given up).
    virtual void Shutdown() = 0;
    // Bytes already taken from the descriptor and not yet read (a decrypting layer may hold
    // some): the lane reads them without waiting for the descriptor.
    virtual bool Buffered() const { return false; }
    // After Read or Write said EAGAIN: the transport needs the descriptor writable (as well
    // as readable) to go on, for example in the middle of a hand-shake.
    virtual bool WantsWrite() const { return false; }
};

// A plain connected stream socket; the descriptor is closed with the transport.
std::unique_ptr<LinkTransport> MakeSocketTransport(int fd);

// The desk's end of the link. It owns a listening socket and an epoll set; the event loop
// watches PollFd() and calls ProcessReady() when it becomes readable. Handlers run only on
// that thread, one at a time. ProcessReady may be re-entered from within a handler (a modal
// box runs its own loop): the connection whose record is being handled is not read again
// until its answer has been written, and the records and answers of the interrupted round
// are served by the inner loop.
//
// A quiet connection is read and answered by the calling thread itself, which keeps a single
// EA's round trip short. A connection answered within a busy round moves to one of the I/O
// lanes, which read its records and write its answers from then on; the calling thread then
// takes the lanes' ready records as a batch per wake-up.
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

    // Called on the serving thread after a batch of handlers has run and before any of their
    // answers is released: no EA sees an answer before the call has returned. It must not
    // throw (an exception leaves ProcessReady, and the answers wait for the next batch).
    void SetBatchDone(std::function<void()> done) { m_batchDone = std::move(done); }

    // Answers that must not reach their EA before what their handlers changed is durable
    // (written to disk by a thread of the caller's, say). At the end of each batch `ticket`
    // gives the position that covers every change so far; an answer for which `mustWait`
    // holds waits, unanswered, until `durable` has reached it. `wakeFd` becomes readable
    // whenever `durable` may have grown (the server reads it to clear it; the caller owns it).
    // A connection whose answer waits is not read meanwhile, so its records keep their order;
    // other connections go on being served. `durable` may give UINT64_MAX when nothing can
    // become durable any more: every waiting answer then goes out. Call before Listen.
    void SetDurability(std::function<uint64_t()> ticket, Predicate mustWait, int wakeFd,
                       std::function<uint64_t()> durable);
    // Sends the waiting answers that `durable` covers now (the server does so when `wakeFd`
    // is readable; the desk at its end, once its last flush is done).
    void ReleaseDurable();
    // Answers waiting for `durable`.
    size_t AwaitingCount() const { return m_awaiting.size(); }

    // Takes a connection accepted elsewhere (its transport already set up): it is served by an
    // I/O lane like any other, within the same cap. Call on the serving thread, after Listen.
    // Returns the connection's id, or 0 when it was refused (the transport is then destroyed).
    uint64_t Adopt(std::unique_ptr<LinkTransport> transport);
    // Closes a connection at once (its queued answers are given up); nothing when it is gone.
    void Disconnect(uint64_t id);

    // Records for which `nests` holds may run a nested loop in their handler (a modal box).
    // At most `limit` of them are handled at once; a further one is held, unanswered, its
    // connection not read, until one of them returns. Other records go on being served.
    void SetNestingLimit(int limit, Predicate nests);
    // Connections beyond the cap are closed as soon as they are accepted.
    // Listen sets it to half of the open-files limit in force.
    void SetMaxConnections(size_t cap) { m_maxConns = cap; }
    size_t MaxConnections() const { return m_maxConns; }

    // May be read from any thread (tests watch the link from outside its serving thread).
    size_t ConnectionCount() const { return m_connCount.load(std::memory_order_relaxed); }
    // Records read and waiting for a nested handler to return.
    size_t HeldCount() const { return m_heldNesting.size() + m_heldOther.size(); }
    // Handlers running now, one inside the other.
    int Depth() const { return m_depth; }
    const std::string& Path() const { return m_path; }

    // A round with this many records moves its connections to the I/O lanes.
    static constexpr int kOffloadBatch = 16;
    // The lanes read and write; the handlers stay on the serving thread. The lanes absorb the
    // cost of the system calls and of waking the EAs, three system calls per record; on an
    // eight-core machine six of them served 64 busy EAs best, more take cores from the EAs,
    // which usually run on the same machine.
    static constexpr int kIoLanes = 6;
    // After a busy round, how long the serving thread looks for the lanes' next records
    // before it returns to its loop.
    static constexpr std::chrono::microseconds kAwaitNews{30};
    // However the handlers nest, no deeper than this: any further record is held.
    static constexpr int kMaxDepth = 64;

private:
    struct Socket;
    class Lanes;
    enum class Watch { None, HangUp, Read };
    struct Conn {
        std::shared_ptr<Socket> sock;
        int fd = -1;
        uint64_t id = 0;
        unsigned have = 0;
        bool laned = false;  // read and answered by its lane
        bool pinned = false; // adopted: never read by the serving thread
        bool queued = false; // a whole record in buf waits in this round's batch
        bool busy = false;   // its record is being handled, or its answer waits for the batch's end
        bool held = false;   // a whole record waits in buf for a nested handler to return
        Watch watch = Watch::Read;
        unsigned char buf[16];
    };
    struct Pending {
        uint64_t id;
        unsigned char rec[16];
    };
    struct Awaiting {
        uint64_t id;
        uint64_t ticket;
        unsigned char rec[16];
    };
    uint64_t AddConnection(std::unique_ptr<LinkTransport> t, bool pinned);
    void AcceptAll();
    void PauseAccepting();
    void ResumeAccepting();
    void Serve(uint64_t id);
    void TakeFromLanes();
    int RunBatch();
    void Handle(uint64_t id, bool nests);
    int ServeHeld();
    bool MayRun(bool nests) const;
    void Release();
    void Deliver(Conn& c, const unsigned char rec[16], bool busy);
    void AnswerDirect(Conn& c, const unsigned char out[16]);
    void MoveToLane(Conn& c, const unsigned char out[16], unsigned sent);
    void Drop(uint64_t id, bool broken);
    bool SetWatch(Conn& c, Watch w);
    Watch WantedWatch(const Conn& c) const;
    void SignalWork();
    bool AwaitNews() const;
    bool ServeQuiet(int& served);
    void NoteQuiet(uint64_t id);

    Handler m_handler;
    Predicate m_nests;
    std::function<void()> m_batchDone;
    std::function<uint64_t()> m_ticket, m_durable;
    Predicate m_mustWait;
    int m_durableWake = -1;          // not ours
    std::deque<Awaiting> m_awaiting; // in the order of their tickets
    int m_nestLimit = 16;
    int m_nestOpen = 0;
    int m_depth = 0;
    int m_listen = -1;
    int m_epoll = -1;
    int m_wake = -1;    // eventfd: the lanes have records or news
    int m_work = -1;    // eventfd: records or answers of an interrupted round wait
    int m_timer = -1;   // timerfd: accepting resumes
    int m_reserve = -1; // a spare descriptor, given up to refuse a connection when none is left
    bool m_accepting = false;
    bool m_workSignalled = false;
    bool m_busyRound = false;
    uint64_t m_quiet = 0;                 // the connection that alone sent the last records
    int m_quietStreak = 0;                // rounds in a row with its record alone
    int m_quietRun = 0;                   // records taken from it without asking the epoll set
    std::atomic<size_t> m_maxConns{1024}; // may be lowered from another thread
    uint64_t m_nextId = 16;
    std::string m_path;
    std::unordered_map<uint64_t, std::unique_ptr<Conn>> m_conns;
    std::atomic<size_t> m_connCount{0}; // m_conns.size(), for readers on other threads
    std::deque<uint64_t> m_ready;       // this round's records, in arrival order
    std::vector<Pending> m_pending;     // answers waiting for the batch's end
    std::deque<uint64_t> m_heldNesting, m_heldOther;
    std::unique_ptr<Lanes> m_lanes;
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
