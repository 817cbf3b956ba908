#include "AI/TextRecognition.h"

#include "ClipCore/SecretScanner.h"
#include "Errors/AIError.h"
#include "Imaging/ImageDecoding.h"
#include "Platform/Geometry.h"

#include <algorithm>
#include <cmath>

namespace brevalto {

namespace {

QRectF normalised(const QRect& box, QSize imageSize) {
    const double w = imageSize.width(), h = imageSize.height();
    return QRectF(box.x() / w, 1.0 - (box.y() + box.height()) / h, box.width() / w, box.height() / h);
}

bool contains(const std::vector<QString>& list, const QString& value) {
    return std::find(list.begin(), list.end(), value) != list.end();
}

}  // namespace

std::vector<QString> supportedOCRLanguages(TextRecognizer& recognizer) {
    return recognizer.supportedLanguages();
}

std::vector<QString> ocrLanguages(const QString& language, const std::vector<QString>& supported) {
    if (language != QLatin1String(kAutomaticOCRLanguage)) {
        if (!contains(supported, language)) throw AIError(kOCRLanguageMessage);
        return {language};
    }
    std::vector<QString> languages;
    for (const auto& preferred : kPreferredOCRLanguages) {
        if (contains(supported, preferred) && !contains(languages, preferred)) languages.push_back(preferred);
    }
    for (const auto& other : supported) {
        if (!contains(languages, other)) languages.push_back(other);
    }
    if (languages.size() > kMaxAutomaticOCRLanguages) languages.resize(kMaxAutomaticOCRLanguages);
    return languages;
}

QRect ocrArea(const std::optional<QRectF>& region, QSize imageSize) {
    const QRect whole(QPoint(0, 0), imageSize);
    if (!region) return whole;
    const QRectF& r = *region;
    if (!isFiniteNonEmpty(r) || r.x() < 0 || r.y() < 0 || r.x() + r.width() > 1 || r.y() + r.height() > 1) {
        throw AIError(kOCRRegionMessage);
    }
    const int w = imageSize.width(), h = imageSize.height();
    const int left = std::clamp(static_cast<int>(std::floor(r.x() * w)), 0, std::max(w - 1, 0));
    const int right = std::clamp(static_cast<int>(std::ceil((r.x() + r.width()) * w)), left + 1, std::max(w, 1));
    const int top = std::clamp(static_cast<int>(std::floor((1 - r.y() - r.height()) * h)), 0, std::max(h - 1, 0));
    const int bottom = std::clamp(static_cast<int>(std::ceil((1 - r.y()) * h)), top + 1, std::max(h, 1));
    return QRect(QPoint(left, top), QPoint(right - 1, bottom - 1));
}

OCRResult makeOCRResult(const std::vector<RecognizedLine>& lines, const std::vector<QString>& payloads,
                        QSize imageSize) {
    QStringList texts;
    std::vector<OCRRegion> regions;
    std::vector<QRectF> secrets;
    int uncertain = 0;
    for (const auto& line : lines) {
        if (line.text.empty()) continue;
        const QString text = QString::fromStdString(line.text);
        texts.push_back(text);
        regions.push_back(OCRRegion{text, normalised(line.box, imageSize), line.confidence});
        if (line.confidence < kUncertainOCRConfidence) ++uncertain;
    }
    // The lines are scanned as the one text they make, so that a secret running across lines (a
    // private key's block) is boxed in each line it takes.
    std::string joined;
    std::vector<std::pair<std::size_t, const RecognizedLine*>> starts;
    for (const auto& line : lines) {
        if (line.text.empty()) continue;
        starts.emplace_back(joined.size(), &line);
        (joined += line.text) += '\n';
    }
    for (const auto& range : SecretScanner::ranges(joined)) {
        auto at = std::upper_bound(starts.begin(), starts.end(), range.lower,
                                   [](std::size_t offset, const auto& start) { return offset < start.first; });
        for (--at; at != starts.end() && at->first < range.upper; ++at) {
            const std::size_t lower = std::max(range.lower, at->first) - at->first;
            const std::size_t upper = std::min(range.upper, at->first + at->second->text.size()) - at->first;
            QRect box;
            for (const auto& glyph : at->second->glyphs) {
                if (glyph.begin < upper && glyph.end > lower) box |= glyph.box;
            }
            if (!box.isEmpty()) secrets.push_back(normalised(box, imageSize));
        }
    }

    QStringList unique(payloads.begin(), payloads.end());
    std::sort(unique.begin(), unique.end());
    unique.erase(std::unique(unique.begin(), unique.end()), unique.end());

    OCRResult result;
    result.text = texts.join(QLatin1Char('\n'));
    if (result.text.trimmed().isEmpty() && unique.isEmpty()) throw AIError(kOCRNoTextMessage);
    result.regions = std::move(regions);
    result.uncertainLines = uncertain;
    result.qrPayloads = std::move(unique);
    result.secrets = std::move(secrets);
    return result;
}

OCRResult recognizeText(TextRecognizer& recognizer, const QUrl& url, const QString& language,
                        const std::optional<QRectF>& region, std::stop_token stop) {
    if (stop.stop_requested()) throw RecognitionCancelled();
    // The region is checked before anything is read.
    ocrArea(region, QSize(1, 1));
    const std::vector<QString> languages = ocrLanguages(language, recognizer.supportedLanguages());

    const QImage image = loadScreenshotImage(url);
    const QRect area = ocrArea(region, image.size());
    // Without any text language only QR codes are read.
    const auto lines = languages.empty() ? std::vector<RecognizedLine>() : recognizer.readText(image, area, languages, stop);
    const auto payloads = recognizer.readQRCodes(image, area, stop);
    if (stop.stop_requested()) throw RecognitionCancelled();
    return makeOCRResult(lines, payloads, image.size());
}

TaskHandle recognizeText(QObject* receiver, TextRecognizer& recognizer, const QUrl& url, const QString& language,
                         const std::optional<QRectF>& region, std::function<void(TaskResult<OCRResult>&)> done) {
    return Task::run(
        receiver,
        [&recognizer, url, language, region](std::stop_token stop) {
            return recognizeText(recognizer, url, language, region, stop);
        },
        std::move(done));
}

}  // namespace brevalto
