#include "Workflow/ScreenshotWorkflow.h"

#include "Automation/AutomationDispatcher.h"
#include "Automation/AutomationFailure.h"
#include "Automation/AutomationRequest.h"
#include "ClipCore/Clip.h"
#include "Clipboard/ClipStore.h"
#include "Editor/ScreenshotEditorController.h"
#include "Panel/PanelController.h"
#include "Workflow/CaptureSettings.h"

#include <stdexcept>

namespace brevalto {

namespace {

constexpr char kUnavailableMessage[] = "This command is not available yet.";

}  // namespace

ScreenshotWorkflow::ScreenshotWorkflow(ClipStore& store, ClipboardMonitor& monitor, PanelController& controller,
                                       Defaults& defaults, QObject* parent)
    : ScreenshotActions(parent),
      store_(store),
      monitor_(monitor),
      controller_(controller),
      defaults_(defaults),
      editor_(new ScreenshotEditorController(this)) {}

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

void ScreenshotWorkflow::pin(const Clip&) { store_.setMessage(QString::fromUtf8(kUnavailableMessage)); }

TaskHandle ScreenshotWorkflow::uploadAndCopyLink(const Clip&) {
    store_.setMessage(QString::fromUtf8(kUnavailableMessage));
    return {};
}

void ScreenshotWorkflow::cancel() {}

}  // namespace brevalto
