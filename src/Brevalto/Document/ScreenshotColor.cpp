#include "Document/ScreenshotColor.h"

#include "Errors/ScreenshotError.h"
#include "Imaging/ImageLimits.h"

#include <QColorSpace>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <numbers>

namespace brevalto::ScreenshotColor {

namespace {

double linearise(double c) { return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4); }

int byteOf(double component) {
    // std::lround rounds halves away from zero; out-of-range components are pinned first.
    const double scaled = std::clamp(std::isnan(component) ? 0.0 : component, 0.0, 1.0) * 255.0;
    return static_cast<int>(std::lround(scaled));
}

struct Sums {
    double red = 0, green = 0, blue = 0, alpha = 0;
    std::uint64_t count = 0;

    void add(const RGBA& c) {
        red += c.red * c.alpha;
        green += c.green * c.alpha;
        blue += c.blue * c.alpha;
        alpha += c.alpha;
        ++count;
    }
    RGBA average() const {
        if (alpha > 0 && count > 0)
            return {red / alpha, green / alpha, blue / alpha, alpha / static_cast<double>(count)};
        return {0, 0, 0, 0};
    }
};

RGBA readPixel(const std::uint8_t* p) {
    const double a = p[3] / 255.0;
    if (a <= 0) return {0, 0, 0, 0};
    return {std::min(p[0] / 255.0 / a, 1.0), std::min(p[1] / 255.0 / a, 1.0), std::min(p[2] / 255.0 / a, 1.0), a};
}

}  // namespace

RGBA RGBA::fromQColor(const QColor& color) {
    if (!color.isValid()) return {0, 0, 0, 1};
    // QColor keeps its components in sRGB; the extended form may step outside 0...1.
    const QColor rgb = color.toRgb();
    if (!rgb.isValid()) return {0, 0, 0, 1};
    auto unit = [](float v) { return std::clamp(static_cast<double>(v), 0.0, 1.0); };
    return {unit(rgb.redF()), unit(rgb.greenF()), unit(rgb.blueF()), unit(rgb.alphaF())};
}

QColor RGBA::qColor() const {
    auto unit = [](double v) { return static_cast<float>(std::clamp(std::isnan(v) ? 0.0 : v, 0.0, 1.0)); };
    return QColor::fromRgbF(unit(red), unit(green), unit(blue), unit(alpha));
}

std::string RGBA::hex() const {
    char text[8];
    std::snprintf(text, sizeof text, "#%02X%02X%02X", byteOf(red), byteOf(green), byteOf(blue));
    return text;
}

HSL RGBA::hsl() const {
    const double high = std::max({red, green, blue});
    const double low = std::min({red, green, blue});
    const double d = high - low;
    const double l = (high + low) / 2;
    if (!(d > 0)) return {0, 0, l};
    double h;
    if (high == red)
        h = std::fmod((green - blue) / d, 6.0);
    else if (high == green)
        h = (blue - red) / d + 2;
    else
        h = (red - green) / d + 4;
    h *= 60;
    if (h < 0) h += 360;
    if (h >= 360) h -= 360;
    return {h, d / (1 - std::abs(2 * l - 1)), l};
}

OKLCH RGBA::oklch() const {
    const double r = linearise(red), g = linearise(green), b = linearise(blue);
    const double l = std::cbrt(0.4122214708 * r + 0.5363325363 * g + 0.0514459929 * b);
    const double m = std::cbrt(0.2119034982 * r + 0.6806995451 * g + 0.1073969566 * b);
    const double s = std::cbrt(0.0883024619 * r + 0.2817188376 * g + 0.6299787005 * b);
    const double lightness = 0.2104542553 * l + 0.7936177850 * m - 0.0040720468 * s;
    const double a = 1.9779984951 * l - 2.4285922050 * m + 0.4505937099 * s;
    const double bb = 0.0259040371 * l + 0.7827717662 * m - 0.8086757660 * s;
    const double chroma = std::hypot(a, bb);
    double hue = 0;
    if (!(chroma < 0.000001)) {
        hue = std::fmod(std::atan2(bb, a) * 180 / std::numbers::pi + 360, 360);
        if (hue >= 360) hue -= 360;
    }
    return {lightness, chroma, hue};
}

RGBA RGBA::over(const RGBA& background) const {
    const double outAlpha = (1 - alpha) * background.alpha + alpha;
    if (!(outAlpha > 0)) return {0, 0, 0, 0};
    auto mix = [&](double f, double b) { return (f * alpha + b * background.alpha * (1 - alpha)) / outAlpha; };
    return {mix(red, background.red), mix(green, background.green), mix(blue, background.blue), outAlpha};
}

double RGBA::luminance() const {
    return 0.2126 * linearise(red) + 0.7152 * linearise(green) + 0.0722 * linearise(blue);
}

double distance(const RGBA& a, const RGBA& b) {
    return std::max({std::abs(a.red - b.red), std::abs(a.green - b.green), std::abs(a.blue - b.blue),
                     std::abs(a.alpha - b.alpha)});
}

