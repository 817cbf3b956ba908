#pragma once

#include "Upload/UploadDialogs.h"

#include <QStringList>

#include <deque>

namespace brevalto {

// Answers the upload alerts from queues (an empty queue answers "Cancel") and records the
// questions.
class ScriptedUploadDialogs final : public UploadDialogs {
public:
    bool confirmRemoveKeys() override { return next(removeAnswers, false); }
    std::optional<QString> confirmDelete(const QString& bucket, const QString&) override {
        deleteQuestions.append(bucket);
        return next(typedKeys, std::optional<QString>());
    }
    bool confirmPublicUpload(bool& dontAskAgain) override {
        ++publicQuestions;
        dontAskAgain = tickDontAskAgain;
        return next(publicAnswers, false);
    }

    std::deque<bool> removeAnswers;
    std::deque<std::optional<QString>> typedKeys;
    std::deque<bool> publicAnswers;
    bool tickDontAskAgain = false;
    QStringList deleteQuestions;
    int publicQuestions = 0;

private:
    template <class T>
    static T next(std::deque<T>& queue, T fallback) {
        if (queue.empty()) return fallback;
        T answer = queue.front();
        queue.pop_front();
        return answer;
    }
};

}  // namespace brevalto
