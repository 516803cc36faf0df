// The table shared by the cursors of a client dataset: records in natural order, the hash and
// ordered indexes built on first use, and the sums, all kept up to date as records change.
#include <algorithm>
#include <cmath>

#include "platform/ascii.h"
#include "platform/clientdataset_table.h"

namespace quorvel {

namespace cds {

bool IsIntegerType(FieldType t) {
    return t == FieldType::Integer || t == FieldType::AutoInc;
}

const char* TypeName(FieldType t) {
    switch (t) {
    case FieldType::Integer:
        return "Integer";
    case FieldType::Float:
        return "Float";
    case FieldType::Currency:
        return "Currency";
    case FieldType::DateTime:
        return "DateTime";
    case FieldType::Boolean:
        return "Boolean";
    case FieldType::AutoInc:
        return "AutoInc";
    case FieldType::String:
        return "String";
    }
    return "?";
}

namespace {
constexpr double kSumScale = 1e8;
bool Scalable(double v, __int128& out) {
    if (!std::isfinite(v) || std::fabs(v) > 1e20) return false;
    out = static_cast<__int128>(std::nearbyint(v * kSumScale));
    return true;
}
void SumAdd(SumAccum& s, double v, int sign) {
    __int128 x;
    s.count += sign;
    if (Scalable(v, x))
        s.scaled += sign > 0 ? x : -x;
    else
        s.unscalable += sign;
}
int64_t KeyOf(double v) {
    return static_cast<int64_t>(v);
}
void EraseFrom(std::vector<Record*>& bucket, Record* r) {
    auto it = std::find(bucket.begin(), bucket.end(), r);
    if (it != bucket.end()) {
        *it = bucket.back();
        bucket.pop_back();
    }
}
} // namespace

Table::Table(std::vector<FieldDef> d) : defs(std::move(d)) {
    if (defs.size() > static_cast<size_t>(kMaxColumns)) throw DataSetError("Too many fields");
    for (size_t i = 0; i < defs.size(); ++i) {
        if (defs[i].name.empty()) throw DataSetError("Field name missing");
        if (!byLowerName.emplace(AsciiLower(defs[i].name), static_cast<int>(i)).second)
            throw DataSetError("Duplicate field name '" + defs[i].name + "'");
        if (defs[i].type == FieldType::AutoInc && autoIncColumn < 0) autoIncColumn = static_cast<int>(i);
    }
}

int Table::Column(std::string_view name) const {
    auto it = byLowerName.find(AsciiLower(name));
    return it == byLowerName.end() ? -1 : it->second;
}

size_t Table::NaturalPos(const Record* r) const {
    auto it = std::lower_bound(records.begin(), records.end(), r->seq,
                               [](const std::unique_ptr<Record>& a, uint64_t s) { return a->seq < s; });
    return static_cast<size_t>(it - records.begin());
}

Record* Table::BySeq(uint64_t seq) const {
    auto it = std::lower_bound(records.begin(), records.end(), seq,
                               [](const std::unique_ptr<Record>& a, uint64_t s) { return a->seq < s; });
    return it != records.end() && (*it)->seq == seq ? it->get() : nullptr;
}

double Table::Intern(const std::string& text) {
    const auto it = textIds.find(text);
    if (it != textIds.end()) return it->second;
    std::lock_guard<std::mutex> hold(textLock);
    const auto id = static_cast<uint32_t>(texts.size());
    texts.push_back(text);
    textIds.emplace(text, id);
    return id;
}

std::string Table::LockedTextOf(double id) const {
    std::lock_guard<std::mutex> hold(textLock);
    return texts[static_cast<size_t>(id)];
}

bool Table::Less(const IndexColumns& columns, const Record* a, const Record* b) const {
    for (const int c : columns) {
        const bool an = a->IsNull(c), bn = b->IsNull(c);
        if (an != bn) return an;
        if (an || a->v[c] == b->v[c]) continue;
        if (!IsText(c)) return a->v[c] < b->v[c];
        const int cmp = TextOf(a->v[c]).compare(TextOf(b->v[c]));
        if (cmp != 0) return cmp < 0;
    }
    return a->seq < b->seq;
}

OrderedIndex& Table::Ordered(const IndexColumns& columns) {
    auto [it, fresh] = ordered.try_emplace(columns);
    OrderedIndex& ix = it->second;
    if (fresh) {
        ix.columns = columns;
        ix.recs.reserve(records.size());
        for (auto& r : records) ix.recs.push_back(r.get());
        std::stable_sort(ix.recs.begin(), ix.recs.end(),
                         [this, &columns](const Record* a, const Record* b) { return Less(columns, a, b); });
    }
    ++ix.users;
    return ix;
}

void Table::ReleaseOrdered(const IndexColumns& columns) {
    auto it = ordered.find(columns);
    if (it != ordered.end() && --it->second.users <= 0) ordered.erase(it);
}

std::unordered_map<int64_t, std::vector<Record*>>& Table::Keys(int column) {
    auto [it, fresh] = keys.try_emplace(column);
    if (fresh)
        for (auto& r : records)
            if (!r->IsNull(column)) it->second[KeyOf(r->v[column])].push_back(r.get());
    return it->second;
}

SumAccum& Table::Sum(int column) {
    auto [it, fresh] = sums.try_emplace(column);
    if (fresh)
        for (auto& r : records)
            if (!r->IsNull(column)) SumAdd(it->second, r->v[column], +1);
    return it->second;
}

double Table::PlainSum(int column) const {
    double s = 0;
    for (auto& r : records)
        if (!r->IsNull(column)) s += r->v[column];
    return s;
}

namespace {
bool Has(uint64_t columns, int c) {
    return (columns >> c) & 1u;
}
bool HasAny(uint64_t columns, const IndexColumns& key) {
    for (const int c : key)
        if (Has(columns, c)) return true;
    return false;
}
} // namespace

void Table::IndexAdd(Record* r, uint64_t columns) {
    for (auto& [c, map] : keys)
        if (Has(columns, c) && !r->IsNull(c)) map[KeyOf(r->v[c])].push_back(r);
    for (auto& [key, ix] : ordered) {
        if (!HasAny(columns, key)) continue;
        auto pos =
            std::upper_bound(ix.recs.begin(), ix.recs.end(), r,
                             [this, &k = key](const Record* a, const Record* b) { return Less(k, a, b); });
        ix.recs.insert(pos, r);
    }
    for (auto& [c, s] : sums)
        if (Has(columns, c) && !r->IsNull(c)) SumAdd(s, r->v[c], +1);
}

void Table::IndexRemove(Record* r, uint64_t columns) {
    for (auto& [c, map] : keys) {
        if (!Has(columns, c) || r->IsNull(c)) continue;
        auto it = map.find(KeyOf(r->v[c]));
        if (it == map.end()) continue;
        EraseFrom(it->second, r);
        if (it->second.empty()) map.erase(it);
    }
    for (auto& [key, ix] : ordered) {
        if (!HasAny(columns, key)) continue;
        auto pos =
            std::lower_bound(ix.recs.begin(), ix.recs.end(), r,
                             [this, &k = key](const Record* a, const Record* b) { return Less(k, a, b); });
        if (pos != ix.recs.end() && *pos == r) ix.recs.erase(pos);
    }
    for (auto& [c, s] : sums)
        if (Has(columns, c) && !r->IsNull(c)) SumAdd(s, r->v[c], -1);
}

void Table::LoadRecord(std::unique_ptr<Record> r) {
    r->seq = nextSeq++;
    records.push_back(std::move(r));
}

Record* Table::Insert(std::unique_ptr<Record> r) {
    r->seq = nextSeq++;
    for (ClientDataSet* c : cursors) c->RecordChanging(IDataSetObserver::Change::Appended, r.get());
    ++version;
    Record* p = r.get();
    records.push_back(std::move(r));
    IndexAdd(p);
    for (ClientDataSet* c : cursors) c->TableChanged(IDataSetObserver::Change::Appended, p, 0);
    if (changeListener) TellChange(RecordChange::Kind::Appended, p, records.size() - 1, ~p->nulls, nullptr);
    return p;
}

void Table::TellChange(RecordChange::Kind kind, const Record* r, size_t position, uint64_t columns,
                       const Record* before) {
    RecordChange change;
    change.kind = kind;
    change.position = position;
    const uint64_t all = defs.size() >= 64 ? ~0ull : (1ull << defs.size()) - 1;
    change.columns = kind == RecordChange::Kind::Deleted ? 0 : columns & all;
    if (before && autoIncColumn >= 0 && !before->IsNull(autoIncColumn))
        change.key = Variant(before->v[static_cast<size_t>(autoIncColumn)]);
    change.m_table = this;
    change.m_record = r;
    const auto listener = changeListener; // it may replace itself
    listener(change);
}

void Table::KeepForSnapshots(const Record* r) {
    for (Snapshot* s : snapshots) {
        if (r->seq > s->lastSeq) continue; // added after the snapshot: not one of its rows
        std::lock_guard<std::mutex> hold(s->lock);
        s->before.try_emplace(r, *r); // the first change since the snapshot keeps the values
    }
}

void Table::Update(Record* r, const std::vector<double>& v, uint64_t nulls) {
    for (ClientDataSet* c : cursors) c->RecordChanging(IDataSetObserver::Change::Edited, r);
    // Only the indexes of changed columns move.
    uint64_t changed = r->nulls ^ nulls;
    for (size_t c = 0; c < defs.size(); ++c)
        if (!((nulls >> c) & 1u) && !r->IsNull(static_cast<int>(c)) && r->v[c] != v[c]) changed |= 1ull << c;
    if (changed && !snapshots.empty()) KeepForSnapshots(r);
    if (changed) IndexRemove(r, changed);
    Record before;
    if (changed && changeListener && autoIncColumn >= 0) {
        before.nulls = r->nulls;
        before.v.assign(1 + static_cast<size_t>(autoIncColumn), 0.0);
        before.v[static_cast<size_t>(autoIncColumn)] = r->v[static_cast<size_t>(autoIncColumn)];
    }
    ++version;
    r->v = v;
    r->nulls = nulls;
    if (changed) IndexAdd(r, changed);
    for (ClientDataSet* c : cursors) c->TableChanged(IDataSetObserver::Change::Edited, r, 0);
    if (changed && changeListener)
        TellChange(RecordChange::Kind::Edited, r, NaturalPos(r), changed,
                   autoIncColumn >= 0 ? &before : nullptr);
}

void Table::Remove(Record* r) {
    std::vector<int> positions;
    positions.reserve(cursors.size());
    for (ClientDataSet* c : cursors) {
        positions.push_back(static_cast<int>(c->PositionOf(r)));
        c->RecordChanging(IDataSetObserver::Change::Deleted, r);
        c->RecordRemoving(r);
    }
    IndexRemove(r);
    ++version;
    if (!snapshots.empty()) KeepForSnapshots(r);
    const size_t pos = NaturalPos(r);
    std::unique_ptr<Record> keep = std::move(records[pos]);
    records.erase(records.begin() + static_cast<long>(pos));
    for (size_t i = 0; i < cursors.size(); ++i)
        cursors[i]->TableChanged(IDataSetObserver::Change::Deleted, nullptr, positions[i]);
    if (changeListener) TellChange(RecordChange::Kind::Deleted, nullptr, pos, 0, keep.get());
}

} // namespace cds

} // namespace quorvel
