#pragma once

#include "ClipCore/Uuid.h"
#include "Document/ScreenshotColor.h"
#include "Document/ScreenshotDocument.h"
#include "Document/ScreenshotLayer.h"

#include <QImage>
#include <QPointF>
#include <QRectF>
#include <QWidget>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

class QMimeData;

namespace brevalto {

class ScreenshotDocumentSession;
struct KeyPress;

// The editor's drawing canvas: shows the session's latest render at a zoom and pan of its own,
// maps the pointer between view and document coordinates, samples the colour under the pointer
// and turns pointer gestures, keys and drops into edits of the session. It keeps no document of
// its own: what it shows is read from the session, and every change goes through the session.
// It handles Escape itself, so the panel leaves that key to it while it has the keyboard focus.
class ScreenshotCanvasView : public QWidget {
    Q_OBJECT
public:
    static inline const QString accessibleLabel = QStringLiteral(
        "Screenshot canvas. Choose a tool, drag to create or move. Arrow keys nudge one pixel; Shift ten; Alt "
        "resizes.");
    static constexpr double minZoom = 0.03;
    static constexpr double maxZoom = 32;
    static constexpr int maxPathPoints = 20'000;

    explicit ScreenshotCanvasView(std::shared_ptr<ScreenshotDocumentSession> session, QWidget* parent = nullptr);
    ~ScreenshotCanvasView() override;

    ScreenshotDocumentSession& session() const { return *session_; }

    // How images dropped onto the canvas are laid out: a column when vertical, else a row.
    void setDropLayout(bool vertical, double spacing, double alignment);
    // The editor's actions: copy the sampled colour (Tab), mask text in the selection, and leave
    // the editor (Escape with nothing selected).
    void setCopyColor(std::function<void()> action) { copyColor_ = std::move(action); }
    void setMaskText(std::function<void(std::optional<ScreenshotLayerKind>)> action) { maskText_ = std::move(action); }
    void setClose(std::function<void()> action) { close_ = std::move(action); }

    // ---- geometry, from the session's document, zoom and pan and the view's size
    double backdropMargin() const;
    QSizeF displaySize() const;
    QPointF imageOrigin() const;
    QPointF imagePoint(QPointF view) const;
    QPointF viewPoint(QPointF document) const;
    QRectF viewRect(const QRectF& document) const;
    // Where the session's preview is drawn: the visible image of the document it was rendered from,
    // with that document's backdrop margin, at the view's zoom and pan. While the document cannot
    // be rendered (a text that does not fit), the last good render stays at its own size and place
    // instead of being stretched over a visible image it was not rendered for.
    QRectF previewRect() const;
    // "actual", "selection", or anything else for "fit".
    void applyViewport(const QString& command);
    // Zooms by factor, keeping the document point under the view point in place.
    void zoomAbout(double factor, QPointF view);

    // Undo and redo, as the Edit menu sends them.
    void undo();
    void redo();

    // ---- the running gesture, for the overlay and for tests
    const std::optional<ScreenshotLayer>& draft() const { return draft_; }
    const std::optional<QRectF>& dragRect() const { return dragRect_; }
    const std::optional<Uuid>& moveID() const { return moveID_; }
    const std::optional<QPointF>& handle() const { return handle_; }
    bool controlPointGrabbed() const { return controlPoint_; }
    bool lensDragging() const { return lensDrag_.has_value(); }
    const std::optional<ScreenshotLayer>& lensPreview() const { return lensPreview_; }
    bool selectingArea() const { return selectingArea_; }
    bool panning() const { return panning_; }
    const std::vector<QPointF>& path() const { return path_; }
    QPointF anchor() const { return anchor_; }
    const std::optional<QPointF>& rulerEnd() const { return rulerEnd_; }

    // The images of a drop: local files from "text/uri-list", else PNG or TIFF data.
    static std::vector<QImage> dropImages(const QMimeData& data);
    // Imports the dropped images into the document; false with the reason in the status.
    bool importDrop(const QMimeData& data);
    // Deletes a layer as one undo step and clears the layer selection (the Delete key, the object
    // inspector's Delete). A delete that cannot be saved keeps the layer and its selection, and
    // the status says so with the reason.
    static void deleteLayer(ScreenshotDocumentSession& session, const Uuid& id);
    static inline const QString deleteFailedPrefix = QStringLiteral("Could not delete the object: ");

protected:
    bool event(QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    struct LensDrag {
        bool resize = false;
        QRectF start;
    };

    QRectF content() const;
    QRectF canvasRect() const;
    void hover(QPointF view);
    void takeFocus();
    bool textFieldHasFocus() const;
    // Whether the key was handled; an unhandled key goes on to the parent.
    bool handleKey(const KeyPress& press, Qt::Key key);
    void setStatus(const std::exception& error);

    void pressed(QPointF view, bool middle);
    void pressedSelect();
    void dragged(QPointF view);
    void draggedLens(QPointF p);
    void draggedMove(QPointF p);
    void released(QPointF view);
    void releasedMove(QPointF p);
    void finishDraft(QPointF p);
    void measureEdges(QPointF p);
    void resetGesture();
    void previewMagnifier(const ScreenshotLayer& magnifier);

    // Repaints what the gesture overlay covered before and covers now.
    void updateOverlay();
    void updatePreview();
    bool sameHandles(const std::optional<ScreenshotLayer>& layer) const;
    QRectF overlayBounds() const;
    void drawHandle(QPainter& painter, QPointF view) const;
    void drawOverlay(QPainter& painter) const;
    const QImage& scaledPreview(const QSize& size);

    std::shared_ptr<ScreenshotDocumentSession> session_;
    bool vertical_ = false;
    double spacing_ = 12;
    double alignment_ = 0;
    std::function<void()> copyColor_;
    std::function<void(std::optional<ScreenshotLayerKind>)> maskText_;
    std::function<void()> close_;

    bool selectingArea_ = false;
    std::optional<ScreenshotColor::Pixels> pixels_;
    qint64 pixelsKey_ = 0;
    bool initialFit_ = true;
    std::optional<double> fitted_;  // the zoom of the last fit
    QSizeF fittedDisplay_;          // and the size of the visible image it fitted
    QSizeF paintedDisplay_;         // the size of the visible image at the last document change
    std::optional<ScreenshotLayer> paintedHandles_;  // the selected layer the overlay last drew
    std::optional<ScreenshotDocument> paintedSource_;  // what the preview on screen was rendered from

    // Gesture state, from button press to release.
    bool gesture_ = false;
    QPointF anchor_;
    QPointF viewAnchor_;
    QRectF originalFrame_;
    std::optional<ScreenshotLayer> draft_;
    std::optional<Uuid> moveID_;
    std::optional<QPointF> handle_;
    bool controlPoint_ = false;
    std::optional<LensDrag> lensDrag_;
    std::optional<ScreenshotLayer> lensPreview_;
    bool panning_ = false;
    std::vector<QPointF> path_;
    QRectF pathBounds_;
    std::optional<QRectF> dragRect_;
    std::optional<QPointF> rulerEnd_;

    QRectF lastOverlay_;
    QImage scaled_;
    qint64 scaledKey_ = 0;
};

}  // namespace brevalto
