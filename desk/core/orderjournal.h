#pragma once
// Orderlist.journal: every change of the order list's records since Orderlist.xml was last
// written, on disk before the EA that caused it gets its answer (the serving thread writes,
// a thread of the journal flushes, and the link holds the answers meanwhile), so that a desk that
// is killed between two saves loses no answered report. At start the journal is replayed over
// the Orderlist.xml it belongs to; after each save of Orderlist.xml it starts anew from what
// that file holds.
//
// The file (integers little-endian):
//   "QVJOURNL", u32 version 1, then records: u32 body length, u32 CRC-32 of the body, the body
//   (u8 type, then its payload). A record cut short by a kill is the journal's end; a record
//   whose CRC does not match, with more behind it, is damage.
//   type 1, the first record: the list file it continues (u8 exists, u64 size, u32 CRC-32 of its
//     bytes), u16 column count, per column u8 type and u8 name length and name.
//   type 2, one change (RecordChange): u8 kind, u32 position, key, u8 cell count, cells. A key
//     is u8 present and f64; a cell u8 column (bit 7 set: null) and its value, f64 or, in a
//     text column, u32 length and bytes.
//   type 3, a save: u64 number of changes since the first record that the file holds, then the
//     file as in type 1. Written before the new Orderlist.xml replaces the old one, so that a
//     kill before the journal starts anew still finds where the file's changes end.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "platform/clientdataset.h"

namespace quorvel {

// What identifies the content of a list file: its size and CRC-32; or that there is none.
struct ListFileId {
    bool exists = false;
    uint64_t size = 0;
    uint32_t crc = 0;
    bool operator==(const ListFileId&) const = default;
    static ListFileId Of(std::string_view bytes);
};

namespace journal {

constexpr char kMagic[] = "QVJOURNL";
constexpr uint32_t kVersion = 1;
constexpr size_t kHeaderSize = 12;
constexpr uint8_t kBase = 1, kChange = 2, kSaved = 3;

struct Column {
    FieldType type;
    std::string name;
    bool operator==(const Column&) const = default;
};

// The start of a journal: magic, version and the first record.
std::string Header(const ListFileId& base, const std::vector<FieldDef>& columns);
// One record: length, CRC, body.
std::string Frame(std::string_view body);
// The body of a change record, of a save record.
std::string ChangeBody(const RecordChange& change, const std::vector<FieldDef>& columns);
std::string SavedBody(uint64_t changes, const ListFileId& file);

struct Change {
    RecordChange::Kind kind = RecordChange::Kind::Appended;
    size_t position = 0;
    Variant key;
    std::vector<std::pair<int, Variant>> cells;
    std::string_view framed; // the whole record as it stands in the file
};
struct Saved {
    uint64_t changes = 0;
    ListFileId file;
};

// A journal read back. `ok` false: no journal of this kind (see `damage`). A torn tail is
// dropped silently; damage beyond it ends the reading with `damage` set, keeping what came
// before.
struct Parsed {
    bool ok = false;
    ListFileId base;
    std::vector<Column> columns;
    std::vector<Change> changes;
    std::vector<std::pair<size_t, Saved>> saves; // after that many changes
    bool tornTail = false;
    std::string damage; // empty: none
};
Parsed Parse(std::string_view bytes);

} // namespace journal

class OrderJournal {
public:
    explicit OrderJournal(std::string path);
    ~OrderJournal();
    OrderJournal(const OrderJournal&) = delete;
    OrderJournal& operator=(const OrderJournal&) = delete;
    const std::string& Path() const { return m_path; }

