#pragma once

#include "Document/ScreenshotColor.h"

#include <QImage>
#include <QRectF>
#include <QString>
#include <QStringList>

#include <optional>

namespace brevalto {

struct ScreenshotDocument;

// The measurements of the "Color & contrast" page: which area a sample reads, the colour read
// there from a render, the WCAG 2 contrast of a pair, and the lines that describe them.
namespace ColorMeasurement {

inline constexpr const char* kNothingToSampleMessage = "Select an area in the image to sample its color.";

// The area a sample reads, in the coordinates of the rendered (cropped) image: the selection,
// else the selected layer's frame, else the crop, else the whole canvas.
QRectF sampleArea(const ScreenshotDocument& document, const std::optional<QRectF>& selection,
                  const std::optional<QRectF>& selectedFrame);

// The colour of a render in the area by mode: "pixel" the pixel at its centre, "text" the pixels
// that stand out from the area's average, anything else the alpha-weighted average. None outside
// the image or where every pixel is fully transparent. Only the area's pixels are read.
std::optional<ScreenshotColor::RGBA> sample(const QImage& rendered, const QRectF& area, const QString& mode);

// The WCAG 2 contrast ratio of the foreground over the background, both as they appear on a white
// page (1 ... 21).
double contrastRatio(const ScreenshotColor::RGBA& foreground, const ScreenshotColor::RGBA& background);

// The four lines shown: hex and RGB, HSL, OKLCH of the foreground, and the pair's contrast.
QStringList describe(const ScreenshotColor::RGBA& foreground, const ScreenshotColor::RGBA& background);

}  // namespace ColorMeasurement

}  // namespace brevalto
