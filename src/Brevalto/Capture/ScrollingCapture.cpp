#include "Capture/ScrollingCapture.h"

#include "Capture/CaptureCoordinator.h"
#include "Capture/CaptureEngine.h"
#include "Capture/CaptureError.h"
#include "Capture/CaptureOverlays.h"
#include "Capture/ScrollStitcher.h"
#include "Errors/AIError.h"
#include "Platform/AppPaths.h"
#include "Platform/AtomicFile.h"
#include "Platform/ModalAbovePanel.h"
#include "Platform/RawKeyWatcher.h"
#include "Platform/ScreenCapture.h"
#include "Platform/WheelScroller.h"

#include <QCoreApplication>
#include <QEvent>
#include <QFileDialog>
#include <QGuiApplication>
#include <QScreen>

#include <algorithm>
#include <chrono>
#include <cmath>

namespace brevalto {

namespace {

const char* const settingsInvalid = "Check memory, disk, overlap and trim settings.";
const char* const noFrontWindow =
    "Activate the target app, then start Scrolling Capture from its shortcut or the panel.";
const char* const targetChanged = "Target app or window changed. Restore it, then Resume.";
const char* const autoScrollUnavailable = "Auto-scroll is unavailable for this container. Choose Manual, then Resume.";
const char* const notStable =
    "Content did not stabilize within 4 seconds. Pause animations or use a smaller viewport, then Resume.";
constexpr double stableTimeout = 4.0;
// How long the content may take to answer a wheel step: until then a grab that still shows the
// last accepted frame is not taken for settled content, so that a slow application is never
// mistaken for the end of the page.
constexpr double answerWait = 0.6;

class MonotonicClock final : public Clock {
public:
    Date now() const override {
        return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
    }
};

// Above the capture's panel, which stays above other windows, and in the Pictures folder.
std::optional<QString> askExportPath(const QString& defaultName) {
    QFileDialog dialog(nullptr, QStringLiteral("Export"), QString::fromStdString(AppPaths::picturesFolder().string()),
                       QStringLiteral("PNG image (*.png)"));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setDefaultSuffix(QStringLiteral("png"));
    dialog.selectFile(defaultName);
    if (runModalAbovePanel(dialog) != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
    return dialog.selectedFiles().constFirst();
}

QString messageOf(const std::exception_ptr& error) { return errorMessage(error, QStringLiteral("Unknown error")); }

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
    const std::uint64_t generation = generation_;
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
            if (outcome.kind == Kind::accepted && outcome.rows > 0 && clicks > 0) {
                // The application's own wheel step, as the frames show it. The largest seen is
                // kept: a frame taken before every click was handled shows less, never more.
                pixelsPerClick_ = std::max(pixelsPerClick_, double(outcome.rows) / clicks);
            }
            break;
        case Kind::noNewContent:
            // The view is the accepted frame's again.
            unmatchedClicks_ = 0;
            rewindOnLoss_ = false;
            if (settings_.automatic && ++noProgress_ >= 3) {
                emit changed();
                return stopAndSave();
            }
            break;
        case Kind::stopped:
            // A step that lost the overlap was too long for this application (it may speed
            // up fast wheels): later steps take at most half as many clicks.
            if (clicks > 0) clickLimit_ = std::max(clicks / 2, 1);
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

// Target checks and scrolling

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

// Pause, stop and save, export, cancel

void ScrollingCapture::togglePause() {
    if (ended_) return;
    if (!paused_) {
        paused_ = true;
        return setStatus("Paused. Finish keeps accepted content. Resume has no reading timeout.");
    }
    if (!targetUnchanged()) return setStatus("Restore the original target app/window before resuming.");
    paused_ = false;
    // After lost overlap the view is first looked at as it is (the user may have scrolled back);
    // should the overlap still be lost, the capture scrolls back toward the last accepted frame.
    if (settings_.automatic && unmatchedClicks_ != 0) rewindOnLoss_ = scrolledUnseen_ = true;
    emit changed();
    if (std::exchange(waiting_, false)) poll(generation_);
}

void ScrollingCapture::stopTask() {
    services_.timer->stop();
    append_.cancel();
    ++generation_;
    waiting_ = false;
}

void ScrollingCapture::stopAndSave() {
    if (ended_) return;
    if (finishing_ || !stitcher_ || !lockedDisplay_ || frames_ == 0) return setStatus("Select a viewport first.");
    removeMonitors();
    finishing_ = true;
    running_ = false;
    stopTask();
    task_ = Task::finishing;
    emit changed();
    const std::uint64_t generation = generation_;
    QPointer<ScrollingCapture> self(this);
    QMetaObject::invokeMethod(
        this, [self, generation] { if (self && self->alive(generation)) self->finish(generation); },
        Qt::QueuedConnection);
}

void ScrollingCapture::finish(std::uint64_t generation) {
    CapturedScreenshot shot;
    try {
        shot.image = stitcher_->compose();
    } catch (...) {
        finishing_ = false;
        return setStatus(messageOf(std::current_exception()));
    }
    const CaptureDisplay& display = *lockedDisplay_;
    shot.scale = display.pixelSize.width() / display.frame.width();
    shot.screenRect = region_;
    shot.displayID = display.id;
    shot.windowID = windowID_;
    const bool partial = hadFailure_ || stitcher_->partial();
    QPointer<ScrollingCapture> self(this);
    auto answered = std::make_shared<bool>(false);
    completion_(shot, partial, [self, generation, answered](bool taken) {
        if (std::exchange(*answered, true) || !self || !self->alive(generation)) return;
        self->handedOver(taken);
    });
}

void ScrollingCapture::handedOver(bool taken) {
    if (!taken) {
        finishing_ = false;
        return setStatus("Could not save to history. Export the accepted image or retry Finish.");
    }
    // The image belongs to the history now: a failed clean-up is reported but never leads to a
    // second hand-over.
    delivered_ = true;
    try {
        stitcher_->removeStaging();
    } catch (const std::exception& e) {
        status_ = QString::fromUtf8(e.what());
        qWarning("Scrolling capture: %s", e.what());
        emit changed();
    }
    stitcher_.reset();
    finishing_ = false;
    endCapture();
}

void ScrollingCapture::exportAccepted() {
    if (ended_ || finishing_ || exporting_ || !stitcher_) return;
    paused_ = true;
    exporting_ = true;
    setStatus("Paused for export");
    const std::uint64_t generation = ++exportGeneration_;
    QPointer<ScrollingCapture> self(this);
    QMetaObject::invokeMethod(
        this, [self, generation] { if (self) self->runExport(generation); }, Qt::QueuedConnection);
}

void ScrollingCapture::runExport(std::uint64_t generation) {
    const auto current = [this, generation] { return generation == exportGeneration_ && !ended_ && stitcher_; };
    if (!current()) return;
    const auto end = [this](const QString& status) {
        exporting_ = false;
        if (!status.isEmpty()) setStatus(status);
    };
    QImage image;
    try {
        image = stitcher_->compose();
    } catch (...) {
        return end(messageOf(std::current_exception()));
    }
    QPointer<ScrollingCapture> self(this);
    const auto path = services_.chooseExportPath(exportFileName_ ? exportFileName_() : QStringLiteral("Screenshot.png"));
    if (!self || !current()) return;
    if (!path) return end({});
    try {
        const QByteArray png = ScrollStitcher::encodeStrip(image);  // throws when nothing can be encoded
        AtomicFile::write(path->toStdString(), std::string_view(png.constData(), std::size_t(png.size())), {});
        end("Exported accepted content. Capture is still paused.");
    } catch (const std::exception& e) {
        end(QString::fromUtf8(e.what()));
    }
}

void ScrollingCapture::cancel() {
    if (ended_) return;
    removeMonitors();
    running_ = false;
    const bool selecting = task_ == Task::selecting;
    stopTask();
    ++exportGeneration_;
    exporting_ = false;
    if (selecting) {
        task_ = Task::ended;  // the coordinator's answer to the cancel finds the capture gone
        services_.coordinator->cancelCapture();
    }
    if (auto stitcher = std::move(stitcher_)) {
        try {
            stitcher->removeStaging();
        } catch (const std::exception&) {
            // The folder is left for the clean-up at the next launch.
        }
    }
    endCapture();
}

void ScrollingCapture::endCapture() {
    task_ = Task::ended;
    ended_ = true;
    running_ = false;
    if (panel_) {
        panel_->hide();
        panel_->deleteLater();
        panel_ = nullptr;
    }
    emit changed();
    if (closed_) closed_();
}

// Panel and Esc

void ScrollingCapture::showPanel() {
    if (!panel_) return;
    panel_->show();
    panel_->raise();
}

void ScrollingCapture::placePanel() {
    if (!panel_ || !lockedDisplay_) return showPanel();
    // The display's frame in Qt's top-left space, where the panel lives.
    QRectF frame;
    for (const auto& d : services_.screen->displays())
        if (d.id == lockedDisplay_->id) frame = d.frame;
    panel_->adjustSize();
    const QSize size = panel_->frameGeometry().size();
    const QRectF viewport = viewportOnScreen();
    const int left = int(frame.x()) + 12, right = int(frame.x() + frame.width()) - size.width() - 12;
    const int top = int(frame.y()) + 40, bottom = int(frame.y() + frame.height()) - size.height() - 12;
    QPoint origin(left, top);
    if (QRectF(origin, size).contains(viewport.center())) origin.setX(right);
    // A panel over the viewport would be in every frame (or hidden for every grab): another
    // corner of the display that keeps it clear is taken when there is one.
    if (QRectF(origin, size).intersects(viewport)) {
        for (const QPoint corner : {QPoint(left, top), QPoint(right, top), QPoint(left, bottom), QPoint(right, bottom)}) {
            if (!QRectF(corner, size).intersects(viewport)) {
                origin = corner;
                break;
            }
        }
    }
    panel_->move(origin);
    showPanel();
}

QRectF ScrollingCapture::viewportOnScreen() const {
    return QRectF(region_.x(), firstScreenMaxY() - region_.y() - region_.height(), region_.width(), region_.height());
}

bool ScrollingCapture::panelCoversViewport() const {
    return panel_ && panel_->isVisible() && QRectF(panel_->frameGeometry()).intersects(viewportOnScreen());
}

bool ScrollingCapture::eventFilter(QObject* watched, QEvent* event) {
    // The panel grew (its options opened) over the viewport while polling: it moves clear again.
    if (watched == panel_ && event->type() == QEvent::Resize && running_ && !placing_ && panelCoversViewport()) {
        placing_ = true;
        placePanel();
        placing_ = false;
    }
    return QObject::eventFilter(watched, event);
}

void ScrollingCapture::installMonitors() {
    if (monitoring_ || !services_.keys) return;
    monitoring_ = true;
    QPointer<ScrollingCapture> self(this);
    services_.keys->start([self](int key) {
        // While this app has the keyboard the panel's own shortcut takes Esc.
        if (self && key == Qt::Key_Escape && !QGuiApplication::focusWindow()) self->stopAndSave();
    });
}

void ScrollingCapture::removeMonitors() {
    if (!std::exchange(monitoring_, false)) return;
    services_.keys->stop();
}

}  // namespace brevalto
