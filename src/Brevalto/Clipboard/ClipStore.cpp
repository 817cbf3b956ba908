#include "Clipboard/ClipStore.h"

#include "ClipCore/HistoryPolicy.h"
#include "ClipCore/ReferenceDate.h"
#include "ClipCore/UnicodeText.h"
#include "Imaging/ImageDecoding.h"
#include "Platform/AppPaths.h"
#include "Platform/AtomicFile.h"
#include "Platform/Counts.h"
#include "Platform/Hashing.h"

#include <QBuffer>
#include <QTimer>
#include <QColorSpace>
#include <QDateTime>
#include <QImageReader>
#include <QImageWriter>

#include <algorithm>
#include <array>
#include <cstring>
#include <span>
#include <cmath>
#include <malloc.h>
#include <set>

namespace brevalto {

namespace fs = std::filesystem;

namespace {

constexpr const char* kLoadFailedPrefix = "History could not be loaded. Existing files are preserved. ";
constexpr const char* kUpdateFailedPrefix = "Could not update history: ";
constexpr const char* kSaveFailedPrefix = "Could not save: ";
constexpr const char* kQuotaMessage = "History quota reached. Unpin or delete an item.";
constexpr const char* kTextTooLargeMessage = "Text exceeds 32 MB";
constexpr const char* kInvalidScaleMessage = "Invalid image scale";
constexpr const char* kQueueBusyMessage = "Image queue busy; copy again shortly";
constexpr const char* kImageTooLargeMessage = "Image exceeds 32 MB";
constexpr const char* kImageCancelledMessage = "Image save cancelled";
constexpr const char* kImageUnsupportedMessage = "Image unsupported or too large (32 MB / 40 MP limit)";

// The index may hold the whole 256 MiB history with every character escaped; anything larger is
// not ours.
constexpr std::uint64_t kMaxIndexBytes = 2ull * 1024 * 1024 * 1024;

// A regular file, not a symbolic link and not a folder.
bool isRegularFile(const fs::path& path) {
    std::error_code ignored;
    return AtomicFile::status(path, ignored).kind == FileKind::regular;
}

bool keepsAfterLoad(const Clip& clip, const fs::path& root) {
    if (!clip.imageFile) return clip.kind == Clip::Kind::text;
    return ClipStore::isImageFileName(*clip.imageFile) && isRegularFile(root / *clip.imageFile);
}

// Decoded pixels in one canonical form, so that equal pictures from different files give equal
// PNG bytes: 8-bit grey, 8-bit RGB, or ARGB when some pixel is not opaque.
QImage canonicalPixels(QImage image) {
    if (image.format() != QImage::Format_Grayscale8) {
        bool opaque = true;
        if (image.hasAlphaChannel()) {
            image.convertTo(QImage::Format_ARGB32);
            for (int y = 0; y < image.height() && opaque; ++y) {
                const auto* row = reinterpret_cast<const QRgb*>(image.constScanLine(y));
                for (int x = 0; x < image.width(); ++x)
                    if (qAlpha(row[x]) != 255) {
                        opaque = false;
                        break;
                    }
            }
        }
        image.convertTo(opaque ? QImage::Format_RGB32 : QImage::Format_ARGB32);
    }
    return image;
}

// The pixels of `image` without its text, resolution and offset; shares its memory, so `image`
// must outlive the result.
QImage bareView(const QImage& image) {
    QImage bare(image.constBits(), image.width(), image.height(), image.bytesPerLine(), image.format());
    bare.setColorSpace(image.colorSpace());
    bare.setDotsPerMeterX(3780);  // 96 dpi
    bare.setDotsPerMeterY(3780);
    return bare;
}

}  // namespace

std::string hexDigest(std::string_view bytes) { return toHex(sha256(bytes)); }

namespace {

// The store's rule for an image: at least one pixel and at most 40 megapixels, of any shape.
bool storableSize(QSize size) {
    return size.isValid() && size.width() >= 1 && size.height() >= 1 &&
           double(size.width()) * double(size.height()) <= ClipStore::kMaxImagePixels;
}

// CRC-32 as PNG chunks carry it (ISO 3309, reflected, initial and final value all ones).
std::uint32_t chunkCRC(const unsigned char* bytes, std::size_t size) {
    static const auto table = [] {
        std::array<std::uint32_t, 256> t{};
        for (std::uint32_t n = 0; n < 256; ++n) {
            std::uint32_t c = n;
            for (int k = 0; k < 8; ++k) c = c & 1 ? 0xedb88320u ^ (c >> 1) : c >> 1;
            t[n] = c;
        }
        return t;
    }();
    std::uint32_t c = 0xffffffffu;
    for (std::size_t i = 0; i < size; ++i) c = table[(c ^ bytes[i]) & 0xff] ^ (c >> 8);
    return c ^ 0xffffffffu;
}

std::uint32_t bigEndian32(const unsigned char* p) {
    return std::uint32_t(p[0]) << 24 | std::uint32_t(p[1]) << 16 | std::uint32_t(p[2]) << 8 | std::uint32_t(p[3]);
}

// A PNG that normalising would not change in any way that matters: 8-bit grey, RGB, grey with
// alpha or RGBA within the pixel limit, every chunk intact, nothing but pixels, colour space and
// resolution (no text, no orientation, no transparency key, nothing after the end).
struct PlainPNG {
    std::uint32_t width = 0, height = 0;
    int bytesPerPixel = 0;
    bool interlaced = false;
    QByteArray stream;  // the image data chunks joined: one zlib stream
};

std::optional<PlainPNG> plainPNG(const QByteArray& data) {
    static constexpr unsigned char kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
    const auto* bytes = reinterpret_cast<const unsigned char*>(data.constData());
    const std::size_t size = static_cast<std::size_t>(data.size());
    if (size < 8 || std::memcmp(bytes, kSignature, 8) != 0) return std::nullopt;
    std::optional<PlainPNG> png;
    for (std::size_t at = 8; at + 12 <= size;) {
        const std::uint32_t length = bigEndian32(bytes + at);
        if (length > size - at - 12) return std::nullopt;
        const std::string_view type(reinterpret_cast<const char*>(bytes + at + 4), 4);
        const unsigned char* body = bytes + at + 8;
        if (chunkCRC(bytes + at + 4, length + 4) != bigEndian32(body + length)) return std::nullopt;
        at += 12 + length;
        if (!png) {
            // IHDR first: width, height, bit depth 8, colour type 0/2/4/6, standard methods.
            if (type != "IHDR" || length != 13) return std::nullopt;
            png.emplace();
            png->width = bigEndian32(body);
            png->height = bigEndian32(body + 4);
            if (png->width < 1 || png->height < 1 || png->width > 0x7fffffffu || png->height > 0x7fffffffu)
                return std::nullopt;
            if (double(png->width) * double(png->height) > ClipStore::kMaxImagePixels) return std::nullopt;
            static constexpr int kChannels[7] = {1, 0, 3, 0, 2, 0, 4};
            if (body[8] != 8 || body[9] > 6 || kChannels[body[9]] == 0) return std::nullopt;
            png->bytesPerPixel = kChannels[body[9]];
            if (body[10] != 0 || body[11] != 0 || body[12] > 1) return std::nullopt;
            png->interlaced = body[12] == 1;
        } else if (type == "IDAT") {
            png->stream.append(reinterpret_cast<const char*>(body), length);
        } else if (type == "IEND") {
            return !png->stream.isEmpty() && length == 0 && at == size ? png : std::nullopt;
        } else if (type == "pHYs") {
            // A resolution names no one and changes no pixel.
            if (length != 9 || body[8] > 1) return std::nullopt;
        } else if (type != "sRGB" && type != "gAMA" && type != "cHRM" && type != "iCCP") {
            return std::nullopt;
        }
    }
    return std::nullopt;
}

// Whether the image data inflates to exactly the rows the header promises, each with a known
// filter: then the pixels decode, and nothing needs to be decoded to know it.
bool pixelDataIntact(const PlainPNG& png) {
    struct Pass {
        std::uint32_t x, y, dx, dy;
    };
    static constexpr Pass kWhole[] = {{0, 0, 1, 1}};
    static constexpr Pass kAdam7[] = {{0, 0, 8, 8}, {4, 0, 8, 8}, {0, 4, 4, 8}, {2, 0, 4, 4},
                                      {0, 2, 2, 4}, {1, 0, 2, 2}, {0, 1, 1, 2}};
    std::vector<std::pair<std::uint64_t, std::uint64_t>> passes;  // rows, bytes per row with its filter
    std::uint64_t expected = 0;
    for (const Pass& pass : png.interlaced ? std::span<const Pass>(kAdam7) : std::span<const Pass>(kWhole)) {
        const std::uint64_t columns = png.width > pass.x ? (png.width - pass.x + pass.dx - 1) / pass.dx : 0;
        const std::uint64_t rows = png.height > pass.y ? (png.height - pass.y + pass.dy - 1) / pass.dy : 0;
        if (columns == 0 || rows == 0) continue;
        passes.emplace_back(rows, 1 + columns * std::uint64_t(png.bytesPerPixel));
        expected += rows * passes.back().second;
    }
    if (expected > 0xffffffffu) return false;
    // qUncompress reads a zlib stream behind its expected length (4 bytes, big-endian).
    QByteArray framed(4, Qt::Uninitialized);
    for (int i = 0; i < 4; ++i) framed[i] = char((expected >> (24 - 8 * i)) & 0xff);
    framed.append(png.stream);
    const QByteArray raw = qUncompress(framed);
    if (std::uint64_t(raw.size()) != expected) return false;
    const auto* row = reinterpret_cast<const unsigned char*>(raw.constData());
    for (const auto& [rows, stride] : passes)
        for (std::uint64_t r = 0; r < rows; ++r, row += stride)
            if (*row > 4) return false;
    return true;
}

}  // namespace

std::optional<QByteArray> encodeNormalisedPNG(const QImage& source) {
    if (source.isNull() || !storableSize(source.size())) return std::nullopt;
    const QImage image = canonicalPixels(source);
    QByteArray png;
    QBuffer output(&png);
    output.open(QIODevice::WriteOnly);
    QImageWriter writer(&output, "png");
    // Nothing of the input but its pixels and colour space is carried over: no text chunks (which
    // may name people or paths), no resolution or offset.
    if (!writer.write(bareView(image))) return std::nullopt;
    output.close();
    if (png.size() > ClipStore::kMaxInputBytes) return std::nullopt;
    return png;
}

std::optional<QByteArray> normalizeImageToPNG(const QByteArray& data) {
    // A PNG that already is what normalising makes of it is kept byte for byte: its pixels are
    // proved whole without decoding them, and encoding them again would change none of them.
    if (const std::optional<PlainPNG> plain = plainPNG(data); plain && pixelDataIntact(*plain)) return data;
    QByteArray input = data;  // shares the bytes; QBuffer wants a non-const array
    QBuffer buffer(&input);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    // The pixel limit is tested on the stored size, before anything is decoded.
    const QSize stored = reader.size();
    if (!storableSize(stored)) return std::nullopt;
    reader.setAutoTransform(true);
    QImage image = reader.read();
    if (image.isNull()) return std::nullopt;
    return encodeNormalisedPNG(image);
}

bool ClipStore::isImageFileName(std::string_view name) {
    constexpr std::string_view kExtension = ".png";
    if (name.size() != 64 + kExtension.size() || !name.ends_with(kExtension)) return false;
    return std::all_of(name.begin(), name.begin() + 64,
                       [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); });
}

