#pragma once

#include "AI/OCRResult.h"
#include "ClipCore/Uuid.h"
#include "Platform/Task.h"

#include <QObject>
#include <QString>
#include <QUrl>

#include <cstdint>
#include <functional>
#include <set>

namespace brevalto {

class ClipStore;
class TextRecognizer;

// Recognises the text of the history's image clips that have none yet and stores it in each clip,
// so that history search finds text inside screenshots. One run at a time works through the
// store's current list in its order, one clip at a time, yielding to the event loop between
// clips; recognition runs off the GUI thread. A clip without an image file, or whose recognition
// fails, gets the empty text and is not tried again. A clip is handled at most once per run, so a
// store that does not take the text (read-only, or a failed write) ends the run instead of
// recognising the same clip again.
class TextIndexer : public QObject {
    Q_OBJECT
public:
    // Starts the recognition of the whole image in `file` with `language`; `done` later gets the
    // outcome on the receiver's thread, not at all once the handle is cancelled.
    using Recognize = std::function<TaskHandle(QObject* receiver, const QUrl& file, const QString& language,
                                               std::function<void(TaskResult<OCRResult>&)> done)>;

    explicit TextIndexer(ClipStore& store, QObject* parent = nullptr);
    ~TextIndexer() override;

    // The device's recognizer on the shared task pool; none: nothing is indexed.
    static Recognize onDevice(TextRecognizer* recognizer);
    void setRecognize(Recognize recognize) { recognize_ = std::move(recognize); }

    // Starts a run unless one is running or there is no recognition.
    void schedule();
    // Ends the running run; nothing is stored for the clip being recognised.
    void cancel();
    bool running() const { return running_; }

signals:
    // A run ended, for whatever reason.
    void finished();

private:
    // Each run has its number; a step queued or a result delivered for an ended run does nothing.
    void next(std::uint64_t run);
    void recognized(std::uint64_t run, const Uuid& id, TaskResult<OCRResult>& result);
    void later(std::uint64_t run);
    void end();

    ClipStore& store_;
    Recognize recognize_;
    bool running_ = false;
    std::uint64_t run_ = 0;
    TaskHandle recognition_;
    std::set<Uuid> handled_;  // the clips this run has been through
};

}  // namespace brevalto
