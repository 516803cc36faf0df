#include "platform/widgets/paintthrottle.h"

#include <QCoreApplication>
#include <QEvent>
#include <QTimerEvent>
#include <utility>

namespace quorvel {

namespace {
std::function<bool()>& WaitWhile() {
    static std::function<bool()> busy;
    return busy;
}
} // namespace

void SetPaintsWaitWhile(std::function<bool()> busy) {
    WaitWhile() = std::move(busy);
}

bool PaintsMustWait() {
    const auto& busy = WaitWhile();
    return busy && busy();
}

PaintThrottle::PaintThrottle(QWidget* window, int intervalMs)
    : QObject(window), m_window(window), m_interval(intervalMs > 0 ? intervalMs : 1) {
    window->installEventFilter(this);
}

PaintThrottle::~PaintThrottle() {
    // Qt posts no further update request while one is outstanding: a held one goes back to the
    // window, or it would never paint again.
    if (m_holding && m_window)
        QCoreApplication::postEvent(m_window, new QEvent(QEvent::UpdateRequest), Qt::LowEventPriority);
}

bool PaintThrottle::eventFilter(QObject* watched, QEvent* e) {
    if (e->type() != QEvent::UpdateRequest || watched != m_window || m_delivering) return false;
    if (!m_holding) {
        m_holding = true;
        Arm(m_interval);
    }
    return true; // delivered when the timer says so
}

void PaintThrottle::timerEvent(QTimerEvent* e) {
    if (e->timerId() != m_timer) {
        QObject::timerEvent(e);
        return;
    }
    killTimer(m_timer);
    m_timer = 0;
    if (!m_holding) return;
    if (PaintsMustWait()) {
        Arm(kRetryMs);
        return;
    }
    Deliver();
}

void PaintThrottle::Flush() {
    if (m_timer) {
        killTimer(m_timer);
        m_timer = 0;
    }
    if (m_holding) Deliver();
}

void PaintThrottle::Arm(int ms) {
    if (m_timer) killTimer(m_timer);
    m_timer = startTimer(ms, Qt::PreciseTimer);
}

void PaintThrottle::Deliver() {
    m_holding = false;
    if (!m_window) return;
    ++m_delivered;
    struct Delivering {
        bool& on;
        explicit Delivering(bool& b) : on(b) { on = true; }
        ~Delivering() { on = false; }
    } delivering(m_delivering);
    QEvent request(QEvent::UpdateRequest);
    QCoreApplication::sendEvent(m_window, &request);
}

} // namespace quorvel
