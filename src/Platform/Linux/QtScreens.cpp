#include "Platform/Linux/QtScreens.h"

#include "Platform/Linux/X11Connection.h"
#include "Platform/Linux/X11RootWatcher.h"

#include <QCursor>
#include <QDBusConnection>
#include <QGuiApplication>
#include <QScreen>
#include <QWindow>

#include <xcb/xcb.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace brevalto {

namespace {

xcb_connection_t* x11Connection() {
    auto* x11 = qApp ? qApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    return x11 ? x11->connection() : nullptr;
}

xcb_atom_t internAtom(xcb_connection_t* c, std::string_view name) {
    // Atoms live as long as the X server; ask once per name and connection.
    static std::map<std::pair<xcb_connection_t*, std::string>, xcb_atom_t> cache;
    const auto key = std::make_pair(c, std::string(name));
    if (const auto found = cache.find(key); found != cache.end()) return found->second;
    XcbReply<xcb_intern_atom_reply_t> reply(
        xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, static_cast<std::uint16_t>(name.size()), name.data()), nullptr));
    const xcb_atom_t atom = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
    if (atom != XCB_ATOM_NONE) cache.emplace(key, atom);
    return atom;
}

xcb_window_t selectionOwner(xcb_connection_t* c, std::string_view selection) {
    const xcb_atom_t atom = internAtom(c, selection);
    if (atom == XCB_ATOM_NONE) return XCB_WINDOW_NONE;
    XcbReply<xcb_get_selection_owner_reply_t> reply(
        xcb_get_selection_owner_reply(c, xcb_get_selection_owner(c, atom), nullptr));
    return reply ? reply->owner : xcb_window_t(XCB_WINDOW_NONE);
}

int defaultScreenNumber() {
    // DISPLAY is ":N" or ":N.S"; the screen number S selects the per-screen selections.
    const QByteArray display = qgetenv("DISPLAY");
    const int dot = display.lastIndexOf('.');
    const int colon = display.lastIndexOf(':');
    if (dot > colon && colon >= 0) return display.mid(dot + 1).toInt();
    return 0;
}

void sendWindowState(xcb_connection_t* c, xcb_window_t root, xcb_window_t window, xcb_atom_t type,
                     std::uint32_t d0, std::uint32_t d1, std::uint32_t d2) {
    sendRootClientMessage(c, root, window, type, {d0, d1, d2, 1 /* source: a normal application */, 0});
}

}  // namespace

// The blob is: byte order (1 byte),
// 3 padding bytes, serial (4), count (4); then per setting: type (1: 0 int, 1 string, 2 colour),
// padding (1), name length (2), name padded to 4, last-change serial (4), then the value.
std::optional<std::int32_t> QtScreens::xsettingsInteger(const QByteArray& blob, std::string_view wanted) {
    const auto* data = reinterpret_cast<const std::uint8_t*>(blob.constData());
    const auto size = static_cast<std::size_t>(blob.size());
    if (size < 12) return std::nullopt;
    const bool bigEndian = data[0] != 0;
    auto read32 = [&](std::size_t at) -> std::uint32_t {
        const std::uint8_t* p = data + at;
        return bigEndian ? (std::uint32_t(p[0]) << 24 | std::uint32_t(p[1]) << 16 | std::uint32_t(p[2]) << 8 | p[3])
                         : (std::uint32_t(p[3]) << 24 | std::uint32_t(p[2]) << 16 | std::uint32_t(p[1]) << 8 | p[0]);
    };
    auto read16 = [&](std::size_t at) -> std::uint16_t {
        const std::uint8_t* p = data + at;
        return bigEndian ? std::uint16_t(p[0] << 8 | p[1]) : std::uint16_t(p[1] << 8 | p[0]);
    };
    auto pad4 = [](std::size_t n) { return (n + 3) & ~std::size_t(3); };
    const std::uint32_t count = read32(8);
    std::size_t at = 12;
    for (std::uint32_t i = 0; i < count && i < 4096; ++i) {
        if (at + 4 > size) return std::nullopt;
        const std::uint8_t type = data[at];
        const std::size_t nameLength = read16(at + 2);
        const std::size_t nameAt = at + 4;
        at = nameAt + pad4(nameLength) + 4;  // name and last-change serial
        if (at > size) return std::nullopt;
        const std::string_view name(reinterpret_cast<const char*>(data + nameAt), nameLength);
        switch (type) {
        case 0:
            if (at + 4 > size) return std::nullopt;
            if (name == wanted) return static_cast<std::int32_t>(read32(at));
            at += 4;
            break;
        case 1:
            if (at + 4 > size) return std::nullopt;
            at += 4 + pad4(read32(at));
            break;
        case 2:
            at += 8;
            break;
        default:
            return std::nullopt;
        }
    }
    return std::nullopt;
}

