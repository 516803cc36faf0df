// The order list's journal: its record format, its replay at start, its appends and flushes,
// and its new start after each save of Orderlist.xml.
#include "desk/core/orderjournal.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <system_error>
#include <unistd.h>

#include "platform/crc32.h"
#include "platform/files.h"

namespace quorvel {

ListFileId ListFileId::Of(std::string_view bytes) {
    return ListFileId{true, bytes.size(), Crc32(bytes)};
}

namespace journal {

namespace {

// Far beyond any record of a list of 64 columns; a longer length is damage, also where it
// would reach beyond the end of the file.
constexpr uint32_t kMaxBody = uint32_t{1} << 20;

struct Out {
    std::string s;
    void U8(uint8_t v) { s.push_back(static_cast<char>(v)); }
    void U16(uint16_t v) {
        for (int i = 0; i < 2; ++i) U8(static_cast<uint8_t>(v >> (8 * i)));
    }
    void U32(uint32_t v) {
        for (int i = 0; i < 4; ++i) U8(static_cast<uint8_t>(v >> (8 * i)));
    }
    void U64(uint64_t v) {
        for (int i = 0; i < 8; ++i) U8(static_cast<uint8_t>(v >> (8 * i)));
    }
    void F64(double v) {
        uint64_t bits;
        std::memcpy(&bits, &v, sizeof bits);
        U64(bits);
    }
    void Bytes(std::string_view b) { s.append(b); }
};

struct In {
    std::string_view s;
    size_t at = 0;
    bool ok = true;
    bool Has(size_t n) {
        if (s.size() - at < n) ok = false;
        return ok;
    }
    uint64_t Uint(int bytes) {
        if (!Has(static_cast<size_t>(bytes))) return 0;
        uint64_t v = 0;
        for (int i = 0; i < bytes; ++i)
            v |= uint64_t(static_cast<unsigned char>(s[at + static_cast<size_t>(i)])) << (8 * i);
        at += static_cast<size_t>(bytes);
        return v;
    }
    uint8_t U8() { return static_cast<uint8_t>(Uint(1)); }
    uint16_t U16() { return static_cast<uint16_t>(Uint(2)); }
    uint32_t U32() { return static_cast<uint32_t>(Uint(4)); }
    uint64_t U64() { return Uint(8); }
    double F64() {
        const uint64_t bits = U64();
        double v;
        std::memcpy(&v, &bits, sizeof v);
        return v;
    }
    std::string_view Bytes(size_t n) {
        if (!Has(n)) return {};
        const std::string_view b = s.substr(at, n);
        at += n;
        return b;
    }
    bool End() const { return at == s.size(); }
};

void PutFile(Out& o, const ListFileId& f) {
    o.U8(f.exists ? 1 : 0);
    o.U64(f.size);
    o.U32(f.crc);
}

ListFileId GetFile(In& in) {
    ListFileId f;
    const uint8_t exists = in.U8();
    f.exists = exists == 1;
    if (exists > 1) in.ok = false;
    f.size = in.U64();
    f.crc = in.U32();
    return f;
}

bool IsText(FieldType t) {
    return t == FieldType::String;
}

// One record read from `bytes` at `at`.
enum class Next { Record, End, Torn, Damaged };
struct Raw {
    uint8_t type = 0;
    std::string_view payload;
    std::string_view framed;
};
bool ZerosFrom(std::string_view bytes, size_t from) {
    return from >= bytes.size() || bytes.find_first_not_of('\0', from) == std::string_view::npos;
}
Next ReadRecord(std::string_view bytes, size_t& at, Raw& out) {
    const std::string_view rest = bytes.substr(at);
    // The zeros behind the last record are the room the journal keeps ahead of its writes (or
    // that the system gave an appending file before a kill let it be written).
    if (ZerosFrom(rest, 0)) return Next::End;
    In in{rest};
    const uint32_t len = in.U32();
    const uint32_t crc = in.U32();
    if (!in.ok) return Next::Torn;
    // A record written only in part, over that room or at the file's end, has nothing but
    // zeros behind it: the journal's end. Anything else behind it is damage.
    if (len == 0 || len > kMaxBody) return ZerosFrom(rest, 8) ? Next::Torn : Next::Damaged;
    if (rest.size() - 8 < len) return Next::Torn;
    const std::string_view body = rest.substr(8, len);
    if (Crc32(body) != crc) return ZerosFrom(rest, 8 + size_t{len}) ? Next::Torn : Next::Damaged;
    out.type = static_cast<uint8_t>(body[0]);
    out.payload = body.substr(1);
    out.framed = rest.substr(0, 8 + size_t{len});
    at += 8 + size_t{len};
    return Next::Record;
}

bool GetCell(In& in, const std::vector<Column>& columns, std::pair<int, Variant>& cell) {
    const uint8_t head = in.U8();
    const int c = head & 0x7F;
    if (!in.ok || static_cast<size_t>(c) >= columns.size()) return false;
    cell.first = c;
    if (head & 0x80) {
        cell.second = Variant();
        return true;
    }
    const FieldType type = columns[static_cast<size_t>(c)].type;
    if (IsText(type)) {
        const uint32_t n = in.U32();
        const std::string_view text = in.Bytes(n);
        cell.second = Variant(std::string(text));
    } else {
        cell.second = Variant::Of(type, in.F64());
    }
    return in.ok;
}

bool GetChange(std::string_view payload, const std::vector<Column>& columns, Change& out) {
    In in{payload};
    const uint8_t kind = in.U8();
    if (kind < 1 || kind > 3) return false;
    out.kind = static_cast<RecordChange::Kind>(kind);
    out.position = in.U32();
    const uint8_t hasKey = in.U8();
    const double key = in.F64();
    if (hasKey > 1) return false;
    out.key = hasKey ? Variant(key) : Variant();
    const uint8_t n = in.U8();
    out.cells.resize(n);
    for (auto& cell : out.cells)
        if (!GetCell(in, columns, cell)) return false;
    return in.ok && in.End();
}

} // namespace

std::string Frame(std::string_view body) {
    Out o;
    o.U32(static_cast<uint32_t>(body.size()));
    o.U32(Crc32(body));
    o.Bytes(body);
    return std::move(o.s);
}

std::string Header(const ListFileId& base, const std::vector<FieldDef>& columns) {
    Out body;
    body.U8(kBase);
    PutFile(body, base);
    body.U16(static_cast<uint16_t>(columns.size()));
    for (const FieldDef& d : columns) {
        body.U8(static_cast<uint8_t>(d.type));
        body.U16(static_cast<uint16_t>(d.name.size()));
        body.Bytes(d.name);
    }
    Out o;
    o.Bytes(std::string_view(kMagic, 8));
    o.U32(kVersion);
    o.Bytes(Frame(body.s));
    return std::move(o.s);
}

std::string ChangeBody(const RecordChange& change, const std::vector<FieldDef>& columns) {
    Out o;
    o.U8(kChange);
    o.U8(static_cast<uint8_t>(change.kind));
    o.U32(static_cast<uint32_t>(change.position));
    o.U8(change.key.IsNull() ? 0 : 1);
    o.F64(change.key.IsNull() ? 0.0 : change.key.Raw());
    uint8_t n = 0;
    for (uint64_t m = change.columns; m; m &= m - 1) ++n;
    o.U8(n);
    for (uint64_t m = change.columns; m; m &= m - 1) {
        const int c = __builtin_ctzll(m);
        const Variant v = change.Value(c);
        if (v.IsNull()) {
            o.U8(static_cast<uint8_t>(c | 0x80));
            continue;
        }
        o.U8(static_cast<uint8_t>(c));
        if (static_cast<size_t>(c) < columns.size() && IsText(columns[static_cast<size_t>(c)].type)) {
            const std::string text = v.AsString();
            o.U32(static_cast<uint32_t>(text.size()));
            o.Bytes(text);
        } else {
            o.F64(v.Raw());
        }
    }
    return std::move(o.s);
}

std::string SavedBody(uint64_t changes, const ListFileId& file) {
    Out o;
    o.U8(kSaved);
    o.U64(changes);
    PutFile(o, file);
    return std::move(o.s);
}

Parsed Parse(std::string_view bytes) {
    Parsed p;
    if (bytes.size() < kHeaderSize || bytes.substr(0, 8) != std::string_view(kMagic, 8)) {
        p.damage = "is no journal of the order list";
        return p;
    }
    In head{bytes.substr(8, 4)};
    const uint32_t version = head.U32();
    if (version != kVersion) {
        p.damage = "is of version " + std::to_string(version) + ", which this desk does not read";
        return p;
    }
    size_t at = kHeaderSize;
    Raw raw;
    bool baseOk = ReadRecord(bytes, at, raw) == Next::Record && raw.type == kBase;
    if (baseOk) {
        In in{raw.payload};
        p.base = GetFile(in);
        const uint16_t n = in.U16();
        for (uint16_t i = 0; in.ok && i < n; ++i) {
            const uint8_t type = in.U8();
            const uint16_t len = in.U16();
            const std::string_view name = in.Bytes(len);
            if (type > static_cast<uint8_t>(FieldType::String)) in.ok = false;
            p.columns.push_back(Column{static_cast<FieldType>(type), std::string(name)});
        }
        baseOk = in.ok && in.End() && p.columns.size() <= 64;
    }
    if (!baseOk) {
        p.damage = "has no readable beginning";
        p.columns.clear();
        return p;
    }
    p.ok = true;
    for (;;) {
        const size_t start = at;
        const Next next = ReadRecord(bytes, at, raw);
        if (next == Next::End) break;
        if (next == Next::Torn) {
            p.tornTail = true;
            break;
        }
        auto damaged = [&] { p.damage = "holds a damaged record at byte " + std::to_string(start); };
        if (next == Next::Damaged) {
            damaged();
            break;
        }
        if (raw.type == kChange) {
            Change c;
            if (!GetChange(raw.payload, p.columns, c)) {
                damaged();
                break;
            }
            c.framed = raw.framed;
            p.changes.push_back(std::move(c));
        } else if (raw.type == kSaved) {
            In in{raw.payload};
            Saved s;
            s.changes = in.U64();
            s.file = GetFile(in);
            if (!in.ok || !in.End()) {
                damaged();
                break;
            }
            p.saves.emplace_back(p.changes.size(), s);
        } else {
            damaged();
            break;
        }
    }
    return p;
}

// Calls fn(framed) for every whole change record in `bytes` (records only, no header).
template <class F> void ForEachChange(std::string_view bytes, F&& fn) {
    size_t at = 0;
    Raw raw;
    while (ReadRecord(bytes, at, raw) == Next::Record)
        if (raw.type == kChange) fn(raw.framed);
}

} // namespace journal

namespace {

std::string ErrnoText(const char* what, const std::string& path, int err) {
    return std::string(what) + " " + path + ": " + std::strerror(err);
}

std::vector<journal::Column> ColumnsOf(const std::vector<FieldDef>& defs) {
    std::vector<journal::Column> out;
    for (const FieldDef& d : defs) out.push_back(journal::Column{d.type, d.name});
    return out;
}

} // namespace

OrderJournal::OrderJournal(std::string path)
    : m_path(std::move(path)), m_sync([](int fd) { return fdatasync(fd); }),
      m_wakeFd(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}

OrderJournal::~OrderJournal() {
    // What was written goes to disk before the thread ends.
    {
        std::lock_guard<std::mutex> hold(m_flushLock);
        m_stop = true;
    }
    m_flushWanted.notify_all();
    if (m_flusher.joinable()) m_flusher.join();
    {
        std::lock_guard<std::mutex> hold(m_fileLock);
        CloseFile();
    }
    if (m_wakeFd >= 0) close(m_wakeFd);
}

void OrderJournal::CloseFile() {
    if (m_fd >= 0) close(m_fd);
    m_fd = -1;
    ++m_generation;
}

void OrderJournal::OpenForAppend(uint64_t length) {
    std::lock_guard<std::mutex> hold(m_fileLock);
    CloseFile();
    m_fd = open(m_path.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY);
    if (m_fd < 0) {
        m_broken = true;
        m_error = ErrnoText("Cannot write", m_path, errno);
        throw FileError(m_error);
    }
    m_length = m_allocated = length;
    m_roomFailed = false;
}

void OrderJournal::WriteLocked(std::string_view bytes) {
    auto fail = [this](int err) {
        // What part of it reached the file goes again, so that the next append follows whole records.
        if (m_fd >= 0 && ftruncate(m_fd, static_cast<off_t>(m_length)) != 0) {
        }
        m_allocated = m_length;
        m_broken = true;
        m_error = ErrnoText("Cannot write", m_path, err);
        throw FileError(m_error);
    };
    if (m_fd < 0) fail(EBADF);
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n =
            pwrite(m_fd, bytes.data() + done, bytes.size() - done, static_cast<off_t>(m_length + done));
        if (n < 0) {
            if (errno == EINTR) continue;
            fail(errno);
        }
        done += static_cast<size_t>(n);
    }
    m_length += bytes.size();
    if (m_allocated < m_length) m_allocated = m_length; // beyond the room: the file grew
    if (!m_roomFailed && m_allocated < m_length + kRoomAhead - kRoomStep) m_roomWanted = true;
}

