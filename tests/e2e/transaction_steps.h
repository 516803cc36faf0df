#pragma once
// The steps the end-to-end transaction tests share: a waiting transaction of table 0 between
// EA 1 (buy) and EA 2 (sell) written as the Orderlist.xml the desk starts with, the desk's
// one-table config.ini, and an EA on the link that quotes.
#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "desk/core/orderlist.h"
#include "desk_process.h"
#include "platform/clientdataset.h"
#include "platform/files.h"
#include "platform/messages.h"

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

// One such transaction.
inline void WriteWaitingTransaction(const fs::path& file, double maxLoss) {
    WriteWaitingTransactions(file, 1, maxLoss);
}

// One table, awake, no modes, a 60 second time-out, alerts below every spread, no autosave.
inline void WriteOneTableConfig(const fs::path& root) {
    std::ofstream ini(root / "bin" / "config.ini", std::ios::binary);
    ini << "[Defaults]\r\nStandby=0\r\nSeqMode=0\r\nDelMode=0\r\nTables=1\r\nTimeout=60\r\n"
           "AlertLevel=-1\r\nAutoSaveMinutes=0\r\n";
}

struct EA {
    int id;
    LinkClient link;
    int32_t Send(int32_t msg, int32_t wparam, int32_t lparam = 0) { return link.Send(msg, wparam, lparam); }
    void Quote(int32_t bid, int32_t ask) {
        EXPECT_EQ(Send(EAMsg::NewDataBid, id, bid), 2);
        EXPECT_EQ(Send(EAMsg::NewDataAsk, id, ask), 1);
        EXPECT_EQ(Send(EAMsg::DataComplete, id), 5);
    }
};

} // namespace quorvel::e2e
