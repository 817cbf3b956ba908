// The canvas's pointer gestures: drawing new layers, selecting, moving and resizing layers,
// dragging magnifier lenses, panning, measuring and selecting areas.
#include "Editor/Canvas/ScreenshotCanvasView.h"

#include "Document/ScreenshotDocumentSession.h"
#include "Document/ScreenshotRenderer.h"
#include "Editor/Canvas/CanvasTools.h"

#include <QMouseEvent>

#include <algorithm>
#include <cmath>

namespace brevalto {

namespace {

using namespace CanvasTools;

QPointF unitPoint(QPointF p, const QRectF& frame) {
    return QPointF((p.x() - frame.left()) / frame.width(), (p.y() - frame.top()) / frame.height());
}

std::optional<std::size_t> indexOf(const ScreenshotDocument& document, const Uuid& id) {
    for (std::size_t i = 0; i < document.layers.size(); ++i)
        if (document.layers[i].id == id) return i;
    return std::nullopt;
}

}  // namespace

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
    session_->setStatus(QString::fromUtf8(error.what()));
    update();
}

}  // namespace brevalto
