#pragma once

#include "AI/TranslatedImageStore.h"

namespace brevalto {

class ClipStore;

// The clip history as the place where the region translator saves its images.
class TranslatedImageHistory final : public TranslatedImageStore {
public:
    explicit TranslatedImageHistory(ClipStore& store) : store_(store) {}

    void addImage(const QByteArray& png, const std::string& source, std::function<void(bool created)> done) override;
    QString message() const override;

private:
    ClipStore& store_;
};

}  // namespace brevalto
