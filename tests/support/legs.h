#pragma once
// One leg appended to the order list as a transaction leaves it, field by field: what the tests
// and benchmarks put straight into the engine cursor instead of going through the order logic.
#include <cstdint>
#include <optional>

#include "desk/core/orderlist.h"
#include "platform/clientdataset.h"

namespace quorvel::test {

// A field left empty stays null.
struct Leg {
    int32_t table = 0;
    int32_t type = otBuy;
    int32_t status = stOpened;
    std::optional<int32_t> ea = 1;
    // Without its own: 9000 + EA and 5550000 + EA.
    std::optional<int32_t> ticket;
    std::optional<int32_t> account;
    int32_t firstOrderID = 0; // 0: the first leg of its transaction
    std::optional<double> kurs = 1.2;
    std::optional<int32_t> closeBedingung;
    std::optional<double> closeSpread;
    std::optional<double> maxVerlust;
    std::optional<bool> autoClose;
    std::optional<bool> openAfterCounter;
    // A closed leg's results.
    std::optional<double> closeKurs;
    std::optional<double> tcSpread;
    std::optional<double> gewinnPips;
    std::optional<double> gewinn;
};

// Appends `leg` (0.1 lots) through `list`; returns its OrderID.
inline int32_t AppendLeg(ClientDataSet& list, const Leg& leg) {
    ClientDataSet& d = list;
    d.Append();
    d.FieldByName("TableID").SetAsInteger(leg.table);
    d.FieldByName("Lots").SetAsFloat(0.1);
    d.FieldByName("OrderType").SetAsInteger(leg.type);
    d.FieldByName("Status").SetAsInteger(leg.status);
    if (leg.ea) d.FieldByName("EAID").SetAsInteger(*leg.ea);
    if (leg.ea || leg.account)
        d.FieldByName("Account").SetAsInteger(leg.account.value_or(5550000 + leg.ea.value_or(0)));
    if (leg.ea || leg.ticket)
        d.FieldByName("Ticket").SetAsInteger(leg.ticket.value_or(9000 + leg.ea.value_or(0)));
    if (leg.kurs) d.FieldByName("Kurs").SetAsCurrency(*leg.kurs);
    if (leg.closeBedingung) d.FieldByName("CloseBedingung").SetAsInteger(*leg.closeBedingung);
    if (leg.closeSpread) d.FieldByName("CloseSpread").SetAsCurrency(*leg.closeSpread);
    if (leg.maxVerlust) d.FieldByName("MaxVerlust").SetAsCurrency(*leg.maxVerlust);
    if (leg.autoClose) d.FieldByName("AutoClose").SetAsBoolean(*leg.autoClose);
    if (leg.openAfterCounter) d.FieldByName("OpenAfterCounterOrder").SetAsBoolean(*leg.openAfterCounter);
    if (leg.firstOrderID > 0) d.FieldByName("FirstOrderID").SetAsInteger(leg.firstOrderID);
    if (leg.closeKurs) d.FieldByName("CloseKurs").SetAsCurrency(*leg.closeKurs);
    if (leg.tcSpread) d.FieldByName("TC_Spread").SetAsCurrency(*leg.tcSpread);
    if (leg.gewinnPips) d.FieldByName("GewinnPips").SetAsCurrency(*leg.gewinnPips);
    if (leg.gewinn) d.FieldByName("Gewinn").SetAsCurrency(*leg.gewinn);
    d.Post();
    return d.FieldByName("OrderID").AsInteger();
}

} // namespace quorvel::test
