#include "platform/widgets/celltext.h"

#include <QHash>
#include <QPaintDevice>
#include <QPainter>
#include <QTextLayout>
#include <algorithm>
#include <unordered_map>

namespace quorvel {

namespace {
// A laid-out line of text, shaped once.
struct Laid {
    std::unique_ptr<QTextLayout> layout;
    qreal height = 0;  // ascent plus descent of the line
    qreal advance = 0; // the line's horizontal advance
};
struct TextHash {
    size_t operator()(const QString& s) const { return qHash(s); }
};
} // namespace

struct CellTexts::OfFont {
    QFont font;
    int dpi = 0;
    Qt::LayoutDirection direction = Qt::LeftToRight;
    std::unordered_map<QString, Laid, TextHash> texts;
};

CellTexts::CellTexts() = default;
CellTexts::~CellTexts() = default;

void CellTexts::Draw(QPainter& p, const QRect& box, Qt::Alignment alignment, const QString& text) {
    const Qt::Alignment h = alignment & Qt::AlignHorizontal_Mask;
    const Qt::Alignment v = alignment & Qt::AlignVertical_Mask;
    const QFont& font = p.font();
    const bool plain = p.layoutDirection() != Qt::RightToLeft && !font.italic() && !font.underline() &&
                       !font.overline() && !font.strikeOut() && (h == Qt::AlignLeft || h == Qt::AlignRight) &&
                       (v == Qt::AlignTop || v == Qt::AlignVCenter) &&
                       std::all_of(text.begin(), text.end(),
                                   [](QChar c) { return c.unicode() >= 0x20 && c.unicode() < 0x7F; });
    if (!plain) {
        p.drawText(box, alignment | Qt::TextSingleLine, text);
        return;
    }
    if (m_count >= kCapacity) {
        m_fonts.clear();
        m_count = 0;
    }
    // The painter's font carries its device's resolution, as drawText lays the text out with it.
    const int dpi = p.device() ? p.device()->logicalDpiY() : 0;
    auto of = std::find_if(m_fonts.begin(), m_fonts.end(), [&](const std::unique_ptr<OfFont>& f) {
        return f->dpi == dpi && f->direction == p.layoutDirection() && f->font == font &&
               f->font.resolveMask() == font.resolveMask();
    });
    if (of == m_fonts.end())
        of = m_fonts.insert(m_fonts.end(),
                            std::make_unique<OfFont>(OfFont{font, dpi, p.layoutDirection(), {}}));
    auto it = (*of)->texts.find(text);
    if (it == (*of)->texts.end()) {
        Laid laid;
        laid.layout = std::make_unique<QTextLayout>(text, font);
        QTextOption option;
        option.setTextDirection(p.layoutDirection()); // left to right for these texts
        option.setAlignment(Qt::AlignLeft);
        option.setWrapMode(QTextOption::ManualWrap);
        laid.layout->setTextOption(option);
        laid.layout->setCacheEnabled(true);
        laid.layout->beginLayout();
        QTextLine line = laid.layout->createLine();
        if (line.isValid()) {
            line.setLineWidth(0x01000000);
            line.setPosition(QPointF(0, 0));
            laid.height = line.ascent() + line.descent();
            laid.advance = line.horizontalAdvance();
        }
        laid.layout->endLayout();
        it = (*of)->texts.emplace(text, std::move(laid)).first;
        ++m_count;
    }
    const Laid& laid = it->second;
    const QRectF r(box);
    const qreal yoff = v == Qt::AlignVCenter ? (r.height() - laid.height) / 2 : 0;
    const qreal xoff = h == Qt::AlignRight ? r.width() - laid.advance : 0;
    p.save();
    p.setClipRect(r, Qt::IntersectClip);
    if (laid.layout->lineCount() > 0) laid.layout->lineAt(0).draw(&p, QPointF(r.x() + xoff, r.y() + yoff));
    p.restore();
}

} // namespace quorvel
