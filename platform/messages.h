#pragma once
// The window message record the EAs send, and the list of every EA message the desk knows.
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <optional>
#include <string_view>

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

// The part of the desk whose handler answers a message.
enum class MsgOwner : uint8_t {
    None,             // no handler: the default handling answers 0
    PriceFeed,        // the quotes, the account, the character box and the EAs' parameters
    OpeningHandshake, // the questions and reports that open a leg
    Closing,          // the close question and the close trigger
    CloseReports,     // a closed leg's time, price and profit
    Failures,         // a failed leg, a cancel and the EA's counter-order notices
};

namespace EAMsg {

// The answer of a message that depends on the desk's state.
inline constexpr std::nullopt_t kVaries = std::nullopt;

// Every message of the EA protocol, once: the name of the desk's handler of it, its number,
// the part that owns the handler, whether the WParam names the EA that sends it, and the
// answer when it never varies. Everything else about the protocol is read from this list.
// clang-format off
#define QUORVEL_EA_MESSAGES(X)                                                                   \
    /* quotes and the price store */                                                             \
    X(NewDataBid,                  WM_APP + 400, PriceFeed,        true,  2)                     \
    X(NewDataAsk,                  WM_APP + 401, PriceFeed,        true,  1)                     \
    /* sent by some EAs; never had a handler */                                                  \
    X(Reserved402,                 WM_APP + 402, None,             false, 0)                     \
    X(NewDataAccount,              WM_APP + 403, PriceFeed,        true,  4)                     \
    X(DataComplete,                WM_APP + 404, PriceFeed,        true,  5)                     \
    X(NewDataCompanyName,          WM_COPYDATA,  PriceFeed,        true,  6)                     \
    /* orders: hand-shake, closing, reports and failures */                                      \
    X(OrderQuestion,               WM_APP + 500, OpeningHandshake, true,  kVaries)               \
    X(GetOrderType,                WM_APP + 501, OpeningHandshake, false, kVaries)               \
    X(GetOrderLots,                WM_APP + 502, OpeningHandshake, false, kVaries)               \
    X(OrderOpened,                 WM_APP + 503, OpeningHandshake, false, 0)                     \
    X(OrderClosed,                 WM_APP + 504, CloseReports,     false, 0)                     \
    X(OrderError,                  WM_APP + 505, OpeningHandshake, false, 0)                     \
    X(OrderOpenPrice,              WM_APP + 506, OpeningHandshake, false, 0)                     \
    X(OrderCloseQuestions,         WM_APP + 507, Closing,          false, kVaries)               \
    X(OrderClosePrice,             WM_APP + 508, CloseReports,     false, 0)                     \
    X(OrderProfitLoss,             WM_APP + 509, CloseReports,     false, 0)                     \
    X(GetOrderID,                  WM_APP + 510, OpeningHandshake, false, kVaries)               \
    X(RetryOrderExecution,         WM_APP + 511, Failures,         false, kVaries)               \
    X(CancelOrder,                 WM_APP + 512, Failures,         false, 0)                     \
    X(GetTriggerPrice,             WM_APP + 513, OpeningHandshake, false, kVaries)               \
    X(ShowEAMessage,               WM_APP + 514, Failures,         false, 0)                     \
    X(ParamCounterCheckSeconds,    WM_APP + 515, PriceFeed,        true,  0)                     \
    X(GetTriggerPriceClose,        WM_APP + 516, Closing,          false, kVaries)               \
    /* parameter questions answered from the settings bar */                                     \
    X(GetEALoopTime,               WM_APP + 600, PriceFeed,        false, kVaries)               \
    X(GetEARequoteWaitMS,          WM_APP + 601, PriceFeed,        false, 0)                     \
    X(GetEAMaxRequotes,            WM_APP + 602, PriceFeed,        false, kVaries)               \
    X(GetEASlippage,               WM_APP + 603, PriceFeed,        false, kVaries)               \
    X(GetEAMaxCounterCheckSeconds, WM_APP + 604, PriceFeed,        false, kVaries)
// clang-format on

// The messages by name: EAMsg::OrderQuestion is WM_APP + 500.
#define QUORVEL_EA_MESSAGE_NUMBER(name, number, owner, namesEA, answer) name = number,
enum Number : int32_t { QUORVEL_EA_MESSAGES(QUORVEL_EA_MESSAGE_NUMBER) };
#undef QUORVEL_EA_MESSAGE_NUMBER

// One line of the list.
struct Message {
    Number number;
    std::string_view name; // the handler's
    MsgOwner owner;
    bool wparamNamesEA;
    std::optional<int32_t> answer; // none: it varies
};

#define QUORVEL_EA_MESSAGE_LINE(name, number, owner, namesEA, answer)                                        \
    Message{name, #name, MsgOwner::owner, namesEA, answer},
inline constexpr Message kProtocol[] = {QUORVEL_EA_MESSAGES(QUORVEL_EA_MESSAGE_LINE)};
#undef QUORVEL_EA_MESSAGE_LINE

// Whether a message's WParam names the EA that sends it (the quotes, the account, the
// character box, the order question and the counter-check seconds). A switch, as the link
// asks it of every message.
#define QUORVEL_EA_MESSAGE_CASE(name, number, owner, namesEA, answer)                                        \
    case name:                                                                                               \
        return namesEA;
constexpr bool WParamNamesEA(int32_t msg) {
    switch (msg) {
        QUORVEL_EA_MESSAGES(QUORVEL_EA_MESSAGE_CASE)
    default:
        return false;
    }
}
#undef QUORVEL_EA_MESSAGE_CASE

} // namespace EAMsg

// The place of a message number in the list; -1 for a number the protocol does not have.
// (Indices rather than pointers: the sanitizers' null checks are no constant expressions.)
constexpr int MessageIndex(int32_t msg) {
    for (size_t i = 0; i < std::size(EAMsg::kProtocol); ++i)
        if (EAMsg::kProtocol[i].number == msg) return static_cast<int>(i);
    return -1;
}

// The list's line of a message number; null for a number the protocol does not have.
inline const EAMsg::Message* FindMessage(int32_t msg) {
    const int i = MessageIndex(msg);
    return i < 0 ? nullptr : &EAMsg::kProtocol[i];
}

// The handler's name of a message number ("OrderQuestion"); empty for an unknown number.
constexpr std::string_view MessageName(int32_t msg) {
    const int i = MessageIndex(msg);
    return i < 0 ? std::string_view() : EAMsg::kProtocol[i].name;
}

// The answer a message always gets; none when it varies or the number is unknown.
constexpr std::optional<int32_t> FixedAnswer(int32_t msg) {
    const int i = MessageIndex(msg);
    return i < 0 ? std::nullopt : EAMsg::kProtocol[i].answer;
}

// A message of the list by its handler's name ("OrderQuestion") or by its number as the
// protocol writes it ("WM_APP+500", "WM_COPYDATA"); none for any other text.
constexpr std::optional<int32_t> MessageByName(std::string_view text) {
    for (const EAMsg::Message& m : EAMsg::kProtocol)
        if (text == m.name) return m.number;
    if (text == "WM_COPYDATA") return WM_COPYDATA;
    constexpr std::string_view app = "WM_APP+";
    if (text.substr(0, app.size()) != app) return std::nullopt;
    const std::string_view digits = text.substr(app.size());
    if (digits.empty() || digits.size() > 4 || digits[0] == '0') return std::nullopt;
    int32_t offset = 0;
    for (const char c : digits) {
        if (c < '0' || c > '9') return std::nullopt;
        offset = offset * 10 + (c - '0');
    }
    if (MessageIndex(WM_APP + offset) < 0) return std::nullopt;
    return WM_APP + offset;
}

} // namespace quorvel
