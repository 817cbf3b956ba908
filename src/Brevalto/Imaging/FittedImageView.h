#pragma once

#include <QImage>
#include <QWidget>

namespace brevalto {

// Shows an image scaled to fit with its aspect ratio kept, centred.
class FittedImageView : public QWidget {
public:
    using QWidget::QWidget;

    void setImage(const QImage& image);
    const QImage& image() const { return image_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QImage image_;
};

}  // namespace brevalto
