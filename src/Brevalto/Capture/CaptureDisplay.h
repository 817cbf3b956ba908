#pragma once

#include "Platform/Geometry.h"

#include <QRectF>
#include <QSizeF>
#include <QString>

#include <cstdint>
#include <optional>
#include <vector>

namespace brevalto {

class ScreenCapture;
struct ScreenCaptureDisplay;
class ScreenGeometry;

// Point rectangles (display frames, regions, screenRect) are in global points with the origin at
// the bottom-left corner of the primary display and y growing upward; a QRectF holds them as
// (minX, minY, width, height). Pixel rectangles count from the top-left corner of one display's
// (or surface's) image with y growing downward. The two meet only in pixelRect and pointRect.

// One display as capture sees it, or a surface: one value standing for several displays at the
// highest of their scales.
struct CaptureDisplay {
    std::uint32_t id = 0;
    QString identity;  // for a surface: the identities joined with ";"
    QRectF frame;      // global points
    QSizeF pixelSize;
    double rotation = 0;  // degrees; 0 for a surface

    // Pixels per point: pixel width over frame width.
    double scale() const { return pixelSize.width() / frame.width(); }

    // The current displays, in the platform's order (primary first); displays without an
    // identity are skipped.
    static std::vector<CaptureDisplay> all(ScreenCapture& screen);
    // The display value of one platform display (none without an identity). `geometry` turns
    // Qt's top-left points into global bottom-left points.
    static std::optional<CaptureDisplay> fromScreen(const ScreenCaptureDisplay& screen, const ScreenGeometry& geometry);
    // The surface of a display set: the display itself for one, the union at the largest scale
    // for several. Throws CaptureError invalidRegion for an empty set or an invalid display.
    static CaptureDisplay surface(const std::vector<CaptureDisplay>& displays);

    // The pixel rectangle of a point rectangle inside this frame, rounded outward. Throws
    // CaptureError invalidRegion.
    QRectF pixelRect(const QRectF& rect) const;
    // The point rectangle of a pixel rectangle inside this image. Throws invalidRegion.
    QRectF pointRect(const QRectF& pixels) const;

    friend bool operator==(const CaptureDisplay& a, const CaptureDisplay& b);
};

// A region as the user selected it: the displays it was selected on, in order, and the rectangle
// in global points.
struct CaptureRegion {
    std::vector<CaptureDisplay> displays;
    QRectF rect;

    // Whether the region can be captured again on the current displays: none of its displays
    // has moved, changed or gone, and the rectangle still covers part of one of them.
    bool isStillValid(const std::vector<CaptureDisplay>& current) const;
};

}  // namespace brevalto
