#include "App/AppDelegate.h"
#include "App/SettingsWindow.h"
#include "Automation/AutomationFailure.h"
#include "Automation/AutomationPrompt.h"
#include "Automation/GlobalShortcuts.h"
#include "ClipCore/Uuid.h"
#include "Clipboard/ClipStore.h"
#include "Clipboard/ClipboardMonitor.h"
#include "Panel/NotchPanel.h"
#include "Panel/PanelController.h"
#include "Platform/AtomicFile.h"
#include "Platform/Defaults.h"
#include "Upload/S3UploadController.h"
#include "Workflow/ScreenshotWorkflow.h"

#include "Capture/CaptureError.h"
#include "FakeApps.h"
#include "FakeClock.h"
#include "FakeHotKeys.h"
#include "FakePasteboard.h"
#include "FakeScreenCapture.h"
#include "FakeScreens.h"
#include "QtWait.h"
#include "TestFolder.h"

#include <QAction>
#include <QAbstractButton>
#include <QRegularExpression>
#include <QLineEdit>
#include <QLabel>
#include <QGroupBox>
#include <QComboBox>
#include <QBuffer>
#include <QApplication>
#include <QMenuBar>
#include <QSignalSpy>
#include <QTest>
#include <QMenu>
#include <QTabWidget>
#include <QTimer>

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

namespace brevalto {
namespace {

namespace fs = std::filesystem;

class CountingPrompt final : public AutomationPrompt {
public:
    explicit CountingPrompt(int* asked, bool answer) : asked_(asked), answer_(answer) {}
    bool confirm(const AutomationRequest&) override {
        ++*asked_;
        return answer_;
    }

private:
    int* asked_;
    bool answer_;
};

class AppDelegateTest : public ::testing::Test {
protected:
    void SetUp() override {
        screens.setScreens({FakeScreens::screen("main", 0, 0, 1440, 900)});
        screens.setPrimaryHeight(900);
        screens.setMouse({700, 100});
    }

    std::unique_ptr<AppDelegate> make(bool allow = true) {
        AppEnvironment env;
        env.platform.defaults = &defaults;
        env.platform.clock = &clock;
        env.platform.pasteboard = &pasteboard;
        env.platform.apps = &apps;
        env.platform.screens = &screens;
        env.platform.screenCapture = &screenCapture;
        env.platform.hotKeys = &hotKeys;
        env.dataFolder = folder / "data";
        env.stagingRoot = folder / "staging";
        env.prompt = std::make_unique<CountingPrompt>(&asked, allow);
        env.login = LaunchAtLogin(folder / "autostart", folder / "data", "/usr/bin/brevalto");
        env.historyAlert = historyAlert;
        return std::make_unique<AppDelegate>(std::move(env));
    }

