#pragma once
// Inside of the client dataset engine: the shared table and its indexes. Used by the cursor
// and the data-packet code only.
#include <algorithm>
#include <map>
#include <mutex>
#include <unordered_map>

#include "platform/clientdataset.h"

namespace quorvel::cds {

constexpr int kMaxColumns = 64;

struct Record {
    uint64_t seq = 0;   // serial number: natural order and bookmark
    uint64_t nulls = 0; // bit c set: column c is null
    std::vector<double> v;
    bool IsNull(int c) const { return (nulls >> c) & 1u; }
};

// Sum of a column kept exact in units of 1e-8, so that values with up to eight decimals
// add and cancel without drift; values that do not fit fall back to a plain sum.
struct SumAccum {
    __int128 scaled = 0;
    int64_t count = 0;
    int64_t unscalable = 0;
};

// The columns of an ordered index, most significant first.
using IndexColumns = std::vector<int>;

struct OrderedIndex {
    IndexColumns columns;
    int users = 0;
    std::vector<Record*> recs; // ascending by (not null, value) of each column in turn, then seq
};

struct Snapshot;

struct Table {
    std::vector<FieldDef> defs;
    std::unordered_map<std::string, int> byLowerName;
    std::vector<std::unique_ptr<Record>> records; // natural order: seq ascending
    uint64_t nextSeq = 1;
    uint64_t version = 0; // counts the record changes: appends, edits and deletes
    int64_t nextAutoInc = 1;
    int autoIncColumn = -1;
    std::map<int, std::unordered_map<int64_t, std::vector<Record*>>> keys;
    std::map<IndexColumns, OrderedIndex> ordered;
    std::map<int, SumAccum> sums;
    std::vector<ClientDataSet*> cursors;
    std::vector<Snapshot*> snapshots; // held snapshots; each sees the rows as they were
    // Columns of a loaded packet whose types the engine does not hold (memos, bytes, other
    // integer sizes, ...): name and packet type. Their values are not loaded, and a cursor that
    // holds a field of such a name fails to open with a type mismatch.
    std::vector<std::pair<std::string, std::string>> foreign;
    // The texts of the string columns: a cell holds the number of its text here. Texts are
    // only added (on the table's thread, under textLock), so a number stays valid for good
    // and a snapshot's writer on another thread reads them under textLock.
    std::vector<std::string> texts;
    std::unordered_map<std::string, uint32_t> textIds;
    mutable std::mutex textLock;
    // Told of every record change (ClientDataSet::SetChangeListener).
    std::function<void(const RecordChange&)> changeListener;

    explicit Table(std::vector<FieldDef> d);
    int Column(std::string_view name) const; // -1 when none
    size_t NaturalPos(const Record* r) const;
    Record* BySeq(uint64_t seq) const;

    double Intern(const std::string& text);
    // On the table's thread.
    const std::string& TextOf(double id) const { return texts[static_cast<size_t>(id)]; }
    // On any thread.
    std::string LockedTextOf(double id) const;
    bool IsText(int column) const { return defs[static_cast<size_t>(column)].type == FieldType::String; }

    // Ordered index on one or more columns, built on first use.
    OrderedIndex& Ordered(const IndexColumns& columns);
    void ReleaseOrdered(const IndexColumns& columns);
    bool Less(const IndexColumns& columns, const Record* a, const Record* b) const;
    // Hash index on an integer column, built on first use.
    std::unordered_map<int64_t, std::vector<Record*>>& Keys(int column);
    SumAccum& Sum(int column);
    double PlainSum(int column) const;

    // Record changes; they keep every index and sum and tell every cursor.
    Record* Insert(std::unique_ptr<Record> r);
    void Update(Record* r, const std::vector<double>& v, uint64_t nulls);
    void Remove(Record* r);
    // Appends during a load (no cursor yet, no indexes).
    void LoadRecord(std::unique_ptr<Record> r);

private:
    void TellChange(RecordChange::Kind kind, const Record* r, size_t position, uint64_t columns,
                    const Record* before);
    // Before a row changes or goes: every held snapshot that holds it keeps its present values.
    void KeepForSnapshots(const Record* r);
    // The record enters or leaves the indexes and sums of the columns in `columns`.
    void IndexAdd(Record* r, uint64_t columns = ~0ull);
    void IndexRemove(Record* r, uint64_t columns = ~0ull);
};

// The rows of a table frozen at one moment, for a writer on another thread (TableSnapshot).
// The thread that owns the table never writes a row a snapshot may still read: it puts a copy
// of the row into `before` first, under `lock`. The writer reads a row under `lock` too, from
// `before` when a copy is there, else from the row itself. A row that was deleted since the
// snapshot was taken always has its copy, so its address is never read after it was freed,
// and a row added later (even at a freed address) is no row of `rows`: its seq is beyond
// `lastSeq`, so no copy is made for it and none is looked up.
struct Snapshot {
    std::shared_ptr<Table> table; // kept alive while the snapshot is held
    std::vector<FieldDef> defs;
    int autoIncColumn = -1;
    int64_t nextAutoInc = 1;
    std::vector<const Record*> rows; // natural order at the moment of taking
    uint64_t lastSeq = 0;
    std::mutex lock;
    std::unordered_map<const Record*, Record> before; // guarded by lock

    // Calls fn(const Record&) for every row in order, copying them out a block at a time.
    template <class F> void ForEachRow(F&& fn);
};

template <class F> void Snapshot::ForEachRow(F&& fn) {
    constexpr size_t kBlock = 256;
    std::vector<Record> block(std::min(kBlock, rows.size()));
    for (Record& r : block) r.v.resize(defs.size());
    for (size_t at = 0; at < rows.size(); at += kBlock) {
        const size_t n = std::min(kBlock, rows.size() - at);
        {
            std::lock_guard<std::mutex> hold(lock);
            for (size_t k = 0; k < n; ++k) {
                const Record* src = rows[at + k];
                if (!before.empty()) {
                    const auto it = before.find(src);
                    if (it != before.end()) src = &it->second;
                }
                block[k].nulls = src->nulls;
                std::copy(src->v.begin(), src->v.end(), block[k].v.begin());
            }
        }
        for (size_t k = 0; k < n; ++k) fn(static_cast<const Record&>(block[k]));
    }
}

bool IsIntegerType(FieldType t);
const char* TypeName(FieldType t);

} // namespace quorvel::cds
