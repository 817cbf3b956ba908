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
        if (installStatus == noError) handler_ = std::move(handler);
        return installStatus;
    }
    void removeHandler() override { handler_ = {}; }
    int registerHotKey(std::int64_t keyCode, std::uint32_t modifiers, HotKeyID id) override {
        if (const auto held = heldElsewhere.find({keyCode, modifiers}); held != heldElsewhere.end()) return held->second;
        registered[id.id] = {keyCode, modifiers};
        return noError;
    }
    void unregisterHotKey(HotKeyID id) override { registered.erase(id.id); }

    bool installed() const { return static_cast<bool>(handler_.pressed); }
    void press(HotKeyID id) {
        if (handler_.pressed) handler_.pressed(id);
    }
    void changeMapping() {
        if (handler_.mappingChanged) handler_.mappingChanged();
    }

    int installStatus = noError;
    int installs = 0;
    std::map<std::pair<std::int64_t, std::uint32_t>, int> heldElsewhere;  // combination -> status
    std::map<std::uint32_t, Binding> registered;                           // by hot-key number

private:
    Handler handler_;
};

}  // namespace brevalto
