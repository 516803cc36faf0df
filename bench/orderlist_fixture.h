#pragma once
// A long order list of closed transactions with every field a run writes, for the benchmarks
// and for making a large Orderlist.xml to run the desk with.
#include <string>

#include "desk/core/orderlist.h"
#include "platform/clientdataset.h"

namespace quorvel::bench {

// A list of closed transactions with every field a run writes.
struct List {
    ClientDataSet engine{"engine"};
    ClientDataSet append{"append"};
    Aggregate* sum = nullptr;
    explicit List(int legs) {
        engine.CreateDataSet(OrderListFieldDefs(), IdxOrderIDDesc());
        append.CloneCursor(engine, true);
        sum = &engine.AddAggregate("SumGewinn", "Sum(Gewinn)");
        sum->Active = true;
        engine.AggregatesActive = true;
        for (int i = 0; i < legs; ++i) AddLeg(i);
    }
    void AddLeg(int i) {
        ClientDataSet& a = append;
        const double t = 45000.0 + i / 1000.0;
        a.Append();
        a.FieldByName("TableID").SetAsInteger(i % 20);
        a.FieldByName("Lots").SetAsFloat(0.1 * (1 + i % 5));
        a.FieldByName("OrderType").SetAsInteger(1 + i % 2);
        a.FieldByName("Spread").SetAsCurrency(0.00012);
        a.FieldByName("Status").SetAsInteger(stClosed);
        for (int k = 1; k <= 10; ++k) a.FieldByName("ID" + std::to_string(k)).SetAsInteger(k % 3 ? k : -1);
        a.FieldByName("EAID").SetAsInteger(1 + i % 200);
        a.FieldByName("Zeitpunkt").SetAsDateTime(t);
        a.FieldByName("OrderOpenTime").SetAsDateTime(t + 0.0001);
        a.FieldByName("OrderCloseTime").SetAsDateTime(t + 0.01);
        a.FieldByName("Ticket").SetAsInteger(10000000 + i);
        a.FieldByName("Account").SetAsInteger(5000000 + i % 200);
        a.FieldByName("Kurs").SetAsCurrency(1.08123 + (i % 100) * 0.00001);
        a.FieldByName("CloseBedingung").SetAsInteger(1);
        a.FieldByName("CloseSpread").SetAsCurrency(0.00005);
        if (i % 2) a.FieldByName("FirstOrderID").SetAsInteger(i);
        a.FieldByName("CloseKurs").SetAsCurrency(1.08223);
        a.FieldByName("Gewinn").SetAsCurrency(-1.25 + (i % 7) * 0.5);
        a.FieldByName("TO_Spread").SetAsCurrency(0.00011);
        a.FieldByName("TC_Spread").SetAsCurrency(0.00004);
        a.FieldByName("GewinnPips").SetAsCurrency(0.00007);
        a.FieldByName("SlippageAusgleich").SetAsBoolean(false);
        a.FieldByName("MaxVerlust").SetAsCurrency(-0.0005);
        a.FieldByName("AutoClose").SetAsBoolean(true);
        a.Post();
    }
};

} // namespace quorvel::bench
