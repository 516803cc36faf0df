// A desk folder for the EA fleet, and the check of the order list after a run.
#include "tools/fleetfiles.h"

#include <algorithm>
#include <map>
#include <random>
#include <stdexcept>

#include "desk/core/notifications.h"
#include "desk/core/orderlist.h"
#include "platform/clientdataset.h"
#include "platform/files.h"
#include "platform/profile.h"
#include "platform/timestamp.h"

namespace quorvel::fleet {

namespace {

constexpr const char* kDefaults = "Defaults";
constexpr double kPoint = 0.00001;

// Fields of a closed history leg, filled as the desk would have left them.
void WriteHistoryLeg(ClientDataSet& ds, int32_t firstOrderID, int32_t type, int32_t ea, int32_t ticket,
                     int32_t table, const std::vector<int32_t>& brokers, TDateTime when,
                     std::mt19937_64& rng) {
    ds.Append();
    if (firstOrderID > 0) ds.FieldByName("FirstOrderID").SetAsInteger(firstOrderID);
    ds.FieldByName("TableID").SetAsInteger(table);
    ds.FieldByName("Lots").SetAsFloat(0.1);
    ds.FieldByName("OrderType").SetAsInteger(type);
    ds.FieldByName("Bedingung").SetAsInteger(1);
    ds.FieldByName("Spread").SetAsCurrency(kOpenSpreadPoints * kPoint);
    ds.FieldByName("Status").SetAsInteger(stClosed);
    for (size_t b = 0; b < 10; ++b)
        ds.FieldByName("ID" + std::to_string(b + 1)).SetAsInteger(b < brokers.size() ? brokers[b] : -1);
    ds.FieldByName("EAID").SetAsInteger(ea);
    ds.FieldByName("Zeitpunkt").SetAsDateTime(when);
    ds.FieldByName("OrderOpenTime").SetAsDateTime(when + 1.0 / kSecondsPerDay);
    ds.FieldByName("OrderCloseTime").SetAsDateTime(when + 30.0 / kSecondsPerDay);
    ds.FieldByName("Ticket").SetAsInteger(ticket);
    ds.FieldByName("Account").SetAsInteger(1000000 + ea);
    const int32_t open = 110000 + static_cast<int32_t>(rng() % 200);
    const int32_t close = open + static_cast<int32_t>(rng() % 41) - 20;
    ds.FieldByName("Kurs").SetAsCurrency(open * kPoint);
    ds.FieldByName("CloseKurs").SetAsCurrency(close * kPoint);
    const int32_t gain = type == otBuy ? close - open : open - close;
    ds.FieldByName("GewinnPips").SetAsCurrency(gain * kPoint);
    ds.FieldByName("Gewinn").SetAsCurrency(gain * 0.1);
    ds.FieldByName("CloseBedingung").SetAsInteger(1);
    ds.FieldByName("CloseSpread").SetAsCurrency(kCloseSpreadPoints * kPoint);
    ds.FieldByName("TrigOpenKurs").SetAsCurrency(open * kPoint);
    ds.FieldByName("TrigCloseKurs").SetAsCurrency(close * kPoint);
    ds.FieldByName("MaxVerlust").SetAsCurrency(-0.0001);
    ds.FieldByName("PendingTime").SetAsDateTime(when);
    ds.FieldByName("SlippageAusgleich").SetAsBoolean(false);
    ds.FieldByName("AutoClose").SetAsBoolean(true);
    ds.FieldByName("OpenAfterCounterOrder").SetAsBoolean(false);
    ds.FieldByName("CloseAfterCounterOrder").SetAsBoolean(false);
    ds.FieldByName("ForceClose").SetAsBoolean(false);
    ds.FieldByName("ATRaiseChecked").SetAsBoolean(true);
    ds.Post();
}

// One leg of a waiting transaction, as order entry appends it.
void WriteWaitingLeg(ClientDataSet& ds, int32_t firstOrderID, int32_t type, int32_t table,
                     const std::vector<int32_t>& brokers, int k, TDateTime when) {
    ds.Append();
    if (firstOrderID > 0) ds.FieldByName("FirstOrderID").SetAsInteger(firstOrderID);
    ds.FieldByName("Zeitpunkt").SetAsDateTime(when);
    ds.FieldByName("TableID").SetAsInteger(table);
    ds.FieldByName("OrderType").SetAsInteger(type);
    // Half of them auto-close their counter order on a failed leg at once, the other half
    // only when the counter order is 10 points in profit.
    ds.FieldByName("MaxVerlust").SetAsCurrency(k % 2 == 0 ? 0.001 : -0.0001);
    if (type != otNone) {
        ds.FieldByName("Status").SetAsInteger(stToOpen);
        ds.FieldByName("Lots").SetAsFloat(k % 3 == 0 ? 0.29 : 0.1);
        ds.FieldByName("Bedingung").SetAsInteger(1);
        ds.FieldByName("Spread").SetAsCurrency(kOpenSpreadPoints * kPoint);
        for (size_t b = 0; b < 10; ++b)
            ds.FieldByName("ID" + std::to_string(b + 1)).SetAsInteger(b < brokers.size() ? brokers[b] : -1);
        ds.FieldByName("CloseSpread").SetAsCurrency(kCloseSpreadPoints * kPoint);
        ds.FieldByName("CloseBedingung").SetAsInteger(1);
    } else {
        ds.FieldByName("Status").SetAsInteger(stNoLeg);
    }
    ds.FieldByName("SlippageAusgleich").SetAsBoolean(k % 4 == 1);
    ds.FieldByName("AutoClose").SetAsBoolean(k % 7 != 6);
    ds.Post();
}

std::string IntegerText(const Field* f, const char* nullText) {
    return !f || f->IsNull() ? std::string(nullText) : std::to_string(f->AsInteger());
}

bool IsOpen(int32_t status) {
    return status >= stPending && status <= stToClose;
}

} // namespace

int TablesForEAs(int eas) {
    return (std::max(eas, 1) + 9) / 10;
}

std::vector<std::vector<int32_t>> EAsByTable(int eas, int tables) {
    if (tables <= 0) tables = TablesForEAs(eas);
    if (eas < 1 || tables > 20 || eas > 10 * tables) return {};
    std::vector<std::vector<int32_t>> out(static_cast<size_t>(tables));
    for (int k = 0; k < eas; ++k)
        out[static_cast<size_t>(k % tables)].push_back(10 * (k % tables) + k / tables + 1);
    return out;
}

size_t FleetShare::Count() const {
    size_t n = 0;
    for (const auto& t : byTable) n += t.size();
    return n;
}

bool ShareOfFleet(int eas, int tables, const EaIdRanges& ids, FleetShare& out, std::string& error) {
    out = FleetShare{};
    const auto all = EAsByTable(eas, tables);
    if (all.empty()) {
        error = "the EAs do not fit the tables: at most ten a table, 20 tables";
        return false;
    }
    std::vector<bool> inFleet(10 * all.size() + 1, false);
    for (size_t t = 0; t < all.size(); ++t) {
        std::vector<int32_t> mine;
        for (int32_t id : all[t]) {
            inFleet[static_cast<size_t>(id)] = true;
            if (ids.Contains(id)) mine.push_back(id);
        }
        if (mine.empty()) continue;
        if (mine.size() < all[t].size()) out.splitTables.push_back(static_cast<int32_t>(t));
        out.tables.push_back(static_cast<int32_t>(t));
        out.byTable.push_back(std::move(mine));
    }
    // The IDs are checked up to the largest an enrolment takes, so that a typing error such as
    // 151-2000 is not silently cut down to the fleet.
    constexpr int32_t kLargestId = 1000000;
    for (int32_t id = 1; id <= kLargestId; ++id) {
        const bool played = static_cast<size_t>(id) < inFleet.size() && inFleet[static_cast<size_t>(id)];
        if (!played && ids.Contains(id)) {
            error = "EA ID " + std::to_string(id) + " is not one of the fleet's " + std::to_string(eas) +
                    " EAs over " + std::to_string(all.size()) + " tables";
            out = FleetShare{};
            return false;
        }
    }
    return true;
}

void WriteFleetConfig(const std::string& path, const PrepareOptions& o) {
    TIniFile ini(path);
    ini.WriteBool(kDefaults, "Standby", false);
    ini.WriteInteger(kDefaults, "Tables", o.tables > 0 ? o.tables : TablesForEAs(o.eas));
    ini.WriteBool(kDefaults, "SeqMode", o.seqMode);
    ini.WriteBool(kDefaults, "DelMode", o.delMode);
    ini.WriteInteger(kDefaults, "MaxAutoTrades", o.autoTrades);
    // With credits, "Alert Level" (a cross spread strictly below it places an automatic
    // transaction) is one point above the order boxes' open spread: a table's transaction is
    // placed when the fleet's quotes would open it at once. The desk's default lies beyond what
    // the fleet quotes for long. The level's box holds whole points.
    if (o.autoTrades > 0) ini.WriteFloat(kDefaults, "AlertLevel", (kOpenSpreadPoints + 1) * kPoint);
    ini.WriteInteger(kDefaults, "CombinationPause", 200);
    ini.WriteInteger(kDefaults, "SimultaneousClosing", 20);
    ini.WriteInteger(kDefaults, "OrderAttempts", 3);
    ini.WriteInteger(kDefaults, "LoopTime", 200);
    ini.WriteInteger(kDefaults, "AutoSaveMinutes", 1);
    for (const char* group : {"===== Group_1 =====", "===== Group_2 ====="}) {
        ini.WriteFloat(group, "Lots", 0.1);
        ini.WriteFloat(group, "OpenSpread", kOpenSpreadPoints * kPoint);
        ini.WriteFloat(group, "CloseSpread", kCloseSpreadPoints * kPoint);
        ini.WriteString(group, "Direction", "a");
        ini.WriteFloat(group, "MaxLoss", 0.001);
        ini.WriteBool(group, "SlippageCorrection", false);
        ini.WriteBool(group, "ForcedAutoClose", true);
    }
    for (const auto& table : EAsByTable(o.eas, o.tables))
        for (int32_t id : table)
            ini.WriteBool("===== BrokerIDs =====", "BrokerID" + std::to_string(id), true);
    ini.UpdateFile();
}

void WriteFleetOrderList(const std::string& path, const PrepareOptions& o) {
    const auto byTable = EAsByTable(o.eas, o.tables);
    if (byTable.empty() || o.eas < 2 * static_cast<int>(byTable.size()))
        throw std::invalid_argument(
            "the EAs do not fit the tables: at least two and at most ten a table, 20 tables");
    ClientDataSet ds("fleet");
    ds.CreateDataSet(OrderListFieldDefs());
    std::mt19937_64 rng(o.seed);
    const TDateTime now = NowLocal();
    const int tables = static_cast<int>(byTable.size());
    // History: pairs of closed legs over two EAs of one table, older than the run.
    int32_t ticket = 1;
    for (int leg = 0; leg < o.history; leg += 2) {
        const int32_t table = static_cast<int32_t>((leg / 2) % tables);
        const auto& brokers = byTable[static_cast<size_t>(table)];
        const size_t b = static_cast<size_t>(rng() % brokers.size());
        const int32_t buyEA = brokers[b], sellEA = brokers[(b + 1) % brokers.size()];
        const TDateTime when = now - 1.0 - (o.history - leg) / kSecondsPerDay;
        WriteHistoryLeg(ds, 0, otBuy, buyEA, ticket++, table, brokers, when, rng);
        const int32_t firstID = ds.FieldByName("OrderID").AsInteger();
        if (leg + 1 < o.history)
            WriteHistoryLeg(ds, firstID, otSell, sellEA, ticket++, table, brokers, when, rng);
    }
    for (int k = 0; k < o.transactions; ++k) {
        const int32_t table = k % tables;
        const auto& brokers = byTable[static_cast<size_t>(table)];
        int32_t first = otBuy, second = otSell;
        if (k % 5 == 4) (k / 5) % 2 == 0 ? second = otNone : first = otNone;
        WriteWaitingLeg(ds, 0, first, table, brokers, k, now);
        const int32_t firstID = ds.FieldByName("OrderID").AsInteger();
        WriteWaitingLeg(ds, firstID, second, table, brokers, k, now);
    }
    ds.SaveToFile(path);
}

CheckReport CheckOrderList(const std::string& orderListPath, const std::string& notificationsPath) {
    ClientDataSet ds("check");
    ds.LoadFromFile(orderListPath);
    std::vector<std::string> notes;
    if (auto bytes = ReadWholeFile(notificationsPath)) notes = DecodeNotificationLines(*bytes);

    std::map<int32_t, TransactionSummary> byKey;
    const Field* ticket = ds.FindField("Ticket");
    const Field* account = ds.FindField("Account");
    const Field* ea = ds.FindField("EAID");
    const Field* first = ds.FindField("FirstOrderID");
    for (ds.First(); !ds.Eof(); ds.Next()) {
        LegSummary leg;
        leg.orderID = ds.FieldByName("OrderID").AsInteger();
        leg.orderType = ds.FieldByName("OrderType").IsNull() ? -1 : ds.FieldByName("OrderType").AsInteger();
        leg.status = ds.FieldByName("Status").IsNull() ? -1 : ds.FieldByName("Status").AsInteger();
        leg.eaID = !ea || ea->IsNull() ? -1 : ea->AsInteger();
        leg.ticket = !ticket || ticket->IsNull() ? std::string() : std::to_string(ticket->AsInteger());
        leg.account = IntegerText(account, "-1");
        leg.ea = IntegerText(ea, "-1");
        const int32_t key = first && !first->IsNull() ? first->AsInteger() : leg.orderID;
        auto& t = byKey[key];
        t.key = key;
        t.legs.push_back(leg);
    }

    CheckReport report;
    for (auto& [key, t] : byKey) {
        bool anyStarted = false, anyOpen = false, allOpenTold = true;
        for (const LegSummary& leg : t.legs) {
            if (leg.orderType != otBuy && leg.orderType != otSell) continue;
            if (leg.status != stToOpen) anyStarted = true;
            if (!IsOpen(leg.status)) continue;
            anyOpen = true;
            const std::string needle = "MANUAL CLOSE REQUIRED: OrderNo=" + leg.ticket +
                                       " - Account=" + leg.account + " - EA=" + leg.ea;
            const bool told = std::any_of(notes.begin(), notes.end(), [&](const std::string& line) {
                return line.size() >= needle.size() &&
                       line.compare(line.size() - needle.size(), needle.size(), needle) == 0;
            });
            if (!told) allOpenTold = false;
        }
        if (!anyStarted)
            t.end = TransactionEnd::Waiting, ++report.waiting;
        else if (!anyOpen)
            t.end = TransactionEnd::Ended, ++report.ended;
        else if (allOpenTold)
            t.end = TransactionEnd::Manual, ++report.manual;
        else
            t.end = TransactionEnd::HalfOpen, ++report.halfOpen;
        report.transactions.push_back(std::move(t));
    }
    return report;
}

std::string DescribeLegs(const TransactionSummary& t) {
    std::string s;
    for (const LegSummary& leg : t.legs) {
        if (!s.empty()) s += ", ";
        s += "OrderID " + std::to_string(leg.orderID) + " " + OrderTypeText(leg.orderType) + " " +
             (leg.status == stNoLeg ? std::string("no leg") : OrderStatusText(leg.status));
        if (leg.eaID >= 0) s += " EA " + std::to_string(leg.eaID);
        if (!leg.ticket.empty()) s += " ticket " + leg.ticket;
    }
    return s;
}

} // namespace quorvel::fleet
