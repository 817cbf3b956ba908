// Bands that stand still at the view's edges while the page scrolls under them: a footer fixed to
// the bottom, a sticky header, blank rows that happen to agree. The stitched image holds every row
// of the page once, and a bar once, where the page shows it.
#include "Capture/ScrollStitcher.h"
#include "ScrollPage.h"
#include "TestFolder.h"

#include <gtest/gtest.h>

#include <QPainter>

#include <functional>
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
    // A bar of keys cut by the view: its first 9 rows.
    enum Bottom { still, status, ruler, cut };
    // The header stays the same, or is a title line whose counter changes at every step.
    enum Top { none, sticky, title };
    const struct {
        const char* name;
        QImage page;
        std::vector<int> tops;  // grab tops on the page, in grab order
        int footerFrom;         // the first grab that shows the footer; past the last for none
        Top header;
        Bottom bottom = still;
        bool cursor = false;    // a cursor block at one place on the screen
    } cases[] = {
        {"a still footer over look-alike lines", scrollTextPageImage(ScrollText::numbered, kWidth, 1200, 18),
         {0, 70, 150, 260, 330, 400}, 0, none},
        {"a sticky header and a still footer", wordsPage(), {0, 60, 130, 210, 300, 380}, 0, sticky},
        {"blank rows that agree at the bottom", wordsPage({{150, 260}, {520, 640}}), {0, 40, 100, 190, 300, 380, 440}, 99, none},
        {"a footer that appears in new rows", wordsPage(), {0, 70, 140, 210, 280, 350}, 3, none},
        {"a footer that appears over shown rows", wordsPage(), {0, 70, 140, 160, 230, 300}, 3, none},
        {"a still footer, scrolling up", wordsPage(), {600, 530, 430, 340, 260}, 0, none},
        {"a sticky header and a footer, scrolling up", wordsPage(), {600, 530, 460, 390, 320, 250}, 0, sticky},
        {"a sticky header and a footer, down and then up past the start", wordsPage(), {300, 370, 440, 380, 310, 240, 170, 100}, 0, sticky},
        {"a title line that changes and a bar of keys cut by the view", wordsPage(), {0, 60, 130, 210, 300, 380}, 0, title, cut},
        {"a title line that changes over look-alike lines", scrollTextPageImage(ScrollText::numbered, kWidth, 1200, 18),
         {0, 70, 150, 260, 330, 400}, 0, title, cut},
        {"a title line that changes and a bar of keys cut by the view, scrolling up", wordsPage(), {600, 530, 460, 390, 320, 250}, 0, title, cut},
        {"a status line over look-alike lines", scrollTextPageImage(ScrollText::numbered, kWidth, 1200, 18),
         {0, 70, 150, 260, 330, 400}, 0, none, status},
        {"a status line and a cursor", scrollTextPageImage(ScrollText::numbered, kWidth, 1200, 18),
         {0, 70, 150, 250, 330, 400}, 0, none, status, true},
        {"a ruler over rows the page leaves blank", wordsPage({{170, 200}, {240, 270}, {310, 340}, {380, 410}}),
         {0, 70, 140, 210, 280}, 0, none, ruler},
        {"a single grab", wordsPage(), {100}, 0, sticky},
    };
    for (const auto& c : cases) {
        TestFolder dir;
        ScrollStitcher s(dir / "staging", {512 << 20, 512 << 20, 100'000});
        const auto footerText = [&](std::size_t i) -> std::string {
            if (c.bottom == ruler) return std::to_string(10 + 7 * i) + "%";
            return c.bottom == still ? "Cookies: Accept" : i % 2 ? "Ln 1, 20%" : "Ln 14, 3%";
        };
        const auto drawFooter = [&](QImage& frame, std::size_t i) {
            if (c.bottom == cut) return drawBar(frame, frame.height() - 9, 18, "1Help 2Wrap 3Quit");
            (c.bottom == ruler ? drawRuler : drawBar)(frame, frame.height() - footer, footer, footerText(i).c_str());
        };
        const auto drawHeader = [&](QImage& frame, std::size_t i) {
            if (c.header == title) return drawBar(frame, 0, header, ("page.txt " + std::to_string(1316 + 611 * i) + "/16889").c_str());
            if (c.header == sticky) drawBar(frame, 0, header, "Manual: Contents");
        };
        for (std::size_t i = 0; i < c.tops.size(); ++i) {
            QImage grab = c.page.copy(0, c.tops[i], kWidth, kHeight);
            drawHeader(grab, i);
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
        // The header of the grab farthest up at the top, the footer of the one farthest down at the
        // bottom (the newest of those that show it); the cursor where the first grab showed it.
        drawHeader(expected, std::size_t(std::min_element(c.tops.rbegin(), c.tops.rend()).base() - 1 - c.tops.begin()));
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
// signatures or the user place the grabs: a status line is held back all the same and a title
// line whose counter changes too, and each comes in once, the one at the edge the capture moves
// toward from the newest grab, the other from the first; down and up.
TEST(ScrollStitcherBands, AStatusLineComesInOnceWhereTheRowsProveNoShift) {
    const int footer = 30, header = 14;
    const auto title = [](std::size_t i) { return "page.txt " + std::to_string(1316 + 611 * i) + "/16889"; };
    const auto status = [](std::size_t i) { return i % 2 ? "Ln 1, 20%" : "Ln 14, 3%"; };
    const QImage page = wordsPage();
    for (const bool up : {false, true})
        for (const bool byHand : {false, true}) {
            const std::string where = std::string(up ? "up, " : "down, ") + (byHand ? "by hand" : "by the signatures");
            const std::vector<int> tops = up ? std::vector<int>{300, 240, 180, 120, 60, 0} : std::vector<int>{0, 70, 150, 230, 300};
            TestFolder dir;
            ScrollStitcher s(dir / "staging", {512 << 20, 512 << 20, 100'000});
            for (std::size_t i = 0; i < tops.size(); ++i) {
                QImage grab = page.copy(0, tops[i], kWidth, kHeight);
                drawBar(grab, kHeight - footer, footer, status(i));
                drawBar(grab, 0, header, title(i).c_str());
                for (int k = 0; k < 3; ++k)  // marks that change colour at every step
                    QPainter(&grab).fillRect(20 + 100 * k, 20 + 45 * k, 8, 10, QColor::fromHsv(int(i) * 50 + k * 20, 255, 200));
                const auto manual = byHand && i ? std::optional<int>(tops[i] - tops[i - 1]) : std::nullopt;
                ASSERT_EQ(s.append(grab, manual).kind, i ? Kind::accepted : Kind::first) << where << ", grab " << i << ": " << s.status();
            }
            const QImage composed = s.compose().convertToFormat(QImage::Format_RGB32);
            ASSERT_EQ(composed.height(), 300 + kHeight) << where;
            int bars = 0;
            for (int y = 0; y < composed.height(); ++y)
                bars += composed.pixel(2, y) == qRgb(30, 50, 80) && (y == 0 || composed.pixel(2, y - 1) != qRgb(30, 50, 80));
            EXPECT_EQ(bars, 2) << where;
            const std::size_t topmost = up ? tops.size() - 1 : 0, lowest = tops.size() - 1 - topmost;
            QImage first = page.copy(0, 0, kWidth, kHeight), last = page.copy(0, 300, kWidth, kHeight);
            drawBar(first, 0, header, title(topmost).c_str());
            drawBar(last, kHeight - footer, footer, status(lowest));
            EXPECT_TRUE(sameRgb(composed.copy(0, 0, kWidth, header), first.copy(0, 0, kWidth, header))) << where;
            EXPECT_TRUE(sameRgb(composed.copy(0, composed.height() - footer, kWidth, footer), last.copy(0, kHeight - footer, kWidth, footer)))
                << where;
        }
}

// Rows that change beyond what a band (h / 6 rows at an edge) or a cell (a text line high, a few
// cells wide) may be are never taken as either: the shift is refused, or placed without them,
// and every row stored is the page's own. (A cell wider than allowed would otherwise pass, and a
// band's upper lines, alike to the page but for a few narrow glyphs, would be stamped in as cells.)
TEST(ScrollStitcherBands, PastTheirLimitsBandsAndCellsAreRefusedAndNeverStamped) {
    const auto lines = [](QImage& frame, int top, int rows, int pitch, const QString& text) {
        QPainter painter(&frame);
        painter.fillRect(0, top, frame.width(), rows, Qt::white);
        QFont font(QStringLiteral("DejaVu Sans Mono"));
        font.setPixelSize(pitch * 2 / 3);
        painter.setFont(font);
        painter.setPen(Qt::black);
        for (int y = top; y + pitch <= top + rows; y += pitch) painter.drawText(1, y + pitch - pitch / 4, text);
    };
    const struct {
        const char* name;
        QImage page;
        int height;
        std::vector<int> tops;
        std::function<void(QImage&, std::size_t)> draw;  // over grab i
        int band;                                        // rows at the bottom that the output may hold from a grab
        std::optional<bool> refused;                     // whether some grab must be refused; either
    } cases[] = {
        {"an 80-row changing band in a 400-row view", scrollTextPageImage(ScrollText::sparse, kWidth, 2000, 18), 400,
         {0, 90, 180, 270, 360, 450},
         [&](QImage& frame, std::size_t i) { lines(frame, 320, 80, 18, QString::number(7 * i + 3)); }, 80, true},
        {"a cursor cell wider than the limit", scrollTextPageImage(ScrollText::numbered, kWidth, 2000, 18), 300,
         {0, 90, 180, 270},
         [](QImage& frame, std::size_t) {
             for (int y = 92; y < 106; ++y)
                 for (int x = 4; x < 64; ++x) frame.setPixel(x, y, frame.pixel(x, y) ^ 0xffffffu);
         }, 0, true},
        {"a two-line status in a 10-line view", scrollTextPageImage(ScrollText::sparse, kWidth, 2000, 13), 130,
         {0, 39, 78, 117, 156, 195},
         [&](QImage& frame, std::size_t i) { lines(frame, 104, 26, 13, QString::number(11 * i + 5)); }, 26, std::nullopt},
    };
    for (const auto& c : cases) {
        TestFolder dir;
        ScrollStitcher s(dir / "staging", {512 << 20, 512 << 20, 100'000});
        bool refused = false;
        for (std::size_t i = 0; i < c.tops.size() && !refused; ++i) {
            QImage grab = c.page.copy(0, c.tops[i], kWidth, c.height);
            c.draw(grab, i);
            refused = s.append(grab).kind == Kind::stopped;
        }
        EXPECT_EQ(refused, c.refused.value_or(refused)) << c.name << ": " << s.status();
        const QImage composed = s.compose();
        const int rows = composed.height() - c.band;
        EXPECT_TRUE(sameRgb(composed.copy(0, 0, kWidth, rows), c.page.copy(0, c.tops.front(), kWidth, rows)) || c.band == 0) << c.name;
    }
}

}  // namespace
}  // namespace brevalto
