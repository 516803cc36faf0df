#pragma once
// The seam between the desk core and the window's controls. The core reads a control's
// value at the moment of use, exactly as the control would give it (a spin edit's text read
// as an integer, a real edit's text converted), and writes values the way the control would
// take them. The main window implements this over its widgets; tests over plain values.
#include <cstdint>
#include <string>
#include <vector>

#include "platform/spinvalue.h"

namespace quorvel {

// Controls of the settings bar and the Watch tab.
enum class Ctl {
    // spin edits
    seRequoteAnzahl,   // "OrderAttempts"
    seLoopTime,        // "LoopTime"
    seTimeOut,         // "Timeout"
    seSlippage,        // "Slippage"
    seMaxAutoTrades,   // "Max. AT"
    seTradeIntervall,  // "AutoTrade Interval (sec.)"
    seDelayPos2,       // "Del"
    seMaxCounterCheck, // "CloseTime"
    // real edits
    reAlert,          // "Alert Level"
    reAlertIntervall, // "Alert Interval (sec.)"
    rePRIDynamic,     // hidden
    // check boxes
    chkbStandby,
    cbAlertAktiv,
    cbAutoTrade,
    chkbDelayMode,
    chkbSeqMode,
    chkbAddCanT,
    chkbAddCloT,
    // the ADMIN PANEL's "Edit Orders" group: real edits
    reLotsChange,        // lots, 2 decimals
    reOpenSpreadChange,  // open spread, 5 decimals
    reCloseSpreadChange, // close spread, 5 decimals
    reMaxVerlust,        // "MaxLoss for AutoClose", 5 decimals
    // its radio buttons and check box; checking one direction radio unchecks the other two
    rbBuyChange,
    rbBuySellChange,
    rbSellChange,
    rbOpenKleinerChange,  // "<=" of "Set Open Spread", alone in its group
    rbCloseKleinerChange, // "<=" of "Set Close Spread", alone in its group
    cbAutoClose,          // "Forced AutoClose"
    Count
};

// Parts of the "Edit Orders" group that are switched on and off together.
enum class PanelPart {
    gbChange,          // the whole group
    btnChangeOrder,    // "Change Order"
    btnCloseOrder,     // "Change Close Order"
    lbBrokerIDsChange, // the broker list
    reLotsChange,      // the lots box (its Enabled: read-only when off)
    gbChangeBuySell,   // "Direction"
    gbOpenBedingung,   // "Set Open Spread"
    gbCloseBedingung,  // "Set Close Spread"
};

// Controls of a table frame's order box.
enum class FrameCtl {
    // real edits
    reLots1,        // lots, 2 decimals
    reSpread1,      // open spread, 5 decimals
    reMaxVerlust,   // max loss for auto close, 5 decimals
    reCloseSpread1, // close spread, 5 decimals
    // radio buttons and check boxes
    rbBuy1,
    rbBuySell1,
    rbSell1,
    rbSpreadKleinerGleich1,
    rbCloseSpreadKleiner1,
    cbAutoClose,
    cbSlippageAusgleich1,
    Count
};
int PrecisionOf(FrameCtl c);

// Range of each spin edit of the settings bar.
SpinRange SpinRangeOf(Ctl c);
// Decimals shown by a real edit.
int PrecisionOf(Ctl c);

// Every call has a default: empty text, nothing ticked, no table frames, no page active, an
// empty "Edit Orders" group. Controls override what they hold; `struct NullControls :
// IDeskControls {};` holds nothing.
class IDeskControls {
public:
    virtual ~IDeskControls() = default;
    // The control's text as it stands (spin edits and real edits).
    virtual std::string Text(Ctl /*c*/) const { return {}; }
    // Sets the control's text (the caller formats it).
    virtual void SetText(Ctl /*c*/, const std::string& /*text*/) {}
    virtual bool Checked(Ctl /*c*/) const { return false; }
    virtual void SetChecked(Ctl /*c*/, bool /*on*/) {}

    // Table frames: t is the table index 0..19. HasFrame is false for a table whose tab was
    // removed; the other calls are then not made.
    virtual bool HasFrame(int /*t*/) const { return false; }
    virtual std::string FrameText(int /*t*/, FrameCtl /*c*/) const { return {}; }
    virtual void SetFrameText(int /*t*/, FrameCtl /*c*/, const std::string& /*text*/) {}
    virtual bool FrameChecked(int /*t*/, FrameCtl /*c*/) const { return false; }
    // Checking one direction radio unchecks the other two.
    virtual void SetFrameChecked(int /*t*/, FrameCtl /*c*/, bool /*on*/) {}
    // The frame's broker list: item texts and ticks.
    virtual void SetBrokerItems(int /*t*/, const std::vector<std::string>& /*items*/) {}
    virtual int BrokerCount(int /*t*/) const { return 0; }
    virtual std::string BrokerText(int /*t*/, int /*item*/) const { return {}; }
    virtual bool BrokerChecked(int /*t*/, int /*item*/) const { return false; }
    virtual void SetBrokerChecked(int /*t*/, int /*item*/, bool /*on*/) {}
    // Page index of the active page of the page control (-1 when none).
    virtual int ActiveTableIndex() const { return -1; }
    // Whether the page on screen is the Watch tab.
    virtual bool WatchPageActive() const { return false; }

    // The "Edit Orders" group: its broker list (new items unticked) and the switching of its
    // parts. grey: the part's font in grey (RGB 128, 128, 128), else in the window-text colour.
    // A window without the group keeps the defaults: no items, nothing switched.
    virtual void SetPanelBrokerItems(const std::vector<std::string>& /*items*/) {}
    virtual int PanelBrokerCount() const { return 0; }
    virtual std::string PanelBrokerText(int /*item*/) const { return {}; }
    virtual bool PanelBrokerChecked(int /*item*/) const { return false; }
    virtual void SetPanelBrokerChecked(int /*item*/, bool /*on*/) {}
    virtual void SetPanelEnabled(PanelPart /*p*/, bool /*on*/) {}
    virtual void SetPanelFontGrey(PanelPart /*p*/, bool /*grey*/) {}

    // A spin edit's value: its text read as an integer, the lower limit for other text.
    int32_t SpinValue(Ctl c) const { return SpinTextToValue(Text(c), SpinRangeOf(c)); }
    void SetSpinValue(Ctl c, int32_t v) { SetText(c, std::to_string(SpinClamp(v, SpinRangeOf(c)))); }
    // A real edit's value: its text converted; setting it formats with the box's precision.
    double RealValue(Ctl c) const;
    void SetRealValue(Ctl c, double v);
    double FrameRealValue(int t, FrameCtl c) const;
    void SetFrameRealValue(int t, FrameCtl c, double v);
};

} // namespace quorvel
