#pragma once

#include <QRectF>
#include <QString>
#include <QStringList>

#include <vector>

namespace brevalto {

// One recognised line of text. bounds is normalised to 0...1 of the image, with the origin at
// the image's bottom-left corner.
struct OCRRegion {
    QString text;
    QRectF bounds;
    float confidence = 0;  // 0...1

    friend bool operator==(const OCRRegion&, const OCRRegion&) = default;
};

// What text recognition found in one image: the lines in reading order, their text joined with
// line feeds, how many lines are uncertain, the distinct QR payloads in ascending order, and the
// rectangles of likely secrets (normalised like OCRRegion::bounds).
struct OCRResult {
    std::vector<OCRRegion> regions;
    QString text;
    int uncertainLines = 0;
    QStringList qrPayloads;
    std::vector<QRectF> secrets;

    friend bool operator==(const OCRResult&, const OCRResult&) = default;
};

}  // namespace brevalto
