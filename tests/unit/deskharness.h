#pragma once
// One desk core for the unit tests: fake controls and view, a settable clock, its state files
// in a temporary directory, and EA messages handed straight to it.
#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <string>

#include "desk/core/desk.h"
#include "tests/support/deskmessages.h"
#include "tests/support/fakes.h"
#include "tests/support/legs.h"
#include "tests/support/tempdir.h"
#include "tests/support/testpaths.h"

namespace quorvel::test {

struct DeskHarness : ::testing::Test {
    TempDir dir;
    FakeControls controls;
    FakeView view;
    ManualClock clock{45000.25};
    std::unique_ptr<Desk> desk;

    DeskPaths Paths() const { return PathsIn(dir); }

    // A config.ini whose [Defaults] names the tables and, when given, the timeout in seconds.
    void WriteConfig(int tables, int timeoutSeconds = -1) const {
        std::ofstream out(Paths().configIni, std::ios::binary);
        out << "[Defaults]\r\nTables=" << tables << "\r\n";
        if (timeoutSeconds >= 0) out << "Timeout=" << timeoutSeconds << "\r\n";
    }
    // A desk (or a desk of a derived kind) over the harness's controls, view, clock and files.
    template <class D = Desk> D& Make() {
        auto d = std::make_unique<D>(controls, view, clock, Paths());
        D& ref = *d;
        desk = std::move(d);
        return ref;
    }
    // The same, through the creation sequence, with `tables` tables in config.ini.
    template <class D = Desk> D& Create(int tables = 1, int timeoutSeconds = -1) {
        WriteConfig(tables, timeoutSeconds);
        D& d = Make<D>();
        d.FormCreate();
        return d;
    }

    // The engine cursor and edits of single legs through it, as the order logic makes them.
    ClientDataSet& List() { return desk->orders.m_CDSOrderliste; }
    void SetField(int32_t id, const std::string& field, const Variant& v) {
        ClientDataSet& d = List();
        ASSERT_TRUE(d.Locate("OrderID", Variant(id)));
        d.Edit();
        d.FieldByName(field).SetValue(v);
        d.Post();
    }
    Variant Get(int32_t id, const std::string& field) { return List().Lookup("OrderID", Variant(id), field); }
    int32_t Status(int32_t id) { return Get(id, "Status").AsInteger(); }
    // Appends one leg through the engine cursor; returns its OrderID.
    int32_t AddLeg(const Leg& leg) { return AppendLeg(List(), leg); }
    // An EA's stored quote, stamped now unless a time is given.
    void SetQuote(int id, int64_t bid, int64_t ask, TDateTime time = -2.0) {
        desk->prices.Bid[id] = bid;
        desk->prices.Ask[id] = ask;
        desk->prices.Time[id] = time == -2.0 ? clock.Now() : time;
    }

    int32_t Send(int32_t msg, int32_t wp, int32_t lp = 0) { return SendTo(*desk, msg, wp, lp); }
    void Quote(int id, int32_t bid, int32_t ask) { QuoteTo(*desk, id, bid, ask); }
};

} // namespace quorvel::test
