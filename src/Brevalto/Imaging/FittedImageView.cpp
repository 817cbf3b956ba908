#include "Imaging/FittedImageView.h"

#include <QPainter>

namespace brevalto {

void FittedImageView::setImage(const QImage& image) {
    image_ = image;
    update();
}

void FittedImageView::paintEvent(QPaintEvent*) {
    if (image_.isNull()) return;
    QPainter painter(this);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    const QSizeF size = QSizeF(image_.size()).scaled(QSizeF(this->size()), Qt::KeepAspectRatio);
    const QPointF origin((width() - size.width()) / 2, (height() - size.height()) / 2);
    painter.drawImage(QRectF(origin, size), image_);
}

}  // namespace brevalto
