#pragma once

#include <QByteArray>
#include <QColorSpace>
#include <QImage>
#include <QPainter>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>

class QImageReader;
class QUrl;

namespace brevalto {

// The size rule that every image entering or leaving a screenshot document passes.
inline constexpr std::int64_t kMaxImageBytes = 67'108'864;  // 64 MiB per image file or image data
inline constexpr double kMaxImageSide = 65'536;              // pixels per side
inline constexpr double kMaxImagePixels = 64'000'000;        // ceil(width) * ceil(height)

inline constexpr const char* kInvalidImageSizeMessage =
    "Invalid size. The editor allows up to 64 MP and 65,536 px per side.";
inline constexpr const char* kUnreadableImageMessage = "Could not read the image, or it exceeds 64 MiB.";
inline constexpr const char* kUndecodableImageMessage = "Could not decode the image.";
inline constexpr const char* kInvalidImageBytesMessage = "Invalid image bytes or image exceeds 64 MiB.";
inline constexpr const char* kRenderMemoryMessage = "Not enough memory to render the image.";

// Qt refuses to decode images above 256 MB of pixels by default. Raises that limit once to fit
// the largest image the size rule admits in the widest pixel format Qt decodes to. main calls it
// before any image is read; calling it again does nothing.
void raiseImageAllocationLimit();

// Passes when both sides are finite and within 1 ... 65,536 and ceil(w) * ceil(h) is at most
// 64,000,000; throws ScreenshotError otherwise.
void validateImageSize(double width, double height);

// Reads image 0 of the reader's source: its stored size must be known and pass the size rule
// (checked before anything is decoded), then the full image is decoded and turned upright by its
// orientation. Throws ScreenshotError.
QImage decodeScreenshotImage(QImageReader& reader);

// Reads an image file of 1 ... 64 MiB. A file-system error reading its size passes through as
// FileError; everything else throws ScreenshotError.
QImage loadScreenshotImage(const std::filesystem::path& file);
QImage loadScreenshotImage(const QUrl& url);  // refuses a URL that is not a local file

// Decodes 1 ... 64 MiB of image bytes. Throws ScreenshotError.
QImage decodeScreenshotImageData(const QByteArray& data);

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

// Stateless rendering helpers. Other files add the document renderer to this namespace.
namespace ScreenshotRenderer {

// Makes a context of ceil(width) x ceil(height) pixels after the size rule. The colour space is
// the given one when it is a valid RGB space, else sRGB. Throws ScreenshotError.
BitmapContext rasterize(const std::optional<QColorSpace>& colorSpace, double width, double height);

}  // namespace ScreenshotRenderer

}  // namespace brevalto
