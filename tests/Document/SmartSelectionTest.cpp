#include "Document/SmartSelection.h"
#include "Platform/Task.h"

#include <QRect>

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <random>

namespace brevalto {
namespace {

using ScreenshotColor::Pixels;

// A buffer of one opaque colour with rectangles of other colours painted over it.
struct Canvas {
    Pixels pixels;
    Canvas(int w, int h, std::uint8_t grey = 255) {
        pixels.width = w, pixels.height = h;
        pixels.bytes.assign(static_cast<std::size_t>(w) * static_cast<std::size_t>(h) * 4, grey);
        for (std::size_t i = 3; i < pixels.bytes.size(); i += 4) pixels.bytes[i] = 255;
    }
    void set(int x, int y, std::uint8_t r, std::uint8_t g, std::uint8_t b, std::uint8_t a = 255) {
        std::uint8_t* p = pixels.bytes.data() + (static_cast<std::size_t>(y) * static_cast<std::size_t>(pixels.width) + static_cast<std::size_t>(x)) * 4;
        p[0] = r, p[1] = g, p[2] = b, p[3] = a;
    }
    void fill(QRect rect, std::uint8_t r, std::uint8_t g, std::uint8_t b) {
        for (int y = rect.top(); y <= rect.bottom(); ++y)
            for (int x = rect.left(); x <= rect.right(); ++x) set(x, y, r, g, b);
    }
};

std::string failureOf(const std::function<void()>& action) {
    try {
        action();
    } catch (const TaskCancelled&) {
        return "cancelled";
    } catch (const std::exception& e) {
        return e.what();
    }
    return "";
}

TEST(SmartSelection, ARectangleOnWhiteIsFoundByItsMeans) {
    Canvas c(200, 100);
    c.fill(QRect(50, 30, 100, 40), 0, 0, 0);
    // A side pixel's mean is a third away from black, a corner's five ninths.
    EXPECT_EQ(findSmartSelection(c.pixels, 100, 50, 0.12), QRectF(51, 31, 98, 38));
    EXPECT_EQ(findSmartSelection(c.pixels, 100, 50, 0.4), QRectF(50, 30, 100, 40));
    EXPECT_EQ(findSmartSelection(c.pixels, 100.9, 50.99, -3), QRectF(51, 31, 98, 38)) << "below 0 acts as 0";
    EXPECT_EQ(findSmartSelection(c.pixels, 5, 5, 0), QRectF(0, 0, 200, 100)) << "the white around it, holes and all";
    EXPECT_EQ(findSmartSelection(c.pixels, 100, 50, 5), QRectF(0, 0, 200, 100)) << "above 1 acts as 1";
}

TEST(SmartSelection, IsolatedNoiseInsideARegionDoesNotStopTheFill) {
    Canvas c(120, 80);
    c.fill(QRect(20, 10, 60, 30), 30, 60, 200);
    std::mt19937 rng(7);
    // Specks of any colour five pixels apart, so no 3x3 window holds two: each moves a mean by
    // at most a ninth (0.111) from the clean mean at the click, under the tolerance.
    for (int y = 13; y < 38; y += 5)
        for (int x = 23; x < 78; x += 5)
            c.set(x, y, static_cast<std::uint8_t>(rng()), static_cast<std::uint8_t>(rng()), static_cast<std::uint8_t>(rng()));
    // And noise all around the region, which the fill never enters.
    for (int y = 0; y < 80; ++y)
        for (int x = 0; x < 120; ++x)
            if (!QRect(20, 10, 60, 30).contains(x, y)) c.set(x, y, 255, static_cast<std::uint8_t>(rng() % 64), 0);
    EXPECT_EQ(findSmartSelection(c.pixels, 50, 25, 0.12), QRectF(21, 11, 58, 28));
}

TEST(SmartSelection, RegionsTouchingAtACornerStayApart) {
    Canvas c(60, 60);
    c.fill(QRect(10, 10, 20, 20), 0, 0, 0);
    c.fill(QRect(30, 30, 20, 20), 0, 0, 0);
    EXPECT_EQ(findSmartSelection(c.pixels, 15, 15, 0.4), QRectF(10, 10, 20, 20));
    EXPECT_EQ(findSmartSelection(c.pixels, 45, 45, 0.4), QRectF(30, 30, 20, 20));
}

TEST(SmartSelection, TheSeedIsThePointTruncated) {
    Canvas c(40, 10);
    c.fill(QRect(0, 0, 20, 10), 0, 0, 0);
    // Column 19's mean is two thirds black, column 20's one third: each is a region of its own.
    EXPECT_EQ(findSmartSelection(c.pixels, 19.9, 5, 0.1), QRectF(19, 0, 1, 10));
    EXPECT_EQ(findSmartSelection(c.pixels, 20, 5, 0.1), QRectF(20, 0, 1, 10));
}

TEST(SmartSelection, TransparentPixelsCountTowardsTheMeanAlpha) {
    Canvas c(30, 30, 0);
    for (std::size_t i = 3; i < c.pixels.bytes.size(); i += 4) c.pixels.bytes[i] = 0;
    c.fill(QRect(5, 5, 10, 10), 255, 0, 0);
    EXPECT_EQ(findSmartSelection(c.pixels, 10, 10, 0.12), QRectF(6, 6, 8, 8));
    EXPECT_EQ(findSmartSelection(c.pixels, 25, 25, 0.12), QRectF(0, 0, 30, 30));
}

TEST(SmartSelection, BadInputAndLimits) {
    Canvas small(10, 10);
    const std::string invalid = "Invalid coordinates or tolerance.";
    const std::vector<std::tuple<double, double, double>> bad = {
        {NAN, 1, 0.1}, {1, INFINITY, 0.1}, {-0.5, 1, 0.1}, {1, -1, 0.1}, {10, 1, 0.1}, {1, 10, 0.1}, {1, 1, NAN},
        {1, 1, INFINITY}};
    for (const auto& [x, y, t] : bad) EXPECT_EQ(failureOf([&] { findSmartSelection(small.pixels, x, y, t); }), invalid);

    Pixels tooLarge;
    tooLarge.width = 2001, tooLarge.height = 2000;  // no bytes: refused before any pixel is read
    EXPECT_EQ(failureOf([&] { findSmartSelection(tooLarge, 5, 5, 0.1); }),
              "Smart selection is limited to 4 MP. Crop or select manually for large images.");
    Pixels truncated;
    truncated.width = 4, truncated.height = 4;
    EXPECT_EQ(failureOf([&] { findSmartSelection(truncated, 1, 1, 0.1); }), "Choose a pixel inside the image.");

    Canvas limit(2000, 2000);
    EXPECT_EQ(findSmartSelection(limit.pixels, 1999, 1999, 0), QRectF(0, 0, 2000, 2000));
    std::stop_source stop;
    stop.request_stop();
    EXPECT_EQ(failureOf([&] { findSmartSelection(limit.pixels, 0, 0, 0, stop.get_token()); }), "cancelled");
}

TEST(SmartSelection, EdgeFindsTheRunThroughThePoint) {
    Canvas c(50, 20);
    c.fill(QRect(31, 0, 19, 10), 0, 0, 0);  // the top rows: white to column 30, black after
    c.fill(QRect(0, 10, 50, 10), 0, 0, 0);  // the bottom rows: black, white from column 40
    c.fill(QRect(40, 10, 10, 10), 255, 255, 255);
    using Span = std::optional<std::pair<int, int>>;
    EXPECT_EQ(c.pixels.edge(true, 5, 2, 0.1), (Span{{0, 30}})) << "a high edge only";
    EXPECT_EQ(c.pixels.edge(true, 45, 2, 0.1), (Span{{31, 49}})) << "a low edge only";
    EXPECT_EQ(c.pixels.edge(true, 30.7, 2, 0.1), (Span{{0, 30}}));
    EXPECT_EQ(c.pixels.edge(false, 5, 2, 0.1), (Span{{0, 9}}));
    EXPECT_EQ(c.pixels.edge(false, 5, 15, 0.1), (Span{{10, 19}}));
    EXPECT_EQ(c.pixels.edge(true, 39, 12, 0.1), (Span{{0, 39}}));
    EXPECT_EQ(c.pixels.edge(true, 40, 12, 0.1), (Span{{40, 49}}));
    EXPECT_EQ(c.pixels.edge(true, 5, 2, 1), std::nullopt) << "everything is similar at 1";

    Canvas first(10, 1);
    first.fill(QRect(1, 0, 9, 1), 0, 0, 0);
    EXPECT_EQ(first.pixels.edge(true, 0, 0, 0.1), (Span{{0, 0}}));

    Canvas plain(8, 8);
    EXPECT_EQ(plain.pixels.edge(true, 3, 3, 0), std::nullopt);
    EXPECT_EQ(plain.pixels.edge(false, 3, 3, 0), std::nullopt);
    for (auto [x, y, t] : std::vector<std::tuple<double, double, double>>{{-1, 0, 0}, {8, 0, 0}, {0, NAN, 0}, {0, 0, NAN}})
        EXPECT_EQ(plain.pixels.edge(true, x, y, t), std::nullopt);
}

}  // namespace
}  // namespace brevalto
