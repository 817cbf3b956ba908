#include "Automation/GlobalShortcuts.h"
#include "Platform/Defaults.h"
#include "Platform/Linux/X11HotKeys.h"

#include <gtest/gtest.h>

namespace brevalto {
namespace {

TEST(X11HotKeys, WithoutAnX11DisplayTheHandlerSaysHotKeysAreUnavailableAndNothingElseFails) {
    Defaults defaults;
    X11HotKeys hotKeys;
    GlobalShortcuts shortcuts(defaults, hotKeys);
    shortcuts.installHotKeyHandler();
    EXPECT_EQ(shortcuts.messages().at(ShortcutAction::openClipboard),
              QStringLiteral("Global shortcut handler unavailable (-1). Use the panel."));
    EXPECT_EQ(hotKeys.registerHotKey(49, 768, {GlobalShortcuts::kSignature, 1}), X11HotKeys::noDisplay);
    shortcuts.setBinding(ShortcutAction::window, 13, 0x1000);
    EXPECT_EQ(shortcuts.bindings().at(ShortcutAction::window), (ShortcutBinding{13, 0x1000}));
}

}  // namespace
}  // namespace brevalto
