#pragma once
// Order entry: new transactions from a table frame's order box, the copy and the removal of
// the transaction selected on the ADMIN PANEL tab.
#include <string>
#include <vector>

#include "desk/core/ordercontrols.h"

namespace quorvel {

// One item of a broker list.
struct BrokerItem {
    std::string text; // the EA ID in decimal
    bool checked = false;
};

class OrderEntry {
public:
    explicit OrderEntry(OrderPanelContext ctx) : m_ctx(ctx) {}

    void OpenOrder(int iTableID, double dLots, int iBedingung, int iOrderBuySell, double dSpread,
                   const std::vector<BrokerItem>& lbBrokerIDs, int iCloseBedingung, double dCloseSpread,
                   bool bSlippageAusgleich, double dMaxVerlust, bool bAutoClose);
    // OpenOrder from the order box of the frame of table `frame`.
    void TableOpenOrder(int iTableID, int frame);
    // "Place Order": TableOpenOrder for the table tab on screen; nothing on other pages.
    void TableOpenOrderCurrent();
    // "COPY TRANSACTION": the selected transaction once more, "To Open".
    void CopySelectedTransaction();
    // "Delete Order": the selected leg and its counter order.
    void DeleteSelectedTransaction();

private:
    OrderPanelContext m_ctx;
};

} // namespace quorvel
