#pragma once

#include "AI/TranslatedImageStore.h"

#include <vector>

namespace brevalto {

// A clip history that keeps what it was asked to add; the test finishes each addition.
class FakeTranslatedImageStore : public TranslatedImageStore {
public:
    struct Added {
        QByteArray png;
        std::string source;
        std::function<void(bool)> done;
    };
    std::vector<Added> added;
    QString reason = QStringLiteral("The history is read-only.");

    void addImage(const QByteArray& png, const std::string& source, std::function<void(bool)> done) override {
        added.push_back({png, source, std::move(done)});
    }
    QString message() const override { return reason; }
};

}  // namespace brevalto
