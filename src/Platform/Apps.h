#pragma once

#include <QObject>
#include <QString>

#include <cstdint>
#include <optional>

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

// The running applications: which one is frontmost, and bringing one back to the front.
// `frontmostChanged` is emitted when the desktop reports another active window.
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

signals:
    void frontmostChanged();
};

}  // namespace brevalto
