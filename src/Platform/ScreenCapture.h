#pragma once

#include <QImage>
#include <QPainter>
#include <QRect>
#include <QRectF>
#include <QString>

#include <cstdint>
#include <optional>
#include <vector>

namespace brevalto {

// One display (monitor) as the capture backend sees it.
struct ScreenCaptureDisplay {
    std::uint32_t id = 0;  // the display number, stable while the display stays connected
    QString identity;      // the display's identity string; empty when it cannot be told
    QRectF frame;          // in points (Qt device-independent pixels), Qt's top-left global space
    double scale = 1;      // pixels per point
    double rotation = 0;   // degrees, as the display reports it

    friend bool operator==(const ScreenCaptureDisplay&, const ScreenCaptureDisplay&) = default;
};

// One top-level window on the desktop.
struct ScreenCaptureWindow {
    enum class Type { normal, dialog, utility, dock, desktop, other };

    std::uint32_t id = 0;      // the client window
    QString title;
    QString appClass;          // the class part of WM_CLASS
    std::int64_t processId = 0;  // 0 when the window does not say
    Type type = Type::normal;
    QRectF frame;              // the outer frame (decorations included), points, Qt's top-left space
    bool onScreen = false;     // mapped and not minimised

    // Normal, dialog and utility windows are the ordinary application windows.
    bool ordinary() const { return type == Type::normal || type == Type::dialog || type == Type::utility; }

    friend bool operator==(const ScreenCaptureWindow&, const ScreenCaptureWindow&) = default;
};

// Reads pixels off the screen: displays, rectangles of a display, single windows and the desktop
// wallpaper. The app's own windows never appear in an image or in the window list. Images are
// QImage::Format_ARGB32_Premultiplied, one image pixel per device pixel. Calls may come from any
// thread, one at a time.
class ScreenCapture {
public:
    virtual ~ScreenCapture() = default;

    // Whether the app may read the screen at all (on X11: whether a display connection is open).
    virtual bool hasPermission() const = 0;

    // The current displays, the primary one first.
    virtual std::vector<ScreenCaptureDisplay> displays() = 0;

    // The pixels of `pixelRect` (pixels from the top-left corner of the display) of one display,
    // with the pointer drawn in when includesCursor. A null image when the display is gone or
    // the rectangle is not inside it.
    virtual QImage grabDisplay(std::uint32_t displayID, const QRect& pixelRect, bool includesCursor) = 0;

    // The same pixels written straight into `target` (ARGB32_Premultiplied) with their top-left
    // corner at `at`, which saves composing several displays a copy. False when no image came.
    virtual bool grabDisplayInto(std::uint32_t displayID, const QRect& pixelRect, bool includesCursor, QImage& target,
                                 const QPoint& at) {
        const QImage part = grabDisplay(displayID, pixelRect, includesCursor);
        if (part.isNull() || part.size() != pixelRect.size()) return false;
        QPainter painter(&target);
        painter.setCompositionMode(QPainter::CompositionMode_Source);
        painter.drawImage(at, part);
        return true;
    }

    // The top-level windows, front to back, without the app's own.
    virtual std::vector<ScreenCaptureWindow> windows() = 0;

    // The whole window (its outer frame) at device pixels, whatever covers it, with the pointer
    // drawn in when includesCursor and it lies over the window. A null image when the window is
    // gone or not on screen.
    virtual QImage grabWindow(std::uint32_t windowID, bool includesCursor) = 0;

    // The desktop picture behind one display, at the display's pixel size; a null image when
    // the desktop has none that can be read.
    virtual QImage wallpaper(std::uint32_t displayID) = 0;
};

}  // namespace brevalto
