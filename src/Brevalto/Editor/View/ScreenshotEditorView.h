#pragma once

#include "Document/ScreenshotColor.h"
#include "Document/ScreenshotDocument.h"
#include "Document/ScreenshotLayer.h"
#include "Document/ScreenshotOutput.h"
#include "Editor/ScreenshotEditorController.h"
#include "Editor/View/EditorTool.h"

#include <QColor>
#include <QPointer>
#include <QWidget>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

class QSpacerItem;

namespace brevalto {

class BackdropPopover;
class EditorStatusLine;
class EditorToolbar;
class ScreenshotCanvasView;
class ScreenshotContextBar;
class ScreenshotDocumentSession;

// The screenshot editor: the toolbar row, the canvas and a two-line status line, over one editing
// session. It keeps only presentation state (export, resize, backdrop, colour and composition
// options, the open inspector panel); everything edited lives in the session, and every widget
// follows the session's change signal for what it shows. Errors of its commands never escape: each
// one's message becomes the status.
class ScreenshotEditorView : public QWidget {
    Q_OBJECT
public:
    // The view's own state and its initial values.
    struct State {
        ScreenshotOutput::Format format = ScreenshotOutput::Format::png;
        bool oneX = false;
        double quality = 0.9;
        bool srgb = true;
        QColor jpegBackground = Qt::white;
        double gifDuration = 1.0;
        double width = 800;
        double height = 600;
        bool aspect = true;
        bool editedWidth = true;
        double percent = 100;
        double padding = 8;
        ScreenshotColor::RGBA foreground{0, 0, 0, 1};
        ScreenshotColor::RGBA background{1, 1, 1, 1};
        QString sampleMode = QStringLiteral("pixel");
        bool vertical = false;
        double spacing = 12;
        double alignment = 0;
    };

    static inline const QString copiedImageStatus = QStringLiteral("Copied image.");
    static inline const QString copiedSelectionStatus = QStringLiteral("Copied selection.");
    static inline const QString noHoverColorStatus = QStringLiteral("Move the pointer over the image to sample a color.");
    static inline const QString selectFirstStatus = QStringLiteral("Select an area first.");
    static inline const QString masksCancelledStatus = QStringLiteral("OCR masks cancelled.");
    // The status after a file was saved.
    static QString savedStatus(const QUrl& file);

    // done closes the editor; the controller is the app's editor controller (held weakly).
    ScreenshotEditorView(std::shared_ptr<ScreenshotDocumentSession> session, ScreenshotEditorController& controller,
                         std::function<void()> done, QWidget* parent = nullptr);
    ~ScreenshotEditorView() override;

    ScreenshotDocumentSession& session() const { return *session_; }
    const std::shared_ptr<ScreenshotDocumentSession>& sharedSession() const { return session_; }
    ScreenshotEditorController* controller() const { return controller_; }
    State& state() { return state_; }
    const State& state() const { return state_; }
    ScreenshotCanvasView* canvas() const { return canvas_; }
    EditorToolbar* toolbar() const { return toolbar_; }
    // The context bar over the canvas (made when first needed).
    ScreenshotContextBar* contextBar();
    EditorStatusLine* statusLine() const { return status_; }
    // The save and print dialogs (Qt's own unless replaced, e.g. by tests).
    ScreenshotOutput::Dialogs& dialogs() const { return *dialogs_; }
    void setDialogs(ScreenshotOutput::Dialogs& dialogs) { dialogs_ = &dialogs; }

    // ---- the open inspector panel (none: no sheet). Closing it ends the open undo step.
    const std::optional<EditorPanel>& panel() const { return panel_; }
    void setPanel(std::optional<EditorPanel> panel);
    // ---- the backdrop popover. Hiding it ends the open undo step.
    bool showBackdrop() const { return showBackdrop_; }
    void setShowBackdrop(bool show);
    BackdropPopover* backdropPopover() const { return popover_; }

