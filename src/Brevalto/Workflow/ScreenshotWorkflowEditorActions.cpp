// What the workflow does with the editor's commands: the OCR and translation preview on a private
// temporary PNG, the region translator, uploads and new history items.
#include "Workflow/ScreenshotWorkflow.h"

#include "AI/AIActionModel.h"
#include "AI/TranslatedImageModel.h"
#include "ClipCore/Clip.h"
#include "ClipCore/ReferenceDate.h"
#include "Clipboard/ClipStore.h"
#include "Document/ScreenshotDocument.h"
#include "Document/ScreenshotDocumentSession.h"
#include "Document/ScreenshotOutput.h"
#include "Editor/ScreenshotEditorController.h"
#include "Errors/AIError.h"
#include "Panel/PanelController.h"
#include "Platform/AppPaths.h"
#include "Platform/AtomicFile.h"
#include "Platform/Defaults.h"
#include "Platform/Task.h"
#include "Workflow/FloatingThumbnail.h"

#include <QPointer>

#include <system_error>

namespace brevalto {

namespace {

namespace fs = std::filesystem;

QByteArray encodePNG(const QImage& image) {
    return ScreenshotOutput::encode(image, ScreenshotOutput::Format::png, Qt::white, false, 1.0, 0.9);
}

// The clip an editor OCR preview shows; it never enters the history.
Clip editorSnapshot() {
    Clip clip;
    clip.id = Uuid::random();
    clip.kind = Clip::Kind::image;
    clip.digest = "editor-snapshot";
    clip.createdAt = referenceDateNow();
    clip.source = "Editor selection";
    return clip;
}

QUrl fileURL(const fs::path& file) { return QUrl::fromLocalFile(QString::fromStdString(file.string())); }

}  // namespace

void ScreenshotWorkflow::handleEditorAction(ScreenshotEditorAction action, const QImage& image) {
    if (action == ScreenshotEditorAction::captureAppend) return run(ScreenshotCommand::region, true);
    try {
        switch (action) {
            case ScreenshotEditorAction::ocr:
            case ScreenshotEditorAction::translateText:
                openEditorOCR(image, action == ScreenshotEditorAction::translateText);
                break;
            case ScreenshotEditorAction::translateImage:
                openRegionTranslator(image);
                break;
            case ScreenshotEditorAction::upload:
                uploadFromEditor(image);
                break;
            case ScreenshotEditorAction::saveAsNewItem:
                saveAsNewItem(image);
                break;
            case ScreenshotEditorAction::captureAppend:
                break;
        }
    } catch (...) {
        reportToSession(errorMessage(std::current_exception(), QStringLiteral("The command failed.")));
    }
}

void ScreenshotWorkflow::reportToSession(const QString& text) {
    if (const auto& session = editor_->session()) session->setStatus(text);
}

fs::path ScreenshotWorkflow::writeTemporaryPNG(const QImage& image) {
    const QByteArray png = encodePNG(image);
    const fs::path root = temporaryRoot_ ? AppPaths::ensurePrivateFolder(*temporaryRoot_) : AppPaths::temporaryRoot();
    const fs::path file = root / ("Brevalto-OCR-" + Uuid::random().string() + ".png");
    // The atomic writer creates its file 0600 and discards it on any failure.
    AtomicFile::write(file, png, {.refuseSymlinks = true, .createFolder = false, .durable = false});
    temporaries_.insert(file);
    return file;
}

void ScreenshotWorkflow::removeTemporaryFile(const fs::path& file) {
    std::error_code ignored;
    fs::remove(file, ignored);
    temporaries_.erase(file);
}

void ScreenshotWorkflow::openEditorOCR(const QImage& image, bool translate) {
    const fs::path file = writeTemporaryPNG(image);
    QPointer<ScreenshotWorkflow> self(this);
    auto remove = [self, file] {
        if (self) self->removeTemporaryFile(file);
    };
    std::shared_ptr<AIActionModel> model;
    try {
        model = controller_.makeAIModel(editorSnapshot(), true, fileURL(file), image);
    } catch (...) {
        remove();
        throw;
    }
    if (!model) {
        remove();
        return;
    }
    const auto& session = editor_->session();
    const std::optional<Uuid> revision = session ? std::optional(session->document().revision) : std::nullopt;
    model->showsTranslation = translate;
    model->replaceText = [self, revision] {
        if (!self) throw AIError(kDocumentChanged);
        self->replaceEditorText(revision);
    };
    if (!controller_.expanded()) controller_.expandPanel(true);
    controller_.showTranslationModel(model, std::move(remove));
    model->runOCR(store_.root());
}

void ScreenshotWorkflow::replaceEditorText(const std::optional<Uuid>& revision) {
    const auto& session = editor_->session();
    const std::optional<Uuid> current = session ? std::optional(session->document().revision) : std::nullopt;
    if (current != revision) throw AIError(kDocumentChanged);
    try {
        editor_->perform(ScreenshotEditorAction::translateImage);
    } catch (...) {
        reportToSession(errorMessage(std::current_exception(), QStringLiteral("The command failed.")));
    }
}

void ScreenshotWorkflow::openRegionTranslator(const QImage& image) {
    AIActionBackend* backend = controller_.aiActions();
    if (!backend) return;
    auto renderer = editor_->translatedImageRenderer();
    const fs::path file = writeTemporaryPNG(image);
    QPointer<ScreenshotWorkflow> self(this);
    auto remove = [self, file] {
        if (self) self->removeTemporaryFile(file);
    };
    const std::string target = defaults_.string("translation.primary").value_or("en");
    auto apply = [self](const std::vector<EditableImageRegion>& regions) {
        if (!self) throw AIError(kEditorClosed);
        self->editor_->applyTranslatedText(regions);
    };
    std::shared_ptr<TranslatedImageModel> regions;
    try {
        regions = std::make_shared<TranslatedImageModel>(fileURL(file), target, true, defaults_, *backend,
                                                         std::move(renderer), std::move(apply));
    } catch (...) {
        remove();
        throw;
    }
    controller_.showWorkspace(PanelController::Workspace::regions(regions), std::move(remove));
    regions->detectRegions();
}

void ScreenshotWorkflow::saveAsNewItem(const QImage& image) {
    const QByteArray png = encodePNG(image);
    const auto& session = editor_->session();
    const double scale = session ? session->document().sourceScale : 1.0;
    QPointer<ScreenshotWorkflow> self(this);
    store_.addImage(png, kEditSource, scale, {}, [self](std::optional<Clip> clip) {
        if (clip && self) self->thumbnail_->showThumbnail(*clip);
    });
}

}  // namespace brevalto
