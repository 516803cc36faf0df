#pragma once
// The EAs' quote feed: bid, ask, account and the company name go into the price store; a
// complete quote stamps it, keeps the EA's lowest spread and sets the spreads, the tables and
// the opening trigger going. The EAs also ask here for their loop and execution parameters.
#include "desk/core/controls.h"
#include "desk/core/pricestore.h"
#include "desk/core/view.h"
#include "platform/messages.h"
#include "platform/timestamp.h"

namespace quorvel {

// What follows the quotes in the desk that owns the feed.
class IQuoteFollower {
public:
    virtual ~IQuoteFollower() = default;
    // EA id's quote is complete and valid: the cross spreads, the tables on screen and the
    // opening trigger follow it, in this order.
    virtual void QuoteCompleted(int id) = 0;
    // Quotes or minima were reset: every table is redrawn.
    virtual void QuotesReset() = 0;
};

// What the feed may touch: the price store, the parameter boxes, the view, the clock and the
// highest valid EA ID.
struct FeedContext {
    PriceStore& prices;
    const IDeskControls& controls;
    IDeskView& view;
    const IClock& clock;
    const int& maxIDs;
    IQuoteFollower& follower;
};

class PriceFeed {
public:
    explicit PriceFeed(FeedContext ctx) : m_ctx(ctx) {}

    void NewDataBid(TMessage& m);
    void NewDataAsk(TMessage& m);
    void NewDataAccount(TMessage& m);
    void DataComplete(TMessage& m);
    void NewDataCompanyName(TMessage& m);
    void ParamCounterCheckSeconds(TMessage& m);
    void GetEALoopTime(TMessage& m);
    void GetEARequoteWaitMS(TMessage& m);
    void GetEAMaxRequotes(TMessage& m);
    void GetEASlippage(TMessage& m);
    void GetEAMaxCounterCheckSeconds(TMessage& m);

    // The quotes and minima of EA IDs iIDStart..iIDEnd back to none ("Reset Tabs"), and the
    // minima alone; every table is redrawn.
    void ResetAll(int iIDStart, int iIDEnd);
    void ResetMin(int iIDStart, int iIDEnd);

    bool IsValidEAID(int id) const { return quorvel::IsValidEAID(id, m_ctx.maxIDs); }

private:
    FeedContext m_ctx;
};

} // namespace quorvel
