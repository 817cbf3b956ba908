#include "App/AppDelegate.h"

#include "App/GeneralSettingsPage.h"
#include "App/SettingsWindow.h"
#include "Automation/AutomationAlertPrompt.h"
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
#include "Platform/Screens.h"
#include "Platform/Symbols.h"
#include "Platform/Task.h"
#include "Upload/S3UploadController.h"
#include "Workflow/ScreenshotWorkflow.h"

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QMenuBar>
#include <QMetaObject>
#include <QTimer>
#include <QWindow>

namespace brevalto {

namespace {

// Sends an edit command to the widget that has the keyboard (a text field, mostly).
void sendToFocus(const char* slot) {
    if (QWidget* focus = QApplication::focusWidget()) QMetaObject::invokeMethod(focus, slot);
}

}  // namespace

AppDelegate::AppDelegate(AppEnvironment environment, QObject* parent)
    : QObject(parent),
      env_(std::move(environment)),
      shortcuts_(std::make_unique<GlobalShortcuts>(*env_.platform.defaults, *env_.platform.hotKeys)) {}

AppDelegate::~AppDelegate() {
    // The panel and the workflow refer to the store and the monitor: take them down first.
    preferences_.reset();
    screenshots_.reset();
    controller_.reset();
    monitor_.reset();
}

void AppDelegate::applicationDidFinishLaunching() {
    Defaults& defaults = *env_.platform.defaults;

    // 1. The main menu.
    buildMainMenu();
    // 2. Registered defaults.
    defaults.registerDefaults({{"hoverOpen", true}, {"hotKeyCode", 49}});
    // 3. The history.
    store_ = std::make_unique<ClipStore>(env_.dataFolder, *env_.platform.clock);
    // 4. The clipboard monitor; what is on the clipboard now is never recorded.
    monitor_ = std::make_unique<ClipboardMonitor>(*store_, *env_.platform.pasteboard, *env_.platform.apps, defaults);
    // 5. The notch panel.
    controller_ = std::make_unique<PanelController>(*store_, *monitor_, *env_.platform.screens, *env_.platform.apps, defaults);
    if (env_.platform.keyboard) controller_->setKeyboard(*env_.platform.keyboard);
    if (NotchPanel* panel = controller_->panel()) panel->addActions({settingsAction_, quitAction_});
    // 6. The screenshot workflow, which the panel holds weakly.
    screenshots_ = std::make_unique<ScreenshotWorkflow>(*store_, *monitor_, *controller_, defaults);
    controller_->setScreenshots(screenshots_.get());
    // 7. Uploads, with their history beside the clip history.
    uploads_ = std::make_unique<S3UploadController>(env_.platform.pasteboard, defaults,
                                                    S3UploadController::defaultKeychainService(),
                                                    store_->root() / "uploads.json");
    screenshots_->uploads = uploads_.get();
    // 8. Automation requests; their confirmation shows above the panel.
    dispatcher_ = std::make_unique<AutomationDispatcher>(
        env_.prompt ? std::move(env_.prompt) : std::make_unique<AutomationAlertPrompt>(controller_->panel()));
    screenshots_->setDispatcher(dispatcher_.get());
    QPointer<AppDelegate> self(this);
    dispatcher_->setOnRequest([self](const AutomationRequest& request) {
        if (!self) throw AutomationFailure(AutomationFailure::Kind::notReady);
        self->handleAutomation(request);
    });
    // 9. Global hot keys.
    shortcuts_->onAction = [self](ShortcutAction action) {
        if (self) self->handleShortcut(action);
    };
    shortcuts_->installHotKeyHandler();
    // 10-11. Retention now and every minute.
    applyRetention();
    retentionTimer_ = new QTimer(this);
    retentionTimer_->setInterval(static_cast<int>(kRetentionInterval * 1000));
    connect(retentionTimer_, &QTimer::timeout, this, [self] {
        if (self) self->applyRetention();
    });
    retentionTimer_->start();
    // 12. Stale scrolling-capture folders; whatever goes wrong here is left for next time. It
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
    // 13. Start watching the clipboard.
    monitor_->start();
}

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

    // Text fields bring these keys themselves; the menu names them and sends them to the
    // focused widget.
    editMenu_ = new QMenu(QStringLiteral("Edit"));
    struct EditItem {
        const char* title;
        QKeySequence::StandardKey key;
        const char* slot;
    };
    static constexpr EditItem items[] = {
        {"Undo", QKeySequence::Undo, "undo"},         {"Redo", QKeySequence::Redo, "redo"},
        {"Cut", QKeySequence::Cut, "cut"},            {"Copy", QKeySequence::Copy, "copy"},
        {"Paste", QKeySequence::Paste, "paste"},      {"Select All", QKeySequence::SelectAll, "selectAll"},
    };
    for (const auto& item : items) {
        QAction* action = editMenu_->addAction(QString::fromUtf8(item.title));
        action->setShortcut(QKeySequence(item.key));
        action->setShortcutContext(Qt::WidgetShortcut);  // the field's own key handling wins
        const char* slot = item.slot;
        connect(action, &QAction::triggered, this, [slot] { sendToFocus(slot); });
    }
    connect(this, &QObject::destroyed, appMenu_, &QObject::deleteLater);
    connect(this, &QObject::destroyed, editMenu_, &QObject::deleteLater);
}

