#include "Editor/Canvas/ScreenshotCanvasView.h"

#include "Document/ScreenshotDocumentSession.h"
#include "Document/ScreenshotRenderer.h"

#include <QNativeGestureEvent>
#include <QKeyEvent>
#include <QTimer>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>

namespace brevalto {

namespace {

using Property = ScreenshotDocumentSession::Property;

constexpr double fitMargin = 32;

// The zoom kept within minZoom...high; a value that is not a number leaves the zoom at 1.
double clampZoom(double zoom, double high) {
    if (std::isnan(zoom)) zoom = 1;
    return std::clamp(zoom, ScreenshotCanvasView::minZoom, high);
}

}  // namespace

ScreenshotCanvasView::ScreenshotCanvasView(std::shared_ptr<ScreenshotDocumentSession> session, QWidget* parent)
    : QWidget(parent), session_(std::move(session)) {
    setFocusPolicy(Qt::StrongFocus);
    setMouseTracking(true);
    setAcceptDrops(true);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAccessibleName(accessibleLabel);
    connect(session_.get(), &ScreenshotDocumentSession::viewport, this, &ScreenshotCanvasView::applyViewport);
    connect(session_.get(), &ScreenshotDocumentSession::changed, this, [this](Property property) {
        switch (property) {
        case Property::selectedID:
        case Property::tool:
            // Choosing a tool or a layer gives the canvas the keyboard, unless a text field is in edit.
            QTimer::singleShot(0, this, [this] {
                if (isVisible() && !textFieldHasFocus()) setFocus(Qt::OtherFocusReason);
            });
            paintedHandles_ = session_->selectedLayer();
            lastOverlay_ = overlayBounds();
            update();
            break;
        case Property::document:
            // A view the last fit left as it was follows the visible image when it grows or
            // shrinks (a backdrop, a crop), until the user zooms or pans.
            if (fitted_ && session_->zoom() == *fitted_ && session_->pan() == QPointF(0, 0) &&
                displaySize() != fittedDisplay_)
                applyViewport(QStringLiteral("fit"));
            // The image on screen changes when its render arrives; until then only the overlay
            // (the selected layer's handles) can have moved, unless the visible image changed size.
            if (displaySize() != paintedDisplay_ || session_->secretCandidates()) {
                paintedDisplay_ = displaySize();
                lastOverlay_ = overlayBounds();
                update();
            } else if (const auto layer = session_->selectedLayer(); !sameHandles(layer)) {
                // Where the handles were drawn, at the view's present zoom, and where they are now.
                QRectF dirty = overlayBounds();
                if (paintedHandles_)
                    dirty = dirty.united(viewRect(paintedHandles_->frame).normalized().adjusted(-14, -14, 14, 14));
                lastOverlay_ = overlayBounds();
                if (const QRectF visible = dirty.intersected(QRectF(rect())); !visible.isEmpty())
                    update(visible.toAlignedRect());
            }
            paintedHandles_ = session_->selectedLayer();
            break;
        case Property::preview: updatePreview(); break;
        case Property::selection:
        case Property::zoom:
        case Property::pan:
        case Property::guides:
        case Property::smartCandidate:
        case Property::secretCandidates: update(); break;
        default: break;
        }
    });
}

ScreenshotCanvasView::~ScreenshotCanvasView() = default;

void ScreenshotCanvasView::updatePreview() {
    // A new render repaints only where it can differ from the one on screen, when both show the
    // visible image the view lays out now.
    const std::optional<ScreenshotDocument>& source = session_->previewSource();
    const ScreenshotDocument& current = session_->document();
    std::optional<QRectF> area;
    if (paintedSource_ && source && source->canvas == current.canvas && source->crop == current.crop &&
        source->backdrop == current.backdrop)
        area = ScreenshotRenderer::changedArea(*paintedSource_, *source);
    paintedSource_ = source;
    if (!area)
        update();
    else if (!area->isEmpty())
        update(viewRect(*area).toAlignedRect().adjusted(-2, -2, 2, 2).intersected(rect()));
}

bool ScreenshotCanvasView::sameHandles(const std::optional<ScreenshotLayer>& layer) const {
    // What the overlay draws of the selected layer: its frame's handles, the lens knob (which a
    // magnifier's value moves) and the control point, all from its geometry. A change of style
    // or strength alone leaves them where they are.
    const std::optional<ScreenshotLayer>& last = paintedHandles_;
    if (!layer || !last) return !layer && !last;
    return layer->id == last->id && layer->kind == last->kind && layer->frame == last->frame &&
           layer->points == last->points && layer->rotation == last->rotation && layer->style.filled == last->style.filled &&
           (layer->kind != ScreenshotLayerKind::magnifier || layer->value == last->value);
}

void ScreenshotCanvasView::setDropLayout(bool vertical, double spacing, double alignment) {
    vertical_ = vertical;
    spacing_ = spacing;
    alignment_ = alignment;
    update();
}

// ---- geometry

QRectF ScreenshotCanvasView::content() const {
    const ScreenshotDocument& d = session_->document();
    return d.crop ? d.crop->normalized() : QRectF(QPointF(0, 0), d.canvas);
}

QRectF ScreenshotCanvasView::canvasRect() const { return QRectF(QPointF(0, 0), session_->document().canvas); }

double ScreenshotCanvasView::backdropMargin() const {
    const ScreenshotBackdrop& backdrop = session_->document().backdrop;
    return backdrop.enabled ? ScreenshotRenderer::backdropMargin(backdrop) : 0;
}

QSizeF ScreenshotCanvasView::displaySize() const {
    const double margin = backdropMargin();
    const QRectF c = content();
    return QSizeF(c.width() + 2 * margin, c.height() + 2 * margin);
}

QPointF ScreenshotCanvasView::imageOrigin() const {
    const QSizeF display = displaySize();
    const double zoom = session_->zoom();
    const QPointF pan = session_->pan();
    return QPointF((width() - display.width() * zoom) * 0.5 + pan.x(), (height() - display.height() * zoom) * 0.5 + pan.y());
}

QPointF ScreenshotCanvasView::imagePoint(QPointF v) const {
    const QPointF origin = imageOrigin();
    const double zoom = session_->zoom(), margin = backdropMargin();
    const QRectF c = content();
    return QPointF((v.x() - origin.x()) / zoom + c.left() - margin, (v.y() - origin.y()) / zoom + c.top() - margin);
}

QPointF ScreenshotCanvasView::viewPoint(QPointF p) const {
    const QPointF origin = imageOrigin();
    const double zoom = session_->zoom(), margin = backdropMargin();
    const QRectF c = content();
    return QPointF(origin.x() + (p.x() - c.left() + margin) * zoom, origin.y() + (p.y() - c.top() + margin) * zoom);
}

QRectF ScreenshotCanvasView::viewRect(const QRectF& r) const {
    const double zoom = session_->zoom();
    return QRectF(viewPoint(r.topLeft()), QSizeF(r.width() * zoom, r.height() * zoom));
}

QRectF ScreenshotCanvasView::previewRect() const {
    const std::optional<ScreenshotDocument>& source = session_->previewSource();
    if (!source) return QRectF(imageOrigin(), displaySize() * session_->zoom());
    const QRectF visible = source->crop ? source->crop->normalized() : QRectF(QPointF(0, 0), source->canvas);
    const double margin = source->backdrop.enabled ? ScreenshotRenderer::backdropMargin(source->backdrop) : 0;
    return viewRect(visible.adjusted(-margin, -margin, margin, margin));
}

void ScreenshotCanvasView::applyViewport(const QString& command) {
    const double w = width() - fitMargin, h = height() - fitMargin;
    std::optional<QRectF> target;
    if (command == QLatin1String("selection")) {
        if (session_->selection())
            target = session_->selection()->normalized();
        else if (const auto layer = session_->selectedLayer())
            target = layer->frame.normalized();
    }
    fitted_.reset();
    if (command == QLatin1String("actual")) {
        session_->setZoom(1);
        session_->setPan(QPointF(0, 0));
    } else if (target) {
        const double zoom = clampZoom(std::min(w / target->width(), h / target->height()), maxZoom);
        const QRectF c = content();
        session_->setZoom(zoom);
        session_->setPan(QPointF((c.center().x() - target->center().x()) * zoom, (c.center().y() - target->center().y()) * zoom));
    } else {
        const QSizeF display = displaySize();
        session_->setZoom(clampZoom(std::min(w / display.width(), h / display.height()), 4));
        session_->setPan(QPointF(0, 0));
        fitted_ = session_->zoom();
        fittedDisplay_ = display;
    }
    update();
}

void ScreenshotCanvasView::zoomAbout(double factor, QPointF view) {
    if (!std::isfinite(factor) || factor <= 0) return;
    const QPointF d = imagePoint(view);
    session_->setZoom(clampZoom(session_->zoom() * factor, maxZoom));
    const QPointF moved = viewPoint(d);
    session_->setPan(session_->pan() + (view - moved));
    update();
}

void ScreenshotCanvasView::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    if (initialFit_ && width() > 10) {
        initialFit_ = false;
        applyViewport(QStringLiteral("fit"));
    } else if (fitted_ && session_->zoom() == *fitted_ && session_->pan() == QPointF(0, 0)) {
        // The view is still as the last fit left it (the panel opening around it grows it after
        // its first layout): fit again, until the user zooms or pans.
        applyViewport(QStringLiteral("fit"));
    }
}

