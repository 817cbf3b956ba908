#pragma once

#include "Automation/AutomationPostAction.h"
#include "Capture/CaptureRequest.h"
#include "Capture/CapturedScreenshot.h"
#include "Capture/ScreenshotCommand.h"
#include "ClipCore/Uuid.h"
#include "Panel/ScreenshotActions.h"

#include <QObject>
#include <QPointer>
#include <QString>

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <stop_token>
#include <vector>

namespace brevalto {

class Apps;
class Clock;
class FloatingThumbnail;
class RawKeyWatcher;
class ScrollingCapture;
class WheelScroller;
class AutomationDispatcher;
class CaptureCoordinator;
class CaptureEngine;
class CaptureInteraction;
class CaptureTimer;
class ClipStore;
class ClipboardMonitor;
class Defaults;
class PanelController;
class S3UploadController;
class ScreenCapture;
class Screens;
class ScreenshotPinController;
class ScreenshotDocumentSession;
class ScreenshotEditorController;
class TextIndexer;
class TextRecognizer;
enum class ScreenshotEditorAction;
class UploadDialogs;
class WorkflowDialogs;
struct AutomationRequest;
struct Clip;

// Runs screenshot commands end to end. Every command arrives as an automation request; in-app
// callers turn a command into one with run(). A capture runs through the workflow's capture
// coordinator with the panel out of the way, becomes a PNG image clip in the history, and is
// followed by the request's after-capture actions or, without any, by the capture settings
// (copy, auto-save, then the editor or the floating thumbnail). Imports of an image file or the
// clipboard image end the same way. One capture at a time: `busy` refuses captures and imports
// meanwhile, and a result whose capture identity is no longer current is dropped.
// The panel holds the workflow weakly, through the screenshot actions it implements.
class ScreenshotWorkflow : public ScreenshotActions {
    Q_OBJECT
public:
    // What the workflow captures with and asks the user through. Only the screen is required;
    // without the wheel and the key watcher there are no scrolling captures; the others default to
    // the system clock, the scroll staging root, the real overlays, a Qt timer and Qt's dialogs.
    struct CaptureParts {
        ScreenCapture* screen = nullptr;
        Apps* apps = nullptr;  // the frontmost application, the capture's target
        Clock* clock = nullptr;
        WheelScroller* wheel = nullptr;
        RawKeyWatcher* keys = nullptr;
        std::optional<std::filesystem::path> stagingRoot = std::nullopt;
        CaptureInteraction* interaction = nullptr;
        CaptureTimer* timer = nullptr;
        WorkflowDialogs* dialogs = nullptr;
        UploadDialogs* uploadDialogs = nullptr;  // the public-upload question
        // Where the editor's temporary PNGs go; the per-user temporary root when not given.
        std::optional<std::filesystem::path> temporaryRoot = std::nullopt;
    };

    static constexpr const char* kUnavailableMessage = "This command is not available yet.";
    static constexpr const char* kDocumentChanged = "Document changed. Run OCR on the current revision.";
    static constexpr const char* kEditorClosed = "The editor closed. Reopen the document.";
    static constexpr const char* kEditSource = "Screenshot edit";
    static constexpr const char* kAppendWithoutDocument = "Open an image document before Add Capture.";
    static constexpr const char* kEditorWithoutImage = "Capture or import an image before opening the editor.";
    static constexpr const char* kDocumentUnavailable = "That image document is not available.";
    static constexpr const char* kCaptureFailedTitle = "Capture could not finish";
    static constexpr const char* kNoSourceImage = "Source image is not available.";
    static constexpr const char* kAutoSaveNeedsFolder = "Auto-save needs a folder selected in Settings.";
    static constexpr const char* kImageTooLarge = "Image exceeds 32 MB";
    static constexpr const char* kUploadRunning = "Another upload request is running. Wait for it to finish.";
    static constexpr const char* kPublicConfirmedKey = "upload.publicConfirmed";
    static constexpr const char* kNoClipboardImage =
        "Clipboard has no image bytes. Use Import Image File for file references.";

    ScreenshotWorkflow(ClipStore& store, ClipboardMonitor& monitor, PanelController& controller, Defaults& defaults,
                       Screens& screens, CaptureParts parts, QObject* parent = nullptr);
    ~ScreenshotWorkflow() override;

