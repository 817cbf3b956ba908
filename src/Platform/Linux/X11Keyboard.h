#pragma once

#include "Platform/Keyboard.h"

#include <cstdint>
#include <memory>

namespace brevalto {

class X11Connection;

// Keys through the XTEST extension. The paste chord is posted by the key codes of the physical
// Left Control and V keys (the evdev numbering every current X server uses), so whatever the
// layout, the focused application sees Control with the key at V's place. Trust is always
// granted: XTEST needs no permission. Used on the GUI thread.
class X11Keyboard final : public Keyboard {
public:
    static std::uint8_t controlKeyCode();
    static std::uint8_t vKeyCode();
    static std::uint8_t escapeKeyCode();

    X11Keyboard();
    ~X11Keyboard() override;

    bool isTrusted() const override { return true; }
    bool requestTrust() override { return true; }
    // Control down, V down, V up, Control up, with nothing between them; waits until the server
    // has taken all four.
    bool sendPaste() override;
    // Read from the server's key map (QueryKeymap).
    bool isEscapeHeld() const override;

private:
    X11Connection* connection() const;

    mutable std::unique_ptr<X11Connection> connection_;
};

}  // namespace brevalto