QtScreens::QtScreens(QObject* parent) : Screens(parent) {
    for (QScreen* screen : QGuiApplication::screens()) watch(screen);
    connect(qApp, &QGuiApplication::screenAdded, this, [this](QScreen* screen) {
        watch(screen);
        emit screensChanged();
    });
    connect(qApp, &QGuiApplication::screenRemoved, this, &Screens::screensChanged);
    connect(qApp, &QGuiApplication::primaryScreenChanged, this, &Screens::screensChanged);
    // An EWMH window manager announces itself through this root property once it is ready.
    auto* watcher = new X11RootWatcher({QStringLiteral("_NET_SUPPORTING_WM_CHECK")}, this);
    connect(watcher, &X11RootWatcher::changed, this, &Screens::windowManagerChanged);
    QDBusConnection bus = QDBusConnection::systemBus();
    if (bus.isConnected()) {
        bus.connect(QStringLiteral("org.freedesktop.login1"), QStringLiteral("/org/freedesktop/login1"),
                    QStringLiteral("org.freedesktop.login1.Manager"), QStringLiteral("PrepareForSleep"), this,
                    SLOT(prepareForSleep(bool)));
    }
}

QtScreens::~QtScreens() {
    for (const auto& connection : connections_) disconnect(connection);
}

void QtScreens::watch(QScreen* screen) {
    auto changed = [this] { emit screensChanged(); };
    connections_ << connect(screen, &QScreen::geometryChanged, this, changed)
                 << connect(screen, &QScreen::availableGeometryChanged, this, changed)
                 << connect(screen, &QScreen::logicalDotsPerInchChanged, this, changed);
}

void QtScreens::prepareForSleep(bool sleeping) {
    if (sleeping)
        emit willSleep();
    else
        emit didWake();
}

ScreenInfo QtScreens::describe(const QScreen* screen, const ScreenGeometry& geometry) {
    ScreenInfo info;
    info.name = screen->name();
    info.frame = geometry.fromQt(QRectF(screen->geometry()));
    info.visibleFrame = geometry.fromQt(QRectF(screen->availableGeometry()));
    info.scale = screen->devicePixelRatio();
    return info;
}

std::vector<ScreenInfo> QtScreens::screens() const {
    const ScreenGeometry conversion = geometry();
    std::vector<ScreenInfo> result;
    for (const QScreen* screen : QGuiApplication::screens()) result.push_back(describe(screen, conversion));
    return result;
}

std::optional<ScreenInfo> QtScreens::mainScreen() const {
    const QScreen* primary = QGuiApplication::primaryScreen();
    if (!primary) return std::nullopt;
    return describe(primary, geometry());
}

QPointF QtScreens::mouseLocation() const {
    // The cursor sits on a pixel; its centre keeps the top row inside its screen under the
    // rectangle test, whose maximum edges are outside.
    const QPoint pixel = QCursor::pos();
    return geometry().fromQt(QPointF(pixel.x() + 0.5, pixel.y() + 0.5));
}

