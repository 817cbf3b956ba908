#include "Automation/GlobalShortcuts.h"
#include "Platform/Defaults.h"

#include "FakeHotKeys.h"
#include "QtWait.h"

#include <gtest/gtest.h>

#include <functional>

namespace brevalto {
namespace {

using Registered = std::map<std::uint32_t, FakeHotKeys::Binding>;
using Messages = std::map<ShortcutAction, QString>;
const QString kConflict = QStringLiteral("Conflicts with Capture Region. Change this shortcut.");
QString unavailable(int status) {
    return QStringLiteral("Shortcut unavailable (%1). Check the desktop's shortcuts and other apps; no system shortcut "
                          "was changed.").arg(status);
}

TEST(GlobalShortcuts, FreshSettingsGiveTheDefaultBindingsAndRegisterTwoHotKeys) {
    Defaults defaults;
    FakeHotKeys hotKeys;
    GlobalShortcuts shortcuts(defaults, hotKeys);
    EXPECT_EQ(shortcuts.bindings().at(ShortcutAction::openClipboard), (ShortcutBinding{49, 768}));
    EXPECT_EQ(shortcuts.bindings().at(ShortcutAction::region), (ShortcutBinding{19, 4864}));
    for (auto action : kAllShortcutActions) {
        if (action == ShortcutAction::openClipboard || action == ShortcutAction::region) continue;
        EXPECT_EQ(shortcuts.bindings().at(action), (ShortcutBinding{-1, 768})) << rawValue(action);
    }
    EXPECT_TRUE(shortcuts.messages().empty());
    EXPECT_TRUE(hotKeys.registered.empty()) << "loading registers nothing";
    shortcuts.installHotKeyHandler();
    shortcuts.installHotKeyHandler();
    EXPECT_EQ(hotKeys.installs, 1) << "a second installation does nothing";
    EXPECT_EQ(hotKeys.registered, (Registered{{1, {49, 768}}, {2, {19, 4864}}}));
    EXPECT_TRUE(shortcuts.messages().empty());
}

TEST(GlobalShortcuts, StoredBindingsAreCheckedAndTheLegacyKeyCodeServesTheClipboard) {
    struct Case {
        const char* stored;
        ShortcutBinding expected;
    };
    const Case cases[] = {
        {R"({"keyCode":4,"modifiers":4352})", {4, 4352}},   // Control+Command+H
        {R"({"keyCode":4,"modifiers":512})", {19, 4864}},   // Shift alone: default
        {R"({"keyCode":4,"modifiers":65536})", {19, 4864}}, // unknown modifier bit
        {R"({"keyCode":99,"modifiers":256})", {19, 4864}},  // not a table key
        {R"({"keyCode":-1,"modifiers":0})", {-1, 0}},       // disabled is always accepted
        {R"({"keyCode":"4","modifiers":256})", {19, 4864}}, // wrong type
        {"not json", {19, 4864}},
    };
    FakeHotKeys hotKeys;
    for (const auto& c : cases) {
        Defaults defaults;
        defaults.setData("shortcut.region", c.stored);
        GlobalShortcuts shortcuts(defaults, hotKeys);
        EXPECT_EQ(shortcuts.bindings().at(ShortcutAction::region), c.expected) << c.stored;
    }

    Defaults legacy;
    legacy.set("hotKeyCode", 100);
    EXPECT_EQ(GlobalShortcuts(legacy, hotKeys).bindings().at(ShortcutAction::openClipboard), (ShortcutBinding{100, 768}));
    legacy.set("hotKeyCode", "7");
    EXPECT_EQ(GlobalShortcuts(legacy, hotKeys).bindings().at(ShortcutAction::openClipboard), (ShortcutBinding{49, 768}));
}

TEST(GlobalShortcuts, SettingABindingStoresItOrExplainsTheRefusal) {
    Defaults defaults;
    FakeHotKeys hotKeys;
    GlobalShortcuts shortcuts(defaults, hotKeys);
    shortcuts.setBinding(ShortcutAction::window, 0, 512);  // Shift+A
    EXPECT_EQ(shortcuts.bindings().at(ShortcutAction::window), (ShortcutBinding{-1, 768}));
    EXPECT_EQ(shortcuts.messages().at(ShortcutAction::window),
              QStringLiteral("Use Super, Ctrl or Alt. Bare typing keys are not registered."));
    EXPECT_FALSE(defaults.contains("shortcut.window"));

    shortcuts.setBinding(ShortcutAction::window, 13, 2304);  // Alt+Command+W
    EXPECT_EQ(GlobalShortcuts(defaults, hotKeys).bindings().at(ShortcutAction::window), (ShortcutBinding{13, 2304}));
    EXPECT_FALSE(defaults.contains("hotKeyCode"));
    EXPECT_TRUE(hotKeys.registered.empty()) << "nothing registers before the handler is installed";
}

TEST(GlobalShortcuts, RegistrationReportsEachProblemOnItsOwnRowAndRegistersTheRest) {
    const struct {
        const char* name;
        std::function<void(Defaults&, FakeHotKeys&)> setUp;
        Messages messages;
        Registered registered;
    } cases[] = {
        {"legacy key outside the table", [](Defaults& d, FakeHotKeys&) { d.set("hotKeyCode", 100); },
         {{ShortcutAction::openClipboard, QStringLiteral("Invalid shortcut. Choose another key.")}}, {{2, {19, 4864}}}},
        {"the keys of an earlier action",
         [](Defaults& d, FakeHotKeys&) { d.setData("shortcut.window", R"({"keyCode":19,"modifiers":4864})"); },
         {{ShortcutAction::window, kConflict}}, {{1, {49, 768}}, {2, {19, 4864}}}},
        {"keys another program holds", [](Defaults&, FakeHotKeys& h) { h.heldElsewhere[{19, 4864}] = 10; },
         {{ShortcutAction::region, unavailable(10)}}, {{1, {49, 768}}}},
        {"a negative status", [](Defaults&, FakeHotKeys& h) { h.heldElsewhere[{49, 768}] = -9878; },
         {{ShortcutAction::openClipboard, unavailable(-9878)}}, {{2, {19, 4864}}}},
        {"no display", [](Defaults&, FakeHotKeys& h) { h.installStatus = -1; },
         {{ShortcutAction::openClipboard, QStringLiteral("Global shortcut handler unavailable (-1). Use the panel.")}}, {}},
        {"the last action",
         [](Defaults& d, FakeHotKeys&) { d.setData("shortcut.append", R"({"keyCode":0,"modifiers":6144})"); },
         {}, {{1, {49, 768}}, {2, {19, 4864}}, {11, {0, 6144}}}},
    };
    for (const auto& c : cases) {
        Defaults defaults;
        FakeHotKeys hotKeys;
        c.setUp(defaults, hotKeys);
        GlobalShortcuts shortcuts(defaults, hotKeys);
        shortcuts.installHotKeyHandler();
        EXPECT_EQ(shortcuts.messages(), c.messages) << c.name;
        EXPECT_EQ(hotKeys.registered, c.registered) << c.name;
    }
}

TEST(GlobalShortcuts, ChangesAndMappingChangesRegisterEverythingAgainAtOnce) {
    Defaults defaults;
    FakeHotKeys hotKeys;
    GlobalShortcuts shortcuts(defaults, hotKeys);
    shortcuts.installHotKeyHandler();
    shortcuts.setBinding(ShortcutAction::window, 19, 4864);
    EXPECT_EQ(shortcuts.messages(), (Messages{{ShortcutAction::window, kConflict}}));
    shortcuts.setBinding(ShortcutAction::region, 19, 512);  // refused: only its own line changes
    EXPECT_EQ(shortcuts.messages().size(), 2u);
    EXPECT_EQ(hotKeys.registered, (Registered{{1, {49, 768}}, {2, {19, 4864}}}));

    // Region moves away and window gets its keys; disabling the clipboard releases its key.
    shortcuts.setBinding(ShortcutAction::region, 20, 4864);
    shortcuts.setBinding(ShortcutAction::openClipboard, -1, 768);
    EXPECT_TRUE(shortcuts.messages().empty());
    EXPECT_EQ(hotKeys.registered, (Registered{{2, {20, 4864}}, {3, {19, 4864}}}));

    hotKeys.heldElsewhere[{20, 4864}] = 10;
    hotKeys.changeMapping();
    EXPECT_EQ(shortcuts.messages(), (Messages{{ShortcutAction::region, unavailable(10)}}));
    EXPECT_EQ(hotKeys.registered, (Registered{{3, {19, 4864}}}));

    shortcuts.unregisterAll();
    EXPECT_TRUE(hotKeys.registered.empty());
    EXPECT_FALSE(hotKeys.installed());
    shortcuts.setBinding(ShortcutAction::screen, 1, 4352);
    EXPECT_TRUE(hotKeys.registered.empty()) << "after unregistering, changes are stored only";
}

TEST(GlobalShortcuts, OnlyOurOwnHotKeysFireAndOnlyFromTheEventLoopWhileTheShortcutsExist) {
    Defaults defaults;
    FakeHotKeys hotKeys;
    std::vector<ShortcutAction> fired;
    {
        GlobalShortcuts shortcuts(defaults, hotKeys, [&](ShortcutAction a) { fired.push_back(a); });
        shortcuts.installHotKeyHandler();
        for (const auto& [id, handled] : {std::pair{HotKeyID{GlobalShortcuts::kSignature, 1}, true},
                                          {{GlobalShortcuts::kSignature, 11}, true},
                                          {{GlobalShortcuts::kSignature, 0}, false},
                                          {{GlobalShortcuts::kSignature, 12}, false},
                                          {{0x41424344, 1}, false}})
            EXPECT_EQ(shortcuts.hotKeyPressed(id), handled) << id.signature << " " << id.id;
        EXPECT_TRUE(fired.empty()) << "the key handler returns before the action runs";
        ASSERT_TRUE(waitUntil([&] { return fired.size() == 2; }));
        EXPECT_EQ(fired, (std::vector{ShortcutAction::openClipboard, ShortcutAction::append}));
        hotKeys.press({GlobalShortcuts::kSignature, 5});  // queued, then the shortcuts go
    }
    hotKeys.press({GlobalShortcuts::kSignature, 1});
    hotKeys.changeMapping();
    QCoreApplication::processEvents();
    EXPECT_EQ(fired.size(), 2u);
}

TEST(GlobalShortcuts, FiringCallsTheHandlerOnlyForKnownIndexes) {
    Defaults defaults;
    FakeHotKeys hotKeys;
    std::vector<ShortcutAction> fired;
    GlobalShortcuts shortcuts(defaults, hotKeys, [&](ShortcutAction a) { fired.push_back(a); });
    shortcuts.fire(-1);
    shortcuts.fire(0);
    shortcuts.fire(10);
    shortcuts.fire(11);
    EXPECT_EQ(fired, (std::vector<ShortcutAction>{ShortcutAction::openClipboard, ShortcutAction::append}));
}

}  // namespace
}  // namespace brevalto
