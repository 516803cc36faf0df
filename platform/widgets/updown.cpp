#include "platform/widgets/updown.h"

#include <QToolButton>

namespace quorvel {

TUpDown::TUpDown(QWidget* parent) : QWidget(parent) {
    m_up = new QToolButton(this);
    m_up->setArrowType(Qt::UpArrow);
    m_down = new QToolButton(this);
    m_down->setArrowType(Qt::DownArrow);
    for (QToolButton* b : {m_up, m_down}) {
        b->setAutoRepeat(true);
        b->setFocusPolicy(Qt::NoFocus);
        b->setIconSize(QSize(7, 7));
    }
    connect(m_up, &QToolButton::clicked, this, [this] { Press(TUDBtnType::btNext); });
    connect(m_down, &QToolButton::clicked, this, [this] { Press(TUDBtnType::btPrev); });
    resize(17, 21);
}

void TUpDown::SetRange(int min, int max) {
    m_min = min;
    m_max = max;
    SetPosition(m_position);
}

void TUpDown::SetPosition(int p) {
    m_position = p < m_min ? m_min : p > m_max ? m_max : p;
}

bool TUpDown::Press(TUDBtnType button) {
    const int next = button == TUDBtnType::btNext ? m_position + 1 : m_position - 1;
    if (next < m_min || next > m_max) return false;
    m_position = next;
    emit Click(button);
    return true;
}

void TUpDown::resizeEvent(QResizeEvent*) {
    const int upper = height() / 2;
    m_up->setGeometry(0, 0, width(), upper);
    m_down->setGeometry(0, upper, width(), height() - upper);
}

} // namespace quorvel
