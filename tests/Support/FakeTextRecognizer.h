#pragma once

#include "Platform/TextRecognizer.h"

#include <QRect>
#include <QSize>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <vector>

namespace brevalto {

// A recognizer with scripted answers for tests of its callers: the languages it supports, the
// lines and payloads every image gives, errors to throw, and a delay that a stop request ends
// (a recognition in flight). It records what each call received.
class FakeTextRecognizer : public TextRecognizer {
public:
    std::vector<QString> languages = {QStringLiteral("en-US"), QStringLiteral("fr-FR"), QStringLiteral("ja-JP"),
                                      QStringLiteral("vi-VN")};
    std::vector<RecognizedLine> lines;
    std::vector<QString> payloads;
    std::exception_ptr languagesError;  // thrown by supportedLanguages
    std::exception_ptr textError;       // thrown by readText
    std::chrono::milliseconds delay{0};  // readText waits this long unless stopped first

    std::atomic<int> textReads{0};
    std::atomic<int> codeReads{0};
    std::atomic<bool> reading{false};  // true while readText waits out its delay

    // What the last readText received.
    std::vector<QString> lastLanguages() const;
    QRect lastArea() const;
    QSize lastImageSize() const;

    std::vector<QString> supportedLanguages() override;
    std::vector<RecognizedLine> readText(const QImage& image, const QRect& area, const std::vector<QString>& languages,
                                         std::stop_token stop) override;
    std::vector<QString> readQRCodes(const QImage& image, const QRect& area, std::stop_token stop) override;

    // A line of `text` whose characters (bytes) sit side by side in boxes of 10 x 20 pixels from `origin`.
    static RecognizedLine line(const std::string& text, QPoint origin, float confidence = 0.9f);

private:
    mutable std::mutex mutex_;
    std::condition_variable_any wake_;
    std::vector<QString> lastLanguages_;
    QRect lastArea_;
    QSize lastImageSize_;
};

}  // namespace brevalto
