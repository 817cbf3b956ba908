#pragma once

#include <cstdint>
#include <optional>

class QKeyEvent;

namespace brevalto {

// A key press in the key codes and modifier flags that the app's key handling is written in.
// Ctrl plays the part of Command and Alt the part of Option.
struct KeyPress {
    int code = -1;
    std::uint64_t flags = 0;

    static constexpr int returnKey = 36;
    static constexpr int tab = 48;
    static constexpr int space = 49;
    static constexpr int deleteKey = 51;
    static constexpr int escape = 53;
    static constexpr int keypadEnter = 76;
    static constexpr int forwardDelete = 117;
    static constexpr int left = 123;
    static constexpr int right = 124;
    static constexpr int down = 125;
    static constexpr int up = 126;

    static constexpr std::uint64_t shift = 0x20000;
    static constexpr std::uint64_t control = 0x40000;
    static constexpr std::uint64_t option = 0x80000;
    static constexpr std::uint64_t command = 0x100000;

    friend bool operator==(const KeyPress&, const KeyPress&) = default;
};

// The key press of a Qt key event; none for a key without a code of its own (modifiers alone,
// function keys and anything else the app does not handle).
std::optional<KeyPress> keyPressOf(const QKeyEvent& event);

}  // namespace brevalto
