#pragma once

#include <QColor>
#include <QImage>
#include <QRectF>

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace brevalto {

// The colour toolkit of the screenshot editor: the colour value that styles and backdrops store,
// the conversions the colour inspector and contrast checker show, and a plain pixel buffer with
// the readouts and region averages that sampling, smart selection and edge search use. Pure
// computation on values, safe on any thread.
namespace ScreenshotColor {

struct HSL {
    double hue = 0;  // degrees, 0 <= hue < 360
    double saturation = 0;
    double lightness = 0;
};

struct OKLCH {
    double lightness = 0;
    double chroma = 0;
    double hue = 0;  // degrees, 0 <= hue < 360
};

// sRGB components and alpha, 0...1, not premultiplied.
struct RGBA {
    double red = 0;
    double green = 0;
    double blue = 0;
    double alpha = 0;

    // The colour converted to sRGB; a colour that cannot be converted gives opaque black.
    static RGBA fromQColor(const QColor& color);
    QColor qColor() const;

    // "#RRGGBB", each component rounded half away from zero; alpha is not shown.
    std::string hex() const;
    HSL hsl() const;
    OKLCH oklch() const;
    // This colour composited source-over onto the background.
    RGBA over(const RGBA& background) const;
    // WCAG relative luminance.
    double luminance() const;

    friend bool operator==(const RGBA&, const RGBA&) = default;
};

// The largest of the four absolute component differences (0...1).
double distance(const RGBA& a, const RGBA& b);

// An sRGB RGBA8 buffer, rows from the top, red, green and blue premultiplied by alpha.
struct Pixels {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> bytes;  // width * height * 4

    // The image's pixels, converted to sRGB first when it carries another colour space.
    static Pixels fromImage(const QImage& image);

    // The un-premultiplied colour of one pixel; none outside the buffer.
    std::optional<RGBA> color(int x, int y) const;
    // The alpha-weighted average colour of the rectangle rounded outwards and clipped to the
    // buffer; distinct mode averages only the pixels that stand out from the plain average.
    std::optional<RGBA> averageColor(bool distinct, const QRectF& rect) const;
    // The run of pixels similar to the one at (x, y) (colour distance at most the tolerance,
    // clamped to 0...1) along its row or its column, as first...last index. None for a point
    // outside the buffer, and for a run that fills the whole line without meeting an edge.
    std::optional<std::pair<int, int>> edge(bool horizontal, double x, double y, double tolerance) const;

    friend bool operator==(const Pixels&, const Pixels&) = default;
};

}  // namespace ScreenshotColor

}  // namespace brevalto