    TestFolder folder;
    FakeClock clock;
    Defaults defaults;
    FakePasteboard pasteboard;
    FakeApps apps;
    FakeScreens screens;
    FakeScreenCapture screenCapture;
    FakeHotKeys hotKeys;
    int asked = 0;
    std::function<bool(const QString&, const QString&)> historyAlert;
};

TEST_F(AppDelegateTest, LaunchingWiresEverythingAndRegistersTheDefaults) {
    pasteboard.copyText("on the clipboard before the start");
    auto app = make();
    EXPECT_EQ(app->store(), nullptr);
    app->applicationDidFinishLaunching();

    ASSERT_NE(app->store(), nullptr);
    EXPECT_EQ(app->store()->root(), folder / "data");
    EXPECT_EQ(app->controller()->screenshots(), app->screenshots());
    EXPECT_EQ(app->screenshots()->uploads(), app->uploads());
    EXPECT_TRUE(app->screenshots()->uploadsAvailable());
    EXPECT_EQ(app->uploads()->historyFile(), folder / "data" / "uploads.json");
    EXPECT_EQ(app->uploads()->keychainService(), "app.brevalto.S3");
    // The dispatcher hands requests to the delegate, and hot keys reach it.
    ASSERT_NE(app->dispatcher(), nullptr);
    AutomationRequest history;
    history.command = AutomationRequest::Command::history;
    EXPECT_TRUE(app->dispatcher()->dispatch(history, AutomationSource::internal));
    EXPECT_TRUE(app->controller()->expanded());
    app->shortcuts().fire(0);  // openClipboard
    EXPECT_FALSE(app->controller()->expanded());
    EXPECT_TRUE(hotKeys.installed());
    EXPECT_EQ(hotKeys.registered, (std::map<std::uint32_t, FakeHotKeys::Binding>{{1, {49, 768}}, {2, {19, 4864}}}));
    ASSERT_NE(app->retentionTimer(), nullptr);
    EXPECT_TRUE(app->retentionTimer()->isActive());
    EXPECT_EQ(app->retentionTimer()->interval(), 60000);

    EXPECT_TRUE(defaults.boolValue("hoverOpen"));
    EXPECT_EQ(defaults.integer("hotKeyCode"), 49);
    EXPECT_FALSE(defaults.boolValue("showInDock"));

    // What was on the clipboard at the start is not recorded; the next copy is.
    app->monitor()->poll();
    QCoreApplication::processEvents();
    pasteboard.deliver();
    EXPECT_TRUE(app->store()->items().empty());
    pasteboard.copyText("copied after the start");
    ASSERT_TRUE(waitUntil([&] {
        pasteboard.deliver();
        return app->store()->items().size() == 1;
    }));
    EXPECT_EQ(app->store()->items().front().text, "copied after the start");

    // The main menu.
    QStringList titles;
    for (QAction* action : app->appMenu()->actions()) titles << action->text();
    EXPECT_EQ(titles, (QStringList{QStringLiteral("Settings\u2026"), QString(), QStringLiteral("Quit Brevalto")}));
    EXPECT_EQ(app->appMenu()->actions().front()->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_Comma));
    EXPECT_EQ(app->appMenu()->actions().back()->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_Q));
}

TEST_F(AppDelegateTest, TheMainMenusKeysWorkInEveryWindowAndTheSettingsWindowHasNoMenuBar) {
    auto app = make();
    app->applicationDidFinishLaunching();
    QSignalSpy quit(app.get(), &AppDelegate::quitRequested);

    // Ctrl+, in the panel opens the settings.
    QWidget* panel = app->controller()->panel();
    app->controller()->makeKeyAndOrderFront();
    QApplication::setActiveWindow(panel);
    QTest::keyClick(panel, Qt::Key_Comma, Qt::ControlModifier);
    ASSERT_NE(app->preferences(), nullptr);
    SettingsWindow* settings = app->preferences();
    EXPECT_TRUE(settings->isVisible());
    EXPECT_EQ(settings->menuWidget(), nullptr);
    EXPECT_EQ(settings->findChild<QMenuBar*>(), nullptr);
    EXPECT_EQ(settings->size(), QSize(620, 580));

    // In the settings window, Ctrl+, keeps the one window; Ctrl+Q quits.
    QApplication::setActiveWindow(settings);
    QTest::keyClick(settings, Qt::Key_Comma, Qt::ControlModifier);
    EXPECT_EQ(app->preferences(), settings);
    EXPECT_TRUE(settings->isVisible());
    EXPECT_EQ(quit.count(), 0);
    QTest::keyClick(settings, Qt::Key_Q, Qt::ControlModifier);
    EXPECT_EQ(quit.count(), 1);
}

