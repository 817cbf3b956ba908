#include "Clipboard/ClipStore.h"

#include "Platform/AtomicFile.h"

#include <QImageReader>

#include <algorithm>
#include <malloc.h>

namespace brevalto {

namespace fs = std::filesystem;

namespace {

constexpr int kTrimDelayMs = 1000;

}  // namespace

std::optional<QImage> ClipStore::makeThumbnail(const fs::path& file) {
    std::error_code unreadable;
    if (AtomicFile::status(file, unreadable).kind != FileKind::regular) return std::nullopt;
    QImageReader reader(QString::fromStdString(file.string()));
    const QSize stored = reader.size();
    // The image was accepted under the store's rule, so its thumbnail follows the same rule.
    if (!isStorableImageSize(stored)) return std::nullopt;
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
    if (inHistory(clip.digest)) thumbnails_.emplace(clip.digest, *image);
    return image;
}

ClipStore::ThumbnailState ClipStore::requestThumbnail(const Clip& clip) {
    if (thumbnails_.count(clip.digest)) return ThumbnailState::ready;
    if (!clip.imageFile || !isImageFileName(*clip.imageFile) || thumbnailFailures_.count(clip.digest))
        return ThumbnailState::failed;
    if (thumbnailsPending_.count(clip.digest)) return ThumbnailState::pending;
    const std::uint64_t generation = generation_;
    const std::string digest = clip.digest;
    TaskHandle work = Task::run(
        thumbnailPool_, this, [file = root_ / *clip.imageFile](std::stop_token) { return makeThumbnail(file); },
        [this, generation, digest](TaskResult<std::optional<QImage>>& result) {
            if (generation != generation_) return;  // the history was cleared meanwhile
            thumbnailsPending_.erase(digest);
            std::optional<QImage> image = result.ok() ? result.get() : std::nullopt;
            // A clip that left while its picture was made keeps nothing behind.
            if (inHistory(digest)) {
                if (image)
                    thumbnails_.emplace(digest, std::move(*image));
                else
                    thumbnailFailures_.emplace(digest, true);
            }
            emit thumbnailFinished(QString::fromStdString(digest));
        });
    thumbnailsPending_.emplace(clip.digest, std::move(work));
    return ThumbnailState::pending;
}

void ClipStore::dropLeftClips() {
    historyDigests_.clear();
    for (const Clip& clip : items_) historyDigests_.insert(clip.digest);
    if (latest_)
        for (const Clip& clip : *latest_) historyDigests_.insert(clip.digest);
    const auto left = [this](const auto& entry) { return !inHistory(entry.first); };
    const std::size_t dropped = std::erase_if(thumbnails_, left);
    std::erase_if(thumbnailFailures_, left);
    // Work still under way for a clip that left is cancelled: its result is not made, or not kept.
    const auto cancelLeft = [&](auto& entries, auto handle) {
        for (auto it = entries.begin(); it != entries.end();) {
            if (inHistory(it->first)) {
                ++it;
                continue;
            }
            handle(it->second).cancel();
            it = entries.erase(it);
        }
    };
    cancelLeft(thumbnailsPending_, [](TaskHandle& work) -> TaskHandle& { return work; });
    cancelLeft(cardTexts_, [](CardTextsEntry& entry) -> TaskHandle& { return entry.work; });
    // Thumbnails are large blocks that the allocator keeps once freed: what left goes back to the
    // system, once per burst of changes.
    if (dropped == 0 || trimAfterDrop_.isActive()) return;
    if (!trimAfterDrop_.isSingleShot()) {  // the first time
        trimAfterDrop_.setSingleShot(true);
        trimAfterDrop_.callOnTimeout(this, [] { ::malloc_trim(0); });
    }
    trimAfterDrop_.start(kTrimDelayMs);
}

}  // namespace brevalto
