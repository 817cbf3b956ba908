// The endings: pause and resume, stop and save, export and cancel.
#include "Capture/ScrollingCapture.h"

#include "Capture/CaptureCoordinator.h"
#include "Capture/CaptureOverlays.h"
#include "Capture/ScrollStitcher.h"
#include "Platform/AtomicFile.h"

namespace brevalto {

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

}  // namespace brevalto
