#pragma once

#include <QRectF>

namespace brevalto {

struct ScreenshotDocument;

// The one check every document passes when it is read, written or rendered: it bounds every
// count, length, size and number, so a damaged or hostile "document.json" can neither make the
// renderer allocate without limit nor point outside the document's folder. Throws the
// ScreenshotError of the first broken rule; changes nothing.
void validateDocument(const ScreenshotDocument& document);

// Layer frames and crops: finite origin and size, each at most 131,072 in absolute value, and a
// non-zero width and height (a negative size counts by its absolute value).
bool isValidLayerRect(const QRectF& rect);

}  // namespace brevalto
