// Helpers shared by the opening and the closing of transactions.
#include "desk/core/engine.h"

#include <cmath>

namespace quorvel {

int EngineContext::GetTrend(int first, int second) const {
    // Both IDs index the quote arrays: an ID outside them has no quote and no trend.
    if (first < 1 || first > kMaxEAs || second < 1 || second > kMaxEAs) return 0;
    const PriceStore& p = prices;
    const bool firstNewer = p.Time[first] > p.Time[second];
    const int newer = firstNewer ? first : second;
    const int older = firstNewer ? second : first;
    if (std::fabs(p.Time[first] - p.Time[second]) > limits.CONNECTION_TIMEOUT) return 0;
    const double x =
        ((static_cast<double>(p.Ask[newer]) / 100000.0 - static_cast<double>(p.Ask[older]) / 100000.0) +
         (static_cast<double>(p.Bid[newer]) / 100000.0 - static_cast<double>(p.Bid[older]) / 100000.0)) /
        2.0;
    const double tol =
        controls.RealValue(Ctl::rePRIDynamic) * (static_cast<double>(p.Bid[newer]) / 100000.0) / 100.0;
    if (x > tol) return 1;
    if (-tol > x) return -1;
    return 0;
}

TDateTime EngineContext::GetDelayPos2Time() const {
    return clock.Now() + static_cast<double>(controls.SpinValue(Ctl::seDelayPos2)) / 86400000.0;
}

} // namespace quorvel
