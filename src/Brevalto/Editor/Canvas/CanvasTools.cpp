#include "Editor/Canvas/CanvasTools.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace brevalto::CanvasTools {

namespace {

// Containment with the far edges open, so adjacent frames never both contain a point.
bool contains(const QRectF& r, QPointF p) {
    return p.x() >= r.left() && p.x() < r.right() && p.y() >= r.top() && p.y() < r.bottom();
}

// A lens centre on one axis: beside the frame on the roomier side, kept inside [low, high].
double lensAxis(double mid, double size, double lensSize, double low, double high) {
    double centre = mid - low <= high - mid ? mid + size / 2 + lensSize / 2 : mid - size / 2 - lensSize / 2;
    if (high - low >= lensSize) centre = std::min(std::max(centre, low + lensSize / 2), high - lensSize / 2);
    return centre;
}

// The candidate nearest to value (the earlier one on ties), when nearer than threshold.
double snapAxis(double value, const std::vector<double>& candidates, double threshold) {
    std::optional<double> best;
    for (double c : candidates)
        if (!best || std::abs(c - value) < std::abs(*best - value)) best = c;
    return best && std::abs(*best - value) < threshold ? *best : value;
}

}  // namespace

std::optional<ScreenshotLayerKind> toolKind(const QString& tool, const QString& effectMode) {
    if (tool == QLatin1String("effect")) {
        if (effectMode == QLatin1String("erase") || effectMode == QLatin1String("eraseText"))
            return ScreenshotLayerKind::erase;
        if (effectMode == QLatin1String("redact")) return ScreenshotLayerKind::redact;
        return ScreenshotLayerKind::blur;
    }
    return screenshotLayerKind(tool.toStdString());
}

ScreenshotLayer newDraft(ScreenshotLayerKind kind, QPointF anchor, const ScreenshotStyle& style, int nextCounter) {
    ScreenshotLayer layer;
    layer.id = Uuid::random();
    layer.kind = kind;
    layer.frame = QRectF(anchor.x(), anchor.y(), 1, 1);
    if (kind == ScreenshotLayerKind::text || kind == ScreenshotLayerKind::callout) layer.text = "Text";
    if (kind == ScreenshotLayerKind::counter) layer.text = std::to_string(nextCounter);
    layer.style = style;
    if (kind == ScreenshotLayerKind::counter) layer.style.filled = true;
    if (kind == ScreenshotLayerKind::redact) {
        layer.style.fill = {0, 0, 0, 1};
        layer.style.opacity = 1;
        layer.style.filled = true;
    }
    switch (kind) {
    case ScreenshotLayerKind::blur:
    case ScreenshotLayerKind::pixelate: layer.value = 12; break;
    case ScreenshotLayerKind::magnifier: layer.value = 3; break;
    default: layer.value = 2; break;
    }
    return layer;
}

QSizeF clickSize(ScreenshotLayerKind kind) {
    switch (kind) {
    case ScreenshotLayerKind::counter:
    case ScreenshotLayerKind::magnifier: return {48, 48};
    case ScreenshotLayerKind::text: return {140, 48};
    default: return {140, 140};
    }
}

void placeLens(ScreenshotLayer& magnifier, const QRectF& content) {
    const QRectF f = magnifier.frame;
    const double m = magnifier.value;
    const double x = lensAxis(f.center().x(), f.width(), f.width() * m, content.left(), content.right());
    const double y = lensAxis(f.center().y(), f.height(), f.height() * m, content.top(), content.bottom());
    magnifier.setMagnifierLensCenter(QPointF(x, y));
}

void setFrameKeepingLens(ScreenshotLayer& layer, const QRectF& frame) {
    if (layer.kind != ScreenshotLayerKind::magnifier) {
        layer.frame = frame;
        return;
    }
    const QPointF centre = layer.magnifierLens().center();
    layer.frame = frame;
    layer.setMagnifierLensCenter(centre);
}

bool hits(const ScreenshotLayer& layer, QPointF point) {
    if (layer.kind == ScreenshotLayerKind::image || layer.hidden) return false;
    const QPointF mid = layer.frame.center();
    const double a = layer.rotation * -std::numbers::pi / 180;
    const double dx = point.x() - mid.x(), dy = point.y() - mid.y();
    const QPointF turned(mid.x() + std::cos(a) * dx - std::sin(a) * dy, mid.y() + std::sin(a) * dx + std::cos(a) * dy);
    if (contains(layer.frame, turned)) return true;
    return layer.kind == ScreenshotLayerKind::magnifier && contains(layer.magnifierLens(), point);
}

