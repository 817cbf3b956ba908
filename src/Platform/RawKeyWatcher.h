#pragma once

#include <functional>

namespace brevalto {

// Watches key presses anywhere on the desktop, whichever window has the keyboard, without taking
// them: each key still reaches the window it was meant for.
class RawKeyWatcher {
public:
    virtual ~RawKeyWatcher() = default;
    // Reports every key press to `pressed` on the GUI thread as a Qt::Key (Qt::Key_unknown for keys
    // without one), until stop(). Replaces an earlier watch. False when the desktop cannot report
    // key presses.
    virtual bool start(std::function<void(int key)> pressed) = 0;
    virtual void stop() = 0;
};

}  // namespace brevalto