Pixels Pixels::fromImage(const QImage& image) {
    validateImageSize(image.width(), image.height());
    QImage converted = image.convertToFormat(QImage::Format_RGBA8888_Premultiplied);
    if (converted.isNull()) throw ScreenshotError("Could not create the color sampler.");
    const QColorSpace space = converted.colorSpace();
    if (space.isValid() && space != QColorSpace(QColorSpace::SRgb)) {
        converted.convertToColorSpace(QColorSpace::SRgb);
        if (converted.isNull()) throw ScreenshotError("Could not create the color sampler.");
    }
    if (converted.constBits() == nullptr) throw ScreenshotError("Could not read pixels.");

    Pixels pixels;
    pixels.width = converted.width();
    pixels.height = converted.height();
    const std::size_t rowBytes = static_cast<std::size_t>(pixels.width) * 4;
    pixels.bytes.resize(rowBytes * static_cast<std::size_t>(pixels.height));
    for (int y = 0; y < pixels.height; ++y)
        std::memcpy(pixels.bytes.data() + rowBytes * static_cast<std::size_t>(y), converted.constScanLine(y), rowBytes);
    return pixels;
}

std::optional<RGBA> Pixels::color(int x, int y) const {
    if (x < 0 || y < 0 || x >= width || y >= height) return std::nullopt;
    const std::size_t i = (static_cast<std::size_t>(y) * static_cast<std::size_t>(width) + static_cast<std::size_t>(x)) * 4;
    if (i + 4 > bytes.size()) return std::nullopt;
    return readPixel(bytes.data() + i);
}

std::optional<RGBA> Pixels::averageColor(bool distinct, const QRectF& rect) const {
    if (!std::isfinite(rect.x()) || !std::isfinite(rect.y()) || !std::isfinite(rect.width()) ||
        !std::isfinite(rect.height()))
        return std::nullopt;
    if (bytes.size() < static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 4) return std::nullopt;
    const QRectF r = rect.normalized();
    const double left = std::max(std::floor(r.left()), 0.0);
    const double top = std::max(std::floor(r.top()), 0.0);
    const double right = std::min(std::ceil(r.right()), static_cast<double>(width));
    const double bottom = std::min(std::ceil(r.bottom()), static_cast<double>(height));
    if (!(right > left) || !(bottom > top)) return std::nullopt;
    const int x0 = static_cast<int>(left), y0 = static_cast<int>(top);
    const int x1 = static_cast<int>(right), y1 = static_cast<int>(bottom);

    // The alpha-weighted mean of un-premultiplied colours is the sum of the premultiplied
    // components over the sum of alphas, so both passes add whole bytes.
    struct ByteSums {
        std::uint64_t red = 0, green = 0, blue = 0, alpha = 0, count = 0;
        void add(const std::uint8_t* p) {
            red += std::min(p[0], p[3]);
            green += std::min(p[1], p[3]);
            blue += std::min(p[2], p[3]);
            alpha += p[3];
            ++count;
        }
        RGBA average() const {
            if (alpha == 0 || count == 0) return {0, 0, 0, 0};
            const double a = static_cast<double>(alpha);
            return {red / a, green / a, blue / a, a / 255.0 / static_cast<double>(count)};
        }
    };
    auto visit = [&](auto&& each) {
        for (int y = y0; y < y1; ++y) {
            const std::uint8_t* row = bytes.data() + static_cast<std::size_t>(y) * static_cast<std::size_t>(width) * 4;
            for (int x = x0; x < x1; ++x) each(row + static_cast<std::size_t>(x) * 4);
        }
    };
    ByteSums plain;
    visit([&](const std::uint8_t* p) { plain.add(p); });
    const RGBA mean = plain.average();
    if (!distinct) return mean;

    // A pixel stands out when one of its un-premultiplied components lies 0.12 or more from the
    // mean: |c / a - m| >= 0.12 is tested as |c - m a| >= 0.12 a, without a division.
    const double limit = 0.12;
    auto outstands = [&](const std::uint8_t* p) {
        const double a = p[3];
        if (p[3] == 0) return std::max({mean.red, mean.green, mean.blue, mean.alpha}) >= limit;
        const double bound = limit * a;
        return std::abs(std::min(p[0], p[3]) - mean.red * a) >= bound ||
               std::abs(std::min(p[1], p[3]) - mean.green * a) >= bound ||
               std::abs(std::min(p[2], p[3]) - mean.blue * a) >= bound || std::abs(a / 255.0 - mean.alpha) >= limit;
    };
    ByteSums outstanding;
    std::uint32_t last = 0;
    bool lastOutstands = outstands(reinterpret_cast<const std::uint8_t*>(&last));
    visit([&](const std::uint8_t* p) {
        std::uint32_t word;
        std::memcpy(&word, p, 4);
        if (word != last) {  // screenshots repeat pixels in long runs
            last = word;
            lastOutstands = outstands(p);
        }
        if (lastOutstands) outstanding.add(p);
    });
    return outstanding.count > 0 ? outstanding.average() : mean;
}

}  // namespace brevalto::ScreenshotColor
