#pragma once
// The client dataset engine: one in-memory table seen through any number of cursors.
//
// A table holds records in natural (append) order. A cursor (ClientDataSet) has its own
// current record, its own persistent fields, optionally an index, its own events and its
// own aggregates; clones share the table, so a change posted through one cursor is seen
// through all at once. Keyed lookups and locates on integer fields use hash indexes that
// the table builds on first use and keeps up to date; sums are kept up to date as records
// change; an ordered index keeps its order as records are appended, edited or deleted.
//
// Errors (a field that does not exist, a set outside edit state, a file that does not load)
// are thrown as DataSetError with a readable message.
#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "platform/clientdataset_field.h"
#include "platform/timestamp.h"

namespace quorvel {

enum class DataSetState { Inactive, Browse, Edit, Insert, CalcFields };

// How Locate compares the texts of string fields (other fields always compare exactly):
// loCaseInsensitive folds the letters A-Z, loPartialKey matches a value that begins with the
// text sought.
enum TLocateOption : unsigned { loCaseInsensitive = 1u << 0, loPartialKey = 1u << 1 };
using TLocateOptions = unsigned;

// An ordered index of a cursor: one field, or several separated by ";" (the first most
// significant), ascending or descending. Records with equal keys keep their natural order
// (descending: the later one first); nulls sort below every value.
struct IndexDef {
    std::string name;
    std::string field;
    bool descending = false;
};

// A position in the table that survives other moves: the record's serial number.
using Bookmark = uint64_t;
constexpr Bookmark kNoBookmark = 0;

namespace cds {
struct Table;
struct Record;
struct Snapshot;
class FilterExpr;
} // namespace cds

// The whole table as it stood at one moment, to be written while the table goes on changing:
// a save that runs on another thread writes neither a row that is half changed nor a list
// that is. Taking one copies the row pointers only; a row changed or deleted afterwards keeps
// a copy of its former values for the snapshot (copy on write). Take and drop it on the thread
// that changes the table; meanwhile SaveToFile and SaveToString may run on one other thread.
class TableSnapshot {
public:
    ~TableSnapshot();
    TableSnapshot(const TableSnapshot&) = delete;
    TableSnapshot& operator=(const TableSnapshot&) = delete;

    size_t RecordCount() const;
    // The data packet of the rows, byte for byte what ClientDataSet::SaveToFile would have
    // written at the moment of taking; replaced atomically, FileError on failure.
    void SaveToFile(const std::string& path) const;
    std::string SaveToString() const;
    // The same packet handed to `put` in pieces, in order (see SaveToFile).
    void WriteTo(const std::function<void(std::string_view)>& put) const;

private:
    friend class ClientDataSet;
    explicit TableSnapshot(std::unique_ptr<cds::Snapshot> s);
    std::unique_ptr<cds::Snapshot> m_s;
};

// One change of a table's records, told to the table's change listener once it is made,
// whichever cursor made it: enough to make the same change again on a table that holds the
// same records (ApplyRecordChange). `position` is the record's place in the natural order:
// where an appended record went, where an edited one stands, where a deleted one stood.
// `columns` has bit c set for each column c that Value gives: an appended record's non-null
// columns, an edited record's changed ones. `key` is the AutoInc column of the record before
// the change (null for an appended record, or when the table has no such column).
class RecordChange {
public:
    enum class Kind : uint8_t { Appended = 1, Edited = 2, Deleted = 3 };
    Kind kind = Kind::Appended;
    size_t position = 0;
    uint64_t columns = 0;
    Variant key;
    // Column c's value after the change (null when it became null).
    Variant Value(int c) const;

private:
    friend struct cds::Table;
    const cds::Table* m_table = nullptr;
    const cds::Record* m_record = nullptr;
};

// Told of changes a cursor sees, unless its controls are disabled.
class IDataSetObserver {
public:
    virtual ~IDataSetObserver() = default;
    // A record was changed, appended or deleted, or the whole data changed (row 0). row is
    // the 1-based position in the observed cursor's order of the record concerned (for a
    // delete: the position it had).
    enum class Change { Edited, Appended, Deleted, Reset };
    virtual void DataChanged(Change change, int row) = 0;
    // Before an edit, append or delete reaches the table, while the order is still the old
    // one: row is the position the record has (edit, delete) or will take (append). Every
    // such call is followed by DataChanged for the same change.
    virtual void DataChanging(Change /*change*/, int /*row*/) {}
    // The cursor's current record moved.
    virtual void Scrolled() = 0;
};

class ClientDataSet {
public:
    using Notify = std::function<void(ClientDataSet&)>;

