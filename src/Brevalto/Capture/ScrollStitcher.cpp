// The stitcher's life: its staging folder, each grab's placement and the composition.
#include "Capture/ScrollStitcher.h"

#include "Capture/CaptureError.h"
#include "Capture/ScrollPixelRows.h"
#include "ClipCore/Uuid.h"
#include "Errors/AIError.h"
#include "Platform/AppPaths.h"
#include "Platform/AtomicFile.h"

#include <QImageReader>

#include <functional>
#include <tuple>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <charconv>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace brevalto {

namespace fs = std::filesystem;

namespace {

constexpr double kStaleAfterSeconds = 86400.0;
constexpr std::uintmax_t kMaxOwnerFileBytes = 31;

// When the folder was made. Linux file systems report a birth time through statx where they
// keep one; elsewhere the last change of the folder stands in for it, which is never earlier
// than its creation, so a folder is never judged older than it is.
std::optional<Date> creationDate(const fs::path& path) {
    struct statx sx {};
    if (::statx(AT_FDCWD, path.c_str(), AT_SYMLINK_NOFOLLOW, STATX_BTIME | STATX_MTIME | STATX_CTIME, &sx) != 0)
        throw FileError("Could not read " + path.string() + ": " + std::strerror(errno));
    const auto toDate = [](const struct statx_timestamp& t) {
        return static_cast<double>(t.tv_sec) + t.tv_nsec / 1e9 - kUnixSecondsAtReferenceDate;
    };
    if (sx.stx_mask & STATX_BTIME) return toDate(sx.stx_btime);
    if ((sx.stx_mask & STATX_MTIME) && (sx.stx_mask & STATX_CTIME))
        return std::max(toDate(sx.stx_mtime), toDate(sx.stx_ctime));
    return std::nullopt;
}

// The owner's process id: the whole text must be an optional sign and digits, fit in 32 bits
// and be at least 1.
std::optional<int> ownerPid(const fs::path& folder) {
    const fs::path file = folder / "owner.pid";
    std::error_code unreadable;
    const FileStatus status = AtomicFile::status(file, unreadable);
    if (status.kind != FileKind::regular || status.size > kMaxOwnerFileBytes) return std::nullopt;
    std::string text;
    try {
        text = AtomicFile::read(file, kMaxOwnerFileBytes);
    } catch (const FileError&) {
        return std::nullopt;
    }
    std::string_view digits(text);
    if (!digits.empty() && digits.front() == '+') digits.remove_prefix(1);
    if (digits.empty()) return std::nullopt;
    int value = 0;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (error != std::errc() || end != digits.data() + digits.size()) return std::nullopt;
    if (value < 1) return std::nullopt;
    return value;
}

bool processIsGone(int pid) { return ::kill(pid, 0) != 0 && errno == ESRCH; }

void checkCancelled(const std::stop_token& stop) {
    if (stop.stop_requested()) throw CaptureCancelled();
}

}  // namespace

fs::path ScrollStitcher::stagingRoot() {
    static const fs::path root = AppPaths::temporaryRoot() / "Brevalto-scroll-staging";
    return root;
}

ScrollStitcher::ScrollStitcher(const fs::path& root, ScrollBudget budget) : budget_(budget) {
    if (!budget.isValid()) throw AIError("Invalid scrolling memory/disk budget");
    folder_ = root / Uuid::random().string();
    AtomicFile::createFolder(root);
    AtomicFile::createNewFolder(folder_);
    try {
        AtomicFile::write(folder_ / "owner.pid", std::to_string(::getpid()));
    } catch (...) {
        std::error_code ignored;
        fs::remove_all(folder_, ignored);
        throw;
    }
}

ScrollStitcher::~ScrollStitcher() {
    if (removed_) return;
    std::error_code ignored;
    fs::remove_all(folder_, ignored);
}

void ScrollStitcher::removeStaging() {
    std::lock_guard lock(mutex_);
    std::error_code error;
    fs::remove_all(folder_, error);
    if (error) throw FileError("Could not remove " + folder_.string() + ": " + error.message());
    strips_.clear();
    previous_.reset();
    held_ = heldTop_ = QImage();
    removed_ = true;
}

