#include "Capture/ScrollStitcher.h"

#include "Capture/CaptureError.h"
#include "ClipCore/Uuid.h"
#include "Errors/AIError.h"
#include "Platform/AppPaths.h"
#include "Platform/AtomicFile.h"

#include <QBuffer>
#include <QImageReader>
#include <QImageWriter>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <charconv>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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

// ---- Overlap search ----

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

// The rows [top, top + height) of an image as premultiplied RGBA8 sRGB; null when they cannot be
// read.
QImage rgbaRows(const QImage& image, int left, int top, int width, int height) {
    QImage rows = image.copy(left, top, width, height);
    if (rows.isNull()) return rows;
    if (rows.colorSpace().isValid() && rows.colorSpace() != QColorSpace(QColorSpace::SRgb))
        rows.convertToColorSpace(QColorSpace(QColorSpace::SRgb));
    return rows.convertToFormat(QImage::Format_RGBA8888_Premultiplied);
}

bool sameRows(const QImage& a, const QImage& b) {
    if (a.isNull() || b.isNull() || a.size() != b.size() || a.format() != b.format()) return false;
    const auto bytes = static_cast<std::size_t>(a.width()) * 4;
    for (int y = 0; y < a.height(); ++y)
        if (std::memcmp(a.constScanLine(y), b.constScanLine(y), bytes) != 0) return false;
    return true;
}

}  // namespace

double ScrollStitcher::overlapScore(int displacement, int rowWidth, int height, const std::uint8_t* previous,
                                    int minimumOverlap, int samples, const std::uint8_t* current) {
    std::vector<int> scratch;
    return scoreWith(displacement, rowWidth, height, previous, minimumOverlap, samples, current, scratch);
}

bool ScrollStitcher::overlapMatchesExactly(const QImage& previous, int displacement, int height, const QImage& current) {
    const int overlap = height - std::abs(displacement);
    if (overlap < 1 || previous.isNull() || current.isNull()) return false;
    const int width = current.width();
    const int previousTop = std::max(displacement, 0), currentTop = std::max(-displacement, 0);
    // A crop that would reach outside either image fails.
    if (previous.width() < width || previous.height() < previousTop + overlap || current.height() < currentTop + overlap)
        return false;
    // What stays put while the page moves is left out of the proof, as it is out of the search:
    // the edge columns that signatures never read (scroll bars, window borders) and a few rows at
    // the viewport's top and bottom edges (shades and lines that views draw where the content goes on).
    const int left = width / ScrollFrameSignature::kColumns;
    const int right = (43 * width + ScrollFrameSignature::kColumns - 1) / ScrollFrameSignature::kColumns;
    const int edge = std::max(2, height / 64);
    const int first = std::max({edge - currentTop, edge - previousTop, 0});
    const int end = std::min({height - edge - currentTop, height - edge - previousTop, overlap});
    if (end <= first) return false;
    const bool sameLayout = previous.format() == current.format() && previous.depth() == 32 &&
                            previous.colorSpace() == current.colorSpace() && previous.width() == width &&
                            (previous.format() == QImage::Format_RGB32 ||
                             previous.format() == QImage::Format_ARGB32_Premultiplied);
    if (sameLayout) {
        // The same pixel format on both sides: RGBA8 bytes are equal exactly when these are.
        const auto bytes = static_cast<std::size_t>(right - left) * 4;
        for (int k = first; k < end; ++k)
            if (std::memcmp(previous.constScanLine(previousTop + k) + 4 * left,
                            current.constScanLine(currentTop + k) + 4 * left, bytes) != 0)
                return false;
        return true;
    }
    return sameRows(rgbaRows(previous, left, previousTop + first, right - left, end - first),
                    rgbaRows(current, left, currentTop + first, right - left, end - first));
}

std::optional<ScrollStitcher::Displacement> ScrollStitcher::findDisplacement(const ScrollFrameSignature& previous,
                                                                            const ScrollFrameSignature& current) {
    const int h = current.height;
    if (previous.image.width() != current.image.width() || previous.height != h || h < kMinSearchHeight) return {};
    if (previous.width != current.width || previous.values.size() != current.values.size()) return {};
    const int minimumOverlap = std::max(h / 5, 48);
    const int shift = h - minimumOverlap;
    if (shift < 0) return {};

    // Scored in increasing d; the strict comparison keeps the smaller d among equal scores.
    std::vector<double> scores(static_cast<std::size_t>(2 * shift + 1));
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
        if (score < scores[static_cast<std::size_t>(best + shift)]) best = d;
    }
    const double bestScore = scores[static_cast<std::size_t>(best + shift)];
    if (std::abs(best) < 2 || !(bestScore < kBestScoreLimit)) return {};

    std::optional<double> runnerUp;
    for (int d = -shift; d <= shift; ++d) {
        if (std::abs(d - best) <= kRunnerUpDistance) continue;
        const double score = scores[static_cast<std::size_t>(d + shift)];
        if (!runnerUp || score < *runnerUp) runnerUp = score;
    }
    if (!runnerUp) return {};
    const double margin = *runnerUp - bestScore;
    if (!(margin > kMarginLimit)) return {};

    double confidence =
        std::min(1.0, 1.0 - bestScore / kBestScoreLimit) * std::min(1.0, margin / kMarginNormaliser);
    if (confidence < kConfidenceThreshold) {
        if (!overlapMatchesExactly(previous.image, best, h, current.image)) return {};
        confidence = 1.0;
    }
    return Displacement{best, bestScore, confidence};
}

