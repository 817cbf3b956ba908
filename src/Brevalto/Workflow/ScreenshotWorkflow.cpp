#include "Workflow/ScreenshotWorkflow.h"

#include "AI/AIActionModel.h"
#include "Automation/AutomationDispatcher.h"
#include "Automation/AutomationFailure.h"
#include "Automation/AutomationRequest.h"
#include "Capture/CaptureCoordinator.h"
#include "Capture/CaptureEngine.h"
#include "Capture/CaptureError.h"
#include "Capture/CaptureOverlays.h"
#include "Capture/ScrollStitcher.h"
#include "Capture/ScrollingCapture.h"
#include "Capture/ScrollingCaptureView.h"
#include "ClipCore/Clip.h"
#include "Clipboard/ClipStore.h"
#include "Clipboard/ClipboardMonitor.h"
#include "Document/ScreenshotDocument.h"
#include "Document/ScreenshotDocumentSession.h"
#include "Editor/ScreenshotEditorController.h"
#include "Errors/AIError.h"
#include "Panel/PanelController.h"
#include "Platform/Apps.h"
#include "Platform/Clock.h"
#include "Platform/Task.h"
#include "Workflow/CaptureSettings.h"
#include "Workflow/FloatingThumbnail.h"
#include "Workflow/ScreenshotPinController.h"
#include "Workflow/TextIndexer.h"
#include "Upload/UploadDialogs.h"
#include "Workflow/WorkflowDialogs.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QScreen>
#include <QPointer>

#include <algorithm>
#include <filesystem>
#include <stdexcept>
#include <utility>

namespace brevalto {

namespace {

namespace fs = std::filesystem;

QString describe(const std::exception_ptr& error) { return errorMessage(error, QStringLiteral("The capture failed.")); }

}  // namespace

ScreenshotWorkflow::ScreenshotWorkflow(ClipStore& store, ClipboardMonitor& monitor, PanelController& controller,
                                       Defaults& defaults, Screens& screens, CaptureParts parts, QObject* parent)
    : ScreenshotActions(parent),
      store_(store),
      monitor_(monitor),
      controller_(controller),
      defaults_(defaults),
      apps_(parts.apps),
      dialogs_(parts.dialogs ? *parts.dialogs : WorkflowDialogs::system()),
      uploadDialogs_(parts.uploadDialogs ? *parts.uploadDialogs : UploadDialogs::system()),
      screen_(*parts.screen),
      wheel_(parts.wheel),
      keys_(parts.keys),
      stagingRoot_(parts.stagingRoot),
      temporaryRoot_(parts.temporaryRoot),
      engine_(std::make_unique<CaptureEngine>(*parts.screen)),
      editor_(new ScreenshotEditorController(monitor.board(), defaults, this)),
      pins_(new ScreenshotPinController(screens, defaults, this)),
      indexing_(new TextIndexer(store, this)) {
    if (!parts.interaction) {
        auto overlays = std::make_unique<CaptureOverlays>(screens);
        overlays->watchEscapeWith(keys_);
        parts.interaction = overlays.get();
        ownInteraction_ = std::move(overlays);
    }
    if (!parts.timer) {
        ownTimer_ = std::make_unique<QtCaptureTimer>();
        parts.timer = ownTimer_.get();
    }
    capture_ = new CaptureCoordinator(*engine_, *parts.interaction, *parts.timer, apps_, this);
    editor_->setPins(pins_);
    QPointer<ScreenshotWorkflow> self(this);
    editor_->setOnAction([self](ScreenshotEditorAction action, const QImage& image) {
        if (self) self->handleEditorAction(action, image);
    });
    QPointer<PanelController> panel(&controller);
    present_ = [panel](const std::shared_ptr<ScreenshotDocumentSession>& session) {
        if (panel) panel->showWorkspace(PanelController::Workspace::editor(session));
    };
    editor_->setPresent(present_);
    editor_->setSaveFolder([&defaults = defaults_] { return CaptureSettings::saveDialogFolder(defaults); });
    FloatingThumbnail::Actions actions;
    actions.openInEditor = [self](const Clip& clip) {
        if (self) self->openInEditor(clip);
    };
    actions.saveAs = [self](const Clip& clip) { return self ? self->saveAs(clip) : std::nullopt; };
    actions.pin = [self](const Clip& clip) {
        if (self) self->pin(clip);
    };
    actions.upload = [self](const Clip& clip) {
        if (self) self->uploadFromThumbnail(clip);
    };
    thumbnail_ = new FloatingThumbnail(store, monitor, controller, screens, defaults,
                                       parts.clock ? *parts.clock : Clock::system(), std::move(actions), this);
    // Each change of the history (the indexer's own stored texts too) is followed by a schedule,
    // which does nothing while a run goes on.
    connect(&store, &ClipStore::itemsChanged, this, &ScreenshotWorkflow::scheduleIndexing, Qt::QueuedConnection);
}

void ScreenshotWorkflow::setRecognizer(TextRecognizer* recognizer) {
    editor_->setRecognizer(recognizer);
    indexing_->cancel();
    indexing_->setRecognize(TextIndexer::onDevice(recognizer));
    scheduleIndexing();
}

void ScreenshotWorkflow::scheduleIndexing() { indexing_->schedule(); }

std::optional<Uuid> ScreenshotWorkflow::openDocumentID() const {
    if (const auto& session = editor_->session()) return session->document().id;
    return std::nullopt;
}

ScreenshotWorkflow::~ScreenshotWorkflow() {
    // An open scrolling capture goes first (it asks the coordinator to stop), then the
    // coordinator, which closes its overlays and does not own them.
    delete scrolling_.data();
    delete capture_;
    for (const fs::path& file : std::set(temporaries_)) removeTemporaryFile(file);
}

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
    using Command = AutomationRequest::Command;
    switch (request.command) {
        case Command::capture:
        case Command::ocr:
        case Command::append:
            if (busy_) throw CaptureError(CaptureError::Kind::busy);
            return handleCapture(request);
        case Command::clipboard:
            if (busy_) throw CaptureError(CaptureError::Kind::busy);
            return importClipboard(request.postActions);
        case Command::filePicker:
            if (busy_) throw CaptureError(CaptureError::Kind::busy);
            return importFile(request.postActions);
        case Command::history:
            controller_.expandPanel(true);
            return;
        case Command::settings:
            return;
        case Command::editor:
            return handleEditor(request);
    }
}