int ScrollStitcher::removeStaleStaging(const fs::path& root, Date now) {
    std::error_code error;
    if (AtomicFile::status(root, error).kind == FileKind::missing) return 0;

    fs::directory_iterator it(root, error);
    if (error) throw FileError("Could not list " + root.string() + ": " + error.message());

    std::vector<fs::path> stale;
    for (; it != fs::directory_iterator(); it.increment(error)) {
        if (error) throw FileError("Could not list " + root.string() + ": " + error.message());
        const fs::path entry = it->path();
        if (!Uuid::parse(entry.filename().string())) continue;
        if (AtomicFile::status(entry).kind != FileKind::folder) continue;  // plain files and symbolic links stay
        const auto created = creationDate(entry);
        if (!created || !(now - *created > kStaleAfterSeconds)) continue;
        const auto pid = ownerPid(entry);
        if (!pid || !processIsGone(*pid)) continue;
        stale.push_back(entry);
    }
    if (error) throw FileError("Could not list " + root.string() + ": " + error.message());

    int removed = 0;
    for (const auto& folder : stale) {
        fs::remove_all(folder, error);
        if (error) throw FileError("Could not remove " + folder.string() + ": " + error.message());
        ++removed;
    }
    return removed;
}

bool ScrollStitcher::withinBudget(double outputHeight) const {
    const double w = width_, h = frameHeight_;
    return w >= 1 && outputHeight >= 1 && h >= 1 && outputHeight <= static_cast<double>(budget_.maximumHeight) &&
           w * outputHeight <= kAreaLimit && 8 * w * h + 8 * w * outputHeight <= static_cast<double>(budget_.memoryBytes);
}

ScrollStitcher::Outcome ScrollStitcher::refuse(Outcome::Kind kind, std::string status) {
    partial_ = true;
    status_ = std::move(status);
    return {kind, 0, 0.0};
}

ScrollStitcher::Outcome ScrollStitcher::append(const QImage& grab, std::optional<int> manualDisplacement,
                                               std::stop_token stop) {
    checkCancelled(stop);
    return append(ScrollFrameSignature(grab), manualDisplacement, stop);
}

