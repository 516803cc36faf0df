#pragma once
// The ADMIN PANEL's operator controls: the manual close, the close-spread presets, "Change
// Close Order" and "Reset AT", with the context and the helpers they share with order entry
// and "Edit Orders". They act on the grid's selected row (the display cursor's current
// record) and reach its counter order by moving the display cursor, so that the grid's
// selection follows.
#include "desk/core/controls.h"
#include "desk/core/orderlist.h"
#include "desk/core/pricestore.h"
#include "desk/core/settings.h"
#include "platform/clientdataset.h"
#include "platform/timestamp.h"

namespace quorvel {

// What the operator's order controls may touch: the order list, the quotes, the controls,
// the clock and the settings - never the whole desk.
struct OrderPanelContext {
    OrderList& orders;
    const PriceStore& prices;
    IDeskControls& controls;
    const IClock& clock;
    const DeskSettings& settings;
};

// A record left in edit state when an error cuts a control short is cancelled, so that the
// next move of the cursor cannot post half of a change.
struct EditGuard {
    ClientDataSet& ds;
    explicit EditGuard(ClientDataSet& d) : ds(d) {}
    ~EditGuard() {
        if (ds.Active() && (ds.State() == DataSetState::Edit || ds.State() == DataSetState::Insert))
            ds.Cancel();
    }
    EditGuard(const EditGuard&) = delete;
    EditGuard& operator=(const EditGuard&) = delete;
};

class OrderControls {
public:
    explicit OrderControls(OrderPanelContext ctx) : m_ctx(ctx) {}

    // The selected leg alone (bSingle: "Close Position") or with its counter order ("Close
    // Transaction") to "To Close" with the current price as trigger price. A leg that is
    // "To Open", empty or already ended is left.
    void ForceCloseOrder(bool bSingle);
    // The close spread of both legs of the selected transaction (the "CloseSpread = ..."
    // presets); "To Close" back to "Close Cond.".
    void SetCloseSpreadSelected(double value);
    // "Change Close Order": the close condition, MaxLoss and Forced AutoClose of the group
    // written into both legs.
    void ChangeCloseOrder();
    // "Reset AT": the credits back to the configured count, "AutoTrade activ" ticked.
    void ResetAutoTrade();

private:
    OrderPanelContext m_ctx;
};

} // namespace quorvel
