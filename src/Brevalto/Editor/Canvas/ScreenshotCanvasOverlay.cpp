// What the canvas draws: the preview at its zoom and pan, and over it the selection, proposals,
// secret candidates, handles, the draft of a new layer, guides and the ruler.
#include "Editor/Canvas/ScreenshotCanvasView.h"

#include "Document/ScreenshotDocumentSession.h"
#include "Editor/Canvas/CanvasTools.h"

#include <QPainter>
#include <QPainterPath>

namespace brevalto {

namespace {

using namespace CanvasTools;

const QColor surroundColor = QColor::fromRgbF(0.13f, 0.13f, 0.13f);
const QColor backingColor = QColor::fromRgbF(0.28f, 0.28f, 0.28f);
const QColor dimColor(0, 0, 0, 89);  // alpha 0.35
const QColor handleOutline(128, 128, 128);

// A pen whose dashes are lengths in view points (Qt measures dashes in pen widths).
QPen dashedPen(const QColor& color, double width, double on, double off) {
    QPen pen(color, width);
    pen.setDashPattern({on / width, off / width});
    pen.setDashOffset(0);
    return pen;
}

}  // namespace

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
        const QRectF shown = previewRect();
        const QImage& preview = scaledPreview(shown.size().toSize());
        painter.drawImage(shown, preview, QRectF(preview.rect()));
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
