#pragma once
// Helpers shared by the ADMIN PANEL's controls that edit the selected transaction on the
// display cursor.
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

// Whether a leg has ended: "Closed" or "Canceled". No operator control brings one back.
inline bool LegEnded(int status) {
    return status == 5 || status == 6;
}

} // namespace quorvel
