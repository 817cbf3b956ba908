#pragma once

#include <QBuffer>
#include <QByteArray>
#include <QImage>
#include <QImageWriter>

#include <gtest/gtest.h>

namespace brevalto {

// The image encoded in a file format ("PNG", "JPEG", "TIFF" ...), optionally tagged with an
// orientation, as another application would put it on the clipboard or on disk.
inline QByteArray encodedImage(const QImage& image, const char* format,
                               QImageIOHandler::Transformations transformation = QImageIOHandler::TransformationNone) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, format);
    writer.setTransformation(transformation);
    EXPECT_TRUE(writer.write(image));
    return bytes;
}

}  // namespace brevalto