ClipStore::ClipStore(std::optional<fs::path> folder, Clock& clock, QObject* parent)
    : QObject(parent),
      clock_(clock),
      message_(QString::fromUtf8(kReadyMessage)),
      root_(folder ? *folder : AppPaths::dataFolder()),
      imagePool_(1, QThread::LowPriority) {
    raiseImageAllocationLimit();  // main raises it first; this keeps the 40 MP intake working without it
    load();
    if (writable_) startWriter();
}

void ClipStore::startWriter() {
    writer_ = std::make_unique<HistoryWriter>(root_ / kIndexFileName, [this](std::uint64_t sequence,
                                                                             std::optional<std::string> error) {
        written(sequence, std::move(error));
    });
}

std::optional<fs::path> ClipStore::startNewHistory() {
    if (writable_) return std::nullopt;
    AtomicFile::createFolder(root_, false);
    const fs::path index = root_ / kIndexFileName;
    std::optional<fs::path> aside;
    std::error_code error;
    if (fs::exists(fs::symlink_status(index, error))) {
        const QString stamp = QDateTime::fromSecsSinceEpoch(static_cast<qint64>(std::floor(unixSeconds(clock_.now()))),
                                                            Qt::UTC)
                                  .toString(QStringLiteral("yyyyMMdd'T'HHmmss'Z'"));
        const std::string base = std::string(kIndexFileName) + kUnreadableSuffix + stamp.toStdString();
        aside = root_ / base;
        // Never over an earlier one moved aside in the same second.
        for (int n = 2; fs::exists(fs::symlink_status(*aside, error)); ++n) aside = root_ / (base + "-" + std::to_string(n));
        fs::rename(index, *aside);
    } else if (error && error != std::errc::no_such_file_or_directory) {
        throw FileError(index.string() + ": " + error.message());
    }
    writable_ = true;
    loadFailure_.reset();
    startWriter();
    setMessage(aside ? QStringLiteral("New history started \u00B7 the unreadable one is kept as %1")
                           .arg(QString::fromStdString(aside->filename().string()))
                     : QString::fromUtf8(kReadyMessage));
    return aside;
}

