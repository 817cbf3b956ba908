#include "Platform/Linux/X11CaptureOwnWindows.h"

#include <QApplication>
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

// Makes sure the X server has handled everything Qt sent on its own connection.
void syncQt() {
    auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    xcb_connection_t* c = x11 ? x11->connection() : nullptr;
    if (!c) return;
    std::free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
}

}  // namespace

X11CaptureOwnWindows::X11CaptureOwnWindows(std::chrono::milliseconds repaintDelay) {
    if (!qobject_cast<QApplication*>(QCoreApplication::instance())) return;
    onGuiThread([this] {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            if (w->isVisible() && !w->isMinimized() && w->windowType() != Qt::Desktop) {
                hidden_.emplace_back(w);
                w->hide();
            }
        }
        if (!hidden_.empty()) syncQt();
    });
    if (!hidden_.empty()) QThread::msleep(static_cast<unsigned long>(repaintDelay.count()));
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
