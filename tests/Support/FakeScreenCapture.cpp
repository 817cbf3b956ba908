#include "FakeScreenCapture.h"

#include <algorithm>
#include <cmath>

namespace brevalto {

std::uint32_t FakeScreenCapture::addDisplay(const QRectF& frame, double scale, double rotation) {
    const std::uint32_t id = screens.empty() ? 1 : screens.back().id + 1;
    ScreenCaptureDisplay d;
    d.id = id;
    d.identity = QStringLiteral("FAKE-DISPLAY-%1").arg(id);
    d.frame = frame;
    d.scale = scale;
    d.rotation = rotation;
    screens.push_back(d);
    QImage image(int(std::lround(frame.width() * scale)), int(std::lround(frame.height() * scale)),
                 QImage::Format_ARGB32_Premultiplied);
    for (int y = 0; y < image.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x) line[x] = rgbAt(id, x, y);
    }
    displayImages[id] = image;
    return id;
}

void FakeScreenCapture::fillDisplay(std::uint32_t id, const QColor& color) { displayImages[id].fill(color); }

QRgb FakeScreenCapture::rgbAt(std::uint32_t id, int x, int y) {
    return qRgb(x % 256, y % 256, int((id * 40 + x / 256 * 7 + y / 256 * 11) % 256));
}

QImage FakeScreenCapture::grabDisplay(std::uint32_t displayID, const QRect& pixelRect, bool includesCursor) {
    ++displayGrabs;
    lastIncludesCursor = includesCursor;
    if (onGrab) onGrab();
    const bool present = std::any_of(screens.begin(), screens.end(),
                                     [&](const ScreenCaptureDisplay& d) { return d.id == displayID; });
    auto it = displayImages.find(displayID);
    if (!present || it == displayImages.end() || !it->second.rect().contains(pixelRect)) return {};
    return it->second.copy(pixelRect);
}

std::vector<ScreenCaptureWindow> FakeScreenCapture::windows() {
    std::vector<ScreenCaptureWindow> list;
    for (const auto& w : windowList) list.push_back(w.info);
    return list;
}

QImage FakeScreenCapture::grabWindow(std::uint32_t windowID, bool includesCursor) {
    ++windowGrabs;
    lastIncludesCursor = includesCursor;
    if (onGrab) onGrab();
    for (const auto& w : windowList) {
        if (w.info.id == windowID && w.info.onScreen) return w.image;
    }
    return {};
}

QImage FakeScreenCapture::wallpaper(std::uint32_t displayID) {
    auto it = wallpapers.find(displayID);
    return it == wallpapers.end() ? QImage() : it->second;
}

}  // namespace brevalto
