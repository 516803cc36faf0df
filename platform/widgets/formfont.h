#pragma once
// The font the desk's windows are laid out for: Tahoma, 11 pixels high. Where Tahoma is
// missing, the narrower cut of the substitute keeps captions within their laid-out bounds.
#include <QFont>
#include <QFontInfo>

namespace quorvel {

inline QFont FormFont() {
    QFont f("Tahoma");
    f.setPixelSize(11);
    if (!QFontInfo(f).exactMatch()) f.setStretch(QFont::SemiCondensed);
    return f;
}

} // namespace quorvel
