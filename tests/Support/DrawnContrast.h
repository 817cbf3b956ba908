#pragma once

#include "Editor/ColorMeasurement.h"

#include <QColor>
#include <QImage>

#include <algorithm>
#include <map>

namespace brevalto {

// What a grab shows drawn on its background: the background is the colour most of its pixels
// have, and the contrast is the WCAG 2 ratio of the drawn colour furthest from it that at least
// `minimumPixels` pixels share (so a lone antialiasing pixel proves nothing either way).
struct DrawnContrast {
    QRgb background = 0;
    double ratio = 1;
};

inline double contrastOf(QRgb a, QRgb b) {
    using ScreenshotColor::RGBA;
    return ColorMeasurement::contrastRatio(RGBA::fromQColor(QColor(a)), RGBA::fromQColor(QColor(b)));
}

inline DrawnContrast drawnContrast(const QImage& grab, int minimumPixels = 3) {
    const QImage image = grab.convertToFormat(QImage::Format_RGB32);
    std::map<QRgb, int> counts;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) ++counts[image.pixel(x, y) | 0xFF000000u];
    DrawnContrast drawn;
    if (counts.empty()) return drawn;
    drawn.background =
        std::max_element(counts.begin(), counts.end(), [](auto& a, auto& b) { return a.second < b.second; })->first;
    for (const auto& [colour, count] : counts)
        if (count >= minimumPixels) drawn.ratio = std::max(drawn.ratio, contrastOf(colour, drawn.background));
    return drawn;
}

}  // namespace brevalto
