#include "Document/SmartSelection.h"

#include "Errors/ScreenshotError.h"
#include "Platform/Task.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

namespace brevalto {

namespace {

double clampedTolerance(double tolerance) { return std::clamp(tolerance, 0.0, 1.0); }

// The alpha-weighted mean of the pixel and its neighbours inside the buffer. With premultiplied
// bytes, a component times its alpha is the byte itself (capped at the alpha byte), so the sums
// stay in integers.
struct Mean {
    double red = 0, green = 0, blue = 0, alpha = 0;
};

Mean meanAround(const ScreenshotColor::Pixels& p, int px, int py) {
    const int x0 = std::max(px - 1, 0), x1 = std::min(px + 2, p.width);
    const int y0 = std::max(py - 1, 0), y1 = std::min(py + 2, p.height);
    std::uint32_t r = 0, g = 0, b = 0, a = 0;
    for (int y = y0; y < y1; ++y) {
        const std::uint8_t* s = p.bytes.data() + (static_cast<std::size_t>(y) * static_cast<std::size_t>(p.width) +
                                                  static_cast<std::size_t>(x0)) * 4;
        for (int x = x0; x < x1; ++x, s += 4) {
            const std::uint8_t alpha = s[3];
            if (alpha == 0) continue;
            r += std::min(s[0], alpha);
            g += std::min(s[1], alpha);
            b += std::min(s[2], alpha);
            a += alpha;
        }
    }
    if (a == 0) return {};
    const double sum = a;
    const double n = static_cast<double>((x1 - x0) * (y1 - y0));
    return {r / sum, g / sum, b / sum, sum / 255.0 / n};
}

bool similar(const Mean& m, const Mean& ref, double t) {
    return std::abs(m.red - ref.red) <= t && std::abs(m.green - ref.green) <= t && std::abs(m.blue - ref.blue) <= t &&
           std::abs(m.alpha - ref.alpha) <= t;
}

}  // namespace

QRectF findSmartSelection(const ScreenshotColor::Pixels& pixels, double x, double y, double tolerance,
                          std::stop_token stop) {
    if (!std::isfinite(x) || !std::isfinite(y) || x < 0 || y < 0 || !std::isfinite(tolerance) || x >= pixels.width ||
        y >= pixels.height)
        throw ScreenshotError(kInvalidSmartPointMessage);
    const long long area = static_cast<long long>(pixels.width) * pixels.height;
    if (area > kSmartSelectionPixelLimit) throw ScreenshotError(kSmartSelectionTooLargeMessage);
    const int sx = static_cast<int>(x), sy = static_cast<int>(y);
    if (!pixels.color(sx, sy) || pixels.bytes.size() < static_cast<std::size_t>(area) * 4)
        throw ScreenshotError(kSmartSeedMessage);

    const double t = clampedTolerance(tolerance);
    const int w = pixels.width, h = pixels.height;
    const Mean reference = meanAround(pixels, sx, sy);
    std::vector<std::uint8_t> visited(static_cast<std::size_t>(area), 0);
    std::vector<std::uint32_t> queue;
    queue.reserve(4096);
    const auto seed = static_cast<std::uint32_t>(sy * w + sx);
    visited[seed] = 1;
    queue.push_back(seed);
    int minX = sx, maxX = sx, minY = sy, maxY = sy;

    auto consider = [&](int nx, int ny) {
        const std::size_t index = static_cast<std::size_t>(ny) * static_cast<std::size_t>(w) + static_cast<std::size_t>(nx);
        if (visited[index]) return;
        visited[index] = 1;
        if (similar(meanAround(pixels, nx, ny), reference, t)) queue.push_back(static_cast<std::uint32_t>(index));
    };
    for (std::size_t read = 0; read < queue.size(); ++read) {
        if (read % 4096 == 0 && stop.stop_requested()) throw TaskCancelled();
        const std::uint32_t index = queue[read];
        const int px = static_cast<int>(index % static_cast<std::uint32_t>(w));
        const int py = static_cast<int>(index / static_cast<std::uint32_t>(w));
        minX = std::min(minX, px), maxX = std::max(maxX, px);
        minY = std::min(minY, py), maxY = std::max(maxY, py);
        if (px > 0) consider(px - 1, py);
        if (px + 1 < w) consider(px + 1, py);
        if (py > 0) consider(px, py - 1);
        if (py + 1 < h) consider(px, py + 1);
    }
    return QRectF(minX, minY, maxX - minX + 1, maxY - minY + 1);
}

namespace ScreenshotColor {

std::optional<std::pair<int, int>> Pixels::edge(bool horizontal, double x, double y, double tolerance) const {
    if (!std::isfinite(x) || !std::isfinite(y) || x < 0 || y < 0 || !std::isfinite(tolerance) || x >= width ||
        y >= height)
        return std::nullopt;
    const int ix = static_cast<int>(x), iy = static_cast<int>(y);
    const std::optional<RGBA> reference = color(ix, iy);
    if (!reference) return std::nullopt;
    const double t = clampedTolerance(tolerance);
    const int s = horizontal ? ix : iy;
    const int n = horizontal ? width : height;
    auto similarAt = [&](int i) {
        const std::optional<RGBA> c = horizontal ? color(i, iy) : color(ix, i);
        return c && distance(*c, *reference) <= t;
    };
    int lo = s;
    bool lowEdge = false;
    for (int i = s - 1; i >= 0; --i) {
        if (!similarAt(i)) {
            lowEdge = true;
            break;
        }
        lo = i;
    }
    int hi = s;
    for (int i = s + 1; i < n; ++i) {
        if (!similarAt(i)) break;
        hi = i;
    }
    if (lowEdge) return std::pair{lo, hi};
    if (hi == n - 1) return std::nullopt;
    return std::pair{lo, hi};
}

}  // namespace ScreenshotColor

}  // namespace brevalto
