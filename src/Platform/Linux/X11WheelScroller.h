#pragma once

#include "Platform/WheelScroller.h"

#include <memory>

namespace brevalto {

class X11Connection;

// Wheel clicks through XTest: the pointer moves to the point, buttons 5 (down) or 4 (up) are
// pressed and released, and the pointer moves back, all in one batch the server runs in order.
class X11WheelScroller final : public WheelScroller {
public:
    X11WheelScroller();
    ~X11WheelScroller() override;
    bool scroll(QPointF point, int clicks) override;

private:
    std::unique_ptr<X11Connection> x_;
};

}  // namespace brevalto
