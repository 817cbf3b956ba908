#include "Errors/ScreenshotError.h"
#include "Document/ScreenshotRenderer.h"
#include "Platform/FontCatalog.h"
#include "RenderSamples.h"

#include <QTransform>

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <limits>
#include <numbers>

namespace brevalto {
namespace {

using Kind = ScreenshotLayerKind;
using samples::layer;

// An image with a painter on it, set up as the renderer's contexts are.
class Canvas {
public:
    explicit Canvas(int width, int height, QColor background = Qt::white)
        : image_(width, height, QImage::Format_ARGB32_Premultiplied) {
        image_.fill(background);
        painter_.begin(&image_);
        painter_.setRenderHints(QPainter::Antialiasing | QPainter::SmoothPixmapTransform |
                                QPainter::TextAntialiasing);
    }
    explicit Canvas(const QImage& background) : Canvas(background.width(), background.height()) {
        painter_.drawImage(0, 0, background);
    }

    void draw(const ScreenshotLayer& l, const QImage* base = nullptr, const ScreenshotRenderer::ImageMap& images = {}) {
        ScreenshotRenderer::drawLayer(l, QRectF(0, 0, image_.width(), image_.height()), painter_, images, base);
    }
    std::string failureOf(const ScreenshotLayer& l, const QImage* base = nullptr) {
        try {
            draw(l, base);
        } catch (const ScreenshotError& e) {
            return e.what();
        }
        return "";
    }
    QPainter& painter() { return painter_; }
    const QImage& image() {
        if (painter_.isActive()) painter_.end();
        return image_;
    }

private:
    QImage image_;
    QPainter painter_;
};

bool near(QRgb p, QColor c, int tolerance = 3) {
    return std::abs(qRed(p) - c.red()) <= tolerance && std::abs(qGreen(p) - c.green()) <= tolerance &&
           std::abs(qBlue(p) - c.blue()) <= tolerance && std::abs(qAlpha(p) - c.alpha()) <= tolerance;
}

const QColor strokeRed = ScreenshotStyle{}.stroke.qColor();

bool isStroke(const QImage& image, QPointF p) { return near(image.pixel(p.toPoint()), strokeRed, 40); }
bool isWhite(const QImage& image, QPointF p) { return image.pixel(p.toPoint()) == qRgb(255, 255, 255); }

// The bounding box of every pixel that differs from the background.
QRect inkBounds(const QImage& image, QRgb background = qRgb(255, 255, 255)) {
    QRect bounds;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (image.pixel(x, y) != background) bounds |= QRect(x, y, 1, 1);
    return bounds;
}

QImage checkerboard(int size, int square) {
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    for (int y = 0; y < size; ++y)
        for (int x = 0; x < size; ++x) image.setPixel(x, y, (x / square + y / square) % 2 ? qRgb(255, 255, 255) : qRgb(0, 0, 0));
    return image;
}

// The canvas point p seen in the unturned frame of a layer rotated about its frame's centre.
QPointF unturned(const ScreenshotLayer& l, QPointF p) {
    const QPointF c = l.frame.center();
    return QTransform().translate(c.x(), c.y()).rotate(-l.rotation).translate(-c.x(), -c.y()).map(p);
}

TEST(LayerDrawingTest, ArrowsRunBetweenTheirPointsWithBarbsFourStrokeWidthsLong) {
    // No points: from the frame's bottom-left corner to its top-right corner.
    Canvas canvas(200, 200);
    canvas.draw(layer(Kind::arrow, QRectF(40, 40, 120, 120)));
    const QImage& arrow = canvas.image();
    EXPECT_TRUE(isStroke(arrow, {100, 100}));
    EXPECT_TRUE(isStroke(arrow, {45, 155}));
    EXPECT_TRUE(isWhite(arrow, {40, 40}));
    EXPECT_TRUE(isWhite(arrow, {160, 160}));
    // Barbs of 4 x 3 = 12 pixels at 0.45 rad either side of the shaft, pointing back from the tip.
    const QPointF end(160, 40);
    const double theta = std::atan2(-120, 120);
    for (const double side : {-0.45, 0.45}) {
        const QPointF back(std::cos(theta + side), std::sin(theta + side));
        EXPECT_TRUE(isStroke(arrow, end - 9 * back)) << side;
        EXPECT_TRUE(isWhite(arrow, end - 17 * back)) << side;
    }

    // A curved arrow without points bends toward (0.5, 0.15) of the frame: its middle lies at
    // 1/4 start + 1/2 control + 1/4 end = (100, 79), well above the straight line's middle.
    Canvas curved(200, 200);
    curved.draw(layer(Kind::curvedArrow, QRectF(40, 40, 120, 120)));
    EXPECT_TRUE(isStroke(curved.image(), {100, 79}));
    EXPECT_TRUE(isWhite(curved.image(), {100, 100}));

    // Given points are normalised to the frame.
    ScreenshotLayer straight = layer(Kind::arrow, QRectF(0, 0, 200, 100));
    straight.points = {QPointF(0.1, 0.5), QPointF(0.9, 0.5)};
    Canvas across(200, 100);
    across.draw(straight);
    EXPECT_TRUE(isStroke(across.image(), {100, 50}));
    EXPECT_TRUE(isWhite(across.image(), {100, 60}));
    EXPECT_TRUE(isWhite(across.image(), {10, 50}));
}

TEST(LayerDrawingTest, HandDrawnOutlinesWobbleWithinTheirBoundTheSameWayEveryTime) {
    const QRectF frame(20, 30, 160, 90);
    for (const double width : {1.0, 3.0, 3.6, 12.0}) {
        SCOPED_TRACE(width);
        ScreenshotLayer rect = layer(Kind::rectangle, frame);
        rect.style.handDrawn = true;
        rect.style.strokeWidth = width;
        const double bound = std::min(width / 2, 1.8) + 1e-9;
        const QPainterPath path = ScreenshotRenderer::shapePath(rect);
        EXPECT_EQ(path.elementCount(), 66);  // 65 samples and the closing line
        for (int i = 0; i < path.elementCount(); ++i) {
            const QPointF p = path.elementAt(i);
            const double edge = std::min({std::abs(p.x() - frame.left()), std::abs(p.x() - frame.right()),
                                          std::abs(p.y() - frame.top()), std::abs(p.y() - frame.bottom())});
            EXPECT_LE(edge, bound) << i;
        }
        EXPECT_EQ(ScreenshotRenderer::shapePath(rect), path) << "the same layer wobbles the same way";

        ScreenshotLayer oval = rect;
        oval.kind = Kind::oval;
        const QPainterPath ring = ScreenshotRenderer::shapePath(oval);
        for (int i = 0; i <= 64; ++i) {
            // Sample i lies at angle 2 pi i / 64, its radii moved out or in by the wobble.
            const QPointF p = ring.elementAt(i) - frame.center();
            const double angle = 2 * std::numbers::pi * i / 64;
            const double wobble = std::abs(std::cos(angle)) > 0.3 ? p.x() / std::cos(angle) - frame.width() / 2
                                                                   : p.y() / std::sin(angle) - frame.height() / 2;
            EXPECT_LE(std::abs(wobble), bound) << i;
        }
    }
    ScreenshotLayer one = layer(Kind::rectangle, frame), other = one;
    one.style.handDrawn = other.style.handDrawn = true;
    one.id = Uuid({0x10});
    other.id = Uuid({0x90});
    EXPECT_NE(ScreenshotRenderer::shapePath(one), ScreenshotRenderer::shapePath(other));
    one.style.handDrawn = false;
    EXPECT_EQ(ScreenshotRenderer::shapePath(one).boundingRect(), frame);
}

TEST(LayerDrawingTest, ShapesFillTheirInsideAndStrokeTheirOutline) {
    ScreenshotLayer rect = layer(Kind::rectangle, QRectF(20, 20, 100, 60));
    rect.style.filled = true;
    rect.style.fill = {0, 0, 1, 1};
    rect.style.strokeWidth = 4;
    ScreenshotLayer oval = rect;
    oval.kind = Kind::oval;
    oval.frame = QRectF(20, 100, 100, 60);
    Canvas canvas(160, 180);
    canvas.draw(rect);
    canvas.draw(oval);
    const QImage& image = canvas.image();
    EXPECT_EQ(image.pixel(70, 50), qRgb(0, 0, 255));
    EXPECT_TRUE(isStroke(image, {20, 50}));
    EXPECT_TRUE(isWhite(image, {15, 50}));
    EXPECT_EQ(image.pixel(70, 130), qRgb(0, 0, 255));
    EXPECT_TRUE(isWhite(image, {23, 103})) << "the frame's corner lies outside the oval";
}

TEST(LayerDrawingTest, HighlighterMultipliesAtAThirdOfItsOpacityWithFourTimesTheWidth) {
    ScreenshotLayer pen = layer(Kind::highlighter, QRectF(10, 50, 180, 0.5));
    pen.points = {QPointF(0, 0), QPointF(1, 0)};
    pen.style.stroke = {1, 1, 0, 1};
    pen.style.strokeWidth = 5;  // drawn 20 wide
    Canvas grey(200, 100, QColor(200, 200, 200));
    grey.draw(pen);
    // Multiplying by yellow keeps red and green and takes 35 % of the blue away.
    EXPECT_TRUE(near(grey.image().pixel(100, 50), QColor(200, 200, 130), 3));
    EXPECT_TRUE(near(grey.image().pixel(100, 58), QColor(200, 200, 130), 3));
    EXPECT_EQ(grey.image().pixel(100, 63), qRgb(200, 200, 200));

    // It only darkens: over black it leaves black.
    Canvas black(200, 100, Qt::black);
    black.draw(pen);
    EXPECT_EQ(inkBounds(black.image(), qRgb(0, 0, 0)), QRect());
}

TEST(LayerDrawingTest, FreehandSmoothsThroughItsPointsDrawsADotForOneAndNothingForNone) {
    ScreenshotLayer line = layer(Kind::freehand, QRectF(0, 0, 100, 100));
    Canvas empty(100, 100);
    empty.draw(line);
    EXPECT_EQ(inkBounds(empty.image()), QRect());

    line.points = {QPointF(0.5, 0.5)};
    line.style.strokeWidth = 6;
    Canvas dot(100, 100);
    dot.draw(line);
    EXPECT_TRUE(isStroke(dot.image(), {50, 50}));
    EXPECT_TRUE(inkBounds(dot.image()).adjusted(-1, -1, 1, 1).contains(QRect(47, 47, 6, 6)));
    EXPECT_LE(inkBounds(dot.image()).width(), 8);

    // Quadratic curves to the midpoints, then a straight line to the last point.
    line.points = {QPointF(0.1, 0.1), QPointF(0.9, 0.1), QPointF(0.9, 0.9)};
    line.style.strokeWidth = 3;
    Canvas curve(100, 100);
    curve.draw(line);
    EXPECT_TRUE(isStroke(curve.image(), {90, 88}));
    EXPECT_TRUE(isStroke(curve.image(), {30, 10}));
    EXPECT_TRUE(isWhite(curve.image(), {90, 12})) << "the corner is rounded off";
}

TEST(LayerDrawingTest, SpotlightDimsOnlyOutsideItsEllipseAndTurnsWithTheLayer) {
    Canvas canvas(200, 200);
    canvas.draw(layer(Kind::spotlight, QRectF(50, 50, 100, 100)));
    const int dimmed = static_cast<int>(std::round(255 * 0.35));
    EXPECT_TRUE(near(canvas.image().pixel(5, 5), QColor(dimmed, dimmed, dimmed), 2));
    EXPECT_TRUE(near(canvas.image().pixel(52, 52), QColor(dimmed, dimmed, dimmed), 2));
    EXPECT_EQ(canvas.image().pixel(100, 100), qRgb(255, 255, 255));
    EXPECT_EQ(canvas.image().pixel(100, 55), qRgb(255, 255, 255));

    // Rotated, the darkened canvas rectangle turns with it and uncovers the canvas's corners.
    ScreenshotLayer turned = layer(Kind::spotlight, QRectF(50, 50, 100, 100));
    turned.rotation = 45;
    Canvas rotated(200, 200);
    rotated.draw(turned);
    EXPECT_EQ(rotated.image().pixel(1, 1), qRgb(255, 255, 255));
    EXPECT_TRUE(near(rotated.image().pixel(100, 5), QColor(dimmed, dimmed, dimmed), 2));
}

TEST(LayerDrawingTest, MagnifierShowsItsFrameEnlargedInBlocksInALensBesideIt) {
    const QImage base = samples::coordinateImage(300, 300);
    ScreenshotLayer lens = layer(Kind::magnifier, QRectF(20, 20, 40, 40));
    lens.value = 3;
    lens.style.filled = true;  // a lens with small corners
    Canvas canvas(300, 300);
    canvas.draw(lens, &base);
    const QImage& image = canvas.image();
    // The lens is 120 x 120 with its top-left corner on the frame's bottom-right corner, and each
    // source pixel (20 + u, 20 + v) fills a 3 x 3 block at (60 + 3u, 60 + 3v).
    for (int v = 3; v < 37; v += 5)
        for (int u = 3; u < 37; u += 4)
            for (int dy = 0; dy < 3; ++dy)
                for (int dx = 0; dx < 3; ++dx)
                    ASSERT_EQ(image.pixel(60 + 3 * u + dx, 60 + 3 * v + dy), base.pixel(20 + u, 20 + v))
                        << u << "," << v;
    EXPECT_TRUE(isWhite(image, {200, 200}));
    EXPECT_TRUE(isWhite(image, {40, 40})) << "the source area itself is not painted over";

    // An offset in the first point moves the lens; without a base image nothing is drawn.
    lens.points = {QPointF(3, 0)};
    Canvas moved(300, 300);
    moved.draw(lens, &base);
    // Its centre is now (40 + 3 * 40, 40), so its top-left corner is (100, -20).
    EXPECT_EQ(moved.image().pixel(100 + 3 * 10 + 1, -20 + 3 * 10 + 1), base.pixel(30, 30));
    Canvas without(300, 300);
    without.draw(lens, nullptr);
    EXPECT_EQ(inkBounds(without.image()), QRect());
}

TEST(LayerDrawingTest, RedactionIsOpaqueOverItsWholePixelFrameWhateverItsOpacity) {
    ScreenshotLayer redact = layer(Kind::redact, QRectF(10.5, 10.5, 20.2, 20));
    redact.style.opacity = 0.2;
    redact.style.fill = {0, 0.5, 1, 0.5};
    Canvas canvas(50, 50);
    canvas.draw(redact);
    const QColor opaque = ScreenshotColor::RGBA{0, 0.5, 1, 1}.qColor();
    EXPECT_EQ(inkBounds(canvas.image()), QRect(10, 10, 21, 21));
    for (int y = 10; y <= 30; ++y)
        for (int x = 10; x <= 30; ++x) ASSERT_EQ(canvas.image().pixel(x, y), opaque.rgba()) << x << "," << y;
}

TEST(LayerDrawingTest, BlurAndPixelateFilterOnlyTheirRegion) {
    const QImage source = checkerboard(200, 4);
    ScreenshotLayer blur = layer(Kind::blur, QRectF(40.5, 40, 80, 60));
    blur.value = 3;
    Canvas blurred(source);
    blurred.draw(blur);
    const QImage& out = blurred.image();
    const QRect region(40, 40, 81, 60);
    for (int y = 0; y < 200; ++y)
        for (int x = 0; x < 200; ++x) {
            if (region.contains(x, y)) {
                if (region.adjusted(3, 3, -3, -3).contains(x, y)) {
                    ASSERT_NEAR(qRed(out.pixel(x, y)), 128, 30);
                }
            } else {
                ASSERT_EQ(out.pixel(x, y), source.pixel(x, y)) << x << "," << y;
            }
        }

    // Value 1 pixelates in blocks of 2 (the smallest); blocks are uniform and of the region's mean.
    const QImage coords = samples::coordinateImage(200, 200);
    for (const double value : {1.0, 10.0}) {
        SCOPED_TRACE(value);
        ScreenshotLayer pixelate = layer(Kind::pixelate, QRectF(40, 40, 80, 60));
        pixelate.value = value;
        Canvas canvas(coords);
        canvas.draw(pixelate);
        const QImage& image = canvas.image();
        const int block = value < 2 ? 2 : 10;
        // The grid is anchored 150 pixels in from the region's left and bottom edges, which
        // here falls on its top-left corner for both sizes.
        for (int y = 40; y < 100; ++y)
            for (int x = 40; x < 120; ++x) {
                const QPoint corner(40 + (x - 40) / block * block, 40 + (y - 40) / block * block);
                ASSERT_EQ(image.pixel(x, y), image.pixel(corner)) << x << "," << y;
            }
        EXPECT_NE(image.pixel(40, 40), image.pixel(40 + block, 40));
        EXPECT_EQ(image.pixel(39, 50), coords.pixel(39, 50));
        EXPECT_EQ(image.pixel(120, 50), coords.pixel(120, 50));
        // Red runs 0...255 along x, so a block's red is the mean of its columns.
        EXPECT_NEAR(qRed(image.pixel(40, 40)), 40 + (block - 1) / 2.0, 0.51);
    }
}

// Turned blur and pixelation filter the image as it lies under the turned frame and cover
// exactly that footprint: content stays where it was, and nothing outside changes.
TEST(LayerDrawingTest, RotatedEffectsCoverExactlyTheirTurnedFootprint) {
    // Left half black, right half white, split at x = 100 through the layer's centre.
    QImage halves(200, 200, QImage::Format_ARGB32_Premultiplied);
    halves.fill(Qt::white);
    for (int y = 0; y < 200; ++y)
        for (int x = 0; x < 100; ++x) halves.setPixel(x, y, qRgb(0, 0, 0));
    const QImage board = checkerboard(200, 3);

    for (const Kind kind : {Kind::blur, Kind::pixelate}) {
        SCOPED_TRACE(std::string(rawValue(kind)));
        ScreenshotLayer effect = layer(kind, QRectF(40, 70, 120, 60));
        effect.rotation = 30;
        effect.value = kind == Kind::blur ? 2 : 4;

        Canvas split(halves);
        split.draw(effect);
        // Points inside the footprint keep the side of the split they lie on.
        EXPECT_LT(qRed(split.image().pixel(85, 125)), 60);
        EXPECT_GT(qRed(split.image().pixel(115, 75)), 195);

        Canvas checked(board);
        checked.draw(effect);
        const QImage& out = checked.image();
        int filtered = 0;
        for (int y = 0; y < 200; ++y)
            for (int x = 0; x < 200; ++x) {
                const QPointF p = unturned(effect, QPointF(x + 0.5, y + 0.5));
                if (!effect.frame.adjusted(-1.5, -1.5, 1.5, 1.5).contains(p))
                    ASSERT_EQ(out.pixel(x, y), board.pixel(x, y)) << "outside the footprint " << x << "," << y;
                else if (effect.frame.adjusted(1.5, 1.5, -1.5, -1.5).contains(p))
                    filtered += out.pixel(x, y) != board.pixel(x, y);
            }
        EXPECT_GT(filtered, 120 * 60 * 0.6) << "the whole footprint is filtered";
    }

    // Erase is not filtered: it fills its turned frame with one colour.
    QImage grey(200, 200, QImage::Format_ARGB32_Premultiplied);
    grey.fill(QColor(90, 90, 90));
    for (int y = 80; y < 120; ++y)
        for (int x = 60; x < 140; ++x) grey.setPixel(x, y, qRgb(255, 0, 0));
    ScreenshotLayer erase = layer(Kind::erase, QRectF(50, 75, 100, 50));
    erase.rotation = 30;
    Canvas erased(grey);
    erased.draw(erase);
    EXPECT_EQ(erased.image().pixel(100, 100), qRgb(90, 90, 90));
    EXPECT_EQ(erased.image().pixel(70, 85), erased.image().pixel(100, 100));
}

TEST(LayerDrawingTest, EraseFillsWithTheMeanOfTheStripsAroundItInsideTheCanvas) {
    // Top half red, bottom half blue: above is red, below blue, the sides half and half.
    QImage halves(100, 100, QImage::Format_ARGB32_Premultiplied);
    for (int y = 0; y < 100; ++y)
        for (int x = 0; x < 100; ++x) halves.setPixel(x, y, y < 50 ? qRgb(255, 0, 0) : qRgb(0, 0, 255));
    ScreenshotLayer erase = layer(Kind::erase, QRectF(30, 30, 40, 40));
    Canvas canvas(halves);
    canvas.draw(erase);
    EXPECT_TRUE(near(canvas.image().pixel(50, 50), QColor(128, 0, 128), 2));
    EXPECT_EQ(canvas.image().pixel(50, 27), qRgb(255, 0, 0));

    // Touching the left edge: the top, bottom and right strips only.
    ScreenshotLayer edge = layer(Kind::erase, QRectF(0, 30, 40, 20));
    Canvas left(halves);
    left.draw(edge);
    // Above red, below blue, right strip red: two thirds red.
    EXPECT_TRUE(near(left.image().pixel(20, 40), QColor(170, 0, 85), 2));

    Canvas whole(halves);
    EXPECT_EQ(whole.failureOf(layer(Kind::erase, QRectF(0, 0, 100, 100))), ScreenshotRenderer::kNoNearbyAreaMessage);
    EXPECT_EQ(whole.failureOf(layer(Kind::erase, QRectF(500, 500, 10, 10))), ScreenshotRenderer::kNoNearbyAreaMessage);
}

TEST(LayerDrawingTest, FontFamiliesCountWhenInstalledOrAliasedButNotThroughTheGenericFallback) {
    EXPECT_TRUE(isFontFamilyInstalled("DejaVu Sans"));
    EXPECT_TRUE(isFontFamilyInstalled("dejavu sans"));
    EXPECT_TRUE(isFontFamilyInstalled("Nimbus Sans"));
    EXPECT_TRUE(isFontFamilyInstalled("Helvetica")) << "an alias rule maps it onto an installed family";
    EXPECT_FALSE(isFontFamilyInstalled("Brevalto Imaginary Grotesk"));
    EXPECT_FALSE(isFontFamilyInstalled(""));

    ScreenshotLayer text = layer(Kind::text, QRectF(0, 0, 200, 60));
    text.text = "Hello";
    text.style.fontName = "Brevalto Imaginary Grotesk";
    Canvas canvas(200, 60);
    EXPECT_EQ(canvas.failureOf(text), "Font Brevalto Imaginary Grotesk is missing. Choose an installed font.");
}

// Text lands inside its inset frame; text and callouts that do not fit fail at once, while
// counters and translated text shrink in half-point steps down to 4 points first.
TEST(LayerDrawingTest, TextFitsInsideItsAreaAfterShrinkingOrFails) {
    const QRectF frame(20, 20, 160, 60);
    const QRect area = frame.adjusted(4, 3, -4, -3).toAlignedRect();
    for (const Kind kind : {Kind::text, Kind::callout, Kind::translatedText}) {
        SCOPED_TRACE(std::string(rawValue(kind)));
        ScreenshotLayer text = layer(kind, frame);
        text.text = "Hello there,\nwrapped words";
        text.style.fontSize = 18;
        text.style.fill = {1, 1, 1, 1};  // white fills leave only the letters as ink
        Canvas canvas(200, 120);
        canvas.draw(text);
        const QRect ink = inkBounds(canvas.image());
        EXPECT_FALSE(ink.isEmpty());
        EXPECT_TRUE(area.adjusted(-1, -1, 1, 1).contains(ink)) << ink.x() << "," << ink.y() << " " << ink.width();
        EXPECT_GT(ink.height(), 30) << "two lines";

        text.text = std::string(300, 'w');
        Canvas overflowing(200, 120);
        if (kind == Kind::translatedText) {
            overflowing.draw(text);
            EXPECT_TRUE(area.adjusted(-1, -1, 1, 1).contains(inkBounds(overflowing.image())));
        } else {
            EXPECT_EQ(overflowing.failureOf(text), ScreenshotRenderer::kTextDoesNotFitMessage);
        }
    }

    ScreenshotLayer counter = layer(Kind::counter, QRectF(10, 10, 30, 30));
    counter.text = "9999";
    counter.style.fill = {1, 1, 1, 1};
    Canvas small(60, 60);
    small.draw(counter);
    EXPECT_TRUE(QRect(14, 13, 22, 24).adjusted(-1, -1, 1, 1).contains(inkBounds(small.image())));
    counter.frame = QRectF(10, 10, 12, 10);  // 4 x 4 of text area: too small even at 4 points
    Canvas tiny(60, 60);
    EXPECT_EQ(tiny.failureOf(counter), ScreenshotRenderer::kTextDoesNotFitMessage);
    counter.frame = QRectF(10, 10, 8, 30);
    EXPECT_EQ(tiny.failureOf(counter), ScreenshotRenderer::kTextAreaTooSmallMessage);
}

TEST(LayerDrawingTest, BadLayersFailCleanlyOrDrawNothing) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    Canvas canvas(100, 100);
    for (ScreenshotLayer bad : {layer(Kind::rectangle, QRectF(nan, 0, 10, 10)), layer(Kind::blur, QRectF(0, 0, inf, 10)),
                                layer(Kind::arrow, QRectF(0, 0, 0, 10))}) {
        EXPECT_EQ(canvas.failureOf(bad), ScreenshotRenderer::kInvalidLayerMessage);
    }
    ScreenshotLayer turned = layer(Kind::oval, QRectF(0, 0, 10, 10));
    turned.rotation = nan;
    EXPECT_EQ(canvas.failureOf(turned), ScreenshotRenderer::kInvalidLayerMessage);
    turned.rotation = 0;
    turned.points = {QPointF(inf, 0)};
    EXPECT_EQ(canvas.failureOf(turned), ScreenshotRenderer::kInvalidLayerMessage);
    EXPECT_EQ(canvas.failureOf(layer(Kind::image, QRectF(0, 0, 10, 10))), ScreenshotRenderer::kMissingAssetMessage);

