#pragma once

#include "ClipCore/Clip.h"
#include "ClipCore/Uuid.h"
#include "Clipboard/ClipImageNormalization.h"
#include "Clipboard/HistoryWriter.h"
#include "Platform/Clock.h"
#include "Platform/Task.h"

#include <QByteArray>
#include <QImage>
#include <QObject>
#include <QString>
#include <QTimer>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace brevalto {

// The one owner of the clipboard history. It keeps the history in a folder of its own: the index
// "history.json" (every clip, newest first), one PNG per image clip named by its content digest,
// and under "ScreenshotDocuments" the edited copies of image clips, deleted with their clips.
// Everything that changes the history goes through it, on the GUI thread. Image normalisation
// runs on one low-priority background thread; its results come back to the GUI thread.
//
// The index is encoded and written on a writer thread, never on the GUI thread. A change builds
// on the newest list handed to the writer (`current`), so changes made while a write is under way
// are neither lost nor applied twice. `items` is replaced, and the files of removed clips
// deleted, only once an index holding the change is on disk; a failed write leaves `items` as it
// was, deletes nothing the history still names, and reports.
//
// A store whose index could not be read stays read-only for the rest of the run: it writes
// nothing, so nothing on disk is lost, and its message keeps saying why.
class ClipStore : public QObject {
    Q_OBJECT

public:
    static constexpr const char* kReadyMessage = "Ready \u00B7 Local history; AI sends only selected items";
    static constexpr const char* kIndexFileName = "history.json";
    static constexpr const char* kDocumentsFolderName = "ScreenshotDocuments";
    static constexpr std::int64_t kMaxInputBytes = 33'554'432;  // text and image input, and the PNG
    static constexpr double kMaxImagePixels = 40'000'000;
    static constexpr int kMaxPendingImages = 3;
    static constexpr std::size_t kMaxOCRTextLength = 100'000;  // user-perceived characters
    static constexpr int kThumbnailSize = 600;                 // pixels on the long side

    using Completion = std::function<void(std::optional<Clip>)>;
    using CancellationTest = std::function<bool()>;

    // Opens the history in `folder`, or in the data folder ($XDG_DATA_HOME/brevalto) when none is
    // given. Never fails: a history that cannot be loaded leaves a read-only store with a message.
    explicit ClipStore(std::optional<std::filesystem::path> folder = std::nullopt, Clock& clock = Clock::system(),
                       QObject* parent = nullptr);
    ~ClipStore() override;

    // The history as it is on disk.
    const std::vector<Clip>& items() const { return items_; }
    // The newest history: `items` with the changes still being written.
    const std::vector<Clip>& current() const { return latest_ ? *latest_ : items_; }
    const QString& message() const { return message_; }
    void setMessage(const QString& message);
    bool paused() const { return paused_; }
    void setPaused(bool paused);

    const std::filesystem::path& root() const { return root_; }
    bool writable() const { return writable_; }
    // Why the history could not be loaded; none when it was loaded or there was none.
    const std::optional<QString>& loadFailure() const { return loadFailure_; }
    // After a failed load: moves the unreadable index aside as "history.json.unreadable-" and the
    // UTC time, keeps every other file, and starts an empty history that records. Returns the
    // index's new place (none when there was no index to move). Throws the file system's error,
    // leaving the store read-only.
    std::optional<std::filesystem::path> startNewHistory();
    static constexpr const char* kUnreadableSuffix = ".unreadable-";
    std::uint64_t generation() const { return generation_; }
    int pendingImages() const { return pendingImages_; }
    const std::unordered_map<std::string, QImage>& thumbnails() const { return thumbnails_; }

    // Hands `clips` to the writer as the new history; once it is on disk it becomes `items` and
    // the image files and document folders of the clips it no longer holds are deleted. A failed
    // write is reported in the message. Deleting clips is committing a smaller list. Does nothing
    // on a read-only store.
    void commit(const std::vector<Clip>& clips);
    // commit, waiting until the list is written; throws the file system's error, leaving the list
    // unchanged.
    void persist(const std::vector<Clip>& clips);
    // Waits until every list handed to the writer is on disk (or failed) and applies the results.
    // The quit steps call it, so nothing copied is lost.
    void flush();
    // Drops unpinned clips at least `retention` seconds old; a retention of 0 or less keeps all.
    void prune(Date now, double retention);
    void togglePin(const Uuid& id);
    // Stores recognised text (its first 100,000 characters) on the image clip with that id.
    void setOCRText(std::string_view text, const Uuid& id);
    // Clears the history: image work begun before is dropped, the empty list is committed and the
    // thumbnails are forgotten.
    void clearAll();

    // Records a text. Empty text is ignored; more than 32 MiB is refused with a message.
    void addText(const std::string& text, const std::string& source);
    // Records an image in any format the decoders read, normalised to an upright PNG of at most
    // 40 megapixels off the GUI thread. Returns at once; `completion` runs exactly once on the GUI
    // thread with the stored clip once the index holding it is on disk, or with nothing (not at
    // all when the store is destroyed first).
    // `isCancelled`, when given, is asked on the GUI thread before the result is stored.
    void addImage(const QByteArray& data, const std::string& source, std::optional<double> scale = std::nullopt,
                  CancellationTest isCancelled = {}, Completion completion = {});
    // The same for pixels the app made itself (a capture): encoded once, off the GUI thread.
    void addImage(const QImage& image, const std::string& source, std::optional<double> scale = std::nullopt,
                  CancellationTest isCancelled = {}, Completion completion = {});
    // Merges the clip into the current history under its limits, writing its image file first
    // when data is given, and commits the result. Returns the clip as stored (an older copy when
    // the clip was merged into it).
    std::optional<Clip> insert(const Clip& clip, const std::optional<QByteArray>& imageData = std::nullopt);