    ScreenshotEditorController* editor() const override { return editor_; }
    CaptureCoordinator& capture() const { return *capture_; }
    // The floating thumbnail shown after a capture.
    FloatingThumbnail& thumbnail() const { return *thumbnail_; }
    // The open scrolling capture, if any.
    ScrollingCapture* scrolling() const;
    // The pins of the workflow and of the editor.
    ScreenshotPinController* pins() const { return pins_; }
    void openInEditor(const Clip& clip) override;
    void pin(const Clip& clip) override;
    // Uploads the history image (its edited document, rendered) and copies the link; the store's
    // message says "Uploading..." or "Copying link..." and then the outcome. The handle is of
    // that follow-up.
    TaskHandle uploadAndCopyLink(const Clip& clip) override;
    bool uploadsAvailable() const override { return uploads_ != nullptr; }
    bool hasLiveUpload(const Uuid& clipID) const override;
    bool uploadBusy() const override;
    // The thumbnail's upload button: one at a time; its state and outcome show in the thumbnail.
    TaskHandle uploadFromThumbnail(const Clip& clip);
    // The editor's upload of its rendered image for the open document's history item; the
    // outcome goes to the open session's status.
    TaskHandle uploadFromEditor(const QImage& image);
    // Carries out an editor command on its rendered image: the OCR or translation preview, the
    // region translator, an upload, a new history item or an appended capture. Failures go to
    // the open session's status.
    void handleEditorAction(ScreenshotEditorAction action, const QImage& image);
    // Writes the image as a new private (0600) PNG "Brevalto-OCR-<UUID>.png" in the temporary
    // root; throws the encoding or write error and leaves no file then.
    std::filesystem::path writeTemporaryPNG(const QImage& image);
    // Removes a temporary PNG; errors are ignored.
    void removeTemporaryFile(const std::filesystem::path& file);
    // The text replacement of an editor OCR preview opened at that revision: renders the selection
    // again into the region translator. Throws AIError when the document changed since.
    void replaceEditorText(const std::optional<Uuid>& revision);
    // Asks before an upload to a public bucket unless the user said not to ask again.
    bool confirmPublicUpload();

    // The device's text recognizer, for the editor's masks and the history's text indexing; set
    // once at launch (none: no recognition). Starts indexing what the history holds.
    void setRecognizer(TextRecognizer* recognizer);
    // The background text indexing of the history's image clips; every change of the history
    // schedules a run.
    TextIndexer& indexing() const { return *indexing_; }
    // Starts an indexing run unless one is running.
    void scheduleIndexing();

    // Where run() sends its requests; set by the app at launch.
    void setDispatcher(AutomationDispatcher* dispatcher) { dispatcher_ = dispatcher; }

    // The upload controller, when uploads are available. The app creates it after the workflow
    // and sets it once at launch.
    S3UploadController* uploads() const { return uploads_; }
    void setUploads(S3UploadController* uploads);

    // A capture, scrolling capture or capture start is in progress.
    bool busy() const { return busy_; }
    const std::optional<Uuid>& activeID() const { return activeID_; }

    // Runs or refuses one request (throws CaptureError busy, AIError, or when it cannot run it).
    void handle(const AutomationRequest& request);
    // Turns a command into an internal request, validates and dispatches it; failures end in the
    // store's message.
    void run(ScreenshotCommand command, bool appendToEditor) override;
    // Abandons the running capture, if any; its finish step restores the panel.
    void cancel() override;

    // Starts one capture: the request from the capture settings, the panel hidden, the
    // coordinator's result stored as a clip and followed by the after-capture steps.
    void execute(ScreenshotCommand command, bool appendToEditor, int delay,
                 const std::vector<AutomationPostAction>& actions);

    // What follows a clip that a capture or import stored: the actions in order, or without any
    // the capture settings, with the editor or thumbnail only when showFollowUp. Failures are
    // joined by line feeds into the store's message.
    void afterCapture(const Clip& clip, bool showFollowUp, const std::vector<AutomationPostAction>& actions);
    // Writes the clip's PNG where the save dialog says (replacing a file there); the failure text
    // or none (also when cancelled).
    std::optional<QString> saveAs(const Clip& clip);
    // Writes the clip's PNG under a fresh screenshot name into the auto-save folder, never over an
    // existing file; the failure text or none.
    std::optional<QString> autoSave(const Clip& clip);
    // The same under the given file name.
    std::optional<QString> autoSave(const Clip& clip, const QString& name);

