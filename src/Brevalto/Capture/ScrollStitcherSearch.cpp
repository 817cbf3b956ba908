// The overlap search between two consecutive grabs: the signature scores of every candidate
// displacement, and the full-resolution proof that decides when the scores cannot.
#include "Capture/ScrollStitcher.h"

#include "Capture/ScrollPixelRows.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace brevalto {

namespace {

constexpr int kBands = 6;
constexpr int kTexturedSum = 13;
constexpr double kRowScoreDenominator = 1530.0;  // 6 columns x 255
constexpr int kMinSearchHeight = 64;
constexpr int kSamples = 48;
constexpr double kBestScoreLimit = 0.035;
constexpr int kRunnerUpDistance = 3;
constexpr double kMarginLimit = 0.002;
constexpr double kMarginNormaliser = 0.02;
constexpr double kConfidenceThreshold = 0.55;

// Which bands of one row of a signature are textured, one bit per band: the row's texture sum,
// over the band's columns, of the differences to the left neighbour and (below the top row) to
// the row above, is at least 13. It depends on that row alone.
std::uint8_t texturedBands(const std::uint8_t* values, int rowWidth, int row) {
    const std::uint8_t* p = values + static_cast<std::ptrdiff_t>(row) * rowWidth;
    const std::uint8_t* above = row >= 1 ? p - rowWidth : nullptr;
    std::uint8_t mask = 0;
    for (int k = 0; k < kBands; ++k) {
        int texture = 0;
        for (int c = 7 * k + 2; c <= 7 * k + 7; ++c) {
            texture += std::abs(p[c] - p[c - 1]);
            if (above) texture += std::abs(p[c] - above[c]);
        }
        if (texture >= kTexturedSum) mask |= static_cast<std::uint8_t>(1u << k);
    }
    return mask;
}

// The sum of the n smallest of count row difference sums (each 0 ... 1530): counted by value / 64
// first, then only the bucket that holds the n-th smallest is ordered.
std::int64_t lowestSum(const int* values, int count, int n, int* inBucket) {
    std::array<int, 32> coarse{};
    for (int i = 0; i < count; ++i) ++coarse[static_cast<std::size_t>(values[i] >> 6)];
    int below = 0, bucket = 0;
    while (below + coarse[static_cast<std::size_t>(bucket)] < n) below += coarse[static_cast<std::size_t>(bucket++)];
    std::int64_t sum = 0;
    int held = 0;
    for (int i = 0; i < count; ++i) {  // without branches: the buckets come in no order
        const int value = values[i], high = value >> 6;
        sum += high < bucket ? value : 0;
        inBucket[held] = value;
        held += high == bucket;
    }
    const int need = n - below;
    std::nth_element(inBucket, inBucket + (need - 1), inBucket + held);
    for (int i = 0; i < need; ++i) sum += inBucket[i];
    return sum;
}

// Signature rows laid out by band: band k's six columns in bytes 8k ... 8k + 5, the two bytes
// after them 0, so that one sum of absolute differences over eight bytes is one band's sum.
constexpr int kBandedRow = 8 * kBands;
std::vector<std::uint8_t> bandedRows(const std::uint8_t* values, int rowWidth, int h) {
    std::vector<std::uint8_t> rows(static_cast<std::size_t>(h) * kBandedRow, 0);
    for (int y = 0; y < h; ++y)
        for (int k = 0; k < kBands; ++k)
            std::memcpy(rows.data() + static_cast<std::size_t>(y) * kBandedRow + 8 * k,
                        values + static_cast<std::ptrdiff_t>(y) * rowWidth + 7 * k + 2, 6);
    return rows;
}

// The six band difference sums of two banded rows.
inline void bandDifferences(const std::uint8_t* p, const std::uint8_t* q, int* sums) {
#if defined(__SSE2__)
    for (int i = 0; i < 3; ++i) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * i));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(q + 16 * i));
        const __m128i sad = _mm_sad_epu8(a, b);
        sums[2 * i] = _mm_cvtsi128_si32(sad);
        sums[2 * i + 1] = _mm_extract_epi16(sad, 4);
    }
#else
    for (int k = 0; k < kBands; ++k) {
        int sum = 0;
        for (int c = 8 * k; c < 8 * k + 6; ++c) sum += std::abs(p[c] - q[c]);
        sums[k] = sum;
    }