// Every text the app shows (labels, buttons, menus, help, accessibility labels, choices) in the
// panel with its cards and menus, and on every settings page, is written for this desktop: no
// keys, places or permissions of another platform, and counts agree with their number.
TEST_F(AppDelegateTest, EveryTextIsWrittenForThisDesktop) {
    auto app = make();
    app->applicationDidFinishLaunching();
    app->store()->addText("one clip", "test");
    std::optional<Clip> image;
    QImage picture(40, 20, QImage::Format_RGB32);
    picture.fill(Qt::blue);
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    picture.save(&buffer, "PNG");
    app->store()->addImage(png, "test", 1.0, {}, [&](auto c) { image = c; });
    ASSERT_TRUE(waitUntil([&] { return image.has_value(); }));
    app->controller()->makeKeyAndOrderFront();
    QTest::keyClick(app->controller()->panel(), Qt::Key_Comma, Qt::ControlModifier);
    ASSERT_NE(app->preferences(), nullptr);
    for (int i = 0; i < app->preferences()->tabs()->count(); ++i) {
        app->preferences()->tabs()->setCurrentIndex(i);  // pages may be made when first shown
        QCoreApplication::processEvents();
    }

    QStringList texts;
    const auto addAction = [&](const QAction* action) { texts << action->text() << action->toolTip(); };
    for (QWidget* window : QApplication::topLevelWidgets()) {
        QList<QWidget*> widgets = window->findChildren<QWidget*>();
        widgets << window;
        for (const QWidget* w : widgets) {
            texts << w->toolTip() << w->accessibleName() << w->accessibleDescription() << w->windowTitle();
            if (const auto* label = qobject_cast<const QLabel*>(w)) texts << label->text();
            if (const auto* button = qobject_cast<const QAbstractButton*>(w)) texts << button->text();
            if (const auto* box = qobject_cast<const QGroupBox*>(w)) texts << box->title();
            if (const auto* edit = qobject_cast<const QLineEdit*>(w)) texts << edit->placeholderText();
            if (const auto* combo = qobject_cast<const QComboBox*>(w))
                for (int i = 0; i < combo->count(); ++i) texts << combo->itemText(i);
            if (const auto* tabs = qobject_cast<const QTabWidget*>(w))
                for (int i = 0; i < tabs->count(); ++i) texts << tabs->tabText(i);
            for (const QAction* action : w->actions()) {
                addAction(action);
                if (action->menu())
                    for (const QAction* entry : action->menu()->actions()) addAction(entry);
            }
            if (const auto* menu = qobject_cast<const QMenu*>(w))
                for (const QAction* entry : menu->actions()) addAction(entry);
        }
    }
    EXPECT_GT(texts.size(), 200);
    const QRegularExpression foreign(QStringLiteral(
        "Accessibility|Screen Recording|Keychain|\\bOption\\b|\\bMac\\b|macOS|\u2318|\u2325|System Settings|"
        "Homebrew|Command-|\\bnotch\\b|\\(needs|\\b1 [a-z]+s\\b"));
    for (const QString& text : texts) EXPECT_FALSE(foreign.match(text).hasMatch()) << text.toStdString();
}

TEST_F(AppDelegateTest, TheShortcutsReadTheirBindingsWhenTheDelegateIsMade) {
    // A stored legacy key code serves the clipboard hot key.
    defaults.set("hotKeyCode", 4);
    auto app = make();
    EXPECT_EQ(app->shortcuts().bindings().at(ShortcutAction::openClipboard), (ShortcutBinding{4, 768}));

    // Settings that change after the delegate is made, the registered defaults of launching
    // included, are not read again.
    defaults.remove("hotKeyCode");
    defaults.setData("shortcut.region", R"({"keyCode":4,"modifiers":4352})");
    app->applicationDidFinishLaunching();
    EXPECT_EQ(app->shortcuts().bindings().at(ShortcutAction::openClipboard), (ShortcutBinding{4, 768}));
    EXPECT_EQ(app->shortcuts().bindings().at(ShortcutAction::region), (ShortcutBinding{19, 4864}));
}

