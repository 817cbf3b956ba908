#pragma once

#include "Automation/GlobalShortcuts.h"

#include <QWidget>

#include <array>
#include <map>

class QCheckBox;
class QComboBox;
class QLabel;

namespace brevalto {

// The Shortcuts page of the settings window: one row per hot-key action with a key picker, four
// modifier checkboxes and, when the binding did not register, the reason in red. It keeps no
// state of its own: it shows the bindings and messages of the shortcuts and writes every change
// through GlobalShortcuts::setBinding, which takes effect at once.
class GlobalShortcutSettings : public QWidget {
    Q_OBJECT
public:
    struct Modifier {
        const char* word;
        std::uint32_t bit;
    };
    // The checkboxes in order: Super (Command), Ctrl, Alt (Option), Shift.
    static const std::array<Modifier, 4>& modifiers();

    explicit GlobalShortcutSettings(GlobalShortcuts& shortcuts, QWidget* parent = nullptr);

private:
    struct Row {
        QComboBox* key = nullptr;
        std::array<QCheckBox*, 4> modifiers{};
        QLabel* message = nullptr;
    };

    void refresh();
    void pickKey(ShortcutAction action, int index);
    void toggleModifier(ShortcutAction action, std::uint32_t bit, bool on);

    GlobalShortcuts& shortcuts_;
    std::map<ShortcutAction, Row> rows_;
};

}  // namespace brevalto
