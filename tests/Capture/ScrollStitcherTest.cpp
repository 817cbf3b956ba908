#include "Capture/CaptureError.h"
#include "Capture/ScrollFrameSignature.h"
#include "Capture/ScrollStitcher.h"
#include "Errors/AIError.h"
#include "Platform/AtomicFile.h"
#include "TestFolder.h"

#include <QImage>

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <random>
#include <sys/stat.h>

namespace brevalto {
namespace {

namespace fs = std::filesystem;
using Kind = ScrollStitcher::Outcome::Kind;

// ---- Synthetic pages ----

enum class Page { text, photo, noise, stripes, table, flat };

// A page of lines of "words": short dark runs with glyph-like gaps, on white.
void drawTextRows(QImage& page, int top, int bottom, std::mt19937& rng, int lineHeight = 18) {
    for (int line = top; line + 12 <= bottom; line += lineHeight) {
        for (int x = 4 + static_cast<int>(rng() % 16); x < page.width() - 8;) {
            const int word = 6 + static_cast<int>(rng() % 40);
            const QRgb ink = qRgb(static_cast<int>(rng() % 80), static_cast<int>(rng() % 80), static_cast<int>(rng() % 120));
            for (int y = line; y < line + 12; ++y) {
                auto* row = reinterpret_cast<QRgb*>(page.scanLine(y));
                for (int i = x; i < std::min(x + word, page.width()); ++i)
                    if (rng() % 3) row[i] = ink;
            }
            x += word + 4 + static_cast<int>(rng() % 14);
        }
    }
}

QImage makePage(Page kind, int width, int height, unsigned seed = 7) {
    QImage page(width, height, QImage::Format_RGB32);
    page.fill(Qt::white);
    std::mt19937 rng(seed);
    switch (kind) {
    case Page::text: drawTextRows(page, 3, height, rng); break;
    case Page::photo: {
        std::normal_distribution<double> grain(0, 4);
        for (int y = 0; y < height; ++y) {
            auto* row = reinterpret_cast<QRgb*>(page.scanLine(y));
            for (int x = 0; x < width; ++x) {
                const double u = x / 90.0, v = y / 70.0;
                auto channel = [&](double c) { return std::clamp(static_cast<int>(std::lround(c + grain(rng))), 0, 255); };
                row[x] = qRgb(channel(128 + 90 * std::sin(u + 1.7 * v)), channel(120 + 80 * std::cos(0.6 * u - v)),
                              channel(110 + 70 * std::sin(2.3 * v + 0.4 * u)));
            }
        }
        break;
    }
    case Page::noise:
        for (int y = 0; y < height; ++y) {
            auto* row = reinterpret_cast<QRgb*>(page.scanLine(y));
            for (int x = 0; x < width; ++x) row[x] = qRgb(rng() & 255, rng() & 255, rng() & 255);
        }
        break;
    case Page::stripes:  // four dark rows, four light ones
        for (int y = 0; y < height; ++y) {
            const int level = (y / 4) % 2 ? 230 : 30;
            std::fill_n(reinterpret_cast<QRgb*>(page.scanLine(y)), width, qRgb(level, level, level));
        }
        break;
    case Page::table: {  // one table row of text repeated every 24 rows
        QImage row(width, 24, QImage::Format_RGB32);
        row.fill(Qt::white);
        drawTextRows(row, 4, 24, rng, 24);
        std::fill_n(reinterpret_cast<QRgb*>(row.scanLine(23)), width, qRgb(120, 120, 120));
        for (int y = 0; y < height; ++y)
            std::copy_n(reinterpret_cast<const QRgb*>(row.constScanLine(y % 24)), width, reinterpret_cast<QRgb*>(page.scanLine(y)));
        break;
    }
    case Page::flat: page.fill(qRgb(40, 90, 200)); break;
    }
    return page;
}

QImage frameAt(const QImage& page, int top, int height) { return page.copy(0, top, page.width(), height); }

// The same premultiplied pixels, whatever the layout or colour space tag.
::testing::AssertionResult samePixels(QImage a, QImage b) {
    a = a.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    b = b.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    if (a.size() != b.size())
        return ::testing::AssertionFailure() << a.width() << "x" << a.height() << " vs " << b.width() << "x" << b.height();
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x)
            if (a.pixel(x, y) != b.pixel(x, y))
                return ::testing::AssertionFailure() << "first difference at " << x << "," << y;
    return ::testing::AssertionSuccess();
}

std::optional<int> searched(const QImage& previous, const QImage& current) {
    const auto found = ScrollStitcher::findDisplacement(ScrollFrameSignature(previous), ScrollFrameSignature(current));
    if (!found) return std::nullopt;
    return found->displacement;
}

constexpr ScrollBudget kRoomy{512 << 20, 512 << 20, 100'000};

// ---- Signatures ----

TEST(ScrollFrameSignature, SqueezesColumnsOverWhiteAndKeepsEveryRow) {
    struct Case {
        const char* name;
        int width;
        std::function<QRgb(int)> pixel;  // by column
        std::function<int(int)> expected;  // luma by signature column
    };
    const Case cases[] = {
        {"48 wide: one pixel a column", 48, [](int x) { return qRgb(x * 5, 255 - x * 5, x); },
         [](int j) { return int(scrollLuma(j * 5, 255 - j * 5, j)); }},
        {"96 wide: pairs averaged, rounding half up", 96, [](int x) { return x % 2 ? qRgb(255, 255, 255) : qRgb(0, 0, 0); },
         [](int) { return 128; }},
        {"24 wide: each pixel stretched over two columns", 24, [](int x) { return qRgb(x * 10, x * 10, x * 10); },
         [](int j) { return (j / 2) * 10; }},
        {"72 wide: a pixel split between two columns", 72, [](int x) { return x % 3 == 1 ? qRgb(0, 0, 0) : qRgb(255, 255, 255); },
         [](int) { return 170; }},  // every column: one white pixel and half a black one
        {"transparent reads as white", 48, [](int) { return qRgba(0, 0, 0, 0); }, [](int) { return 255; }},
        {"half transparent black over white", 48, [](int) { return qRgba(0, 0, 0, 128); }, [](int) { return 127; }},
    };
    for (const auto& c : cases) {
        QImage frame(c.width, 3, QImage::Format_ARGB32);
        for (int y = 0; y < 3; ++y)
            for (int x = 0; x < c.width; ++x) frame.setPixel(x, y, c.pixel(x));
        const ScrollFrameSignature signature(frame);
        ASSERT_EQ(signature.height, 3) << c.name;
        ASSERT_EQ(signature.values.size(), 48u * 3) << c.name;
        for (int j = 0; j < 48; ++j) EXPECT_NEAR(signature.values[2 * 48 + j], c.expected(j), 1) << c.name << " column " << j;
    }
    QImage ramp(48, 2, QImage::Format_RGB32);
    ramp.fill(qRgb(10, 200, 30));
    EXPECT_EQ(ScrollFrameSignature(ramp).values.front(), scrollLuma(10, 200, 30));
}

TEST(ScrollFrameSignature, RefusesEmptyAndOverTallFrames) {
    for (const QImage& bad : {QImage(), QImage(10, 16'385, QImage::Format_RGB32)}) {
        try {
            ScrollFrameSignature signature(bad);
            ADD_FAILURE() << "accepted a " << bad.height() << "-row frame";
        } catch (const AIError& e) {
            EXPECT_EQ(e.message(), "Could not inspect the scrolling frame");
        }
    }
    QImage tallest(2, 16'384, QImage::Format_RGB32);
    tallest.fill(Qt::black);
    EXPECT_EQ(ScrollFrameSignature(tallest).height, 16'384);
}

TEST(ScrollFrameSignature, DifferenceSeesMovementOnlyInTheMiddleRows) {
    const QImage page = makePage(Page::text, 400, 600);
    const ScrollFrameSignature a(frameAt(page, 0, 300));
    EXPECT_EQ(ScrollFrameSignature::difference(a, ScrollFrameSignature(frameAt(page, 0, 300))), 0.0);
    EXPECT_EQ(ScrollFrameSignature::difference(a, ScrollFrameSignature(frameAt(page, 0, 299))), 1.0);
    EXPECT_GT(ScrollFrameSignature::difference(a, ScrollFrameSignature(frameAt(page, 40, 300))), 0.003);
    // A change in the top tenth (a blinking caret in a toolbar) does not count.
    QImage toolbar = frameAt(page, 0, 300);
    for (int y = 0; y < 29; ++y)
        for (int x = 0; x < 400; ++x) toolbar.setPixel(x, y, qRgb(0, 0, 0));
    EXPECT_EQ(ScrollFrameSignature::difference(a, ScrollFrameSignature(toolbar)), 0.0);
}

// ---- Scores and the search ----

TEST(ScrollOverlapSearch, FindsKnownDisplacementsAndRefusesWeakEvidence) {
    struct Case {
        const char* name;
        Page page;
        int width, height, previousTop, currentTop;
        std::optional<int> expected;
    };
    const Case cases[] = {
        {"text, scrolled down", Page::text, 640, 300, 100, 173, 73},
        {"text, scrolled up", Page::text, 640, 300, 400, 310, -90},
        {"text, largest shift", Page::text, 640, 300, 0, 240, 240},
        {"text, past the largest shift", Page::text, 640, 300, 0, 241, std::nullopt},
        {"photo", Page::photo, 500, 240, 50, 111, 61},
        {"photo, up", Page::photo, 500, 240, 300, 298, -2},
        {"noise", Page::noise, 300, 200, 10, 47, 37},
        {"noise, narrower than the signature", Page::noise, 30, 200, 90, 10, -80},
        {"two rows", Page::text, 640, 300, 100, 102, 2},
        {"one row", Page::text, 640, 300, 100, 101, std::nullopt},
        {"no movement", Page::text, 640, 300, 100, 100, std::nullopt},
        {"stripes", Page::stripes, 400, 300, 0, 37, std::nullopt},
        {"repeated table rows", Page::table, 400, 300, 0, 50, std::nullopt},
        {"one colour", Page::flat, 400, 300, 0, 50, std::nullopt},
        {"64 rows, shift 16", Page::noise, 200, 64, 100, 116, 16},
        {"64 rows, shift 17", Page::noise, 200, 64, 100, 117, std::nullopt},
        {"63 rows", Page::noise, 200, 63, 100, 110, std::nullopt},
    };
    for (const auto& c : cases) {
        const QImage page = makePage(c.page, c.width, 1200);
        EXPECT_EQ(searched(frameAt(page, c.previousTop, c.height), frameAt(page, c.currentTop, c.height)), c.expected)
            << c.name;
    }
    const QImage page = makePage(Page::noise, 300, 600);
    EXPECT_EQ(searched(frameAt(page, 0, 200), page.copy(0, 30, 299, 200)), std::nullopt) << "different widths";
    EXPECT_EQ(searched(frameAt(page, 0, 200), frameAt(page, 30, 201)), std::nullopt) << "different heights";
}

TEST(ScrollOverlapSearch, ScoresCountOnlyTexturedRowsOfTheBestBands) {
    const QImage page = makePage(Page::text, 480, 800);
    const ScrollFrameSignature previous(frameAt(page, 100, 300)), current(frameAt(page, 160, 300));
    auto score = [&](int d, int minimum = 60, const ScrollFrameSignature* a = nullptr) {
        const auto& p = a ? *a : previous;
        return ScrollStitcher::overlapScore(d, 48, 300, p.values.data(), minimum, 48, current.values.data());
    };
    EXPECT_EQ(score(60), 0.0);
    EXPECT_GT(score(59), 0.035);
    EXPECT_EQ(score(60, 241), 1.0) << "overlap of 240 rows is below the minimum";
    const ScrollFrameSignature flat(makePage(Page::flat, 480, 300));
    EXPECT_EQ(score(0, 60, &flat), 1.0) << "no textured rows";

    // A quarter of the compared rows spoiled (a tooltip across the overlap) still scores 0.
    QImage spoiled = frameAt(page, 160, 300);
    for (int y = 0; y < 240; y += 20)
        for (int r = y; r < y + 4; ++r) std::fill_n(reinterpret_cast<QRgb*>(spoiled.scanLine(r)), 480, qRgb(255, 0, 255));
    const ScrollFrameSignature tooltip(spoiled);
    EXPECT_EQ(ScrollStitcher::overlapScore(60, 48, 300, previous.values.data(), 60, 240, tooltip.values.data()), 0.0);
}

// A page whose text repeats every 16 rows, each repeat a little lighter or darker: shifts one
// period away from the true one score almost as well, so only the pixels can decide.
QImage nearlyPeriodicPage(int width, int height) {
    const QImage unit = makePage(Page::text, width, 16, 3);
    QImage page(width, height, QImage::Format_RGB32);
    std::mt19937 rng(11);
    for (int top = 0; top < height; top += 16) {
        const int shade = static_cast<int>(rng() % 5);
        for (int y = top; y < std::min(top + 16, height); ++y) {
            const auto* in = reinterpret_cast<const QRgb*>(unit.constScanLine(y - top));
            auto* out = reinterpret_cast<QRgb*>(page.scanLine(y));
            for (int x = 0; x < width; ++x)
                out[x] = qRgb(std::max(qRed(in[x]) - shade, 0), std::max(qGreen(in[x]) - shade, 0),
                              std::max(qBlue(in[x]) - shade, 0));
        }
    }
    return page;
}

TEST(ScrollOverlapSearch, TheExactCheckRescuesAWeakMatchAndRejectsANearOne) {
    const QImage page = nearlyPeriodicPage(480, 900);
    const QImage previous = frameAt(page, 100, 300), current = frameAt(page, 140, 300);
    const auto found = ScrollStitcher::findDisplacement(ScrollFrameSignature(previous), ScrollFrameSignature(current));
    ASSERT_TRUE(found);
    EXPECT_EQ(found->displacement, 40);
    EXPECT_EQ(found->confidence, 1.0) << "weak by the signatures, proved by the pixels";

    QImage touched = current;
    touched.setPixel(200, 150, touched.pixel(200, 150) ^ 0x000001);
    EXPECT_EQ(searched(previous, touched), std::nullopt) << "one pixel off in the overlap";

    // A plainly better match is taken without the pixels.
    const QImage text = makePage(Page::text, 480, 900);
    const auto strong = ScrollStitcher::findDisplacement(ScrollFrameSignature(frameAt(text, 100, 300)),
                                                         ScrollFrameSignature(frameAt(text, 140, 300)));
    ASSERT_TRUE(strong);
    EXPECT_EQ(strong->score, 0.0);
    EXPECT_EQ(strong->confidence, 1.0);
}

TEST(ScrollOverlapSearch, ExactCheckComparesTheOverlappingRowsByteForByte) {
    const QImage page = makePage(Page::photo, 200, 400);
    const QImage previous = frameAt(page, 50, 100);
    EXPECT_TRUE(ScrollStitcher::overlapMatchesExactly(previous, 30, 100, frameAt(page, 80, 100)));
    EXPECT_TRUE(ScrollStitcher::overlapMatchesExactly(previous, -30, 100, frameAt(page, 20, 100)));
    EXPECT_TRUE(ScrollStitcher::overlapMatchesExactly(previous, 30, 100,
                                                      frameAt(page, 80, 100).convertToFormat(QImage::Format_RGB888)))
        << "same pixels in another layout";
    EXPECT_FALSE(ScrollStitcher::overlapMatchesExactly(previous, 31, 100, frameAt(page, 80, 100)));
    QImage edited = frameAt(page, 80, 100);
    edited.setPixel(199, 69, qRgb(0, 0, 0));  // the last row of the overlap, last column
    EXPECT_FALSE(ScrollStitcher::overlapMatchesExactly(previous, 30, 100, edited));
    edited.setPixel(199, 70, qRgb(0, 0, 0));  // below the overlap: does not count
    edited.setPixel(199, 69, page.pixel(199, 149));
    EXPECT_TRUE(ScrollStitcher::overlapMatchesExactly(previous, 30, 100, edited));
    EXPECT_FALSE(ScrollStitcher::overlapMatchesExactly(previous, 100, 100, frameAt(page, 150, 100))) << "no overlap";
    EXPECT_FALSE(ScrollStitcher::overlapMatchesExactly(previous, 30, 100, page.copy(0, 80, 201, 100)))
        << "crop beyond the previous image";
}

// ---- Stitching ----

struct Capture {
    TestFolder dir;
    ScrollStitcher stitcher;
    explicit Capture(ScrollBudget budget = kRoomy) : stitcher(dir / "staging", budget) {}
};

TEST(ScrollStitcher, StitchesKnownPagesBackIntoTheirPixels) {
    struct Case {
        const char* name;
        Page page;
        std::vector<int> tops;  // frame tops on the page, in grab order
        std::vector<int> rows;  // new rows stored per grab after the first
    };
    const Case cases[] = {
        {"single grab", Page::text, {300}, {}},
        {"text scrolled down", Page::text, {0, 70, 150, 148, 300, 450}, {70, 80, 0, 150, 150}},
        {"photo scrolled up past the first grab", Page::photo, {600, 530, 400, 300}, {70, 130, 100}},
        {"noise, back inside, then on", Page::noise, {200, 320, 250, 210, 360}, {120, 0, 0, 40}},
    };
    for (const auto& c : cases) {
        const QImage page = makePage(c.page, 320, 1200);
        Capture capture;
        auto& s = capture.stitcher;
        std::vector<int> rows;
        for (std::size_t i = 0; i < c.tops.size(); ++i) {
            const auto outcome = s.append(frameAt(page, c.tops[i], 200));
            ASSERT_EQ(outcome.kind, i == 0 ? Kind::first : Kind::accepted) << c.name << " grab " << i << ": " << s.status();
            if (i > 0) rows.push_back(outcome.rows);
            if (i > 0) {
                EXPECT_GT(outcome.confidence, 0.55) << c.name;
            }
        }
        EXPECT_EQ(rows, c.rows) << c.name;
        const int top = *std::min_element(c.tops.begin(), c.tops.end());
        const int bottom = *std::max_element(c.tops.begin(), c.tops.end()) + 200;
        EXPECT_EQ(s.minY(), top - c.tops[0]) << c.name;
        EXPECT_EQ(s.maxY(), bottom - c.tops[0]) << c.name;
        EXPECT_EQ(s.frames(), static_cast<int>(c.tops.size())) << c.name;
        EXPECT_FALSE(s.partial()) << c.name;
        const QImage composed = s.compose();
        EXPECT_EQ(composed.format(), QImage::Format_ARGB32_Premultiplied);
        EXPECT_TRUE(samePixels(composed, page.copy(0, top, 320, bottom - top))) << c.name;
        for (const auto& strip : s.strips()) {
            struct stat st {};
            ASSERT_EQ(::stat(strip.url.c_str(), &st), 0);
            EXPECT_EQ(st.st_mode & 0777, 0600u);
        }
    }
}

TEST(ScrollStitcher, RefusalsKeepTheAcceptedPartAndSayWhy) {
    struct Case {
        const char* name;
        std::function<QImage(const QImage& page)> grab;
        std::optional<int> manual;
        Kind kind;
        std::string status;
        bool partial;
    };
    const std::string lost = "Lost overlap near output row 250. Scroll back toward the last accepted frame, then retry.";
    const Case cases[] = {
        {"same grab again", [](const QImage& p) { return frameAt(p, 150, 200); }, {}, Kind::noNewContent,
         "No new content; waiting for scroll", false},
        {"taller viewport", [](const QImage& p) { return frameAt(p, 150, 201); }, {}, Kind::stopped,
         "Viewport size changed. Finish this capture and select again.", true},
        {"narrower viewport", [](const QImage& p) { return p.copy(0, 150, 300, 200); }, {}, Kind::stopped,
         "Viewport size changed. Finish this capture and select again.", true},
        {"one row", [](const QImage& p) { return frameAt(p, 151, 200); }, {}, Kind::stopped, lost, true},
        {"too far", [](const QImage& p) { return frameAt(p, 500, 200); }, {}, Kind::stopped, lost, true},
        {"all one colour", [](const QImage&) { return makePage(Page::flat, 320, 200); }, {}, Kind::stopped, lost, true},
        {"stripes", [](const QImage&) { return makePage(Page::stripes, 320, 200); }, {}, Kind::stopped, lost, true},
        {"manual one row", [](const QImage& p) { return frameAt(p, 151, 200); }, 1, Kind::stopped, lost, true},
        {"manual minus one row", [](const QImage& p) { return frameAt(p, 149, 200); }, -1, Kind::stopped, lost, true},
        {"manual 85 % of the viewport", [](const QImage& p) { return frameAt(p, 320, 200); }, 170, Kind::stopped, lost,
         true},
        {"manual beyond reach upward", [](const QImage& p) { return frameAt(p, 0, 200); }, -161, Kind::stopped, lost,
         true},
    };
    for (const auto& c : cases) {
        const QImage page = makePage(Page::text, 320, 1200);
        Capture capture;
        auto& s = capture.stitcher;
        ASSERT_EQ(s.append(frameAt(page, 100, 200)).kind, Kind::first);
        ASSERT_EQ(s.append(frameAt(page, 150, 200)).kind, Kind::accepted);
        const auto strips = s.strips().size();
        const auto outcome = s.append(c.grab(page), c.manual);
        EXPECT_EQ(outcome.kind, c.kind) << c.name;
        EXPECT_EQ(s.status(), c.status) << c.name;
        EXPECT_EQ(s.partial(), c.partial) << c.name;
        EXPECT_EQ(s.frames(), 2) << c.name;
        EXPECT_EQ(s.maxY(), 250) << c.name;
        EXPECT_EQ(s.strips().size(), strips) << c.name;
        // Later grabs are still compared with the last accepted one.
        EXPECT_EQ(s.append(frameAt(page, 230, 200)).kind, Kind::accepted) << c.name;
        EXPECT_TRUE(samePixels(s.compose(), page.copy(0, 100, 320, 330)))
            << c.name;
    }
}

TEST(ScrollStitcher, AManualDisplacementHoldsWhereTheSearchFindsNothing) {
    // Two unrelated grabs: no overlap to find, so only the user's alignment can place the second.
    const QImage top = makePage(Page::text, 320, 200, 1), below = makePage(Page::noise, 320, 200, 2);
    Capture capture;
    auto& s = capture.stitcher;
    ASSERT_EQ(s.append(top).kind, Kind::first);
    EXPECT_EQ(s.append(below).kind, Kind::stopped) << "without the user's help";
    const auto outcome = s.append(below, 160);  // the most a grab may move: 4/5 of 200
    ASSERT_EQ(outcome.kind, Kind::accepted) << s.status();
    EXPECT_EQ(outcome.rows, 160);
    EXPECT_EQ(outcome.confidence, 0.0);
    EXPECT_TRUE(s.partial());
    EXPECT_EQ(s.status(), "Manual alignment: inspect the seam before sharing.");
    EXPECT_EQ(s.maxY(), 360);
    const QImage composed = s.compose();
    EXPECT_TRUE(samePixels(composed.copy(0, 0, 320, 200), top));
    EXPECT_TRUE(samePixels(composed.copy(0, 200, 320, 160), below.copy(0, 40, 320, 160)));

    // A manual displacement also places a grab the search would have called unchanged.
    EXPECT_EQ(s.append(below, -2).kind, Kind::accepted);
    EXPECT_EQ(s.maxY(), 360);
}

// Rows that are all different, drawn on demand: row y of the page is one colour.
QImage pageRows(int width, int top, int height) {
    QImage rows(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y)
        std::fill_n(reinterpret_cast<QRgb*>(rows.scanLine(y)), width, qRgb((top + y) & 255, ((top + y) >> 8) & 255, 77));
    return rows;
}

TEST(ScrollStitcher, EachBudgetHoldsAtItsLimitAndRefusesOneRowPast) {
    // Grabs placed by hand (the rows have no texture to search), so every step is exact.
    struct Case {
        const char* name;
        ScrollBudget budget;
        int width, height;
        int limitRows;  // output height exactly at the limit
    };
    const Case cases[] = {
        {"height", {16 << 20, 1 << 20, 500}, 64, 100, 500},
        // 8 x 2048 x 100 + 8 x 2048 x 924 = 16 MiB
        {"memory", {16 << 20, 64 << 20, 100'000}, 2048, 100, 924},
        // 40,000 x 1,000 = 40,000,000 pixels
        {"area", {1'000'000'000, 64 << 20, 100'000}, 40'000, 100, 1000},
    };
    for (const auto& c : cases) {
        Capture capture(c.budget);
        auto& s = capture.stitcher;
        ASSERT_EQ(s.append(pageRows(c.width, 0, c.height)).kind, Kind::first) << c.name;
        int top = 0;
        while (top + c.height < c.limitRows - 2) {
            const int step = std::min(80, c.limitRows - 2 - c.height - top);
            ASSERT_EQ(s.append(pageRows(c.width, top + step, c.height), step).kind, Kind::accepted) << c.name;
            top += step;
        }
        ASSERT_EQ(s.maxY(), c.limitRows - 2) << c.name;
        EXPECT_EQ(s.append(pageRows(c.width, top + 3, c.height), 3).kind, Kind::budgetReached) << c.name << " one past";
        EXPECT_EQ(s.status(), "Memory/height budget reached. Finish to save the valid part.") << c.name;
        EXPECT_EQ(s.maxY(), c.limitRows - 2) << c.name;
        EXPECT_TRUE(s.partial()) << c.name;
        ASSERT_EQ(s.append(pageRows(c.width, top + 2, c.height), 2).kind, Kind::accepted) << c.name << " at the limit";
        EXPECT_EQ(s.maxY(), c.limitRows) << c.name;
        if (c.width * c.limitRows <= 4'000'000) {
            const QImage composed = s.compose();
            EXPECT_TRUE(samePixels(composed, pageRows(c.width, 0, c.limitRows))) << c.name;
        }
    }
}

TEST(ScrollStitcher, TheFirstGrabMustFitTheBudgetWhole) {
    const std::string memory = "The first frame exceeds the scrolling memory budget. Select a smaller viewport.";
    struct Case {
        const char* name;
        ScrollBudget budget;
        QImage grab;
        std::string error;  // empty: accepted
    };
    const Case cases[] = {
        {"16 x w x h at the memory budget", {16 << 20, 8 << 20, 100'000}, pageRows(1024, 0, 1024), ""},
        {"one row more", {16 << 20, 8 << 20, 100'000}, pageRows(1024, 0, 1025), memory},
        {"as tall as the height limit", {16 << 20, 1 << 20, 100}, pageRows(64, 0, 100), ""},
        {"taller than the height limit", {16 << 20, 1 << 20, 99}, pageRows(64, 0, 100), memory},
        {"more strip bytes than the disk budget", {16 << 20, 1 << 20, 100'000}, makePage(Page::noise, 600, 600), 
         "The first frame exceeds the disk budget"},
    };
    for (const auto& c : cases) {
        Capture capture(c.budget);
        try {
            EXPECT_EQ(capture.stitcher.append(c.grab).kind, Kind::first) << c.name;
            EXPECT_TRUE(c.error.empty()) << c.name;
        } catch (const AIError& e) {
            EXPECT_EQ(e.message(), c.error) << c.name;
            EXPECT_EQ(capture.stitcher.frames(), 0) << c.name;
            EXPECT_TRUE(capture.stitcher.strips().empty()) << c.name;
        }
    }
    for (const ScrollBudget bad : {ScrollBudget{(16 << 20) - 1, 1 << 20, 1}, ScrollBudget{16 << 20, (1 << 20) - 1, 1},
                                   ScrollBudget{16 << 20, 1 << 20, 0}}) {
        TestFolder dir;
        try {
            ScrollStitcher stitcher(dir / "staging", bad);
            ADD_FAILURE() << "accepted an invalid budget";
        } catch (const AIError& e) {
            EXPECT_EQ(e.message(), "Invalid scrolling memory/disk budget");
        }
        EXPECT_FALSE(fs::exists(dir / "staging"));
    }
}

TEST(ScrollStitcher, TheDiskBudgetCountsStripBytesExactly) {
    // Noise does not compress: each strip costs about its raw size.
    const QImage page = makePage(Page::noise, 600, 1400);
    const QImage first = frameAt(page, 0, 600), second = frameAt(page, 400, 600), third = frameAt(page, 800, 600);
    const auto bytes = [](const QImage& rows) { return static_cast<std::int64_t>(ScrollStitcher::encodeStrip(rows).size()); };
    const std::int64_t twoStrips = bytes(first) + bytes(page.copy(0, 600, 600, 400));
    ASSERT_GE(twoStrips, 1 << 20);
    for (const std::int64_t disk : {twoStrips, twoStrips - 1}) {
        Capture capture({64 << 20, disk, 100'000});
        auto& s = capture.stitcher;
        ASSERT_EQ(s.append(first).kind, Kind::first);
        const auto outcome = s.append(second);
        EXPECT_EQ(outcome.kind, disk == twoStrips ? Kind::accepted : Kind::budgetReached) << disk;
        // Accepted or not, the next grab cannot be stored.
        EXPECT_EQ(s.append(outcome.kind == Kind::accepted ? third : second).kind, Kind::budgetReached) << disk;
        EXPECT_EQ(s.status(), "Disk budget reached. Finish to save the valid part.");
        EXPECT_LE(s.diskBytes(), disk);
        EXPECT_EQ(s.maxY(), disk == twoStrips ? 1000 : 600);
        const QImage composed = s.compose();
        EXPECT_TRUE(samePixels(composed, page.copy(0, 0, 600, s.maxY()))) << "stored part";
    }
}

TEST(ScrollStitcher, LostStagingNeverYieldsACorruptImage) {
    const QImage page = makePage(Page::text, 320, 1200);
    {  // The folder disappears mid-capture: the grab fails and nothing moves.
        Capture capture;
        auto& s = capture.stitcher;
        ASSERT_EQ(s.append(frameAt(page, 0, 200)).kind, Kind::first);
        fs::remove_all(s.folder());
        EXPECT_THROW(s.append(frameAt(page, 90, 200)), FileError);
        EXPECT_EQ(s.frames(), 1);
        EXPECT_EQ(s.maxY(), 200);
        EXPECT_EQ(s.strips().size(), 1u);
        try {
            s.compose();
            ADD_FAILURE() << "composed without its strips";
        } catch (const AIError& e) {
            EXPECT_EQ(e.message(), "A staging strip is unavailable. No output was committed.");
        }
    }
    {  // One strip deleted or damaged.
        for (const bool damaged : {false, true}) {
            Capture capture;
            auto& s = capture.stitcher;
            s.append(frameAt(page, 0, 200));
            ASSERT_EQ(s.append(frameAt(page, 90, 200)).kind, Kind::accepted);
            const auto strip = s.strips().back().url;
            if (damaged)
                AtomicFile::write(strip, ScrollStitcher::encodeStrip(frameAt(page, 0, 89)));
            else
                fs::remove(strip);
            EXPECT_THROW(s.compose(), AIError) << damaged;
        }
    }
    {  // Nothing accepted, or cancelled.
        Capture capture;
        try {
            capture.stitcher.compose();
            ADD_FAILURE() << "composed nothing";
        } catch (const AIError& e) {
            EXPECT_EQ(e.message(), "Scrolling needs at least one accepted frame within the memory budget.");
        }
        std::stop_source cancelled;
        cancelled.request_stop();
        EXPECT_THROW(capture.stitcher.append(frameAt(page, 0, 200), {}, cancelled.get_token()), CaptureCancelled);
        EXPECT_EQ(capture.stitcher.frames(), 0);
        capture.stitcher.append(frameAt(page, 0, 200));
        EXPECT_THROW(capture.stitcher.compose(cancelled.get_token()), CaptureCancelled);
    }
}

TEST(ScrollStitcher, StripsAreBarePNGOfTheGrabPixels) {
    QImage grab = makePage(Page::photo, 120, 80);
    grab.setColorSpace(QColorSpace(QColorSpace::DisplayP3));
    grab.setText(QStringLiteral("Title"), QStringLiteral("secret"));
    const QByteArray png = ScrollStitcher::encodeStrip(grab);
    for (const char* chunk : {"iCCP", "gAMA", "cHRM", "sRGB", "tEXt", "zTXt", "iTXt"})
        EXPECT_FALSE(png.contains(chunk)) << chunk;
    QImage decoded = QImage::fromData(png, "png");
    EXPECT_FALSE(decoded.colorSpace().isValid());
    decoded.setColorSpace(grab.colorSpace());
    EXPECT_TRUE(decoded.convertToFormat(QImage::Format_RGB32) == grab) << "pixels unchanged";

    // The composed image carries the first grab's colour space, pixels untouched.
    Capture capture;
    capture.stitcher.append(grab);
    const QImage composed = capture.stitcher.compose();
    EXPECT_EQ(composed.colorSpace(), QColorSpace(QColorSpace::DisplayP3));
    EXPECT_EQ(composed.pixel(17, 33), grab.pixel(17, 33));
}

}  // namespace
}  // namespace brevalto