void OrderJournal::MakeRoom() {
    m_roomWanted = false;
    // A piece at a time, so that the serving thread's writes wait for one piece at most.
    static const std::string zeros(64 << 10, '\0');
    for (uint64_t made = 0; made < kRoomStep; made += zeros.size()) {
        std::lock_guard<std::mutex> hold(m_fileLock);
        if (m_fd < 0 || m_broken || m_roomFailed || m_allocated >= m_length + kRoomAhead) return;
        const uint64_t from = std::max(m_allocated, m_length);
        size_t done = 0;
        while (done < zeros.size()) {
            const ssize_t n =
                pwrite(m_fd, zeros.data() + done, zeros.size() - done, static_cast<off_t>(from + done));
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) {
                // A full disk, say: the journal goes on growing as it is written. What part of
                // the room was written is zeros, which the reading takes for the end.
                m_roomFailed = true;
                return;
            }
            done += static_cast<size_t>(n);
        }
        m_allocated = from + zeros.size();
    }
    // One step while the flusher is idle: the next flush takes it to disk with the file's new
    // size, and each write that finds the room short asks for the next.
}

bool OrderJournal::SyncFile() {
    int fd;
    std::function<int(int)> sync;
    {
        std::lock_guard<std::mutex> hold(m_fileLock);
        if (m_fd < 0) {
            errno = EBADF;
            return false;
        }
        fd = fcntl(m_fd, F_DUPFD_CLOEXEC, 0);
        sync = m_sync;
    }
    if (fd < 0) return false;
    const int rc = sync(fd);
    const int err = errno;
    close(fd);
    errno = err;
    return rc == 0;
}

