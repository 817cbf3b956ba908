#pragma once

#include "Platform/Keyboard.h"

#include <functional>

namespace brevalto {

// Trust, paste chords and the Escape key as a test sets them up.
class FakeKeyboard final : public Keyboard {
public:
    bool isTrusted() const override { return trusted; }
    bool requestTrust() override {
        ++trustRequests;
        return trusted;
    }
    bool sendPaste() override {
        ++pastes;
        if (onPaste) onPaste();
        return true;
    }
    bool isEscapeHeld() const override { return escapeHeld; }

    bool trusted = true;
    bool escapeHeld = false;
    int trustRequests = 0;
    int pastes = 0;
    // Runs on every chord, to record its order among other events.
    std::function<void()> onPaste;
};

}  // namespace brevalto
