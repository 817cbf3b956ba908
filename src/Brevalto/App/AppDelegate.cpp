#include "App/AppDelegate.h"

#include "AI/ClaudeSettingsView.h"
#include "App/GeneralSettingsPage.h"
#include "App/SettingsWindow.h"
#include "Automation/AutomationFailure.h"
#include "Automation/GlobalShortcutSettings.h"
#include "Capture/ScreenshotCommand.h"
#include "Capture/ScrollStitcher.h"
#include "Clipboard/ClipStore.h"
#include "Clipboard/ClipboardMonitor.h"
#include "Panel/NotchPanel.h"
#include "Panel/PanelController.h"
#include "Platform/Clock.h"
#include "Platform/Defaults.h"
#include "Platform/ModalAbovePanel.h"
#include "Platform/ScreenCapture.h"
#include "Platform/Screens.h"
#include "Platform/Symbols.h"
#include "Platform/Task.h"
#include "Upload/CloudflareSettingsView.h"
#include "Upload/S3SettingsView.h"
#include "Upload/S3UploadController.h"
#include "Workflow/ScreenshotPinController.h"
#include "Workflow/ScreenshotSettingsView.h"
#include "Workflow/ScreenshotWorkflow.h"
#include "Workflow/WorkflowDialogs.h"

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QMetaObject>
#include <QPointer>
#include <QTimer>
#include <QWindow>

#include <stdexcept>

namespace brevalto {

AppDelegate::AppDelegate(AppEnvironment environment, QObject* parent)
    : QObject(parent), env_(std::move(environment)) {
    QPointer<AppDelegate> self(this);
    shortcuts_ = std::make_unique<GlobalShortcuts>(*env_.platform.defaults, *env_.platform.hotKeys,
                                                   [self](ShortcutAction action) {
                                                       if (self) self->handleShortcut(action);
                                                   });
}

// Members go in reverse order: the settings window, then the long-lived objects, then the keys.
AppDelegate::~AppDelegate() = default;

void AppDelegate::applicationDidFinishLaunching() {
    buildMainMenu();
    env_.platform.defaults->registerDefaults({{"hoverOpen", true}, {"hotKeyCode", 49}});
    QPointer<AppDelegate> self(this);
    // The keys are grabbed before the panel maps: a press as soon as it shows waits in the queue
    // until the services below are ready, instead of reaching no one.
    shortcuts_->installHotKeyHandler();
    services_ = std::make_unique<AppServices>(env_, [self](const AutomationRequest& request) {
        if (!self) throw AutomationFailure(AutomationFailure::Kind::notReady);
        self->handleAutomation(request);
    });
    services_->controller().setQuitHandler([self] {
        if (self) self->quit();
    });
    if (NotchPanel* panel = services_->controller().panel()) panel->addActions({settingsAction_, quitAction_});
    // Retention now and every minute.
    applyRetention();
    retentionTimer_ = new QTimer(this);
    retentionTimer_->setInterval(static_cast<int>(kRetentionInterval * 1000));
    connect(retentionTimer_, &QTimer::timeout, this, [self] {
        if (self) self->applyRetention();
    });
    retentionTimer_->start();
    // Stale scrolling-capture folders; whatever goes wrong here is left for next time. It
    // starts right after the first frame and deletes on a worker thread, so that neither
    // start-up nor the panel waits on the disk (a left-over capture may hold many strips).
    QTimer::singleShot(0, this, [self] {
        if (!self) return;
        std::filesystem::path root;
        try {
            root = self->env_.stagingRoot ? *self->env_.stagingRoot : ScrollStitcher::stagingRoot();
        } catch (const std::exception&) {
            return;
        }
        const Date now = self->env_.platform.clock->now();
        Task::run(
            self.data(), [root, now](std::stop_token) { return ScrollStitcher::removeStaleStaging(root, now); },
            [](TaskResult<int>&) {});
    });
    // Start watching the clipboard.
    services_->monitor().start();
    // A history that cannot be loaded records nothing: say so once, in a way nobody misses.
    if (services_->store().loadFailure()) {
        QTimer::singleShot(0, this, [self] {
            if (self) self->offerNewHistory();
        });
    }
}

namespace {

bool askToStartNewHistory(const QString& file, const QString& reason) {
    QMessageBox alert;
    alert.setIcon(QMessageBox::Warning);
    alert.setWindowTitle(QStringLiteral("Brevalto"));
    alert.setText(QStringLiteral("The clipboard history could not be loaded"));
    alert.setInformativeText(
        QStringLiteral("%1 could not be read: %2\n\nThe file is kept as it is, and nothing you copy is recorded "
                       "until you start a new history. A new history moves the file aside as \"%3\" followed by "
                       "the time, and keeps every image.")
            .arg(file, reason, QString::fromUtf8(ClipStore::kIndexFileName) + QString::fromUtf8(ClipStore::kUnreadableSuffix)));
    QPushButton* start = alert.addButton(QStringLiteral("Start a new history"), QMessageBox::AcceptRole);
    QPushButton* keep = alert.addButton(QStringLiteral("Keep Read-Only"), QMessageBox::RejectRole);
    alert.setDefaultButton(keep);
    alert.setEscapeButton(keep);
    runModalAbovePanel(alert);
    return alert.clickedButton() == start;
}

}  // namespace

void AppDelegate::offerNewHistory() {
    ClipStore& store = services_->store();
    if (!store.loadFailure()) return;
    const QString file = QString::fromStdString((store.root() / ClipStore::kIndexFileName).string());
    const bool start = env_.historyAlert ? env_.historyAlert(file, *store.loadFailure())
                                         : askToStartNewHistory(file, *store.loadFailure());
    if (!start) return;
    try {
        store.startNewHistory();
    } catch (const std::exception& e) {
        store.setMessage(QStringLiteral("Could not start a new history: ") + QString::fromUtf8(e.what()));
    }
}

// Linux desktops mostly have no global menu bar: the main menu's actions are keys of every window
// of ours (the panel, the settings window), and text fields bring the Edit keys themselves.
void AppDelegate::buildMainMenu() {
    appMenu_ = new QMenu(QStringLiteral("Brevalto"));
    appMenu_->setParent(nullptr);
    settingsAction_ = appMenu_->addAction(QStringLiteral("Settings\u2026"), this, &AppDelegate::settings);
    settingsAction_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Comma));
    settingsAction_->setShortcutContext(Qt::ApplicationShortcut);
    settingsAction_->setObjectName(QStringLiteral("menu-settings"));
    appMenu_->addSeparator();
    quitAction_ = appMenu_->addAction(QStringLiteral("Quit Brevalto"), this, &AppDelegate::quit);
    quitAction_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    quitAction_->setShortcutContext(Qt::ApplicationShortcut);
    quitAction_->setObjectName(QStringLiteral("menu-quit"));

    connect(this, &QObject::destroyed, appMenu_, &QObject::deleteLater);
}

