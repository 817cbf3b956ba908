// What follows a stored capture or import: the after-capture actions, save-as, auto-save, the
// editor and pins.
#include "Workflow/ScreenshotWorkflow.h"

#include "ClipCore/Clip.h"
#include "Clipboard/ClipStore.h"
#include "Clipboard/ClipboardMonitor.h"
#include "Document/ScreenshotDocument.h"
#include "Document/ScreenshotRenderer.h"
#include "Editor/ScreenshotEditorController.h"
#include "Platform/Defaults.h"
#include "Platform/AtomicFile.h"
#include "Workflow/CaptureSettings.h"
#include "Workflow/FloatingThumbnail.h"
#include "Workflow/ScreenshotPinController.h"
#include "Workflow/WorkflowDialogs.h"

#include <QPointer>

#include <stdexcept>

namespace brevalto {

void ScreenshotWorkflow::afterCapture(const Clip& clip, bool showFollowUp,
                                      const std::vector<AutomationPostAction>& actions) {
    QStringList failures;
    auto copy = [&] {
        if (!monitor_.copy(clip)) failures << store_.message();
    };
    auto collect = [&](std::optional<QString> failure) {
        if (failure) failures << *failure;
    };
    for (const AutomationPostAction action : actions) {
        switch (action) {
            case AutomationPostAction::copy:
                copy();
                break;
            case AutomationPostAction::save:
                collect(saveAs(clip));
                break;
            case AutomationPostAction::edit:
                openInEditor(clip);
                break;
            case AutomationPostAction::pin:
                pin(clip);
                break;
            case AutomationPostAction::thumbnail:
                thumbnail_->showThumbnail(clip);
                break;
        }
    }
    if (actions.empty()) {
        if (CaptureSettings::autoCopy(defaults_)) copy();
        if (CaptureSettings::autoSave(defaults_)) collect(autoSave(clip));
        if (showFollowUp) {
            if (CaptureSettings::opensEditorAfterCapture(defaults_))
                openInEditor(clip);
            else
                thumbnail_->showThumbnail(clip);
        }
    }
    if (!failures.isEmpty()) store_.setMessage(failures.join(u'\n'));
}

std::string ScreenshotWorkflow::readClipImage(const Clip& clip) const {
    if (!ClipStore::isImageFileName(*clip.imageFile))
        throw std::runtime_error("Not an image file name: " + *clip.imageFile);
    return AtomicFile::read(store_.root() / *clip.imageFile, ClipStore::kMaxInputBytes);
}

std::optional<QString> ScreenshotWorkflow::saveAs(const Clip& clip) {
    if (!clip.imageFile) return QString::fromUtf8(kNoSourceImage);
    const auto target = dialogs_.chooseSaveFile(screenshotFileName(), CaptureSettings::saveDialogFolder(defaults_));
    if (!target) return std::nullopt;
    try {
        // The user chose the place: a linked folder is followed, and a link there is replaced.
        AtomicFile::write(*target, readClipImage(clip), AtomicWriteOptions{false, false});
    } catch (const std::exception& e) {
        return QString::fromUtf8(e.what());
    }
    store_.setMessage(QStringLiteral("Saved ") + QString::fromStdString(target->filename().string()));
    return std::nullopt;
}

std::optional<QString> ScreenshotWorkflow::autoSave(const Clip& clip) { return autoSave(clip, screenshotFileName()); }

std::optional<QString> ScreenshotWorkflow::autoSave(const Clip& clip, const QString& fileName) {
    const auto folder = CaptureSettings::folder(defaults_);
    if (!clip.imageFile || !folder) return QString::fromUtf8(kAutoSaveNeedsFolder);
    try {
        // Staged in the folder and moved to a name that must not exist yet: an existing file is
        // never replaced, and a failure leaves no file behind.
        StagedFile staged(*folder, ".brevalto-" + Uuid::random().string() + ".tmp", readClipImage(clip));
        const std::string name = fileName.toStdString();
        if (!staged.place(name)) throw FileError("A file named " + name + " already exists.");
    } catch (const std::exception& e) {
        return QStringLiteral("Auto-save failed: ") + QString::fromUtf8(e.what());
    }
    return std::nullopt;
}

void ScreenshotWorkflow::openInEditor(const Clip& clip) {
    if (!clip.imageFile) return;
    thumbnail_->dismissThumbnail();
    editor_->open(store_.root() / *clip.imageFile, clip.id, screenshotDocumentsRoot(store_.root()),
                  clip.imageScale.value_or(1.0));
    defaults_.set(CaptureSettings::lastEditorClipIDKey, clip.id.string());
}

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

}  // namespace brevalto
