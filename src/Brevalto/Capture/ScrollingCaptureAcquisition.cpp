// Frame acquisition: the target checks, the wheel steps and the grabs until the content settles.
#include "Capture/ScrollingCapture.h"

#include "Capture/CaptureError.h"
#include "Errors/AIError.h"
#include "Platform/Apps.h"
#include "Platform/ScreenCapture.h"
#include "Platform/WheelScroller.h"

#include <QCoreApplication>

#include <algorithm>

namespace brevalto {

namespace {

const char* const notStable =
    "Content did not stabilize within 4 seconds. Pause animations or use a smaller viewport, then Resume.";
constexpr double stableTimeout = 4.0;
// How long the content may take to answer a wheel step: until then a grab that still shows the
// last accepted frame is not taken for settled content, so that a slow application is never
// mistaken for the end of the page.
constexpr double answerWait = 0.6;

}  // namespace

bool ScrollingCapture::rewind(const std::vector<std::uint8_t>& refused) {
    if (!settings_.automatic || unmatchedClicks_ == 0 || !targetUnchanged()) return false;
    const QPointF centre = viewportOnScreen().center();
    if (!services_.wheel->scroll(centre, -unmatchedClicks_)) return false;
    unmatchedClicks_ = 0;
    lastClicks_ = 0;
    scrolledUnseen_ = true;  // the next frame is taken before any further step
    stepTime_ = services_.clock->now();
    beforeStep_ = ScrollFrameSignature::comparedRowsOf(refused, pixelRect_.height());
    awaitingAnswer_ = true;
    return true;
}

void ScrollingCapture::waitForStableFrame(std::uint64_t generation, std::function<void(Frame)> done) {
    stableGrab(generation, services_.clock->now() + stableTimeout, 0, std::nullopt, std::move(done));
}

void ScrollingCapture::stableGrab(std::uint64_t generation, double deadline, int stable,
                                  std::optional<ScrollFrameSignature> previous, std::function<void(Frame)> done) {
    if (!alive(generation)) return;
    if (services_.clock->now() >= deadline) return done(Frame(std::make_exception_ptr(AIError(notStable))));
    try {
        if (!targetStillUnchanged()) throw CaptureError(CaptureError::Kind::unavailableTarget);
        ScrollFrameSignature signature(grabViewport(), ScrollFrameSignature::Rows::compared);
        // Right after a wheel step the content has not moved yet: frames that still show the
        // last accepted one only count once the application had time to answer.
        const bool answered = !awaitingAnswer_ || signature.values != beforeStep_ ||
                              services_.clock->now() >= stepTime_ + answerWait;
        stable = answered && previous && ScrollFrameSignature::difference(*previous, signature) < ScrollFrameSignature::kSameView
                     ? stable + 1
                     : 0;
        previous = std::move(signature);
    } catch (...) {
        return done(Frame(std::current_exception()));
    }
    if (stable > (settings_.speed == 0 ? 2 : 1)) return done(Frame(std::move(*previous)));
    const double gap = settings_.speed == 2 ? 0.04 : settings_.speed == 1 ? 0.08 : 0.14;
    after(gap, generation, [=, this, previous = std::move(previous)]() mutable {
        stableGrab(generation, deadline, stable, std::move(previous), std::move(done));
    });
}

QImage ScrollingCapture::grabViewport() {
    if (!services_.screen->hasPermission()) throw CaptureError(CaptureError::Kind::permissionDenied);
    QImage image = services_.screen->grabDisplay(lockedDisplay_->id, pixelRect_, false);
    if (image.isNull() || image.size() != pixelRect_.size()) throw CaptureError(CaptureError::Kind::unavailableTarget);
    if (image.format() != QImage::Format_ARGB32_Premultiplied)
        image = image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    return image;
}

std::optional<QRectF> ScrollingCapture::windowBounds(std::optional<std::uint32_t> window) {
    if (!window || !services_.screen->hasPermission()) return std::nullopt;
    for (const auto& w : services_.screen->windows())
        if (w.id == *window) return w.frame;
    return std::nullopt;
}

double ScrollingCapture::firstScreenMaxY() const {
    const auto displays = CaptureDisplay::all(*services_.screen);
    return displays.empty() ? 0.0 : displays.front().frame.y() + displays.front().frame.height();
}

bool ScrollingCapture::targetStillUnchanged() { return checkedThisTurn_ || targetUnchanged(); }

bool ScrollingCapture::targetUnchanged() {
    checkedThisTurn_ = false;
    if (!target_ || !services_.apps->isRunning(*target_) || !lockedDisplay_) return false;
    const auto displays = CaptureDisplay::all(*services_.screen);
    if (std::find(displays.begin(), displays.end(), *lockedDisplay_) == displays.end()) return false;
    const auto front = services_.apps->frontmost();
    if (!front || (front->processId != target_->processId && front->processId != QCoreApplication::applicationPid()))
        return false;
    // One window list for the bounds and the front window (as the engine picks it).
    if (!services_.screen->hasPermission()) return false;
    std::optional<QRectF> bounds;
    std::optional<std::uint32_t> frontWindow;
    for (const auto& w : services_.screen->windows()) {
        if (windowID_ && w.id == *windowID_) bounds = w.frame;
        if (!frontWindow && w.onScreen && w.processId == target_->processId && w.ordinary()) frontWindow = w.id;
    }
    checkedThisTurn_ = bounds == windowFrame_ && frontWindow == windowID_;
    return checkedThisTurn_;
}

int ScrollingCapture::clicksFor(int pixels) const {
    if (pixelsPerClick_ <= 0) return 1;  // the first step: one click never skips content
    return std::clamp(int(pixels / pixelsPerClick_), 1, clickLimit_);
}

// After a lost overlap the steps grow back toward the one the overlap setting asks for, by a
// quarter (at least one click) for every step accepted at the limit.
void ScrollingCapture::acceptedLimitedStep(int clicks) {
    if (clickLimit_ >= clickCeiling_ && acceptedClicks_ == 0) return;  // the overlap was never lost
    acceptedClicks_ = clicks;
    if (clicks >= clickLimit_) clickLimit_ = std::min(clickLimit_ + std::max(clickLimit_ / 4, 1), clickCeiling_);
}

bool ScrollingCapture::autoScroll() { return scrollStep(false); }

bool ScrollingCapture::scrollStep(bool checked) {
    if (!target_ || (!checked && !targetUnchanged())) return false;
    const QPointF centre = viewportOnScreen().center();
    // The window under the centre must be the target's front window.
    const auto windows = services_.apps->windows();
    const auto hit = std::find_if(windows.begin(), windows.end(),
                                  [&](const WindowInfo& w) { return w.bounds.contains(centre); });
    if (hit == windows.end() || hit->processId != target_->processId || hit->window != windowID_) return false;
    // The step in image rows, as the frames measure the wheel's.
    const int delta = int(std::clamp(pixelRect_.height() * (1 - settings_.overlap), 1.0, 10'000.0));
    const int clicks = clicksFor(delta);
    const int signedClicks = settings_.upward ? -clicks : clicks;
    if (!targetStillUnchanged() || !services_.wheel->scroll(centre, signedClicks)) return false;
    lastClicks_ += clicks;
    unmatchedClicks_ += signedClicks;
    stepTime_ = services_.clock->now();
    beforeStep_ = ScrollFrameSignature::comparedRowsOf(lastAccepted_, pixelRect_.height());
    awaitingAnswer_ = true;
    scrolledUnseen_ = true;
    return true;
}

}  // namespace brevalto
