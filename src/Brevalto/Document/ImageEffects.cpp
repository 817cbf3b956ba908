#include "Document/ImageEffects.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

namespace brevalto::ImageEffects {

namespace {

// Widths of three box filters whose succession approximates a Gaussian of the given sigma: odd
// widths wl and wl + 2, as many of each as brings the variance closest to sigma squared.
std::array<int, 3> boxWidths(double sigma) {
    constexpr int passes = 3;
    const double ideal = std::sqrt(12 * sigma * sigma / passes + 1);
    int lower = static_cast<int>(std::floor(ideal));
    if (lower % 2 == 0) --lower;
    lower = std::max(lower, 1);
    const int upper = lower + 2;
    const double mIdeal = (12 * sigma * sigma - passes * lower * lower - 4.0 * passes * lower - 3.0 * passes) /
                          (-4.0 * lower - 4);
    const int m = static_cast<int>(std::lround(std::clamp(mIdeal, 0.0, 3.0)));
    std::array<int, 3> widths{};
    for (int i = 0; i < passes; ++i) widths[i] = i < m ? lower : upper;
    return widths;
}

// Fixed-point reciprocal of a box width: (sum * scale + half) >> 24 is the rounded mean.
std::uint64_t reciprocal(int width) { return static_cast<std::uint64_t>(std::lround((1 << 24) / double(width))); }

std::uint8_t meanOf(std::uint32_t sum, std::uint64_t scale) {
    const std::uint64_t v = (sum * scale + (1u << 23)) >> 24;
    return static_cast<std::uint8_t>(std::min<std::uint64_t>(v, 255));
}

// One box pass along each row, edges clamped. `line` holds a copy of the row being read.
template <int N>
void boxRows(std::uint8_t* bits, qsizetype stride, int width, int height, int radius,
             std::vector<std::uint8_t>& line) {
    const std::uint64_t scale = reciprocal(2 * radius + 1);
    line.resize(static_cast<std::size_t>(width) * N);
    for (int y = 0; y < height; ++y) {
        std::uint8_t* row = bits + y * stride;
        std::memcpy(line.data(), row, line.size());
        const std::uint8_t* in = line.data();
        std::uint32_t sum[N];
        for (int c = 0; c < N; ++c) {
            sum[c] = static_cast<std::uint32_t>(radius + 1) * in[c];
            for (int j = 1; j <= radius; ++j) sum[c] += in[std::min(j, width - 1) * N + c];
        }
        for (int x = 0; x < width; ++x) {
            const int add = std::min(x + radius + 1, width - 1) * N;
            const int drop = std::max(x - radius, 0) * N;
            for (int c = 0; c < N; ++c) {
                row[x * N + c] = meanOf(sum[c], scale);
                sum[c] += in[add + c];
                sum[c] -= in[drop + c];
            }
        }
    }
}

// One box pass along each column, edges clamped: reads `from`, writes `to`, a row at a time so
// both stay in cache order.
template <int N>
void boxColumns(const std::uint8_t* from, qsizetype fromStride, std::uint8_t* to, qsizetype toStride, int width,
                int height, int radius, std::vector<std::uint32_t>& sums) {
    const std::uint64_t scale = reciprocal(2 * radius + 1);
    const int count = width * N;
    sums.assign(static_cast<std::size_t>(count), 0);
    for (int j = -radius; j <= radius; ++j) {
        const std::uint8_t* row = from + std::clamp(j, 0, height - 1) * fromStride;
        for (int i = 0; i < count; ++i) sums[i] += row[i];
    }
    for (int y = 0; y < height; ++y) {
        std::uint8_t* out = to + y * toStride;
        const std::uint8_t* add = from + std::min(y + radius + 1, height - 1) * fromStride;
        const std::uint8_t* drop = from + std::max(y - radius, 0) * fromStride;
        for (int i = 0; i < count; ++i) {
            out[i] = meanOf(sums[i], scale);
            sums[i] += add[i];
            sums[i] -= drop[i];
        }
    }
}

template <int N>
void blurChannels(QImage& image, double sigma) {
    const std::array<int, 3> widths = boxWidths(sigma);
    const int width = image.width(), height = image.height();
    std::uint8_t* bits = image.bits();
    const qsizetype stride = image.bytesPerLine();
    std::vector<std::uint8_t> line;
    for (int w : widths)
        if (w > 1) boxRows<N>(bits, stride, width, height, w / 2, line);
    // Columns ping-pong between the image and one scratch buffer; an odd number of passes ends
    // with a copy back.
    const qsizetype scratchStride = static_cast<qsizetype>(width) * N;
    std::vector<std::uint8_t> scratch(static_cast<std::size_t>(scratchStride) * height);
    std::vector<std::uint32_t> sums;
    bool inScratch = false;
    for (int w : widths) {
        if (w <= 1) continue;
        if (inScratch)
            boxColumns<N>(scratch.data(), scratchStride, bits, stride, width, height, w / 2, sums);
        else
            boxColumns<N>(bits, stride, scratch.data(), scratchStride, width, height, w / 2, sums);
        inScratch = !inScratch;
    }
    if (inScratch)
        for (int y = 0; y < height; ++y)
            std::memcpy(bits + y * stride, scratch.data() + y * scratchStride, static_cast<std::size_t>(scratchStride));
}

// Four channels for colour images, one for masks; anything else becomes premultiplied ARGB32.
int channelsOf(QImage& image) {
    if (image.format() == QImage::Format_Alpha8 || image.format() == QImage::Format_Grayscale8) return 1;
    if (image.format() != QImage::Format_ARGB32_Premultiplied)
        image.convertTo(QImage::Format_ARGB32_Premultiplied);
    return 4;
}

// The block index of each pixel along one axis: pixel i (centre i + 0.5) lies in block
// floor((i + 0.5 - anchor) / size), renumbered from 0 at the first pixel.
std::vector<int> blockIndices(int length, double size, double anchor) {
    std::vector<int> index(static_cast<std::size_t>(length));
    const double first = std::floor((0.5 - anchor) / size);
    for (int i = 0; i < length; ++i) index[i] = static_cast<int>(std::floor((i + 0.5 - anchor) / size) - first);
    return index;
}

template <int N>
void pixelateChannels(QImage& image, double size, QPointF anchor) {
    const int width = image.width(), height = image.height();
    const std::vector<int> column = blockIndices(width, size, anchor.x());
    const std::vector<int> row = blockIndices(height, size, anchor.y());
    const int blocksAcross = column.back() + 1;
    std::vector<std::uint64_t> sums(static_cast<std::size_t>(blocksAcross) * N);
    std::vector<std::uint32_t> counts(static_cast<std::size_t>(blocksAcross));
    std::vector<std::uint8_t> means(static_cast<std::size_t>(blocksAcross) * N);
    int bandStart = 0;
    while (bandStart < height) {
        int bandEnd = bandStart;
        while (bandEnd < height && row[bandEnd] == row[bandStart]) ++bandEnd;
        std::fill(sums.begin(), sums.end(), 0);
        std::fill(counts.begin(), counts.end(), 0);
        for (int y = bandStart; y < bandEnd; ++y) {
            const std::uint8_t* line = image.constScanLine(y);
            for (int x = 0; x < width; ++x) {
                const int b = column[x];
                ++counts[b];
                for (int c = 0; c < N; ++c) sums[b * N + c] += line[x * N + c];
            }
        }
        for (int b = 0; b < blocksAcross; ++b)
            for (int c = 0; c < N; ++c)
                means[b * N + c] =
                    counts[b] ? static_cast<std::uint8_t>((sums[b * N + c] + counts[b] / 2) / counts[b]) : 0;
        for (int y = bandStart; y < bandEnd; ++y) {
            std::uint8_t* line = image.scanLine(y);
            for (int x = 0; x < width; ++x)
                for (int c = 0; c < N; ++c) line[x * N + c] = means[column[x] * N + c];
        }
        bandStart = bandEnd;
    }
}

}  // namespace

void gaussianBlur(QImage& image, double sigma) {
    if (image.isNull() || !std::isfinite(sigma) || sigma <= 0) return;
    if (channelsOf(image) == 1)
        blurChannels<1>(image, sigma);
    else
        blurChannels<4>(image, sigma);
}

void pixelate(QImage& image, double blockSize, QPointF anchor) {
    if (image.isNull() || !std::isfinite(blockSize) || !std::isfinite(anchor.x()) || !std::isfinite(anchor.y()))
        return;
    blockSize = std::max(blockSize, 1.0);
    if (channelsOf(image) == 1)
        pixelateChannels<1>(image, blockSize, anchor);
    else
        pixelateChannels<4>(image, blockSize, anchor);
}

}  // namespace brevalto::ImageEffects
