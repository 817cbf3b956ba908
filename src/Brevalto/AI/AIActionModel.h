#pragma once

#include "AI/AIActionBackend.h"
#include "AI/OCRResult.h"
#include "ClipCore/Clip.h"
#include "ClipCore/LanguagePolicy.h"
#include "Platform/Task.h"

#include <QByteArray>
#include <QImage>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace brevalto {

class Defaults;
class LanguageDetector;

// The language of the first 6000 characters of a text, when the detector's best guess is at
// least 65% sure; none otherwise.
std::optional<std::string> detectLanguage(LanguageDetector& detector, std::string_view text);

// The image in `file`, turned upright and scaled down to fit 1568 pixels (never up), as PNG bytes
// below 4 MiB. Throws AIError.
QByteArray prepareImageForClaude(const QUrl& file);

// The view model behind one OCR, translation or image-prompt action on one clip: runs the
// on-device recognition, picks the target language, sends the request to Claude with secrets
// masked and publishes the reply or the error. Every start and every cancel takes a new run
// token; a late outcome of an older run is dropped without touching any field.
class AIActionModel : public QObject {
    Q_OBJECT
public:
    static constexpr std::size_t maxRequestCharacters = 20000;
    static constexpr std::size_t detectedCharacters = 6000;

    // `pixels`, when given, are the image at sourceURL already in memory: the preview is made
    // from them instead of decoding the file again.
    AIActionModel(Clip item, bool ocr, Defaults& defaults, AIActionBackend& backend,
                  std::optional<QUrl> sourceURL = std::nullopt, const QImage& pixels = QImage(),
                  QObject* parent = nullptr);
    ~AIActionModel() override;

    const Clip item;
    // True: the input is the recognised text; false: the clip's own text.
    const bool ocr;
    const std::optional<QUrl> sourceURL;
    const QImage sourcePreview;
    const std::vector<QString> supportedOCRLanguages;
    // When set, a finished recognition goes straight on to submit.
    bool showsTranslation = false;
    // Set by the creator; the model never calls it.
    std::function<void()> replaceText;

    const std::optional<std::string>& source() const { return source_; }
    const QString& ocrText() const { return ocrText_; }
    void setOCRText(const QString& text);
    const QString& ocrLanguage() const { return ocrLanguage_; }
    void setOCRLanguage(const QString& language);
    const QString& ocrNotice() const { return ocrNotice_; }
    const std::vector<OCRRegion>& ocrRegions() const { return ocrRegions_; }
    const QStringList& qrPayloads() const { return qrPayloads_; }
    const std::string& target() const { return target_; }
    void setTarget(const std::string& target);
    const QString& prompt() const { return prompt_; }
    void setPrompt(const QString& prompt);
    const QString& result() const { return result_; }
    const QString& error() const { return error_; }
    bool busy() const { return busy_; }
    // Empties the translation result, whose text changed since it was made.
    void clearResult();
    // Shows the failure of a step run outside the model (replacing the text inside the image).
    void setError(const QString& error);

    // Recognises the image: the source URL, else the clip's image file inside `root`.
    void runOCR(const std::filesystem::path& root);
    // Validates the input and starts a translation (or, for an image clip without OCR, an
    // image-prompt request); the clip's image file lies inside `root`.
    void submit(const std::filesystem::path& root);
    // Drops the results of the running work, cancels it and clears busy. Safe when idle.
    void cancel();
    // Remembers the current target for the current source language.
    void rememberTarget();
    // Detects the language of the recognised text and chooses the target again.
    void refreshTarget();

signals:
    // Any published field changed.
    void changed();
    void busyChanged(bool busy);

private:
    void chooseTarget();
    void setBusy(bool busy);
    // The failure path shared by recognition and requests, for a run that is still current.
    void fail(std::exception_ptr error);
    void startRequest(const std::filesystem::path& root, std::optional<std::string> input, std::string request);
    void sendRequest(std::string system, std::vector<ContentBlock> content, std::uint64_t run);

    Defaults& defaults_;
    AIActionBackend& backend_;
    std::optional<std::string> source_;
    QString ocrText_;
    QString ocrLanguage_ = QStringLiteral("auto");
    QString ocrNotice_;
    std::vector<OCRRegion> ocrRegions_;
    QStringList qrPayloads_;
    std::string target_;
    QString prompt_;
    QString result_;
    QString error_;
    bool busy_ = false;
    RequestToken token_;
    TaskHandle task_;
};

}  // namespace brevalto
