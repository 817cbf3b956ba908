#pragma once

#include "Capture/ScreenshotCommand.h"
#include "Panel/ScreenshotActions.h"

#include <QObject>

namespace brevalto {

class AutomationDispatcher;
class ClipStore;
class ClipboardMonitor;
class Defaults;
class PanelController;
class S3UploadController;
class Screens;
class ScreenshotPinController;
class ScreenshotEditorController;
struct AutomationRequest;

// Runs screenshot commands end to end. Every command arrives as an automation request; in-app
// callers turn a command into one with run(). The panel holds the workflow weakly, through the
// screenshot actions it implements.
//
// handle() opens the history panel for the history command and refuses every other command;
// opening a clip in the editor and uploading it report that they are unavailable. Pinning a clip
// opens its rendered document in a pin window of the workflow's one pin controller.
class ScreenshotWorkflow : public ScreenshotActions {
    Q_OBJECT
public:
    ScreenshotWorkflow(ClipStore& store, ClipboardMonitor& monitor, PanelController& controller, Defaults& defaults,
                       Screens& screens, QObject* parent = nullptr);
    ~ScreenshotWorkflow() override;

    ScreenshotEditorController* editor() const override { return editor_; }
    // The pins of the workflow and of the editor.
    ScreenshotPinController* pins() const { return pins_; }
    void openInEditor(const Clip& clip) override;
    void pin(const Clip& clip) override;
    TaskHandle uploadAndCopyLink(const Clip& clip) override;
    bool uploadsAvailable() const override { return uploads_ != nullptr; }

    // Where run() sends its requests; set by the app at launch.
    void setDispatcher(AutomationDispatcher* dispatcher) { dispatcher_ = dispatcher; }

    // The upload controller, when uploads are available. The app creates it after the workflow
    // and sets it once at launch.
    S3UploadController* uploads() const { return uploads_; }
    void setUploads(S3UploadController* uploads) { uploads_ = uploads; }

    // Runs or refuses one request (throws when it cannot run it).
    void handle(const AutomationRequest& request);
    // Turns a command into an internal request, validates and dispatches it; failures end in the
    // store's message.
    void run(ScreenshotCommand command, bool appendToEditor) override;
    // Cancels the running capture, if any.
    void cancel() override;

    // The internal request of a command (no post-actions, no clip).
    static AutomationRequest request(ScreenshotCommand command, bool appendToEditor, const Defaults& defaults);

private:
    ClipStore& store_;
    ClipboardMonitor& monitor_;
    PanelController& controller_;
    Defaults& defaults_;
    AutomationDispatcher* dispatcher_ = nullptr;
    S3UploadController* uploads_ = nullptr;
    ScreenshotEditorController* editor_;
    ScreenshotPinController* pins_;
};

}  // namespace brevalto
