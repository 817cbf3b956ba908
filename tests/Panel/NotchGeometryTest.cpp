#include "Panel/NotchGeometry.h"
#include "Panel/NotchOutline.h"

#include "FakeScreens.h"

#include <gtest/gtest.h>

namespace brevalto {
namespace {

NotchGeometry plain(double width, double height, double visibleMinY = 0, double visibleHeight = -1) {
    NotchGeometry g;
    g.screenFrame = QRectF(0, 0, width, height);
    g.visibleFrame = QRectF(0, visibleMinY, width, visibleHeight < 0 ? height - visibleMinY : visibleHeight);
    return g;
}

NotchGeometry notched(double width, double height, double safeTop, double housing) {
    NotchGeometry g = plain(width, height);
    g.safeTop = safeTop;
    g.hardwareWidth = housing;
    return g;
}

struct FrameCase {
    const char* name;
    NotchGeometry geometry;
    bool expanded, preview, workspace;
    QRectF expected;  // bottom-left points
};

TEST(PanelFrame, FollowsTheFrameRule) {
    const FrameCase cases[] = {
        // 1440 x 900 without a notch: the worked values.
        {"collapsed", plain(1440, 900), false, false, false, {601, 860, 238, 32}},
        {"collapsed ignores workspace", plain(1440, 900), false, true, true, {601, 860, 238, 32}},
        {"expanded list", plain(1440, 900), true, false, false, {350, 564, 740, 328}},
        {"expanded with preview", plain(1440, 900), true, true, false, {350, 368, 740, 524}},
        {"workspace", plain(1440, 900), true, false, true, {170, 217, 1100, 675}},
        {"workspace ignores preview", plain(1440, 900), true, true, true, {170, 217, 1100, 675}},
        // Notched: hangs from the very top; the housing widens the collapsed notch.
        {"notched collapsed", notched(1512, 982, 32, 185), false, false, false, {625.5, 950, 261, 32}},
        {"notch fallback width", notched(1512, 982, 32, 180), false, false, false, {628, 950, 256, 32}},
        {"notched tall inset", notched(1512, 982, 38, 200), false, false, false, {618, 944, 276, 38}},
        {"notched expanded", notched(1512, 982, 32, 185), true, false, false, {386, 654, 740, 328}},
        {"notched tall inset expanded", notched(1512, 982, 38, 200), true, false, false, {386, 648, 740, 334}},
        // Narrow screens: the available width (screen - 32) limits every width, never below 1.
        {"narrow collapsed", plain(250, 600), false, false, false, {16, 560, 218, 32}},
        {"narrow expanded", plain(700, 600), true, false, false, {16, 264, 668, 328}},
        {"narrow workspace", plain(1000, 600), true, false, true, {16, 142, 968, 450}},
        {"zero width", plain(0, 600), false, false, false, {-0.5, 560, 1, 32}},
        // The visible frame's bottom (a dock) caps the height 12 points above it.
        {"dock caps list", plain(1440, 400, 100), true, true, false, {350, 112, 740, 280}},
        {"dock caps workspace", plain(1440, 900, 300), true, false, true, {170, 312, 1100, 580}},
        // A desktop panel reserving the top 32 points: hangs from the visible frame's top.
        {"top bar collapsed", plain(1440, 900, 0, 868), false, false, false, {601, 828, 238, 32}},
        {"top bar expanded", plain(1440, 900, 0, 868), true, false, false, {350, 532, 740, 328}},
        {"top bar and dock cap", plain(1440, 400, 100, 268), true, true, false, {350, 112, 740, 248}},
        {"little room", plain(1440, 30), false, false, false, {601, 12, 238, 10}},
        {"no room at all", plain(1440, 15), false, false, false, {601, 6, 238, 1}},
        {"zero-sized screen", plain(0, 0), true, true, true, {-0.5, -9, 1, 1}},
    };
    for (const FrameCase& c : cases) {
        SCOPED_TRACE(c.name);
        const QRectF frame = panelFrame(c.expanded, c.preview, c.workspace, c.geometry);
        EXPECT_DOUBLE_EQ(frame.x(), c.expected.x());
        EXPECT_DOUBLE_EQ(frame.y(), c.expected.y());
        EXPECT_DOUBLE_EQ(frame.width(), c.expected.width());
        EXPECT_DOUBLE_EQ(frame.height(), c.expected.height());
    }
}

TEST(PanelFrame, CentresOnScreensAwayFromTheOrigin) {
    NotchGeometry g;
    g.screenFrame = QRectF(-1920, 200, 1920, 1080);
    g.visibleFrame = g.screenFrame;
    const QRectF frame = panelFrame(false, false, false, g);
    EXPECT_DOUBLE_EQ(frame.center().x(), -960);
    EXPECT_DOUBLE_EQ(frame.y() + frame.height(), 200 + 1080 - 8);
}

TEST(NotchGeometry, MeasuresTheHousing) {
    const ScreenInfo flat = FakeScreens::screen("flat", 0, 0, 1440, 900);
    const ScreenInfo reported = FakeScreens::notched(FakeScreens::screen("n", 0, 0, 1512, 982), 185, 32);
    const ScreenInfo unreported = FakeScreens::notched(FakeScreens::screen("n", 0, 0, 1512, 982), 185, 32, false);
    ScreenInfo areasWithoutInset = reported;
    areasWithoutInset.safeTop = 0;

    EXPECT_EQ(NotchGeometry::measure(flat).hardwareWidth, 0);
    EXPECT_EQ(NotchGeometry::measure(reported).hardwareWidth, 185);
    EXPECT_EQ(NotchGeometry::measure(reported).safeTop, 32);
    EXPECT_EQ(NotchGeometry::measure(unreported).hardwareWidth, 180);
    EXPECT_EQ(NotchGeometry::measure(areasWithoutInset).hardwareWidth, 0);
}

TEST(NotchGeometry, ChoosesTheScreenUnderThePoint) {
    const std::vector<ScreenInfo> screens = {FakeScreens::screen("left", 0, 0, 1440, 900),
                                             FakeScreens::screen("right", 1440, 0, 1920, 1080)};
    const std::optional<ScreenInfo> main = screens[1];
    struct Case {
        QPointF point;
        const char* expected;
    } cases[] = {
        {{10, 10}, "left"},
        {{0, 0}, "left"},
        {{1439.5, 899.5}, "left"},
        {{1440, 100}, "right"},   // the left screen's maximum x edge is outside it
        {{100, 900}, "right"},    // on the left screen's top edge: no screen, so the main one
        {{-5, -5}, "right"},      // outside every screen
        {{3360, 10}, "right"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.expected);
        const auto chosen = screenContaining(screens, c.point, main);
        ASSERT_TRUE(chosen.has_value());
        EXPECT_EQ(chosen->name, QString::fromLatin1(c.expected));
    }
    EXPECT_FALSE(screenContaining({}, {0, 0}, std::nullopt).has_value());
}

TEST(NotchOutline, AttachedBodyHangsFromTheTopEdge) {
    const QRectF rect(0, 0, 256, 32);
    const QPainterPath attached = NotchOutline{true}.path(rect);
    // Ears touch both top corners; the body below them is 20 points narrower.
    EXPECT_EQ(attached.boundingRect(), rect);
    EXPECT_TRUE(attached.contains(QPointF(128, 16)));
    EXPECT_TRUE(attached.contains(QPointF(11, 12)));
    EXPECT_FALSE(attached.contains(QPointF(5, 20)));
    EXPECT_FALSE(attached.contains(QPointF(251, 20)));
    // Bottom corners are rounded with radius 16 (half the height).
    EXPECT_FALSE(attached.contains(QPointF(12, 31)));
    EXPECT_TRUE(attached.contains(QPointF(30, 31)));

    const QPainterPath floating = NotchOutline{false}.path(rect);
    EXPECT_EQ(floating.boundingRect(), rect);
    EXPECT_TRUE(floating.contains(QPointF(5, 16)));
    EXPECT_FALSE(floating.contains(QPointF(1, 1)));

    // Expanded, the radius stops at 24.
    const QPainterPath tall = NotchOutline{false}.path(QRectF(0, 0, 740, 328));
    EXPECT_FALSE(tall.contains(QPointF(4, 4)));
    EXPECT_TRUE(tall.contains(QPointF(12, 12)));
}

}  // namespace
}  // namespace brevalto