ClipStore::~ClipStore() { flush(); }

void ClipStore::load() {
    try {
        AtomicFile::createFolder(root_, false);
        // A folder reached through a link is used at its real place, where files are not links.
        if (AtomicFile::isSymlink(root_)) root_ = fs::canonical(root_);
        const fs::path index = root_ / kIndexFileName;
        std::error_code error;
        if (!fs::exists(fs::symlink_status(index, error))) {
            if (error && error != std::errc::no_such_file_or_directory) throw FileError(index.string() + ": " + error.message());
            return;
        }
        const std::string text = AtomicFile::read(index, kMaxIndexBytes, true);
        std::vector<Clip> clips = decodeClips(text, text.capacity() - text.size() >= kDecodePadding);
        std::erase_if(clips, [this](const Clip& clip) { return !keepsAfterLoad(clip, root_); });
        publish(std::move(clips));
        ::malloc_trim(0);  // the index text and the parser's buffers go back to the system
    } catch (const std::exception& e) {
        writable_ = false;
        loadFailure_ = QString::fromUtf8(e.what());
        setMessage(QString::fromUtf8(kLoadFailedPrefix) + *loadFailure_);
    }
}

void ClipStore::setMessage(const QString& message) {
    if (message_ == message) return;
    message_ = message;
    emit messageChanged();
}

