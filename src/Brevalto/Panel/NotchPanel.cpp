#include "Panel/NotchPanel.h"

#include "Editor/View/EditorControls.h"

#include <QCoreApplication>
#include <QEvent>
#include <QPalette>
#include <QRegion>
#include <QToolTip>

namespace brevalto {

NotchPanel::NotchPanel(bool translucent, QWidget* parent)
    : QWidget(parent, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::NoDropShadowWindowHint),
      translucent_(translucent) {
    setWindowTitle(QStringLiteral("Brevalto"));
    setAttribute(Qt::WA_ShowWithoutActivating);
    setAttribute(Qt::WA_TranslucentBackground, translucent_);
    setAutoFillBackground(false);
    // A dark appearance whatever the desktop's theme.
    // The editor's dark palette on a black window.
    QPalette dark = editorDarkPalette(palette());
    dark.setColor(QPalette::Window, Qt::black);
    dark.setColor(QPalette::Button, QColor(44, 44, 46));
    setPalette(dark);
    // One tooltip serves every window, and it is reused from one widget to the next while it shows:
    // all of them are dark, also over the light ones, where they read as well.
    QToolTip::setPalette(dark);
    // Menus and popups of the panel are windows of their own, which inherit no palette.
    if (QCoreApplication* app = QCoreApplication::instance()) app->installEventFilter(this);
}

bool NotchPanel::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::Polish && event->type() != QEvent::Show) return false;
    auto* popup = qobject_cast<QWidget*>(watched);
    if (!popup || popup->windowType() != Qt::Popup) return false;
    for (const QWidget* owner = popup->parentWidget(); owner; owner = owner->parentWidget()) {
        if (owner != this) continue;
        if (popup->palette() != palette()) popup->setPalette(palette());
        break;
    }
    return false;
}

void NotchPanel::setOutline(NotchOutline outline, bool masked) {
    if (outline.attached == outline_.attached && masked == masked_) return;
    outline_ = outline;
    masked_ = masked;
    applyMask();
    update();
}

void NotchPanel::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    applyMask();
}

void NotchPanel::applyMask() {
    if (!masked_) {
        clearMask();
        return;
    }
    const QPolygonF polygon = outline_.path(QRectF(rect())).toFillPolygon();
    const QRegion region(polygon.toPolygon(), Qt::WindingFill);
    setMask(region.isEmpty() ? QRegion(rect()) : region);
}

}  // namespace brevalto
