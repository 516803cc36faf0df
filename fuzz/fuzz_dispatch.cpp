// The EA messages: any run of messages, clock steps and operator actions, handed to Dispatch
// of a created desk. Every message is answered, no error escapes a handler, a message whose
// answer never varies gets it, and the order list the run leaves saves and loads back equal.
#include <array>
#include <iterator>
#include <string>

#include "fuzz/support.h"
#include "fuzz/targets.h"

namespace quorvel::fuzz {

namespace {

// The numbers around the protocol's that no EA message has: past the price store's, before
// the settings bar's and past it.
constexpr int32_t kUnknownNeighbours[] = {EAMsg::DataComplete + 1, EAMsg::GetEALoopTime - 1,
                                          EAMsg::GetEAMaxCounterCheckSeconds + 1};
// The quotes once more, for runs that move the prices often.
constexpr int32_t kQuotesAgain[] = {EAMsg::NewDataBid, EAMsg::NewDataAsk, EAMsg::DataComplete};

// The message numbers of the link: every message of the protocol in the order of its list, an
// unknown neighbour right after the number below it or else right before the number above it,
// then the quotes again. A seed's operation byte picks its message by its place here.
struct MessageList {
    std::array<int32_t, std::size(EAMsg::kProtocol) + std::size(kUnknownNeighbours) + std::size(kQuotesAgain)>
        numbers{};
    size_t count = 0;
    constexpr void Add(int32_t msg) { numbers[count++] = msg; }
};
constexpr MessageList kList = [] {
    MessageList list;
    for (const EAMsg::Message& m : EAMsg::kProtocol) {
        for (const int32_t u : kUnknownNeighbours)
            if (u + 1 == m.number && MessageIndex(u - 1) < 0) list.Add(u);
        list.Add(m.number);
        for (const int32_t u : kUnknownNeighbours)
            if (u - 1 == m.number) list.Add(u);
    }
    for (const int32_t q : kQuotesAgain) list.Add(q);
    return list;
}();
static_assert(kList.count == kList.numbers.size(), "an unknown neighbour borders no message of the list");
constexpr const auto& kMessages = kList.numbers;

const char* const kAlertLevels[] = {"0,00000", "-0,00010", "0,00050", "-0,00002", "x", ""};

struct DispatchRig {
    Scratch scratch{"dispatch"};
    DeskRig rig{scratch, 20};
};

int32_t WParam(ByteReader& in) {
    const uint8_t w = in.U8();
    switch (w) {
    case 0xFC:
        return -1;
    case 0xFD:
        return INT32_MIN;
    case 0xFE:
        return INT32_MAX;
    case 0xFF:
        return in.I32();
    default:
        return w % (kMaxEAs + 3); // 0 and 201, 202 are no EA
    }
}

int32_t LParam(ByteReader& in) {
    const uint8_t mode = in.U8();
    if (mode < 0xC0) return 110000 + static_cast<int8_t>(in.U8()); // a price near the others
    if (mode < 0xF0) return mode - 0xC0;
    if (mode == 0xFF) return in.I32();
    return 0;
}

} // namespace

int FuzzDispatch(const uint8_t* data, size_t size) {
    static DispatchRig* r = new DispatchRig; // lives to the end of the process
    DeskRig& rig = r->rig;
    Desk& desk = *rig.desk;
    test::FakeControls& c = rig.controls;
    ByteReader in(data, size);

    // The settings of this run.
    ResetDeskState(rig, 1 + in.U8() % kMaxTables);
    const uint8_t flags = in.U8();
    c.checked[Ctl::cbAlertAktiv] = flags & 1;
    c.checked[Ctl::cbAutoTrade] = flags & 2;
    c.checked[Ctl::chkbStandby] = flags & 4;
    c.watchActive = flags & 8;
    c.activePage = (flags >> 4) % 22;
    c.text[Ctl::reAlert] = kAlertLevels[in.U8() % std::size(kAlertLevels)];
    c.text[Ctl::reAlertIntervall] = std::to_string(in.U8() % 4);
    c.text[Ctl::seTimeOut] = std::to_string(in.U8() % 8);
    desk.UpdateConnectionTimeout();
    c.text[Ctl::seMaxAutoTrades] = std::to_string(in.U8() % 6);
    c.text[Ctl::seTradeIntervall] = std::to_string(in.U8() % 4);
    for (int t = 0; t < kMaxTables; ++t)
        for (int k = 0; k < c.BrokerCount(t); ++k) c.SetBrokerChecked(t, k, true);

    for (int step = 0; step < 4000 && !in.Empty(); ++step) {
        const uint8_t op = in.U8();
        int32_t msg;
        if (op < 0xF0) {
            msg = kMessages[op % std::size(kMessages)];
        } else if (op == 0xF0) {
            rig.clock.AdvanceSeconds(in.U16() / 1000.0);
            continue;
        } else if (op == 0xF1) {
            const int id = 1 + in.U8() % kMaxEAs;
            const int t = (id - 1) / kEAsPerTable, k = (id - 1) % kEAsPerTable;
            c.SetBrokerChecked(t, k, !c.BrokerChecked(t, k));
            continue;
        } else if (op == 0xF2) {
            msg = in.I32();
        } else if (op == 0xF3) {
            const uint8_t which = in.U8();
            const int a = WParam(in), b = WParam(in);
            desk.Guarded([&] {
                switch (which % 6) {
                case 0:
                    desk.feed.ResetAll(a, b);
                    break;
                case 1:
                    desk.feed.ResetMin(a, b);
                    break;
                case 2:
                    desk.spreads.ResetMinCrossSpread(a, b);
                    break;
                case 3:
                    desk.ResetMinSpreadCurrent();
                    break;
                case 4:
                    desk.ResetMinCurrent();
                    break;
                default:
                    desk.PageControl1Change();
                    break;
                }
            });
            Check(rig.view.stopBoxes.empty(), "an error escaped an operator handler");
            continue;
        } else if (op == 0xF4) {
            c.activePage = in.U8() % 23 - 1;
            c.watchActive = c.activePage == 20;
            continue;
        } else {
            continue;
        }
        TMessage m{msg, WParam(in), LParam(in), static_cast<int32_t>(0xBADBAD)};
        const size_t boxes = rig.view.messageBoxes.size();
        desk.Dispatch(m);
        Check(rig.view.stopBoxes.empty(), "an error escaped a message handler");
        const EAMsg::Message* known = FindMessage(m.Msg);
        Check(!known || !known->answer || m.Result == *known->answer,
              "a message got another answer than its own");
        if (m.Msg == EAMsg::NewDataCompanyName)
            Check(rig.view.messageBoxes.size() == boxes + (desk.IsValidEAID(m.WParam) ? 1 : 0),
                  "a company name shows no box, or one too many");
    }

    // The order list the run left saves and loads back equal.
    if (desk.orders.m_CDSOrderliste.IsEmpty()) return 0;
    const std::string saved = desk.orders.m_CDSOrderliste.SaveToString();
    ClientDataSet back;
    back.LoadFromString(saved);
    Check(back.RecordCount() == desk.orders.m_CDSOrderliste.RecordCount(),
          "the order list reloads with other records");
    Check(back.SaveToString() == saved, "the order list reloads otherwise");
    return 0;
}

} // namespace quorvel::fuzz
