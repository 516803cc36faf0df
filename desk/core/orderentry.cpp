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
    const LegView& leg = orders.NewLeg();
    ClientDataSet& a = leg.DataSet();
    AppendGuard guard{a};
    int32_t firstOrderID = 0;
    for (int round = 1; round <= 2; ++round) {
        const int32_t type = round == 1 ? (iOrderBuySell == 1 || iOrderBuySell == 3 ? otBuy : otNone)
                                        : (iOrderBuySell == 2 || iOrderBuySell == 3 ? otSell : otNone);
        a.Append();
        if (round == 2) leg.FirstOrderID().SetAsInteger(firstOrderID);
        leg.OrderTime().SetAsDateTime(m_ctx.clock.Now());
        leg.TableID().SetAsInteger(iTableID);
        leg.OrderType().SetAsInteger(type);
        leg.MaxLoss().SetAsCurrency(dMaxVerlust);
        if (type != otNone) {
            leg.Status().SetAsInteger(stToOpen);
            leg.Lots().SetAsFloat(dLots);
            leg.OpenSpread().SetAsCurrency(dSpread);
            for (int k = 0; k < kEAsPerTable; ++k) {
                int32_t id = -1;
                const size_t item = static_cast<size_t>(k);
                if (item < lbBrokerIDs.size() && lbBrokerIDs[item].checked) {
                    const auto v = ParseInt32(lbBrokerIDs[item].text);
                    if (!v)
                        throw std::runtime_error("'" + lbBrokerIDs[item].text +
                                                 "' is not a valid integer value");
                    id = *v;
                }
                leg.Broker(k).SetAsInteger(id);
            }
            if (iCloseBedingung >= 0) {
                leg.CloseSpread().SetAsCurrency(dCloseSpread);
                leg.CloseCondition().SetAsInteger(iCloseBedingung);
            }
        } else {
            leg.Status().SetAsInteger(stNoLeg);
        }
        leg.SlippageCompensation().SetAsBoolean(bSlippageAusgleich);
        leg.AutoClose().SetAsBoolean(bAutoClose);
        a.Post();
        if (round == 1) firstOrderID = leg.OrderID().AsInteger();
    }
}

void OrderEntry::TableOpenOrder(int iTableID, int frame) {
    const IDeskControls& c = m_ctx.controls;
    const int iBedingung = c.FrameChecked(frame, FrameCtl::rbSpreadKleinerGleich1) ? 1 : 0;
    // The close radio stays checked from the frame's creation on; unchecked would mean no
    // close condition.
    const int iCloseBedingung =
        c.FrameChecked(frame, FrameCtl::rbCloseSpreadKleiner1) ? kCloseAtOrBelowSpread : -1;
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
    const LegView& shown = orders.ShownLeg();
    ClientDataSet& d = shown.DataSet();
    if (!d.Active() || d.RecNo() < 1) return;
    const int32_t id = shown.OrderID().AsInteger();
    const int32_t c = orders.GetCounterOrderID(id);
    const int32_t lo = std::min(id, c), hi = std::max(id, c);
    BusyGuard busy(orders.m_iDisableDataChange);
    const LegView& copy = orders.NewLeg();
    ClientDataSet& a = copy.DataSet();
    AppendGuard guard{a};
    bool haveFirstCopy = false;
    int32_t firstCopy = 0;
    for (int round = 0; round < 2; ++round) {
        const bool roundOfHi = round == 1;
        if (roundOfHi && lo == hi) break;
        const int32_t source = roundOfHi ? hi : lo;
        if (!shown.Locate(source)) continue;
        a.Append();
        // A leg copied alone (its counter order is missing) starts a transaction of its own.
        if (roundOfHi && haveFirstCopy) copy.FirstOrderID().SetAsInteger(firstCopy);
        copy.OrderTime().SetAsDateTime(m_ctx.clock.Now());
        copy.TableID().SetAsInteger(shown.TableID().AsInteger());
        const int32_t type = shown.OrderType().AsInteger();
        copy.OrderType().SetAsInteger(type);
        copy.MaxLoss().SetAsCurrency(shown.MaxLoss().AsCurrency());
        if (type != otNone) {
            copy.Status().SetAsInteger(stToOpen);
            copy.Lots().SetAsFloat(shown.Lots().AsFloat());
            copy.OpenSpread().SetAsCurrency(shown.OpenSpread().AsCurrency());
            for (int k = 0; k < kEAsPerTable; ++k) copy.Broker(k).SetValue(shown.Broker(k).Value());
            copy.CloseSpread().SetAsCurrency(shown.CloseSpread().AsCurrency());
            copy.CloseCondition().SetAsInteger(shown.CloseCondition().AsInteger());
        } else {
            copy.Status().SetAsInteger(stNoLeg);
        }
        copy.SlippageCompensation().SetAsBoolean(shown.SlippageCompensation().AsBoolean());
        copy.AutoClose().SetAsBoolean(shown.AutoClose().AsBoolean());
        a.Post();
        if (!roundOfHi) {
            firstCopy = copy.OrderID().AsInteger();
            haveFirstCopy = true;
        }
    }
}

void OrderEntry::DeleteSelectedTransaction() {
    OrderList& orders = m_ctx.orders;
    const LegView& shown = orders.ShownLeg();
    ClientDataSet& d = shown.DataSet();
    if (!d.Active() || d.RecordCount() == 0) return;
    const int32_t id = shown.OrderID().AsInteger();
    const int32_t c = orders.GetCounterOrderID(id);
    d.Delete();
    if (shown.Locate(c)) d.Delete();
}

} // namespace quorvel
