#pragma once

#include <QRectF>

#include <cmath>

namespace brevalto {

// True when the minimum corner, width and height are finite and width and height are positive.
inline bool isFiniteNonEmpty(const QRectF& r) {
    return std::isfinite(r.x()) && std::isfinite(r.y()) && std::isfinite(r.width()) && std::isfinite(r.height()) &&
           r.width() > 0 && r.height() > 0;
}

}  // namespace brevalto