void ClipStore::setPaused(bool paused) {
    if (paused_ == paused) return;
    paused_ = paused;
    emit pausedChanged();
}

void ClipStore::publish(std::vector<Clip> clips) {
    items_ = std::move(clips);
    emit itemsChanged();
}

std::uint64_t ClipStore::submit(const std::vector<Clip>& clips) {
    latest_ = std::make_shared<const std::vector<Clip>>(clips);  // shares every text with `clips`
    submitted_.emplace(++sequence_, latest_);
    writer_->submit(sequence_, latest_);
    return sequence_;
}

void ClipStore::commit(const std::vector<Clip>& clips) {
    if (!writable_) return;
    submit(clips);
}

void ClipStore::persist(const std::vector<Clip>& clips) {
    if (!writable_) return;
    const std::uint64_t sequence = submit(clips);
    flush();
    if (lastWrite_ && lastWrite_->sequence == sequence && lastWrite_->error) throw FileError(*lastWrite_->error);
}

void ClipStore::flush() {
    if (!writer_) return;
    writer_->waitUntilIdle();
    applyWrites();
}

// Writer thread: queues the result for the GUI thread.
void ClipStore::written(std::uint64_t sequence, std::optional<std::string> error) {
    {
        std::lock_guard lock(writesLock_);
        finishedWrites_.push_back({sequence, std::move(error)});
    }
    QMetaObject::invokeMethod(this, [this] { applyWrites(); }, Qt::QueuedConnection);
}

