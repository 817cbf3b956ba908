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

// The most rows of a band at the bottom edge that changes without moving with the content.
int bandRows(int height) { return height / 6; }

// The largest cell that may differ in rows that otherwise match: one text line high, a few
// cells wide (a block cursor, a caret).
int cellRows(int height) { return std::clamp(height / 12, 16, 40); }
int cellPixels(int width) { return std::clamp(width / 12, 16, 48); }

// The fewest compared rows for cells to be let differ: enough that lines alike but for a number,
// a line off, differ on more lines than there are cells.
int toleranceRows(int height) { return std::max(minimumOverlap(height), 4 * cellRows(height)); }

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

ScrollPixelRows::Span ScrollPixelRows::span(int displacement, int top, int bottom) const {
    const int height = current_.height();
    const int first = std::max(top, top - displacement);
    const int end = std::min(height - bottom, height - bottom - displacement);
    return Span{first + displacement, first, std::max(end - first, 0), bottom, top};
}

// The rows compared at displacement d: current rows y with y and y + d both at least `top` rows
// below the top edge and `bottom` rows above the bottom one. Both still bands are left out, or
// the wider one alone, or the other, whichever first leaves enough rows; else the edge rows only.
ScrollPixelRows::Span ScrollPixelRows::compared(int displacement) const {
    const int height = current_.height(), edge = edgeRows(height);
    const bool topWider = stillTop_ >= stillBottom_;
    for (const Span& still : {span(displacement, stillTop_, stillBottom_),
                              topWider ? span(displacement, stillTop_, edge) : span(displacement, edge, stillBottom_),
                              topWider ? span(displacement, edge, stillBottom_) : span(displacement, stillTop_, edge)})
        if (still.count >= minimumOverlap(height)) return still;
    return span(displacement, edge, edge);
}

// On their hashes alone where every row is hashed and `byHash`, else on their bytes.
bool ScrollPixelRows::sameRow(int previousRow, int currentRow, bool byHash) const {
    if (byHash && !previousHashes_.empty())
        return previousHashes_[static_cast<std::size_t>(previousRow)] == currentHashes_[static_cast<std::size_t>(currentRow)];
    return std::memcmp(previous_.constScanLine(previousRow), current_.constScanLine(currentRow), bytes_) == 0;
}

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

bool ScrollPixelRows::differences(const Span& span, int top, int zone, int cells, std::vector<Run>& runs, bool byHash) const {
    runs.clear();
    int above = 0;  // runs begun between the top zone and the zone
    for (int k = 0; k < span.count; ++k) {
        if (sameRow(span.previousRow + k, span.currentRow + k, byHash)) continue;
        if (!runs.empty() && runs.back().last == k - 1) {
            runs.back().last = k;
            const int first = runs.back().first;
            // A run from the top zone on past it is no band there and may only be a cell.
            if (first < zone && (first >= top || k >= top) && k - first >= cellRows(current_.height())) return false;
            continue;
        }
        runs.push_back({k, k});
        if (k >= top && k < zone && ++above > cells) return false;
    }
    return true;
}

bool ScrollPixelRows::sameRuns(const std::vector<Run>& a, const std::vector<Run>& b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                      [](const Run& x, const Run& y) { return x.first == y.first && x.last == y.last; });
}

// The bytes in which the run's rows differ, as pairs of the last compared span: from the first to
// past the last; none (left past right) where they do not.
std::pair<std::size_t, std::size_t> ScrollPixelRows::differingBytes(const Run& run) const {
    const Span& s = lastSpan_;
    std::size_t left = bytes_, right = 0;
    for (int k = run.first; k <= run.last; ++k) {
        const uchar* p = previous_.constScanLine(s.previousRow + k);
        const uchar* q = current_.constScanLine(s.currentRow + k);
        std::size_t a = 0, b = bytes_;
        while (a < b && p[a] == q[a]) ++a;
        while (b > a && p[b - 1] == q[b - 1]) --b;
        if (a < b) left = std::min(left, a), right = std::max(right, b);
    }
    return {left, right};
}

