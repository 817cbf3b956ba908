#include "Clipboard/ClipStore.h"
#include "Clipboard/ClipboardMonitor.h"
#include "Panel/NotchPanel.h"
#include "Panel/PanelController.h"
#include "Platform/Defaults.h"
#include "Platform/Linux/QtScreens.h"

#include "FakeApps.h"
#include "FakePasteboard.h"
#include "QtWait.h"
#include "TestFolder.h"

#include <QCursor>
#include <QGuiApplication>
#include <QProcess>
#include <QRegularExpression>
#include <QScreen>

#include <gtest/gtest.h>

namespace brevalto {
namespace {

QString run(const QString& program, const QStringList& arguments) {
    QProcess process;
    process.start(program, arguments);
    process.waitForFinished(5000);
    return QString::fromUtf8(process.readAllStandardOutput());
}

// The window's frame as the X server has it (root coordinates), from xwininfo.
QRect serverFrame(WId window) {
    const QString info = run(QStringLiteral("xwininfo"), {QStringLiteral("-id"), QString::number(window)});
    auto field = [&](const char* name) {
        const QRegularExpression pattern(QString::fromLatin1(name) + QStringLiteral(":\\s+(-?\\d+)"));
        const auto match = pattern.match(info);
        return match.hasMatch() ? match.captured(1).toInt() : -99999;
    };
    if (!info.contains(QStringLiteral("IsViewable"))) return {};
    return QRect(field("Absolute upper-left X"), field("Absolute upper-left Y"), field("Width"), field("Height"));
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

}  // namespace
}  // namespace brevalto
