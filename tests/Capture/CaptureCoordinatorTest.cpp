// The coordinator as a state machine over a fake desktop, a scripted user and a manual clock.
#include "Capture/CaptureCoordinator.h"
#include "Capture/CaptureEngine.h"
#include "Capture/CaptureError.h"
#include "Errors/AIError.h"
#include "FakeApps.h"
#include "FakeCaptureInteraction.h"
#include "FakeScreenCapture.h"

#include <QCoreApplication>

#include <gtest/gtest.h>

namespace brevalto {
namespace {

using Selection = CaptureCoordinator::Selection;
const char* const changed = "The display or window changed. Select the target again.";

CaptureRequest request(CaptureMode mode = CaptureMode::region, int delay = 0,
                       std::optional<std::uint32_t> displayID = std::nullopt) {
    CaptureRequest r;
    r.mode = mode;
    r.delay = delay;
    r.displayID = displayID;
    return r;
}

class CaptureCoordinatorTest : public ::testing::Test {
protected:
    CaptureCoordinatorTest() { apps.setFrontmost(QStringLiteral("editor"), 4242); }

    void addWindow(std::uint32_t id, std::int64_t pid, const QString& app, const QString& title, QRgb color) {
        FakeScreenCapture::Window w{{id, title, app, pid, ScreenCaptureWindow::Type::normal, {10, 10, 50, 40}, true},
                                    QImage(50, 40, QImage::Format_ARGB32_Premultiplied)};
        w.image.fill(color);
        screen.windowList.push_back(w);
    }
    void start(const CaptureRequest& r, std::stop_token stop = {}) {
        result.reset();
        coordinator.capture(r, [this](CaptureCoordinator::Result out) { result.emplace(std::move(out)); }, stop);
        QCoreApplication::processEvents();
    }
    std::optional<CapturedScreenshot> value() { return result->get(); }
    std::string error() {
        try {
            result->get();
        } catch (const std::exception& e) {
            return e.what();
        }
        return {};
    }
    // The capture ended in `state` with nothing left on screen and the target application back.
    void expectEnd(CaptureState state) {
        ASSERT_TRUE(result.has_value());
        EXPECT_EQ(coordinator.state(), state);
        EXPECT_FALSE(coordinator.isCapturing() || coordinator.isSelecting() || ui.chooserOpen() || timer.pending());
        EXPECT_EQ(ui.overlayCount() + coordinator.countdown(), 0);
        ASSERT_FALSE(apps.activated.empty());
        EXPECT_EQ(apps.activated.back().processId, 4242);
    }

