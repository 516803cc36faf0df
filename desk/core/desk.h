#pragma once
// The arbitrage desk without its windows. It owns the state (the settings, the price store,
// the order list, the cross spreads, the engine's own state) and the parts that work on it,
// each through a narrow context: the quote feed, the order engine, the state files, order
// entry and the ADMIN PANEL's controls. EA messages come in through Dispatch and go to the
// part the route table names. The main window owns one desk and hands it its controls and
// its view; tests hand it plain doubles.
#include <array>
#include <cstdint>
#include <functional>
#include <span>
#include <string>

#include "desk/core/closereports.h"
#include "desk/core/closing.h"
#include "desk/core/controls.h"
#include "desk/core/crossspreads.h"
#include "desk/core/editorders.h"
#include "desk/core/engine.h"
#include "desk/core/failures.h"
#include "desk/core/handshake.h"
#include "desk/core/housekeeping.h"
#include "desk/core/ordercontrols.h"
#include "desk/core/orderentry.h"
#include "desk/core/orderlist.h"
#include "desk/core/pricefeed.h"
#include "desk/core/pricestore.h"
#include "desk/core/settings.h"
#include "desk/core/statefiles.h"
#include "desk/core/trigger.h"
#include "desk/core/view.h"
#include "platform/messages.h"
#include "platform/timestamp.h"

namespace quorvel {

class Desk : protected ICrossSpreadHost, protected IQuoteFollower {
public:
    Desk(IDeskControls& controls, IDeskView& view, const IClock& clock, DeskPaths paths);
    virtual ~Desk() = default;
    Desk(const Desk&) = delete;
    Desk& operator=(const Desk&) = delete;

    // ---- life cycle ----------------------------------------------------------------------
    // The window exists: the grids and broker lists, config.ini, Data.dat, the order list.
    void FormCreate();
    // The window closes: the background save ends, the shut-down save runs, the list closes.
    void FormDestroy();
    // The minute timer: stale Pending legs back to To Open, then the auto-trade credits.
    void TimerResetPendingTimer();

    // ---- event model ---------------------------------------------------------------------
    // A message handler: a handler of a part the desk owns, called through it.
    using Handler = void (*)(Desk&, TMessage&);
    // One route of an EA message number to its handler.
    struct Route {
        int32_t msg;
        Handler handler;
        const char* name; // the handler's name
    };
    // The route table, and the handler of one number (null for the default handling).
    static std::span<const Route> Routes();
    static Handler RouteOf(int32_t msg);

    // Hands one EA message to its handler. An error escaping the handler is shown in the stop
    // box; Result keeps what the handler had set before it.
    void Dispatch(TMessage& msg);
    // Runs an operator or timer handler under the same error rule.
    void Guarded(const std::function<void()>& handler);
    // Whether the answer to an EA message may reach its EA only once every change the desk
    // made before it is on disk. The order engine's answers wait, except the two that tell an
    // EA to do nothing: no leg to execute, wait before closing. Whatever a crash takes back, an EA
    // told that has done nothing on the strength of it. Quotes and the rest do not wait.
    static bool AnswerWaitsForDisk(const TMessage& answer);

    // ---- settings (config.ini) -------------------------------------------------------------
    // config.ini beside the executable (the path the program block passes in).
    std::string GetConfigFileName() const;
    // Reads every setting into its control or into `settings`; writes the file with the values
    // just applied when it does not exist. A failed write leaves as the INI write error.
    void LoadConfig();
    // Writes every setting from its control or from `settings` (only LoadConfig calls it).
    void SaveConfig();
    // The timeout box changed: the connection timeout follows it.
    void UpdateConnectionTimeout();
    // Fills table t's broker list with the ten EA IDs from iStartID on, all ticked.
    void InitializeBrokerIDList(int t, int iStartID);

    // ---- the stages after a complete quote -------------------------------------------------
    // A complete quote's cross spreads, and then (once the tables are redrawn) the opening
    // trigger's pass; a desk made for a test may stand in for either.
    virtual void ComputeCrossSpreads(int id) { spreads.ComputeCrossSpreads(id); }
    virtual void CheckOrders() { trigger.CheckOrders(); }

    // ---- spread table displays ---------------------------------------------------------------
    void InitTableGrids(int t, int iStartID);
    // Redraws the table on screen after EA iEAID's quote (-1: in full).
    void UpdateTables(int iEAID);
    void UpdateWatchGrid();
    // Page change: the visible table's full pass, then the Watch grid.
    void PageControl1Change();
    // Frame "Reset ARB Table" and "Reset Spread Table": the pair minima, or the quotes' minima,
    // of the table on screen.
    void ResetMinSpreadCurrent();
    void ResetMinCurrent();
    // Watch tab steps: up-down halves and released keys (virtual key codes).
    void UpDown5Click(bool up);
    void UpDown6Click(bool up);
    void m_reAlertIntervallKeyUp(int key);
    // The shared spread step of a real edit: Up +0.00005, Down -0.00005.
    void RealEditKeyUp(Ctl c, int key);

    // ---- accessors -----------------------------------------------------------------------
    const DeskPaths& Paths() const { return m_paths; }
    IDeskControls& Controls() { return m_controls; }
    IDeskView& View() { return m_view; }
    const IClock& Clock() const { return m_clock; }
    // The narrow view of the desk that each part of the engine is handed.
    EngineContext& Engine() { return m_engine; }
    bool IsValidEAID(int id) const { return quorvel::IsValidEAID(id, settings.maxIDs); }

    // The members below are declared in the order they are built: each part holds references
    // to what comes before it, and goes before it does.
private:
    IDeskControls& m_controls;
    IDeskView& m_view;
    const IClock& m_clock;
    DeskPaths m_paths;

public:
    // ---- state ---------------------------------------------------------------------------
    DeskSettings settings;
    PriceStore prices;
    OrderList orders;
    CrossSpreads spreads;
    EngineState engine;

private:
    // One context for all parts of the engine.
    EngineContext m_engine;

public:
    // ---- parts ---------------------------------------------------------------------------
    // The quote feed (WM_APP+400..404, +515, +600..604).
    PriceFeed feed;
    // The order engine.
    OpeningTrigger trigger;
    OpeningHandshake handshake;
    ClosingEngine closing;
    CloseReports closeReports;
    ExecutionFailures failures;
    OrderHousekeeping housekeeping;
    // Data.dat, Orderlist.xml and its journal, the notification list.
    StateFiles files;
    // The operator: the order boxes, "Edit Orders", the ADMIN PANEL's controls.
    OrderEntry entry;
    EditOrders editOrders;
    OrderControls orderControls;

protected:
    // Cross-spread events: the Watch grid and the table on screen follow them.
    void CrossSpreadChanged(int t, bool redraw) override;
    void CrossSpreadsReset() override;
    void PairMinimaReset() override { UpdateTables(-1); }
    // One transaction from the table frame's order box, as its "Place Order" does; nothing
    // when the table has no frame.
    void AutoTradeTable(int t) override;
    // The feed's events.
    void QuoteCompleted(int id) override;
    void QuotesReset() override { UpdateTables(-1); }

private:
    // Watch grid rows to redraw at the next pass while the Watch tab stays on screen.
    std::array<bool, kMaxTables> m_bWatchRowDirty{};
    bool m_bWatchFullPending = true;
    void DrawWatchRow(int t);
};

} // namespace quorvel
