#pragma once
// The arbitrage desk without its windows: every EA message handler, the creation sequence,
// the saves and the state they work on. The main window owns one and hands it its controls
// and its view; tests hand it plain doubles.
#include <array>
#include <cstdint>
#include <functional>
#include <string>

#include "desk/core/controls.h"
#include "desk/core/crossspreads.h"
#include "desk/core/pricestore.h"
#include "desk/core/view.h"
#include "platform/clientdataset.h"
#include "platform/ealink.h"
#include "platform/timestamp.h"

namespace quorvel {

// Where the state files live; the program block decides.
struct DeskPaths {
    std::string configIni = "config.ini";
    std::string dataDat = "Data.dat";
    std::string orderList = "Orderlist.xml";
    std::string notifications = "Notifications.txt";
};

class Desk {
public:
    Desk(IDeskControls& controls, IDeskView& view, const IClock& clock, DeskPaths paths);
    virtual ~Desk() = default;

    // ---- event model ---------------------------------------------------------------------
    // Hands one EA message to its handler. An error escaping the handler is shown in the stop
    // box; Result keeps what the handler had set before it.
    void Dispatch(TMessage& msg);
    // Runs an operator or timer handler under the same error rule.
    void Guarded(const std::function<void()>& handler);

    // ---- life cycle ----------------------------------------------------------------------
    void FormCreate();
    void FormDestroy();
    void SaveData();
    void UpdateConnectionTimeout();

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
    virtual void ComputeCrossSpreads(int id);
    virtual void UpdateTables(int id);
    virtual void CheckOrders() {}

    // ---- operator --------------------------------------------------------------------------
    void Button17Click() { ResetAll(1, kMaxEAs); } // "Reset Tabs"

    bool IsValidEAID(int id) const { return id >= 1 && id <= m_iMaxIDs; }

    // ---- state ---------------------------------------------------------------------------
    PriceStore prices;
    int m_iMaxIDs = 0;
    double CONNECTION_TIMEOUT = 0.0; // days
    int m_iAnzahlTabellen = 1;
    int m_iAutoSaveMinutes = 3;
    int m_iDisableDataChange = 0;
    int m_iLastRecNoAnzeige = -1;

    // Whether the snapshot and the order list were loaded; what was never loaded is never saved.
    bool m_bPricesLoaded = false;
    bool m_bOrderListLoaded = false;

    const DeskPaths& Paths() const { return m_paths; }
    IDeskControls& Controls() { return m_controls; }
    IDeskView& View() { return m_view; }
    const IClock& Clock() const { return m_clock; }

    // Data.dat reader: false when the file cannot be opened.
    bool LoadPriceSnapshot();
    // Data.dat writer: silent on failure.
    void SavePriceSnapshot();

    // ---- order list ------------------------------------------------------------------------
    // One table seen through three cursors: the engine cursor (newest OrderID first), the
    // display cursor of the order grid (natural order) and the append cursor of new legs.
    ClientDataSet m_CDSOrderliste{"m_CDSOrderliste"};
    ClientDataSet m_CDSOrderlisteAnzeige{"m_CDSOrderlisteAnzeige"};
    ClientDataSet m_CDSAddNewOrder{"m_CDSAddNewOrder"};
    Aggregate* AggSumGewinn = nullptr;
    Aggregate* AggSumGewinnPips = nullptr;
    Aggregate* AggSumLots = nullptr;

    // Loads Orderlist.xml (or creates the list empty) and clones the other two cursors.
    void OpenOrderList();
    // Writes Orderlist.xml; never a list that was not loaded. Throws FileError on failure.
    void SaveOrderList();
    // Closes the display, append and engine cursors, in that order.
    void CloseOrderList();

    // Lookups by OrderID on the engine cursor; they move no cursor.
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
    // The sum labels of the order grid.
    virtual void UpdateSumLabels() {}

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
    void ResetCrossSpreads();
    void ResetMinCrossSpread(int iIDStart, int iIDEnd);
    void ResetMinSpreadCurrent();                   // frame "Reset ARB Table"
    void ResetMinCurrent();                         // frame "Reset Spread Table"
    void m_bResetCSClick() { ResetCrossSpreads(); } // Watch tab "Reset Table"
    // One transaction from the table frame's order box, as its "Place Order" does; nothing
    // when the table has no frame.
    virtual void AutoTradeTable(int t);
    // Whether EA k counts in its table's cross spread now: ticked in the broker list and
    // quoted within the connection timeout.
    bool IsEligible(int k, TDateTime now) const;

    PairMinima acMinSpread;
    std::array<int64_t, kMaxTables> CrossSpread{};
    std::array<int64_t, kMaxTables> CSGegenwert{};
    std::array<bool, kMaxTables> CSActiv{};
    std::array<int64_t, kMaxTables> CSMin{};
    std::array<int64_t, kMaxTables> CSGegenwertMin{};
    std::array<TDateTime, kMaxTables> adtLastAlert{};
    std::array<TDateTime, kMaxTables> adtLastAutoTrade{};

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

private:
    // Watch grid rows to redraw at the next pass while the Watch tab stays on screen.
    std::array<bool, kMaxTables> m_bWatchRowDirty{};
    bool m_bWatchFullPending = true;
    void DrawWatchRow(int t);

protected:
    void SetUpOrderListCursors();
    Variant LookupOrder(int iOrderID, const std::string& field);

    IDeskControls& m_controls;
    IDeskView& m_view;
    const IClock& m_clock;
    DeskPaths m_paths;
};

} // namespace quorvel
