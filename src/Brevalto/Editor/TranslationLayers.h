#pragma once

#include "AI/EditableImageRegion.h"
#include "Document/ScreenshotLayer.h"

#include <QRectF>

#include <vector>

namespace brevalto {

inline constexpr const char* kInvalidTranslationRegionMessage = "Invalid translation region.";
inline constexpr const char* kNoTranslationRegionsMessage = "No translation regions are enabled.";

// The translated-text layers that place the enabled regions' text inside bounds (document
// pixels), in region order. Fails as a whole with ScreenshotError on the first enabled region
// whose box is not finite or not inside the unit square, and when no region is enabled.
std::vector<ScreenshotLayer> translationLayers(const std::vector<EditableImageRegion>& regions, const QRectF& bounds);

}  // namespace brevalto