void ClipStore::applyWrites() {
    std::vector<Write> writes;
    {
        std::lock_guard lock(writesLock_);
        writes.swap(finishedWrites_);
    }
    for (Write& write : writes) {
        const std::uint64_t sequence = write.sequence;
        const bool newest = sequence == sequence_;
        lastWrite_ = write;
        // What the lists up to this one held, against what stays named: the list itself when it
        // was written, else the history on disk, and every newer list still waiting.
        std::set<std::string> keptFiles;
        std::set<Uuid> keptIds;
        auto keep = [&](const std::vector<Clip>& clips) {
            for (const Clip& clip : clips) {
                if (clip.imageFile) keptFiles.insert(*clip.imageFile);
                keptIds.insert(clip.id);
            }
        };
        for (auto it = submitted_.upper_bound(sequence); it != submitted_.end(); ++it) keep(*it->second);
        const auto writtenList = submitted_.find(sequence);
        if (writtenList == submitted_.end()) continue;
        const HistoryWriter::Snapshot clips = writtenList->second;
        if (write.error) {
            const bool savedNewClip = savesOfNewClips_.lower_bound(submitted_.begin()->first) !=
                                      savesOfNewClips_.upper_bound(sequence);
            setMessage(QString::fromUtf8(savedNewClip ? kSaveFailedPrefix : kUpdateFailedPrefix) +
                       QString::fromUtf8(*write.error));
            if (!newest) continue;  // a newer list holding this change is still to be written
            keep(items_);
        } else {
            keep(*clips);
        }

        std::vector<std::string> removedFiles;
        std::vector<Uuid> removedIds;
        auto collect = [&](const std::vector<Clip>& held) {
            for (const Clip& clip : held) {
                if (clip.imageFile && !keptFiles.contains(*clip.imageFile) &&
                    std::find(removedFiles.begin(), removedFiles.end(), *clip.imageFile) == removedFiles.end())
                    removedFiles.push_back(*clip.imageFile);
                if (!keptIds.contains(clip.id) &&
                    std::find(removedIds.begin(), removedIds.end(), clip.id) == removedIds.end())
                    removedIds.push_back(clip.id);
            }
        };
        collect(items_);
        for (auto it = submitted_.begin(); it != submitted_.end() && it->first <= sequence; ++it) collect(*it->second);
        submitted_.erase(submitted_.begin(), submitted_.upper_bound(sequence));
        savesOfNewClips_.erase(savesOfNewClips_.begin(), savesOfNewClips_.upper_bound(sequence));
        if (newest) latest_.reset();

        if (write.error) {
            // Only files that the failed lists added are removed: the history on disk keeps its own.
            removedIds.clear();
        } else {
            publish(*clips);
        }
        std::vector<WaitingForDisk> done;
        std::erase_if(waitingForDisk_, [&](WaitingForDisk& entry) {
            if (entry.sequence > sequence) return false;
            done.push_back(std::move(entry));
            return true;
        });
        removeLeftovers(removedFiles, removedIds);
        for (WaitingForDisk& entry : done)
            entry.completion(write.error ? std::nullopt : std::optional<Clip>(std::move(entry.clip)));
    }
}

void ClipStore::removeLeftovers(const std::vector<std::string>& files, const std::vector<Uuid>& ids) {
    // Only names of the store's own form are deleted, one file each, never a folder: an index
    // entry naming "..", the index or another program's file cannot reach them.
    for (const std::string& name : files)
        if (isImageFileName(name) && isRegularFile(root_ / name)) AtomicFile::removeFile(root_ / name);

    const fs::path documents = root_ / kDocumentsFolderName;
    std::error_code unreadable;
    if (AtomicFile::status(documents, unreadable).kind != FileKind::folder) return;
    for (const Uuid& id : ids) {
        std::error_code ignored;
        fs::remove_all(documents / id.string(), ignored);  // a link there is removed, not followed
    }
}

void ClipStore::prune(Date now, double retention) {
    if (!(retention > 0)) return;
    std::vector<Clip> kept;
    for (const Clip& clip : current())
        if (clip.pinned || now - clip.createdAt < retention) kept.push_back(clip);
    if (kept.size() != current().size()) commit(kept);
}

void ClipStore::togglePin(const Uuid& id) {
    std::vector<Clip> clips = current();
    for (Clip& clip : clips)
        if (clip.id == id) {
            clip.pinned = !clip.pinned;
            break;
        }
    commit(clips);
}

void ClipStore::setOCRText(std::string_view text, const Uuid& id) {
    std::vector<Clip> clips = current();
    auto it = std::find_if(clips.begin(), clips.end(),
                           [&](const Clip& clip) { return clip.id == id && clip.kind == Clip::Kind::image; });
    if (it == clips.end()) return;
    it->ocrText = std::string(unicode::graphemePrefix(text, kMaxOCRTextLength));
    commit(clips);
}

