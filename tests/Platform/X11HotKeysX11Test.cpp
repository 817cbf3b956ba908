// Hot keys on a private X server, pressed through XTest by xdotool as a keyboard would.
#include "Automation/GlobalShortcuts.h"
#include "Platform/Defaults.h"
#include "Platform/Linux/X11Connection.h"
#include "Platform/Linux/X11HotKeys.h"

#include "QtWait.h"

#include <QProcess>
#include <QTest>

#include <xcb/xcb_keysyms.h>
#include <xcb/xtest.h>

#include <gtest/gtest.h>

#include <vector>

namespace brevalto {
namespace {

QString run(const QString& program, const QStringList& arguments) {
    QProcess process;
    process.start(program, arguments);
    EXPECT_TRUE(process.waitForFinished(10000)) << program.toStdString();
    return QString::fromUtf8(process.readAllStandardOutput());
}

void press(const char* keys) { run(QStringLiteral("xdotool"), {QStringLiteral("key"), QString::fromLatin1(keys)}); }

// Whether a lock modifier is on now, as the server reports the keyboard state.
bool lockOn(std::uint16_t mask) {
    auto connection = X11Connection::open();
    if (!connection) return false;
    XcbReply<xcb_query_pointer_reply_t> pointer(
        xcb_query_pointer_reply(connection->get(), xcb_query_pointer(connection->get(), connection->root()), nullptr));
    return pointer && (pointer->mask & mask) != 0;
}
constexpr std::uint16_t kNumLock = XCB_MOD_MASK_2, kCapsLock = XCB_MOD_MASK_LOCK;

// Presses and releases a lock key through XTest until the lock is as asked.
void setLock(std::uint16_t lock, bool on) {
    if (lockOn(lock) == on) return;
    auto connection = X11Connection::open();
    ASSERT_NE(connection, nullptr);
    xcb_connection_t* c = connection->get();
    const xcb_keycode_t code = lock == kNumLock ? 77 : 66;  // KEY_NUMLOCK, KEY_CAPSLOCK + 8
    xcb_test_fake_input(c, XCB_KEY_PRESS, code, XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
    xcb_test_fake_input(c, XCB_KEY_RELEASE, code, XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
    XcbReply<xcb_get_input_focus_reply_t> sync(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
}

// The app's shortcuts over the real hot keys, recording every action fired.
struct App {
    App() {
        shortcuts.onAction = [this](ShortcutAction action) { fired.push_back(action); };
        shortcuts.installHotKeyHandler();
    }
    ~App() { shortcuts.unregisterAll(); }
    // Presses keys and waits for exactly the expected actions (and no other) to fire.
    std::vector<ShortcutAction> pressed(const char* keys, std::size_t expected) {
        fired.clear();
        press(keys);
        waitUntil([&] { return fired.size() >= expected; }, 5000);
        QTest::qWait(100);  // anything more would arrive by now
        return fired;
    }

    Defaults defaults;
    X11HotKeys hotKeys;
    GlobalShortcuts shortcuts{defaults, hotKeys};
    std::vector<ShortcutAction> fired;
};

TEST(X11HotKeys, TheKeyTableNamesTheKeysThatTypeItsTitlesOnAUsKeyboard) {
    auto connection = X11Connection::open();
    ASSERT_NE(connection, nullptr);
    xcb_key_symbols_t* symbols = xcb_key_symbols_alloc(connection->get());
    for (const auto& key : GlobalShortcuts::keyTable()) {
        const auto code = X11HotKeys::x11KeyCode(key.keyCode);
        if (key.keyCode == -1) {
            EXPECT_FALSE(code.has_value());
            continue;
        }
        ASSERT_TRUE(code.has_value()) << key.title;
        const QString title = QString::fromLatin1(key.title);
        const xcb_keysym_t expected = title == QStringLiteral("Space") ? 0x20 : title.toLower().at(0).unicode();
        EXPECT_EQ(xcb_key_symbols_get_keysym(symbols, *code, 0), expected) << key.title;
    }
    xcb_key_symbols_free(symbols);
    EXPECT_FALSE(X11HotKeys::x11KeyCode(100).has_value());
}

TEST(X11HotKeys, ABindingFiresItsActionWhenTheKeysArePressedWhateverTheLocks) {
    App app;
    EXPECT_TRUE(app.shortcuts.messages().empty());
    app.shortcuts.setBinding(ShortcutAction::window, 40, 0x800 | 0x1000);  // Ctrl+Alt+K
    ASSERT_TRUE(app.shortcuts.messages().empty());

    EXPECT_EQ(app.pressed("super+shift+space", 1), std::vector{ShortcutAction::openClipboard});
    EXPECT_EQ(app.pressed("ctrl+super+shift+2", 1), std::vector{ShortcutAction::region});
    EXPECT_EQ(app.pressed("ctrl+alt+k", 1), std::vector{ShortcutAction::window});
    // Other modifiers, or a key of the same name elsewhere on the keyboard, are not the binding.
    EXPECT_TRUE(app.pressed("shift+space", 0).empty());
    EXPECT_TRUE(app.pressed("ctrl+super+shift+space", 0).empty());
    EXPECT_TRUE(app.pressed("ctrl+super+shift+KP_2", 0).empty());

    setLock(kNumLock, true);
    ASSERT_TRUE(lockOn(kNumLock));
    EXPECT_EQ(app.pressed("super+shift+space", 1), std::vector{ShortcutAction::openClipboard});
    setLock(kCapsLock, true);
    ASSERT_TRUE(lockOn(kCapsLock));
    EXPECT_EQ(app.pressed("ctrl+alt+k", 1), std::vector{ShortcutAction::window});
    setLock(kNumLock, false);
    ASSERT_FALSE(lockOn(kNumLock));
    EXPECT_EQ(app.pressed("ctrl+super+shift+2", 1), std::vector{ShortcutAction::region});
    setLock(kCapsLock, false);
    ASSERT_FALSE(lockOn(kCapsLock));

    // Disabled from the settings: the key is released at once.
    app.shortcuts.setBinding(ShortcutAction::window, -1, 0x1800);
    EXPECT_TRUE(app.pressed("ctrl+alt+k", 0).empty());
}

TEST(X11HotKeys, AKeyAnotherClientGrabbedFirstIsReportedAndTheOthersStillWork) {
    auto other = X11Connection::open();
    ASSERT_NE(other, nullptr);
    const auto two = X11HotKeys::x11KeyCode(19);
    ASSERT_TRUE(two.has_value());
    const auto mask = static_cast<std::uint16_t>(XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_4 | XCB_MOD_MASK_SHIFT);
    ASSERT_EQ(xcb_request_check(other->get(), xcb_grab_key_checked(other->get(), 0, other->root(), mask, *two,
                                                                   XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC)),
              nullptr);

    App app;
    EXPECT_EQ(app.shortcuts.messages(),
              (std::map<ShortcutAction, QString>{
                  {ShortcutAction::region, QStringLiteral("Shortcut unavailable (10). Check the desktop's shortcuts and "
                                                          "other apps; no system shortcut was changed.")}}));
    EXPECT_EQ(app.pressed("super+shift+space", 1), std::vector{ShortcutAction::openClipboard});

    // The other client lets go; the next change registers the key.
    xcb_ungrab_key(other->get(), *two, other->root(), mask);
    xcb_flush(other->get());
    ASSERT_NE(xcb_get_input_focus_reply(other->get(), xcb_get_input_focus(other->get()), nullptr), nullptr);
    app.shortcuts.setBinding(ShortcutAction::editor, 14, 0x1100);
    EXPECT_TRUE(app.shortcuts.messages().empty());
    EXPECT_EQ(app.pressed("ctrl+super+shift+2", 1), std::vector{ShortcutAction::region});
    EXPECT_EQ(app.pressed("ctrl+super+e", 1), std::vector{ShortcutAction::editor});
}

TEST(X11HotKeys, AKeyboardMappingChangeRegistersAgainWithTheNewModifiers) {
    App app;
    int recomputed = 0;
    QObject::connect(&app.shortcuts, &GlobalShortcuts::messagesChanged, [&] { ++recomputed; });
    // Super moves from Mod4 to Mod3: the old grab would wait for a modifier no key sets now.
    run(QStringLiteral("xmodmap"), {QStringLiteral("-e"), QStringLiteral("remove mod4 = Super_L Super_R"),
                                    QStringLiteral("-e"), QStringLiteral("add mod3 = Super_L Super_R")});
    EXPECT_TRUE(waitUntil([&] { return recomputed > 0; }));
    EXPECT_EQ(app.pressed("super+shift+space", 1), std::vector{ShortcutAction::openClipboard});

    recomputed = 0;
    run(QStringLiteral("xmodmap"), {QStringLiteral("-e"), QStringLiteral("remove mod3 = Super_L Super_R"),
                                    QStringLiteral("-e"), QStringLiteral("add mod4 = Super_L Super_R")});
    EXPECT_TRUE(waitUntil([&] { return recomputed > 0; }));
    EXPECT_EQ(app.pressed("super+shift+space", 1), std::vector{ShortcutAction::openClipboard});
}

}  // namespace
}  // namespace brevalto
