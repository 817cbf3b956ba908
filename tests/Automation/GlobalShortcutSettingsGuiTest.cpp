#include "Automation/GlobalShortcutSettings.h"
#include "Automation/GlobalShortcuts.h"
#include "Platform/Defaults.h"

#include "FakeHotKeys.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QTest>

#include <gtest/gtest.h>

#include <ostream>

inline void PrintTo(const QString& text, std::ostream* out) { *out << '"' << text.toStdString() << '"'; }

namespace brevalto {
namespace {

class ShortcutPage : public ::testing::Test {
protected:
    void SetUp() override {
        shortcuts.installHotKeyHandler();
        page.show();
    }

    QWidget* row(ShortcutAction action) {
        auto* w = page.findChild<QWidget*>(QString::fromLatin1(rawValue(action).data()));
        EXPECT_NE(w, nullptr) << rawValue(action);
        return w;
    }
    QComboBox* key(ShortcutAction action) { return row(action)->findChild<QComboBox*>("key"); }
    QCheckBox* box(ShortcutAction action, const char* word) { return row(action)->findChild<QCheckBox*>(word); }
    QLabel* message(ShortcutAction action) { return row(action)->findChild<QLabel*>("message"); }
    // What a row shows: key, then the ticked modifiers in order.
    QString shown(ShortcutAction action) {
        QString text = key(action)->currentText();
        for (const char* word : {"Super", "Ctrl", "Alt", "Shift"})
            if (box(action, word)->isChecked()) text += QStringLiteral("+") + QString::fromLatin1(word);
        return text;
    }
    // Chooses a key by typing its title into the picker, as a user does with the keyboard.
    void pick(ShortcutAction action, const char* title) {
        QTest::qWait(QApplication::keyboardInputInterval() + 50);  // a fresh search, not a continued one
        QTest::keyClicks(key(action), QString::fromLatin1(title));
        ASSERT_EQ(key(action)->currentText(), QString::fromLatin1(title));
    }

