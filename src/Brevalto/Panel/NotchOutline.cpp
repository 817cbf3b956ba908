#include "Panel/NotchOutline.h"

#include <algorithm>

namespace brevalto {

QPainterPath NotchOutline::path(const QRectF& rect) const {
    const double r = std::min(rect.height() * 0.5, 24.0);
    QPainterPath path;
    if (!attached) {
        path.addRoundedRect(rect, r, r);
        return path;
    }
    const double minX = rect.left(), maxX = rect.right(), minY = rect.top(), maxY = rect.bottom();
    path.moveTo(minX, minY);
    path.quadTo(minX + 10, minY, minX + 10, minY + 10);
    path.lineTo(minX + 10, maxY - r);
    path.quadTo(minX + 10, maxY, minX + 10 + r, maxY);
    path.lineTo(maxX - 10 - r, maxY);
    path.quadTo(maxX - 10, maxY, maxX - 10, maxY - r);
    path.lineTo(maxX - 10, minY + 10);
    path.quadTo(maxX - 10, minY, maxX, minY);
    path.closeSubpath();
    return path;
}

}  // namespace brevalto
