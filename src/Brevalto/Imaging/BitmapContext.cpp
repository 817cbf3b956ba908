#include "Imaging/BitmapContext.h"

#include "Errors/ScreenshotError.h"
#include "Imaging/ImageLimits.h"

#include <cmath>

namespace brevalto {

BitmapContext::BitmapContext(int width, int height, const QColorSpace& colorSpace) {
    image_ = std::make_unique<QImage>(width, height, QImage::Format_ARGB32_Premultiplied);
    if (image_->isNull()) throw ScreenshotError(kRenderMemoryMessage);
    image_->fill(Qt::transparent);
    image_->setColorSpace(colorSpace);
    painter_ = std::make_unique<QPainter>(image_.get());
    if (!painter_->isActive()) throw ScreenshotError(kRenderMemoryMessage);
    painter_->setRenderHints(QPainter::SmoothPixmapTransform | QPainter::Antialiasing | QPainter::TextAntialiasing);
}

BitmapContext::~BitmapContext() {
    painter_.reset();  // the painter ends before its image goes
}

QImage BitmapContext::takeImage() {
    if (!image_) return {};
    painter_.reset();
    QImage image = std::move(*image_);
    image_.reset();
    return image;
}

BitmapContext rasterize(const std::optional<QColorSpace>& colorSpace, double width, double height) {
    validateImageSize(width, height);
    const QColorSpace space = colorSpace && colorSpace->isValid() ? *colorSpace : QColorSpace(QColorSpace::SRgb);
    return BitmapContext(static_cast<int>(std::ceil(width)), static_cast<int>(std::ceil(height)), space);
}

}  // namespace brevalto
