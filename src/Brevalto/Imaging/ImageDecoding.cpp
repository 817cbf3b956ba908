#include "Imaging/ImageDecoding.h"

#include "Errors/ScreenshotError.h"
#include "Platform/AtomicFile.h"

#include <QBuffer>
#include <QImageReader>
#include <QUrl>

#include <cmath>
#include <mutex>
#include <system_error>

namespace brevalto {

namespace fs = std::filesystem;

void raiseImageAllocationLimit() {
    static std::once_flag once;
    std::call_once(once, [] {
        // 16 bytes per pixel (four float channels) covers every format Qt decodes into.
        const double bytes = kMaxImagePixels * 16;
        QImageReader::setAllocationLimit(static_cast<int>(std::ceil(bytes / (1024.0 * 1024.0))));
    });
}

QImage decodeScreenshotImage(QImageReader& reader) {
    // The stored size comes from the header, so an oversized image is refused before decoding.
    const QSize stored = reader.size();
    if (!stored.isValid() || stored.isEmpty()) throw ScreenshotError(kUnreadableImageMessage);
    validateImageSize(stored.width(), stored.height());
    reader.setAutoTransform(true);
    QImage image = reader.read();
    if (image.isNull()) throw ScreenshotError(kUndecodableImageMessage);
    return image;
}

QImage loadScreenshotImage(const fs::path& file) {
    std::error_code error;
    const fs::file_status status = fs::status(file, error);
    if (error) throw FileError("Could not read " + file.string() + ": " + error.message());
    // A folder or a special file has no file size to go by: it is not an image file.
    if (!fs::is_regular_file(status)) throw ScreenshotError(kUnreadableImageMessage);
    const std::uintmax_t size = fs::file_size(file, error);
    if (error) throw FileError("Could not read " + file.string() + ": " + error.message());
    if (size == 0 || size > static_cast<std::uintmax_t>(kMaxImageBytes)) throw ScreenshotError(kUnreadableImageMessage);

    std::string bytes;
    try {
        // Bounded again while reading, in case the file grew after its size was taken.
        bytes = AtomicFile::read(file, static_cast<std::uint64_t>(kMaxImageBytes), false);
    } catch (const FileError&) {
        throw ScreenshotError(kUnreadableImageMessage);
    }
    QByteArray data = QByteArray::fromStdString(bytes);
    bytes.clear();
    QBuffer buffer(&data);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    if (!reader.canRead()) throw ScreenshotError(kUnreadableImageMessage);
    return decodeScreenshotImage(reader);
}

QImage loadScreenshotImage(const QUrl& url) {
    if (!url.isLocalFile()) throw ScreenshotError(kUnreadableImageMessage);
    return loadScreenshotImage(fs::path(url.toLocalFile().toStdString()));
}

QImage decodeScreenshotImageData(const QByteArray& data) {
    if (data.isEmpty() || data.size() > kMaxImageBytes) throw ScreenshotError(kInvalidImageBytesMessage);
    QByteArray copy = data;  // shares the bytes; QBuffer needs a non-const array
    QBuffer buffer(&copy);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    if (!reader.canRead()) throw ScreenshotError(kInvalidImageBytesMessage);
    return decodeScreenshotImage(reader);
}

}  // namespace brevalto
