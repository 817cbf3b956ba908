#include "Automation/GlobalShortcuts.h"
#include "Platform/Defaults.h"

#include <gtest/gtest.h>

namespace brevalto {
namespace {

TEST(GlobalShortcuts, FreshSettingsGiveTheDefaultBindings) {
    Defaults defaults;
    GlobalShortcuts shortcuts(defaults);
    EXPECT_EQ(shortcuts.bindings().at(ShortcutAction::openClipboard), (ShortcutBinding{49, 768}));
    EXPECT_EQ(shortcuts.bindings().at(ShortcutAction::region), (ShortcutBinding{19, 4864}));
    for (auto action : kAllShortcutActions) {
        if (action == ShortcutAction::openClipboard || action == ShortcutAction::region) continue;
        EXPECT_EQ(shortcuts.bindings().at(action), (ShortcutBinding{-1, 768})) << rawValue(action);
    }
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
    for (const auto& c : cases) {
        Defaults defaults;
        defaults.setData("shortcut.region", c.stored);
        GlobalShortcuts shortcuts(defaults);
        EXPECT_EQ(shortcuts.bindings().at(ShortcutAction::region), c.expected) << c.stored;
    }

    Defaults legacy;
    legacy.set("hotKeyCode", 100);
    EXPECT_EQ(GlobalShortcuts(legacy).bindings().at(ShortcutAction::openClipboard), (ShortcutBinding{100, 768}));
    legacy.set("hotKeyCode", "7");
    EXPECT_EQ(GlobalShortcuts(legacy).bindings().at(ShortcutAction::openClipboard), (ShortcutBinding{49, 768}));
}

TEST(GlobalShortcuts, SettingABindingStoresItOrExplainsTheRefusal) {
    Defaults defaults;
    GlobalShortcuts shortcuts(defaults);
    shortcuts.setBinding(ShortcutAction::window, 0, 512);  // Shift+A
    EXPECT_EQ(shortcuts.bindings().at(ShortcutAction::window), (ShortcutBinding{-1, 768}));
    EXPECT_EQ(shortcuts.messages().at(ShortcutAction::window),
              QStringLiteral("Use Super, Ctrl or Alt. Bare typing keys are not registered."));
    EXPECT_FALSE(defaults.contains("shortcut.window"));

    shortcuts.setBinding(ShortcutAction::window, 13, 2304);  // Alt+Command+W
    EXPECT_EQ(GlobalShortcuts(defaults).bindings().at(ShortcutAction::window), (ShortcutBinding{13, 2304}));
    EXPECT_FALSE(defaults.contains("hotKeyCode"));
}

TEST(GlobalShortcuts, FiringCallsTheHandlerOnlyForKnownIndexes) {
    Defaults defaults;
    std::vector<ShortcutAction> fired;
    GlobalShortcuts shortcuts(defaults, [&](ShortcutAction a) { fired.push_back(a); });
    shortcuts.fire(-1);
    shortcuts.fire(0);
    shortcuts.fire(10);
    shortcuts.fire(11);
    EXPECT_EQ(fired, (std::vector<ShortcutAction>{ShortcutAction::openClipboard, ShortcutAction::append}));
}

}  // namespace
}  // namespace brevalto
