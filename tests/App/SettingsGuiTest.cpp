#include "App/GeneralSettingsPage.h"
#include "App/LaunchAtLogin.h"
#include "App/SettingsWindow.h"
#include "Capture/CaptureError.h"
#include "Clipboard/ClipStore.h"
#include "Panel/PanelHeader.h"
#include "Workflow/ScreenshotSettingsView.h"
#include "Workflow/WorkflowDialogs.h"
#include "Platform/Defaults.h"
#include "TestFolder.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QTabWidget>
#include <QTest>
#include <QWheelEvent>

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>

namespace brevalto {
namespace {

template <class T>
T* find(QWidget& root, const char* name) {
    auto* w = root.findChild<T*>(QString::fromLatin1(name));
    EXPECT_NE(w, nullptr) << name;
    return w;
}

TEST(GeneralSettingsPage, AFreshInstallShowsTheDefaults) {
    TestFolder dir;
    Defaults defaults;
    LaunchAtLogin login(dir / "autostart", dir / "data", "/usr/bin/brevalto");
    GeneralSettingsPage page(defaults, login, {});
    EXPECT_TRUE(find<QCheckBox>(page, "hoverOpen")->isChecked());
    EXPECT_FALSE(find<QCheckBox>(page, "showInDock")->isChecked());
    EXPECT_EQ(find<QLineEdit>(page, "ignoredApps")->text(), QStringLiteral("1Password,KeePassXC"));
    EXPECT_EQ(find<QComboBox>(page, "historyRetention")->currentText(), QStringLiteral("Never"));
    EXPECT_FALSE(find<QCheckBox>(page, "launchAtLogin")->isChecked());
    EXPECT_TRUE(find<QLabel>(page, "startupMessage")->isHidden());
    EXPECT_FALSE(defaults.contains("hoverOpen"));  // showing the page stores nothing
}

TEST(GeneralSettingsPage, EveryControlStoresItsValueAtOnce) {
    TestFolder dir;
    Defaults defaults;
    LaunchAtLogin login(dir / "autostart", dir / "data", "/usr/bin/brevalto");
    std::vector<bool> dockChanges;
    GeneralSettingsPage page(defaults, login, [&](bool on) { dockChanges.push_back(on); });

    find<QCheckBox>(page, "hoverOpen")->click();
    EXPECT_EQ(defaults.storedBool("hoverOpen"), false);

    find<QCheckBox>(page, "showInDock")->click();
    find<QCheckBox>(page, "showInDock")->click();
    EXPECT_EQ(dockChanges, (std::vector<bool>{true, false}));
    EXPECT_EQ(defaults.storedBool("showInDock"), false);

    auto* ignored = find<QLineEdit>(page, "ignoredApps");
    ignored->selectAll();
    QTest::keyClicks(ignored, "firefox");
    EXPECT_EQ(defaults.string("ignoredApps"), "firefox");

    auto* retention = find<QComboBox>(page, "historyRetention");
    QStringList labels;
    for (int i = 0; i < retention->count(); ++i) labels << retention->itemText(i);
    EXPECT_EQ(labels, (QStringList{"Never", "1 hour", "1 day", "7 days", "30 days"}));
    retention->activated(1);
    EXPECT_EQ(defaults.storedDouble("historyRetention"), 3600.0);
    EXPECT_TRUE(defaults.object("historyRetention")->is_number_float());

    find<QCheckBox>(page, "launchAtLogin")->click();
    EXPECT_TRUE(login.isEnabled());
    EXPECT_EQ(page.message(), QStringLiteral("Updated login preference."));
    EXPECT_FALSE(find<QLabel>(page, "startupMessage")->isHidden());
}

TEST(GeneralSettingsPage, AFailedLoginChangeShowsWhyAndKeepsTheToggle) {
    TestFolder dir;
    // The autostart folder cannot be created inside a file.
    LaunchAtLogin login(dir / "file" / "autostart", dir / "data", "/usr/bin/brevalto");
    std::FILE* f = std::fopen((dir / "file").c_str(), "w");
    std::fclose(f);
    Defaults defaults;
    GeneralSettingsPage page(defaults, login, {});
    auto* toggle = find<QCheckBox>(page, "launchAtLogin");
    toggle->click();
    EXPECT_TRUE(toggle->isChecked());
    EXPECT_FALSE(page.message().isEmpty());
    EXPECT_NE(page.message(), QStringLiteral("Updated login preference."));

    // A program with a % starts through a link in the data folder, whose place a folder took.
    LaunchAtLogin linked(dir / "autostart", dir / "data", "/opt/100%/brevalto");
    std::filesystem::create_directories(linked.linkPath());
    GeneralSettingsPage other(defaults, linked, {});
    find<QCheckBox>(other, "launchAtLogin")->click();
    EXPECT_TRUE(other.message().contains(QStringLiteral("a folder is in the link's place"))) << other.message().toStdString();
    EXPECT_FALSE(std::filesystem::exists(linked.entryPath()));
}

TEST(GeneralSettingsPage, StoredValuesAreShown) {
    TestFolder dir;
    Defaults defaults;
    defaults.set("historyRetention", 604800);
    defaults.set("hoverOpen", false);
    defaults.set("ignoredApps", "a,b");
    LaunchAtLogin login(dir / "autostart", dir / "data", "/usr/bin/brevalto");
    login.setEnabled(true);
    GeneralSettingsPage page(defaults, login, {});
    EXPECT_EQ(find<QComboBox>(page, "historyRetention")->currentText(), QStringLiteral("7 days"));
    EXPECT_FALSE(find<QCheckBox>(page, "hoverOpen")->isChecked());
    EXPECT_EQ(find<QLineEdit>(page, "ignoredApps")->text(), QStringLiteral("a,b"));
    EXPECT_TRUE(find<QCheckBox>(page, "launchAtLogin")->isChecked());

    // A period the picker does not offer shows no choice, not "Never".
    defaults.set("historyRetention", 1800.0);
    GeneralSettingsPage other(defaults, login, {});
    EXPECT_EQ(find<QComboBox>(other, "historyRetention")->currentIndex(), -1);
    EXPECT_EQ(defaults.storedDouble("historyRetention"), 1800.0);  // and stores nothing over it
}

// Texts written for this desktop: no permission controls it never needs, no keys or places of
// another platform, and counts in the singular for one.
struct NoDialogs : WorkflowDialogs {
    std::optional<std::filesystem::path> chooseSaveFile(const QString&, const std::filesystem::path&) override {
        return {};
    }
    std::optional<std::filesystem::path> chooseImageFile() override { return {}; }
    std::optional<std::filesystem::path> chooseFolder() override { return {}; }
    void alert(const QString&, const QString&) override {}
};

TEST(SettingsPages, TextsFitTheDesktopAndCountsUseTheirSingular) {
    NoDialogs dialogs;
    TestFolder dir;
    Defaults defaults;
    LaunchAtLogin login(dir / "autostart", dir / "data", "/usr/bin/brevalto");
    GeneralSettingsPage general(defaults, login, {});
    ScreenshotSettingsView screenshots(defaults, dialogs);
    for (QWidget* page : {static_cast<QWidget*>(&general), static_cast<QWidget*>(&screenshots)}) {
        QStringList texts;
        for (const QWidget* w : page->findChildren<QWidget*>()) {
            texts << w->toolTip() << w->accessibleName();
            if (const auto* label = qobject_cast<const QLabel*>(w)) texts << label->text();
            if (const auto* button = qobject_cast<const QAbstractButton*>(w)) texts << button->text();
        }
        for (const QString& text : texts)
            for (const char* foreign : {"Accessibility", "Screen Recording", "Keychain", "Option", "Mac", "\u2318",
                                        "\u2325", "System Settings", "(needs", "notch"})
                EXPECT_FALSE(text.contains(QString::fromUtf8(foreign))) << text.toStdString();
    }
    EXPECT_EQ(general.findChild<QPushButton*>(QStringLiteral("allowAccessibility")), nullptr);

    ClipStore store(dir / "history");
    store.addText("one", "test");
    const struct {
        QString shown, expected;
    } changed[] = {
        {store.message(), QStringLiteral("Saved text \u00B7 1 item")},
        {PanelHeader::countText(1), QStringLiteral("1 item")},
        {PanelHeader::countText(2), QStringLiteral("2 items")},
        {ScreenshotSettingsView::delayLabel(1), QStringLiteral("Capture delay: 1 second")},
        {QString::fromUtf8(CaptureError::message(CaptureError::Kind::permissionDenied)),
         QStringLiteral("Screen capture needs an X11 display. Run Brevalto in an X11 session, then retry.")},
    };
    for (const auto& c : changed) EXPECT_EQ(c.shown, c.expected);
}

TEST(SettingsWindow, HasItsTitleAndTabsInOrder) {
    SettingsWindow window;
    for (const char* name : {"General", "Shortcuts", "Screenshots", "AI", "Upload", "Cloudflare"})
        window.addTab(SettingsWindow::placeholderPage(name), name, "gearshape");
    window.present();
    EXPECT_EQ(window.windowTitle(), QStringLiteral("Brevalto Settings"));
    QStringList tabs;
    for (int i = 0; i < window.tabs()->count(); ++i) tabs << window.tabs()->tabText(i);
    EXPECT_EQ(tabs, (QStringList{"General", "Shortcuts", "Screenshots", "AI", "Upload", "Cloudflare"}));
    EXPECT_EQ(window.centralWidget()->size(), QSize(620, 580));
    window.close();
    EXPECT_FALSE(window.isVisible());
    window.present();
    EXPECT_TRUE(window.isVisible());

    // Closing only hides it: it comes back where the user left it, not centred again.
    window.move(window.pos() + QPoint(40, 30));
    const QPoint moved = window.pos();
    window.close();
    window.present();
    EXPECT_EQ(window.pos(), moved);
}

TEST(SettingsWindow, TheWheelChangesOnlyAFocusedControlAndOtherwiseScrollsThePage) {
    NoDialogs dialogs;
    Defaults defaults;
    SettingsWindow window;
    auto* page = new ScreenshotSettingsView(defaults, dialogs);
    window.addTab(page, "Screenshots", "camera.viewfinder");
    window.present();
    window.setFixedSize(620, 200);  // shorter than the page
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    QScrollBar* bar = qobject_cast<QScrollArea*>(window.tabs()->currentWidget())->verticalScrollBar();
    ASSERT_GT(bar->maximum(), 0);
    const auto wheelDown = [](QWidget* target) {
        const QPointF at(target->width() / 2.0, target->height() / 2.0);
        QWheelEvent wheel(at, target->mapToGlobal(at), {}, QPoint(0, -120), Qt::NoButton, Qt::NoModifier,
                          Qt::NoScrollPhase, false);
        QCoreApplication::sendEvent(target, &wheel);
    };

    // A combo box, a spin box and a decimal spin box, each away from its ends.
    const std::pair<const char*, double> controls[] = {
        {"captureBackground", 1}, {"captureDelay", 5}, {"thumbnailTimeout", 10}};
    for (const auto& [name, start] : controls) {
        SCOPED_TRACE(name);
        QWidget* control = find<QWidget>(*page, name);
        const char* property = qobject_cast<QComboBox*>(control) ? "currentIndex" : "value";
        control->setProperty(property, start);
        window.tabs()->setFocus();
        bar->setValue(0);
        wheelDown(control);
        EXPECT_EQ(control->property(property).toDouble(), start);
        EXPECT_GT(bar->value(), 0);

        control->setFocus();
        ASSERT_TRUE(control->hasFocus());
        wheelDown(control);
        EXPECT_NE(control->property(property).toDouble(), start);
    }
}

}  // namespace
}  // namespace brevalto
