#include "Platform/Linux/X11Apps.h"

#include "Platform/Linux/X11Connection.h"
#include "Platform/Linux/X11RootWatcher.h"

#include <QString>
#include <QThread>

#include <chrono>
#include <cstring>
#include <string>

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

}  // namespace

X11Apps::X11Apps(QObject* parent) : Apps(parent) {
    watcher_ = new X11RootWatcher({QStringLiteral("_NET_ACTIVE_WINDOW")}, this);
    connect(watcher_, &X11RootWatcher::changed, this, &Apps::frontmostChanged);
}

X11Apps::~X11Apps() = default;

X11Connection* X11Apps::connection() const {
    // Opened on first use, and again after the server dropped us.
    if (!connection_ || connection_->broken()) connection_ = X11Connection::open();
    return connection_.get();
}

std::optional<AppIdentity> X11Apps::identify(std::uint32_t window) const {
    X11Connection* x = connection();
    if (!x || window == XCB_WINDOW_NONE) return std::nullopt;
    auto wmClass = x->property(window, XCB_ATOM_WM_CLASS, 1024);
    if (!wmClass) return std::nullopt;
    AppIdentity app;
    auto [instance, klass] = splitWmClass(wmClass->bytes);
    app.bundleIdentifier = klass.isEmpty() ? instance : klass;
    app.name = instance.isEmpty() ? app.bundleIdentifier : instance;
    if (auto pid = x->cardinal(window, x->atom("_NET_WM_PID"))) app.processId = *pid;
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
    auto list = x->property(x->root(), x->atom("_NET_CLIENT_LIST_STACKING"), 1 << 20);
    if (!list || list->format != 32) list = x->property(x->root(), x->atom("_NET_CLIENT_LIST"), 1 << 20);
    if (!list || list->format != 32) return XCB_WINDOW_NONE;
    const std::size_t count = list->bytes.size() / 4;
    for (std::size_t i = count; i-- > 0;) {
        xcb_window_t window = 0;
        std::memcpy(&window, list->bytes.data() + i * 4, 4);
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
                          {2, XCB_CURRENT_TIME, current.value_or(XCB_WINDOW_NONE), 0, 0});
    xcb_flush(x->get());

    // The window manager answers by moving _NET_ACTIVE_WINDOW; give it a moment, not more.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(300);
    while (std::chrono::steady_clock::now() < deadline) {
        if (x->windowProperty(x->root(), activeAtom) == window) return true;
        QThread::msleep(5);
    }
    return false;
}

}  // namespace brevalto