void ScreenshotWorkflow::handleEditor(const AutomationRequest& request) {
    std::optional<Uuid> id = request.clipID;
    if (!id && editor_->session()) id = editor_->session()->document().historyID;
    if (!id) id = CaptureSettings::lastEditorClipID(defaults_);
    if (!id) {
        const auto& items = store_.current();
        const auto image = std::find_if(items.begin(), items.end(), [](const Clip& c) { return c.kind == Clip::Kind::image; });
        if (image != items.end()) id = image->id;
    }
    if (!id) throw AIError(kEditorWithoutImage);
    const auto& items = store_.current();
    const auto clip = std::find_if(items.begin(), items.end(),
                                   [&](const Clip& c) { return c.id == *id && c.kind == Clip::Kind::image; });
    if (clip == items.end() && !fs::exists(screenshotDocumentsRoot(store_.root()) / id->string() / "document.json"))
        throw AIError(kDocumentUnavailable);
    thumbnail_->dismissThumbnail();
    controller_.collapsePanel();
    const bool found = clip != items.end();
    std::optional<fs::path> source;
    if (found && clip->imageFile) source = store_.root() / *clip->imageFile;
    editor_->open(source, *id, screenshotDocumentsRoot(store_.root()),
                  found ? clip->imageScale.value_or(1.0) : 1.0);
}

