#include "Automation/GlobalShortcutSettings.h"
#include "Platform/Defaults.h"

#include "FakeHotKeys.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QTest>

#include <gtest/gtest.h>

namespace brevalto {
namespace {

class ShortcutPage : public ::testing::Test {
protected:
    void SetUp() override {
        shortcuts.installHotKeyHandler();
        page.show();
    }
    template <class T>
    T* control(ShortcutAction action, const char* name) {
        auto* row = page.findChild<QWidget*>(QString::fromLatin1(rawValue(action).data()));
        return row ? row->findChild<T*>(QString::fromLatin1(name)) : nullptr;
    }
    // What a row shows: the key, the ticked modifiers, and the red line if any.
    std::string shown(ShortcutAction action) {
        std::string text = control<QComboBox>(action, "key")->currentText().toStdString();
        for (const char* word : {"Super", "Ctrl", "Alt", "Shift"})
            if (control<QCheckBox>(action, word)->isChecked()) text += std::string("+") + word;
        if (auto* line = control<QLabel>(action, "message"); !line->isHidden()) text += " | " + line->text().toStdString();
        return text;
    }
    // Chooses a key by typing its title into the picker, as a user does with the keyboard.
    void pick(ShortcutAction action, const char* title) {
        QTest::qWait(QApplication::keyboardInputInterval() + 50);  // a fresh search, not a continued one
        QTest::keyClicks(control<QComboBox>(action, "key"), QString::fromLatin1(title));
    }

    Defaults defaults;
    FakeHotKeys hotKeys;
    GlobalShortcuts shortcuts{defaults, hotKeys};
    GlobalShortcutSettings page{shortcuts};
};

TEST_F(ShortcutPage, AFreshInstallShowsTheDefaultsInEveryRow) {
    for (const auto action : kAllShortcutActions)
        EXPECT_EQ(shown(action), action == ShortcutAction::openClipboard ? "Space+Super+Shift"
                                 : action == ShortcutAction::region      ? "2+Super+Ctrl+Shift"
                                                                         : "Disabled+Super+Shift");
    auto* picker = control<QComboBox>(ShortcutAction::scrolling, "key");
    ASSERT_EQ(picker->count(), 38);
    EXPECT_EQ(picker->itemData(37).toInt(), 25);  // "9"
    EXPECT_EQ(picker->width(), 90);
    EXPECT_EQ(picker->accessibleName(), QStringLiteral("Key for Scrolling Capture"));
    EXPECT_EQ(control<QCheckBox>(ShortcutAction::append, "Alt")->accessibleName(),
              QStringLiteral("Alt for Add Capture to editor"));
    EXPECT_EQ(page.findChild<QLabel*>("footnote")->text(),
              QStringLiteral("Keys use US physical-key labels. Region defaults to Ctrl-Super-Shift-2. "
                             "The desktop's screenshot shortcuts are not changed."));
    EXPECT_FALSE(defaults.contains("shortcut.openClipboard")) << "showing the page stores nothing";
}

TEST_F(ShortcutPage, EachChangeTakesEffectAtOnceOrShowsWhyNotInRed) {
    // Turning Super off leaves Shift alone: refused, and the box shows on again.
    QCheckBox* super = control<QCheckBox>(ShortcutAction::openClipboard, "Super");
    QTest::mouseClick(super, Qt::LeftButton, {}, QPoint(4, super->height() / 2));
    EXPECT_EQ(shown(ShortcutAction::openClipboard),
              "Space+Super+Shift | Use Super, Ctrl or Alt. Bare typing keys are not registered.");
    auto* line = control<QLabel>(ShortcutAction::openClipboard, "message");
    EXPECT_EQ(line->palette().color(QPalette::WindowText), QColor(Qt::red));
    // "Disabled" is accepted, releases the key and clears the line.
    pick(ShortcutAction::openClipboard, "Disabled");
    EXPECT_EQ(shown(ShortcutAction::openClipboard), "Disabled+Super+Shift");
    EXPECT_EQ(hotKeys.registered, (std::map<std::uint32_t, FakeHotKeys::Binding>{{2, {19, 4864}}}));

    // The keys of an earlier row: the conflict shows on the later row only.
    pick(ShortcutAction::window, "2");
    control<QCheckBox>(ShortcutAction::window, "Ctrl")->click();
    EXPECT_EQ(shown(ShortcutAction::window), "2+Super+Ctrl+Shift | Conflicts with Capture Region. Change this shortcut.");
    EXPECT_EQ(shown(ShortcutAction::region), "2+Super+Ctrl+Shift");
    hotKeys.heldElsewhere[{20, 4864}] = 10;
    pick(ShortcutAction::window, "3");
    EXPECT_EQ(shown(ShortcutAction::window), "3+Super+Ctrl+Shift | Shortcut unavailable (10). Check the desktop's "
                                             "shortcuts and other apps; no system shortcut was changed.");

    // Boxes on a disabled row only prepare the modifiers for the key picked next.
    control<QCheckBox>(ShortcutAction::ocr, "Shift")->click();
    control<QCheckBox>(ShortcutAction::ocr, "Alt")->click();
    EXPECT_EQ(shown(ShortcutAction::ocr), "Disabled+Super+Alt");
    EXPECT_EQ(hotKeys.registered.count(7), 0u);
}

}  // namespace
}  // namespace brevalto
