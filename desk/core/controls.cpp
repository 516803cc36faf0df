#include "desk/core/controls.h"

#include "components/core/realvalue.h"

namespace quorvel {

SpinRange SpinRangeOf(Ctl c) {
    switch (c) {
    case Ctl::seRequoteAnzahl:
    case Ctl::seSlippage:
        return {0, 100};
    case Ctl::seTradeIntervall:
        return {1, 10000};
    default:
        return {0, 0};
    }
}

int PrecisionOf(Ctl c) {
    switch (c) {
    case Ctl::reAlert:
        return 5;
    case Ctl::reAlertIntervall:
        return 1;
    case Ctl::rePRIDynamic:
        return 4;
    case Ctl::reLotsChange:
        return 2;
    case Ctl::reOpenSpreadChange:
    case Ctl::reCloseSpreadChange:
    case Ctl::reMaxVerlust:
        return 5;
    default:
        return 0;
    }
}

int PrecisionOf(FrameCtl c) {
    return c == FrameCtl::reLots1 ? 2 : 5;
}

double IDeskControls::RealValue(Ctl c) const {
    return RealEditTextToValue(Text(c));
}
void IDeskControls::SetRealValue(Ctl c, double v) {
    SetText(c, RealEditValueToText(v, PrecisionOf(c)));
}
double IDeskControls::FrameRealValue(int t, FrameCtl c) const {
    return RealEditTextToValue(FrameText(t, c));
}
void IDeskControls::SetFrameRealValue(int t, FrameCtl c, double v) {
    SetFrameText(t, c, RealEditValueToText(v, PrecisionOf(c)));
}

} // namespace quorvel
