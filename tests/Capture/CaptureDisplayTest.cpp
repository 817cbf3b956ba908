#include "Capture/CaptureDisplay.h"
#include "Capture/CaptureError.h"
#include "Capture/CaptureRequest.h"
#include "FakeScreenCapture.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace brevalto {
namespace {

using Kind = CaptureError::Kind;
constexpr double nan = std::numeric_limits<double>::quiet_NaN();
constexpr double inf = std::numeric_limits<double>::infinity();

CaptureDisplay display(std::uint32_t id, QRectF frame, double scale, double rotation = 0) {
    return {id, QStringLiteral("D%1").arg(id), frame, QSizeF(frame.width() * scale, frame.height() * scale), rotation};
}

void expectRect(const QRectF& actual, const QRectF& expected) {
    EXPECT_DOUBLE_EQ(actual.x(), expected.x());
    EXPECT_DOUBLE_EQ(actual.y(), expected.y());
    EXPECT_DOUBLE_EQ(actual.width(), expected.width());
    EXPECT_DOUBLE_EQ(actual.height(), expected.height());
}

TEST(CaptureVocabularyTest, RawStringsRoundTripAndRejectOthers) {
    for (auto mode : allCaptureModes) EXPECT_EQ(captureModeFromRaw(rawValue(mode)), mode);
    for (auto bg : allCaptureBackgrounds) EXPECT_EQ(captureBackgroundFromRaw(rawValue(bg)), bg);
    for (auto state : allCaptureStates) EXPECT_EQ(captureStateFromRaw(rawValue(state)), state);
    EXPECT_EQ(rawValue(CaptureMode::activeWindow), "activeWindow");
    EXPECT_EQ(rawValue(CaptureMode::repeatRegion), "repeatRegion");
    for (const char* bad : {"Region", "repeat", "", " region", "window "}) {
        EXPECT_FALSE(captureModeFromRaw(QString::fromLatin1(bad))) << bad;
    }
    EXPECT_FALSE(captureBackgroundFromRaw(QStringLiteral("Solid")));
    EXPECT_FALSE(captureStateFromRaw(QStringLiteral("done")));
}

TEST(CaptureDisplayTest, PixelRectRoundsOutwardAndRefusesWhatIsNotInside) {
    const CaptureDisplay retina = display(1, {0, 0, 1440, 900}, 2);
    const CaptureDisplay offset = display(2, {1440, -200, 1000, 500}, 1);
    struct Case {
        const char* name;
        CaptureDisplay d;
        QRectF rect;
        std::optional<QRectF> pixels;  // none: invalidRegion
    };
    const Case cases[] = {
        {"fractional on 2x", retina, {10.3, 20.2, 100, 50}, QRectF(20, 1659, 201, 101)},
        {"whole frame", retina, {0, 0, 1440, 900}, QRectF(0, 0, 2880, 1800)},
        {"touching the top-right edge", retina, {1340, 800, 100, 100}, QRectF(2680, 0, 200, 200)},
        {"display off the origin", offset, {1440, 200, 10, 100}, QRectF(0, 0, 10, 100)},
        {"reaching outside", retina, {1400, 0, 41, 10}, std::nullopt},
        {"below the frame", offset, {1500, -201, 10, 10}, std::nullopt},
        {"empty", retina, {10, 10, 0, 10}, std::nullopt},
        {"negative height", retina, {10, 10, 10, -5}, std::nullopt},
        {"not finite", retina, {nan, 10, 10, 10}, std::nullopt},
        {"infinite width", retina, {0, 0, inf, 10}, std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.pixels) {
            expectRect(c.d.pixelRect(c.rect), *c.pixels);
        } else {
            EXPECT_THROW(c.d.pixelRect(c.rect), CaptureError);
        }
    }
    CaptureDisplay broken = retina;
    broken.pixelSize = QSizeF(0, 1800);
    EXPECT_THROW(broken.pixelRect({0, 0, 10, 10}), CaptureError);
}

TEST(CaptureDisplayTest, PointRectIsTheInverseOnWholePixels) {
    const CaptureDisplay retina = display(1, {100, 50, 1440, 900}, 2);
    const QRectF pixels = retina.pixelRect({110.3, 70.2, 100, 50});
    const QRectF points = retina.pointRect(pixels);
    expectRect(points, {110, 70, 100.5, 50.5});
    expectRect(retina.pixelRect(points), pixels);
    expectRect(retina.pointRect({0, 0, 2880, 1800}), retina.frame);
    for (const QRectF& bad : {QRectF(0, 0, 2881, 10), QRectF(-1, 0, 10, 10), QRectF(0, 0, 0, 5), QRectF(nan, 0, 5, 5)}) {
        EXPECT_THROW(retina.pointRect(bad), CaptureError);
    }
}

TEST(CaptureDisplayTest, SurfaceTakesTheUnionAtTheLargestScale) {
    const CaptureDisplay a = display(7, {0, 0, 1000, 600}, 1, 90);
    const CaptureDisplay b = display(9, {1000, 0, 801, 500}, 2);

    const CaptureDisplay single = CaptureDisplay::surface({a});
    EXPECT_EQ(single, a);  // rotation included

    const CaptureDisplay both = CaptureDisplay::surface({a, b});
    EXPECT_EQ(both.id, 7u);
    EXPECT_EQ(both.identity, "D7;D9");
    expectRect(both.frame, {0, 0, 1801, 600});
    EXPECT_EQ(both.pixelSize, QSizeF(3602, 1200));
    EXPECT_DOUBLE_EQ(both.scale(), 2);
    EXPECT_EQ(both.rotation, 0);

    CaptureDisplay thirds = display(3, {0, 0, 3, 3}, 1);
    thirds.pixelSize = QSizeF(4, 4);  // scale 4/3: the surface size is rounded up
    EXPECT_EQ(CaptureDisplay::surface({thirds, display(4, {3, 0, 1, 1}, 1)}).pixelSize, QSizeF(6, 4));

    struct Bad {
        const char* name;
        std::vector<CaptureDisplay> set;
    };
    CaptureDisplay zeroWidth = b;
    zeroWidth.frame.setWidth(0);
    CaptureDisplay notFinite = b;
    notFinite.frame.moveLeft(nan);
    CaptureDisplay noPixels = b;
    noPixels.pixelSize = QSizeF(0, 0);
    for (const Bad& bad : {Bad{"empty", {}}, Bad{"zero width", {a, zeroWidth}}, Bad{"not finite", {notFinite, a}},
                           Bad{"no pixels", {a, noPixels}}}) {
        SCOPED_TRACE(bad.name);
        try {
            CaptureDisplay::surface(bad.set);
            ADD_FAILURE() << "accepted";
        } catch (const CaptureError& e) {
            EXPECT_EQ(e.kind(), Kind::invalidRegion);
        }
    }
}

TEST(CaptureDisplayTest, RememberedRegionStaysValidOnlyOnUnchangedDisplays) {
    // An L of two displays: the top-right corner of their union lies on neither.
    const CaptureDisplay main = display(1, {0, 0, 1000, 500}, 2);
    const CaptureDisplay side = display(2, {1000, 0, 500, 300}, 1);
    CaptureDisplay moved = side;
    moved.frame.moveLeft(1001);
    CaptureDisplay renamed = side;
    renamed.identity = QStringLiteral("other");
    CaptureDisplay rotated = side;
    rotated.rotation = 90;

    struct Case {
        const char* name;
        CaptureRegion region;
        std::vector<CaptureDisplay> current;
        bool valid;
    };
    const Case cases[] = {
        {"unchanged", {{main, side}, {900, 100, 200, 100}}, {side, main}, true},
        {"one display of several", {{main}, {0, 0, 1000, 500}}, {main, side}, true},
        {"display moved one point", {{main, side}, {900, 100, 200, 100}}, {main, moved}, false},
        {"display re-identified", {{main, side}, {900, 100, 200, 100}}, {main, renamed}, false},
        {"display rotated", {{side}, {1100, 10, 10, 10}}, {main, rotated}, false},
        {"display unplugged", {{main, side}, {900, 100, 200, 100}}, {main}, false},
        {"only in the gap", {{main, side}, {1100, 350, 100, 100}}, {main, side}, false},
        {"outside the union", {{main}, {990, 10, 20, 10}}, {main, side}, false},
        {"empty rectangle", {{main}, {10, 10, 0, 10}}, {main}, false},
        {"no displays", {{}, {10, 10, 10, 10}}, {main}, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.region.isStillValid(c.current), c.valid) << c.name;
    }
}

TEST(CaptureDisplayTest, AllConvertsTopLeftScreensToBottomLeftPoints) {
    FakeScreenCapture screen;
    screen.addDisplay({0, 0, 1440, 900}, 2);
    screen.addDisplay({200, -600, 1000.5, 600}, 1, 180);  // above the primary
    ScreenCaptureDisplay anonymous;
    anonymous.id = 99;
    anonymous.frame = QRectF(1440, 0, 100, 100);
    screen.screens.push_back(anonymous);  // no identity: skipped

    const auto all = CaptureDisplay::all(screen);
    ASSERT_EQ(all.size(), 2u);
    expectRect(all[0].frame, {0, 0, 1440, 900});
    EXPECT_EQ(all[0].pixelSize, QSizeF(2880, 1800));
    expectRect(all[1].frame, {200, 900, 1000.5, 600});
    EXPECT_EQ(all[1].pixelSize, QSizeF(1001, 600));  // 1000.5 rounds half away from zero
    EXPECT_EQ(all[1].rotation, 180);
    EXPECT_EQ(all[1].identity, "FAKE-DISPLAY-2");

    screen.screens.clear();
    EXPECT_TRUE(CaptureDisplay::all(screen).empty());
}

}  // namespace
}  // namespace brevalto
