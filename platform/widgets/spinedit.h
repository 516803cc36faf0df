#pragma once
// A spin edit as the desk's settings use it: an edit box holding its value as text, with two
// arrow buttons stepping by one. Reading the value gives the text as an integer, the lower
// limit for text that is not one; setting it writes the decimal text, clamped into the range
// when the lower limit differs from the upper.
#include <QLineEdit>
#include <QWidget>

#include "platform/spinvalue.h"

class QToolButton;

namespace quorvel {

class TSpinEdit : public QWidget {
    Q_OBJECT
public:
    explicit TSpinEdit(QWidget* parent = nullptr);

    void SetRange(int32_t min, int32_t max);
    SpinRange Range() const { return m_range; }
    int32_t Value() const;
    void SetValue(int32_t v);
    QString Text() const { return m_edit->text(); }
    void SetText(const QString& t) { m_edit->setText(t); }
    QLineEdit* Edit() const { return m_edit; }

signals:
    // The text changed, by typing, stepping or setting.
    void Changed();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void Step(int delta);
    QLineEdit* m_edit;
    QToolButton* m_up;
    QToolButton* m_down;
    SpinRange m_range;
};

} // namespace quorvel
