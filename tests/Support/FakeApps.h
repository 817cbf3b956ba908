#pragma once

#include "Platform/Apps.h"

#include <vector>

namespace brevalto {

// Running applications as a test sets them up.
class FakeApps final : public Apps {
public:
    std::optional<AppIdentity> frontmost() const override {
        ++frontmostCalls;
        return front;
    }

    // Records the request; makes the app frontmost unless refuseActivation is set.
    bool activate(const AppIdentity& app) override {
        activated.push_back(app);
        if (refuseActivation) return false;
        front = app;
        emit frontmostChanged();
        return true;
    }

    // Makes an app with that WM_CLASS class frontmost (none with an empty name), and says so as
    // the desktop does.
    void setFrontmost(const QString& bundleIdentifier, std::int64_t processId = 0) {
        if (bundleIdentifier.isEmpty())
            front.reset();
        else
            front = AppIdentity{bundleIdentifier, bundleIdentifier, processId, 0};
        emit frontmostChanged();
    }

    std::optional<AppIdentity> front;
    bool refuseActivation = false;
    std::vector<AppIdentity> activated;
    mutable int frontmostCalls = 0;
};

}  // namespace brevalto
