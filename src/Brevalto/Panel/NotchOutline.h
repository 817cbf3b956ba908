#pragma once

#include <QPainterPath>
#include <QRectF>

namespace brevalto {

// The outline of the notch body in view coordinates (y down). Attached (on a screen with a
// camera housing) it hangs from the top edge with 10-point concave ears and rounded bottom
// corners, 20 points narrower than the rectangle; floating it is a rounded rectangle. The corner
// radius is half the height, at most 24.
struct NotchOutline {
    bool attached = false;

    QPainterPath path(const QRectF& rect) const;
};

}  // namespace brevalto
