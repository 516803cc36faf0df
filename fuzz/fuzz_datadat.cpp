// Data.dat: any file in its place loads through the desk's start path, the tables and the
// cross spreads are drawn from what it holds, quotes are taken on top of it, and what the desk
// then saves loads back equal.
#include <cmath>
#include <string>

#include "fuzz/support.h"
#include "fuzz/targets.h"
#include "platform/files.h"
#include "tests/support/deskmessages.h"

namespace quorvel::fuzz {

namespace {

struct DataDatRig {
    Scratch scratch{"datadat"};
    DeskRig rig{scratch, 20};
};

// A time the system clock can give: from 1900 to 9999.
bool PlausibleTime(double t) {
    return std::isfinite(t) && t >= 0.0 && t < 2958466.0;
}

} // namespace

int FuzzDataDat(const uint8_t* data, size_t size) {
    static DataDatRig* r = new DataDatRig; // lives to the end of the process
    DeskRig& rig = r->rig;
    Desk& desk = *rig.desk;
    ResetDeskState(rig, kMaxTables);
    r->scratch.Clear("config.ini");
    const std::string file(reinterpret_cast<const char*>(data), size);
    r->scratch.Write("Data.dat", file);

    // The start: the snapshot over a fresh store, then every table drawn.
    // (The cross spreads the start resets after it are reset already.)
    desk.prices = PriceStore{};
    if (desk.files.LoadPriceSnapshot())
        desk.UpdateTables(-1);
    else
        desk.feed.ResetAll(1, kMaxEAs);

    // Quotes on top: per table, one EA completes what the file left it, one quotes afresh, at
    // a time the file names where it names a plausible one.
    for (int t = 0; t < kMaxTables; ++t) {
        const int first = kEAsPerTable * t + 1;
        const int loaded = first + (size > static_cast<size_t>(t) ? data[t] % kEAsPerTable : 0);
        const int fresh = first + (loaded - first + 1) % kEAsPerTable;
        const TDateTime when = desk.prices.Time[loaded];
        rig.clock.Set(PlausibleTime(when) ? when : 45000.25);
        test::SendTo(desk, EAMsg::DataComplete, loaded);
        test::QuoteTo(desk, fresh, 110000 + t, 110015 + 2 * t);
    }
    rig.controls.activePage = size > kMaxTables ? data[kMaxTables] % kMaxTables : 0;
    desk.PageControl1Change();
    rig.controls.watchActive = true;
    desk.UpdateWatchGrid();
    rig.controls.watchActive = false;
    rig.controls.activePage = 21;
    Check(rig.view.stopBoxes.empty(), "an error escaped a handler");

    // Save and load back.
    const std::string held = desk.prices.Serialize();
    Check(held.size() == kDataDatSize, "the snapshot has another size");
    desk.files.SavePriceSnapshot();
    const auto saved = ReadWholeFile(r->scratch.File("Data.dat"));
    Check(saved && *saved == held, "the saved snapshot differs from the store");
    desk.prices = PriceStore{};
    Check(desk.files.LoadPriceSnapshot(), "the saved snapshot does not load");
    Check(desk.prices.Serialize() == held, "the saved snapshot loads back otherwise");
    return 0;
}

} // namespace quorvel::fuzz
