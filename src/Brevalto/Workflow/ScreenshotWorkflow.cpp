#include "Workflow/ScreenshotWorkflow.h"

#include "Automation/AutomationDispatcher.h"
#include "Automation/AutomationFailure.h"
#include "Automation/AutomationRequest.h"
#include "ClipCore/Clip.h"
#include "Clipboard/ClipStore.h"
#include "Clipboard/ClipboardMonitor.h"
#include "Document/ScreenshotDocument.h"
#include "Document/ScreenshotRenderer.h"
#include "Editor/ScreenshotEditorController.h"
#include "Panel/PanelController.h"
#include "Workflow/CaptureSettings.h"
#include "Workflow/ScreenshotPinController.h"

#include <QPointer>

#include <stdexcept>

namespace brevalto {

namespace {

constexpr char kUnavailableMessage[] = "This command is not available yet.";

}  // namespace

ScreenshotWorkflow::ScreenshotWorkflow(ClipStore& store, ClipboardMonitor& monitor, PanelController& controller,
                                       Defaults& defaults, Screens& screens, QObject* parent)
    : ScreenshotActions(parent),
      store_(store),
      monitor_(monitor),
      controller_(controller),
      defaults_(defaults),
      editor_(new ScreenshotEditorController(monitor.board(), defaults, this)),
      pins_(new ScreenshotPinController(screens, defaults, this)) {
    editor_->setPins(pins_);
}

ScreenshotWorkflow::~ScreenshotWorkflow() = default;

AutomationRequest ScreenshotWorkflow::request(ScreenshotCommand command, bool appendToEditor, const Defaults& defaults) {
    AutomationRequest r;
    switch (command) {
        case ScreenshotCommand::importFile:
            r.command = AutomationRequest::Command::filePicker;
            break;
        case ScreenshotCommand::clipboard:
            r.command = AutomationRequest::Command::clipboard;
            break;
        default: {
            r.command = appendToEditor ? AutomationRequest::Command::append : AutomationRequest::Command::capture;
            const std::string_view raw = rawValue(command);
            r.mode = automationCaptureModeFromRaw(raw == "repeatRegion" ? "repeat" : raw)
                         .value_or(AutomationCaptureMode::region);
            if (command == ScreenshotCommand::delay) r.delaySeconds = CaptureSettings::delaySeconds(defaults);
        }
    }
    return r;
}

void ScreenshotWorkflow::handle(const AutomationRequest& request) {
    switch (request.command) {
        case AutomationRequest::Command::history:
            controller_.expandPanel(true);
            return;
        default:
            // Captures, imports and the editor are refused.
            throw std::runtime_error(kUnavailableMessage);
    }
}

void ScreenshotWorkflow::run(ScreenshotCommand command, bool appendToEditor) {
    try {
        const AutomationRequest r = request(command, appendToEditor, defaults_);
        r.validate();
        if (!dispatcher_) throw AutomationFailure(AutomationFailure::Kind::notReady);
        dispatcher_->dispatch(r, AutomationSource::internal);
    } catch (const std::exception& e) {
        store_.setMessage(QString::fromUtf8(e.what()));
    }
}

void ScreenshotWorkflow::openInEditor(const Clip&) { store_.setMessage(QString::fromUtf8(kUnavailableMessage)); }

void ScreenshotWorkflow::pin(const Clip& clip) {
    if (!clip.imageFile) return;
    QImage image;
    try {
        if (!ClipStore::isImageFileName(*clip.imageFile))
            throw std::runtime_error("Not an image file name: " + *clip.imageFile);
        const ScreenshotDocument::Loaded loaded =
            ScreenshotDocument::load(screenshotDocumentsRoot(store_.root()), clip.id, store_.root() / *clip.imageFile,
                                     clip.imageScale.value_or(1.0));
        image = ScreenshotRenderer::render(loaded.document, loaded.folder, true, false);
    } catch (const std::exception& e) {
        store_.setMessage(QString::fromUtf8(e.what()));
        return;
    }
    QPointer<ScreenshotWorkflow> self(this);
    pins_->showReference(image, [self, clip] {
        if (self) self->openInEditor(clip);
    });
}

TaskHandle ScreenshotWorkflow::uploadAndCopyLink(const Clip&) {
    store_.setMessage(QString::fromUtf8(kUnavailableMessage));
    return {};
}

void ScreenshotWorkflow::cancel() {}

}  // namespace brevalto
