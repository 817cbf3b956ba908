#pragma once

#include "Capture/CaptureDisplay.h"
#include "Capture/CaptureRequest.h"
#include "Capture/CapturedScreenshot.h"
#include "Platform/ScreenCapture.h"

#include <QImage>
#include <QRectF>

#include <cstdint>
#include <optional>
#include <stop_token>
#include <vector>

namespace brevalto {

// Takes pixels off the screen: one display, a rectangle that may span several displays, or one
// window on its background. Keeps no state between calls and holds every image to one budget of
// 40 megapixels. Failures are CaptureError (plus AIError for an unreadable wallpaper); a stop
// request on the token ends a capture with CaptureCancelled, never with a partial image.
class CaptureEngine {
public:
    static constexpr double imageBudget = 40'000'000.0;
    static constexpr const char* wallpaperUnavailable =
        "Desktop wallpaper is unavailable. Select Transparent or Solid. Dynamic wallpaper may differ from its static "
        "image.";

    explicit CaptureEngine(ScreenCapture& screen) : screen_(screen) {}

    // The current displays (throws permissionDenied without screen access).
    std::vector<CaptureDisplay> displays();
    // The on-screen windows of other applications, front to back.
    std::vector<ScreenCaptureWindow> windows(std::stop_token stop = {});
    // The frontmost ordinary on-screen window of a process; none without a process.
    std::optional<std::uint32_t> frontWindowID(std::optional<std::int64_t> processId);

    // One rectangle (global points) of one display, or the whole display without one.
    CapturedScreenshot captureDisplayImage(const CaptureDisplay& display, const CaptureRequest& request,
                                           const std::optional<QRectF>& rect, std::stop_token stop = {});
    // A rectangle that may span several displays, or the whole set without one, composed at the
    // highest scale of the set.
    CapturedScreenshot captureRect(const std::vector<CaptureDisplay>& displays, const CaptureRequest& request,
                                   const std::optional<QRectF>& rect, std::stop_token stop = {});
    // Draws per-display parts into one image of `rect` at the surface's scale; uncovered areas
    // stay transparent.
    static CapturedScreenshot composeDisplayImages(const QRectF& rect, const std::vector<CapturedScreenshot>& parts,
                                                   const CaptureDisplay& surface, std::stop_token stop = {});
    // One window, whatever covers it, on the request's background.
    CapturedScreenshot captureWindowImage(const ScreenCaptureWindow& window, const CaptureRequest& request,
                                          std::stop_token stop = {});
    // Puts a window image (of windowRect, global points, on `display`) on its background.
    QImage applyWindowBackground(const QImage& image, const QRectF& windowRect, const CaptureRequest& request,
                                 const CaptureDisplay& display);

private:
    void requirePermission() const;

    ScreenCapture& screen_;
};

}  // namespace brevalto
