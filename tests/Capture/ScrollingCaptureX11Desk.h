#pragma once

// The real desktop pieces that a scrolling capture works with in the x11 tests, and one capture
// over them whose hand-over is recorded.
#include "Capture/CaptureCoordinator.h"
#include "Capture/CaptureEngine.h"
#include "Capture/ScrollingCapture.h"
#include "Capture/ScrollingCaptureView.h"
#include "FakeCaptureInteraction.h"
#include "Platform/Linux/X11Apps.h"
#include "Platform/Linux/X11RawKeyWatcher.h"
#include "Platform/Linux/X11ScreenCapture.h"
#include "Platform/Linux/X11WheelScroller.h"
#include "QtWait.h"
#include "TestFolder.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <optional>

namespace brevalto {

struct X11ScrollingDesk {
    X11ScreenCapture screen;
    CaptureEngine engine{screen};
    X11Apps apps;
    X11WheelScroller wheel;
    X11RawKeyWatcher keys;
    FakeCaptureInteraction ui;
    FakeClock clock;
    ManualCaptureTimer countdown{clock};
    CaptureCoordinator coordinator{engine, ui, countdown, &apps};
    TestFolder staging;
    std::optional<CapturedScreenshot> shot;
    bool partial = false;
    bool closed = false;
    std::unique_ptr<ScrollingCapture> capture;

    // Starts a capture of the frontmost application with the settings changed as given, and
    // selects `viewport` (screen pixels).
    void startCapture(const QRect& viewport, const std::function<void(ScrollingCapture::Settings&)>& change) {
        makeCapture(change);
        select(viewport);
    }
    // The same in two steps, with the capture's panel as the app shows it.
    void makeCapture(const std::function<void(ScrollingCapture::Settings&)>& change) {
        capture = std::make_unique<ScrollingCapture>(
            ScrollingCaptureServices{&coordinator, &engine, &screen, &apps, &wheel, &keys, nullptr, nullptr, nullptr,
                                     staging.path(), nullptr},
            apps.frontmost(), 0,
            [this](const CapturedScreenshot& result, bool isPartial, std::function<void(bool)> taken) {
                shot = result, partial = isPartial;
                taken(true);
            },
            [this] { closed = true; }, nullptr);
        auto settings = capture->settings();
        change(settings);
        capture->setSettings(settings);
        ScrollingCaptureView::makePanel(*capture);
    }
    void select(const QRect& viewport) {
        capture->start();
        ASSERT_TRUE(waitUntil([&] { return coordinator.isSelecting(); })) << capture->status().toStdString();
        ui.complete(CaptureCoordinator::Selection::region(viewport));
    }
};

}  // namespace brevalto
