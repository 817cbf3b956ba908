#include "Platform/Linux/X11CaptureOwnWindows.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QGuiApplication>
#include <QThread>

#include <xcb/xcb.h>

#include <cstdlib>
#include <functional>

namespace brevalto {

namespace {

void onGuiThread(const std::function<void()>& fn) {
    QCoreApplication* app = QCoreApplication::instance();
    if (QThread::currentThread() == app->thread()) {
        fn();
    } else {
        QMetaObject::invokeMethod(app, fn, Qt::BlockingQueuedConnection);
    }
}

xcb_connection_t* qtConnection() {
    auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    return x11 ? x11->connection() : nullptr;
}

// Makes sure the X server has handled everything Qt sent on its own connection.
void syncQt() {
    if (xcb_connection_t* c = qtConnection()) std::free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
}

// The child of the root that holds a window: the window manager's frame, or the window itself.
xcb_window_t topLevelOf(xcb_connection_t* c, xcb_window_t window) {
    for (int depth = 0; depth < 16; ++depth) {
        auto* tree = xcb_query_tree_reply(c, xcb_query_tree(c, window), nullptr);
        if (!tree) return XCB_NONE;
        const xcb_window_t parent = tree->parent, root = tree->root;
        std::free(tree);
        if (parent == root || parent == XCB_NONE) return window;
        window = parent;
    }
    return window;
}

// Where a child of the root lies, in root pixels (its border included).
QRect rootRectOf(xcb_connection_t* c, xcb_window_t window) {
    auto* g = xcb_get_geometry_reply(c, xcb_get_geometry(c, window), nullptr);
    if (!g) return {};
    const QRect rect(g->x, g->y, g->width + 2 * g->border_width, g->height + 2 * g->border_width);
    std::free(g);
    return rect;
}

bool viewable(xcb_connection_t* c, xcb_window_t window) {
    auto* a = xcb_get_window_attributes_reply(c, xcb_get_window_attributes(c, window), nullptr);
    const bool result = a && a->map_state == XCB_MAP_STATE_VIEWABLE;
    std::free(a);
    return result;
}

}  // namespace

X11CaptureOwnWindows::X11CaptureOwnWindows(const QRect& area, std::chrono::milliseconds repaintDelay) {
    if (!qobject_cast<QApplication*>(QCoreApplication::instance())) return;
    xcb_connection_t* c = qtConnection();
    std::vector<xcb_window_t> frames;
    onGuiThread([&] {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            if (!w->isVisible() || w->isMinimized() || w->windowType() == Qt::Desktop) continue;
            if (c && w->internalWinId()) {
                // A window away from the area cannot show in it: leave it alone.
                const xcb_window_t frame = topLevelOf(c, xcb_window_t(w->internalWinId()));
                if (frame != XCB_NONE && !rootRectOf(c, frame).intersects(area)) continue;
                frames.push_back(frame);
            }
            hidden_.emplace_back(w);
            w->hide();
        }
        if (!hidden_.empty()) syncQt();
    });
    if (hidden_.empty()) return;
    // The window manager takes its frames down after the windows went: wait for that (briefly,
    // whatever it does), then give the windows below a moment to repaint.
    QDeadlineTimer deadline(1000);
    for (xcb_window_t frame : frames) {
        while (frame != XCB_NONE && viewable(c, frame) && !deadline.hasExpired()) QThread::msleep(2);
    }
    QThread::msleep(static_cast<unsigned long>(repaintDelay.count()));
}

X11CaptureOwnWindows::~X11CaptureOwnWindows() {
    if (hidden_.empty()) return;
    onGuiThread([this] {
        for (auto& w : hidden_) {
            if (w) w->show();
        }
        syncQt();
    });
}

}  // namespace brevalto