ScrollStitcher::Outcome ScrollStitcher::append(ScrollFrameSignature signature, std::optional<int> manualDisplacement,
                                               std::stop_token stop) {
    std::lock_guard lock(mutex_);
    checkCancelled(stop);
    const QImage grab = signature.image;
    if (!previous_) return appendFirst(grab, std::move(signature));

    const int h = frameHeight_;
    if (grab.width() != width_ || grab.height() != h)
        return refuse(Outcome::Kind::stopped, "Viewport size changed. Finish this capture and select again.");

    // Nothing new only when the grab shows the last accepted view at full resolution
    // (ScrollPixelRows::sameView): a sparse page that moved can keep its signature, and a search
    // that finds nothing is no proof that nothing moved.
    ScrollPixelRows pixels(previous_->image, grab);
    const bool sameSignature = signature.values == previous_->values;
    const auto found = sameSignature && pixels.sameView() ? std::nullopt : findDisplacement(*previous_, signature, pixels);
    if (!manualDisplacement && !found) {
        // A cursor that moved alone is the program's answer to the wheel, as long as it can still
        // go down the view; past that, a still view.
        const int lines = pixels.movedCursor();
        if (lines > 0 && ++cursorMoves_ <= lines) return {Outcome::Kind::noNewContent, 0, 0.0, true};
        if (lines > 0 || pixels.sameView()) {
            status_ = "No new content; waiting for scroll";
            return {Outcome::Kind::noNewContent, 0, 0.0};
        }
    }
    // A manual displacement holds whatever the search says; without one, nothing found stops.
    const std::optional<int> d = manualDisplacement ? manualDisplacement
                                 : found             ? std::optional<int>(found->displacement)
                                                     : std::nullopt;
    const int reach = 4 * h / 5;
    if (!d || std::abs(*d) < 2 || *d < -reach || *d > reach)
        return refuse(Outcome::Kind::stopped, "Lost overlap near output row " + std::to_string(maxY_ - minY_) +
                                                       ". Scroll back toward the last accepted frame, then retry.");
    if (manualDisplacement) partial_ = true;

    const std::int64_t newTop = static_cast<std::int64_t>(previousPosition_) + *d;
    const std::int64_t newBottom = newTop + h;
    const double span = static_cast<double>(std::max<std::int64_t>(newBottom, maxY_) - std::min<std::int64_t>(newTop, minY_));
    if (!withinBudget(span))
        return refuse(Outcome::Kind::budgetReached, "Memory/height budget reached. Finish to save the valid part.");

    // Rows are stored once a pair of grabs shows them as content, down to the end of the compared
    // rows and up to their start, from this grab; held rows that this grab leaves out (a sticky
    // header, a footer) or cannot give come from the grab that holds them. Rows a pair let differ
    // (a text cursor's cell) come from the last accepted grab, as it showed them, unless that grab
    // shows a block there over what this one shows plainly (the cursor it left). What lies
    // beyond stays held, in this grab where it reaches that end of the span: a band that stays
    // put or changes in place (a header, a footer, a status line) is never stored, and one that
    // appears lies first in the rows this grab alone shows.
    // Where the rows do not prove the shift (the signatures or the user placed the grab), the rows
    // that the two grabs both show are taken from the held ones, as they were seen first, down to
    // the last accepted grab's bottom or its band, and up to its top or its band.
    const ScrollPixelRows::Rows proven = pixels.comparedRows(*d);
    const bool rowsProven = pixels.fits(*d);
    const int top = static_cast<int>(newTop), bottom = static_cast<int>(newBottom);
    const int previousTop = previousPosition_;
    const QImage& previousGrab = previous_->image;
    // Where an output row that this grab shows as content comes from.
    const auto fromGrab = [&](int y) -> std::pair<const QImage*, int> {
        for (const auto& cell : proven.cells)
            if (y >= top + cell.first && y < top + cell.end && !cell.current) return {&previousGrab, y - previousTop};
        return {&grab, y - top};
    };
    // Until a pair has shown content, the first grab is held whole; the first pair parts it at
    // the content it shows: the rows above go with the top of the span, the rows below with its
    // bottom.
    int writtenBefore = written_, writtenTopBefore = writtenTop_, heldRowBefore = heldRow_;
    QImage heldTopBefore = heldTop_;
    if (!paired_) {
        writtenBefore = writtenTopBefore = heldRowBefore =
            std::clamp(*d > 0 ? top + proven.first : top + proven.end, 0, frameHeight_);
        heldTopBefore = held_;
    }
    std::vector<std::pair<QByteArray, Strip>> strips;
    // Below: this grab gives no row below its bottom, and those stay held. When it becomes the
    // held one, the held rows above its top are stored first, as it cannot give them either.
    const int contentEnd = std::min(std::max({top + proven.end,
                                              rowsProven ? writtenBefore : std::min(maxY_, previousTop + h - proven.still),
                                              bottom >= maxY_ ? std::min(top, maxY_) : writtenBefore}),
                                    bottom);
    const int written = std::max(writtenBefore, contentEnd);
    if (contentEnd > writtenBefore) {
        const int leftOutAtTop = rowsProven ? proven.first - std::max(-*d, 0) : h;
        const int split = std::min(std::clamp(top + leftOutAtTop, writtenBefore, maxY_), contentEnd);
        strips.emplace_back(encodeStrip(sourcedRows(writtenBefore, contentEnd, [&](int y) -> std::pair<const QImage*, int> {
                                if (y < split) return {&held_, heldRowBefore + (y - writtenBefore)};
                                return fromGrab(y);
                            })),
                            newStrip(writtenBefore, contentEnd - writtenBefore));
    }
    // Above, the same upside down: this grab gives no row above its top.
    const int contentStart = std::max(std::min({top + proven.first,
                                                rowsProven ? writtenTopBefore : std::max(minY_, previousTop + proven.top),
                                                top <= minY_ ? std::max(bottom, minY_) : writtenTopBefore}),
                                      top);
    const int writtenTop = std::min(writtenTopBefore, contentStart);
    if (contentStart < writtenTopBefore) {
        const int leftOutAtBottom = rowsProven ? h - proven.end - std::max(*d, 0) : h;
        const int split = std::max(std::clamp(bottom - leftOutAtBottom, minY_, writtenTopBefore), contentStart);
        strips.emplace_back(encodeStrip(sourcedRows(contentStart, writtenTopBefore, [&](int y) -> std::pair<const QImage*, int> {
                                if (y >= split) return {&heldTopBefore, y - minY_};
                                return fromGrab(y);
                            })),
                            newStrip(contentStart, writtenTopBefore - contentStart));
    }
    const bool heldInGrab = bottom >= maxY_, heldTopInGrab = top <= minY_;
    const int maxY = std::max(maxY_, bottom), minY = std::min(minY_, top);
    const int heldRow = heldInGrab ? written - top : heldRowBefore + (written - writtenBefore);
    std::int64_t heldBytes = heldBytes_, heldTopBytes = heldTopBytes_;
    if (heldInGrab || written != written_ || !paired_)
        heldBytes = maxY > written ? encodeStrip((heldInGrab ? grab : held_).copy(0, heldRow, width_, maxY - written)).size() : 0;
    if (heldTopInGrab || writtenTop != writtenTop_ || !paired_)
        heldTopBytes =
            writtenTop > minY ? encodeStrip((heldTopInGrab ? grab : heldTopBefore).copy(0, 0, width_, writtenTop - minY)).size() : 0;
    std::int64_t bytes = heldBytes + heldTopBytes;
    for (const auto& strip : strips) bytes += strip.first.size();
    if (static_cast<double>(diskBytes_) + static_cast<double>(bytes) > static_cast<double>(budget_.diskBytes))
        return refuse(Outcome::Kind::budgetReached, "Disk budget reached. Finish to save the valid part.");
    writeStripsLocked(strips);

    // The rows by which the span grew: how far the content moved past it.
    const int rows = top < minY_ ? minY_ - top : std::max(bottom - maxY_, 0);
    minY_ = minY;
    maxY_ = maxY;
    written_ = written;
    writtenTop_ = writtenTop;
    held_ = heldInGrab ? grab : held_;
    heldTop_ = heldTopInGrab ? grab : heldTopBefore;
    heldRow_ = heldRow;
    heldBytes_ = heldBytes;
    heldTopBytes_ = heldTopBytes;
    paired_ = true;
    ++frames_;
    cursorMoves_ = 0;
    previous_ = std::move(signature);
    previousPosition_ = static_cast<int>(newTop);
    status_ = manualDisplacement ? "Manual alignment: inspect the seam before sharing."
                                 : std::to_string(frames_) + " accepted frames; " + std::to_string(maxY_ - minY_) +
                                       " px high";
    return {Outcome::Kind::accepted, rows, found ? found->confidence : 0.0};
}

