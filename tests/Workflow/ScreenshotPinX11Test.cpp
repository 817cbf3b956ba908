#include "Platform/Defaults.h"
#include "Platform/Linux/QtScreens.h"
#include "Platform/Linux/X11Connection.h"
#include "Workflow/ScreenshotPinController.h"
#include "Workflow/ScreenshotPinState.h"
#include "Workflow/ScreenshotReferencePanel.h"

#include "QtWait.h"
#include "RunProgram.h"

#include <QApplication>
#include <QProcess>
#include <QPushButton>
#include <QWidget>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

namespace brevalto {
namespace {

QString run(const QString& program, const QStringList& arguments) { return runProgram(program, arguments); }

QString properties(WId window) { return run(QStringLiteral("xprop"), {QStringLiteral("-id"), QString::number(window)}); }

// Runs xdotool with the real pointer, then lets the app handle what it caused, as a hand would
// give it time between steps.
void xdotool(const QStringList& arguments) {
    run(QStringLiteral("xdotool"), arguments);
    waitUntil([] { return false; }, 60);
}
QStringList at(const QWidget* widget, QPoint point) {
    const QPoint global = widget->mapToGlobal(point);
    return {QStringLiteral("mousemove"), QString::number(global.x()), QString::number(global.y())};
}
void click(const QWidget* widget) {
    xdotool(at(widget, widget->rect().center()) << QStringLiteral("click") << QStringLiteral("1"));
}
void drag(const QWidget* widget, QPoint from, QPoint by) {
    xdotool(at(widget, from) << QStringLiteral("mousedown") << QStringLiteral("1"));
    for (int step = 1; step <= 4; ++step) xdotool(at(widget, from + by * step / 4));
    xdotool({QStringLiteral("mouseup"), QStringLiteral("1")});
}

class PinWindowX11 : public ::testing::Test {
public:
    std::optional<xcb_window_t> activeWindow() {
        return x11->windowProperty(x11->root(), x11->atom("_NET_ACTIVE_WINDOW"));
    }
    // Client windows bottom to top, as the window manager stacks them.
    std::vector<xcb_window_t> stacking() {
        const auto list = x11->property(x11->root(), x11->atom("_NET_CLIENT_LIST_STACKING"));
        std::vector<xcb_window_t> windows(list ? list->bytes.size() / sizeof(xcb_window_t) : 0);
        if (!windows.empty()) std::memcpy(windows.data(), list->bytes.data(), windows.size() * sizeof(xcb_window_t));
        return windows;
    }
    bool above(WId upper, WId lower) {
        const auto order = stacking();
        const auto u = std::find(order.begin(), order.end(), xcb_window_t(upper));
        const auto l = std::find(order.begin(), order.end(), xcb_window_t(lower));
        return u != order.end() && l != order.end() && u > l;
    }

    std::unique_ptr<X11Connection> x11 = X11Connection::open();
    QtScreens screens;
    Defaults defaults;
    ScreenshotPinController pins{screens, defaults};
};

TEST_F(PinWindowX11, FloatsAboveOnEveryDesktopWithoutTakingFocusAndClosesFromItsTitleBar) {
    ASSERT_TRUE(x11);
    QWidget other;
    other.setWindowTitle(QStringLiteral("Other"));
    other.resize(600, 500);
    other.show();
    other.activateWindow();
    ASSERT_TRUE(waitUntil([&] { return activeWindow() == xcb_window_t(other.winId()); }));

    QImage image(800, 600, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::darkCyan);
    pins.showReference(image, {});
    ScreenshotReferencePanel* pin = pins.panels().front();
    const WId id = pin->winId();
    ASSERT_TRUE(waitUntil([&] { return properties(id).contains(QStringLiteral("_NET_WM_STATE_ABOVE")); }));
    QString xprop = properties(id);
    for (const char* expected : {"_NET_WM_WINDOW_TYPE_UTILITY", "_NET_WM_DESKTOP(CARDINAL) = 4294967295",
                                 "_NET_WM_STATE_SKIP_TASKBAR", "Client accepts input or input focus: False",
                                 "WM_NAME(UTF8_STRING) = \"Brevalto Reference\"", "_NET_WM_ACTION_CLOSE",
                                 "_NET_WM_ACTION_MOVE", "_NET_WM_ACTION_RESIZE"})
        EXPECT_TRUE(xprop.contains(QString::fromLatin1(expected))) << expected << "\n" << xprop.toStdString();

    // Shown without focus, and above the other window even once that is raised and active.
    QApplication::processEvents();
    EXPECT_EQ(activeWindow(), xcb_window_t(other.winId()));
    other.raise();
    other.activateWindow();
    EXPECT_TRUE(waitUntil([&] { return above(id, other.winId()); }));

    // Its controls work without taking the focus from the other window; locked, the window
    // manager may neither move nor resize it.
    ASSERT_TRUE(waitUntil([&] { return pin->geometry().topLeft() != QPoint(0, 0); }));
    auto* lock = pin->findChild<QPushButton*>(QStringLiteral("lock"));
    ASSERT_NE(lock, nullptr);
    // Unlocked, dragging the background (the margin left of the controls) moves the window.
    const QPoint start = pin->geometry().topLeft();
    drag(pin, {3, 3}, {60, 40});
    EXPECT_TRUE(waitUntil([&] { return pin->geometry().topLeft() == start + QPoint(60, 40); }))
        << pin->geometry().x() << "," << pin->geometry().y();
    click(lock);
    ASSERT_TRUE(waitUntil([&] { return pin->state().locked(); }));
    EXPECT_TRUE(waitUntil([&] {
        const QString now = properties(id);
        return !now.contains(QStringLiteral("_NET_WM_ACTION_MOVE")) &&
               !now.contains(QStringLiteral("_NET_WM_ACTION_RESIZE")) &&
               now.contains(QStringLiteral("_NET_WM_ACTION_CLOSE"));
    })) << properties(id).toStdString();
    EXPECT_EQ(activeWindow(), xcb_window_t(other.winId()));
    const QPoint lockedAt = pin->geometry().topLeft();
    drag(pin, {3, 3}, {60, 40});
    waitUntil([] { return false; }, 300);
    EXPECT_EQ(pin->geometry().topLeft(), lockedAt);
    click(lock);
    ASSERT_TRUE(waitUntil([&] { return !pin->state().locked(); }));
    EXPECT_TRUE(waitUntil([&] {
        const QString now = properties(id);
        return now.contains(QStringLiteral("_NET_WM_ACTION_MOVE")) && now.contains(QStringLiteral("_NET_WM_ACTION_RESIZE"));
    }));
    EXPECT_EQ(activeWindow(), xcb_window_t(other.winId()));
    EXPECT_FALSE(pin->isActiveWindow());

    // The title bar's close: the window manager asks the window to close.
    sendRootClientMessage(x11->get(), x11->root(), xcb_window_t(id), x11->atom("_NET_CLOSE_WINDOW"), {0, 2, 0, 0, 0});
    xcb_flush(x11->get());
    EXPECT_TRUE(waitUntil([&] { return pins.panels().empty(); }));
    EXPECT_TRUE(waitUntil([&] {
        const auto order = stacking();
        return std::find(order.begin(), order.end(), xcb_window_t(id)) == order.end();
    }));
}

}  // namespace
}  // namespace brevalto
