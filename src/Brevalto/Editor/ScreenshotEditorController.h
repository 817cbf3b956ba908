#pragma once

#include "AI/EditableImageRegion.h"
#include "ClipCore/Uuid.h"
#include "Document/ScreenshotLayer.h"
#include "Platform/Task.h"

#include <QByteArray>
#include <QImage>
#include <QObject>
#include <QRectF>
#include <QUrl>

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

namespace brevalto {

class Defaults;
class EditorPrompts;
class Pasteboard;
class ReferencePins;
class ScreenshotDocumentSession;
class TextRecognizer;
struct OCRResult;

// The editor's commands that the screenshot workflow carries out with the rendered image.
enum class ScreenshotEditorAction { captureAppend, ocr, translateText, translateImage, upload, saveAsNewItem };

// Drives the screenshot editor. It owns the one open editing session: it opens the document of a
// history item (or shows it again), composes captures, image files and clipboard images into it,
// renders the selection for the editor's commands and hands it to the workflow, takes translated
// text back into the document, makes text masks and secret candidates by text recognition on the
// device, redacts secrets and pins the selection as a reference. Every edit is one undo step.
// Everything runs on the GUI thread; only recognition works in the background.
class ScreenshotEditorController : public QObject {
    Q_OBJECT
public:
    // The workflow's handler of an editor command with its rendered image.
    using ActionHandler = std::function<void(ScreenshotEditorAction, const QImage&)>;
    // Shows the editor for a session.
    using Presenter = std::function<void(const std::shared_ptr<ScreenshotDocumentSession>&)>;
    // Renders a PNG preview of the requested rectangle with the given translations.
    using TranslationRenderer = std::function<QByteArray(const std::vector<EditableImageRegion>&)>;

    struct PendingTranslation {
        Uuid revision;
        QRectF bounds;  // document coordinates
    };

    static inline const QString noControllerMessage = QStringLiteral("This action needs the app controller.");
    static inline const QString noDocumentMessage = QStringLiteral("No document is open.");
    static inline const QString outsideSelectionMessage = QStringLiteral("The selection is outside the visible image.");
    static inline const QString staleTranslationMessage = QStringLiteral(
        "The document changed or has no translation request. Translate again; old results do not overwrite newer "
        "revisions.");
    static inline const QString translationOutsideMessage = QStringLiteral("Translation selection is outside the image.");
    static inline const QString tooManyImagesMessage = QStringLiteral("Select up to 32 images at a time.");
    static inline const QString unreadableImageMessage =
        QStringLiteral("Could not read the image, or it exceeds 64 MiB.");
    static inline const QString missingDocumentMessage = QStringLiteral("Saved document or source image is missing.");
    static inline const QString maskingStatus =
        QStringLiteral("On-device OCR is creating line masks. The image is not uploaded.");
    static inline const QString noRecognizerStatus = QStringLiteral("Text recognition is not available.");

    static constexpr int maxImportURLs = 32;
    static constexpr std::int64_t maxImportBytes = 67'108'864;

    // board: the pasteboard the clipboard import reads; defaults: the settings of the sessions.
    ScreenshotEditorController(Pasteboard& board, Defaults& defaults, QObject* parent = nullptr);
    ~ScreenshotEditorController() override;

    // ---- wiring (set once by the workflow and the app)
    void setOnAction(ActionHandler handler) { onAction_ = std::move(handler); }
    void setPresent(Presenter present) { present_ = std::move(present); }
    // Where pinned references open.
    ReferencePins* pins() const { return pins_; }
    void setPins(ReferencePins* pins) { pins_ = pins; }
    // The recognizer of text masks and the secret scan (not owned); none: no recognition.
    void setRecognizer(TextRecognizer* recognizer) { recognizer_ = recognizer; }
    // Alerts and the open panel (not owned); none: message boxes and file dialogs.
    void setPrompts(EditorPrompts* prompts) { prompts_ = prompts; }
    // Where sessions render and recognition runs; the shared pool unless replaced (tests).
    void setExecutor(TaskExecutor& executor) { executor_ = &executor; }
    // Where save dialogs start; none set: the Pictures folder.
    void setSaveFolder(std::function<std::filesystem::path()> folder) { saveFolder_ = std::move(folder); }
    std::optional<std::filesystem::path> saveFolder() const {
        return saveFolder_ ? std::optional(saveFolder_()) : std::nullopt;
    }

