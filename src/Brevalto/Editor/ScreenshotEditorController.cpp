#include "Editor/ScreenshotEditorController.h"

#include "AI/OCRResult.h"
#include "AI/TextRecognition.h"
#include "Document/ScreenshotDocument.h"
#include "Document/ScreenshotDocumentSession.h"
#include "Document/ScreenshotOutput.h"
#include "Document/ScreenshotRenderer.h"
#include "Editor/EditorPrompts.h"
#include "Editor/ReferencePins.h"
#include "Editor/TranslationLayers.h"
#include "Errors/AIError.h"
#include "Errors/ScreenshotError.h"
#include "Imaging/ImageDecoding.h"
#include "Platform/AppPaths.h"
#include "Platform/AtomicFile.h"
#include "Platform/Counts.h"
#include "Platform/Pasteboard.h"

#include <QImageReader>
#include <QPointer>

#include <cmath>
#include <system_error>

namespace brevalto {

namespace fs = std::filesystem;

namespace {

QString describe(const std::exception& e) { return QString::fromUtf8(e.what()); }

// The visible rectangle: the crop, or the whole canvas.
QRectF visibleRect(const ScreenshotDocument& document) {
    return document.crop ? document.crop->normalized() : QRectF(QPointF(0, 0), document.canvas);
}

// Where a render of the document starts on the canvas: it covers the visible rectangle made
// integral, one pixel per document unit.
QPoint renderOrigin(const ScreenshotDocument& document) {
    const QRect aligned = visibleRect(document).toAlignedRect();
    return QPoint(std::max(aligned.x(), 0), std::max(aligned.y(), 0));
}

// Commits the open gesture; a failure goes to the status and the caller goes on.
void commitQuietly(ScreenshotDocumentSession& session) {
    try {
        session.commitGesture();
    } catch (const std::exception& e) {
        session.setStatus(describe(e));
    }
}

QByteArray encodePNG(const QImage& image) {
    return ScreenshotOutput::encode(image, ScreenshotOutput::Format::png, QColor(Qt::white), false, 1.0, 0.9);
}

QImage cut(const QImage& image, const QRect& rect, const QString& message) {
    if (rect.isEmpty() || !image.rect().contains(rect)) throw ScreenshotError(message.toStdString());
    QImage part = image.copy(rect);
    if (part.isNull()) throw ScreenshotError(message.toStdString());
    return part;
}

// A private folder of one recognition, removed with its last owner (the task's work or its
// delivery), whichever way the recognition ends.
struct MaskFolder {
    explicit MaskFolder(fs::path folder) : path(std::move(folder)) {}
    MaskFolder(const MaskFolder&) = delete;
    MaskFolder& operator=(const MaskFolder&) = delete;
    fs::path path;
    ~MaskFolder() {
        std::error_code ignored;
        fs::remove_all(path, ignored);
    }
};

// A recognition box (normalised, origin at the bottom left of the recognised image) in document
// coordinates of the rectangle that image shows.
QRectF mapBox(const QRectF& r, const QRectF& B) {
    return QRectF(B.left() + r.left() * B.width(), B.top() + (1 - r.bottom()) * B.height(), r.width() * B.width(),
                  r.height() * B.height());
}

void append(ScreenshotDocument& document, const std::vector<ScreenshotLayer>& layers) {
    for (const ScreenshotLayer& layer : layers) document.layers.push_back(layer);
}

}  // namespace

struct ScreenshotEditorController::MaskJob {
    std::weak_ptr<ScreenshotDocumentSession> session;
    std::shared_ptr<MaskFolder> folder;
    Uuid revision;
    bool wholeImage = false;
    QRectF bounds;
    ScreenshotLayerKind kind = ScreenshotLayerKind::redact;
};

ScreenshotEditorController::ScreenshotEditorController(Pasteboard& board, Defaults& defaults, QObject* parent)
    : QObject(parent), board_(board), defaults_(defaults), executor_(&TaskPool::shared()) {}

ScreenshotEditorController::~ScreenshotEditorController() { ocrTask_.cancel(); }

void ScreenshotEditorController::showError(const QString& message) {
    if (!prompts_) {
        if (!dialogs_) dialogs_ = std::make_unique<DialogEditorPrompts>();
        prompts_ = dialogs_.get();
    }
    prompts_->showError(message);
}

void ScreenshotEditorController::present() {
    if (present_ && session_) present_(session_);
}

// ---- open and finish

void ScreenshotEditorController::open(const std::optional<fs::path>& source, const Uuid& historyID,
                                      const fs::path& directory, double scale) {
    if (session_ && session_->document().historyID == historyID) {
        present();
        return;
    }
    if (session_) commitQuietly(*session_);
    ocrTask_.cancel();

    // A folder that the failed load created is taken away again (only while it is still empty).
    std::error_code error;
    const fs::path folder = directory.empty() ? fs::path() : directory / historyID.string();
    const bool existed = folder.empty() || fs::symlink_status(folder, error).type() != fs::file_type::not_found;
    ScreenshotDocument::Loaded loaded;
    try {
        loaded = ScreenshotDocument::load(directory, historyID, source, scale);
    } catch (const std::exception& e) {
        if (!existed) {
            fs::remove(folder / "assets", error);
            fs::remove(folder, error);
        }
        showError(describe(e));
        return;
    }
    session_ = std::make_shared<ScreenshotDocumentSession>(std::move(loaded.document), loaded.folder, defaults_,
                                                           *executor_);
    pending_.reset();
    runTextMasks(std::nullopt, true);
    present();
}

void ScreenshotEditorController::finishEditing() {
    if (session_) commitQuietly(*session_);
    ocrTask_.cancel();
    ocrTask_ = TaskHandle();
}

// ---- intake

void ScreenshotEditorController::appendCapture(const QImage& image) {
    if (!session_) return;
    try {
        session_->importImages({image}, verticalComposition, compositionSpacing, compositionAlignment);
    } catch (const std::exception& e) {
        session_->setStatus(describe(e));
        return;
    }
    present();
}

void ScreenshotEditorController::importImages(const std::vector<QUrl>& urls) {
    if (urls.size() > static_cast<std::size_t>(maxImportURLs)) throw ScreenshotError(tooManyImagesMessage.toStdString());
    std::vector<QImage> images;
    for (const QUrl& url : urls) {
        const std::string unreadable = unreadableImageMessage.toStdString();
        if (!url.isLocalFile()) throw ScreenshotError(unreadable);
        const fs::path file = url.toLocalFile().toStdString();
        // Only a regular file: a pipe or a device would block or never end.
        std::error_code error;
        const fs::file_status status = fs::status(file, error);
        if (error || status.type() != fs::file_type::regular) throw ScreenshotError(unreadable);
        const std::uintmax_t size = fs::file_size(file, error);
        if (error || size < 1 || size > static_cast<std::uintmax_t>(maxImportBytes)) throw ScreenshotError(unreadable);
        QImageReader reader(QString::fromStdString(file.string()));
        if (!reader.canRead()) throw ScreenshotError(unreadable);
        images.push_back(decodeScreenshotImage(reader));
    }
    if (!session_ || images.empty()) return;
    session_->importImages(images, verticalComposition, compositionSpacing, compositionAlignment);
}

void ScreenshotEditorController::importFiles() {
    if (!prompts_) {
        if (!dialogs_) dialogs_ = std::make_unique<DialogEditorPrompts>();
        prompts_ = dialogs_.get();
    }
    const std::vector<QUrl> urls = prompts_->chooseImageFiles();
    if (urls.empty()) return;
    try {
        importImages(urls);
    } catch (const std::exception& e) {
        if (session_) session_->setStatus(describe(e));
    }
}

void ScreenshotEditorController::importClipboard() {
    if (!session_) return;
    std::weak_ptr<ScreenshotDocumentSession> weak = session_;
    QPointer<ScreenshotEditorController> self(this);
    ScreenshotDocumentSession::readPasteboardImages(
        board_, this, [self, weak](TaskResult<std::vector<QImage>>& result) {
            const auto session = weak.lock();
            if (!self || !session) return;
            try {
                session->importImages(result.get(), self->verticalComposition, self->compositionSpacing,
                                      self->compositionAlignment);
            } catch (const std::exception& e) {
                session->setStatus(describe(e));
            }
        });
}

// ---- rendering for commands

QImage ScreenshotEditorController::selectionImage(bool crop, bool backdrop) {
    if (!session_) throw ScreenshotError(noDocumentMessage.toStdString());
    commitQuietly(*session_);
    const ScreenshotDocument& document = session_->document();
    if (crop && session_->selection()) {
        const QRectF inside = session_->selection()->normalized().intersected(visibleRect(document));
        const QRect r = inside.isEmpty() ? QRect() : inside.toAlignedRect();
        if (r.width() < 1 || r.height() < 1) throw ScreenshotError(outsideSelectionMessage.toStdString());
        const QImage image = session_->renderNow(false);
        return cut(image, r.translated(-renderOrigin(document)), outsideSelectionMessage);
    }
    return session_->renderNow(backdrop);
}

void ScreenshotEditorController::perform(ScreenshotEditorAction action) {
    if (!session_ || !onAction_) throw ScreenshotError(noControllerMessage.toStdString());
    const bool backdrop = action == ScreenshotEditorAction::upload || action == ScreenshotEditorAction::saveAsNewItem;
    const QImage image = selectionImage(true, backdrop);
    if (action == ScreenshotEditorAction::translateText || action == ScreenshotEditorAction::translateImage) {
        const ScreenshotDocument& document = session_->document();
        const QRectF visible = visibleRect(document);
        pending_ = PendingTranslation{document.revision, session_->selection().value_or(visible).intersected(visible)};
    }
    onAction_(action, image);
}

std::optional<Uuid> ScreenshotEditorController::blockingLayer(const QString& reason) const {
    if (!session_) return std::nullopt;
    const ScreenshotDocument& document = session_->document();
    const std::string message = reason.toStdString();
    const auto refuses = [&](const ScreenshotDocument& draft) {
        try {
            ScreenshotRenderer::render(draft, session_->directory(), false, false);
            return false;
        } catch (const std::exception& e) {
            return message == e.what();
        }
    };
    try {
        session_->renderNow(false);  // the preview when it is current
        return std::nullopt;
    } catch (const std::exception& e) {
        if (message != e.what()) return std::nullopt;
    }
    std::vector<std::size_t> visible;
    for (std::size_t i = 0; i < document.layers.size(); ++i)
        if (!document.layers[i].hidden) visible.push_back(i);
    // The document with only its first n visible layers drawn.
    const auto firstLayers = [&](std::size_t n) {
        ScreenshotDocument draft = document;
        for (std::size_t k = n; k < visible.size(); ++k) draft.layers[visible[k]].hidden = true;
        return draft;
    };
    if (visible.empty() || refuses(firstLayers(0))) return std::nullopt;
    // A layer refuses the render whatever is drawn after it: halve the range of counts.
    std::size_t low = 1, high = visible.size();
    while (low < high) {
        const std::size_t middle = low + (high - low) / 2;
        if (refuses(firstLayers(middle)))
            high = middle;
        else
            low = middle + 1;
    }
    return document.layers[visible[low - 1]].id;
}

// ---- translations

std::pair<std::shared_ptr<ScreenshotDocumentSession>, QRectF> ScreenshotEditorController::checkPendingTranslation()
    const {
    if (!session_ || !pending_ || pending_->revision != session_->document().revision)
        throw ScreenshotError(staleTranslationMessage.toStdString());
    return {session_, pending_->bounds};
}

void ScreenshotEditorController::applyTranslatedText(const std::vector<EditableImageRegion>& regions) {
    const auto [session, bounds] = checkPendingTranslation();
    const std::vector<ScreenshotLayer> layers = translationLayers(regions, bounds);
    // A layer that cannot be drawn fails here, before the document changes.
    ScreenshotDocument trial = session->document();
    append(trial, layers);
    ScreenshotRenderer::render(trial, session->directory(), true, false);

    session->edit([&](ScreenshotDocument& document) {
        append(document, layers);
    });
    pending_.reset();
    present();
}

ScreenshotEditorController::TranslationRenderer ScreenshotEditorController::translatedImageRenderer() const {
    const auto [session, bounds] = checkPendingTranslation();
    return [document = session->document(), bounds, folder = session->directory()](
               const std::vector<EditableImageRegion>& regions) {
        const std::vector<ScreenshotLayer> layers = translationLayers(regions, bounds);
        ScreenshotDocument copy = document;
        append(copy, layers);
        const QImage image = ScreenshotRenderer::render(copy, folder, false, false);
        const QRect r = bounds.toAlignedRect().translated(-renderOrigin(copy));
        return encodePNG(cut(image, r, translationOutsideMessage));
    };
}

// ---- text masks and secrets

void ScreenshotEditorController::runTextMasks(std::optional<ScreenshotLayerKind> kind, bool wholeImage) {
    if (!session_) return;
    ocrTask_.cancel();
    ScreenshotDocumentSession& session = *session_;
    if (!recognizer_) {
        if (!wholeImage) session.setStatus(noRecognizerStatus);
        return;
    }
    QImage image;
    try {
        image = selectionImage(!wholeImage, false);
    } catch (const std::exception& e) {
        session.setStatus(describe(e));
        return;
    }

    auto job = std::make_shared<MaskJob>();
    job->session = session_;
    job->revision = session.document().revision;
    job->wholeImage = wholeImage;
    // The rectangle the recognised image shows: what selectionImage cut out, in whole pixels.
    const ScreenshotDocument& document = session.document();
    const QRectF visible = visibleRect(document);
    const QPoint origin = !wholeImage && session.selection()
                              ? session.selection()->normalized().intersected(visible).toAlignedRect().topLeft()
                              : renderOrigin(document);
    job->bounds = QRectF(origin, image.size());

    try {
        const fs::path folder = AppPaths::temporaryRoot() / ("Brevalto-mask-" + Uuid::random().string());
        AtomicFile::createNewFolder(folder);
        job->folder = std::make_shared<MaskFolder>(folder);
        AtomicFile::write(folder / "source.png", encodePNG(image),
                          AtomicWriteOptions{.refuseSymlinks = true, .createFolder = false});
    } catch (const std::exception& e) {
        job->folder.reset();
        session.setStatus(describe(e));
        return;
    }

    if (kind) {
        job->kind = *kind;
    } else {
        const auto current = screenshotLayerKind(session.tool().toStdString());
        const bool effect = current && (*current == ScreenshotLayerKind::blur ||
                                        *current == ScreenshotLayerKind::pixelate ||
                                        *current == ScreenshotLayerKind::erase);
        job->kind = effect ? *current : ScreenshotLayerKind::redact;
    }
    if (!wholeImage) {
        session.setSelectionRect(std::nullopt);
        session.setStatus(maskingStatus);
    }

    TextRecognizer& recognizer = *recognizer_;
    const QUrl source = QUrl::fromLocalFile(QString::fromStdString((job->folder->path / "source.png").string()));
    ocrTask_ = Task::run(
        *executor_, this,
        [&recognizer, source, folder = job->folder](std::stop_token stop) {
            return recognizeText(recognizer, source, QString::fromUtf8(kAutomaticOCRLanguage), std::nullopt, stop);
        },
        [this, job](TaskResult<OCRResult>& result) { finishTextMasks(job, result); });
}

void ScreenshotEditorController::finishTextMasks(const std::shared_ptr<MaskJob>& job, TaskResult<OCRResult>& result) {
    OCRResult found;
    try {
        found = std::move(result.get());
    } catch (const RecognitionCancelled&) {
        return;
    } catch (const TaskCancelled&) {
        return;
    } catch (const std::exception& e) {
        // An image without any text is an empty result, not a failure.
        if (!(dynamic_cast<const AIError*>(&e) && std::string_view(e.what()) == kOCRNoTextMessage)) {
            if (!job->wholeImage && session_) session_->setStatus(describe(e));
            return;
        }
    }
    const auto session = job->session.lock();
    if (!session || session->document().revision != job->revision) return;

    if (!job->wholeImage) {
        std::vector<ScreenshotLayer> layers;
        for (const OCRRegion& region : found.regions) {
            ScreenshotLayer layer;
            layer.kind = job->kind;
            layer.frame = mapBox(region.bounds, job->bounds);
            layer.originalText = region.text.toStdString();
            layer.value = 12;
            layer.style.fill = ScreenshotColor::RGBA{0, 0, 0, 1};
            layers.push_back(std::move(layer));
        }
        try {
            session->edit([&](ScreenshotDocument& document) {
                append(document, layers);
            });
        } catch (const std::exception& e) {
            session->setStatus(describe(e));
            return;
        }
        session->setStatus(QStringLiteral("Added ") +
                           counted(static_cast<long long>(layers.size()), QStringLiteral("line mask"),
                                   QStringLiteral("line masks")) +
                           QStringLiteral(". Check and adjust each box; OCR can miss text."));
        return;
    }

    std::vector<QRectF> frames;
    for (const QRectF& secret : found.secrets) {
        const QRectF frame = mapBox(secret, job->bounds).adjusted(-2, -2, 2, 2).intersected(job->bounds);
        if (!frame.isEmpty()) frames.push_back(frame);
    }
    const int count = static_cast<int>(frames.size());
    session->setSecretCandidates(ScreenshotDocumentSession::SecretCandidates{job->revision, std::move(frames)});
    if (count > 0)
        session->setStatus(QStringLiteral("Found ") + counted(count, QStringLiteral("possible secret"), QStringLiteral("possible secrets")) +
                           QStringLiteral(" (orange). Review, then Redact."));
}

void ScreenshotEditorController::redactSecrets() {
    if (!session_) return;
    ScreenshotDocumentSession& session = *session_;
    std::vector<ScreenshotLayer> layers;
    for (const QRectF& frame : session.secretFrames()) {
        ScreenshotLayer layer;
        layer.kind = ScreenshotLayerKind::redact;
        layer.frame = frame;
        layer.value = 2;
        layer.style.fill = ScreenshotColor::RGBA{0, 0, 0, 1};
        layer.style.filled = true;
        layers.push_back(std::move(layer));
    }
    try {
        session.edit([&](ScreenshotDocument& document) {
            append(document, layers);
        });
    } catch (const std::exception& e) {
        session.setStatus(describe(e));
        return;
    }
    session.setSecretCandidates(std::nullopt);
    session.setStatus(QStringLiteral("Redacted ") + counted(static_cast<long long>(layers.size()), QStringLiteral("area"), QStringLiteral("areas")) +
                      QStringLiteral(" with opaque masks."));
}

// ---- pins

void ScreenshotEditorController::pinReference() {
    const QImage image = selectionImage(true, true);
    std::optional<Uuid> historyID;
    std::optional<fs::path> folder;
    if (session_) {
        historyID = session_->document().historyID;
        folder = session_->directory();
    }
    if (!pins_) return;
    QPointer<ScreenshotEditorController> self(this);
    pins_->showReference(image, [self, historyID, folder] {
        if (self) self->reopenFromReference(historyID, folder);
    });
}

void ScreenshotEditorController::reopenFromReference(const std::optional<Uuid>& historyID,
                                                     const std::optional<fs::path>& folder) {
    const std::optional<Uuid> openID =
        session_ ? std::optional<Uuid>(session_->document().historyID) : std::optional<Uuid>();
    if (openID == historyID) {
        present();
        return;
    }
    if (!historyID || !folder) return;
    // The item may have been deleted since the pin opened: nothing is created for it again.
    std::error_code error;
    const FileStatus place = AtomicFile::status(*folder, error);
    const FileStatus index = place.kind == FileKind::folder ? AtomicFile::status(*folder / "document.json", error)
                                                            : FileStatus{};
    if (index.kind != FileKind::regular) {
        showError(missingDocumentMessage);
        return;
    }
    open(*folder, *historyID, folder->parent_path(), 1.0);
}

}  // namespace brevalto
