#pragma once
// The arbitrage desk without its windows: every EA message handler, the creation sequence,
// the saves and the state they work on. The main window owns one and hands it its controls
// and its view; tests hand it plain doubles.
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "desk/core/closereports.h"
#include "desk/core/closing.h"
#include "desk/core/controls.h"
#include "desk/core/crossspreads.h"
#include "desk/core/engine.h"
#include "desk/core/failures.h"
#include "desk/core/handshake.h"
#include "desk/core/housekeeping.h"
#include "desk/core/orderlist.h"
#include "desk/core/pricestore.h"
#include "desk/core/savewriter.h"
#include "desk/core/trigger.h"
#include "desk/core/view.h"
#include "platform/clientdataset.h"
#include "platform/messages.h"
#include "platform/timestamp.h"

namespace quorvel {

// Where the state files live; the program block decides. There are no defaults: a desk
// never writes into a folder nobody named.
struct DeskPaths {
    std::string configIni;
    std::string dataDat;
    std::string orderList;
    std::string notifications;
    // Orderlist.journal beside Orderlist.xml; empty: no journal.
    std::string orderJournal;
    // config.ini in `configDir`, the other files in `dataDir` (an empty `dataDir` gives their
    // bare names, relative to the current directory).
    static DeskPaths In(const std::string& configDir, const std::string& dataDir);
};

class Desk : public QuoteLimits, protected ICrossSpreadHost {
public:
    Desk(IDeskControls& controls, IDeskView& view, const IClock& clock, DeskPaths paths);
    virtual ~Desk() = default;

    // ---- event model ---------------------------------------------------------------------
    // A message handler: a method of the desk, or of a part the desk owns, called through it.
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

    // ---- life cycle ----------------------------------------------------------------------
    void FormCreate();
    void FormDestroy();
    // Data.dat, Orderlist.xml, the notification list: each save runs whatever became of the
    // ones before it; the errors of all that failed are thrown together afterwards, one line each.
    void SaveData();
    void UpdateConnectionTimeout();

    // ---- auto-save ---------------------------------------------------------------------------
    // The auto-save tick: the files SaveData writes, in its order, written on a thread of their
    // own. Here only what they hold is taken: the price store's bytes, a snapshot of the order
    // list, a copy of the notification list. While a save is still being written, the tick is
    // queued (once): the next save starts when that one has ended, from what is there then.
    void AutoSave();
    // Once the background save has ended (wait: waits for it): its errors are thrown together,
    // one line each, as FileError, after a queued save was started. wait also drops a queued
    // save: the shut-down save follows.
    void FinishAutoSave(bool wait = false);
    bool AutoSaveRunning() const { return m_saveWriter.Started(); }
    // Called on the writer's thread when a background save has ended; the main window posts
    // FinishAutoSave to its loop from here.
    std::function<void()> OnAutoSaveEnded;

    // ---- the order list's journal -------------------------------------------------------------
    // Writes the changes of the order list made since the last call, in one write; the
    // journal's flusher takes them to disk. Nothing when there are none. When the journal
    // cannot be written: JournalFailed.
    // boxLater: where no box may open (the link's batch end), the stop box's text is kept for
    // TakeJournalBox instead.
    void CommitJournal(bool boxLater = false);
    // As CommitJournal, and waits until the changes are on disk (the shut-down).
    void SyncJournal();
    // For the link: the position that covers every change so far (written first), and the
    // position on disk. Once the journal has failed, or without one, everything counts as on
    // disk (nothing can become more so): the held answers go out. A failure found here is
    // told as by JournalFailed, its box kept for TakeJournalBox.
    uint64_t JournalTicket();
    uint64_t JournalDurable();
    // The journal cannot be written: "Standby" is set, and the operator is told at once (a
    // notification, stderr and the stop box). Once per run; the run then ends non-zero.
    void JournalFailed(const std::string& error, bool boxLater = false);
    // The stop box text a commit kept (empty: none).
    std::string TakeJournalBox() { return std::move(m_journalBox); }
    // What the run could not keep: the journal failed, or the shut-down save did. The program
    // ends non-zero then.
    bool DataAtRisk() const { return m_bJournalFailed || m_bFinalSaveFailed; }
    bool m_bJournalFailed = false;
    bool m_bFinalSaveFailed = false;
    std::string m_journalBox;

    // ---- EA messages of the price store ----------------------------------------------------
    void NewDataBid(TMessage& m);
    void NewDataAsk(TMessage& m);
    void NewDataAccount(TMessage& m);
    void DataComplete(TMessage& m);
    void NewDataCompanyName(TMessage& m);
    void ParamCounterCheckSeconds(TMessage& m);
    void GetEALoopTime(TMessage& m);
    void GetEARequoteWaitMS(TMessage& m);
    void GetEAMaxRequotes(TMessage& m);
    void GetEASlippage(TMessage& m);
    void GetEAMaxCounterCheckSeconds(TMessage& m);