void ScreenshotWorkflow::handleCapture(const AutomationRequest& request) {
    const bool append = request.command == AutomationRequest::Command::append;
    if (append && !editor_->session()) throw AIError(kAppendWithoutDocument);
    const std::string_view raw = rawValue(request.mode);
    const ScreenshotCommand command =
        screenshotCommandFromRaw(raw == "repeat" ? "repeatRegion" : raw).value_or(ScreenshotCommand::region);
    execute(command, append, static_cast<int>(request.delaySeconds), request.postActions);
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

void ScreenshotWorkflow::cancel() {
    if (scrolling_) scrolling_->cancel();
    activeID_.reset();
    if (task_) task_->request_stop();
    capture_->cancelCapture();
}

CaptureRequest ScreenshotWorkflow::captureRequest(ScreenshotCommand command, int delay) const {
    CaptureRequest r;
    r.mode = captureMode(command);
    r.delay = delay;
    r.includesCursor = CaptureSettings::includesCursor(defaults_);
    r.shadows = CaptureSettings::shadows(defaults_);
    r.background = CaptureSettings::background(defaults_);
    r.applicationPID = targetProcess();
    return r;
}

std::optional<std::int32_t> ScreenshotWorkflow::targetProcess() const {
    const std::int64_t own = QCoreApplication::applicationPid();
    if (apps_)
        if (const auto front = apps_->frontmost(); front && front->processId > 0 && front->processId != own)
            return static_cast<std::int32_t>(front->processId);
    if (const auto& target = controller_.target(); target && target->processId > 0)
        return static_cast<std::int32_t>(target->processId);
    return std::nullopt;
}

void ScreenshotWorkflow::execute(ScreenshotCommand command, bool appendToEditor, int delay,
                                 const std::vector<AutomationPostAction>& actions) {
    if (busy_) {
        store_.setMessage(QString::fromUtf8(CaptureError::message(CaptureError::Kind::busy)));
        return;
    }
    if (command == ScreenshotCommand::scrolling) return startScrolling(appendToEditor, delay, actions);
    const Uuid id = Uuid::random();
    activeID_ = id;
    setBusy(true);
    const std::optional<Uuid> document = appendToEditor ? openDocumentID() : std::nullopt;
    const CaptureRequest request = captureRequest(command, delay);
    hidePanel();
    thumbnail_->dismissThumbnail();
    auto stop = std::make_shared<std::stop_source>();
    task_ = stop;
    QPointer<ScreenshotWorkflow> self(this);
    try {
        capture_->capture(
            request,
            [self, id, command, appendToEditor, document, actions](CaptureCoordinator::Result result) {
                if (!self) return;
                std::optional<CapturedScreenshot> shot;
                try {
                    shot = std::move(result.get());
                } catch (...) {
                    self->captureFailed(std::current_exception());
                    return self->finishCapture(appendToEditor);
                }
                self->captureEnded(id, command, appendToEditor, document, actions, std::move(shot));
            },
            stop->get_token());
    } catch (...) {
        captureFailed(std::current_exception());
        finishCapture(appendToEditor);
    }
}

void ScreenshotWorkflow::captureEnded(Uuid id, ScreenshotCommand command, bool appendToEditor,
                                      std::optional<Uuid> document, std::vector<AutomationPostAction> actions,
                                      std::optional<CapturedScreenshot> shot) {
    const auto stop = task_;
    auto over = [this, id, stop] { return isStale(id) || !stop || stop->stop_requested(); };
    if (!shot || over()) return finishCapture(appendToEditor);
    if (shot->image.isNull()) {
        captureFailed(std::make_exception_ptr(CaptureError(CaptureError::Kind::missingImage)));
        return finishCapture(appendToEditor);
    }
    const QImage image = shot->image;
    QPointer<ScreenshotWorkflow> self(this);
    // Encoded once, by the store and off the GUI thread: the clip's file is then what the copy,
    // the auto-save and every later use read.
    store_.addImage(
        image, "Screenshot", shot->scale, [self, over] { return !self || over(); },
        [self, over, command, appendToEditor, document, actions, image](std::optional<Clip> clip) {
            if (!self) return;
            if (!clip || over()) return self->finishCapture(appendToEditor);
            // Only into the document that was open when the capture started.
            if (appendToEditor && document && self->openDocumentID() == document)
                self->editor_->appendCapture(image);
            self->store_.setMessage(QStringLiteral("Captured %1 x %2 px").arg(image.width()).arg(image.height()));
            self->afterCapture(*clip, !appendToEditor, actions);
            if (command == ScreenshotCommand::ocr) self->openOCR(*clip);
            self->finishCapture(appendToEditor);
        });
}

void ScreenshotWorkflow::captureFailed(std::exception_ptr error) {
    if (isCancellation<CaptureCancelled>(error)) return;
    const QString text = describe(error);
    store_.setMessage(text);
    try {
        std::rethrow_exception(error);
    } catch (const CaptureError& e) {
        if (e.kind() == CaptureError::Kind::permissionDenied) return;
    } catch (...) {
    }
    dialogs_.alert(QString::fromUtf8(kCaptureFailedTitle), text);
}

void ScreenshotWorkflow::finishCapture(bool appendToEditor) {
    if (auto capture = std::exchange(scrolling_, nullptr)) capture->deleteLater();
    setBusy(false);
    activeID_.reset();
    task_.reset();
    controller_.setCaptureActive(false);
    controller_.updatePanelFrame(false);
    controller_.orderFront();
    if (appendToEditor && editor_->session()) present_(editor_->session());
}

ScrollingCapture* ScreenshotWorkflow::scrolling() const { return scrolling_.data(); }

void ScreenshotWorkflow::startScrolling(bool appendToEditor, int delay, const std::vector<AutomationPostAction>& actions) {
    if (!wheel_ || !keys_) {
        store_.setMessage(QString::fromUtf8(kUnavailableMessage));
        return;
    }
    const Uuid id = Uuid::random();
    activeID_ = id;
    setBusy(true);
    const std::optional<Uuid> document = appendToEditor ? openDocumentID() : std::nullopt;
    thumbnail_->dismissThumbnail();
    hidePanel();
    std::optional<AppIdentity> target;
    if (apps_)
        if (auto front = apps_->frontmost(); front && front->processId != QCoreApplication::applicationPid())
            target = std::move(front);
    if (!target) target = controller_.target();

    QPointer<ScreenshotWorkflow> self(this);
    auto holder = std::make_shared<QPointer<ScrollingCapture>>();
    ScrollingCaptureServices services;
    services.coordinator = capture_;
    services.engine = engine_.get();
    services.screen = &screen_;
    services.apps = apps_;
    services.wheel = wheel_;
    services.keys = keys_;
    services.chooseExportPath = [self](const QString& name) -> std::optional<QString> {
        if (!self) return std::nullopt;
        const auto chosen =
            self->dialogs_.chooseSaveFile(name, CaptureSettings::saveDialogFolder(self->defaults_));
        if (!chosen) return std::nullopt;
        return QString::fromStdString(chosen->string());
    };
    try {
        services.stagingRoot = stagingRoot_ ? *stagingRoot_ : ScrollStitcher::stagingRoot();
    } catch (const std::exception& e) {
        store_.setMessage(QString::fromUtf8(e.what()));
        return finishCapture(appendToEditor);
    }
    auto* session = new ScrollingCapture(
        services, target, delay,
        [self, id, appendToEditor, document, actions](const CapturedScreenshot& shot, bool partial,
                                                      std::function<void(bool)> taken) {
            if (!self) return taken(false);
            self->scrollingFinished(id, appendToEditor, document, actions, shot, partial, std::move(taken));
        },
        [self, holder, appendToEditor] {
            if (self) self->scrollingClosed(*holder, appendToEditor);
        },
        [] { return screenshotFileName(); }, this);
    *holder = session;
    scrolling_ = session;

    QWidget* panel = ScrollingCaptureView::makePanel(*session);
    panel->setMinimumSize(380, 220);
    panel->resize(450, 240);
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        panel->move(screen->availableGeometry().center() - QPoint(225, 120));
    session->start();
}

void ScreenshotWorkflow::scrollingFinished(const Uuid& id, bool appendToEditor, std::optional<Uuid> document,
                                           const std::vector<AutomationPostAction>& actions,
                                           const CapturedScreenshot& shot, bool partial,
                                           std::function<void(bool)> taken) {
    if (isStale(id)) return taken(false);
    if (shot.image.isNull()) return taken(false);
    const QImage image = shot.image;
    const bool oneScreen = scrolling_ && scrolling_->keptOnlyTheFirstFrame();
    QPointer<ScreenshotWorkflow> self(this);
    store_.addImage(
        image, partial ? "Scrolling screenshot (partial)" : "Scrolling screenshot", shot.scale,
        [self, id] { return !self || self->isStale(id); },
        [self, id, appendToEditor, document, actions, image, partial, oneScreen, taken](std::optional<Clip> clip) {
            if (!self || !clip || self->isStale(id)) return taken(false);
            if (appendToEditor && document && self->openDocumentID() == document)
                self->editor_->appendCapture(image);
            self->store_.setMessage(
                partial     ? QStringLiteral("Saved the valid portion; inspect seams before sharing.")
                : oneScreen ? QStringLiteral("Saved %1 x %2 px: no new content appeared after scrolling, so one "
                                             "screen was kept.")
                                  .arg(image.width())
                                  .arg(image.height())
                            : QStringLiteral("Saved %1 x %2 px scrolling capture").arg(image.width()).arg(image.height()));
            self->afterCapture(*clip, !appendToEditor, actions);
            taken(true);
        });
}

// The session ended (finished, cancelled or its selection cancelled). It is the current one even
// when a cancel made the identity absent first, so busy is always cleared.
void ScreenshotWorkflow::scrollingClosed(const QPointer<ScrollingCapture>& capture, bool appendToEditor) {
    if (!capture || capture != scrolling_) return;
    finishCapture(appendToEditor);
}

bool ScreenshotWorkflow::isStale(const Uuid& id) const { return activeID_ != id; }

void ScreenshotWorkflow::setBusy(bool busy) {
    if (busy_ == busy) return;
    busy_ = busy;
    emit busyChanged(busy);
}

void ScreenshotWorkflow::hidePanel() {
    controller_.setCaptureActive(true);
    controller_.collapsePanel();
    controller_.orderOut();
}

void ScreenshotWorkflow::openOCR(const Clip& clip) { controller_.showOCR(clip, false); }

}  // namespace brevalto
