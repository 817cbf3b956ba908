#pragma once

namespace brevalto {

// Synthetic paste keys and the keyboard's state. Posting keys into another application needs the
// user's trust on some desktops; on X11 it is always granted.
class Keyboard {
public:
    virtual ~Keyboard() = default;

    // Whether this process may post keys to other applications.
    virtual bool isTrusted() const = 0;
    // Asks the desktop to offer the user to grant the trust; answers whether it is granted now.
    virtual bool requestTrust() = 0;
    // Posts the paste chord (Ctrl+V) to the focused window, by physical key codes so that the
    // keyboard layout does not matter. False when the keys could not be posted.
    virtual bool sendPaste() = 0;
    // Whether the Escape key is down now.
    virtual bool isEscapeHeld() const = 0;
};

}  // namespace brevalto
