#include "Capture/ScrollPixelRows.h"

#include "Capture/ScrollFrameSignature.h"

#include <QColorSpace>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <utility>

namespace brevalto {

namespace {

// Grabs of the same 32-bit layout and colour space are compared as they are (their RGBA8 bytes
// are equal exactly when these are); others in RGBA8 sRGB.
bool compareAsTheyAre(const QImage& a, const QImage& b) {
    return a.format() == b.format() && a.colorSpace() == b.colorSpace() &&
           (a.format() == QImage::Format_RGB32 || a.format() == QImage::Format_ARGB32_Premultiplied);
}

QImage rgba(const QImage& image) {
    QImage converted = image;
    if (converted.colorSpace().isValid() && converted.colorSpace() != QColorSpace(QColorSpace::SRgb))
        converted.convertToColorSpace(QColorSpace(QColorSpace::SRgb));
    return converted.convertToFormat(QImage::Format_RGBA8888_Premultiplied);
}

std::uint64_t rowHash(const uchar* row, std::size_t bytes) {
    std::uint64_t hash = 0x243f6a8885a308d3ull;
    std::size_t i = 0;
    for (; i + 8 <= bytes; i += 8) {
        std::uint64_t word;
        std::memcpy(&word, row + i, 8);
        hash = (hash ^ word) * 0x9e3779b97f4a7c15ull;
        hash ^= hash >> 29;
    }
    for (; i < bytes; ++i) hash = (hash ^ row[i]) * 0x100000001b3ull;
    return hash;
}

std::vector<std::uint64_t> rowHashes(const QImage& image, std::size_t bytes) {
    std::vector<std::uint64_t> hashes(static_cast<std::size_t>(image.height()));
    for (int y = 0; y < image.height(); ++y) hashes[static_cast<std::size_t>(y)] = rowHash(image.constScanLine(y), bytes);
    return hashes;
}

// The first column of the scroll-bar strip of a grab `width` pixels wide.
int scrollBarStrip(int width) {
    return (43 * width + ScrollFrameSignature::kColumns - 1) / ScrollFrameSignature::kColumns;
}

// The rows left out at each edge of a grab `height` rows high.
int edgeRows(int height) { return std::max(2, height / 64); }

}  // namespace

ScrollPixelRows::ScrollPixelRows(const QImage& previous, const QImage& current) : previous_(previous), current_(current) {}

bool ScrollPixelRows::prepare() {
    if (std::exchange(prepared_, true)) return comparable_;
    if (previous_.isNull() || current_.isNull() || previous_.size() != current_.size()) return false;
    if (!compareAsTheyAre(previous_, current_)) {
        previous_ = rgba(previous_);
        current_ = rgba(current_);
        if (previous_.isNull() || current_.isNull()) return false;
    }
    bytes_ = static_cast<std::size_t>(scrollBarStrip(current_.width())) * 4;
    previousHashes_ = rowHashes(previous_, bytes_);
    currentHashes_ = rowHashes(current_, bytes_);
    comparable_ = true;
    return true;
}

bool ScrollPixelRows::sameRows(int previousRow, int currentRow, int count) {
    for (int k = 0; k < count; ++k)
        if (previousHashes_[static_cast<std::size_t>(previousRow + k)] != currentHashes_[static_cast<std::size_t>(currentRow + k)])
            return false;
    for (int k = 0; k < count; ++k)
        if (std::memcmp(previous_.constScanLine(previousRow + k), current_.constScanLine(currentRow + k), bytes_) != 0)
            return false;
    return true;
}

bool ScrollPixelRows::matches(int displacement) {
    if (!prepare()) return false;
    const int height = current_.height();
    const int overlap = height - std::abs(displacement);
    const int previousTop = std::max(displacement, 0), currentTop = std::max(-displacement, 0);
    const int edge = edgeRows(height);
    // Overlap rows k: previous row previousTop + k, current row currentTop + k, both off the edges.
    const int first = std::max({edge - currentTop, edge - previousTop, 0});
    const int end = std::min({height - edge - currentTop, height - edge - previousTop, overlap});
    return end > first && sameRows(previousTop + first, currentTop + first, end - first);
}

bool ScrollPixelRows::sameView() {
    const int height = current_.height(), top = height / 10, end = 9 * height / 10;
    return prepare() && end > top && sameRows(top, top, end - top);
}

}  // namespace brevalto
