#include "Platform/Linux/X11Keyboard.h"

#include "Platform/Linux/X11Connection.h"

#include <linux/input-event-codes.h>
#include <xcb/xtest.h>

namespace brevalto {

namespace {

// The evdev driver gives X key codes 8 above the kernel's key numbers.
constexpr int kEvdevOffset = 8;

}  // namespace

std::uint8_t X11Keyboard::controlKeyCode() { return KEY_LEFTCTRL + kEvdevOffset; }
std::uint8_t X11Keyboard::vKeyCode() { return KEY_V + kEvdevOffset; }
std::uint8_t X11Keyboard::escapeKeyCode() { return KEY_ESC + kEvdevOffset; }

X11Keyboard::X11Keyboard() = default;
X11Keyboard::~X11Keyboard() = default;

X11Connection* X11Keyboard::connection() const {
    if (!connection_ || connection_->broken()) connection_ = X11Connection::open();
    return connection_.get();
}

bool X11Keyboard::sendPaste() {
    X11Connection* x = connection();
    if (!x) return false;
    xcb_connection_t* c = x->get();
    const struct {
        std::uint8_t type;
        std::uint8_t key;
    } events[] = {{XCB_KEY_PRESS, controlKeyCode()},
                  {XCB_KEY_PRESS, vKeyCode()},
                  {XCB_KEY_RELEASE, vKeyCode()},
                  {XCB_KEY_RELEASE, controlKeyCode()}};
    xcb_void_cookie_t cookies[4];
    int i = 0;
    for (const auto& event : events)
        cookies[i++] = xcb_test_fake_input_checked(c, event.type, event.key, XCB_CURRENT_TIME, XCB_WINDOW_NONE, 0, 0, 0);
    bool posted = true;
    for (const auto& cookie : cookies) {
        if (xcb_generic_error_t* error = xcb_request_check(c, cookie)) {
            std::free(error);
            posted = false;
        }
    }
    return posted && !x->broken();
}

bool X11Keyboard::isEscapeHeld() const {
    X11Connection* x = connection();
    if (!x) return false;
    xcb_connection_t* c = x->get();
    XcbReply<xcb_query_keymap_reply_t> keymap(xcb_query_keymap_reply(c, xcb_query_keymap(c), nullptr));
    if (!keymap) return false;
    const std::uint8_t key = escapeKeyCode();
    return (keymap->keys[key / 8] >> (key % 8)) & 1;
}

}  // namespace brevalto
