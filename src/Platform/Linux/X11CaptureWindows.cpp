// The window half of X11ScreenCapture: the window list and single-window images.
#include "Platform/Linux/X11Connection.h"
#include "Platform/Linux/X11ScreenCapture.h"

#include "Platform/Linux/X11CaptureOwnWindows.h"
#include "Platform/Linux/X11CaptureServer.h"

#include <QCoreApplication>
#include <QPainter>
#include <QThread>

#include <xcb/composite.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace brevalto {

namespace {

template <class T>
using Reply = XcbReply<T>;

constexpr std::uint32_t maxWindows = 4096;
constexpr std::uint32_t maxTitleBytes = 4096;

std::vector<std::uint32_t> longs(const QByteArray& bytes) {
    std::vector<std::uint32_t> values(static_cast<std::size_t>(bytes.size()) / 4);
    if (!values.empty()) std::memcpy(values.data(), bytes.constData(), values.size() * 4);
    return values;
}

struct Pending {
    xcb_window_t id;
    xcb_get_property_cookie_t netName, name, wmClass, pid, type, state, extents;
    xcb_get_window_attributes_cookie_t attributes;
    xcb_translate_coordinates_cookie_t origin;
    xcb_get_geometry_cookie_t geometry;
};

}  // namespace

std::vector<ScreenCaptureWindow> X11ScreenCapture::windows() {
    std::lock_guard lock(mutex_);
    return listWindows(false);
}

std::vector<ScreenCaptureWindow> X11ScreenCapture::listWindows(bool includeOwn) {
    std::vector<ScreenCaptureWindow> result;
    X11CaptureServer& x = *server_;
    if (!x.isOpen()) return result;
    auto prop = x.property(x.root(), x.atom("_NET_CLIENT_LIST_STACKING"), maxWindows * 4);
    if (prop.type != XCB_ATOM_WINDOW) prop = x.property(x.root(), x.atom("_NET_CLIENT_LIST"), maxWindows * 4);
    if (prop.type != XCB_ATOM_WINDOW || prop.format != 32) return result;
    auto ids = longs(prop.bytes);
    std::reverse(ids.begin(), ids.end());  // the property lists bottom to top

    const xcb_atom_t utf8 = x.atom("UTF8_STRING");
    const xcb_atom_t netName = x.atom("_NET_WM_NAME"), pidAtom = x.atom("_NET_WM_PID");
    const xcb_atom_t typeAtom = x.atom("_NET_WM_WINDOW_TYPE"), stateAtom = x.atom("_NET_WM_STATE");
    const xcb_atom_t extentsAtom = x.atom("_NET_FRAME_EXTENTS"), hidden = x.atom("_NET_WM_STATE_HIDDEN");
    const std::pair<xcb_atom_t, ScreenCaptureWindow::Type> types[] = {
        {x.atom("_NET_WM_WINDOW_TYPE_NORMAL"), ScreenCaptureWindow::Type::normal},
        {x.atom("_NET_WM_WINDOW_TYPE_DIALOG"), ScreenCaptureWindow::Type::dialog},
        {x.atom("_NET_WM_WINDOW_TYPE_UTILITY"), ScreenCaptureWindow::Type::utility},
        {x.atom("_NET_WM_WINDOW_TYPE_DOCK"), ScreenCaptureWindow::Type::dock},
        {x.atom("_NET_WM_WINDOW_TYPE_DESKTOP"), ScreenCaptureWindow::Type::desktop},
    };

    xcb_connection_t* c = x.connection();
    std::vector<Pending> pending;
    for (xcb_window_t id : ids) {
        pending.push_back({id, x.requestProperty(id, netName, maxTitleBytes),
                           x.requestProperty(id, XCB_ATOM_WM_NAME, maxTitleBytes),
                           x.requestProperty(id, XCB_ATOM_WM_CLASS, 1024), x.requestProperty(id, pidAtom, 4),
                           x.requestProperty(id, typeAtom, 64), x.requestProperty(id, stateAtom, 128),
                           x.requestProperty(id, extentsAtom, 16), xcb_get_window_attributes(c, id),
                           xcb_translate_coordinates(c, id, x.root(), 0, 0), xcb_get_geometry(c, id)});
    }

    const auto monitors = x.monitors(true);  // names: the scale goes by monitor name
    const qint64 ownPid = QCoreApplication::applicationPid();
    for (const Pending& p : pending) {
        ScreenCaptureWindow w;
        w.id = p.id;
        const auto title = x.takeProperty(p.netName);
        const auto legacyTitle = x.takeProperty(p.name);
        if (title.type == utf8) {
            w.title = QString::fromUtf8(title.bytes);
        } else if (legacyTitle.type != XCB_NONE) {
            w.title = legacyTitle.type == utf8 ? QString::fromUtf8(legacyTitle.bytes) : QString::fromLatin1(legacyTitle.bytes);
        }  // else no title at all: the title stays null, unlike a title set to nothing
        const auto cls = x.takeProperty(p.wmClass).bytes.split('\0');
        w.appClass = cls.size() > 1 ? QString::fromUtf8(cls[1]) : QString();
        const auto pid = longs(x.takeProperty(p.pid).bytes);
        w.processId = pid.empty() ? 0 : pid.front();
        const auto typeList = longs(x.takeProperty(p.type).bytes);
        if (!typeList.empty()) {
            w.type = ScreenCaptureWindow::Type::other;
            for (const auto& [atom, type] : types) {
                if (typeList.front() == atom) w.type = type;
            }
        }
        const auto state = longs(x.takeProperty(p.state).bytes);
        auto extents = longs(x.takeProperty(p.extents).bytes);
        extents.resize(4, 0);  // left, right, top, bottom
        Reply<xcb_get_window_attributes_reply_t> attributes{xcb_get_window_attributes_reply(c, p.attributes, nullptr)};
        Reply<xcb_translate_coordinates_reply_t> origin{xcb_translate_coordinates_reply(c, p.origin, nullptr)};
        Reply<xcb_get_geometry_reply_t> geometry{xcb_get_geometry_reply(c, p.geometry, nullptr)};
        if (!attributes || !origin || !geometry) continue;  // the window went away meanwhile
        if (!includeOwn && w.processId == ownPid) continue;
        w.onScreen = attributes->map_state == XCB_MAP_STATE_VIEWABLE &&
                     std::find(state.begin(), state.end(), hidden) == state.end();

        const QRect pixels(origin->dst_x - int(extents[0]), origin->dst_y - int(extents[2]),
                           geometry->width + int(extents[0] + extents[1]),
                           geometry->height + int(extents[2] + extents[3]));
        // Points: pixels scaled about the origin of the monitor that shows most of the window.
        QRect best;
        QString bestName;
        int bestArea = -1;
        for (const auto& m : monitors) {
            const QRect common = m.rect.intersected(pixels);
            const int a = common.isEmpty() ? 0 : common.width() * common.height();
            if (a > bestArea) {
                bestArea = a;
                best = m.rect;
                bestName = m.name;
            }
        }
        const double s = bestArea >= 0 ? scaleOf(bestName) : 1.0;
        w.frame = QRectF(best.x() + (pixels.x() - best.x()) / s, best.y() + (pixels.y() - best.y()) / s,
                         pixels.width() / s, pixels.height() / s);
        result.push_back(w);
    }
    return result;
}