    explicit ClientDataSet(std::string name = {});
    virtual ~ClientDataSet();
    ClientDataSet(const ClientDataSet&) = delete;
    ClientDataSet& operator=(const ClientDataSet&) = delete;

    const std::string& Name() const { return m_name; }

    // ---- persistent fields --------------------------------------------------------------
    // Defines the fields this cursor holds, in this order (before opening). A cursor without
    // persistent fields gets one field per column of the table when it opens.
    Field& AddField(const std::string& name, FieldType type);
    Field& AddCalculatedField(const std::string& name, FieldType type);
    const std::vector<std::unique_ptr<Field>>& Fields() const { return m_fields; }
    Field* FindField(std::string_view name) const;
    Field& FieldByName(std::string_view name) const; // throws when there is none

    // ---- open, close ----------------------------------------------------------------------
    // A new empty table from the definitions; `index` (when its field is set) becomes this
    // cursor's index. Opens the cursor.
    void CreateDataSet(const std::vector<FieldDef>& defs, const IndexDef& index = {});
    // Loads the XML data packet; opens the cursor on a new table. Throws DataSetError when the
    // file cannot be read, is no data packet, or lacks a persistent field of this cursor or
    // holds it with another type; the cursor is then closed.
    void LoadFromFile(const std::string& path, const IndexDef& index = {});
    void LoadFromString(std::string data, const IndexDef& index = {});
    // Writes the whole table (all records, all columns in definition order) atomically.
    void SaveToFile(const std::string& path) const;
    std::string SaveToString() const;
    // Replaces every record of the shared table by those of the packet, keeping the table, so
    // that every cursor on it (clones too) sees the new data; a cursor whose record went stands
    // on its first record. The packet must hold the table's columns with their types, else
    // DataSetError and the data stays as it was. The records get new bookmarks.
    void ReloadFromString(std::string data);
    // Tells `listener` of every change of the shared table's records from now on (see
    // RecordChange); an empty one tells no one. Kept by the table: a load or a new table
    // starts without one.
    void SetChangeListener(std::function<void(const RecordChange&)> listener);
    // Makes a change that a listener was told of on the shared table: an appended record with
    // `values` (every other column null; an AutoInc value moves the next key beyond it), an
    // edit of `values` into the record at `position`, or the delete of that record. `key`,
    // unless null, must be the record's AutoInc value, and an append must go to the end.
    // Raises no event and moves no cursor that stands elsewhere; the listener is told.
    // Throws DataSetError when the change does not fit the table, which then is unchanged.
    void ApplyRecordChange(RecordChange::Kind kind, size_t position, const Variant& key,
                           const std::vector<std::pair<int, Variant>>& values);
    // The table as it is now, for writing it elsewhere (see TableSnapshot).
    std::unique_ptr<TableSnapshot> Snapshot() const;
    // A further cursor on the source's table. reset: no index (natural order), no filter, not
    // read-only, no master; neither reset nor keepSettings: the source's index, filter, master
    // link and read-only flag;
    // keepSettings: the clone's own.
    // The clone keeps its own persistent fields and events. Opens the clone. Cloning from a
    // cursor that is itself a clone of this one (directly or down its chain) is refused, so a
    // chain of clone sources never runs in a circle.
    void CloneCursor(ClientDataSet& source, bool reset, bool keepSettings = false);
    // The cursor this one was cloned from; null when it was opened on its own, or when that
    // cursor has been destroyed since.
    ClientDataSet* CloneSource() const { return m_cloneSource; }
    bool Active() const { return m_state != DataSetState::Inactive; }
    DataSetState State() const { return m_state; }
    void Close();
    // Reads the data again: an in-memory table has nothing newer, so the cursor only posts a
    // pending edit and tells its observers that the whole data may have changed.
    void Refresh();
    const std::vector<FieldDef>& FieldDefs() const; // the table's columns

    // ---- index ----------------------------------------------------------------------------
    void SetIndex(const IndexDef& index); // empty field: natural order
    const IndexDef& Index() const { return m_index; }
    // The index as field names separated by ";", ascending ("" for the natural order).
    // Setting them keeps the current record; an unknown field throws and changes nothing.
    const std::string& IndexFieldNames() const { return m_index.field; }
    void SetIndexFieldNames(const std::string& names);
    bool ReadOnly = false;

