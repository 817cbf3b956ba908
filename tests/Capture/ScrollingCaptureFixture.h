#pragma once

// A scrolling capture over a fake desktop whose page scrolls on fake wheel clicks, a scripted
// selection and a manual clock.
#include "Capture/CaptureCoordinator.h"
#include "Capture/CaptureEngine.h"
#include "Capture/ScrollingCapture.h"
#include "FakeApps.h"
#include "FakeCaptureInteraction.h"
#include "FakeScreenCapture.h"
#include "FakeScrollingInput.h"
#include "ScrollPage.h"
#include "TestFolder.h"

#include <QCoreApplication>

#include <gtest/gtest.h>

namespace brevalto {

class InlineExecutor final : public TaskExecutor {
public:
    void start(std::function<void()> work) override { work(); }
};

class ScrollingCaptureTest : public ::testing::Test {
protected:
    ScrollingCaptureTest() {
        screen.windowList.push_back({{7, "R", "r", 42, ScreenCaptureWindow::Type::normal, {0, 0, 400, 300}, true}, {}});
        apps.front = AppIdentity{"r", "r", 42, 7};
        apps.windowList = {{7, 42, {0, 0, 400, 300}, 0}};
        wheel.onScroll = [this](int clicks) { scrollTo(offset + clicks * kScrollPageStep); };
        scrollTo(0);
        make();
    }
    void make() {
        ScrollingCaptureServices s{&coordinator, &engine, &screen, &apps, &wheel, &keys, &timer, &clock, &executor,
                                   staging.path(),
                                   [this](const QString& name) { return exportNames.push_back(name), exportPath; }};
        capture = std::make_unique<ScrollingCapture>(
            s, apps.front, 0,
            [this](const CapturedScreenshot& shot, bool partial, std::function<void(bool)> taken) {
                shots.push_back(shot), partials.push_back(partial), taken(take);
            },
            [this] { ++closed; }, [] { return QStringLiteral("Screenshot_1.png"); });
    }
    void scrollTo(int top) {  // the display shows the page from row `top`
        const double scale = screen.screens[0].scale;
        offset = std::clamp(top, 0, page.height() - int(300 * scale));
        screen.displayImages[display] = page.copy(0, offset, int(400 * scale), int(300 * scale))
                                            .convertToFormat(QImage::Format_ARGB32_Premultiplied);
    }
    void set(const std::function<void(ScrollingCapture::Settings&)>& change) {
        auto s = capture->settings();
        change(s);
        capture->setSettings(s);
    }
    // Starts the capture and runs the clock until its viewport selection is up; false when none comes.
    bool startSelecting() {
        capture->start();
        return runUntil([&] { return coordinator.isSelecting(); }, 1);
    }
    void select(const QRectF& viewport = QRectF(50, 40, 200, 200)) {  // display pixels
        startSelecting();
        ui.complete(CaptureCoordinator::Selection::region(viewport));
        QCoreApplication::processEvents();
    }
    // Runs the manual clock in small steps until `done` holds (at most `seconds`).
    bool runUntil(const std::function<bool()>& done, double seconds = 30) {
        for (double t = 0; t < seconds && !done(); t += 0.01) timer.advance(0.01), QCoreApplication::processEvents();
        return done();
    }
    std::string status() const { return capture->status().toStdString(); }
    bool stagingEmpty() const { return std::filesystem::is_empty(staging.path()); }

    QImage page = scrollPageImage(600, 1000);
    int offset = 0;
    FakeScreenCapture screen;
    std::uint32_t display = screen.addDisplay({0, 0, 400, 300}, 1);
    CaptureEngine engine{screen};
    FakeApps apps;
    FakeWheelScroller wheel;
    FakeRawKeyWatcher keys;
    FakeCaptureInteraction ui;
    FakeClock clock;
    ManualCaptureTimer countdown{clock}, timer{clock};
    CaptureCoordinator coordinator{engine, ui, countdown, &apps};
    TestFolder staging;
    InlineExecutor executor;  // the stitcher's appends run at once; their answers come as queued calls
    std::unique_ptr<ScrollingCapture> capture;
    std::vector<CapturedScreenshot> shots;
    std::vector<bool> partials;
    bool take = true;
    int closed = 0;
    std::optional<QString> exportPath;
    std::vector<QString> exportNames;
};

}  // namespace brevalto
