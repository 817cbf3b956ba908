#pragma once

#include "Capture/CaptureCoordinator.h"
#include "Platform/KeyCodes.h"

#include <QImage>
#include <QPointF>
#include <QRectF>
#include <QWidget>

#include <functional>
#include <memory>
#include <optional>

namespace brevalto {

// The selection shared by every view of one frozen-frame selection, in pixels of the frozen
// surface image (origin top-left, y downward).
struct FrozenCaptureSelection {
    std::optional<QPointF> anchor;  // where the current drag began
    QPointF pointer;                // the last pointer position
    std::optional<QRectF> rect;     // the current selection; none until the first drag
};

// One display's part of a frozen frame, on which the user drags a rectangle with a crosshair and
// a loupe, adjusts it with the arrow keys and ends with Return, Space or Escape. Shown as a
// frameless full-screen window over its display; the views of one selection share `shared`.
class FrozenCaptureView : public QWidget {
    Q_OBJECT
public:
    using Completed = std::function<void(CaptureCoordinator::Selection)>;

    FrozenCaptureView(QImage image, double scale, std::shared_ptr<FrozenCaptureSelection> shared, QPointF imageOrigin,
                      bool finishesOnMouseUp, Completed completed, std::function<void()> changed = {},
                      QWidget* parent = nullptr);

    // Shows another frozen frame (or another part of it) with fresh callbacks, so that one window
    // serves selection after selection.
    void reset(QImage image, double scale, std::shared_ptr<FrozenCaptureSelection> shared, QPointF imageOrigin,
               bool finishesOnMouseUp, Completed completed, std::function<void()> changed);

    // Lets go of the frame and the callbacks while the window waits hidden for the next selection.
    void release();

    const std::shared_ptr<FrozenCaptureSelection>& shared() const { return shared_; }
    QPointF imageOrigin() const { return imageOrigin_; }

    // The image pixel under a view point: scaled, offset by the origin, rounded half away from
    // zero and held to 0 ... image size (the far edge included).
    static QPointF imagePoint(QPointF viewPoint, double scale, QPointF imageOrigin, QSize imageSize);
    // "W x H px | w x h pt" and a line break, for a pixel rectangle at `scale`.
    static QString sizeLabel(const QRectF& pixels, double scale);
    // The line of help shown at the bottom of the view.
    static QString hint(bool finishesOnMouseUp, double scale);
    // The rectangle of a drag from `anchor` to `point`, held to the image.
    static QRectF dragRect(QPointF anchor, QPointF point, QSize imageSize);
    // An arrow key applied to a rectangle: moved (or, with Option, resized) by 1 pixel, 10 with
    // Shift, held to the image. None for a key that is not an arrow.
    static std::optional<QRectF> nudged(const QRectF& rect, const KeyPress& key, QSize imageSize);
    // The 20 x 20 pixel square of the image that the loupe magnifies around `pointer`; empty when
    // nothing of the image is there.
    static QRect loupeSource(QPointF pointer, QSize imageSize);

    // Handles one key; false when the key is not one of the selection's.
    bool handleKey(const KeyPress& key);

protected:
    void mouseMoveEvent(QMouseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    QPointF pixelOf(const QMouseEvent& event) const;
    void drag(QPointF point);
    void report(const CaptureCoordinator::Selection& selection);
    void notify();

    QImage image_;
    double scale_;
    std::shared_ptr<FrozenCaptureSelection> shared_;
    QPointF imageOrigin_;
    bool finishesOnMouseUp_;
    Completed completed_;
    std::function<void()> changed_;
};

}  // namespace brevalto
