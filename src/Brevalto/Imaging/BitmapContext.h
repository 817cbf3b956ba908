#pragma once

#include <QColorSpace>
#include <QImage>
#include <QPainter>

#include <memory>
#include <optional>

namespace brevalto {

// A bitmap to draw into: a premultiplied ARGB image cleared to transparent, with a painter on it
// set to high-quality resampling. Qt draws with a top-left origin and y pointing down, so callers
// draw in image coordinates. Movable; the painter ends when the image is taken.
class BitmapContext {
public:
    BitmapContext(int width, int height, const QColorSpace& colorSpace);
    BitmapContext(BitmapContext&&) noexcept = default;
    BitmapContext& operator=(BitmapContext&&) = delete;
    ~BitmapContext();

    QPainter& painter() { return *painter_; }
    int width() const { return image_ ? image_->width() : 0; }
    int height() const { return image_ ? image_->height() : 0; }
    QColorSpace colorSpace() const { return image_ ? image_->colorSpace() : QColorSpace(); }
    // Ends painting and hands over the image; the context is empty afterwards.
    QImage takeImage();

private:
    std::unique_ptr<QImage> image_;
    std::unique_ptr<QPainter> painter_;
};

// Large pixel buffers, kept for reuse after their last image goes: a run of renders of one size
// (each step of a slider asks for one) then does not ask the system for fresh memory each time,
// which costs a page fault per 4 KB on first touch. At most two buffers wait for reuse.
namespace ImageBuffers {
// An image of the size and a 32-bit format with its pixels not yet set; a null image when memory
// runs out.
QImage allocate(int width, int height, QImage::Format format);
// Gives the waiting buffers back to the system (an editor closed).
void releaseSpare();
}  // namespace ImageBuffers

// Makes a context of ceil(width) x ceil(height) pixels after the size rule. The colour space is
// the given one when it is a valid RGB space, else sRGB. Throws ScreenshotError.
BitmapContext rasterize(const std::optional<QColorSpace>& colorSpace, double width, double height);

}  // namespace brevalto