// ---- Stitching ----

namespace {

constexpr int kStripPNGQuality = 80;  // the fastest zlib level above none

void checkCancelled(const std::stop_token& stop) {
    if (stop.stop_requested()) throw CaptureCancelled();
}

std::uint32_t crc32(const char* data, std::size_t size, std::uint32_t crc = 0) {
    static const auto table = [] {
        std::array<std::uint32_t, 256> t{};
        for (std::uint32_t n = 0; n < 256; ++n) {
            std::uint32_t c = n;
            for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xedb88320u ^ (c >> 1) : c >> 1;
            t[n] = c;
        }
        return t;
    }();
    crc = ~crc;
    for (std::size_t i = 0; i < size; ++i) crc = table[(crc ^ static_cast<std::uint8_t>(data[i])) & 0xff] ^ (crc >> 8);
    return ~crc;
}

void appendBigEndian(QByteArray& out, std::uint32_t value) {
    const char bytes[4] = {char(value >> 24), char(value >> 16), char(value >> 8), char(value)};
    out.append(bytes, 4);
}

void appendChunk(QByteArray& out, const char type[4], const char* data, std::size_t size) {
    appendBigEndian(out, static_cast<std::uint32_t>(size));
    const qsizetype start = out.size();
    out.append(type, 4);
    out.append(data, static_cast<qsizetype>(size));
    appendBigEndian(out, crc32(out.constData() + start, size + 4));
}

// The PNG of a strip of 32-bit pixels, made for speed: rows with the "sub" filter (each byte less
// the one a pixel to its left), deflated at zlib's fastest level. Opaque rows are stored as RGB, others as straight RGBA, as the general writer stores
// them; no colour space or text. Empty when the image is of another format or cannot be packed.
QByteArray fastStripPng(const QImage& image) {
    const QImage::Format format = image.format();
    if (format != QImage::Format_RGB32 && format != QImage::Format_ARGB32 &&
        format != QImage::Format_ARGB32_Premultiplied)
        return {};
    const int width = image.width(), height = image.height();
    bool opaque = true;
    for (int y = 0; opaque && format != QImage::Format_RGB32 && y < height; ++y) {
        const auto* row = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        for (int x = 0; x < width; ++x)
            if (qAlpha(row[x]) != 255) {
                opaque = false;
                break;
            }
    }
    const QImage straight = opaque ? image : image.convertToFormat(QImage::Format_RGBA8888);
    if (straight.isNull()) return {};
    const std::size_t channels = opaque ? 3 : 4;
    const std::size_t rowBytes = 1 + channels * static_cast<std::size_t>(width);
    QByteArray raw(static_cast<qsizetype>(rowBytes * static_cast<std::size_t>(height)), Qt::Uninitialized);
    for (int y = 0; y < height; ++y) {
        char* out = raw.data() + rowBytes * static_cast<std::size_t>(y);
        *out++ = 1;  // filter: sub
        if (!opaque) {
            const auto* row = straight.constScanLine(y);
            std::uint32_t left = 0;
            for (int x = 0; x < width; ++x, out += 4) {
                std::uint32_t pixel;
                std::memcpy(&pixel, row + 4 * x, 4);
                // Byte-wise subtraction modulo 256 in all four lanes at once.
                const std::uint32_t difference =
                    ((pixel | 0x80808080u) - (left & 0x7f7f7f7fu)) ^ ((pixel ^ ~left) & 0x80808080u);
                std::memcpy(out, &difference, 4);
                left = pixel;
            }
            continue;
        }
        const auto* row = reinterpret_cast<const QRgb*>(straight.constScanLine(y));
        QRgb left = 0;
        for (int x = 0; x < width; ++x) {
            const QRgb pixel = row[x];
            *out++ = static_cast<char>(qRed(pixel) - qRed(left));
            *out++ = static_cast<char>(qGreen(pixel) - qGreen(left));
            *out++ = static_cast<char>(qBlue(pixel) - qBlue(left));
            left = pixel;
        }
    }
    // qCompress puts the input's length in front of the zlib stream that IDAT holds.
    const QByteArray deflated = qCompress(raw, 1);
    if (deflated.size() <= 4) return {};

    QByteArray png("\x89PNG\r\n\x1a\n", 8);
    char header[13];
    const std::uint32_t w = static_cast<std::uint32_t>(width), h = static_cast<std::uint32_t>(height);
    const char size[8] = {char(w >> 24), char(w >> 16), char(w >> 8), char(w), char(h >> 24), char(h >> 16), char(h >> 8), char(h)};
    std::memcpy(header, size, 8);
    header[8] = 8;                   // bits per channel
    header[9] = opaque ? 2 : 6;      // RGB or RGBA
    header[10] = header[11] = header[12] = 0;  // deflate, standard filters, not interlaced
    png.reserve(8 + 25 + 12 + deflated.size() + 12);
    appendChunk(png, "IHDR", header, sizeof header);
    appendChunk(png, "IDAT", deflated.constData() + 4, static_cast<std::size_t>(deflated.size() - 4));
    appendChunk(png, "IEND", nullptr, 0);
    return png;
}

}  // namespace

