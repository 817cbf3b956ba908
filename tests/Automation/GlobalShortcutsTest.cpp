#include "Automation/GlobalShortcuts.h"
#include "Platform/Defaults.h"

#include "FakeHotKeys.h"
#include "QtWait.h"

#include <QCoreApplication>

#include <gtest/gtest.h>

#include <functional>

namespace brevalto {
namespace {

using Registered = std::map<std::uint32_t, FakeHotKeys::Binding>;
using Messages = std::map<ShortcutAction, QString>;

const QString kUnavailable10 = QStringLiteral(
    "Shortcut unavailable (10). Check the desktop's shortcuts and other apps; no system shortcut was changed.");
const QString kRefused = QStringLiteral("Use Super, Ctrl or Alt. Bare typing keys are not registered.");
const QString kInvalid = QStringLiteral("Invalid shortcut. Choose another key.");

std::string binding(std::int64_t keyCode, std::uint32_t modifiers) {
    return R"({"keyCode":)" + std::to_string(keyCode) + R"(,"modifiers":)" + std::to_string(modifiers) + "}";
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
    EXPECT_EQ(hotKeys.registered, (Registered{{1, {49, 768}}, {2, {19, 4864}}}));
    EXPECT_EQ(hotKeys.signatures, (std::map<std::uint32_t, std::uint32_t>{{1, 0x4252564C}, {2, 0x4252564C}}));
    EXPECT_TRUE(shortcuts.messages().empty());
    shortcuts.installHotKeyHandler();
    EXPECT_EQ(hotKeys.installs, 1) << "a second installation does nothing";
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
        FakeHotKeys hotKeys;
        GlobalShortcuts shortcuts(defaults, hotKeys);
        EXPECT_EQ(shortcuts.bindings().at(ShortcutAction::region), c.expected) << c.stored;
    }

    Defaults legacy;
    FakeHotKeys hotKeys;
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