    // ---- navigation -----------------------------------------------------------------------
    void First();
    void Last();
    void Next();
    void Prior();
    bool Eof() const { return m_eof; }
    bool Bof() const { return m_bof; }
    bool IsEmpty() const { return RecordCount() == 0; }
    int RecordCount() const;
    // 1-based position of the current record among the records this cursor shows (its filter
    // and master link applied), in its order; -1 when there is none or it is hidden. SetRecNo
    // and PeekRecord count the same way. (The observers of such a cursor hear of every change
    // of the table as a change of the whole data.)
    int RecNo() const;
    void SetRecNo(int recNo);
    // Walks that visit only the records whose `field` holds one of `values`, in this cursor's
    // order: First and Next skip every other record. The records are picked when First runs;
    // Next skips a picked record that no longer matches or was deleted. Locate, GotoBookmark
    // and SetRecNo keep the walk: the next Next goes on with the first picked record after
    // the one the cursor stands on. Last, Prior, GotoNearest, a new index and a reload end the
    // walk (Next then steps through every record) until First picks anew; a change of filter
    // or master picks anew at once. The walk filter stays set until ClearWalkFilter or Close.
    void SetWalkFilter(const std::string& field, std::vector<int32_t> values);
    void ClearWalkFilter();

    // ---- filter ---------------------------------------------------------------------------
    // While Filtered, the cursor shows only the records the filter expression matches (see
    // clientdataset_filter.h): navigation, RecordCount, Locate, Lookup and the Min/Max
    // aggregates pass over the others. An empty text shows every record. A malformed text
    // throws DataSetError when it is set on an open cursor (or when the cursor opens).
    void SetFilter(const std::string& text);
    const std::string& Filter() const { return m_filterText; }
    void SetFiltered(bool on);
    bool Filtered() const { return m_filtered; }
    // Texts compare without regard to case.
    void SetFilterCaseInsensitive(bool on);
    bool FilterCaseInsensitive() const { return m_filterCaseInsensitive; }
    // Whether the record the cursor stands on is one the filter shows (true without filter).
    bool Shows(const cds::Record* r) const;
    // ---- master link ----------------------------------------------------------------------
    // While set, the cursor shows only the records whose fields match the master's current
    // record: the first index field against the first master field (names separated by ";"),
    // and so on; without an index field in that place, the field of the master field's name.
    // The cursor goes to its first record whenever the master moves or its data changes. A
    // master destroyed first ends the link. Null master: no link.
    void SetMasterSource(ClientDataSet* master, const std::string& masterFields);
    ClientDataSet* MasterSource() const { return m_master; }
    const std::string& MasterFields() const { return m_masterFields; }
    // Moves to the first shown record, in the index's order, whose first index field is at least
    // `key` (at most, on a descending index); to the end of the data when there is none.
    void GotoNearest(const Variant& key);

    // Moves to the first record in this cursor's order whose fields equal the values (the
    // newest first on a descending index); the options loosen the comparison of texts.
    // Returns whether one was found; when not, the cursor stays where it was.
    bool Locate(const std::vector<std::string>& fields, const std::vector<Variant>& values,
                TLocateOptions options = 0);
    bool Locate(const std::string& field, const Variant& value, TLocateOptions options = 0) {
        return Locate(std::vector<std::string>{field}, std::vector<Variant>{value}, options);
    }
    // The value of resultField in the first record whose key fields equal the values, or null
    // when none matches. The current record stays.
    Variant Lookup(const std::vector<std::string>& keyFields, const std::vector<Variant>& values,
                   const std::string& resultField) const;
    Variant Lookup(const std::string& keyField, const Variant& value, const std::string& resultField) const {
        return Lookup(std::vector<std::string>{keyField}, std::vector<Variant>{value}, resultField);
    }

    Bookmark GetBookmark() const;
    bool BookmarkValid(Bookmark b) const;
    void GotoBookmark(Bookmark b); // throws when the record is gone
    void FreeBookmark(Bookmark) {}

    // ---- changes ------------------------------------------------------------------------
    // A new record, posted at the end of the natural order; posting assigns the AutoInc field.
    void Append();
    void Edit();
    // Writes the edit buffer to the table and raises AfterPost.
    void Post();
    void Cancel();
    // Removes the current record and raises AfterDelete; the cursor moves to the next record
    // (the previous one when it was the last).
    void Delete();

    // ---- aggregates -----------------------------------------------------------------------
    Aggregate& AddAggregate(const std::string& name, const std::string& expression);
    const std::vector<std::unique_ptr<Aggregate>>& Aggregates() const { return m_aggregates; }
    bool AggregatesActive = false;

    // ---- events, controls -----------------------------------------------------------------
    Notify AfterOpen;
    Notify BeforePost; // may throw to refuse the post; the edit stays
    Notify AfterPost;
    Notify AfterDelete;
    Notify OnCalcFields;
    void DisableControls() { ++m_disableCount; }
    void EnableControls();
    bool ControlsDisabled() const { return m_disableCount > 0; }
    void AddObserver(IDataSetObserver* o);
    void RemoveObserver(IDataSetObserver* o);

