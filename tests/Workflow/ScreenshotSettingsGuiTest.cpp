#include "Platform/Defaults.h"
#include "Workflow/CaptureSettings.h"
#include "Workflow/ScreenshotSettingsView.h"
#include "Workflow/WorkflowDialogs.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>

#include <gtest/gtest.h>

namespace brevalto {
namespace {

struct FolderDialogs : WorkflowDialogs {
    std::optional<std::filesystem::path> folder;
    std::optional<std::filesystem::path> chooseSaveFile(const QString&) override { return {}; }
    std::optional<std::filesystem::path> chooseImageFile() override { return {}; }
    std::optional<std::filesystem::path> chooseFolder() override { return folder; }
    void alert(const QString&, const QString&) override {}
};

template <class T>
T* find(const QWidget& page, const char* name) {
    T* found = page.findChild<T*>(QString::fromLatin1(name));
    EXPECT_NE(found, nullptr) << name;
    return found;
}

bool showsLabel(const QWidget& page, const QString& text) {
    for (const QLabel* label : page.findChildren<QLabel*>())
        if (label->text() == text) return true;
    return false;
}

TEST(ScreenshotSettingsView, AFreshInstallShowsTheDefaultsAndScreenCaptureAsAllowed) {
    Defaults defaults;
    FolderDialogs dialogs;
    ScreenshotSettingsView page(defaults, dialogs, true);
    EXPECT_FALSE(find<QCheckBox>(page, "captureCursor")->isChecked());
    EXPECT_TRUE(find<QCheckBox>(page, "captureShadow")->isChecked());
    EXPECT_EQ(find<QComboBox>(page, "captureBackground")->currentText(), "Transparent");
    EXPECT_EQ(find<QSpinBox>(page, "captureDelay")->value(), 5);
    EXPECT_TRUE(showsLabel(page, "Capture delay: 5 seconds"));
    EXPECT_EQ(find<QComboBox>(page, "captureAfter")->currentText(), "Thumbnail");
    EXPECT_TRUE(showsLabel(page, "Thumbnail timeout: 12s (0 stays open)"));
    EXPECT_FALSE(find<QCheckBox>(page, "captureAutoCopy")->isChecked() || find<QCheckBox>(page, "captureAutoSave")->isChecked());
    EXPECT_EQ(find<QPushButton>(page, "captureFolder")->text(), "Choose auto-save folder");
    auto* permission = find<QPushButton>(page, "screenRecording");
    EXPECT_TRUE(permission->isChecked());
    EXPECT_FALSE(permission->isEnabled()) << "nothing to open on X11";
    EXPECT_TRUE(defaults.object(CaptureSettings::delayKey) == std::nullopt) << "showing writes nothing";
}

TEST(ScreenshotSettingsView, ControlsWriteTheirKeysAndStoredValuesShow) {
    Defaults defaults;
    defaults.set(CaptureSettings::thumbnailTimeoutKey, 7.9);
    defaults.set(CaptureSettings::backgroundKey, "Solid");
    FolderDialogs dialogs;
    ScreenshotSettingsView page(defaults, dialogs, false);
    EXPECT_TRUE(showsLabel(page, "Thumbnail timeout: 7s (0 stays open)"));
    EXPECT_EQ(find<QComboBox>(page, "captureBackground")->currentIndex(), -1);
    EXPECT_FALSE(find<QPushButton>(page, "screenRecording")->isChecked());

    auto* timeout = find<QDoubleSpinBox>(page, "thumbnailTimeout");
    timeout->stepUp();
    EXPECT_DOUBLE_EQ(defaults.doubleValue(CaptureSettings::thumbnailTimeoutKey), 12.9);
    timeout->setValue(500);
    EXPECT_DOUBLE_EQ(defaults.doubleValue(CaptureSettings::thumbnailTimeoutKey), 120);
    auto* delay = find<QSpinBox>(page, "captureDelay");
    delay->setValue(0);
    EXPECT_EQ(defaults.integer(CaptureSettings::delayKey), 1);
    EXPECT_TRUE(showsLabel(page, "Capture delay: 1 seconds"));

    auto* after = find<QComboBox>(page, "captureAfter");
    after->setCurrentIndex(1);
    emit after->activated(1);
    EXPECT_EQ(defaults.string(CaptureSettings::afterKey), "editor");
    auto* background = find<QComboBox>(page, "captureBackground");
    emit background->activated(2);
    EXPECT_EQ(defaults.string(CaptureSettings::backgroundKey), "wallpaper");
    find<QCheckBox>(page, "captureAutoSave")->setChecked(true);
    EXPECT_TRUE(defaults.boolValue(CaptureSettings::autoSaveKey));

    // Cancelling the chooser keeps the folder; choosing one shows it.
    auto* folder = find<QPushButton>(page, "captureFolder");
    folder->click();
    EXPECT_FALSE(defaults.contains(CaptureSettings::folderKey));
    dialogs.folder = "/home/someone/Shots";
    folder->click();
    EXPECT_EQ(defaults.string(CaptureSettings::folderKey), "/home/someone/Shots");
    EXPECT_EQ(folder->text(), "/home/someone/Shots");
}

}  // namespace
}  // namespace brevalto
