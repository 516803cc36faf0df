#include "desk/core/desk.h"

#include <cmath>
#include <cstdio>
#include <exception>
#include <iterator>
#include <system_error>

#include "platform/files.h"

namespace quorvel {

std::string StopBoxText(const std::string& error) {
    if (!error.empty() && static_cast<unsigned char>(error.back()) > static_cast<unsigned char>('.'))
        return error + ".";
    return error;
}

DeskPaths DeskPaths::In(const std::string& configDir, const std::string& dataDir) {
    auto in = [](const std::string& dir, const char* name) {
        return dir.empty() ? std::string(name) : dir + "/" + name;
    };
    return {in(configDir, "config.ini"), in(dataDir, "Data.dat"), in(dataDir, "Orderlist.xml"),
            in(dataDir, "Notifications.txt"), in(dataDir, "Orderlist.journal")};
}

Desk::Desk(IDeskControls& controls, IDeskView& view, const IClock& clock, DeskPaths paths)
    : orders(view, paths.orderList), spreads(prices, controls, view, clock, *this, *this),
      trigger(EngineContext{orders, prices, engine, controls, view, clock, *this, m_iMaxIDs},
              m_KombinationsPauseMS),
      handshake(EngineContext{orders, prices, engine, controls, view, clock, *this, m_iMaxIDs}),
      closing(EngineContext{orders, prices, engine, controls, view, clock, *this, m_iMaxIDs},
              m_iSimultaneousClosing, m_dClosingPauseSeconds),
      closeReports(EngineContext{orders, prices, engine, controls, view, clock, *this, m_iMaxIDs}),
      failures(EngineContext{orders, prices, engine, controls, view, clock, *this, m_iMaxIDs}),
      housekeeping(EngineContext{orders, prices, engine, controls, view, clock, *this, m_iMaxIDs}),
      m_controls(controls), m_view(view), m_clock(clock), m_paths(std::move(paths)) {
    if (!m_paths.orderJournal.empty()) orders.UseJournal(m_paths.orderJournal);
}

void Desk::Guarded(const std::function<void()>& handler) {
    try {
        handler();
    } catch (const std::exception& e) {
        m_view.ShowStopBox(StopBoxText(e.what()));
    } catch (...) {
        m_view.ShowStopBox(StopBoxText("Unknown error"));
    }
}

// ---- message routes ----------------------------------------------------------------------

namespace {

// A route to a method of the desk.
template <void (Desk::*method)(TMessage&)> void CallDesk(Desk& desk, TMessage& m) {
    (desk.*method)(m);
}
// A route to a handler of a part the desk owns.
template <auto part, auto method> void CallPart(Desk& desk, TMessage& m) {
    ((desk.*part).*method)(m);
}

// Every EA message with a handler of its own; the other numbers answer 0. Each handler is
// named after its message.
// clang-format off
#define QUORVEL_ROUTE(name) Desk::Route{EAMsg::name, &CallDesk<&Desk::name>, #name}
#define QUORVEL_PART_ROUTE(part, Part, name) Desk::Route{EAMsg::name, &CallPart<&Desk::part, &Part::name>, #name}
// clang-format on
constexpr Desk::Route kRoutes[] = {
    QUORVEL_ROUTE(NewDataBid),
    QUORVEL_ROUTE(NewDataAsk),
    QUORVEL_ROUTE(NewDataAccount),
    QUORVEL_ROUTE(DataComplete),
    QUORVEL_ROUTE(NewDataCompanyName),
    QUORVEL_PART_ROUTE(handshake, OpeningHandshake, OrderQuestion),
    QUORVEL_PART_ROUTE(handshake, OpeningHandshake, GetOrderType),
    QUORVEL_PART_ROUTE(handshake, OpeningHandshake, GetOrderLots),
    QUORVEL_PART_ROUTE(handshake, OpeningHandshake, OrderOpened),
    QUORVEL_PART_ROUTE(handshake, OpeningHandshake, OrderError),
    QUORVEL_PART_ROUTE(handshake, OpeningHandshake, OrderOpenPrice),
    QUORVEL_PART_ROUTE(handshake, OpeningHandshake, GetOrderID),
    QUORVEL_PART_ROUTE(handshake, OpeningHandshake, GetTriggerPrice),
    QUORVEL_ROUTE(ParamCounterCheckSeconds),
    QUORVEL_ROUTE(GetEALoopTime),
    QUORVEL_ROUTE(GetEARequoteWaitMS),
    QUORVEL_ROUTE(GetEAMaxRequotes),
    QUORVEL_ROUTE(GetEASlippage),
    QUORVEL_ROUTE(GetEAMaxCounterCheckSeconds),
    QUORVEL_PART_ROUTE(closing, ClosingEngine, OrderCloseQuestions),
    QUORVEL_PART_ROUTE(closing, ClosingEngine, GetTriggerPriceClose),
    QUORVEL_PART_ROUTE(closeReports, CloseReports, OrderClosed),
    QUORVEL_PART_ROUTE(closeReports, CloseReports, OrderClosePrice),
    QUORVEL_PART_ROUTE(closeReports, CloseReports, OrderProfitLoss),
    QUORVEL_PART_ROUTE(failures, ExecutionFailures, RetryOrderExecution),
    QUORVEL_PART_ROUTE(failures, ExecutionFailures, CancelOrder),
    QUORVEL_PART_ROUTE(failures, ExecutionFailures, ShowEAMessage),
};
#undef QUORVEL_PART_ROUTE
#undef QUORVEL_ROUTE

// The routes by number, looked up in constant time: the WM_APP numbers of the protocol lie
// between WM_APP+400 and WM_APP+604, and WM_COPYDATA stands alone.
constexpr int32_t kFirstAppMsg = WM_APP + 400;
constexpr int32_t kLastAppMsg = WM_APP + 604;
struct RouteIndex {
    Desk::Handler app[kLastAppMsg - kFirstAppMsg + 1] = {};
    Desk::Handler copyData = nullptr;
};
constexpr RouteIndex MakeRouteIndex() {
    RouteIndex index;
    for (const Desk::Route& r : kRoutes) {
        if (r.msg == WM_COPYDATA)
            index.copyData = r.handler;
        else
            index.app[r.msg - kFirstAppMsg] = r.handler; // a number outside the range fails to compile
    }
    return index;
}
constexpr RouteIndex kRouteIndex = MakeRouteIndex();

} // namespace

std::span<const Desk::Route> Desk::Routes() {
    return kRoutes;
}

Desk::Handler Desk::RouteOf(int32_t msg) {
    if (msg == WM_COPYDATA) return kRouteIndex.copyData;
    const uint32_t i = static_cast<uint32_t>(msg) - static_cast<uint32_t>(kFirstAppMsg);
    return i < std::size(kRouteIndex.app) ? kRouteIndex.app[i] : nullptr;
}

void Desk::Dispatch(TMessage& m) {
    const Handler h = RouteOf(m.Msg);
    m.Result = 0;
    if (!h) return; // default handling: 0
    // Which EA is still talking: the minute sweep takes no leg from an EA that is.
    Engine().NoteSender(m);
    // Through a reference, so that the std::function holds no copy: no allocation per message.
    auto call = [&] { h(*this, m); };
    Guarded(std::ref(call));
}

// ---- life cycle --------------------------------------------------------------------------

void Desk::TimerResetPendingTimer() {
    housekeeping.ResetPendingStatus();
    housekeeping.CheckAutoTradeRaise();
}

void Desk::UpdateConnectionTimeout() {
    const std::string text = m_controls.Text(Ctl::seTimeOut);
    if (text.empty()) return;
    CONNECTION_TIMEOUT = SpinTextToValue(text, SpinRange{0, 0}) / kSecondsPerDay;
}

void Desk::FormCreate() {
    UpdateConnectionTimeout();
    orders.m_iDisableDataChange = 0;
    m_iLastRecNoAnzeige = -1;
    m_iLastOrderIDAnzeige = -1;
    // Every table's grids and broker list (all twenty frames exist now).
    for (int t = 0; t < kMaxTables; ++t) {
        InitTableGrids(t, kEAsPerTable * t + 1);
        InitializeBrokerIDList(t, kEAsPerTable * t + 1);
    }
    // config.ini; an error (the default file cannot be written) ends the creation here, so
    // neither the snapshot nor the order list is loaded, and neither is ever saved.
    LoadConfig();
    // "Tables" must name 1..20 tables' worth of EA IDs at most: the arrays hold 200.
    const long long maxIds = static_cast<long long>(m_iAnzahlTabellen) * kEAsPerTable;
    m_iMaxIDs = static_cast<int>(maxIds < 0 ? 0 : maxIds > kMaxEAs ? kMaxEAs : maxIds);
    if (LoadPriceSnapshot()) {
        UpdateTables(-1);
    } else {
        ResetAll(1, kMaxEAs);
    }
    m_bPricesLoaded = true;
    spreads.ResetCrossSpreads();
    trigger.ClearLastTrades();
    closing.ClearCloseLimits();
    m_creating = true;
    struct Created {
        bool& flag;
        ~Created() { flag = false; }
    } created{m_creating};
    orders.OpenOrderList();
    for (const std::string& note : orders.TakeJournalNotes()) NoteFileProblem(note);
    const std::string error = orders.TakeJournalError();
    if (!error.empty()) JournalFailed(error);
}

void Desk::FormDestroy() {
    // A save still being written ends first, so that no two writers share a file; its error
    // is shown, and the shut-down save runs all the same.
    Guarded([this] { FinishAutoSave(true); });
    SyncJournal();
    try {
        SaveData();
    } catch (...) {
        m_bFinalSaveFailed = true;
        throw;
    }
    orders.CloseOrderList();
}

void Desk::CommitJournal(bool boxLater) {
    OrderJournal* journal = orders.Journal();
    if (!journal || !journal->Pending()) return;
    try {
        journal->Write();
    } catch (const std::exception& e) {
        JournalFailed(e.what(), boxLater);
    }
}

void Desk::SyncJournal() {
    OrderJournal* journal = orders.Journal();
    if (!journal || journal->Broken()) return;
    try {
        journal->Commit();
    } catch (const std::exception& e) {
        JournalFailed(e.what());
    }
}

uint64_t Desk::JournalTicket() {
    CommitJournal(true);
    OrderJournal* journal = orders.Journal();
    return journal ? journal->Written() : 0;
}

uint64_t Desk::JournalDurable() {
    OrderJournal* journal = orders.Journal();
    if (!journal) return UINT64_MAX;
    if (journal->Broken()) {
        JournalFailed(journal->LastError(), true);
        return UINT64_MAX;
    }
    return journal->Durable();
}

void Desk::JournalFailed(const std::string& error, bool boxLater) {
    if (m_bJournalFailed) return;
    m_bJournalFailed = true;
    m_controls.SetChecked(Ctl::chkbStandby, true);
    const std::string text = "The order list's journal cannot be written (" + error +
                             "). Standby is set; changes from now on are kept in memory only, until "
                             "Orderlist.xml is saved.";
    if (m_creating) {
        NoteFileProblem(text); // stderr now; a notification once the window exists
    } else {
        std::fprintf(stderr, "%s\n", text.c_str());
        m_view.ShowNotification(text);
    }
    if (boxLater)
        m_journalBox = StopBoxText(text);
    else
        m_view.ShowStopBox(StopBoxText(text));
}

void Desk::SaveData() {
    std::string errors;
    auto run = [&errors](const auto& save) {
        try {
            save();
        } catch (const std::exception& e) {
            if (!errors.empty()) errors += '\n';
            errors += StopBoxText(e.what()); // each line a sentence of its own
        }
    };
    if (m_bPricesLoaded) run([this] { SavePriceSnapshot(); });
    run([this] { orders.SaveOrderList(); });
    run([this] { m_view.SaveNotifications(); });
    // Reported like any error of the handler that saved: the stop box.
    if (!errors.empty()) throw FileError(errors);
}

namespace {

// Beyond these no quote goes: a price or spread of 10^12 points, a time after the year 9999
// or before the year 1. Such a value in Data.dat is damage and counts as missing.
constexpr int64_t kMaxStoredPoints = 1'000'000'000'000;
constexpr TDateTime kFirstTime = -693593.0;  // 0001-01-01
constexpr TDateTime kBeyondTime = 2958466.0; // 10000-01-01

void ClearImpossibleValues(PriceStore& p) {
    auto points = [](EAArray<int64_t>& a) {
        for (int64_t& v : a)
            if (v > kMaxStoredPoints || v < -kMaxStoredPoints) v = kNoPoints;
    };
    auto times = [](EAArray<TDateTime>& a) {
        for (TDateTime& v : a)
            if (!std::isfinite(v) || v < kFirstTime || v >= kBeyondTime) v = kNoTime;
    };
    points(p.Spread);
    points(p.Bid);
    points(p.Ask);
    points(p.Min);
    points(p.MinBid);
    points(p.MinAsk);
    times(p.Time);
    times(p.TimeMin);
}

} // namespace

void Desk::NoteFileProblem(const std::string& text) {
    std::fprintf(stderr, "%s\n", text.c_str());
    m_fileNotes.push_back(text);
}

void Desk::AutoSave() {
    if (m_saveWriter.Started()) {
        m_autoSaveQueued = true;
        return;
    }
    std::vector<SaveWriter::Step> steps;
    // As SavePriceSnapshot: a file that could not be set aside is never overwritten.
    if (m_bPricesLoaded && !m_bPricesFileKept)
        steps.push_back(
            [path = m_paths.dataDat, bytes = prices.Serialize()] { WriteFileAtomic(path, bytes); });
    m_savingList = orders.SnapshotForSave();
    m_savedList.reset();
    if (m_savingList) {
        // The journal's changes so far are in the snapshot; those that follow stay in it.
        CommitJournal();
        OrderJournal* journal = orders.Journal();
        auto saved = std::make_shared<SavedList>();
        if (journal) saved->mark = journal->TakeMark();
        m_savedList = saved;
        steps.push_back([list = m_savingList.get(), path = orders.Path(), journal, saved] {
            saved->id = WriteOrderList(*list, path, journal, saved->mark);
            saved->written = true;
        });
    }
    std::function<void()> notifications = m_view.NotificationsWriter();
    m_saveNotificationsHere = !notifications;
    if (notifications) steps.push_back(std::move(notifications));
    try {
        m_saveWriter.Start(std::move(steps), OnAutoSaveEnded);
    } catch (const std::system_error&) {
        // No thread to be had: this thread writes, as the shut-down save does.
        m_savingList.reset();
        m_savedList.reset();
        m_saveNotificationsHere = false;
        SaveData();
    }
}

void Desk::FinishAutoSave(bool wait) {
    if (!m_saveWriter.Started() || (!wait && !m_saveWriter.Ended())) return;
    std::string errors;
    auto note = [&errors](const std::string& error) {
        if (!errors.empty()) errors += '\n';
        errors += StopBoxText(error); // each line a sentence of its own, as SaveData's
    };
    for (const std::string& e : m_saveWriter.Collect()) note(e);
    m_savingList.reset();
    // Orderlist.xml now holds what the journal had up to the snapshot: the journal starts anew.
    if (const std::shared_ptr<SavedList> saved = std::move(m_savedList); saved && saved->written) {
        if (OrderJournal* journal = orders.Journal()) {
            try {
                journal->Restart(saved->mark, saved->id);
            } catch (const std::exception& e) {
                JournalFailed(e.what());
            }
        }
    }
    if (OrderJournal* journal = orders.Journal(); journal && journal->Broken())
        JournalFailed(journal->LastError());
    if (m_saveNotificationsHere) {
        m_saveNotificationsHere = false;
        try {
            m_view.SaveNotifications();
        } catch (const std::exception& e) {
            note(e.what());
        }
    }
    const bool again = m_autoSaveQueued && !wait;
    m_autoSaveQueued = false;
    if (again) {
        try {
            AutoSave();
        } catch (const std::exception& e) {
            note(e.what());
        }
    }
    if (!errors.empty()) throw FileError(errors);
}

bool Desk::LoadPriceSnapshot() {
    const std::string& path = m_paths.dataDat;
    // One byte more than the layout tells a longer file from a whole one.
    FileRead r = ReadStateFile(path, kDataDatSize + 1);
    auto setAside = [&](const std::string& what) {
        const std::string aside = SetFileAside(path);
        if (aside.empty()) {
            m_bPricesFileKept = true;
            NoteFileProblem(path + " " + what +
                            " It could not be set aside, so it is left as it is and not saved.");
        } else {
            NoteFileProblem(path + " " + what + " It was set aside as " + aside + ".");
        }
    };
    switch (r.status) {
    case ReadStatus::Missing:
        return false;
    case ReadStatus::NotRegular:
        setAside("is not a regular file and was not read; the desk starts without it.");
        return false;
    case ReadStatus::Unreadable:
        setAside("cannot be read; the desk starts without it.");
        return false;
    case ReadStatus::Ok:
        break;
    }
    prices.Deserialize(r.bytes);
    ClearImpossibleValues(prices);
    if (r.size != kDataDatSize)
        setAside("holds " + std::to_string(r.size) + " bytes instead of " + std::to_string(kDataDatSize) +
                 "; what it holds was read.");
    return true;
}

void Desk::SavePriceSnapshot() {
    if (m_bPricesFileKept) return; // a file that could not be set aside is never overwritten
    WriteFileAtomic(m_paths.dataDat, prices.Serialize());
}

std::vector<std::string> Desk::RemoveLeftoverTempFiles() {
    std::vector<std::string> removed;
    for (const std::string* p : {&m_paths.configIni, &m_paths.dataDat, &m_paths.orderList,
                                 &m_paths.notifications, &m_paths.orderJournal})
        if (!p->empty())
            for (std::string& name : quorvel::RemoveLeftoverTempFiles(*p)) removed.push_back(std::move(name));
    return removed;
}

// ---- EA messages -------------------------------------------------------------------------

void Desk::NewDataBid(TMessage& m) {
    if (IsValidEAID(m.WParam)) prices.Bid[m.WParam] = m.LParam;
    m.Result = 2;
}

void Desk::NewDataAsk(TMessage& m) {
    if (IsValidEAID(m.WParam)) prices.Ask[m.WParam] = m.LParam;
    m.Result = 1;
}

void Desk::NewDataAccount(TMessage& m) {
    if (IsValidEAID(m.WParam)) prices.Accounts[m.WParam] = m.LParam;
    m.Result = 4;
}

void Desk::ParamCounterCheckSeconds(TMessage& m) {
    if (IsValidEAID(m.WParam)) prices.aiParamCounterCheckSeconds[m.WParam] = m.LParam;
    m.Result = 0;
}

void Desk::DataComplete(TMessage& m) {
    const int id = m.WParam;
    if (!IsValidEAID(id)) {
        m.Result = 5;
        return;
    }
    PriceStore& p = prices;
    p.StampQuote(id, ReadClock(m_clock));
    if (p.Ask[id] <= 0 || p.Bid[id] <= 0) {
        m.Result = 5;
        return;
    }
    p.Spread[id] = p.Ask[id] - p.Bid[id];
    if (p.Min[id] < 0 || p.Spread[id] <= p.Min[id]) {
        p.Min[id] = p.Spread[id];
        p.MinAsk[id] = p.Ask[id];
        p.MinBid[id] = p.Bid[id];
        p.TimeMin[id] = p.Time[id];
    }
    ComputeCrossSpreads(id);
    UpdateTables(id);
    CheckOrders();
    m.Result = 5;
}

void Desk::NewDataCompanyName(TMessage& m) {
    if (IsValidEAID(m.WParam)) {
        // The link carries the structure's first field (dwData) itself in LParam.
        const char16_t ch = static_cast<char16_t>(static_cast<uint32_t>(m.LParam) & 0xFFFFu);
        m_view.ShowMessageBox(std::u16string(1, ch));
    }
    m.Result = 6;
}

void Desk::GetEALoopTime(TMessage& m) {
    m.Result = m_controls.SpinValue(Ctl::seLoopTime);
}
void Desk::GetEARequoteWaitMS(TMessage& m) {
    m.Result = 0;
}
void Desk::GetEAMaxRequotes(TMessage& m) {
    m.Result = m_controls.SpinValue(Ctl::seRequoteAnzahl);
}
void Desk::GetEASlippage(TMessage& m) {
    m.Result = m_controls.SpinValue(Ctl::seSlippage);
}
void Desk::GetEAMaxCounterCheckSeconds(TMessage& m) {
    m.Result = m_controls.SpinValue(Ctl::seMaxCounterCheck);
}

void Desk::ResetAll(int iIDStart, int iIDEnd) {
    prices.ResetQuotes(iIDStart, iIDEnd);
    ResetMin(iIDStart, iIDEnd);
    UpdateTables(-1);
}

void Desk::ResetMin(int iIDStart, int iIDEnd) {
    prices.ResetMin(iIDStart, iIDEnd);
    UpdateTables(-1);
}

} // namespace quorvel

namespace quorvel {

void Desk::AutoTradeTable(int t) {
    if (!m_controls.HasFrame(t)) return;
    TableOpenOrder(t, t);
}

void Desk::ResetMinSpreadCurrent() {
    const int t = m_controls.ActiveTableIndex();
    if (t < 0 || t >= kMaxTables) return;
    ResetMinCrossSpread(kEAsPerTable * t + 1, kEAsPerTable * t + kEAsPerTable);
}

void Desk::ResetMinCurrent() {
    const int t = m_controls.ActiveTableIndex();
    if (t < 0 || t >= kMaxTables) return;
    ResetMin(kEAsPerTable * t + 1, kEAsPerTable * t + kEAsPerTable);
}

} // namespace quorvel
