// The settings: config.ini's reader and writer, "Reset AT", and the broker lists of the
// table frames that the settings tick.
#include <string>
#include <vector>

#include "desk/core/desk.h"

namespace quorvel {

void Desk::InitializeBrokerIDList(int t, int iStartID) {
    if (!m_controls.HasFrame(t)) return;
    std::vector<std::string> items;
    for (int k = 0; k < kEAsPerTable; ++k) items.push_back(std::to_string(iStartID + k));
    m_controls.SetBrokerItems(t, items);
    for (int k = 0; k < kEAsPerTable; ++k) m_controls.SetBrokerChecked(t, k, true);
}

void Desk::Button2Click() {
    m_controls.SetSpinValue(Ctl::seMaxAutoTrades, m_iMaxAutoTrades);
    m_controls.SetChecked(Ctl::cbAutoTrade, true);
}

std::string Desk::GetConfigFileName() const {
    return m_paths.configIni;
}

} // namespace quorvel
