#include "Workflow/ScreenshotPinState.h"

#include "Workflow/ScreenshotReferencePanel.h"

#include <algorithm>
#include <cmath>

namespace brevalto {

ScreenshotPinState::ScreenshotPinState(QImage image, ScreenshotReferencePanel* panel, std::function<void()> reopen,
                                       QObject* parent)
    : QObject(parent), image_(std::move(image)), panel_(panel), reopen_(std::move(reopen)) {}

ScreenshotReferencePanel* ScreenshotPinState::panel() const { return panel_; }

void ScreenshotPinState::setOpacity(double opacity) {
    if (!std::isfinite(opacity)) return;
    opacity = std::clamp(opacity, kMinimumOpacity, 1.0);
    if (opacity == opacity_) return;
    opacity_ = opacity;
    emit opacityChanged(opacity_);
}

void ScreenshotPinState::setZoom(double zoom) {
    if (!std::isfinite(zoom)) return;
    zoom = std::clamp(zoom, kMinimumZoom, kMaximumZoom);
    if (zoom == zoom_) return;
    zoom_ = zoom;
    emit zoomChanged(zoom_);
}

void ScreenshotPinState::toggleLock() {
    locked_ = !locked_;
    if (panel_) panel_->applyLock(locked_);
    emit lockedChanged(locked_);
}

void ScreenshotPinState::reopen() const {
    if (reopen_) reopen_();
}

void ScreenshotPinState::close() const {
    if (panel_) panel_->close();
}

}  // namespace brevalto
