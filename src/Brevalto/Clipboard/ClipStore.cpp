#include "Clipboard/ClipStore.h"

#include "ClipCore/UnicodeText.h"
#include "Imaging/ImageDecoding.h"
#include "Platform/AppPaths.h"
#include "Platform/AtomicFile.h"
#include "Platform/Hashing.h"

#include <QDateTime>

#include <algorithm>
#include <cmath>
#include <malloc.h>
#include <set>

namespace brevalto {

namespace fs = std::filesystem;

namespace {

constexpr const char* kLoadFailedPrefix = "History could not be loaded. Existing files are preserved. ";
constexpr const char* kUpdateFailedPrefix = "Could not update history: ";

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

}  // namespace

std::string hexDigest(std::string_view bytes) { return toHex(sha256(bytes)); }

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
        // The index is mapped, not read into a buffer, and each text is unescaped straight into
        // its clip. Unmapping a large index and freeing the parser's buffers go to a worker, so
        // the GUI thread does not wait for them.
        auto spent = std::make_shared<std::pair<MappedFile, ClipIndexReader>>();
        spent->first = AtomicFile::map(index, kMaxIndexBytes, true, kDecodePadding);
        std::vector<Clip> clips = spent->second.read(spent->first.bytes(), true);
        TaskPool::shared().start([spent = std::move(spent)]() mutable {
            spent.reset();
            ::malloc_trim(0);  // what the parser held goes back to the system
        });
        std::erase_if(clips, [this](const Clip& clip) { return !keepsAfterLoad(clip, root_); });
        publish(std::move(clips));
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
    dropLeftClips();
    emit itemsChanged();
}

std::uint64_t ClipStore::submit(const std::vector<Clip>& clips) {
    latest_ = std::make_shared<const std::vector<Clip>>(clips);  // shares every text with `clips`
    for (const Clip& clip : *latest_) historyDigests_.insert(clip.digest);
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
    for (auto& [digest, work] : thumbnailsPending_) work.cancel();
    thumbnailsPending_.clear();
    thumbnailFailures_.clear();
    for (auto& [digest, entry] : cardTexts_) entry.work.cancel();
    cardTexts_.clear();
}

}  // namespace brevalto
