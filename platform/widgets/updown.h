#pragma once
// An up-down control: two arrow halves with a position of their own inside a range. A press of
// the upper half moves the position up by one, of the lower half down by one, and raises Click
// with the half that was pressed; a press that cannot move the position (at the end of the
// range) changes nothing and raises no Click. Held down, a half repeats its press. The
// position is not tied to any other control.
#include <QWidget>

class QToolButton;

namespace quorvel {

enum class TUDBtnType { btNext, btPrev }; // upper half, lower half

class TUpDown : public QWidget {
    Q_OBJECT
public:
    explicit TUpDown(QWidget* parent = nullptr);

    int Min() const { return m_min; }
    int Max() const { return m_max; }
    void SetRange(int min, int max);
    int Position() const { return m_position; }
    // Sets the position, kept within the range; raises no Click.
    void SetPosition(int p);

    // One press of a half, as a mouse click gives it: true when the position moved and
    // Click was raised.
    bool Press(TUDBtnType button);

    QToolButton* UpButton() const { return m_up; }
    QToolButton* DownButton() const { return m_down; }

signals:
    void Click(quorvel::TUDBtnType button);

protected:
    void resizeEvent(QResizeEvent* e) override;

private:
    QToolButton* m_up;
    QToolButton* m_down;
    int m_min = 0;
    int m_max = 100;
    int m_position = 0;
};

} // namespace quorvel
