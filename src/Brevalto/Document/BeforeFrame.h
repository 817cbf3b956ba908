#pragma once

#include <optional>

namespace brevalto {

struct ScreenshotDocument;
struct ScreenshotLayer;

// The "before" picture of a before/after pair: the source image alone, placed, cropped and framed
// as in the document, yet with every cover that keeps a secret hidden still over it, so that an
// export of the pair never shows what the user covered, also after the covers were rasterized.
namespace BeforeFrame {

// The metadata entry that keeps where rasterized covers lay over the source: "x,y,w,h" per cover,
// ";" between them, as fractions of the source's placement (so they follow it when the document
// is arranged, expanded or resized).
inline constexpr const char* kCoversKey = "beforeFrame.covers";

// Redactions, and the masks that text recognition laid over lines of text (blur, pixelate or
// erase layers that carry the recognised text), when shown.
bool isSecretCover(const ScreenshotLayer& layer);

// Where the document shows the source image: its own layer, else the document's placement of
// it, else at the origin at its size; none without a source asset.
std::optional<ScreenshotLayer> sourcePlacement(const ScreenshotDocument& document);

// Adds the secret covers of the document's layers to the remembered ones, before its layers are
// flattened into one image. Past what the entry holds, the covers are kept as their union.
void rememberCovers(ScreenshotDocument& document);

// The document of the before picture: the source where the document shows it, with the secret
// covers above it, remembered ones as opaque redactions; canvas, crop and backdrop as they are.
ScreenshotDocument document(const ScreenshotDocument& edited);

}  // namespace BeforeFrame

}  // namespace brevalto
