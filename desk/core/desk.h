#pragma once
// The arbitrage desk without its windows: every EA message handler, the creation sequence,
// the saves and the state they work on. The main window owns one and hands it its controls
// and its view; tests hand it plain doubles.
#include <array>
#include <cstdint>
#include <functional>
#include <string>

#include "desk/core/controls.h"
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
    virtual void ComputeCrossSpreads(int id) {}
    virtual void UpdateTables(int id) {}
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

protected:
    void SetUpOrderListCursors();
    Variant LookupOrder(int iOrderID, const std::string& field);

    IDeskControls& m_controls;
    IDeskView& m_view;
    const IClock& m_clock;
    DeskPaths m_paths;
};

} // namespace quorvel
