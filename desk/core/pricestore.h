#pragma once
// The per-EA quote store: latest quote, live spread and smallest spread of every EA slot,
// and its snapshot file Data.dat.
#include <array>
#include <cstdint>
#include <limits>
#include <string>
#include <string_view>

#include "platform/numbers.h"
#include "platform/timestamp.h"

namespace quorvel {

constexpr int kMaxEAs = 200;
constexpr int kMaxTables = 20;
constexpr int kEAsPerTable = 10;

// Whether an EA ID names one of the desk's EAs: 1 up to the highest valid ID (which "Tables"
// sets at start-up).
constexpr bool IsValidEAID(int id, int maxIDs) {
    return id >= 1 && id <= maxIDs;
}

constexpr int64_t kNoPoints = -10000; // no price, spread or minimum
constexpr TDateTime kNoTime = -1.0;   // never quoted
constexpr int32_t kNoAccount = -1;

// Prices and points: the EAs send a price as a whole number of points, one point being
// 0.00001 of the price, and the order list keeps prices as they are.
constexpr double kPointsPerPrice = 100000.0;
template <class Points> constexpr double PriceOfPoints(Points points) {
    return static_cast<double>(points) / kPointsPerPrice;
}
// The price in points, not rounded.
constexpr double PointsOfPrice(double price) {
    return price * kPointsPerPrice;
}
// The price on the grid of one point, a half point going to the even neighbour.
inline double OnPointGrid(double price) {
    return RoundHalfEven(PointsOfPrice(price)) / kPointsPerPrice;
}

// Size of Data.dat: nine arrays of 200 entries.
constexpr size_t kDataDatSize = 800 + 8 * 1600;

template <class T> using EAArray = std::array<T, kMaxEAs + 1>; // indexed by EA ID 1..200; [0] unused

// One reading of both of the clock's readings, taken together: the local time and the
// monotonic reading (IClock::Monotonic).
struct ClockReading {
    TDateTime local;
    TDateTime monotonic;
};
inline ClockReading ReadClock(const IClock& clock) {
    return {clock.Now(), clock.Monotonic()};
}

struct PriceStore {
    EAArray<int32_t> Accounts{};
    EAArray<TDateTime> Time{};
    EAArray<int64_t> Bid{};
    EAArray<int64_t> Ask{};
    EAArray<int64_t> Spread{};
    EAArray<TDateTime> TimeMin{};
    EAArray<int64_t> Min{};
    EAArray<int64_t> MinAsk{};
    EAArray<int64_t> MinBid{};
    EAArray<int32_t> aiParamCounterCheckSeconds{};

    // When this desk received each EA's quote, as a monotonic reading, and the local time it
    // stamped in Time then. The reading speaks for the quote only while Time still holds that
    // stamp: a time loaded from Data.dat, or set otherwise, is aged by the local time. Memory
    // only, never saved.
    EAArray<TDateTime> TimeReceived{};
    EAArray<TDateTime> TimeStamped = NoStamps();

    // Stamps EA id's quote as received now: Time gets the local time.
    void StampQuote(int id, const ClockReading& now) {
        Time[id] = now.local;
        TimeReceived[id] = now.monotonic;
        TimeStamped[id] = now.local;
    }
    // The age of EA id's quote at `now`, in days: on the monotonic clock for a quote this desk
    // received, so that a step of the local time neither ages nor refreshes it; otherwise
    // by its local time.
    TDateTime QuoteAge(int id, const ClockReading& now) const {
        return Time[id] == TimeStamped[id] ? now.monotonic - TimeReceived[id] : now.local - Time[id];
    }

    // The no-value markers for an inclusive EA ID range (clipped to 1..200): account, time,
    // quote and spread; the minimum and its quote.
    void ResetQuotes(int iIDStart, int iIDEnd);
    void ResetMin(int iIDStart, int iIDEnd);

    // Data.dat layout: Accounts, Spread, Time, Bid, Ask, Min, TimeMin, MinBid, MinAsk, each
    // for EA IDs 1..200, little-endian, no header.
    std::string Serialize() const;
    // Fills the arrays in file order as far as the bytes reach; the rest keeps its value.
    // Bytes beyond the layout are ignored.
    void Deserialize(std::string_view bytes);

private:
    static EAArray<TDateTime> NoStamps() {
        EAArray<TDateTime> a;
        a.fill(std::numeric_limits<TDateTime>::quiet_NaN()); // equal to no time
        return a;
    }
};

} // namespace quorvel
