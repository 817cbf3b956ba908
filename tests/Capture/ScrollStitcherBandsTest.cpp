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

// A program's position alone at the right of its bottom line, `rows` high from row `top`, as an
// editor's ruler shows it: no bar, the page's own white.
void drawRuler(QImage& frame, int top, int rows, const char* text) {
    QPainter painter(&frame);
    painter.fillRect(0, top, frame.width(), rows, Qt::white);
    QFont font(QStringLiteral("DejaVu Sans Mono"));
    font.setPixelSize(11);
    painter.setFont(font);
    painter.setPen(Qt::black);
    painter.drawText(QRect(236, top, 40, rows), Qt::AlignVCenter, QString::fromLatin1(text));
}

// A block cursor at one place on the screen, over whatever lies there.
void drawCursor(QImage& frame) {
    for (int y = 40; y < 54; ++y)
        for (int x = 4; x < 13; ++x) frame.setPixel(x, y, frame.pixel(x, y) ^ 0xffffffu);
}

TEST(ScrollStitcherBands, StillBarsComeInOnceAndEveryRowOfThePageOnce) {
    const int footer = 30, header = 24;
    // The footer stays the same, or is a status line whose text changes, or a ruler's few changing
    // characters, which over rows the page leaves blank differ from them in no more than a cell.
    enum Bottom { still, status, ruler };
    const struct {
        const char* name;
        QImage page;
        std::vector<int> tops;  // grab tops on the page, in grab order
        int footerFrom;         // the first grab that shows the footer; past the last for none
        bool header;
        Bottom bottom = still;
        bool cursor = false;    // a cursor block at one place on the screen
    } cases[] = {
        {"a still footer over look-alike lines", scrollTextPageImage(ScrollText::numbered, kWidth, 1200, 18),
         {0, 70, 150, 260, 330, 400}, 0, false},
        {"a sticky header and a still footer", wordsPage(), {0, 60, 130, 210, 300, 380}, 0, true},
        {"blank rows that agree at the bottom", wordsPage({{150, 260}, {520, 640}}), {0, 40, 100, 190, 300, 380, 440}, 99, false},
        {"a footer that appears in new rows", wordsPage(), {0, 70, 140, 210, 280, 350}, 3, false},
        {"a footer that appears over shown rows", wordsPage(), {0, 70, 140, 160, 230, 300}, 3, false},
        {"a still footer, scrolling up", wordsPage(), {600, 530, 430, 340, 260}, 0, false},
        {"a sticky header and a footer, scrolling up", wordsPage(), {600, 530, 460, 390, 320, 250}, 0, true},
        {"a sticky header and a footer, down and then up past the start", wordsPage(), {300, 370, 440, 380, 310, 240, 170, 100}, 0, true},
        {"a status line over look-alike lines", scrollTextPageImage(ScrollText::numbered, kWidth, 1200, 18),
         {0, 70, 150, 260, 330, 400}, 0, false, status},
        {"a status line and a cursor", scrollTextPageImage(ScrollText::numbered, kWidth, 1200, 18),
         {0, 70, 150, 250, 330, 400}, 0, false, status, true},
        {"a ruler over rows the page leaves blank", wordsPage({{170, 200}, {240, 270}, {310, 340}, {380, 410}}),
         {0, 70, 140, 210, 280}, 0, false, ruler},
        {"a single grab", wordsPage(), {100}, 0, true},
    };
    for (const auto& c : cases) {
        TestFolder dir;
        ScrollStitcher s(dir / "staging", {512 << 20, 512 << 20, 100'000});
        const auto footerText = [&](std::size_t i) -> std::string {
            if (c.bottom == ruler) return std::to_string(10 + 7 * i) + "%";
            return c.bottom == still ? "Cookies: Accept" : i % 2 ? "Ln 1, 20%" : "Ln 14, 3%";
        };
        const auto drawFooter = [&](QImage& frame, std::size_t i) {
            (c.bottom == ruler ? drawRuler : drawBar)(frame, frame.height() - footer, footer, footerText(i).c_str());
        };
        for (std::size_t i = 0; i < c.tops.size(); ++i) {
            QImage grab = c.page.copy(0, c.tops[i], kWidth, kHeight);
            if (c.header) drawBar(grab, 0, header, "Manual: Contents");
            if (int(i) >= c.footerFrom) drawFooter(grab, i);
            if (c.cursor) drawCursor(grab);
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
        // The footer of the newest grab at the bottom; the cursor where the first grab showed it.
        const auto newest = std::max_element(c.tops.rbegin(), c.tops.rend()).base() - 1 - c.tops.begin();
        if (c.footerFrom < int(c.tops.size())) drawFooter(expected, std::size_t(newest));
        if (c.cursor) {
            QImage first = expected.copy(0, c.tops[0] - top, kWidth, kHeight);
            drawCursor(first);
            QPainter(&expected).drawImage(0, c.tops[0] - top, first);
        }
        EXPECT_EQ(s.maxY() - s.minY(), bottom - top) << c.name;
        EXPECT_FALSE(s.partial()) << c.name;
        const QImage composed = s.compose();
        EXPECT_TRUE(sameRgb(composed, expected)) << c.name;
        EXPECT_TRUE(sameRgb(s.compose(), composed)) << c.name << ": composed again";
    }
}

// Where the rows prove no shift (the content changes in more places than a cursor's cells), the
// signatures or the user place the grabs: a status line is held back all the same and comes in
// once, at the bottom.
TEST(ScrollStitcherBands, AStatusLineComesInOnceWhereTheRowsProveNoShift) {
    const int footer = 30;
    const QImage page = wordsPage();
    const std::vector<int> tops = {0, 70, 150, 230, 300};
    for (const bool byHand : {false, true}) {
        TestFolder dir;
        ScrollStitcher s(dir / "staging", {512 << 20, 512 << 20, 100'000});
        for (std::size_t i = 0; i < tops.size(); ++i) {
            QImage grab = page.copy(0, tops[i], kWidth, kHeight);
            drawBar(grab, kHeight - footer, footer, i % 2 ? "Ln 1, 20%" : "Ln 14, 3%");
            for (int k = 0; k < 3; ++k)  // marks that change colour at every step
                QPainter(&grab).fillRect(20 + 100 * k, 20 + 45 * k, 8, 10, QColor::fromHsv(int(i) * 50 + k * 20, 255, 200));
            const auto manual = byHand && i ? std::optional<int>(tops[i] - tops[i - 1]) : std::nullopt;
            ASSERT_EQ(s.append(grab, manual).kind, i ? Kind::accepted : Kind::first) << byHand << ", grab " << i << ": " << s.status();
        }
        const QImage composed = s.compose().convertToFormat(QImage::Format_RGB32);
        ASSERT_EQ(composed.height(), tops.back() + kHeight);
        int bars = 0;
        for (int y = 0; y < composed.height(); ++y)
            bars += composed.pixel(2, y) == qRgb(30, 50, 80) && (y == 0 || composed.pixel(2, y - 1) != qRgb(30, 50, 80));
        EXPECT_EQ(bars, 1) << (byHand ? "by hand" : "by the signatures");
        QImage newest = page.copy(0, tops.back(), kWidth, kHeight);  // its bar, drawn once at the bottom
        drawBar(newest, kHeight - footer, footer, (tops.size() - 1) % 2 ? "Ln 1, 20%" : "Ln 14, 3%");
        EXPECT_TRUE(sameRgb(composed.copy(0, composed.height() - footer, kWidth, footer), newest.copy(0, kHeight - footer, kWidth, footer)));
    }
}

}  // namespace
}  // namespace brevalto
