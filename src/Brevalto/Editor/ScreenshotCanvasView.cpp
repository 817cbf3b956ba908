#include "Editor/ScreenshotCanvasView.h"

#include "Document/ScreenshotDocumentSession.h"
#include "Document/ScreenshotRenderer.h"
#include "Editor/CanvasTools.h"
#include "Platform/KeyCodes.h"
#include "Platform/Pasteboard.h"

#include <QAbstractSpinBox>
#include <QApplication>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMimeData>
#include <QMouseEvent>
#include <QNativeGestureEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPlainTextEdit>
#include <QTextEdit>
#include <QTimer>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>

namespace brevalto {

namespace {

using Property = ScreenshotDocumentSession::Property;
using namespace CanvasTools;

constexpr double fitMargin = 32;
const QColor surroundColor = QColor::fromRgbF(0.13f, 0.13f, 0.13f);
const QColor backingColor = QColor::fromRgbF(0.28f, 0.28f, 0.28f);
const QColor dimColor(0, 0, 0, 89);  // alpha 0.35
const QColor handleOutline(128, 128, 128);

// The zoom kept within minZoom...high; a value that is not a number leaves the zoom at 1.
double clampZoom(double zoom, double high) {
    if (std::isnan(zoom)) zoom = 1;
    return std::clamp(zoom, ScreenshotCanvasView::minZoom, high);
}

// A pen whose dashes are lengths in view points (Qt measures dashes in pen widths).
QPen dashedPen(const QColor& color, double width, double on, double off) {
    QPen pen(color, width);
    pen.setDashPattern({on / width, off / width});
    pen.setDashOffset(0);
    return pen;
}

QPointF unitPoint(QPointF p, const QRectF& frame) {
    return QPointF((p.x() - frame.left()) / frame.width(), (p.y() - frame.top()) / frame.height());
}

std::optional<std::size_t> indexOf(const ScreenshotDocument& document, const Uuid& id) {
    for (std::size_t i = 0; i < document.layers.size(); ++i)
        if (document.layers[i].id == id) return i;
    return std::nullopt;
}

QString describe(const std::exception& error) { return QString::fromUtf8(error.what()); }

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
            update();
            break;
        case Property::document:
        case Property::selection:
        case Property::preview:
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
    const QPointF origin = imageOrigin();
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

// ---- pointer

void ScreenshotCanvasView::mousePressEvent(QMouseEvent* event) {
    // A second button during a gesture belongs to that gesture.
    if (gesture_ && (event->buttons() & ~event->button())) return;
    if (event->button() != Qt::LeftButton && event->button() != Qt::MiddleButton) return;
    pressed(event->position(), event->button() == Qt::MiddleButton);
}

void ScreenshotCanvasView::mouseMoveEvent(QMouseEvent* event) {
    if (gesture_ && event->buttons() != Qt::NoButton)
        dragged(event->position());
    else
        hover(event->position());
}

void ScreenshotCanvasView::mouseReleaseEvent(QMouseEvent* event) {
    if (!gesture_ || event->buttons() != Qt::NoButton) return;
    released(event->position());
}

void ScreenshotCanvasView::focusOutEvent(QFocusEvent* event) {
    QWidget::focusOutEvent(event);
    // A window that loses the focus mid-gesture may never see the button go up: drop the
    // proposal, which leaves the document as it was.
    if (gesture_ && event->reason() == Qt::ActiveWindowFocusReason) resetGesture();
}

void ScreenshotCanvasView::pressed(QPointF view, bool middle) {
    setFocus(Qt::MouseFocusReason);
    try {
        session_->commitGesture();
    } catch (const std::exception& error) {
        setStatus(error);
    }
    gesture_ = true;
    viewAnchor_ = view;
    anchor_ = imagePoint(view);
    draft_.reset();
    moveID_.reset();
    dragRect_.reset();
    handle_.reset();
    lensDrag_.reset();
    lensPreview_.reset();
    controlPoint_ = false;
    selectingArea_ = false;
    path_ = {anchor_};
    pathBounds_ = QRectF(anchor_, QSizeF(0, 0));
    const QString& tool = session_->tool();
    if (tool == QLatin1String("pan") || middle) {
        panning_ = true;
        originalFrame_.moveTopLeft(session_->pan());
        return;
    }
    const QRectF canvas = canvasRect();
    if (!(anchor_.x() >= canvas.left() && anchor_.x() <= canvas.right() && anchor_.y() >= canvas.top() &&
          anchor_.y() <= canvas.bottom()))
        return;
    if (tool == QLatin1String("smart")) {
        session_->startSmartSelection(anchor_.x(), anchor_.y());
    } else if (tool == QLatin1String("color")) {
        session_->setSelectionRect(QRectF(std::floor(anchor_.x()), std::floor(anchor_.y()), 1, 1));
    } else if (tool == QLatin1String("ruler")) {
        rulerEnd_ = anchor_;
    } else if (tool == QLatin1String("select")) {
        pressedSelect();
    } else if (const auto kind = toolKind(tool, session_->effectMode())) {
        session_->setSelectionRect(std::nullopt);
        draft_ = newDraft(*kind, anchor_, session_->style(), session_->nextCounter());
    }
    update();
}

void ScreenshotCanvasView::pressedSelect() {
    const double zoom = session_->zoom();
    const std::optional<ScreenshotLayer> selected = session_->selectedLayer();
    const auto distance = [this](QPointF p) { return std::hypot(p.x() - viewAnchor_.x(), p.y() - viewAnchor_.y()); };
    if (selected) {
        const QRectF f = selected->frame;
        if (selected->kind == ScreenshotLayerKind::magnifier) {
            const QRectF lens = selected->magnifierLens();
            if (distance(viewPoint(QPointF(lens.right(), lens.center().y()))) < 10) {
                lensDrag_ = LensDrag{true, lens};
                moveID_ = selected->id;
                return;
            }
        }
        double nearest = 8;
        for (const QPointF& h : handles) {
            const double d = distance(viewPoint(QPointF(f.left() + h.x() * f.width(), f.top() + h.y() * f.height())));
            if (d < nearest) {
                nearest = d;
                handle_ = h;
            }
        }
        if (selected->kind == ScreenshotLayerKind::curvedArrow) {
            const QPointF c = controlPoint(*selected);
            controlPoint_ = distance(viewPoint(QPointF(f.left() + c.x() * f.width(), f.top() + c.y() * f.height()))) < 12;
        }
        if (handle_ || controlPoint_) {
            moveID_ = selected->id;
            originalFrame_ = f;
            return;
        }
        if (hitsLensOnly(*selected, anchor_)) {
            const QRectF lens = selected->magnifierLens();
            const double inset = 10 / zoom;
            const QRectF inner = lens.adjusted(inset, inset, -inset, -inset);
            lensDrag_ = LensDrag{!inner.contains(anchor_), lens};
            moveID_ = selected->id;
            return;
        }
    }
    const ScreenshotLayerList& layers = session_->document().layers;
    const ScreenshotLayer* hit = nullptr;
    for (std::size_t i = layers.size(); i-- > 0;) {
        if (hits(layers[i], anchor_)) {
            hit = &layers[i];
            break;
        }
    }
    if (hit) {
        const ScreenshotLayer layer = *hit;
        session_->setSelectedID(layer.id);
        moveID_ = layer.id;
        originalFrame_ = layer.frame;
        if (hitsLensOnly(layer, anchor_)) lensDrag_ = LensDrag{false, layer.magnifierLens()};
    } else {
        session_->setSelectedID(std::nullopt);
        originalFrame_ = QRectF();
        selectingArea_ = true;
        session_->setSelectionRect(std::nullopt);
    }
}

void ScreenshotCanvasView::dragged(QPointF view) {
    const QPointF p = imagePoint(view);
    if (panning_) {
        session_->setPan(originalFrame_.topLeft() + (view - viewAnchor_));
        return;
    }
    if (session_->tool() == QLatin1String("ruler")) {
        rulerEnd_ = p;
        session_->setStatus(rulerText(std::hypot(p.x() - anchor_.x(), p.y() - anchor_.y()), session_->document().sourceScale));
        updateOverlay();
        return;
    }
    if (lensDrag_) {
        draggedLens(p);
        return;
    }
    if (moveID_) {
        draggedMove(p);
        return;
    }
    const QRectF box(std::min(anchor_.x(), p.x()), std::min(anchor_.y(), p.y()), std::max(std::abs(p.x() - anchor_.x()), 1.0),
                     std::max(std::abs(p.y() - anchor_.y()), 1.0));
    dragRect_ = box.intersected(canvasRect());
    if (!draft_) {
        updateOverlay();
        return;
    }
    const QPointF last = path_.back();
    if (std::hypot(p.x() - last.x(), p.y() - last.y()) >= 0.75 && path_.size() < static_cast<std::size_t>(maxPathPoints)) {
        path_.push_back(p);
        pathBounds_ = QRectF(QPointF(std::min(pathBounds_.left(), p.x()), std::min(pathBounds_.top(), p.y())),
                             QPointF(std::max(pathBounds_.right(), p.x()), std::max(pathBounds_.bottom(), p.y())));
    }
    if (draft_->kind == ScreenshotLayerKind::freehand || draft_->kind == ScreenshotLayerKind::highlighter)
        draft_->frame = QRectF(pathBounds_.topLeft(), QSizeF(std::max(pathBounds_.width(), 1.0), std::max(pathBounds_.height(), 1.0)));
    else
        draft_->frame = box;
    if (draft_->kind == ScreenshotLayerKind::magnifier) {
        ScreenshotLayer preview = *draft_;
        placeLens(preview, content());
        ScreenshotDocument copy = session_->document();
        copy.layers.push_back(std::move(preview));
        session_->scheduleRender(std::move(copy));
    }
    updateOverlay();
}

void ScreenshotCanvasView::draggedLens(QPointF p) {
    const auto index = indexOf(session_->document(), *moveID_);
    if (!index) return;
    ScreenshotLayer layer = session_->document().layers[*index];
    const QRectF start = lensDrag_->start;
    QPointF centre = start.center();
    if (!lensDrag_->resize) {
        centre = QPointF(p.x() + start.center().x() - anchor_.x(), p.y() + start.center().y() - anchor_.y());
    } else {
        const double m = 2 * std::max(std::abs(p.x() - start.center().x()) / layer.frame.width(),
                                      std::abs(p.y() - start.center().y()) / layer.frame.height());
        layer.value = std::clamp(std::isnan(m) ? 1.0 : m, 1.0, 8.0);
    }
    layer.setMagnifierLensCenter(centre);
    lensPreview_ = layer;
    previewMagnifier(layer);
    update();
}

void ScreenshotCanvasView::draggedMove(QPointF p) {
    const QRectF o = originalFrame_;
    QRectF proposed = o;
    if (controlPoint_) {
        session_->setStatus(QString::asprintf("Control point %.1f, %.1f px", p.x(), p.y()));
    } else if (handle_) {
        proposed = resizedFrame(o, *handle_, p);
    } else {
        proposed = o.translated(p - anchor_);
        if (session_->snap()) proposed = snappedFrame(proposed, session_->document(), moveID_, session_->zoom());
    }
    dragRect_ = proposed;
    if (const auto index = indexOf(session_->document(), *moveID_)) {
        ScreenshotLayer layer = session_->document().layers[*index];
        if (layer.kind == ScreenshotLayerKind::magnifier) {
            setFrameKeepingLens(layer, proposed);
            previewMagnifier(layer);
        }
    }
    updateOverlay();
}

void ScreenshotCanvasView::previewMagnifier(const ScreenshotLayer& magnifier) {
    ScreenshotDocument copy = session_->document();
    if (const auto index = indexOf(copy, magnifier.id)) copy.layers[*index] = magnifier;
    session_->scheduleRender(std::move(copy));
}

void ScreenshotCanvasView::released(QPointF view) {
    if (panning_) {
        resetGesture();
        return;
    }
    const QPointF p = imagePoint(view);
    if (lensDrag_) {
        if (lensPreview_ && indexOf(session_->document(), lensPreview_->id)) {
            const ScreenshotLayer lens = *lensPreview_;
            try {
                session_->edit([&](ScreenshotDocument& d) {
                    if (const auto index = indexOf(d, lens.id)) d.layers[*index] = lens;
                });
            } catch (const std::exception& error) {
                setStatus(error);
            }
        }
        resetGesture();
        return;
    }
    if (moveID_) releasedMove(p);
    const QString& tool = session_->tool();
    if ((tool == QLatin1String("area") || selectingArea_) && dragRect_ && !dragRect_->isNull()) {
        session_->setSelectionRect(integral(*dragRect_));
        resetGesture();
        return;
    }
    if (tool == QLatin1String("ruler") && std::hypot(p.x() - anchor_.x(), p.y() - anchor_.y()) < 3) measureEdges(p);
    if (draft_) finishDraft(p);
    resetGesture();
}

void ScreenshotCanvasView::releasedMove(QPointF p) {
    const auto index = indexOf(session_->document(), *moveID_);
    if (!index) return;
    const std::size_t i = *index;
    const QRectF o = originalFrame_;
    try {
        if (controlPoint_) {
            session_->commitGesture();
            session_->beginGesture();
            ScreenshotDocument changed = session_->document();
            ScreenshotLayer& layer = changed.layers[i];
            if (layer.points.size() < 3) layer.points = {QPointF(0, 1), QPointF(1, 0), defaultControlPoint};
            layer.points[2] = QPointF((p.x() - o.left()) / o.width(), (p.y() - o.top()) / o.height());
            session_->setDocument(std::move(changed));
            session_->commitGesture();
        } else if (dragRect_) {
            const QRectF frame = *dragRect_;
            session_->edit([&](ScreenshotDocument& d) { setFrameKeepingLens(d.layers[i], frame); });
        }
    } catch (const std::exception& error) {
        setStatus(error);
    }
}

void ScreenshotCanvasView::finishDraft(QPointF p) {
    ScreenshotLayer layer = *draft_;
    if (layer.frame.width() < 4 && layer.frame.height() < 4) layer.frame.setSize(clickSize(layer.kind));
    if (session_->tool() == QLatin1String("effect") && session_->effectMode().endsWith(QLatin1String("Text"))) {
        session_->setSelectionRect(integral(layer.frame).intersected(canvasRect()));
        if (maskText_) maskText_(layer.kind);
        return;
    }
    const QRectF f = layer.frame;
    switch (layer.kind) {
    case ScreenshotLayerKind::magnifier: placeLens(layer, content()); break;
    case ScreenshotLayerKind::freehand:
    case ScreenshotLayerKind::highlighter:
        layer.points.clear();
        layer.points.reserve(path_.size());
        for (const QPointF& point : path_) layer.points.push_back(unitPoint(point, f));
        break;
    case ScreenshotLayerKind::arrow:
    case ScreenshotLayerKind::curvedArrow:
        layer.points = {unitPoint(anchor_, f), unitPoint(p, f), QPointF(0.5, 0.1)};
        break;
    default: break;
    }
    try {
        session_->addLayer(layer);
    } catch (const std::exception& error) {
        setStatus(error);
        return;
    }
    session_->setStatus(layer.kind == ScreenshotLayerKind::erase
                            ? QStringLiteral("Erase samples the nearby background; best on flat backgrounds.")
                            : QStringLiteral("Revision saved. Undo keeps the original image."));
}

void ScreenshotCanvasView::measureEdges(QPointF p) {
    const ScreenshotDocument& document = session_->document();
    try {
        const QImage image = ScreenshotRenderer::render(document, session_->directory(), false, false);
        const ScreenshotColor::Pixels pixels = ScreenshotColor::Pixels::fromImage(image);
        const QPointF offset = document.crop ? document.crop->normalized().topLeft() : QPointF();
        const QPointF q = p - offset;
        const double tolerance = session_->tolerance();
        const auto horizontal = pixels.edge(true, q.x(), q.y(), tolerance);
        const auto vertical = pixels.edge(false, q.x(), q.y(), tolerance);
        session_->setStatus(edgeText(horizontal, vertical, document.sourceScale));
    } catch (const std::exception& error) {
        setStatus(error);
    }
}

void ScreenshotCanvasView::resetGesture() {
    gesture_ = false;
    draft_.reset();
    moveID_.reset();
    dragRect_.reset();
    lensDrag_.reset();
    lensPreview_.reset();
    panning_ = false;
    selectingArea_ = false;
    update();
}

void ScreenshotCanvasView::setStatus(const std::exception& error) {
    session_->setStatus(describe(error));
    update();
}

// ---- keys

bool ScreenshotCanvasView::textFieldHasFocus() const {
    QWidget* focus = QApplication::focusWidget();
    if (!focus || focus == this) return false;
    return qobject_cast<QLineEdit*>(focus) || qobject_cast<QTextEdit*>(focus) || qobject_cast<QPlainTextEdit*>(focus) ||
           qobject_cast<QAbstractSpinBox*>(focus) || focus->testAttribute(Qt::WA_InputMethodEnabled);
}

void ScreenshotCanvasView::undo() { session_->undo(); }

void ScreenshotCanvasView::redo() { session_->redo(); }

void ScreenshotCanvasView::keyPressEvent(QKeyEvent* event) {
    // Keys typed into a text field, an input method's composition included, are never the canvas's.
    const std::optional<KeyPress> press = keyPressOf(*event);
    if (textFieldHasFocus() || !press || !handleKey(*press, static_cast<Qt::Key>(event->key()))) {
        QWidget::keyPressEvent(event);
        return;
    }
    event->accept();
}

bool ScreenshotCanvasView::handleKey(const KeyPress& press, Qt::Key key) {
    ScreenshotDocumentSession& s = *session_;
    const bool shift = press.flags & KeyPress::shift, option = press.flags & KeyPress::option;
    const bool command = press.flags & KeyPress::command, control = press.flags & KeyPress::control;
    if (command && key == Qt::Key_Z) {
        if (shift)
            s.redo();
        else
            s.undo();
        return true;
    }
    if (press.code == KeyPress::deleteKey || press.code == KeyPress::forwardDelete) {
        if (const auto id = s.selectedID()) {
            try {
                s.edit([&](ScreenshotDocument& d) {
                    ScreenshotLayerList kept;
                    for (const ScreenshotLayer& layer : d.layers)
                        if (layer.id != *id) kept.push_back(layer);
                    d.layers = std::move(kept);
                });
                s.setSelectedID(std::nullopt);
            } catch (const std::exception& error) {
                setStatus(error);
            }
        }
        return true;
    }
    if (press.code == KeyPress::escape) {
        if (gesture_) resetGesture();
        if (s.selection() || s.smartCandidate() || s.selectedID()) {
            s.setSelectionRect(std::nullopt);
            s.cancelSmartSelection();
            s.setSmartCandidate(std::nullopt);
            s.setSelectedID(std::nullopt);
        } else if (close_) {
            close_();
        }
        return true;
    }
    if ((press.code == KeyPress::returnKey || press.code == KeyPress::keypadEnter) && s.selection()) {
        try {
            s.crop();
        } catch (const std::exception& error) {
            setStatus(error);
        }
        return true;
    }
    if (press.code == KeyPress::tab) {
        if (copyColor_) copyColor_();
        return true;
    }
    if (!command && !option && !control && key >= Qt::Key_A && key <= Qt::Key_Z) {
        if (const auto tool = toolForLetter(QChar(u'a' + (key - Qt::Key_A)))) {
            s.setSelectionRect(std::nullopt);
            s.selectTool(*tool);
            return true;
        }
    }
    if (const auto unit = arrowStep(press.code)) {
        const double step = shift ? 10 : 1;
        if (const auto selection = s.selection()) {
            QRectF r = *selection;
            if (option) {
                r.setWidth(std::max(r.width() + unit->x() * step, 1.0));
                r.setHeight(std::max(r.height() + unit->y() * step, 1.0));
            } else {
                r.translate(unit->x() * step, unit->y() * step);
            }
            s.setSelectionRect(r.intersected(canvasRect()));
        } else {
            try {
                s.nudgeSelected(unit->x(), unit->y(), step, option);
            } catch (const std::exception& error) {
                s.setStatus(describe(error));
            }
        }
        update();
        return true;
    }
    return false;
}

// ---- drop

std::vector<QImage> ScreenshotCanvasView::dropImages(const QMimeData& data) {
    PasteboardItem item;
    if (data.hasFormat(QStringLiteral("text/uri-list")))
        item.setData(PasteboardType::fileURL, data.data(QStringLiteral("text/uri-list")));
    if (data.hasFormat(QStringLiteral("image/png"))) item.setData(PasteboardType::png, data.data(QStringLiteral("image/png")));
    if (data.hasFormat(QStringLiteral("image/tiff")))
        item.setData(PasteboardType::tiff, data.data(QStringLiteral("image/tiff")));
    return ScreenshotDocumentSession::pasteboardImages({item});
}

bool ScreenshotCanvasView::importDrop(const QMimeData& data) {
    try {
        session_->importImages(dropImages(data), vertical_, spacing_, alignment_);
        return true;
    } catch (const std::exception& error) {
        setStatus(error);
        return false;
    }
}

void ScreenshotCanvasView::dragEnterEvent(QDragEnterEvent* event) {
    event->setDropAction(Qt::CopyAction);
    event->accept();
}

void ScreenshotCanvasView::dragMoveEvent(QDragMoveEvent* event) {
    event->setDropAction(Qt::CopyAction);
    event->accept();
}

void ScreenshotCanvasView::dropEvent(QDropEvent* event) {
    if (importDrop(*event->mimeData())) {
        event->setDropAction(Qt::CopyAction);
        event->accept();
    } else {
        event->ignore();
    }
}

// ---- drawing

void ScreenshotCanvasView::updateOverlay() {
    const QRectF now = overlayBounds();
    const QRectF dirty = lastOverlay_.united(now);
    lastOverlay_ = now;
    if (session_->guides() && moveID_)
        update();  // the guides span the whole view
    else if (const QRectF visible = dirty.intersected(QRectF(rect())); !visible.isEmpty())
        update(visible.toAlignedRect());
}

QRectF ScreenshotCanvasView::overlayBounds() const {
    // Everything the gesture draws: the draft, the drag rectangle, the selected layer's handles,
    // and the ruler, each grown by the widest pen and the handles' half size.
    QRectF bounds;
    const auto add = [&](const QRectF& r) { bounds = bounds.united(r.normalized().adjusted(-14, -14, 14, 14)); };
    if (draft_) add(viewRect(draft_->frame));
    if (dragRect_) add(viewRect(*dragRect_));
    if (const auto layer = session_->selectedLayer()) add(viewRect(layer->frame));
    if (rulerEnd_) add(QRectF(viewPoint(anchor_), viewPoint(*rulerEnd_)));
    return bounds;
}

void ScreenshotCanvasView::drawHandle(QPainter& painter, QPointF p) const {
    painter.setPen(QPen(handleOutline, 1));
    painter.setBrush(Qt::white);
    painter.drawRoundedRect(QRectF(p.x() - 5, p.y() - 5, 10, 10), 3, 3);
}

const QImage& ScreenshotCanvasView::scaledPreview(const QSize&) {
    // The preview in the format the painter draws without converting it on every paint.
    const QImage& preview = session_->preview();
    if (preview.format() == QImage::Format_ARGB32_Premultiplied || preview.format() == QImage::Format_RGB32)
        return preview;
    if (scaledKey_ != preview.cacheKey()) {
        scaled_ = preview.convertToFormat(QImage::Format_ARGB32_Premultiplied);
        scaledKey_ = preview.cacheKey();
    }
    return scaled_;
}

void ScreenshotCanvasView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), surroundColor);
    const QRectF image(imageOrigin(), displaySize() * session_->zoom());
    painter.fillRect(image, backingColor);
    if (!session_->preview().isNull()) {
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        const QImage& preview = scaledPreview(image.size().toSize());
        painter.drawImage(image, preview, QRectF(preview.rect()));
    }
    painter.setRenderHint(QPainter::Antialiasing);
    drawOverlay(painter);
}

