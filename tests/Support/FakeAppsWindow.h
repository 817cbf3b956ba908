#pragma once

#include <xcb/xcb.h>

#include <cstdint>
#include <cstdlib>
#include <string>

namespace brevalto {

// A top-level window of another client, with the WM_CLASS and _NET_WM_PID that apps set, and
// optionally a _NET_WM_WINDOW_TYPE (such as "_NET_WM_WINDOW_TYPE_DOCK") and the events it wants.
class FakeAppsWindow {
public:
    FakeAppsWindow(const std::string& instance, const std::string& klass, std::uint32_t pid,
                   const std::string& windowType = {}, std::uint32_t eventMask = 0) {
        connection_ = xcb_connect(nullptr, nullptr);
        xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(connection_)).data;
        window_ = xcb_generate_id(connection_);
        xcb_create_window(connection_, XCB_COPY_FROM_PARENT, window_, screen->root, 10, 10, 200, 100, 0,
                          XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual, XCB_CW_EVENT_MASK, &eventMask);
        const std::string wmClass = instance + '\0' + klass + '\0';
        xcb_change_property(connection_, XCB_PROP_MODE_REPLACE, window_, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 8,
                            static_cast<std::uint32_t>(wmClass.size()), wmClass.data());
        xcb_change_property(connection_, XCB_PROP_MODE_REPLACE, window_, atom("_NET_WM_PID"), XCB_ATOM_CARDINAL, 32,
                            1, &pid);
        if (!windowType.empty()) {
            const xcb_atom_t type = atom(windowType);
            xcb_change_property(connection_, XCB_PROP_MODE_REPLACE, window_, atom("_NET_WM_WINDOW_TYPE"),
                                XCB_ATOM_ATOM, 32, 1, &type);
        }
        xcb_map_window(connection_, window_);
        xcb_flush(connection_);
    }
    ~FakeAppsWindow() { xcb_disconnect(connection_); }
    FakeAppsWindow(const FakeAppsWindow&) = delete;
    FakeAppsWindow& operator=(const FakeAppsWindow&) = delete;

    std::uint32_t window() const { return window_; }
    xcb_connection_t* connection() const { return connection_; }

private:
    xcb_atom_t atom(const std::string& name) {
        auto reply = xcb_intern_atom_reply(
            connection_, xcb_intern_atom(connection_, 0, static_cast<std::uint16_t>(name.size()), name.data()),
            nullptr);
        const xcb_atom_t result = reply ? reply->atom : static_cast<xcb_atom_t>(XCB_ATOM_NONE);
        std::free(reply);
        return result;
    }

    xcb_connection_t* connection_;
    xcb_window_t window_;
};

}  // namespace brevalto
