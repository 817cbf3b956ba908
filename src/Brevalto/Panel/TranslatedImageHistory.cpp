#include "Panel/TranslatedImageHistory.h"

#include "Clipboard/ClipStore.h"

namespace brevalto {

void TranslatedImageHistory::addImage(const QByteArray& png, const std::string& source,
                                      std::function<void(bool created)> done) {
    store_.addImage(png, source, std::nullopt, {},
                    [done = std::move(done)](std::optional<Clip> clip) { done(clip.has_value()); });
}

QString TranslatedImageHistory::message() const { return store_.message(); }

}  // namespace brevalto