#endif
}

// The previous and current signatures as banded rows, for the search's many scores.
struct Banded {
    const std::uint8_t* previous;
    const std::uint8_t* current;
};

// The overlap score, with the per-band row scores kept in `scratch` between calls. `masks`, when
// given, holds texturedBands of every row of `previous`; `banded`, when given, both signatures
// laid out by band.
double scoreWith(int d, int rowWidth, int h, const std::uint8_t* previous, int minimumOverlap, int samples,
                 const std::uint8_t* current, std::vector<int>& scratch, const std::uint8_t* masks = nullptr,
                 const Banded* banded = nullptr) {
    const int overlap = h - std::abs(d);
    if (overlap < minimumOverlap || overlap < 1 || rowWidth < 48) return 1.0;
    const int y0 = std::max(-d, 0);
    const int y1 = std::min(h - d, h);
    const int step = std::max(overlap / std::max(samples, 1), 1);
    const int rows = (y1 - y0 + step - 1) / step;
    // One run of rows per band, and one more to order a bucket in.
    scratch.resize(static_cast<std::size_t>(kBands + 1) * static_cast<std::size_t>(rows));
    std::array<int, kBands> counts{};
    int textured = 0;
    for (int y = y0; y < y1; y += step) {
        const std::uint8_t mask = masks ? masks[y + d] : texturedBands(previous, rowWidth, y + d);
        if (!mask) continue;
        std::array<int, kBands> differences;
        if (banded) {
            bandDifferences(banded->previous + static_cast<std::ptrdiff_t>(y + d) * kBandedRow,
                            banded->current + static_cast<std::ptrdiff_t>(y) * kBandedRow, differences.data());
        } else {
            const std::uint8_t* p = previous + static_cast<std::ptrdiff_t>(y + d) * rowWidth;
            const std::uint8_t* q = current + static_cast<std::ptrdiff_t>(y) * rowWidth;
            for (int k = 0; k < kBands; ++k) {
                int sum = 0;
                for (int c = 7 * k + 2; c <= 7 * k + 7; ++c) sum += std::abs(p[c] - q[c]);
                differences[static_cast<std::size_t>(k)] = sum;
            }
        }
        for (int k = 0; k < kBands; ++k) {  // a row of an untextured band is written, then not counted
            const int difference = differences[static_cast<std::size_t>(k)];
            int& count = counts[static_cast<std::size_t>(k)];
            scratch[static_cast<std::size_t>(k * rows + count)] = difference;
            const int counted = (mask >> k) & 1;
            count += counted;
            textured += counted;
        }
    }
    if (textured < 30) return 1.0;
    std::array<double, kBands> bands{};
    for (int k = 0; k < kBands; ++k) {
        const int count = counts[static_cast<std::size_t>(k)];
        if (count < 5) {
            bands[static_cast<std::size_t>(k)] = 1.0;
            continue;
        }
        // The mean of the best three quarters of the band's rows.
        const int n = std::min(std::max(3 * count / 4, 1), count);
        const std::int64_t sum = lowestSum(scratch.data() + static_cast<std::ptrdiff_t>(k) * rows, count, n,
                                           scratch.data() + static_cast<std::ptrdiff_t>(kBands) * rows);
        bands[static_cast<std::size_t>(k)] = static_cast<double>(sum) / (n * kRowScoreDenominator);
    }
    std::sort(bands.begin(), bands.end());
    return (bands[0] + bands[1] + bands[2] + bands[3]) * 0.25;
}

// The one shift of -shift ... shift whose rows fit at full resolution (ScrollPixelRows::onlyShift);
// none when no shift or more than one fits, or when the one that does moved less than 2 rows.
std::optional<int> onlyMatch(ScrollPixelRows& pixels, int shift) {
    const std::optional<int> found = pixels.onlyShift(shift);
    if (!found || std::abs(*found) < 2) return std::nullopt;
    return found;
}

}  // namespace

double ScrollStitcher::overlapScore(int displacement, int rowWidth, int height, const std::uint8_t* previous,
                                    int minimumOverlap, int samples, const std::uint8_t* current) {
    std::vector<int> scratch;
    return scoreWith(displacement, rowWidth, height, previous, minimumOverlap, samples, current, scratch);
}

