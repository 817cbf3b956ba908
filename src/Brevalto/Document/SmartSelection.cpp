#include "Document/SmartSelection.h"

#include "Errors/ScreenshotError.h"
#include "Platform/Task.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <utility>
#include <vector>

namespace brevalto {

namespace {

double clampedTolerance(double tolerance) { return std::clamp(tolerance, 0.0, 1.0); }

// The alpha-weighted mean of a pixel and its neighbours inside the buffer. With premultiplied
// bytes a component times its alpha is the byte itself (capped at the alpha byte), so the sums
// stay in integers: four 16-bit lanes of one 64-bit word (red, green, blue, alpha), where nine
// bytes never carry into the next lane. Each row's sums over three columns are computed once;
// a mean then adds three of them.
struct Mean {
    double red = 0, green = 0, blue = 0, alpha = 0;
};

class Means {
public:
    explicit Means(const ScreenshotColor::Pixels& p) : width_(p.width), height_(p.height) {
        const std::size_t w = static_cast<std::size_t>(width_);
        std::vector<std::uint64_t> packed(w);
        rows_.resize(w * static_cast<std::size_t>(height_));
        for (int y = 0; y < height_; ++y) {
            const std::uint8_t* s = p.bytes.data() + static_cast<std::size_t>(y) * w * 4;
            for (std::size_t x = 0; x < w; ++x, s += 4) {
                const std::uint64_t a = s[3];
                packed[x] = std::min<std::uint64_t>(s[0], a) | std::min<std::uint64_t>(s[1], a) << 16 |
                            std::min<std::uint64_t>(s[2], a) << 32 | a << 48;
            }
            std::uint64_t* row = rows_.data() + static_cast<std::size_t>(y) * w;
            for (std::size_t x = 0; x < w; ++x)
                row[x] = packed[x] + (x > 0 ? packed[x - 1] : 0) + (x + 1 < w ? packed[x + 1] : 0);
        }
    }

    // The packed sums of the window around a pixel and its pixel count.
    std::uint64_t sumAt(int px, int py, int& count) const {
        const std::size_t w = static_cast<std::size_t>(width_);
        const std::size_t i = static_cast<std::size_t>(py) * w + static_cast<std::size_t>(px);
        std::uint64_t sum = rows_[i];
        int rows = 1;
        if (py > 0) sum += rows_[i - w], ++rows;
        if (py + 1 < height_) sum += rows_[i + w], ++rows;
        count = rows * (1 + (px > 0 ? 1 : 0) + (px + 1 < width_ ? 1 : 0));
        return sum;
    }

    Mean at(int px, int py) const {
        int count = 0;
        const std::uint64_t sum = sumAt(px, py, count);
        const double a = static_cast<double>(sum >> 48);
        if (a == 0) return {};
        return {static_cast<double>(sum & 0xFFFF) / a, static_cast<double>((sum >> 16) & 0xFFFF) / a,
                static_cast<double>((sum >> 32) & 0xFFFF) / a, a / 255.0 / count};
    }

private:
    int width_, height_;
    std::vector<std::uint64_t> rows_;
};

// Whether a window's mean lies within t of the reference on every component, tested without
// dividing: |c / a - ref| <= t is |c - ref * a| <= t * a for a > 0.
class Similarity {
public:
    Similarity(const Mean& reference, double t) : ref_(reference), t_(t) {
        transparentPasses_ = reference.red <= t && reference.green <= t && reference.blue <= t && reference.alpha <= t;
    }
    bool operator()(std::uint64_t sum, int count) const {
        const double a = static_cast<double>(sum >> 48);
        if (a == 0) return transparentPasses_;
        const double slack = t_ * a;
        return std::abs(static_cast<double>(sum & 0xFFFF) - ref_.red * a) <= slack &&
               std::abs(static_cast<double>((sum >> 16) & 0xFFFF) - ref_.green * a) <= slack &&
               std::abs(static_cast<double>((sum >> 32) & 0xFFFF) - ref_.blue * a) <= slack &&
               std::abs(a / 255.0 / count - ref_.alpha) <= t_;
    }

private:
    Mean ref_;
    double t_;
    bool transparentPasses_ = false;
};

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
    const Means means(pixels);
    const Similarity similar(means.at(sx, sy), t);
    // The region is the four-connected set of pixels whose means pass, grown from the seed; a
    // pixel's test does not depend on where it is reached from, so the region is walked in
    // horizontal runs, which reads the buffer row by row. Each pixel is tested at most once.
    enum : std::uint8_t { untested = 0, fails = 1, passes = 2, taken = 3 };
    std::vector<std::uint8_t> state(static_cast<std::size_t>(area), untested);
    const auto at = [w](int x, int y) { return static_cast<std::size_t>(y) * static_cast<std::size_t>(w) + static_cast<std::size_t>(x); };
    const auto open = [&](int x, int y) {
        std::uint8_t& s = state[at(x, y)];
        if (s == untested) {
            int count = 0;
            const std::uint64_t sum = means.sumAt(x, y, count);
            s = similar(sum, count) ? passes : fails;
        }
        return s == passes;
    };
    state[at(sx, sy)] = passes;
    std::vector<std::pair<int, int>> pending{{sx, sy}};
    int minX = sx, maxX = sx, minY = sy, maxY = sy;
    std::size_t takenCount = 0, nextCheck = 0;
    while (!pending.empty()) {
        const auto [x, y] = pending.back();
        pending.pop_back();
        if (state[at(x, y)] != passes) continue;
        int left = x, right = x;
        while (left > 0 && open(left - 1, y)) --left;
        while (right + 1 < w && open(right + 1, y)) ++right;
        for (int i = left; i <= right; ++i) state[at(i, y)] = taken;
        minX = std::min(minX, left), maxX = std::max(maxX, right);
        minY = std::min(minY, y), maxY = std::max(maxY, y);
        takenCount += static_cast<std::size_t>(right - left + 1);
        if (takenCount >= nextCheck) {
            if (stop.stop_requested()) throw TaskCancelled();
            nextCheck = takenCount + 4096;
        }
        for (const int row : {y - 1, y + 1}) {
            if (row < 0 || row >= h) continue;
            bool inRun = false;
            for (int i = left; i <= right; ++i) {
                const bool go = open(i, row);
                if (go && !inRun) pending.emplace_back(i, row);
                inRun = go;
            }
        }
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
