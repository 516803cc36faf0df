#include "desk/windows/uFrmTable.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QListWidget>
#include <QRadioButton>

namespace quorvel {

TFrameTable::TFrameTable(QWidget* parent) : QFrame(parent) {
    auto* row = new QHBoxLayout(this);
    m_lbBrokerIDs1 = new QListWidget(this);
    row->addWidget(m_lbBrokerIDs1);
    for (FrameCtl c :
         {FrameCtl::reLots1, FrameCtl::reSpread1, FrameCtl::reMaxVerlust, FrameCtl::reCloseSpread1}) {
        m_edits[c] = new QLineEdit(this);
        row->addWidget(m_edits[c]);
    }
    auto* dir = new QButtonGroup(this);
    for (auto [c, caption] : {std::pair{FrameCtl::rbBuy1, "Buy"}, std::pair{FrameCtl::rbBuySell1, "and"},
                              std::pair{FrameCtl::rbSell1, "Sell"}}) {
        auto* rb = new QRadioButton(caption, this);
        dir->addButton(rb);
        m_buttons[c] = rb;
        row->addWidget(rb);
    }
    m_buttons[FrameCtl::rbBuySell1]->setChecked(true);
    for (auto [c, caption] : {std::pair{FrameCtl::rbSpreadKleinerGleich1, "<="},
                              std::pair{FrameCtl::rbCloseSpreadKleiner1, "<="}}) {
        auto* rb = new QRadioButton(caption, this);
        rb->setAutoExclusive(false);
        rb->setChecked(true);
        m_buttons[c] = rb;
        row->addWidget(rb);
    }
    for (auto [c, caption] : {std::pair{FrameCtl::cbAutoClose, "Forced AutoClose"},
                              std::pair{FrameCtl::cbSlippageAusgleich1, "Slippage Correction"}}) {
        auto* cb = new QCheckBox(caption, this);
        cb->setChecked(true);
        m_buttons[c] = cb;
        row->addWidget(cb);
    }
}

QString TFrameTable::Text(FrameCtl c) const {
    auto it = m_edits.find(c);
    return it == m_edits.end() ? QString() : it->second->text();
}

void TFrameTable::SetText(FrameCtl c, const QString& text) {
    auto it = m_edits.find(c);
    if (it != m_edits.end()) it->second->setText(text);
}

bool TFrameTable::Checked(FrameCtl c) const {
    auto it = m_buttons.find(c);
    return it != m_buttons.end() && it->second->isChecked();
}

void TFrameTable::SetChecked(FrameCtl c, bool on) {
    auto it = m_buttons.find(c);
    if (it != m_buttons.end()) it->second->setChecked(on);
}

} // namespace quorvel
