#pragma once
// The order engine's shared ground: its own state (per-pair stamps and closing windows), the
// narrow references every part of the engine works through, and the helpers the opening and
// the closing share.
#include <cstdint>
#include <memory>

#include "desk/core/controls.h"
#include "desk/core/crossspreads.h"
#include "desk/core/orderlist.h"
#include "desk/core/pricestore.h"
#include "desk/core/view.h"
#include "platform/timestamp.h"

namespace quorvel {

// A value for every ordered EA pair, indexed [i][j] by EA ID 1..200; zero at creation.
template <class T> class PairArray {
public:
    PairArray() : m_cells(std::make_unique<T[]>(kN * kN)) {}
    T* operator[](int i) { return m_cells.get() + static_cast<size_t>(i) * kN; }
    const T* operator[](int i) const { return m_cells.get() + static_cast<size_t>(i) * kN; }
    void Fill(T v) {
        for (size_t k = 0; k < kN * kN; ++k) m_cells[k] = v;
    }

private:
    static constexpr size_t kN = kMaxEAs + 1;
    std::unique_ptr<T[]> m_cells;
};
// A time stamp for every ordered EA pair.
using PairTimes = PairArray<TDateTime>;

// State that belongs to the engine alone; kept in memory only, never saved.
struct EngineState {
    // Last trigger of the pair [sell EA][buy EA]; 0.0 for a pair that never triggered.
    PairTimes adtLastTrade;
    // The closing window of the pair [buy-leg EA][sell-leg EA]: its end, and the close
    // triggers counted within it.
    PairTimes adtTradeCloseLimitUntil;
    PairArray<int32_t> aiTradesClosedWithinLimit;
};

// What a part of the engine may touch: the order book, the quotes, its own state, the
// controls, the view and the clock - never the whole desk.
struct EngineContext {
    OrderBook& orders;
    const PriceStore& prices;
    EngineState& state;
    IDeskControls& controls;
    IDeskView& view;
    const IClock& clock;
    const QuoteLimits& limits; // connection timeout
    const int& maxIDs;         // highest valid EA ID

    // True when 1 <= id <= the highest valid EA ID.
    bool IsValidEAID(int id) const { return id >= 1 && id <= maxIDs; }
    // Price trend from the older to the newer quote of two EAs: +1 rising, -1 falling, 0 neutral
    // (also when their quote times lie further apart than the connection timeout).
    int GetTrend(int first, int second) const;
    // Now plus the "Del" milliseconds.
    TDateTime GetDelayPos2Time() const;
};

} // namespace quorvel
