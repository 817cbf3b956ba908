#pragma once

#include <QByteArray>
#include <QImage>
#include <QSize>

#include <optional>

namespace brevalto {

// The history's rule for an image: at least one pixel and at most 40 megapixels, of any shape.
bool isStorableImageSize(QSize size);

// The image decoded (its stored size at most 40 megapixels, checked before decoding), turned
// upright and encoded as a PNG of at most 32 MiB; nothing when any step fails. A PNG that already
// has that form (upright 8-bit pixels, no metadata but its colour space) comes back unchanged once
// it has decoded. Any thread.
std::optional<QByteArray> normalizeImageToPNG(const QByteArray& data);
// Pixels as normalizeImageToPNG encodes them; nothing over 40 megapixels or 32 MiB. Any thread.
std::optional<QByteArray> encodeNormalisedPNG(const QImage& image);

}  // namespace brevalto