ScreenGeometry QtScreens::geometry() const {
    // The origin of the bottom-left space is the bottom edge of the primary screen.
    const QScreen* primary = QGuiApplication::primaryScreen();
    if (!primary) return ScreenGeometry(0);
    return ScreenGeometry::ofPrimaryScreen(primary->geometry());
}

bool QtScreens::reduceMotion() const {
    xcb_connection_t* c = x11Connection();
    if (!c) return false;
    const xcb_window_t owner = selectionOwner(c, "_XSETTINGS_S" + std::to_string(defaultScreenNumber()));
    if (owner == XCB_WINDOW_NONE) return false;
    const xcb_atom_t property = internAtom(c, "_XSETTINGS_SETTINGS");
    if (property == XCB_ATOM_NONE) return false;
    // The blob is small; 64 KiB (16384 words) bounds what a settings manager can make us read.
    XcbReply<xcb_get_property_reply_t> reply(
        xcb_get_property_reply(c, xcb_get_property(c, 0, owner, property, XCB_ATOM_ANY, 0, 16384), nullptr));
    if (!reply || reply->format != 8) return false;
    const QByteArray blob(static_cast<const char*>(xcb_get_property_value(reply.get())),
                          xcb_get_property_value_length(reply.get()));
    const auto enabled = xsettingsInteger(blob, "Gtk/EnableAnimations");
    return enabled && *enabled == 0;
}

bool QtScreens::hasCompositor() const {
    xcb_connection_t* c = x11Connection();
    if (!c) return false;
    return selectionOwner(c, "_NET_WM_CM_S" + std::to_string(defaultScreenNumber())) != XCB_WINDOW_NONE;
}

void QtScreens::prepareOverlayWindow(QWindow* window) {
    xcb_connection_t* c = x11Connection();
    if (!c || !window) return;
    const auto id = static_cast<xcb_window_t>(window->winId());
    const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
    if (!screen) return;
    const xcb_atom_t wmState = internAtom(c, "_NET_WM_STATE");
    const xcb_atom_t wmDesktop = internAtom(c, "_NET_WM_DESKTOP");
    const xcb_atom_t states[] = {internAtom(c, "_NET_WM_STATE_STICKY"), internAtom(c, "_NET_WM_STATE_SKIP_TASKBAR"),
                                 internAtom(c, "_NET_WM_STATE_SKIP_PAGER"), internAtom(c, "_NET_WM_STATE_ABOVE")};
    const std::uint32_t allDesktops = 0xFFFFFFFF;
    if (window->isVisible()) {
        // A managed window asks the window manager.
        constexpr std::uint32_t add = 1;
        sendWindowState(c, screen->root, id, wmState, add, states[0], states[1]);
        sendWindowState(c, screen->root, id, wmState, add, states[2], states[3]);
        sendWindowState(c, screen->root, id, wmDesktop, allDesktops, 0, 0);
    } else {
        // A withdrawn window carries the states into its mapping; Qt merges its own into them.
        xcb_change_property(c, XCB_PROP_MODE_REPLACE, id, wmState, XCB_ATOM_ATOM, 32, 4, states);
        xcb_change_property(c, XCB_PROP_MODE_REPLACE, id, wmDesktop, XCB_ATOM_CARDINAL, 32, 1, &allDesktops);
    }
    xcb_flush(c);
}

bool QtScreens::isViewable(QWindow* window) const {
    if (!window || !window->isVisible()) return false;
    xcb_connection_t* c = x11Connection();
    if (!c) return true;  // no X server: the platform's own visibility is all there is
    const auto id = static_cast<xcb_window_t>(window->winId());
    XcbReply<xcb_get_window_attributes_reply_t> reply(
        xcb_get_window_attributes_reply(c, xcb_get_window_attributes(c, id), nullptr));
    return reply && reply->map_state == XCB_MAP_STATE_VIEWABLE;
}