    Defaults defaults;
    FakeHotKeys hotKeys;
    GlobalShortcuts shortcuts{defaults, hotKeys};
    GlobalShortcutSettings page{shortcuts};
};

TEST_F(ShortcutPage, AFreshInstallShowsTheDefaultsInEveryRow) {
    for (const auto action : kAllShortcutActions) {
        const QString expected = action == ShortcutAction::openClipboard ? QStringLiteral("Space+Super+Shift")
                                 : action == ShortcutAction::region      ? QStringLiteral("2+Super+Ctrl+Shift")
                                                                         : QStringLiteral("Disabled+Super+Shift");
        EXPECT_EQ(shown(action), expected) << rawValue(action);
        EXPECT_TRUE(message(action)->isHidden());
    }
    QComboBox* picker = key(ShortcutAction::scrolling);
    ASSERT_EQ(picker->count(), 38);
    EXPECT_EQ(picker->itemText(0), QStringLiteral("Disabled"));
    EXPECT_EQ(picker->itemText(1), QStringLiteral("Space"));
    EXPECT_EQ(picker->itemText(27), QStringLiteral("Z"));
    EXPECT_EQ(picker->itemText(37), QStringLiteral("9"));
    EXPECT_EQ(picker->itemData(37).toInt(), 25);
    EXPECT_EQ(picker->width(), 90);
    EXPECT_EQ(picker->accessibleName(), QStringLiteral("Key for Scrolling Capture"));
    EXPECT_EQ(box(ShortcutAction::append, "Alt")->accessibleName(), QStringLiteral("Alt for Add Capture to editor"));
    auto* footnote = page.findChild<QLabel*>("footnote");
    ASSERT_NE(footnote, nullptr);
    EXPECT_EQ(footnote->text(), QStringLiteral("Keys use US physical-key labels. Region defaults to Ctrl-Super-Shift-2. "
                                               "The desktop's screenshot shortcuts are not changed."));
    EXPECT_FALSE(defaults.contains("shortcut.openClipboard")) << "showing the page stores nothing";
}

TEST_F(ShortcutPage, ARefusedChangeShowsTheRedLineAndTheOldValueAgain) {
    QCheckBox* super = box(ShortcutAction::openClipboard, "Super");
    QTest::mouseClick(super, Qt::LeftButton, {}, QPoint(4, super->height() / 2));
    EXPECT_TRUE(super->isChecked()) << "Shift alone is refused, so Super shows on again";
    EXPECT_EQ(shortcuts.bindings().at(ShortcutAction::openClipboard), (ShortcutBinding{49, 768}));
    QLabel* line = message(ShortcutAction::openClipboard);
    EXPECT_FALSE(line->isHidden());
    EXPECT_EQ(line->text(), QStringLiteral("Use Super, Ctrl or Alt. Bare typing keys are not registered."));
    EXPECT_EQ(line->palette().color(QPalette::WindowText), QColor(Qt::red));
    EXPECT_LT(line->font().pointSizeF(), key(ShortcutAction::openClipboard)->font().pointSizeF());

    // Choosing "Disabled" is accepted, removes the hot key and clears the line.
    pick(ShortcutAction::openClipboard, "Disabled");
    EXPECT_TRUE(line->isHidden());
    EXPECT_EQ(hotKeys.registered.count(1), 0u);
    EXPECT_EQ(shortcuts.bindings().at(ShortcutAction::openClipboard), (ShortcutBinding{-1, 768}));
}

TEST_F(ShortcutPage, PickingTheKeysOfAnEarlierRowShowsTheConflictOnTheLaterRow) {
    pick(ShortcutAction::window, "2");
    EXPECT_EQ(shortcuts.bindings().at(ShortcutAction::window), (ShortcutBinding{19, 768}));
    EXPECT_EQ(hotKeys.registered.at(3), (FakeHotKeys::Binding{19, 768}));
    box(ShortcutAction::window, "Ctrl")->click();
    EXPECT_EQ(shown(ShortcutAction::window), QStringLiteral("2+Super+Ctrl+Shift"));
    EXPECT_EQ(message(ShortcutAction::window)->text(),
              QStringLiteral("Conflicts with Capture Region. Change this shortcut."));
    EXPECT_FALSE(message(ShortcutAction::window)->isHidden());
    EXPECT_TRUE(message(ShortcutAction::region)->isHidden());
    EXPECT_EQ(hotKeys.registered.count(3), 0u);
    EXPECT_EQ(hotKeys.registered.at(2), (FakeHotKeys::Binding{19, 4864}));

    // Moving on to a key another program holds replaces the line with that reason.
    hotKeys.heldElsewhere[{20, 4864}] = 10;
    pick(ShortcutAction::window, "3");
    EXPECT_EQ(message(ShortcutAction::window)->text(),
              QStringLiteral("Shortcut unavailable (10). Check the desktop's shortcuts and other apps; no system "
                             "shortcut was changed."));
}

TEST_F(ShortcutPage, CheckboxesOnADisabledRowOnlyPrepareTheModifiers) {
    const auto before = hotKeys.registered;
    box(ShortcutAction::ocr, "Shift")->click();
    box(ShortcutAction::ocr, "Alt")->click();
    EXPECT_EQ(shortcuts.bindings().at(ShortcutAction::ocr), (ShortcutBinding{-1, 0x100 | 0x800}));
    EXPECT_EQ(hotKeys.registered, before);
    EXPECT_EQ(shown(ShortcutAction::ocr), QStringLiteral("Disabled+Super+Alt"));

    // The prepared modifiers go with the key picked next.
    pick(ShortcutAction::ocr, "O");
    EXPECT_EQ(hotKeys.registered.at(7), (FakeHotKeys::Binding{31, 0x900}));
    EXPECT_EQ(GlobalShortcuts(defaults, hotKeys).bindings().at(ShortcutAction::ocr), (ShortcutBinding{31, 0x900}));
}

}  // namespace
}  // namespace brevalto
