// Order entry: new transactions from a table frame's order box, the copy and the removal of
// the transaction selected on the ADMIN PANEL tab.
#include "desk/core/orderentry.h"

#include <algorithm>
#include <stdexcept>

#include "platform/numbers.h"

namespace quorvel {

namespace {
// A record appended but not posted is dropped when an error cuts the entry short, so that
// no half-written leg is posted by the cursor's next move.
struct AppendGuard {
    ClientDataSet& ds;
    ~AppendGuard() {
        if (ds.Active() && ds.State() == DataSetState::Insert) ds.Cancel();
    }
};
} // namespace

void OrderEntry::OpenOrder(int iTableID, double dLots, int iBedingung, int iOrderBuySell, double dSpread,
                           const std::vector<BrokerItem>& lbBrokerIDs, int iCloseBedingung,
                           double dCloseSpread, bool bSlippageAusgleich, double dMaxVerlust,
                           bool bAutoClose) {
    OrderList& orders = m_ctx.orders;
    BusyGuard busy(orders.m_iDisableDataChange);
    ClientDataSet& a = orders.m_CDSAddNewOrder;
    AppendGuard guard{a};
    int32_t firstOrderID = 0;
    for (int leg = 1; leg <= 2; ++leg) {
        const int32_t type = leg == 1 ? (iOrderBuySell == 1 || iOrderBuySell == 3 ? otBuy : otNone)
                                      : (iOrderBuySell == 2 || iOrderBuySell == 3 ? otSell : otNone);
        a.Append();
        if (leg == 2) a.FieldByName("FirstOrderID").SetAsInteger(firstOrderID);
        a.FieldByName("Zeitpunkt").SetAsDateTime(m_ctx.clock.Now());
        a.FieldByName("TableID").SetAsInteger(iTableID);
        a.FieldByName("OrderType").SetAsInteger(type);
        a.FieldByName("MaxVerlust").SetAsCurrency(dMaxVerlust);
        if (type != otNone) {
            a.FieldByName("Status").SetAsInteger(stToOpen);
            a.FieldByName("Lots").SetAsFloat(dLots);
            a.FieldByName("Spread").SetAsCurrency(dSpread);
            for (int k = 1; k <= 10; ++k) {
                int32_t id = -1;
                const size_t item = static_cast<size_t>(k - 1);
                if (item < lbBrokerIDs.size() && lbBrokerIDs[item].checked) {
                    const auto v = ParseInt32(lbBrokerIDs[item].text);
                    if (!v)
                        throw std::runtime_error("'" + lbBrokerIDs[item].text +
                                                 "' is not a valid integer value");
                    id = *v;
                }
                a.FieldByName("ID" + std::to_string(k)).SetAsInteger(id);
            }
            if (iCloseBedingung >= 0) {
                a.FieldByName("CloseSpread").SetAsCurrency(dCloseSpread);
                a.FieldByName("CloseBedingung").SetAsInteger(iCloseBedingung);
            }
        } else {
            a.FieldByName("Status").SetAsInteger(stNoLeg);
        }
        a.FieldByName("SlippageAusgleich").SetAsBoolean(bSlippageAusgleich);
        a.FieldByName("AutoClose").SetAsBoolean(bAutoClose);
        a.Post();
        if (leg == 1) firstOrderID = a.FieldByName("OrderID").AsInteger();
    }
}

void OrderEntry::TableOpenOrder(int iTableID, int frame) {
    const IDeskControls& c = m_ctx.controls;
    const int iBedingung = c.FrameChecked(frame, FrameCtl::rbSpreadKleinerGleich1) ? 1 : 0;
    // The close radio stays checked from the frame's creation on; unchecked would mean no
    // close condition.
    const int iCloseBedingung = c.FrameChecked(frame, FrameCtl::rbCloseSpreadKleiner1) ? 1 : -1;
    const int iOrderBuySell = c.FrameChecked(frame, FrameCtl::rbBuy1)    ? 1
                              : c.FrameChecked(frame, FrameCtl::rbSell1) ? 2
                                                                         : 3;
    std::vector<BrokerItem> brokers;
    const int n = c.BrokerCount(frame);
    for (int k = 0; k < n; ++k) brokers.push_back({c.BrokerText(frame, k), c.BrokerChecked(frame, k)});
    OpenOrder(iTableID, c.FrameRealValue(frame, FrameCtl::reLots1), iBedingung, iOrderBuySell,
              c.FrameRealValue(frame, FrameCtl::reSpread1), brokers, iCloseBedingung,
              c.FrameRealValue(frame, FrameCtl::reCloseSpread1),
              c.FrameChecked(frame, FrameCtl::cbSlippageAusgleich1),
              c.FrameRealValue(frame, FrameCtl::reMaxVerlust), c.FrameChecked(frame, FrameCtl::cbAutoClose));
}

void OrderEntry::TableOpenOrderCurrent() {
    const int t = m_ctx.controls.ActiveTableIndex();
    if (t < 0 || t >= kMaxTables || !m_ctx.controls.HasFrame(t)) return;
    TableOpenOrder(t, t);
}

void OrderEntry::CopySelectedTransaction() {
    OrderList& orders = m_ctx.orders;
    ClientDataSet& d = orders.m_CDSOrderlisteAnzeige;
    if (!d.Active() || d.RecNo() < 1) return;
    const int32_t id = d.FieldByName("OrderID").AsInteger();
    const int32_t c = orders.GetCounterOrderID(id);
    const int32_t lo = std::min(id, c), hi = std::max(id, c);
    BusyGuard busy(orders.m_iDisableDataChange);
    ClientDataSet& a = orders.m_CDSAddNewOrder;
    AppendGuard guard{a};
    bool haveFirstCopy = false;
    int32_t firstCopy = 0;
    for (int round = 0; round < 2; ++round) {
        const bool roundOfHi = round == 1;
        if (roundOfHi && lo == hi) break;
        const int32_t source = roundOfHi ? hi : lo;
        if (!d.Locate("OrderID", Variant(source))) continue;
        a.Append();
        // A leg copied alone (its counter order is missing) starts a transaction of its own.
        if (roundOfHi && haveFirstCopy) a.FieldByName("FirstOrderID").SetAsInteger(firstCopy);
        a.FieldByName("Zeitpunkt").SetAsDateTime(m_ctx.clock.Now());
        a.FieldByName("TableID").SetAsInteger(d.FieldByName("TableID").AsInteger());
        const int32_t type = d.FieldByName("OrderType").AsInteger();
        a.FieldByName("OrderType").SetAsInteger(type);
        a.FieldByName("MaxVerlust").SetAsCurrency(d.FieldByName("MaxVerlust").AsCurrency());
        if (type != otNone) {
            a.FieldByName("Status").SetAsInteger(stToOpen);
            a.FieldByName("Lots").SetAsFloat(d.FieldByName("Lots").AsFloat());
            a.FieldByName("Spread").SetAsCurrency(d.FieldByName("Spread").AsCurrency());
            for (int k = 1; k <= 10; ++k) {
                const std::string name = "ID" + std::to_string(k);
                a.FieldByName(name).SetValue(d.FieldByName(name).Value());
            }
            a.FieldByName("CloseSpread").SetAsCurrency(d.FieldByName("CloseSpread").AsCurrency());
            a.FieldByName("CloseBedingung").SetAsInteger(d.FieldByName("CloseBedingung").AsInteger());
        } else {
            a.FieldByName("Status").SetAsInteger(stNoLeg);
        }
        a.FieldByName("SlippageAusgleich").SetAsBoolean(d.FieldByName("SlippageAusgleich").AsBoolean());
        a.FieldByName("AutoClose").SetAsBoolean(d.FieldByName("AutoClose").AsBoolean());
        a.Post();
        if (!roundOfHi) {
            firstCopy = a.FieldByName("OrderID").AsInteger();
            haveFirstCopy = true;
        }
    }
}

void OrderEntry::DeleteSelectedTransaction() {
    OrderList& orders = m_ctx.orders;
    ClientDataSet& d = orders.m_CDSOrderlisteAnzeige;
    if (!d.Active() || d.RecordCount() == 0) return;
    const int32_t id = d.FieldByName("OrderID").AsInteger();
    const int32_t c = orders.GetCounterOrderID(id);
    d.Delete();
    if (d.Locate("OrderID", Variant(c))) d.Delete();
}

} // namespace quorvel
