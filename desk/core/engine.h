#pragma once
// The order engine's shared ground: the state its parts share (the legs it handed out, when
// each EA last spoke, the stamps of the legs' times), the narrow references every part of the
// engine works through, and the helpers the opening and the closing share.
#include <array>
#include <cstdint>
#include <memory>
#include <unordered_map>

#include "desk/core/controls.h"
#include "desk/core/crossspreads.h"
#include "desk/core/orderlist.h"
#include "desk/core/pricestore.h"
#include "desk/core/view.h"
#include "platform/messages.h"
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

// The time stamps the engine put in one field of the legs (by OrderID), each with the
// monotonic reading that belongs to it. A stamp speaks for the field only while the field
// still holds its local time: a field edited since, or loaded at start-up, is read by its
// local time, as it is stored and shown.
struct LegStamp {
    TDateTime local;
    TDateTime monotonic;
};
using LegStamps = std::unordered_map<int32_t, LegStamp>;

// State that belongs to the engine alone and that more than one of its parts reads or
// writes; kept in memory only, never saved. What one part alone keeps, it holds itself.
struct EngineState {
    // The legs WM_APP+500 handed out since the start, by OrderID: the EA that holds the leg
    // now, the EA that held it before (0: none), and whether a ticket came in since it
    // changed hands.
    struct HandOut {
        int32_t ea = 0;
        int32_t earlier = 0;
        bool reported = false;
    };
    std::unordered_map<int32_t, HandOut> handedOut;
    // When each EA last sent a message (a monotonic reading); 0.0 for one never heard.
    std::array<TDateTime, kMaxEAs + 1> lastHeard{};
    // The stamps of the legs' OpenDelayUntil, CloseDelayUntil, PendingTime and OrderCloseTime.
    LegStamps openDelays;
    LegStamps closeDelays;
    LegStamps pendingTimes;
    LegStamps closeTimes;
};

// What a part of the engine may touch: the order list, the quotes, its own state, the
// controls, the view and the clock - never the whole desk.
struct EngineContext {
    OrderList& orders;
    const PriceStore& prices;
    EngineState& state;
    IDeskControls& controls;
    IDeskView& view;
    const IClock& clock;
    const QuoteLimits& limits; // connection timeout
    const int& maxIDs;         // highest valid EA ID

    // True when 1 <= id <= the highest valid EA ID.
    bool IsValidEAID(int id) const { return quorvel::IsValidEAID(id, maxIDs); }
    // Price trend from the older to the newer quote of two EAs: +1 rising, -1 falling, 0 neutral
    // (also when their quote times lie further apart than the connection timeout).
    int GetTrend(int first, int second) const;
    // Now plus the "Del" milliseconds.
    TDateTime GetDelayPos2Time() const;
    // The monotonic reading that belongs to a local time read just now.
    TDateTime MonotonicAt(TDateTime now) const { return now + (clock.Monotonic() - clock.Now()); }
    // Notes that the leg's field was just given `local`, a local time read relative to now.
    void NoteStamp(LegStamps& stamps, int32_t orderID, TDateTime local) const {
        stamps[orderID] = {local, MonotonicAt(local)};
    }
    // The stamp noted for the leg while its field (holding `field`) still holds it; null
    // otherwise.
    static const LegStamp* StampOf(const LegStamps& stamps, int32_t orderID, TDateTime field) {
        const auto it = stamps.find(orderID);
        return it != stamps.end() && it->second.local == field ? &it->second : nullptr;
    }
    // Whether the time in the leg's field (`until`; the zero date for a null) has come: on the
    // monotonic clock when the engine stamped it, else by the local time.
    bool HasCome(const LegStamps& stamps, int32_t orderID, TDateTime until) const {
        const LegStamp* s = StampOf(stamps, orderID, until);
        return s ? clock.Monotonic() >= s->monotonic : clock.Now() >= until;
    }

    // Notes which EA a message comes from: the EA it names, or for a message about a leg the
    // EA that leg was handed to. Messages of no known EA are passed over.
    void NoteSender(const TMessage& m);
    // Notes that WM_APP+500 handed the leg to `ea`.
    void NoteHandOut(int32_t orderID, int ea);
    bool WasHandedOut(int32_t orderID) const { return state.handedOut.count(orderID) != 0; }
    // Whether the minute sweep may give a Pending leg back to "To Open": one never handed
    // out, or one whose EA has sent nothing for more than 60 seconds (it is gone). An EA that
    // still talks may still be executing the leg.
    bool MayReturnToOpen(int32_t orderID) const;
};

} // namespace quorvel
