#pragma once
// The order list's record: its 46 fields, the statuses and order types, the engine cursor's
// index and the texts the grid shows for them, and the leg seen through a cursor with its
// fields bound once.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "desk/core/orderjournal.h"
#include "desk/core/pricestore.h"
#include "desk/core/view.h"
#include "platform/clientdataset.h"

namespace quorvel {

enum OrderStatus : int32_t {
    stNoLeg = -1,
    stToOpen = 0,
    stPending = 1,
    stOpened = 2,
    stCloseCond = 3,
    stToClose = 4,
    stClosed = 5,
    stCanceled = 6,
};

enum OrderTypeValue : int32_t {
    otNone = -1,
    otBuy = 1,
    otSell = 2,
};

// The close condition a leg closes by (CloseBedingung): once the cross spread over its EAs has
// come down to its close spread or below. Any other value (-1 or null: none given) is no close
// condition.
constexpr int32_t kCloseAtOrBelowSpread = 1;

// Whether a leg has ended: "Closed" or "Canceled". No operator control brings one back.
inline bool LegEnded(int32_t status) {
    return status == stClosed || status == stCanceled;
}

// The order list's columns, in definition order (that of OrderListFieldDefs).
enum class LegColumn : int {
    TableID,
    Lots,
    OrderType,
    Bedingung,
    Spread,
    Status,
    ID1,
    ID2,
    ID3,
    ID4,
    ID5,
    ID6,
    ID7,
    ID8,
    ID9,
    ID10,
    EAID,
    Zeitpunkt,
    OrderOpenTime,
    OrderCloseTime,
    Ticket,
    Account,
    Kurs,
    OrderID,
    CloseBedingung,
    CloseSpread,
    FirstOrderID,
    CloseKurs,
    Gewinn,
    Verbindungsstatus,
    TO_Spread,
    TC_Spread,
    GewinnPips,
    CloseDelaySec,
    SlippageAusgleich,
    TrigOpenKurs,
    TrigCloseKurs,
    MaxVerlust,
    PendingTime,
    OpenDelayUntil,
    CloseDelayUntil,
    AutoClose,
    OpenAfterCounterOrder,
    CloseAfterCounterOrder,
    ForceClose,
    ATRaiseChecked,
};
constexpr int kLegColumns = static_cast<int>(LegColumn::ATRaiseChecked) + 1;
// The column's field name.
const std::string& LegColumnName(LegColumn c);

// The leg under one cursor: the cursor's fields bound once, each read and written on the
// cursor's current record. A column the cursor does not hold is refused as FieldByName
// refuses it. Bind a cursor with fields of its own (persistent ones) whenever; a cursor that
// makes its fields when it opens, after each opening.
class LegView {
public:
    LegView() = default;
    explicit LegView(ClientDataSet& ds) { Bind(ds); }
    void Bind(ClientDataSet& ds);

    ClientDataSet& DataSet() const { return *m_ds; }
    Field& Column(LegColumn c) const {
        Field* f = m_fields[static_cast<size_t>(c)];
        return f ? *f : Unbound(c);
    }

