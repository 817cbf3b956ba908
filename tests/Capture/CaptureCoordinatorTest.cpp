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

#include <stop_token>

namespace brevalto {
namespace {

using Selection = CaptureCoordinator::Selection;

CaptureRequest requestWith(const std::function<void(CaptureRequest&)>& set) {
    CaptureRequest r;
    set(r);
    return r;
}

class CaptureCoordinatorTest : public ::testing::Test {
protected:
    CaptureCoordinatorTest() {
        mainID = screen.addDisplay({0, 0, 400, 300}, 2);
        apps.setFrontmost(QStringLiteral("editor"), 4242);
    }

    void addSideDisplay() { sideID = screen.addDisplay({400, 0, 200, 100}, 1); }

    void addWindow(std::uint32_t id, std::int64_t pid, const QString& app, const QString& title, QRgb color) {
        FakeScreenCapture::Window w;
        w.info.id = id;
        w.info.processId = pid;
        w.info.appClass = app;
        w.info.title = title;
        w.info.frame = QRectF(10, 10, 50, 40);
        w.info.onScreen = true;
        w.image = QImage(50, 40, QImage::Format_ARGB32_Premultiplied);
        w.image.fill(color);
        screen.windowList.push_back(w);
    }

    void start(const CaptureRequest& request) {
        result.reset();
        coordinator.capture(request, [this](CaptureCoordinator::Result r) { result.emplace(std::move(r)); });
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

    // A capture ended in `state`, with nothing left on screen and the target application back.
    void expectCleanEnd(CaptureState state) {
        ASSERT_TRUE(result.has_value());
        EXPECT_EQ(coordinator.state(), state);
        EXPECT_FALSE(coordinator.isCapturing());
        EXPECT_FALSE(coordinator.isSelecting());
        EXPECT_EQ(ui.overlayCount(), 0);
        EXPECT_FALSE(ui.chooserOpen());
        EXPECT_EQ(coordinator.countdown(), 0);
        EXPECT_FALSE(timer.pending());
        ASSERT_FALSE(apps.activated.empty());
        EXPECT_EQ(apps.activated.back().processId, 4242);
    }

    FakeScreenCapture screen;
    CaptureEngine engine{screen};
    FakeCaptureInteraction ui;
    FakeClock clock;
    ManualCaptureTimer timer{clock};
    FakeApps apps;
    CaptureCoordinator coordinator{engine, ui, timer, &apps};
    std::optional<CaptureCoordinator::Result> result;
    std::uint32_t mainID = 0;
    std::uint32_t sideID = 0;
};

TEST_F(CaptureCoordinatorTest, RegionCropsTheFrozenFrameAndBecomesTheLastRegion) {
    start(CaptureRequest{});
    EXPECT_TRUE(ui.choices.empty()) << "one display asks nothing";
    ASSERT_TRUE(coordinator.isSelecting());
    EXPECT_EQ(coordinator.state(), CaptureState::selecting);
    EXPECT_EQ(coordinator.message(),
              "Frozen frame. Drag a region, including across selected displays, then press Return.");
    ASSERT_TRUE(ui.selection.has_value());
    EXPECT_EQ(ui.selection->image.size(), QSize(800, 600));
    EXPECT_EQ(ui.selection->scale, 2);
    EXPECT_EQ(ui.overlayCount(), 1);

    // The screen changes after the frame froze: the result is still what the user saw.
    screen.fillDisplay(mainID, Qt::red);
    ui.complete(Selection::region(QRectF(20, 40, 100, 60)));
    // A second report finds the selection over and changes nothing.
    ui.complete(Selection::cancel());

    expectCleanEnd(CaptureState::completed);
    EXPECT_EQ(coordinator.message(), "Captured");
    const auto shot = value();
    ASSERT_TRUE(shot.has_value());
    ASSERT_EQ(shot->image.size(), QSize(100, 60));
    EXPECT_EQ(shot->image.pixel(0, 0), FakeScreenCapture::rgbAt(mainID, 20, 40));
    EXPECT_EQ(shot->image.pixel(99, 59), FakeScreenCapture::rgbAt(mainID, 119, 99));
    EXPECT_EQ(shot->scale, 2);
    EXPECT_EQ(shot->screenRect, QRectF(10, 300 - 50, 50, 30));
    EXPECT_EQ(shot->displayID, mainID);
    EXPECT_FALSE(shot->windowID.has_value());
    ASSERT_TRUE(coordinator.lastRegion().has_value());
    EXPECT_EQ(coordinator.lastRegion()->rect, shot->screenRect);

    // Repeating the region shoots the same rectangle afresh.
    CaptureRequest repeat;
    repeat.mode = CaptureMode::repeatRegion;
    start(repeat);
    expectCleanEnd(CaptureState::completed);
    const auto again = value();
    ASSERT_TRUE(again.has_value());
    EXPECT_EQ(again->image.size(), QSize(100, 60));
    EXPECT_EQ(again->image.pixel(5, 5), qRgb(255, 0, 0));
    EXPECT_EQ(again->screenRect, shot->screenRect);

    // After the display moves by one point the remembered region is refused.
    screen.screens[0].frame.translate(1, 0);
    start(repeat);
    expectCleanEnd(CaptureState::failed);
    EXPECT_EQ(error(), "The display or window changed. Select the target again.");
    EXPECT_EQ(coordinator.message(), "The display or window changed. Select the target again.");
}

TEST_F(CaptureCoordinatorTest, GuardsRefuseBeforeAnyStateChange) {
    CaptureRequest repeat;
    repeat.mode = CaptureMode::repeatRegion;
    start(repeat);
    EXPECT_EQ(error(), "The display or window changed. Select the target again.") << "no region captured yet";

    for (int delay : {-1, 61}) {
        CaptureRequest bad;
        bad.delay = delay;
        try {
            coordinator.capture(bad, {});
            ADD_FAILURE() << "delay " << delay << " accepted";
        } catch (const AIError& e) {
            EXPECT_EQ(e.message(), "Capture delay must be 0-60 seconds.");
        }
        EXPECT_EQ(coordinator.state(), CaptureState::failed) << "state untouched";
    }

    CaptureRequest longest;
    longest.delay = 60;
    start(longest);
    EXPECT_EQ(ui.countdowns, std::vector<int>{60});
    try {
        coordinator.capture(CaptureRequest{}, {});
        ADD_FAILURE() << "second capture accepted";
    } catch (const CaptureError& e) {
        EXPECT_EQ(e.kind(), CaptureError::Kind::busy);
        EXPECT_STREQ(e.what(), "A capture is already active. Finish or cancel it first.");
    }
    EXPECT_TRUE(coordinator.isCapturing()) << "the running capture goes on";
    EXPECT_EQ(coordinator.countdown(), 60);

    std::stop_source stopped;
    stopped.request_stop();
    coordinator.cancelCapture();
    EXPECT_THROW(coordinator.capture(CaptureRequest{}, {}, stopped.get_token()), CaptureCancelled);
    EXPECT_EQ(coordinator.state(), CaptureState::cancelled);
}

TEST_F(CaptureCoordinatorTest, CountdownTicksEverySecondThenShoots) {
    CaptureRequest request;
    request.mode = CaptureMode::screen;
    request.delay = 3;
    std::vector<QString> messages;
    QObject::connect(&coordinator, &CaptureCoordinator::messageChanged,
                     [&](const QString& m) { messages.push_back(m); });
    start(request);
    EXPECT_EQ(coordinator.countdown(), 3);
    EXPECT_EQ(ui.overlayCount(), 1);
    EXPECT_EQ(screen.displayGrabs, 0);
    timer.advance(0.5);
    EXPECT_EQ(coordinator.countdown(), 3);
    timer.advance(0.5);
    timer.advance(1);
    EXPECT_EQ(coordinator.countdown(), 1);
    EXPECT_EQ(screen.displayGrabs, 0) << "no shot before the countdown has run out";
    timer.advance(1);
    expectCleanEnd(CaptureState::completed);
    EXPECT_EQ(ui.countdowns, (std::vector<int>{3, 2, 1}));
    EXPECT_EQ(messages, (std::vector<QString>{"Preparing capture", "Capture in 3 seconds", "Capture in 2 seconds", "Capture in 1 seconds",
                                              "Captured"}));
    ASSERT_TRUE(value().has_value());
    EXPECT_EQ(value()->image.size(), QSize(800, 600));

    // No delay: no panel, and neither the countdown nor a countdown message.
    messages.clear();
    ui.countdowns.clear();
    start(requestWith([&](CaptureRequest& r) { r.mode = CaptureMode::screen; }));
    expectCleanEnd(CaptureState::completed);
    EXPECT_TRUE(ui.countdowns.empty());
    EXPECT_EQ(messages, (std::vector<QString>{"Preparing capture", "Captured"}));
}

TEST_F(CaptureCoordinatorTest, CancelAtEveryStepEndsQuietlyAndCleansUp) {
    addSideDisplay();
    // During the display chooser.
    start(CaptureRequest{});
    ASSERT_TRUE(ui.chooserOpen());
    coordinator.cancelCapture();
    expectCleanEnd(CaptureState::cancelled);
    EXPECT_FALSE(value().has_value());
    EXPECT_EQ(coordinator.message(), "Capture cancelled");

    // The chooser's Cancel button.
    start(CaptureRequest{});
    ui.answer(std::nullopt);
    expectCleanEnd(CaptureState::cancelled);

    // During the countdown, through the panel's Cancel.
    const CaptureRequest delayed = requestWith([&](CaptureRequest& r) { r.delay = 5; r.displayID = mainID; });
    start(delayed);
    timer.advance(1);
    EXPECT_EQ(coordinator.countdown(), 4);
    ui.pressCountdownCancel();
    expectCleanEnd(CaptureState::cancelled);
    EXPECT_EQ(screen.displayGrabs, 0);

    // During the selection: Escape, and the workflow's cancel.
    for (int way = 0; way < 2; ++way) {
        start(requestWith([&](CaptureRequest& r) { r.displayID = mainID; }));
        ASSERT_TRUE(coordinator.isSelecting());
        if (way == 0)
            ui.complete(Selection::cancel());
        else
            coordinator.cancelCapture();
        expectCleanEnd(CaptureState::cancelled);
        EXPECT_FALSE(value().has_value());
    }

    // The caller's own stop, while the selection is up.
    std::stop_source caller;
    result.reset();
    coordinator.capture(requestWith([&](CaptureRequest& r) { r.displayID = mainID; }),
                        [this](CaptureCoordinator::Result r) { result.emplace(std::move(r)); }, caller.get_token());
    QCoreApplication::processEvents();
    ASSERT_TRUE(coordinator.isSelecting());
    caller.request_stop();
    QCoreApplication::processEvents();
    expectCleanEnd(CaptureState::cancelled);
    EXPECT_FALSE(coordinator.lastRegion().has_value()) << "no region was ever captured";
}

TEST_F(CaptureCoordinatorTest, DisplayChoiceAcrossTwoDisplays) {
    addSideDisplay();
    const CaptureRequest shot = requestWith([&](CaptureRequest& r) { r.mode = CaptureMode::screen; });
    start(shot);
    ASSERT_EQ(ui.choices.size(), 1u);
    EXPECT_EQ(ui.choices[0].message, "Choose a display");
    EXPECT_EQ(ui.choices[0].informative, "Select one display for this capture.");
    EXPECT_EQ(ui.choices[0].items, (QStringList{"Display 1 - 800 x 600 px", "Display 2 - 200 x 100 px"}));
    ui.answer(1);
    ASSERT_TRUE(value().has_value());
    EXPECT_EQ(value()->displayID, sideID);
    EXPECT_EQ(value()->image.size(), QSize(200, 100));

    // A region may span both: "All displays" is last, and the selection covers the surface.
    start(CaptureRequest{});
    ASSERT_EQ(ui.choices.size(), 2u);
    EXPECT_EQ(ui.choices[1].items.size(), 3);
    EXPECT_EQ(ui.choices[1].items.last(), "All displays - region can span screens");
    EXPECT_TRUE(ui.choices[1].informative.startsWith("All displays uses the highest display scale"));
    ui.answer(2);
    ASSERT_TRUE(ui.selection.has_value());
    EXPECT_EQ(ui.selection->displays.size(), 2u);
    EXPECT_EQ(ui.overlayCount(), 2);
    EXPECT_EQ(ui.selection->image.size(), QSize(1200, 600));
    // A rectangle across the border: surface pixels x 700 ... 900 map back to points 350 ... 450.
    ui.complete(Selection::region(QRectF(700, 400, 200, 100)));
    ASSERT_TRUE(value().has_value());
    EXPECT_EQ(value()->screenRect, QRectF(350, 50, 100, 50));
    EXPECT_EQ(value()->image.pixel(0, 0), FakeScreenCapture::rgbAt(mainID, 700, 400));
    EXPECT_EQ(coordinator.lastRegion()->displays.size(), 2u);

    // A display number that no display has ends the capture without asking.
    start(requestWith([&](CaptureRequest& r) { r.displayID = 99; }));
    expectCleanEnd(CaptureState::cancelled);
    EXPECT_EQ(ui.choices.size(), 2u);
}

TEST_F(CaptureCoordinatorTest, BadSelectionsAndAVanishedDisplayFail) {
    addSideDisplay();
    // The display is unplugged while the overlay is up.
    start(requestWith([&](CaptureRequest& r) { r.displayID = sideID; }));
    screen.screens.pop_back();
    ui.complete(Selection::region(QRectF(0, 0, 10, 10)));
    expectCleanEnd(CaptureState::failed);
    EXPECT_EQ(error(), "The display or window changed. Select the target again.");

    // A zero-size rectangle and one outside the image.
    for (const QRectF& r : {QRectF(10, 10, 0, 0), QRectF(900, 900, 10, 10)}) {
        start(requestWith([&](CaptureRequest& r) { r.displayID = mainID; }));
        ui.complete(Selection::region(r));
        expectCleanEnd(CaptureState::failed);
        EXPECT_EQ(error(), "Select a nonempty region intersecting an available display.");
    }
    EXPECT_FALSE(coordinator.lastRegion().has_value());

    // Without screen access.
    screen.permission = false;
    start(CaptureRequest{});
    expectCleanEnd(CaptureState::failed);
    EXPECT_EQ(coordinator.message(), CaptureError::message(CaptureError::Kind::permissionDenied));
}

TEST_F(CaptureCoordinatorTest, SpaceTurnsTheRegionIntoAWindowCaptureWithoutASecondCountdown) {
    addWindow(7, 900, "viewer", QString(), qRgb(0, 0, 255));
    addWindow(8, 901, "notes", QStringLiteral("Todo"), qRgb(0, 255, 0));
    start(requestWith([&](CaptureRequest& r) { r.delay = 5; }));
    for (int i = 0; i < 5; ++i) timer.advance(1);
    ASSERT_TRUE(coordinator.isSelecting());
    ui.complete(Selection::window());
    ASSERT_TRUE(ui.chooserOpen());
    EXPECT_EQ(ui.choices.back().message, "Choose a window");
    EXPECT_EQ(ui.choices.back().informative, "Brevalto windows are excluded.");
    EXPECT_EQ(ui.choices.back().items, (QStringList{"viewer - Window 7", "notes - Todo"}));
    ui.answer(1);
    expectCleanEnd(CaptureState::completed);
    EXPECT_EQ(ui.countdowns, (std::vector<int>{5, 4, 3, 2, 1}));
    ASSERT_TRUE(value().has_value());
    EXPECT_EQ(value()->windowID, 8u);
    EXPECT_EQ(value()->image.pixel(25, 20), qRgb(0, 255, 0));
}

TEST_F(CaptureCoordinatorTest, WindowTargetsThatAreGoneOrUnknown) {
    addWindow(7, 900, "viewer", QStringLiteral("Photo"), qRgb(0, 0, 255));
    // The chosen window closes while the chooser is open.
    start(requestWith([&](CaptureRequest& r) { r.mode = CaptureMode::window; }));
    screen.windowList.clear();
    ui.answer(0);
    expectCleanEnd(CaptureState::failed);
    EXPECT_EQ(error(), "The display or window changed. Select the target again.");

    // A window number that is not among the candidates is a quiet end.
    addWindow(7, 900, "viewer", QStringLiteral("Photo"), qRgb(0, 0, 255));
    start(requestWith([&](CaptureRequest& r) { r.mode = CaptureMode::window; r.windowID = 12; }));
    expectCleanEnd(CaptureState::cancelled);

    // The active window of an application without one on screen.
    start(requestWith([&](CaptureRequest& r) { r.mode = CaptureMode::activeWindow; }));
    expectCleanEnd(CaptureState::failed);
    EXPECT_EQ(error(), "The display or window changed. Select the target again.");

    // The named application has quit: its front window is not taken, the frontmost application
    // is the target and gets the focus back.
    start(requestWith([&](CaptureRequest& r) { r.mode = CaptureMode::activeWindow; r.applicationPID = 31337; }));
    expectCleanEnd(CaptureState::failed);

    // The named application runs: its front window is shot and it is brought back.
    start(requestWith([&](CaptureRequest& r) { r.mode = CaptureMode::activeWindow; r.applicationPID = 900; }));
    ASSERT_TRUE(value().has_value());
    EXPECT_EQ(value()->windowID, 7u);
    EXPECT_EQ(apps.activated.back().processId, 900);
}

TEST(CaptureChooserTitles, WindowsAndDisplaysAreNamedAsListed) {
    ScreenCaptureWindow w;
    w.id = 7;
    EXPECT_EQ(CaptureCoordinator::windowChoiceTitle(w), "App - Window 7");
    w.appClass = "firefox";
    w.title = QStringLiteral("");
    EXPECT_EQ(CaptureCoordinator::windowChoiceTitle(w), "firefox - ");
    CaptureDisplay d{3, "X", QRectF(0, 0, 1440, 900), QSizeF(2880, 1800), 0};
    EXPECT_EQ(CaptureCoordinator::displayChoiceTitles({d}, false), QStringList{"Display 3 - 2880 x 1800 px"});
}

}  // namespace
}  // namespace brevalto
