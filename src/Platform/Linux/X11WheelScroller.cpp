#include "Platform/Linux/X11WheelScroller.h"

#include "Platform/Linux/X11Connection.h"

#include <xcb/xtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <vector>

namespace brevalto {

X11WheelScroller::X11WheelScroller() = default;
X11WheelScroller::~X11WheelScroller() = default;

bool X11WheelScroller::scroll(QPointF point, int clicks) {
    if (clicks == 0) return false;
    if (!x_ || x_->broken()) x_ = X11Connection::open();
    if (!x_) return false;
    xcb_connection_t* c = x_->get();
    const xcb_window_t root = x_->root();
    XcbReply<xcb_query_pointer_reply_t> pointer(xcb_query_pointer_reply(c, xcb_query_pointer(c, root), nullptr));
    if (!pointer) return false;

    const auto coordinate = [](double v) {
        return static_cast<std::int16_t>(std::clamp(std::floor(v), -32768.0, 32767.0));
    };
    std::vector<xcb_void_cookie_t> cookies;
    const auto motion = [&](std::int16_t x, std::int16_t y) {
        cookies.push_back(xcb_test_fake_input_checked(c, XCB_MOTION_NOTIFY, 0, XCB_CURRENT_TIME, root, x, y, 0));
    };
    motion(coordinate(point.x()), coordinate(point.y()));
    const std::uint8_t button = clicks > 0 ? 5 : 4;
    for (int i = 0; i < std::abs(clicks); ++i) {
        cookies.push_back(
            xcb_test_fake_input_checked(c, XCB_BUTTON_PRESS, button, XCB_CURRENT_TIME, XCB_WINDOW_NONE, 0, 0, 0));
        cookies.push_back(
            xcb_test_fake_input_checked(c, XCB_BUTTON_RELEASE, button, XCB_CURRENT_TIME, XCB_WINDOW_NONE, 0, 0, 0));
    }
    motion(pointer->root_x, pointer->root_y);
    bool ok = true;
    for (const auto cookie : cookies) {
        if (xcb_generic_error_t* error = xcb_request_check(c, cookie)) {
            ok = false;
            std::free(error);
        }
    }
    return ok;
}

}  // namespace brevalto
