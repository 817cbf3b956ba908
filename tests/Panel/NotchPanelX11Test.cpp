#include "Clipboard/ClipStore.h"
#include "Clipboard/ClipboardMonitor.h"
#include "Panel/NotchPanel.h"
#include "Panel/PanelController.h"
#include "Platform/Defaults.h"
#include "Platform/Linux/QtScreens.h"
#include "Platform/Linux/X11Connection.h"

#include "FakeApps.h"
#include "FakePasteboard.h"
#include "Platform/AtomicFile.h"
#include "PrivateDisplay.h"
#include "QtWait.h"
#include "TestFolder.h"
#include "RunProgram.h"

#include <QCursor>
#include <QGuiApplication>
#include <QProcess>
#include <QRegularExpression>
#include <QScreen>

#include <gtest/gtest.h>

#include <cstring>
#include <functional>

namespace brevalto {
namespace {

QString run(const QString& program, const QStringList& arguments) { return runProgram(program, arguments); }

// A window's frame in root coordinates from xwininfo's report; empty when it is not viewable.
QRect frameIn(const QString& info) {
    auto field = [&](const char* name) {
        const QRegularExpression pattern(QString::fromLatin1(name) + QStringLiteral(":\\s+(-?\\d+)"));
        const auto match = pattern.match(info);
        return match.hasMatch() ? match.captured(1).toInt() : -99999;
    };
    if (!info.contains(QStringLiteral("IsViewable"))) return {};
    return QRect(field("Absolute upper-left X"), field("Absolute upper-left Y"), field("Width"), field("Height"));
}

// The window's frame as the X server has it (root coordinates), from xwininfo.
QRect serverFrame(WId window) {
    return frameIn(run(QStringLiteral("xwininfo"), {QStringLiteral("-id"), QString::number(window)}));
}

TEST(NotchPanelX11, MapsAtTheTopCentreUnderTheMouseAndGrows) {
    QScreen* screen = QGuiApplication::primaryScreen();
    ASSERT_NE(screen, nullptr);
    const QRect desktop = screen->geometry();
    QCursor::setPos(desktop.center());

    QtScreens screens;
    FakeApps apps;
    Defaults defaults;
    defaults.registerDefaults({{"hoverOpen", true}});
    TestFolder folder;
    ClipStore store(folder.path());
    FakePasteboard board;
    ClipboardMonitor monitor(store, board, apps, defaults);
    PanelController controller(store, monitor, screens, apps, defaults);
    NotchPanel* panel = controller.panel();

    const int centre = desktop.x() + desktop.width() / 2;
    const QRect collapsed(centre - 119, desktop.y() + 8, 238, 32);
    EXPECT_TRUE(waitUntil([&] { return serverFrame(panel->winId()) == collapsed; }))
        << "server frame " << serverFrame(panel->winId()).x() << "," << serverFrame(panel->winId()).y() << " "
        << serverFrame(panel->winId()).width() << "x" << serverFrame(panel->winId()).height();
    EXPECT_FALSE(panel->isActiveWindow());  // shown without taking the keyboard

    // The window manager keeps it on every desktop, above others, out of taskbar and pager.
    const QString properties = run(QStringLiteral("xprop"), {QStringLiteral("-id"), QString::number(panel->winId())});
    // (openbox keeps a window on all desktops through _NET_WM_DESKTOP and drops the sticky state.)
    for (const char* state : {"_NET_WM_DESKTOP(CARDINAL) = 4294967295", "_NET_WM_STATE_SKIP_TASKBAR",
                              "_NET_WM_STATE_SKIP_PAGER", "_NET_WM_STATE_ABOVE"})
        EXPECT_TRUE(properties.contains(QString::fromLatin1(state))) << state;

    controller.expandPanel(true);
    const QRect expanded(centre - 370, desktop.y() + 8, 740, 328);
    EXPECT_TRUE(waitUntil([&] { return serverFrame(panel->winId()) == expanded; }));
    EXPECT_TRUE(waitUntil([&] { return panel->isActiveWindow(); }));

    controller.collapsePanel();
    EXPECT_TRUE(waitUntil([&] { return serverFrame(panel->winId()) == collapsed; }));

    // The real mouse opens it by hovering and closes it by leaving.
    QCursor::setPos(collapsed.center());
    EXPECT_TRUE(waitUntil([&] { return controller.expanded(); }));
    EXPECT_TRUE(waitUntil([&] { return serverFrame(panel->winId()) == expanded; }));
    QCursor::setPos(desktop.center().x(), desktop.bottom() - 10);
    EXPECT_TRUE(waitUntil([&] { return !controller.expanded(); }));
    EXPECT_TRUE(waitUntil([&] { return serverFrame(panel->winId()) == collapsed; }));
}

// A desktop panel of another client along the top edge that reserves its height (struts), as
// the desktops' top bars do.
class TopBar {
public:
    explicit TopBar(int height) {
        c_ = xcb_connect(nullptr, nullptr);
        xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c_)).data;
        window_ = xcb_generate_id(c_);
        xcb_create_window(c_, XCB_COPY_FROM_PARENT, window_, screen->root, 0, 0, screen->width_in_pixels,
                          static_cast<std::uint16_t>(height), 0, XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual, 0,
                          nullptr);
        const xcb_atom_t dock = atom("_NET_WM_WINDOW_TYPE_DOCK");
        xcb_change_property(c_, XCB_PROP_MODE_REPLACE, window_, atom("_NET_WM_WINDOW_TYPE"), XCB_ATOM_ATOM, 32, 1, &dock);
        const std::uint32_t strut[12] = {0, 0, static_cast<std::uint32_t>(height), 0, 0, 0, 0, 0, 0,
                                         static_cast<std::uint32_t>(screen->width_in_pixels - 1), 0, 0};
        xcb_change_property(c_, XCB_PROP_MODE_REPLACE, window_, atom("_NET_WM_STRUT_PARTIAL"), XCB_ATOM_CARDINAL, 32, 12,
                            strut);
        xcb_map_window(c_, window_);
        xcb_flush(c_);
    }
    ~TopBar() { xcb_disconnect(c_); }
    TopBar(const TopBar&) = delete;
    TopBar& operator=(const TopBar&) = delete;

private:
    xcb_atom_t atom(const char* name) {
        XcbReply<xcb_intern_atom_reply_t> reply(
            xcb_intern_atom_reply(c_, xcb_intern_atom(c_, 0, static_cast<std::uint16_t>(std::strlen(name)), name), nullptr));
        return reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
    }

