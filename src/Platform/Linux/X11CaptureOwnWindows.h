#pragma once

#include <QPointer>
#include <QRect>
#include <QWidget>

#include <chrono>
#include <vector>

namespace brevalto {

// Hides the app's own visible top-level windows that overlap an area of the root for its
// lifetime and shows them again after it, so that an image of that area does not contain them.
// Does nothing without a QApplication or when no window of ours is in the way. The hiding
// happens on the GUI thread: from another thread it waits for the GUI thread, which therefore
// must not be blocked waiting for the caller. Windows of ours that went shortly before (a
// prompt the user just answered, the panel put aside) are waited for too while their frames are
// still up, until the window manager has taken them down.
class X11CaptureOwnWindows {
public:
    // Starts noting the frames of our windows as they go; called once on the GUI thread, before
    // the first window of ours can go.
    static void followWithdrawals();
    X11CaptureOwnWindows(const QRect& area, std::chrono::milliseconds repaintDelay);
    ~X11CaptureOwnWindows();
    X11CaptureOwnWindows(const X11CaptureOwnWindows&) = delete;
    X11CaptureOwnWindows& operator=(const X11CaptureOwnWindows&) = delete;

private:
    std::vector<QPointer<QWidget>> hidden_;
};

}  // namespace brevalto
