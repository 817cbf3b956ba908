#pragma once

// The tall pages that the ScrollPage program shows: a smooth picture with grain, or lines of
// text; the same pixels for the same size in every process, so a test can compare a scrolling
// capture with them.
#include <QFont>
#include <QImage>
#include <QPainter>
#include <QString>

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace brevalto {

inline constexpr int kScrollPageStep = 37;  // pixels the program scrolls per wheel click

inline QImage scrollPageImage(int width, int height) {
    QImage page(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            std::uint32_t h = std::uint32_t(x) * 73856093u ^ std::uint32_t(y) * 19349663u;
            h = (h ^ (h >> 13)) * 0x5bd1e995u;
            const auto grain = [&](double c, int shift) {
                return std::clamp(int(std::lround(c)) + int((h >> shift) % 9) - 4, 0, 255);
            };
            const double u = x / 90.0, v = y / 70.0;
            page.setPixel(x, y, qRgb(grain(128 + 90 * std::sin(u + 1.7 * v), 3), grain(120 + 80 * std::cos(0.6 * u - v), 11),
                                     grain(110 + 70 * std::sin(2.3 * v + 0.4 * u), 19)));
        }
    return page;
}

// Pages of text lines as logs, lists and terminals show them, black on white, one line every
// `lineHeight` rows: "Line NNN the same words here" (lines that differ only by their number),
// the number alone at the left edge (a terminal counting), or the same word at the left edge of
// every line.
enum class ScrollText { numbered, sparse, identical };

inline QImage scrollTextPageImage(ScrollText kind, int width, int height, int lineHeight) {
    QImage page(width, height, QImage::Format_RGB32);
    page.fill(Qt::white);
    QPainter painter(&page);
    QFont font(QStringLiteral("DejaVu Sans Mono"));
    font.setPixelSize(lineHeight * 2 / 3);
    painter.setFont(font);
    painter.setPen(Qt::black);
    for (int n = 1; (n - 1) * lineHeight < height; ++n) {
        const QString number = QString::number(n).rightJustified(3, QLatin1Char('0'));
        const QString text = kind == ScrollText::numbered ? QStringLiteral("Line %1 the same words here").arg(number)
                             : kind == ScrollText::sparse ? QString::number(n)
                                                          : QStringLiteral("same");
        painter.drawText(kind == ScrollText::numbered ? 12 : 1, n * lineHeight - lineHeight / 4, text);
    }
    return page;
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
