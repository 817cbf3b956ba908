#include "Document/DocumentValidation.h"
#include "Document/ImageEffects.h"
#include "Document/ScreenshotColor.h"
#include "Document/ScreenshotRenderer.h"
#include "Errors/ScreenshotError.h"

#include <QPolygonF>
#include <QTransform>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <vector>

namespace brevalto::ScreenshotRenderer {

namespace {

using Kind = ScreenshotLayerKind;

// Saves the painter's state and restores it on every way out.
class SavedState {
public:
    explicit SavedState(QPainter& painter) : painter_(painter) { painter_.save(); }
    ~SavedState() { painter_.restore(); }
    SavedState(const SavedState&) = delete;
    SavedState& operator=(const SavedState&) = delete;

private:
    QPainter& painter_;
};

QPointF inFrame(const QRectF& frame, QPointF p) {
    return {frame.left() + p.x() * frame.width(), frame.top() + p.y() * frame.height()};
}

QPointF midpoint(QPointF a, QPointF b) { return (a + b) / 2; }

// The image the painter draws into, when it draws into one.
QImage* targetImage(QPainter& painter) {
    QPaintDevice* device = painter.device();
    if (!device || device->devType() != QInternal::Image) return nullptr;
    return static_cast<QImage*>(device);
}

bool finite(double v) { return std::isfinite(v); }

// Geometry and numbers the drawing can work with. A document passes far stricter checks before
// it is rendered; this only keeps a direct caller's NaN or infinity out of the paths.
bool drawable(const ScreenshotLayer& layer) {
    const ScreenshotStyle& s = layer.style;
    if (!isValidLayerRect(layer.frame) || !finite(layer.rotation) || !finite(layer.value)) return false;
    if (!finite(s.strokeWidth) || s.strokeWidth < 0 || !finite(s.fontSize) || !finite(s.opacity)) return false;
    return std::all_of(layer.points.begin(), layer.points.end(),
                       [](QPointF p) { return finite(p.x()) && finite(p.y()); });
}

QPen strokePen(const ScreenshotLayer& layer, double width) {
    return QPen(QBrush(layer.style.stroke.qColor()), width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
}

void drawArrow(const ScreenshotLayer& layer, const QRectF& frame, QPainter& painter) {
    const auto& points = layer.points;
    const QPointF start = inFrame(frame, points.size() > 0 ? points[0] : QPointF(0, 1));
    const QPointF end = inFrame(frame, points.size() > 1 ? points[1] : QPointF(1, 0));
    const QPointF control = inFrame(frame, points.size() > 2 ? points[2] : QPointF(0.5, 0.15));
    const bool curved = layer.kind == Kind::curvedArrow;
    const QPen pen = strokePen(layer, layer.style.strokeWidth);

    QPainterPath shaft(start);
    if (curved)
        shaft.quadTo(control, end);
    else if (layer.style.handDrawn)
        shaft.quadTo(QPointF((start.x() + end.x()) / 2 + 2, (start.y() + end.y()) / 2 - 2), end);
    else
        shaft.lineTo(end);
    painter.strokePath(shaft, pen);

    const QPointF from = curved ? control : start;
    const double theta = std::atan2(end.y() - from.y(), end.x() - from.x());
    const double length = 4 * layer.style.strokeWidth;
    QPainterPath head(end - length * QPointF(std::cos(theta - 0.45), std::sin(theta - 0.45)));
    head.lineTo(end);
    head.lineTo(end - length * QPointF(std::cos(theta + 0.45), std::sin(theta + 0.45)));
    painter.strokePath(head, pen);
}

// A freehand line through the points, smoothed by quadratic curves to the midpoints.
void drawStroke(const ScreenshotLayer& layer, const QRectF& frame, QPainter& painter) {
    if (layer.points.empty()) return;
    double width = layer.style.strokeWidth;
    if (layer.kind == Kind::highlighter) {
        painter.setCompositionMode(QPainter::CompositionMode_Multiply);
        painter.setOpacity(layer.style.opacity * 0.35);
        width *= 4;
    }
    std::vector<QPointF> points;
    points.reserve(layer.points.size());
    for (QPointF p : layer.points) points.push_back(inFrame(frame, p));
    if (points.size() == 1) {
        // A single point is a round dot as wide as the line.
        painter.setPen(Qt::NoPen);
        painter.setBrush(layer.style.stroke.qColor());
        painter.drawEllipse(points.front(), width / 2, width / 2);
        return;
    }
    QPainterPath path(points.front());
    for (std::size_t i = 0; i + 1 < points.size(); ++i) path.quadTo(points[i], midpoint(points[i], points[i + 1]));
    path.lineTo(points.back());
    painter.strokePath(path, strokePen(layer, width));
}

void drawSpotlight(const QRectF& frame, const QRectF& canvas, QPainter& painter) {
    QPainterPath path;
    path.setFillRule(Qt::OddEvenFill);
    path.addRect(canvas);
    path.addEllipse(frame);
    painter.fillPath(path, QColor::fromRgbF(0, 0, 0, 0.65f));
}

void clipTo(QPainter& painter, const QPainterPath& path) {
    painter.setClipPath(path, painter.hasClipping() ? Qt::IntersectClip : Qt::ReplaceClip);
}

QPainterPath roundedRect(const QRectF& rect, double radius) {
    QPainterPath path;
    path.addRoundedRect(rect, radius, radius);
    return path;
}

void drawMagnifier(const ScreenshotLayer& layer, const QRectF& frame, const QRectF& canvas, QPainter& painter,
                   const QImage* base) {
    if (!base || base->isNull()) return;
    const double z = std::max(layer.value, 1.0);
    const bool filled = layer.style.filled;
    ScreenshotLayer upright = layer;
    upright.frame = frame;
    const QRectF lens = upright.magnifierLens();
    const QPainterPath lensShape =
        roundedRect(lens, (filled ? 0.04 : 0.42) * std::min(lens.width(), lens.height()));
    QPainterPath sourceShape;
    if (filled)
        sourceShape = roundedRect(frame, 0.04 * std::min(frame.width(), frame.height()));
    else
        sourceShape.addEllipse(frame);
    const QPen pen = strokePen(layer, layer.style.strokeWidth);

    {
        // The connector runs between the source and the lens, never across either.
        SavedState state(painter);
        QPainterPath clip;
        clip.setFillRule(Qt::OddEvenFill);
        clip.addRect(canvas);
        clip.addRect(lens.adjusted(-1, -1, 1, 1));
        clip.addPath(sourceShape);
        clipTo(painter, clip);
        painter.setPen(pen);
        painter.drawLine(frame.center(), lens.center());
    }
    {
        SavedState state(painter);
        clipTo(painter, lensShape);
        painter.fillRect(lens, Qt::white);
        const QRect source = frame.intersected(canvas).toAlignedRect().intersected(base->rect());
        if (!source.isEmpty()) {
            const QImage cut = base->copy(source);
            painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
            painter.drawImage(QRectF(lens.left() + z * (source.left() - frame.left()),
                                     lens.top() + z * (source.top() - frame.top()), z * source.width(),
                                     z * source.height()),
                              cut);
        }
    }
    painter.strokePath(lensShape, pen);
    painter.strokePath(sourceShape, pen);
}

// Blur and pixelate work on device pixels: the region under the layer's footprint (its
// integral frame, turned by the painter's transform) is filtered as it lies on the image and
// drawn back in place, clipped to that footprint, so a turned effect covers exactly what it turns
// over.
void drawEffect(const ScreenshotLayer& layer, const QRectF& frame, const QRectF& canvas, QPainter& painter,
                const QTransform& entry, const std::stop_token& stop) {
    QImage* target = targetImage(painter);
    if (!target) return;
    const QTransform toDevice = painter.deviceTransform();
    const QPolygonF footprint = toDevice.map(QPolygonF(QRectF(frame.toAlignedRect())));
    const QRect region = footprint.boundingRect().toAlignedRect().intersected(target->rect()).intersected(
        entry.mapRect(canvas).toAlignedRect());
    if (region.isEmpty()) return;
    QImage cut = target->copy(region);
    if (cut.isNull()) throw ScreenshotError(kEffectMessage);
    if (layer.kind == Kind::blur)
        ImageEffects::gaussianBlur(cut, layer.value, stop);
    else
        ImageEffects::pixelate(cut, std::max(layer.value, 2.0), QPointF(150, cut.height() - 150.0));
    if (stop.stop_requested()) throw RenderCancelled();
    if (cut.isNull()) throw ScreenshotError(kEffectMessage);

    SavedState state(painter);
    painter.resetTransform();
    if (toDevice.type() > QTransform::TxTranslate) {
        QPainterPath clip;
        clip.addPolygon(footprint);
        clipTo(painter, clip);
    }
    painter.drawImage(region.topLeft(), cut);
}

// Fills the frame with the mean colour of thin strips just outside it.
void drawErase(const QRectF& frame, QPainter& painter) {
    QImage* target = targetImage(painter);
    if (!target) return;
    const QRect area = frame.adjusted(-2, -2, 2, 2).toAlignedRect().intersected(target->rect());
    std::vector<ScreenshotColor::RGBA> found;
    if (!area.isEmpty()) {
        const ScreenshotColor::Pixels pixels = ScreenshotColor::Pixels::fromImage(target->copy(area));
        const double w = frame.width(), h = frame.height();
        const QRectF strips[] = {
            {frame.left() - 2, frame.top() - 2, w + 4, 2},
            {frame.left() - 2, frame.bottom(), w + 4, 2},
            {frame.left() - 2, frame.top(), 2, h},
            {frame.right(), frame.top(), 2, h},
        };
        for (const QRectF& strip : strips)
            if (auto colour = pixels.averageColor(false, strip.translated(-area.topLeft()))) found.push_back(*colour);
    }
    if (found.empty()) throw ScreenshotError(kNoNearbyAreaMessage);
    ScreenshotColor::RGBA mean{0, 0, 0, 1};
    for (const auto& c : found) {
        mean.red += c.red / found.size();
        mean.green += c.green / found.size();
        mean.blue += c.blue / found.size();
    }
    painter.fillRect(frame, mean.qColor());
}

void drawImageLayer(const ScreenshotLayer& layer, const QRectF& frame, QPainter& painter, const ImageMap& images) {
    const auto found = layer.assetID ? images.find(*layer.assetID) : images.end();
    if (found == images.end() || found->second.isNull()) throw ScreenshotError(kMissingAssetMessage);
    painter.drawImage(frame, found->second);
}

QRectF textArea(const QRectF& frame) { return frame.adjusted(4, 3, -4, -3); }

}  // namespace

std::string missingFontMessage(const std::string& fontName) {
    return "Font " + fontName + " is missing. Choose an installed font.";
}

QPainterPath shapePath(const ScreenshotLayer& layer) {
    const QRectF frame = layer.frame.normalized();
    QPainterPath path;
    if (!layer.style.handDrawn) {
        if (layer.kind == Kind::oval)
            path.addEllipse(frame);
        else
            path.addRect(frame);
        return path;
    }
    const double phase = layer.id.bytes()[0] / 255.0 * std::numbers::pi;
    const double amplitude = std::min(layer.style.strokeWidth / 2, 1.8);
    const double w = frame.width(), h = frame.height();
    for (int i = 0; i <= 64; ++i) {
        const double t = i / 64.0;
        const double wobble = amplitude * std::sin(2 * phase + 31 * t);
        QPointF p;
        if (layer.kind == Kind::oval) {
            const double angle = 2 * std::numbers::pi * t;
            p = {frame.center().x() + std::cos(angle) * (w / 2 + wobble),
                 frame.center().y() + std::sin(angle) * (h / 2 + wobble)};
        } else {
            const int side = std::min(static_cast<int>(std::floor(4 * t)), 3);
            const double f = 4 * t - side;
            switch (side) {
            case 0: p = {frame.left() + f * w, frame.top() + wobble}; break;
            case 1: p = {frame.right() + wobble, frame.top() + f * h}; break;
            case 2: p = {frame.right() - f * w, frame.bottom() + wobble}; break;
            default: p = {frame.left() + wobble, frame.bottom() - f * h}; break;
            }
        }
        if (i == 0)
            path.moveTo(p);
        else
            path.lineTo(p);
    }
    path.closeSubpath();
    return path;
}

void drawLayer(const ScreenshotLayer& layer, const QRectF& canvas, QPainter& painter, const ImageMap& images,
               const QImage* base, const std::stop_token& stop) {
    if (!drawable(layer)) throw ScreenshotError(kInvalidLayerMessage);
    SavedState state(painter);
    const QTransform entry = painter.deviceTransform();
    const QRectF frame = layer.frame.normalized();
    const QPointF centre = frame.center();
    painter.translate(centre);
    painter.rotate(layer.rotation);
    painter.translate(-centre);
    painter.setOpacity(layer.kind == Kind::redact ? 1.0 : std::clamp(layer.style.opacity, 0.0, 1.0));
    painter.setPen(strokePen(layer, layer.style.strokeWidth));
    painter.setBrush(layer.style.fill.qColor());

    const QBrush fill(layer.style.fill.qColor());
    switch (layer.kind) {
    case Kind::image: drawImageLayer(layer, frame, painter, images); break;
    case Kind::text:
        if (layer.style.filled) painter.fillRect(frame, fill);
        layoutText(layer, painter, textArea(frame));
        break;
    case Kind::callout: {
        painter.fillRect(frame, fill);
        QPainterPath tail;
        tail.setFillRule(Qt::WindingFill);
        tail.addPolygon(QPolygonF({QPointF(frame.left() + 10, frame.bottom()),
                                   QPointF(frame.left() + 10, frame.bottom() + 16),
                                   QPointF(frame.left() + 28, frame.bottom())}));
        tail.closeSubpath();
        painter.fillPath(tail, fill);
        layoutText(layer, painter, textArea(frame));
        break;
    }
    case Kind::translatedText:
        // A translation of small text may need the whole box the original line filled.
        painter.fillRect(frame, fill);
        layoutText(layer, painter, textArea(frame), frame);
        break;
    case Kind::counter: {
        QPainterPath disc;
        disc.addEllipse(frame);
        painter.fillPath(disc, fill);
        layoutText(layer, painter, textArea(frame));
        break;
    }
    case Kind::arrow:
    case Kind::curvedArrow: drawArrow(layer, frame, painter); break;
    case Kind::rectangle:
    case Kind::oval: {
        const QPainterPath path = shapePath(layer);
        if (layer.style.filled) painter.fillPath(path, fill);
        painter.strokePath(path, painter.pen());
        break;
    }
    case Kind::freehand:
    case Kind::highlighter: drawStroke(layer, frame, painter); break;
    case Kind::spotlight: drawSpotlight(frame, canvas, painter); break;
    case Kind::magnifier: drawMagnifier(layer, frame, canvas, painter, base); break;
    case Kind::redact: {
        const ScreenshotColor::RGBA& f = layer.style.fill;
        painter.fillRect(QRectF(frame.toAlignedRect()), ScreenshotColor::RGBA{f.red, f.green, f.blue, 1}.qColor());
        break;
    }
    case Kind::blur:
    case Kind::pixelate: drawEffect(layer, frame, canvas, painter, entry, stop); break;
    case Kind::erase: drawErase(frame, painter); break;
    }
}

}  // namespace brevalto::ScreenshotRenderer
