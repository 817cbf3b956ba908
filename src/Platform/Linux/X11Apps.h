#pragma once

#include "Platform/Apps.h"

#include <filesystem>
#include <memory>

namespace brevalto {

class X11Connection;
class X11RootWatcher;

// The running applications as the window manager reports them (EWMH): the active window names
// the frontmost app by its WM_CLASS class and _NET_WM_PID; activation asks the window manager
// through a _NET_ACTIVE_WINDOW client message. Changes of the active window are followed through
// the root window's property changes, not by asking again and again. Used on the GUI thread; it
// talks to the X server only, never to other clients, so every call returns promptly.
class X11Apps final : public Apps {
public:
    explicit X11Apps(QObject* parent = nullptr);
    ~X11Apps() override;

    std::optional<AppIdentity> frontmost() const override;
    bool activate(const AppIdentity& app) override;
    bool isRunning(const AppIdentity& app) const override;
    std::optional<AppIdentity> application(std::int64_t processId) const override;
    // Managed windows that are mapped and not minimised, from _NET_CLIENT_LIST_STACKING; this
    // process's own windows are left out.
    std::vector<WindowInfo> windows() const override;
    std::optional<std::int64_t> processAt(QPointF point) const override;
    bool isFlutter(const AppIdentity& app) const override;

private:
    std::vector<std::uint32_t> stacking() const;
    // The X server's current time, for requests that must not carry CurrentTime.
    std::uint32_t serverTime() const;
    X11Connection* connection() const;
    std::optional<AppIdentity> identify(std::uint32_t window) const;
    std::uint32_t findWindow(const AppIdentity& app) const;

    mutable std::unique_ptr<X11Connection> connection_;
    mutable std::uint32_t timeWindow_ = 0;
    X11RootWatcher* watcher_ = nullptr;
};

// Whether the process runs on Flutter's Linux engine: its runtime library lies beside the
// executable (or in the "lib" folder beside it, as Flutter bundles are laid out) or is mapped into
// the process. procRoot is "/proc" but for tests.
bool processUsesFlutter(std::int64_t processId, const std::filesystem::path& procRoot = "/proc");

}  // namespace brevalto