    Field& TableID() const { return Column(LegColumn::TableID); }
    Field& Lots() const { return Column(LegColumn::Lots); }
    Field& OrderType() const { return Column(LegColumn::OrderType); } // otBuy, otSell, otNone
    Field& OpenSpread() const { return Column(LegColumn::Spread); }   // the target cross spread
    Field& Status() const { return Column(LegColumn::Status); }       // an OrderStatus
    // The ten EA IDs of the broker list (k = 0..9: ID1..ID10).
    Field& Broker(int k) const {
        return Column(static_cast<LegColumn>(static_cast<int>(LegColumn::ID1) + k));
    }
    Field& EAID() const { return Column(LegColumn::EAID); }
    Field& OrderTime() const { return Column(LegColumn::Zeitpunkt); } // when the leg was placed
    Field& OpenTime() const { return Column(LegColumn::OrderOpenTime); }
    Field& CloseTime() const { return Column(LegColumn::OrderCloseTime); }
    Field& Ticket() const { return Column(LegColumn::Ticket); }
    Field& Account() const { return Column(LegColumn::Account); }
    Field& OpenPrice() const { return Column(LegColumn::Kurs); }
    Field& OrderID() const { return Column(LegColumn::OrderID); }
    Field& CloseCondition() const { return Column(LegColumn::CloseBedingung); }
    Field& CloseSpread() const { return Column(LegColumn::CloseSpread); }
    // The OrderID of the transaction's first leg, on its second leg; null on the first.
    Field& FirstOrderID() const { return Column(LegColumn::FirstOrderID); }
    Field& ClosePrice() const { return Column(LegColumn::CloseKurs); }
    Field& Profit() const { return Column(LegColumn::Gewinn); } // money
    Field& ConnectionStatus() const { return Column(LegColumn::Verbindungsstatus); }
    Field& AchievedOpenSpread() const { return Column(LegColumn::TO_Spread); }  // of the fills
    Field& AchievedCloseSpread() const { return Column(LegColumn::TC_Spread); } // of the closes
    Field& ProfitPoints() const { return Column(LegColumn::GewinnPips); }       // the price gain
    Field& SlippageCompensation() const { return Column(LegColumn::SlippageAusgleich); }
    Field& TriggerOpenPrice() const { return Column(LegColumn::TrigOpenKurs); }
    Field& TriggerClosePrice() const { return Column(LegColumn::TrigCloseKurs); }
    Field& MaxLoss() const { return Column(LegColumn::MaxVerlust); }
    Field& PendingTime() const { return Column(LegColumn::PendingTime); }
    Field& OpenDelayUntil() const { return Column(LegColumn::OpenDelayUntil); }
    Field& CloseDelayUntil() const { return Column(LegColumn::CloseDelayUntil); }
    Field& AutoClose() const { return Column(LegColumn::AutoClose); }
    Field& OpenAfterCounterOrder() const { return Column(LegColumn::OpenAfterCounterOrder); }
    Field& CloseAfterCounterOrder() const { return Column(LegColumn::CloseAfterCounterOrder); }
    Field& ForceClose() const { return Column(LegColumn::ForceClose); }
    // Whether the leg's transaction was counted for the auto-trade credit.
    Field& CreditChecked() const { return Column(LegColumn::ATRaiseChecked); }

    // Moves the cursor to the leg with this OrderID; false (the cursor stays) when there is none.
    bool Locate(int32_t orderID) const;

private:
    Field& Unbound(LegColumn c) const;

    ClientDataSet* m_ds = nullptr;
    Field* m_fields[kLegColumns] = {};
};

// The 46 fields in definition order (also the column order of Orderlist.xml).
const std::vector<FieldDef>& OrderListFieldDefs();
// The engine cursor's index: OrderID descending, newest leg first.
const IndexDef& IdxOrderIDDesc();

// "To Open" .. "Canceled" for 0..6, empty for any other value.
std::string OrderStatusText(int32_t status);
// "Buy" for 1, "Sell" for 2, "---" otherwise.
std::string OrderTypeText(int32_t type);

// Field names held by each cursor, in the cursor's field order (the display cursor's list
// starts with its calculated "Nr").
const std::vector<std::string>& EngineCursorFields();
const std::vector<std::string>& DisplayCursorFields();
const std::vector<std::string>& AppendCursorFields();

// The message shown when Orderlist.xml does not load.
extern const char16_t kOrderListLoadFailed[];

// Writes `list` to `path` (replaced atomically, FileError on failure) and returns what
// identifies the file written. With a journal, its save record is written before the file
// replaces the old one. Safe on the save writer's thread.
ListFileId WriteOrderList(const TableSnapshot& list, const std::string& path, OrderJournal* journal,
                          const OrderJournal::Mark& mark);

// Raises a busy counter for the life of the guard.
struct BusyGuard {
    int& counter;
    explicit BusyGuard(int& c) : counter(c) { ++counter; }
    ~BusyGuard() { --counter; }
    BusyGuard(const BusyGuard&) = delete;
    BusyGuard& operator=(const BusyGuard&) = delete;
};

// The order list: one table seen through three cursors - the engine cursor (newest OrderID
// first), the display cursor of the order grid (natural order) and the append cursor of new
// legs - with the grid's sums, the lookups by OrderID and the file Orderlist.xml.
class OrderList {
public:
    OrderList(IDeskView& view, std::string path);

