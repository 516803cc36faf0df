#pragma once
// What a window shows and when: the platform's copy of a widget (what was last painted and
// flushed), what its window would draw there now, a loop that runs until a condition holds, a
// paint counter, and work that holds the paints back.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QImage>
#include <QPixmap>
#include <QScreen>
#include <QWidget>

#include "platform/widgets/paintthrottle.h"

namespace quorvel::test {

inline QImage OnScreen(QWidget* w) {
    const QPoint at = w->mapTo(w->window(), QPoint(0, 0));
    return w->screen()
        ->grabWindow(w->window()->winId(), at.x(), at.y(), w->width(), w->height())
        .toImage()
        .convertToFormat(QImage::Format_RGB32);
}

// Drawing sends paint events: read paint counters before.
inline QImage Drawn(QWidget* w) {
    const QPoint at = w->mapTo(w->window(), QPoint(0, 0));
    return w->window()->grab(QRect(at, w->size())).toImage().convertToFormat(QImage::Format_RGB32);
}

template <class F> bool RunUntil(F done, int ms = 10000) {
    QElapsedTimer t;
    t.start();
    while (!done()) {
        if (t.elapsed() > ms) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
}

// Counts the paint events a widget gets.
struct PaintCounter : QObject {
    int paints = 0;
    explicit PaintCounter(QWidget* w) { w->installEventFilter(this); }
    bool eventFilter(QObject*, QEvent* e) override {
        if (e->type() == QEvent::Paint) ++paints;
        return false;
    }
};

// Work that waits (a paint must not start) while `on`; none once this goes.
struct Waiting {
    bool on = true;
    Waiting() {
        SetPaintsWaitWhile([this] { return on; });
    }
    ~Waiting() { SetPaintsWaitWhile(nullptr); }
};

} // namespace quorvel::test
