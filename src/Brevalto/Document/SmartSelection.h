#pragma once

#include "Document/ScreenshotColor.h"

#include <QRectF>

#include <stop_token>

namespace brevalto {

// The largest buffer smart selection searches, in pixels.
inline constexpr long long kSmartSelectionPixelLimit = 4'000'000;

inline constexpr const char* kInvalidSmartPointMessage = "Invalid coordinates or tolerance.";
inline constexpr const char* kSmartSelectionTooLargeMessage =
    "Smart selection is limited to 4 MP. Crop or select manually for large images.";
inline constexpr const char* kSmartSeedMessage = "Choose a pixel inside the image.";

// Grows a region from the pixel at (x, y) over four-connected neighbours whose 3x3 mean colour
// lies within the tolerance (clamped to 0...1) of the seed's 3x3 mean, and returns the region's
// bounding rectangle in the buffer's pixels. Comparing means rather than single pixels lets the
// fill pass over isolated noise and anti-aliasing. Throws ScreenshotError for a bad point or
// tolerance or a buffer above 4,000,000 pixels, and TaskCancelled when `stop` is requested.
QRectF findSmartSelection(const ScreenshotColor::Pixels& pixels, double x, double y, double tolerance,
                          std::stop_token stop = {});

}  // namespace brevalto