    void ResetAll(int iIDStart, int iIDEnd);
    void ResetMin(int iIDStart, int iIDEnd);

    // ---- stages owned by the displays, spreads and order engine --------------------------
    virtual void ComputeCrossSpreads(int id) { spreads.ComputeCrossSpreads(id); }
    virtual void UpdateTables(int id);
    virtual void CheckOrders() { trigger.CheckOrders(); }

    // ---- operator --------------------------------------------------------------------------
    void Button17Click() { ResetAll(1, kMaxEAs); } // "Reset Tabs"

    bool IsValidEAID(int id) const { return id >= 1 && id <= m_iMaxIDs; }

    // ---- state ---------------------------------------------------------------------------
    PriceStore prices;
    int m_iMaxIDs = 0;
    int m_iAutoSaveMinutes = 3;
    int m_iLastRecNoAnzeige = -1;

    // Whether the snapshot was loaded; what was never loaded is never saved.
    bool m_bPricesLoaded = false;

    const DeskPaths& Paths() const { return m_paths; }
    IDeskControls& Controls() { return m_controls; }
    IDeskView& View() { return m_view; }
    const IClock& Clock() const { return m_clock; }

    // Data.dat reader: false when there is no file to read. A file that is not regular, or
    // cannot be read, is set aside and not read; one whose size is not 13,600 bytes is read as
    // far as it holds and then set aside. Values no quote can produce are taken as missing.
    // When a file that should go aside cannot be moved, m_bPricesFileKept stops every save.
    bool LoadPriceSnapshot();
    // Data.dat writer. Throws FileError when the file cannot be replaced.
    void SavePriceSnapshot();
    bool m_bPricesFileKept = false;

    // What the operator must learn about a state file (one set aside, one not read): written
    // to stderr at once, and kept until the window takes the texts to show them.
    void NoteFileProblem(const std::string& text);
    std::vector<std::string> TakeFileNotes() { return std::move(m_fileNotes); }
    const std::vector<std::string>& FileNotes() const { return m_fileNotes; }

    // Removes what saves killed in the middle left beside the state files. Only while this
    // desk holds the link, so that no other desk of this user can be saving them.
    std::vector<std::string> RemoveLeftoverTempFiles();

    // ---- order list ------------------------------------------------------------------------
    OrderBook orders;
    void OpenOrderList() { orders.OpenOrderList(); }
    void SaveOrderList() { orders.SaveOrderList(); }
    void CloseOrderList() { orders.CloseOrderList(); }

    // ---- order entry -------------------------------------------------------------------------
    struct BrokerItem {
        std::string text; // the EA ID in decimal
        bool checked = false;
    };
    void OpenOrder(int iTableID, double dLots, int iBedingung, int iOrderBuySell, double dSpread,
                   const std::vector<BrokerItem>& lbBrokerIDs, int iCloseBedingung, double dCloseSpread,
                   bool bSlippageAusgleich, double dMaxVerlust, bool bAutoClose);
    // OpenOrder from the order box of the frame of table `frame`.
    void TableOpenOrder(int iTableID, int frame);
    // "Place Order": TableOpenOrder for the table tab on screen; nothing on other pages.
    void TableOpenOrderCurrent();
    void Button3Click();  // "COPY TRANSACTION"
    void Button14Click(); // "Delete Order"

    // ---- ADMIN PANEL: manual close and close-spread presets ------------------------------
    // The selected leg alone (bSingle) or with its counter order to "To Close" with the
    // current price as trigger price. A leg that is "To Open", empty or already ended is left.
    void ForceCloseOrder(bool bSingle);
    // The close spread of both legs of the selected transaction; "To Close" back to "Close Cond.".
    void SetCloseSpreadSelected(double value);
    void m_bManuellClick() { SetCloseSpreadSelected(-0.09999); } // "CloseSpread = -0,09999"
    void m_bManuell2Click() { SetCloseSpreadSelected(-0.0002); } // "CloseSpread = -0,00020"
    void m_bManuell3Click() { SetCloseSpreadSelected(-0.0001); } // "CloseSpread = -0,00010"
    void Button6Click() { SetCloseSpreadSelected(0.0); }         // "CloseSpread = 0"
    void Button4Click() { SetCloseSpreadSelected(0.0002); }      // "CloseSpread = 0,00020"
    void Button5Click() { SetCloseSpreadSelected(0.0001); }      // "CloseSpread = 0,00010"
    void CloseTransaction() { ForceCloseOrder(false); }          // "Close Transaction"
    void Button18Click() { ForceCloseOrder(true); }              // "Close Position"
    // "Change Close Order": the close condition, MaxLoss and Forced AutoClose of the group
    // written into both legs.
    void m_btnCloseOrderClick();

