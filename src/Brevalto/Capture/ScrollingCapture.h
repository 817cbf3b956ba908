#pragma once

#include "Capture/CaptureDisplay.h"
#include "Capture/CapturedScreenshot.h"
#include "Capture/ScrollFrameSignature.h"
#include "Capture/ScrollStitcher.h"
#include "Platform/Apps.h"
#include "Platform/Clock.h"
#include "Platform/Task.h"

#include <QImage>
#include <QObject>
#include <QPointer>
#include <QRect>
#include <QRectF>
#include <QString>
#include <QWidget>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

namespace brevalto {

class CaptureCoordinator;
class CaptureEngine;
class CaptureTimer;
class RawKeyWatcher;
class ScreenCapture;
class WheelScroller;

// What a scrolling capture works with. The timer, the clock and the export dialog may be left
// out: a Qt timer, a monotonic clock and a PNG save dialog stand in.
struct ScrollingCaptureServices {
    CaptureCoordinator* coordinator = nullptr;
    CaptureEngine* engine = nullptr;
    ScreenCapture* screen = nullptr;  // the screen the engine reads, for the viewport grabs
    Apps* apps = nullptr;
    WheelScroller* wheel = nullptr;
    RawKeyWatcher* keys = nullptr;
    CaptureTimer* timer = nullptr;  // every wait of the capture, one at a time
    const Clock* clock = nullptr;   // seconds on a clock that never goes back
    TaskExecutor* executor = nullptr;  // where the stitcher takes frames; one thread of its own when absent
    std::filesystem::path stagingRoot;
    // Asks where to export (the default file name given); none when the user cancelled.
    std::function<std::optional<QString>(const QString& defaultName)> chooseExportPath;
};

// One scrolling capture from start to finish: the user picks a viewport inside the target
// application's front window on a frozen frame; the capture then scrolls the window under the
// viewport with wheel clicks (or waits for the user to scroll), takes a frame once consecutive
// grabs agree, hands it to a ScrollStitcher and shows the progress; at the end it composes the
// tall image and hands it over through the completion. Lives on the GUI thread; `changed` is
// emitted whenever a setting or a state field changes.
class ScrollingCapture : public QObject {
    Q_OBJECT
public:
    struct Settings {
        bool automatic = true;  // the capture scrolls (true) or the user does (false)
        bool upward = false;    // scroll toward the start of the page
        double overlap = 0.45;  // share of the viewport kept between two steps, 0.2...0.85
        int speed = 1;          // 0 slow, 1 normal, 2 fast
        int trimTop = 0;        // image rows cut off the top of each frame (fixed headers)
        int trimBottom = 0;
        int memoryMB = 256;      // 64...1024
        int diskMB = 512;        // 64...4096
        int maximumHeight = 30000;  // 1,000...100,000
        int manualOffset = 0;       // displacement of the next frame only; 0 = found automatically
    };
    // Hands the tall image (and whether it is partial) over; `taken` must be answered once, true
    // when the image was stored.
    using Completion = std::function<void(const CapturedScreenshot& shot, bool partial, std::function<void(bool taken)> taken)>;

    static constexpr const char* initialStatus =
        "Select a viewport inside the target window. Only rendered vertical content is captured.";

    // `closed` is called once when the capture ends and may delete it (later, not inside the call).
    ScrollingCapture(ScrollingCaptureServices services, std::optional<AppIdentity> target, int delay,
                     Completion completion, std::function<void()> closed, std::function<QString()> exportFileName,
                     QObject* parent = nullptr);
    ~ScrollingCapture() override;

    // The floating control panel, which the capture places, shows and hides; released at the end.
    void setPanel(QWidget* panel);
    QWidget* panel() const { return panel_; }

    const Settings& settings() const { return settings_; }
    void setSettings(const Settings& settings);
    bool running() const { return running_; }
    bool paused() const { return paused_; }
    bool finishing() const { return finishing_; }
    int frames() const { return frames_; }
    int height() const { return height_; }
    const QString& status() const { return status_; }
    bool ended() const { return ended_; }
    // The automatic capture ended because no new content appeared after scrolling, with only
    // its first frame.
    bool keptOnlyTheFirstFrame() const { return endedWithoutNewContent_ && frames_ == 1; }

    // Checks the settings and starts the viewport selection.
    void start();
    // Pauses, or resumes when the target is still as it was.
    void togglePause();
    // Ends polling, composes the image and hands it over. Also what Esc does while polling.
    void stopAndSave();
    // Composes what was accepted so far and writes it to a PNG file the user picks.
    void exportAccepted();
    // Ends the capture without a result.
    void cancel();

    // Whether the target, its front window, its bounds and the viewport's display are as they were.
    bool targetUnchanged();
    // Scrolls the target one step with wheel clicks at the viewport's centre; false when it could
    // not (another window under the centre, the target changed).
    bool autoScroll();
    // Wheel clicks for one step of `pixels`, from the pixels per click measured so far.
    int clicksFor(int pixels) const;

signals:
    void changed();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    enum class Task { none, selecting, polling, finishing, ended };
    using Frame = TaskResult<ScrollFrameSignature>;  // the stable grab with the rows its settling compared

