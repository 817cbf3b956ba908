#pragma once

#include "Platform/Apps.h"

#include <memory>

namespace brevalto {

class X11Connection;

// The running applications as the window manager reports them (EWMH): the active window names
// the frontmost app by its WM_CLASS class and _NET_WM_PID; activation asks the window manager
// through a _NET_ACTIVE_WINDOW client message. Used on the GUI thread; it talks to the X server
// only, never to other clients, so every call returns promptly.
class X11Apps final : public Apps {
public:
    X11Apps();
    ~X11Apps() override;

    std::optional<AppIdentity> frontmost() const override;
    bool activate(const AppIdentity& app) override;

private:
    X11Connection* connection() const;
    std::optional<AppIdentity> identify(std::uint32_t window) const;
    std::uint32_t findWindow(const AppIdentity& app) const;

    mutable std::unique_ptr<X11Connection> connection_;
};

}  // namespace brevalto
