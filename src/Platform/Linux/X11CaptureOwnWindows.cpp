#include "Platform/Linux/X11CaptureOwnWindows.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QGuiApplication>
#include <QPointer>
#include <QSocketNotifier>
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
// machine, and until then the frame keeps showing the window's last pixels. The frames are
// watched on a connection of their own, so that once the server has told us one is down a grab
// need not ask again.
class WithdrawnFrames final : public QObject {
public:
    using QObject::QObject;
    ~WithdrawnFrames() override {
        if (watch_) xcb_disconnect(watch_);
    }

    static WithdrawnFrames* instance() {
        static QPointer<WithdrawnFrames> watcher;
        if (!watcher) {
            watcher = new WithdrawnFrames(QCoreApplication::instance());
            QCoreApplication::instance()->installEventFilter(watcher);
        }
        return watcher;
    }

    struct Taken {
        std::vector<xcb_window_t> frames;  // not known to be down yet
        bool unsent = false;               // an unframed window of ours went since the last sync
    };

    // The frames remembered so far that may still be on screen, forgotten here.
    Taken take() {
        readEvents();
        Taken result;
        for (const Frame& f : frames_) {
            if (!f.down) result.frames.push_back(f.frame);
            forget(f);
        }
        frames_.clear();
        result.unsent = unsent_;
        unsent_ = false;
        return result;
    }

    bool eventFilter(QObject* object, QEvent* event) override {
        if (event->type() != QEvent::Hide && event->type() != QEvent::Show) return false;
        auto* window = qobject_cast<QWindow*>(object);
        if (!window || !window->handle() || !window->isTopLevel() || window->type() == Qt::ForeignWindow) return false;
        xcb_connection_t* c = qtConnection();
        if (!c) return false;
        const auto id = xcb_window_t(window->winId());
        std::erase_if(frames_, [this, id](const Frame& f) {
            if (f.window != id) return false;
            forget(f);
            return true;
        });
        if (event->type() == QEvent::Show) return false;
        // Asked right after the window's unmap reached the server: the window is still inside
        // the frame unless the manager let it go already, and then the frame is down too.
        const xcb_window_t frame = topLevelOf(c, id);
        if (frame == XCB_NONE || frame == id) {
            // A menu or a window without a frame: nothing tells us when its unmap is done.
            unsent_ = true;
            return false;
        }
        if (frames_.size() >= kKept) {
            forget(frames_.front());
            frames_.erase(frames_.begin());
        }
        frames_.push_back({id, frame});
        watch(frame);
        return false;
    }

private:
    struct Frame {
        xcb_window_t window, frame;
        bool down = false;       // the server told us it was unmapped or destroyed
        bool destroyed = false;  // nothing left to stop watching
    };

    // Asks the server to tell us when the frame goes down. Should it go before the request
    // arrives, nothing is told and a grab asks for the frame's state instead.
    void watch(xcb_window_t frame) {
        if (!watch_) {
            watch_ = xcb_connect(nullptr, nullptr);
            if (xcb_connection_has_error(watch_)) return;
            auto* notifier = new QSocketNotifier(xcb_get_file_descriptor(watch_), QSocketNotifier::Read, this);
            connect(notifier, &QSocketNotifier::activated, this, [this] { readEvents(); });
        }
        if (xcb_connection_has_error(watch_)) return;
        const std::uint32_t mask[] = {XCB_EVENT_MASK_STRUCTURE_NOTIFY};
        xcb_change_window_attributes(watch_, frame, XCB_CW_EVENT_MASK, mask);
        xcb_flush(watch_);
    }

    void forget(const Frame& f) {
        if (f.destroyed || !watch_ || xcb_connection_has_error(watch_)) return;
        const std::uint32_t none[] = {XCB_EVENT_MASK_NO_EVENT};
        xcb_change_window_attributes(watch_, f.frame, XCB_CW_EVENT_MASK, none);
        xcb_flush(watch_);
    }

    // What the server has told us so far, without asking it anything.
    void readEvents() {
        if (!watch_) return;
        while (xcb_generic_event_t* event = xcb_poll_for_event(watch_)) {
            const std::uint8_t type = event->response_type & 0x7f;
            xcb_window_t window = XCB_NONE;
            if (type == XCB_UNMAP_NOTIFY) window = reinterpret_cast<xcb_unmap_notify_event_t*>(event)->window;
            if (type == XCB_DESTROY_NOTIFY) window = reinterpret_cast<xcb_destroy_notify_event_t*>(event)->window;
            if (type == XCB_MAP_NOTIFY) window = reinterpret_cast<xcb_map_notify_event_t*>(event)->window;
            for (Frame& f : frames_) {
                if (f.frame != window) continue;
                f.down = type != XCB_MAP_NOTIFY;
                f.destroyed = type == XCB_DESTROY_NOTIFY;
            }
            std::free(event);
        }
    }

    static constexpr std::size_t kKept = 16;
    std::vector<Frame> frames_;  // oldest first
    bool unsent_ = false;
    xcb_connection_t* watch_ = nullptr;
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
        // What we hid just now and what went shortly before the capture began, unless the
        // server already told us its frame is down.
        const auto taken = withdrawn->take();
        frames = taken.frames;
        // Every unmap, menus' and frameless windows' too, reaches the server before the shot.
        if (!hidden_.empty() || !frames.empty() || taken.unsent) syncQt();
    });
    // The window manager takes its frames down after the windows went: wait for that (briefly,
    // whatever it does), then give the windows below a moment to repaint. A frame already down
    // when the grab begins costs nothing: the grab goes ahead as if nothing of ours were there.
    bool waited = !hidden_.empty();
    QDeadlineTimer deadline(1000);
    for (xcb_window_t frame : frames) {
        while (viewable(c, frame) && !deadline.hasExpired()) {
            waited = true;
            QThread::msleep(2);
        }
    }
    if (waited) QThread::msleep(static_cast<unsigned long>(repaintDelay.count()));
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
