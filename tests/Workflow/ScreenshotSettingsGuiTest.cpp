#include "AccessibleNames.h"
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

#include <algorithm>
#include <set>

namespace brevalto {
namespace {

struct FolderDialogs : WorkflowDialogs {
    std::optional<std::filesystem::path> folder;
    std::optional<std::filesystem::path> chooseSaveFile(const QString&, const std::filesystem::path&) override {
        return {};
    }
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

TEST(ScreenshotSettingsView, ShowsTheDefaultsAndStoredValuesAndWritesEachControlsKey) {
    Defaults defaults;
    FolderDialogs dialogs;
    {
        ScreenshotSettingsView fresh(defaults, dialogs);
        EXPECT_TRUE(find<QCheckBox>(fresh, "captureShadow")->isChecked());
        EXPECT_FALSE(find<QCheckBox>(fresh, "captureCursor")->isChecked());
        EXPECT_EQ(find<QComboBox>(fresh, "captureAfter")->currentText(), "Thumbnail");
        EXPECT_TRUE(showsLabel(fresh, "Capture delay: 5 seconds") &&
                    showsLabel(fresh, "Thumbnail timeout: 12s (0 stays open)"));
        EXPECT_EQ(find<QPushButton>(fresh, "captureFolder")->text(), "Choose auto-save folder");
        EXPECT_EQ(fresh.findChild<QPushButton*>("screenRecording"), nullptr) << "no permission to ask for";
        EXPECT_FALSE(defaults.contains(CaptureSettings::delayKey)) << "showing writes nothing";
        // Assistive technology reads every control by a name of its own: a stepper by its label.
        const auto names = accessibleControlNames(fresh);
        std::set<std::string> distinct;
        for (const auto& [control, name] : names)
            EXPECT_TRUE(!name.empty() && distinct.insert(name).second) << control << ": " << name;
        const std::pair<std::string, std::string> steppers[] = {
            {"captureDelay", "Capture delay: 5 seconds"},
            {"thumbnailTimeout", "Thumbnail timeout: 12s (0 stays open)"}};
        for (const auto& stepper : steppers)
            EXPECT_NE(std::find(names.begin(), names.end(), stepper), names.end()) << stepper.first;
    }
    defaults.set(CaptureSettings::thumbnailTimeoutKey, 7.9);
    defaults.set(CaptureSettings::backgroundKey, "Solid");
    ScreenshotSettingsView page(defaults, dialogs);
    EXPECT_TRUE(showsLabel(page, "Thumbnail timeout: 7s (0 stays open)"));
    EXPECT_EQ(find<QComboBox>(page, "captureBackground")->currentIndex(), -1);

    auto* timeout = find<QDoubleSpinBox>(page, "thumbnailTimeout");
    timeout->stepUp();
    EXPECT_DOUBLE_EQ(defaults.doubleValue(CaptureSettings::thumbnailTimeoutKey), 12.9);
    timeout->setValue(500);
    EXPECT_DOUBLE_EQ(defaults.doubleValue(CaptureSettings::thumbnailTimeoutKey), 120);
    find<QSpinBox>(page, "captureDelay")->setValue(0);
    EXPECT_EQ(defaults.integer(CaptureSettings::delayKey), 1);
    emit find<QComboBox>(page, "captureBackground")->activated(2);
    EXPECT_EQ(defaults.string(CaptureSettings::backgroundKey), "wallpaper");

    // Cancelling the chooser keeps the setting; choosing a folder stores and shows it.
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
