#pragma once
// The "Edit Orders" group of the ADMIN PANEL: loaded from the selected row and its counter
// order, switched by the two legs' statuses, and written back into both legs by "Change Order".
#include "desk/core/ordercontrols.h"

namespace quorvel {

class EditOrders {
public:
    explicit EditOrders(OrderPanelContext ctx) : m_ctx(ctx) {}

    // Loads the group from the selected row (the display cursor's data-change event).
    void FillEditOrdersPanel();
    // "Change Order".
    void ChangeSelectedOrder();
    // Up-down halves (up: the upper half) and released keys (virtual key codes) of the boxes.
    void UpDown1Click(bool up); // open spread
    void UpDown2Click(bool up); // MaxLoss
    void UpDown3Click(bool up); // close spread
    void UpDown4Click(bool up); // lots
    void m_reLotsChangeKeyUp(int key);

    // The record number and OrderID of the row the group was loaded from (-1: never loaded).
    int m_iLastRecNoAnzeige = -1;
    int m_iLastOrderIDAnzeige = -1;

private:
    OrderPanelContext m_ctx;
};

} // namespace quorvel
