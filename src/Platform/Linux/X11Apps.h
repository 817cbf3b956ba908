#pragma once

#include "Platform/Apps.h"

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

private:
    X11Connection* connection() const;
    std::optional<AppIdentity> identify(std::uint32_t window) const;
    std::uint32_t findWindow(const AppIdentity& app) const;

    mutable std::unique_ptr<X11Connection> connection_;
    X11RootWatcher* watcher_ = nullptr;
};

}  // namespace brevalto
