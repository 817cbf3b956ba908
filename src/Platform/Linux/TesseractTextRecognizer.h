#pragma once

#include "Platform/TextRecognizer.h"

#include <QString>

#include <chrono>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tesseract {
class TessBaseAPI;
}

namespace brevalto {

// Text through tesseract's LSTM engine with the language data installed on the system, QR codes
// through zxing-cpp. Initialised engines are kept for reuse, one set per language list, until
// none was used for a while; an engine serves one recognition at a time.
class TesseractTextRecognizer : public TextRecognizer {
public:
    // One language: its identifier and the name of its tesseract data.
    struct Language {
        const char* identifier;
        const char* data;
    };

    // `dataFolder` holds the "<data>.traineddata" files. A page of many text lines is read by up
    // to `workers` engines at once, with the same result as by one. Idle engines are let go
    // `releaseIdleAfter` after the last recognition ended (with a Qt application running).
    explicit TesseractTextRecognizer(std::filesystem::path dataFolder = defaultDataFolder(),
                                     int workers = defaultWorkers(),
                                     std::chrono::milliseconds releaseIdleAfter = std::chrono::seconds(5));
    ~TesseractTextRecognizer() override;
    TesseractTextRecognizer(const TesseractTextRecognizer&) = delete;
    TesseractTextRecognizer& operator=(const TesseractTextRecognizer&) = delete;

    // Half the processor's threads, at most 4.
    static int defaultWorkers();
    // $TESSDATA_PREFIX when set, else the folder of Debian's language packages.
    static std::filesystem::path defaultDataFolder();
    // Every language this recognizer knows, in the order supportedLanguages() lists them.
    static const std::vector<Language>& languageTable();
    // The tesseract data name of an identifier, none when the table lacks it.
    static std::optional<std::string> dataName(const QString& identifier);

    // The languages of the table whose data is installed, in the table's order.
    std::vector<QString> supportedLanguages() override;
    std::vector<RecognizedLine> readText(const QImage& image, const QRect& area, const std::vector<QString>& languages,
                                         std::stop_token stop) override;
    std::vector<QString> readQRCodes(const QImage& image, const QRect& area, std::stop_token stop) override;

    // Engines waiting for reuse (tests and benchmarks).
    int idleEngines() const;

private:
    struct Pool;
    // An idle engine of the language list, else a new one; throws when none can start.
    std::unique_ptr<tesseract::TessBaseAPI> takeEngine(const std::string& key);

    std::filesystem::path dataFolder_;
    std::shared_ptr<Pool> pool_;
    int workers_;
};

}  // namespace brevalto
