#include "Panel/ClipList.h"

#include <unicode/coll.h>
#include <unicode/locid.h>
#include <unicode/stsearch.h>
#include <unicode/unistr.h>

#include <QByteArray>

#include <algorithm>

namespace brevalto {

bool filterAdmits(const QString& filter, const Clip& clip) {
    if (filter == QLatin1String("All")) return true;
    if (filter == QLatin1String("Pinned")) return clip.pinned;
    if (filter == QLatin1String("Text")) return clip.kind == Clip::Kind::text;
    if (filter == QLatin1String("Images")) return clip.kind == Clip::Kind::image;
    return false;
}

struct ClipSearch::Engine {
    std::unique_ptr<icu::RuleBasedCollator> collator;
    std::unique_ptr<icu::StringSearch> search;
    icu::UnicodeString pattern;
};

ClipSearch::ClipSearch() = default;
ClipSearch::~ClipSearch() = default;

void ClipSearch::prepare(const QString& query) {
    if (engine_ && query == query_) return;
    query_ = query;
    remembered_.clear();
    engine_ = std::make_unique<Engine>();
    UErrorCode status = U_ZERO_ERROR;
    // The user's locale, except the POSIX one, whose collation tells letter cases apart at every
    // strength: then the root collation.
    icu::Locale locale = icu::Locale::getDefault();
    if (QByteArray(locale.getVariant()).toUpper() == "POSIX" || QByteArray(locale.getLanguage()).isEmpty())
        locale = icu::Locale::getRoot();
    std::unique_ptr<icu::Collator> collator(icu::Collator::createInstance(locale, status));
    if (U_FAILURE(status) || !collator) {
        status = U_ZERO_ERROR;
        collator.reset(icu::Collator::createInstance(icu::Locale::getRoot(), status));
    }
    auto* rules = dynamic_cast<icu::RuleBasedCollator*>(collator.get());
    if (!rules) return;
    collator.release();
    engine_->collator.reset(rules);
    engine_->collator->setStrength(icu::Collator::PRIMARY);
    status = U_ZERO_ERROR;
    engine_->collator->setAttribute(UCOL_NORMALIZATION_MODE, UCOL_ON, status);
    engine_->pattern = icu::UnicodeString(reinterpret_cast<const UChar*>(query.utf16()), int32_t(query.size()));
}

bool ClipSearch::contains(std::string_view text, const QString& query) {
    prepare(query);
    if (!engine_->collator || engine_->pattern.isEmpty()) return false;
    if (text.size() > std::size_t(INT32_MAX)) return false;
    const icu::UnicodeString target = icu::UnicodeString::fromUTF8(icu::StringPiece(text.data(), int32_t(text.size())));
    if (target.isEmpty()) return false;
    UErrorCode status = U_ZERO_ERROR;
    if (!engine_->search) {
        engine_->search =
            std::make_unique<icu::StringSearch>(engine_->pattern, target, engine_->collator.get(), nullptr, status);
    } else {
        engine_->search->setText(target, status);
    }
    if (U_FAILURE(status)) {
        engine_->search.reset();
        return false;
    }
    status = U_ZERO_ERROR;
    const int32_t found = engine_->search->first(status);
    return U_SUCCESS(status) && found != USEARCH_DONE;
}

bool ClipSearch::matchesFilter(const Clip& clip, const QString& filter, const QString& query) {
    if (!filterAdmits(filter, clip)) return false;
    if (query.isEmpty()) return true;
    prepare(query);
    const std::optional<std::size_t> ocrLength = clip.ocrText ? std::optional(clip.ocrText->size()) : std::nullopt;
    if (auto hit = remembered_.find(clip.id); hit != remembered_.end() && hit->second.ocrLength == ocrLength)
        return hit->second.matches;
    const bool matches = contains(clip.text ? std::string_view(*clip.text) : std::string_view("Image"), query) ||
                         contains(clip.ocrText ? std::string_view(*clip.ocrText) : std::string_view(), query) ||
                         contains(clip.source, query);
    remembered_[clip.id] = Remembered{ocrLength, matches};
    return matches;
}

std::vector<const Clip*> ClipSearch::visible(const std::vector<Clip>& items, const QString& filter,
                                             const QString& query) {
    std::vector<const Clip*> shown;
    for (const Clip& clip : items)
        if (matchesFilter(clip, filter, query)) shown.push_back(&clip);
    std::stable_sort(shown.begin(), shown.end(), [](const Clip* a, const Clip* b) {
        if (a->pinned != b->pinned) return a->pinned;
        return a->createdAt > b->createdAt;
    });
    return shown;
}

std::vector<Clip> ClipSearch::visibleClips(const std::vector<Clip>& items, const QString& filter,
                                           const QString& query) {
    std::vector<Clip> clips;
    for (const Clip* clip : visible(items, filter, query)) clips.push_back(*clip);
    return clips;
}

std::optional<Clip> currentClip(const std::vector<Clip>& visible, const std::optional<Uuid>& selected) {
    if (selected)
        for (const Clip& clip : visible)
            if (clip.id == *selected) return clip;
    if (visible.empty()) return std::nullopt;
    return visible.front();
}

const std::vector<ItemAction>& itemActions(Clip::Kind kind) {
    using A = ItemAction;
    static const std::vector<ItemAction> image = {A::copy, A::edit, A::ocr,    A::upload,  A::paste,
                                                  A::float_, A::ai, A::pin, A::preview, A::delete_};
    static const std::vector<ItemAction> text = {A::copy, A::paste, A::ai, A::pin, A::preview, A::delete_};
    return kind == Clip::Kind::image ? image : text;
}

int cardActionCount(int n, double width) {
    if (n <= 0) return 0;
    if (n * 24 + 2 * (n - 1) <= width) return n;
    for (int k = n - 1; k >= 0; --k)
        if ((k + 1) * 24 + 2 * k <= width) return k;
    return 0;
}

}  // namespace brevalto
