#include "Document/ImageEffects.h"

#include <gtest/gtest.h>

#include <cmath>

namespace brevalto {
namespace {

QImage filled(int width, int height, QRgb colour) {
    QImage image(width, height, QImage::Format_ARGB32_Premultiplied);
    image.fill(colour);
    return image;
}

int red(const QImage& image, int x, int y) { return qRed(image.pixel(x, y)); }

// A single bright pixel spreads into a bell whose variance is sigma squared, whatever the
// sigma; it falls off monotonically from its centre and keeps its mass.
TEST(ImageEffectsTest, BlurOfAnImpulseHasTheGaussiansSpreadAndFallsOffMonotonically) {
    for (const double sigma : {1.5, 4.0, 12.0, 25.0}) {
        SCOPED_TRACE(sigma);
        const int size = static_cast<int>(sigma * 12) | 1, centre = size / 2;
        QImage image = filled(size, 1, qRgba(0, 0, 0, 255));
        // A bright bar a few pixels wide holds enough mass to survive the 8-bit rounding.
        for (int x = centre - 2; x <= centre + 2; ++x) image.setPixel(x, 0, qRgba(255, 0, 0, 255));
        ImageEffects::gaussianBlur(image, sigma);
        double mass = 0, variance = 0;
        for (int x = 0; x < size; ++x) {
            const double v = red(image, x, 0);
            mass += v;
            variance += v * (x - centre) * (x - centre);
        }
        variance /= mass;
        // The bar itself adds (5^2 - 1) / 12 = 2 to the variance.
        EXPECT_NEAR(std::sqrt(variance - 2), sigma, sigma * 0.08 + 0.3);
        EXPECT_NEAR(mass, 5 * 255, 5 * 255 * 0.05);
        for (int x = centre; x + 1 < size; ++x) EXPECT_GE(red(image, x, 0), red(image, x + 1, 0)) << x;
        for (int x = centre; x > 0; --x) EXPECT_GE(red(image, x, 0), red(image, x - 1, 0)) << x;
        EXPECT_LT(red(image, centre, 0), 255);
    }
}

// Blurring never leaves the range of its input, keeps uniform areas exactly, keeps colours
// premultiplied, and repeats edge pixels outward: a step at the border does not fade.
TEST(ImageEffectsTest, BlurIsBoundedKeepsUniformAreasAndClampsAtTheEdges) {
    QImage image = filled(120, 40, qRgba(40, 40, 40, 255));
    for (int y = 0; y < 40; ++y)
        for (int x = 60; x < 120; ++x) image.setPixel(x, y, qRgba(200, 100, 50, 200));
    ImageEffects::gaussianBlur(image, 6);
    for (int y = 0; y < 40; ++y) {
        EXPECT_EQ(image.pixel(0, y), qRgba(40, 40, 40, 255));
        EXPECT_EQ(image.pixel(119, y), qRgba(200, 100, 50, 200)) << "border pixels keep their colour";
        for (int x = 0; x < 120; ++x) {
            const QRgb p = image.pixel(x, y);
            EXPECT_LE(qRed(p), qAlpha(p));
            EXPECT_GE(qAlpha(p), 200);
            EXPECT_LE(qRed(p), 200);
            EXPECT_GE(qRed(p), 40);
            if (x > 0) {
                EXPECT_GE(qRed(p), qRed(image.pixel(x - 1, y))) << "monotone across the step";
            }
        }
    }
    EXPECT_GT(red(image, 58, 20), 40);
    EXPECT_LT(red(image, 61, 20), 200);
}

// Masks of one channel blur the same way (the backdrop's shadow); a sigma too small for a box
// of three pixels changes nothing.
TEST(ImageEffectsTest, BlurWorksOnMasksAndTinySigmasChangeNothing) {
    QImage mask(40, 40, QImage::Format_Alpha8);
    mask.fill(0);
    for (int y = 10; y < 30; ++y)
        for (int x = 10; x < 30; ++x) mask.scanLine(y)[x] = 255;
    QImage unchanged = mask;
    ImageEffects::gaussianBlur(unchanged, 0.1);
    EXPECT_EQ(unchanged, mask);
    ImageEffects::gaussianBlur(mask, 3);
    EXPECT_EQ(mask.format(), QImage::Format_Alpha8);
    EXPECT_GT(mask.constScanLine(20)[20], 250);
    EXPECT_GT(mask.constScanLine(20)[8], 0);
    EXPECT_LT(mask.constScanLine(20)[8], 128);
    EXPECT_EQ(mask.constScanLine(0)[0], 0);
}

// Blocks are uniform, hold the mean of their pixels, and the grid has a corner at the anchor.
TEST(ImageEffectsTest, PixelateReplacesEachBlockOfTheAnchoredGridByItsMean) {
    QImage image(30, 20, QImage::Format_ARGB32_Premultiplied);
    for (int y = 0; y < 20; ++y)
        for (int x = 0; x < 30; ++x) image.setPixel(x, y, qRgba(x * 8, y * 12, 0, 255));
    const QImage original = image;
    ImageEffects::pixelate(image, 4, QPointF(2, 3));
    // Block columns start at x = 2, 6, 10 ...; rows at y = 3, 7, 11 ... (and the cut ones at 0).
    auto blockOf = [](int v, int anchor) { return static_cast<int>(std::floor((v - anchor) / 4.0)); };
    for (int y = 0; y < 20; ++y)
        for (int x = 0; x < 30; ++x) {
            const int bx = blockOf(x, 2), by = blockOf(y, 3);
            long sumRed = 0, sumGreen = 0, count = 0;
            for (int v = 0; v < 20; ++v)
                for (int u = 0; u < 30; ++u)
                    if (blockOf(u, 2) == bx && blockOf(v, 3) == by) {
                        sumRed += qRed(original.pixel(u, v));
                        sumGreen += qGreen(original.pixel(u, v));
                        ++count;
                    }
            ASSERT_NEAR(qRed(image.pixel(x, y)), static_cast<double>(sumRed) / count, 0.51) << x << "," << y;
            ASSERT_NEAR(qGreen(image.pixel(x, y)), static_cast<double>(sumGreen) / count, 0.51) << x << "," << y;
        }
    EXPECT_NE(image.pixel(1, 5), image.pixel(2, 5)) << "a block edge at the anchor";
    EXPECT_EQ(image.pixel(2, 5), image.pixel(5, 5));
}

}  // namespace
}  // namespace brevalto
