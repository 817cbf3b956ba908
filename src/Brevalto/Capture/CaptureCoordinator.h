#pragma once

#include "Capture/CaptureDisplay.h"
#include "Capture/CaptureRequest.h"
#include "Capture/CapturedScreenshot.h"
#include "Platform/Apps.h"
#include "Platform/ScreenCapture.h"
#include "Platform/Task.h"

#include <QObject>
#include <QRectF>
#include <QString>

#include <functional>
#include <memory>
#include <optional>
#include <stop_token>
#include <vector>

namespace brevalto {

class CaptureEngine;
class CaptureInteraction;
class CaptureTimer;

// Runs one capture at a time for the screenshot workflow: the busy guard, the target
// application, the window or display choice, the countdown, the frozen frame and its region
// selection, the crop and the last region, and the clean-up that removes every overlay and gives
// the focus back to the application the user came from. Lives on the GUI thread; every wait
// (chooser, countdown, selection) returns to the event loop.
class CaptureCoordinator : public QObject {
    Q_OBJECT
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

    // The outcome of one capture: the screenshot, none when the user cancelled, or the error.
    using Result = TaskResult<std::optional<CapturedScreenshot>>;
    using Completion = std::function<void(Result)>;

    static constexpr const char* delayOutOfRange = "Capture delay must be 0-60 seconds.";

    // `apps` (optional) names the target application and brings it back after the capture.
    CaptureCoordinator(CaptureEngine& engine, CaptureInteraction& interaction, CaptureTimer& timer,
                       Apps* apps = nullptr, QObject* parent = nullptr);
    ~CaptureCoordinator() override;

    // Starts one capture; `done` gets its outcome later, on the GUI thread. Throws, before any
    // state change: CaptureCancelled when `stop` was already requested, CaptureError busy while
    // another capture runs, AIError for a delay outside 0...60. A stop requested on `stop` later
    // cancels the capture.
    void capture(const CaptureRequest& request, Completion done, std::stop_token stop = {});
    // Ends a pending selection with `selection`: the overlays go, and the first call resumes the
    // capture; later calls change nothing.
    void finishSelection(const Selection& selection);
    // Cancels the running capture (if any) and ends a pending selection.
    void cancelCapture();

    CaptureState state() const { return state_; }
    QString message() const { return message_; }
    int countdown() const { return countdown_; }
    const std::optional<CaptureRegion>& lastRegion() const { return lastRegion_; }
    // Whether a capture runs; every further capture fails with busy meanwhile.
    bool isCapturing() const { return run_ != nullptr; }
    // Whether a frozen-frame selection waits for the user.
    bool isSelecting() const { return static_cast<bool>(selection_); }

    // The item of a window in the window chooser: application, " - ", title.
    static QString windowChoiceTitle(const ScreenCaptureWindow& window);
    // The items of the display chooser, with the all-displays item last when offered.
    static QStringList displayChoiceTitles(const std::vector<CaptureDisplay>& displays, bool offerAll);

signals:
    void stateChanged(CaptureState state);
    void messageChanged(const QString& message);
    void countdownChanged(int seconds);

private:
    struct Run;
    using Step = std::function<void()>;

    void perform(CaptureRequest request);
    void performWindow(const CaptureRequest& request);
    void performDisplays(const CaptureRequest& request, const std::vector<CaptureDisplay>& displays);
    void selectRegion(const CaptureRequest& request, const std::vector<CaptureDisplay>& chosen,
                      const CaptureDisplay& surface, const CapturedScreenshot& frozen);
    void finishRegion(const CaptureRequest& request, const std::vector<CaptureDisplay>& chosen,
                      const CaptureDisplay& surface, const CapturedScreenshot& frozen, const Selection& selection);

    void chooseWindow(const std::vector<ScreenCaptureWindow>& candidates,
                      std::function<void(std::optional<ScreenCaptureWindow>)> chosen);
    void chooseDisplays(const std::vector<CaptureDisplay>& displays, std::optional<std::uint32_t> displayID,
                        bool offerAll, std::function<void(std::optional<std::vector<CaptureDisplay>>)> chosen);
    void runCountdown(int seconds, Step then);
    void countdownTick(int seconds, Step then);

    // Wraps a continuation: it runs only while its capture is current, and what it throws ends
    // the capture.
    Step guarded(Step body);
    void attempt(const Step& body);
    bool cancelled() const;
    std::stop_token stopToken() const;

    void succeed(CapturedScreenshot shot);
    void endCancelled();
    void fail(std::exception_ptr error);
    void finish(CaptureState state, const QString& message, Result result);
    void restoreAfterCapture(const std::optional<AppIdentity>& target);

    void setState(CaptureState state);
    void setMessage(const QString& message);
    void setCountdown(int seconds);

    CaptureEngine& engine_;
    CaptureInteraction& interaction_;
    CaptureTimer& timer_;
    Apps* apps_;

    CaptureState state_ = CaptureState::idle;
    QString message_;
    int countdown_ = 0;
    std::optional<CaptureRegion> lastRegion_;
    std::shared_ptr<Run> run_;  // the running capture ("work"); none between captures
    std::function<void(Selection)> selection_;
    bool countdownPending_ = false;
};

}  // namespace brevalto