void ScreenshotCanvasView::drawOverlay(QPainter& painter) const {
    const ScreenshotDocumentSession& s = *session_;
    const double zoom = s.zoom();
    const QRectF image(imageOrigin(), displaySize() * zoom);
    painter.setBrush(Qt::NoBrush);

    if (const auto selection = s.selection(); selection && !selection->isEmpty()) {
        const QRectF v = viewRect(*selection);
        QPainterPath dim;
        dim.setFillRule(Qt::OddEvenFill);
        dim.addRect(image);
        dim.addRect(v);
        painter.fillPath(dim, dimColor);
        painter.setPen(dashedPen(Qt::white, 1.5, 5, 4));
        painter.drawRect(v);
        QFont font = painter.font();
        font.setPixelSize(12);
        font.setWeight(QFont::DemiBold);
        painter.setFont(font);
        const QString label = selectionLabel(selection->size());
        const QRectF box(v.center().x() - 90, v.bottom() + 6, 180, 36);
        painter.setPen(QColor(0, 0, 0, 160));
        for (const QPointF offset : {QPointF(-1, 0), QPointF(1, 0), QPointF(0, -1), QPointF(0, 1)})
            painter.drawText(box.translated(offset), Qt::AlignCenter, label);
        painter.setPen(Qt::white);
        painter.drawText(box, Qt::AlignCenter, label);
    }
    const QPen orange = dashedPen(Colors::orange, 1.5, 5, 4);
    painter.setBrush(Qt::NoBrush);
    if (const auto candidate = s.smartCandidate()) {
        painter.setPen(orange);
        painter.drawRect(viewRect(*candidate));
    }
    for (const QRectF& f : s.secretFrames()) {
        painter.setPen(orange);
        painter.drawRect(QRectF(viewPoint(f.topLeft()), QSizeF(f.width() * zoom, f.height() * zoom)));
    }
    if (const auto layer = s.selectedLayer()) {
        const QRectF f = dragRect_ ? *dragRect_ : layer->frame;
        for (const QPointF& h : handles)
            drawHandle(painter, viewPoint(QPointF(f.left() + h.x() * f.width(), f.top() + h.y() * f.height())));
        if (layer->kind == ScreenshotLayerKind::magnifier) {
            const QRectF lens = (lensPreview_ ? *lensPreview_ : *layer).magnifierLens();
            drawHandle(painter, viewPoint(QPointF(lens.right(), lens.center().y())));
        }
        if (layer->kind == ScreenshotLayerKind::curvedArrow) {
            const QPointF c = controlPoint(*layer);
            const QPointF p = viewPoint(QPointF(f.left() + c.x() * f.width(), f.top() + c.y() * f.height()));
            painter.setPen(Qt::NoPen);
            painter.setBrush(Colors::yellow);
            painter.drawEllipse(QRectF(p.x() - 5, p.y() - 5, 10, 10));
            painter.setBrush(Qt::NoBrush);
        }
    }
    if (draft_) {
        painter.setPen(QPen(Colors::green, 1.5));
        painter.setBrush(Qt::NoBrush);
        const QRectF v = viewRect(draft_->frame);
        if (draft_->kind == ScreenshotLayerKind::magnifier && !draft_->style.filled)
            painter.drawEllipse(v);
        else
            painter.drawRect(v);
    }
    if (dragRect_ && (s.tool() == QLatin1String("area") || selectingArea_)) {
        painter.setPen(dashedPen(Colors::blue, 1.5, 5, 4));
        painter.drawRect(viewRect(*dragRect_));
    }
    if (s.guides() && moveID_ && dragRect_) {
        const QPointF p = viewPoint(dragRect_->topLeft());
        painter.setPen(QPen(Colors::teal, 1));
        painter.drawLine(QPointF(p.x(), 0), QPointF(p.x(), height()));
        painter.drawLine(QPointF(0, p.y()), QPointF(width(), p.y()));
    }
    if (s.tool() == QLatin1String("ruler") && rulerEnd_) {
        painter.setPen(QPen(Colors::orange, 2));
        painter.drawLine(viewPoint(anchor_), viewPoint(*rulerEnd_));
    }
}

}  // namespace brevalto
