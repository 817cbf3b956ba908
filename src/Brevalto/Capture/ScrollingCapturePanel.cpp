// The floating panel's place clear of the viewport, and Esc.
#include "Capture/ScrollingCapture.h"

#include "Platform/RawKeyWatcher.h"
#include "Platform/ScreenCapture.h"

#include <QEvent>
#include <QGuiApplication>
#include <QMargins>
#include <QWindow>

namespace brevalto {

void ScrollingCapture::showPanel() {
    if (!panel_) return;
    panel_->show();
    panel_->raise();
}

namespace {

// Room for the frame that the window manager has yet to put around a panel it never showed: a
// title bar above, borders elsewhere.
constexpr QMargins kUnframedMargins(8, 40, 8, 8);

}  // namespace

QRect ScrollingCapture::panelFrameAt(QPoint origin) const {
    // move() puts the frame's corner at the origin; until the window manager has framed the
    // panel, its window may sit there for a moment with the frame around it.
    const QSize size = panel_->size();
    const QMargins known = panel_->windowHandle() ? panel_->windowHandle()->frameMargins() : QMargins();
    if (!known.isNull()) return QRect(origin, size.grownBy(known));
    const QMargins m = kUnframedMargins;
    return QRect(origin, size.grownBy(m)).united(QRect(origin, size).marginsAdded(m));
}

void ScrollingCapture::placePanel() {
    if (!panel_ || !lockedDisplay_) return showPanel();
    // The display's frame in Qt's top-left space, where the panel lives.
    QRectF frame;
    for (const auto& d : services_.screen->displays())
        if (d.id == lockedDisplay_->id) frame = d.frame;
    panel_->adjustSize();
    const QSize size = panelFrameAt(QPoint(0, 0)).size();
    const QRectF viewport = viewportOnScreen();
    const int left = int(frame.x()) + 12, right = int(frame.x() + frame.width()) - size.width() - 12;
    const int top = int(frame.y()) + 40, bottom = int(frame.y() + frame.height()) - size.height() - 12;
    QPoint origin(left, top);
    if (QRectF(panelFrameAt(origin)).contains(viewport.center())) origin.setX(right);
    // A panel over the viewport would be in every frame (or hidden for every grab): another
    // corner of the display that keeps its whole frame clear is taken when there is one.
    if (QRectF(panelFrameAt(origin)).intersects(viewport)) {
        for (const QPoint corner : {QPoint(left, top), QPoint(right, top), QPoint(left, bottom), QPoint(right, bottom)}) {
            if (!QRectF(panelFrameAt(corner)).intersects(viewport)) {
                origin = corner;
                break;
            }
        }
    }
    panel_->move(origin);
    showPanel();
}

QRectF ScrollingCapture::viewportOnScreen() const {
    return QRectF(region_.x(), firstScreenMaxY() - region_.y() - region_.height(), region_.width(), region_.height());
}

bool ScrollingCapture::panelCoversViewport() const {
    return panel_ && panel_->isVisible() && QRectF(panelFrameAt(panel_->pos())).intersects(viewportOnScreen());
}

bool ScrollingCapture::eventFilter(QObject* watched, QEvent* event) {
    // The panel grew (its options opened) or the window manager framed it over the viewport
    // while polling: it moves clear again.
    const QEvent::Type type = event->type();
    if (watched == panel_ && (type == QEvent::Resize || type == QEvent::Move || type == QEvent::Show) && running_ &&
        !placing_ && panelCoversViewport()) {
        placing_ = true;
        placePanel();
        placing_ = false;
    }
    return QObject::eventFilter(watched, event);
}

void ScrollingCapture::installMonitors() {
    if (monitoring_ || !services_.keys) return;
    monitoring_ = true;
    QPointer<ScrollingCapture> self(this);
    services_.keys->start([self](int key) {
        // While this app has the keyboard the panel's own shortcut takes Esc.
        if (self && key == Qt::Key_Escape && !QGuiApplication::focusWindow()) self->stopAndSave();
    });
}

void ScrollingCapture::removeMonitors() {
    if (!std::exchange(monitoring_, false)) return;
    services_.keys->stop();
}

}  // namespace brevalto
