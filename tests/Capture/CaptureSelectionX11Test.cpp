// A region capture on a real X server: the frozen frame goes up over the display, a drag and
// Return scripted through XTest (xdotool) give exactly the dragged rectangle, and Escape leaves no
// window and no grab behind.
#include "Capture/CaptureCoordinator.h"
#include "Capture/CaptureEngine.h"
#include "Capture/CaptureOverlays.h"
#include "Platform/Linux/QtScreens.h"
#include "Platform/Linux/X11HotKeys.h"
#include "Platform/Linux/X11RawKeyWatcher.h"
#include "Platform/Linux/X11ScreenCapture.h"
#include "QtWait.h"

#include <QProcess>
#include <QTest>

#include <xcb/xcb.h>

#include <gtest/gtest.h>

#include <cstdlib>

namespace brevalto {
namespace {

// A window of another client that the window manager leaves alone, in one colour.
class Patch {
public:
    Patch(const QRect& rect, QRgb color) {
        c_ = xcb_connect(nullptr, nullptr);
        xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c_)).data;
        id_ = xcb_generate_id(c_);
        const std::uint32_t values[] = {color & 0xffffffu, 1};
        xcb_create_window(c_, XCB_COPY_FROM_PARENT, id_, screen->root, std::int16_t(rect.x()), std::int16_t(rect.y()),
                          std::uint16_t(rect.width()), std::uint16_t(rect.height()), 0, XCB_WINDOW_CLASS_INPUT_OUTPUT,
                          screen->root_visual, XCB_CW_BACK_PIXEL | XCB_CW_OVERRIDE_REDIRECT, values);
        xcb_map_window(c_, id_);
        xcb_aux_sync();
    }
    ~Patch() {
        xcb_destroy_window(c_, id_);
        xcb_flush(c_);
        xcb_disconnect(c_);
    }

private:
    void xcb_aux_sync() { std::free(xcb_get_input_focus_reply(c_, xcb_get_input_focus(c_), nullptr)); }
    xcb_connection_t* c_ = nullptr;
    xcb_window_t id_ = 0;
};

// Whether another client could take the keyboard and the pointer now (nobody holds a grab).
bool grabsAreFree() {
    xcb_connection_t* c = xcb_connect(nullptr, nullptr);
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
    auto* k = xcb_grab_keyboard_reply(
        c, xcb_grab_keyboard(c, 0, root, XCB_CURRENT_TIME, XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC), nullptr);
    auto* p = xcb_grab_pointer_reply(c,
                                     xcb_grab_pointer(c, 0, root, 0, XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC,
                                                      XCB_NONE, XCB_NONE, XCB_CURRENT_TIME),
                                     nullptr);
    const bool free = k && k->status == XCB_GRAB_STATUS_SUCCESS && p && p->status == XCB_GRAB_STATUS_SUCCESS;
    std::free(k);
    std::free(p);
    xcb_ungrab_keyboard(c, XCB_CURRENT_TIME);
    xcb_ungrab_pointer(c, XCB_CURRENT_TIME);
    xcb_disconnect(c);
    return free;
}

// Runs xdotool with the arguments while the event loop keeps going.
bool xdotool(const QStringList& arguments) {
    QProcess process;
    process.start(QStringLiteral("xdotool"), arguments);
    if (!process.waitForStarted()) return false;
    return waitUntil([&] { return process.state() == QProcess::NotRunning; }, 10000) && process.exitCode() == 0;
}

class CaptureSelectionX11Test : public ::testing::Test {
protected:
    void start() {
        result.reset();
        coordinator.capture(CaptureRequest{}, [this](CaptureCoordinator::Result r) { result.emplace(std::move(r)); });
        ASSERT_TRUE(waitUntil([&] { return overlays.keyView() && overlays.inputGrabbed(); }));
        EXPECT_EQ(overlays.overlayCount(), 1);
        EXPECT_TRUE(overlays.keyView()->isVisible());
    }

    X11ScreenCapture capture;
    QtScreens screens;
    CaptureEngine engine{capture};
    CaptureOverlays overlays{screens};
    QtCaptureTimer timer;
    CaptureCoordinator coordinator{engine, overlays, timer};
    std::optional<CaptureCoordinator::Result> result;
};

