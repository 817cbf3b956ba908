#include "Document/ImageEffects.h"

// The filters' inner loops run over whole rows of bytes; let the compiler vectorise them.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC optimize("O3")
#endif

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

// One box pass down every column of a plane of `rows` rows of `count` bytes, edges clamped:
// reads `from`, writes `to`, a row at a time so both stay in cache order. The running sums stay
// below 2^24, so the mean (sum times the reciprocal of the width, plus a half) is exact in single
// precision, and the loop over a row vectorises.
void boxColumns(const std::uint8_t* from, qsizetype fromStride, std::uint8_t* to, qsizetype toStride, int count,
                int rows, int radius, std::vector<std::int32_t>& sums) {
    const float scale = 1.0f / static_cast<float>(2 * radius + 1);
    sums.assign(static_cast<std::size_t>(count), 0);
    std::int32_t* __restrict total = sums.data();
    for (int j = -radius; j <= radius; ++j) {
        const std::uint8_t* row = from + std::clamp(j, 0, rows - 1) * fromStride;
        for (int i = 0; i < count; ++i) total[i] += row[i];
    }
    for (int y = 0; y < rows; ++y) {
        std::uint8_t* __restrict out = to + y * toStride;
        const std::uint8_t* __restrict add = from + std::min(y + radius + 1, rows - 1) * fromStride;
        const std::uint8_t* __restrict drop = from + std::max(y - radius, 0) * fromStride;
        for (int i = 0; i < count; ++i) {
            out[i] = static_cast<std::uint8_t>(static_cast<float>(total[i]) * scale + 0.5f);
            total[i] += static_cast<std::int32_t>(add[i]) - static_cast<std::int32_t>(drop[i]);
        }
    }
}

// A plane of bytes with its row length.
struct Plane {
    std::uint8_t* bits;
    qsizetype stride;
};

// Three box passes down the columns of `rows` rows of `count` bytes, starting in `first` and
// ending in `first` too; `spare` is scratch of the same shape.
void boxColumnsThrice(Plane first, Plane spare, int count, int rows, const std::array<int, 3>& widths,
                      std::vector<std::int32_t>& sums) {
    Plane from = first, to = spare;
    for (int w : widths) {
        if (w <= 1) continue;
        boxColumns(from.bits, from.stride, to.bits, to.stride, count, rows, w / 2, sums);
        std::swap(from, to);
    }
    if (from.bits != first.bits)
        for (int y = 0; y < rows; ++y)
            std::memcpy(first.bits + y * first.stride, from.bits + y * from.stride, static_cast<std::size_t>(count));
}

// Swaps rows and columns of a width x height grid of N-byte pixels, in tiles that stay in cache.
template <int N>
void transpose(const std::uint8_t* from, qsizetype fromStride, std::uint8_t* to, qsizetype toStride, int width,
               int height) {
    constexpr int tile = 32;
    for (int y0 = 0; y0 < height; y0 += tile)
        for (int x0 = 0; x0 < width; x0 += tile) {
            const int y1 = std::min(y0 + tile, height), x1 = std::min(x0 + tile, width);
            for (int y = y0; y < y1; ++y)
                for (int x = x0; x < x1; ++x) std::memcpy(to + x * toStride + y * N, from + y * fromStride + x * N, N);
        }
}

// Vertical passes over strips of columns, then horizontal ones as vertical passes over the
// transpose of bands of rows. Strips and bands are small enough for their scratch to stay in
// cache.
template <int N>
void blurChannels(QImage& image, double sigma, const std::stop_token& stop) {
    const std::array<int, 3> widths = boxWidths(sigma);
    const int width = image.width(), height = image.height();
    const Plane pixels{image.bits(), image.bytesPerLine()};
    std::vector<std::int32_t> sums;

    constexpr int stripBytes = 512;
    std::vector<std::uint8_t> spare(static_cast<std::size_t>(stripBytes) * height);
    const int rowBytes = width * N;
    for (int x = 0; x < rowBytes; x += stripBytes) {
        if (stop.stop_requested()) return;
        const int count = std::min(stripBytes, rowBytes - x);
        boxColumnsThrice({pixels.bits + x, pixels.stride}, {spare.data(), count}, count, height, widths, sums);
    }

    constexpr int bandRows = 32;
    const qsizetype bandBytes = static_cast<qsizetype>(bandRows) * N;
    std::vector<std::uint8_t> turned(static_cast<std::size_t>(bandBytes) * width), turnedSpare(turned.size());
    for (int y = 0; y < height; y += bandRows) {
        if (stop.stop_requested()) return;
        const int rows = std::min(bandRows, height - y);
        std::uint8_t* band = pixels.bits + y * pixels.stride;
        transpose<N>(band, pixels.stride, turned.data(), bandBytes, width, rows);
        boxColumnsThrice({turned.data(), bandBytes}, {turnedSpare.data(), bandBytes}, rows * N, width, widths, sums);
        transpose<N>(turned.data(), bandBytes, band, pixels.stride, rows, width);
    }
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

void gaussianBlur(QImage& image, double sigma, const std::stop_token& stop) {
    if (image.isNull() || !std::isfinite(sigma) || sigma <= 0) return;
    if (channelsOf(image) == 1)
        blurChannels<1>(image, sigma, stop);
    else
        blurChannels<4>(image, sigma, stop);
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
