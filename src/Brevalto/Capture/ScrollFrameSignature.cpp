#include "Capture/ScrollFrameSignature.h"

#include "Errors/AIError.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>

namespace brevalto {

namespace {

// Which source pixels make up one signature column. Measured in 48ths of a source pixel, column j
// covers [j W, (j + 1) W): pixels first+1 ... last-1 lie wholly inside it (weight 48 each), the
// first and last pixels partly. A column narrower than one pixel has first == last.
struct ColumnSpan {
    int first = 0;
    int last = 0;
    std::uint64_t firstWeight = 0;
    std::uint64_t lastWeight = 0;
};

std::array<ColumnSpan, ScrollFrameSignature::kColumns> columnSpans(int width) {
    constexpr std::int64_t n = ScrollFrameSignature::kColumns;
    std::array<ColumnSpan, ScrollFrameSignature::kColumns> spans;
    for (std::int64_t j = 0; j < n; ++j) {
        const std::int64_t lo = j * width, hi = (j + 1) * width;
        ColumnSpan& span = spans[static_cast<std::size_t>(j)];
        span.first = static_cast<int>(lo / n);
        span.last = static_cast<int>((hi - 1) / n);
        if (span.first == span.last) {
            span.firstWeight = static_cast<std::uint64_t>(hi - lo);
        } else {
            span.firstWeight = static_cast<std::uint64_t>((span.first + 1) * n - lo);
            span.lastWeight = static_cast<std::uint64_t>(hi - span.last * n);
        }
    }
    return spans;
}

// One premultiplied pixel drawn over opaque white.
struct OverWhite {
    std::uint32_t r, g, b;
};
template <bool Opaque>
inline OverWhite overWhite(QRgb p) {
    const std::uint32_t cover = Opaque ? 0 : 255 - qAlpha(p);
    return {((p >> 16) & 0xff) + cover, ((p >> 8) & 0xff) + cover, (p & 0xff) + cover};
}

// One frame row squeezed into the 48 columns of a signature row.
template <bool Opaque>
void squeezeRow(const QRgb* row, const std::array<ColumnSpan, ScrollFrameSignature::kColumns>& spans,
                std::uint64_t total, std::uint8_t* out) {
    for (int j = 0; j < ScrollFrameSignature::kColumns; ++j) {
        const ColumnSpan& span = spans[static_cast<std::size_t>(j)];
        const OverWhite first = overWhite<Opaque>(row[span.first]);
        std::uint64_t r = first.r * span.firstWeight, g = first.g * span.firstWeight, b = first.b * span.firstWeight;
        if (span.last != span.first) {
            // Pixels wholly inside the column: at most 255 x (width / 48 + 1) a channel.
            std::uint64_t ir = 0, ig = 0, ib = 0;
            int x = span.first + 1;
            if constexpr (Opaque) {
                // Two pixels at a time: blue and red of both in 16-bit lanes, green in 32-bit
                // lanes; 256 pairs at most between flushes, so no lane overflows.
                while (span.last - x >= 2) {
                    const int pairs = std::min((span.last - x) / 2, 256);
                    std::uint64_t redBlue = 0, green = 0;
                    for (int i = 0; i < pairs; ++i, x += 2) {
                        std::uint64_t two;
                        std::memcpy(&two, row + x, sizeof two);
                        redBlue += two & 0x00ff00ff00ff00ffull;
                        green += (two >> 8) & 0x000000ff000000ffull;
                    }
                    ib += (redBlue & 0xffff) + ((redBlue >> 32) & 0xffff);
                    ir += ((redBlue >> 16) & 0xffff) + (redBlue >> 48);
                    ig += (green & 0xffffffff) + (green >> 32);
                }
            }
            for (; x < span.last; ++x) {
                const OverWhite p = overWhite<Opaque>(row[x]);
                ir += p.r;
                ig += p.g;
                ib += p.b;
            }
            const OverWhite last = overWhite<Opaque>(row[span.last]);
            r += ir * ScrollFrameSignature::kColumns + last.r * span.lastWeight;
            g += ig * ScrollFrameSignature::kColumns + last.g * span.lastWeight;
            b += ib * ScrollFrameSignature::kColumns + last.b * span.lastWeight;
        }
        const auto mean = [total](std::uint64_t sum) { return static_cast<int>((sum + total / 2) / total); };
        out[j] = scrollLuma(mean(r), mean(g), mean(b));
    }
}

// The mean of the lowest four of six band scores.
double lowestFourMean(std::array<double, 6> bands) {
    std::sort(bands.begin(), bands.end());
    return (bands[0] + bands[1] + bands[2] + bands[3]) * 0.25;
}

}  // namespace

bool ScrollFrameSignature::comparedRow(int y, int height) {
    const int step = std::max(height / 80, 1);
    return y >= height / 10 && y < 9 * height / 10 && (y - height / 10) % step == 0;
}

std::vector<std::uint8_t> ScrollFrameSignature::comparedRowsOf(std::vector<std::uint8_t> values, int height) {
    for (int y = 0; y < height && std::size_t(y + 1) * kColumns <= values.size(); ++y)
        if (!comparedRow(y, height)) std::fill_n(values.begin() + std::ptrdiff_t(y) * kColumns, kColumns, 0);
    return values;
}

ScrollFrameSignature::ScrollFrameSignature(const QImage& frame, Rows rows) : image(frame) {
    if (frame.isNull() || frame.width() < 1 || frame.height() < 1 || frame.height() > kMaxHeight)
        throw AIError(kFailureMessage);
    const bool opaque = frame.format() == QImage::Format_RGB32;
    const QImage source = opaque || frame.format() == QImage::Format_ARGB32_Premultiplied
                              ? frame
                              : frame.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    if (source.isNull()) throw AIError(kFailureMessage);

    height = frame.height();
    const int frameWidth = frame.width();
    try {
        values.resize(static_cast<std::size_t>(kColumns) * static_cast<std::size_t>(height));
    } catch (const std::bad_alloc&) {
        throw AIError(kFailureMessage);
    }
    const auto spans = columnSpans(frameWidth);
    const std::uint64_t total = static_cast<std::uint64_t>(frameWidth);
    for (int y = 0; y < height; ++y) {
        if (rows == Rows::compared && !comparedRow(y, height)) continue;
        const auto* row = reinterpret_cast<const QRgb*>(source.constScanLine(y));
        std::uint8_t* out = values.data() + static_cast<std::size_t>(y) * kColumns;
        if (opaque)
            squeezeRow<true>(row, spans, total, out);
        else
            squeezeRow<false>(row, spans, total, out);
    }
}

double ScrollFrameSignature::difference(const ScrollFrameSignature& a, const ScrollFrameSignature& b) {
    if (a.height != b.height || a.width != b.width) return 1.0;
    const int h = a.height;
    const int step = std::max(h / 80, 1);
    std::array<std::uint64_t, 6> sums{};
    std::uint64_t compared = 0;
    for (int y = h / 10; y < 9 * h / 10; y += step) {
        const std::uint8_t* pa = a.values.data() + static_cast<std::size_t>(y) * a.width;
        const std::uint8_t* pb = b.values.data() + static_cast<std::size_t>(y) * b.width;
        for (int k = 0; k < 6; ++k)
            for (int c = 7 * k + 2; c <= 7 * k + 7; ++c) sums[static_cast<std::size_t>(k)] += std::abs(pa[c] - pb[c]);
        compared += 6;
    }
    const double divisor = static_cast<double>(std::max<std::uint64_t>(compared, 1)) * 255.0;
    std::array<double, 6> bands{};
    for (std::size_t k = 0; k < 6; ++k) bands[k] = static_cast<double>(sums[k]) / divisor;
    return lowestFourMean(bands);
}

}  // namespace brevalto
