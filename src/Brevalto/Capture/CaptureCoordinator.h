#pragma once

#include <QRectF>

namespace brevalto {

// Runs one capture at a time for the screenshot workflow.
class CaptureCoordinator {
public:
    // How a frozen-frame selection ended: a region (in pixels of the frozen surface image), a
    // request to pick a window instead, or cancellation.
    struct Selection {
        enum class Kind { region, window, cancel };

        Kind kind = Kind::cancel;
        QRectF rect;  // the region; empty for the other kinds

        static Selection region(const QRectF& pixels) { return {Kind::region, pixels}; }
        static Selection window() { return {Kind::window, {}}; }
        static Selection cancel() { return {Kind::cancel, {}}; }

        friend bool operator==(const Selection&, const Selection&) = default;
    };
};

}  // namespace brevalto
