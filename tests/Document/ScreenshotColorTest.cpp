#include "Document/ScreenshotColor.h"
#include "Errors/ScreenshotError.h"

#include <QColorSpace>
#include <QPainter>

#include <gtest/gtest.h>

#include <cmath>

namespace brevalto {
namespace {

using ScreenshotColor::Pixels;
using ScreenshotColor::RGBA;

TEST(ScreenshotColorTest, HexRoundsHalvesAwayFromZero) {
    const struct {
        RGBA color;
        const char* hex;
    } cases[] = {
        {{1, 0.5, 0, 1}, "#FF8000"},
        {{0.5, 0.5, 0.5, 1}, "#808080"},
        {{0, 0, 0, 0}, "#000000"},
        {{1, 1, 1, 0.2}, "#FFFFFF"},  // alpha is not shown
        {{0.1, 0.2, 0.3, 1}, "#1A334D"},
        {{1.7, -0.3, 0.5, 1}, "#FF0080"},  // out-of-range components are pinned
    };
    for (const auto& c : cases) EXPECT_EQ(c.color.hex(), c.hex) << c.hex;
}

TEST(ScreenshotColorTest, HSLOfKnownColours) {
    const struct {
        RGBA color;
        double hue, saturation, lightness;
    } cases[] = {
        {{1, 0, 0, 1}, 0, 1, 0.5},
        {{0, 0, 1, 1}, 240, 1, 0.5},
        {{0, 1, 0, 1}, 120, 1, 0.5},
        {{0.4, 0.4, 0.4, 1}, 0, 0, 0.4},
        {{1, 0, 1, 1}, 300, 1, 0.5},       // red formula, negative hue wraps
        {{1, 1, 0, 0.3}, 60, 1, 0.5},      // red and green tie: red formula; alpha ignored
        {{0.2, 0.6, 0.4, 1}, 150, 0.5, 0.4},
    };
    for (const auto& c : cases) {
        const auto hsl = c.color.hsl();
        EXPECT_NEAR(hsl.hue, c.hue, 1e-9) << c.color.hex();
        EXPECT_NEAR(hsl.saturation, c.saturation, 1e-9) << c.color.hex();
        EXPECT_NEAR(hsl.lightness, c.lightness, 1e-9) << c.color.hex();
    }
}

TEST(ScreenshotColorTest, OKLCHOfKnownColours) {
    // Reference values of the published OKLab definition.
    const struct {
        RGBA color;
        double lightness, chroma, hue;
    } cases[] = {
        {{1, 1, 1, 1}, 1.0, 0.0, 0.0},
        {{0, 0, 0, 1}, 0.0, 0.0, 0.0},
        {{1, 0, 0, 1}, 0.62796, 0.25768, 29.2339},
        {{0, 1, 0, 1}, 0.86644, 0.29483, 142.4953},
        {{0, 0, 1, 1}, 0.45201, 0.31321, 264.0520},
    };
    for (const auto& c : cases) {
        const auto lch = c.color.oklch();
        EXPECT_NEAR(lch.lightness, c.lightness, 1e-4) << c.color.hex();
        EXPECT_NEAR(lch.chroma, c.chroma, 1e-4) << c.color.hex();
        EXPECT_NEAR(lch.hue, c.hue, 1e-3) << c.color.hex();
        EXPECT_GE(lch.hue, 0);
        EXPECT_LT(lch.hue, 360);
    }
}

TEST(ScreenshotColorTest, LuminanceAndContrast) {
    EXPECT_DOUBLE_EQ((RGBA{1, 1, 1, 1}).luminance(), 1);
    EXPECT_DOUBLE_EQ((RGBA{0, 0, 0, 1}).luminance(), 0);
    const double contrast = ((RGBA{1, 1, 1, 1}).luminance() + 0.05) / ((RGBA{0, 0, 0, 1}).luminance() + 0.05);
    EXPECT_DOUBLE_EQ(contrast, 21);
    EXPECT_NEAR((RGBA{0.5, 0.5, 0.5, 1}).luminance(), 0.21404, 1e-5);
    // The low end of the curve is linear.
    EXPECT_NEAR((RGBA{0.04, 0, 0, 1}).luminance(), 0.2126 * 0.04 / 12.92, 1e-12);
}

TEST(ScreenshotColorTest, SourceOverBlending) {
    const RGBA background{0.2, 0.4, 0.6, 0.8};
    const RGBA clearOver = (RGBA{1, 0, 0, 0}).over(background);
    EXPECT_NEAR(ScreenshotColor::distance(clearOver, background), 0, 1e-12);
    EXPECT_EQ(clearOver.alpha, background.alpha);
    const RGBA onClear = (RGBA{0.3, 0.6, 0.9, 0.4}).over(RGBA{0, 0, 0, 0});
    EXPECT_DOUBLE_EQ(onClear.alpha, 0.4);
    EXPECT_DOUBLE_EQ(onClear.red, 0.3);
    EXPECT_EQ((RGBA{1, 1, 1, 0}).over(RGBA{1, 1, 1, 0}), (RGBA{0, 0, 0, 0}));
    const RGBA half = (RGBA{1, 0, 0, 0.5}).over(RGBA{0, 0, 1, 1});
    EXPECT_DOUBLE_EQ(half.red, 0.5);
    EXPECT_DOUBLE_EQ(half.blue, 0.5);
    EXPECT_DOUBLE_EQ(half.alpha, 1);
}

TEST(ScreenshotColorTest, ConvertsQColorsToSRGB) {
    EXPECT_EQ(RGBA::fromQColor(QColor()), (RGBA{0, 0, 0, 1}));
    const RGBA fromHsv = RGBA::fromQColor(QColor::fromHsvF(0, 1, 1, 0.5f));
    EXPECT_NEAR(fromHsv.red, 1, 1e-4);
    EXPECT_NEAR(fromHsv.green, 0, 1e-4);
    EXPECT_NEAR(fromHsv.alpha, 0.5, 1e-4);
    const QColor back = (RGBA{1, 0.5, 0, 1}).qColor();
    EXPECT_EQ(back.name(), QStringLiteral("#ff8000"));
}

Pixels pixelsOf(int width, int height, std::vector<std::uint8_t> bytes) { return Pixels{width, height, std::move(bytes)}; }

TEST(ScreenshotColorTest, ReadsPixelsUnpremultiplied) {
    const Pixels pixels = pixelsOf(2, 1, {128, 0, 0, 128, 10, 20, 30, 0});
    const auto red = pixels.color(0, 0);
    ASSERT_TRUE(red);
    EXPECT_DOUBLE_EQ(red->red, 1);
    EXPECT_NEAR(red->alpha, 0.502, 0.001);
    EXPECT_EQ(pixels.color(1, 0), (RGBA{0, 0, 0, 0}));
    for (auto [x, y] : {std::pair{-1, 0}, {2, 0}, {0, 1}, {0, -1}}) EXPECT_FALSE(pixels.color(x, y)) << x << "," << y;
}

TEST(ScreenshotColorTest, AveragesRegions) {
    // A 4x4 white square with one black pixel in its top-left corner: text on a background.
    std::vector<std::uint8_t> bytes;
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x) {
            const std::uint8_t v = x == 0 && y == 0 ? 0 : 255;
            bytes.insert(bytes.end(), {v, v, v, 255});
        }
    const Pixels pixels = pixelsOf(4, 4, bytes);

