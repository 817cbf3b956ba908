#include "Imaging/BitmapContext.h"

#include "Errors/ScreenshotError.h"
#include "Imaging/ImageLimits.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <vector>

namespace brevalto {

namespace ImageBuffers {

namespace {

// Below this an image takes ordinary memory: small buffers come back from the heap warm anyway.
constexpr std::size_t kSmallest = 4u << 20;
constexpr std::size_t kKept = 2;
// The buffer's size sits in front of its pixels, one cache line ahead.
constexpr std::size_t kHeader = 64;

struct Spare {
    std::mutex mutex;
    std::vector<unsigned char*> blocks;  // newest last
};

Spare& spare() {
    static Spare* s = new Spare;  // never destroyed: images may go after static destruction began
    return *s;
}

std::size_t sizeOf(const unsigned char* block) {
    std::size_t bytes;
    std::memcpy(&bytes, block, sizeof bytes);
    return bytes;
}

void giveBack(void* pixels) {
    unsigned char* block = static_cast<unsigned char*>(pixels) - kHeader;
    Spare& s = spare();
    const std::lock_guard lock(s.mutex);
    s.blocks.push_back(block);
    if (s.blocks.size() > kKept) {
        std::free(s.blocks.front());
        s.blocks.erase(s.blocks.begin());
    }
}

}  // namespace

QImage allocate(int width, int height, QImage::Format format) {
    const qsizetype line = static_cast<qsizetype>(width) * 4;
    const std::size_t bytes = static_cast<std::size_t>(line) * static_cast<std::size_t>(std::max(height, 0));
    if (width <= 0 || height <= 0 || bytes < kSmallest) return QImage(width, height, format);
    unsigned char* block = nullptr;
    {
        Spare& s = spare();
        const std::lock_guard lock(s.mutex);
        for (auto it = s.blocks.rbegin(); it != s.blocks.rend(); ++it)
            if (sizeOf(*it) == bytes) {
                block = *it;
                s.blocks.erase(std::next(it).base());
                break;
            }
    }
    if (!block) {
        block = static_cast<unsigned char*>(std::malloc(kHeader + bytes));
        if (!block) return {};
        std::memcpy(block, &bytes, sizeof bytes);
    }
    QImage image(block + kHeader, width, height, line, format, giveBack, block + kHeader);
    if (image.isNull()) std::free(block);
    return image;
}

void releaseSpare() {
    Spare& s = spare();
    const std::lock_guard lock(s.mutex);
    for (unsigned char* block : s.blocks) std::free(block);
    s.blocks.clear();
}

}  // namespace ImageBuffers

BitmapContext::BitmapContext(int width, int height, const QColorSpace& colorSpace) {
    image_ = std::make_unique<QImage>(ImageBuffers::allocate(width, height, QImage::Format_ARGB32_Premultiplied));
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
