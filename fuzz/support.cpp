#include "fuzz/support.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>

namespace quorvel::fuzz {

namespace fs = std::filesystem;

void Check(bool ok, const char* what) {
    if (ok) return;
    std::fprintf(stderr, "fuzz check failed: %s\n", what);
    std::abort();
}

namespace {

// The process's root scratch folder; removed by the static destructor at exit.
struct ScratchRoot {
    std::string path;
    ScratchRoot() {
        std::string tmpl = (fs::temp_directory_path() / "quorvel-fuzz-XXXXXX").string();
        Check(mkdtemp(tmpl.data()) != nullptr, "cannot create the scratch folder");
        path = tmpl;
    }
    ~ScratchRoot() {
        std::error_code ec;
        fs::remove_all(path, ec);
    }
};

const std::string& Root() {
    static ScratchRoot root;
    return root.path;
}

} // namespace

Scratch::Scratch(const std::string& area) : m_dir(Root() + "/" + area) {
    std::error_code ec;
    fs::create_directories(m_dir, ec);
    Check(!ec, "cannot create a scratch area");
}

void Scratch::Clear(std::string_view keep) const {
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(m_dir, ec)) {
        if (!keep.empty() && e.path().filename() == keep) continue;
        fs::remove_all(e.path(), ec);
    }
}

void Scratch::Write(const std::string& name, std::string_view bytes) const {
    std::ofstream out(File(name), std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.close();
    Check(static_cast<bool>(out), "cannot write a scratch file");
}

// ---- the checking view --------------------------------------------------------------------

void CheckingView::SetGridCell(Grid g, int t, int col, int row, std::string_view) {
    Check(g == Grid::Watch || (t >= 0 && t < kMaxTables), "grid write names no table");
    const FakeGrid& grid = GridOf(g, g == Grid::Watch ? 0 : t);
    if (col < 0 || col >= grid.cols || row < 0 || row >= grid.rows)
        std::fprintf(stderr, "grid %d of table %d is %d x %d; write at column %d, row %d\n",
                     static_cast<int>(g), t, grid.cols, grid.rows, col, row);
    Check(col >= 0 && col < grid.cols && row >= 0 && row < grid.rows, "grid write outside the grid");
}

void CheckingView::SetFrameLabel(int t, FrameLabel l, std::string_view) {
    Check(t >= 0 && t < kMaxTables, "label write names no table");
    Check(static_cast<int>(l) >= 0 && static_cast<int>(l) < 3, "unknown label");
}

void CheckingView::SetGridRowCount(Grid g, int t, int rows) {
    Check(g == Grid::Watch || (t >= 0 && t < kMaxTables), "grid size names no table");
    Check(rows >= 0, "negative row count");
    FakeView::SetGridRowCount(g, g == Grid::Watch ? 0 : t, rows);
}

void CheckingView::SetGridColCount(Grid g, int t, int cols) {
    Check(g == Grid::Watch || (t >= 0 && t < kMaxTables), "grid size names no table");
    Check(cols >= 0, "negative column count");
    FakeView::SetGridColCount(g, g == Grid::Watch ? 0 : t, cols);
}

void CheckingView::SetGridColWidth(Grid g, int t, int col, int) {
    Check(g == Grid::Watch || (t >= 0 && t < kMaxTables), "grid width names no table");
    const FakeGrid& grid = GridOf(g, g == Grid::Watch ? 0 : t);
    Check(col >= 0 && col < grid.cols, "column width outside the grid");
}

void CheckingView::Reset() {
    stopBoxes.clear();
    messageBoxes.clear();
    notifications.clear();
    terminated = false;
    beeps = 0;
    // The grids as laid out, before the desk sizes them.
    const FakeView laidOut;
    quote = laidOut.quote;
    pair = laidOut.pair;
    watch = laidOut.watch;
}

// ---- the desk -----------------------------------------------------------------------------

DeskRig::DeskRig(const Scratch& scratch, int tables) {
    DeskPaths p;
    p.configIni = scratch.File("config.ini");
    p.dataDat = scratch.File("Data.dat");
    p.orderList = scratch.File("Orderlist.xml");
    p.notifications = scratch.File("Notifications.txt");
    scratch.Clear();
    scratch.Write("config.ini", "[Defaults]\r\nTables=" + std::to_string(tables) + "\r\n");
    desk = std::make_unique<Desk>(controls, view, clock, p);
    desk->FormCreate();
    Check(view.stopBoxes.empty() && view.messageBoxes.empty(), "the desk did not start cleanly");
    for (int t = 0; t < kMaxTables; ++t)
        for (int k = 0; k < controls.BrokerCount(t); ++k) controls.SetBrokerChecked(t, k, true);
}

void ResetDeskState(DeskRig& rig, int tables) {
    Desk& d = *rig.desk;
    // What a start leaves, copied rather than recomputed: the pair minima alone are 40,000
    // entries, and the targets are to run millions of inputs.
    static const PriceStore startPrices = [] {
        PriceStore p;
        p.ResetQuotes(1, kMaxEAs);
        p.ResetMin(1, kMaxEAs);
        return p;
    }();
    static const std::array<int64_t, kMaxEAs> noMinima = [] {
        std::array<int64_t, kMaxEAs> row;
        row.fill(kNoPairMin);
        return row;
    }();
    d.settings.m_iAnzahlTabellen = tables;
    d.settings.maxIDs = tables * kEAsPerTable;
    rig.clock.Set(45000.25);
    rig.view.Reset();
    rig.controls.watchActive = false;
    rig.controls.activePage = 21;
    for (int t = 0; t < kMaxTables; ++t) d.InitTableGrids(t, kEAsPerTable * t + 1);
    d.prices = startPrices;
    for (int i = 1; i <= kMaxEAs; ++i)
        std::memcpy(&d.spreads.acMinSpread[i][1], noMinima.data(), sizeof noMinima);
    d.spreads.CSActiv.fill(false);
    d.spreads.CrossSpread.fill(0);
    d.spreads.CSMin.fill(kNoTableMin);
    d.spreads.CSGegenwert.fill(0);
    d.spreads.CSGegenwertMin.fill(kNoTableMin);
    d.spreads.adtLastAlert = {};
    d.spreads.adtLastAutoTrade = {};
    // The trigger stamps of the EA pairs, all 0 as at creation.
    d.trigger.ClearLastTrades();
    d.PageControl1Change(); // every grid drawn afresh, the Watch grid at its next showing
    d.orders.CloseOrderList();
    d.orders.OpenOrderList();
    Check(d.orders.m_bOrderListLoaded, "the empty order list did not open");
}

} // namespace quorvel::fuzz
