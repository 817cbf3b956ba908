#pragma once

#include <QObject>
#include <QString>

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string_view>

namespace brevalto {

class Defaults;
class HotKeys;
struct HotKeyID;

// The actions that have a global hot key, in their fixed order (an action's hot-key id is its
// position plus one).
enum class ShortcutAction {
    openClipboard,
    region,
    window,
    activeWindow,
    screen,
    scrolling,
    ocr,
    repeatRegion,
    delay,
    editor,
    append,
};

inline constexpr std::array<ShortcutAction, 11> kAllShortcutActions = {
    ShortcutAction::openClipboard, ShortcutAction::region,       ShortcutAction::window,
    ShortcutAction::activeWindow,  ShortcutAction::screen,       ShortcutAction::scrolling,
    ShortcutAction::ocr,           ShortcutAction::repeatRegion, ShortcutAction::delay,
    ShortcutAction::editor,        ShortcutAction::append,
};

std::string_view rawValue(ShortcutAction action);
std::optional<ShortcutAction> shortcutActionFromRaw(std::string_view raw);
QString title(ShortcutAction action);

// A key binding as stored: a key code of keyTable() (a key by its place on a US keyboard) and the
// modifier bits Command 0x100 (Super), Shift 0x200, Option 0x800 (Alt), Control 0x1000.
// keyCode -1 means disabled.
struct ShortcutBinding {
    std::int64_t keyCode = -1;
    std::uint32_t modifiers = 0x300;

    friend bool operator==(const ShortcutBinding&, const ShortcutBinding&) = default;
};

// One binding per action, kept in the settings under "shortcut.<action>" as JSON data, and
// registered as system-wide hot keys. Every problem is a line in messages() for its action;
// nothing throws, and the other actions still register.
class GlobalShortcuts : public QObject {
    Q_OBJECT
public:
    struct Key {
        const char* title;
        int keyCode;
    };

    // The signature of every hot key registered here ("BRVL").
    static constexpr std::uint32_t kSignature = 0x4252564C;

    using ActionHandler = std::function<void(ShortcutAction)>;

    // Loads every binding; registers nothing. onAction is the app's handler for a pressed hot key.
    GlobalShortcuts(Defaults& defaults, HotKeys& hotKeys, ActionHandler onAction = {}, QObject* parent = nullptr);

    static const std::array<Key, 38>& keyTable();
    static bool isAllowed(std::int64_t keyCode, std::uint32_t modifiers);

    const std::map<ShortcutAction, ShortcutBinding>& bindings() const { return bindings_; }
    const std::map<ShortcutAction, QString>& messages() const { return messages_; }

    // Stores an allowed binding and, once the handler is installed, registers everything again;
    // a refused one only sets the action's message.
    void setBinding(ShortcutAction action, std::int64_t keyCode, std::uint32_t modifiers);

    // Installs the key handler once and registers every binding.
    void installHotKeyHandler();
    // Registers every binding from scratch and recomputes the messages.
    void registerHotKeys();
    // Unregisters every hot key and removes the handler.
    void unregisterAll();
    bool handlerInstalled() const { return handlerInstalled_; }

    // A press from the hot-key handler: one of ours (signature and a known id) is queued to the
    // event loop and answered true; any other is left unhandled.
    bool hotKeyPressed(const HotKeyID& id);
    // Calls the action handler for the action at index (0-based); out-of-range indexes are ignored.
    void fire(int index);

signals:
    void bindingsChanged();
    void messagesChanged();

private:
    void unregisterHotKeys();

    Defaults& defaults_;
    HotKeys& hotKeys_;
    ActionHandler onAction_;
    std::map<ShortcutAction, ShortcutBinding> bindings_;
    std::map<ShortcutAction, QString> messages_;
    std::map<ShortcutAction, std::uint32_t> registered_;  // action -> hot-key id
    bool handlerInstalled_ = false;
};

}  // namespace brevalto