    const auto plain = pixels.averageColor(false, QRectF(0, 0, 4, 4));
    ASSERT_TRUE(plain);
    EXPECT_DOUBLE_EQ(plain->red, 15.0 / 16);
    EXPECT_DOUBLE_EQ(plain->alpha, 1);
    // Only the black pixel is 0.12 or more away from the plain mean.
    EXPECT_EQ(*pixels.averageColor(true, QRectF(0, 0, 4, 4)), (RGBA{0, 0, 0, 1}));
    EXPECT_EQ(*pixels.averageColor(true, QRectF(2, 2, 2, 2)), (RGBA{1, 1, 1, 1}));  // uniform: the plain mean

    // Rounded outwards and clipped: (-0.5, -0.5, 1, 1) covers only pixel (0, 0).
    EXPECT_EQ(*pixels.averageColor(false, QRectF(-0.5, -0.5, 1, 1)), (RGBA{0, 0, 0, 1}));
    EXPECT_EQ(*pixels.averageColor(false, QRectF(1.5, 1.5, 1, 1)), (RGBA{1, 1, 1, 1}));
    // A negative size counts like its positive one.
    EXPECT_EQ(*pixels.averageColor(false, QRectF(1, 1, -1, -1)), (RGBA{0, 0, 0, 1}));
    // Weighted by alpha: a half-transparent red pixel beside a clear one.
    const Pixels mixed = pixelsOf(2, 1, {128, 0, 0, 128, 0, 0, 0, 0});
    const auto weighted = mixed.averageColor(false, QRectF(0, 0, 2, 1));
    EXPECT_DOUBLE_EQ(weighted->red, 1);
    EXPECT_NEAR(weighted->alpha, 128.0 / 255 / 2, 1e-12);
    const double nan = std::nan("");
    for (const QRectF& outside : {QRectF(10, 10, 2, 2), QRectF(-5, 0, 2, 2), QRectF(0, 0, nan, 1),
                                  QRectF(0, INFINITY, 1, 1), QRectF(1, 1, 0, 0)})
        EXPECT_FALSE(pixels.averageColor(false, outside));

    const Pixels clear = pixelsOf(1, 1, {0, 0, 0, 0});
    EXPECT_EQ(*clear.averageColor(false, QRectF(0, 0, 1, 1)), (RGBA{0, 0, 0, 0}));
}

TEST(ScreenshotColorTest, BuildsPixelsFromImages) {
    QImage image(3, 2, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    image.setPixelColor(0, 0, QColor(255, 0, 0, 255));
    image.setPixelColor(2, 1, QColor(0, 0, 255, 128));
    const Pixels pixels = Pixels::fromImage(image);
    ASSERT_EQ(pixels.width, 3);
    ASSERT_EQ(pixels.height, 2);
    ASSERT_EQ(pixels.bytes.size(), 24u);
    EXPECT_EQ(std::vector<std::uint8_t>(pixels.bytes.begin(), pixels.bytes.begin() + 4),
              (std::vector<std::uint8_t>{255, 0, 0, 255}));
    EXPECT_EQ(std::vector<std::uint8_t>(pixels.bytes.end() - 4, pixels.bytes.end()),
              (std::vector<std::uint8_t>{0, 0, 128, 128}));  // premultiplied

    // Another colour space is converted to sRGB: Display P3 pure green is not sRGB pure green.
    QImage wide(1, 1, QImage::Format_RGB32);
    wide.fill(QColor(0, 255, 0));
    wide.setColorSpace(QColorSpace::DisplayP3);
    const Pixels converted = Pixels::fromImage(wide);
    EXPECT_LT(converted.bytes[0], 5);  // red clipped
    EXPECT_EQ(converted.bytes[1], 255);

    EXPECT_THROW(Pixels::fromImage(QImage()), ScreenshotError);
}

}  // namespace
}  // namespace brevalto
