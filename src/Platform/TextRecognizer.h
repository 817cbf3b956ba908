#pragma once

#include <QImage>
#include <QRect>
#include <QString>

#include <cstddef>
#include <exception>
#include <stop_token>
#include <string>
#include <vector>

namespace brevalto {

// One character as the engine placed it: the UTF-8 bytes [begin, end) of its line's text and its
// box in pixels of the whole image (top-left origin, y down).
struct RecognizedGlyph {
    std::size_t begin = 0;
    std::size_t end = 0;
    QRect box;

    friend bool operator==(const RecognizedGlyph&, const RecognizedGlyph&) = default;
};

// One line of recognised text. box is in pixels of the whole image (top-left origin, y down);
// glyphs hold the boxes of the characters the engine could place, in text order.
struct RecognizedLine {
    std::string text;  // UTF-8
    QRect box;
    float confidence = 0;  // 0 ... 1
    std::vector<RecognizedGlyph> glyphs;

    friend bool operator==(const RecognizedLine&, const RecognizedLine&) = default;
};

// Thrown by a recognition whose stop token asked it to stop.
class RecognitionCancelled : public std::exception {
public:
    const char* what() const noexcept override { return "The recognition was cancelled."; }
};

// Reads lines of text and QR codes in images, on the device. Language identifiers are written
// as "en-US", "ja-JP", "vi-VN". Every call may come from any thread, several at once; a call
// blocks its thread while it works, so callers run it off the GUI thread.
class TextRecognizer {
public:
    virtual ~TextRecognizer() = default;

    // The languages this system can read, in a fixed order. Throws std::runtime_error when they
    // cannot be listed.
    virtual std::vector<QString> supportedLanguages() = 0;

    // The lines of text inside `area` (pixels of `image`, within it) in reading order, read
    // with `languages` (each one of supportedLanguages(), the likeliest first). Throws
    // RecognitionCancelled once `stop` is requested, std::invalid_argument for a language that
    // is not supported, std::runtime_error when the engine fails.
    virtual std::vector<RecognizedLine> readText(const QImage& image, const QRect& area,
                                                 const std::vector<QString>& languages, std::stop_token stop) = 0;

    // The text payloads of the QR codes inside `area`, in the order found, repeats included;
    // codes that carry binary data have no text and are left out. Throws RecognitionCancelled
    // once `stop` is requested.
    virtual std::vector<QString> readQRCodes(const QImage& image, const QRect& area, std::stop_token stop) = 0;
};

}  // namespace brevalto