    // At start, once `list` is loaded from the file identified by `base` (or created empty):
    // replays the journal that belongs to it, sets aside one that does not or that is damaged
    // (noting what became of it), and starts a journal of the list as it now stands. Throws
    // FileError when that journal cannot be written; the list is replayed all the same, and
    // the changes that follow are kept in memory (Broken).
    void Open(ClientDataSet& list, const ListFileId& base, std::vector<std::string>& notes);
    // Takes one change of the list (its change listener).
    void Record(const RecordChange& change);
    // Changes taken and not yet written.
    bool Pending() const { return !m_broken && !m_pending.empty(); }
    // Nothing taken since the last write (a broken journal keeps what it takes).
    bool Idle() const { return m_pending.empty(); }
    // Writes the pending changes (to the system's cache: microseconds) and has the journal's
    // flusher thread take them to disk. Throws FileError when the write fails; the journal is
    // then broken until a save lets it start anew.
    void Write();
    // As Write, then waits until what was written is on disk. Throws FileError when the write
    // or the flush fails.
    void Commit();
    // ---- group commit -------------------------------------------------------------------------
    // Positions in the stream of bytes written since the journal was created; they only grow,
    // across new starts as well. Written: what Write has handed to the system so far; Durable:
    // what the flusher has taken to disk (fdatasync), or what a new start wrote with the file.
    // A flush covers everything written before it began; the next begins as soon as it ends
    // while more is written. Any thread may read them.
    uint64_t Written() const { return m_written.load(std::memory_order_acquire); }
    uint64_t Durable() const { return m_durable.load(std::memory_order_acquire); }
    // Readable (an eventfd) whenever Durable has grown or a flush failed since it was last
    // read; the reader clears it. -1 when none could be made.
    int WakeFd() const { return m_wakeFd; }
    // The call that takes a descriptor's data to disk (fdatasync); for tests of slow and
    // failing disks.
    void SetSyncCall(std::function<int(int)> sync) {
        std::lock_guard<std::mutex> hold(m_fileLock);
        m_sync = std::move(sync);
    }
    bool Broken() const { return m_broken; }
    // Why it broke (the last error of a write or a flush).
    std::string LastError() const {
        std::lock_guard<std::mutex> hold(m_fileLock);
        return m_error;
    }
    // Changes recorded since the journal was opened.
    uint64_t Changes() const { return m_changes; }
    // The flusher's flushes so far, the longest of them and those over 5 ms (any thread).
    uint64_t Flushes() const { return m_flushes.load(std::memory_order_relaxed); }
    double LongestFlushMs() const {
        return static_cast<double>(m_longestFlushNs.load(std::memory_order_relaxed)) / 1e6;
    }
    uint64_t SlowFlushes() const { return m_slowFlushes.load(std::memory_order_relaxed); }
    // Where the records in the file end. Behind them the flusher keeps room ahead of the writes,
    // zeros already on disk, so that a flush has only the new records to take there, not the
    // file's growth as well.
    uint64_t Length() const {
        std::lock_guard<std::mutex> hold(m_fileLock);
        return m_length;
    }
    static constexpr uint64_t kRoomAhead = uint64_t{512} << 10;
    static constexpr uint64_t kRoomStep = uint64_t{128} << 10;

    // ---- saves of the list ----------------------------------------------------------------
    // Where the journal stood when a snapshot of the list was taken: the changes up to here
    // are in it. Commits first (FileError as Commit; a broken journal gives its mark all the same).
    struct Mark {
        uint64_t changes = 0;
        uint64_t offset = 0;        // the file's length then
        uint64_t offsetChanges = 0; // the changes in the file up to offset
    };
    Mark TakeMark();
    // On the thread that writes the snapshot, before the file replaces Orderlist.xml: the file
    // `saved` holds the changes up to `mark`. Nothing for a broken journal. Throws FileError.
    void NoteSaved(const Mark& mark, const ListFileId& saved);
    // Once the file replaced Orderlist.xml: the journal starts anew from it, with the changes
    // after `mark`. A broken journal works again when this succeeds. Throws FileError.
    void Restart(const Mark& mark, const ListFileId& saved);

private:
    void OpenForAppend(uint64_t length);
    void CloseFile();                         // under m_fileLock
    void WriteLocked(std::string_view bytes); // under m_fileLock
    // Takes what the file holds to disk outside m_fileLock, through a descriptor of its own:
    // a save that closes or replaces the file meanwhile leaves it untouched. False on failure,
    // with errno set.
    bool SyncFile();
    void StartFlusher();
    void WantFlush(uint64_t upTo);
    void WantRoom();
    void MakeRoom();
    void NoteFlush(std::chrono::steady_clock::duration took); // on the flusher thread
    void Flusher();
    void AdvanceDurable(uint64_t to);
    void Wake();

    std::string m_path;
    std::vector<FieldDef> m_columns;
    int m_fd = -1;
    mutable std::mutex m_fileLock; // the file's appends: this thread's commits, the writer's save record
    std::string m_error;           // under m_fileLock
    uint64_t m_length = 0;         // of the file as written
    uint64_t m_allocated = 0;      // of the file with its room of zeros behind the records
    bool m_roomFailed = false;     // the room could not be written: the file grows as it is written
    std::atomic<bool> m_roomWanted{false};
    std::string m_pending;      // framed change records not yet written
    uint64_t m_changes = 0;     // ordinal of the next change
    uint64_t m_fileFirst = 0;   // ordinal of the file's first change
    uint64_t m_fileChanges = 0; // ordinal of the first change not in the file
    std::atomic<bool> m_broken{false};
    bool m_open = false;
    bool m_keepFile = false; // a damaged journal that could not be set aside: never replaced

    // The flusher. m_fd, m_generation and the bytes counted in m_written change under
    // m_fileLock; the flusher duplicates the descriptor under it and flushes the duplicate.
    std::function<int(int)> m_sync; // under m_fileLock
    std::atomic<uint64_t> m_flushes{0}, m_longestFlushNs{0}, m_slowFlushes{0};
    std::atomic<uint64_t> m_written{0};
    std::atomic<uint64_t> m_durable{0};
    uint64_t m_generation = 0; // under m_fileLock: grows each time the file is closed or replaced
    int m_wakeFd = -1;
    std::mutex m_flushLock;
    std::condition_variable m_flushWanted; // the flusher waits here
    std::condition_variable m_flushEnded;  // Commit waits here
    uint64_t m_wanted = 0;                 // under m_flushLock: flush up to here
    bool m_stop = false;                   // under m_flushLock
    std::thread m_flusher;
};

} // namespace quorvel
