#pragma once
// Single lines of cell text drawn from kept layouts. QPainter::drawText lays a text out and shapes
// it again on every call, which is most of what a grid cell costs to paint; a grid keeps each
// text's layout here and draws it at the place drawText would, so the pixels are the same.
#include <QFont>
#include <QRect>
#include <QString>
#include <memory>
#include <vector>

class QPainter;

namespace quorvel {

class CellTexts {
public:
    CellTexts();
    ~CellTexts();
    CellTexts(const CellTexts&) = delete;
    CellTexts& operator=(const CellTexts&) = delete;

    // Draws the text in the box as QPainter::drawText(box, alignment | Qt::TextSingleLine, text)
    // does, clipped to the box, in the painter's font and pen. Printable ASCII in an upright,
    // undecorated font, aligned left or right and top or centred, is drawn from its kept layout
    // (the grids' numbers, dates and names); anything else goes to drawText.
    void Draw(QPainter& p, const QRect& box, Qt::Alignment alignment, const QString& text);
    // Texts whose layouts are kept: at most kCapacity, all are dropped when it is reached.
    size_t Kept() const { return m_count; }
    static constexpr size_t kCapacity = 4096;

private:
    struct OfFont;
    std::vector<std::unique_ptr<OfFont>> m_fonts;
    size_t m_count = 0;
};

} // namespace quorvel