    // A small upright image (at most 600 px on the long side) of an image clip, cached by digest
    // while a clip of the history has that digest; nothing when the clip has no readable image file.
    std::optional<QImage> thumbnail(const Clip& clip);

    // The thumbnail of an image clip without blocking: ready (from the cache), failed (the clip
    // has no readable image), or pending, in which case it is being made on a worker thread and
    // thumbnailFinished(digest) follows on the GUI thread. Work begun before clearAll() is dropped.
    // Whenever the history changes, the thumbnails, failures and work of digests that no clip has
    // any more are dropped: the cache holds only what the history can show.
    enum class ThumbnailState { pending, ready, failed };
    ThumbnailState requestThumbnail(const Clip& clip);

    // What the panel shows of a clip, each masked: its list title (Clip::title), the card's
    // preview (its first 400 characters) and the first part of the preview pane's text (its first
    // 20,000).
    struct CardTexts {
        std::string title, preview, pane;
    };
    static constexpr std::size_t kCardPreviewCharacters = 400;
    static constexpr std::size_t kPaneTextCharacters = 20'000;
    // Texts longer than this are masked off the GUI thread.
    static constexpr std::size_t kCardTextsAtOnce = 1024 * 1024;
    // The card texts of a clip without waiting on its masking: made once per digest and kept while
    // a clip of the history has it. Null while a long text is being masked on a worker thread;
    // cardTextsFinished(digest) follows on the GUI thread. A long text of a clip outside the
    // history is never masked here: its texts are bullets.
    std::shared_ptr<const CardTexts> cardTexts(const Clip& clip);
    // Card texts made of nothing but the bullets, shown while the real ones are being made.
    static const std::shared_ptr<const CardTexts>& maskedCardTexts();

    // Reads the thumbnail of the image file at `file` (at most 600 px on the long side, upright);
    // nothing when it cannot. Any thread.
    static std::optional<QImage> makeThumbnail(const std::filesystem::path& file);

    // True for the names the store gives image files: 64 lower-case hexadecimal digits + ".png".
    static bool isImageFileName(std::string_view name);

signals:
    void itemsChanged();
    void messageChanged();
    void pausedChanged();
    void thumbnailFinished(const QString& digest);
    void cardTextsFinished(const QString& digest);

private:
    static constexpr const char* kSaveFailedPrefix = "Could not save: ";
    struct ImageWork;
    void load();
    void startWriter();
    void publish(std::vector<Clip> clips);
    // Forgets the thumbnails (then the card texts) of digests that left the history.
    void dropLeftClips();
    bool inHistory(const std::string& digest) const { return historyDigests_.contains(digest); }
    std::uint64_t submit(const std::vector<Clip>& clips);
    void written(std::uint64_t sequence, std::optional<std::string> error);
    void applyWrites();
    void removeLeftovers(const std::vector<std::string>& files, const std::vector<Uuid>& ids);
    void acceptImage(qsizetype inputBytes, std::function<std::optional<QByteArray>()> normalise,
                     const std::string& source, std::optional<double> scale, CancellationTest isCancelled,
                     Completion completion);
    void finishImage(const ImageWork& work, std::optional<QByteArray> png, const std::string& digest);

    Clock& clock_;
    std::vector<Clip> items_;
    QString message_;
    bool paused_ = false;
    std::filesystem::path root_;
    std::unordered_map<std::string, QImage> thumbnails_;
    // Digests of the clips of `items` and of the newest list handed to the writer.
    std::unordered_set<std::string> historyDigests_;
    bool writable_ = true;
    std::optional<QString> loadFailure_;
    int pendingImages_ = 0;
    std::uint64_t generation_ = 0;
    std::unordered_map<std::string, TaskHandle> thumbnailsPending_;  // digest -> the work making it
    // Gives the allocator's free memory back to the system once the views let go of the
    // thumbnails that left (their cards go a moment after the list changes).
    QTimer trimAfterDrop_;
    std::unordered_map<std::string, bool> thumbnailFailures_;
    TaskPool thumbnailPool_{2, QThread::LowPriority};
    struct CardTextsEntry {
        std::shared_ptr<const CardTexts> texts;  // null while being made
        TaskHandle work;
    };
    std::unordered_map<std::string, CardTextsEntry> cardTexts_;  // text clips, by digest
    TaskPool cardTextPool_{2, QThread::LowPriority};
    // Lists handed to the writer and not yet applied, by sequence; `latest_` is the newest.
    std::map<std::uint64_t, HistoryWriter::Snapshot> submitted_;
    HistoryWriter::Snapshot latest_;
    std::set<std::uint64_t> savesOfNewClips_;  // sequences of lists that added a clip
    std::uint64_t sequence_ = 0;
    struct WaitingForDisk {
        std::uint64_t sequence;
        Clip clip;
        Completion completion;
    };
    std::vector<WaitingForDisk> waitingForDisk_;
    struct Write {
        std::uint64_t sequence;
        std::optional<std::string> error;
    };
    std::mutex writesLock_;
    std::vector<Write> finishedWrites_;  // reported by the writer thread, applied on the GUI thread
    std::optional<Write> lastWrite_;
    std::unique_ptr<HistoryWriter> writer_;
    TaskPool imagePool_;  // last, so it finishes its work before the fields go
};

// SHA-256 of the bytes as 64 lower-case hexadecimal digits.
std::string hexDigest(std::string_view bytes);

}  // namespace brevalto
