#pragma once

namespace brevalto {

struct ScreenshotDocument;
struct ScreenshotLayer;

// The "before" picture of a before/after pair: the source image alone, placed, cropped and framed
// as in the document, yet with every cover that keeps a secret hidden still over it, so that an
// export of the pair never shows what the user covered.
namespace BeforeFrame {

// Redactions, and the masks that text recognition laid over lines of text (blur, pixelate or
// erase layers that carry the recognised text), when shown.
bool isSecretCover(const ScreenshotLayer& layer);

// The document of the before picture: the source image where the document shows it (its own
// layer, else the document's placement of it, else at the origin at its size) with the secret
// covers above it; canvas, crop and backdrop as they are.
ScreenshotDocument document(const ScreenshotDocument& edited);

}  // namespace BeforeFrame

}  // namespace brevalto