TEST_F(CaptureSelectionX11Test, DragAndReturnGiveExactlyTheDraggedRegion) {
    Patch red(QRect(200, 200, 300, 200), qRgb(255, 0, 0));
    Patch blue(QRect(500, 200, 100, 200), qRgb(0, 0, 255));
    start();
    ASSERT_TRUE(xdotool({"mousemove", "150", "150", "mousedown", "1", "mousemove", "300", "250", "mousemove", "550",
                         "300", "mouseup", "1"}));
    ASSERT_TRUE(waitUntil([&] { return overlays.keyView() && overlays.keyView()->shared()->rect.has_value() &&
                                       !overlays.keyView()->shared()->anchor; }));
    EXPECT_FALSE(result.has_value()) << "releasing the mouse does not end a region selection";
    ASSERT_TRUE(xdotool({"key", "Return"}));
    ASSERT_TRUE(waitUntil([&] { return result.has_value(); }));

    const auto shot = result->get();
    ASSERT_TRUE(shot.has_value());
    EXPECT_EQ(coordinator.state(), CaptureState::completed);
    ASSERT_EQ(shot->image.size(), QSize(400, 150));
    EXPECT_EQ(shot->screenRect, QRectF(150, 1080 - 300, 400, 150));
    EXPECT_EQ(qRed(shot->image.pixel(10, 10)), 0) << "the desktop left of the red window";
    EXPECT_EQ(shot->image.pixel(100, 100) & 0xffffff, qRgb(255, 0, 0) & 0xffffff);
    EXPECT_EQ(shot->image.pixel(380, 100) & 0xffffff, qRgb(0, 0, 255) & 0xffffff);
    // The same rectangle shot afresh, now that the overlay is gone, is the same picture.
    EXPECT_TRUE(waitUntil([&] { return overlays.overlayCount() == 0; }));
    const auto again = engine.captureRect(engine.displays(), CaptureRequest{}, shot->screenRect);
    EXPECT_EQ(again.image.convertToFormat(QImage::Format_RGB32), shot->image.convertToFormat(QImage::Format_RGB32));
    EXPECT_TRUE(grabsAreFree());
}

TEST_F(CaptureSelectionX11Test, EscapeLeavesNoWindowAndNoGrab) {
    start();
    EXPECT_FALSE(grabsAreFree()) << "the overlay holds keyboard and pointer";
    ASSERT_TRUE(xdotool({"key", "Escape"}));
    ASSERT_TRUE(waitUntil([&] { return result.has_value(); }));
    EXPECT_FALSE(result->get().has_value());
    EXPECT_EQ(coordinator.state(), CaptureState::cancelled);
    EXPECT_EQ(overlays.overlayCount(), 0);
    EXPECT_FALSE(overlays.inputGrabbed());
    EXPECT_TRUE(waitUntil([&] { return overlays.selectionViews().empty(); }));
    EXPECT_TRUE(grabsAreFree());
}

// The region hot key opens the overlay, Escape soon after closes it, and the next press of the
// hot key opens it again, time after time: the overlay's keyboard grab swallows the hot key's
// release, which must not leave the hot key taken for held down.
TEST_F(CaptureSelectionX11Test, EscapeSoonAfterTheHotKeyCancelsAndTheHotKeyWorksAgain) {
    X11HotKeys hotKeys;
    int presses = 0;
    HotKeys::Handler handler;
    handler.pressed = [&](HotKeyID) {
        ++presses;
        coordinator.capture(CaptureRequest{}, [this](CaptureCoordinator::Result r) { result.emplace(std::move(r)); });
    };
    ASSERT_EQ(hotKeys.installHandler(handler), HotKeys::noError);
    ASSERT_EQ(hotKeys.registerHotKey(19, 0x100 | 0x200 | 0x1000, HotKeyID{1, 1}), HotKeys::noError);  // Super+Shift+Ctrl+2
    for (int round = 1; round <= 3; ++round) {
        SCOPED_TRACE(round);
        result.reset();
        ASSERT_TRUE(xdotool({"key", "super+shift+ctrl+2"}));
        ASSERT_TRUE(waitUntil([&] { return overlays.overlayCount() == 1 && overlays.inputGrabbed(); }, 5000))
            << presses << " presses seen";
        QTest::qWait(300);
        ASSERT_TRUE(xdotool({"key", "Escape"}));
        ASSERT_TRUE(waitUntil([&] { return result.has_value(); }));
        EXPECT_EQ(coordinator.state(), CaptureState::cancelled);
        EXPECT_EQ(overlays.overlayCount(), 0);
    }
    EXPECT_EQ(presses, 3);
    EXPECT_TRUE(grabsAreFree());
}

// While another client holds the keyboard the overlay cannot take it; Escape still cancels.
TEST_F(CaptureSelectionX11Test, EscapeCancelsWhileAnotherClientHoldsTheKeyboard) {
    X11RawKeyWatcher keys;
    overlays.watchEscapeWith(&keys);
    xcb_connection_t* other = xcb_connect(nullptr, nullptr);
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(other)).data->root;
    auto* grab = xcb_grab_keyboard_reply(
        other, xcb_grab_keyboard(other, 0, root, XCB_CURRENT_TIME, XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC), nullptr);
    ASSERT_TRUE(grab && grab->status == XCB_GRAB_STATUS_SUCCESS);
    std::free(grab);

    coordinator.capture(CaptureRequest{}, [this](CaptureCoordinator::Result r) { result.emplace(std::move(r)); });
    ASSERT_TRUE(waitUntil([&] { return overlays.overlayCount() == 1; }));
    QTest::qWait(300);
    EXPECT_FALSE(overlays.inputGrabbed());
    ASSERT_TRUE(xdotool({"key", "Escape"}));
    EXPECT_TRUE(waitUntil([&] { return result.has_value(); }, 3000));
    EXPECT_EQ(coordinator.state(), CaptureState::cancelled);
    EXPECT_EQ(overlays.overlayCount(), 0);
    xcb_ungrab_keyboard(other, XCB_CURRENT_TIME);
    xcb_disconnect(other);
    overlays.watchEscapeWith(nullptr);
}

}  // namespace
}  // namespace brevalto
