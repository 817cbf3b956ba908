#include "Platform/Linux/X11Apps.h"

#include "Platform/Linux/X11Connection.h"
#include "Platform/Linux/X11RootWatcher.h"

#include <QString>
#include <QThread>

#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fstream>
#include <optional>
#include <string>
#include <system_error>

namespace brevalto {

namespace {

// WM_CLASS holds two NUL-terminated strings: the instance name, then the class name.
std::pair<QString, QString> splitWmClass(const std::string& bytes) {
    const auto first = bytes.find('\0');
    if (first == std::string::npos) return {QString::fromLocal8Bit(bytes.data(), static_cast<qsizetype>(bytes.size())), {}};
    const std::string instance = bytes.substr(0, first);
    std::string klass = bytes.substr(first + 1);
    if (const auto end = klass.find('\0'); end != std::string::npos) klass.resize(end);
    return {QString::fromLocal8Bit(instance.data(), static_cast<qsizetype>(instance.size())),
            QString::fromLocal8Bit(klass.data(), static_cast<qsizetype>(klass.size()))};
}

constexpr const char* kFlutterLibrary = "libflutter_linux_gtk.so";

std::vector<std::uint32_t> words(const X11Connection::Property& property) {
    std::vector<std::uint32_t> result(property.format == 32 ? property.bytes.size() / 4 : 0);
    if (!result.empty()) std::memcpy(result.data(), property.bytes.data(), result.size() * 4);
    return result;
}

}  // namespace

bool processUsesFlutter(std::int64_t processId, const std::filesystem::path& procRoot) {
    namespace fs = std::filesystem;
    if (processId <= 0) return false;
    const fs::path process = procRoot / std::to_string(processId);
    std::error_code error;
    const fs::path executable = fs::read_symlink(process / "exe", error);
    if (!error && executable.has_parent_path()) {
        const fs::path folder = executable.parent_path();
        if (fs::exists(folder / kFlutterLibrary, error) || fs::exists(folder / "lib" / kFlutterLibrary, error))
            return true;
    }
    std::ifstream maps(process / "maps");
    std::string line;
    while (std::getline(maps, line)) {
        if (line.find(kFlutterLibrary) != std::string::npos) return true;
    }
    return false;
}

X11Apps::X11Apps(QObject* parent) : Apps(parent) {
    watcher_ = new X11RootWatcher({QStringLiteral("_NET_ACTIVE_WINDOW")}, this);
    connect(watcher_, &X11RootWatcher::changed, this, &Apps::frontmostChanged);
}

X11Apps::~X11Apps() {
    if (connection_ && timeWindow_ != 0) {
        xcb_destroy_window(connection_->get(), timeWindow_);
        xcb_flush(connection_->get());
    }
}

X11Connection* X11Apps::connection() const {
    // Opened on first use, and again after the server dropped us.
    if (!connection_ || connection_->broken()) {
        connection_ = X11Connection::open();
        timeWindow_ = 0;
    }
    return connection_.get();
}

std::optional<AppIdentity> X11Apps::identify(std::uint32_t window) const {
    X11Connection* x = connection();
    if (!x || window == XCB_WINDOW_NONE) return std::nullopt;
    // Both properties in one round trip.
    const auto classCookie = x->requestProperty(window, XCB_ATOM_WM_CLASS, 1024);
    const auto pidCookie = x->requestProperty(window, x->atom("_NET_WM_PID"), 4);
    auto wmClass = x->takeProperty(classCookie, 1024);
    const auto pid = X11Connection::cardinalOf(x->takeProperty(pidCookie, 4));
    if (!wmClass) return std::nullopt;
    AppIdentity app;
    auto [instance, klass] = splitWmClass(wmClass->bytes);
    app.bundleIdentifier = klass.isEmpty() ? instance : klass;
    app.name = instance.isEmpty() ? app.bundleIdentifier : instance;
    if (pid) app.processId = *pid;
    app.window = window;
    return app;
}

std::optional<AppIdentity> X11Apps::frontmost() const {
    X11Connection* x = connection();
    if (!x) return std::nullopt;
    auto active = x->windowProperty(x->root(), x->atom("_NET_ACTIVE_WINDOW"));
    if (!active) return std::nullopt;
    return identify(*active);
}

std::uint32_t X11Apps::findWindow(const AppIdentity& app) const {
    X11Connection* x = connection();
    if (!x) return XCB_WINDOW_NONE;
    // The remembered window, when it still belongs to that app (window ids are reused).
    if (app.window != 0) {
        auto current = identify(app.window);
        if (current && current->bundleIdentifier == app.bundleIdentifier) return app.window;
    }
    if (app.bundleIdentifier.isEmpty()) return XCB_WINDOW_NONE;
    // Else the app's most recently stacked client window.
    const std::vector<std::uint32_t> list = stacking();
    for (auto it = list.rbegin(); it != list.rend(); ++it) {
        const xcb_window_t window = *it;
        auto candidate = identify(window);
        if (!candidate || candidate->bundleIdentifier != app.bundleIdentifier) continue;
        if (app.processId != 0 && candidate->processId != 0 && candidate->processId != app.processId) continue;
        return window;
    }
    return XCB_WINDOW_NONE;
}

bool X11Apps::activate(const AppIdentity& app) {
    X11Connection* x = connection();
    if (!x) return false;
    const xcb_window_t window = findWindow(app);
    if (window == XCB_WINDOW_NONE) return false;
    const xcb_atom_t activeAtom = x->atom("_NET_ACTIVE_WINDOW");
    const auto current = x->windowProperty(x->root(), activeAtom);
    if (current && *current == window) return true;

    // Source 2: the request comes from a direct user action.
    sendRootClientMessage(x->get(), x->root(), window, activeAtom,
                          {2, serverTime(), current.value_or(XCB_WINDOW_NONE), 0, 0});
    xcb_flush(x->get());

    // The window manager answers by moving _NET_ACTIVE_WINDOW; give it a moment, not more.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(300);
    while (std::chrono::steady_clock::now() < deadline) {
        if (x->windowProperty(x->root(), activeAtom) == window) return true;
        QThread::msleep(5);
    }
    return false;
}

std::vector<std::uint32_t> X11Apps::stacking() const {
    X11Connection* x = connection();
    if (!x) return {};
    auto list = x->property(x->root(), x->atom("_NET_CLIENT_LIST_STACKING"), 1 << 20);
    if (!list || list->format != 32) list = x->property(x->root(), x->atom("_NET_CLIENT_LIST"), 1 << 20);
    if (!list) return {};
    return words(*list);
}

std::uint32_t X11Apps::serverTime() const {
    X11Connection* x = connection();
    if (!x) return XCB_CURRENT_TIME;
    xcb_connection_t* c = x->get();
    if (timeWindow_ == 0) {
        timeWindow_ = xcb_generate_id(c);
        const std::uint32_t mask = XCB_EVENT_MASK_PROPERTY_CHANGE;
        xcb_create_window(c, XCB_COPY_FROM_PARENT, timeWindow_, x->root(), -1, -1, 1, 1, 0,
                          XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, XCB_CW_EVENT_MASK, &mask);
    }
    // Appending nothing to a property still makes the server report the change with its time.
    const xcb_atom_t stamp = x->atom("BREVALTO_TIMESTAMP");
    xcb_change_property(c, XCB_PROP_MODE_APPEND, timeWindow_, stamp, XCB_ATOM_STRING, 8, 0, nullptr);
    xcb_flush(c);
    const xcb_window_t window = timeWindow_;
    xcb_generic_event_t* event = x->waitForEvent(
        [&](const xcb_generic_event_t* e) {
            if ((e->response_type & 0x7f) != XCB_PROPERTY_NOTIFY) return false;
            const auto* notify = reinterpret_cast<const xcb_property_notify_event_t*>(e);
            return notify->window == window && notify->atom == stamp;
        },
        std::chrono::steady_clock::now() + std::chrono::milliseconds(200), {});
    if (!event) return XCB_CURRENT_TIME;
    const std::uint32_t time = reinterpret_cast<const xcb_property_notify_event_t*>(event)->time;
    std::free(event);
    return time;
}

bool X11Apps::isRunning(const AppIdentity& app) const {
    if (app.processId > 0) {
        if (::kill(static_cast<pid_t>(app.processId), 0) == 0) return true;
        return errno == EPERM;
    }
    // Without a process identifier, the app runs while its window is there and still its own.
    if (app.window == 0) return false;
    auto current = identify(app.window);
    return current && current->bundleIdentifier == app.bundleIdentifier;
}

std::optional<AppIdentity> X11Apps::application(std::int64_t processId) const {
    if (processId <= 0) return std::nullopt;
    const std::vector<std::uint32_t> list = stacking();
    for (auto it = list.rbegin(); it != list.rend(); ++it) {
        auto app = identify(*it);
        if (app && app->processId == processId) return app;
    }
    return std::nullopt;
}

std::vector<WindowInfo> X11Apps::windows() const {
    X11Connection* x = connection();
    if (!x) return {};
    xcb_connection_t* c = x->get();
    const std::vector<std::uint32_t> list = stacking();
    const xcb_atom_t typeAtom = x->atom("_NET_WM_WINDOW_TYPE");
    const xcb_atom_t stateAtom = x->atom("_NET_WM_STATE");
    const xcb_atom_t pidAtom = x->atom("_NET_WM_PID");
    const std::vector<xcb_atom_t> ordinary = {x->atom("_NET_WM_WINDOW_TYPE_NORMAL"),
                                              x->atom("_NET_WM_WINDOW_TYPE_DIALOG"),
                                              x->atom("_NET_WM_WINDOW_TYPE_UTILITY")};
    const xcb_atom_t hidden = x->atom("_NET_WM_STATE_HIDDEN");
    const std::int64_t self = ::getpid();

    // Everything about every window is asked at once, then the answers are read in order: one
    // round trip for the whole list.
    struct Pending {
        xcb_window_t window;
        xcb_get_window_attributes_cookie_t attributes;
        xcb_get_property_cookie_t state, pid, type;
        xcb_get_geometry_cookie_t geometry;
        xcb_translate_coordinates_cookie_t origin;
    };
    std::vector<Pending> pending;
    pending.reserve(list.size());
    for (auto it = list.rbegin(); it != list.rend(); ++it) {
        const xcb_window_t window = *it;
        pending.push_back({window, xcb_get_window_attributes(c, window), x->requestProperty(window, stateAtom, 4096),
                           x->requestProperty(window, pidAtom, 4), x->requestProperty(window, typeAtom, 4096),
                           xcb_get_geometry(c, window), xcb_translate_coordinates(c, window, x->root(), 0, 0)});
    }

    std::vector<WindowInfo> result;
    for (const Pending& p : pending) {
        XcbReply<xcb_get_window_attributes_reply_t> attributes(xcb_get_window_attributes_reply(c, p.attributes, nullptr));
        const auto state = x->takeProperty(p.state, 4096);
        const auto pid = X11Connection::cardinalOf(x->takeProperty(p.pid, 4));
        const auto type = x->takeProperty(p.type, 4096);
        XcbReply<xcb_get_geometry_reply_t> geometry(xcb_get_geometry_reply(c, p.geometry, nullptr));
        XcbReply<xcb_translate_coordinates_reply_t> origin(xcb_translate_coordinates_reply(c, p.origin, nullptr));
        if (!attributes || attributes->map_state != XCB_MAP_STATE_VIEWABLE) continue;
        if (state) {
            const auto states = words(*state);
            if (std::find(states.begin(), states.end(), hidden) != states.end()) continue;
        }
        if (!geometry || !origin) continue;
        WindowInfo info;
        info.window = p.window;
        info.processId = pid.value_or(0);
        if (info.processId == self) continue;
        info.bounds = QRectF(origin->dst_x, origin->dst_y, geometry->width, geometry->height);
        // A window without a type is a normal one; otherwise its first type decides.
        if (type) {
            const auto types = words(*type);
            if (!types.empty() && std::find(ordinary.begin(), ordinary.end(), types.front()) == ordinary.end())
                info.layer = 1;
        }
        result.push_back(info);
    }
    return result;
}

std::optional<std::int64_t> X11Apps::processAt(QPointF point) const {
    X11Connection* x = connection();
    if (!x) return std::nullopt;
    xcb_connection_t* c = x->get();
    const xcb_atom_t pidAtom = x->atom("_NET_WM_PID");
    const auto px = static_cast<std::int16_t>(std::clamp(point.x(), -32768.0, 32767.0));
    const auto py = static_cast<std::int16_t>(std::clamp(point.y(), -32768.0, 32767.0));
    // From the root down through the frames to the first window that names its process.
    xcb_window_t parent = x->root();
    for (int depth = 0; depth < 16; ++depth) {
        XcbReply<xcb_translate_coordinates_reply_t> reply(
            xcb_translate_coordinates_reply(c, xcb_translate_coordinates(c, x->root(), parent, px, py), nullptr));
        if (!reply) return std::nullopt;
        const xcb_window_t child = reply->child;
        if (child == XCB_WINDOW_NONE) return std::nullopt;
        if (auto pid = x->cardinal(child, pidAtom); pid && *pid != 0) return static_cast<std::int64_t>(*pid);
        parent = child;
    }
    return std::nullopt;
}

bool X11Apps::isFlutter(const AppIdentity& app) const { return processUsesFlutter(app.processId); }

}  // namespace brevalto
