#pragma once

#include "Platform/ScreenCapture.h"

#include <QString>

#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <optional>

namespace brevalto {

class X11CaptureServer;

// Screen capture on an X11 display over its own xcb connection: displays from RandR monitors,
// display images by SHM GetImage of the root (plain GetImage without SHM), the pointer from
// XFixes, the window list from _NET_CLIENT_LIST_STACKING, window images through Composite and
// the wallpaper from the root pixmap. X11 cannot keep windows out of a root image, so the app's
// own visible windows are hidden for the moment of a grab and shown again after it.
class X11ScreenCapture final : public ScreenCapture {
public:
    // displayName: the X display to open (null: $DISPLAY). Without a display every answer is
    // empty and hasPermission() is false.
    explicit X11ScreenCapture(const char* displayName = nullptr);
    ~X11ScreenCapture() override;

    bool hasPermission() const override;
    std::vector<ScreenCaptureDisplay> displays() override;
    QImage grabDisplay(std::uint32_t displayID, const QRect& pixelRect, bool includesCursor) override;
    bool grabDisplayInto(std::uint32_t displayID, const QRect& pixelRect, bool includesCursor, QImage& target,
                         const QPoint& at) override;
    std::vector<ScreenCaptureWindow> windows() override;
    QImage grabWindow(std::uint32_t windowID, bool includesCursor) override;
    QImage wallpaper(std::uint32_t displayID) override;

    // How long other applications get to repaint what our hidden windows uncovered, and a
    // window to repaint itself into its Composite pixmap.
    static constexpr std::chrono::milliseconds repaintDelay{60};

private:
    // Reads a root area into target at `at`, our own windows hidden meanwhile.
    bool grabRoot(const QRect& rootRect, bool includesCursor, QImage& target, const QPoint& at);
    std::optional<QRect> monitorArea(std::uint32_t displayID, const QRect& pixelRect);
    std::vector<ScreenCaptureWindow> listWindows(bool includeOwn);

    double scaleOf(const QString& monitorName);

    std::unique_ptr<X11CaptureServer> server_;
    std::recursive_mutex mutex_;
    std::map<QString, double> scales_;  // pixels per point by monitor name, as Qt last said
};

}  // namespace brevalto