    ClientDataSet m_CDSOrderliste{"m_CDSOrderliste"};
    ClientDataSet m_CDSOrderlisteAnzeige{"m_CDSOrderlisteAnzeige"};
    ClientDataSet m_CDSAddNewOrder{"m_CDSAddNewOrder"};
    Aggregate* AggSumGewinn = nullptr;
    Aggregate* AggSumGewinnPips = nullptr;
    Aggregate* AggSumLots = nullptr;
    // Raised around batch edits and lookups; the order grid ignores data changes meanwhile.
    int m_iDisableDataChange = 0;
    // Whether the list was loaded; a list that was never loaded is never saved.
    bool m_bOrderListLoaded = false;
    // Called when the journal takes a change while it has none unwritten: a commit is due.
    std::function<void()> OnJournalPending;

    // Loads Orderlist.xml (or creates the list empty), replays the journal over it and clones
    // the other two cursors.
    void OpenOrderList();
    // Writes Orderlist.xml, then starts the journal anew from it; never a list that was not
    // loaded. Throws FileError on failure.
    void SaveOrderList();
    // Keeps every change of the list's records in the journal at `path` from the next
    // OpenOrderList on.
    void UseJournal(const std::string& path) { m_journal = std::make_unique<OrderJournal>(path); }
    // None without UseJournal, or when the list was never loaded.
    OrderJournal* Journal() { return m_journalActive ? m_journal.get() : nullptr; }
    // Readable when the journal's durable position may have grown (from UseJournal on, before
    // the list is opened); -1 without a journal.
    int JournalWakeFd() const { return m_journal ? m_journal->WakeFd() : -1; }
    // What the opening found about the journal: notes for the operator, and the error that
    // kept it from being written (empty: none).
    std::vector<std::string> TakeJournalNotes() { return std::move(m_journalNotes); }
    std::string TakeJournalError() { return std::move(m_journalError); }
    // What SaveOrderList would write, taken now to be written elsewhere; none when it would
    // write nothing.
    std::unique_ptr<TableSnapshot> SnapshotForSave() const;
    // Closes the display, append and engine cursors, in that order.
    void CloseOrderList();

    // The leg under the engine cursor, under the display cursor and under the append cursor.
    const LegView& Leg() const { return m_leg; }
    const LegView& ShownLeg() const { return m_shownLeg; }
    const LegView& NewLeg() const { return m_newLeg; }
    // Moves the engine cursor to the leg with this OrderID; false (the cursor stays) when
    // there is none.
    bool LocateLeg(int32_t orderID) const { return m_leg.Locate(orderID); }

    // Lookups by OrderID on the engine cursor; they move no cursor.
    // The column of the leg with this OrderID; null when there is none (or the column is).
    Variant LookupLeg(int32_t orderID, LegColumn column);
    int GetCounterOrderID(int iOrderID);
    int GetOrderTypeByID(int iOrderID);
    int GetOrderStatusByID(int iOrderID);
    int LookupOrderInteger(int iOrderID, const std::string& field);
    std::string LookupOrderString(int iOrderID, const std::string& field);
    int64_t LookupOrderPoints(int iOrderID, const std::string& field);
    bool LookupOrderBoolean(int iOrderID, const std::string& field, bool& value);

