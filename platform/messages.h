#pragma once
// The window message record the EAs send, and the numbers of every EA message the desk knows.
#include <cstdint>

namespace quorvel {

// One EA message. Result is 0 when the handler starts; what it holds at the end is the answer.
struct TMessage {
    int32_t Msg = 0;
    int32_t WParam = 0;
    int32_t LParam = 0;
    int32_t Result = 0;
};
static_assert(sizeof(TMessage) == 16);

constexpr int32_t WM_COPYDATA = 0x004A;
constexpr int32_t WM_APP = 0x8000;

// Every message number of the EA protocol, named after the desk's handler of it. A number
// named here without a handler of its own gets the default handling: the answer 0.
namespace EAMsg {
enum Number : int32_t {
    // quotes and the price store
    NewDataBid = WM_APP + 400,
    NewDataAsk = WM_APP + 401,
    Reserved402 = WM_APP + 402, // sent by some EAs; never had a handler
    NewDataAccount = WM_APP + 403,
    DataComplete = WM_APP + 404,
    NewDataCompanyName = WM_COPYDATA,
    // orders: hand-shake, closing, reports and failures
    OrderQuestion = WM_APP + 500,
    GetOrderType = WM_APP + 501,
    GetOrderLots = WM_APP + 502,
    OrderOpened = WM_APP + 503,
    OrderClosed = WM_APP + 504,
    OrderError = WM_APP + 505,
    OrderOpenPrice = WM_APP + 506,
    OrderCloseQuestions = WM_APP + 507,
    OrderClosePrice = WM_APP + 508,
    OrderProfitLoss = WM_APP + 509,
    GetOrderID = WM_APP + 510,
    RetryOrderExecution = WM_APP + 511,
    CancelOrder = WM_APP + 512,
    GetTriggerPrice = WM_APP + 513,
    ShowEAMessage = WM_APP + 514,
    ParamCounterCheckSeconds = WM_APP + 515,
    GetTriggerPriceClose = WM_APP + 516,
    // parameter questions answered from the settings bar
    GetEALoopTime = WM_APP + 600,
    GetEARequoteWaitMS = WM_APP + 601,
    GetEAMaxRequotes = WM_APP + 602,
    GetEASlippage = WM_APP + 603,
    GetEAMaxCounterCheckSeconds = WM_APP + 604,
};

// Whether a message's WParam names the EA that sends it (the quotes, the account, the
// character box, the order question and the counter-check seconds).
constexpr bool WParamNamesEA(int32_t msg) {
    switch (msg) {
    case NewDataBid:
    case NewDataAsk:
    case NewDataAccount:
    case DataComplete:
    case NewDataCompanyName:
    case OrderQuestion:
    case ParamCounterCheckSeconds:
        return true;
    default:
        return false;
    }
}
} // namespace EAMsg

} // namespace quorvel
