#pragma once

#include <QByteArray>
#include <QImage>
#include <QRect>
#include <QString>

#include <xcb/xcb.h>

#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace brevalto {

// The capture backend's own connection to the X server and the requests it makes: monitors,
// properties, images of drawables (SHM when the server offers it, plain GetImage otherwise) and
// the pointer image. Not thread-safe by itself: X11ScreenCapture serialises the calls.
class X11CaptureServer {
public:
    struct Monitor {
        std::uint32_t id = 0;  // the first output of the monitor, else its name atom with the top bit set
        QString name;
        QRect rect;            // root pixels
        bool primary = false;
        QByteArray edid;
        double rotation = 0;
    };

    explicit X11CaptureServer(const char* displayName);
    ~X11CaptureServer();
    X11CaptureServer(const X11CaptureServer&) = delete;
    X11CaptureServer& operator=(const X11CaptureServer&) = delete;

    bool isOpen() const { return connection_ != nullptr; }
    xcb_connection_t* connection() const { return connection_; }
    xcb_window_t root() const { return root_; }
    QRect rootRect() const;
    bool hasComposite() const { return composite_; }

    xcb_atom_t atom(const char* name);

    // Monitors, primary first: ids and areas; with details also names, EDID and rotation.
    std::vector<Monitor> monitors(bool details);

    // A property of a window as raw bytes (at most maxBytes), with its type and format.
    struct Property {
        xcb_atom_t type = XCB_NONE;
        int format = 0;
        QByteArray bytes;
    };
    xcb_get_property_cookie_t requestProperty(xcb_window_t window, xcb_atom_t property, std::uint32_t maxBytes);
    Property takeProperty(xcb_get_property_cookie_t cookie);
    Property property(xcb_window_t window, xcb_atom_t property, std::uint32_t maxBytes) {
        return takeProperty(requestProperty(window, property, maxBytes));
    }

    // The pixels of `rect` of a drawable (coordinates of that drawable) as an opaque
    // ARGB32_Premultiplied image, or, for a 32-bit drawable, with its alpha. Null on failure.
    QImage image(xcb_drawable_t drawable, const QRect& rect, int depth);
    // The same through plain GetImage, never SHM.
    QImage plainImage(xcb_drawable_t drawable, const QRect& rect, int depth);
    // The same pixels written into `target` (ARGB32_Premultiplied) with their top-left at `at`.
    bool read(xcb_drawable_t drawable, const QRect& rect, int depth, QImage& target, const QPoint& at, bool useShm);
    int rootDepth() const { return rootDepth_; }

    // Draws the pointer into an image whose top-left pixel lies at `origin` in root pixels,
    // inside `clip` only.
    void drawCursor(QImage& image, const QPoint& origin, const QRect& clip);

    // One round trip: the server has handled every request sent before.
    void sync();
    // Drops queued events and errors.
    void drainEvents();

private:
    // False when SHM cannot serve the request at all (then plain GetImage may); true with `ok`
    // telling whether the pixels arrived.
    bool readShm(xcb_drawable_t drawable, const QRect& rect, int depth, QImage& target, const QPoint& at, bool& ok);
    bool ensureSegment(std::size_t bytes);
    void releaseSegment();
    bool convert(const std::uint8_t* data, std::size_t length, const QSize& size, int depth, xcb_visualid_t visual,
                 QImage& target, const QPoint& at);

    xcb_connection_t* connection_ = nullptr;
    // The first output of each monitor and its CRTC as last seen, asked about again in the same
    // round trip as the monitors themselves; atom names, which never change while the server runs.
    std::vector<std::pair<std::uint32_t, std::uint32_t>> lastOutputs_;
    std::map<std::uint32_t, QString> atomNames_;
    xcb_window_t root_ = XCB_NONE;
    int rootDepth_ = 24;
    int rootWidth_ = 0;
    int rootHeight_ = 0;
    const xcb_setup_t* setup_ = nullptr;
    bool randr_ = false;
    bool shm_ = false;
    bool composite_ = false;
    bool xfixes_ = false;
    std::map<std::string, xcb_atom_t> atoms_;

    std::uint32_t segment_ = 0;  // xcb_shm_seg_t
    void* segmentMemory_ = nullptr;
    std::size_t segmentSize_ = 0;
};

}  // namespace brevalto
