#pragma once

#include <QPointer>
#include <QWidget>

#include <chrono>
#include <vector>

namespace brevalto {

// Hides the app's own visible top-level windows for its lifetime and shows them again after it,
// so that an image of the root does not contain them. Does nothing without a QApplication or
// when no window of ours is visible. The hiding itself happens on the GUI thread.
class X11CaptureOwnWindows {
public:
    explicit X11CaptureOwnWindows(std::chrono::milliseconds repaintDelay);
    ~X11CaptureOwnWindows();
    X11CaptureOwnWindows(const X11CaptureOwnWindows&) = delete;
    X11CaptureOwnWindows& operator=(const X11CaptureOwnWindows&) = delete;

private:
    std::vector<QPointer<QWidget>> hidden_;
};

}  // namespace brevalto