    xcb_connection_t* c_;
    xcb_window_t window_;
};

TEST(NotchPanelX11, HangsBelowADesktopTopBarAndFromTheScreensTopWithoutOne) {
    QScreen* screen = QGuiApplication::primaryScreen();
    ASSERT_NE(screen, nullptr);
    const QRect desktop = screen->geometry();
    QCursor::setPos(desktop.center());
    QtScreens screens;
    FakeApps apps;
    Defaults defaults;
    TestFolder folder;
    ClipStore store(folder.path());
    FakePasteboard board;
    ClipboardMonitor monitor(store, board, apps, defaults);
    PanelController controller(store, monitor, screens, apps, defaults);
    NotchPanel* panel = controller.panel();

    const int left = desktop.x() + desktop.width() / 2 - 119;
    ASSERT_TRUE(waitUntil([&] { return serverFrame(panel->winId()) == QRect(left, desktop.y() + 8, 238, 32); }));
    {
        TopBar bar(40);
        EXPECT_TRUE(waitUntil([&] { return serverFrame(panel->winId()) == QRect(left, desktop.y() + 48, 238, 32); }))
            << "at " << serverFrame(panel->winId()).y();
        controller.expandPanel(true);  // pinned: the mouse is elsewhere
        EXPECT_TRUE(waitUntil([&] { return serverFrame(panel->winId()) == QRect(left - 251, desktop.y() + 48, 740, 328); }));
        controller.collapsePanel();
    }
    // The bar is gone: back to the screen's top.
    EXPECT_TRUE(waitUntil([&] { return serverFrame(panel->winId()) == QRect(left, desktop.y() + 8, 238, 32); }));
}

// The collapsed panel of the app on a 1920 x 1080 screen without a top bar.
const QRect kCollapsed(841, 8, 238, 32);

