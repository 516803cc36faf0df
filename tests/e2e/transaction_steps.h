#pragma once
// The waiting transactions the end-to-end tests start the desk with: table 0 between EA 1
// (buy) and EA 2 (sell), written as the Orderlist.xml the desk starts with.
#include <string>

#include "desk/core/orderlist.h"
#include "desk_process.h"
#include "platform/clientdataset.h"
#include "platform/files.h"

namespace quorvel::e2e {

// `count` transactions on table 0 between EA 1 (buy) and EA 2 (sell), each waiting to open at
// -0.00002 and to close at a close spread of 0.00005, with the given MaxLoss.
inline void WriteWaitingTransactions(const fs::path& file, int count, double maxLoss) {
    ClientDataSet list("list");
    list.CreateDataSet(OrderListFieldDefs(), IdxOrderIDDesc());
    for (int t = 0; t < count; ++t) {
        int32_t first = 0;
        for (int32_t type : {int32_t{otBuy}, int32_t{otSell}}) {
            list.Append();
            if (first > 0) list.FieldByName("FirstOrderID").SetAsInteger(first);
            list.FieldByName("Zeitpunkt").SetAsDateTime(NowLocal());
            list.FieldByName("TableID").SetAsInteger(0);
            list.FieldByName("OrderType").SetAsInteger(type);
            list.FieldByName("MaxVerlust").SetAsCurrency(maxLoss);
            list.FieldByName("Status").SetAsInteger(stToOpen);
            list.FieldByName("Lots").SetAsFloat(0.1);
            list.FieldByName("Spread").SetAsCurrency(-0.00002);
            for (int k = 1; k <= 10; ++k)
                list.FieldByName("ID" + std::to_string(k)).SetAsInteger(k <= 2 ? k : -1);
            list.FieldByName("CloseSpread").SetAsCurrency(0.00005);
            list.FieldByName("CloseBedingung").SetAsInteger(1);
            list.FieldByName("SlippageAusgleich").SetAsBoolean(false);
            list.FieldByName("AutoClose").SetAsBoolean(false);
            list.Post();
            if (first == 0) first = list.FieldByName("OrderID").AsInteger();
        }
    }
    list.SaveToFile(file.string());
}

} // namespace quorvel::e2e
