#pragma once

#include "AI/AIActionBackend.h"
#include "ManualExecutor.h"
#include "Platform/LanguageDetector.h"

#include <QPointer>

#include <map>
#include <memory>

namespace brevalto {

// A language detector that answers from a table of exact texts; any other text gets `fallback`.
class FakeLanguageDetector : public LanguageDetector {
public:
    std::map<std::string, LanguageGuess, std::less<>> guesses;
    std::optional<LanguageGuess> fallback;
    std::vector<std::string> seen;  // every text asked about

    std::optional<LanguageGuess> mostLikely(std::string_view text) override {
        seen.emplace_back(text);
        if (const auto found = guesses.find(text); found != guesses.end()) return found->second;
        return fallback;
    }
};

// An AI backend whose work finishes only when the test says so, in the order the test chooses:
// each start is kept as a pending job that records its inputs. Finishing a job delivers its
// outcome the way Task does: not at all once its handle was cancelled or its receiver is gone.
class ManualAIBackend : public AIActionBackend {
public:
    struct Job {
        QPointer<QObject> receiver;
        std::shared_ptr<std::stop_source> stop = std::make_shared<std::stop_source>();
        // Recognition.
        QUrl file;
        QString language;
        std::function<void(TaskResult<OCRResult>&)> recognized;
        // Claude request.
        std::string system;
        std::vector<ContentBlock> content;
        std::function<void(TaskResult<std::string>&)> replied;

        // False: the outcome arrives even after a cancel, so that only the receiver's own guard
        // can drop it.
        bool honourCancel = true;
        bool live() const { return receiver && !(honourCancel && stop->stop_requested()); }
        void finish(OCRResult result) {
            TaskResult<OCRResult> outcome(std::move(result));
            if (live()) recognized(outcome);
        }
        void reply(std::string text) {
            TaskResult<std::string> outcome(std::move(text));
            if (live()) replied(outcome);
        }
        template <class Error>
        void fail(Error error) {
            const auto thrown = std::make_exception_ptr(std::move(error));
            if (!live()) return;
            if (recognized) {
                TaskResult<OCRResult> outcome(thrown);
                recognized(outcome);
            } else {
                TaskResult<std::string> outcome(thrown);
                replied(outcome);
            }
        }
    };

    std::vector<QString> languages = {QStringLiteral("en-US"), QStringLiteral("ja-JP")};
    FakeLanguageDetector detector;
    ManualExecutor work;  // image preparation
    std::vector<std::shared_ptr<Job>> jobs;
    bool honourCancel = true;  // given to every new job

    std::vector<QString> supportedOCRLanguages() override { return languages; }
    LanguageDetector& languageDetector() override { return detector; }
    TaskExecutor& executor() override { return work; }
    TaskHandle recognize(QObject* receiver, const QUrl& file, const QString& language,
                         std::function<void(TaskResult<OCRResult>&)> done) override {
        auto job = std::make_shared<Job>();
        job->receiver = receiver;
        job->honourCancel = honourCancel;
        job->file = file;
        job->language = language;
        job->recognized = std::move(done);
        jobs.push_back(job);
        return TaskHandle(job->stop);
    }
    TaskHandle complete(QObject* receiver, std::string system, std::vector<ContentBlock> content,
                        std::function<void(TaskResult<std::string>&)> done) override {
        auto job = std::make_shared<Job>();
        job->receiver = receiver;
        job->honourCancel = honourCancel;
        job->system = std::move(system);
        job->content = std::move(content);
        job->replied = std::move(done);
        jobs.push_back(job);
        return TaskHandle(job->stop);
    }
    Job& last() { return *jobs.back(); }
};

}  // namespace brevalto