bool ScrollPixelRows::cellSized(const Run& run) const {
    if (run.last - run.first >= cellRows(current_.height())) return false;
    const auto [left, right] = differingBytes(run);
    return right <= left || right - left <= static_cast<std::size_t>(cellPixels(current_.width())) * 4;
}

// The colours of the run's differing bytes, over its rows, as pairs (previous, current) where
// each colour of one grab stands for one colour of the other, both ways: the same shapes in other
// colours, as where a block cursor inverts a cell or leaves it. None when other glyphs, or a glyph
// over a blank cell, break the pairing.
std::optional<ScrollPixelRows::Colours> ScrollPixelRows::recolouring(const Run& run) const {
    const Span& s = lastSpan_;
    auto [left, right] = differingBytes(run);  // whole pixels
    left -= left % 4;
    right = std::min((right + 3) / 4 * 4, bytes_);
    Colours pairs;
    for (int k = run.first; k <= run.last; ++k) {
        const uchar* p = previous_.constScanLine(s.previousRow + k);
        const uchar* q = current_.constScanLine(s.currentRow + k);
        for (std::size_t i = left; i < right; i += 4) {
            std::uint32_t a, b;
            std::memcpy(&a, p + i, 4);
            std::memcpy(&b, q + i, 4);
            if (std::find(pairs.begin(), pairs.end(), std::pair(a, b)) != pairs.end()) continue;
            if (pairs.size() >= 64 ||
                std::any_of(pairs.begin(), pairs.end(), [&](const auto& x) { return x.first == a || x.second == b; }))
                return std::nullopt;
            pairs.emplace_back(a, b);
        }
    }
    return pairs;
}

// Whether the current grab shows the run's differing bytes in the colour its rows show around
// them, and the previous one does not: a block the previous grab shows over the page (a cursor
// that left) rather than one the current grab shows.
bool ScrollPixelRows::plainInCurrent(const Run& run) const {
    const Span& s = lastSpan_;
    auto [left, right] = differingBytes(run);
    left -= left % 4;
    right = std::min((right + 3) / 4 * 4, bytes_);
    if (right <= left) return false;
    // Whether the colour most of the run's differing bytes show is the one most of its other bytes show.
    const auto plain = [&](const QImage& grab, int from) {
        std::vector<std::pair<std::uint32_t, int>> inside, outside;
        const auto count = [](std::vector<std::pair<std::uint32_t, int>>& counts, std::uint32_t colour) {
            const auto it = std::find_if(counts.begin(), counts.end(), [&](const auto& c) { return c.first == colour; });
            if (it != counts.end()) ++it->second;
            else if (counts.size() < 64) counts.emplace_back(colour, 1);
        };
        for (int k = run.first; k <= run.last; ++k) {
            const uchar* row = grab.constScanLine(from + k);
            for (std::size_t i = 0; i + 4 <= bytes_; i += 4) {
                std::uint32_t colour;
                std::memcpy(&colour, row + i, 4);
                count(i >= left && i < right ? inside : outside, colour);
            }
        }
        const auto most = [](const auto& counts) {
            return std::max_element(counts.begin(), counts.end(), [](const auto& a, const auto& b) { return a.second < b.second; });
        };
        return !inside.empty() && !outside.empty() && most(inside)->first == most(outside)->first;
    };
    return plain(current_, s.currentRow) && !plain(previous_, s.previousRow);
}