// A history that cannot be loaded is said once a launch, naming the file; the answer decides
// whether the app records again (the file moved aside) or stays read-only (the file untouched).
TEST_F(AppDelegateTest, AnUnreadableHistoryIsAskedAboutOnceAndANewOneRecords) {
    const fs::path data = folder / "data";
    fs::create_directories(data);
    AtomicFile::write(data / "history.json", std::string_view("[{\"id\":"));
    for (const bool startNew : {false, true}) {  // the file kept read-only is still there to start anew
        SCOPED_TRACE(startNew);
        std::vector<QString> asked;
        historyAlert = [&](const QString& file, const QString&) {
            asked.push_back(file);
            return startNew;
        };
        auto owned = make();
        AppDelegate& app = *owned;
        app.applicationDidFinishLaunching();
        ASSERT_TRUE(waitUntil([&] { return !asked.empty(); }));
        QTest::qWait(50);
        ASSERT_EQ(asked.size(), 1u);
        EXPECT_EQ(asked[0], QString::fromStdString((data / "history.json").string()));
        EXPECT_EQ(app.store()->writable(), startNew);
        EXPECT_EQ(fs::exists(data / "history.json"), !startNew);
        pasteboard.copyText(startNew ? "recorded in the new history" : "not recorded");
        waitUntil(
            [&] {
                pasteboard.deliver();
                app.store()->flush();
                return !app.store()->items().empty();
            },
            startNew ? 3000 : 1000);
        EXPECT_EQ(app.store()->items().size(), startNew ? 1u : 0u);
    }
}

TEST_F(AppDelegateTest, RetentionPrunesAtLaunchAndOnEveryTick) {
    {
        ClipStore seed(folder / "data", clock);
        seed.addText("old", "test");
        clock.advance(1000);
        seed.addText("recent", "test");
    }
    clock.advance(10);
    defaults.set("historyRetention", 500.0);
    auto app = make();
    app->applicationDidFinishLaunching();
    app->store()->flush();
    ASSERT_EQ(app->store()->items().size(), 1u);
    EXPECT_EQ(app->store()->items().front().text, "recent");

    clock.advance(600);
    QMetaObject::invokeMethod(app->retentionTimer(), "timeout");
    app->store()->flush();
    EXPECT_TRUE(app->store()->items().empty());
}

TEST_F(AppDelegateTest, NoRetentionSettingPrunesNothing) {
    {
        ClipStore seed(folder / "data", clock);
        seed.addText("ancient", "test");
    }
    clock.advance(1e9);
    auto app = make();
    app->applicationDidFinishLaunching();
    EXPECT_EQ(app->store()->items().size(), 1u);
}

TEST_F(AppDelegateTest, StaleStagingFoldersAreClearedAfterLaunch) {
    const pid_t child = ::fork();
    if (child == 0) ::_exit(0);
    ::waitpid(child, nullptr, 0);
    const fs::path stale = folder / "staging" / Uuid::random().string();
    AtomicFile::write(stale / "owner.pid", std::to_string(child));
    clock.set(referenceDateNow() + 3 * 86400);

    auto app = make();
    app->applicationDidFinishLaunching();
    EXPECT_TRUE(fs::exists(stale)) << "the clean-up waits for the first frame";
    ASSERT_TRUE(waitUntil([&] { return !fs::exists(stale); }));
}

TEST_F(AppDelegateTest, UrlsAreTakenOneAtATime) {
    auto app = make();
    app->applicationDidFinishLaunching();

    app->openURLs({"brevalto://settings", "brevalto://history"});
    EXPECT_EQ(app->store()->message(), QStringLiteral("Open one Brevalto URL at a time."));
    EXPECT_EQ(app->preferences(), nullptr);
    EXPECT_FALSE(app->controller()->expanded());

    app->openURLs({});
    EXPECT_EQ(app->store()->message(), QStringLiteral("Open one Brevalto URL at a time."));

    app->store()->setMessage(QString());
    app->openURLs({"brevalto://Settings"});
    EXPECT_EQ(app->store()->message().toStdString(),
              std::string(AutomationFailure::message(AutomationFailure::Kind::invalid)));
    EXPECT_EQ(app->preferences(), nullptr);

    app->openURLs({"brevalto://settings"});
    ASSERT_NE(app->preferences(), nullptr);
    EXPECT_TRUE(app->preferences()->isVisible());

    app->openURLs({"brevalto://history"});
    EXPECT_TRUE(app->controller()->expanded());
}

TEST_F(AppDelegateTest, ACaptureLinkIsConfirmedFirstAndADeclinedOneRunsNothing) {
    auto app = make(false);
    app->applicationDidFinishLaunching();
    app->store()->setMessage(QString());
    app->openURLs({"brevalto://capture?mode=region"});
    EXPECT_EQ(asked, 1);
    EXPECT_TRUE(app->store()->message().isEmpty());
}

