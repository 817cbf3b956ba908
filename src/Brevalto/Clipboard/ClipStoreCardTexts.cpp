#include "Clipboard/ClipStore.h"

#include "ClipCore/SecretScanner.h"
#include "ClipCore/UnicodeText.h"

namespace brevalto {

namespace {

// One masking pass gives all three: each is a prefix of the masked text, so the shorter ones are
// cut from the longest.
ClipStore::CardTexts makeCardTexts(std::string_view text) {
    ClipStore::CardTexts texts;
    texts.pane = SecretScanner::maskedPrefix(text, ClipStore::kPaneTextCharacters);
    texts.preview = std::string(unicode::graphemePrefix(texts.pane, ClipStore::kCardPreviewCharacters));
    texts.title = std::string(unicode::graphemePrefix(texts.pane, kClipTitleLength));
    return texts;
}

}  // namespace

const std::shared_ptr<const ClipStore::CardTexts>& ClipStore::maskedCardTexts() {
    static const auto texts = std::make_shared<const CardTexts>(
        CardTexts{std::string(SecretScanner::bullets), std::string(SecretScanner::bullets), std::string(SecretScanner::bullets)});
    return texts;
}

std::shared_ptr<const ClipStore::CardTexts> ClipStore::cardTexts(const Clip& clip) {
    if (clip.kind != Clip::Kind::text || !clip.text) return std::make_shared<const CardTexts>(CardTexts{clip.title(), {}, {}});
    if (auto hit = cardTexts_.find(clip.digest); hit != cardTexts_.end()) return hit->second.texts;
    const bool kept = inHistory(clip.digest);
    if (clip.text->size() <= kCardTextsAtOnce) {
        auto texts = std::make_shared<const CardTexts>(makeCardTexts(clip.text->view()));
        if (kept) cardTexts_.emplace(clip.digest, CardTextsEntry{texts, {}});
        return texts;
    }
    if (!kept) return maskedCardTexts();
    const std::string digest = clip.digest;
    TaskHandle work = Task::run(
        cardTextPool_, this, [text = *clip.text](std::stop_token) { return makeCardTexts(text.view()); },
        [this, digest](TaskResult<CardTexts>& result) {
            const auto entry = cardTexts_.find(digest);
            if (entry == cardTexts_.end()) return;
            // Work that failed (out of memory) leaves the bullets: never the text unmasked.
            entry->second.texts = result.ok() ? std::make_shared<const CardTexts>(std::move(result.get()))
                                              : maskedCardTexts();
            entry->second.work = {};
            emit cardTextsFinished(QString::fromStdString(digest));
        });
    cardTexts_.emplace(digest, CardTextsEntry{nullptr, std::move(work)});
    return nullptr;
}

}  // namespace brevalto
