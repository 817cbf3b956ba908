// Bands that stand still at the view's edges while the page scrolls under them: a footer fixed to
// the bottom, a sticky header, blank rows that happen to agree. The stitched image holds every row
// of the page once, and a bar once, where the page shows it.
#include "Capture/ScrollStitcher.h"
#include "ScrollPage.h"
#include "TestFolder.h"

#include <gtest/gtest.h>

#include <QPainter>

#include <random>

namespace brevalto {
namespace {

using Kind = ScrollStitcher::Outcome::Kind;

constexpr int kWidth = 320, kHeight = 200;

// Lines of "words" on white, one every 18 rows, with rows [from, to) of each blank range white.
QImage wordsPage(std::vector<std::pair<int, int>> blank = {}) {
    QImage page(kWidth, 1200, QImage::Format_RGB32);
    page.fill(Qt::white);
    std::mt19937 rng(5);
    for (int line = 3; line + 12 <= page.height(); line += 18)
        for (int x = 4 + int(rng() % 16), word = 0; x < kWidth - 8; x += word + 4 + int(rng() % 14)) {
            word = 6 + int(rng() % 40);
            for (int y = line; y < line + 12; ++y)
                for (int i = x; i < std::min(x + word, kWidth); ++i)
                    if (rng() % 3) page.setPixel(i, y, qRgb(int(rng() % 80), int(rng() % 80), int(rng() % 120)));
        }
    for (const auto& [from, to] : blank) QPainter(&page).fillRect(0, from, kWidth, to - from, Qt::white);
    return page;
}

// A bar with a title across the frame, `rows` high from row `top`.
void drawBar(QImage& frame, int top, int rows, const char* title) {
    QPainter painter(&frame);
    painter.fillRect(0, top, frame.width(), rows, QColor(30, 50, 80));
    painter.setPen(Qt::white);
    painter.drawText(QRect(12, top, 280, rows), Qt::AlignVCenter, QString::fromLatin1(title));
}

TEST(ScrollStitcherBands, StillBarsComeInOnceAndEveryRowOfThePageOnce) {
    const int footer = 30, header = 24;
    const struct {
        const char* name;
        QImage page;
        std::vector<int> tops;  // grab tops on the page, in grab order
        int footerFrom;         // the first grab that shows the footer; past the last for none
        bool header;
    } cases[] = {
        {"a still footer over look-alike lines", scrollTextPageImage(ScrollText::numbered, kWidth, 1200, 18),
         {0, 70, 150, 260, 330, 400}, 0, false},
        {"a sticky header and a still footer", wordsPage(), {0, 60, 130, 210, 300, 380}, 0, true},
        {"blank rows that agree at the bottom", wordsPage({{150, 260}, {520, 640}}), {0, 40, 100, 190, 300, 380, 440}, 99, false},
        {"a footer that appears in new rows", wordsPage(), {0, 70, 140, 210, 280, 350}, 3, false},
        {"a footer that appears over shown rows", wordsPage(), {0, 70, 140, 160, 230, 300}, 3, false},
        {"a still footer, scrolling up", wordsPage(), {600, 530, 430, 340, 260}, 0, false},
        {"a single grab", wordsPage(), {100}, 0, true},
    };
    for (const auto& c : cases) {
        TestFolder dir;
        ScrollStitcher s(dir / "staging", {512 << 20, 512 << 20, 100'000});
        for (std::size_t i = 0; i < c.tops.size(); ++i) {
            QImage grab = c.page.copy(0, c.tops[i], kWidth, kHeight);
            if (c.header) drawBar(grab, 0, header, "Manual: Contents");
            if (int(i) >= c.footerFrom) drawBar(grab, kHeight - footer, footer, "Cookies: Accept");
            const auto outcome = s.append(grab);
            ASSERT_EQ(outcome.kind, i ? Kind::accepted : Kind::first) << c.name << ", grab " << i << ": " << s.status();
            if (i && c.tops[i] > c.tops[i - 1]) {
                EXPECT_EQ(outcome.rows, c.tops[i] - c.tops[i - 1]) << c.name << ": how far the content moved";
            }
        }
        const int top = *std::min_element(c.tops.begin(), c.tops.end());
        const int bottom = *std::max_element(c.tops.begin(), c.tops.end()) + kHeight;
        QImage expected = c.page.copy(0, top, kWidth, bottom - top);
        if (c.header) drawBar(expected, 0, header, "Manual: Contents");
        if (c.footerFrom < int(c.tops.size())) drawBar(expected, expected.height() - footer, footer, "Cookies: Accept");
        EXPECT_EQ(s.maxY() - s.minY(), bottom - top) << c.name;
        EXPECT_FALSE(s.partial()) << c.name;
        const QImage composed = s.compose();
        EXPECT_TRUE(sameRgb(composed, expected)) << c.name;
        EXPECT_TRUE(sameRgb(s.compose(), composed)) << c.name << ": composed again";
    }
}

}  // namespace
}  // namespace brevalto
