#include "Capture/CaptureError.h"
#include "Capture/ScrollStitcher.h"
#include "Errors/AIError.h"
#include "Platform/AtomicFile.h"
#include "ScrollPage.h"
#include "TestFolder.h"

#include <gtest/gtest.h>

#include <QBuffer>
#include <QImageWriter>
#include <QPainter>

#include <cmath>
#include <functional>
#include <random>

namespace brevalto {
namespace {

namespace fs = std::filesystem;
using Kind = ScrollStitcher::Outcome::Kind;

enum class Page { text, photo, noise, stripes, table, flat, numbered, sparse };

// Synthetic pages: lines of "words" (runs of dark pixels with glyph-like gaps) on white, a smooth
// picture with grain, noise, stripes 4 rows dark and 4 light, one table row repeated every 24
// rows, one colour.
QImage makePage(Page kind, int width, int height, unsigned seed = 7) {
    if (kind == Page::numbered || kind == Page::sparse)
        return scrollTextPageImage(kind == Page::numbered ? ScrollText::numbered : ScrollText::sparse, width, height, 18);
    QImage page(width, height, QImage::Format_RGB32), row(width, 24, QImage::Format_RGB32);
    page.fill(kind == Page::flat ? 0xff285ac8u : 0xffffffffu);
    row.fill(0xffffffffu);
    std::mt19937 rng(seed);
    for (QImage* text : {&row, &page}) {
        if (text == &page && kind != Page::text) break;
        for (int line = text == &row ? 4 : 3; line + 12 <= text->height(); line += text == &row ? 24 : 18)
            for (int x = 4 + int(rng() % 16), word = 0; x < width - 8; x += word + 4 + int(rng() % 14)) {
                word = 6 + int(rng() % 40);
                const QRgb ink = qRgb(int(rng() % 80), int(rng() % 80), int(rng() % 120));
                for (int y = line; y < line + 12; ++y)
                    for (int i = x; i < std::min(x + word, width); ++i)
                        if (rng() % 3) text->setPixel(i, y, ink);
            }
    }
    const auto grain = [&](double c) { return std::clamp(int(std::lround(c + int(rng() % 9) - 4)), 0, 255); };
    for (int y = 0; y < height && kind != Page::text && kind != Page::flat; ++y)
        for (int x = 0; x < width; ++x) {
            const double u = x / 90.0, v = y / 70.0;
            const int level = (y / 4) % 2 ? 230 : 30;
            page.setPixel(x, y, kind == Page::photo ? qRgb(grain(128 + 90 * std::sin(u + 1.7 * v)), grain(120 + 80 * std::cos(0.6 * u - v)),
                                                           grain(110 + 70 * std::sin(2.3 * v + 0.4 * u)))
                                : kind == Page::noise   ? qRgb(rng() & 255, rng() & 255, rng() & 255)
                                : kind == Page::stripes ? qRgb(level, level, level)
                                                        : (y % 24 == 23 ? 0xff787878u : row.pixel(x, y % 24)));
        }
    return page;
}

QImage frameAt(const QImage& page, int top, int height) { return page.copy(0, top, page.width(), height); }

// Rows that are all different and have no texture: row y is one colour.
QImage pageRows(int width, int top, int height) {
    QImage rows(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y)
        std::fill_n(reinterpret_cast<QRgb*>(rows.scanLine(y)), width, qRgb((top + y) & 255, ((top + y) >> 8) & 255, 77));
    return rows;
}

// The same premultiplied pixels, whatever the layout or colour space tag.
bool samePixels(QImage a, QImage b) {
    a = a.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    b = b.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    for (int y = 0; a.size() == b.size() && y < a.height(); ++y)
        if (std::memcmp(a.constScanLine(y), b.constScanLine(y), std::size_t(a.width()) * 4) != 0) return false;
    return a.size() == b.size();
}

std::optional<int> searched(const QImage& previous, const QImage& current) {
    const auto found = ScrollStitcher::findDisplacement(ScrollFrameSignature(previous), ScrollFrameSignature(current));
    return found ? std::optional<int>(found->displacement) : std::nullopt;
}

template <class Error>
std::string messageOf(const std::function<void()>& action) {
    try {
        action();
    } catch (const Error& e) {
        return e.what();
    }
    return "no error";
}

struct Capture {
    TestFolder dir;
    ScrollStitcher stitcher;
    explicit Capture(ScrollBudget budget = {512 << 20, 512 << 20, 100'000}) : stitcher(dir / "staging", budget) {}
};

TEST(ScrollFrameSignature, SqueezesColumnsOverWhiteAndKeepsEveryRow) {
    const struct {
        const char* name;
        int width;
        std::function<QRgb(int)> pixel;    // by frame column
        std::function<int(int)> expected;  // by signature column
    } cases[] = {
        {"one pixel a column", 48, [](int x) { return qRgb(x * 5, 255 - x * 5, x); },
         [](int j) { return int(scrollLuma(j * 5, 255 - j * 5, j)); }},
        {"pairs averaged, half up", 96, [](int x) { return x % 2 ? qRgb(255, 255, 255) : qRgb(0, 0, 0); }, [](int) { return 128; }},
        {"1000 pixels a column", 48'000, [](int x) { return x % 2 ? qRgb(255, 255, 255) : qRgb(0, 0, 0); }, [](int) { return 128; }},
        {"stretched", 24, [](int x) { return qRgb(x * 10, x * 10, x * 10); }, [](int j) { return (j / 2) * 10; }},
        {"a pixel split by two columns", 72, [](int x) { return x % 3 == 1 ? qRgb(0, 0, 0) : qRgb(255, 255, 255); },
         [](int) { return 170; }},
        {"transparent is white", 48, [](int) { return qRgba(0, 0, 0, 0); }, [](int) { return 255; }},
        {"half transparent black", 48, [](int) { return qRgba(0, 0, 0, 128); }, [](int) { return 127; }},
    };
    for (const auto& c : cases) {
        QImage frame(c.width, 3, c.width > 100 ? QImage::Format_RGB32 : QImage::Format_ARGB32);
        for (int x = 0; x < c.width; ++x)
            for (int y = 0; y < 3; ++y) frame.setPixel(x, y, c.pixel(x));
        const ScrollFrameSignature signature(frame);
        ASSERT_EQ(signature.values.size(), 48u * 3) << c.name;
        for (int j = 0; j < 48; ++j) EXPECT_NEAR(signature.values[96 + j], c.expected(j), 1) << c.name << " " << j;
    }
    for (const QImage& bad : {QImage(), QImage(10, 16'385, QImage::Format_RGB32)})
        EXPECT_EQ(messageOf<AIError>([&] { ScrollFrameSignature{bad}; }), "Could not inspect the scrolling frame");
    EXPECT_EQ(ScrollFrameSignature(pageRows(2, 0, 16'384)).height, 16'384);

    // The difference of two grabs looks at the middle 80 % of the rows only.
    const QImage page = makePage(Page::text, 400, 600);
    const ScrollFrameSignature a(frameAt(page, 0, 300));
    const auto difference = [&](const QImage& b) { return ScrollFrameSignature::difference(a, ScrollFrameSignature(b)); };
    EXPECT_EQ(difference(frameAt(page, 0, 300)), 0.0);
    EXPECT_EQ(difference(frameAt(page, 0, 299)), 1.0);
    EXPECT_GT(difference(frameAt(page, 40, 300)), 0.003);
    QImage toolbar = frameAt(page, 0, 300);  // a change in the top tenth does not count
    for (int y = 0; y < 29; ++y) std::fill_n(reinterpret_cast<QRgb*>(toolbar.scanLine(y)), 400, 0xff000000u);
    EXPECT_EQ(difference(toolbar), 0.0);
    // A signature of the compared rows alone measures the same, at any height.
    for (const int top : {0, 40, 133}) {
        const QImage b = frameAt(page, top, 300 - top / 2);
        const ScrollFrameSignature compared(b, ScrollFrameSignature::Rows::compared), whole(b), first(frameAt(page, 0, b.height()));
        EXPECT_EQ(ScrollFrameSignature::difference(first, compared), ScrollFrameSignature::difference(first, whole)) << top;
        EXPECT_EQ(compared.values, ScrollFrameSignature::comparedRowsOf(whole.values, whole.height)) << top;
    }
}

TEST(ScrollOverlapSearch, FindsKnownDisplacementsAndRefusesWeakEvidence) {
    const struct {
        const char* name;
        Page page;
        int width, height, previousTop, currentTop;
        std::optional<int> expected;
    } cases[] = {
        {"text down", Page::text, 640, 300, 100, 173, 73},         {"text up", Page::text, 640, 300, 400, 310, -90},
        {"largest shift", Page::text, 640, 300, 0, 240, 240},      {"past it", Page::text, 640, 300, 0, 241, {}},
        {"photo", Page::photo, 500, 240, 50, 111, 61},             {"photo up 2", Page::photo, 500, 240, 300, 298, -2},
        {"noise", Page::noise, 300, 200, 10, 47, 37},              {"narrow noise", Page::noise, 30, 200, 90, 10, -80},
        {"one row", Page::text, 640, 300, 100, 101, {}},
        {"no movement", Page::text, 640, 300, 100, 100, {}},       {"stripes", Page::stripes, 400, 300, 0, 37, {}},
        {"repeated table rows", Page::table, 400, 300, 0, 50, {}}, {"one colour", Page::flat, 400, 300, 0, 50, {}},
        {"64 rows, 16", Page::noise, 200, 64, 100, 116, 16},       {"64 rows, 17", Page::noise, 200, 64, 100, 117, {}},
        {"63 rows", Page::noise, 200, 63, 100, 110, {}},
    };
    for (const auto& c : cases) {
        const QImage page = makePage(c.page, c.width, 1200);
        EXPECT_EQ(searched(frameAt(page, c.previousTop, c.height), frameAt(page, c.currentTop, c.height)), c.expected)
            << c.name;
    }
    const QImage page = makePage(Page::noise, 300, 600);
    EXPECT_EQ(searched(frameAt(page, 0, 200), page.copy(0, 30, 299, 200)), std::nullopt) << "widths differ";
    EXPECT_EQ(searched(frameAt(page, 0, 200), frameAt(page, 30, 201)), std::nullopt) << "heights differ";

    // A quarter of the rows spoiled (a tooltip) is left out of the band scores.
    const ScrollFrameSignature previous(frameAt(page, 100, 300));
    QImage spoiled = frameAt(page, 160, 300);
    for (int y = 0; y < 240; y += 20)
        for (int r = y; r < y + 4; ++r) std::fill_n(reinterpret_cast<QRgb*>(spoiled.scanLine(r)), 300, 0xffff00ffu);
    const ScrollFrameSignature current(spoiled);
    EXPECT_EQ(ScrollStitcher::overlapScore(60, 48, 300, previous.values.data(), 60, 240, current.values.data()), 0.0);
}

// Lines that differ only by their number score alike a line height apart, and numbers in the
// leftmost few percent hardly show in a signature: the pixels decide, and only a shift that alone
// matches them is taken. A page of identical lines proves no shift at all.
TEST(ScrollOverlapSearch, PixelsDecideOnLookAlikeAndSparseLinesAndIdenticalLinesProveNothing) {
    for (const ScrollText kind : {ScrollText::numbered, ScrollText::sparse, ScrollText::identical})
        for (const int line : {16, 19, 24}) {
            const QImage page = scrollTextPageImage(kind, 640, 1200, line);
            for (const int d : {5, line - 1, line, line + 3, 2 * line, 5 * line + 7, -3, -line, -3 * line - 2}) {
                const auto expected = kind == ScrollText::identical ? std::nullopt : std::optional<int>(d);
                EXPECT_EQ(searched(frameAt(page, 400, 300), frameAt(page, 400 + d, 300)), expected)
                    << int(kind) << ", lines of " << line << ", shift " << d;
            }
        }
}

// Code fills the left part of a view and leaves bands of the signature without texture, so the
// scores may favour a wrong shift or none: wherever exactly one shift makes the rows match, that
// one is taken, and no other shift ever is.
TEST(ScrollOverlapSearch, CodeIsJoinedWhereTheRowsProveOneShiftAndNeverWrongly) {
    const QImage prev(BREVALTO_SOURCE_DIR "/tests/Capture/Frames/xterm-code-prev.png");
    const QImage next(BREVALTO_SOURCE_DIR "/tests/Capture/Frames/xterm-code-next.png");
    ASSERT_EQ(prev.size(), QSize(596, 581));
    EXPECT_EQ(searched(prev, next), 260) << "two grabs of a terminal";

    const struct {
        int width, lineHeight, height;
    } listings[] = {{596, 13, 581}, {900, 16, 400}, {1000, 18, 300}};  // the last: scores alone take 149 for 150
    int cases = 0, proven = 0;  // of the sweep: how many the rows proved
    for (const auto& listing : listings) {
        const int h = listing.height, shift = h - std::max(h / 5, 48);
        const QImage page = scrollCodePageImage(listing.width, 3 * h + listing.lineHeight, listing.lineHeight);
        for (int offset = 0; offset < listing.lineHeight; ++offset)
            for (const int step : {h / 4, h / 2, int(0.55 * h), shift})
                for (const int d : {step, -step}) {
                    const QImage previous = frameAt(page, h + offset, h), current = frameAt(page, h + offset + d, h);
                    std::vector<int> matching;
                    for (int k = -shift; k <= shift && matching.size() < 2; ++k)
                        if (ScrollStitcher::overlapMatchesExactly(previous, k, h, current)) matching.push_back(k);
                    const auto found = searched(previous, current);
                    const std::string where = std::to_string(listing.width) + " wide, lines of " +
                                              std::to_string(listing.lineHeight) + ", offset " + std::to_string(offset) +
                                              ", shift " + std::to_string(d);
                    ++cases;
                    if (matching == std::vector<int>{d}) {
                        ++proven;
                        EXPECT_EQ(found, d) << where;
                    } else if (found) {
                        EXPECT_EQ(*found, d) << where;
                    }
                }
    }
    // These listings have no two lines alike, so the rows prove every shift of the sweep: a sweep
    // whose proof failed would check nothing.
    EXPECT_EQ(proven, cases) << proven << " of " << cases << " proven";
}

// Content that changes between grabs proves no shift on the pixels, and the scores' choice holds;
// a band that stays still at the viewport's edge (a sticky header, a toolbar at the bottom) or
// changes in place at its bottom (a status line), and a cursor cell at one place on the screen,
// do not spoil the proof; lines alike but for their number never join a line off.
TEST(ScrollOverlapSearch, ChangedContentKeepsTheScoresChoiceAndStillBandsDoNotSpoilTheProof) {
    const QImage text = makePage(Page::text, 640, 1200);
    QImage caret = frameAt(text, 173, 300);
    for (int y = 40; y < 280; y += 60)  // carets in four places: more than a cursor's cells
        for (int r = y; r < y + 14; ++r) caret.setPixel(300, r, 0xff000000u), caret.setPixel(301, r, 0xff000000u);
    const auto kept = ScrollStitcher::findDisplacement(ScrollFrameSignature(frameAt(text, 100, 300)), ScrollFrameSignature(caret));
    ASSERT_TRUE(kept) << "carets";
    EXPECT_EQ(kept->displacement, 73);
    EXPECT_GT(kept->confidence, 0.55);

    // A bar with a title across rows top ... top + rows; a block cursor at one place on the screen.
    const auto band = [](QImage frame, int top, int rows, const QString& title = QStringLiteral("Manual: Contents")) {
        QPainter painter(&frame);
        painter.fillRect(0, top, frame.width(), rows, QColor(40, 60, 90));
        painter.setPen(Qt::white);
        painter.drawText(QRect(10, top, 300, rows), Qt::AlignVCenter, title);
        return frame;
    };
    const auto cursor = [](QImage frame, int top) {
        for (int y = top; y < top + 14; ++y)
            for (int x = 4; x < 13; ++x) frame.setPixel(x, y, frame.pixel(x, y) ^ 0xffffffu);
        return frame;
    };
    const struct {
        ScrollText kind;
        int top, rows;  // of the band
        bool status;    // the band's text changes from grab to grab, else it stays still
        bool cursor;
        std::vector<int> shifts;
        int proven;  // the shifts up to this far are proven; farther ones keep their shift or find none
        int cursorTop = 90;
    } cases[] = {
        {ScrollText::numbered, 0, 48, false, false, {18, 37, 90, 161, -54}, 161},
        {ScrollText::numbered, 4, 30, false, false, {36, -19}, 36},
        {ScrollText::sparse, 260, 40, false, false, {55, -90}, 90},
        {ScrollText::identical, 0, 48, false, false, {18, 37}, 0},
        {ScrollText::numbered, 274, 26, true, false, {18, 37, 90, 161, -54}, 161},
        {ScrollText::numbered, 276, 24, true, true, {18, 37, 90, 161, -54}, 161},
        // A block cursor right above a status line is no row of it.
        {ScrollText::numbered, 276, 24, true, true, {18, -19, -54, -90}, 90, 246},
        // Past 200 rows too few are compared for a cell to be let differ.
        {ScrollText::numbered, 0, 0, false, true, {18, 36, 90, 180, 230, -54, -226}, 180},
    };
    for (const auto& c : cases) {
        const QImage page = scrollTextPageImage(c.kind, 640, 1200, 18);
        for (const int d : c.shifts) {
            QImage frames[2] = {frameAt(page, 400, 300), frameAt(page, 400 + d, 300)};
            for (int i = 0; i < 2; ++i) {
                if (c.rows) frames[i] = band(frames[i], c.top, c.rows, c.status ? QStringLiteral("Ln %1, Col 1").arg(400 + i * d) : QStringLiteral("Manual: Contents"));
                if (c.cursor) frames[i] = cursor(frames[i], c.cursorTop);
            }
            const auto found = searched(frames[0], frames[1]);
            const std::string where = std::to_string(int(c.kind)) + " under a band at " + std::to_string(c.top) + ", shift " + std::to_string(d);
            if (std::abs(d) <= c.proven) {
                EXPECT_EQ(found, std::optional<int>(d)) << where;
            } else {
                EXPECT_TRUE(!found || *found == d) << where << ": " << *found;
            }
        }
    }

    // Look-alike lines under a sticky header stitch back into the header and the lines below it.
    const QImage page = scrollTextPageImage(ScrollText::numbered, 320, 1200, 18);
    Capture capture;
    auto& s = capture.stitcher;
    for (const int top : {0, 90, 222, 354, 290})
        ASSERT_NE(s.append(band(frameAt(page, top, 240), 0, 40)).kind, Kind::stopped) << top << ": " << s.status();
    QImage expected(320, 594, QImage::Format_RGB32);
    QPainter(&expected).drawImage(0, 0, band(frameAt(page, 0, 240), 0, 40));
    QPainter(&expected).drawImage(0, 240, page.copy(0, 240, 320, 354));
    EXPECT_TRUE(samePixels(s.compose(), expected));
}

// The end of a file as a terminal editor shows it: the last line, then rows of one filler mark
// down to the bottom. Shifts whole lines apart line the filler rows up alike and differ only in
// the cell where the cursor sits; the true shift alone shows the same shapes there, the cursor's
// colours aside, and is taken. A last line that is itself a filler mark leaves them alike: none.
TEST(ScrollOverlapSearch, AtAFilesEndOverFillerRowsTheTrueShiftIsTaken) {
    const auto cursorAt = [](QImage frame, int line) {  // a block cursor inverting the line's first cell
        for (int y = 18 * line; y < 18 * line + 18; ++y)
            for (int x = 4; x < 12; ++x) frame.setPixel(x, y, frame.pixel(x, y) ^ 0xffffffu);
        return frame;
    };
    const struct {
        const char* last;  // the file's last line
        bool cursor;
        std::optional<int> found;
        int line = 5;  // of the previous view that shows the cursor
    } cases[] = {{"}", true, 126}, {"", true, 126}, {"}", false, 126}, {"~", true, std::nullopt},
                 // on the last line in both views: a line off, the one above would pass as a band at the top
                 {"}", true, 126, 7}};
    for (const auto& c : cases) {
        QStringList lines;
        for (int n = 1; n <= 40; ++n) lines << (n % 7 ? QStringLiteral("    value_%1 = check(data, %2);").arg(n).arg(3 * n) : QString());
        lines << QString::fromLatin1(c.last);
        for (int k = 0; k < 20; ++k) lines << QStringLiteral("~");
        const QImage page = scrollLinesImage(480, 61 * 18, 18, 13, 4, lines);
        // The view shows lines 34 ... 41 and filler with the cursor on one line, then line 41 at its top.
        QImage previous = frameAt(page, 33 * 18, 300), current = frameAt(page, 40 * 18, 300);
        if (c.cursor) previous = cursorAt(previous, c.line), current = cursorAt(current, 0);
        EXPECT_EQ(searched(previous, current), c.found) << "last line \"" << c.last << "\", cursor " << c.cursor;
    }
}

TEST(ScrollOverlapSearch, TheExactCheckRescuesAWeakMatchAndRejectsANearOne) {
    // Text repeating every 16 rows, each repeat a shade darker or lighter: a shift one period off
    // scores almost as well as the true one, so only the pixels can decide.
    const QImage unit = makePage(Page::text, 480, 16, 3);
    QImage page(480, 900, QImage::Format_RGB32);
    std::mt19937 rng(11);
    for (int y = 0, shade = 0; y < page.height(); ++y) {
        if (y % 16 == 0) shade = int(rng() % 5);
        for (int x = 0; x < 480; ++x) {
            const QRgb p = unit.pixel(x, y % 16);
            page.setPixel(x, y, qRgb(std::max(qRed(p) - shade, 0), std::max(qGreen(p) - shade, 0), std::max(qBlue(p) - shade, 0)));
        }
    }
    const QImage previous = frameAt(page, 100, 300), current = frameAt(page, 140, 300);
    const auto found = ScrollStitcher::findDisplacement(ScrollFrameSignature(previous), ScrollFrameSignature(current));
    ASSERT_TRUE(found);
    EXPECT_EQ(found->displacement, 40);
    EXPECT_EQ(found->confidence, 1.0);
    QImage touched = current;
    touched.setPixel(200, 150, touched.pixel(200, 150) ^ 1);
    EXPECT_EQ(searched(previous, touched), 40) << "one pixel off in the overlap: a cell";
    touched.setPixel(20, 60, touched.pixel(20, 60) ^ 1);
    touched.setPixel(400, 100, touched.pixel(400, 100) ^ 1);
    EXPECT_EQ(searched(previous, touched), std::nullopt) << "three pixels off, rows apart";

    // The check itself: the overlapping rows only, byte for byte, whatever the pixel layout.
    const QImage photo = makePage(Page::photo, 200, 400), before = frameAt(photo, 50, 100);
    QImage after = frameAt(photo, 80, 100).convertToFormat(QImage::Format_RGB888);
    const auto exact = [&](int d, const QImage& b) { return ScrollStitcher::overlapMatchesExactly(before, d, 100, b); };
    EXPECT_TRUE(exact(-30, frameAt(photo, 20, 100)));
    EXPECT_FALSE(exact(100, frameAt(photo, 150, 100))) << "no overlap";
    after.setPixel(150, 70, 0);  // below the overlap
    EXPECT_TRUE(exact(30, after));
    for (int y = 0; y < 70; ++y) after.setPixel(199, y, 0);  // a scroll bar at the edge stays put
    EXPECT_TRUE(exact(30, after));
    after.setPixel(150, 69, 0);  // the overlap's last row, at the edge of `before`
    EXPECT_TRUE(exact(30, after));
    after.setPixel(150, 67, 0);  // within the overlap
    EXPECT_FALSE(exact(30, after));
}

TEST(ScrollStitcher, StitchesKnownPagesBackIntoTheirPixels) {
    const struct {
        Page page;
        std::vector<int> tops;  // frame tops on the page, in grab order
        std::vector<int> rows;  // new rows stored per grab after the first
    } cases[] = {
        {Page::text, {0, 70, 150, 148, 300, 450}, {70, 80, 0, 150, 150}},
        {Page::photo, {600, 530, 400, 300}, {70, 130, 100}},  // up past the first grab
        {Page::noise, {200, 320, 250, 210, 360}, {120, 0, 0, 40}},
        {Page::numbered, {0, 30, 150, 90, 240}, {30, 120, 0, 90}},
        {Page::sparse, {600, 570, 450, 560, 420, 300}, {30, 120, 0, 30, 120}},  // up, as a terminal's history
    };
    for (const auto& c : cases) {
        const QImage page = makePage(c.page, 320, 1200);
        Capture capture;
        auto& s = capture.stitcher;
        std::vector<int> rows;
        for (std::size_t i = 0; i < c.tops.size(); ++i) {
            const auto outcome = s.append(frameAt(page, c.tops[i], 200));
            ASSERT_EQ(outcome.kind, i ? Kind::accepted : Kind::first) << c.tops[i] << ": " << s.status();
            if (i) {
                rows.push_back(outcome.rows);
                EXPECT_GT(outcome.confidence, 0.55);
            }
        }
        EXPECT_EQ(rows, c.rows);
        const int top = *std::min_element(c.tops.begin(), c.tops.end());
        const int bottom = *std::max_element(c.tops.begin(), c.tops.end()) + 200;
        EXPECT_EQ(s.minY(), top - c.tops[0]);
        EXPECT_EQ(s.maxY(), bottom - c.tops[0]);
        EXPECT_EQ(s.frames(), int(c.tops.size()));
        EXPECT_FALSE(s.partial());
        EXPECT_TRUE(samePixels(s.compose(), page.copy(0, top, 320, bottom - top))) << c.tops.size() << " grabs";
    }
}

TEST(ScrollStitcher, RefusalsKeepTheAcceptedPartAndSayWhy) {
    const std::string lost = "Lost overlap near output row 250. Scroll back toward the last accepted frame, then retry.";
    const std::string resized = "Viewport size changed. Finish this capture and select again.";
    const struct {
        const char* name;
        std::function<QImage(const QImage&)> grab;
        std::optional<int> manual;
        Kind kind;
        std::string status;
    } cases[] = {
        {"same grab", [](const QImage& p) { return frameAt(p, 150, 200); }, {}, Kind::noNewContent, "No new content; waiting for scroll"},
        {"same view, edges changed", [](const QImage& p) {
             QImage g = frameAt(p, 150, 200);  // a shade drawn along the bottom, a scroll bar along the side
             for (int x = 0; x < 320; ++x) g.setPixel(x, 199, qRgb(90, 90, 90)), g.setPixel(x, 198, qRgb(x % 7 * 30, 0, 0));
             for (int y = 0; y < 200; ++y) g.setPixel(316, y, qRgb(0, 0, 255));
             return g;
         }, {}, Kind::noNewContent, "No new content; waiting for scroll"},
        {"a caret blinks", [](const QImage& p) {
             QImage g = frameAt(p, 150, 200);
             for (int y = 60; y < 74; ++y) g.setPixel(100, y, qRgb(0, 0, 0)), g.setPixel(101, y, qRgb(0, 0, 0));
             return g;
         }, {}, Kind::noNewContent, "No new content; waiting for scroll"},
        {"changed where signatures do not look", [](const QImage& p) {
             QImage g = frameAt(p, 150, 200);  // marks in the leftmost columns
             for (int y = 60; y < 72; ++y) g.setPixel(1, y, qRgb(0, 0, 0)), g.setPixel(1, y + 40, qRgb(0, 0, 0));
             return g;
         }, {}, Kind::stopped, lost},
        {"taller", [](const QImage& p) { return frameAt(p, 150, 201); }, {}, Kind::stopped, resized},
        {"narrower", [](const QImage& p) { return p.copy(0, 150, 300, 200); }, {}, Kind::stopped, resized},
        {"one row", [](const QImage& p) { return frameAt(p, 151, 200); }, {}, Kind::stopped, lost},
        {"too far", [](const QImage& p) { return frameAt(p, 500, 200); }, {}, Kind::stopped, lost},
        {"one colour", [](const QImage&) { return makePage(Page::flat, 320, 200); }, {}, Kind::stopped, lost},
        {"stripes", [](const QImage&) { return makePage(Page::stripes, 320, 200); }, {}, Kind::stopped, lost},
        {"manual 1", [](const QImage& p) { return frameAt(p, 151, 200); }, 1, Kind::stopped, lost},
        {"manual -1", [](const QImage& p) { return frameAt(p, 149, 200); }, -1, Kind::stopped, lost},
        {"manual 85 %", [](const QImage& p) { return frameAt(p, 320, 200); }, 170, Kind::stopped, lost},
        {"manual -161", [](const QImage& p) { return frameAt(p, 0, 200); }, -161, Kind::stopped, lost},
    };
    const QImage page = makePage(Page::text, 320, 1200);
    for (const auto& c : cases) {
        Capture capture;
        auto& s = capture.stitcher;
        ASSERT_EQ(s.append(frameAt(page, 100, 200)).kind, Kind::first);
        ASSERT_EQ(s.append(frameAt(page, 150, 200)).kind, Kind::accepted);
        const auto stored = std::tuple(s.frames(), s.maxY(), s.strips().size(), s.diskBytes());
        EXPECT_EQ(s.append(c.grab(page), c.manual).kind, c.kind) << c.name;
        EXPECT_EQ(s.status(), c.status) << c.name;
        EXPECT_EQ(s.partial(), c.kind != Kind::noNewContent) << c.name;
        EXPECT_EQ(std::tuple(s.frames(), s.maxY(), s.strips().size(), s.diskBytes()), stored) << c.name;
        EXPECT_EQ(s.maxY(), 250) << c.name;
        EXPECT_EQ(s.append(frameAt(page, 230, 200)).kind, Kind::accepted) << c.name << ": still compared with the last";
        EXPECT_TRUE(samePixels(s.compose(), page.copy(0, 100, 320, 330))) << c.name;
    }
}

// A program may answer the wheel by moving its block cursor down the view before the view
// follows: such a grab is no still view and leaves the status as it was, as many in a row as the
// view holds text lines; then it is one. (Marks that appear in two places are no cursor that
// moved: see "changed where signatures do not look" above.)
TEST(ScrollStitcher, ACursorThatMovesAloneIsNoStillViewForAsManyStepsAsTheViewHasLines) {
    const QImage page = makePage(Page::text, 320, 1200);
    const auto withCursor = [&](int top, int line) {  // a block cursor inverting a cell of the line
        QImage frame = frameAt(page, top, 200);
        for (int y = 18 * line + 2; y < 18 * line + 16; ++y)
            for (int x = 4; x < 12; ++x) frame.setPixel(x, y, frame.pixel(x, y) ^ 0xffffffu);
        return frame;
    };
    const int lines = 200 / 14;  // as many as cursor cells fit in the view
    Capture capture;
    auto& s = capture.stitcher;
    ASSERT_EQ(s.append(withCursor(100, 1)).kind, Kind::first);
    ASSERT_EQ(s.append(withCursor(150, 1)).kind, Kind::accepted);
    const std::string status = s.status();
    for (int step = 1; step <= lines + 1; ++step) {
        const auto outcome = s.append(withCursor(150, 1 + 2 * (step % 4 + 1)));
        EXPECT_EQ(outcome.kind, Kind::noNewContent) << step;
        EXPECT_EQ(outcome.cursorMoved, step <= lines) << step;
        EXPECT_EQ(s.status(), step <= lines ? status : "No new content; waiting for scroll") << step;
    }
    EXPECT_EQ(s.frames(), 2);
    EXPECT_FALSE(s.partial());
    ASSERT_EQ(s.append(withCursor(230, 9)).kind, Kind::accepted) << s.status();
    EXPECT_TRUE(s.append(withCursor(230, 3)).cursorMoved) << "the count starts again from the accepted grab";
    EXPECT_FALSE(s.append(withCursor(230, 9)).cursorMoved) << "the cursor back where it was: still";
}

// A block cursor that stays near the bottom of the view as the page scrolls (an editor that moves
// its cursor down first) is stored once, where the newest grab shows it: the rows a grab showed
// under its cursor come from the next grab, which shows them plainly.
TEST(ScrollStitcher, ACursorLeftBehindIsNotStoredWithThePage) {
    const QImage page = scrollTextPageImage(ScrollText::numbered, 320, 1200, 18);
    const auto cursorAt = [](QImage image, int top) {
        for (int y = top; y < top + 14; ++y)
            for (int x = 4; x < 12; ++x) image.setPixel(x, y, image.pixel(x, y) ^ 0xffffffu);
        return image;
    };
    Capture capture;
    auto& s = capture.stitcher;
    const std::vector<int> tops = {0, 54, 108, 162, 216};
    for (const int top : tops) ASSERT_NE(s.append(cursorAt(frameAt(page, top, 200), 164)).kind, Kind::stopped) << top << ": " << s.status();
    EXPECT_TRUE(samePixels(s.compose(), cursorAt(page.copy(0, 0, 320, 416), 216 + 164)));
}

TEST(ScrollStitcher, AManualDisplacementHoldsWhereTheSearchFindsNothing) {
    const QImage top = makePage(Page::text, 320, 200, 1), below = makePage(Page::noise, 320, 200, 2);
    Capture capture;
    auto& s = capture.stitcher;
    s.append(top);
    EXPECT_EQ(s.append(below).kind, Kind::stopped) << "unrelated grabs: nothing to find";
    const auto outcome = s.append(below, 160);  // the most a grab may move: 4/5 of 200
    EXPECT_EQ(std::tuple(outcome.kind, outcome.rows, outcome.confidence), std::tuple(Kind::accepted, 160, 0.0));
    EXPECT_EQ(s.status(), "Manual alignment: inspect the seam before sharing.");
    EXPECT_TRUE(s.partial());
    const QImage composed = s.compose();
    EXPECT_TRUE(samePixels(composed.copy(0, 0, 320, 200), top));
    EXPECT_TRUE(samePixels(composed.copy(0, 200, 320, 160), below.copy(0, 40, 320, 160)));
    EXPECT_EQ(s.append(below, -2).kind, Kind::accepted) << "identical grabs placed by hand";
}

TEST(ScrollStitcher, EachBudgetHoldsAtItsLimitAndRefusesOneRowPast) {
    const struct {
        const char* name;
        ScrollBudget budget;
        int width, height, limitRows;
    } cases[] = {
        {"height", {16 << 20, 1 << 20, 500}, 64, 100, 500},
        {"memory", {16 << 20, 64 << 20, 100'000}, 2048, 100, 924},       // 8 x 2048 x (100 + 924) = 16 MiB
        {"area", {1'000'000'000, 64 << 20, 100'000}, 40'000, 100, 1000},  // 40,000,000 pixels
    };
    for (const auto& c : cases) {
        Capture capture(c.budget);
        auto& s = capture.stitcher;
        ASSERT_EQ(s.append(pageRows(c.width, 0, c.height)).kind, Kind::first) << c.name;
        int top = 0;
        for (int step; (step = std::min(80, c.limitRows - 2 - c.height - top)) > 0; top += step)
            ASSERT_EQ(s.append(pageRows(c.width, top + step, c.height), step).kind, Kind::accepted) << c.name;
        EXPECT_EQ(s.append(pageRows(c.width, top + 3, c.height), 3).kind, Kind::budgetReached) << c.name;
        EXPECT_EQ(s.status(), "Memory/height budget reached. Finish to save the valid part.") << c.name;
        EXPECT_EQ(s.maxY(), c.limitRows - 2) << c.name;
        ASSERT_EQ(s.append(pageRows(c.width, top + 2, c.height), 2).kind, Kind::accepted) << c.name;
        if (c.width * c.limitRows <= 4'000'000) {
            EXPECT_TRUE(samePixels(s.compose(), pageRows(c.width, 0, c.limitRows)));
        }
    }
    // The first grab: 16 x w x h within the memory, h within the height and its strip within the
    // disk budget; and the budget itself.
    const std::string memory = "The first frame exceeds the scrolling memory budget. Select a smaller viewport.";
    const struct {
        ScrollBudget budget;
        QImage grab;
        std::string error;
    } firsts[] = {
        {{16 << 20, 8 << 20, 100'000}, pageRows(1024, 0, 1024), "no error"},
        {{16 << 20, 8 << 20, 100'000}, pageRows(1024, 0, 1025), memory},
        {{16 << 20, 1 << 20, 99}, pageRows(64, 0, 100), memory},
        {{16 << 20, 1 << 20, 100'000}, makePage(Page::noise, 600, 600), "The first frame exceeds the disk budget"},
    };
    for (const auto& c : firsts) {
        Capture capture(c.budget);
        EXPECT_EQ(messageOf<AIError>([&] { capture.stitcher.append(c.grab); }), c.error);
        EXPECT_EQ(capture.stitcher.frames(), c.error == "no error" ? 1 : 0);
        EXPECT_TRUE(capture.stitcher.strips().empty()) << "a first grab is held until a second shows its rows";
    }
    TestFolder dir;
    for (const ScrollBudget bad : {ScrollBudget{(16 << 20) - 1, 1 << 20, 1}, ScrollBudget{16 << 20, (1 << 20) - 1, 1},
                                   ScrollBudget{16 << 20, 1 << 20, 0}})
        EXPECT_EQ(messageOf<AIError>([&] { ScrollStitcher(dir / "staging", bad); }), "Invalid scrolling memory/disk budget");
    EXPECT_FALSE(fs::exists(dir / "staging"));
}

TEST(ScrollStitcher, TheDiskBudgetCountsStripBytesExactly) {
    // After the second grab, 400 rows down: the rows that both show are stored, from 400 plus
    // the edge rows (600 / 64) down to 600 less them; the rows above and below are held, and
    // counted as the strips they would make when the grab is accepted, so that composing never
    // refuses them.
    const QImage page = makePage(Page::noise, 600, 1400);  // noise does not compress
    const std::int64_t stored = ScrollStitcher::encodeStrip(frameAt(page, 0, 409)).size() +
                                   ScrollStitcher::encodeStrip(page.copy(0, 409, 600, 182)).size() +
                                   ScrollStitcher::encodeStrip(page.copy(0, 591, 600, 409)).size();
    ASSERT_GE(stored, 1 << 20);
    for (const std::int64_t disk : {stored, stored - 1}) {
        Capture capture({64 << 20, disk, 100'000});
        auto& s = capture.stitcher;
        s.append(frameAt(page, 0, 600));
        const bool fits = s.append(frameAt(page, 400, 600)).kind == Kind::accepted;
        EXPECT_EQ(fits, disk == stored);
        EXPECT_EQ(s.append(frameAt(page, fits ? 800 : 400, 600)).kind, Kind::budgetReached);
        EXPECT_EQ(s.status(), "Disk budget reached. Finish to save the valid part.");
        EXPECT_LE(s.diskBytes(), disk);
        EXPECT_TRUE(samePixels(s.compose(), page.copy(0, 0, 600, fits ? 1000 : 600))) << "the stored part";
    }
}

TEST(ScrollStitcher, LostStagingNeverYieldsACorruptImage) {
    const std::string unavailable = "A staging strip is unavailable. No output was committed.";
    const QImage page = makePage(Page::text, 320, 1200);
    for (const char* loss : {"folder", "strip", "damaged strip", "staging removed"}) {
        Capture capture;
        auto& s = capture.stitcher;
        s.append(frameAt(page, 0, 200));
        ASSERT_EQ(s.append(frameAt(page, 90, 200)).kind, Kind::accepted);
        const std::string what = loss;
        if (what == "folder") {  // the next write fails and nothing moves
            fs::remove_all(s.folder());
            EXPECT_THROW(s.append(frameAt(page, 180, 200)), FileError);
            EXPECT_EQ(std::tuple(s.frames(), s.maxY(), s.strips().size()), std::tuple(2, 290, 1u));
        } else if (what == "staging removed") {
            s.removeStaging();
        } else if (what == "strip") {
            fs::remove(s.strips().back().url);
        } else {
            AtomicFile::write(s.strips().back().url, ScrollStitcher::encodeStrip(frameAt(page, 0, 89)));
        }
        EXPECT_EQ(messageOf<AIError>([&] { s.compose(); }), unavailable) << loss;
    }
    Capture capture;
    EXPECT_EQ(messageOf<AIError>([&] { capture.stitcher.compose(); }),
              "Scrolling needs at least one accepted frame within the memory budget.");
    std::stop_source cancelled;
    cancelled.request_stop();
    EXPECT_THROW(capture.stitcher.append(frameAt(page, 0, 200), {}, cancelled.get_token()), CaptureCancelled);
    EXPECT_EQ(capture.stitcher.frames(), 0);
    capture.stitcher.append(frameAt(page, 0, 200));
    EXPECT_THROW(capture.stitcher.compose(cancelled.get_token()), CaptureCancelled);
}

TEST(ScrollStitcher, StripsAreBarePNGOfTheGrabPixels) {
    QImage grab = makePage(Page::photo, 120, 80);
    grab.setColorSpace(QColorSpace(QColorSpace::DisplayP3));
    grab.setText(QStringLiteral("Title"), QStringLiteral("secret"));
    const QByteArray png = ScrollStitcher::encodeStrip(grab);
    for (const char* chunk : {"iCCP", "gAMA", "cHRM", "sRGB", "tEXt", "zTXt", "iTXt"}) EXPECT_FALSE(png.contains(chunk)) << chunk;
    EXPECT_TRUE(samePixels(QImage::fromData(png, "png"), grab));
    Capture capture;
    capture.stitcher.append(grab);
    const QImage composed = capture.stitcher.compose();
    EXPECT_EQ(composed.colorSpace(), QColorSpace(QColorSpace::DisplayP3));
    EXPECT_TRUE(samePixels(composed, grab)) << "a single grab composes to itself, unconverted";
}

// Strips of every pixel format read back as the general PNG writer's files do: opaque pixels
// exactly, translucent ones through the same straight-alpha round trip.
TEST(ScrollStitcher, StripsReadBackAsTheGeneralWriterStoresThem) {
    const QImage photo = makePage(Page::photo, 97, 40);
    QImage translucent = photo.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < translucent.height(); ++y)
        for (int x = 0; x < translucent.width(); ++x)
            translucent.setPixel(x, y, (translucent.pixel(x, y) & 0xffffffu) | (std::uint32_t((x * 7 + y * 3) % 256) << 24));
    const QImage cases[] = {photo, photo.convertToFormat(QImage::Format_ARGB32_Premultiplied), translucent,
                            translucent.convertToFormat(QImage::Format_ARGB32_Premultiplied),
                            photo.convertToFormat(QImage::Format_RGB888), makePage(Page::flat, 1, 1)};
    for (const QImage& image : cases) {
        QByteArray reference;
        QBuffer buffer(&reference);
        buffer.open(QIODevice::WriteOnly);
        ASSERT_TRUE(QImageWriter(&buffer, "png").write(image));
        const QImage strip = QImage::fromData(ScrollStitcher::encodeStrip(image), "png");
        ASSERT_FALSE(strip.isNull()) << image.format();
        EXPECT_TRUE(samePixels(strip, QImage::fromData(reference, "png"))) << image.format();
        EXPECT_EQ(strip.hasAlphaChannel(), image.format() != QImage::Format_RGB888 && image.pixel(5 % image.width(), 0) >> 24 != 255);
    }
}

}  // namespace
}  // namespace brevalto