    FakeScreenCapture screen;
    std::uint32_t mainID = screen.addDisplay({0, 0, 400, 300}, 2);
    CaptureEngine engine{screen};
    FakeCaptureInteraction ui;
    FakeClock clock;
    ManualCaptureTimer timer{clock};
    FakeApps apps;
    CaptureCoordinator coordinator{engine, ui, timer, &apps};
    std::optional<CaptureCoordinator::Result> result;
};

TEST_F(CaptureCoordinatorTest, RegionCropsTheFrozenFrameAndBecomesTheLastRegion) {
    start(request());
    EXPECT_TRUE(ui.choices.empty()) << "one display asks nothing";
    ASSERT_TRUE(coordinator.isSelecting());
    EXPECT_EQ(coordinator.message(), "Frozen frame. Drag a region, including across selected displays, then press Return.");
    EXPECT_EQ(ui.selection->image.size(), QSize(800, 600));
    EXPECT_EQ(ui.overlayCount(), 1);

    screen.fillDisplay(mainID, Qt::red);  // after the freeze: not in the result
    ui.complete(Selection::region(QRectF(20, 40, 100, 60)));
    ui.complete(Selection::cancel());  // a second report changes nothing
    expectEnd(CaptureState::completed);
    const auto shot = value();
    ASSERT_TRUE(shot.has_value());
    ASSERT_EQ(shot->image.size(), QSize(100, 60));
    EXPECT_EQ(shot->image.pixel(0, 0), FakeScreenCapture::rgbAt(mainID, 20, 40));
    EXPECT_EQ(shot->image.pixel(99, 59), FakeScreenCapture::rgbAt(mainID, 119, 99));
    EXPECT_EQ(shot->scale, 2);
    EXPECT_EQ(shot->screenRect, QRectF(10, 250, 50, 30));
    EXPECT_EQ(coordinator.lastRegion()->rect, shot->screenRect);

    start(request(CaptureMode::repeatRegion));  // shot afresh
    ASSERT_TRUE(value().has_value());
    EXPECT_EQ(value()->screenRect, shot->screenRect);
    EXPECT_EQ(value()->image.pixel(5, 5), qRgb(255, 0, 0));

    screen.screens[0].frame.translate(1, 0);
    start(request(CaptureMode::repeatRegion));
    expectEnd(CaptureState::failed);
    EXPECT_EQ(error(), changed);
    EXPECT_EQ(coordinator.message(), changed);
}

TEST_F(CaptureCoordinatorTest, GuardsRefuseBeforeAnyStateChange) {
    start(request(CaptureMode::repeatRegion));
    EXPECT_EQ(error(), changed) << "no region captured yet";
    for (int delay : {-1, 61}) {
        try {
            coordinator.capture(request(CaptureMode::region, delay), {});
            ADD_FAILURE() << "delay " << delay << " accepted";
        } catch (const AIError& e) {
            EXPECT_EQ(e.message(), "Capture delay must be 0-60 seconds.");
        }
    }
    EXPECT_EQ(coordinator.state(), CaptureState::failed) << "state untouched";

    start(request(CaptureMode::region, 60));
    try {
        coordinator.capture(request(), {});
        ADD_FAILURE() << "second capture accepted";
    } catch (const CaptureError& e) {
        EXPECT_STREQ(e.what(), "A capture is already active. Finish or cancel it first.");
    }
    EXPECT_EQ(coordinator.countdown(), 60) << "the running capture goes on";

    coordinator.cancelCapture();
    std::stop_source stopped;
    stopped.request_stop();
    EXPECT_THROW(coordinator.capture(request(), {}, stopped.get_token()), CaptureCancelled);
    EXPECT_EQ(coordinator.state(), CaptureState::cancelled);
}

TEST_F(CaptureCoordinatorTest, CountdownTicksEverySecondThenShoots) {
    std::vector<QString> messages;
    QObject::connect(&coordinator, &CaptureCoordinator::messageChanged, [&](const QString& m) { messages.push_back(m); });
    start(request(CaptureMode::screen, 3));
    timer.advance(0.5);
    EXPECT_EQ(coordinator.countdown(), 3);
    timer.advance(0.5);
    timer.advance(1);
    EXPECT_EQ(coordinator.countdown(), 1);
    EXPECT_EQ(screen.displayGrabs, 0) << "no shot before the countdown has run out";
    timer.advance(1);
    expectEnd(CaptureState::completed);
    EXPECT_EQ(ui.countdowns, (std::vector<int>{3, 2, 1}));
    EXPECT_EQ(messages, (std::vector<QString>{"Preparing capture", "Capture in 3 seconds", "Capture in 2 seconds",
                                              "Capture in 1 second", "Captured"}));

    messages.clear();
    start(request(CaptureMode::screen));
    EXPECT_EQ(messages, (std::vector<QString>{"Preparing capture", "Captured"})) << "no delay, no countdown";
    EXPECT_EQ(ui.countdowns.size(), 3u);
}

TEST_F(CaptureCoordinatorTest, CancelAtEveryStepEndsQuietlyAndCleansUp) {
    screen.addDisplay({400, 0, 200, 100}, 1);
    const std::vector<std::function<void()>> steps = {
        [&] { start(request()); coordinator.cancelCapture(); },      // display chooser, workflow cancel
        [&] { start(request()); ui.answer(std::nullopt); },          // the chooser's Cancel
        [&] { start(request(CaptureMode::region, 5, mainID)); timer.advance(1); ui.pressCountdownCancel(); },
        [&] { start(request(CaptureMode::region, 0, mainID)); ui.complete(Selection::cancel()); },  // Escape
        [&] { start(request(CaptureMode::region, 0, mainID)); coordinator.cancelCapture(); },
        [&] {
            std::stop_source caller;
            start(request(CaptureMode::region, 0, mainID), caller.get_token());
            caller.request_stop();
            QCoreApplication::processEvents();
        },
    };
    for (std::size_t i = 0; i < steps.size(); ++i) {
        SCOPED_TRACE(i);
        steps[i]();
        expectEnd(CaptureState::cancelled);
        EXPECT_FALSE(value().has_value());
        EXPECT_EQ(coordinator.message(), "Capture cancelled");
    }
    EXPECT_EQ(screen.displayGrabs, 3) << "one frozen frame per selection, none for the countdown";
    EXPECT_FALSE(coordinator.lastRegion().has_value());
}

TEST_F(CaptureCoordinatorTest, DisplayChoiceAcrossTwoDisplays) {
    const std::uint32_t sideID = screen.addDisplay({400, 0, 200, 100}, 1);
    start(request(CaptureMode::screen));
    EXPECT_EQ(ui.choices[0].informative, "Select one display for this capture.");
    EXPECT_EQ(ui.choices[0].items, (QStringList{"Display 1 - 800 x 600 px", "Display 2 - 200 x 100 px"}));
    ui.answer(1);
    EXPECT_EQ(value()->displayID, sideID);
    EXPECT_EQ(value()->image.size(), QSize(200, 100));

    start(request());
    EXPECT_EQ(ui.choices[1].items.last(), "All displays - region can span screens");
    EXPECT_TRUE(ui.choices[1].informative.startsWith("All displays uses the highest display scale"));
    ui.answer(2);
    EXPECT_EQ(ui.overlayCount(), 2);
    EXPECT_EQ(ui.selection->image.size(), QSize(1200, 600));
    ui.complete(Selection::region(QRectF(700, 400, 200, 100)));  // across the border
    EXPECT_EQ(value()->screenRect, QRectF(350, 50, 100, 50));
    EXPECT_EQ(value()->image.pixel(0, 0), FakeScreenCapture::rgbAt(mainID, 700, 400));
    EXPECT_EQ(coordinator.lastRegion()->displays.size(), 2u);

    start(request(CaptureMode::region, 0, 99));
    expectEnd(CaptureState::cancelled);
    EXPECT_EQ(ui.choices.size(), 2u) << "an unknown display number asks nothing";

    start(request(CaptureMode::region, 0, sideID));
    screen.screens.pop_back();  // unplugged while the overlay is up
    ui.complete(Selection::region(QRectF(0, 0, 10, 10)));
    expectEnd(CaptureState::failed);
    EXPECT_EQ(error(), changed);
}

TEST_F(CaptureCoordinatorTest, EmptyOrOutlyingRegionsAndNoScreenAccessFail) {
    for (const QRectF& r : {QRectF(10, 10, 0, 0), QRectF(900, 900, 10, 10)}) {
        start(request());
        ui.complete(Selection::region(r));
        expectEnd(CaptureState::failed);
        EXPECT_EQ(error(), "Select a nonempty region intersecting an available display.");
    }
    EXPECT_FALSE(coordinator.lastRegion().has_value());
    screen.permission = false;
    start(request());
    expectEnd(CaptureState::failed);
    EXPECT_EQ(coordinator.message(), CaptureError::message(CaptureError::Kind::permissionDenied));
}

TEST_F(CaptureCoordinatorTest, SpaceTurnsTheRegionIntoAWindowCaptureWithoutASecondCountdown) {
    addWindow(7, 900, "viewer", QString(), qRgb(0, 0, 255));
    addWindow(8, 901, "notes", QStringLiteral(""), qRgb(0, 255, 0));
    start(request(CaptureMode::region, 5));
    for (int i = 0; i < 5; ++i) timer.advance(1);
    ui.complete(Selection::window());
    EXPECT_EQ(ui.choices.back().message, "Choose a window");
    EXPECT_EQ(ui.choices.back().items, (QStringList{"viewer - Window 7", "notes - "}));
    ui.answer(1);
    expectEnd(CaptureState::completed);
    EXPECT_EQ(ui.countdowns.size(), 5u);
    EXPECT_EQ(value()->windowID, 8u);
    EXPECT_EQ(value()->image.pixel(25, 20), qRgb(0, 255, 0));
}

TEST_F(CaptureCoordinatorTest, WindowTargetsThatAreGoneOrUnknown) {
    addWindow(7, 900, "viewer", QStringLiteral("Photo"), qRgb(0, 0, 255));
    start(request(CaptureMode::window));
    screen.windowList.clear();  // closes while the chooser is open
    ui.answer(0);
    expectEnd(CaptureState::failed);
    EXPECT_EQ(error(), changed);

    addWindow(7, 900, "viewer", QStringLiteral("Photo"), qRgb(0, 0, 255));
    CaptureRequest unknown = request(CaptureMode::window);
    unknown.windowID = 12;
    start(unknown);
    expectEnd(CaptureState::cancelled);

    CaptureRequest active = request(CaptureMode::activeWindow);
    active.applicationPID = 31337;  // quit: the frontmost application, without a window, is the target
    start(active);
    expectEnd(CaptureState::failed);
    EXPECT_EQ(error(), changed);

    active.applicationPID = 900;
    start(active);
    EXPECT_EQ(value()->windowID, 7u);
    EXPECT_EQ(apps.activated.back().processId, 900);
}

}  // namespace
}  // namespace brevalto
