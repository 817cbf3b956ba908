// The capture's states: construction, start, viewport selection and polling.
#include "Capture/ScrollingCapture.h"

#include "Capture/CaptureCoordinator.h"
#include "Capture/CaptureEngine.h"
#include "Capture/CaptureError.h"
#include "Capture/CaptureOverlays.h"
#include "Capture/ScrollStitcher.h"
#include "Errors/AIError.h"
#include "Platform/AppPaths.h"
#include "Platform/ImageSaveDialog.h"
#include "Platform/ScreenCapture.h"

#include <QCoreApplication>

#include <algorithm>
#include <chrono>

namespace brevalto {

namespace {

const char* const settingsInvalid = "Check memory, disk, overlap and trim settings.";
const char* const noFrontWindow =
    "Activate the target app, then start Scrolling Capture from its shortcut or the panel.";
const char* const targetChanged = "Target app or window changed. Restore it, then Resume.";
const char* const autoScrollUnavailable = "Auto-scroll is unavailable for this container. Choose Manual, then Resume.";
constexpr double repaintWait = 0.2;

class MonotonicClock final : public Clock {
public:
    Date now() const override {
        return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
    }
};

// Above the capture's panel, which stays above other windows, and in the Pictures folder.
std::optional<QString> askExportPath(const QString& defaultName) {
    return askImageSavePath(ImageFileType::png, QString::fromStdString(AppPaths::picturesFolder().string()),
                            defaultName, nullptr, QStringLiteral("Export"));
}

bool validSettings(const ScrollingCapture::Settings& s) {
    return s.memoryMB >= 64 && s.memoryMB <= 1024 && s.diskMB >= 64 && s.diskMB <= 4096 &&
           s.maximumHeight >= 1000 && s.maximumHeight <= 100'000 && s.overlap >= 0.2 && s.overlap <= 0.85 &&
           s.trimTop >= 0 && s.trimBottom >= 0;
}

}  // namespace

ScrollingCapture::ScrollingCapture(ScrollingCaptureServices services, std::optional<AppIdentity> target, int delay,
                                   Completion completion, std::function<void()> closed,
                                   std::function<QString()> exportFileName, QObject* parent)
    : QObject(parent),
      services_(std::move(services)),
      target_(std::move(target)),
      delay_(delay),
      completion_(std::move(completion)),
      closed_(std::move(closed)),
      exportFileName_(std::move(exportFileName)) {
    if (!services_.timer) {
        ownTimer_ = std::make_unique<QtCaptureTimer>();
        services_.timer = ownTimer_.get();
    }
    if (!services_.clock) {
        ownClock_ = std::make_unique<MonotonicClock>();
        services_.clock = ownClock_.get();
    }
    if (!services_.chooseExportPath) services_.chooseExportPath = askExportPath;
    if (!services_.executor) {
        ownExecutor_ = std::make_unique<TaskPool>(1);
        services_.executor = ownExecutor_.get();
    }
}

ScrollingCapture::~ScrollingCapture() {
    append_.cancel();
    removeMonitors();
    services_.timer->stop();
    if (task_ == Task::selecting && !ended_) services_.coordinator->cancelCapture();
    if (panel_) panel_->deleteLater();
}

void ScrollingCapture::setPanel(QWidget* panel) {
    if (panel_) panel_->removeEventFilter(this);
    panel_ = panel;
    if (panel_) panel_->installEventFilter(this);
}

void ScrollingCapture::setSettings(const Settings& settings) {
    settings_ = settings;
    emit changed();
}

void ScrollingCapture::setStatus(const QString& status) {
    status_ = status;
    emit changed();
}

// Start and viewport selection

void ScrollingCapture::start() {
    if (ended_) return;
    if (task_ != Task::none || !validSettings(settings_)) return setStatus(settingsInvalid);
    windowID_ = target_ ? services_.engine->frontWindowID(target_->processId) : std::nullopt;
    windowFrame_ = windowBounds(windowID_);
    if (!windowID_ || !windowFrame_) {
        setStatus(noFrontWindow);
        showPanel();
        return;
    }
    task_ = Task::selecting;
    ++generation_;
    selectViewport();
}

void ScrollingCapture::selectViewport() {
    if (panel_) panel_->hide();
    // What our windows covered (this panel, or the app's own panel that started the capture) is
    // given a moment to be painted again by its application before the frozen frame is taken:
    // that frame is the capture's first.
    const std::uint64_t generation = generation_;
    after(repaintWait, generation, [this, generation] { requestViewport(generation); });
}

void ScrollingCapture::requestViewport(std::uint64_t generation) {
    CaptureRequest request;
    request.delay = delay_;
    if (target_) request.applicationPID = static_cast<std::int32_t>(target_->processId);
    request.allowsCrossDisplay = false;
    request.finishesSelectionOnMouseUp = true;
    const QPointF centre(windowFrame_->center().x(), firstScreenMaxY() - windowFrame_->center().y());
    for (const auto& display : CaptureDisplay::all(*services_.screen)) {
        if (display.frame.contains(centre)) {
            request.displayID = display.id;
            break;
        }
    }
    QPointer<ScrollingCapture> self(this);
    try {
        services_.coordinator->capture(request, [self, generation](CaptureCoordinator::Result result) {
            if (self) self->viewportSelected(generation, std::move(result));
        });
    } catch (...) {
        viewportSelected(generation, CaptureCoordinator::Result(std::current_exception()));
    }
}

void ScrollingCapture::viewportSelected(std::uint64_t generation, TaskResult<std::optional<CapturedScreenshot>> result) {
    if (!alive(generation) || task_ != Task::selecting) return;
    try {
        const auto& shot = result.get();
        if (!shot) return cancel();
        acceptViewport(*shot);
    } catch (...) {
        const auto error = std::current_exception();
        task_ = Task::none;
        stitcher_.reset();
        lockedDisplay_.reset();
        if (isCancellation<CaptureCancelled>(error)) return;
        hadFailure_ = true;
        running_ = false;
        setStatus(messageOf(error));
        showPanel();
    }
}

void ScrollingCapture::acceptViewport(const CapturedScreenshot& shot) {
    const auto displays = CaptureDisplay::all(*services_.screen);
    const auto display = std::find_if(displays.begin(), displays.end(),
                                      [&](const CaptureDisplay& d) { return d.id == shot.displayID; });
    if (windowBounds(windowID_) != windowFrame_ || display == displays.end())
        throw CaptureError(CaptureError::Kind::unavailableTarget);
    const int trims = settings_.trimTop + settings_.trimBottom;
    if (trims >= shot.image.height() - 64) throw AIError("Trim leaves fewer than 64 content pixels.");
    const QRectF window(windowFrame_->x(), firstScreenMaxY() - windowFrame_->bottom(), windowFrame_->width(),
                        windowFrame_->height());
    if (!window.contains(shot.screenRect)) throw AIError("Select a viewport entirely inside the target window.");

    const double scale = shot.scale;
    const QRectF& r = shot.screenRect;
    region_ = QRectF(r.x(), r.y() + settings_.trimBottom / scale, r.width(), r.height() - trims / scale);
    // The pixel rectangle is fixed here, from the selected image itself, so that every later grab
    // has exactly the first frame's size whatever the rounding of the point rectangle.
    const QRect whole = display->pixelRect(r).toAlignedRect();
    pixelRect_ = QRect(whole.x(), whole.y() + settings_.trimTop, shot.image.width(), shot.image.height() - trims);

    stitcher_ = std::make_shared<ScrollStitcher>(
        services_.stagingRoot, ScrollBudget{std::int64_t(settings_.memoryMB) * 1'048'576,
                                            std::int64_t(settings_.diskMB) * 1'048'576, settings_.maximumHeight});
    const QImage first = shot.image.copy(0, settings_.trimTop, shot.image.width(), shot.image.height() - trims);
    if (first.isNull()) throw CaptureError(CaptureError::Kind::invalidRegion);
    ScrollFrameSignature signature(first);
    lastAccepted_ = signature.values;
    stitcher_->append(std::move(signature));
    lockedDisplay_ = *display;
    frames_ = 1;
    height_ = first.height();
    running_ = true;
    task_ = Task::polling;
    emit changed();
    placePanel();
    installMonitors();
    if (target_) services_.apps->activate(*target_);
    poll(generation_);
}

// Polling

void ScrollingCapture::after(double seconds, std::uint64_t generation, std::function<void()> step) {
    QPointer<ScrollingCapture> self(this);
    services_.timer->start(seconds, [self, generation, step = std::move(step)] {
        if (!self || !self->alive(generation)) return;
        self->checkedThisTurn_ = false;
        step();
    });
}

void ScrollingCapture::pauseFor(const QString& status, bool failure) {
    if (failure) hadFailure_ = true;
    paused_ = true;
    setStatus(status);
}

void ScrollingCapture::poll(std::uint64_t generation) {
    if (!alive(generation) || !running_) return;
    if (paused_) {
        waiting_ = true;
        return;
    }
    if (!targetUnchanged()) {
        pauseFor(targetChanged, true);
        return poll(generation);
    }
    // A step whose frame was dropped (a pause, an error) is grabbed before the next scroll, so
    // that two steps never pass between frames and the overlap survives a pause.
    // The check above stands for the wheel step's first one, which would follow it at once; the
    // step still checks again right before it scrolls.
    if (settings_.automatic && !scrolledUnseen_ && !scrollStep(true)) {
        settings_.automatic = false;
        pauseFor(autoScrollUnavailable, false);
        return poll(generation);
    }
    QPointer<ScrollingCapture> self(this);
    waitForStableFrame(generation, [self, generation](Frame frame) {
        if (self) self->frameReady(generation, std::move(frame));
    });
}

void ScrollingCapture::frameReady(std::uint64_t generation, Frame frame) {
    if (!alive(generation)) return;
    std::optional<ScrollFrameSignature> signature;
    try {
        signature = std::move(frame.get());
    } catch (...) {
        const auto error = std::current_exception();
        if (isCancellation<CaptureCancelled>(error)) return;
        pauseFor(messageOf(error), true);
        return after(settings_.automatic ? 0.06 : 0.14, generation, [this, generation] { poll(generation); });
    }
    if (!targetStillUnchanged() || paused_) return poll(generation);
    const int manual = std::exchange(settings_.manualOffset, 0);
    // The stitcher works on its own thread, from the frame's whole signature made there; the
    // capture waits for its answer before the next step.
    using Appended = std::pair<ScrollStitcher::Outcome, std::vector<std::uint8_t>>;
    QPointer<ScrollingCapture> self(this);
    append_ = brevalto::Task::run(
        *services_.executor, this,
        [stitcher = stitcher_, frame = signature->image,
         manual = manual != 0 ? std::optional<int>(manual) : std::nullopt](std::stop_token stop) {
            ScrollFrameSignature whole(frame);
            std::vector<std::uint8_t> values = whole.values;
            return Appended(stitcher->append(std::move(whole), manual, stop), std::move(values));
        },
        [self, generation](TaskResult<Appended>& result) {
            if (self) self->appended(generation, std::move(result));
        });
}

void ScrollingCapture::appended(std::uint64_t generation,
                                TaskResult<std::pair<ScrollStitcher::Outcome, std::vector<std::uint8_t>>> result) {
    if (!alive(generation) || !stitcher_) return;
    awaitingAnswer_ = false;
    checkedThisTurn_ = false;
    try {
        auto& [outcome, values] = result.get();
        scrolledUnseen_ = false;
        const int clicks = std::exchange(lastClicks_, 0);
        frames_ = stitcher_->frames();
        height_ = stitcher_->maxY() - stitcher_->minY();
        status_ = QString::fromStdString(stitcher_->status());
        using Kind = ScrollStitcher::Outcome::Kind;
        switch (outcome.kind) {
        case Kind::accepted:
        case Kind::first:
            noProgress_ = 0;
            lastAccepted_ = std::move(values);
            unmatchedClicks_ = 0;
            rewindOnLoss_ = false;
            // A step right after the cursor moved alone may have spent part of its clicks moving
            // the cursor the rest of the way: it tells nothing of the wheel's step.
            if (std::exchange(cursorMoved_, false)) break;
            if (outcome.kind == Kind::accepted && outcome.rows > 0 && clicks > 0) {
                // The application's own wheel step, as the frames show it. The largest seen is
                // kept: a frame taken before every click was handled shows less, never more.
                pixelsPerClick_ = std::max(pixelsPerClick_, double(outcome.rows) / clicks);
                acceptedLimitedStep(clicks);
            }
            break;
        case Kind::noNewContent:
            // The view is the accepted frame's again.
            unmatchedClicks_ = 0;
            rewindOnLoss_ = false;
            if (outcome.cursorMoved) {  // the program moved its cursor; its view follows
                cursorMoved_ = true;
                break;
            }
            if (settings_.automatic && ++noProgress_ >= 3) {
                endedWithoutNewContent_ = true;
                emit changed();
                return stopAndSave();
            }
            break;
        case Kind::stopped:
            // A step longer than the one accepted just before it lost the overlap again: the
            // capture keeps the shorter step from now on and looks again from there, without
            // pausing.
            if (clicks > 0 && acceptedClicks_ > 0 && clicks > acceptedClicks_) {
                clickLimit_ = clickCeiling_ = acceptedClicks_;
                acceptedClicks_ = 0;
                if (rewind(values)) break;
            }
            // A step that lost the overlap may have been too long for this application (it
            // may speed up fast wheels): the next steps take at most half as many clicks.
            if (clicks > 0) clickLimit_ = std::max(clicks / 2, 1);
            acceptedClicks_ = 0;
            // Resumed after lost overlap and still lost: scroll back by the clicks that lost it
            // and look again before pausing a second time.
            if (std::exchange(rewindOnLoss_, false) && rewind(values)) break;
            pauseFor(status_ + QStringLiteral(" Pause/Resume retains the last valid frame."), true);
            break;
        case Kind::budgetReached:
            pauseFor(status_, true);
            break;
        }
        emit changed();
    } catch (...) {
        const auto error = std::current_exception();
        if (isCancellation<CaptureCancelled>(error)) return;
        scrolledUnseen_ = false;
        lastClicks_ = 0;
        pauseFor(messageOf(error), true);
    }
    after(settings_.automatic ? 0.06 : 0.14, generation, [this, generation] { poll(generation); });
}


QString ScrollingCapture::messageOf(const std::exception_ptr& error) {
    return errorMessage(error, QStringLiteral("Unknown error"));
}

}  // namespace brevalto
