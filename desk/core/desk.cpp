#include "desk/core/desk.h"

#include <algorithm>
#include <climits>
#include <exception>
#include <iterator>
#include <type_traits>
#include <utility>

namespace quorvel {

std::string StopBoxText(const std::string& error) {
    if (!error.empty() && static_cast<unsigned char>(error.back()) > static_cast<unsigned char>('.'))
        return error + ".";
    return error;
}

Desk::Desk(IDeskControls& controls, IDeskView& view, const IClock& clock, DeskPaths paths)
    : m_controls(controls), m_view(view), m_clock(clock), m_paths(std::move(paths)),
      orders(view, m_paths.orderList),
      spreads(prices, controls, view, clock, settings, *this), m_engine{orders,   prices,         engine,
                                                                        controls, view,           clock,
                                                                        settings, settings.maxIDs},
      feed(FeedContext{prices, controls, view, clock, settings.maxIDs, *this}),
      trigger(m_engine, settings.combinationPauseMS), handshake(m_engine),
      closing(m_engine, settings.simultaneousClosing, settings.closingPauseSeconds), closeReports(m_engine),
      failures(m_engine), housekeeping(m_engine),
      files(FilesContext{orders, prices, controls, view, m_paths}),
      entry(OrderPanelContext{orders, prices, controls, clock, settings}),
      editOrders(OrderPanelContext{orders, prices, controls, clock, settings}),
      orderControls(OrderPanelContext{orders, prices, controls, clock, settings}) {
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

// A route to a handler of a part the desk owns.
template <auto part, auto method> void CallPart(Desk& desk, TMessage& m) {
    ((desk.*part).*method)(m);
}

// The desk's part that owns the handlers of a message owner in the protocol list.
template <MsgOwner> struct PartOf;
template <> struct PartOf<MsgOwner::PriceFeed> { static constexpr auto part = &Desk::feed; };
template <> struct PartOf<MsgOwner::OpeningHandshake> { static constexpr auto part = &Desk::handshake; };
template <> struct PartOf<MsgOwner::Closing> { static constexpr auto part = &Desk::closing; };
template <> struct PartOf<MsgOwner::CloseReports> { static constexpr auto part = &Desk::closeReports; };
template <> struct PartOf<MsgOwner::Failures> { static constexpr auto part = &Desk::failures; };
template <MsgOwner owner>
using PartType = std::remove_reference_t<decltype(std::declval<Desk&>().*PartOf<owner>::part)>;

// Every EA message with a handler of its own, read from the protocol list: the handler is
// the method named after the message in the part that owns it. A message owned by no part
// answers 0.
// clang-format off
#define QUORVEL_ROUTE_None(name)
#define QUORVEL_ROUTE_PART(owner, name)                                                                  \
    Desk::Route{EAMsg::name, &CallPart<PartOf<MsgOwner::owner>::part, &PartType<MsgOwner::owner>::name>, #name},
#define QUORVEL_ROUTE_PriceFeed(name) QUORVEL_ROUTE_PART(PriceFeed, name)
#define QUORVEL_ROUTE_OpeningHandshake(name) QUORVEL_ROUTE_PART(OpeningHandshake, name)
#define QUORVEL_ROUTE_Closing(name) QUORVEL_ROUTE_PART(Closing, name)
#define QUORVEL_ROUTE_CloseReports(name) QUORVEL_ROUTE_PART(CloseReports, name)
#define QUORVEL_ROUTE_Failures(name) QUORVEL_ROUTE_PART(Failures, name)
#define QUORVEL_ROUTE_LINE(name, number, owner, namesEA, answer) QUORVEL_ROUTE_##owner(name)
// clang-format on
constexpr Desk::Route kRoutes[] = {QUORVEL_EA_MESSAGES(QUORVEL_ROUTE_LINE)};
#undef QUORVEL_ROUTE_LINE
#undef QUORVEL_ROUTE_Failures
#undef QUORVEL_ROUTE_CloseReports
#undef QUORVEL_ROUTE_Closing
#undef QUORVEL_ROUTE_OpeningHandshake
#undef QUORVEL_ROUTE_PriceFeed
#undef QUORVEL_ROUTE_PART
#undef QUORVEL_ROUTE_None

// The routes by number, looked up in constant time: the WM_APP numbers of the protocol lie
// in one short range, and WM_COPYDATA stands alone.
constexpr int32_t AppMsgBound(bool last) {
    int32_t bound = last ? INT32_MIN : INT32_MAX;
    for (const EAMsg::Message& m : EAMsg::kProtocol) {
        if (m.number == WM_COPYDATA) continue;
        bound = last ? std::max<int32_t>(bound, m.number) : std::min<int32_t>(bound, m.number);
    }
    return bound;
}
constexpr int32_t kFirstAppMsg = AppMsgBound(false);
constexpr int32_t kLastAppMsg = AppMsgBound(true);
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
    m_engine.NoteSender(m);
    // Through a reference, so that the std::function holds no copy: no allocation per message.
    auto call = [&] { h(*this, m); };
    Guarded(std::ref(call));
}

bool Desk::AnswerWaitsForDisk(const TMessage& answer) {
    if (answer.Msg < EAMsg::OrderQuestion || answer.Msg > EAMsg::GetTriggerPriceClose) return false;
    if (answer.Msg == EAMsg::OrderQuestion) return answer.Result != OpeningHandshake::kNoOrder;
    if (answer.Msg == EAMsg::OrderCloseQuestions) return answer.Result != ClosingEngine::kWait;
    return true;
}

// ---- life cycle --------------------------------------------------------------------------

void Desk::TimerResetPendingTimer() {
    housekeeping.ResetPendingStatus();
    housekeeping.CheckAutoTradeRaise();
}

void Desk::UpdateConnectionTimeout() {
    const std::string text = m_controls.Text(Ctl::seTimeOut);
    if (text.empty()) return;
    settings.CONNECTION_TIMEOUT = SpinTextToValue(text, SpinRange{0, 0}) / kSecondsPerDay;
}

void Desk::FormCreate() {
    UpdateConnectionTimeout();
    orders.m_iDisableDataChange = 0;
    editOrders.m_iLastRecNoAnzeige = -1;
    editOrders.m_iLastOrderIDAnzeige = -1;
    // Every table's grids and broker list (all twenty frames exist now).
    for (int t = 0; t < kMaxTables; ++t) {
        InitTableGrids(t, kEAsPerTable * t + 1);
        InitializeBrokerIDList(t, kEAsPerTable * t + 1);
    }
    // config.ini; an error (the default file cannot be written) ends the creation here, so
    // neither the snapshot nor the order list is loaded, and neither is ever saved.
    LoadConfig();
    // "Tables" must name 1..20 tables' worth of EA IDs at most: the arrays hold 200.
    const long long maxIds = static_cast<long long>(settings.m_iAnzahlTabellen) * kEAsPerTable;
    settings.maxIDs = static_cast<int>(maxIds < 0 ? 0 : maxIds > kMaxEAs ? kMaxEAs : maxIds);
    if (files.LoadPriceSnapshot()) {
        UpdateTables(-1);
    } else {
        feed.ResetAll(1, kMaxEAs);
    }
    files.m_bPricesLoaded = true;
    spreads.ResetCrossSpreads();
    trigger.ClearLastTrades();
    closing.ClearCloseLimits();
    files.OpenOrderList();
}

void Desk::FormDestroy() {
    // A save still being written ends first, so that no two writers share a file; its error
    // is shown, and the shut-down save runs all the same.
    Guarded([this] { files.FinishAutoSave(true); });
    files.ShutDownSave();
    orders.CloseOrderList();
}

void Desk::QuoteCompleted(int id) {
    ComputeCrossSpreads(id);
    UpdateTables(id);
    CheckOrders();
}

void Desk::AutoTradeTable(int t) {
    if (!m_controls.HasFrame(t)) return;
    entry.TableOpenOrder(t, t);
}

void Desk::ResetMinSpreadCurrent() {
    const int t = m_controls.ActiveTableIndex();
    if (t < 0 || t >= kMaxTables) return;
    spreads.ResetMinCrossSpread(kEAsPerTable * t + 1, kEAsPerTable * t + kEAsPerTable);
}

void Desk::ResetMinCurrent() {
    const int t = m_controls.ActiveTableIndex();
    if (t < 0 || t >= kMaxTables) return;
    feed.ResetMin(kEAsPerTable * t + 1, kEAsPerTable * t + kEAsPerTable);
}

} // namespace quorvel