    // ---- error reporting: a thrown error's message becomes the status of the controller's session
    // (announced again when the status already said the same)
    void attempt(const std::function<void()>& action);
    void attemptSession(const std::function<void(ScreenshotDocumentSession&)>& operation);
    void sendAction(ScreenshotEditorAction action);

    // The ways an image leaves the editor. A refused one says which it was: "Not copied: " and
    // the reason.
    enum class Output { copy, save, share, upload, print, pin, drag };
    static QString refusedStatus(Output output, const QString& reason);
    // Runs an output; when it throws, refuse() reports it.
    void attemptOutput(Output output, const std::function<void()>& action);
    // The status names the refused output and its reason. When a layer keeps the document from
    // rendering, that layer is selected with the select tool, so that one Delete or a resize
    // clears it, and the status drops the refusal once the document renders again.
    void refuse(Output output, const std::exception& error);

    // ---- tools, panels, colour
    void chooseTool(const EditorTool& tool);
    void openToolStyle();
    void copyHoverColor();

    // ---- the toolbar's commands
    void copyImage();
    void saveImage(bool copyURL);  // throws; called through attempt
    void pinReference();
    void toggleBackdrop();
    void applyBackdrop(const ScreenshotBackdrop& backdrop);
    void removeBackdrop();
    void applySmartCandidate();
    void cancelSmartCandidate();
    void toggleZoom();
    QString sizeText() const;
    void done();

    // ---- the selection bar's commands
    void copySelection();
    void coverSelection(ScreenshotLayerKind kind);
    void cancelSelection();

    // ---- the More menu's handlers
    void resetCrop();
    void autoAdjustSelection();
    void cancelMaskOCR();
    void printImage();

    // ---- the inspector pages' commands
    // The source alone (with its secret covers) then the edited image as a two-frame GIF, saved
    // through the save dialog. Throws; called through attempt.
    void saveBeforeAfterGIF();
    // Composition settings for imports, appended captures and drops: copied to the controller
    // and the canvas when they differ from the view's own.
    void setComposition(bool vertical, double spacing, double alignment);
    // Commits any open step, then applies the change to the document as one undo step. The
    // first commit's failure goes to the status; the last one's is thrown.
    void applyLayoutChange(const std::function<void(ScreenshotDocument&)>& change);
    void arrangeImageLayers();     // throws; called through attempt
    void expandCanvasToObjects();  // errors go to the status
    void applyDimensions();        // errors go to the status
    void applyPercent();           // throws; called through attempt
    // Samples the rendered image into the foreground (true) or the background. Throws.
    void sampleColor(bool foreground);

    // The cross extents of layers for arranging them in a column (widths) or a row (heights).
    std::vector<double> compositionExtents(const std::vector<std::size_t>& indices,
                                           const ScreenshotDocument& document) const;
    // The layer the cover commands add over a rectangle.
    static ScreenshotLayer coverLayer(ScreenshotLayerKind kind, const QRectF& frame);

signals:
    void panelChanged(std::optional<EditorPanel> panel);
    void showBackdropChanged(bool shown);

protected:
    void showEvent(QShowEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    void reportError(const std::exception& error, const QString& prefix = {});
    void focusCanvas();

    std::shared_ptr<ScreenshotDocumentSession> session_;
    QPointer<ScreenshotEditorController> controller_;
    std::function<void()> done_;
    State state_;
    std::optional<EditorPanel> panel_;
    bool showBackdrop_ = false;
    ScreenshotOutput::Dialogs* dialogs_;
    QString refusal_;  // the status of a refusal by a layer, until the document renders again

    EditorToolbar* toolbar_ = nullptr;
    ScreenshotCanvasView* canvas_ = nullptr;
    EditorStatusLine* status_ = nullptr;
    ScreenshotContextBar* contextBar_ = nullptr;
    BackdropPopover* popover_ = nullptr;
    std::vector<QSpacerItem*> dividers_;
};

}  // namespace brevalto