void OrderJournal::Wake() {
    if (m_wakeFd < 0) return;
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = ::write(m_wakeFd, &one, sizeof one);
}

void OrderJournal::AdvanceDurable(uint64_t to) {
    uint64_t was = m_durable.load(std::memory_order_relaxed);
    while (was < to && !m_durable.compare_exchange_weak(was, to, std::memory_order_acq_rel)) {
    }
    { std::lock_guard<std::mutex> hold(m_flushLock); }
    m_flushEnded.notify_all();
    Wake();
}

void OrderJournal::WantFlush(uint64_t upTo) {
    {
        std::lock_guard<std::mutex> hold(m_flushLock);
        if (upTo > m_wanted) m_wanted = upTo;
    }
    if (!m_flusher.joinable()) StartFlusher();
    m_flushWanted.notify_one();
}

void OrderJournal::NoteFlush(std::chrono::steady_clock::duration took) {
    const auto ns = static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(took).count());
    m_flushes.fetch_add(1, std::memory_order_relaxed);
    if (ns > 5'000'000) m_slowFlushes.fetch_add(1, std::memory_order_relaxed);
    if (ns > m_longestFlushNs.load(std::memory_order_relaxed))
        m_longestFlushNs.store(ns, std::memory_order_relaxed);
}

void OrderJournal::WantRoom() {
    m_roomWanted = true;
    { std::lock_guard<std::mutex> hold(m_flushLock); } // a flusher that looked before waits now
    if (!m_flusher.joinable()) StartFlusher();
    m_flushWanted.notify_one();
}

