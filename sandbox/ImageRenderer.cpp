#include "ImageRenderer.h"

#include <QBuffer>
#include <QColor>
#include <QHash>
#include <QImage>
#include <QPainter>
#include <QStringList>

namespace zrp::sandbox {

namespace {

constexpr int kGlyphWidth = 5;
constexpr int kGlyphHeight = 7;

// 5 x 7 glyphs, rows top to bottom, "#" lit. Lower case is drawn in capitals; anything else as "?".
const QHash<QChar, QByteArray>& glyphs()
{
    static const QHash<QChar, QByteArray> table = [] {
        const std::pair<char, const char*> rows[] = {
            {'A', ".###.#...##...#######...##...##...#"},  {'B', "####.#...##...#####.#...##...#####."},
            {'C', ".###.#...##....#....#....#...#.###."},  {'D', "####.#...##...##...##...##...#####."},
            {'E', "######....#....####.#....#....#####"},  {'F', "######....#....####.#....#....#...."},
            {'G', ".###.#...##....#.####...##...#.####"},  {'H', "#...##...##...#######...##...##...#"},
            {'I', ".###...#....#....#....#....#...###."},  {'J', "..###...#....#....#....#.#..#..##.."},
            {'K', "#...##..#.#.#..##...#.#..#..#.#...#"},  {'L', "#....#....#....#....#....#....#####"},
            {'M', "#...###.###.#.##.#.##...##...##...#"},  {'N', "#...##...###..##.#.##..###...##...#"},
            {'O', ".###.#...##...##...##...##...#.###."},  {'P', "####.#...##...#####.#....#....#...."},
            {'Q', ".###.#...##...##...##.#.##..#..##.#"},  {'R', "####.#...##...#####.#.#..#..#.#...#"},
            {'S', ".#####....#.....###.....#....#####."},  {'T', "#####..#....#....#....#....#....#.."},
            {'U', "#...##...##...##...##...##...#.###."},  {'V', "#...##...##...##...##...#.#.#...#.."},
            {'W', "#...##...##...##.#.##.#.##.#.#.#.#."},  {'X', "#...##...#.#.#...#...#.#.#...##...#"},
            {'Y', "#...##...#.#.#...#....#....#....#.."},  {'Z', "#####....#...#...#...#...#....#####"},
            {'0', ".###.#...##..###.#.###..##...#.###."},  {'1', "..#...##....#....#....#....#...###."},
            {'2', ".###.#...#....#...#...#...#...#####"},  {'3', "#####...#...#.....#.....##...#.###."},
            {'4', "...#...##..#.#.#..#.#####...#....#."},  {'5', "######....####.....#....##...#.###."},
            {'6', "..##..#...#....####.#...##...#.###."},  {'7', "#####....#...#...#...#....#....#..."},
            {'8', ".###.#...##...#.###.#...##...#.###."},  {'9', ".###.#...##...#.####....#...#..##.."},
            {'.', ".........................##...##..."},  {',', "....................##....#...#...."},
            {':', ".......##...##.........##...##....."},  {'-', "...............#####..............."},
            {'\'', "..#....#...#......................."}, {'!', "..#....#....#....#....#.........#.."},
            {'?', ".###.#...#....#...#...#.........#.."},  {'&', ".##..#..#.#.#...#...#.#.##..#..##.#"},
            {'(', "...#...#...#....#....#.....#.....#."},  {')', ".#.....#.....#....#....#...#...#..."},
            {'/', ".........#...#...#...#...#........."},  {'+', ".......#....#..#####..#....#......."},
            {'"', ".#.#..#.#.........................."},  {'_', "..............................#####"},
            {' ', "..................................."},
        };
        QHash<QChar, QByteArray> t;
        for (const auto& [c, bits] : rows)
            t.insert(QLatin1Char(c), QByteArray(bits));
        return t;
    }();
    return table;
}

const QByteArray& glyphFor(QChar c)
{
    const QHash<QChar, QByteArray>& t = glyphs();
    auto it = t.find(c.toUpper());
    return it == t.end() ? *t.find(QLatin1Char('?')) : *it;
}

void drawText(QPainter& p, const QString& text, int x, int y, int scale, const QColor& colour)
{
    for (int i = 0; i < text.size(); ++i) {
        const QByteArray& bits = glyphFor(text.at(i));
        const int gx = x + i * (kGlyphWidth + 1) * scale;
        for (int row = 0; row < kGlyphHeight; ++row) {
            for (int col = 0; col < kGlyphWidth; ++col) {
                if (bits.at(row * kGlyphWidth + col) == '#')
                    p.fillRect(gx + col * scale, y + row * scale, scale, scale, colour);
            }
        }
    }
}

// Greedy word wrap to lines of at most `columns` characters; a longer word is cut.
QStringList wrap(const QString& text, int columns)
{
    QStringList lines;
    QString line;
    for (QString word : text.simplified().split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        while (word.size() > columns) {
            if (!line.isEmpty()) {
                lines << line;
                line.clear();
            }
            lines << word.left(columns);
            word = word.mid(columns);
        }
        if (line.isEmpty())
            line = word;
        else if (line.size() + 1 + word.size() <= columns)
            line += QLatin1Char(' ') + word;
        else {
            lines << line;
            line = word;
        }
    }
    if (!line.isEmpty())
        lines << line;
    return lines;
}

} // namespace

QSize ImageRenderer::sizeForUsage(const QString& usage)
{
    if (usage == QLatin1String("iPad-Large"))
        return QSize(768, 432);
    if (usage == QLatin1String("iPhone-Medium"))
        return QSize(480, 270);
    if (usage == QLatin1String("iPad-Small"))
        return QSize(240, 135);
    if (usage == QLatin1String("iPhone-Small"))
        return QSize(160, 90);
    return QSize();
}

QByteArray ImageRenderer::renderPng(QSize size, quint32 rgb, const QString& title, const QString& caption)
{
    QImage image(size, QImage::Format_RGB32);
    const QColor field = QColor::fromRgb(rgb);
    image.fill(field);
    {
        QPainter p(&image);
        const int w = size.width(), h = size.height();
        const int margin = std::max(4, w / 24);
        const int band = std::max(12, h / 5);
        p.fillRect(0, h - band, w, band, field.darker(160));
        p.fillRect(0, 0, w, std::max(1, h / 90), field.lighter(130));

        // The largest scale at which the wrapped title fits above the band.
        const int areaW = w - 2 * margin, areaH = h - band - 2 * margin;
        int scale = std::max(1, areaH / (kGlyphHeight + 2));
        QStringList lines;
        for (; scale > 1; --scale) {
            const int columns = (areaW / scale + 1) / (kGlyphWidth + 1);
            if (columns < 1)
                continue;
            lines = wrap(title, columns);
            if (int(lines.size()) * (kGlyphHeight + 2) * scale <= areaH)
                break;
        }
        if (scale == 1)
            lines = wrap(title, std::max(1, (areaW + 1) / (kGlyphWidth + 1)));
        const int lineHeight = (kGlyphHeight + 2) * scale;
        const int maxLines = std::max(1, areaH / lineHeight);
        lines = lines.mid(0, maxLines);
        int y = margin + (areaH - int(lines.size()) * lineHeight) / 2;
        for (const QString& line : lines) {
            drawText(p, line, margin, y, scale, Qt::white);
            y += lineHeight;
        }

        const int capScale = std::max(1, (band - 4) / (kGlyphHeight + 4));
        const int capColumns = std::max(1, (areaW / capScale + 1) / (kGlyphWidth + 1));
        const QString cap = caption.left(capColumns);
        drawText(p, cap, margin, h - band + (band - kGlyphHeight * capScale) / 2, capScale,
                 QColor(220, 220, 220));
    }
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return png;
}

} // namespace zrp::sandbox
