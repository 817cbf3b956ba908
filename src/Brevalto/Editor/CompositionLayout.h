#pragma once

#include <QSizeF>

namespace brevalto {

struct ScreenshotDocument;

// The document geometry behind the Composition and Resize pages: laying the image layers out in
// one row or column, growing the canvas around every object, and the whole-pixel sizes a resize
// asks for. Pure functions on values.
namespace CompositionLayout {

inline constexpr double maxSpacing = 2000;
inline constexpr const char* kSpacingMessage = "Spacing must be 0-2000 px.";

// The image layers, in layer order, one after another in a column (vertical) or a row, spacing
// apart, each aligned across by alignment (0 start, 0.5 centre, 1 end); other layers stay. The
// canvas fits the row or column (1 x 1 without images) and the crop is removed. A source image
// placed by the document's own placement (after rasterizing) moves with the image that holds it.
// Throws ScreenshotError for a spacing outside 0 ... 2000 or not a number; nothing changes then.
void arrangeImageLayers(ScreenshotDocument& document, bool vertical, double spacing, double alignment);

// Grows the canvas to the union of itself and every layer's frame (hidden ones too), rounded
// outwards to whole pixels, moving everything so that the union starts at the origin; the crop
// is removed.
void expandCanvasToObjects(ScreenshotDocument& document);

// Each side rounded to the nearest whole pixel (halves away from zero), at least 1. A side that
// is not a positive number is kept as it is, for the resize to refuse.
QSizeF wholePixels(QSizeF size);

// The size "Apply dimensions" asks for on a canvas: with the aspect locked, the edited side as
// typed and the other following the canvas's aspect; else both as typed. Whole pixels.
QSizeF dimensions(QSizeF canvas, double width, double height, bool aspect, bool editedWidth);

// The canvas scaled by percent / 100, in whole pixels.
QSizeF percentSize(QSizeF canvas, double percent);

}  // namespace CompositionLayout

}  // namespace brevalto
