#pragma once

#include "ClipCore/Uuid.h"
#include "Document/ScreenshotColor.h"

#include <QPointF>
#include <QRectF>

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace brevalto {

// Every kind of drawable object, in declaration order. Stored by rawValue().
enum class ScreenshotLayerKind {
    image,
    text,
    callout,
    arrow,
    curvedArrow,
    rectangle,
    oval,
    freehand,
    highlighter,
    spotlight,
    counter,
    magnifier,
    redact,
    blur,
    pixelate,
    erase,
    translatedText,
};

inline constexpr std::array<ScreenshotLayerKind, 17> allScreenshotLayerKinds = {
    ScreenshotLayerKind::image,       ScreenshotLayerKind::text,        ScreenshotLayerKind::callout,
    ScreenshotLayerKind::arrow,       ScreenshotLayerKind::curvedArrow, ScreenshotLayerKind::rectangle,
    ScreenshotLayerKind::oval,        ScreenshotLayerKind::freehand,    ScreenshotLayerKind::highlighter,
    ScreenshotLayerKind::spotlight,   ScreenshotLayerKind::counter,     ScreenshotLayerKind::magnifier,
    ScreenshotLayerKind::redact,      ScreenshotLayerKind::blur,        ScreenshotLayerKind::pixelate,
    ScreenshotLayerKind::erase,       ScreenshotLayerKind::translatedText,
};

// The stored string ("curvedArrow").
std::string_view rawValue(ScreenshotLayerKind kind);
// The name the editor shows ("Curved arrow").
std::string_view title(ScreenshotLayerKind kind);
// Exactly one of the stored strings, case-sensitive; none for anything else.
std::optional<ScreenshotLayerKind> screenshotLayerKind(std::string_view raw);

// How a layer is stroked, filled and lettered.
struct ScreenshotStyle {
    ScreenshotColor::RGBA stroke{0.9, 0.15, 0.12, 1.0};
    ScreenshotColor::RGBA fill{1, 1, 1, 1};
    bool filled = false;
    double strokeWidth = 3;
    double fontSize = 24;
    std::string fontName = "Helvetica";
    double opacity = 1;
    bool handDrawn = false;

    friend bool operator==(const ScreenshotStyle&, const ScreenshotStyle&) = default;
};

// One drawable object. Geometry is in canvas pixels, y downwards; points are normalised to the
// frame: (px, py) stands for (frame.left + px * frame.width, frame.top + py * frame.height).
struct ScreenshotLayer {
    Uuid id = Uuid::random();
    ScreenshotLayerKind kind = ScreenshotLayerKind::rectangle;
    QRectF frame;
    std::optional<Uuid> assetID;
    std::string text;  // UTF-8; a counter's number in decimal
    std::optional<std::string> originalText;
    std::vector<QPointF> points;
    ScreenshotStyle style;
    double rotation = 0;  // degrees about the frame's centre
    double value = 2;     // per kind; a magnifier's magnification
    bool hidden = false;

    // The lens of a magnifier: the frame enlarged max(value, 1) times, centred at the offset kept
    // in the first point (in frame sizes from the frame's centre).
    QRectF magnifierLens() const;
    // Places the lens centre at a canvas point, at most ten frame sizes away on each axis.
    void setMagnifierLensCenter(QPointF center);

    // Every field compared exactly, in order (a NaN equals nothing).
    friend bool operator==(const ScreenshotLayer& a, const ScreenshotLayer& b);
};

// Exact comparisons of Qt geometry (Qt's own operators compare fuzzily).
bool sameRect(const QRectF& a, const QRectF& b);
bool samePoint(const QPointF& a, const QPointF& b);

}  // namespace brevalto