    void selectViewport();
    void requestViewport(std::uint64_t generation);
    void viewportSelected(std::uint64_t generation, TaskResult<std::optional<CapturedScreenshot>> result);
    void acceptViewport(const CapturedScreenshot& shot);
    void poll(std::uint64_t generation);
    void waitForStableFrame(std::uint64_t generation, std::function<void(Frame)> done);
    void stableGrab(std::uint64_t generation, double deadline, int stable, std::optional<ScrollFrameSignature> previous,
                    std::function<void(Frame)> done);
    void frameReady(std::uint64_t generation, Frame frame);
    // The stitcher's outcome for a frame, with the frame's signature values.
    void appended(std::uint64_t generation,
                  TaskResult<std::pair<ScrollStitcher::Outcome, std::vector<std::uint8_t>>> result);
    bool rewind(const std::vector<std::uint8_t>& refused);
    void acceptedLimitedStep(int clicks);  // a step of `clicks` was accepted
    void pauseFor(const QString& status, bool failure);
    void after(double seconds, std::uint64_t generation, std::function<void()> step);
    void finish(std::uint64_t generation);
    void handedOver(bool taken);
    void runExport(std::uint64_t generation);
    void endCapture();
    void stopTask();
    bool alive(std::uint64_t generation) const { return generation == generation_ && !ended_; }
    QImage grabViewport();
    // targetUnchanged, answered without asking again right after a check that held in this turn
    // of the event loop (nothing of the target can have changed in between).
    bool targetStillUnchanged();
    bool scrollStep(bool checked);  // autoScroll; `checked`: the target was checked just before
    std::optional<QRectF> windowBounds(std::optional<std::uint32_t> window);
    double firstScreenMaxY() const;
    void placePanel();
    QRectF viewportOnScreen() const;  // the viewport in Qt's top-left screen space
    // Where the panel's whole frame (the window manager's decorations included) may lie with its
    // corner at `origin`.
    QRect panelFrameAt(QPoint origin) const;
    bool panelCoversViewport() const;
    void showPanel();
    void installMonitors();
    void removeMonitors();
    void setStatus(const QString& status);
    static QString messageOf(const std::exception_ptr& error);

    ScrollingCaptureServices services_;
    std::unique_ptr<CaptureTimer> ownTimer_;
    std::unique_ptr<TaskPool> ownExecutor_;
    std::unique_ptr<Clock> ownClock_;
    std::optional<AppIdentity> target_;
    int delay_ = 0;
    Completion completion_;
    std::function<void()> closed_;
    std::function<QString()> exportFileName_;
    QPointer<QWidget> panel_;

    Settings settings_;
    bool running_ = false;
    bool paused_ = false;
    bool finishing_ = false;
    int frames_ = 0;
    int height_ = 0;
    QString status_ = initialStatus;

    Task task_ = Task::none;
    std::uint64_t generation_ = 0;  // the current task; older callbacks find it changed and end
    bool waiting_ = false;          // a paused poll loop waits for Resume
    std::uint64_t exportGeneration_ = 0;
    bool exporting_ = false;
    bool ended_ = false;
    bool delivered_ = false;
    // Shared with the append under way on the executor, which may outlive a cancelled capture.
    std::shared_ptr<ScrollStitcher> stitcher_;
    TaskHandle append_;
    bool appending_ = false;
    std::optional<CaptureDisplay> lockedDisplay_;
    QRectF region_;
    QRect pixelRect_;  // the viewport in pixels of the locked display, fixed at selection
    std::optional<std::uint32_t> windowID_;
    std::optional<QRectF> windowFrame_;
    bool hadFailure_ = false;
    bool monitoring_ = false;
    bool placing_ = false;
    bool checkedThisTurn_ = false;  // the last target check held and no wait came since
    int noProgress_ = 0;
    int lastClicks_ = 0;             // wheel clicks of the step whose frame comes next
    bool scrolledUnseen_ = false;    // a step scrolled but its frame was not taken yet
    double stepTime_ = 0;            // when the last wheel step was posted
    bool awaitingAnswer_ = false;    // a step was posted and no frame was taken since
    std::vector<std::uint8_t> beforeStep_;  // signature values of the view the step scrolled away from
    int unmatchedClicks_ = 0;        // clicks (down positive) since the last frame that matched
    bool rewindOnLoss_ = false;      // Resume after lost overlap: scroll back when it is still lost
    int clickLimit_ = 50;            // the most clicks of one step; a step that lost the overlap halves it
    int clickCeiling_ = 50;          // the limit never grows past this: a longer step lost the overlap twice
    int acceptedClicks_ = 0;         // clicks of the last step accepted since the overlap was lost; 0 until then
    bool endedWithoutNewContent_ = false;  // stopped by the polls that found nothing new
    std::vector<std::uint8_t> lastAccepted_;  // signature values of the frame the stitcher holds
    double pixelsPerClick_ = 0;      // the largest step per click measured from accepted frames; 0 until then
    bool cursorMoved_ = false;       // the program moved its cursor alone since the last accepted frame
};

}  // namespace brevalto
