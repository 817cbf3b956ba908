#pragma once

#include "AI/EditableImageRegion.h"
#include "Platform/Task.h"

#include <QByteArray>
#include <QImage>
#include <QObject>
#include <QString>
#include <QUrl>

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace brevalto {

class AIActionBackend;
class Defaults;
class TranslatedImageStore;

// The region translator of one image: finds its text lines on the device, lets the user edit
// each one, translates the enabled ones through Claude in one request, renders a preview with the
// translations drawn over the original text, and saves it (as a new image clip, or through the
// caller's apply callback). Every start and every cancel takes a new run token; the outcome of an
// older run is dropped without touching any field. `output` exists only while `dirty` is false:
// everything that can change what the image should show, edits included, clears it.
class TranslatedImageModel : public QObject {
    Q_OBJECT
public:
    // Draws regions into the caller's own document as PNG bytes; may throw.
    using PreviewRenderer = std::function<QByteArray(const std::vector<EditableImageRegion>&)>;
    // Applies regions to the caller's document; may throw.
    using Apply = std::function<void(const std::vector<EditableImageRegion>&)>;

    static constexpr std::size_t maxCharacters = 16000;

    // Reads the whole file at `sourceURL`; throws AIError when it cannot be read.
    TranslatedImageModel(const QUrl& sourceURL, std::string target, bool inferTarget, Defaults& defaults,
                         AIActionBackend& backend, PreviewRenderer previewRenderer = {}, Apply apply = {},
                         QObject* parent = nullptr);
    ~TranslatedImageModel() override;

    const QUrl sourceURL;
    const QByteArray sourceData;
    const bool inferTarget;

    const std::vector<EditableImageRegion>& regions() const { return regions_; }
    // Replaces one region (an edit in the view): the preview is out of date afterwards.
    void setRegion(std::size_t index, const EditableImageRegion& region);
    const std::string& target() const { return target_; }
    void setTarget(const std::string& target);
    std::size_t selected() const { return selected_; }
    void setSelected(std::size_t index);
    const QImage& preview() const { return preview_; }
    bool busy() const { return busy_; }
    bool saving() const { return saving_; }
    const QString& status() const { return status_; }
    bool dirty() const { return dirty_; }
    const std::optional<QByteArray>& output() const { return output_; }
    const std::optional<std::string>& sourceLanguage() const { return sourceLanguage_; }
    // Whether saving hands the regions to the caller's document rather than the history.
    bool appliesToDocument() const { return static_cast<bool>(apply_); }

    // Recognises the text lines of the image; each becomes a region.
    void detectRegions();
    // Drops the results of running work and stops it; busy stays only while a save runs.
    void cancel();
    // Sends the enabled regions' texts for translation in one request.
    void translateRegions();
    // Renders the current regions into a new preview, off the GUI thread.
    void updatePreview();
    // Applies the previewed regions, or stores the preview as a new image clip in `store`.
    void save(TranslatedImageStore& store);
    // Remembers the target for the detected source language.
    void rememberTarget();

signals:
    // Any published field changed.
    void changed();

private:
    void outdate();
    void setBusy(bool busy);
    void setStatus(const QString& status);
    void fail(const std::exception_ptr& error);

    Defaults& defaults_;
    AIActionBackend& backend_;
    PreviewRenderer previewRenderer_;
    Apply apply_;
    std::vector<EditableImageRegion> regions_;
    std::string target_;
    std::size_t selected_ = 0;
    QImage preview_;
    bool busy_ = false;
    bool saving_ = false;
    QString status_;
    bool dirty_ = true;
    std::optional<QByteArray> output_;
    std::optional<std::string> sourceLanguage_;
    RequestToken token_;
    TaskHandle task_;
};

}  // namespace brevalto
