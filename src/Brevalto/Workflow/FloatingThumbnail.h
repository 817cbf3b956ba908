#pragma once

#include "ClipCore/Clip.h"
#include "ClipCore/ReferenceDate.h"
#include "Platform/Task.h"

#include <QObject>
#include <QPointF>
#include <QPointer>
#include <QRectF>
#include <QString>

#include <functional>
#include <optional>

class QTimer;

namespace brevalto {

class ClipStore;
class ClipboardMonitor;
class Clock;
class Defaults;
class NotchPanel;
class PanelController;
class Screens;
class ScreenshotThumbnail;

// The small floating preview of a new history image that shows next to the pointer after a
// capture, with the common follow-ups (edit, copy, upload and copy link, save, OCR, pin). It can
// be dragged into another application, moved by its grip, and goes away by itself once its
// timeout ("capture.thumbnailTimeout", 12 s when absent or not a number, never when not above 0)
// has passed with the pointer off it, no drag and no upload from it running. At most one shows;
// showing another replaces it. The screenshot workflow owns one and calls showThumbnail after a
// capture and dismissThumbnail before every capture and whenever the editor opens.
class FloatingThumbnail : public QObject {
    Q_OBJECT
public:
    static constexpr int kTickMilliseconds = 250;
    // After a window manager change, how often and how many times a thumbnail it left unmapped
    // is mapped again.
    static constexpr int kMappingInterval = 250;
    static constexpr int kMappingAttempts = 8;
    static constexpr double kMaximumWidth = 320;
    static constexpr double kMaximumHeight = 280;
    static constexpr double kPointerGap = 16;
    static inline const QString uploadingStatus = QStringLiteral("Uploading...");

    // What the buttons ask of the workflow. Each receives the thumbnail's clip. Without upload
    // the upload button stays disabled.
    struct Actions {
        std::function<void(const Clip&)> openInEditor;
        // The failure text of saving a PNG copy through a save dialog, or none.
        std::function<std::optional<QString>(const Clip&)> saveAs;
        std::function<void(const Clip&)> pin;
        // Starts the upload of the clip and copies its link, reporting through the upload state
        // below (startThumbnailUpload, setThumbnailUploadStatus, finishThumbnailUpload).
        std::function<void(const Clip&)> upload;
    };

    FloatingThumbnail(ClipStore& store, ClipboardMonitor& monitor, PanelController& controller, Screens& screens,
                      const Defaults& defaults, Clock& clock, Actions actions, QObject* parent = nullptr);
    ~FloatingThumbnail() override;

    // Replaces any shown thumbnail by one for the history image, placed by thumbnailFrame on the
    // screen under the pointer, and starts the expiry tick unless the timeout is not above 0.
    void showThumbnail(const Clip& clip);
    // Closes the thumbnail and resets its state, cancelling an upload from it. Safe when hidden.
    void dismissThumbnail();
    // One expiry tick: hover, a drag or an upload push the deadline a whole timeout ahead;
    // otherwise a passed deadline dismisses the thumbnail.
    void thumbnailTick(double timeout);

    // The frame next to the mouse within the visible area, both in bottom-left points: right of
    // and below the pointer, to the left near the right edge, above near the bottom edge, never
    // outside the area and at most 320 x 280.
    static QRectF thumbnailFrame(QPointF mouse, const QRectF& area);
    // The visible frame of the first screen holding the point, else of the main screen; without
    // any screen 900 x 700 at the origin.
    static QRectF visibleArea(const Screens& screens, QPointF point);

    // The window while shown, its view and its clip.
    NotchPanel* thumbnail() const;
    ScreenshotThumbnail* view() const;
    const std::optional<Clip>& item() const { return item_; }
    bool expiryRunning() const;
    Date deadline() const { return deadline_; }

    bool hovered() const { return hovered_; }
    void setHovered(bool hovered) { hovered_ = hovered; }
    bool dragging() const { return dragging_; }
    void setDragging(bool dragging) { dragging_ = dragging; }

    // The upload from the thumbnail; uploadStateChanged follows every change.
    bool thumbnailUploading() const { return thumbnailUploading_; }
    const QString& thumbnailUploadStatus() const { return thumbnailUploadStatus_; }
    const TaskHandle& thumbnailUpload() const { return thumbnailUpload_; }
    bool uploadsAvailable() const { return bool(actions_.upload); }
    // An upload started: it is kept to be cancelled on dismissal, and the status says so.
    void startThumbnailUpload(TaskHandle task);
    // A status without a running upload (why an upload could not start).
    void setThumbnailUploadStatus(const QString& status);
    // The upload ended with the status; nothing changes when it was cancelled meanwhile (the
    // thumbnail was dismissed).
    void finishThumbnailUpload(const TaskHandle& task, const QString& status);

    // The buttons' actions on the shown clip; nothing when hidden.
    void edit();
    void copy();
    void upload();
    void save();
    void pin();
    // Shows the clip's recognised text in the notch panel, keeping an open editor underneath.
    void recognizeText();

signals:
    void uploadStateChanged();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // Lets go of the window before it is deleted.
    void forget(NotchPanel* window);
    // Dresses the window for the window manager and shows it without the keyboard.
    void present();
    // A window manager that started, quit or was replaced may have left the window unmapped.
    void ensureMapped(int attemptsLeft);
    // After a screen change: a thumbnail no longer inside a visible area moves back into one.
    void keepOnScreen();

    ClipStore& store_;
    ClipboardMonitor& monitor_;
    PanelController& controller_;
    Screens& screens_;
    const Defaults& defaults_;
    Clock& clock_;
    Actions actions_;

    std::optional<Clip> item_;
    QPointer<NotchPanel> window_;
    QPointer<ScreenshotThumbnail> view_;
    QTimer* expiry_;
    double timeout_ = 0;
    Date deadline_ = 0;
    bool hovered_ = false;
    bool dragging_ = false;
    bool thumbnailUploading_ = false;
    QString thumbnailUploadStatus_;
    TaskHandle thumbnailUpload_;
};

}  // namespace brevalto
