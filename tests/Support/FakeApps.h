#pragma once

#include "Platform/Apps.h"

#include <set>
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

    bool isRunning(const AppIdentity& app) const override { return !terminated.count(app.processId); }
    std::optional<AppIdentity> application(std::int64_t processId) const override {
        for (const auto& app : running)
            if (app.processId == processId && !terminated.count(processId)) return app;
        return std::nullopt;
    }
    std::vector<WindowInfo> windows() const override {
        ++windowListCalls;
        return windowList;
    }
    std::optional<std::int64_t> processAt(QPointF point) const override {
        pointsAsked.push_back(point);
        return pidAtPoint;
    }
    bool isFlutter(const AppIdentity& app) const override { return flutter.count(app.processId) > 0; }

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
    // Process identifiers that have quit, and of Flutter apps.
    std::set<std::int64_t> terminated, flutter;
    // What application() finds.
    std::vector<AppIdentity> running;
    // The window list (front to back) and the process under every point.
    std::vector<WindowInfo> windowList;
    std::optional<std::int64_t> pidAtPoint;
    mutable int windowListCalls = 0;
    mutable std::vector<QPointF> pointsAsked;
};

}  // namespace brevalto