// The app itself, run on a display of its own with a fresh home.
class AppOnDisplay {
public:
    explicit AppOnDisplay(const PrivateDisplay& display) : display_(display) {
        AtomicFile::createFolder(home_ / "run");
        QProcessEnvironment env = display.environment();
        env.insert(QStringLiteral("HOME"), QString::fromStdString(home_.path().string()));
        env.insert(QStringLiteral("XDG_DATA_HOME"), QString::fromStdString((home_ / "data").string()));
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), QString::fromStdString((home_ / "config").string()));
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), QString::fromStdString((home_ / "run").string()));
        process_.setProcessEnvironment(env);
        process_.setStandardOutputFile(QProcess::nullDevice());
        process_.setStandardErrorFile(QProcess::nullDevice());
        process_.start(QStringLiteral(BREVALTO_BINARY_DIR "/brevalto"), {});
        process_.waitForStarted(5000);
    }
    ~AppOnDisplay() {
        process_.terminate();
        if (!process_.waitForFinished(5000)) process_.kill();
        process_.waitForFinished(3000);
    }

    // The panel's frame while it is on screen; empty while it is not.
    QRect panelFrame() const {
        const QStringList windows = display_.run(QStringLiteral("xdotool"), {QStringLiteral("search"), QStringLiteral("--name"),
                                                                            QStringLiteral("^Brevalto$")})
                                        .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        for (const QString& window : windows) {
            const QRect frame = frameIn(display_.run(QStringLiteral("xwininfo"), {QStringLiteral("-id"), window}));
            if (!frame.isEmpty()) return frame;
        }
        return {};
    }
    // Whether the window manager has taken the panel in, on every desktop and above others.
    bool panelManaged() const {
        const QStringList windows = display_.run(QStringLiteral("xdotool"), {QStringLiteral("search"), QStringLiteral("--onlyvisible"),
                                                                            QStringLiteral("--name"), QStringLiteral("^Brevalto$")})
                                        .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        if (windows.isEmpty()) return false;
        const QString properties = display_.run(QStringLiteral("xprop"), {QStringLiteral("-id"), windows.first()});
        return properties.contains(QStringLiteral("window state: Normal")) &&
               properties.contains(QStringLiteral("_NET_WM_STATE_ABOVE")) &&
               properties.contains(QStringLiteral("_NET_WM_DESKTOP(CARDINAL) = 4294967295"));
    }
    bool running() const { return process_.state() == QProcess::Running; }

private:
    const PrivateDisplay& display_;
    TestFolder home_;
    QProcess process_;
};

TEST(NotchPanelX11, TheAppsPanelShowsBeforeAnyWindowManagerAndKeepsItsPlaceAcrossThem) {
    PrivateDisplay display;
    ASSERT_TRUE(display.running());
    AppOnDisplay app(display);
    // Without a window manager the collapsed panel shows at once.
    ASSERT_TRUE(waitUntil([&] { return app.panelFrame() == kCollapsed; }, 10000)) << "the panel never showed";

    struct Step {
        const char* what;
        std::function<void()> act;
        bool managed;
    };
    const Step steps[] = {
        {"a window manager starts", [&] { display.startWindowManager(); }, true},
        {"another replaces it", [&] { display.startWindowManager(true); }, true},
        {"it quits", [&] { display.stopWindowManager(); }, false},
        {"one starts again", [&] { display.startWindowManager(); }, true},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.what);
        step.act();
        if (step.managed) {
            ASSERT_TRUE(waitUntil([&] { return display.windowManagerReady(); }));
            EXPECT_TRUE(waitUntil([&] { return app.panelManaged(); }, 10000));
        }
        EXPECT_TRUE(waitUntil([&] { return app.panelFrame() == kCollapsed; }, 10000));
        EXPECT_TRUE(app.running());
    }
}

TEST(NotchPanelX11, TheAppsPanelShowsWhenTheWindowManagerStartsAtTheSameTime) {
    // As at login: both start together, and the window manager may be half-ready when the panel
    // first shows. Twice, since the order varies from run to run.
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        PrivateDisplay display;
        ASSERT_TRUE(display.running());
        AppOnDisplay app(display);
        display.startWindowManager();
        EXPECT_TRUE(waitUntil([&] { return app.panelManaged() && app.panelFrame() == kCollapsed; }, 15000))
            << "frame " << app.panelFrame().x() << "," << app.panelFrame().y() << " managed " << app.panelManaged();
    }
}

}  // namespace
}  // namespace brevalto
