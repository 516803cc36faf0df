// The order list: its record, its three cursors, the lookups by OrderID, the grid's texts,
// and opening and saving Orderlist.xml.
#include "desk/core/orderlist.h"

#include <cstdio>
#include <optional>

#include "desk/core/ordergrid.h"
#include "platform/crc32.h"
#include "platform/files.h"
#include "platform/numbers.h"

namespace quorvel {

const char16_t kOrderListLoadFailed[] =
    u"The data structure has been changed. Please restart the application! Make sure the dataset engine "
    u"has been installed onto your computer.";

namespace {

// UTF-8 to UTF-16 for a box text; a malformed byte stands for itself (Latin-1).
std::u16string Utf8ToUtf16(std::string_view s) {
    std::u16string out;
    for (size_t i = 0; i < s.size();) {
        const auto b = static_cast<unsigned char>(s[i]);
        const int len = b < 0x80             ? 1
                        : (b & 0xE0) == 0xC0 ? 2
                        : (b & 0xF0) == 0xE0 ? 3
                        : (b & 0xF8) == 0xF0 ? 4
                                             : 0;
        char32_t c = len == 1 ? b : len == 2 ? (b & 0x1F) : len == 3 ? (b & 0x0F) : (b & 0x07);
        bool ok = len > 0 && i + static_cast<size_t>(len) <= s.size();
        for (int k = 1; ok && k < len; ++k) {
            const auto n = static_cast<unsigned char>(s[i + static_cast<size_t>(k)]);
            ok = (n & 0xC0) == 0x80;
            c = (c << 6) | (n & 0x3F);
        }
        if (!ok) {
            out += static_cast<char16_t>(b);
            ++i;
            continue;
        }
        i += static_cast<size_t>(len);
        if (c >= 0x10000) {
            out += static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
            out += static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
        } else {
            out += static_cast<char16_t>(c);
        }
    }
    return out;
}

} // namespace

const std::vector<FieldDef>& OrderListFieldDefs() {
    using T = FieldType;
    static const std::vector<FieldDef> defs = {
        {"TableID", T::Integer},
        {"Lots", T::Float},
        {"OrderType", T::Integer},
        {"Bedingung", T::Integer},
        {"Spread", T::Currency},
        {"Status", T::Integer},
        {"ID1", T::Integer},
        {"ID2", T::Integer},
        {"ID3", T::Integer},
        {"ID4", T::Integer},
        {"ID5", T::Integer},
        {"ID6", T::Integer},
        {"ID7", T::Integer},
        {"ID8", T::Integer},
        {"ID9", T::Integer},
        {"ID10", T::Integer},
        {"EAID", T::Integer},
        {"Zeitpunkt", T::DateTime},
        {"OrderOpenTime", T::DateTime},
        {"OrderCloseTime", T::DateTime},
        {"Ticket", T::Integer},
        {"Account", T::Integer},
        {"Kurs", T::Currency},
        {"OrderID", T::AutoInc},
        {"CloseBedingung", T::Integer},
        {"CloseSpread", T::Currency},
        {"FirstOrderID", T::Integer},
        {"CloseKurs", T::Currency},
        {"Gewinn", T::Currency},
        {"Verbindungsstatus", T::Integer},
        {"TO_Spread", T::Currency},
        {"TC_Spread", T::Currency},
        {"GewinnPips", T::Currency},
        {"CloseDelaySec", T::Integer},
        {"SlippageAusgleich", T::Boolean},
        {"TrigOpenKurs", T::Currency},
        {"TrigCloseKurs", T::Currency},
        {"MaxVerlust", T::Currency},
        {"PendingTime", T::DateTime},
        {"OpenDelayUntil", T::DateTime},
        {"CloseDelayUntil", T::DateTime},
        {"AutoClose", T::Boolean},
        {"OpenAfterCounterOrder", T::Boolean},
        {"CloseAfterCounterOrder", T::Boolean},
        {"ForceClose", T::Boolean},
        {"ATRaiseChecked", T::Boolean},
    };
    return defs;
}

const std::string& LegColumnName(LegColumn c) {
    return OrderListFieldDefs()[static_cast<size_t>(c)].name;
}

void LegView::Bind(ClientDataSet& ds) {
    m_ds = &ds;
    for (int c = 0; c < kLegColumns; ++c)
        m_fields[c] = ds.FindField(LegColumnName(static_cast<LegColumn>(c)));
}

Field& LegView::Unbound(LegColumn c) const {
    return m_ds->FieldByName(LegColumnName(c)); // throws when the cursor has no such field
}

bool LegView::Locate(int32_t orderID) const {
    static const std::vector<std::string> key{"OrderID"};
    return m_ds->Locate(key, std::vector<Variant>{Variant(orderID)});
}

const IndexDef& IdxOrderIDDesc() {
    static const IndexDef ix{"IdxOrderIDDesc", "OrderID", true};
    return ix;
}

std::string OrderStatusText(int32_t status) {
    switch (status) {
    case stToOpen:
        return "To Open";
    case stPending:
        return "Pending";
    case stOpened:
        return "Opened";
    case stCloseCond:
        return "Close Cond.";
    case stToClose:
        return "To Close";
    case stClosed:
        return "Closed";
    case stCanceled:
        return "Canceled";
    default:
        return {};
    }
}

std::string OrderTypeText(int32_t type) {
    return type == otBuy ? "Buy" : type == otSell ? "Sell" : "---";
}

namespace {
std::vector<std::string> AllBut(std::initializer_list<const char*> without) {
    std::vector<std::string> out;
    for (const FieldDef& d : OrderListFieldDefs()) {
        bool skip = false;
        for (const char* w : without) skip = skip || d.name == w;
        if (!skip) out.push_back(d.name);
    }
    return out;
}

FieldType TypeOf(const std::string& name) {
    for (const FieldDef& d : OrderListFieldDefs())
        if (d.name == name) return d.type;
    return FieldType::Integer; // the calculated Nr
}
} // namespace

const std::vector<std::string>& EngineCursorFields() {
    static const std::vector<std::string> f = AllBut({"Bedingung", "CloseDelaySec"});
    return f;
}

const std::vector<std::string>& AppendCursorFields() {
    static const std::vector<std::string> f =
        AllBut({"Bedingung", "CloseDelaySec", "TrigOpenKurs", "TrigCloseKurs", "PendingTime",
                "OpenDelayUntil", "CloseDelayUntil", "OpenAfterCounterOrder", "CloseAfterCounterOrder",
                "ForceClose", "ATRaiseChecked"});
    return f;
}

const std::vector<std::string>& DisplayCursorFields() {
    static const std::vector<std::string> f = {
        "Nr",
        "OrderID",
        "FirstOrderID",
        "Zeitpunkt",
        "Account",
        "TableID",
        "EAID",
        "Lots",
        "OrderType",
        "Spread",
        "MaxVerlust",
        "Status",
        "OpenDelayUntil",
        "OrderOpenTime",
        "TrigOpenKurs",
        "Kurs",
        "TO_Spread",
        "Ticket",
        "CloseDelayUntil",
        "OrderCloseTime",
        "CloseSpread",
        "SlippageAusgleich",
        "AutoClose",
        "TrigCloseKurs",
        "CloseKurs",
        "TC_Spread",
        "GewinnPips",
        "Gewinn",
        "Verbindungsstatus",
        "ID10",
        "ID9",
        "ID8",
        "ID7",
        "ID6",
        "ID5",
        "ID4",
        "ID3",
        "ID2",
        "ID1",
        "CloseBedingung",
        "ForceClose",
    };
    return f;
}

// ---- cursors and their settings ----------------------------------------------------------------

OrderList::OrderList(IDeskView& view, std::string path) : m_view(view), m_path(std::move(path)) {
    SetUpOrderListCursors();
    m_leg.Bind(m_CDSOrderliste);
    m_shownLeg.Bind(m_CDSOrderlisteAnzeige);
    m_newLeg.Bind(m_CDSAddNewOrder);
}

void OrderList::SetUpOrderListCursors() {
    for (const std::string& n : EngineCursorFields()) m_CDSOrderliste.AddField(n, TypeOf(n));
    for (const std::string& n : AppendCursorFields()) m_CDSAddNewOrder.AddField(n, TypeOf(n));
    for (const std::string& n : DisplayCursorFields()) {
        if (n == "Nr")
            m_CDSOrderlisteAnzeige.AddCalculatedField(n, FieldType::Integer);
        else
            m_CDSOrderlisteAnzeige.AddField(n, TypeOf(n));
    }

    // The grid's columns: title, display format, width in characters.
    struct Column {
        const char* field;
        const char* title;
        const char* format;
        int width;
    };
    static const Column columns[] = {
        {"Nr", "No.", "", 3},
        {"Zeitpunkt", "OrderTime", "hh:nn:ss", 8},
        {"Account", "Account No.", "", 10},
        {"TableID", "Tab", "", 3},
        {"EAID", "ID", "", 3},
        {"Lots", "", "", 4},
        {"OrderType", "Direc.", "", 3},
        {"Spread", "O-Spread", "0.00000", 7},
        {"MaxVerlust", "MaxLoss", "0.00000", 8},
        {"Status", "", "", 9},
        {"OpenDelayUntil", "Tr-O-Time", "hh:nn:ss,zzz", 12},
        {"OrderOpenTime", "OpenTime", "hh:nn:ss,zzz", 12},
        {"TrigOpenKurs", "Tr-O-Price", "0.00000", 3},
        {"Kurs", "O-Price", "0.00000", 7},
        {"TO_Spread", "Ta-O-Spread", "0.00000", 5},
        {"Ticket", "Order No.", "", 0},
        {"CloseDelayUntil", "Tr-C-Time", "hh:nn:ss,zzz", 12},
        {"OrderCloseTime", "CloseTime", "hh:nn:ss,zzz", 12},
        {"CloseSpread", "C-Spread", "0.00000", 7},
        {"SlippageAusgleich", "SL-C", "", 1},
        {"AutoClose", "FoAC", "", 1},
        {"TrigCloseKurs", "Tr-C-Price", "0.00000", 3},
        {"CloseKurs", "C-Price", "0.00000", 7},
        {"TC_Spread", "Ta-C-Spread", "0.00000", 5},
        {"GewinnPips", "P/ L Pips", "0.00000", 8},
        {"Gewinn", "P/ L", "0.00", 7},
    };
    ClientDataSet& a = m_CDSOrderlisteAnzeige;
    for (const Column& c : columns) {
        Field& f = a.FieldByName(c.field);
        f.DisplayLabel = c.title;
        f.DisplayFormat = c.format;
        if (c.width > 0) f.DisplayWidth = c.width;
    }
    a.FieldByName("OrderType").alignment = Alignment::Left;
    a.FieldByName("Status").alignment = Alignment::Left;
    Field& id = a.FieldByName("OrderID");
    id.DisplayLabel = "ID";
    id.ReadOnly = true;
    id.Visible = false;
    Field& id2 = a.FieldByName("FirstOrderID");
    id2.DisplayLabel = "ID2";
    id2.Visible = false;
    Field& verb = a.FieldByName("Verbindungsstatus");
    verb.DisplayLabel = "Verb.";
    verb.DisplayWidth = 5;
    verb.Visible = false;
    for (int k = 1; k <= 10; ++k) {
        Field& f = a.FieldByName("ID" + std::to_string(k));
        f.DisplayWidth = 2;
        f.Visible = false;
    }
    a.FieldByName("CloseBedingung").Visible = false;
    a.FieldByName("ForceClose").Visible = false;

    // Display handlers and events.
    auto statusText = [this](Field& f, std::string& text, bool dt) {
        m_CDSOrderlisteStatusGetText(f, text, dt);
    };
    auto typeText = [this](Field& f, std::string& text, bool dt) {
        m_CDSOrderlisteOrderTypeGetText(f, text, dt);
    };
    m_CDSOrderliste.FieldByName("Status").OnGetText = statusText;
    m_CDSOrderliste.FieldByName("OrderType").OnGetText = typeText;
    a.FieldByName("Status").OnGetText = statusText;
    a.FieldByName("OrderType").OnGetText = typeText;
    a.FieldByName("TableID").OnGetText = [this](Field& f, std::string& text, bool dt) {
        m_CDSOrderlisteAnzeigeTableIDGetText(f, text, dt);
    };
    a.OnCalcFields = [this](ClientDataSet& ds) { m_CDSOrderlisteAnzeigeCalcFields(ds); };
    a.AfterOpen = [this](ClientDataSet& ds) { m_CDSOrderlisteAnzeigeAfterOpen(ds); };
    a.AfterPost = [this](ClientDataSet& ds) { m_CDSOrderlisteAnzeigeAfterPost(ds); };
    a.AfterDelete = [this](ClientDataSet& ds) { m_CDSOrderlisteAnzeigeAfterDelete(ds); };
    m_CDSOrderliste.AfterPost = [this](ClientDataSet& ds) { m_CDSOrderlisteAfterPost(ds); };
    m_CDSAddNewOrder.AfterPost = [this](ClientDataSet& ds) { m_CDSAddNewOrderAfterPost(ds); };
    m_CDSOrderliste.AfterDelete = [this](ClientDataSet& ds) { m_CDSOrderlisteAfterDelete(ds); };
    m_CDSAddNewOrder.AfterDelete = [this](ClientDataSet& ds) { m_CDSAddNewOrderAfterDelete(ds); };
}

void OrderList::m_CDSOrderlisteStatusGetText(Field& sender, std::string& text, bool) {
    if (m_CDSOrderliste.Active() && m_CDSOrderliste.RecordCount() > 0)
        text = OrderStatusText(sender.AsInteger());
}

void OrderList::m_CDSOrderlisteOrderTypeGetText(Field& sender, std::string& text, bool) {
    if (m_CDSOrderliste.Active() && m_CDSOrderliste.RecordCount() > 0)
        text = OrderTypeText(sender.AsInteger());
}

void OrderList::m_CDSOrderlisteAnzeigeTableIDGetText(Field& sender, std::string& text, bool) {
    text = sender.IsNull() ? std::string() : std::to_string(sender.AsInteger());
}

void OrderList::m_CDSOrderlisteAnzeigeCalcFields(ClientDataSet& ds) {
    ds.FieldByName("Nr").SetAsInteger(ds.RecNo());
}

void OrderList::m_CDSOrderlisteAnzeigeAfterOpen(ClientDataSet&) {
    auto add = [this](const char* name, const char* expr) {
        Aggregate& g = m_CDSOrderliste.AddAggregate(name, expr);
        g.Active = true;
        return &g;
    };
    AggSumGewinn = add("SumGewinn", "Sum(Gewinn)");
    AggSumGewinnPips = add("SumGewinnPips", "Sum(GewinnPips)");
    AggSumLots = add("SumLots", "Sum(Lots)");
    m_CDSOrderliste.AggregatesActive = true;
    UpdateSumLabels();
}

void OrderList::m_CDSOrderlisteAfterPost(ClientDataSet&) {
    UpdateSumLabels();
}
void OrderList::m_CDSOrderlisteAnzeigeAfterPost(ClientDataSet&) {
    UpdateSumLabels();
}
void OrderList::m_CDSAddNewOrderAfterPost(ClientDataSet&) {
    UpdateSumLabels();
}
void OrderList::m_CDSOrderlisteAnzeigeAfterDelete(ClientDataSet&) {
    UpdateSumLabels();
}
// A delete through any cursor updates the sums as well.
void OrderList::m_CDSOrderlisteAfterDelete(ClientDataSet&) {
    UpdateSumLabels();
}
void OrderList::m_CDSAddNewOrderAfterDelete(ClientDataSet&) {
    UpdateSumLabels();
}

void OrderList::UpdateSumLabels() {
    auto show = [this](IDeskView::SumLabel l, const SumLabelText& t) {
        m_view.SetSumLabel(l, t.text, t.colour);
    };
    if (AggSumGewinn) show(IDeskView::SumLabel::Gewinn, ProfitSumText(AggSumGewinn->Value()));
    if (AggSumGewinnPips) show(IDeskView::SumLabel::GewinnPips, ProfitPipsSumText(AggSumGewinnPips->Value()));
    if (AggSumLots) show(IDeskView::SumLabel::Lots, LotsSumText(AggSumLots->Value()));
}

// ---- opening, saving, closing -------------------------------------------------------------------

void OrderList::OpenOrderList() {
    m_CDSOrderliste.Close();
    bool failed = false;
    ListFileId base; // what the journal continues
    try {
        if (FileExists(m_path)) {
            std::optional<std::string> bytes = ReadWholeFile(m_path);
            if (!bytes) throw DataSetError("Cannot open file \"" + m_path + "\"");
            const ListFileId loaded = ListFileId::Of(*bytes);
            m_CDSOrderliste.LoadFromString(std::move(*bytes), IdxOrderIDDesc());
            base = loaded;
        } else {
            m_CDSOrderliste.CreateDataSet(OrderListFieldDefs(), IdxOrderIDDesc());
        }
        m_bOrderListLoaded = true;
    } catch (const std::exception&) {
        failed = true;
    }
    if (failed) {
        m_bOrderListLoaded = false;
        // Keep the file that did not load under a new name beside it: the next start begins
        // empty and nothing of it is lost. Only when it is out of the way may the empty list
        // be saved under its name. The message names where it went.
        const std::string aside = SetFileAside(m_path);
        const std::string where = aside.empty() ? m_path + " could not be set aside and is left as it is."
                                                : m_path + " was set aside as " + aside + ".";
        std::fprintf(stderr, "%s\n", where.c_str());
        m_view.ShowMessageBox(std::u16string(kOrderListLoadFailed) + u"\n" + Utf8ToUtf16(where));
        m_view.Terminate();
        m_CDSOrderliste.Close();
        m_CDSOrderliste.CreateDataSet(OrderListFieldDefs(), IdxOrderIDDesc());
        m_bOrderListLoaded = !aside.empty();
    }
    // The journal of a list that is never saved stays as it is: it belongs to the file kept.
    m_journalActive = m_journal && m_bOrderListLoaded;
    if (m_journalActive) {
        try {
            m_journal->Open(m_CDSOrderliste, base, m_journalNotes);
        } catch (const std::exception& e) {
            m_journalError = e.what();
        }
        m_CDSOrderliste.SetChangeListener([this](const RecordChange& c) {
            const bool idle = m_journal->Idle();
            m_journal->Record(c);
            if (idle && OnJournalPending) OnJournalPending();
        });
    }
    m_CDSOrderlisteAnzeige.CloneCursor(m_CDSOrderliste, true, false);
    m_CDSAddNewOrder.CloneCursor(m_CDSOrderliste, true, false);
}

ListFileId WriteOrderList(const TableSnapshot& list, const std::string& path, OrderJournal* journal,
                          const OrderJournal::Mark& mark) {
    ListFileId id{true, 0, 0};
    WriteFileAtomic(
        path,
        [&](const FilePieceWriter& put) {
            list.WriteTo([&](std::string_view piece) {
                id.size += piece.size();
                id.crc = Crc32(piece, id.crc);
                put(piece);
            });
        },
        [&] {
            if (journal) journal->NoteSaved(mark, id);
        });
    return id;
}

void OrderList::SaveOrderList() {
    if (!m_bOrderListLoaded || !m_CDSOrderliste.Active()) return;
    OrderJournal* journal = Journal();
    if (!journal) {
        m_CDSOrderliste.SaveToFile(m_path);
        return;
    }
    const OrderJournal::Mark mark = journal->TakeMark();
    ListFileId id;
    {
        const std::unique_ptr<TableSnapshot> list = m_CDSOrderliste.Snapshot();
        id = WriteOrderList(*list, m_path, journal, mark);
    }
    journal->Restart(mark, id);
}

std::unique_ptr<TableSnapshot> OrderList::SnapshotForSave() const {
    if (!m_bOrderListLoaded || !m_CDSOrderliste.Active()) return nullptr;
    return m_CDSOrderliste.Snapshot();
}

void OrderList::CloseOrderList() {
    m_CDSOrderlisteAnzeige.Close();
    m_CDSAddNewOrder.Close();
    m_CDSOrderliste.Close();
}

// ---- lookups by OrderID ------------------------------------------------------------------------

Variant OrderList::LookupLeg(int32_t orderID, LegColumn column) {
    BusyGuard busy(m_iDisableDataChange);
    return LookupOrder(orderID, LegColumnName(column));
}

Variant OrderList::LookupOrder(int iOrderID, const std::string& field) {
    return m_CDSOrderliste.Lookup(LegColumnName(LegColumn::OrderID), Variant(static_cast<int32_t>(iOrderID)),
                                  field);
}

int OrderList::GetCounterOrderID(int iOrderID) {
    BusyGuard busy(m_iDisableDataChange);
    const Variant first = LookupOrder(iOrderID, LegColumnName(LegColumn::FirstOrderID));
    if (!first.IsNull()) return first.AsInteger();
    const Variant second =
        m_CDSOrderliste.Lookup(LegColumnName(LegColumn::FirstOrderID),
                               Variant(static_cast<int32_t>(iOrderID)), LegColumnName(LegColumn::OrderID));
    return second.IsNull() ? -1 : second.AsInteger();
}

int OrderList::GetOrderTypeByID(int iOrderID) {
    return LookupOrderInteger(iOrderID, LegColumnName(LegColumn::OrderType));
}

int OrderList::GetOrderStatusByID(int iOrderID) {
    return LookupOrderInteger(iOrderID, LegColumnName(LegColumn::Status));
}

int OrderList::LookupOrderInteger(int iOrderID, const std::string& field) {
    BusyGuard busy(m_iDisableDataChange);
    const Variant v = LookupOrder(iOrderID, field);
    return v.IsNull() ? -1 : v.AsInteger();
}

std::string OrderList::LookupOrderString(int iOrderID, const std::string& field) {
    BusyGuard busy(m_iDisableDataChange);
    return LookupOrder(iOrderID, field).AsString();
}

int64_t OrderList::LookupOrderPoints(int iOrderID, const std::string& field) {
    BusyGuard busy(m_iDisableDataChange);
    const Variant v = LookupOrder(iOrderID, field);
    if (v.IsNull()) return kNoPoints;
    // Ten times the value in the money type (four decimals), taken as its scaled integer.
    return RoundToInt64(v.AsFloat() * 10.0 * 10000.0);
}

bool OrderList::LookupOrderBoolean(int iOrderID, const std::string& field, bool& value) {
    BusyGuard busy(m_iDisableDataChange);
    value = LookupOrder(iOrderID, field).AsBoolean();
    return true;
}

} // namespace quorvel