// Output rows `from` ... `to` as they are, each from the grab and row that `source` names for it.
QImage ScrollStitcher::sourcedRows(int from, int to, const std::function<std::pair<const QImage*, int>(int y)>& source) const {
    std::vector<std::pair<const QImage*, int>> rows;
    bool sameFormat = true;
    for (int y = from; y < to; ++y) {
        rows.push_back(source(y));
        sameFormat = sameFormat && rows.back().first->format() == rows.front().first->format();
    }
    if (rows.empty()) return {};
    const QImage::Format format =
        sameFormat && rows.front().first->depth() == 32 ? rows.front().first->format() : QImage::Format_ARGB32_Premultiplied;
    std::vector<std::pair<const QImage*, QImage>> converted;  // each grab once
    const auto rowsOf = [&](const QImage* image) -> const QImage& {
        for (const auto& [original, as] : converted)
            if (original == image) return as;
        return converted.emplace_back(image, image->convertToFormat(format)).second;
    };
    QImage strip(width_, to - from, format);
    if (strip.isNull()) return {};
    const auto bytes = static_cast<std::size_t>(width_) * 4;
    for (int y = from; y < to; ++y) {
        const auto& [image, row] = rows[static_cast<std::size_t>(y - from)];
        const QImage& pixels = rowsOf(image);
        if (pixels.isNull() || row < 0 || row >= pixels.height()) return {};
        std::memcpy(strip.scanLine(y - from), pixels.constScanLine(row), bytes);
    }
    return strip;
}

ScrollStitcher::Outcome ScrollStitcher::appendFirst(const QImage& grab, ScrollFrameSignature signature) {
    const double w = grab.width(), h = grab.height();
    if (w < 1 || h < 1 || h > static_cast<double>(budget_.maximumHeight) || w * h > kAreaLimit ||
        16 * w * h > static_cast<double>(budget_.memoryBytes))
        throw AIError("The first frame exceeds the scrolling memory budget. Select a smaller viewport.");
    const QColorSpace space = grab.colorSpace().isValid() ? grab.colorSpace() : QColorSpace(QColorSpace::SRgb);
    // No pair shows any of its rows yet: the whole grab is held.
    const std::int64_t bytes = encodeStrip(grab).size();
    if (static_cast<double>(diskBytes_) + static_cast<double>(bytes) > static_cast<double>(budget_.diskBytes))
        throw AIError("The first frame exceeds the disk budget");
    held_ = grab;
    heldRow_ = 0;
    heldBytes_ = bytes;
    written_ = writtenTop_ = 0;
    paired_ = false;
    colorSpace_ = space;
    width_ = grab.width();
    frameHeight_ = grab.height();
    minY_ = 0;
    maxY_ = frameHeight_;
    previousPosition_ = 0;
    frames_ = 1;
    previous_ = std::move(signature);
    status_ = "1 frame. Scroll the target window.";
    return {Outcome::Kind::first, 0, 0.0};
}

