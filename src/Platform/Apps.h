#pragma once

#include <QObject>
#include <QPointF>
#include <QRectF>
#include <QString>

#include <cstdint>
#include <optional>
#include <vector>

namespace brevalto {

// An application as the desktop knows it. On X11 an app is identified by the class part of its
// window's WM_CLASS (for example "firefox"); processId comes from _NET_WM_PID and window is the
// top-level window that identified it.
struct AppIdentity {
    QString bundleIdentifier;  // WM_CLASS class name
    QString name;              // a readable name (the window's WM_CLASS instance or title)
    std::int64_t processId = 0;
    std::uint32_t window = 0;

    friend bool operator==(const AppIdentity&, const AppIdentity&) = default;
};

// One on-screen top-level window of the window list.
struct WindowInfo {
    std::uint32_t window = 0;
    std::int64_t processId = 0;  // 0 when the window does not say
    QRectF bounds;               // top-left screen coordinates
    // 0 for an ordinary application window (normal, dialog, utility); 1 for anything else
    // (docks, menus, notifications, splash screens, desktop).
    int layer = 0;

    friend bool operator==(const WindowInfo&, const WindowInfo&) = default;
};

// The running applications: which one is frontmost, bringing one back to the front, and the
// windows on screen. `frontmostChanged` is emitted when the desktop reports another active window.
class Apps : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    ~Apps() override = default;

    // The application owning the active window (_NET_ACTIVE_WINDOW), or none.
    virtual std::optional<AppIdentity> frontmost() const = 0;
    // Brings the application's window to the front and gives it the keyboard. False when the
    // window is gone or the window manager refused.
    virtual bool activate(const AppIdentity& app) = 0;

    // Whether the application's process still runs.
    virtual bool isRunning(const AppIdentity& app) const = 0;
    // The running application of that process (one of its windows), or none.
    virtual std::optional<AppIdentity> application(std::int64_t processId) const = 0;
    // The on-screen top-level windows, front to back.
    virtual std::vector<WindowInfo> windows() const = 0;
    // The process owning the top-level window under a point (top-left screen coordinates), or
    // none when no window there names its process.
    virtual std::optional<std::int64_t> processAt(QPointF point) const = 0;
    // Whether the application runs on the Flutter engine.
    virtual bool isFlutter(const AppIdentity& app) const = 0;

signals:
    void frontmostChanged();
};

}  // namespace brevalto
