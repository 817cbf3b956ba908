#pragma once

// A page as many sites lay it out: a header that sticks to the top of the view and a footer fixed
// to its bottom (a cookie bar, page tools), over numbered lines, with room above and below the
// lines for the two bars. The ScrollPage program shows it; tests compare a capture with the page
// as a full-page rendering shows it.
#include "ScrollPage.h"

namespace brevalto {

inline constexpr int kScrollBarsHeader = 40, kScrollBarsFooter = 56;
inline const QColor kScrollBarsHeaderColour(40, 40, 70), kScrollBarsFooterColour(20, 90, 60);

// The header across the top and the footer across the bottom of an image `size` high.
inline void drawScrollBars(QPainter& painter, QSize size) {
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(14);
    painter.setFont(font);
    painter.fillRect(0, 0, size.width(), kScrollBarsHeader, kScrollBarsHeaderColour);
    painter.setPen(Qt::white);
    painter.drawText(QRect(12, 0, size.width() - 24, kScrollBarsHeader), Qt::AlignVCenter, QStringLiteral("Docs  |  Guide"));
    const QRect footer(0, size.height() - kScrollBarsFooter, size.width(), kScrollBarsFooter);
    painter.fillRect(footer, kScrollBarsFooterColour);
    painter.drawText(footer.adjusted(12, 0, -100, 0), Qt::AlignVCenter, QStringLiteral("We use cookies."));
    painter.fillRect(QRect(footer.right() - 90, footer.top() + 14, 78, 28), QColor(240, 200, 60));
}

// The lines with room for the bars, as the page scrolls under them.
inline QImage scrollBarsContent(int width, int pageHeight) {
    QImage page(width, pageHeight, QImage::Format_RGB32);
    page.fill(Qt::white);
    QPainter(&page).drawImage(
        0, kScrollBarsHeader,
        scrollTextPageImage(ScrollText::numbered, width, pageHeight - kScrollBarsHeader - kScrollBarsFooter, 18));
    return page;
}

// The whole page with the header at its top and the footer at its bottom.
inline QImage scrollBarsPage(int width, int pageHeight) {
    QImage page = scrollBarsContent(width, pageHeight);
    QPainter painter(&page);
    drawScrollBars(painter, page.size());
    return page;
}

}  // namespace brevalto
