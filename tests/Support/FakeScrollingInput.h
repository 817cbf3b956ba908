#pragma once

#include "Platform/RawKeyWatcher.h"
#include "Platform/WheelScroller.h"

#include <functional>
#include <utility>
#include <vector>

namespace brevalto {

// Wheel clicks as a test sees them: recorded and handed to `onScroll`, which plays the application.
class FakeWheelScroller final : public WheelScroller {
public:
    bool scroll(QPointF point, int clicks) override {
        calls.emplace_back(point, clicks);
        if (onScroll) onScroll(clicks);
        return true;
    }
    std::vector<std::pair<QPointF, int>> calls;
    std::function<void(int clicks)> onScroll;
};

// Key presses of other applications, pressed by the test.
class FakeRawKeyWatcher final : public RawKeyWatcher {
public:
    bool start(std::function<void(int key)> pressed) override { return pressed_ = std::move(pressed), true; }
    void stop() override { pressed_ = nullptr; }
    bool watching() const { return static_cast<bool>(pressed_); }
    void press(int key) {
        if (auto pressed = pressed_) pressed(key);
    }

private:
    std::function<void(int)> pressed_;
};

}  // namespace brevalto
