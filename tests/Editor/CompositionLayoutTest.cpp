// The geometry behind the Composition and Resize pages and the measurements of the colour page.
#include "Document/ScreenshotDocument.h"
#include "Editor/ColorMeasurement.h"
#include "Editor/CompositionLayout.h"
#include "Errors/ScreenshotError.h"

#include <QRegularExpression>

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace brevalto {
namespace {

using ScreenshotColor::RGBA;

ScreenshotLayer layer(ScreenshotLayerKind kind, QRectF frame) {
    ScreenshotLayer l;
    l.kind = kind;
    l.frame = frame;
    return l;
}

// Three images of 100 x 50, 200 x 80 and 150 x 60 with an arrow between them, cropped.
ScreenshotDocument threeImages() {
    ScreenshotDocument d;
    d.canvas = QSizeF(600, 400);
    d.crop = QRectF(10, 10, 100, 100);
    d.layers = {layer(ScreenshotLayerKind::image, QRectF(5, 5, 100, 50)),
                layer(ScreenshotLayerKind::arrow, QRectF(7, 9, 30, 30)),
                layer(ScreenshotLayerKind::image, QRectF(300, 200, 200, 80)),
                layer(ScreenshotLayerKind::image, QRectF(40, 300, 150, 60))};
    return d;
}

TEST(CompositionLayoutTest, ArrangesImagesInARowOrAColumnAndLeavesOtherLayers) {
    struct Case {
        bool vertical;
        double alignment;
        std::vector<QPointF> origins;
        QSizeF canvas;
    };
    for (const Case& c : {Case{false, 0.5, {{0, 15}, {112, 0}, {324, 10}}, {474, 80}},
                          Case{true, 1, {{100, 0}, {0, 62}, {50, 154}}, {200, 214}}}) {
        ScreenshotDocument d = threeImages();
        CompositionLayout::arrangeImageLayers(d, c.vertical, 12, c.alignment);
        EXPECT_EQ(d.layers[0].frame, QRectF(c.origins[0], QSizeF(100, 50))) << c.vertical;
        EXPECT_EQ(d.layers[2].frame, QRectF(c.origins[1], QSizeF(200, 80))) << c.vertical;
        EXPECT_EQ(d.layers[3].frame, QRectF(c.origins[2], QSizeF(150, 60))) << c.vertical;
        EXPECT_EQ(d.layers[1].frame, QRectF(7, 9, 30, 30));
        EXPECT_EQ(d.canvas, c.canvas);
        EXPECT_FALSE(d.crop);
    }
    ScreenshotDocument none;
    none.canvas = QSizeF(300, 200);
    none.layers = {layer(ScreenshotLayerKind::arrow, QRectF(0, 0, 10, 10))};
    CompositionLayout::arrangeImageLayers(none, false, 12, 0);
    EXPECT_EQ(none.canvas, QSizeF(1, 1));
}

TEST(CompositionLayoutTest, SpacingOutsideItsBoundsIsRefusedAndChangesNothing) {
    for (double spacing : {0.0, 2000.0}) {
        ScreenshotDocument d = threeImages();
        EXPECT_NO_THROW(CompositionLayout::arrangeImageLayers(d, false, spacing, 0)) << spacing;
    }
    const ScreenshotDocument original = threeImages();
    for (double spacing : {2000.5, -1.0, std::numeric_limits<double>::quiet_NaN(),
                           std::numeric_limits<double>::infinity()}) {
        ScreenshotDocument d = original;
        try {
            CompositionLayout::arrangeImageLayers(d, false, spacing, 0);
            ADD_FAILURE() << spacing;
        } catch (const ScreenshotError& e) {
            EXPECT_STREQ(e.what(), "Spacing must be 0-2000 px.");
        }
        EXPECT_EQ(d, original) << spacing;
    }
}

TEST(CompositionLayoutTest, ExpandingMovesEverythingIntoTheGrownCanvas) {
    ScreenshotDocument d;
    d.canvas = QSizeF(400, 300);
    d.crop = QRectF(0, 0, 100, 100);
    d.layers = {layer(ScreenshotLayerKind::image, QRectF(0, 0, 400, 300)),
                layer(ScreenshotLayerKind::arrow, QRectF(-30, 40, 80, 20))};
    d.layers[1].hidden = true;  // hidden layers count too
    d.originalPlacement = layer(ScreenshotLayerKind::image, QRectF(0, 0, 400, 300));
    CompositionLayout::expandCanvasToObjects(d);
    EXPECT_EQ(d.canvas, QSizeF(430, 300));
    EXPECT_EQ(d.layers[0].frame, QRectF(30, 0, 400, 300));
    EXPECT_EQ(d.layers[1].frame, QRectF(0, 40, 80, 20));
    EXPECT_EQ(d.originalPlacement->frame, QRectF(30, 0, 400, 300));
    EXPECT_FALSE(d.crop);

    // Fractions round outwards.
    d.layers[1].frame = QRectF(-0.5, 0, 10, 300.25);
    CompositionLayout::expandCanvasToObjects(d);
    EXPECT_EQ(d.canvas, QSizeF(431, 301));
}

// After rasterizing, no layer shows the source: the document places it over the flattened image,
// and arranging moves that placement with the image that holds it.
TEST(CompositionLayoutTest, TheSourcePlacementMovesWithTheImageHoldingIt) {
    ScreenshotDocument d;
    d.sourceAssetID = Uuid::random();
    d.canvas = QSizeF(500, 300);
    d.layers = {layer(ScreenshotLayerKind::image, QRectF(0, 0, 200, 100)),
                layer(ScreenshotLayerKind::image, QRectF(200, 0, 300, 300))};
    d.layers[0].assetID = Uuid::random();
    d.layers[1].assetID = Uuid::random();
    d.originalPlacement = layer(ScreenshotLayerKind::image, QRectF(220, 20, 100, 50));
    CompositionLayout::arrangeImageLayers(d, true, 10, 0);
    EXPECT_EQ(d.layers[1].frame.topLeft(), QPointF(0, 110));
    EXPECT_EQ(d.originalPlacement->frame, QRectF(20, 130, 100, 50));

    // While a layer still shows the source, that layer is the placement and it stays.
    d.layers[0].assetID = d.sourceAssetID;
    const QRectF placed = d.originalPlacement->frame;
    CompositionLayout::arrangeImageLayers(d, false, 0, 0);
    EXPECT_EQ(d.originalPlacement->frame, placed);
}

TEST(CompositionLayoutTest, ResizeSizesAreWholePixelsAndBadSizesReachTheSession) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    struct Case {
        QSizeF canvas;
        double width, height;
        bool aspect, editedWidth;
        QSizeF expected;
    };
    for (const Case& c : {Case{{1600, 900}, 1000, 0, true, true, {1000, 563}},
                          Case{{1600, 900}, 5, 450, true, false, {800, 450}},
                          Case{{1600, 900}, 333.4, 200.5, false, true, {333, 201}},
                          Case{{1600, 900}, 0.2, 900, false, true, {1, 900}}}) {
        EXPECT_EQ(CompositionLayout::dimensions(c.canvas, c.width, c.height, c.aspect, c.editedWidth), c.expected)
            << c.width << " " << c.height;
    }
    EXPECT_EQ(CompositionLayout::percentSize({1600, 900}, 50), QSizeF(800, 450));
    EXPECT_EQ(CompositionLayout::percentSize({100, 100}, 33), QSizeF(33, 33));
    // Zero and NaN are not made into a pixel: the session refuses them.
    EXPECT_EQ(CompositionLayout::percentSize({100, 100}, 0), QSizeF(0, 0));
    EXPECT_TRUE(std::isnan(CompositionLayout::dimensions({100, 100}, nan, 5, false, true).width()));
}

TEST(ColorMeasurementTest, ContrastJudgesColoursOnAWhitePageAndTheLinesHaveTheirFormats) {
    const RGBA black{0, 0, 0, 1}, white{1, 1, 1, 1};
    EXPECT_NEAR(ColorMeasurement::contrastRatio(black, white), 21.0, 1e-9);
    EXPECT_NEAR(ColorMeasurement::contrastRatio(white, white), 1.0, 1e-9);
    EXPECT_NEAR(ColorMeasurement::contrastRatio({0, 0, 0, 0}, white), 1.0, 1e-9);
    // A transparent background is the white page itself.
    EXPECT_NEAR(ColorMeasurement::contrastRatio(black, {0, 0, 0, 0}), 21.0, 1e-9);

    const QStringList lines = ColorMeasurement::describe({1, 0.5, 0, 1}, white);
    ASSERT_EQ(lines.size(), 4);
    EXPECT_EQ(lines[0], QString::fromUtf8("#FF8000 \u00B7 RGB 255 128 0"));
    EXPECT_EQ(lines[1], QString::fromUtf8("HSL 30.0\u00B0 100.0% 50.0%"));
    EXPECT_TRUE(lines[2].contains(QRegularExpression(QString::fromUtf8("^OKLCH 0\\.\\d{5} 0\\.\\d{5} \\d+\\.\\d{2}\u00B0$"))))
        << lines[2].toStdString();
    EXPECT_EQ(lines[3], QStringLiteral("WCAG 2 contrast 2.53:1"));
}

TEST(ColorMeasurementTest, SamplesTheAreaOfTheCroppedRenderByMode) {
    // The area: selection, else selected layer, else crop, else canvas; moved by the crop.
    ScreenshotDocument d;
    d.canvas = QSizeF(800, 600);
    EXPECT_EQ(ColorMeasurement::sampleArea(d, std::nullopt, std::nullopt), QRectF(0, 0, 800, 600));
    EXPECT_EQ(ColorMeasurement::sampleArea(d, std::nullopt, QRectF(1, 2, 3, 4)), QRectF(1, 2, 3, 4));
    d.crop = QRectF(100, 50, 400, 300);
    EXPECT_EQ(ColorMeasurement::sampleArea(d, std::nullopt, std::nullopt), QRectF(0, 0, 400, 300));
    EXPECT_EQ(ColorMeasurement::sampleArea(d, QRectF(290, 190, 20, 20), QRectF(1, 2, 3, 4)).center(), QPointF(200, 150));

    // White with a few black letters, and a transparent corner.
    QImage image(100, 60, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::white);
    for (int x = 10; x < 20; ++x)
        for (int y = 10; y < 15; ++y) image.setPixel(x, y, qRgb(0, 0, 0));
    for (int x = 80; x < 100; ++x)
        for (int y = 40; y < 60; ++y) image.setPixel(x, y, 0);
    const QRectF text(0, 0, 40, 30);
    const auto estimate = ColorMeasurement::sample(image, text, QStringLiteral("text"));
    ASSERT_TRUE(estimate);
    EXPECT_LT(std::max({estimate->red, estimate->green, estimate->blue}), 0.1);
    const auto average = ColorMeasurement::sample(image, text, QStringLiteral("average"));
    ASSERT_TRUE(average);
    EXPECT_GT(average->red, 0.9);
    EXPECT_LT(average->red, 1.0);
    EXPECT_EQ(ColorMeasurement::sample(image, QRectF(10, 10, 1, 1), QStringLiteral("pixel")), (RGBA{0, 0, 0, 1}));
    for (const QString& mode : {QStringLiteral("pixel"), QStringLiteral("average"), QStringLiteral("text")}) {
        EXPECT_FALSE(ColorMeasurement::sample(image, QRectF(82, 42, 10, 10), mode)) << mode.toStdString();
        EXPECT_FALSE(ColorMeasurement::sample(image, QRectF(150, 10, 10, 10), mode)) << mode.toStdString();
        EXPECT_FALSE(ColorMeasurement::sample(image, QRectF(-11, -11, 10, 10), mode)) << mode.toStdString();
    }
}

}  // namespace
}  // namespace brevalto
