#include "Editor/CompositionLayout.h"

#include "Document/ScreenshotDocument.h"
#include "Errors/ScreenshotError.h"

#include <algorithm>
#include <cmath>
#include <optional>
#include <utility>

namespace brevalto::CompositionLayout {

namespace {

double wholePixel(double side) {
    if (!(side > 0) || !std::isfinite(side)) return side;
    return std::max(1.0, std::round(side));  // std::round rounds halves away from zero
}

// The image layer whose frame holds the source image when the document places that image
// itself (no layer shows it any more, as after rasterizing); none otherwise.
std::optional<std::size_t> holderOfPlacement(const ScreenshotDocument& document) {
    if (!document.originalPlacement) return std::nullopt;
    for (const ScreenshotLayer& layer : document.layers)
        if (layer.assetID == document.sourceAssetID) return std::nullopt;
    const QRectF placed = document.originalPlacement->frame.normalized();
    std::optional<std::size_t> first;
    for (std::size_t index = 0; index < document.layers.size(); ++index) {
        const ScreenshotLayer& layer = document.layers[index];
        if (layer.kind != ScreenshotLayerKind::image) continue;
        if (layer.frame.normalized().intersects(placed)) return index;
        if (!first) first = index;
    }
    return first;
}

}  // namespace

void arrangeImageLayers(ScreenshotDocument& document, bool vertical, double spacing, double alignment) {
    if (!std::isfinite(spacing) || spacing < 0 || spacing > maxSpacing) throw ScreenshotError(kSpacingMessage);
    const std::optional<std::size_t> holder = holderOfPlacement(document);
    double cross = 0;
    bool any = false;
    for (const ScreenshotLayer& layer : std::as_const(document.layers)) {
        if (layer.kind != ScreenshotLayerKind::image) continue;
        cross = std::max(cross, vertical ? layer.frame.width() : layer.frame.height());
        any = true;
    }
    if (!any) cross = 1;
    double offset = 0;
    for (std::size_t index = 0; index < document.layers.size(); ++index) {
        if (std::as_const(document.layers)[index].kind != ScreenshotLayerKind::image) continue;
        ScreenshotLayer& layer = document.layers[index];  // copies only the images it moves
        const double w = layer.frame.width(), h = layer.frame.height();
        const QPointF origin = vertical ? QPointF((cross - w) * alignment, offset) : QPointF(offset, (cross - h) * alignment);
        if (holder == index) document.originalPlacement->frame.translate(origin - layer.frame.topLeft());
        layer.frame.moveTopLeft(origin);
        offset += (vertical ? h : w) + spacing;
    }
    const double length = std::max(offset - spacing, 1.0);
    document.canvas = vertical ? QSizeF(cross, length) : QSizeF(length, cross);
    document.crop.reset();
}

void expandCanvasToObjects(ScreenshotDocument& document) {
    QRectF united(QPointF(0, 0), document.canvas);
    for (const ScreenshotLayer& layer : std::as_const(document.layers)) united |= layer.frame.normalized();
    const QRectF whole(QPointF(std::floor(united.left()), std::floor(united.top())),
                       QPointF(std::ceil(united.right()), std::ceil(united.bottom())));
    const QPointF shift = -whole.topLeft();
    for (ScreenshotLayer& layer : document.layers) layer.frame.translate(shift);
    if (document.originalPlacement) document.originalPlacement->frame.translate(shift);
    document.canvas = whole.size();
    document.crop.reset();
}

QSizeF wholePixels(QSizeF size) { return {wholePixel(size.width()), wholePixel(size.height())}; }

QSizeF dimensions(QSizeF canvas, double width, double height, bool aspect, bool editedWidth) {
    const double ratio = canvas.width() / canvas.height();
    if (!aspect) return wholePixels({width, height});
    return wholePixels(editedWidth ? QSizeF(width, width / ratio) : QSizeF(height * ratio, height));
}

QSizeF percentSize(QSizeF canvas, double percent) {
    return wholePixels({canvas.width() * percent / 100, canvas.height() * percent / 100});
}

}  // namespace brevalto::CompositionLayout
