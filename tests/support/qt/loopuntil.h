#pragma once
// Runs the Qt event loop of the widget tests until a condition holds.
#include <QApplication>
#include <QElapsedTimer>

namespace quorvel::test {

// Runs the loop until `done` holds (at most `ms` milliseconds); false when it never did.
template <class F> bool LoopUntil(F done, int ms = 10000) {
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > ms) return false;
        QApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 20);
    }
    return true;
}

} // namespace quorvel::test
