#pragma once

#include "App/LaunchAtLogin.h"
#include "Automation/AutomationDispatcher.h"
#include "Automation/AutomationRequest.h"
#include "Automation/GlobalShortcuts.h"
#include "Platform/Platform.h"

#include <QObject>
#include <QPointer>

#include <filesystem>
#include <memory>
#include <optional>

class QAction;
class QMenu;
class QTimer;

namespace brevalto {

class ClipStore;
class ClipboardMonitor;
class PanelController;
class S3UploadController;
class ScreenshotWorkflow;
class SettingsWindow;

// What the app is started with. main fills it with the real services; tests with fakes and
// private folders.
struct AppEnvironment {
    Platform platform;                                // defaults, clock, pasteboard, apps, screens, hot keys
    std::optional<std::filesystem::path> dataFolder;  // none: $XDG_DATA_HOME/brevalto
    std::optional<std::filesystem::path> stagingRoot; // none: the scroll staging root
    std::unique_ptr<AutomationPrompt> prompt;         // none: an alert above the panel
    LaunchAtLogin login{{}, {}};  // main sets the user's; tests a private one
};

// The application's delegate: builds the menus, creates the app's long-lived objects in a fixed
// order and wires them together, receives "brevalto:" links, and shuts things down on quit.
class AppDelegate : public QObject {
    Q_OBJECT
public:
    // Creates the global shortcuts, which read their bindings now (before the registered
    // defaults exist); nothing else runs before launching.
    explicit AppDelegate(AppEnvironment environment, QObject* parent = nullptr);
    ~AppDelegate() override;

    void applicationDidFinishLaunching();
    void applicationWillTerminate();
    // The URL step: exactly one "brevalto:" URL at a time.
    void openURLs(const QStringList& urls);

    // Menu actions.
    void settings();
    void quit();
    void toggle();

    // Runs one command as an internal request; failures end in the store's message.
    void open(AutomationRequest::Command command);
    // The dispatcher's handler: opens the settings itself and passes every other request on.
    void handleAutomation(const AutomationRequest& request);
    // The hot keys' handler.
    void handleShortcut(ShortcutAction action);
    // Prunes the history by the "historyRetention" setting.
    void applyRetention();

    ClipStore* store() const { return store_.get(); }
    ClipboardMonitor* monitor() const { return monitor_.get(); }
    PanelController* controller() const { return controller_.get(); }
    ScreenshotWorkflow* screenshots() const { return screenshots_.get(); }
    S3UploadController* uploads() const { return uploads_.get(); }
    SettingsWindow* preferences() const { return preferences_.get(); }
    GlobalShortcuts& shortcuts() { return *shortcuts_; }
    AutomationDispatcher* dispatcher() const { return dispatcher_.get(); }
    QTimer* retentionTimer() const { return retentionTimer_; }
    QMenu* appMenu() const { return appMenu_; }

    // Shows or hides our windows in the taskbar ("showInDock").
    void applyTaskbarPolicy(bool shown);

    static constexpr const char* kShowInDock = "showInDock";
    static constexpr const char* kHistoryRetention = "historyRetention";
    static constexpr double kRetentionInterval = 60.0;

signals:
    void quitRequested();

private:
    void buildMainMenu();
    void buildSettingsWindow();

    AppEnvironment env_;
    std::unique_ptr<AutomationDispatcher> dispatcher_;
    std::unique_ptr<ClipStore> store_;
    std::unique_ptr<ClipboardMonitor> monitor_;
    std::unique_ptr<PanelController> controller_;
    std::unique_ptr<ScreenshotWorkflow> screenshots_;
    std::unique_ptr<SettingsWindow> preferences_;
    std::unique_ptr<GlobalShortcuts> shortcuts_;
    std::unique_ptr<S3UploadController> uploads_;
    QTimer* retentionTimer_ = nullptr;
    QMenu* appMenu_ = nullptr;
    QAction* settingsAction_ = nullptr;
    QAction* quitAction_ = nullptr;
};

}  // namespace brevalto
