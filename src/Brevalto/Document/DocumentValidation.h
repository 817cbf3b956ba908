#pragma once

#include <QRectF>

namespace brevalto {

struct ScreenshotDocument;
struct ScreenshotStyle;

// The one check every document passes when it is read, written or rendered: it bounds every
// count, length, size and number, so a damaged or hostile "document.json" can neither make the
// renderer allocate without limit nor point outside the document's folder. Throws the
// ScreenshotError of the first broken rule; changes nothing.
void validateDocument(const ScreenshotDocument& document);

// Layer frames and crops: finite origin and size, each at most 131,072 in absolute value, and a
// non-zero width and height (a negative size counts by its absolute value).
bool isValidLayerRect(const QRectF& rect);

// A style every layer may carry: colours in range, a stroke of at most 200 and a font size of at
// most 1000 (both above 0), a font name of at most 200 characters, an opacity from 0 to 1.
bool styleIsValid(const ScreenshotStyle& style);

}  // namespace brevalto