    // Reads the record at `recNo` (1-based, this cursor's order) without moving the cursor or
    // telling anyone: fn runs with that record current, then the cursor is put back. For
    // grids that draw rows other than the current one.
    void PeekRecord(int recNo, const std::function<void()>& fn);

private:
    friend class Field;
    friend class Aggregate;
    friend struct cds::Table;

    void Open(std::shared_ptr<cds::Table> table);
    void BindFields();
    void CheckActive() const;
    void CheckBrowseMode(); // posts a pending edit before a move
    void SetCurrent(cds::Record* r, bool notify = true);
    cds::Record* CurrentRecord() const { return m_cur; }
    const double* ReadRow() const;
    bool ReadNull(int column) const;
    void RunCalcFields() const;
    int ColumnOf(std::string_view name) const;
    // order
    size_t OrderSize() const;
    cds::Record* OrderAt(size_t pos) const;
    size_t PositionOf(const cds::Record* r) const;
    size_t InsertPosition(const cds::Record* r) const;             // where an appended record goes
    bool Before(const cds::Record* a, const cds::Record* b) const; // a comes first in our order
    std::vector<cds::Record*> Matches(const std::vector<std::string>& fields,
                                      const std::vector<Variant>& values, TLocateOptions options = 0) const;
    // Whether a filter or master link may hide records of the table.
    bool Hides() const { return m_filterExpr || m_master; }
    // The records this cursor shows, in its order (for a cursor that hides records); kept
    // until the table, the master's record, the filter, the index or the link change.
    const std::vector<cds::Record*>& ShownRecords() const;
    // 0-based place of a shown record among ShownRecords(); -1 for a hidden one.
    int ShownPosition(const cds::Record* r) const;
    // 0-based row of a record for observers and record numbers.
    int RowOf(const cds::Record* r) const;
    // table notifications
    void RecordChanging(IDataSetObserver::Change change, const cds::Record* r);
    void TableChanged(IDataSetObserver::Change change, const cds::Record* r, int deletedPos);
    void RecordRemoving(const cds::Record* r);
    void NotifyObservers(IDataSetObserver::Change change, int row);
    void NotifyScroll();
    void SetCloneSource(ClientDataSet* source);
    // The table columns of index field names separated by ";"; throws for an unknown one.
    std::vector<int> IndexColumnsOf(const std::string& names) const;

    std::string m_name;
    std::shared_ptr<cds::Table> m_table;
    ClientDataSet* m_cloneSource = nullptr;
    std::vector<ClientDataSet*> m_clones; // cursors whose clone source this one is
    DataSetState m_state = DataSetState::Inactive;
    IndexDef m_index;
    std::vector<int> m_indexColumns; // empty: natural order
    std::vector<std::unique_ptr<Field>> m_fields;
    bool m_autoFields = false;
    std::vector<std::unique_ptr<Aggregate>> m_aggregates;
    cds::Record* m_cur = nullptr;
    mutable size_t m_posHint = 0;
    bool m_eof = true;
    bool m_bof = true;
    // edit buffer
    std::vector<double> m_buf;
    uint64_t m_bufNulls = 0;
    // calculated values of the current record
    mutable std::vector<Variant> m_calc;
    mutable bool m_calcValid = false;
    mutable bool m_calculating = false;
    int m_disableCount = 0;
    bool m_pendingReset = false;
    std::vector<IDataSetObserver*> m_observers;
    void CompileFilter();
    bool MasterShows(const cds::Record* r) const;
    void MasterMoved();
    class MasterLink;
    ClientDataSet* m_master = nullptr;
    std::string m_masterFields;
    std::unique_ptr<MasterLink> m_masterLink;
    std::vector<ClientDataSet*> m_details;
    std::string m_filterText;
    bool m_filtered = false;
    bool m_filterCaseInsensitive = false;
    std::unique_ptr<cds::FilterExpr> m_filterExpr; // set while open, filtered and not empty
    // the records shown, while Hides()
    mutable std::vector<cds::Record*> m_shown;
    mutable bool m_shownValid = false;
    mutable uint64_t m_shownTableVersion = 0;
    mutable uint64_t m_shownMasterVersion = 0;
    mutable const cds::Record* m_shownMasterRecord = nullptr;
    void ForgetShown() { m_shownValid = false; }
    // walk filter
    int m_filterColumn = -1;
    std::vector<int32_t> m_filterValues;
    std::vector<Bookmark> m_walk;
    size_t m_walkPos = 0;
    bool m_walking = false;
};

} // namespace quorvel
