#include "Capture/CaptureEngine.h"
#include "Capture/CaptureError.h"
#include "Errors/AIError.h"
#include "FakeScreenCapture.h"

#include <QCoreApplication>
#include <QPainter>

#include <gtest/gtest.h>

#include <functional>
#include <limits>

namespace brevalto {
namespace {

using Kind = CaptureError::Kind;

// The error kind a capture ends in, or none when it succeeds.
std::optional<Kind> failureOf(const std::function<void()>& capture) {
    try {
        capture();
    } catch (const CaptureError& e) {
        return e.kind();
    }
    return std::nullopt;
}

class CaptureEngineTest : public ::testing::Test {
protected:
    // A 2x main display and a 1x display to its right, shorter and aligned at the top:
    //   main  Qt (0, 0, 400, 300) at 2x -> bottom-left (0, 0, 400, 300)
    //   side  Qt (400, 0, 200, 100) at 1x -> bottom-left (400, 200, 200, 100)
    void SetUp() override {
        mainID = screen.addDisplay({0, 0, 400, 300}, 2);
        sideID = screen.addDisplay({400, 0, 200, 100}, 1);
        displays = engine.displays();
        ASSERT_EQ(displays.size(), 2u);
    }

    FakeScreenCapture screen;
    CaptureEngine engine{screen};
    std::uint32_t mainID = 0, sideID = 0;
    std::vector<CaptureDisplay> displays;
};

TEST_F(CaptureEngineTest, RegionInsideOneDisplayIsItsExactPixelRectangle) {
    CaptureRequest request;
    request.includesCursor = true;
    const auto shot = engine.captureRect({displays[0]}, request, QRectF(10.3, 20.2, 100, 50));
    // x 20.6 -> 20 ... 220.6 -> 221; rows from the top 2 * (300 - 70.2) = 459.6 -> 459 ... 559.6 -> 560.
    ASSERT_EQ(shot.image.size(), QSize(201, 101));
    EXPECT_EQ(shot.image.pixel(0, 0), FakeScreenCapture::rgbAt(mainID, 20, 459));
    EXPECT_EQ(shot.image.pixel(200, 100), FakeScreenCapture::rgbAt(mainID, 220, 559));
    EXPECT_EQ(shot.screenRect, QRectF(10, 20, 100.5, 50.5));  // snapped to the 2x pixel grid
    EXPECT_EQ(shot.scale, 2);
    EXPECT_EQ(shot.displayID, mainID);
    EXPECT_FALSE(shot.windowID);
    EXPECT_TRUE(screen.lastIncludesCursor);

    const auto whole = engine.captureDisplayImage(displays[1], CaptureRequest{}, std::nullopt);
    EXPECT_EQ(whole.image, screen.displayImages[sideID]);
    EXPECT_EQ(whole.screenRect, displays[1].frame);
}

TEST_F(CaptureEngineTest, RegionAcrossMixedScalesIsComposedAtTheHighestScale) {
    // From x 390 on main to 410 on side, y 150...300: the side part covers only its top 100 points.
    const QRectF area(390, 150, 20, 150);
    const auto shot = engine.captureRect(displays, CaptureRequest{}, area);
    ASSERT_EQ(shot.image.size(), QSize(40, 300));
    EXPECT_EQ(shot.scale, 2);
    EXPECT_EQ(shot.screenRect, area);
    EXPECT_EQ(shot.displayID, mainID);
    EXPECT_EQ(screen.displayGrabs, 2);

    // Main part: left 20 columns, all 300 rows, pixel for pixel.
    EXPECT_EQ(shot.image.pixel(0, 0), FakeScreenCapture::rgbAt(mainID, 780, 0));
    EXPECT_EQ(shot.image.pixel(19, 299), FakeScreenCapture::rgbAt(mainID, 799, 299));
    // Side part: each 1x pixel becomes a 2x2 block, unsmoothed.
    for (int y = 0; y < 200; ++y) {
        for (int x = 20; x < 40; ++x) {
            ASSERT_EQ(shot.image.pixel(x, y), FakeScreenCapture::rgbAt(sideID, (x - 20) / 2, y / 2))
                << x << "," << y;
        }
    }
    // Below the side display nothing was shot: transparent.
    EXPECT_EQ(qAlpha(shot.image.pixel(30, 250)), 0);
    EXPECT_EQ(qAlpha(shot.image.pixel(39, 299)), 0);

    const auto everything = engine.captureRect(displays, CaptureRequest{}, std::nullopt);
    EXPECT_EQ(everything.image.size(), QSize(1200, 600));
    EXPECT_EQ(everything.screenRect, QRectF(0, 0, 600, 300));
}

TEST_F(CaptureEngineTest, SameScaleDisplaysAreComposedPixelForPixel) {
    // Two 1x displays side by side, the right one shorter and lower: Qt (0, 0, 300, 200) and
    // (300, 100, 200, 100) -> bottom-left (0, 0, 300, 200) and (300, 0, 200, 100).
    FakeScreenCapture pair;
    CaptureEngine pairEngine(pair);
    const auto left = pair.addDisplay({0, 0, 300, 200}, 1);
    const auto right = pair.addDisplay({300, 100, 200, 100}, 1);
    const auto shot = pairEngine.captureRect(pairEngine.displays(), CaptureRequest{}, QRectF(250.5, 50, 100, 100));
    ASSERT_EQ(shot.image.size(), QSize(101, 100));
    EXPECT_EQ(shot.screenRect, QRectF(250, 50, 101, 100));
    EXPECT_EQ(pair.displayGrabs, 2);
    for (int y = 0; y < 100; ++y) {
        for (int x = 0; x < 101; ++x) {
            const QRgb expected = x < 50 ? FakeScreenCapture::rgbAt(left, 250 + x, 50 + y)
                                  : y < 50 ? qRgba(0, 0, 0, 0)  // above the right display: uncovered
                                           : FakeScreenCapture::rgbAt(right, x - 50, y - 50);
            ASSERT_EQ(shot.image.pixel(x, y), expected) << x << "," << y;
        }
    }
}

TEST_F(CaptureEngineTest, BadRegionsFailBeforeAnythingIsShot) {
    constexpr double nan = std::numeric_limits<double>::quiet_NaN();
    struct Case {
        const char* name;
        std::vector<CaptureDisplay> set;
        QRectF rect;
        Kind kind;
    };
    const std::vector<Case> cases = {
        {"empty", displays, {10, 10, 0, 10}, Kind::invalidRegion},
        {"not finite", displays, {nan, 10, 10, 10}, Kind::invalidRegion},
        {"outside every display", displays, {700, 10, 10, 10}, Kind::invalidRegion},
        {"one display, outside it", {displays[1]}, {10, 10, 10, 10}, Kind::invalidRegion},
        {"only in the gap below the side display", displays, {450, 50, 20, 20}, Kind::invalidRegion},
        {"no displays", {}, {10, 10, 10, 10}, Kind::invalidRegion},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(failureOf([&] { engine.captureRect(c.set, CaptureRequest{}, c.rect); }), c.kind) << c.name;
    }
    EXPECT_EQ(screen.displayGrabs, 0);
}

TEST_F(CaptureEngineTest, ImageBudgetHoldsForDisplaysRegionsAndTheRunningTotal) {
    FakeScreenCapture big;
    CaptureEngine bigEngine(big);
    // 4000 x 2500 points at 2x: 40,000,000 pixels, exactly the budget.
    big.addDisplay({0, 0, 4000, 2500}, 2);
    // The same area mirrored on a second display: each part fits, both together do not.
    big.addDisplay({0, 0, 4000, 2500}, 2);
    const auto all = bigEngine.displays();

    EXPECT_EQ(failureOf([&] { bigEngine.captureDisplayImage(all[0], CaptureRequest{}, std::nullopt); }),
              std::nullopt);
    EXPECT_EQ(big.displayGrabs, 1);
    big.displayGrabs = 0;
    EXPECT_EQ(failureOf([&] { bigEngine.captureRect(all, CaptureRequest{}, std::nullopt); }), Kind::tooLarge);
    EXPECT_EQ(big.displayGrabs, 0) << "a set over the budget is refused before any part is shot";

    FakeScreenCapture huge;
    CaptureEngine hugeEngine(huge);
    huge.addDisplay({0, 0, 4000, 2501}, 2);  // one row of points over
    const auto one = hugeEngine.displays();
    EXPECT_EQ(failureOf([&] { hugeEngine.captureRect(one, CaptureRequest{}, QRectF(0, 0, 10, 10)); }), Kind::tooLarge);
    huge.addDisplay({8000, 0, 100, 100}, 1);
    const auto two = hugeEngine.displays();
    EXPECT_EQ(failureOf([&] { hugeEngine.captureRect(two, CaptureRequest{}, std::nullopt); }), Kind::tooLarge);
    EXPECT_EQ(huge.displayGrabs, 0);
}

TEST_F(CaptureEngineTest, ChangedDisplaysAndCancellationNeverGiveAPartialImage) {
    // Rearranged between selection and shot.
    screen.screens[1].frame.moveLeft(401);
    EXPECT_EQ(failureOf([&] { engine.captureRect(displays, CaptureRequest{}, std::nullopt); }), Kind::unavailableTarget);
    screen.screens[1].frame.moveLeft(400);

    // Unplugged while the first part is shot.
    auto unplugged = screen.screens;
    unplugged.pop_back();
    screen.onGrab = [&] { screen.screens = unplugged; };
    EXPECT_EQ(failureOf([&] { engine.captureRect(displays, CaptureRequest{}, std::nullopt); }), Kind::unavailableTarget);
    // The display of a one-display shot vanishing mid-grab.
    screen.onGrab = [&] { screen.screens.clear(); };
    screen.addDisplay({0, 0, 10, 10}, 1);
    const auto solo = engine.displays();
    EXPECT_EQ(failureOf([&] { engine.captureDisplayImage(solo[0], CaptureRequest{}, std::nullopt); }),
              Kind::unavailableTarget);

    // A display that answers with nothing while it is still there.
    FakeScreenCapture blank;
    CaptureEngine blankEngine(blank);
    const auto id = blank.addDisplay({0, 0, 100, 100}, 1);
    blank.displayImages[id] = QImage();
    EXPECT_EQ(failureOf([&] { blankEngine.captureDisplayImage(blankEngine.displays()[0], CaptureRequest{}, std::nullopt); }),
              Kind::missingImage);

    // Same-scale displays (their parts go straight into the composed image): one unplugged
    // while the first part is shot.
    FakeScreenCapture pair;
    CaptureEngine pairEngine(pair);
    pair.addDisplay({0, 0, 100, 100}, 1);
    pair.addDisplay({100, 0, 100, 100}, 1);
    const auto both = pairEngine.displays();
    pair.onGrab = [&] { pair.screens.pop_back(); pair.onGrab = nullptr; };
    EXPECT_EQ(failureOf([&] { pairEngine.captureRect(both, CaptureRequest{}, std::nullopt); }), Kind::unavailableTarget);

    // Cancelled while the first part is shot.
    FakeScreenCapture twin;
    CaptureEngine twinEngine(twin);
    twin.addDisplay({0, 0, 100, 100}, 1);
    twin.addDisplay({100, 0, 100, 100}, 1);
    std::stop_source stop;
    twin.onGrab = [&] { stop.request_stop(); };
    EXPECT_THROW(twinEngine.captureRect(twinEngine.displays(), CaptureRequest{}, std::nullopt, stop.get_token()),
                 CaptureCancelled);
    EXPECT_EQ(twin.displayGrabs, 1);

    screen.permission = false;
    EXPECT_EQ(failureOf([&] { engine.displays(); }), Kind::permissionDenied);
    EXPECT_EQ(failureOf([&] { engine.captureDisplayImage(displays[0], CaptureRequest{}, std::nullopt); }),
              Kind::permissionDenied);
}

TEST_F(CaptureEngineTest, ComposingNothingIsAnInvalidRegion) {
    const CaptureDisplay surface = CaptureDisplay::surface(displays);
    EXPECT_EQ(failureOf([&] { CaptureEngine::composeDisplayImages(QRectF(0, 0, 10, 10), {}, surface); }),
              Kind::invalidRegion);
    CapturedScreenshot bad;
    bad.image = QImage(2, 2, QImage::Format_ARGB32_Premultiplied);
    bad.screenRect = QRectF(0, 0, 1, 1);
    bad.scale = 0;
    EXPECT_EQ(failureOf([&] { CaptureEngine::composeDisplayImages(QRectF(0, 0, 10, 10), {bad}, surface); }),
              Kind::invalidRegion);
}

class CaptureWindowTest : public CaptureEngineTest {
protected:
    // A window of 100 x 50 points at 2x: its left half opaque green, its right half transparent.
    FakeScreenCapture::Window addWindow(std::uint32_t id, QRectF qtFrame, qint64 pid) {
        FakeScreenCapture::Window w;
        w.info.id = id;
        w.info.title = QStringLiteral("Window %1").arg(id);
        w.info.processId = pid;
        w.info.frame = qtFrame;
        w.info.onScreen = true;
        w.image = QImage(int(qtFrame.width() * 2), int(qtFrame.height() * 2), QImage::Format_ARGB32_Premultiplied);
        w.image.fill(Qt::transparent);
        QPainter(&w.image).fillRect(0, 0, w.image.width() / 2, w.image.height(), Qt::green);
        screen.windowList.push_back(w);
        return w;
    }
};

TEST_F(CaptureWindowTest, WindowShotKeepsItsFrameDisplayAndIdentity) {
    const auto w = addWindow(42, {50, 100, 100, 50}, 4242);
    const auto shot = engine.captureWindowImage(w.info, CaptureRequest{});
    EXPECT_EQ(shot.image, w.image);  // transparent background: unchanged
    EXPECT_EQ(shot.screenRect, QRectF(50, 150, 100, 50));
    EXPECT_EQ(shot.scale, 2);
    EXPECT_EQ(shot.displayID, mainID);
    EXPECT_EQ(shot.windowID, 42u);

    // On a display above the primary, y lies above the primary's height.
    const auto upperID = screen.addDisplay({0, -200, 300, 200}, 1);
    const auto upper = engine.captureWindowImage(addWindow(43, {10, -150, 100, 50}, 4242).info, CaptureRequest{});
    EXPECT_EQ(upper.screenRect, QRectF(10, 400, 100, 50));
    EXPECT_EQ(upper.displayID, upperID);
    EXPECT_EQ(upper.scale, 1);
}

TEST_F(CaptureWindowTest, OwnClosedAndOversizedWindowsAreRefused) {
    const auto own = addWindow(1, {0, 0, 50, 50}, QCoreApplication::applicationPid());
    EXPECT_EQ(failureOf([&] { engine.captureWindowImage(own.info, CaptureRequest{}); }), Kind::unavailableTarget);
    auto closed = addWindow(2, {0, 0, 50, 50}, 7).info;
    screen.windowList.pop_back();
    EXPECT_EQ(failureOf([&] { engine.captureWindowImage(closed, CaptureRequest{}); }), Kind::unavailableTarget);
    ScreenCaptureWindow huge = closed;
    huge.frame = QRectF(0, 0, 4000, 2501);  // at 2x: over 40 megapixels
    EXPECT_EQ(failureOf([&] { engine.captureWindowImage(huge, CaptureRequest{}); }), Kind::tooLarge);
    EXPECT_EQ(screen.windowGrabs, 1);
    screen.screens.clear();
    EXPECT_EQ(failureOf([&] { engine.captureWindowImage(closed, CaptureRequest{}); }), Kind::unavailableTarget);
}

TEST_F(CaptureWindowTest, BackgroundsFillBehindTheTransparentPart) {
    const auto w = addWindow(5, {50, 100, 100, 50}, 9);
    struct Case {
        const char* name;
        CaptureBackground background;
        QColor color;
        QRgb right;  // what shows through the transparent half
    };
    const Case cases[] = {
        {"transparent", CaptureBackground::transparent, Qt::red, qRgba(0, 0, 0, 0)},
        {"solid", CaptureBackground::solid, QColor(10, 20, 30), qRgb(10, 20, 30)},
        {"solid clear colour", CaptureBackground::solid, Qt::transparent, qRgba(0, 0, 0, 0)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        CaptureRequest request;
        request.background = c.background;
        request.backgroundColor = c.color;
        const auto shot = engine.captureWindowImage(w.info, request);
        EXPECT_EQ(shot.image.pixel(10, 10), qRgb(0, 255, 0));
        EXPECT_EQ(shot.image.pixel(190, 90), c.right);
    }
    CaptureRequest wallpaper;
    wallpaper.background = CaptureBackground::wallpaper;
    try {
        engine.captureWindowImage(w.info, wallpaper);
        FAIL() << "no wallpaper, yet captured";
    } catch (const AIError& e) {
        EXPECT_STREQ(e.what(), "Desktop wallpaper is unavailable. Select Transparent or Solid. Dynamic wallpaper may "
                               "differ from its static image.");
    }
}

TEST_F(CaptureWindowTest, WallpaperFillsTheDisplayAndShowsWhatLiesBehindTheWindow) {
    // Main display: 400 x 300 points. Wallpapers are drawn in four quadrants.
    auto quadrants = [](QSize size) {
        QImage image(size, QImage::Format_ARGB32_Premultiplied);
        QPainter p(&image);
        const int w = size.width() / 2, h = size.height() / 2;
        p.fillRect(0, 0, w, h, Qt::red);
        p.fillRect(w, 0, w, h, Qt::green);
        p.fillRect(0, h, w, h, Qt::blue);
        p.fillRect(w, h, w, h, Qt::yellow);
        return image;
    };
    CaptureRequest request;
    request.background = CaptureBackground::wallpaper;
    struct Case {
        const char* name;
        QSize wallpaper;
        QRectF window;  // Qt top-left points
        QRgb left, right;  // behind the transparent right half of the window: its left and right edge
    };
    const Case cases[] = {
        // Same shape as the display: quadrants split at (200, 150).
        {"top middle", {800, 600}, {0, 50, 300, 50}, qRgb(255, 0, 0), qRgb(0, 255, 0)},
        {"bottom right", {800, 600}, {250, 200, 100, 50}, qRgb(255, 255, 0), qRgb(255, 255, 0)},
        // A square picture fills the width and is cropped above and below, centred.
        {"square, lower half", {600, 600}, {0, 160, 400, 50}, qRgb(255, 255, 0), qRgb(255, 255, 0)},
        {"square, upper half", {600, 600}, {0, 90, 400, 50}, qRgb(0, 255, 0), qRgb(0, 255, 0)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        screen.wallpapers[mainID] = quadrants(c.wallpaper);
        screen.windowList.clear();
        const auto w = addWindow(7, c.window, 9);
        const auto shot = engine.captureWindowImage(w.info, request);
        ASSERT_EQ(shot.image.size(), w.image.size());
        EXPECT_EQ(shot.image.pixel(0, 0), qRgb(0, 255, 0));  // the window itself stays on top
        const int x0 = shot.image.width() / 2 + 1, x1 = shot.image.width() - 2, y = shot.image.height() / 2;
        EXPECT_EQ(shot.image.pixel(x0, y), c.left);
        EXPECT_EQ(shot.image.pixel(x1, y), c.right);
    }
}

TEST_F(CaptureWindowTest, FrontWindowIsTheFirstOrdinaryOnScreenWindowOfTheProcess) {
    auto dock = addWindow(1, {0, 0, 10, 10}, 7);
    screen.windowList.back().info.type = ScreenCaptureWindow::Type::dock;
    addWindow(2, {0, 0, 10, 10}, 8);
    addWindow(3, {0, 0, 10, 10}, 7);
    screen.windowList.back().info.onScreen = false;
    addWindow(4, {0, 0, 10, 10}, 7);
    screen.windowList.back().info.type = ScreenCaptureWindow::Type::utility;
    addWindow(5, {0, 0, 10, 10}, 7);
    EXPECT_EQ(engine.frontWindowID(7), 4u);
    EXPECT_EQ(engine.frontWindowID(8), 2u);
    EXPECT_EQ(engine.frontWindowID(9), std::nullopt);
    EXPECT_EQ(engine.frontWindowID(std::nullopt), std::nullopt);
    const auto listed = engine.windows();
    EXPECT_EQ(listed.size(), 4u) << "windows off screen are not offered";
}

}  // namespace
}  // namespace brevalto
