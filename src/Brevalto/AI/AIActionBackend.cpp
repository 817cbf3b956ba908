#include "AI/AIActionBackend.h"

#include "AI/ClaudeService.h"
#include "AI/TextRecognition.h"

namespace brevalto {

AIActionServices::AIActionServices(TextRecognizer& recognizer, LanguageDetector& detector, ClaudeService& claude,
                                   const Defaults& defaults, TaskExecutor& executor)
    : recognizer_(recognizer), detector_(detector), claude_(claude), defaults_(defaults), executor_(executor) {}

std::vector<QString> AIActionServices::supportedOCRLanguages() {
    return brevalto::supportedOCRLanguages(recognizer_);
}

TaskHandle AIActionServices::recognize(QObject* receiver, const QUrl& file, const QString& language,
                                       std::function<void(TaskResult<OCRResult>&)> done) {
    return Task::run(
        executor_, receiver,
        [&recognizer = recognizer_, file, language](std::stop_token stop) {
            return recognizeText(recognizer, file, language, std::nullopt, stop);
        },
        std::move(done));
}

TaskHandle AIActionServices::complete(QObject* receiver, std::string system, std::vector<ContentBlock> content,
                                      std::function<void(TaskResult<std::string>&)> done) {
    const ClaudeSettings settings = ClaudeSettings::read(defaults_);
    return Task::run(
        executor_, receiver,
        [&claude = claude_, settings, system = std::move(system), content = std::move(content)](std::stop_token stop) {
            return claude.complete(settings, system, content, stop);
        },
        std::move(done));
}

}  // namespace brevalto
