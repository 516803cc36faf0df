#include "components/NumEdit.h"

#include <QApplication>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QPalette>

#include "components/core/realvalue.h"

namespace quorvel {

TRealEdit::TRealEdit(QWidget* parent) : QLineEdit(parent) {
    const QPalette pal = QApplication::palette();
    m_Alignment = TAlignment::taLeftJustify;
    m_ClrNormal = pal.color(QPalette::Active, QPalette::Base);     // window background
    m_clrDisabled = pal.color(QPalette::Active, QPalette::Button); // button face
    SetPrecision(3);
}

long double TRealEdit::Value() const {
    return RealEditTextToExtended(text().toStdString());
}

void TRealEdit::SetValue(long double v) {
    setText(QString::fromStdString(RealEditValueToText(v, m_nPrecision)));
}

void TRealEdit::SetPrecision(int n) {
    m_nPrecision = n;
    m_sFormatStr = RealEditFormatStr(n);
    if (!text().isEmpty()) SetValue(Value());
}

void TRealEdit::SetAlignment(TAlignment a) {
    if (a == m_Alignment) return;
    m_Alignment = a;
    switch (a) {
    case TAlignment::taLeftJustify:
        setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
        break;
    case TAlignment::taRightJustify:
        setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        break;
    case TAlignment::taCenter:
        setAlignment(Qt::AlignHCenter | Qt::AlignVCenter);
        break;
    }
}

void TRealEdit::SetColor(const QColor& c) {
    m_ClrNormal = c;
    if (Enabled()) PaintBackground(c);
}

void TRealEdit::SetColorDisabled(const QColor& c) {
    m_clrDisabled = c;
    if (!Enabled()) PaintBackground(c);
}

void TRealEdit::SetEnabled(bool v) {
    setReadOnly(!v);
    setFocusPolicy(v ? Qt::StrongFocus : Qt::ClickFocus);
    PaintBackground(v ? m_ClrNormal : m_clrDisabled);
}

void TRealEdit::PaintBackground(const QColor& c) {
    QPalette pal = palette();
    for (auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled})
        pal.setColor(group, QPalette::Base, c);
    setPalette(pal);
}

char32_t TRealEdit::TypedChar(const QKeyEvent* e) {
    const Qt::KeyboardModifiers mods = e->modifiers();
    const bool ctrl = (mods & Qt::ControlModifier) && !(mods & Qt::AltModifier);
    switch (e->key()) {
    case Qt::Key_Backspace:
        return ctrl ? 127 : 8;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        return 13;
    case Qt::Key_Delete:
    case Qt::Key_Escape:
    case Qt::Key_Tab:
    case Qt::Key_Backtab:
        return 0;
    default:
        break;
    }
    if (ctrl) {
        // Ctrl+letter types its control character (Ctrl+C 3, Ctrl+V 22, Ctrl+X 24, Ctrl+Z 26).
        if (e->key() >= Qt::Key_A && e->key() <= Qt::Key_Z)
            return static_cast<char32_t>(e->key() - Qt::Key_A + 1);
        return 0;
    }
    const QList<uint> ucs = e->text().toUcs4();
    return ucs.isEmpty() ? 0 : static_cast<char32_t>(ucs.front());
}

void TRealEdit::keyPressEvent(QKeyEvent* e) {
    const char32_t typed = TypedChar(e);
    if (typed == 0) { // no character: navigation and the like go to the edit as usual
        QLineEdit::keyPressEvent(e);
        return;
    }
    const QString t = text();
    const int at = hasSelectedText() ? selectionStart() : cursorPosition();
    const size_t bytePos = static_cast<size_t>(t.left(at).toUtf8().size());
    const char32_t passed = RealEditFilterChar(t.toStdString(), bytePos, typed);
    if (passed == 0) { // dropped: never reaches the edit
        e->accept();
        return;
    }
    if (passed == 8 || passed == 13 || QString::fromUcs4(&passed, 1) == e->text()) {
        QLineEdit::keyPressEvent(e);
        return;
    }
    // The character was replaced (a point by the separator): the edit takes the replacement,
    // replacing a selection as usual.
    if (!isReadOnly()) insert(QString::fromUcs4(&passed, 1));
    e->accept();
}

void TRealEdit::keyReleaseEvent(QKeyEvent* e) {
    if (!e->isAutoRepeat()) emit KeyUp(e->key(), e->modifiers());
    QLineEdit::keyReleaseEvent(e);
}

void TRealEdit::focusOutEvent(QFocusEvent* e) {
    // Leaving the box for another control reformats it; a context menu or another window
    // taking the focus does not leave it.
    if (e->reason() != Qt::PopupFocusReason && e->reason() != Qt::ActiveWindowFocusReason &&
        !text().isEmpty())
        SetValue(Value());
    QLineEdit::focusOutEvent(e);
}

} // namespace quorvel
