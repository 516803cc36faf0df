#pragma once
// Inside of the client dataset engine: the shared table and its indexes. Used by the cursor
// and the data-packet code only.
#include <map>
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

struct OrderedIndex {
    int column = -1;
    int users = 0;
    std::vector<Record*> recs; // ascending by (not null, value, seq)
};

struct Table {
    std::vector<FieldDef> defs;
    std::unordered_map<std::string, int> byLowerName;
    std::vector<std::unique_ptr<Record>> records; // natural order: seq ascending
    uint64_t nextSeq = 1;
    int64_t nextAutoInc = 1;
    int autoIncColumn = -1;
    std::map<int, std::unordered_map<int64_t, std::vector<Record*>>> keys;
    std::map<int, OrderedIndex> ordered;
    std::map<int, SumAccum> sums;
    std::vector<ClientDataSet*> cursors;

    explicit Table(std::vector<FieldDef> d);
    int Column(std::string_view name) const; // -1 when none
    size_t NaturalPos(const Record* r) const;
    Record* BySeq(uint64_t seq) const;

    // Ordered index on a column, built on first use.
    OrderedIndex& Ordered(int column);
    void ReleaseOrdered(int column);
    static bool Less(int column, const Record* a, const Record* b);
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
    // The record enters or leaves the indexes and sums of the columns in `columns`.
    void IndexAdd(Record* r, uint64_t columns = ~0ull);
    void IndexRemove(Record* r, uint64_t columns = ~0ull);
};

bool IsIntegerType(FieldType t);
const char* TypeName(FieldType t);

} // namespace quorvel::cds
