#pragma once

#include <cstdint>
#include <functional>

namespace brevalto {

// A registered hot key's identity: the registering app's four-character signature and a number.
struct HotKeyID {
    std::uint32_t signature = 0;
    std::uint32_t id = 0;

    friend bool operator==(const HotKeyID&, const HotKeyID&) = default;
};

// System-wide hot keys. A binding is given as it is stored: a key code of the key table (a key
// by its place on a US keyboard) and the modifier bits Command 0x100, Shift 0x200, Option 0x800,
// Control 0x1000. The implementation maps both onto the keyboard it talks to.
class HotKeys {
public:
    static constexpr int noError = 0;

    struct Handler {
        std::function<void(HotKeyID)> pressed;  // a registered key combination went down
        std::function<void()> mappingChanged;   // the keyboard mapping changed: register again
    };

    virtual ~HotKeys() = default;

    // Starts delivering key presses and mapping changes to handler, from the GUI event loop.
    // Returns noError, or the status that says why no hot key can be received.
    virtual int installHandler(Handler handler) = 0;
    virtual void removeHandler() = 0;

    // Returns noError, or the platform's error status (on X11 the X error code: BadAccess, 10,
    // when another client holds the combination). A failed registration holds nothing.
    virtual int registerHotKey(std::int64_t keyCode, std::uint32_t modifiers, HotKeyID id) = 0;
    virtual void unregisterHotKey(HotKeyID id) = 0;
};

}  // namespace brevalto
