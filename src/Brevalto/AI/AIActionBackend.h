#pragma once

#include "AI/ContentBlock.h"
#include "AI/OCRResult.h"
#include "Platform/Task.h"

#include <QObject>
#include <QString>
#include <QUrl>

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace brevalto {

class ClaudeService;
class Defaults;
class LanguageDetector;
class TextRecognizer;

// What an AIActionModel runs its work on. Each start returns at once; `done` later receives the
// outcome on the receiver's thread, unless the handle was cancelled or the receiver is gone.
class AIActionBackend {
public:
    virtual ~AIActionBackend() = default;

    // The recognition languages of this system; throws when they cannot be listed.
    virtual std::vector<QString> supportedOCRLanguages() = 0;
    virtual LanguageDetector& languageDetector() = 0;
    // Where other background work of the model (image preparation) runs.
    virtual TaskExecutor& executor() = 0;
    // Recognises the text of the whole image in `file` with `language` ("auto" or one code).
    virtual TaskHandle recognize(QObject* receiver, const QUrl& file, const QString& language,
                                 std::function<void(TaskResult<OCRResult>&)> done) = 0;
    // Asks Claude for the reply to a system prompt and content blocks.
    virtual TaskHandle complete(QObject* receiver, std::string system, std::vector<ContentBlock> content,
                                std::function<void(TaskResult<std::string>&)> done) = 0;
};

// The app's backend: the device's recognizer and language detector, and the Claude service with
// the settings read from `defaults` on the calling (GUI) thread at each request.
class AIActionServices final : public AIActionBackend {
public:
    AIActionServices(TextRecognizer& recognizer, LanguageDetector& detector, ClaudeService& claude,
                     const Defaults& defaults, TaskExecutor& executor = TaskPool::shared());

    std::vector<QString> supportedOCRLanguages() override;
    LanguageDetector& languageDetector() override { return detector_; }
    TaskExecutor& executor() override { return executor_; }
    TaskHandle recognize(QObject* receiver, const QUrl& file, const QString& language,
                         std::function<void(TaskResult<OCRResult>&)> done) override;
    TaskHandle complete(QObject* receiver, std::string system, std::vector<ContentBlock> content,
                        std::function<void(TaskResult<std::string>&)> done) override;

private:
    TextRecognizer& recognizer_;
    LanguageDetector& detector_;
    ClaudeService& claude_;
    const Defaults& defaults_;
    TaskExecutor& executor_;
};

}  // namespace brevalto
