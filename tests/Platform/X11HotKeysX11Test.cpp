// Hot keys on a private X server, pressed through XTest (xdotool) as a keyboard would.
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

namespace brevalto {
namespace {

void run(const QString& program, const QStringList& arguments) {
    QProcess process;
    process.start(program, arguments);
    EXPECT_TRUE(process.waitForFinished(10000)) << program.toStdString();
}

// Sets a lock (Mod2 Num Lock, Lock Caps Lock) by pressing its key through XTest when it differs.
void setLock(std::uint16_t mask, bool on) {
    auto x = X11Connection::open();
    auto state = [&] {
        XcbReply<xcb_query_pointer_reply_t> p(xcb_query_pointer_reply(x->get(), xcb_query_pointer(x->get(), x->root()), nullptr));
        return p && (p->mask & mask) != 0;
    };
    if (state() == on) return;
    const xcb_keycode_t code = mask == XCB_MOD_MASK_2 ? 77 : 66;
    xcb_test_fake_input(x->get(), XCB_KEY_PRESS, code, XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
    xcb_test_fake_input(x->get(), XCB_KEY_RELEASE, code, XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
    ASSERT_EQ(state(), on);
}

// The app's shortcuts over the real hot keys.
struct App {
    App() { shortcuts.installHotKeyHandler(); }
    // Presses keys and returns every action fired within a moment after the expected number.
    std::vector<ShortcutAction> pressed(const char* keys, std::size_t expected = 1) {
        fired.clear();
        run(QStringLiteral("xdotool"), {QStringLiteral("key"), QString::fromLatin1(keys)});
        waitUntil([&] { return fired.size() >= expected; });
        QTest::qWait(100);
        return fired;
    }
    Defaults defaults;
    X11HotKeys hotKeys;
    std::vector<ShortcutAction> fired;
    GlobalShortcuts shortcuts{defaults, hotKeys, [this](ShortcutAction action) { fired.push_back(action); }};
};
const std::vector<ShortcutAction> kNone, kClipboard{ShortcutAction::openClipboard}, kRegion{ShortcutAction::region},
    kWindow{ShortcutAction::window};

TEST(X11HotKeys, TheKeyTableNamesTheKeysThatTypeItsTitlesOnAUsKeyboard) {
    auto x = X11Connection::open();
    xcb_key_symbols_t* symbols = xcb_key_symbols_alloc(x->get());
    for (const auto& key : GlobalShortcuts::keyTable()) {
        const auto code = X11HotKeys::x11KeyCode(key.keyCode);
        ASSERT_EQ(code.has_value(), key.keyCode != -1) << key.title;
        const QString title = QString::fromLatin1(key.title).toLower();
        if (code) {
            EXPECT_EQ(xcb_key_symbols_get_keysym(symbols, *code, 0), title == "space" ? 0x20u : title.at(0).unicode());
        }
    }
    xcb_key_symbols_free(symbols);
    EXPECT_FALSE(X11HotKeys::x11KeyCode(100).has_value());
}

TEST(X11HotKeys, ABindingFiresItsActionWhenTheKeysArePressedWhateverTheLocks) {
    App app;
    app.shortcuts.setBinding(ShortcutAction::window, 40, 0x1800);  // Ctrl+Alt+K
    ASSERT_TRUE(app.shortcuts.messages().empty());
    EXPECT_EQ(app.pressed("super+shift+space"), kClipboard);
    EXPECT_EQ(app.pressed("ctrl+super+shift+2"), kRegion);
    EXPECT_EQ(app.pressed("ctrl+alt+k"), kWindow);
    EXPECT_EQ(app.pressed("shift+space", 0), kNone);
    EXPECT_EQ(app.pressed("ctrl+super+shift+space", 0), kNone);
    EXPECT_EQ(app.pressed("ctrl+super+shift+KP_2", 0), kNone) << "the keypad's 2 is another key";

    setLock(XCB_MOD_MASK_2, true);
    EXPECT_EQ(app.pressed("super+shift+space"), kClipboard);
    setLock(XCB_MOD_MASK_LOCK, true);
    EXPECT_EQ(app.pressed("ctrl+alt+k"), kWindow);
    setLock(XCB_MOD_MASK_2, false);
    EXPECT_EQ(app.pressed("ctrl+super+shift+2"), kRegion);
    setLock(XCB_MOD_MASK_LOCK, false);

    app.shortcuts.setBinding(ShortcutAction::window, -1, 0x1800);
    EXPECT_EQ(app.pressed("ctrl+alt+k", 0), kNone) << "a disabled binding releases its key at once";

    // A key held past the repeat delay fires once.
    app.fired.clear();
    run(QStringLiteral("xdotool"), {"keydown", "super+shift+space", "sleep", "1.5", "keyup", "super+shift+space"});
    QTest::qWait(200);
    EXPECT_EQ(app.fired, kClipboard);
}

TEST(X11HotKeys, AKeyAnotherClientGrabbedFirstIsReportedAndTheOthersStillWork) {
    auto other = X11Connection::open();
    const xcb_keycode_t two = *X11HotKeys::x11KeyCode(19);
    const std::uint16_t mask = XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_4 | XCB_MOD_MASK_SHIFT;
    ASSERT_EQ(xcb_request_check(other->get(), xcb_grab_key_checked(other->get(), 0, other->root(), mask, two,
                                                                   XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC)),
              nullptr);
    App app;
    EXPECT_EQ(app.shortcuts.messages(),
              (std::map<ShortcutAction, QString>{
                  {ShortcutAction::region, QStringLiteral("Shortcut unavailable (10). Check the desktop's shortcuts and "
                                                          "other apps; no system shortcut was changed.")}}));
    EXPECT_EQ(app.pressed("super+shift+space"), kClipboard);
    EXPECT_EQ(app.pressed("ctrl+super+shift+2", 0), kNone);
}

TEST(X11HotKeys, AKeyboardMappingChangeRegistersAgainWithTheNewModifiers) {
    App app;
    // Super moves from Mod4 to Mod3, then back: a grab left on the old modifier would never fire.
    for (const auto& [from, to] : {std::pair{"mod4", "mod3"}, {"mod3", "mod4"}}) {
        int recomputed = 0;
        QObject::connect(&app.shortcuts, &GlobalShortcuts::messagesChanged, [&] { ++recomputed; });
        run(QStringLiteral("xmodmap"), {"-e", QStringLiteral("remove %1 = Super_L Super_R").arg(from), "-e",
                                        QStringLiteral("add %1 = Super_L Super_R").arg(to)});
        EXPECT_TRUE(waitUntil([&] { return recomputed > 0; }));
        EXPECT_EQ(app.pressed("super+shift+space"), kClipboard) << to;
        QObject::disconnect(&app.shortcuts, &GlobalShortcuts::messagesChanged, nullptr, nullptr);
    }
}

}  // namespace
}  // namespace brevalto
