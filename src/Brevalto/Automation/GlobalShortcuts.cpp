#include "Automation/GlobalShortcuts.h"

#include "Platform/Defaults.h"
#include "Platform/HotKeys.h"

#include <QPointer>
#include <QTimer>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <utility>

namespace brevalto {

namespace {

constexpr std::uint32_t kAllowedModifierBits = 0x1B00;   // Command, Shift, Option, Control
constexpr std::uint32_t kRequiredModifierBits = 0x1900;  // Command, Option or Control
constexpr std::uint32_t kCommandShift = 768;

struct ActionInfo {
    ShortcutAction action;
    const char* raw;
    const char* title;
};

constexpr ActionInfo kActions[] = {
    {ShortcutAction::openClipboard, "openClipboard", "Open clipboard"},
    {ShortcutAction::region, "region", "Capture Region"},
    {ShortcutAction::window, "window", "Capture Window"},
    {ShortcutAction::activeWindow, "activeWindow", "Capture Active Window"},
    {ShortcutAction::screen, "screen", "Capture Screen"},
    {ShortcutAction::scrolling, "scrolling", "Scrolling Capture"},
    {ShortcutAction::ocr, "ocr", "Capture for OCR"},
    {ShortcutAction::repeatRegion, "repeatRegion", "Repeat Region"},
    {ShortcutAction::delay, "delay", "Delayed Region"},
    {ShortcutAction::editor, "editor", "Show editor"},
    {ShortcutAction::append, "append", "Add Capture to editor"},
};

const ActionInfo& info(ShortcutAction action) { return kActions[static_cast<int>(action)]; }

std::string settingsKey(ShortcutAction action) { return std::string("shortcut.") + info(action).raw; }

bool inKeyTable(std::int64_t keyCode) {
    for (const auto& key : GlobalShortcuts::keyTable())
        if (key.keyCode == keyCode) return true;
    return false;
}

bool modifiersAllowed(std::uint32_t modifiers) {
    return (modifiers & ~kAllowedModifierBits) == 0 && (modifiers & kRequiredModifierBits) != 0;
}

std::optional<ShortcutBinding> decode(const std::string& data) {
    const auto json = nlohmann::json::parse(data, nullptr, false);
    if (json.is_discarded() || !json.is_object()) return std::nullopt;
    const auto code = json.find("keyCode");
    const auto mods = json.find("modifiers");
    if (code == json.end() || mods == json.end() || !code->is_number_integer() || !mods->is_number_unsigned())
        return std::nullopt;
    const auto modifiers = mods->get<std::uint64_t>();
    if (modifiers > 0xFFFFFFFFull) return std::nullopt;
    return ShortcutBinding{code->get<std::int64_t>(), static_cast<std::uint32_t>(modifiers)};
}

}  // namespace

std::string_view rawValue(ShortcutAction action) { return info(action).raw; }

std::optional<ShortcutAction> shortcutActionFromRaw(std::string_view raw) {
    for (const auto& a : kActions)
        if (raw == a.raw) return a.action;
    return std::nullopt;
}

QString title(ShortcutAction action) { return QString::fromUtf8(info(action).title); }

const std::array<GlobalShortcuts::Key, 38>& GlobalShortcuts::keyTable() {
    static const std::array<Key, 38> table = {{
        {"Disabled", -1}, {"Space", 49}, {"A", 0},  {"B", 11}, {"C", 8},  {"D", 2},  {"E", 14}, {"F", 3},
        {"G", 5},         {"H", 4},      {"I", 34}, {"J", 38}, {"K", 40}, {"L", 37}, {"M", 46}, {"N", 45},
        {"O", 31},        {"P", 35},     {"Q", 12}, {"R", 15}, {"S", 1},  {"T", 17}, {"U", 32}, {"V", 9},
        {"W", 13},        {"X", 7},      {"Y", 16}, {"Z", 6},  {"0", 29}, {"1", 18}, {"2", 19}, {"3", 20},
        {"4", 21},        {"5", 23},     {"6", 22}, {"7", 26}, {"8", 28}, {"9", 25},
    }};
    return table;
}

bool GlobalShortcuts::isAllowed(std::int64_t keyCode, std::uint32_t modifiers) {
    if (keyCode == -1) return true;
    return inKeyTable(keyCode) && modifiersAllowed(modifiers);
}

GlobalShortcuts::GlobalShortcuts(Defaults& defaults, HotKeys& hotKeys, ActionHandler onAction, QObject* parent)
    : QObject(parent), defaults_(defaults), hotKeys_(hotKeys), onAction_(std::move(onAction)) {
    for (const auto action : kAllShortcutActions) {
        if (const auto data = defaults_.data(settingsKey(action))) {
            if (const auto stored = decode(*data);
                stored && (stored->keyCode == -1 || (inKeyTable(stored->keyCode) && modifiersAllowed(stored->modifiers)))) {
                bindings_[action] = *stored;
                continue;
            }
        }
        switch (action) {
            case ShortcutAction::openClipboard: {
                const auto legacy = defaults_.object("hotKeyCode");
                const bool isInteger = legacy && (legacy->is_number_integer() || legacy->is_number_unsigned());
                bindings_[action] = {isInteger ? defaults_.integer("hotKeyCode") : 49, kCommandShift};
                break;
            }
            case ShortcutAction::region:
                bindings_[action] = {19, 4864};
                break;
            default:
                bindings_[action] = {-1, kCommandShift};
        }
    }
}

void GlobalShortcuts::setBinding(ShortcutAction action, std::int64_t keyCode, std::uint32_t modifiers) {
    if (!isAllowed(keyCode, modifiers)) {
        messages_[action] = QStringLiteral("Use Super, Ctrl or Alt. Bare typing keys are not registered.");
        emit messagesChanged();
        return;
    }
    bindings_[action] = {keyCode, modifiers};
    const nlohmann::json json = {{"keyCode", keyCode}, {"modifiers", modifiers}};
    defaults_.setData(settingsKey(action), json.dump());
    emit bindingsChanged();
    if (handlerInstalled_) registerHotKeys();
}

void GlobalShortcuts::installHotKeyHandler() {
    if (handlerInstalled_) return;
    // The handler holds this object weakly: a press after it is gone is simply not handled.
    QPointer<GlobalShortcuts> self(this);
    HotKeys::Handler handler;
    handler.pressed = [self](HotKeyID id) {
        if (self) self->hotKeyPressed(id);
    };
    handler.mappingChanged = [self] {
        if (self && self->handlerInstalled_) self->registerHotKeys();
    };
    if (const int status = hotKeys_.installHandler(std::move(handler)); status != HotKeys::noError) {
        messages_[ShortcutAction::openClipboard] =
            QStringLiteral("Global shortcut handler unavailable (%1). Use the panel.").arg(status);
        emit messagesChanged();
        return;
    }
    handlerInstalled_ = true;
    registerHotKeys();
}

void GlobalShortcuts::unregisterHotKeys() {
    for (const auto& [action, id] : registered_) hotKeys_.unregisterHotKey({kSignature, id});
    registered_.clear();
}

void GlobalShortcuts::registerHotKeys() {
    unregisterHotKeys();
    messages_.clear();
    for (std::size_t index = 0; index < kAllShortcutActions.size(); ++index) {
        const ShortcutAction action = kAllShortcutActions[index];
        const auto id = static_cast<std::uint32_t>(index + 1);
        const auto found = bindings_.find(action);
        if (found == bindings_.end() || found->second.keyCode < 0) continue;
        const ShortcutBinding binding = found->second;
        if (!inKeyTable(binding.keyCode) || !modifiersAllowed(binding.modifiers)) {
            messages_[action] = QStringLiteral("Invalid shortcut. Choose another key.");
            continue;
        }
        // Of two equal bindings the earlier action keeps the key.
        const auto earlier = std::find_if(registered_.begin(), registered_.end(),
                                          [&](const auto& entry) { return bindings_.at(entry.first) == binding; });
        if (earlier != registered_.end()) {
            messages_[action] = QStringLiteral("Conflicts with %1. Change this shortcut.").arg(title(earlier->first));
            continue;
        }
        const int status = hotKeys_.registerHotKey(binding.keyCode, binding.modifiers, {kSignature, id});
        if (status == HotKeys::noError) {
            registered_[action] = id;
        } else {
            messages_[action] = QStringLiteral("Shortcut unavailable (%1). Check the desktop's shortcuts and other "
                                               "apps; no system shortcut was changed.")
                                    .arg(status);
        }
    }
    emit messagesChanged();
}

void GlobalShortcuts::unregisterAll() {
    unregisterHotKeys();
    if (handlerInstalled_) hotKeys_.removeHandler();
    handlerInstalled_ = false;
}

bool GlobalShortcuts::hotKeyPressed(const HotKeyID& id) {
    if (id.signature != kSignature || id.id < 1 || id.id > kAllShortcutActions.size()) return false;
    const int index = static_cast<int>(id.id) - 1;
    QTimer::singleShot(0, this, [this, index] { fire(index); });
    return true;
}

void GlobalShortcuts::fire(int index) {
    if (index < 0 || index >= static_cast<int>(kAllShortcutActions.size())) return;
    if (onAction_) onAction_(kAllShortcutActions[static_cast<std::size_t>(index)]);
}

}  // namespace brevalto
