#pragma once

#include "Imaging/ImageLimits.h"

#include <QByteArray>
#include <QImage>

#include <filesystem>

class QImageReader;
class QUrl;

namespace brevalto {

// Qt refuses to decode images above 256 MB of pixels by default. Raises that limit once to fit
// the largest image the size rule admits in the widest pixel format Qt decodes to. main calls it
// before any image is read; calling it again does nothing.
void raiseImageAllocationLimit();

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

}  // namespace brevalto