namespace quorvel {

// ---- the waiting legs by table ------------------------------------------------------------------

WaitingLegs::WaitingLegs(ClientDataSet& engine) : m_engine(engine) {
    m_engine.AddObserver(&m_engineWatch);
}

WaitingLegs::~WaitingLegs() {
    m_engine.RemoveObserver(&m_engineWatch);
    if (m_list) m_list->RemoveObserver(&m_listWatch);
}

void WaitingLegs::Watch::DataChanged(Change change, int row) {
    if (change == Change::Reset) {
        owner.m_stale = true;
        return;
    }
    if (engine || owner.m_stale || !owner.m_list) return;
    if (change != Change::Edited && change != Change::Appended) return;
    owner.m_list->PeekRecord(row, [this] { owner.Take(); });
}

void WaitingLegs::Watch::DataChanging(Change change, int row) {
    if (engine || owner.m_stale || !owner.m_list || change != Change::Deleted) return;
    owner.m_list->PeekRecord(row, [this] { owner.Drop(owner.m_list->GetBookmark()); });
}

bool WaitingLegs::Before(const Leg& a, const Leg& b) {
    if (a.orderIDNull != b.orderIDNull) return b.orderIDNull;
    if (!a.orderIDNull && a.orderID != b.orderID) return a.orderID > b.orderID;
    return a.bookmark > b.bookmark;
}

void WaitingLegs::Drop(Bookmark b) {
    const auto it = m_tableOf.find(b);
    if (it == m_tableOf.end()) return;
    std::vector<Leg>& legs = m_legs[it->second];
    for (size_t k = 0; k < legs.size(); ++k)
        if (legs[k].bookmark == b) {
            legs[k] = legs.back();
            legs.pop_back();
            break;
        }
    m_tableOf.erase(it);
}

void WaitingLegs::Take() {
    const Bookmark b = m_list->GetBookmark();
    // A leg leaving the waiting legs changes nothing for the others: it is only dropped.
    Drop(b);
    const Field& status = m_listLeg.Status();
    if (status.IsNull() || status.AsInteger() != stToOpen) return;
    const int t = m_listLeg.TableID().AsInteger();
    if (t < 0 || t >= kMaxTables) return;
    const Field& orderID = m_listLeg.OrderID();
    const bool idNull = orderID.IsNull();
    m_legs[t].push_back({b, idNull, idNull ? 0.0 : orderID.Value().Raw()});
    m_tableOf.emplace(b, t);
    m_changed[t] = true;
}

void WaitingLegs::Rebuild() {
    if (m_list) m_list->RemoveObserver(&m_listWatch);
    m_list.reset();
    m_listLeg = LegView();
    m_tableOf.clear();
    for (int t = 0; t < kMaxTables; ++t) {
        m_legs[t].clear();
        m_changed[t] = true;
    }
    m_stale = false;
    if (!m_engine.Active()) return;
    m_list = std::make_unique<ClientDataSet>("waitinglegs");
    m_list->CloneCursor(m_engine, true);
    m_listLeg.Bind(*m_list);
    m_list->SetWalkFilter(LegColumnName(LegColumn::Status), {stToOpen});
    for (m_list->First(); !m_list->Eof(); m_list->Next()) Take();
    m_list->ClearWalkFilter();
    m_list->AddObserver(&m_listWatch);
}

void WaitingLegs::Bring() {
    if (m_stale) Rebuild();
}

const std::vector<WaitingLegs::Leg>& WaitingLegs::Of(int t) {
    Bring();
    return m_legs[t];
}

bool WaitingLegs::TakeChanged(int t) {
    Bring();
    const bool changed = m_changed[t];
    m_changed[t] = false;
    return changed;
}

} // namespace quorvel
