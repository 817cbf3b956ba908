#pragma once

#include <QScrollArea>
#include <QWidget>

class QLabel;
class QPushButton;
class QSlider;

namespace brevalto {

class ScreenshotPinState;

// The pinned image at its framed size. Draws the image stretched over its whole area with smooth
// interpolation, at the pin's opacity when the window itself cannot fade.
class ScreenshotPinImage : public QWidget {
    Q_OBJECT
public:
    ScreenshotPinImage(const ScreenshotPinState& state, bool fadeImage, QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

private:
    const ScreenshotPinState& state_;
    bool fadeImage_;
    QImage scaled_;  // the image reduced to the current size, when that is smaller
};

// The image area: a scroll view on both axes whose image fits the area at zoom 1 and grows with
// the zoom beyond it, centred while it is smaller than the area.
class ScreenshotPinImageArea : public QScrollArea {
    Q_OBJECT
public:
    ScreenshotPinImageArea(const ScreenshotPinState& state, bool fadeImage, QWidget* parent = nullptr);

    // The image's framed size for an area of the given size at the state's zoom.
    static QSize imageFrame(QSize image, QSize area, double zoom);

    ScreenshotPinImage* image() const { return image_; }
    void layoutImage();

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    const ScreenshotPinState& state_;
    ScreenshotPinImage* image_;
};

// A pin's content: Lock/Unlock, Editor and Close; the Opacity and Zoom sliders; the image area;
// the footnote. Controls are found by their object names.
class ScreenshotPinView : public QWidget {
    Q_OBJECT
public:
    // The slider positions per unit of opacity and zoom, fine enough to feel continuous.
    static constexpr int kSliderScale = 1000;
    static constexpr const char* kFootnote =
        "Reference window; protected surfaces and some fullscreen apps may cover it.";

    // fadeImage: draw the image at the pin's opacity (when the window itself cannot fade).
    ScreenshotPinView(ScreenshotPinState& state, bool fadeImage, QWidget* parent = nullptr);

    ScreenshotPinState& state() const { return state_; }
    ScreenshotPinImageArea* imageArea() const { return area_; }

private:
    void showLocked(bool locked);

    ScreenshotPinState& state_;
    QPushButton* lock_;
    QSlider* zoom_;
    ScreenshotPinImageArea* area_;
};

}  // namespace brevalto
