#pragma once

// The tall pages that the ScrollPage program shows: a smooth picture with grain, or lines of
// text; the same pixels for the same size in every process, so a test can compare a scrolling
// capture with them.
#include <QFont>
#include <QImage>
#include <QPainter>
#include <QString>
#include <QStringList>

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace brevalto {

inline constexpr int kScrollPageStep = 37;  // pixels the program scrolls per wheel click

// Rows `top` to `top + rows` of the picture page `width` wide, each pixel as the whole page has it.
inline QImage scrollPageRows(int width, int top, int rows) {
    QImage part(width, rows, QImage::Format_RGB32);
    for (int y = top; y < top + rows; ++y) {
        auto* line = reinterpret_cast<QRgb*>(part.scanLine(y - top));
        for (int x = 0; x < width; ++x) {
            std::uint32_t h = std::uint32_t(x) * 73856093u ^ std::uint32_t(y) * 19349663u;
            h = (h ^ (h >> 13)) * 0x5bd1e995u;
            const auto grain = [&](double c, int shift) {
                return std::clamp(int(std::lround(c)) + int((h >> shift) % 9) - 4, 0, 255);
            };
            const double u = x / 90.0, v = y / 70.0;
            line[x] = qRgb(grain(128 + 90 * std::sin(u + 1.7 * v), 3), grain(120 + 80 * std::cos(0.6 * u - v), 11),
                           grain(110 + 70 * std::sin(2.3 * v + 0.4 * u), 19));
        }
    }
    return part;
}

inline QImage scrollPageImage(int width, int height) { return scrollPageRows(width, 0, height); }

// Pages of text lines as logs, lists and terminals show them, black on white, one line every
// `lineHeight` rows: "Line NNN the same words here" (lines that differ only by their number),
// the number alone at the left edge (a terminal counting), or the same word at the left edge of
// every line.
enum class ScrollText { numbered, sparse, identical };

// Lines drawn black on white from `left`, one every `lineHeight` rows, in a fixed font of
// `pixelSize` pixels.
inline QImage scrollLinesImage(int width, int height, int lineHeight, int pixelSize, int left, const QStringList& lines) {
    QImage page(width, height, QImage::Format_RGB32);
    page.fill(Qt::white);
    QPainter painter(&page);
    QFont font(QStringLiteral("DejaVu Sans Mono"));
    font.setPixelSize(pixelSize);
    painter.setFont(font);
    painter.setPen(Qt::black);
    for (int i = 0; i < lines.size(); ++i) painter.drawText(left, (i + 1) * lineHeight - lineHeight / 4, lines[i]);
    return page;
}

inline QImage scrollTextPageImage(ScrollText kind, int width, int height, int lineHeight) {
    QStringList lines;
    for (int n = 1; (n - 1) * lineHeight < height; ++n) {
        const QString number = QString::number(n).rightJustified(3, QLatin1Char('0'));
        lines << (kind == ScrollText::numbered ? QStringLiteral("Line %1 the same words here").arg(number)
                  : kind == ScrollText::sparse ? QString::number(n)
                                               : QStringLiteral("same"));
    }
    return scrollLinesImage(width, height, lineHeight, lineHeight * 2 / 3, kind == ScrollText::numbered ? 12 : 1, lines);
}

// A listing of C source as a terminal or an editor shows it: black on white from the left edge
// of a wide view, one line every `lineHeight` rows, with blank and brace-only lines and lines
// that recur in every function; only the functions' numbers tell most of them apart.
inline QImage scrollCodePageImage(int width, int height, int lineHeight) {
    QStringList lines;
    for (int n = 1; lines.size() * lineHeight < height; ++n) {
        const QString number = QString::number(n);
        lines << QStringLiteral("/* Checks block %1 against its stored sum. */").arg(number)
              << QStringLiteral("static int check_block_%1(const unsigned char *data, size_t length)").arg(number)
              << QStringLiteral("{") << QStringLiteral("    unsigned long sum = %1;").arg(n * 7) << QString()
              << QStringLiteral("    for (size_t i = 0; i < length; i++) {")
              << QStringLiteral("        sum = (sum << %1) ^ data[i];").arg(n % 5 + 1);
        if (n % 3)
            lines << QStringLiteral("        if (sum > %1)").arg(n * 1000) << QStringLiteral("            return -1;");
        lines << QStringLiteral("    }") << QString() << QStringLiteral("    return (int)(sum & 0x%1);").arg(n % 200 + 31, 0, 16)
              << QStringLiteral("}") << QString();
    }
    return scrollLinesImage(width, height, lineHeight, lineHeight * 3 / 4, 4, lines);
}

// Whether two images show the same colours in every pixel (alpha and format aside).
inline bool sameRgb(const QImage& a, const QImage& b) {
    if (a.size() != b.size()) return false;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x)
            if ((a.pixel(x, y) & 0xffffffu) != (b.pixel(x, y) & 0xffffffu)) return false;
    return true;
}

}  // namespace brevalto