bool hitsLensOnly(const ScreenshotLayer& layer, QPointF point) {
    return layer.kind == ScreenshotLayerKind::magnifier && !contains(layer.frame, point) &&
           contains(layer.magnifierLens(), point);
}

QRectF resizedFrame(const QRectF& o, QPointF handle, QPointF p) {
    double left = o.left(), right = o.right(), top = o.top(), bottom = o.bottom();
    if (handle.x() == 0) left = std::min(p.x(), o.right() - 1);
    if (handle.x() == 1) right = std::max(o.left() + 1, p.x());
    if (handle.y() == 0) top = std::min(p.y(), o.bottom() - 1);
    if (handle.y() == 1) bottom = std::max(o.top() + 1, p.y());
    return QRectF(left, top, right - left, bottom - top);
}

QRectF snappedFrame(const QRectF& r, const ScreenshotDocument& document, const std::optional<Uuid>& moving,
                    double zoom) {
    std::vector<double> xs, ys;
    const auto add = [&](const QRectF& t) {
        xs.insert(xs.end(), {t.left(), t.center().x(), t.right()});
        ys.insert(ys.end(), {t.top(), t.center().y(), t.bottom()});
    };
    for (const ScreenshotLayer& layer : document.layers)
        if (!layer.hidden && layer.id != moving) add(layer.frame);
    add(QRectF(QPointF(0, 0), document.canvas));
    const double threshold = 6 / zoom;
    QRectF snapped = r;
    snapped.moveTo(snapAxis(r.left(), xs, threshold), snapAxis(r.top(), ys, threshold));
    return integral(snapped);
}

QRectF integral(const QRectF& rect) {
    if (rect.isNull()) return rect;
    const double left = std::floor(rect.left()), top = std::floor(rect.top());
    return QRectF(left, top, std::ceil(rect.right()) - left, std::ceil(rect.bottom()) - top);
}

QPointF controlPoint(const ScreenshotLayer& layer) {
    return layer.points.size() >= 3 ? layer.points[2] : defaultControlPoint;
}

std::optional<QString> toolForLetter(const QString& letter) {
    static const std::array<std::pair<QChar, const char*>, 10> table = {{
        {u'v', "select"},
        {u'a', "arrow"},
        {u't', "text"},
        {u'r', "rectangle"},
        {u'b', "effect"},
        {u'p', "freehand"},
        {u'n', "counter"},
        {u'o', "oval"},
        {u'h', "highlighter"},
        {u'm', "magnifier"},
    }};
    const QString lower = letter.toLower();
    if (lower.size() != 1) return std::nullopt;
    for (const auto& [key, tool] : table)
        if (key == lower.front()) return QString::fromLatin1(tool);
    return std::nullopt;
}

std::optional<QPointF> arrowStep(int code) {
    switch (code) {
    case 123: return QPointF(-1, 0);
    case 124: return QPointF(1, 0);
    case 125: return QPointF(0, 1);
    case 126: return QPointF(0, -1);
    default: return std::nullopt;
    }
}

QString selectionLabel(const QSizeF& size) {
    const auto whole = [](double v) {
        return std::abs(v) < 1e15 ? QString::number(static_cast<long long>(v)) : QStringLiteral("?");
    };
    return whole(size.width()) + QStringLiteral("×") + whole(size.height()) + QStringLiteral(" px\nHit Enter to crop");
}

QString rulerText(double length, double scale) {
    return QString::asprintf("Ruler %.1f px / %.1f pt (capture scale %.2f).", length, length / scale, scale);
}

QString edgeText(const std::optional<std::pair<int, int>>& horizontal,
                 const std::optional<std::pair<int, int>>& vertical, double scale) {
    if (!horizontal && !vertical) return QStringLiteral("No reliable edge found. Drag the ruler to measure manually.");
    const auto span = [scale](const std::optional<std::pair<int, int>>& s) {
        if (!s) return QStringLiteral("?");
        const int n = s->second - s->first + 1;
        return QString::asprintf("%d px / %.1f pt", n, n / scale);
    };
    return QStringLiteral("Edge/gap: H ") + span(horizontal) + QStringLiteral("; V ") + span(vertical) +
           QStringLiteral(". Sensitivity is adjustable.");
}

}  // namespace brevalto::CanvasTools
