#include "desk/core/pricefeed.h"

#include <cstdint>
#include <string>

namespace quorvel {

void PriceFeed::NewDataBid(TMessage& m) {
    if (IsValidEAID(m.WParam)) m_ctx.prices.Bid[m.WParam] = m.LParam;
    m.Result = 2;
}

void PriceFeed::NewDataAsk(TMessage& m) {
    if (IsValidEAID(m.WParam)) m_ctx.prices.Ask[m.WParam] = m.LParam;
    m.Result = 1;
}

void PriceFeed::NewDataAccount(TMessage& m) {
    if (IsValidEAID(m.WParam)) m_ctx.prices.Accounts[m.WParam] = m.LParam;
    m.Result = 4;
}

void PriceFeed::ParamCounterCheckSeconds(TMessage& m) {
    if (IsValidEAID(m.WParam)) m_ctx.prices.aiParamCounterCheckSeconds[m.WParam] = m.LParam;
    m.Result = 0;
}

void PriceFeed::DataComplete(TMessage& m) {
    const int id = m.WParam;
    if (!IsValidEAID(id)) {
        m.Result = 5;
        return;
    }
    PriceStore& p = m_ctx.prices;
    p.StampQuote(id, ReadClock(m_ctx.clock));
    if (p.Ask[id] <= 0 || p.Bid[id] <= 0) {
        m.Result = 5;
        return;
    }
    p.Spread[id] = p.Ask[id] - p.Bid[id];
    if (p.Min[id] < 0 || p.Spread[id] <= p.Min[id]) {
        p.Min[id] = p.Spread[id];
        p.MinAsk[id] = p.Ask[id];
        p.MinBid[id] = p.Bid[id];
        p.TimeMin[id] = p.Time[id];
    }
    m_ctx.follower.QuoteCompleted(id);
    m.Result = 5;
}

void PriceFeed::NewDataCompanyName(TMessage& m) {
    if (IsValidEAID(m.WParam)) {
        // The link carries the structure's first field (dwData) itself in LParam.
        const char16_t ch = static_cast<char16_t>(static_cast<uint32_t>(m.LParam) & 0xFFFFu);
        m_ctx.view.ShowMessageBox(std::u16string(1, ch));
    }
    m.Result = 6;
}

void PriceFeed::GetEALoopTime(TMessage& m) {
    m.Result = m_ctx.controls.SpinValue(Ctl::seLoopTime);
}
void PriceFeed::GetEARequoteWaitMS(TMessage& m) {
    m.Result = 0;
}
void PriceFeed::GetEAMaxRequotes(TMessage& m) {
    m.Result = m_ctx.controls.SpinValue(Ctl::seRequoteAnzahl);
}
void PriceFeed::GetEASlippage(TMessage& m) {
    m.Result = m_ctx.controls.SpinValue(Ctl::seSlippage);
}
void PriceFeed::GetEAMaxCounterCheckSeconds(TMessage& m) {
    m.Result = m_ctx.controls.SpinValue(Ctl::seMaxCounterCheck);
}

void PriceFeed::ResetAll(int iIDStart, int iIDEnd) {
    m_ctx.prices.ResetQuotes(iIDStart, iIDEnd);
    ResetMin(iIDStart, iIDEnd);
    m_ctx.follower.QuotesReset();
}

void PriceFeed::ResetMin(int iIDStart, int iIDEnd) {
    m_ctx.prices.ResetMin(iIDStart, iIDEnd);
    m_ctx.follower.QuotesReset();
}

} // namespace quorvel