void ClipStore::clearAll() {
    ++generation_;
    commit({});
    thumbnails_.clear();
    thumbnailsPending_.clear();
    thumbnailFailures_.clear();
}

void ClipStore::addText(const std::string& text, const std::string& source) {
    if (!writable_ || text.empty()) return;
    if (static_cast<std::int64_t>(text.size()) > kMaxInputBytes) {
        setMessage(QString::fromUtf8(kTextTooLargeMessage));
        return;
    }
    const Clip clip(Clip::Kind::text, text, std::nullopt, hexDigest(text), static_cast<std::int64_t>(text.size()),
                    source, clock_.now());
    insert(clip);
}

struct ClipStore::ImageWork {
    std::string source;
    std::optional<double> scale;
    CancellationTest isCancelled;
    Completion completion;
    std::uint64_t generation = 0;
    Date acceptedAt = 0;
};

void ClipStore::addImage(const QByteArray& data, const std::string& source, std::optional<double> scale,
                         CancellationTest isCancelled, Completion completion) {
    acceptImage(data.size(), [data] { return normalizeImageToPNG(data); }, source, scale, std::move(isCancelled),
                std::move(completion));
}

void ClipStore::addImage(const QImage& image, const std::string& source, std::optional<double> scale,
                         CancellationTest isCancelled, Completion completion) {
    acceptImage(0, [image] { return encodeNormalisedPNG(image); }, source, scale, std::move(isCancelled),
                std::move(completion));
}

void ClipStore::acceptImage(qsizetype inputBytes, std::function<std::optional<QByteArray>()> normalise,
                            const std::string& source, std::optional<double> scale, CancellationTest isCancelled,
                            Completion completion) {
    auto reject = [&](const char* message) {
        if (message) setMessage(QString::fromUtf8(message));
        if (completion) completion(std::nullopt);
    };
    if (!writable_) return reject(nullptr);
    if (scale && !(std::isfinite(*scale) && *scale > 0 && *scale <= 8)) return reject(kInvalidScaleMessage);
    if (pendingImages_ >= kMaxPendingImages) return reject(kQueueBusyMessage);
    if (inputBytes > kMaxInputBytes) return reject(kImageTooLargeMessage);

    ++pendingImages_;
    ImageWork work{source, scale, std::move(isCancelled), std::move(completion), generation_, clock_.now()};
    struct Normalised {
        std::optional<QByteArray> png;
        std::string digest;
    };
    // The background step holds the input only; the result comes back to this object on the GUI
    // thread, and is dropped when the store is gone.
    Task::run(
        imagePool_, this,
        [normalise = std::move(normalise)](std::stop_token) {
            Normalised result{normalise(), {}};
            if (result.png) result.digest = hexDigest(std::string_view(result.png->constData(), result.png->size()));
            return result;
        },
        [this, work = std::move(work)](TaskResult<Normalised>& result) {
            if (result.ok()) {
                Normalised& normalised = result.get();
                finishImage(work, std::move(normalised.png), normalised.digest);
            } else {
                finishImage(work, std::nullopt, {});
            }
        });
}

void ClipStore::finishImage(const ImageWork& work, std::optional<QByteArray> png, const std::string& digest) {
    --pendingImages_;
    // Decoded pixels and encoder buffers of the work are gone: their memory goes back too.
    if (pendingImages_ == 0) QTimer::singleShot(0, this, [] { ::malloc_trim(0); });
    auto complete = [&](std::optional<Clip> clip) {
        if (work.completion) work.completion(std::move(clip));
    };
    if (work.generation != generation_ || (work.isCancelled && work.isCancelled())) {
        setMessage(QString::fromUtf8(kImageCancelledMessage));
        return complete(std::nullopt);
    }
    if (!png || digest.empty()) {
        setMessage(QString::fromUtf8(kImageUnsupportedMessage));
        return complete(std::nullopt);
    }
    Clip clip(Clip::Kind::image, std::nullopt, digest + ".png", digest, png->size(), work.source, work.acceptedAt);
    clip.imageScale = work.scale;
    std::optional<Clip> stored = insert(clip, png);
    if (!stored) return complete(std::nullopt);
    // The completion learns of the clip once the index that holds it is on disk.
    if (work.completion) waitingForDisk_.push_back({sequence_, std::move(*stored), work.completion});
}

