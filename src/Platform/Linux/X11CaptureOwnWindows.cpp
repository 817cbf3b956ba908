#include "Platform/Linux/X11CaptureOwnWindows.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QGuiApplication>
#include <QPointer>
#include <QThread>
#include <QWindow>

#include <xcb/xcb.h>

#include <cstdlib>
#include <functional>
#include <utility>

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

// Remembers the window manager's frame of each top-level window of ours that goes away (hidden
// or closed: a prompt the user just answered, the panel put aside for a capture). The manager
// takes such a frame down only once it has handled the window's going, later still on a loaded
// machine, and until then the frame keeps showing the window's last pixels.
class WithdrawnFrames final : public QObject {
public:
    using QObject::QObject;

    static WithdrawnFrames* instance() {
        static QPointer<WithdrawnFrames> watcher;
        if (!watcher) {
            watcher = new WithdrawnFrames(QCoreApplication::instance());
            QCoreApplication::instance()->installEventFilter(watcher);
        }
        return watcher;
    }

    // The frames remembered so far, forgotten here.
    std::vector<xcb_window_t> take() {
        std::vector<xcb_window_t> result;
        for (const auto& [window, frame] : frames_) result.push_back(frame);
        frames_.clear();
        return result;
    }

    bool eventFilter(QObject* object, QEvent* event) override {
        if (event->type() != QEvent::Hide && event->type() != QEvent::Show) return false;
        auto* window = qobject_cast<QWindow*>(object);
        if (!window || !window->handle() || !window->isTopLevel() || window->type() == Qt::ForeignWindow) return false;
        xcb_connection_t* c = qtConnection();
        if (!c) return false;
        const auto id = xcb_window_t(window->winId());
        std::erase_if(frames_, [id](const auto& entry) { return entry.first == id; });
        if (event->type() == QEvent::Show) return false;
        // Asked right after the window's unmap reached the server: the window is still inside
        // the frame unless the manager let it go already, and then the frame is down too.
        const xcb_window_t frame = topLevelOf(c, id);
        if (frame == XCB_NONE || frame == id) return false;
        if (frames_.size() >= kKept) frames_.erase(frames_.begin());
        frames_.emplace_back(id, frame);
        return false;
    }

private:
    static constexpr std::size_t kKept = 16;
    std::vector<std::pair<xcb_window_t, xcb_window_t>> frames_;  // window, its frame; oldest first
};

}  // namespace

void X11CaptureOwnWindows::followWithdrawals() {
    if (qobject_cast<QApplication*>(QCoreApplication::instance()) &&
        QThread::currentThread() == QCoreApplication::instance()->thread())
        WithdrawnFrames::instance();
}

X11CaptureOwnWindows::X11CaptureOwnWindows(const QRect& area, std::chrono::milliseconds repaintDelay) {
    if (!qobject_cast<QApplication*>(QCoreApplication::instance())) return;
    xcb_connection_t* c = qtConnection();
    std::vector<xcb_window_t> frames;
    onGuiThread([&] {
        WithdrawnFrames* withdrawn = WithdrawnFrames::instance();
        for (QWidget* w : QApplication::topLevelWidgets()) {
            if (!w->isVisible() || w->isMinimized() || w->windowType() == Qt::Desktop) continue;
            if (c && w->internalWinId()) {
                // A window away from the area cannot show in it: leave it alone.
                const xcb_window_t frame = topLevelOf(c, xcb_window_t(w->internalWinId()));
                if (frame != XCB_NONE && !rootRectOf(c, frame).intersects(area)) continue;
            }
            hidden_.emplace_back(w);
            w->hide();
        }
        // What we hid just now and what went shortly before the capture began.
        frames = withdrawn->take();
        // Every unmap, menus' and frameless windows' too, reaches the server before the shot.
        syncQt();
    });
    if (hidden_.empty() && frames.empty()) return;
    // The window manager takes its frames down after the windows went: wait for that (briefly,
    // whatever it does), then give the windows below a moment to repaint.
    QDeadlineTimer deadline(1000);
    for (xcb_window_t frame : frames) {
        while (viewable(c, frame) && !deadline.hasExpired()) QThread::msleep(2);
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
