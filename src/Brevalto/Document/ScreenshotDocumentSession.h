#pragma once

#include "ClipCore/Uuid.h"
#include "Document/ScreenshotColor.h"
#include "Document/ScreenshotDocument.h"
#include "Document/ScreenshotRenderer.h"
#include "Platform/Pasteboard.h"
#include "Platform/Task.h"

#include <QImage>
#include <QObject>
#include <QPointF>
#include <QRectF>
#include <QString>

#include <deque>
#include <filesystem>
#include <functional>
#include <optional>
#include <vector>

namespace brevalto {

class Defaults;

// The editing session of one screenshot document, which every editor view binds to. It owns the
// document being edited, the folder that holds it, the tool and style state, the rectangle and
// layer selection, the preview, and a 50-step undo history. Every change of the document is one
// gesture: the document as it stood before becomes an undo step, the new revision gets a fresh
// revision id, is saved into the folder at once and rendered again in the background.
//
// Every assignment of a published property emits changed() with that property. The views may
// assign view state (zoom, pan, selection, status...) directly through the setters. Everything
// here belongs to the GUI thread; renders and smart selections run on the executor and publish
// back on the GUI thread, newest request first: a result for a replaced request or an older
// revision is dropped.
class ScreenshotDocumentSession : public QObject {
    Q_OBJECT
public:
    enum class Property {
        document,
        selectedID,
        selection,
        preview,
        status,
        tool,
        zoom,
        pan,
        snap,
        guides,
        tolerance,
        style,
        nextCounter,
        smartCandidate,
        hoverColor,
        secretCandidates,
        effectMode,
    };
    Q_ENUM(Property)

    struct SecretCandidates {
        Uuid revision;
        std::vector<QRectF> frames;
    };

    // Writes a revision into the document folder; ScreenshotDocument::save unless replaced.
    using Saver = std::function<void(const ScreenshotDocument&, const std::filesystem::path&)>;

    static constexpr int undoLimit = 50;
    static inline const QString initialStatus =
        QStringLiteral("The original image is kept separately. Each gesture is one Undo step.");
    static inline const QString savedStatus = QStringLiteral("Revision saved. The original image is unchanged.");
    static inline const QString smartBusyStatus = QStringLiteral("Computing smart selection. You can cancel.");
    static inline const QString smartReadyStatus =
        QStringLiteral("Orange preview with 3x3 noise filter. Apply or Cancel; adjust tolerance to retry.");
    static inline const QString smartTooLargeStatus =
        QStringLiteral("Smart selection is limited to 4 MP. Select manually for large images.");

    // Starts the first render at once.
    ScreenshotDocumentSession(ScreenshotDocument document, std::filesystem::path directory, Defaults& defaults,
                              TaskExecutor& executor = TaskPool::shared(), Saver saver = {},
                              QObject* parent = nullptr);
    ~ScreenshotDocumentSession() override;

    // ---- published state
    const ScreenshotDocument& document() const { return document_; }
    // The canvas changes the document directly while a gesture is open.
    void setDocument(ScreenshotDocument document);
    const std::optional<Uuid>& selectedID() const { return selectedID_; }
    void setSelectedID(std::optional<Uuid> id);
    const std::optional<QRectF>& selection() const { return selection_; }
    void setSelectionRect(std::optional<QRectF> rect);
    // The latest render of the document; a null image until the first one arrives.
    const QImage& preview() const { return preview_; }
    // The document the preview was rendered from (a gesture's draft while one is drawn).
    const std::optional<ScreenshotDocument>& previewSource() const { return previewSource_; }
    // The document as it is now, drawn with or without its backdrop: the preview when it shows
    // exactly this document, else a render made now. Throws what the renderer throws.
    QImage renderNow(bool backdrop) const;
    const QString& status() const { return status_; }
    void setStatus(QString status);
    const QString& tool() const { return tool_; }
    // Sets the tool alone: no pending step is committed and no stored style is loaded.
    void setTool(QString tool);
    double zoom() const { return zoom_; }
    void setZoom(double zoom);
    QPointF pan() const { return pan_; }
    void setPan(QPointF pan);
    bool snap() const { return snap_; }
    void setSnap(bool snap);
    bool guides() const { return guides_; }
    void setGuides(bool guides);
    double tolerance() const { return tolerance_; }
    void setTolerance(double tolerance);
    const ScreenshotStyle& style() const { return style_; }
    void setStyle(ScreenshotStyle style);
    int nextCounter() const { return nextCounter_; }
    void setNextCounter(int next);
    const std::optional<QRectF>& smartCandidate() const { return smartCandidate_; }
    void setSmartCandidate(std::optional<QRectF> rect);
    const std::optional<ScreenshotColor::RGBA>& hoverColor() const { return hoverColor_; }
    void setHoverColor(std::optional<ScreenshotColor::RGBA> color);
    const std::optional<SecretCandidates>& secretCandidates() const { return secretCandidates_; }
    void setSecretCandidates(std::optional<SecretCandidates> candidates);
    const QString& effectMode() const { return effectMode_; }
    void setEffectMode(QString mode);

    const std::filesystem::path& directory() const { return directory_; }
    const std::deque<ScreenshotDocument>& undoStack() const { return undoStack_; }
    const std::deque<ScreenshotDocument>& redoStack() const { return redoStack_; }
    // The document as it stood when the open gesture began; none when no gesture is open.
    const std::optional<ScreenshotDocument>& editing() const { return editing_; }
    const TaskHandle& renderTask() const { return renderTask_; }
    const TaskHandle& selectionTask() const { return selectionTask_; }

