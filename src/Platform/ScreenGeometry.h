#pragma once

#include <QPointF>
#include <QRectF>

namespace brevalto {

// The app's geometry rules are written in points with the origin at the bottom-left corner of
// the primary screen and y growing upward; Qt places windows with the origin at the top-left of
// the primary screen and y growing downward. This is the one place that converts between them.
//
// A QRectF in bottom-left space keeps x() and y() as the minimum corner (minX, minY) and its
// width and height; read it with x(), y(), width(), height() (top() and bottom() mean the
// opposite edges there).
class ScreenGeometry {
public:
    // primaryHeight: the Qt y of the primary screen's bottom edge in points (Qt device-independent
    // pixels), which is its height when the primary screen starts at y 0.
    explicit ScreenGeometry(double primaryHeight) : primaryHeight_(primaryHeight) {}

    // The geometry of a desktop whose primary screen has this frame in Qt coordinates (a primary
    // screen below or beside another one need not start at y 0).
    static ScreenGeometry ofPrimaryScreen(const QRectF& primaryFrame) {
        return ScreenGeometry(primaryFrame.y() + primaryFrame.height());
    }

    double primaryHeight() const { return primaryHeight_; }

    QRectF toQt(const QRectF& bottomLeft) const {
        return QRectF(bottomLeft.x(), primaryHeight_ - bottomLeft.y() - bottomLeft.height(), bottomLeft.width(),
                      bottomLeft.height());
    }
    QRectF fromQt(const QRectF& topLeft) const {
        return QRectF(topLeft.x(), primaryHeight_ - topLeft.y() - topLeft.height(), topLeft.width(), topLeft.height());
    }
    QPointF toQt(const QPointF& bottomLeft) const { return {bottomLeft.x(), primaryHeight_ - bottomLeft.y()}; }
    QPointF fromQt(const QPointF& topLeft) const { return {topLeft.x(), primaryHeight_ - topLeft.y()}; }

private:
    double primaryHeight_;
};

}  // namespace brevalto