    // ---- state
    Pasteboard& board() const { return board_; }
    const std::shared_ptr<ScreenshotDocumentSession>& session() const { return session_; }
    const std::optional<PendingTranslation>& pending() const { return pending_; }
    // The running text recognition of the open document, if any.
    const TaskHandle& ocrTask() const { return ocrTask_; }
    void setOCRTask(TaskHandle task) { ocrTask_ = std::move(task); }
    // Composition of imported images: a column (true) or a row, the gap and the cross alignment.
    bool verticalComposition = false;
    double compositionSpacing = 12.0;
    double compositionAlignment = 0.0;

    // ---- commands
    // Opens the history item's document (created from the source image on first use) in a new
    // session, starts the secret scan and presents it; the item already open is only presented
    // again. A failed load is shown in an alert and keeps the previous session.
    void open(const std::optional<std::filesystem::path>& source, const Uuid& historyID,
              const std::filesystem::path& directory, double scale);
    // Commits the open session's pending gesture and cancels a running recognition. Leaves the
    // session and its document open; safe when nothing is open.
    void finishEditing();
    // Composes a capture into the open document and presents it; errors go to the status.
    void appendCapture(const QImage& image);
    // Composes image files into the open document, all or nothing (throws ScreenshotError).
    void importImages(const std::vector<QUrl>& urls);
    // importImages with the files chosen in the open panel; errors go to the status.
    void importFiles();
    // Composes the clipboard's images into the open document; errors go to the status.
    void importClipboard();
    // The selection rendered without backdrop (crop) or the whole document render.
    QImage selectionImage(bool crop, bool backdrop);
    // Renders the selection for an editor command and hands it to the action handler.
    void perform(ScreenshotEditorAction action);
    // When the open document does not render for this reason: the first visible layer whose
    // drawing refuses it (nothing drawn after it changes that). None when the document renders,
    // fails for another reason or fails with no layer drawn.
    std::optional<Uuid> blockingLayer(const QString& reason) const;
    // The open session and requested rectangle of the outstanding translation, when it still
    // belongs to the document's revision.
    std::pair<std::shared_ptr<ScreenshotDocumentSession>, QRectF> checkPendingTranslation() const;
    // Adds the translated text to the document inside the requested rectangle, as one undo step.
    void applyTranslatedText(const std::vector<EditableImageRegion>& regions);
    // A renderer of previews of the requested rectangle with translations; never changes the session.
    TranslationRenderer translatedImageRenderer() const;
    // Starts recognition that adds line masks of a kind (wholeImage false: inside the selection)
    // or records secret candidates of the whole visible image (wholeImage true).
    void runTextMasks(std::optional<ScreenshotLayerKind> kind, bool wholeImage);
    // Covers the current secret candidates with opaque redactions.
    void redactSecrets();
    // Opens the selection in a pinned reference whose reopen action returns to this document.
    void pinReference();

private:
    struct MaskJob;
    void finishTextMasks(const std::shared_ptr<MaskJob>& job, TaskResult<OCRResult>& result);
    void reopenFromReference(const std::optional<Uuid>& historyID, const std::optional<std::filesystem::path>& folder);
    void showError(const QString& message);
    void present();

    Pasteboard& board_;
    Defaults& defaults_;
    TaskExecutor* executor_;
    ActionHandler onAction_;
    Presenter present_;
    std::function<std::filesystem::path()> saveFolder_;
    ReferencePins* pins_ = nullptr;
    TextRecognizer* recognizer_ = nullptr;
    EditorPrompts* prompts_ = nullptr;
    std::unique_ptr<EditorPrompts> dialogs_;
    std::shared_ptr<ScreenshotDocumentSession> session_;
    std::optional<PendingTranslation> pending_;
    TaskHandle ocrTask_;
};

}  // namespace brevalto
