#pragma once

#include "AI/OCRResult.h"
#include "Platform/Task.h"
#include "Platform/TextRecognizer.h"

#include <QObject>
#include <QRect>
#include <QRectF>
#include <QSize>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <cstddef>
#include <functional>
#include <optional>
#include <stop_token>
#include <vector>

namespace brevalto {

inline constexpr const char* kOCRRegionMessage = "OCR region must be inside the image.";
inline constexpr const char* kOCRLanguageMessage =
    "This system does not support OCR for the selected language. Choose Automatic or another language.";
inline constexpr const char* kOCRNoTextMessage =
    "No text found. Try a clearer image or choose an OCR language and scan again.";

// The language value that asks for automatic language choice.
inline constexpr const char* kAutomaticOCRLanguage = "auto";
// Languages read first in automatic mode, in this order, when the system supports them.
inline const QStringList kPreferredOCRLanguages = {QStringLiteral("en-US"), QStringLiteral("ja-JP"),
                                                   QStringLiteral("vi-VN")};
// Automatic mode reads with at most this many languages: every language added to one run slows
// the engine down and makes it mistake more words for words of the wrong language.
inline constexpr std::size_t kMaxAutomaticOCRLanguages = 3;
// Lines whose confidence is below this count as uncertain.
inline constexpr float kUncertainOCRConfidence = 0.6f;

// The recognition languages of this system, in the recognizer's order. Passes the recognizer's
// errors on unchanged.
std::vector<QString> supportedOCRLanguages(TextRecognizer& recognizer);

// The languages one recognition reads with. "auto": the supported preferred languages in their
// order, then the other supported languages in their order, at most kMaxAutomaticOCRLanguages.
// Any other value must be one of `supported` and is the only language; else throws AIError.
std::vector<QString> ocrLanguages(const QString& language, const std::vector<QString>& supported);

// The pixel rectangle of an image that a normalised region (origin at the lower left) covers;
// the whole image without a region. A region that is not finite, empty or inside the unit
// square throws AIError.
QRect ocrArea(const std::optional<QRectF>& region, QSize imageSize);

// The result of the recognised lines and QR payloads of an image of `imageSize` pixels: lines
// with text, their text joined with line feeds, the uncertain-line count, the distinct payloads in
// ascending order and the rectangle of every secret in the lines whose characters have boxes.
// Throws AIError when there is neither text nor a payload.
OCRResult makeOCRResult(const std::vector<RecognizedLine>& lines, const std::vector<QString>& payloads,
                        QSize imageSize);

// Reads the text and the QR codes of an image file, in the calling thread (a worker: it blocks).
// Throws AIError, the image loader's errors (ScreenshotError, FileError), the recognizer's
// errors, and RecognitionCancelled once `stop` is requested.
OCRResult recognizeText(TextRecognizer& recognizer, const QUrl& url, const QString& language,
                        const std::optional<QRectF>& region, std::stop_token stop);

// The same on the shared task pool; done receives the result on the receiver's thread. Cancelling
// the handle stops the engine and done is not called. The recognizer must outlive the work.
TaskHandle recognizeText(QObject* receiver, TextRecognizer& recognizer, const QUrl& url, const QString& language,
                         const std::optional<QRectF>& region, std::function<void(TaskResult<OCRResult>&)> done);

}  // namespace brevalto
