// The scrolling capture as a state machine: start checks, trims, polling, pauses, stop and save,
// export and cancel.
#include "ScrollingCaptureFixture.h"

#include <algorithm>

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace brevalto {
namespace {

using Selection = CaptureCoordinator::Selection;
using Settings = ScrollingCapture::Settings;

TEST_F(ScrollingCaptureTest, StartRefusesSettingsOutOfRangeAndAcceptsTheEdges) {
    const std::vector<std::pair<std::function<void(Settings&)>, bool>> cases{
        {[](auto& s) { s.overlap = 0.19; }, false}, {[](auto& s) { s.overlap = 0.86; }, false},
        {[](auto& s) { s.memoryMB = 63; }, false}, {[](auto& s) { s.memoryMB = 1025; }, false},
        {[](auto& s) { s.diskMB = 4097; }, false}, {[](auto& s) { s.maximumHeight = 999; }, false},
        {[](auto& s) { s.maximumHeight = 100'001; }, false}, {[](auto& s) { s.trimTop = -1; }, false},
        {[](auto& s) { s.overlap = 0.2, s.memoryMB = 64, s.diskMB = 4096, s.maximumHeight = 1000; }, true},
        {[](auto& s) { s.overlap = 0.85, s.memoryMB = 1024, s.diskMB = 64, s.maximumHeight = 100'000; }, true},
    };
    for (const auto& [change, accepted] : cases) {
        make();
        set(change);
        EXPECT_EQ(startSelecting(), accepted) << status();
        EXPECT_EQ(status() == "Check memory, disk, overlap and trim settings.", !accepted);
        capture->cancel();
    }
    make();
    screen.windowList.clear();  // the target has no window on screen
    capture->start();
    EXPECT_EQ(status(), "Activate the target app, then start Scrolling Capture from its shortcut or the panel.");
    EXPECT_FALSE(coordinator.isCapturing());
}

TEST_F(ScrollingCaptureTest, SelectionProblemsReturnToIdleWithTheirMessage) {
    struct Case {
        int trim;
        QRectF viewport;
        bool moveWindow;
        std::string message;
    };
    for (const auto& c : std::vector<Case>{
             {200 - 64, QRectF(50, 40, 200, 200), false, "Trim leaves fewer than 64 content pixels."},
             {200 - 65, QRectF(50, 40, 200, 200), false, ""},
             {0, QRectF(50, 40, 200, 211), false, "Select a viewport entirely inside the target window."},
             {0, QRectF(50, 40, 200, 200), true, "The display or window changed. Select the target again."}}) {
        make();
        set([&](auto& s) { s.trimTop = c.trim / 2, s.trimBottom = c.trim - c.trim / 2; });
        screen.windowList[0].info.frame = {0, 0, 400, 250};
        startSelecting();
        if (c.moveWindow) screen.windowList[0].info.frame.translate(5, 0);
        ui.complete(Selection::region(c.viewport));
        EXPECT_EQ(capture->running(), c.message.empty()) << status();
        EXPECT_EQ(c.message.empty() ? "" : status() + (stagingEmpty() ? "" : " (staging left)"), c.message);
        capture->cancel();
    }
    make();
    closed = 0;
    startSelecting();
    ui.complete(Selection::cancel());
    EXPECT_EQ(closed, 1) << "a cancelled selection ends the capture";
}

TEST_F(ScrollingCaptureTest, AutomaticCaptureScrollsToTheEndThroughAPauseAndHandsTheWholePageOver) {
    set([](auto& s) { s.overlap = 0.2; });  // two steps are more than the viewport
    wheel.onScroll = [this](int clicks) {
        scrollTo(offset + clicks * kScrollPageStep);
        if (wheel.calls.size() == 3) capture->togglePause();  // before the step's frame is taken
    };
    select(QRectF(50, 0, 200, 300));
    EXPECT_TRUE(keys.watching());
    ASSERT_TRUE(runUntil([&] { return capture->paused(); }));
    runUntil([] { return false; }, 1);  // the step's frame comes and is dropped
    capture->togglePause();
    ASSERT_TRUE(runUntil([&] { return closed > 0; })) << status();
    ASSERT_EQ(shots.size(), 1u);
    EXPECT_TRUE(sameRgb(shots[0].image, page.copy(50, 0, 200, 1000)));
    EXPECT_FALSE(partials[0]);
    EXPECT_EQ(shots[0].screenRect, QRectF(50, 0, 200, 300));
    EXPECT_EQ(shots[0].windowID, 7u);
    EXPECT_TRUE(stagingEmpty());
    EXPECT_FALSE(keys.watching());
    // One click first, then as many as the measured step allows within 300 x 0.8 pixels.
    EXPECT_EQ(wheel.calls.at(0), std::make_pair(QPointF(150, 150), 1));
    EXPECT_EQ(wheel.calls.at(1).second, 240 / kScrollPageStep);
}

// Applications that answer wheel steps late, or speed up long bursts of clicks, still give the
// whole page: a late answer is waited for, Resume after lost overlap scrolls back, and the steps
// then grow back as far as they keep the overlap.
TEST_F(ScrollingCaptureTest, SlowAndAcceleratingApplicationsStillGiveTheWholePage) {
    for (const bool accelerating : {false, true}) {
        make();
        wheel.calls.clear();
        scrollTo(0);
        std::optional<std::pair<double, int>> answer;  // when and where the application scrolls
        wheel.onScroll = [&](int clicks) {
            // Past three clicks in one burst each click scrolls twice as far, either way.
            const int steps = accelerating ? clicks + (clicks > 3 ? clicks - 3 : clicks < -3 ? clicks + 3 : 0) : clicks;
            const int from = answer ? answer->second : offset;
            answer = {clock.now() + (accelerating ? 0.0 : 0.3), from + steps * kScrollPageStep};
        };
        screen.onGrab = [&] {
            if (answer && clock.now() >= answer->first) scrollTo(std::exchange(answer, std::nullopt)->second);
        };
        set([](auto& s) { s.overlap = 0.2; });
        select(QRectF(50, 0, 200, 300));
        if (accelerating) {
            ASSERT_TRUE(runUntil([&] { return capture->paused(); })) << status();
            EXPECT_TRUE(status().starts_with("Lost overlap near output row ")) << status();
            const auto lost = wheel.calls.back().second;
            capture->togglePause();
            ASSERT_TRUE(runUntil([&] { return wheel.calls.size() > 2 && wheel.calls.back().second < 0; }));
            EXPECT_EQ(wheel.calls.back().second, -lost) << "scrolled back by the lost step";
        }
        ASSERT_TRUE(runUntil([&] { return closed > 0; }, 60)) << status();
        EXPECT_TRUE(sameRgb(shots.at(0).image, page.copy(50, 0, 200, 1000))) << accelerating;
        if (accelerating) {
            // After the loss the step starts shorter and grows back toward the one the overlap
            // setting asks for (300 x 0.8 pixels), never past it.
            std::vector<int> clicks;
            for (const auto& call : wheel.calls) clicks.push_back(call.second);
            const auto loss = std::find_if(clicks.begin(), clicks.end(), [](int c) { return c < 0; });
            ASSERT_NE(loss, clicks.end());
            const std::vector<int> after(loss + 1, std::find_if(loss + 1, clicks.end(), [](int c) { return c < 0; }));
            ASSERT_GE(after.size(), 2u) << ::testing::PrintToString(clicks);
            EXPECT_LT(after.front(), -*loss) << ::testing::PrintToString(clicks);
            EXPECT_TRUE(std::is_sorted(after.begin(), after.end()) && after.back() > after.front())
                << "grows back: " << ::testing::PrintToString(clicks);
            for (auto c = loss + 1; c != clicks.end(); ++c) EXPECT_LE(*c, 240 / kScrollPageStep) << ::testing::PrintToString(clicks);
        }
        EXPECT_EQ(partials.at(0), accelerating);
        shots.clear(), partials.clear(), closed = 0;
    }
}

// A terminal's count (numbers at the left edge alone) is stitched whole; a page of identical
// lines moves without proof of how far: the capture pauses on the lost overlap and what it then
// saves is partial.
TEST_F(ScrollingCaptureTest, SparsePagesComeWholeAndUnprovableOnesSavePartial) {
    for (const ScrollText kind : {ScrollText::sparse, ScrollText::identical}) {
        page = scrollTextPageImage(kind, 600, 1000, 18);
        make();
        scrollTo(0);
        closed = 0;
        select(QRectF(0, 0, 200, 300));
        if (kind == ScrollText::identical) {
            ASSERT_TRUE(runUntil([&] { return capture->paused() || closed > 0; })) << status();
            EXPECT_EQ(status(), "Lost overlap near output row 300. Scroll back toward the last accepted frame, then "
                                "retry. Pause/Resume retains the last valid frame.");
            capture->stopAndSave();
        }
        ASSERT_TRUE(runUntil([&] { return closed > 0; })) << status();
        EXPECT_TRUE(sameRgb(shots.back().image, page.copy(0, 0, 200, kind == ScrollText::sparse ? 1000 : 300)));
        EXPECT_EQ(partials.back(), kind == ScrollText::identical);
    }
}

TEST_F(ScrollingCaptureTest, EveryGrabHasTheFirstFramesSizeAtAFractionalScaleWithTrims) {
    screen.screens[0].scale = 1.5;
    scrollTo(0);
    set([](auto& s) { s.trimTop = 2; });
    select(QRectF(51, 30, 199, 151));  // 151 rows are 100.67 points, which round outward to 152 rows
    ASSERT_TRUE(runUntil([&] { return closed > 0; })) << status();
    EXPECT_FALSE(partials.at(0)) << "no grab was refused";
    EXPECT_TRUE(sameRgb(shots[0].image, page.copy(51, 32, 199, 1000 - 450 + 181 - 32)));
}

TEST_F(ScrollingCaptureTest, ManualCapturePausesForProblemsAndResumesOnlyOnTheSameTarget) {
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
    apps.front = AppIdentity{"r", "r", 42, 7};

    set([](auto& s) { s.manualOffset = 40; });  // for one frame only
    capture->togglePause();
    scrollTo(40);
    ASSERT_TRUE(runUntil([&] { return capture->frames() == 2; })) << status();
    EXPECT_EQ(capture->settings().manualOffset, 0);
    EXPECT_EQ(capture->height(), 240);

    keys.press(Qt::Key_Escape);  // in another application
    EXPECT_TRUE(capture->finishing());
    ASSERT_TRUE(runUntil([&] { return closed > 0; }));
    EXPECT_TRUE(partials.at(0)) << "partial after a problem pause";
    EXPECT_TRUE(sameRgb(shots[0].image, page.copy(50, 40, 200, 240)));
}

TEST_F(ScrollingCaptureTest, StableFramesNeedAgreeingGrabsAndAnimationsTimeOut) {
    set([](auto& s) { s.automatic = false; });
    select();
    for (int speed : {0, 1}) {
        set([&](auto& s) { s.speed = speed; });
        scrollTo(offset + 20);  // let one poll take this, then count the grabs of the next
        ASSERT_TRUE(runUntil([&] { return capture->height() == 200 + offset; })) << status();
        const int before = screen.displayGrabs, frames = capture->frames();
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
    capture->stopAndSave();
    ASSERT_TRUE(runUntil([&] { return !capture->finishing(); }));
    EXPECT_EQ(status(), "Could not save to history. Export the accepted image or retry Finish.");
    EXPECT_EQ(closed, 0);

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
    namespace fs = std::filesystem;
    const int fd = ::open(fs::directory_iterator(*fs::directory_iterator(staging.path()))->path().c_str(), O_RDONLY);
    int flags = FS_IMMUTABLE_FL;
    const bool locked = fd >= 0 && ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
    capture->stopAndSave();
    QCoreApplication::processEvents();
    flags = 0;
    if (locked) ::ioctl(fd, FS_IOC_SETFLAGS, &flags);
    if (fd >= 0) ::close(fd);
    EXPECT_EQ(closed, 1);
    EXPECT_TRUE(!locked || status().starts_with("Could not remove")) << status();
    capture->stopAndSave();
    EXPECT_EQ(shots.size(), 2u) << "one hand-over refused, one taken, no other";
}

TEST_F(ScrollingCaptureTest, CancelInEveryStateEndsOnceAndLeavesNothing) {
    for (int state = 0; state < 4; ++state) {
        make();
        closed = 0;
        startSelecting();
        if (state >= 1) ui.complete(Selection::region(QRectF(50, 40, 200, 200)));
        if (state >= 2) capture->togglePause();
        if (state >= 3) capture->stopAndSave();
        capture->cancel();
        capture->cancel();
        QCoreApplication::processEvents();
        EXPECT_EQ(closed, 1) << state;
        EXPECT_FALSE(coordinator.isCapturing() || keys.watching() || timer.pending()) << state;
        EXPECT_TRUE(stagingEmpty() && shots.empty()) << state;
    }
}

}  // namespace
}  // namespace brevalto