std::optional<Clip> ClipStore::insert(const Clip& clip, const std::optional<QByteArray>& imageData) {
    if (!writable_) return std::nullopt;
    const auto clips = HistoryPolicy::inserting(clip, current(), HistoryPolicy::maximumItems, HistoryPolicy::maximumBytes);
    if (!clips) {
        setMessage(QString::fromUtf8(kQuotaMessage));
        return std::nullopt;
    }
    try {
        if (imageData && clip.imageFile) {
            if (!isImageFileName(*clip.imageFile)) throw FileError("Not an image file name: " + *clip.imageFile);
            // Created 0600 from the start, so the image is never readable by others. A file that
            // no list on disk names is removed again when the index holding it cannot be written.
            AtomicFile::write(root_ / *clip.imageFile, *imageData);
        }
    } catch (const std::exception& e) {
        setMessage(QString::fromUtf8(kSaveFailedPrefix) + QString::fromUtf8(e.what()));
        return std::nullopt;
    }
    commit(*clips);
    savesOfNewClips_.insert(sequence_);
    setMessage(QStringLiteral("Saved %1 \u00B7 %2")
                   .arg(QString::fromUtf8(rawValue(clip.kind).data(), qsizetype(rawValue(clip.kind).size())),
                        counted(static_cast<long long>(clips->size()), QStringLiteral("item"), QStringLiteral("items"))));
    for (const Clip& stored : *clips)
        if (stored.digest == clip.digest && stored.kind == clip.kind) return stored;
    return std::nullopt;
}

std::optional<QImage> ClipStore::makeThumbnail(const fs::path& file) {
    if (!isRegularFile(file)) return std::nullopt;
    QImageReader reader(QString::fromStdString(file.string()));
    const QSize stored = reader.size();
    // The image was accepted under the store's rule, so its thumbnail follows the same rule.
    if (!storableSize(stored)) return std::nullopt;
    reader.setAutoTransform(true);
    const bool reduce = std::max(stored.width(), stored.height()) > kThumbnailSize;
    if (reduce) {
        const QSize fitted = stored.scaled(kThumbnailSize, kThumbnailSize, Qt::KeepAspectRatio);
        reader.setScaledSize(QSize(std::max(1, fitted.width()), std::max(1, fitted.height())));
    }
    QImage image = reader.read();
    if (image.isNull()) return std::nullopt;
    return image;
}

std::optional<QImage> ClipStore::thumbnail(const Clip& clip) {
    if (auto hit = thumbnails_.find(clip.digest); hit != thumbnails_.end()) return hit->second;
    if (!clip.imageFile || !isImageFileName(*clip.imageFile)) return std::nullopt;
    std::optional<QImage> image = makeThumbnail(root_ / *clip.imageFile);
    if (!image) return std::nullopt;
    thumbnails_.emplace(clip.digest, *image);
    return image;
}

ClipStore::ThumbnailState ClipStore::requestThumbnail(const Clip& clip) {
    if (thumbnails_.count(clip.digest)) return ThumbnailState::ready;
    if (!clip.imageFile || !isImageFileName(*clip.imageFile) || thumbnailFailures_.count(clip.digest))
        return ThumbnailState::failed;
    if (thumbnailsPending_.count(clip.digest)) return ThumbnailState::pending;
    thumbnailsPending_.emplace(clip.digest, true);
    const std::uint64_t generation = generation_;
    const std::string digest = clip.digest;
    Task::run(
        thumbnailPool_, this, [file = root_ / *clip.imageFile](std::stop_token) { return makeThumbnail(file); },
        [this, generation, digest](TaskResult<std::optional<QImage>>& result) {
            if (generation != generation_) return;  // the history was cleared meanwhile
            thumbnailsPending_.erase(digest);
            std::optional<QImage> image = result.ok() ? result.get() : std::nullopt;
            if (image)
                thumbnails_.emplace(digest, std::move(*image));
            else
                thumbnailFailures_.emplace(digest, true);
            emit thumbnailFinished(QString::fromStdString(digest));
        });
    return ThumbnailState::pending;
}

}  // namespace brevalto