    // ---- ADMIN PANEL: the "Edit Orders" group --------------------------------------------------
    // The display cursor's data-change event: loads the group from the selected row.
    void DataSource1DataChange() { FillEditOrdersPanel(); }
    void FillEditOrdersPanel();
    void m_btnChangeOrderClick() { ChangeSelectedOrder(); } // "Change Order"
    void ChangeSelectedOrder();
    // Up-down halves (up: the upper half) and released keys (virtual key codes) of the boxes.
    void UpDown1Click(bool up); // open spread
    void UpDown2Click(bool up); // MaxLoss
    void UpDown3Click(bool up); // close spread
    void UpDown4Click(bool up); // lots
    void m_reLotsChangeKeyUp(int key);
    // The record number and OrderID of the row the group was loaded from (-1: never loaded).
    int m_iLastOrderIDAnzeige = -1;

    // ---- table frames' broker lists and the settings (config.ini) ------------------------
    // Fills table t's broker list with the ten EA IDs from iStartID on, all ticked.
    void InitializeBrokerIDList(int t, int iStartID);
    // config.ini beside the executable (the path the program block passes in).
    std::string GetConfigFileName() const;
    // Reads every setting into its control or field; writes the file with the values just
    // applied when it does not exist. A failed write leaves as the INI write error.
    void LoadConfig();
    // Writes every setting from its control or field (only LoadConfig calls it).
    void SaveConfig();
    // "Reset AT": the credits back to the configured count, "AutoTrade activ" ticked.
    void Button2Click();

    // Settings held in fields, set at start-up only.
    int m_iMaxAutoTrades = 0;
    int m_iAutoTradeIntervall = 0;
    int m_KombinationsPauseMS = 0;
    int m_iSimultaneousClosing = 0;
    double m_dClosingPauseSeconds = 0.0;

    // ---- cross spreads, alerts and auto trade ------------------------------------------------
    CrossSpreads spreads;
    void ResetCrossSpreads() { spreads.ResetCrossSpreads(); }
    void ResetMinCrossSpread(int iIDStart, int iIDEnd) { spreads.ResetMinCrossSpread(iIDStart, iIDEnd); }
    void ResetMinSpreadCurrent();                   // frame "Reset ARB Table"
    void ResetMinCurrent();                         // frame "Reset Spread Table"
    void m_bResetCSClick() { ResetCrossSpreads(); } // Watch tab "Reset Table"
    // One transaction from the table frame's order box, as its "Place Order" does; nothing
    // when the table has no frame.
    void AutoTradeTable(int t) override;

    // ---- order engine ------------------------------------------------------------------------
    EngineState engine;
    OpeningTrigger trigger;
    OpeningHandshake handshake;
    ClosingEngine closing;
    CloseReports closeReports;
    ExecutionFailures failures;
    OrderHousekeeping housekeeping;
    // The minute timer: stale Pending legs back to To Open, then the auto-trade credits.
    void TimerResetPendingTimer();
    // The narrow view of the desk that each part of the engine is handed.
    EngineContext Engine() {
        return EngineContext{orders, prices, engine, m_controls, m_view, m_clock, *this, m_iMaxIDs};
    }

    // ---- spread table displays ---------------------------------------------------------------
    void InitTableGrids(int t, int iStartID);
    void UpdateWatchGrid();
    // Page change: the visible table's full pass, then the Watch grid.
    void PageControl1Change();
    // Watch tab steps: up-down halves and released keys (virtual key codes).
    void UpDown5Click(bool up);
    void UpDown6Click(bool up);
    void m_reAlertIntervallKeyUp(int key);
    // The shared spread step of a real edit: Up +0.00005, Down -0.00005.
    void RealEditKeyUp(Ctl c, int key);

protected:
    // Cross-spread events: the Watch grid and the table on screen follow them.
    void CrossSpreadChanged(int t, bool redraw) override;
    void CrossSpreadsReset() override;
    void PairMinimaReset() override { UpdateTables(-1); }

private:
    // Watch grid rows to redraw at the next pass while the Watch tab stays on screen.
    std::array<bool, kMaxTables> m_bWatchRowDirty{};
    bool m_bWatchFullPending = true;
    void DrawWatchRow(int t);

private:
    // The background save: the list snapshot it writes (dropped on this thread only), a tick
    // that came while it ran, the notification list to be saved here when the view has no
    // writer for another thread. The writer goes first when the desk does: it waits.
    std::unique_ptr<TableSnapshot> m_savingList;
    // What the background save wrote of the list, for the journal's new start.
    struct SavedList {
        OrderJournal::Mark mark;
        ListFileId id;
        bool written = false; // set on the writer's thread before it ends
    };
    std::shared_ptr<SavedList> m_savedList;
    bool m_creating = false;
    bool m_autoSaveQueued = false;
    bool m_saveNotificationsHere = false;
    SaveWriter m_saveWriter;

protected:
    IDeskControls& m_controls;
    IDeskView& m_view;
    const IClock& m_clock;
    DeskPaths m_paths;
    std::vector<std::string> m_fileNotes;
};

} // namespace quorvel
