#pragma once
// The opening hand-shake: an EA collects its Pending leg, asks for its direction, lots and
// trigger price, and reports the ticket and the fill price (or an error); once both fills of a
// transaction are in, the achieved open spread is stored on both legs and they wait for their
// close condition.
#include <cstdint>
#include <unordered_set>

#include "desk/core/engine.h"
#include "platform/messages.h"

namespace quorvel {

class OpeningHandshake {
public:
    explicit OpeningHandshake(EngineContext ctx);
    ~OpeningHandshake();
    OpeningHandshake(const OpeningHandshake&) = delete;
    OpeningHandshake& operator=(const OpeningHandshake&) = delete;

    // The answer to an order question when the EA has no leg to execute now.
    static constexpr int32_t kNoOrder = -1;

    void OrderQuestion(TMessage& m);   // WM_APP+500: the OrderID to execute now, kNoOrder for none
    void GetOrderType(TMessage& m);    // WM_APP+501
    void GetOrderLots(TMessage& m);    // WM_APP+502
    void OrderOpened(TMessage& m);     // WM_APP+503
    void OrderError(TMessage& m);      // WM_APP+505
    void OrderOpenPrice(TMessage& m);  // WM_APP+506
    void GetOrderID(TMessage& m);      // WM_APP+510: the OrderID of a ticket, -1 for none
    void GetTriggerPrice(TMessage& m); // WM_APP+513

private:
    // The achieved open spread on the leg under the engine cursor (in edit state), and its
    // close rule.
    void ApplyOpenSpread(double toSpread);
    void ApplyCloseCondition();

    // What the engine remembers of the legs it handed out belongs to the list that was open:
    // it is forgotten when the list closes.
    struct ListWatch : IDataSetObserver {
        OpeningHandshake& owner;
        explicit ListWatch(OpeningHandshake& o) : owner(o) {}
        void DataChanged(Change change, int row) override;
        void Scrolled() override {}
    };

    EngineContext m_ctx;
    ListWatch m_listWatch{*this};
    // The legs that opened while their counter order had ended, and of which the operator
    // was told.
    std::unordered_set<int32_t> m_openedAlone;
};

} // namespace quorvel
