#include "Platform/Linux/X11WheelScroller.h"

#include "Platform/Linux/X11Connection.h"

#include <xcb/xtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>

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
    // Every event unchecked and one round trip at the end: a refused event makes the server
    // answer with an error, which the reply of that round trip follows.
    const auto motion = [&](std::int16_t x, std::int16_t y) {
        xcb_test_fake_input(c, XCB_MOTION_NOTIFY, 0, XCB_CURRENT_TIME, root, x, y, 0);
    };
    motion(coordinate(point.x()), coordinate(point.y()));
    const std::uint8_t button = clicks > 0 ? 5 : 4;
    for (int i = 0; i < std::abs(clicks); ++i) {
        xcb_test_fake_input(c, XCB_BUTTON_PRESS, button, XCB_CURRENT_TIME, XCB_WINDOW_NONE, 0, 0, 0);
        xcb_test_fake_input(c, XCB_BUTTON_RELEASE, button, XCB_CURRENT_TIME, XCB_WINDOW_NONE, 0, 0, 0);
    }
    motion(pointer->root_x, pointer->root_y);
    XcbReply<xcb_get_input_focus_reply_t> sync(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
    bool ok = sync != nullptr;
    while (xcb_generic_event_t* event = xcb_poll_for_event(c)) {
        if (event->response_type == 0) ok = false;  // an error
        std::free(event);
    }
    return ok;
}

}  // namespace brevalto
