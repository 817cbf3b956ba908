#include "Workflow/TextIndexer.h"

#include "AI/TextRecognition.h"
#include "ClipCore/Clip.h"
#include "Clipboard/ClipStore.h"
#include "Platform/TextRecognizer.h"

#include <algorithm>

namespace brevalto {

TextIndexer::TextIndexer(ClipStore& store, QObject* parent) : QObject(parent), store_(store) {}

TextIndexer::~TextIndexer() { recognition_.cancel(); }

TextIndexer::Recognize TextIndexer::onDevice(TextRecognizer* recognizer) {
    if (!recognizer) return {};
    return [recognizer](QObject* receiver, const QUrl& file, const QString& language,
                        std::function<void(TaskResult<OCRResult>&)> done) {
        return recognizeText(receiver, *recognizer, file, language, std::nullopt, std::move(done));
    };
}

void TextIndexer::schedule() {
    if (running_ || !recognize_) return;
    running_ = true;
    ++run_;
    next(run_);
}

void TextIndexer::cancel() {
    if (running_) end();
}

void TextIndexer::next(std::uint64_t run) {
    if (!running_ || run != run_) return;
    const std::vector<Clip>& clips = store_.current();
    const auto clip = std::find_if(clips.begin(), clips.end(), [this](const Clip& c) {
        return c.kind == Clip::Kind::image && !c.ocrText && !handled_.contains(c.id);
    });
    if (clip == clips.end()) return end();
    const Uuid id = clip->id;
    handled_.insert(id);
    if (!clip->imageFile) {
        store_.setOCRText({}, id);
        return later(run);
    }
    const QUrl file = QUrl::fromLocalFile(QString::fromStdString((store_.root() / *clip->imageFile).string()));
    recognition_ = recognize_(this, file, QString::fromUtf8(kAutomaticOCRLanguage),
                              [this, run, id](TaskResult<OCRResult>& result) { recognized(run, id, result); });
}

void TextIndexer::recognized(std::uint64_t run, const Uuid& id, TaskResult<OCRResult>& result) {
    if (!running_ || run != run_) return;
    recognition_ = {};
    if (result.ok()) {
        store_.setOCRText(result.get().text.toStdString(), id);
    } else if (isCancellation<RecognitionCancelled>(result.error())) {
        return end();
    } else {
        store_.setOCRText({}, id);  // counts as indexed: not tried again
    }
    later(run);
}

void TextIndexer::later(std::uint64_t run) {
    QMetaObject::invokeMethod(this, [this, run] { next(run); }, Qt::QueuedConnection);
}

void TextIndexer::end() {
    running_ = false;
    ++run_;  // whatever the ended run still has queued does nothing
    recognition_.cancel();
    recognition_ = {};
    handled_.clear();
    emit finished();
}

}  // namespace brevalto
