#include "Platform/Linux/X11Apps.h"
#include "Platform/Linux/X11Keyboard.h"

#include "FakeAppsWindow.h"
#include "QtWait.h"

#include <xcb/xtest.h>

#include <QCoreApplication>
#include <QSignalSpy>

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace brevalto {
namespace {

TEST(X11AppsX11Test, FrontmostFollowsActivation) {
    X11Apps apps;
    FakeAppsWindow editor("gedit", "Gedit", 4242);
    FakeAppsWindow terminal("xterm", "XTerm", 4343);
    // Once the window manager has taken the window in, it can be activated.
    ASSERT_TRUE(waitUntil([&] { return apps.activate(AppIdentity{QStringLiteral("XTerm"), {}, 0, terminal.window()}); }));
    auto front = apps.frontmost();
    EXPECT_EQ(front->bundleIdentifier, QStringLiteral("XTerm"));
    EXPECT_EQ(front->name, QStringLiteral("xterm"));
    EXPECT_EQ(front->processId, 4343);

    // By the remembered window, and by class alone when the window is not known.
    EXPECT_TRUE(apps.activate(AppIdentity{QStringLiteral("Gedit"), {}, 4242, editor.window()}));
    EXPECT_EQ(apps.frontmost()->bundleIdentifier, QStringLiteral("Gedit"));
    EXPECT_TRUE(apps.activate(AppIdentity{QStringLiteral("XTerm"), {}, 0, 0}));
    EXPECT_EQ(apps.frontmost()->window, terminal.window());

    // Each activation is announced by the root window's property change, as it happens.
    QSignalSpy changed(&apps, &Apps::frontmostChanged);
    ASSERT_TRUE(apps.activate(AppIdentity{QStringLiteral("Gedit"), {}, 0, editor.window()}));
    EXPECT_TRUE(waitUntil([&] { return changed.count() >= 1; }));
    const int seen = changed.count();
    waitUntil([] { return false; }, 300);
    EXPECT_EQ(changed.count(), seen) << "no announcement while nothing changes";
    ASSERT_TRUE(apps.activate(AppIdentity{QStringLiteral("XTerm"), {}, 0, terminal.window()}));
    EXPECT_TRUE(waitUntil([&] { return changed.count() > seen; }));

    // A window id now used by another app does not activate that app.
    EXPECT_FALSE(apps.activate(AppIdentity{QStringLiteral("Inkscape"), {}, 0, editor.window()}));
    EXPECT_EQ(apps.frontmost()->bundleIdentifier, QStringLiteral("XTerm"));
}

const WindowInfo* find(const std::vector<WindowInfo>& list, std::uint32_t window) {
    auto it = std::find_if(list.begin(), list.end(), [&](const WindowInfo& w) { return w.window == window; });
    return it == list.end() ? nullptr : &*it;
}

TEST(X11AppsX11Test, WindowListIsFrontToBackWithoutOurOwnAndFindsTheWindowAtAPoint) {
    X11Apps apps;
    FakeAppsWindow back("back", "Back", 5151);
    FakeAppsWindow dock("panel", "Panel", 5252, "_NET_WM_WINDOW_TYPE_DOCK");
    FakeAppsWindow own("brevalto", "Brevalto", static_cast<std::uint32_t>(QCoreApplication::applicationPid()));
    FakeAppsWindow front("front", "Front", 5353);
    ASSERT_TRUE(waitUntil([&] { return apps.activate(AppIdentity{QStringLiteral("Front"), {}, 5353, front.window()}); }));
    ASSERT_TRUE(waitUntil([&] {
        const auto list = apps.windows();
        return find(list, back.window()) && find(list, dock.window()) && find(list, front.window());
    }));

    const std::vector<WindowInfo> list = apps.windows();
    EXPECT_EQ(find(list, own.window()), nullptr);
    const WindowInfo* top = find(list, front.window());
    EXPECT_EQ(top->processId, 5353);
    EXPECT_EQ(top->layer, 0);
    EXPECT_EQ(top->bounds.size(), QSizeF(200, 100));
    EXPECT_EQ(find(list, dock.window())->layer, 1);
    EXPECT_EQ(find(list, back.window())->layer, 0);
    // The active window is in front of the one mapped first.
    EXPECT_LT(top - list.data(), find(list, back.window()) - list.data());

    EXPECT_EQ(apps.processAt(top->bounds.center()), 5353);
    EXPECT_EQ(apps.processAt(QPointF(-50, -50)), std::nullopt);
    EXPECT_EQ(apps.application(5353)->window, front.window());
    EXPECT_EQ(apps.application(999999), std::nullopt);
}

TEST(X11AppsX11Test, AnAppRunsWhileItsProcessDoes) {
    X11Apps apps;
    EXPECT_TRUE(apps.isRunning(AppIdentity{QStringLiteral("Self"), {}, QCoreApplication::applicationPid(), 0}));
    // A process that has ended (a pid far beyond the default limit is never in use).
    EXPECT_FALSE(apps.isRunning(AppIdentity{QStringLiteral("Gone"), {}, 4'000'000, 0}));
    // Without a pid: while the window is there and still the app's.
    auto window = std::make_unique<FakeAppsWindow>("nopid", "NoPid", 0);
    const AppIdentity app{QStringLiteral("NoPid"), {}, 0, window->window()};
    EXPECT_TRUE(apps.isRunning(app));
    window.reset();
    EXPECT_TRUE(waitUntil([&] { return !apps.isRunning(app); }));
}

TEST(X11KeyboardX11Test, SendPastePostsControlVToTheFocusedWindow) {
    X11Apps apps;
    X11Keyboard keyboard;
    FakeAppsWindow target("target", "Target", 6161, {}, XCB_EVENT_MASK_KEY_PRESS | XCB_EVENT_MASK_KEY_RELEASE);
    ASSERT_TRUE(waitUntil([&] { return apps.activate(AppIdentity{QStringLiteral("Target"), {}, 6161, target.window()}); }));
    // The window manager gives the focus a moment after the activation request; keys sent
    // before that would go to whichever window had it.
    xcb_connection_t* c = target.connection();
    ASSERT_TRUE(waitUntil([&] {
        xcb_get_input_focus_reply_t* focus = xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr);
        const bool focused = focus && focus->focus == target.window();
        std::free(focus);
        return focused;
    }));
    ASSERT_TRUE(keyboard.sendPaste());

    struct Key {
        std::uint8_t type, code;
        bool control;
        bool operator==(const Key&) const = default;
    };
    std::vector<Key> keys;
    waitUntil([&] {
        while (xcb_generic_event_t* event = xcb_poll_for_event(c)) {
            const std::uint8_t type = event->response_type & 0x7f;
            if (type == XCB_KEY_PRESS || type == XCB_KEY_RELEASE) {
                const auto* key = reinterpret_cast<xcb_key_press_event_t*>(event);
                keys.push_back({type, key->detail, (key->state & XCB_MOD_MASK_CONTROL) != 0});
            }
            std::free(event);
        }
        return keys.size() >= 4;
    });
    const std::uint8_t control = X11Keyboard::controlKeyCode(), v = X11Keyboard::vKeyCode();
    EXPECT_EQ(keys, (std::vector<Key>{{XCB_KEY_PRESS, control, false},
                                      {XCB_KEY_PRESS, v, true},
                                      {XCB_KEY_RELEASE, v, true},
                                      {XCB_KEY_RELEASE, control, true}}));
}

TEST(X11KeyboardX11Test, EscapeHeldIsReadFromTheKeymap) {
    X11Keyboard keyboard;
    EXPECT_FALSE(keyboard.isEscapeHeld());
    xcb_connection_t* c = xcb_connect(nullptr, nullptr);
    xcb_test_fake_input(c, XCB_KEY_PRESS, X11Keyboard::escapeKeyCode(), XCB_CURRENT_TIME, XCB_WINDOW_NONE, 0, 0, 0);
    std::free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
    EXPECT_TRUE(keyboard.isEscapeHeld());
    xcb_test_fake_input(c, XCB_KEY_RELEASE, X11Keyboard::escapeKeyCode(), XCB_CURRENT_TIME, XCB_WINDOW_NONE, 0, 0, 0);
    std::free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
    EXPECT_FALSE(keyboard.isEscapeHeld());
    xcb_disconnect(c);
}

}  // namespace
}  // namespace brevalto
