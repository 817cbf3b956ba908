#pragma once

#include "ClipCore/Uuid.h"
#include "Document/ScreenshotDocument.h"
#include "Document/ScreenshotLayer.h"

#include <QColor>
#include <QPointF>
#include <QRectF>
#include <QString>

#include <array>
#include <optional>

namespace brevalto {

// The plain rules behind the canvas's pointer tools, selection tool and keys: what a tool draws,
// the layer a gesture starts with, hit tests, handle resizing, snapping and the key tables. Pure
// functions of their arguments, so the canvas view only routes events to them.
namespace CanvasTools {

// The named colours of the canvas overlay, fixed sRGB values.
namespace Colors {
inline const QColor orange(255, 149, 0);
inline const QColor yellow(255, 204, 0);
inline const QColor green(52, 199, 89);
inline const QColor blue(0, 122, 255);
inline const QColor teal(48, 176, 199);
}  // namespace Colors

// The eight resize handles as unit positions in a frame: top-left, top, top-right, left, right,
// bottom-left, bottom, bottom-right.
inline constexpr std::array<QPointF, 8> handles = {QPointF(0, 0),   QPointF(0.5, 0), QPointF(1, 0),
                                                   QPointF(0, 0.5), QPointF(1, 0.5), QPointF(0, 1),
                                                   QPointF(0.5, 1), QPointF(1, 1)};
// Where a curved arrow's control point sits in its frame when it has fewer than three points.
inline constexpr QPointF defaultControlPoint(0.5, 0.15);

// The layer kind a tool draws: the effect tool by its mode (erase, redact, else blur), any other
// tool the kind of the same name; none for select, smart, color, ruler, pan and unknown tools.
std::optional<ScreenshotLayerKind> toolKind(const QString& tool, const QString& effectMode);

// The layer a drawing gesture starts with at a document point.
ScreenshotLayer newDraft(ScreenshotLayerKind kind, QPointF anchor, const ScreenshotStyle& style, int nextCounter);

// The size a click (rather than a drag) gives a new layer.
QSizeF clickSize(ScreenshotLayerKind kind);

// Puts a magnifier's lens beside its frame, on the side with more room inside content, and keeps
// it inside content where it fits.
void placeLens(ScreenshotLayer& magnifier, const QRectF& content);

// Sets a layer's frame; a magnifier keeps its lens where it was on the canvas.
void setFrameKeepingLens(ScreenshotLayer& layer, const QRectF& frame);

// Whether a document point lies on a layer: inside its frame turned by its rotation, or inside a
// magnifier's lens. Image layers and hidden layers are never hit.
bool hits(const ScreenshotLayer& layer, QPointF point);
// Whether the point lies on the magnifier's lens but not on its frame.
bool hitsLensOnly(const ScreenshotLayer& layer, QPointF point);

// The frame o resized by dragging the handle at unit position handle to the document point p:
// the dragged edge follows p and stays at least one pixel from the opposite edge.
QRectF resizedFrame(const QRectF& o, QPointF handle, QPointF p);

// The moved frame r with its left and top edges snapped to the nearest edge or centre line of
// the other visible layers or of the canvas, within 6 view points at the zoom, made integral.
QRectF snappedFrame(const QRectF& r, const ScreenshotDocument& document, const std::optional<Uuid>& moving,
                    double zoom);

// The rectangle with its edges rounded outwards to whole pixels.
QRectF integral(const QRectF& rect);

// A curved arrow's control point in frame units.
QPointF controlPoint(const ScreenshotLayer& layer);

// The tool of a plain letter key ("v" select ... "m" magnifier), case-insensitive.
std::optional<QString> toolForLetter(const QString& letter);
// The unit step of an arrow key code, y downwards.
std::optional<QPointF> arrowStep(int code);

// The label under an area selection: its size in whole pixels (truncated; "?" for a size no
// integer holds) over "Hit Enter to crop".
QString selectionLabel(const QSizeF& size);

// "Ruler 300.0 px / 150.0 pt (capture scale 2.00)."
QString rulerText(double length, double scale);
// The status of an edge measurement from its horizontal and vertical spans.
QString edgeText(const std::optional<std::pair<int, int>>& horizontal,
                 const std::optional<std::pair<int, int>>& vertical, double scale);

}  // namespace CanvasTools

}  // namespace brevalto