// Whether the rows fit with a band at the bottom and one at the top left out and up to two cells
// let differ between them.
const ScrollPixelRows::Fit& ScrollPixelRows::fit(int displacement) {
    if (fitted_ && fit_.displacement == displacement) return fit_;
    fitted_ = true;
    fit_ = Fit{displacement};
    if (!prepare()) return fit_;
    const Span base = compared(displacement);
    if (base.count <= 0) return fit_;
    if (sameRows(base)) return fit_.fits = fit_.recoloured = true, fit_;
    const int height = current_.height(), reach = bandRows(height);
    const int lowerOffset = base.currentRow + std::max(displacement, 0);  // pair k's lower row, less k
    const int upperOffset = base.currentRow + std::min(displacement, 0);  // and its upper row
    const int zone = std::max(height - reach - lowerOffset, 0);
    const int topZone = std::max(reach - upperOffset, 0);
    const auto bandFrom = [&](int pair) { return height - (lowerOffset + pair); };
    lastSpan_ = base;
    // The rows are told apart on their hashes where they are hashed (every shift is tried), and
    // the runs that pass are found again on the bytes.
    std::vector<Run> runs, onBytes;
    if (!differences(base, topZone, zone, 2, runs, true) ||
        (!previousHashes_.empty() && !(differences(base, topZone, zone, 2, onBytes, false) && sameRuns(runs, onBytes))))
        return fit_;
    // The runs that begin in the zone go to the band, the others are cells: in the zone the older
    // grab may show a status line, which rows taken from it as a cell would put into the image.
    // The same holds upside down in the top zone (a title line), but for a cell whose rows the
    // older grab shows below its own top zone (a cursor on the top line): everything down to the
    // last run there that is no such cell goes to a band at the top.
    const auto band = std::find_if(runs.begin(), runs.end(), [&](const Run& r) { return r.first >= zone; });
    auto cells = runs.begin();
    for (auto r = runs.begin(); r != band && r->first < topZone; ++r)
        if (!cellSized(*r) || base.previousRow + r->first < reach) cells = r + 1;
    const int from = cells == runs.begin() ? 0 : (cells - 1)->last + 1;
    const int count = (band == runs.end() ? base.count : band->first) - from;
    // A cell right next to a band is a band's row past its reach, refused rather than taken,
    // unless it is a block cursor's (the same shapes in other colours).
    const auto bandsRow = [&](const Run& r) {
        return ((band != runs.end() && band->first - r.last <= cellRows(height)) ||
                (cells != runs.begin() && r.first - from < cellRows(height))) &&
               !recolouring(r);
    };
    if (band - cells > 2 || count < minimumOverlap(height) || (band != cells && count < toleranceRows(height)) ||
        !std::all_of(cells, band, [&](const Run& r) { return cellSized(r) && !bandsRow(r); }))
        return fit_;
    fit_.fits = true;
    fit_.band = band == runs.end() ? 0 : std::max(bandFrom(band->first), base.bottom);
    fit_.topBand = cells == runs.begin() ? 0 : std::max(upperOffset + from, base.top);
    for (auto r = cells; r != band; ++r)
        fit_.cells.push_back({base.currentRow + r->first, base.currentRow + r->last + 1, plainInCurrent(*r)});
    fit_.recoloured = std::all_of(cells, band, [&](const Run& r) { return recolouring(r).has_value(); });
    return fit_;
}

// Where the rows do not fit, the band held back for what is stored: the runs of differing rows
// at the bottom, below a row that matches, as long as enough rows stay above them.
int ScrollPixelRows::unprovenBand(const Span& base, int displacement) const {
    const int height = current_.height();
    const int lowerOffset = base.currentRow + std::max(displacement, 0);
    const int zone = std::max(height - bandRows(height) - lowerOffset, 0);
    if (base.count <= zone) return 0;
    const Span bottom{base.previousRow + zone, base.currentRow + zone, base.count - zone, 0, 0};
    std::vector<Run> runs;
    differences(bottom, 0, 0, base.count, runs, false);
    const int count = runs.empty() ? 0 : zone + runs.front().first;
    return !runs.empty() && runs.front().first > 0 && count >= minimumOverlap(height) ? height - (lowerOffset + count) : 0;
}

bool ScrollPixelRows::matches(int displacement) {
    if (!prepare()) return false;
    const Span span = compared(displacement);
    return span.count > 0 && sameRows(span);
}

bool ScrollPixelRows::fits(int displacement) { return fit(displacement).fits; }

