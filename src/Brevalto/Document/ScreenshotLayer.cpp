#include "Document/ScreenshotLayer.h"

#include <algorithm>
#include <cmath>

namespace brevalto {

namespace {

struct KindName {
    std::string_view raw;
    std::string_view title;
};

constexpr std::array<KindName, 17> kindNames = {{
    {"image", "Image"},
    {"text", "Text"},
    {"callout", "Callout"},
    {"arrow", "Arrow"},
    {"curvedArrow", "Curved arrow"},
    {"rectangle", "Rectangle"},
    {"oval", "Oval"},
    {"freehand", "Freehand"},
    {"highlighter", "Highlighter"},
    {"spotlight", "Spotlight"},
    {"counter", "Counter"},
    {"magnifier", "Magnifier"},
    {"redact", "Opaque redaction"},
    {"blur", "Blur (not secret-safe)"},
    {"pixelate", "Pixelate (not secret-safe)"},
    {"erase", "Flat erase"},
    {"translatedText", "Translated text"},
}};

double offsetOnAxis(double target, double middle, double size) {
    const double offset = (target - middle) / size;
    // A frame of zero size gives no direction to measure in: keep the lens centred.
    if (std::isnan(offset)) return 0;
    return std::clamp(offset, -10.0, 10.0);
}

}  // namespace

std::string_view rawValue(ScreenshotLayerKind kind) { return kindNames.at(static_cast<std::size_t>(kind)).raw; }

std::string_view title(ScreenshotLayerKind kind) { return kindNames.at(static_cast<std::size_t>(kind)).title; }

std::optional<ScreenshotLayerKind> screenshotLayerKind(std::string_view raw) {
    for (std::size_t i = 0; i < kindNames.size(); ++i)
        if (kindNames[i].raw == raw) return allScreenshotLayerKinds[i];
    return std::nullopt;
}

bool sameRect(const QRectF& a, const QRectF& b) {
    return a.x() == b.x() && a.y() == b.y() && a.width() == b.width() && a.height() == b.height();
}

bool samePoint(const QPointF& a, const QPointF& b) { return a.x() == b.x() && a.y() == b.y(); }

QRectF ScreenshotLayer::magnifierLens() const {
    const double m = std::max(value, 1.0);
    const double w = frame.width(), h = frame.height();
    const double ox = points.empty() ? 0.5 * m + 0.5 : points.front().x();
    const double oy = points.empty() ? 0.5 * m + 0.5 : points.front().y();
    const QPointF middle = frame.center();
    return QRectF(middle.x() + ox * w - m * w / 2, middle.y() + oy * h - m * h / 2, m * w, m * h);
}

void ScreenshotLayer::setMagnifierLensCenter(QPointF center) {
    const QPointF middle = frame.center();
    points = {QPointF(offsetOnAxis(center.x(), middle.x(), frame.width()),
                      offsetOnAxis(center.y(), middle.y(), frame.height()))};
}

bool operator==(const ScreenshotLayer& a, const ScreenshotLayer& b) {
    return a.id == b.id && a.kind == b.kind && sameRect(a.frame, b.frame) && a.assetID == b.assetID &&
           a.text == b.text && a.originalText == b.originalText &&
           std::equal(a.points.begin(), a.points.end(), b.points.begin(), b.points.end(), samePoint) &&
           a.style == b.style && a.rotation == b.rotation && a.value == b.value && a.hidden == b.hidden;
}

}  // namespace brevalto
