#pragma once
// The order list's record: its 46 fields, the statuses and order types, the engine cursor's
// index and the texts the grid shows for them.
#include <string>
#include <vector>

#include "platform/clientdataset.h"

namespace quorvel {

enum OrderStatus : int32_t {
    stNoLeg = -1,
    stToOpen = 0,
    stPending = 1,
    stOpened = 2,
    stCloseCond = 3,
    stToClose = 4,
    stClosed = 5,
    stCanceled = 6,
};

enum OrderTypeValue : int32_t {
    otNone = -1,
    otBuy = 1,
    otSell = 2,
};

// The 46 fields in definition order (also the column order of Orderlist.xml).
const std::vector<FieldDef>& OrderListFieldDefs();
// The engine cursor's index: OrderID descending, newest leg first.
const IndexDef& IdxOrderIDDesc();

// "To Open" .. "Canceled" for 0..6, empty for any other value.
std::string OrderStatusText(int32_t status);
// "Buy" for 1, "Sell" for 2, "---" otherwise.
std::string OrderTypeText(int32_t type);

// Field names held by each cursor, in the cursor's field order (the display cursor's list
// starts with its calculated "Nr").
const std::vector<std::string>& EngineCursorFields();
const std::vector<std::string>& DisplayCursorFields();
const std::vector<std::string>& AppendCursorFields();

// The message shown when Orderlist.xml does not load.
extern const char16_t kOrderListLoadFailed[];

} // namespace quorvel
