#include "AI/AIActionBackend.h"

#include "AI/ClaudeService.h"
#include "AI/TextRecognition.h"

namespace brevalto {

AIActionServices::AIActionServices(TextRecognizer& recognizer, LanguageDetector& detector, ClaudeService& claude,
                                   const Defaults& defaults)
    : recognizer_(recognizer), detector_(detector), claude_(claude), defaults_(defaults) {}

std::vector<QString> AIActionServices::supportedOCRLanguages() {
    return brevalto::supportedOCRLanguages(recognizer_);
}

TaskHandle AIActionServices::recognize(QObject* receiver, const QUrl& file, const QString& language,
                                       std::function<void(TaskResult<OCRResult>&)> done) {
    return recognizeText(receiver, recognizer_, file, language, std::nullopt, std::move(done));
}

TaskHandle AIActionServices::complete(QObject* receiver, std::string system, std::vector<ContentBlock> content,
                                      std::function<void(TaskResult<std::string>&)> done) {
    const ClaudeSettings settings = ClaudeSettings::read(defaults_);
    return Task::run(
        receiver,
        [&claude = claude_, settings, system = std::move(system), content = std::move(content)](std::stop_token stop) {
            return claude.complete(settings, system, content, stop);
        },
        std::move(done));
}

}  // namespace brevalto