QImage ScrollStitcher::compose(std::stop_token stop) {
    static constexpr const char* kBudgetMessage =
        "Scrolling needs at least one accepted frame within the memory budget.";
    static constexpr const char* kStripMessage = "A staging strip is unavailable. No output was committed.";
    std::lock_guard lock(mutex_);
    checkCancelled(stop);
    const int height = maxY_ - minY_;
    if (frames_ <= 0 || !withinBudget(height)) throw AIError(kBudgetMessage);
    QImage output;
    try {
        output = QImage(width_, height, QImage::Format_ARGB32_Premultiplied);
    } catch (const std::bad_alloc&) {
    }
    if (output.isNull()) throw AIError(kBudgetMessage);
    output.setColorSpace(colorSpace_);

    // Strips never overlap, so together they cover the output exactly when their heights add up
    // to it; a gap (the folder was removed) would leave rows undrawn.
    std::int64_t covered = (maxY_ - written_) + (writtenTop_ - minY_);
    for (const Strip& strip : strips_) covered += strip.height;
    if (covered != height || (maxY_ > written_ && held_.isNull()) || (writtenTop_ > minY_ && heldTop_.isNull()))
        throw AIError(kStripMessage);
    std::vector<Strip> sorted = strips_;
    std::stable_sort(sorted.begin(), sorted.end(), [](const Strip& a, const Strip& b) { return a.y < b.y; });
    const auto rowBytes = static_cast<std::size_t>(width_) * 4;
    for (const Strip& strip : sorted) {
        checkCancelled(stop);
        QImage rows;
        {
            QImageReader reader(QString::fromStdString(strip.url.string()), "png");
            rows = reader.read();
        }
        // Strips are copied row by row, as stored: their pixels are never resampled or converted
        // between colour spaces.
        if (rows.isNull() || rows.width() != width_ || rows.height() != strip.height) throw AIError(kStripMessage);
        rows = rows.convertToFormat(QImage::Format_ARGB32_Premultiplied);
        if (rows.isNull()) throw AIError(kStripMessage);
        for (int y = 0; y < strip.height; ++y) {
            const int target = strip.y - minY_ + y;
            if (target < 0 || target >= height) continue;
            std::memcpy(output.scanLine(target), rows.constScanLine(y), rowBytes);
        }
    }
    // The held rows of the newest grabs, below and above the strips.
    for (const auto& [image, row, from, to] : {std::tuple(&held_, heldRow_, written_, maxY_), std::tuple(&heldTop_, 0, minY_, writtenTop_)}) {
        if (to <= from) continue;
        const QImage held = image->convertToFormat(QImage::Format_ARGB32_Premultiplied);
        if (held.isNull()) throw CaptureError(CaptureError::Kind::missingImage);
        for (int y = 0; y < to - from; ++y)
            std::memcpy(output.scanLine(from - minY_ + y), held.constScanLine(row + y), rowBytes);
    }
    if (output.isNull()) throw CaptureError(CaptureError::Kind::missingImage);
    return output;
}

std::vector<ScrollStitcher::Strip> ScrollStitcher::strips() const {
    std::lock_guard lock(mutex_);
    return strips_;
}
int ScrollStitcher::frames() const {
    std::lock_guard lock(mutex_);
    return frames_;
}
int ScrollStitcher::minY() const {
    std::lock_guard lock(mutex_);
    return minY_;
}
int ScrollStitcher::maxY() const {
    std::lock_guard lock(mutex_);
    return maxY_;
}
int ScrollStitcher::width() const {
    std::lock_guard lock(mutex_);
    return width_;
}
int ScrollStitcher::frameHeight() const {
    std::lock_guard lock(mutex_);
    return frameHeight_;
}
std::int64_t ScrollStitcher::diskBytes() const {
    std::lock_guard lock(mutex_);
    return diskBytes_ + heldBytes_ + heldTopBytes_;
}
bool ScrollStitcher::partial() const {
    std::lock_guard lock(mutex_);
    return partial_;
}
std::string ScrollStitcher::status() const {
    std::lock_guard lock(mutex_);
    return status_;
}

}  // namespace brevalto