    // Sends a viewport command ("fit", "actual") to the canvas.
    void sendViewport(const QString& command) { emit viewport(command); }

    // ---- gestures
    // Opens a gesture; the first snapshot of an open gesture wins.
    void beginGesture();
    // Closes the open gesture. When the document changed: a new revision id, a save, one undo
    // step, an empty redo stack. A failed save puts the document back as it was before the
    // gesture and throws; the history is unchanged.
    void commitGesture();
    // Runs a mutation of the document as one gesture (any open gesture is committed first).
    void edit(const std::function<void(ScreenshotDocument&)>& mutation);
    // Appends a layer as one gesture and selects it; a counter moves nextCounter past its number.
    void addLayer(const ScreenshotLayer& layer);
    // Restore the previous or next revision (saved under a new revision id). A failed save
    // changes nothing and goes to the status.
    void undo();
    void redo();

    // ---- commands
    // Crops the document to the selection, rounded outwards and clipped to the canvas.
    void crop();
    // Switches the tool and loads its stored style.
    void selectTool(const QString& tool);
    // Stores the current style as the current tool's style.
    void saveStyle();
    // Sets the selection from typed whole-pixel coordinates inside the visible image.
    void setSelection(const QRectF& rect);
    std::optional<ScreenshotLayer> selectedLayer() const;
    // The secret candidates' frames when they belong to the current revision.
    std::vector<QRectF> secretFrames() const;
    // Moves the selected layer by (dx, dy) steps or, with option, resizes it.
    void nudgeSelected(double dx, double dy, double step, bool option);
    // "erase", "redact" or any other mode (blur) applied to the selected layer.
    void applyEffectMode(const QString& mode);
    void updateSelectedStyle(const std::function<void(ScreenshotStyle&)>& change);
    // 0: straight arrow, 1: curved arrow, 2: hand-drawn straight arrow.
    void setArrowVariant(int variant);
    // Rescales the whole document to a new canvas size.
    void resize(double width, double height);
    // Replaces all layers by one image of the current render, backdrop included.
    void flatten();

    // ---- background jobs and image intake
    // Renders the given document, or the current one, into the preview.
    void scheduleRender(std::optional<ScreenshotDocument> document = std::nullopt);
    // Proposes the region around a canvas point as smartCandidate.
    void startSmartSelection(double x, double y);
    // Cancels the running smart selection without a message.
    void cancelSmartSelection();
    // Stores the images as assets and places them after the canvas, as one gesture.
    void importImages(const std::vector<QImage>& images, bool vertical, double spacing, double alignment);
    // The images of a pasteboard's content or of a drop: every local file named by the items'
    // file URLs when there is one, else each item's PNG or TIFF data.
    static std::vector<QImage> pasteboardImages(const std::vector<PasteboardItem>& items);
    // Reads the clipboard's file URLs, else its PNG, else its TIFF data, and hands the images
    // (or the error pasteboardImages throws) to done on the receiver's thread; done is not
    // called when the receiver is gone by then.
    using ImagesReply = std::function<void(TaskResult<std::vector<QImage>>&)>;
    static void readPasteboardImages(Pasteboard& pasteboard, QObject* receiver, ImagesReply done);

    // The style key of a tool in the settings.
    static std::string styleKey(const QString& tool);

signals:
    void changed(ScreenshotDocumentSession::Property property);
    void viewport(const QString& command);

private:
    template <class T>
    void assign(T& field, T value, Property property);
    void commitOpenGesture();
    void runCommand(const std::function<void(ScreenshotDocument&)>& mutation);
    void updateSelected(const std::function<void(ScreenshotLayer&)>& change);
    void restore(std::deque<ScreenshotDocument>& source, std::deque<ScreenshotDocument>& target);
    void setPreview(QImage image);

    ScreenshotDocument document_;
    std::optional<Uuid> selectedID_;
    std::optional<QRectF> selection_;
    QImage preview_;
    std::optional<ScreenshotDocument> previewSource_;  // what preview_ shows
    QString status_ = initialStatus;
    QString tool_ = QStringLiteral("select");
    double zoom_ = 1.0;
    QPointF pan_;
    bool snap_ = true;
    bool guides_ = true;
    double tolerance_ = 0.12;
    ScreenshotStyle style_;
    int nextCounter_ = 1;
    std::optional<QRectF> smartCandidate_;
    std::optional<ScreenshotColor::RGBA> hoverColor_;
    std::optional<SecretCandidates> secretCandidates_;
    QString effectMode_ = QStringLiteral("blur");

    std::filesystem::path directory_;
    Defaults& defaults_;
    TaskExecutor& executor_;
    SerialExecutor renders_;  // one render at a time, so superseded ones never contend
    // The renders so far, to draw the next from; only the render running uses it.
    std::shared_ptr<ScreenshotRenderer::RenderSequence> renderSequence_ =
        std::make_shared<ScreenshotRenderer::RenderSequence>();
    Saver saver_;
    std::deque<ScreenshotDocument> undoStack_;
    std::deque<ScreenshotDocument> redoStack_;
    std::optional<ScreenshotDocument> editing_;
    TaskHandle renderTask_;
    TaskHandle selectionTask_;
    RequestToken renderToken_;
    RequestToken selectionToken_;
};

}  // namespace brevalto