bool ScrollStitcher::overlapMatchesExactly(const QImage& previous, int displacement, int height, const QImage& current) {
    if (previous.height() != height || current.height() != height) return false;
    return ScrollPixelRows(previous, current).matches(displacement);
}

std::optional<ScrollStitcher::Displacement> ScrollStitcher::findDisplacement(const ScrollFrameSignature& previous,
                                                                            const ScrollFrameSignature& current) {
    ScrollPixelRows pixels(previous.image, current.image);
    return findDisplacement(previous, current, pixels);
}

std::optional<ScrollStitcher::Displacement> ScrollStitcher::findDisplacement(const ScrollFrameSignature& previous,
                                                                            const ScrollFrameSignature& current,
                                                                            ScrollPixelRows& pixels) {
    const int h = current.height;
    if (previous.image.width() != current.image.width() || previous.height != h || h < kMinSearchHeight) return {};
    if (previous.width != current.width || previous.values.size() != current.values.size()) return {};
    const int minimumOverlap = std::max(h / 5, 48);
    const int shift = h - minimumOverlap;
    if (shift < 0) return {};

    // Scored in increasing d; the strict comparison keeps the smaller d among equal scores.
    std::vector<double> scores(static_cast<std::size_t>(2 * shift + 1));
    const auto scoreOf = [&](int d) { return scores[static_cast<std::size_t>(d + shift)]; };
    std::vector<int> scratch;
    std::vector<std::uint8_t> masks(static_cast<std::size_t>(h));
    for (int row = 0; row < h; ++row) masks[static_cast<std::size_t>(row)] = texturedBands(previous.values.data(), previous.width, row);
    const std::vector<std::uint8_t> previousRows = bandedRows(previous.values.data(), previous.width, h);
    const std::vector<std::uint8_t> currentRows = bandedRows(current.values.data(), current.width, h);
    const Banded banded{previousRows.data(), currentRows.data()};
    int best = -shift;
    for (int d = -shift; d <= shift; ++d) {
        const double score = scoreWith(d, previous.width, h, previous.values.data(), minimumOverlap, kSamples,
                                       current.values.data(), scratch, masks.data(), &banded);
        scores[static_cast<std::size_t>(d + shift)] = score;
        if (score < scoreOf(best)) best = d;
    }
    const double bestScore = scoreOf(best);
    const auto proven = [&](std::optional<int> d) -> std::optional<Displacement> {
        if (!d) return std::nullopt;
        return Displacement{*d, scoreOf(*d), 1.0};
    };

    // Where the signatures cannot decide, every allowed shift is tried on the pixels, and one
    // alone must match: no shift scores well (code or a list in the left part of the view leaves
    // bands without texture, and text in a narrow strip is squeezed away), or the best is not
    // clear of the rest (lines that differ only by a number score alike a line height apart).
    if (!(bestScore < kBestScoreLimit)) return proven(onlyMatch(pixels, shift));

    std::optional<double> runnerUp;
    for (int d = -shift; d <= shift; ++d) {
        if (std::abs(d - best) <= kRunnerUpDistance) continue;
        if (!runnerUp || scoreOf(d) < *runnerUp) runnerUp = scoreOf(d);
    }
    const double margin = runnerUp ? *runnerUp - bestScore : 0.0;
    if (std::abs(best) >= 2 && runnerUp && margin > kMarginLimit) {
        const double confidence =
            std::min(1.0, 1.0 - bestScore / kBestScoreLimit) * std::min(1.0, margin / kMarginNormaliser);
        const bool confident = confidence >= kConfidenceThreshold;
        if (pixels.matches(best)) return Displacement{best, bestScore, confident ? confidence : 1.0};
        if (confident) {
            // A shift a row off the true one can score well: one other shift that alone matches
            // the pixels corrects it; the best one itself when it alone matches with a band or
            // cells let differ (a status line, a text cursor). Otherwise the content changed
            // between the grabs (a clock, an animation) and the signatures stand.
            if (const auto other = onlyMatch(pixels, shift)) return proven(other);
            return Displacement{best, bestScore, confidence};
        }
    }
    return proven(onlyMatch(pixels, shift));
}

}  // namespace brevalto