void AppDelegate::buildSettingsWindow() {
    preferences_ = std::make_unique<SettingsWindow>();
    // No menu bar: the main menu's keys work in this window as in the panel.
    preferences_->addActions({settingsAction_, quitAction_});

    auto* general = new GeneralSettingsPage(*env_.platform.defaults, env_.login,
                                            [this](bool shown) { applyTaskbarPolicy(shown); });
    preferences_->addTab(general, QStringLiteral("General"), QStringLiteral("gearshape"));
    preferences_->addTab(new GlobalShortcutSettings(*shortcuts_), QStringLiteral("Shortcuts"), QStringLiteral("keyboard"));
    preferences_->addTab(new ScreenshotSettingsView(*env_.platform.defaults, WorkflowDialogs::system()),
                         QStringLiteral("Screenshots"), QStringLiteral("camera.viewfinder"));
    ClaudeService* claude = services_ ? services_->claude() : nullptr;
    preferences_->addTab(claude ? static_cast<QWidget*>(new ClaudeSettingsView(*env_.platform.defaults, *claude))
                                : SettingsWindow::placeholderPage(QStringLiteral("AI")),
                         QStringLiteral("AI"), QStringLiteral("sparkles"));
    const struct {
        const char* name;
        const char* symbol;
    } plainTabs[] = {{"Upload", "icloud.and.arrow.up"},
                     {"Cloudflare", "cloud"}};
    for (const auto& tab : plainTabs) {
        const QString name = QString::fromUtf8(tab.name);
        QWidget* page = !services_ ? SettingsWindow::placeholderPage(name)
                        : name == QLatin1String("Upload")
                            ? static_cast<QWidget*>(new S3SettingsView(services_->uploads()))
                            : new CloudflareSettingsView(services_->uploads(), *env_.platform.defaults);
        preferences_->addTab(page, name, QString::fromUtf8(tab.symbol));
    }
    QTabWidget* tabs = preferences_->tabs();
    for (int i = 0; i < tabs->count(); ++i)
        tabs->setTabIcon(i, Symbols::icon(tabs->widget(i)->property("symbol").toString(),
                                          tabs->palette().color(QPalette::WindowText)));
    preferences_->winId();
    applyTaskbarPolicy(env_.platform.defaults->boolValue(kShowInDock));
}

