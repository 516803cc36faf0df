#pragma once
// The files of a desk folder that the EA fleet plays against: a config.ini that lets the desk
// trade, an Orderlist.xml of waiting transactions over the fleet's EAs (with closed history
// legs if wanted), and the check of the order list the desk saved after a run.
#include <cstdint>
#include <string>
#include <vector>

#include "platform/linkcerts.h"

namespace quorvel::fleet {

// The open and close spreads of the prepared transactions, in price points, match the quotes
// the fleet plays: every EA quotes a spread of kQuoteSpreadPoints around its own offset, so a
// transaction opens when the offsets of two of its brokers lie 17 points apart and closes when
// they have come back to 8 points or less.
constexpr int kQuoteSpreadPoints = 2;
constexpr int kOpenSpreadPoints = -15;
constexpr int kCloseSpreadPoints = 10;

struct PrepareOptions {
    int eas = 20;          // EA IDs 1..eas
    int tables = 0;        // tables the EAs are dealt out over; 0: as few as they need
    int transactions = 20; // waiting transactions
    int history = 0;       // closed legs written before them
    uint64_t seed = 1;
    bool seqMode = false; // "SeqMode": the trend orders the legs, the later one waits for the other
    bool delMode = false; // "DelMode": the later leg waits "Del" milliseconds
    // "MaxAutoTrades": the credits "Reset AT" gives the desk's own automatic transactions,
    // which the table frames place with the fleet's spreads (0: none). With credits, "AlertLevel"
    // is set to a cross spread that opens a transaction of the order boxes at once.
    int autoTrades = 0;
};

// The number of tables the EAs need: ceil(eas / 10).
int TablesForEAs(int eas);

// The EA IDs the fleet plays, table by table: the EAs are dealt out over `tables` tables in
// turn (table t owns the EA IDs 10t+1 .. 10t+10), so EA k (0-based) gets table k mod tables.
// tables 0 or less means as few as the EAs need. Empty when the EAs do not fit (more than ten
// a table, more than 20 tables).
std::vector<std::vector<int32_t>> EAsByTable(int eas, int tables);

// The share of the fleet that one fleet process plays when several play one desk, one for
// each terminal machine: the EAs of the whole fleet (as EAsByTable deals them) whose IDs are
// in `ids`, table by table.
struct FleetShare {
    std::vector<int32_t> tables;               // the tables that hold EAs of the share
    std::vector<std::vector<int32_t>> byTable; // their EAs of the share, in the same order
    std::vector<int32_t> splitTables;          // tables whose other EAs are not in the share
    size_t Count() const;
};

// The share of `ids` in the fleet of `eas` EAs over `tables` tables. False, with the reason in
// `error`, when the fleet does not fit its tables, or `ids` names an EA ID that the fleet does
// not play.
bool ShareOfFleet(int eas, int tables, const EaIdRanges& ids, FleetShare& out, std::string& error);

// config.ini with "Standby" unticked, "Tables", "SeqMode" and "DelMode" as asked (both off by
// default), a roomy closing window, the order boxes of both groups set to the fleet's spreads
// and the fleet's EAs ticked on their frames, so that the desk's automatic transactions (after
// "Reset AT", when asked for) trade with the fleet too. Reals are written with the process's
// decimal separator (Locale()), which must be the one the desk reads. Throws on a write failure.
void WriteFleetConfig(const std::string& path, const PrepareOptions& o);

// Orderlist.xml: `history` closed legs (pairs of a transaction), then `transactions` waiting
// ones spread over the tables of the EAs, each with the brokers of its table that the fleet
// plays. Most are two-sided; every fifth is one-sided (buy or sell alone with its empty leg);
// every seventh has no forced auto close. Written with the order list's own packet writer.
void WriteFleetOrderList(const std::string& path, const PrepareOptions& o);

// One leg as the check reports it.
struct LegSummary {
    int32_t orderID = 0;
    int32_t orderType = -1;
    int32_t status = -1;
    int32_t eaID = -1;
    std::string ticket, account, ea; // as the notifications quote them
};

enum class TransactionEnd {
    Waiting,  // no real leg ever left "To Open"
    Ended,    // every real leg is Closed or Canceled (or waits again in To Open)
    Manual,   // each leg still open has its "MANUAL CLOSE REQUIRED" notification
    HalfOpen, // a leg is still open and nobody was told
};

struct TransactionSummary {
    int32_t key = 0; // the OrderID of its first leg
    std::vector<LegSummary> legs;
    TransactionEnd end = TransactionEnd::Waiting;
};

struct CheckReport {
    std::vector<TransactionSummary> transactions;
    int waiting = 0, ended = 0, manual = 0, halfOpen = 0;
};

// Groups the legs into transactions (a leg's FirstOrderID, or its own OrderID for the first
// leg) and decides how each one ended. A leg counts as open in "Pending" .. "To Close".
CheckReport CheckOrderList(const std::string& orderListPath, const std::string& notificationsPath);

// "Pending, Opened" and the like, for a printout.
std::string DescribeLegs(const TransactionSummary& t);

} // namespace quorvel::fleet