QImage X11ScreenCapture::grabWindow(std::uint32_t windowID, bool includesCursor) {
    std::lock_guard lock(mutex_);
    X11CaptureServer& x = *server_;
    const auto list = listWindows(true);
    auto target = std::find_if(list.begin(), list.end(), [&](const ScreenCaptureWindow& w) { return w.id == windowID; });
    if (target == list.end() || !target->onScreen) return {};
    xcb_connection_t* c = x.connection();

    // The window manager's frame around the client is the window as the user sees it.
    xcb_window_t top = windowID;
    for (int depth = 0; depth < 16; ++depth) {
        Reply<xcb_query_tree_reply_t> tree{xcb_query_tree_reply(c, xcb_query_tree(c, top), nullptr)};
        if (!tree) return {};
        if (tree->parent == x.root() || tree->parent == XCB_NONE) break;
        top = tree->parent;
    }
    Reply<xcb_get_geometry_reply_t> g{xcb_get_geometry_reply(c, xcb_get_geometry(c, top), nullptr)};
    if (!g) return {};
    const QRect rect(g->x, g->y, g->width + 2 * g->border_width, g->height + 2 * g->border_width);
    const int depth = g->depth;

    QImage image;
    auto fromPixmap = [&]() {
        const xcb_pixmap_t pixmap = xcb_generate_id(c);
        if (xcb_generic_error_t* e = xcb_request_check(c, xcb_composite_name_window_pixmap_checked(c, top, pixmap))) {
            std::free(e);
            return false;
        }
        image = x.image(pixmap, QRect(QPoint(0, 0), rect.size()), depth);
        xcb_free_pixmap(c, pixmap);
        return !image.isNull();
    };

    auto redirect = [&]() {
        xcb_generic_error_t* e =
            xcb_request_check(c, xcb_composite_redirect_window_checked(c, top, XCB_COMPOSITE_REDIRECT_AUTOMATIC));
        std::free(e);
        return e == nullptr;
    };
    const bool covered = std::any_of(list.begin(), target, [&](const ScreenCaptureWindow& w) {
        return w.onScreen && w.processId != QCoreApplication::applicationPid() && w.frame.intersects(target->frame);
    });
    const QRect root = x.rootRect();
    if (x.hasComposite() && fromPixmap()) {
        // A compositing manager already keeps the window's own image.
    } else if (!covered && root.contains(rect)) {
        X11CaptureOwnWindows hidden(rect, repaintDelay);
        image = x.image(x.root(), rect, x.rootDepth());
    } else if (x.hasComposite() && redirect()) {
        // Redirecting makes the server keep the window's contents off screen; give the window a
        // moment to repaint into it.
        x.sync();
        QThread::msleep(static_cast<unsigned long>(repaintDelay.count()));
        fromPixmap();
        xcb_composite_unredirect_window(c, top, XCB_COMPOSITE_REDIRECT_AUTOMATIC);
        x.sync();
    }
    if (image.isNull()) {
        // Without Composite: what is visible of the window, the rest left transparent.
        const QRect visible = rect.intersected(root);
        if (visible.isEmpty()) return {};
        QImage part;
        {
            X11CaptureOwnWindows hidden(visible, repaintDelay);
            part = x.image(x.root(), visible, x.rootDepth());
        }
        if (part.isNull()) return {};
        image = QImage(rect.size(), QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        QPainter painter(&image);
        painter.drawImage(visible.topLeft() - rect.topLeft(), part);
    }
    if (includesCursor) x.drawCursor(image, rect.topLeft(), image.rect());
    return image;
}

}  // namespace brevalto
