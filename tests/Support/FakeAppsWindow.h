#pragma once

#include <xcb/xcb.h>

#include <cstdint>
#include <cstdlib>
#include <string>

namespace brevalto {

// A top-level window of another client, with the WM_CLASS and _NET_WM_PID that apps set.
class FakeAppsWindow {
public:
    FakeAppsWindow(const std::string& instance, const std::string& klass, std::uint32_t pid) {
        connection_ = xcb_connect(nullptr, nullptr);
        xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(connection_)).data;
        window_ = xcb_generate_id(connection_);
        xcb_create_window(connection_, XCB_COPY_FROM_PARENT, window_, screen->root, 10, 10, 200, 100, 0,
                          XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual, 0, nullptr);
        const std::string wmClass = instance + '\0' + klass + '\0';
        xcb_change_property(connection_, XCB_PROP_MODE_REPLACE, window_, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 8,
                            static_cast<std::uint32_t>(wmClass.size()), wmClass.data());
        const std::string pidName = "_NET_WM_PID";
        auto reply = xcb_intern_atom_reply(
            connection_, xcb_intern_atom(connection_, 0, static_cast<std::uint16_t>(pidName.size()), pidName.data()),
            nullptr);
        xcb_change_property(connection_, XCB_PROP_MODE_REPLACE, window_, reply->atom, XCB_ATOM_CARDINAL, 32, 1, &pid);
        std::free(reply);
        xcb_map_window(connection_, window_);
        xcb_flush(connection_);
    }
    ~FakeAppsWindow() { xcb_disconnect(connection_); }
    FakeAppsWindow(const FakeAppsWindow&) = delete;
    FakeAppsWindow& operator=(const FakeAppsWindow&) = delete;

    std::uint32_t window() const { return window_; }

private:
    xcb_connection_t* connection_;
    xcb_window_t window_;
};

}  // namespace brevalto
