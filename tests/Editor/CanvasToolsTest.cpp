#include "Editor/Canvas/CanvasTools.h"

#include <gtest/gtest.h>

#include <cmath>

namespace brevalto {
namespace {

using namespace CanvasTools;
using Kind = ScreenshotLayerKind;

ScreenshotLayer layer(Kind kind, QRectF frame, double rotation = 0) {
    ScreenshotLayer l;
    l.kind = kind;
    l.frame = frame;
    l.rotation = rotation;
    return l;
}

TEST(CanvasToolsTest, HitTestFollowsRotationAndSkipsImagesAndHiddenLayers) {
    // A 100 x 20 bar centred at (100, 100), turned 90 degrees, stands 20 wide and 100 tall.
    struct Row {
        double rotation;
        QPointF point;
        bool hit;
    };
    for (const Row& row : std::vector<Row>{{0, {60, 100}, true},
                                           {0, {100, 60}, false},
                                           {90, {60, 100}, false},
                                           {90, {100, 60}, true},
                                           {90, {105, 145}, true},
                                           {45, {130, 130}, true},
                                           {45, {130, 70}, false}})
        EXPECT_EQ(hits(layer(Kind::rectangle, QRectF(50, 90, 100, 20), row.rotation), row.point), row.hit)
            << row.rotation << " " << row.point.x() << "," << row.point.y();
    EXPECT_FALSE(hits(layer(Kind::image, QRectF(0, 0, 10, 10)), {5, 5}));
    ScreenshotLayer hidden = layer(Kind::oval, QRectF(0, 0, 10, 10));
    hidden.hidden = true;
    EXPECT_FALSE(hits(hidden, {5, 5}));
    // The far edges are open: a point on the right edge belongs to the neighbour.
    EXPECT_FALSE(hits(layer(Kind::rectangle, QRectF(0, 0, 10, 10)), {10, 5}));

    ScreenshotLayer magnifier = layer(Kind::magnifier, QRectF(100, 100, 20, 20));
    magnifier.value = 2;
    magnifier.setMagnifierLensCenter({200, 110});
    EXPECT_TRUE(hits(magnifier, {205, 110}));
    EXPECT_TRUE(hitsLensOnly(magnifier, {205, 110}));
    EXPECT_FALSE(hitsLensOnly(magnifier, {110, 110}));
}

TEST(CanvasToolsTest, MovedFramesSnapWithinSixViewPoints) {
    ScreenshotDocument document;
    document.canvas = QSizeF(1000, 800);
    ScreenshotLayer other = layer(Kind::rectangle, QRectF(300, 300, 100, 100));  // centre line x = 350
    ScreenshotLayer moving = layer(Kind::rectangle, QRectF(0, 0, 40, 40));
    ScreenshotLayer hidden = layer(Kind::rectangle, QRectF(503, 0, 10, 10));
    hidden.hidden = true;
    document.layers = {other, moving, hidden};
    struct Row {
        double x, zoom, expected;
    };
    for (const Row& row : std::vector<Row>{{355, 1, 350}, {357, 1, 357}, {352.5, 2, 350}, {353.5, 2, 353}, {507, 1, 507},
                                           {997, 1, 1000}})
        EXPECT_EQ(snappedFrame(QRectF(row.x, 500.2, 40, 40), document, moving.id, row.zoom).x(), row.expected)
            << row.x << " at zoom " << row.zoom;
    // The moved layer never snaps to itself; the result is whole pixels.
    EXPECT_TRUE(sameRect(snappedFrame(QRectF(2.5, 600.5, 40, 40), document, moving.id, 1), QRectF(0, 600, 40, 41)));
}

TEST(CanvasToolsTest, LensSitsOnTheRoomierSideAndInsideTheContent) {
    ScreenshotLayer magnifier = layer(Kind::magnifier, QRectF(900, 100, 40, 40));
    magnifier.value = 3;
    placeLens(magnifier, QRectF(0, 0, 1000, 800));
    const QRectF lens = magnifier.magnifierLens();
    EXPECT_DOUBLE_EQ(lens.right(), 900);  // left of the frame, near the right edge
    EXPECT_DOUBLE_EQ(lens.top(), 140);    // below the frame
    // A canvas narrower than the lens does not clamp it horizontally.
    ScreenshotLayer narrow = layer(Kind::magnifier, QRectF(10, 10, 40, 40));
    narrow.value = 3;
    placeLens(narrow, QRectF(0, 0, 100, 800));
    EXPECT_DOUBLE_EQ(narrow.magnifierLens().left(), 50);
    // Moving a magnifier's frame keeps its lens in place on the canvas.
    const QRectF before = magnifier.magnifierLens();
    setFrameKeepingLens(magnifier, QRectF(700, 300, 40, 40));
    EXPECT_TRUE(sameRect(magnifier.magnifierLens(), before));
}

TEST(CanvasToolsTest, ToolLettersAndStatusTexts) {
    const std::vector<std::pair<const char*, const char*>> letters = {
        {"v", "select"}, {"a", "arrow"}, {"t", "text"},        {"R", "rectangle"}, {"b", "effect"},
        {"p", "freehand"}, {"n", "counter"}, {"o", "oval"}, {"h", "highlighter"}, {"m", "magnifier"}};
    for (const auto& [letter, tool] : letters) EXPECT_EQ(toolForLetter(QString::fromLatin1(letter)), QString::fromLatin1(tool));
    EXPECT_EQ(toolForLetter(QStringLiteral("x")), std::nullopt);
    EXPECT_EQ(toolForLetter(QStringLiteral("va")), std::nullopt);
    EXPECT_EQ(selectionLabel({120.9, 80.2}), QStringLiteral("120×80 px\nHit Enter to crop"));
    EXPECT_EQ(selectionLabel({std::nan(""), 1e300}), QStringLiteral("?×? px\nHit Enter to crop"));
    EXPECT_EQ(edgeText(std::pair(10, 19), std::nullopt, 2),
              QStringLiteral("Edge/gap: H 10 px / 5.0 pt; V ?. Sensitivity is adjustable."));
}

}  // namespace
}  // namespace brevalto
