#include "Workflow/ScreenshotWorkflow.h"

#include "Capture/CaptureError.h"
#include "ClipCore/Clip.h"
#include "Clipboard/ClipStore.h"
#include "Document/ScreenshotDocument.h"
#include "Document/ScreenshotDocumentSession.h"
#include "Document/ScreenshotRenderer.h"
#include "Editor/ScreenshotEditorController.h"
#include "Errors/AIError.h"
#include "Platform/Defaults.h"
#include "Upload/S3UploadController.h"
#include "Upload/UploadDialogs.h"
#include "Workflow/FloatingThumbnail.h"

#include <QPointer>

namespace brevalto {

void ScreenshotWorkflow::setUploads(S3UploadController* uploads) {
    if (uploads_) disconnect(uploads_, nullptr, this, nullptr);
    uploads_ = uploads;
    if (!uploads_) return;
    for (auto change : {&S3UploadController::historyChanged, &S3UploadController::busyChanged,
                        &S3UploadController::settingsChanged})
        connect(uploads_, change, this, &ScreenshotActions::uploadStateChanged);
}

bool ScreenshotWorkflow::hasLiveUpload(const Uuid& clipID) const { return uploads_ && uploads_->hasLiveUpload(clipID); }

bool ScreenshotWorkflow::uploadBusy() const { return uploads_ && uploads_->busy(); }

bool ScreenshotWorkflow::confirmPublicUpload() {
    if (defaults_.boolValue(kPublicConfirmedKey)) return true;
    bool dontAskAgain = false;
    const bool confirmed = uploadDialogs_.confirmPublicUpload(dontAskAgain);
    if (confirmed && dontAskAgain) defaults_.set(kPublicConfirmedKey, true);
    return confirmed;
}

std::optional<std::uint64_t> ScreenshotWorkflow::upload(const Clip& clip) {
    if (!uploads_) throw AIError(S3UploadController::setupMessage.toStdString());
    if (uploads_->busy()) throw AIError(kUploadRunning);
    if (!clip.imageFile) throw CaptureError(CaptureError::Kind::missingImage);
    const std::filesystem::path source = store_.root() / *clip.imageFile;
    if (!uploads_->hasLiveUpload(clip.id)) {
        // A destination that cannot take a new object says so before anything is asked.
        uploads_->checkDestination(uploads_->activeSettings());
        if (uploads_->activeSettings().linkMode == S3Settings::LinkMode::publicURL && !confirmPublicUpload())
            return std::nullopt;
    }
    // The uploaded image is the edited screenshot: the document, rendered with its backdrop.
    const ScreenshotDocument::Loaded loaded = ScreenshotDocument::load(screenshotDocumentsRoot(store_.root()), clip.id,
                                                                        source, clip.imageScale.value_or(1.0));
    const auto operation = uploads_->upload(
        [loaded](std::stop_token stop) { return ScreenshotRenderer::render(loaded.document, loaded.folder, true, false, stop); },
        true, clip.id);
    if (!operation) throw AIError(uploads_->status().toStdString());
    return operation->number;
}

TaskHandle ScreenshotWorkflow::followUpload(std::uint64_t number, std::function<void(bool dropped)> then) {
    auto source = std::make_shared<std::stop_source>();
    auto connection = std::make_shared<QMetaObject::Connection>();
    *connection = connect(uploads_, &S3UploadController::operationEnded, this,
                          [source, connection, number, then = std::move(then)](quint64 ended) {
                              if (ended != number) return;
                              QObject::disconnect(*connection);
                              then(source->stop_requested());
                          });
    return TaskHandle(source);
}

TaskHandle ScreenshotWorkflow::uploadAndCopyLink(const Clip& clip) {
    const QString opening = uploads_ && uploads_->hasLiveUpload(clip.id) ? QStringLiteral("Copying link...")
                                                                         : FloatingThumbnail::uploadingStatus;
    std::optional<std::uint64_t> number;
    try {
        number = upload(clip);
    } catch (const std::exception& error) {
        store_.setMessage(QString::fromUtf8(error.what()));
        return {};
    }
    if (!number) return {};
    store_.setMessage(opening);
    return followUpload(*number, [this](bool dropped) {
        if (!dropped && uploads_) store_.setMessage(uploads_->status());
    });
}

TaskHandle ScreenshotWorkflow::uploadFromThumbnail(const Clip& clip) {
    if (thumbnail_->thumbnailUploading()) return {};
    std::optional<std::uint64_t> number;
    try {
        number = upload(clip);
    } catch (const std::exception& error) {
        thumbnail_->setThumbnailUploadStatus(QString::fromUtf8(error.what()));
        return {};
    }
    if (!number) return {};
    auto handle = std::make_shared<TaskHandle>();
    QPointer<S3UploadController> uploads(uploads_);
    // Only the thumbnail's follow-up goes with the thumbnail: a dismissed thumbnail leaves the
    // transfer running, and its outcome reaches the status line.
    *handle = followUpload(*number, [this, handle, uploads](bool dropped) {
        const QString status = uploads ? uploads->status() : QString();
        if (dropped)
            store_.setMessage(status);
        else
            thumbnail_->finishThumbnailUpload(*handle, status);
    });
    thumbnail_->startThumbnailUpload(*handle);
    return *handle;
}

TaskHandle ScreenshotWorkflow::uploadFromEditor(const QImage& image) {
    const std::shared_ptr<ScreenshotDocumentSession>& session = editor_->session();
    auto report = [this](const QString& text) {
        if (const auto& open = editor_->session()) open->setStatus(text);
    };
    if (!uploads_) {
        report(S3UploadController::setupMessage);
        return {};
    }
    try {
        uploads_->checkDestination(uploads_->activeSettings());
    } catch (const std::exception& error) {
        report(QString::fromUtf8(error.what()));
        return {};
    }
    if (uploads_->activeSettings().linkMode == S3Settings::LinkMode::publicURL && !confirmPublicUpload()) return {};
    const std::optional<Uuid> clipID = session ? std::optional<Uuid>(session->document().historyID) : std::nullopt;
    const auto operation = uploads_->upload(image, true, clipID);
    if (!operation) {
        report(uploads_->status());
        return {};
    }
    report(FloatingThumbnail::uploadingStatus);
    return followUpload(operation->number, [this, report](bool dropped) {
        if (!dropped && uploads_) report(uploads_->status());
    });
}

}  // namespace brevalto