void AppDelegate::buildSettingsWindow() {
    preferences_ = std::make_unique<SettingsWindow>();
    auto* bar = new QMenuBar(preferences_.get());
    bar->addMenu(appMenu_);
    bar->addMenu(editMenu_);
    preferences_->setMenuBar(bar);
    preferences_->addActions({settingsAction_, quitAction_});

    auto* general = new GeneralSettingsPage(*env_.platform.defaults, env_.login,
                                            [this](bool shown) { applyTaskbarPolicy(shown); });
    preferences_->addTab(general, QStringLiteral("General"), QStringLiteral("gearshape"));
    preferences_->addTab(new GlobalShortcutSettings(*shortcuts_), QStringLiteral("Shortcuts"), QStringLiteral("keyboard"));
    const struct {
        const char* name;
        const char* symbol;
    } later[] = {{"Screenshots", "camera.viewfinder"},
                 {"AI", "sparkles"},
                 {"Upload", "icloud.and.arrow.up"},
                 {"Cloudflare", "cloud"}};
    for (const auto& tab : later)
        preferences_->addTab(SettingsWindow::placeholderPage(QString::fromUtf8(tab.name)), QString::fromUtf8(tab.name),
                             QString::fromUtf8(tab.symbol));
    QTabWidget* tabs = preferences_->tabs();
    for (int i = 0; i < tabs->count(); ++i)
        tabs->setTabIcon(i, Symbols::icon(tabs->widget(i)->property("symbol").toString(),
                                          tabs->palette().color(QPalette::WindowText)));
    preferences_->winId();
    applyTaskbarPolicy(env_.platform.defaults->boolValue(kShowInDock));
}

void AppDelegate::applyTaskbarPolicy(bool shown) {
    if (!preferences_ || !env_.platform.screens) return;
    if (QWindow* window = preferences_->windowHandle()) env_.platform.screens->setShownInTaskbar(window, shown);
}

void AppDelegate::applicationWillTerminate() {
    shortcuts_->unregisterAll();
    if (screenshots_) screenshots_->cancel();
    if (uploads_) uploads_->cancelRunningOperation();
    if (store_) store_->flush();  // the last change reaches the disk before the process ends
}

void AppDelegate::openURLs(const QStringList& urls) {
    if (!store_ || !dispatcher_) return;
    if (urls.size() != 1) {
        store_->setMessage(QStringLiteral("Open one Brevalto URL at a time."));
        return;
    }
    try {
        const auto request = AutomationRequest::fromUrl(urls.front().toStdString());
        dispatcher_->dispatch(request, AutomationSource::url);
    } catch (const std::exception& e) {
        store_->setMessage(QString::fromUtf8(e.what()));
    }
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
    try {
        request.validate();
    } catch (const std::exception& e) {
        if (store_) store_->setMessage(QString::fromUtf8(e.what()));
        return;
    }
    if (!dispatcher_) return;
    try {
        dispatcher_->dispatch(request, AutomationSource::internal);
    } catch (const std::exception& e) {
        if (store_) store_->setMessage(QString::fromUtf8(e.what()));
    }
}

void AppDelegate::handleAutomation(const AutomationRequest& request) {
    if (request.command == AutomationRequest::Command::settings) {
        settings();
        return;
    }
    if (!screenshots_) throw AutomationFailure(AutomationFailure::Kind::notReady);
    screenshots_->handle(request);
}

void AppDelegate::handleShortcut(ShortcutAction action) {
    switch (action) {
        case ShortcutAction::openClipboard:
            if (controller_ && controller_->expanded())
                controller_->collapsePanel();
            else
                open(AutomationRequest::Command::history);
            return;
        case ShortcutAction::editor:
            open(AutomationRequest::Command::editor);
            return;
        case ShortcutAction::append:
            if (screenshots_) screenshots_->run(ScreenshotCommand::region, true);
            return;
        default:
            if (const auto command = screenshotCommandFromRaw(rawValue(action)); command && screenshots_)
                screenshots_->run(*command, false);
    }
}

void AppDelegate::applyRetention() {
    if (!store_) return;
    store_->prune(env_.platform.clock->now(), env_.platform.defaults->doubleValue(kHistoryRetention));
}

}  // namespace brevalto
