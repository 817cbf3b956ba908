#include "Panel/DragSourceView.h"

#include "Document/ScreenshotFilePromise.h"
#include "Panel/ClipDragSet.h"
#include "Panel/PanelController.h"
#include "Platform/Keyboard.h"
#include "Platform/ScreenGeometry.h"
#include "Platform/Symbols.h"

#include <QCursor>
#include <QDrag>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QScreen>

#include <cmath>
#include <exception>

namespace brevalto {

namespace {

constexpr double kClickDistance = 4.0;

double distance(QPointF a, QPointF b) { return std::hypot(a.x() - b.x(), a.y() - b.y()); }

// The items' images as a diagonal stack, each in its frame.
QPixmap stackImage(const ClipDragSet& set, const QColor& symbolColor) {
    QRectF bounds;
    for (const auto& item : set.items()) bounds = bounds.united(item.frame);
    QImage canvas(bounds.size().toSize(), QImage::Format_ARGB32_Premultiplied);
    canvas.fill(Qt::transparent);
    QPainter painter(&canvas);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    for (const auto& item : set.items()) {
        QImage image = item.image;
        if (image.isNull()) image = Symbols::image(QStringLiteral("doc.text"), QSizeF(40, 40), symbolColor, 1.0);
        if (image.isNull()) continue;
        const QSizeF size = QSizeF(image.size()).scaled(item.frame.size(), Qt::KeepAspectRatio);
        const QPointF origin = item.frame.topLeft() + QPointF(item.frame.width() - size.width(),
                                                               item.frame.height() - size.height()) / 2;
        painter.drawImage(QRectF(origin, size), image);
    }
    painter.end();
    return QPixmap::fromImage(canvas);
}

}  // namespace

DragHandle DragHandle::forCard(PanelController& controller, const Clip& clip, std::vector<Clip> selectedItems,
                               std::function<void()> clicked, std::function<void()> selectMultiple) {
    DragHandle handle;
    handle.item = clip;
    handle.store = &controller.store();
    handle.showsLabel = false;
    QPointer<PanelController> weak(&controller);
    handle.began = [weak] {
        if (!weak) return;
        weak->setDragActive(true);
        weak->orderOut();
    };
    handle.ended = [weak] {
        if (!weak) return;
        weak->setDragActive(false);
        weak->collapsePanel();
    };
    handle.clicked = std::move(clicked);
    handle.selectedItems = std::move(selectedItems);
    if (clip.kind == Clip::Kind::image) handle.selectMultiple = std::move(selectMultiple);
    if (clip.kind == Clip::Kind::text) {
        handle.dropped = [weak, clip](QPointF point, bool accepted) {
            if (weak) weak->dropPaste(clip, accepted, point);
        };
    }
    if (Keyboard* keyboard = controller.keyboard()) handle.escapeHeld = [keyboard] { return keyboard->isEscapeHeld(); };
    return handle;
}

DragSourceView::DragSourceView(QWidget* parent) : QWidget(parent) {
    setCursor(Qt::OpenHandCursor);
    setAccessibleName(accessibleLabel);
    setAccessibleDescription(accessibleHelp);
}

DragSourceView::~DragSourceView() = default;

void DragSourceView::update(DragHandle handle) {
    handle_ = std::move(handle);
    if (handle_.showsLabel || !handle_.item) {
        setAccessibleName(accessibleLabel);
    } else {
        setAccessibleName((handle_.title ? *handle_.title : QString::fromStdString(handle_.item->title())) +
                          QStringLiteral(", ") +
                          QString::fromStdString(handle_.item->source));
    }
    setProperty("accessibilityValue",
                handle_.item && handle_.item->pinned ? QStringLiteral("Pinned") : QString());
    QWidget::update();
}

void DragSourceView::paintEvent(QPaintEvent*) {
    if (!handle_.showsLabel) return;
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath path;
    path.addRoundedRect(QRectF(rect()), 9, 9);
    QColor fill = palette().color(QPalette::WindowText);
    fill.setAlphaF(0.1f);
    painter.fillPath(path, fill);
    QFont font = painter.font();
    font.setWeight(QFont::Medium);
    painter.setFont(font);
    painter.setPen(palette().color(QPalette::WindowText));
    const double y = std::max((height() - 16.0) / 2, 0.0);
    painter.drawText(QRectF(13, y, std::max(width() - 13.0, 0.0), 16), Qt::AlignLeft | Qt::AlignVCenter, label);
}

void DragSourceView::mousePressEvent(QMouseEvent* event) {
    start_ = event->scenePosition();
    refused_ = false;
    event->accept();
}

void DragSourceView::mouseReleaseEvent(QMouseEvent* event) {
    if (!active_ && start_ && !refused_ && distance(*start_, event->scenePosition()) <= kClickDistance) {
        if (event->modifiers().testFlag(Qt::ControlModifier) && handle_.selectMultiple)
            handle_.selectMultiple();
        else if (handle_.clicked)
            handle_.clicked();
    }
    start_.reset();
    refused_ = false;
    event->accept();
}

void DragSourceView::mouseMoveEvent(QMouseEvent* event) {
    if (active_ || !start_ || refused_) return;
    if (distance(*start_, event->scenePosition()) <= kClickDistance) return;
    if (!handle_.item || !handle_.store) return;
    startDrag();
}

void DragSourceView::startDrag() {
    ClipDragSet set;
    try {
        set = ClipDragSet::build(&*handle_.item, handle_.store.data(), handle_.selectedItems);
    } catch (const std::exception& error) {
        // Reported once; the press stays disarmed until the button is released.
        refused_ = true;
        handle_.store->setMessage(QString::fromStdString(error.what()));
        return;
    }
    promises_ = set.promises();

    // On the heap, as Qt asks: the platform may keep the drag to answer late requests.
    auto* drag = new QDrag(this);
    drag->setMimeData(set.mimeData());
    drag->setPixmap(stackImage(set, palette().color(QPalette::WindowText)));
    active_ = true;
    if (handle_.began) handle_.began();
    // The card may go while the drag runs (the history changed); its end is still reported.
    const DragHandle handle = handle_;
    QPointer<DragSourceView> self(this);
    const Qt::DropAction action = runDrag(*drag);
    if (self) {
        active_ = false;
        start_.reset();
    }
    sessionEnded(handle, action, self ? endPoint() : cursorLocation());
}

Qt::DropAction DragSourceView::runDrag(QDrag& drag) { return drag.exec(Qt::CopyAction); }

QPointF DragSourceView::endPoint() const { return cursorLocation(); }

QPointF DragSourceView::cursorLocation() {
    const QScreen* primary = QGuiApplication::primaryScreen();
    const ScreenGeometry geometry =
        primary ? ScreenGeometry::ofPrimaryScreen(QRectF(primary->geometry())) : ScreenGeometry(0);
    return geometry.fromQt(QPointF(QCursor::pos()));
}

void DragSourceView::sessionEnded(const DragHandle& handle, Qt::DropAction action, QPointF point) {
    const bool accepted = action != Qt::IgnoreAction;
    if (handle.store) handle.store->setMessage(accepted ? acceptedMessage : cancelledMessage);
    const bool escape = handle.escapeHeld && handle.escapeHeld();
    if (handle.ended) handle.ended();
    if (!escape && handle.dropped) handle.dropped(point, accepted);
}

}  // namespace brevalto
