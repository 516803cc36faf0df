#include "platform/widgets/spinedit.h"

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QToolButton>
#include <QVBoxLayout>

namespace quorvel {

TSpinEdit::TSpinEdit(QWidget* parent) : QWidget(parent) {
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(0);
    m_edit = new QLineEdit(this);
    m_edit->setText("0");
    m_edit->installEventFilter(this);
    row->addWidget(m_edit);
    auto* col = new QVBoxLayout;
    col->setContentsMargins(0, 0, 0, 0);
    col->setSpacing(0);
    m_up = new QToolButton(this);
    m_up->setArrowType(Qt::UpArrow);
    m_down = new QToolButton(this);
    m_down->setArrowType(Qt::DownArrow);
    for (auto* b : {m_up, m_down}) {
        b->setFixedSize(14, 10);
        b->setAutoRepeat(true);
        b->setFocusPolicy(Qt::NoFocus);
        col->addWidget(b);
    }
    row->addLayout(col);
    connect(m_up, &QToolButton::clicked, this, [this] { Step(1); });
    connect(m_down, &QToolButton::clicked, this, [this] { Step(-1); });
    connect(m_edit, &QLineEdit::textChanged, this, &TSpinEdit::Changed);
    setFocusProxy(m_edit);
}

void TSpinEdit::SetRange(int32_t min, int32_t max) {
    m_range = {min, max};
}

int32_t TSpinEdit::Value() const {
    return SpinTextToValue(m_edit->text().toStdString(), m_range);
}

void TSpinEdit::SetValue(int32_t v) {
    const QString t = QString::number(SpinClamp(v, m_range));
    if (t != m_edit->text()) m_edit->setText(t);
}

void TSpinEdit::Step(int delta) {
    const int64_t v = static_cast<int64_t>(Value()) + delta;
    if (v < INT32_MIN || v > INT32_MAX) return;
    SetValue(static_cast<int32_t>(v));
}

bool TSpinEdit::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_edit && event->type() == QEvent::KeyPress) {
        auto* k = static_cast<QKeyEvent*>(event);
        if (k->key() == Qt::Key_Up) {
            Step(1);
            return true;
        }
        if (k->key() == Qt::Key_Down) {
            Step(-1);
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

} // namespace quorvel
