#include "Document/ImageEffects.h"
#include "RenderSamples.h"

#include <gtest/gtest.h>

#include <cmath>

namespace brevalto {
namespace {

// A bright bar spreads into a bell of variance sigma squared whatever the sigma, falling off
// monotonically, keeping its mass and never leaving the input's range; edge pixels repeat
// outward, so a border stays as it was; masks of one channel blur alike.
TEST(ImageEffectsTest, BlurHasTheGaussiansSpreadAndIsMonotoneBoundedAndClampedAtTheEdges) {
    for (const double sigma : {1.5, 4.0, 12.0, 25.0}) {
        const int size = static_cast<int>(sigma * 12) | 1, centre = size / 2;
        QImage image = samples::solid(size, 1, QColor(0, 0, 40));  // one row: rows repeat upward and downward
        for (int x = centre - 2; x <= centre + 2; ++x) image.setPixel(x, 0, qRgb(255, 0, 40));
        ImageEffects::gaussianBlur(image, sigma);
        double mass = 0, variance = 0;
        for (int x = 0; x < size; ++x) {
            const QRgb p = image.pixel(x, 0);
            mass += qRed(p);
            variance += qRed(p) * (x - centre) * (x - centre);
            EXPECT_EQ(qBlue(p), 40);
            EXPECT_EQ(qAlpha(p), 255);
            if (x != centre) {
                EXPECT_LE(qRed(p), qRed(image.pixel(x + (x > centre ? -1 : 1), 0))) << "monotone";
            }
        }
        // The bar itself adds (5^2 - 1) / 12 = 2 to the variance.
        EXPECT_NEAR(std::sqrt(variance / mass - 2), sigma, sigma * 0.08 + 0.3);
        EXPECT_NEAR(mass, 5 * 255, 5 * 255 * 0.05);
    }
    QImage mask(40, 40, QImage::Format_Alpha8);
    mask.fill(0);
    for (int y = 10; y < 40; ++y) std::memset(mask.scanLine(y) + 10, 255, 30);
    const QImage sharp = mask;
    ImageEffects::gaussianBlur(mask, 0.1);
    EXPECT_EQ(mask, sharp) << "too small for a box of three pixels";
    ImageEffects::gaussianBlur(mask, 3);
    EXPECT_EQ(mask.constScanLine(39)[39], 255);
    EXPECT_EQ(mask.constScanLine(0)[0], 0);
    EXPECT_GT(mask.constScanLine(25)[8], 0);
    EXPECT_LT(mask.constScanLine(25)[8], 128);
}

// Blocks are uniform, hold the mean of their pixels, and the grid has a corner at the anchor.
TEST(ImageEffectsTest, PixelateReplacesEachBlockOfTheAnchoredGridByItsMean) {
    QImage image(30, 20, QImage::Format_ARGB32_Premultiplied);
    for (int y = 0; y < 20; ++y)
        for (int x = 0; x < 30; ++x) image.setPixel(x, y, qRgba(x * 8, y * 12, 0, 255));
    ImageEffects::pixelate(image, 4, QPointF(2, 3));
    // Columns of blocks start at x = 2, 6, 10 ... (and the cut one at 0), rows at y = 3, 7 ...
    // The middle of the block around v, cut to the image.
    auto middle = [](int v, int anchor, int size) {
        const int start = anchor + static_cast<int>(std::floor((v - anchor) / 4.0)) * 4;
        return (std::max(start, 0) + std::min(start + 3, size - 1)) / 2.0;
    };
    for (int y = 0; y < 20; ++y)
        for (int x = 0; x < 30; ++x) {
            const double red = middle(x, 2, 30) * 8, green = middle(y, 3, 20) * 12;
            ASSERT_NEAR(qRed(image.pixel(x, y)), red, 0.51) << x << "," << y;
            ASSERT_NEAR(qGreen(image.pixel(x, y)), green, 0.51) << x << "," << y;
        }
}

}  // namespace
}  // namespace brevalto
