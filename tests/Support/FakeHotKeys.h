#pragma once

#include "Platform/HotKeys.h"

#include <cstdint>
#include <map>
#include <utility>

namespace brevalto {

// Hot keys without a keyboard: remembers what is registered, refuses the combinations a test
// says another program holds, and lets the test press keys and change the keyboard mapping.
class FakeHotKeys final : public HotKeys {
public:
    struct Binding {
        std::int64_t keyCode;
        std::uint32_t modifiers;
        friend bool operator==(const Binding&, const Binding&) = default;
    };

    int installHandler(Handler handler) override {
        ++installs;
        if (installStatus != noError) return installStatus;
        handler_ = std::move(handler);
        installed_ = true;
        return noError;
    }
    void removeHandler() override {
        handler_ = {};
        installed_ = false;
    }
    int registerHotKey(std::int64_t keyCode, std::uint32_t modifiers, HotKeyID id) override {
        if (const auto held = heldElsewhere.find({keyCode, modifiers}); held != heldElsewhere.end()) return held->second;
        registered[id.id] = {keyCode, modifiers};
        signatures[id.id] = id.signature;
        return noError;
    }
    void unregisterHotKey(HotKeyID id) override {
        registered.erase(id.id);
        signatures.erase(id.id);
    }

    bool installed() const { return installed_; }
    // Delivers a press with this identity, as the keyboard would.
    void press(HotKeyID id) {
        if (handler_.pressed) handler_.pressed(id);
    }
    void changeMapping() {
        if (handler_.mappingChanged) handler_.mappingChanged();
    }

    int installStatus = noError;
    int installs = 0;
    // Combinations another program holds, with the status registering them gives.
    std::map<std::pair<std::int64_t, std::uint32_t>, int> heldElsewhere;
    std::map<std::uint32_t, Binding> registered;  // by hot-key number
    std::map<std::uint32_t, std::uint32_t> signatures;

private:
    Handler handler_;
    bool installed_ = false;
};

}  // namespace brevalto