    // Display handlers and dataset events.
    void m_CDSOrderlisteStatusGetText(Field& sender, std::string& text, bool displayText);
    void m_CDSOrderlisteOrderTypeGetText(Field& sender, std::string& text, bool displayText);
    void m_CDSOrderlisteAnzeigeTableIDGetText(Field& sender, std::string& text, bool displayText);
    void m_CDSOrderlisteAnzeigeCalcFields(ClientDataSet& ds);
    void m_CDSOrderlisteAnzeigeAfterOpen(ClientDataSet& ds);
    void m_CDSOrderlisteAfterPost(ClientDataSet& ds);
    void m_CDSOrderlisteAnzeigeAfterPost(ClientDataSet& ds);
    void m_CDSAddNewOrderAfterPost(ClientDataSet& ds);
    void m_CDSOrderlisteAnzeigeAfterDelete(ClientDataSet& ds);
    // Shows the sums of the aggregates added last on the sum labels, each only when its
    // aggregate exists; then the hook.
    void UpdateSumLabels();
    void m_CDSOrderlisteAfterDelete(ClientDataSet& ds);
    void m_CDSAddNewOrderAfterDelete(ClientDataSet& ds);

    const std::string& Path() const { return m_path; }

private:
    void SetUpOrderListCursors();
    Variant LookupOrder(int iOrderID, const std::string& field);

    IDeskView& m_view;
    std::string m_path;
    LegView m_leg;
    LegView m_shownLeg;
    LegView m_newLeg;
    std::unique_ptr<OrderJournal> m_journal;
    bool m_journalActive = false;
    std::vector<std::string> m_journalNotes;
    std::string m_journalError;
};

// The "To Open" legs of the order list by table, kept up to date as legs are appended, edited
// and deleted through any cursor, so that the opening trigger reads only the waiting legs of
// the tables it has to test. A leg counts for the table its TableID names (read as the
// trigger reads it); a leg of a TableID outside 0..19 names no EA and is left out. Each table
// also remembers whether one of its legs came in or was edited while waiting since it was last
// asked: such a leg has not been tested yet as it is now.
class WaitingLegs {
public:
    explicit WaitingLegs(ClientDataSet& engine);
    ~WaitingLegs();
    WaitingLegs(const WaitingLegs&) = delete;
    WaitingLegs& operator=(const WaitingLegs&) = delete;

    struct Leg {
        Bookmark bookmark;
        bool orderIDNull; // the engine cursor puts these last
        double orderID;
    };
    // The waiting legs of table t, in no particular order.
    const std::vector<Leg>& Of(int t);
    // Whether a leg of table t came in or was edited since the last call for t; clears it.
    bool TakeChanged(int t);
    // The engine cursor's order: OrderID descending, a null OrderID last, the later record
    // first among equals.
    static bool Before(const Leg& a, const Leg& b);

private:
    struct Watch : IDataSetObserver {
        WaitingLegs& owner;
        bool engine;
        Watch(WaitingLegs& o, bool e) : owner(o), engine(e) {}
        void DataChanged(Change change, int row) override;
        void DataChanging(Change change, int row) override;
        void Scrolled() override {}
    };
    // A natural-order cursor of its own on the engine cursor's table, and every waiting leg
    // read through it.
    void Rebuild();
    void Bring();
    // The record under the own cursor: in or out of its table's legs as it is now.
    void Take();
    void Drop(Bookmark b);

    ClientDataSet& m_engine;
    Watch m_engineWatch{*this, true};
    Watch m_listWatch{*this, false};
    std::unique_ptr<ClientDataSet> m_list;
    LegView m_listLeg; // the leg under the own cursor
    std::vector<Leg> m_legs[kMaxTables];
    bool m_changed[kMaxTables] = {};
    std::unordered_map<Bookmark, int> m_tableOf; // the table each waiting leg is kept under
    bool m_stale = true;
};

} // namespace quorvel
