#pragma once

#include "ClipCore/Clip.h"

#include <QImage>
#include <QWidget>

class QLabel;
class QProgressBar;
class QToolButton;

namespace brevalto {

class ClipStore;
class DragSourceView;
class FloatingThumbnail;
class Keyboard;

// The preview image of the thumbnail with the clip's drag source laid over it: a drag carries the
// clip out of the app and holds the thumbnail open meanwhile; a plain click opens the editor.
class ScreenshotThumbnailPreview : public QWidget {
    Q_OBJECT
public:
    static inline const QString accessibleLabel = QStringLiteral("Screenshot preview. Drag to another app.");

    ScreenshotThumbnailPreview(QImage image, DragSourceView* drag, QWidget* parent = nullptr);
    DragSourceView* drag() const { return drag_; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    QImage image_;
    DragSourceView* drag_;
};

// The content of the floating thumbnail: a title bar (close, grip, balance), the preview when the
// store has a thumbnail image for the clip, the row of follow-up buttons and, while there is one,
// the upload status. It follows the thumbnail's upload state and tells it about hover.
class ScreenshotThumbnail : public QWidget {
    Q_OBJECT
public:
    // opaque: the window has no alpha channel, so the background fills it whole.
    ScreenshotThumbnail(Clip item, FloatingThumbnail& workflow, ClipStore& store, Keyboard* keyboard, bool opaque,
                        QWidget* parent = nullptr);

    const Clip& item() const { return item_; }
    ScreenshotThumbnailPreview* preview() const { return preview_; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    void updateUploadState();

    const Clip item_;
    FloatingThumbnail& workflow_;
    bool opaque_;
    ScreenshotThumbnailPreview* preview_ = nullptr;
    QToolButton* upload_ = nullptr;
    QWidget* statusRow_ = nullptr;
    QProgressBar* progress_ = nullptr;
    QLabel* status_ = nullptr;
};

}  // namespace brevalto