void OrderJournal::StartFlusher() {
    try {
        m_flusher = std::thread([this] { Flusher(); });
    } catch (const std::system_error&) {
        // No thread to be had: this thread flushes, as before there was a flusher.
        const uint64_t generation = [this] {
            std::lock_guard<std::mutex> hold(m_fileLock);
            return m_generation;
        }();
        const uint64_t upTo = Written();
        if (SyncFile()) {
            AdvanceDurable(upTo);
            return;
        }
        const int err = errno;
        std::lock_guard<std::mutex> hold(m_fileLock);
        if (generation != m_generation) return;
        m_broken = true;
        m_error = ErrnoText("Cannot flush", m_path, err);
        Wake();
    }
}

void OrderJournal::Flusher() {
    // Signals go to the other threads: their handlers expect the main thread's state.
    sigset_t all;
    sigfillset(&all);
    pthread_sigmask(SIG_BLOCK, &all, nullptr);
    std::unique_lock<std::mutex> lock(m_flushLock);
    for (;;) {
        m_flushWanted.wait(lock, [this] { return m_stop || m_wanted > Durable() || m_roomWanted; });
        if (m_wanted <= Durable()) {
            if (m_stop) return; // nothing is left to flush
            // Room is made while nothing waits for a flush; the next flush takes it to disk
            // with the records written by then.
            lock.unlock();
            MakeRoom();
            lock.lock();
            continue;
        }
        lock.unlock();
        // Everything written up to now is in the file the descriptor refers to: one flush
        // covers it all. A new start of the journal (a new file) makes it durable by itself,
        // so a flush of the file it replaced has nothing to report either way.
        uint64_t upTo, generation;
        {
            std::lock_guard<std::mutex> hold(m_fileLock);
            upTo = Written();
            generation = m_generation;
        }
        const auto began = std::chrono::steady_clock::now();
        const bool ok = SyncFile();
        const int err = errno;
        NoteFlush(std::chrono::steady_clock::now() - began);
        if (ok) {
            AdvanceDurable(upTo);
        } else {
            // Failed on the file that is still the journal: it is broken. No file open (a new
            // start that could not open it): broken already. Either way it is not tried
            // again: a broken journal writes nothing until a save lets it start anew, and that
            // start is on disk by itself. Failed on a file a new start replaced: the flush of
            // the new file follows.
            bool giveUp = false;
            {
                std::lock_guard<std::mutex> hold(m_fileLock);
                if (m_fd < 0) {
                    giveUp = true;
                } else if (generation == m_generation) {
                    giveUp = true;
                    m_broken = true;
                    m_error = ErrnoText("Cannot flush", m_path, err);
                }
            }
            if (giveUp) {
                {
                    std::lock_guard<std::mutex> hold(m_flushLock);
                    m_wanted = Durable();
                }
                m_flushEnded.notify_all();
                Wake();
            }
        }
        lock.lock();
    }
}