QByteArray ScrollStitcher::encodeStrip(const QImage& image) {
    static constexpr const char* kMessage = "Could not encode the next strip. The accepted portion is still available.";
    if (image.isNull()) throw AIError(kMessage);
    if (QByteArray png = fastStripPng(image); !png.isEmpty()) return png;
    // The pixels alone, sharing the image's memory: no colour space, no text.
    const QImage bare(image.constBits(), image.width(), image.height(), image.bytesPerLine(), image.format());
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "png");
    writer.setQuality(kStripPNGQuality);
    if (!writer.write(bare)) throw AIError(kMessage);
    return bytes;
}

bool ScrollStitcher::writeStrip(const QImage& image, int y) {
    std::lock_guard lock(mutex_);
    return writeStripLocked(image, y);
}

bool ScrollStitcher::writeStripLocked(const QImage& image, int y) {
    const QByteArray png = encodeStrip(image);
    if (static_cast<double>(diskBytes_) + static_cast<double>(png.size()) > static_cast<double>(budget_.diskBytes))
        return false;
    const fs::path path = folder_ / (Uuid::random().string() + ".png");
    // Only this process reads its strips, and a restart leaves them to the stale clean-up, so
    // they are not flushed to the disk; the rename still shows each one whole or not at all.
    AtomicFile::write(path, png, {.refuseSymlinks = true, .createFolder = false, .durable = false});
    strips_.push_back({path, y, image.height()});
    diskBytes_ += png.size();
    return true;
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

    if (!manualDisplacement && signature.values == previous_->values) {
        status_ = "No new content; waiting for scroll";
        return {Outcome::Kind::noNewContent, 0, 0.0};
    }
    const auto found = findDisplacement(*previous_, signature);
    // A view that did not move, whatever changed at its edges (a scroll bar fading, a shade
    // drawn at the end of the page), brings nothing new either.
    if (!manualDisplacement && !found && ScrollFrameSignature::difference(*previous_, signature) < ScrollFrameSignature::kSameView) {
        status_ = "No new content; waiting for scroll";
        return {Outcome::Kind::noNewContent, 0, 0.0};
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

    // A grab adds rows on at most one side: the covered span is never shorter than one grab.
    int rows = 0;
    if (newTop < minY_) {
        const int count = static_cast<int>(minY_ - newTop);
        const QImage strip = grab.copy(0, 0, width_, count);
        if (strip.isNull() || !writeStripLocked(strip, static_cast<int>(newTop)))
            return refuse(Outcome::Kind::budgetReached, "Disk budget reached. Finish to save the valid part.");
        minY_ = static_cast<int>(newTop);
        rows = count;
    } else if (newBottom > maxY_) {
        const int count = static_cast<int>(newBottom - maxY_);
        const QImage strip = grab.copy(0, h - count, width_, count);
        if (strip.isNull() || !writeStripLocked(strip, maxY_))
            return refuse(Outcome::Kind::budgetReached, "Disk budget reached. Finish to save the valid part.");
        maxY_ = static_cast<int>(newBottom);
        rows = count;
    }

    ++frames_;
    previous_ = std::move(signature);
    previousPosition_ = static_cast<int>(newTop);
    status_ = manualDisplacement ? "Manual alignment: inspect the seam before sharing."
                                 : std::to_string(frames_) + " accepted frames; " + std::to_string(maxY_ - minY_) +
                                       " px high";
    return {Outcome::Kind::accepted, rows, found ? found->confidence : 0.0};
}

ScrollStitcher::Outcome ScrollStitcher::appendFirst(const QImage& grab, ScrollFrameSignature signature) {
    const double w = grab.width(), h = grab.height();
    if (w < 1 || h < 1 || h > static_cast<double>(budget_.maximumHeight) || w * h > kAreaLimit ||
        16 * w * h > static_cast<double>(budget_.memoryBytes))
        throw AIError("The first frame exceeds the scrolling memory budget. Select a smaller viewport.");
    const QColorSpace space = grab.colorSpace().isValid() ? grab.colorSpace() : QColorSpace(QColorSpace::SRgb);
    if (!writeStripLocked(grab, 0)) throw AIError("The first frame exceeds the disk budget");
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
    std::int64_t covered = 0;
    for (const Strip& strip : strips_) covered += strip.height;
    if (covered != height) throw AIError(kStripMessage);
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
    return diskBytes_;
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
