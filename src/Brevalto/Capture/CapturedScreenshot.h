#pragma once

#include <QImage>
#include <QRectF>

#include <cstdint>
#include <optional>

namespace brevalto {

// The result of one capture.
struct CapturedScreenshot {
    QImage image;
    double scale = 1;     // image pixels per point
    QRectF screenRect;    // the captured area in global points (bottom-left origin, y up)
    std::uint32_t displayID = 0;  // the display, or for several displays the first of them
    std::optional<std::uint32_t> windowID;  // set only by window captures
};

}  // namespace brevalto
