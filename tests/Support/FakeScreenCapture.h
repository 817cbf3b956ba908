#pragma once

#include "Platform/ScreenCapture.h"

#include <QColor>
#include <QImage>

#include <functional>
#include <map>
#include <vector>

namespace brevalto {

// A virtual desktop for capture tests: displays whose pixels are known images, windows with
// their own images, and a wallpaper per display. Every grab is counted, and a hook can change
// the desktop in the middle of a grab (a display unplugged mid-capture).
class FakeScreenCapture : public ScreenCapture {
public:
    struct Window {
        ScreenCaptureWindow info;
        QImage image;
    };

    bool permission = true;
    std::vector<ScreenCaptureDisplay> screens;  // primary first
    std::map<std::uint32_t, QImage> displayImages;  // by display id, at the display's pixel size
    std::vector<Window> windowList;                 // front to back
    std::map<std::uint32_t, QImage> wallpapers;     // by display id

    int displayGrabs = 0;
    int windowGrabs = 0;
    bool lastIncludesCursor = false;
    // Called at the start of every grab, before the image is read.
    std::function<void()> onGrab;

    // Adds a display of `frame` (Qt top-left points) at `scale`, filled with a gradient that
    // encodes each pixel's position (see pixelAt), and returns its id.
    std::uint32_t addDisplay(const QRectF& frame, double scale, double rotation = 0);
    // Fills a whole display with one colour.
    void fillDisplay(std::uint32_t id, const QColor& color);
    // The colour the gradient of addDisplay gives a pixel of a display.
    static QRgb rgbAt(std::uint32_t id, int x, int y);

    bool hasPermission() const override { return permission; }
    std::vector<ScreenCaptureDisplay> displays() override { return screens; }
    QImage grabDisplay(std::uint32_t displayID, const QRect& pixelRect, bool includesCursor) override;
    std::vector<ScreenCaptureWindow> windows() override;
    QImage grabWindow(std::uint32_t windowID, bool includesCursor) override;
    QImage wallpaper(std::uint32_t displayID) override;
};

}  // namespace brevalto
