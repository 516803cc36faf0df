#include "platform/widgets/bell.h"

#include <QApplication>
#include <utility>

namespace quorvel {

Bell::Bell(QObject* parent, std::function<void()> sound)
    : QObject(parent), m_sound(sound ? std::move(sound) : [] { QApplication::beep(); }) {
    m_timer.setSingleShot(true);
    m_timer.setInterval(0);
    connect(&m_timer, &QTimer::timeout, this, [this] { SoundDue(); });
}

void Bell::Ring() {
    ++m_due;
    if (!m_timer.isActive()) m_timer.start();
}

void Bell::SoundDue() {
    while (m_due > 0) {
        --m_due;
        m_sound();
    }
}

} // namespace quorvel