void QtScreens::mapAgain(QWindow* window) {
    xcb_connection_t* c = x11Connection();
    if (!c || !window || !window->isVisible()) return;
    // A window manager that has the window already ignores the request; Qt follows the MapNotify.
    xcb_map_window(c, static_cast<xcb_window_t>(window->winId()));
    xcb_flush(c);
}

void QtScreens::setShownInTaskbar(QWindow* window, bool shown) {
    xcb_connection_t* c = x11Connection();
    if (!c || !window) return;
    const auto id = static_cast<xcb_window_t>(window->winId());
    const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
    if (!screen) return;
    const xcb_atom_t wmState = internAtom(c, "_NET_WM_STATE");
    const xcb_atom_t skip[] = {internAtom(c, "_NET_WM_STATE_SKIP_TASKBAR"), internAtom(c, "_NET_WM_STATE_SKIP_PAGER")};
    if (window->isVisible()) {
        constexpr std::uint32_t remove = 0, add = 1;
        sendWindowState(c, screen->root, id, wmState, shown ? remove : add, skip[0], skip[1]);
    } else {
        // A withdrawn window carries its states into its mapping.
        std::vector<xcb_atom_t> states;
        const auto cookie = xcb_get_property(c, 0, id, wmState, XCB_ATOM_ATOM, 0, 64);
        XcbReply<xcb_get_property_reply_t> reply(xcb_get_property_reply(c, cookie, nullptr));
        if (reply && reply->format == 32) {
            const auto* atoms = static_cast<const xcb_atom_t*>(xcb_get_property_value(reply.get()));
            const int count = xcb_get_property_value_length(reply.get()) / 4;
            for (int i = 0; i < count; ++i)
                if (atoms[i] != skip[0] && atoms[i] != skip[1]) states.push_back(atoms[i]);
        }
        if (!shown) states.insert(states.end(), std::begin(skip), std::end(skip));
        xcb_change_property(c, XCB_PROP_MODE_REPLACE, id, wmState, XCB_ATOM_ATOM, 32,
                            static_cast<std::uint32_t>(states.size()), states.data());
    }
    xcb_flush(c);
}

void QtScreens::setWindowFixed(QWindow* window, bool fixed) {
    xcb_connection_t* c = x11Connection();
    if (!c || !window) return;
    const auto id = static_cast<xcb_window_t>(window->winId());
    const xcb_atom_t hints = internAtom(c, "_MOTIF_WM_HINTS");
    if (hints == XCB_ATOM_NONE) return;
    // flags, functions, decorations, input mode, status; Qt writes the decorations it wants.
    std::uint32_t motif[5] = {0, 0, 0, 0, 0};
    XcbReply<xcb_get_property_reply_t> reply(
        xcb_get_property_reply(c, xcb_get_property(c, 0, id, hints, hints, 0, 5), nullptr));
    if (reply && reply->format == 32 && xcb_get_property_value_length(reply.get()) == int(sizeof motif))
        std::memcpy(motif, xcb_get_property_value(reply.get()), sizeof motif);
    constexpr std::uint32_t flagFunctions = 1, flagDecorations = 2;
    constexpr std::uint32_t functionResize = 2, functionMove = 4, functionMinimize = 8, functionMaximize = 16,
                            functionClose = 32;
    constexpr std::uint32_t decorationAll = 1, decorationResizeHandle = 4;
    if (!(motif[0] & flagFunctions) || (motif[1] & 1)) {
        // No functions given, or all of them: name them one by one so that some can be left out.
        motif[1] = functionResize | functionMove | functionMinimize | functionMaximize | functionClose;
    }
    motif[0] |= flagFunctions;
    if (fixed)
        motif[1] &= ~(functionMove | functionResize);
    else
        motif[1] |= functionMove | functionResize;
    if ((motif[0] & flagDecorations) && !(motif[2] & decorationAll)) {
        if (fixed)
            motif[2] &= ~decorationResizeHandle;
        else
            motif[2] |= decorationResizeHandle;
    }
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, id, hints, hints, 32, 5, motif);
    xcb_flush(c);
}

}  // namespace brevalto
