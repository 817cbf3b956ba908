#pragma once

#include "ClipCore/Clip.h"
#include "Clipboard/ClipStore.h"

#include <QPointF>
#include <QPointer>
#include <QWidget>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

class QDrag;

namespace brevalto {

class PanelController;
class ScreenshotFilePromise;

// What a clip card hands its drag source: the clip, the store, and what a click, a Ctrl-click,
// the start and the end of a drag and a drop mean for the card.
struct DragHandle {
    std::optional<Clip> item;
    // The item's title as its card shows it; the item's own title when none.
    std::optional<QString> title;
    QPointer<ClipStore> store;  // held weakly
    std::function<void()> began;
    std::function<void()> ended;
    bool showsLabel = true;
    std::function<void()> clicked;
    std::vector<Clip> selectedItems;
    std::function<void()> selectMultiple;
    // The drag ended at point (bottom-left screen points); accepted: the destination took it.
    std::function<void(QPointF point, bool accepted)> dropped;
    // Whether Escape is down when a drag ends; a drag cancelled with Escape drops nothing.
    std::function<bool()> escapeHeld;

    // The handle of a card in the clip list: a drag marks the panel dragActive and takes it off
    // screen until the drag ends, then collapses it; a text clip dropped where it was refused is
    // pasted there (PanelController::dropPaste). selectedItems are the selected image clips in
    // store order; selectMultiple is given for image cards only.
    static DragHandle forCard(PanelController& controller, const Clip& clip, std::vector<Clip> selectedItems,
                              std::function<void()> clicked, std::function<void()> selectMultiple);
};

// The drag source laid over a clip card. A press arms it; a release within 4 points is a click
// (Ctrl-click selects for a group drag when the card allows it); a move beyond 4 points builds the
// drag set (ClipDragSet) and starts a drag that offers texts as plain text and images as PNG file
// promises. When building the set fails, the store's message says why once and the press stays
// disarmed until the button is released, so the failed work is not repeated on every move.
class DragSourceView : public QWidget {
    Q_OBJECT
public:
    static inline const QString accessibleLabel = QStringLiteral("Drag to another app");
    static inline const QString accessibleHelp =
        QStringLiteral("Drag this item to another app, or use the Copy or Paste buttons.");
    static inline const QString acceptedMessage = QStringLiteral("Drop accepted by destination");
    static inline const QString cancelledMessage = QStringLiteral("Drag cancelled or destination did not accept it");
    static inline const QString label = QStringLiteral("\u283F  Drag to another app");

    explicit DragSourceView(QWidget* parent = nullptr);
    ~DragSourceView() override;

    // Takes the card's handle (on every change of the card) and updates what assistive
    // technology is told.
    void update(DragHandle handle);
    const DragHandle& handle() const { return handle_; }

    bool armed() const { return start_.has_value(); }
    bool active() const { return active_; }
    // The promises of the last drag; a target may still ask for their files after the drop.
    const std::vector<std::shared_ptr<ScreenshotFilePromise>>& promises() const { return promises_; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    // Runs the drag session until it ends and answers the action the destination chose.
    virtual Qt::DropAction runDrag(QDrag& drag);
    // Where the drag ended, in bottom-left screen points.
    virtual QPointF endPoint() const;

private:
    void startDrag();
    // The mouse location in bottom-left screen points.
    static QPointF cursorLocation();
    // Reports the end of a drag: the store's message, then ended, then dropped unless Escape is
    // held. Touches nothing of the view, which may be gone by then.
    static void sessionEnded(const DragHandle& handle, Qt::DropAction action, QPointF point);

    DragHandle handle_;
    std::optional<QPointF> start_;
    bool refused_ = false;  // the drag set of this press could not be built
    bool active_ = false;
    std::vector<std::shared_ptr<ScreenshotFilePromise>> promises_;
};

}  // namespace brevalto
