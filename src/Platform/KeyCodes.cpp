#include "Platform/KeyCodes.h"

#include <QKeyEvent>

namespace brevalto {

namespace {

// The codes of the letter keys, a to z, in the app's key code table.
constexpr int letterCodes[26] = {0, 11, 8, 2, 14, 3, 5, 4, 34, 38, 40, 37, 46, 45, 31, 35, 12, 15, 1, 17, 32, 9, 13, 7, 16, 6};
// The codes of the digit keys, 0 to 9.
constexpr int digitCodes[10] = {29, 18, 19, 20, 21, 23, 22, 26, 28, 25};

std::optional<int> codeOf(const QKeyEvent& event) {
    const int key = event.key();
    const bool keypad = event.modifiers().testFlag(Qt::KeypadModifier);
    switch (key) {
    case Qt::Key_Return: return KeyPress::returnKey;
    case Qt::Key_Enter: return keypad ? KeyPress::keypadEnter : KeyPress::returnKey;
    case Qt::Key_Tab:
    case Qt::Key_Backtab: return KeyPress::tab;
    case Qt::Key_Space: return KeyPress::space;
    case Qt::Key_Backspace: return KeyPress::deleteKey;
    case Qt::Key_Escape: return KeyPress::escape;
    case Qt::Key_Delete: return KeyPress::forwardDelete;
    case Qt::Key_Left: return KeyPress::left;
    case Qt::Key_Right: return KeyPress::right;
    case Qt::Key_Down: return KeyPress::down;
    case Qt::Key_Up: return KeyPress::up;
    default: break;
    }
    if (key >= Qt::Key_A && key <= Qt::Key_Z) return letterCodes[key - Qt::Key_A];
    if (key >= Qt::Key_0 && key <= Qt::Key_9) return digitCodes[key - Qt::Key_0];
    return std::nullopt;
}

}  // namespace

std::optional<KeyPress> keyPressOf(const QKeyEvent& event) {
    const auto code = codeOf(event);
    if (!code) return std::nullopt;
    KeyPress press{*code, 0};
    const Qt::KeyboardModifiers m = event.modifiers();
    if (m.testFlag(Qt::ShiftModifier)) press.flags |= KeyPress::shift;
    if (m.testFlag(Qt::ControlModifier)) press.flags |= KeyPress::command;
    if (m.testFlag(Qt::MetaModifier)) press.flags |= KeyPress::control;
    if (m.testFlag(Qt::AltModifier)) press.flags |= KeyPress::option;
    return press;
}

}  // namespace brevalto
