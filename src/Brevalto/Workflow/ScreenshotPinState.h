#pragma once

#include <QImage>
#include <QObject>
#include <QPointer>

#include <functional>

namespace brevalto {

class ScreenshotReferencePanel;

// What one pin shows and how: its fixed image, its window (held weakly), the caller's reopen
// action, and the opacity, zoom and lock the pin's controls change.
class ScreenshotPinState : public QObject {
    Q_OBJECT
public:
    static constexpr double kMinimumOpacity = 0.15;
    static constexpr double kMinimumZoom = 0.1;
    static constexpr double kMaximumZoom = 4.0;

    ScreenshotPinState(QImage image, ScreenshotReferencePanel* panel, std::function<void()> reopen,
                       QObject* parent = nullptr);

    const QImage& image() const { return image_; }
    ScreenshotReferencePanel* panel() const;
    double opacity() const { return opacity_; }
    double zoom() const { return zoom_; }
    bool locked() const { return locked_; }

    // Kept within 0.15 ... 1.0 and 0.1 ... 4.0.
    void setOpacity(double opacity);
    void setZoom(double zoom);

    // Lock / Unlock: flips `locked`, then fixes or frees the window's position and size.
    void toggleLock();
    // Editor: calls the reopen action; the pin stays open.
    void reopen() const;
    // Close: closes the window, if it still exists.
    void close() const;

signals:
    void opacityChanged(double opacity);
    void zoomChanged(double zoom);
    void lockedChanged(bool locked);

private:
    QImage image_;
    QPointer<ScreenshotReferencePanel> panel_;
    std::function<void()> reopen_;
    double opacity_ = 1.0;
    double zoom_ = 1.0;
    bool locked_ = false;
};

}  // namespace brevalto
