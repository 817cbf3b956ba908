// The scrolling capture as a state machine: start checks, trims, polling, pauses, stop and save,
// export and cancel.
#include "ScrollingCaptureFixture.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace brevalto {
namespace {

namespace fs = std::filesystem;
using Selection = CaptureCoordinator::Selection;

TEST_F(ScrollingCaptureTest, StartRefusesSettingsOutOfRangeAndAcceptsTheEdges) {
    struct Case {
        std::function<void(ScrollingCapture::Settings&)> change;
        bool accepted;
    };
    const std::vector<Case> cases{
        {[](auto& s) { s.overlap = 0.19; }, false},  {[](auto& s) { s.overlap = 0.86; }, false},
        {[](auto& s) { s.memoryMB = 63; }, false},   {[](auto& s) { s.memoryMB = 1025; }, false},
        {[](auto& s) { s.diskMB = 4097; }, false},   {[](auto& s) { s.maximumHeight = 999; }, false},
        {[](auto& s) { s.maximumHeight = 100'001; }, false}, {[](auto& s) { s.trimTop = -1; }, false},
        {[](auto& s) { s.overlap = 0.2, s.memoryMB = 64, s.diskMB = 4096, s.maximumHeight = 1000; }, true},
        {[](auto& s) { s.overlap = 0.85, s.memoryMB = 1024, s.diskMB = 64, s.maximumHeight = 100'000; }, true},
    };
    for (const auto& c : cases) {
        make();
        set(c.change);
        capture->start();
        QCoreApplication::processEvents();
        EXPECT_EQ(coordinator.isSelecting(), c.accepted) << status();
        EXPECT_EQ(status() == "Check memory, disk, overlap and trim settings.", !c.accepted);
        capture->cancel();
        EXPECT_FALSE(coordinator.isCapturing());
    }
    make();
    apps.front.reset();
    screen.windowList.clear();  // the target has no window on screen
    capture->start();
    EXPECT_EQ(status(), "Activate the target app, then start Scrolling Capture from its shortcut or the notch.");
    EXPECT_FALSE(coordinator.isCapturing());
}

TEST_F(ScrollingCaptureTest, SelectionProblemsReturnToIdleWithTheirMessage) {
    struct Case {
        int trim;
        QRectF viewport;
        bool moveWindow;
        std::string message;
    };
    const std::vector<Case> cases{
        {200 - 64, kViewport, false, "Trim leaves fewer than 64 content pixels."},
        {200 - 65, kViewport, false, ""},
        {0, QRectF(50, 40, 200, 211), false, "Select a viewport entirely inside the target window."},
        {0, kViewport, true, "The display or window changed. Select the target again."},
    };
    for (const auto& c : cases) {
        make();
        set([&](auto& s) { s.trimTop = c.trim / 2, s.trimBottom = c.trim - c.trim / 2; });
        screen.windowList[0].info.frame = {0, 0, 400, 250};
        capture->start();
        QCoreApplication::processEvents();
        if (c.moveWindow) screen.windowList[0].info.frame.translate(5, 0);
        ui.complete(Selection::region(c.viewport));
        QCoreApplication::processEvents();
        EXPECT_EQ(capture->running(), c.message.empty()) << status();
        if (!c.message.empty()) {
            EXPECT_EQ(status(), c.message);
            EXPECT_EQ(capture->frames(), 0);
            EXPECT_TRUE(stagingEmpty());
        }
        capture->cancel();
    }
    make();
    closed = 0;
    capture->start();
    QCoreApplication::processEvents();
    ui.complete(Selection::cancel());
    QCoreApplication::processEvents();
    EXPECT_EQ(closed, 1) << "a cancelled selection ends the capture";
}

TEST_F(ScrollingCaptureTest, AutomaticCaptureScrollsToTheEndAndHandsTheWholePageOver) {
    select(QRectF(50, 0, 200, 300));
    ASSERT_TRUE(capture->running());
    EXPECT_TRUE(keys.watching());
    ASSERT_TRUE(runUntil([&] { return closed > 0; })) << status();
    ASSERT_EQ(shots.size(), 1u);
    EXPECT_EQ(shots[0].image.size(), QSize(200, 1000));
    EXPECT_TRUE(sameRgb(shots[0].image, page.copy(50, 0, 200, 1000)));
    EXPECT_FALSE(partials[0]);
    EXPECT_EQ(shots[0].screenRect, QRectF(50, 0, 200, 300));
    EXPECT_EQ(shots[0].windowID, 7u);
    EXPECT_TRUE(stagingEmpty());
    EXPECT_FALSE(keys.watching());
    // One click first, then as many as the measured step allows within the viewport height x 0.55.
    ASSERT_GE(wheel.calls.size(), 3u);
    EXPECT_EQ(wheel.calls[0].second, 1);
    EXPECT_EQ(wheel.calls[1].second, 165 / kScrollPageStep);
    EXPECT_EQ(wheel.calls[0].first, QPointF(150, 150));
}

TEST_F(ScrollingCaptureTest, APauseInTheMiddleOfAStepLosesNoOverlap) {
    set([](auto& s) { s.overlap = 0.2; });  // two steps are more than the viewport
    select(QRectF(50, 0, 200, 300));
    wheel.onScroll = [this](int clicks) {
        scrollTo(offset + clicks * kScrollPageStep);
        if (wheel.calls.size() == 3) capture->togglePause();  // before the step's frame is taken
    };
    ASSERT_TRUE(runUntil([&] { return capture->paused(); }));
    runUntil([] { return false; }, 1);  // the step's frame comes and is dropped
    capture->togglePause();
    ASSERT_TRUE(runUntil([&] { return closed > 0; })) << status();
    EXPECT_FALSE(partials[0]);
    EXPECT_TRUE(sameRgb(shots[0].image, page.copy(50, 0, 200, 1000)));
}

TEST_F(ScrollingCaptureTest, EveryGrabHasTheFirstFramesSizeAtAFractionalScaleWithTrims) {
    screen.screens[0].scale = 1.5;
    scrollTo(0);
    set([](auto& s) { s.trimTop = 2; });
    select(QRectF(51, 30, 199, 151));  // 151 rows are 100.67 points, which round outward to 152 rows
    ASSERT_TRUE(runUntil([&] { return closed > 0; })) << status();
    ASSERT_EQ(shots.size(), 1u);
    EXPECT_FALSE(partials[0]) << "no grab was refused";
    EXPECT_TRUE(sameRgb(shots[0].image, page.copy(51, 32, 199, 1000 - 450 + 181 - 32)));
    EXPECT_EQ(shots[0].scale, 1.5);
}

TEST_F(ScrollingCaptureTest, PausesForProblemsAndResumesOnlyOnTheSameTarget) {
    set([](auto& s) { s.automatic = false; });
    select();
    ASSERT_TRUE(runUntil([&] { return screen.displayGrabs >= 6; }));
    EXPECT_TRUE(wheel.calls.empty()) << "manual mode never scrolls";

    apps.setFrontmost("other", 99);
    ASSERT_TRUE(runUntil([&] { return capture->paused(); }));
    // Found between polls or during the stable-frame grabs.
    EXPECT_TRUE(status() == "Target app or window changed. Restore it, then Resume." ||
                status() == "The display or window changed. Select the target again.")
        << status();
    capture->togglePause();
    EXPECT_EQ(status(), "Restore the original target app/window before resuming.");
    apps.front = AppIdentity{"reader", "reader", kPid, 7};

    // A manual displacement applies to one frame.
    set([](auto& s) { s.manualOffset = 40; });
    capture->togglePause();
    scrollTo(40);
    ASSERT_TRUE(runUntil([&] { return capture->frames() == 2; })) << status();
    EXPECT_EQ(capture->settings().manualOffset, 0);
    EXPECT_EQ(capture->height(), 240);

    // Esc in another application stops and saves; the result is partial after a problem pause.
    keys.press(Qt::Key_Escape);
    EXPECT_TRUE(capture->finishing());
    ASSERT_TRUE(runUntil([&] { return closed > 0; }));
    ASSERT_EQ(partials.size(), 1u);
    EXPECT_TRUE(partials[0]);
    EXPECT_EQ(shots[0].image.size(), QSize(200, 240));
    EXPECT_TRUE(sameRgb(shots[0].image, page.copy(50, 40, 200, 240)));
}

TEST_F(ScrollingCaptureTest, StableFramesNeedAgreeingGrabsAndAnimationsTimeOut) {
    set([](auto& s) { s.automatic = false; s.speed = 0; });
    select();
    int before = screen.displayGrabs;
    ASSERT_TRUE(runUntil([&] { return capture->frames() == 1 && screen.displayGrabs > before; }));
    for (int speed : {0, 1}) {
        set([&](auto& s) { s.speed = speed; });
        // Let one poll finish, then count the grabs of the next.
        scrollTo(offset + 20);
        ASSERT_TRUE(runUntil([&] { return capture->height() == 200 + offset; })) << status();
        before = screen.displayGrabs;
        const int frames = capture->frames();
        scrollTo(offset + 20);
        ASSERT_TRUE(runUntil([&] { return capture->frames() == frames + 1; }));
        EXPECT_EQ(screen.displayGrabs - before, speed == 0 ? 4 : 3) << "speed " << speed;
    }
    bool flip = false;
    screen.onGrab = [&] { scrollTo((flip = !flip) ? 500 : 0); };
    const double started = clock.now();
    ASSERT_TRUE(runUntil([&] { return capture->paused(); }));
    EXPECT_EQ(status(), "Content did not stabilize within 4 seconds. Pause animations or use a smaller viewport, then Resume.");
    EXPECT_NEAR(clock.now() - started, 4.2, 0.3);
}

TEST_F(ScrollingCaptureTest, AHandOverNotTakenKeepsEverythingForExportAndRetry) {
    set([](auto& s) { s.automatic = false; });
    take = false;
    select();
    ASSERT_TRUE(runUntil([&] { return screen.displayGrabs >= 3; }));
    capture->stopAndSave();
    ASSERT_TRUE(runUntil([&] { return !capture->finishing(); }));
    EXPECT_EQ(status(), "Could not save to history. Export the accepted image or retry Finish.");
    EXPECT_EQ(closed, 0);
    EXPECT_FALSE(stagingEmpty());

    TestFolder out;
    exportPath = QString::fromStdString((out / "tall.png").string());
    capture->exportAccepted();
    EXPECT_TRUE(capture->paused());
    QCoreApplication::processEvents();
    EXPECT_EQ(status(), "Exported accepted content. Capture is still paused.");
    EXPECT_EQ(exportNames, std::vector<QString>{"Screenshot_1.png"});
    EXPECT_TRUE(sameRgb(QImage(*exportPath), page.copy(50, 40, 200, 200)));

    // Taken, but the staging folder cannot be removed: delivered once, reported, closed.
    take = true;
    const fs::path strip = fs::directory_iterator(*fs::directory_iterator(staging.path()))->path();
    const int fd = ::open(strip.c_str(), O_RDONLY);
    int flags = FS_IMMUTABLE_FL;
    const bool locked = fd >= 0 && ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
    capture->stopAndSave();
    QCoreApplication::processEvents();
    if (locked) {
        flags = 0;
        ::ioctl(fd, FS_IOC_SETFLAGS, &flags);
    }
    if (fd >= 0) ::close(fd);
    EXPECT_EQ(shots.size(), 2u);
    EXPECT_EQ(closed, 1);
    if (locked) {
        EXPECT_NE(status().find("Could not remove"), std::string::npos) << status();
    }
    capture->stopAndSave();
    EXPECT_EQ(shots.size(), 2u) << "no second hand-over";
}

TEST_F(ScrollingCaptureTest, CancelInEveryStateEndsOnceAndLeavesNothing) {
    for (int state = 0; state < 4; ++state) {
        make();
        closed = 0;
        capture->start();
        QCoreApplication::processEvents();
        if (state >= 1) ui.complete(Selection::region(kViewport));
        if (state >= 2) capture->togglePause();
        if (state >= 3) capture->stopAndSave();
        capture->cancel();
        capture->cancel();
        EXPECT_EQ(closed, 1) << state;
        EXPECT_FALSE(coordinator.isCapturing() || keys.watching() || timer.pending()) << state;
        EXPECT_TRUE(stagingEmpty()) << state;
        QCoreApplication::processEvents();
        EXPECT_TRUE(shots.empty()) << state;
    }
}

}  // namespace
}  // namespace brevalto
