#pragma once

#include <QRectF>
#include <QString>

#include <vector>

namespace brevalto {

// One recognised line of text. bounds is normalised to 0...1 of the image, with the origin at
// the image's bottom-left corner.
struct OCRRegion {
    QString text;
    QRectF bounds;

    friend bool operator==(const OCRRegion&, const OCRRegion&) = default;
};

// What text recognition found in one image: the lines in reading order, and the rectangles of
// likely secrets (normalised like OCRRegion::bounds).
struct OCRResult {
    std::vector<OCRRegion> regions;
    std::vector<QRectF> secrets;

    friend bool operator==(const OCRResult&, const OCRResult&) = default;
};

}  // namespace brevalto
