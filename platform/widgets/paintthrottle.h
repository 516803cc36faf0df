#pragma once
// Repaints of a top-level window at a budget. Qt paints a window when its update request
// arrives: widgets that change mark their dirty regions with Qt's repaint manager, which posts
// one update request to the window and paints every dirty region when it is delivered. The
// throttle takes that request as it arrives and delivers it from a timer, at most once per
// interval and never while work waits that a paint would delay (the desk's EA records). What
// is painted is still exactly what the widgets marked, coalesced over the interval; nothing
// that changes a widget waits for a paint.
//
// The first showing of a window and the platform's expose events paint as they always do.
#include <QObject>
#include <QPointer>
#include <QWidget>
#include <functional>

namespace quorvel {

// Asked before any throttle lets a paint through: true while work waits that a paint would
// delay. None (the default): nothing waits.
void SetPaintsWaitWhile(std::function<bool()> busy);
bool PaintsMustWait();

class PaintThrottle : public QObject {
    Q_OBJECT
public:
    // Holds back the repaints of `window` (a top-level widget) to one per `intervalMs`.
    PaintThrottle(QWidget* window, int intervalMs);
    ~PaintThrottle() override;

    int Interval() const { return m_interval; }
    // An update request is held and will be delivered.
    bool Holding() const { return m_holding; }
    // Update requests delivered so far.
    long Delivered() const { return m_delivered; }
    // Delivers a held request at once, whatever waits.
    void Flush();

    // While work waits, a due delivery is tried again after this long.
    static constexpr int kRetryMs = 2;

protected:
    bool eventFilter(QObject* watched, QEvent* e) override;
    void timerEvent(QTimerEvent* e) override;

private:
    void Deliver();
    void Arm(int ms);

    QPointer<QWidget> m_window;
    int m_interval;
    int m_timer = 0;
    bool m_holding = false;
    bool m_delivering = false;
    long m_delivered = 0;
};

} // namespace quorvel