void AppDelegate::applyTaskbarPolicy(bool shown) {
    if (services_) services_->screenshots().pins()->applyTaskbarPolicy(shown);
    if (!preferences_ || !env_.platform.screens) return;
    if (QWindow* window = preferences_->windowHandle()) env_.platform.screens->setShownInTaskbar(window, shown);
}

void AppDelegate::applicationWillTerminate() {
    shortcuts_->unregisterAll();
    if (!services_) return;
    services_->screenshots().cancel();
    services_->uploads().cancelRunningOperation();
    services_->store().flush();  // the last change reaches the disk before the process ends
}

void AppDelegate::openURLs(const QStringList& urls) {
    if (!services_) return;
    try {
        services_->dispatcher().dispatch(requestFromURLs(urls), AutomationSource::url);
    } catch (const std::exception& e) {
        services_->store().setMessage(QString::fromUtf8(e.what()));
    }
}

AutomationRequest AppDelegate::requestFromURLs(const QStringList& urls) {
    if (urls.size() != 1) throw std::runtime_error("Open one Brevalto URL at a time.");
    return AutomationRequest::fromUrl(urls.front().toStdString());
}

QString AppDelegate::refusalOfURLs(const QStringList& urls) const {
    try {
        const AutomationRequest request = requestFromURLs(urls);
        if (!services_) throw AutomationFailure(AutomationFailure::Kind::notReady);
        services_->dispatcher().check(request);
    } catch (const std::exception& e) {
        return QString::fromUtf8(e.what());
    }
    return {};
}

void AppDelegate::settings() {
    if (!preferences_) buildSettingsWindow();
    preferences_->present();
}

void AppDelegate::quit() { emit quitRequested(); }

void AppDelegate::toggle() { handleShortcut(ShortcutAction::openClipboard); }

void AppDelegate::open(AutomationRequest::Command command) {
    AutomationRequest request;
    request.command = command;
    request.mode = command == AutomationRequest::Command::ocr ? AutomationCaptureMode::ocr : AutomationCaptureMode::region;
    if (!services_) return;
    try {
        request.validate();
        services_->dispatcher().dispatch(request, AutomationSource::internal);
    } catch (const std::exception& e) {
        services_->store().setMessage(QString::fromUtf8(e.what()));
    }
}

void AppDelegate::handleAutomation(const AutomationRequest& request) {
    if (request.command == AutomationRequest::Command::settings) {
        settings();
        return;
    }
    if (!services_) throw AutomationFailure(AutomationFailure::Kind::notReady);
    services_->screenshots().handle(request);
}

void AppDelegate::handleShortcut(ShortcutAction action) {
    switch (action) {
        case ShortcutAction::openClipboard:
            if (services_ && services_->controller().expanded())
                services_->controller().collapsePanel();
            else
                open(AutomationRequest::Command::history);
            return;
        case ShortcutAction::editor:
            open(AutomationRequest::Command::editor);
            return;
        case ShortcutAction::append:
            if (services_) services_->screenshots().run(ScreenshotCommand::region, true);
            return;
        default:
            if (const auto command = screenshotCommandFromRaw(rawValue(action)); command && services_)
                services_->screenshots().run(*command, false);
    }
}

void AppDelegate::applyRetention() {
    if (!services_) return;
    services_->store().prune(env_.platform.clock->now(), env_.platform.defaults->doubleValue(kHistoryRetention));
}

}  // namespace brevalto
