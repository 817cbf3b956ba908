// Stored key bindings: GlobalShortcuts reading "shortcut.<action>" data values and the older
// "hotKeyCode" setting. The input is split at NUL bytes: one piece per action as its stored data,
// then the JSON of "hotKeyCode". Properties: reading never throws; every binding read from storage
// is a key of the table (or disabled) with allowed modifiers; only allowed combinations, each at
// most once, are registered as hot keys.

#include "Automation/GlobalShortcuts.h"
#include "FakeHotKeys.h"
#include "FuzzSupport.h"
#include "Platform/Defaults.h"

#include <set>

using namespace brevalto;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<std::string_view> pieces;
    std::string_view rest = fuzz::text(data, size);
    while (pieces.size() <= kAllShortcutActions.size()) {
        const std::size_t end = rest.find('\0');
        pieces.push_back(rest.substr(0, end));
        if (end == std::string_view::npos) break;
        rest.remove_prefix(end + 1);
    }
    Defaults defaults;
    for (std::size_t i = 0; i < pieces.size() && i < kAllShortcutActions.size(); ++i)
        defaults.setData(std::string("shortcut.") + std::string(rawValue(kAllShortcutActions[i])), pieces[i]);
    if (pieces.size() > kAllShortcutActions.size()) {
        const auto legacy = Defaults::Value::parse(pieces.back(), nullptr, false);
        if (!legacy.is_discarded()) defaults.set("hotKeyCode", legacy);
    }
    try {
        FakeHotKeys hotKeys;
        GlobalShortcuts shortcuts(defaults, hotKeys);
        fuzz::check(shortcuts.bindings().size() == kAllShortcutActions.size(), "an action without a binding");
        for (const auto& [action, binding] : shortcuts.bindings()) {
            if (action == ShortcutAction::openClipboard && binding.modifiers == 0x300) continue;  // the older setting
            fuzz::check(GlobalShortcuts::isAllowed(binding.keyCode, binding.modifiers), "a stored binding that is not allowed");
        }
        shortcuts.installHotKeyHandler();
        std::set<std::pair<std::int64_t, std::uint32_t>> registered;
        for (const auto& [id, binding] : hotKeys.registered) {
            fuzz::check(binding.keyCode != -1 && GlobalShortcuts::isAllowed(binding.keyCode, binding.modifiers),
                        "a registered hot key that is not allowed");
            fuzz::check(registered.insert({binding.keyCode, binding.modifiers}).second, "a combination registered twice");
        }
        shortcuts.unregisterAll();
        fuzz::check(hotKeys.registered.empty(), "a hot key left registered");
    } catch (const std::exception& error) {
        fuzz::unexpected(error);
    }
    return 0;
}
