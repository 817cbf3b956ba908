#pragma once

#include "Document/ScreenshotDocument.h"
#include "Imaging/BitmapContext.h"

#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QRectF>

#include <exception>
#include <filesystem>
#include <optional>
#include <stop_token>
#include <unordered_map>

namespace brevalto {

// Thrown when the task running a render was cancelled; no image is returned.
class RenderCancelled : public std::exception {
public:
    const char* what() const noexcept override { return "The render was cancelled."; }
};

// The one way a screenshot document becomes pixels. Stateless: every function works only on its
// arguments, so renders on different threads do not interact. Failures are ScreenshotError (or
// the file system's FileError from reading an asset) and fail the whole render: text is never
// exported clipped and a redaction, effect or erase is never silently left out.
namespace ScreenshotRenderer {

using brevalto::rasterize;

// Decoded asset images by asset id.
using ImageMap = std::unordered_map<Uuid, QImage>;

inline constexpr const char* kSourcesOverBudgetMessage =
    "Sources in use exceed 64 MP. Reduce the size or split the document.";
inline constexpr const char* kCanvasImageMessage = "Could not create an image from the canvas.";
inline constexpr const char* kBackdropMessage = "Could not render the backdrop.";
inline constexpr const char* kMissingAssetMessage = "Source asset is missing.";
inline constexpr const char* kEffectMessage = "Could not apply the effect.";
inline constexpr const char* kNoNearbyAreaMessage =
    "No nearby area to sample color from. Pick a background color and use an opaque mask.";
inline constexpr const char* kTextAreaTooSmallMessage = "Text area is too small.";
inline constexpr const char* kTextDoesNotFitMessage =
    "Text does not fit the area. Enlarge the area or reduce the font size; clipped text is not exported.";
inline constexpr const char* kInvalidLayerMessage = "Invalid layer.";
// "Font " + name + " is missing. Choose an installed font."
std::string missingFontMessage(const std::string& fontName);

// Flattens the document: validates it, decodes the assets that visible layers use (64,000,000
// pixels at most in all, checked from the document's records before any file is read), draws
// the layers in order onto a canvas of the document's size, crops to the document's crop made
// integral and, when backdrop is true and the document's backdrop is enabled, frames the result
// on its gradient with rounded corners and a shadow. sourceOnly draws the source image alone,
// placed and framed as in the document (the before frame of a before/after pair). A stop request
// on `stop` ends the render with RenderCancelled at its next check.
QImage render(const ScreenshotDocument& document, const std::filesystem::path& folder, bool backdrop,
              bool sourceOnly, std::stop_token stop = {});

// The part of the canvas (in canvas coordinates) whose rendered pixels can differ between two
// documents: empty when they render alike, nullopt when the whole image can differ (another
// size, crop, backdrop, set or order of layers, or a changed image, spotlight or magnifier).
// Effects (blur, pixelate, erase) that touch the area lie wholly inside it.
std::optional<QRectF> changedArea(const ScreenshotDocument& before, const ScreenshotDocument& after);

// Where a layer can draw, in canvas coordinates: its frame and points, grown by what a stroke, an
// arrow head, the highlighter's width, a callout's tail and a hand-drawn wobble reach past them,
// turned with the layer about its frame's centre.
QRectF layerReach(const ScreenshotLayer& layer);

// The render of `document` made from `previous`, the render without backdrop of `before`, by
// drawing again only the changed area; the same pixels as render(document, folder, false, false).
// A null image when that cannot be done or would not save much (a change reaching the whole
// image, a backdrop, a magnifier, an effect reading past the crop, more than half the image):
// the caller renders in full. Throws as render does.
QImage renderChanges(const ScreenshotDocument& document, const ScreenshotDocument& before, const QImage& previous,
                     const std::filesystem::path& folder, std::stop_token stop = {});

// The renders of one editing session, each drawn from the one before where only part of the
// image changed (renderChanges). The newest render and the one before it are kept, so the next
// one copies only what changed since then instead of the whole image. Used by one thread at a time.
class RenderSequence {
public:
    // The image of render(document, folder, true, false, stop). Throws as render does.
    QImage render(const ScreenshotDocument& document, const std::filesystem::path& folder, std::stop_token stop = {});

private:
    // Makes `image`, the render of `document`, the newest.
    QImage advance(QImage image, const ScreenshotDocument& document);

    QImage newest_, older_;
    std::optional<ScreenshotDocument> newestSource_, olderSource_;
    QRect olderStale_;  // where the older image no longer shows its document (a render stopped part way)
};

// The width of the backdrop frame on each side of the framed image: its padding, or three times
// its shadow when that is larger.
double backdropMargin(const ScreenshotBackdrop& backdrop);

// Draws one layer into a painter on a QImage (a context made by rasterize): rotated about its
// frame's centre, at its opacity (a redaction is always opaque). canvas is (0, 0) and the canvas
// size. Blur, pixelate and erase read what the painter's image holds so far; the magnifier reads
// `base` (the image layers alone) and draws nothing without it. Leaves the painter's state as it
// found it, also when it throws. A stop request on `stop` ends a long blur part way with
// RenderCancelled.
void drawLayer(const ScreenshotLayer& layer, const QRectF& canvas, QPainter& painter, const ImageMap& images,
               const QImage* base, const std::stop_token& stop = {});

// The outline of rectangle and oval layers (the frame rectangle for other kinds), with a steady
// wobble seeded by the layer's id when the layer is hand-drawn.
QPainterPath shapePath(const ScreenshotLayer& layer);

// Fits and draws the text of text, callout, counter and translated-text layers into rect, with
// word wrapping, in the stroke colour. Counters and translated text shrink in half-point steps
// (down to 4 points) until the text fits; other kinds fail when it does not fit at their size.
// Text that fits in rect at no size is laid out in `roomier` instead, when given, and kept
// inside it.
void layoutText(const ScreenshotLayer& layer, QPainter& painter, const QRectF& rect,
                const std::optional<QRectF>& roomier = std::nullopt);

}  // namespace ScreenshotRenderer

}  // namespace brevalto
