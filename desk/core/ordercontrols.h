#pragma once
// Helpers shared by the ADMIN PANEL's controls that edit the selected transaction on the
// display cursor.
#include "desk/core/orderlist.h" // LegEnded
#include "platform/clientdataset.h"

namespace quorvel {

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

} // namespace quorvel
