#pragma once

#include <QPointF>

namespace brevalto {

// Scrolls whatever lies under a screen point with synthetic mouse-wheel clicks, as the user's own
// wheel would. Each click scrolls by the receiving application's own wheel step.
class WheelScroller {
public:
    virtual ~WheelScroller() = default;
    // Posts |clicks| wheel clicks at `point` (top-left screen coordinates): positive clicks scroll
    // toward the end of the page, negative toward its start. The pointer goes back to where it
    // was. False when nothing could be posted.
    virtual bool scroll(QPointF point, int clicks) = 0;
};

}  // namespace brevalto
