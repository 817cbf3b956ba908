#include "Document/ScreenshotRenderer.h"
#include "Errors/ScreenshotError.h"
#include "Platform/FontCatalog.h"
#include "RenderSamples.h"

#include <QTransform>

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace brevalto {
namespace {

using Kind = ScreenshotLayerKind;
using samples::layer;

// Draws the layer onto a copy of the background with a painter set up as the renderer's
// contexts are. Returns the failure's sentence, or "" when it drew.
std::string drawOnto(QImage& image, const ScreenshotLayer& l, const QImage* base = nullptr, QPainter* painter = nullptr) {
    QPainter own;
    if (!painter) {
        own.begin(&image);
        own.setRenderHints(QPainter::Antialiasing | QPainter::SmoothPixmapTransform | QPainter::TextAntialiasing);
        painter = &own;
    }
    try {
        ScreenshotRenderer::drawLayer(l, QRectF(0, 0, image.width(), image.height()), *painter, {}, base);
    } catch (const ScreenshotError& e) {
        return e.what();
    }
    return "";
}
QImage drawn(const ScreenshotLayer& l, QImage image = samples::solid(200, 200, Qt::white), const QImage* base = nullptr) {
    EXPECT_EQ(drawOnto(image, l, base), "");
    return image;
}
std::string failure(const ScreenshotLayer& l) {
    QImage image = samples::solid(200, 200, Qt::white);
    return drawOnto(image, l);
}

bool near(QRgb p, QColor c, int tolerance = 3) {
    return std::abs(qRed(p) - c.red()) <= tolerance && std::abs(qGreen(p) - c.green()) <= tolerance &&
           std::abs(qBlue(p) - c.blue()) <= tolerance;
}
bool isStroke(const QImage& image, QPointF p) { return near(image.pixel(p.toPoint()), ScreenshotStyle{}.stroke.qColor(), 40); }
bool isWhite(const QImage& image, QPointF p) { return image.pixel(p.toPoint()) == qRgb(255, 255, 255); }

// The bounding box of every pixel that differs from the background.
QRect ink(const QImage& image, QRgb background = qRgb(255, 255, 255)) {
    QRect bounds;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (image.pixel(x, y) != background) bounds |= QRect(x, y, 1, 1);
    return bounds;
}

TEST(LayerDrawingTest, ArrowsAndStrokesFollowTheirPoints) {
    // No points: from the frame's bottom-left to its top-right corner, with barbs of 4 x 3
    // pixels at 0.45 rad either side of the shaft.
    const QImage arrow = drawn(layer(Kind::arrow, QRectF(40, 40, 120, 120)));
    EXPECT_TRUE(isStroke(arrow, {100, 100}) && isWhite(arrow, {40, 40}) && isWhite(arrow, {160, 160}));
    for (const double side : {-0.45, 0.45}) {
        const QPointF back(std::cos(-M_PI / 4 + side), std::sin(-M_PI / 4 + side));
        EXPECT_TRUE(isStroke(arrow, QPointF(160, 40) - 9 * back) && isWhite(arrow, QPointF(160, 40) - 17 * back));
    }
    // A curved arrow bends toward (0.5, 0.15): its middle is at (100, 79), not (100, 100).
    const QImage curved = drawn(layer(Kind::curvedArrow, QRectF(40, 40, 120, 120)));
    EXPECT_TRUE(isStroke(curved, {100, 79}) && isWhite(curved, {100, 100}));
    // Freehand: nothing without points, a round dot for one, curves through midpoints for more.
    ScreenshotLayer line = layer(Kind::freehand, QRectF(0, 0, 100, 100));
    EXPECT_EQ(ink(drawn(line)), QRect());
    line.points = {QPointF(0.5, 0.5)};
    line.style.strokeWidth = 6;
    const QImage dot = drawn(line);
    EXPECT_TRUE(QRect(46, 46, 8, 8).contains(ink(dot)) && isStroke(dot, {50, 50}));
    line.points = {QPointF(0.1, 0.1), QPointF(0.9, 0.1), QPointF(0.9, 0.9)};
    const QImage curve = drawn(line);
    EXPECT_TRUE(isStroke(curve, {90, 88}) && isStroke(curve, {30, 10}) && isWhite(curve, {90, 12}));
}

TEST(LayerDrawingTest, ShapesFillAndStrokeTheirOutlineWhichWobblesSteadilyWhenHandDrawn) {
    const QRectF frame(20, 30, 160, 90);
    for (const double width : {1.0, 3.6, 12.0}) {
        ScreenshotLayer rect = layer(Kind::rectangle, frame);
        rect.style.handDrawn = true;
        rect.style.strokeWidth = width;
        const QPainterPath path = ScreenshotRenderer::shapePath(rect);
        EXPECT_EQ(path.elementCount(), 66);  // 65 samples and the closing line
        for (int i = 0; i < path.elementCount(); ++i) {
            const QPointF p = path.elementAt(i);
            EXPECT_LE(std::min({std::abs(p.x() - frame.left()), std::abs(p.x() - frame.right()),
                                std::abs(p.y() - frame.top()), std::abs(p.y() - frame.bottom())}),
                      std::min(width / 2, 1.8) + 1e-9);
        }
        EXPECT_EQ(ScreenshotRenderer::shapePath(rect), path);
    }
    ScreenshotLayer one = layer(Kind::oval, frame), other = one;
    one.style.handDrawn = other.style.handDrawn = true;
    one.id = Uuid({0x10});
    other.id = Uuid({0x90});
    EXPECT_NE(ScreenshotRenderer::shapePath(one), ScreenshotRenderer::shapePath(other));
    one.style = {};
    one.style.filled = true;
    one.style.fill = {0, 0, 1, 1};
    const QImage oval = drawn(one);
    EXPECT_EQ(oval.pixel(100, 75), qRgb(0, 0, 255));
    EXPECT_TRUE(isStroke(oval, {100, 30}) && isWhite(oval, {23, 33}));
}

TEST(LayerDrawingTest, HighlighterSpotlightAndRedactionShadeAsTheyShould) {
    // The highlighter multiplies at 0.35 of its opacity, 4 times as wide as its stroke.
    ScreenshotLayer pen = layer(Kind::highlighter, QRectF(10, 50, 180, 0.5));
    pen.points = {QPointF(0, 0), QPointF(1, 0)};
    pen.style.stroke = {1, 1, 0, 1};
    pen.style.strokeWidth = 5;
    const QImage grey = drawn(pen, samples::solid(200, 100, QColor(200, 200, 200)));
    EXPECT_TRUE(near(grey.pixel(100, 58), QColor(200, 200, 130)) && grey.pixel(100, 63) == qRgb(200, 200, 200));
    EXPECT_EQ(ink(drawn(pen, samples::solid(200, 100, Qt::black)), qRgb(0, 0, 0)), QRect()) << "it only darkens";
    // The spotlight dims outside its ellipse to 35 %; turned, it turns the dimmed canvas too.
    ScreenshotLayer spot = layer(Kind::spotlight, QRectF(50, 50, 100, 100));
    const QImage lit = drawn(spot);
    EXPECT_TRUE(near(lit.pixel(52, 52), QColor(89, 89, 89), 2) && isWhite(lit, {100, 55}));
    spot.rotation = 45;
    const QImage turned = drawn(spot);
    EXPECT_TRUE(isWhite(turned, {1, 1}) && near(turned.pixel(100, 5), QColor(89, 89, 89), 2));
    // A redaction fills its whole-pixel frame opaquely whatever its opacity and fill alpha.
    ScreenshotLayer redact = layer(Kind::redact, QRectF(10.5, 10.5, 20.2, 20));
    redact.style.opacity = 0.2;
    redact.style.fill = {0, 0.5, 1, 0.5};
    const QImage hidden = drawn(redact);
    EXPECT_EQ(ink(hidden), QRect(10, 10, 21, 21));
    for (int i = 0; i < 21 * 21; ++i)
        ASSERT_EQ(hidden.pixel(10 + i % 21, 10 + i / 21), ScreenshotColor::RGBA({0, 0.5, 1, 1}).qColor().rgba());
}

TEST(LayerDrawingTest, MagnifierShowsItsFrameFromTheBaseEnlargedInBlocks) {
    const QImage base = samples::coordinateImage(300, 300);
    ScreenshotLayer lens = layer(Kind::magnifier, QRectF(20, 20, 40, 40));
    lens.value = 3;
    lens.style.filled = true;  // a lens with small corners
    const QImage image = drawn(lens, samples::solid(300, 300, Qt::white), &base);
    // The 120 x 120 lens has its top-left corner on the frame's bottom-right corner, and source
    // pixel (20 + u, 20 + v) fills the 3 x 3 block at (60 + 3u, 60 + 3v).
    for (int v = 3; v < 37; v += 5)
        for (int u = 3; u < 37; u += 4)
            for (int d = 0; d < 9; ++d)
                ASSERT_EQ(image.pixel(60 + 3 * u + d % 3, 60 + 3 * v + d / 3), base.pixel(20 + u, 20 + v));
    EXPECT_TRUE(isWhite(image, {200, 200}) && isWhite(image, {40, 40}));
    EXPECT_EQ(ink(drawn(lens, samples::solid(300, 300, Qt::white), nullptr)), QRect()) << "no base, no lens";
}

TEST(LayerDrawingTest, BlurAndPixelateFilterOnlyTheirRegion) {
    const QImage board = samples::checkerboard(200, 4);
    ScreenshotLayer blur = layer(Kind::blur, QRectF(40.5, 40, 80, 60));
    blur.value = 3;
    const QImage blurred = drawn(blur, board);
    const QRect region(40, 40, 81, 60);
    for (int y = 0; y < 200; ++y)
        for (int x = 0; x < 200; ++x) {
            if (!region.contains(x, y)) {
                ASSERT_EQ(blurred.pixel(x, y), board.pixel(x, y));
            } else if (region.adjusted(3, 3, -3, -3).contains(x, y)) {
                ASSERT_NEAR(qRed(blurred.pixel(x, y)), 128, 30);
            }
        }
    // A stop request ends a blur with the render's cancellation, drawing nothing.
    std::stop_source stop;
    stop.request_stop();
    QImage stopped = board;
    QPainter painter(&stopped);
    EXPECT_THROW(ScreenshotRenderer::drawLayer(blur, QRectF(0, 0, 200, 200), painter, {}, nullptr, stop.get_token()),
                 RenderCancelled);
    painter.end();
    EXPECT_EQ(stopped, board);
    // Value 1 pixelates in blocks of 2; the grid sits 150 pixels in from the region's left and
    // bottom edges, which here falls on its top-left corner; a block's red is its columns' mean.
    const QImage coords = samples::coordinateImage(200, 200);
    for (const int block : {2, 10}) {
        ScreenshotLayer pixelate = layer(Kind::pixelate, QRectF(40, 40, 80, 60));
        pixelate.value = block == 2 ? 1 : block;
        const QImage image = drawn(pixelate, coords);
        for (int y = 40; y < 100; ++y)
            for (int x = 40; x < 120; ++x)
                ASSERT_EQ(image.pixel(x, y), image.pixel(40 + (x - 40) / block * block, 40 + (y - 40) / block * block));
        EXPECT_NEAR(qRed(image.pixel(40, 40)), 40 + (block - 1) / 2.0, 0.51);
        EXPECT_TRUE(image.pixel(39, 50) == coords.pixel(39, 50) && image.pixel(120, 50) == coords.pixel(120, 50));
    }
}

// Turned blur and pixelation filter the image as it lies under the turned frame and cover
// exactly that footprint: content stays where it was and nothing outside changes.
TEST(LayerDrawingTest, RotatedEffectsCoverExactlyTheirTurnedFootprint) {
    QImage halves = samples::solid(200, 200, Qt::white);  // black left of x = 100, white right
    for (int i = 0; i < 200 * 100; ++i) halves.setPixel(i % 100, i / 100, qRgb(0, 0, 0));
    const QImage board = samples::checkerboard(200, 3);
    const QTransform unturn = QTransform().translate(100, 100).rotate(-30).translate(-100, -100);
    for (const Kind kind : {Kind::blur, Kind::pixelate}) {
        ScreenshotLayer effect = layer(kind, QRectF(40, 70, 120, 60));
        effect.rotation = 30;
        effect.value = kind == Kind::blur ? 2 : 4;
        const QImage split = drawn(effect, halves), checked = drawn(effect, board);
        EXPECT_TRUE(qRed(split.pixel(85, 125)) < 60 && qRed(split.pixel(115, 75)) > 195) << rawValue(kind);
        int filtered = 0;
        for (int y = 0; y < 200; ++y)
            for (int x = 0; x < 200; ++x) {
                const QPointF p = unturn.map(QPointF(x + 0.5, y + 0.5));
                const bool changed = checked.pixel(x, y) != board.pixel(x, y);
                if (!effect.frame.adjusted(-1.5, -1.5, 1.5, 1.5).contains(p)) {
                    ASSERT_FALSE(changed) << x << "," << y;
                }
                if (effect.frame.adjusted(1.5, 1.5, -1.5, -1.5).contains(p)) filtered += changed;
            }
        EXPECT_GT(filtered, 120 * 60 * 0.6) << rawValue(kind);
    }
    // Erase is not filtered: it fills its turned frame with the one surrounding colour.
    QImage grey = samples::solid(200, 200, QColor(90, 90, 90));
    for (int i = 0; i < 80 * 40; ++i) grey.setPixel(60 + i % 80, 80 + i / 80, qRgb(255, 0, 0));
    ScreenshotLayer erase = layer(Kind::erase, QRectF(50, 75, 100, 50));
    erase.rotation = 30;
    const QImage erased = drawn(erase, grey);
    EXPECT_TRUE(erased.pixel(100, 100) == qRgb(90, 90, 90) && erased.pixel(70, 85) == qRgb(90, 90, 90));
}

TEST(LayerDrawingTest, EraseFillsWithTheMeanOfTheStripsAroundItInsideTheCanvas) {
    QImage halves = samples::solid(100, 100, Qt::blue);  // red above y = 50
    for (int i = 0; i < 100 * 50; ++i) halves.setPixel(i % 100, i / 100, qRgb(255, 0, 0));
    // Red above, blue below and the two halves at the sides; without a left strip, two reds.
    EXPECT_TRUE(near(drawn(layer(Kind::erase, QRectF(30, 30, 40, 40)), halves).pixel(50, 50), QColor(128, 0, 128), 2));
    EXPECT_TRUE(near(drawn(layer(Kind::erase, QRectF(0, 30, 40, 20)), halves).pixel(20, 40), QColor(170, 0, 85), 2));
    EXPECT_EQ(failure(layer(Kind::erase, QRectF(0, 0, 200, 200))), ScreenshotRenderer::kNoNearbyAreaMessage);
    EXPECT_EQ(failure(layer(Kind::erase, QRectF(500, 500, 10, 10))), ScreenshotRenderer::kNoNearbyAreaMessage);
}

// Text lands inside its inset frame. Text and callouts that do not fit fail at once; counters
// and translated text shrink in half-point steps down to 4 points first. Fonts count when
// installed or aliased, not through the generic fallback.
TEST(LayerDrawingTest, TextFitsInsideItsAreaAfterShrinkingOrFails) {
    EXPECT_TRUE(isFontFamilyInstalled("DejaVu Sans") && isFontFamilyInstalled("helvetica"));
    EXPECT_FALSE(isFontFamilyInstalled("Brevalto Imaginary Grotesk") || isFontFamilyInstalled(""));
    const QRectF frame(20, 20, 160, 60);
    const QRect area = frame.adjusted(3, 2, -3, -2).toAlignedRect();
    for (const Kind kind : {Kind::text, Kind::callout, Kind::translatedText}) {
        ScreenshotLayer text = layer(kind, frame);
        text.text = "Hello there,\nwrapped words";
        text.style.fontSize = 18;
        const QImage fits = drawn(text);
        EXPECT_TRUE(area.contains(ink(fits)) && ink(fits).height() > 30) << rawValue(kind);
        text.text = std::string(300, 'w');
        if (kind == Kind::translatedText) {
            EXPECT_TRUE(area.contains(ink(drawn(text))));
        } else {
            EXPECT_EQ(failure(text), ScreenshotRenderer::kTextDoesNotFitMessage);
        }
        text.style.fontName = "Brevalto Imaginary Grotesk";
        EXPECT_EQ(failure(text), "Font Brevalto Imaginary Grotesk is missing. Choose an installed font.");
    }
    ScreenshotLayer counter = layer(Kind::counter, QRectF(10, 10, 30, 30));
    counter.text = "9999";
    EXPECT_TRUE(QRect(13, 12, 24, 26).contains(ink(drawn(counter))));
    counter.frame = QRectF(10, 10, 12, 10);  // 4 x 4 of text area: too small even at 4 points
    EXPECT_EQ(failure(counter), ScreenshotRenderer::kTextDoesNotFitMessage);
    counter.frame = QRectF(10, 10, 8, 30);
    EXPECT_EQ(failure(counter), ScreenshotRenderer::kTextAreaTooSmallMessage);
    ScreenshotLayer empty = layer(Kind::text, QRectF(0, 0, 100, 8));  // shorter than a line
    EXPECT_EQ(ink(drawn(empty)), QRect());
    // 100,000 characters shrink until they fit or fail; they never spill.
    ScreenshotLayer flood = layer(Kind::translatedText, QRectF(0, 0, 300, 200));
    for (int i = 0; i < 50000; ++i) flood.text += "a ";
    EXPECT_EQ(failure(flood), ScreenshotRenderer::kTextDoesNotFitMessage);
}

TEST(LayerDrawingTest, BadLayersFailCleanlyOrDrawNothingAndLeaveThePainterAsItWas) {
    const double nan = std::numeric_limits<double>::quiet_NaN(), inf = std::numeric_limits<double>::infinity();
    QImage image = samples::solid(100, 100, Qt::white);
    QPainter painter(&image);
    const QPen pen(Qt::green, 7);
    painter.setPen(pen);
    ScreenshotLayer turned = layer(Kind::oval, QRectF(0, 0, 10, 10)), pointed = turned, overflowing = turned, lit = turned;
    turned.rotation = nan;
    pointed.points = {QPointF(inf, 0)};
    overflowing.kind = Kind::text;
    overflowing.text = std::string(200, 'x');
    overflowing.rotation = 30;
    overflowing.style.opacity = 0.4;
    lit.kind = Kind::highlighter;
    lit.points = {QPointF(0, 0), QPointF(1, 1)};
    const std::pair<ScreenshotLayer, std::string> cases[] = {
        {layer(Kind::rectangle, QRectF(nan, 0, 10, 10)), ScreenshotRenderer::kInvalidLayerMessage},
        {layer(Kind::blur, QRectF(0, 0, inf, 10)), ScreenshotRenderer::kInvalidLayerMessage},
        {layer(Kind::arrow, QRectF(0, 0, 0, 10)), ScreenshotRenderer::kInvalidLayerMessage},
        {turned, ScreenshotRenderer::kInvalidLayerMessage},
        {pointed, ScreenshotRenderer::kInvalidLayerMessage},
        {layer(Kind::image, QRectF(0, 0, 10, 10)), ScreenshotRenderer::kMissingAssetMessage},
        {overflowing, ScreenshotRenderer::kTextDoesNotFitMessage},
        {lit, ""},
    };
    for (const auto& [bad, sentence] : cases) {
        EXPECT_EQ(drawOnto(image, bad, nullptr, &painter), sentence) << rawValue(bad.kind);
        EXPECT_TRUE(painter.transform().isIdentity() && !painter.hasClipping() && painter.opacity() == 1 &&
                    painter.pen() == pen && painter.compositionMode() == QPainter::CompositionMode_SourceOver);
    }
    // Far off the canvas every kind draws nothing (the spotlight dims all of it; erase has
    // nothing to sample); enormous frames are cut to the canvas.
    const QImage base = samples::coordinateImage(200, 200);
    for (const Kind kind : allScreenshotLayerKinds) {
        if (kind == Kind::image || kind == Kind::spotlight || kind == Kind::erase) continue;
        ScreenshotLayer far = layer(kind, QRectF(100000, -100000, 50, 40)), huge = far;
        far.text = huge.text = "7";
        far.points = {QPointF(0, 0), QPointF(1, 1)};
        huge.frame = QRectF(-65536, -65536, 131072, 131072);
        huge.rotation = 10;
        EXPECT_EQ(ink(drawn(far, samples::solid(200, 200, Qt::white), &base)), QRect()) << rawValue(kind);
        drawn(huge, samples::solid(200, 200, Qt::white), &base);
    }
}

}  // namespace
}  // namespace brevalto