ScrollPixelRows::Rows ScrollPixelRows::comparedRows(int displacement) {
    const int height = current_.height(), edge = edgeRows(height);
    if (!prepare()) {  // grabs that cannot be compared: only the edge rows are left out
        const int first = std::max(edge, edge - displacement);
        return {first, std::max(first, std::min(height - edge, height - edge - displacement)), 0, edge, {}};
    }
    const Fit& f = fit(displacement);
    Span span = compared(displacement);
    const int band = f.fits ? f.band : unprovenBand(span, displacement);
    if (band > span.bottom) span = this->span(displacement, span.top, band);
    if (f.fits && f.topBand > span.top) span = this->span(displacement, f.topBand, span.bottom);
    return {span.currentRow, span.currentRow + span.count, span.bottom > edge ? span.bottom : 0, span.top, f.cells};
}

std::vector<int> ScrollPixelRows::matchingShifts(int shift, int limit) {
    std::vector<int> found;
    if (!prepare()) return found;
    hash();
    for (int d = -shift; d <= shift && static_cast<int>(found.size()) < limit; ++d)
        if (fits(d)) found.push_back(d);
    return found;
}

std::optional<int> ScrollPixelRows::onlyShift(int shift) {
    std::vector<int> found = matchingShifts(shift, 2);
    if (found.size() > 1) {
        // Where the view repeats rows (a file's end over rows of one filler mark), shifts a line
        // apart fit alike, each with a cell where the cursor sits over a different row; the true
        // one alone shows the same shapes there, the cursor's colours aside.
        found = matchingShifts(shift, 2 * shift + 1);
        std::erase_if(found, [&](int d) { return !fit(d).recoloured; });
        // Rows a line off may also pass as a band at an edge: the shift that leaves out the fewest
        // rows as changing bands.
        const auto bands = [&](int d) { return fit(d).band + fit(d).topBand; };
        if (!found.empty()) {
            const int fewest = bands(*std::min_element(found.begin(), found.end(), [&](int a, int b) { return bands(a) < bands(b); }));
            std::erase_if(found, [&](int d) { return bands(d) > fewest; });
        }
    }
    if (found.size() != 1) return std::nullopt;
    return found.front();
}

int ScrollPixelRows::movedCursor() {
    if (!prepare()) return 0;
    const int height = current_.height(), edge = edgeRows(height), reach = bandRows(height);
    const Span whole{edge, edge, height - 2 * edge, 0, 0};
    lastSpan_ = whole;
    std::vector<Run> runs;
    differences(whole, 0, 0, 0, runs, false);
    std::vector<Colours> cursors;
    int cell = 0;
    for (const Run& run : runs) {
        if (cursors.size() > 2) return 0;
        if (cellSized(run))
            if (auto colours = recolouring(run)) {
                cursors.push_back(std::move(*colours));
                cell = std::max(cell, run.last - run.first + 1);
                continue;
            }
        // Other changes only in the bands' reach at either edge (a title line, a ruler).
        if (edge + run.first >= reach && edge + run.last < height - reach) return 0;
    }
    if (cursors.size() != 2) return 0;
    // Where it left, the cursor's colours go back to the cell's own; where it came, the other
    // way round: one cell's pairs, turned round, agree with the other's on a colour they share
    // and on every one.
    bool shared = false;
    for (const auto& [from, to] : cursors[0])
        for (const auto& [back, forth] : cursors[1]) {
            if ((from == forth) != (to == back)) return 0;
            shared = shared || from == forth;
        }
    return shared ? height / cell : 0;
}

bool ScrollPixelRows::sameView() {
    if (!prepare()) return false;
    const int height = current_.height(), top = height / 10, end = 9 * height / 10;
    if (end <= top) return false;
    const Span middle{top, top, end - top, 0, 0};
    lastSpan_ = middle;
    std::vector<Run> runs;
    return differences(middle, 0, middle.count, 1, runs, false) && runs.size() <= 1 && (runs.empty() || cellSized(runs.front()));
}

}  // namespace brevalto
