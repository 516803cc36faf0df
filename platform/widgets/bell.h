#pragma once
// The system's bell, rung after the work at hand: a handler that rings it does not wait for the
// display server (the request and its flush cost tens of microseconds there). Every ring is
// kept; they sound at the next turn of the event loop, in the order they were asked for.
#include <QObject>
#include <QTimer>
#include <functional>

namespace quorvel {

class Bell : public QObject {
    Q_OBJECT
public:
    // `sound` makes one sound (QApplication::beep when none is given).
    explicit Bell(QObject* parent = nullptr, std::function<void()> sound = {});

    void Ring();
    // Rings asked for and not yet sounded.
    int Due() const { return m_due; }

private:
    void SoundDue();

    std::function<void()> m_sound;
    QTimer m_timer;
    int m_due = 0;
};

} // namespace quorvel