    // Far outside the canvas every kind draws nothing (the spotlight darkens all of it; erase
    // finds nothing to sample).
    const QImage base = samples::coordinateImage(100, 100);
    for (const Kind kind : allScreenshotLayerKinds) {
        if (kind == Kind::image || kind == Kind::spotlight || kind == Kind::erase) continue;
        SCOPED_TRACE(std::string(rawValue(kind)));
        ScreenshotLayer far = layer(kind, QRectF(100000, -100000, 50, 40));
        far.text = "7";
        far.points = {QPointF(0, 0), QPointF(1, 1)};
        Canvas away(100, 100);
        away.draw(far, &base);
        EXPECT_EQ(inkBounds(away.image()), QRect());
    }

    // Enormous frames are cut to the canvas.
    for (const Kind kind : {Kind::blur, Kind::pixelate, Kind::redact, Kind::magnifier, Kind::rectangle}) {
        ScreenshotLayer huge = layer(kind, QRectF(-65536, -65536, 131072, 131072));
        huge.rotation = 10;
        Canvas big(100, 100);
        EXPECT_NO_THROW(big.draw(huge, &base)) << rawValue(kind);
    }

    // 100,000 characters neither hang nor spill: they shrink until they fit or fail.
    ScreenshotLayer flood = layer(Kind::translatedText, QRectF(0, 0, 300, 200));
    flood.text.reserve(100000);
    for (int i = 0; i < 50000; ++i) flood.text += "a ";
    const auto start = std::chrono::steady_clock::now();
    Canvas text(300, 200);
    EXPECT_EQ(text.failureOf(flood), ScreenshotRenderer::kTextDoesNotFitMessage);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
}

TEST(LayerDrawingTest, DrawingLeavesThePaintersStateAsItFoundItAlsoWhenItFails) {
    Canvas canvas(100, 100);
    QPainter& painter = canvas.painter();
    const QPen pen(Qt::green, 7);
    painter.setPen(pen);
    ScreenshotLayer text = layer(Kind::text, QRectF(0, 0, 30, 20));
    text.text = std::string(200, 'x');
    text.rotation = 30;
    text.style.opacity = 0.4;
    ScreenshotLayer light = layer(Kind::highlighter, QRectF(0, 0, 50, 50));
    light.points = {QPointF(0, 0), QPointF(1, 1)};
    light.rotation = 12;
    for (const ScreenshotLayer& l : {text, light, layer(Kind::blur, QRectF(10, 10, 50, 50))}) {
        canvas.failureOf(l);
        EXPECT_TRUE(painter.transform().isIdentity());
        EXPECT_EQ(painter.opacity(), 1.0);
        EXPECT_EQ(painter.compositionMode(), QPainter::CompositionMode_SourceOver);
        EXPECT_EQ(painter.pen(), pen);
        EXPECT_FALSE(painter.hasClipping());
    }
}

}  // namespace
}  // namespace brevalto
