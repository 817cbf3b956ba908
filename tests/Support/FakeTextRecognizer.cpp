#include "FakeTextRecognizer.h"

namespace brevalto {

std::vector<QString> FakeTextRecognizer::lastLanguages() const {
    std::lock_guard lock(mutex_);
    return lastLanguages_;
}

QRect FakeTextRecognizer::lastArea() const {
    std::lock_guard lock(mutex_);
    return lastArea_;
}

QSize FakeTextRecognizer::lastImageSize() const {
    std::lock_guard lock(mutex_);
    return lastImageSize_;
}

std::vector<QString> FakeTextRecognizer::supportedLanguages() {
    if (languagesError) std::rethrow_exception(languagesError);
    return languages;
}

std::vector<RecognizedLine> FakeTextRecognizer::readText(const QImage& image, const QRect& area,
                                                         const std::vector<QString>& languages,
                                                         std::stop_token stop) {
    ++textReads;
    {
        std::unique_lock lock(mutex_);
        lastLanguages_ = languages;
        lastArea_ = area;
        lastImageSize_ = image.size();
        if (delay.count() > 0) {
            reading = true;
            wake_.wait_for(lock, stop, delay, [] { return false; });
            reading = false;
        }
    }
    if (stop.stop_requested()) throw RecognitionCancelled();
    if (textError) std::rethrow_exception(textError);
    return lines;
}

std::vector<QString> FakeTextRecognizer::readQRCodes(const QImage&, const QRect&, std::stop_token stop) {
    ++codeReads;
    if (stop.stop_requested()) throw RecognitionCancelled();
    return payloads;
}

RecognizedLine FakeTextRecognizer::line(const std::string& text, QPoint origin, float confidence) {
    RecognizedLine line;
    line.text = text;
    line.confidence = confidence;
    line.box = QRect(origin, QSize(10 * static_cast<int>(text.size()), 20));
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == ' ') continue;
        line.glyphs.push_back({i, i + 1, QRect(origin + QPoint(10 * static_cast<int>(i), 0), QSize(10, 20))});
    }
    return line;
}

}  // namespace brevalto