    // Imports an image file chosen in an open dialog, or the image on the clipboard (PNG before
    // TIFF), as a history clip followed by the after-capture steps.
    void importFile(const std::vector<AutomationPostAction>& actions);
    void importClipboard(const std::vector<AutomationPostAction>& actions);

    // The internal request of a command (no post-actions, no clip).
    static AutomationRequest request(ScreenshotCommand command, bool appendToEditor, const Defaults& defaults);
    // The capture request of a command, from the capture settings.
    CaptureRequest captureRequest(ScreenshotCommand command, int delay) const;

signals:
    void busyChanged(bool busy);

private:
    void handleCapture(const AutomationRequest& request);
    void handleEditor(const AutomationRequest& request);
    void openEditorOCR(const QImage& image, bool translate);
    void openRegionTranslator(const QImage& image);
    void saveAsNewItem(const QImage& image);
    void reportToSession(const QString& text);
    void startScrolling(bool appendToEditor, int delay, const std::vector<AutomationPostAction>& actions);
    void scrollingFinished(const Uuid& id, bool appendToEditor, std::optional<Uuid> document,
                           const std::vector<AutomationPostAction>& actions, const CapturedScreenshot& shot,
                           bool partial, std::function<void(bool)> taken);
    void scrollingClosed(const QPointer<ScrollingCapture>& capture, bool appendToEditor);
    std::optional<Uuid> openDocumentID() const;
    void captureEnded(Uuid id, ScreenshotCommand command, bool appendToEditor, std::optional<Uuid> document,
                      std::vector<AutomationPostAction> actions, std::optional<CapturedScreenshot> shot);
    void captureFailed(std::exception_ptr error);
    void finishCapture(bool appendToEditor);
    bool isStale(const Uuid& id) const;
    void setBusy(bool busy);
    void hidePanel();
    void openOCR(const Clip& clip);
    void importBytes(const QByteArray& bytes, const std::string& source, const std::vector<AutomationPostAction>& actions);
    void readClipboardImage(const std::vector<AutomationPostAction>& actions, bool tiff);
    std::optional<std::int32_t> targetProcess() const;
    std::string readClipImage(const Clip& clip) const;
    // Starts the controller's upload of the clip's rendered document: its operation number, or
    // none when the user declined a public upload. Throws the reason it cannot start.
    std::optional<std::uint64_t> upload(const Clip& clip);
    // Runs then(dropped) when the controller's operation of that number ends; dropped tells
    // whether the returned follow-up was cancelled meanwhile.
    TaskHandle followUpload(std::uint64_t number, std::function<void(bool dropped)> then);

    ClipStore& store_;
    ClipboardMonitor& monitor_;
    PanelController& controller_;
    Defaults& defaults_;
    Apps* apps_;
    WorkflowDialogs& dialogs_;
    UploadDialogs& uploadDialogs_;
    ScreenCapture& screen_;
    WheelScroller* wheel_;
    RawKeyWatcher* keys_;
    std::optional<std::filesystem::path> stagingRoot_;
    std::optional<std::filesystem::path> temporaryRoot_;
    std::unique_ptr<CaptureEngine> engine_;
    std::unique_ptr<CaptureInteraction> ownInteraction_;
    std::unique_ptr<CaptureTimer> ownTimer_;
    CaptureCoordinator* capture_;
    AutomationDispatcher* dispatcher_ = nullptr;
    S3UploadController* uploads_ = nullptr;
    ScreenshotEditorController* editor_;
    std::function<void(const std::shared_ptr<ScreenshotDocumentSession>&)> present_;
    ScreenshotPinController* pins_;
    FloatingThumbnail* thumbnail_;
    TextIndexer* indexing_;
    QPointer<ScrollingCapture> scrolling_;
    bool busy_ = false;
    std::optional<Uuid> activeID_;
    std::shared_ptr<std::stop_source> task_;
    std::set<std::filesystem::path> temporaries_;  // written and not yet removed
};

}  // namespace brevalto