// ---- hover, wheel, pinch

void ScreenshotCanvasView::hover(QPointF v) {
    const QImage& preview = session_->preview();
    if (preview.isNull()) return;
    if (!pixels_ || pixelsKey_ != preview.cacheKey()) {
        pixels_.reset();
        try {
            pixels_ = ScreenshotColor::Pixels::fromImage(preview);
            pixelsKey_ = preview.cacheKey();
        } catch (const std::exception&) {
            return;  // tried again on the next move
        }
    }
    const QPointF origin = previewRect().topLeft();  // the pixel drawn under the pointer
    const double zoom = session_->zoom();
    const double x = std::floor((v.x() - origin.x()) / zoom), y = std::floor((v.y() - origin.y()) / zoom);
    if (!(std::abs(x) < 1e9 && std::abs(y) < 1e9)) return;
    const auto colour = pixels_->color(static_cast<int>(x), static_cast<int>(y));
    if (colour && colour != session_->hoverColor()) session_->setHoverColor(colour);
}

void ScreenshotCanvasView::wheelEvent(QWheelEvent* event) {
    // Touchpads give pixels; a wheel notch (120 eighths of a degree) counts as one line. Scrolling
    // up is a negative delta.
    const QPointF delta = event->pixelDelta().isNull() ? QPointF(event->angleDelta()) / -120.0 : -QPointF(event->pixelDelta());
    if (event->modifiers().testFlag(Qt::ControlModifier)) {
        zoomAbout(std::exp(delta.y() / -100), event->position());
    } else {
        session_->setPan(session_->pan() + delta);
        update();
    }
    event->accept();
}

bool ScreenshotCanvasView::event(QEvent* event) {
    if (event->type() == QEvent::NativeGesture) {
        auto* gesture = static_cast<QNativeGestureEvent*>(event);
        if (gesture->gestureType() == Qt::ZoomNativeGesture) {
            zoomAbout(std::max(1 + gesture->value(), 0.1), gesture->position());
            return true;
        }
    }
    if (event->type() == QEvent::KeyPress) {
        // Tab is the copy-colour key here, not a focus move.
        auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Tab || key->key() == Qt::Key_Backtab) {
            keyPressEvent(key);
            return true;
        }
    }
    return QWidget::event(event);
}

}  // namespace brevalto
