// The cursor of a client dataset: open and close, its order over the table, navigation,
// lookups, changes and the notifications of its observers.
#include "platform/clientdataset.h"

#include <algorithm>
#include <cmath>

#include "platform/ascii.h"
#include "platform/clientdataset_filter.h"
#include "platform/clientdataset_table.h"
#include "platform/datapacket.h"
#include "platform/files.h"
#include "platform/numbers.h"

namespace quorvel {

using cds::Record;
using cds::Table;

namespace {
// Whether a cell's text is the key: the whole text, or its beginning with loPartialKey; the
// letters A-Z in either case with loCaseInsensitive.
bool TextEquals(const std::string& cell, const std::string& key, TLocateOptions options) {
    if (options & loPartialKey ? cell.size() < key.size() : cell.size() != key.size()) return false;
    if (!(options & loCaseInsensitive)) return cell.compare(0, key.size(), key) == 0;
    for (size_t i = 0; i < key.size(); ++i)
        if (AsciiLower(cell[i]) != AsciiLower(key[i])) return false;
    return true;
}

bool CellEquals(const Table& t, const Record* r, int c, const Variant& v, TLocateOptions options = 0) {
    if (v.IsNull()) return r->IsNull(c);
    if (r->IsNull(c)) return false;
    const double cell = r->v[static_cast<size_t>(c)];
    if (t.IsText(c)) return TextEquals(t.TextOf(cell), v.AsString(), options);
    if (v.kind() == Variant::Kind::String) {
        const auto d = ParseDouble(v.AsString(), '.');
        return d && cell == *d;
    }
    return cell == v.Raw();
}
} // namespace

// ---- ClientDataSet ---------------------------------------------------------------------------

// Tells a detail cursor that its master moved or changed.
class ClientDataSet::MasterLink : public IDataSetObserver {
public:
    explicit MasterLink(ClientDataSet* detail) : m_detail(detail) {}
    void DataChanged(Change, int) override { m_detail->MasterMoved(); }
    void Scrolled() override { m_detail->MasterMoved(); }

private:
    ClientDataSet* m_detail;
};

ClientDataSet::ClientDataSet(std::string name) : m_name(std::move(name)) {}

ClientDataSet::~ClientDataSet() {
    SetMasterSource(nullptr, {});
    for (ClientDataSet* d : m_details) {
        RemoveObserver(d->m_masterLink.get());
        d->m_master = nullptr;
        d->m_masterLink.reset();
        d->MasterMoved();
    }
    m_details.clear();
    if (Active()) {
        m_state = DataSetState::Browse;
        Close();
    }
    // Clones of this cursor forget it; it leaves the clones of its own source.
    for (ClientDataSet* c : m_clones) c->m_cloneSource = nullptr;
    m_clones.clear();
    SetCloneSource(nullptr);
}

void ClientDataSet::SetCloneSource(ClientDataSet* source) {
    if (m_cloneSource == source) return;
    if (m_cloneSource) {
        auto& cs = m_cloneSource->m_clones;
        cs.erase(std::remove(cs.begin(), cs.end(), this), cs.end());
    }
    m_cloneSource = source;
    if (source) source->m_clones.push_back(this);
}

Field& ClientDataSet::AddField(const std::string& name, FieldType type) {
    if (Active()) throw DataSetError("Cannot add a field to an open dataset");
    if (FindField(name)) throw DataSetError("Duplicate field name '" + name + "'");
    m_fields.push_back(std::unique_ptr<Field>(new Field(this, name, type, false)));
    return *m_fields.back();
}

Field& ClientDataSet::AddCalculatedField(const std::string& name, FieldType type) {
    if (Active()) throw DataSetError("Cannot add a field to an open dataset");
    if (FindField(name)) throw DataSetError("Duplicate field name '" + name + "'");
    m_fields.push_back(std::unique_ptr<Field>(new Field(this, name, type, true)));
    return *m_fields.back();
}

Field* ClientDataSet::FindField(std::string_view name) const {
    for (auto& f : m_fields) {
        if (AsciiSameText(f->m_name, name)) return f.get();
    }
    return nullptr;
}

Field& ClientDataSet::FieldByName(std::string_view name) const {
    Field* f = FindField(name);
    if (!f) throw DataSetError(m_name + ": Field '" + std::string(name) + "' not found");
    return *f;
}

void ClientDataSet::CheckActive() const {
    if (!Active()) throw DataSetError(m_name + ": Cannot perform this operation on a closed dataset");
}

const std::vector<FieldDef>& ClientDataSet::FieldDefs() const {
    CheckActive();
    return m_table->defs;
}

void ClientDataSet::CreateDataSet(const std::vector<FieldDef>& defs, const IndexDef& index) {
    Close();
    auto t = std::make_shared<Table>(defs);
    SetCloneSource(nullptr);
    m_index = index;
    Open(std::move(t));
}

void ClientDataSet::LoadFromFile(const std::string& path, const IndexDef& index) {
    auto data = ReadWholeFile(path);
    if (!data) {
        Close();
        throw DataSetError("Cannot open file \"" + path + "\"");
    }
    LoadFromString(std::move(*data), index);
}

void ClientDataSet::LoadFromString(std::string data, const IndexDef& index) {
    Close();
    auto t = cds::ReadPacket(std::move(data));
    SetCloneSource(nullptr);
    m_index = index;
    Open(std::move(t));
}

std::string ClientDataSet::SaveToString() const {
    CheckActive();
    return cds::WritePacket(*m_table);
}

void ClientDataSet::SaveToFile(const std::string& path) const {
    CheckActive();
    // Streamed: the packet of a long list is never held whole in memory.
    WriteFileAtomic(path, [this](const FilePieceWriter& put) { cds::WritePacket(*m_table, put); });
}

void ClientDataSet::ReloadFromString(std::string data) {
    CheckBrowseMode();
    auto fresh = cds::ReadPacket(std::move(data));
    Table& t = *m_table;
    bool same = fresh->defs.size() == t.defs.size();
    for (size_t i = 0; same && i < t.defs.size(); ++i)
        same = AsciiSameText(fresh->defs[i].name, t.defs[i].name) && fresh->defs[i].type == t.defs[i].type;
    if (!same) throw DataSetError(m_name + ": The data does not fit the dataset's fields");
    // Observers hear of the whole change once, when the controls come back.
    std::vector<ClientDataSet*> cursors = t.cursors;
    for (ClientDataSet* c : cursors) c->DisableControls();
    struct Enable {
        std::vector<ClientDataSet*>& cs;
        ~Enable() {
            for (ClientDataSet* c : cs) c->EnableControls();
        }
    } enable{cursors};
    for (ClientDataSet* c : cursors) {
        if (c->m_state == DataSetState::Insert) c->Cancel();
        c->m_walking = false;
        c->m_pendingReset = true;
    }
    while (!t.records.empty()) t.Remove(t.records.back().get());
    for (auto& r : fresh->records) {
        auto rec = std::make_unique<Record>();
        rec->v = r->v;
        rec->nulls = r->nulls;
        for (size_t c = 0; c < t.defs.size(); ++c) // texts are numbered per table
            if (t.IsText(static_cast<int>(c)) && !rec->IsNull(static_cast<int>(c)))
                rec->v[c] = t.Intern(fresh->TextOf(rec->v[c]));
        t.Insert(std::move(rec));
    }
    t.nextAutoInc = std::max(t.nextAutoInc, fresh->nextAutoInc);
    for (ClientDataSet* c : cursors)
        if (!c->m_cur) c->First();
}

std::unique_ptr<TableSnapshot> ClientDataSet::Snapshot() const {
    CheckActive();
    auto s = std::make_unique<cds::Snapshot>();
    s->table = m_table;
    s->defs = m_table->defs;
    s->autoIncColumn = m_table->autoIncColumn;
    s->nextAutoInc = m_table->nextAutoInc;
    s->rows.reserve(m_table->records.size());
    for (const auto& r : m_table->records) s->rows.push_back(r.get());
    s->lastSeq = m_table->nextSeq - 1;
    m_table->snapshots.push_back(s.get());
    return std::unique_ptr<TableSnapshot>(new TableSnapshot(std::move(s)));
}

TableSnapshot::TableSnapshot(std::unique_ptr<cds::Snapshot> s) : m_s(std::move(s)) {}

TableSnapshot::~TableSnapshot() {
    auto& held = m_s->table->snapshots;
    held.erase(std::remove(held.begin(), held.end(), m_s.get()), held.end());
}

size_t TableSnapshot::RecordCount() const {
    return m_s->rows.size();
}

void TableSnapshot::SaveToFile(const std::string& path) const {
    WriteFileAtomic(path, [this](const FilePieceWriter& put) { cds::WritePacket(*m_s, put); });
}

void TableSnapshot::WriteTo(const std::function<void(std::string_view)>& put) const {
    cds::WritePacket(*m_s, put);
}

std::string TableSnapshot::SaveToString() const {
    std::string text;
    cds::WritePacket(*m_s, [&text](std::string_view piece) { text.append(piece); });
    return text;
}

// ---- record changes for a journal -------------------------------------------------------------

Variant RecordChange::Value(int c) const {
    if (!m_record || c < 0 || static_cast<size_t>(c) >= m_table->defs.size() || m_record->IsNull(c))
        return Variant();
    const double raw = m_record->v[static_cast<size_t>(c)];
    if (m_table->IsText(c)) return Variant(m_table->TextOf(raw));
    return Variant::Of(m_table->defs[static_cast<size_t>(c)].type, raw);
}

void ClientDataSet::SetChangeListener(std::function<void(const RecordChange&)> listener) {
    CheckActive();
    m_table->changeListener = std::move(listener);
}

void ClientDataSet::ApplyRecordChange(RecordChange::Kind kind, size_t position, const Variant& key,
                                      const std::vector<std::pair<int, Variant>>& values) {
    CheckBrowseMode();
    Table& t = *m_table;
    auto fail = [this](const std::string& why) { throw DataSetError(m_name + ": " + why); };
    const bool append = kind == RecordChange::Kind::Appended;
    if (append ? position != t.records.size() : position >= t.records.size())
        fail("No record at position " + std::to_string(position));
    Record* target = append ? nullptr : t.records[position].get();
    if (!key.IsNull()) {
        const int ac = t.autoIncColumn;
        if (!target || ac < 0 || target->IsNull(ac) || target->v[static_cast<size_t>(ac)] != key.Raw())
            fail("The record at position " + std::to_string(position) + " is not record " + key.AsString());
    }
    if (kind == RecordChange::Kind::Deleted) {
        t.Remove(target);
        return;
    }
    if (kind != RecordChange::Kind::Edited && !append) fail("Unknown change");
    std::vector<double> v = append ? std::vector<double>(t.defs.size(), 0.0) : target->v;
    uint64_t nulls = append ? (t.defs.size() >= 64 ? ~0ull : (1ull << t.defs.size()) - 1) : target->nulls;
    for (const auto& [c, value] : values) {
        if (c < 0 || static_cast<size_t>(c) >= t.defs.size()) fail("No column " + std::to_string(c));
        const uint64_t bit = 1ull << c;
        if (value.IsNull()) {
            nulls |= bit;
            v[static_cast<size_t>(c)] = 0.0;
            continue;
        }
        const bool text = t.IsText(c);
        if (text != (value.kind() == Variant::Kind::String))
            fail("A value of another type in column " + t.defs[static_cast<size_t>(c)].name);
        v[static_cast<size_t>(c)] = text ? t.Intern(value.AsString()) : value.Raw();
        nulls &= ~bit;
    }
    if (!append) {
        t.Update(target, v, nulls);
        return;
    }
    const int ac = t.autoIncColumn;
    if (ac >= 0 && !((nulls >> ac) & 1u)) {
        const double id = v[static_cast<size_t>(ac)];
        if (!(id >= 0 && id <= 2147483647.0) || id != std::floor(id)) fail("A key out of range");
        t.nextAutoInc = std::max<int64_t>(t.nextAutoInc, static_cast<int64_t>(id) + 1);
    }
    auto rec = std::make_unique<Record>();
    rec->v = std::move(v);
    rec->nulls = nulls;
    t.Insert(std::move(rec));
}

void ClientDataSet::CloneCursor(ClientDataSet& source, bool reset, bool keepSettings) {
    source.CheckActive();
    if (&source == this) throw DataSetError("Cannot clone a dataset onto itself");
    for (const ClientDataSet* s = source.m_cloneSource; s; s = s->m_cloneSource)
        if (s == this) throw DataSetError(m_name + ": Cannot clone a dataset from one of its own clones");
    auto table = source.m_table;
    Close();
    SetCloneSource(&source);
    if (reset) {
        m_index = {};
        ReadOnly = false;
        m_filterText.clear();
        m_filtered = false;
    } else if (!keepSettings) {
        m_index = source.m_index;
        ReadOnly = source.ReadOnly;
        m_filterText = source.m_filterText;
        m_filtered = source.m_filtered;
        m_filterCaseInsensitive = source.m_filterCaseInsensitive;
    }
    Open(std::move(table));
    if (reset)
        SetMasterSource(nullptr, {});
    else if (!keepSettings && source.m_master != this)
        SetMasterSource(source.m_master, source.m_masterFields);
}

void ClientDataSet::Open(std::shared_ptr<Table> table) {
    ForgetShown();
    m_table = std::move(table);
    try {
        BindFields();
        m_indexColumns = IndexColumnsOf(m_index.field);
        if (!m_indexColumns.empty()) m_table->Ordered(m_indexColumns);
    } catch (...) {
        m_indexColumns.clear();
        if (m_autoFields) {
            m_fields.clear();
            m_autoFields = false;
        }
        for (auto& f : m_fields) f->m_column = -1;
        m_table.reset();
        throw;
    }
    try {
        CompileFilter();
    } catch (...) {
        if (!m_indexColumns.empty()) m_table->ReleaseOrdered(m_indexColumns);
        m_indexColumns.clear();
        if (m_autoFields) {
            m_fields.clear();
            m_autoFields = false;
        }
        for (auto& f : m_fields) f->m_column = -1;
        m_table.reset();
        throw;
    }
    m_table->cursors.push_back(this);
    m_state = DataSetState::Browse;
    m_buf.assign(m_table->defs.size(), 0.0);
    m_cur = nullptr;
    for (size_t i = 0, n = OrderSize(); i < n && !m_cur; ++i)
        if (Shows(OrderAt(i))) {
            m_cur = OrderAt(i);
            m_posHint = i;
        }
    m_bof = true;
    m_eof = m_cur == nullptr;
    m_calcValid = false;
    NotifyObservers(IDataSetObserver::Change::Reset, 0);
    if (AfterOpen) AfterOpen(*this);
}

void ClientDataSet::BindFields() {
    if (m_fields.empty()) {
        m_autoFields = true;
        for (const FieldDef& d : m_table->defs)
            m_fields.push_back(std::unique_ptr<Field>(new Field(this, d.name, d.type, false)));
    }
    int slot = 0;
    for (auto& f : m_fields) {
        if (f->m_calculated) {
            f->m_calcSlot = slot++;
            continue;
        }
        const int c = m_table->Column(f->m_name);
        if (c < 0) {
            for (const auto& [name, type] : m_table->foreign)
                if (AsciiSameText(name, f->m_name))
                    throw DataSetError(m_name + ": Type mismatch for field '" + f->m_name +
                                       "', expecting: " + cds::TypeName(f->m_type) + " actual: " + type);
            throw DataSetError(m_name + ": Field '" + f->m_name + "' not found");
        }
        const FieldType actual = m_table->defs[static_cast<size_t>(c)].type;
        if (actual != f->m_type)
            throw DataSetError(m_name + ": Type mismatch for field '" + f->m_name + "', expecting: " +
                               cds::TypeName(f->m_type) + " actual: " + cds::TypeName(actual));
        f->m_column = c;
    }
    m_calc.assign(static_cast<size_t>(slot), Variant());
}

void ClientDataSet::Close() {
    if (!Active()) return;
    m_state = DataSetState::Browse;
    auto& cs = m_table->cursors;
    cs.erase(std::remove(cs.begin(), cs.end(), this), cs.end());
    if (!m_indexColumns.empty()) m_table->ReleaseOrdered(m_indexColumns);
    m_indexColumns.clear();
    m_table.reset();
    ForgetShown();
    m_state = DataSetState::Inactive;
    m_cur = nullptr;
    m_eof = m_bof = true;
    m_walking = false;
    m_filterColumn = -1;
    m_filterExpr.reset();
    if (m_autoFields) {
        m_fields.clear();
        m_autoFields = false;
    }
    for (auto& f : m_fields) f->m_column = -1;
    NotifyObservers(IDataSetObserver::Change::Reset, 0);
}

void ClientDataSet::Refresh() {
    CheckBrowseMode();
    m_calcValid = false;
    NotifyObservers(IDataSetObserver::Change::Reset, 0);
}

void ClientDataSet::SetIndex(const IndexDef& index) {
    if (!Active()) {
        m_index = index;
        return;
    }
    CheckBrowseMode();
    std::vector<int> columns = IndexColumnsOf(index.field);
    if (!columns.empty()) m_table->Ordered(columns);
    if (!m_indexColumns.empty()) m_table->ReleaseOrdered(m_indexColumns);
    m_indexColumns = std::move(columns);
    m_index = index;
    ForgetShown();
    m_walking = false;
    NotifyObservers(IDataSetObserver::Change::Reset, 0);
}

void ClientDataSet::SetIndexFieldNames(const std::string& names) {
    if (Active() && names == m_index.field && !m_index.descending) return;
    const Bookmark keep = Active() ? GetBookmark() : kNoBookmark;
    SetIndex(IndexDef{names, names, false});
    if (keep != kNoBookmark && BookmarkValid(keep)) GotoBookmark(keep);
}

std::vector<int> ClientDataSet::IndexColumnsOf(const std::string& names) const {
    std::vector<int> columns;
    size_t at = 0;
    while (at <= names.size()) {
        size_t end = names.find(';', at);
        if (end == std::string::npos) end = names.size();
        std::string name = names.substr(at, end - at);
        while (!name.empty() && static_cast<unsigned char>(name.front()) <= ' ') name.erase(0, 1);
        while (!name.empty() && static_cast<unsigned char>(name.back()) <= ' ') name.pop_back();
        if (!name.empty()) {
            const int c = m_table->Column(name);
            if (c < 0) throw DataSetError(m_name + ": Field '" + name + "' not found");
            columns.push_back(c);
        }
        at = end + 1;
    }
    return columns;
}

// ---- order -----------------------------------------------------------------------------------

size_t ClientDataSet::OrderSize() const {
    return m_table->records.size();
}

Record* ClientDataSet::OrderAt(size_t pos) const {
    if (m_indexColumns.empty()) return m_table->records[pos].get();
    const auto& recs = m_table->ordered.at(m_indexColumns).recs;
    return m_index.descending ? recs[recs.size() - 1 - pos] : recs[pos];
}

size_t ClientDataSet::PositionOf(const Record* r) const {
    const size_t n = OrderSize();
    if (m_posHint < n && OrderAt(m_posHint) == r) return m_posHint;
    size_t pos;
    if (m_indexColumns.empty()) {
        pos = m_table->NaturalPos(r);
    } else {
        const auto& recs = m_table->ordered.at(m_indexColumns).recs;
        const auto& c = m_indexColumns;
        auto it = std::lower_bound(recs.begin(), recs.end(), r, [this, &c](const Record* a, const Record* b) {
            return m_table->Less(c, a, b);
        });
        pos = static_cast<size_t>(it - recs.begin());
        if (m_index.descending) pos = recs.size() - 1 - pos;
    }
    m_posHint = pos;
    return pos;
}

size_t ClientDataSet::InsertPosition(const Record* r) const {
    if (m_indexColumns.empty()) return OrderSize();
    const auto& recs = m_table->ordered.at(m_indexColumns).recs;
    const auto& c = m_indexColumns;
    auto it = std::upper_bound(recs.begin(), recs.end(), r, [this, &c](const Record* a, const Record* b) {
        return m_table->Less(c, a, b);
    });
    const size_t pos = static_cast<size_t>(it - recs.begin());
    return m_index.descending ? recs.size() - pos : pos;
}

bool ClientDataSet::Before(const Record* a, const Record* b) const {
    if (m_indexColumns.empty()) return a->seq < b->seq;
    return m_index.descending ? m_table->Less(m_indexColumns, b, a) : m_table->Less(m_indexColumns, a, b);
}

// ---- navigation ------------------------------------------------------------------------------

void ClientDataSet::CheckBrowseMode() {
    CheckActive();
    if (m_state == DataSetState::Edit || m_state == DataSetState::Insert) Post();
}

void ClientDataSet::SetCurrent(Record* r, bool notify) {
    const bool moved = r != m_cur;
    m_cur = r;
    m_calcValid = false;
    if (moved && notify) NotifyScroll();
}

void ClientDataSet::First() {
    CheckBrowseMode();
    if (m_filterColumn >= 0) {
        // Pick the records of the walk, in this cursor's order.
        std::vector<Record*> picked;
        auto& keys = m_table->Keys(m_filterColumn);
        for (int32_t v : m_filterValues) {
            auto it = keys.find(v);
            if (it != keys.end()) picked.insert(picked.end(), it->second.begin(), it->second.end());
        }
        std::sort(picked.begin(), picked.end(),
                  [this](const Record* a, const Record* b) { return Before(a, b); });
        picked.erase(std::unique(picked.begin(), picked.end()), picked.end());
        m_walk.clear();
        for (Record* r : picked) m_walk.push_back(r->seq);
        m_walking = true;
        m_walkPos = 0;
        m_bof = true;
        if (m_walk.empty()) {
            m_eof = true;
            return;
        }
        m_eof = false;
        SetCurrent(m_table->BySeq(m_walk[0]));
        return;
    }
    m_bof = true;
    size_t pos = 0;
    const size_t n = OrderSize();
    while (pos < n && !Shows(OrderAt(pos))) ++pos;
    m_eof = pos >= n;
    SetCurrent(m_eof ? nullptr : OrderAt(pos));
    m_posHint = m_eof ? 0 : pos;
}

void ClientDataSet::Last() {
    CheckBrowseMode();
    m_walking = false;
    size_t n = OrderSize();
    while (n > 0 && !Shows(OrderAt(n - 1))) --n;
    m_eof = true;
    m_bof = n == 0;
    SetCurrent(n ? OrderAt(n - 1) : nullptr);
    m_posHint = n ? n - 1 : 0;
}

void ClientDataSet::Next() {
    CheckBrowseMode();
    if (m_walking) {
        size_t i = m_walkPos + 1;
        if (!(m_walkPos < m_walk.size() && m_cur && m_cur->seq == m_walk[m_walkPos])) {
            // The cursor was moved away: go on after the record it stands on now.
            i = 0;
            if (m_cur)
                while (i < m_walk.size()) {
                    Record* r = m_table->BySeq(m_walk[i]);
                    if (r && Before(m_cur, r)) break;
                    ++i;
                }
        }
        for (; i < m_walk.size(); ++i) {
            Record* r = m_table->BySeq(m_walk[i]);
            if (!r || r->IsNull(m_filterColumn)) continue;
            const double v = r->v[static_cast<size_t>(m_filterColumn)];
            if (std::find(m_filterValues.begin(), m_filterValues.end(), v) == m_filterValues.end()) continue;
            m_walkPos = i;
            m_bof = false;
            SetCurrent(r);
            return;
        }
        m_walkPos = m_walk.size();
        m_eof = true;
        return;
    }
    if (!m_cur) {
        m_eof = true;
        return;
    }
    size_t pos = PositionOf(m_cur) + 1;
    const size_t n = OrderSize();
    while (pos < n && !Shows(OrderAt(pos))) ++pos;
    if (pos >= n) {
        m_eof = true;
        return;
    }
    m_bof = false;
    m_eof = false;
    SetCurrent(OrderAt(pos));
    m_posHint = pos;
}

void ClientDataSet::Prior() {
    CheckBrowseMode();
    m_walking = false;
    if (!m_cur) {
        m_bof = true;
        return;
    }
    size_t pos = PositionOf(m_cur);
    while (pos > 0 && !Shows(OrderAt(pos - 1))) --pos;
    if (pos == 0) {
        m_bof = true;
        return;
    }
    m_bof = false;
    m_eof = false;
    SetCurrent(OrderAt(pos - 1));
    m_posHint = pos - 1;
}

int ClientDataSet::RecordCount() const {
    CheckActive();
    if (!Hides()) return static_cast<int>(m_table->records.size());
    return static_cast<int>(ShownRecords().size());
}

const std::vector<Record*>& ClientDataSet::ShownRecords() const {
    // What a master shows while it edits may change without a word to us: no keeping then.
    const bool masterSteady =
        !m_master || m_master->m_state == DataSetState::Browse || m_master->m_state == DataSetState::Inactive;
    const uint64_t masterVersion = m_master && m_master->m_table ? m_master->m_table->version : 0;
    const Record* masterRecord = m_master ? m_master->m_cur : nullptr;
    if (m_shownValid && masterSteady && m_shownTableVersion == m_table->version &&
        m_shownMasterVersion == masterVersion && m_shownMasterRecord == masterRecord)
        return m_shown;
    m_shown.clear();
    for (size_t i = 0, n = OrderSize(); i < n; ++i)
        if (Record* r = OrderAt(i); Shows(r)) m_shown.push_back(r);
    m_shownValid = true;
    m_shownTableVersion = m_table->version;
    m_shownMasterVersion = masterVersion;
    m_shownMasterRecord = masterRecord;
    return m_shown;
}

int ClientDataSet::ShownPosition(const Record* r) const {
    const auto& shown = ShownRecords();
    const auto it = std::lower_bound(shown.begin(), shown.end(), r,
                                     [this](const Record* a, const Record* b) { return Before(a, b); });
    return it == shown.end() || *it != r ? -1 : static_cast<int>(it - shown.begin());
}

int ClientDataSet::RowOf(const Record* r) const {
    return Hides() ? ShownPosition(r) : static_cast<int>(PositionOf(r));
}

bool ClientDataSet::Shows(const Record* r) const {
    if (m_filterExpr && !m_filterExpr->Matches(*m_table, *r)) return false;
    return !m_master || MasterShows(r);
}

bool ClientDataSet::MasterShows(const Record* r) const {
    if (!m_master->Active()) return false;
    size_t at = 0, k = 0;
    while (at <= m_masterFields.size()) {
        size_t end = m_masterFields.find(';', at);
        if (end == std::string::npos) end = m_masterFields.size();
        std::string name = m_masterFields.substr(at, end - at);
        while (!name.empty() && static_cast<unsigned char>(name.front()) <= ' ') name.erase(0, 1);
        while (!name.empty() && static_cast<unsigned char>(name.back()) <= ' ') name.pop_back();
        at = end + 1;
        if (name.empty()) continue;
        const Variant v = m_master->FieldByName(name).Value();
        const int c = k < m_indexColumns.size() ? m_indexColumns[k] : m_table->Column(name);
        ++k;
        if (c < 0) throw DataSetError(m_name + ": Field '" + name + "' not found");
        if (v.IsNull() || !CellEquals(*m_table, r, c, v)) return false;
    }
    return true;
}

void ClientDataSet::SetMasterSource(ClientDataSet* master, const std::string& masterFields) {
    if (master == this) throw DataSetError(m_name + ": A dataset cannot be its own master");
    if (master == m_master && (!master || masterFields == m_masterFields)) return;
    if (m_master) {
        m_master->RemoveObserver(m_masterLink.get());
        auto& ds = m_master->m_details;
        ds.erase(std::remove(ds.begin(), ds.end(), this), ds.end());
    }
    m_masterLink.reset();
    m_master = master;
    m_masterFields = master ? masterFields : std::string();
    if (master) {
        m_masterLink = std::make_unique<MasterLink>(this);
        master->AddObserver(m_masterLink.get());
        master->m_details.push_back(this);
    }
    MasterMoved();
}

void ClientDataSet::MasterMoved() {
    ForgetShown();
    if (!Active() || m_state == DataSetState::Edit || m_state == DataSetState::Insert) return;
    m_walking = false;
    NotifyObservers(IDataSetObserver::Change::Reset, 0);
    First();
}

void ClientDataSet::CompileFilter() {
    ForgetShown();
    m_filterExpr.reset();
    if (!m_table || !m_filtered) return;
    bool blank = true;
    for (char c : m_filterText) blank = blank && (c == ' ' || c == '\t' || c == '\r' || c == '\n');
    if (blank) return;
    m_filterExpr = cds::FilterExpr::Parse(m_filterText, *m_table, m_filterCaseInsensitive);
}

namespace {
// Sets a filter setting, compiles the filter and puts the cursor on its first record; a
// malformed text leaves the former setting in force.
template <class T, class Apply> void ChangeFilter(T& setting, T value, Apply&& apply) {
    T old = setting;
    setting = std::move(value);
    try {
        apply();
    } catch (...) {
        setting = std::move(old);
        apply();
        throw;
    }
}
} // namespace

void ClientDataSet::SetFilter(const std::string& text) {
    if (Active()) CheckBrowseMode();
    ChangeFilter(m_filterText, text, [this] { CompileFilter(); });
    if (Active()) {
        m_walking = false;
        NotifyObservers(IDataSetObserver::Change::Reset, 0);
        First();
    }
}

void ClientDataSet::SetFiltered(bool on) {
    if (Active()) CheckBrowseMode();
    ChangeFilter(m_filtered, on, [this] { CompileFilter(); });
    if (Active()) {
        m_walking = false;
        NotifyObservers(IDataSetObserver::Change::Reset, 0);
        First();
    }
}

void ClientDataSet::SetFilterCaseInsensitive(bool on) {
    if (Active()) CheckBrowseMode();
    ChangeFilter(m_filterCaseInsensitive, on, [this] { CompileFilter(); });
    if (Active()) {
        NotifyObservers(IDataSetObserver::Change::Reset, 0);
        First();
    }
}

void ClientDataSet::GotoNearest(const Variant& key) {
    CheckBrowseMode();
    if (m_indexColumns.empty()) throw DataSetError(m_name + ": No index currently active");
    // The key is that of the index's first field, which orders the records first.
    const int ic = m_indexColumns.front();
    m_walking = false;
    const auto& recs = m_table->ordered.at(m_indexColumns).recs;
    const size_t col = static_cast<size_t>(ic);
    // The first position in our order whose key is not below (descending: not above) `key`;
    // a null key comes before every value.
    auto reached = [&](const Record* r) {
        if (key.IsNull()) return true;
        if (r->IsNull(ic)) return false;
        if (m_table->IsText(ic)) {
            const int cmp = m_table->TextOf(r->v[col]).compare(key.AsString());
            return m_index.descending ? cmp <= 0 : cmp >= 0;
        }
        return m_index.descending ? r->v[col] <= key.Raw() : r->v[col] >= key.Raw();
    };
    const size_t n = recs.size();
    size_t lo = 0, hi = n; // in our order, `reached` goes false..false, true..true (ascending)
    if (!m_index.descending) {
        while (lo < hi) {
            const size_t mid = (lo + hi) / 2;
            if (reached(OrderAt(mid)))
                hi = mid;
            else
                lo = mid + 1;
        }
    } else {
        // Descending: nulls come last, so walk from the front.
        while (lo < n && !reached(OrderAt(lo))) ++lo;
    }
    while (lo < n && !Shows(OrderAt(lo))) ++lo;
    if (lo >= n) {
        Last(); // past every key: the end of the data, on the last record
        return;
    }
    m_eof = m_bof = false;
    SetCurrent(OrderAt(lo));
    m_posHint = lo;
}

int ClientDataSet::RecNo() const {
    CheckActive();
    if (m_state == DataSetState::Insert || !m_cur) return -1;
    const int row = RowOf(m_cur);
    return row < 0 ? -1 : row + 1;
}

void ClientDataSet::SetRecNo(int recNo) {
    CheckBrowseMode();
    if (Hides()) {
        const auto& shown = ShownRecords();
        if (recNo < 1 || recNo > static_cast<int>(shown.size())) return;
        m_eof = m_bof = false;
        SetCurrent(shown[static_cast<size_t>(recNo - 1)]);
        return;
    }
    if (recNo < 1 || recNo > static_cast<int>(OrderSize())) return;
    m_eof = m_bof = false;
    SetCurrent(OrderAt(static_cast<size_t>(recNo - 1)));
    m_posHint = static_cast<size_t>(recNo - 1);
}

void ClientDataSet::SetWalkFilter(const std::string& field, std::vector<int32_t> values) {
    CheckActive();
    const int c = m_table->Column(field);
    if (c < 0) throw DataSetError(m_name + ": Field '" + field + "' not found");
    if (!cds::IsIntegerType(m_table->defs[static_cast<size_t>(c)].type))
        throw DataSetError(m_name + ": Field '" + field + "' is no integer field");
    m_filterColumn = c;
    m_filterValues = std::move(values);
    m_walking = false;
}

void ClientDataSet::ClearWalkFilter() {
    m_filterColumn = -1;
    m_filterValues.clear();
    m_walk.clear();
    m_walking = false;
}

std::vector<Record*> ClientDataSet::Matches(const std::vector<std::string>& fields,
                                            const std::vector<Variant>& values,
                                            TLocateOptions options) const {
    CheckActive();
    if (fields.size() != values.size() || fields.empty())
        throw DataSetError(m_name + ": Locate needs one value per field");
    std::vector<int> cols;
    for (const auto& f : fields) {
        const int c = m_table->Column(f);
        if (c < 0) throw DataSetError(m_name + ": Field '" + f + "' not found");
        cols.push_back(c);
    }
    std::vector<Record*> out;
    // A key index when one of the fields is an integer and its value a whole number.
    for (size_t k = 0; k < cols.size(); ++k) {
        const Variant& v = values[k];
        if (!cds::IsIntegerType(m_table->defs[static_cast<size_t>(cols[k])].type) || v.IsNull()) continue;
        if (v.kind() == Variant::Kind::String) continue; // compared as text below
        if (v.Raw() != std::trunc(v.Raw()) || std::fabs(v.Raw()) > 9e15) return out;
        auto& keys = m_table->Keys(cols[k]);
        auto it = keys.find(static_cast<int64_t>(v.Raw()));
        if (it == keys.end()) return out;
        for (Record* r : it->second) {
            if (!Shows(r)) continue;
            bool all = true;
            for (size_t j = 0; j < cols.size() && all; ++j)
                all = CellEquals(*m_table, r, cols[j], values[j], options);
            if (all) out.push_back(r);
        }
        return out;
    }
    for (auto& r : m_table->records) {
        if (!Shows(r.get())) continue;
        bool all = true;
        for (size_t j = 0; j < cols.size() && all; ++j)
            all = CellEquals(*m_table, r.get(), cols[j], values[j], options);
        if (all) out.push_back(r.get());
    }
    return out;
}

bool ClientDataSet::Locate(const std::vector<std::string>& fields, const std::vector<Variant>& values,
                           TLocateOptions options) {
    CheckBrowseMode();
    auto found = Matches(fields, values, options);
    if (found.empty()) return false;
    Record* best = found[0];
    for (Record* r : found)
        if (Before(r, best)) best = r;
    m_eof = m_bof = false;
    SetCurrent(best);
    return true;
}

Variant ClientDataSet::Lookup(const std::vector<std::string>& keyFields, const std::vector<Variant>& values,
                              const std::string& resultField) const {
    CheckActive();
    const int rc = m_table->Column(resultField);
    if (rc < 0) throw DataSetError(m_name + ": Field '" + resultField + "' not found");
    auto found = Matches(keyFields, values);
    if (found.empty()) return Variant();
    Record* best = found[0];
    for (Record* r : found)
        if (Before(r, best)) best = r;
    if (best->IsNull(rc)) return Variant();
    if (m_table->IsText(rc)) return Variant(m_table->TextOf(best->v[static_cast<size_t>(rc)]));
    return Variant::Of(m_table->defs[static_cast<size_t>(rc)].type, best->v[static_cast<size_t>(rc)]);
}

Bookmark ClientDataSet::GetBookmark() const {
    CheckActive();
    return m_cur ? m_cur->seq : kNoBookmark;
}

bool ClientDataSet::BookmarkValid(Bookmark b) const {
    return Active() && b != kNoBookmark && m_table->BySeq(b) != nullptr;
}

void ClientDataSet::GotoBookmark(Bookmark b) {
    CheckBrowseMode();
    Record* r = b == kNoBookmark ? nullptr : m_table->BySeq(b);
    if (!r) throw DataSetError(m_name + ": Record not found");
    m_eof = m_bof = false;
    SetCurrent(r);
}

// ---- changes ---------------------------------------------------------------------------------

const double* ClientDataSet::ReadRow() const {
    if ((m_state == DataSetState::Edit || m_state == DataSetState::Insert)) return m_buf.data();
    return m_cur ? m_cur->v.data() : nullptr;
}

bool ClientDataSet::ReadNull(int column) const {
    if (m_state == DataSetState::Edit || m_state == DataSetState::Insert) return (m_bufNulls >> column) & 1u;
    return m_cur->IsNull(column);
}

void ClientDataSet::Append() {
    CheckBrowseMode();
    if (ReadOnly) throw DataSetError(m_name + ": Cannot modify a read-only dataset");
    m_buf.assign(m_table->defs.size(), 0.0);
    m_bufNulls = m_table->defs.size() >= 64 ? ~0ull : (1ull << m_table->defs.size()) - 1;
    m_state = DataSetState::Insert;
    m_calcValid = false;
}

void ClientDataSet::Edit() {
    CheckActive();
    if (m_state == DataSetState::Edit || m_state == DataSetState::Insert) return;
    if (ReadOnly) throw DataSetError(m_name + ": Cannot modify a read-only dataset");
    if (!m_cur) throw DataSetError(m_name + ": Cannot edit an empty dataset");
    m_buf = m_cur->v;
    m_bufNulls = m_cur->nulls;
    m_state = DataSetState::Edit;
    m_calcValid = false;
}

void ClientDataSet::Cancel() {
    CheckActive();
    m_state = DataSetState::Browse;
    m_calcValid = false;
}

void ClientDataSet::Post() {
    CheckActive();
    if (m_state != DataSetState::Edit && m_state != DataSetState::Insert) return;
    if (BeforePost) {
        const Notify handler = BeforePost;
        handler(*this);
        if (m_state != DataSetState::Edit && m_state != DataSetState::Insert) return;
    }
    for (auto& f : m_fields)
        if (f->Required && !f->m_calculated && ((m_bufNulls >> f->m_column) & 1u))
            throw DataSetError("Field '" + f->m_name + "' must have a value");
    Table& t = *m_table;
    if (m_state == DataSetState::Insert) {
        auto rec = std::make_unique<Record>();
        rec->v = m_buf;
        rec->nulls = m_bufNulls;
        const int ac = t.autoIncColumn;
        if (ac >= 0) {
            if (t.nextAutoInc > 2147483647) throw DataSetError(m_name + ": No further key values");
            rec->v[static_cast<size_t>(ac)] = static_cast<double>(t.nextAutoInc++);
            rec->nulls &= ~(1ull << ac);
        }
        m_state = DataSetState::Browse;
        Record* p = t.Insert(std::move(rec));
        m_eof = m_bof = false;
        SetCurrent(p);
    } else {
        m_state = DataSetState::Browse;
        t.Update(m_cur, m_buf, m_bufNulls);
    }
    m_calcValid = false;
    if (AfterPost) {
        const Notify handler = AfterPost; // the handler may replace itself while it runs
        handler(*this);
    }
}

void ClientDataSet::Delete() {
    CheckActive();
    if (m_state == DataSetState::Insert) {
        Cancel();
        return;
    }
    if (ReadOnly) throw DataSetError(m_name + ": Cannot modify a read-only dataset");
    if (!m_cur) throw DataSetError(m_name + ": Cannot perform this operation on an empty dataset");
    m_state = DataSetState::Browse;
    m_table->Remove(m_cur);
    if (AfterDelete) {
        const Notify handler = AfterDelete;
        handler(*this);
    }
}

void ClientDataSet::RecordRemoving(const Record* r) {
    if (m_cur != r) return;
    if (m_state == DataSetState::Edit) m_state = DataSetState::Browse;
    const size_t pos = PositionOf(r);
    const size_t n = OrderSize();
    // The next record the cursor shows, else the previous one.
    size_t next = pos + 1, prev = pos;
    while (next < n && !Shows(OrderAt(next))) ++next;
    while (prev > 0 && !Shows(OrderAt(prev - 1))) --prev;
    if (next < n) {
        m_cur = OrderAt(next);
        m_eof = false;
        m_posHint = next - 1; // its place once r is gone
    } else if (prev > 0) {
        m_cur = OrderAt(prev - 1);
        m_eof = true;
        m_posHint = prev - 1;
    } else {
        m_cur = nullptr;
        m_eof = m_bof = true;
    }
    m_calcValid = false;
}

void ClientDataSet::RecordChanging(IDataSetObserver::Change change, const Record* r) {
    // A cursor that hides records cannot tell yet whether the change shows or hides one: its
    // observers hear of it afterwards as a change of the whole data.
    if (m_observers.empty() || Hides()) return;
    if (m_disableCount > 0) {
        m_pendingReset = true;
        return;
    }
    const size_t pos = change == IDataSetObserver::Change::Appended ? InsertPosition(r) : PositionOf(r);
    auto observers = m_observers;
    for (IDataSetObserver* o : observers) o->DataChanging(change, static_cast<int>(pos) + 1);
}

void ClientDataSet::TableChanged(IDataSetObserver::Change change, const Record* r, int deletedPos) {
    m_calcValid = false;
    if (m_observers.empty()) return;
    if (m_disableCount > 0) {
        m_pendingReset = true;
        return;
    }
    if (Hides()) {
        NotifyObservers(IDataSetObserver::Change::Reset, 0);
        return;
    }
    const int row =
        change == IDataSetObserver::Change::Deleted ? deletedPos + 1 : static_cast<int>(PositionOf(r)) + 1;
    NotifyObservers(change, row);
}

void ClientDataSet::NotifyObservers(IDataSetObserver::Change change, int row) {
    if (m_disableCount > 0) {
        m_pendingReset = true;
        return;
    }
    auto observers = m_observers;
    for (IDataSetObserver* o : observers) o->DataChanged(change, row);
}

void ClientDataSet::NotifyScroll() {
    if (m_disableCount > 0 || m_observers.empty()) {
        if (m_disableCount > 0) m_pendingReset = true;
        return;
    }
    auto observers = m_observers;
    for (IDataSetObserver* o : observers) o->Scrolled();
}

void ClientDataSet::EnableControls() {
    if (m_disableCount > 0 && --m_disableCount == 0 && m_pendingReset) {
        m_pendingReset = false;
        NotifyObservers(IDataSetObserver::Change::Reset, 0);
        NotifyScroll();
    }
}

void ClientDataSet::AddObserver(IDataSetObserver* o) {
    if (std::find(m_observers.begin(), m_observers.end(), o) == m_observers.end()) m_observers.push_back(o);
}

void ClientDataSet::RemoveObserver(IDataSetObserver* o) {
    m_observers.erase(std::remove(m_observers.begin(), m_observers.end(), o), m_observers.end());
}

Aggregate& ClientDataSet::AddAggregate(const std::string& name, const std::string& expression) {
    m_aggregates.push_back(std::unique_ptr<Aggregate>(new Aggregate(this, name, expression)));
    return *m_aggregates.back();
}

void ClientDataSet::RunCalcFields() const {
    auto* self = const_cast<ClientDataSet*>(this);
    for (auto& v : self->m_calc) v = Variant();
    if (OnCalcFields && (m_cur || m_state == DataSetState::Insert)) {
        self->m_calculating = true;
        try {
            OnCalcFields(*self);
        } catch (...) {
            self->m_calculating = false;
            throw;
        }
        self->m_calculating = false;
    }
    self->m_calcValid = true;
}

void ClientDataSet::PeekRecord(int recNo, const std::function<void()>& fn) {
    CheckActive();
    const bool hides = Hides();
    const size_t count = hides ? ShownRecords().size() : OrderSize();
    if (recNo < 1 || recNo > static_cast<int>(count)) return;
    Record* target =
        hides ? m_shown[static_cast<size_t>(recNo - 1)] : OrderAt(static_cast<size_t>(recNo - 1));
    const DataSetState state = m_state;
    Record* cur = m_cur;
    const size_t hint = m_posHint;
    const bool eof = m_eof, bof = m_bof;
    // Reading another row than the one being edited shows its stored values.
    const bool peekOther = target != cur || state == DataSetState::Insert;
    if (peekOther) m_state = DataSetState::Browse;
    m_cur = target;
    if (!hides) m_posHint = static_cast<size_t>(recNo - 1);
    m_calcValid = false;
    auto restore = [&] {
        m_state = state;
        m_cur = cur;
        m_posHint = hint;
        m_eof = eof;
        m_bof = bof;
        m_calcValid = false;
    };
    try {
        fn();
    } catch (...) {
        restore();
        throw;
    }
    restore();
}

} // namespace quorvel
