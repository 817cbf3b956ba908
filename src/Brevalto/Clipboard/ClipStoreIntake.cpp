#include "Clipboard/ClipStore.h"

#include "ClipCore/HistoryPolicy.h"
#include "Platform/AtomicFile.h"
#include "Platform/Counts.h"

#include <QTimer>

#include <cmath>
#include <malloc.h>

namespace brevalto {

namespace {

constexpr const char* kQuotaMessage = "History quota reached. Unpin or delete an item.";
constexpr const char* kTextTooLargeMessage = "Text exceeds 32 MB";
constexpr const char* kInvalidScaleMessage = "Invalid image scale";
constexpr const char* kQueueBusyMessage = "Image queue busy; copy again shortly";
constexpr const char* kImageTooLargeMessage = "Image exceeds 32 MB";
constexpr const char* kImageCancelledMessage = "Image save cancelled";
constexpr const char* kImageUnsupportedMessage = "Image unsupported or too large (32 MB / 40 MP limit)";

}  // namespace

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
        setMessage(QString::fromUtf8(kSaveFailedPrefix) + QString::fromUtf8(describeFailure(e)));
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

}  // namespace brevalto