    // "Disabled" is accepted whatever the modifiers.
    shortcuts.setBinding(ShortcutAction::window, -1, 0);
    EXPECT_EQ(shortcuts.bindings().at(ShortcutAction::window), (ShortcutBinding{-1, 0}));
}

TEST(GlobalShortcuts, RegistrationReportsEachProblemOnItsOwnRowAndRegistersTheRest) {
    struct Case {
        const char* name;
        std::function<void(Defaults&, FakeHotKeys&)> setUp;
        Messages messages;
        Registered registered;
    };
    const Case cases[] = {
        {"a legacy key code outside the table",
         [](Defaults& d, FakeHotKeys&) { d.set("hotKeyCode", 100); },
         {{ShortcutAction::openClipboard, kInvalid}},
         {{2, {19, 4864}}}},
        {"a later action with the keys of an earlier one",
         [](Defaults& d, FakeHotKeys&) { d.setData("shortcut.window", binding(19, 4864)); },
         {{ShortcutAction::window, QStringLiteral("Conflicts with Capture Region. Change this shortcut.")}},
         {{1, {49, 768}}, {2, {19, 4864}}}},
        {"keys another program holds",
         [](Defaults&, FakeHotKeys& h) { h.heldElsewhere[{19, 4864}] = 10; },
         {{ShortcutAction::region, kUnavailable10}},
         {{1, {49, 768}}}},
        {"a negative status is shown signed",
         [](Defaults&, FakeHotKeys& h) { h.heldElsewhere[{49, 768}] = -9878; },
         {{ShortcutAction::openClipboard,
           QStringLiteral("Shortcut unavailable (-9878). Check the desktop's shortcuts and other apps; no system "
                          "shortcut was changed.")}},
         {{2, {19, 4864}}}},
        {"no display to listen to",
         [](Defaults&, FakeHotKeys& h) { h.installStatus = -1; },
         {{ShortcutAction::openClipboard, QStringLiteral("Global shortcut handler unavailable (-1). Use the panel.")}},
         {}},
        {"the last action on its own key",
         [](Defaults& d, FakeHotKeys&) { d.setData("shortcut.append", binding(0, 6144)); },
         {},
         {{1, {49, 768}}, {2, {19, 4864}}, {11, {0, 6144}}}},
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

TEST(GlobalShortcuts, ChangesTakeEffectAtOnceAndEveryRegistrationIsRecomputed) {
    Defaults defaults;
    FakeHotKeys hotKeys;
    GlobalShortcuts shortcuts(defaults, hotKeys);
    shortcuts.installHotKeyHandler();
    int changes = 0;
    QObject::connect(&shortcuts, &GlobalShortcuts::messagesChanged, [&] { ++changes; });

    shortcuts.setBinding(ShortcutAction::window, 19, 4864);
    EXPECT_EQ(shortcuts.messages(),
              (Messages{{ShortcutAction::window, QStringLiteral("Conflicts with Capture Region. Change this shortcut.")}}));
    EXPECT_EQ(hotKeys.registered, (Registered{{1, {49, 768}}, {2, {19, 4864}}}));
    EXPECT_GT(changes, 0);

    // A refused change keeps the bindings, the registrations and the other rows' lines.
    shortcuts.setBinding(ShortcutAction::region, 19, 512);
    EXPECT_EQ(shortcuts.bindings().at(ShortcutAction::region), (ShortcutBinding{19, 4864}));
    EXPECT_EQ(shortcuts.messages().at(ShortcutAction::region), kRefused);
    EXPECT_EQ(shortcuts.messages().size(), 2u);
    EXPECT_EQ(hotKeys.registered.size(), 2u);

    // Moving region away hands its keys to window; every old line goes.
    shortcuts.setBinding(ShortcutAction::region, 20, 4864);
    EXPECT_TRUE(shortcuts.messages().empty());
    EXPECT_EQ(hotKeys.registered, (Registered{{1, {49, 768}}, {2, {20, 4864}}, {3, {19, 4864}}}));

    // Disabling removes the hot key.
    shortcuts.setBinding(ShortcutAction::openClipboard, -1, 768);
    EXPECT_EQ(hotKeys.registered, (Registered{{2, {20, 4864}}, {3, {19, 4864}}}));

    // A keyboard-mapping change registers everything again, with what holds now.
    hotKeys.heldElsewhere[{20, 4864}] = 10;
    hotKeys.changeMapping();
    EXPECT_EQ(shortcuts.messages(), (Messages{{ShortcutAction::region, kUnavailable10}}));
    EXPECT_EQ(hotKeys.registered, (Registered{{3, {19, 4864}}}));

    shortcuts.unregisterAll();
    EXPECT_TRUE(hotKeys.registered.empty());
    EXPECT_FALSE(hotKeys.installed());
    EXPECT_FALSE(shortcuts.handlerInstalled());
    shortcuts.setBinding(ShortcutAction::screen, 1, 4352);
    EXPECT_TRUE(hotKeys.registered.empty()) << "after unregistering, changes are stored only";
}

TEST(GlobalShortcuts, OnlyOurOwnHotKeysAreHandledAndEachFiresFromTheEventLoop) {
    Defaults defaults;
    FakeHotKeys hotKeys;
    GlobalShortcuts shortcuts(defaults, hotKeys);
    shortcuts.installHotKeyHandler();
    std::vector<ShortcutAction> fired;
    shortcuts.onAction = [&](ShortcutAction a) { fired.push_back(a); };
    const struct {
        HotKeyID id;
        bool handled;
    } cases[] = {
        {{GlobalShortcuts::kSignature, 1}, true},   {{GlobalShortcuts::kSignature, 11}, true},
        {{GlobalShortcuts::kSignature, 0}, false},  {{GlobalShortcuts::kSignature, 12}, false},
        {{0x41424344, 1}, false},
    };
    for (const auto& c : cases) EXPECT_EQ(shortcuts.hotKeyPressed(c.id), c.handled) << c.id.signature << " " << c.id.id;
    EXPECT_TRUE(fired.empty()) << "the handler returns before the action runs";
    hotKeys.press({GlobalShortcuts::kSignature, 5});
    ASSERT_TRUE(waitUntil([&] { return fired.size() == 3; }));
    EXPECT_EQ(fired, (std::vector<ShortcutAction>{ShortcutAction::openClipboard, ShortcutAction::append,
                                                  ShortcutAction::screen}));
}

TEST(GlobalShortcuts, PressesAfterTheShortcutsAreGoneAreDropped) {
    Defaults defaults;
    FakeHotKeys hotKeys;
    int fired = 0;
    {
        GlobalShortcuts shortcuts(defaults, hotKeys);
        shortcuts.onAction = [&](ShortcutAction) { ++fired; };
        shortcuts.installHotKeyHandler();
        hotKeys.press({GlobalShortcuts::kSignature, 1});  // queued, then the object goes
    }
    hotKeys.press({GlobalShortcuts::kSignature, 1});
    hotKeys.changeMapping();
    QCoreApplication::processEvents();
    EXPECT_EQ(fired, 0);
}

TEST(GlobalShortcuts, FiringCallsTheHandlerOnlyForKnownIndexes) {
    Defaults defaults;
    FakeHotKeys hotKeys;
    GlobalShortcuts shortcuts(defaults, hotKeys);
    std::vector<ShortcutAction> fired;
    shortcuts.onAction = [&](ShortcutAction a) { fired.push_back(a); };
    shortcuts.fire(-1);
    shortcuts.fire(0);
    shortcuts.fire(10);
    shortcuts.fire(11);
    EXPECT_EQ(fired, (std::vector<ShortcutAction>{ShortcutAction::openClipboard, ShortcutAction::append}));
}

}  // namespace
}  // namespace brevalto
