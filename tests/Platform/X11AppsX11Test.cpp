#include "Platform/Linux/X11Apps.h"

#include "QtWait.h"

#include <xcb/xcb.h>

#include <cstdlib>
#include <string>

#include <gtest/gtest.h>

namespace brevalto {
namespace {

// A top-level window of another client, with the WM_CLASS and _NET_WM_PID that apps set.
class ClientWindow {
public:
    ClientWindow(const std::string& instance, const std::string& klass, std::uint32_t pid) {
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
    ~ClientWindow() { xcb_disconnect(connection_); }

    std::uint32_t window() const { return window_; }

private:
    xcb_connection_t* connection_;
    xcb_window_t window_;
};

TEST(X11AppsX11Test, FrontmostFollowsActivation) {
    X11Apps apps;
    ClientWindow editor("gedit", "Gedit", 4242);
    ClientWindow terminal("xterm", "XTerm", 4343);
    // The window manager makes a newly mapped window active.
    ASSERT_TRUE(waitUntil([&] { auto app = apps.frontmost(); return app && app->window == terminal.window(); }));
    auto front = apps.frontmost();
    EXPECT_EQ(front->bundleIdentifier, QStringLiteral("XTerm"));
    EXPECT_EQ(front->name, QStringLiteral("xterm"));
    EXPECT_EQ(front->processId, 4343);

    // By the remembered window, and by class alone when the window is not known.
    EXPECT_TRUE(apps.activate(AppIdentity{QStringLiteral("Gedit"), {}, 4242, editor.window()}));
    EXPECT_EQ(apps.frontmost()->bundleIdentifier, QStringLiteral("Gedit"));
    EXPECT_TRUE(apps.activate(AppIdentity{QStringLiteral("XTerm"), {}, 0, 0}));
    EXPECT_EQ(apps.frontmost()->window, terminal.window());

    // A window id now used by another app does not activate that app.
    EXPECT_FALSE(apps.activate(AppIdentity{QStringLiteral("Inkscape"), {}, 0, editor.window()}));
    EXPECT_EQ(apps.frontmost()->bundleIdentifier, QStringLiteral("XTerm"));
}

}  // namespace
}  // namespace brevalto
