#pragma once

#include "ClipCore/ReferenceDate.h"

#include <QByteArray>
#include <QColor>
#include <QImage>
#include <QString>

#include <array>
#include <optional>
#include <string_view>

namespace brevalto {

// Where a finished image leaves the app: encoding and output file names. A namespace of
// stateless functions; the file, clipboard and GIF outputs add theirs to it.
namespace ScreenshotOutput {

enum class Format { png, jpeg };

inline constexpr std::array<Format, 2> allFormats{Format::png, Format::jpeg};
std::string_view rawValue(Format format);  // "png", "jpeg"
std::optional<Format> formatFromRaw(std::string_view raw);

inline constexpr const char* kInvalidScaleOrQualityMessage = "Invalid export scale or JPEG quality.";
inline constexpr const char* kEncoderMessage = "Could not create the encoder.";
inline constexpr const char* kResampleMessage = "Could not resample the output.";
inline constexpr const char* kEncodeMessage = "Could not encode the image.";

// Encodes the image as PNG or JPEG. The output has max(1, round(side / scale)) pixels a side
// (scale 0.25 ... 8, so 2 halves it); quality (0 ... 1) sets the JPEG compression and is checked
// for both formats. JPEG is drawn on the background colour made opaque; PNG keeps transparency.
// The output is in sRGB when srgb is true, else in the image's own colour space (sRGB when it has
// none). Throws ScreenshotError. Safe on any thread.
QByteArray encode(const QImage& image, Format format, const QColor& background, bool srgb, double scale,
                  double quality);

// The output base name without extension: the prefix reduced to letters, marks, digits, "-", "_"
// and spaces (at most 60 of them; "Screenshot" when none is left), "-", and the date in local
// time as yyyyMMdd-HHmmss-SSS.
QString fileName(const QString& prefix, Date date);

}  // namespace ScreenshotOutput

}  // namespace brevalto
