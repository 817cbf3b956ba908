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

// Four words at a time in four independent lanes, so that the multiplications overlap.
std::uint64_t rowHash(const uchar* row, std::size_t bytes) {
    constexpr std::uint64_t kMultiplier = 0x9e3779b97f4a7c15ull;
    std::uint64_t lanes[4] = {0x243f6a8885a308d3ull, 0x13198a2e03707344ull, 0xa4093822299f31d0ull, 0x082efa98ec4e6c89ull};
    std::size_t i = 0;
    for (; i + 32 <= bytes; i += 32)
        for (int k = 0; k < 4; ++k) {
            std::uint64_t word;
            std::memcpy(&word, row + i + 8 * k, 8);
            lanes[k] = (lanes[k] ^ word) * kMultiplier;
            lanes[k] ^= lanes[k] >> 29;
        }
    std::uint64_t hash = bytes;
    for (const std::uint64_t lane : lanes) hash = ((hash ^ lane) * kMultiplier) ^ (hash >> 31);
    for (; i < bytes; ++i) hash = (hash ^ row[i]) * 0x100000001b3ull;
    return hash ^ (hash >> 29);
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

// The fewest compared rows that still bands may leave.
int minimumOverlap(int height) { return std::max(height / 5, 48); }

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
    // The still bands: past the edge rows, the rows that are the same at the same place in both
    // grabs, from each edge inward.
    const int height = current_.height();
    stillTop_ = stillBottom_ = edgeRows(height);
    while (stillTop_ < height - stillBottom_ && sameRows({stillTop_, stillTop_, 1})) ++stillTop_;
    while (height - stillBottom_ > stillTop_ && sameRows({height - stillBottom_ - 1, height - stillBottom_ - 1, 1}))
        ++stillBottom_;
    comparable_ = true;
    return true;
}

void ScrollPixelRows::hash() {
    if (!previousHashes_.empty()) return;
    previousHashes_ = rowHashes(previous_, bytes_);
    currentHashes_ = rowHashes(current_, bytes_);
}

// The rows compared at displacement d: current rows y with y and y + d both at least `top` rows
// below the top edge and `bottom` rows above the bottom one. Both still bands are left out, or
// the wider one alone, or the other, whichever first leaves enough rows; else the edge rows only.
ScrollPixelRows::Span ScrollPixelRows::compared(int displacement) const {
    const int height = current_.height(), edge = edgeRows(height);
    const auto span = [&](int top, int bottom) {
        const int first = std::max(top, top - displacement);
        const int end = std::min(height - bottom, height - bottom - displacement);
        return Span{first + displacement, first, std::max(end - first, 0), bottom};
    };
    const bool topWider = stillTop_ >= stillBottom_;
    for (const Span& still : {span(stillTop_, stillBottom_), topWider ? span(stillTop_, edge) : span(edge, stillBottom_),
                              topWider ? span(edge, stillBottom_) : span(stillTop_, edge)})
        if (still.count >= minimumOverlap(height)) return still;
    return span(edge, edge);
}

// Rows compared on their hashes first where every row is hashed, then on their bytes.
bool ScrollPixelRows::sameRows(const Span& span) const {
    if (!previousHashes_.empty())
        for (int k = 0; k < span.count; ++k)
            if (previousHashes_[static_cast<std::size_t>(span.previousRow + k)] !=
                currentHashes_[static_cast<std::size_t>(span.currentRow + k)])
                return false;
    for (int k = 0; k < span.count; ++k)
        if (std::memcmp(previous_.constScanLine(span.previousRow + k), current_.constScanLine(span.currentRow + k), bytes_) != 0)
            return false;
    return true;
}

bool ScrollPixelRows::matches(int displacement) {
    if (!prepare()) return false;
    const Span span = compared(displacement);
    return span.count > 0 && sameRows(span);
}

ScrollPixelRows::Rows ScrollPixelRows::comparedRows(int displacement) {
    if (!prepare()) {  // grabs that cannot be compared: only the edge rows are left out
        const int height = current_.height(), edge = edgeRows(height);
        const int first = std::max(edge, edge - displacement);
        return {first, std::max(first, std::min(height - edge, height - edge - displacement))};
    }
    const Span span = compared(displacement);
    const int edge = edgeRows(current_.height());
    return {span.currentRow, span.currentRow + span.count, span.bottom > edge ? span.bottom : 0};
}

std::vector<int> ScrollPixelRows::matchingShifts(int shift, int limit) {
    std::vector<int> found;
    if (!prepare()) return found;
    hash();
    for (int d = -shift; d <= shift && static_cast<int>(found.size()) < limit; ++d)
        if (matches(d)) found.push_back(d);
    return found;
}

bool ScrollPixelRows::sameView() {
    if (!prepare()) return false;
    const int height = current_.height(), top = height / 10, end = 9 * height / 10;
    return end > top && sameRows({top, top, end - top});
}

}  // namespace brevalto
