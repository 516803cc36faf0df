#pragma once
// TRealEdit: the single-line box in which every real number of the desk is typed and shown.
// It keeps its number as text with a fixed number of decimals, filters typed characters so
// that the text stays a number, reformats the text when the box is left, and has a read-only
// state with its own background in place of the widget's enabled state.
#include <QColor>
#include <QLineEdit>
#include <string>

namespace quorvel {

enum class TAlignment { taLeftJustify, taRightJustify, taCenter };

class TRealEdit : public QLineEdit {
    Q_OBJECT
public:
    explicit TRealEdit(QWidget* parent = nullptr);

    // The text converted with the locale's separator, in extended precision; 0 when it does
    // not convert.
    long double Value() const;
    // Writes the value formatted with the box's precision (not filtered).
    void SetValue(long double v);

    int Precision() const { return m_nPrecision; }
    // Rebuilds the format and, when the text is not empty, reformats it.
    void SetPrecision(int n);
    const std::string& FormatStr() const { return m_sFormatStr; }

    TAlignment Alignment() const { return m_Alignment; }
    void SetAlignment(TAlignment a);

    // Background while Enabled; painted at once only while Enabled.
    QColor Color() const { return m_ClrNormal; }
    void SetColor(const QColor& c);
    // Background while not Enabled; painted at once only while not Enabled.
    QColor ColorDisabled() const { return m_clrDisabled; }
    void SetColorDisabled(const QColor& c);

    // Not read-only. The widget itself stays enabled: a box that is not Enabled is read-only,
    // out of the tab order and painted with ColorDisabled, but still takes the focus by mouse,
    // lets its text be selected and raises its key events.
    bool Enabled() const { return !isReadOnly(); }
    void SetEnabled(bool v);

    // The character a key stroke types, as the filter sees it (control characters for
    // Backspace, Enter and Ctrl+letter); 0 when the stroke types none (arrows, Delete, ...).
    static char32_t TypedChar(const class QKeyEvent* e);

signals:
    // A key was released in the box (once per stroke, also for a held key).
    void KeyUp(int key, Qt::KeyboardModifiers modifiers);

protected:
    void keyPressEvent(QKeyEvent* e) override;
    void keyReleaseEvent(QKeyEvent* e) override;
    void focusOutEvent(QFocusEvent* e) override;

private:
    void PaintBackground(const QColor& c);

    TAlignment m_Alignment = TAlignment::taLeftJustify;
    QColor m_clrDisabled;
    QColor m_ClrNormal;
    int m_nPrecision = 0;
    std::string m_sFormatStr;
};

} // namespace quorvel
