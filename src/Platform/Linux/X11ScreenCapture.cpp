#include "Platform/Linux/X11ScreenCapture.h"

#include "Platform/Linux/X11CaptureOwnWindows.h"
#include "Platform/Linux/X11CaptureServer.h"

#include <QCryptographicHash>
#include <QGuiApplication>
#include <QScreen>
#include <QThread>

#include <cstring>

namespace brevalto {

namespace {

// A display identity in the form of a UUID, derived from the monitor's EDID (the same panel
// keeps its identity on any port) or, without one, from its name.
QString identityOf(const X11CaptureServer::Monitor& m) {
    const QByteArray source = m.edid.isEmpty() ? QByteArray("monitor:") + m.name.toUtf8() : m.edid;
    const QByteArray hex = QCryptographicHash::hash(source, QCryptographicHash::Sha1).toHex().toUpper().left(32);
    return QString::fromLatin1(hex.left(8) + '-' + hex.mid(8, 4) + '-' + hex.mid(12, 4) + '-' + hex.mid(16, 4) + '-' +
                               hex.mid(20, 12));
}

}  // namespace

X11ScreenCapture::X11ScreenCapture(const char* displayName)
    : server_(std::make_unique<X11CaptureServer>(displayName)) {
    X11CaptureOwnWindows::followWithdrawals();
}

X11ScreenCapture::~X11ScreenCapture() = default;

bool X11ScreenCapture::hasPermission() const { return server_->isOpen(); }

double X11ScreenCapture::scaleOf(const QString& monitorName) {
    // Qt's screens may only be read on the GUI thread; elsewhere the last answer stands.
    if (qGuiApp && QThread::currentThread() == qGuiApp->thread()) {
        double scale = 0;
        for (QScreen* s : QGuiApplication::screens()) {
            if (s->name() == monitorName) scale = s->devicePixelRatio();
        }
        if (scale <= 0 && QGuiApplication::primaryScreen()) scale = QGuiApplication::primaryScreen()->devicePixelRatio();
        if (scale > 0) scales_[monitorName] = scale;
    }
    auto found = scales_.find(monitorName);
    return found == scales_.end() ? 1.0 : found->second;
}

std::vector<ScreenCaptureDisplay> X11ScreenCapture::displays() {
    std::lock_guard lock(mutex_);
    server_->drainEvents();
    std::vector<ScreenCaptureDisplay> result;
    for (const auto& m : server_->monitors(true)) {
        ScreenCaptureDisplay d;
        d.id = m.id;
        d.identity = identityOf(m);
        d.scale = scaleOf(m.name);
        // Like Qt, a screen keeps its pixel origin and shrinks its size by the scale.
        d.frame = QRectF(m.rect.x(), m.rect.y(), m.rect.width() / d.scale, m.rect.height() / d.scale);
        d.rotation = m.rotation;
        result.push_back(d);
    }
    return result;
}

std::optional<QRect> X11ScreenCapture::monitorArea(std::uint32_t displayID, const QRect& pixelRect) {
    for (const auto& m : server_->monitors(false)) {
        if (m.id != displayID) continue;
        if (pixelRect.isEmpty() || !QRect(QPoint(0, 0), m.rect.size()).contains(pixelRect)) return std::nullopt;
        return pixelRect.translated(m.rect.topLeft());
    }
    return std::nullopt;
}

QImage X11ScreenCapture::grabDisplay(std::uint32_t displayID, const QRect& pixelRect, bool includesCursor) {
    std::lock_guard lock(mutex_);
    const auto area = monitorArea(displayID, pixelRect);
    if (!area) return {};
    QImage image(area->size(), QImage::Format_ARGB32_Premultiplied);
    if (image.isNull() || !grabRoot(*area, includesCursor, image, QPoint(0, 0))) return {};
    return image;
}

bool X11ScreenCapture::grabDisplayInto(std::uint32_t displayID, const QRect& pixelRect, bool includesCursor,
                                       QImage& target, const QPoint& at) {
    std::lock_guard lock(mutex_);
    const auto area = monitorArea(displayID, pixelRect);
    return area && grabRoot(*area, includesCursor, target, at);
}

bool X11ScreenCapture::grabRoot(const QRect& rect, bool includesCursor, QImage& target, const QPoint& at) {
    // A monitor lies inside the root; should it not, the server refuses the area.
    bool ok = false;
    {
        X11CaptureOwnWindows hidden(rect, repaintDelay);
        ok = server_->read(server_->root(), rect, server_->rootDepth(), target, at, true);
    }
    if (ok && includesCursor) server_->drawCursor(target, rect.topLeft() - at, QRect(at, rect.size()));
    return ok;
}

QImage X11ScreenCapture::wallpaper(std::uint32_t displayID) {
    std::lock_guard lock(mutex_);
    if (!server_->isOpen()) return {};
    QRect monitor;
    for (const auto& m : server_->monitors(false)) {
        if (m.id == displayID) monitor = m.rect;
    }
    if (monitor.isEmpty()) return {};
    // Desktop setters publish the picture they painted as a root-sized pixmap.
    for (const char* name : {"_XROOTPMAP_ID", "ESETROOT_PMAP_ID"}) {
        const auto prop = server_->property(server_->root(), server_->atom(name), 4);
        if (prop.type != XCB_ATOM_PIXMAP || prop.format != 32 || prop.bytes.size() < 4) continue;
        xcb_pixmap_t pixmap = 0;
        std::memcpy(&pixmap, prop.bytes.constData(), 4);
        xcb_get_geometry_reply_t* g =
            xcb_get_geometry_reply(server_->connection(), xcb_get_geometry(server_->connection(), pixmap), nullptr);
        if (!g) continue;  // a stale id: the setter is gone and so is its pixmap
        const QRect area = monitor.intersected(QRect(0, 0, g->width, g->height));
        const int depth = g->depth;
        std::free(g);
        if (area != monitor) continue;
        QImage image = server_->plainImage(pixmap, area, depth);
        if (!image.isNull()) return image;
    }
    return {};
}

}  // namespace brevalto