TEST_F(AppDelegateTest, SettingsOpenOnceAndComeBackAsTheSameWindow) {
    auto app = make();
    app->applicationDidFinishLaunching();
    app->settings();
    SettingsWindow* first = app->preferences();
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->windowTitle(), QStringLiteral("Brevalto Settings"));
    QStringList tabs;
    for (int i = 0; i < first->tabs()->count(); ++i) {
        tabs << first->tabs()->tabText(i);
        EXPECT_FALSE(first->tabs()->tabIcon(i).isNull()) << i;
    }
    EXPECT_EQ(tabs, (QStringList{"General", "Shortcuts", "Screenshots", "AI", "Upload", "Cloudflare"}));
    EXPECT_EQ(screens.shownInTaskbar(), false);
    first->close();
    app->settings();
    EXPECT_EQ(app->preferences(), first);
    EXPECT_TRUE(first->isVisible());

    // An internal settings request takes the same road.
    first->close();
    app->open(AutomationRequest::Command::settings);
    EXPECT_TRUE(first->isVisible());
}

TEST_F(AppDelegateTest, ShowInDockDecidesTheTaskbarAtOnce) {
    defaults.set("showInDock", true);
    auto app = make();
    app->applicationDidFinishLaunching();
    app->settings();
    EXPECT_EQ(screens.shownInTaskbar(), true);
    app->applyTaskbarPolicy(false);
    EXPECT_EQ(screens.shownInTaskbar(), false);
}

TEST_F(AppDelegateTest, TheClipboardHotKeyTogglesThePanelAndTheOthersReachTheWorkflow) {
    auto app = make();
    app->applicationDidFinishLaunching();
    ASSERT_FALSE(app->controller()->expanded());
    // The press is answered from the event loop, not inside the key handler.
    hotKeys.press({GlobalShortcuts::kSignature, 1});  // openClipboard
    EXPECT_FALSE(app->controller()->expanded());
    EXPECT_TRUE(waitUntil([&] { return app->controller()->expanded(); }));
    app->toggle();
    EXPECT_FALSE(app->controller()->expanded());

    // A capture reaches the workflow's coordinator (which finds no screen access here); an editor
    // request without any image is refused, and the refusal ends in the status line.
    screenCapture.permission = false;
    app->handleShortcut(ShortcutAction::region);
    EXPECT_TRUE(waitUntil([&] {
        return app->store()->message().toStdString() == CaptureError::message(CaptureError::Kind::permissionDenied);
    }));
    EXPECT_FALSE(app->screenshots()->busy());
    app->store()->setMessage(QString());
    app->handleShortcut(ShortcutAction::editor);
    EXPECT_EQ(app->store()->message().toStdString(),
              std::string(AutomationFailure::message(AutomationFailure::Kind::execution)));
    EXPECT_EQ(asked, 0) << "requests from inside the app are never confirmed";
}

TEST_F(AppDelegateTest, QuittingReleasesTheKeysAndCancelsAnUpload) {
    auto app = make();
    app->applicationDidFinishLaunching();
    auto source = std::make_shared<std::stop_source>();
    app->uploads()->work = TaskHandle(source);
    bool quitRequested = false;
    QObject::connect(app.get(), &AppDelegate::quitRequested, [&] { quitRequested = true; });
    app->quit();
    EXPECT_TRUE(quitRequested);
    app->applicationWillTerminate();
    EXPECT_TRUE(source->stop_requested());
    EXPECT_FALSE(app->uploads()->work.has_value());
    EXPECT_EQ(app->uploads()->status(),
              QStringLiteral("Cancelled. The server may have received the object; check history before retrying."));
    EXPECT_FALSE(app->shortcuts().handlerInstalled());
    EXPECT_FALSE(hotKeys.installed());
    EXPECT_TRUE(hotKeys.registered.empty());
}

}  // namespace
}  // namespace brevalto
