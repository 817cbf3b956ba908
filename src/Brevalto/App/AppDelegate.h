#pragma once

#include "App/AppEnvironment.h"
#include "App/AppServices.h"
#include "Automation/AutomationRequest.h"
#include "Automation/GlobalShortcuts.h"

#include <QObject>

#include <memory>

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

// The application's delegate: runs the launch steps (the menus, the registered defaults, the app's
// long-lived objects through AppServices, hot keys, retention, the clipboard watch), receives
// "brevalto:" links, and runs the quit steps.
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
    // The request of the links given to `brevalto`; throws the refusal's sentence unless they are
    // exactly one valid "brevalto:" link.
    static AutomationRequest requestFromURLs(const QStringList& urls);
    // The sentence with which opening these links fails before any confirmation (a bad link, a
    // request already waiting, an app not ready), or an empty string when they go ahead.
    QString refusalOfURLs(const QStringList& urls) const;

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

    // The long-lived objects; null before launching.
    ClipStore* store() const { return services_ ? &services_->store() : nullptr; }
    ClipboardMonitor* monitor() const { return services_ ? &services_->monitor() : nullptr; }
    PanelController* controller() const { return services_ ? &services_->controller() : nullptr; }
    ScreenshotWorkflow* screenshots() const { return services_ ? &services_->screenshots() : nullptr; }
    S3UploadController* uploads() const { return services_ ? &services_->uploads() : nullptr; }
    AutomationDispatcher* dispatcher() const { return services_ ? &services_->dispatcher() : nullptr; }
    SettingsWindow* preferences() const { return preferences_.get(); }
    GlobalShortcuts& shortcuts() { return *shortcuts_; }
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
    void offerNewHistory();
    void buildSettingsWindow();

    AppEnvironment env_;
    std::unique_ptr<GlobalShortcuts> shortcuts_;
    std::unique_ptr<AppServices> services_;
    std::unique_ptr<SettingsWindow> preferences_;
    QTimer* retentionTimer_ = nullptr;
    QMenu* appMenu_ = nullptr;
    QAction* settingsAction_ = nullptr;
    QAction* quitAction_ = nullptr;
};

}  // namespace brevalto