void OrderJournal::Open(ClientDataSet& list, const ListFileId& base, std::vector<std::string>& notes) {
    m_columns = list.FieldDefs();
    m_open = true;
    std::string problem;
    std::string kept; // the changes replayed, carried into the new journal
    uint64_t replayed = 0;
    FileRead r = ReadStateFile(m_path);
    switch (r.status) {
    case ReadStatus::Missing:
        break;
    case ReadStatus::NotRegular:
        problem = "is not a regular file and was not read";
        break;
    case ReadStatus::Unreadable:
        problem = "cannot be read";
        break;
    case ReadStatus::Ok: {
        if (r.truncated) {
            problem = "is too large to be read";
            break;
        }
        const journal::Parsed p = journal::Parse(r.bytes);
        if (!p.ok) {
            problem = p.damage;
            break;
        }
        if (p.columns != ColumnsOf(m_columns)) {
            problem = "was written for other fields than the order list holds";
            break;
        }
        // The changes that the loaded file does not hold yet: all of them when the journal
        // continues that file, else those after the last save of that very file.
        bool belongs = p.base == base;
        uint64_t first = 0;
        for (auto it = p.saves.rbegin(); !belongs && it != p.saves.rend(); ++it)
            if (it->second.file == base) {
                belongs = true;
                first = it->second.changes;
            }
        if (!belongs) {
            problem = "does not belong to the order list that was loaded";
            break;
        }
        for (uint64_t i = first; i < p.changes.size(); ++i) {
            const journal::Change& c = p.changes[i];
            try {
                list.ApplyRecordChange(c.kind, c.position, c.key, c.cells);
            } catch (const DataSetError& e) {
                problem = "holds a change that does not fit the order list (" + std::string(e.what()) + ")";
                break;
            }
            kept.append(c.framed);
            ++replayed;
        }
        if (problem.empty() && !p.damage.empty()) problem = p.damage;
        if (!problem.empty() && replayed > 0)
            problem += "; the " + std::to_string(replayed) + " changes before it were applied";
        break;
    }
    }
    if (!problem.empty()) {
        const std::string aside = SetFileAside(m_path);
        if (aside.empty()) {
            // It stays where it is, unwritten; what follows is kept in memory until a save.
            m_broken = true;
            m_keepFile = true;
            m_pending = std::move(kept);
            m_changes = replayed;
            m_fileChanges = 0;
            notes.push_back(m_path + " " + problem + ". It could not be set aside and is left as it is.");
            throw FileError("Cannot set " + m_path + " aside");
        }
        notes.push_back(m_path + " " + problem + ". It was set aside as " + aside + ".");
    }
    m_changes = replayed;
    m_fileFirst = 0;
    const std::string content = journal::Header(base, m_columns) + kept;
    try {
        WriteFileAtomic(m_path, content);
        OpenForAppend(content.size());
        WantRoom();
    } catch (const FileError&) {
        m_broken = true;
        m_pending = std::move(kept);
        m_fileChanges = 0;
        m_length = 0;
        throw;
    }
    m_fileChanges = replayed;
}

