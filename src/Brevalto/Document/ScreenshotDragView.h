#pragma once

#include <QPointF>
#include <QWidget>

#include <exception>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>

class QDrag;

namespace brevalto {

class ScreenshotFilePromise;

// The drag handle of a finished screenshot: a small document symbol that, once the mouse has
// moved more than 4 points with the button down, renders the image, encodes it as PNG and drags
// it out as a ScreenshotFilePromise whose file is created in `folder` when a target asks for it.
// The promise of the last drag stays until the next drag starts, so a target can still ask after
// the drop.
class ScreenshotDragView : public QWidget {
    Q_OBJECT
public:
    static inline const QString accessibleLabel = QStringLiteral("Drag rendered PNG file to another app");

    explicit ScreenshotDragView(QWidget* parent = nullptr);
    ~ScreenshotDragView() override;

    // Renders the image to drag; may throw. Without it, dragging does nothing.
    std::function<QImage()> makeImage;
    // Where the file of a drag is created. Without it, dragging does nothing.
    std::optional<std::filesystem::path> folder;
    // Told why a drag could not start (a render or encoding error).
    std::function<void(const std::exception&)> failed;

    bool active() const { return active_; }
    std::shared_ptr<ScreenshotFilePromise> promise() const { return promise_; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    // Runs the drag session until it ends.
    virtual void runDrag(QDrag& drag);

private:
    void startDrag();

    std::optional<QPointF> start_;
    bool active_ = false;
    std::shared_ptr<ScreenshotFilePromise> promise_;
};

}  // namespace brevalto