void OrderJournal::Record(const RecordChange& change) {
    if (!m_open) return;
    m_pending += journal::Frame(journal::ChangeBody(change, m_columns));
    ++m_changes;
}

void OrderJournal::Write() {
    if (m_broken || m_pending.empty()) return;
    uint64_t upTo;
    {
        std::lock_guard<std::mutex> hold(m_fileLock);
        WriteLocked(m_pending);
        upTo = m_written.load(std::memory_order_relaxed) + m_pending.size();
        m_written.store(upTo, std::memory_order_release);
    }
    m_pending.clear();
    m_fileChanges = m_changes;
    WantFlush(upTo);
}

void OrderJournal::Commit() {
    if (m_broken) return;
    Write();
    const uint64_t upTo = Written();
    {
        std::unique_lock<std::mutex> lock(m_flushLock);
        m_flushEnded.wait(lock, [&] { return Durable() >= upTo || m_broken || !m_flusher.joinable(); });
    }
    if (Durable() < upTo) throw FileError(LastError());
}

OrderJournal::Mark OrderJournal::TakeMark() {
    std::lock_guard<std::mutex> hold(m_fileLock);
    return Mark{m_changes, m_length, m_fileChanges};
}

void OrderJournal::NoteSaved(const Mark& mark, const ListFileId& saved) {
    if (m_broken) return;
    {
        std::lock_guard<std::mutex> hold(m_fileLock);
        WriteLocked(journal::Frame(journal::SavedBody(mark.changes - m_fileFirst, saved)));
    }
    // On disk before the new list file replaces the old one; the flush runs outside the lock,
    // so that the changes of the serving thread go on being written meanwhile.
    if (!SyncFile()) {
        const int err = errno;
        std::lock_guard<std::mutex> hold(m_fileLock);
        m_broken = true;
        m_error = ErrnoText("Cannot write", m_path, err);
        throw FileError(m_error);
    }
}

void OrderJournal::Restart(const Mark& mark, const ListFileId& saved) {
    if (!m_open) return;
    if (m_keepFile) throw FileError(m_path + " could not be set aside and is left as it is");
    std::string kept;
    // The changes after the mark: those the file holds beyond it, then those still pending.
    uint64_t ordinal = mark.offsetChanges;
    if (m_fd >= 0 && m_length > mark.offset) {
        std::string tail(m_length - mark.offset, '\0');
        const int fd = open(m_path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
        size_t done = 0;
        while (fd >= 0 && done < tail.size()) {
            const ssize_t n =
                pread(fd, tail.data() + done, tail.size() - done, static_cast<off_t>(mark.offset + done));
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;
            done += static_cast<size_t>(n);
        }
        const int err = errno;
        if (fd >= 0) close(fd);
        if (done < tail.size()) throw FileError(ErrnoText("Cannot read", m_path, fd < 0 ? err : EIO));
        journal::ForEachChange(tail, [&](std::string_view framed) {
            if (ordinal++ >= mark.changes) kept.append(framed);
        });
    }
    ordinal = m_fileChanges;
    journal::ForEachChange(m_pending, [&](std::string_view framed) {
        if (ordinal++ >= mark.changes) kept.append(framed);
    });
    const std::string content = journal::Header(saved, m_columns) + kept;
    WriteFileAtomic(m_path, content); // on failure the old journal stands, and still fits
    // The new file is on disk with every change so far, the pending ones included.
    {
        std::lock_guard<std::mutex> hold(m_fileLock);
        m_written.store(Written() + m_pending.size(), std::memory_order_release);
    }
    AdvanceDurable(Written());
    m_broken = false;
    OpenForAppend(content.size());
    WantRoom();
    m_pending.clear();
    m_fileFirst = mark.changes;
    m_fileChanges = m_changes;
}

} // namespace quorvel
