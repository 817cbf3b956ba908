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

    explicit Engine(const QString& query) {
        UErrorCode status = U_ZERO_ERROR;
        // The user's locale, except the POSIX one, whose collation tells letter cases apart at
        // every strength: then the root collation.
        icu::Locale locale = icu::Locale::getDefault();
        if (QByteArray(locale.getVariant()).toUpper() == "POSIX" || QByteArray(locale.getLanguage()).isEmpty())
            locale = icu::Locale::getRoot();
        std::unique_ptr<icu::Collator> made(icu::Collator::createInstance(locale, status));
        if (U_FAILURE(status) || !made) {
            status = U_ZERO_ERROR;
            made.reset(icu::Collator::createInstance(icu::Locale::getRoot(), status));
        }
        auto* rules = dynamic_cast<icu::RuleBasedCollator*>(made.get());
        if (!rules) return;
        made.release();
        collator.reset(rules);
        collator->setStrength(icu::Collator::PRIMARY);
        status = U_ZERO_ERROR;
        collator->setAttribute(UCOL_NORMALIZATION_MODE, UCOL_ON, status);
        pattern = icu::UnicodeString(reinterpret_cast<const UChar*>(query.utf16()), int32_t(query.size()));
    }

    bool contains(std::string_view text) {
        if (!collator || pattern.isEmpty() || text.empty() || text.size() > std::size_t(INT32_MAX)) return false;
        const icu::UnicodeString target =
            icu::UnicodeString::fromUTF8(icu::StringPiece(text.data(), int32_t(text.size())));
        UErrorCode status = U_ZERO_ERROR;
        if (!search)
            search = std::make_unique<icu::StringSearch>(pattern, target, collator.get(), nullptr, status);
        else
            search->setText(target, status);
        if (U_FAILURE(status)) {
            search.reset();
            return false;
        }
        status = U_ZERO_ERROR;
        const int32_t found = search->first(status);
        return U_SUCCESS(status) && found != USEARCH_DONE;
    }

    // The first of the clip's texts that holds the query decides.
    bool matches(std::string_view text, std::string_view ocrText, std::string_view source) {
        return contains(text) || contains(ocrText) || contains(source);
    }
};

ClipSearch::ClipSearch(std::function<void()> decided) : decided_(std::move(decided)) {}

ClipSearch::~ClipSearch() {
    for (TaskHandle& handle : work_) handle.cancel();
}

void ClipSearch::prepare(const QString& query) {
    if (engine_ && query == query_) return;
    for (TaskHandle& handle : work_) handle.cancel();
    work_.clear();
    pending_.clear();
    queued_.clear();
    remembered_.clear();
    query_ = query;
    engine_ = std::make_unique<Engine>(query);
}

bool ClipSearch::contains(std::string_view text, const QString& query) {
    Engine engine(query);
    return engine.contains(text);
}

bool ClipSearch::matchesFilter(const Clip& clip, const QString& filter, const QString& query) {
    if (!filterAdmits(filter, clip)) return false;
    if (query.isEmpty()) return true;
    prepare(query);
    const std::optional<std::size_t> ocrLength = clip.ocrText ? std::optional(clip.ocrText->size()) : std::nullopt;
    if (auto hit = remembered_.find(clip.id); hit != remembered_.end() && hit->second.ocrLength == ocrLength)
        return hit->second.matches;
    const std::string_view text = clip.text ? std::string_view(*clip.text) : std::string_view("Image");
    const std::string_view ocrText = clip.ocrText ? std::string_view(*clip.ocrText) : std::string_view();
    if (text.size() + ocrText.size() > kInlineBytes) {
        if (!pending_.count(clip.id)) {
            pending_.emplace(clip.id, true);
            queued_.push_back(Job{clip, ocrLength});
        }
        return false;
    }
    const bool matches = engine_->matches(text, ocrText, clip.source);
    remembered_[clip.id] = Remembered{ocrLength, matches};
    return matches;
}

void ClipSearch::searchInBackground() {
    if (queued_.empty()) return;
    // Batches of about 16 MiB, searched side by side on the shared pool.
    constexpr std::size_t kBatchBytes = 16 * 1024 * 1024;
    std::vector<std::vector<Job>> batches(1);
    std::size_t bytes = 0;
    for (Job& job : queued_) {
        if (bytes > kBatchBytes) {
            batches.emplace_back();
            bytes = 0;
        }
        bytes += (job.clip.text ? job.clip.text->size() : 0) + (job.clip.ocrText ? job.clip.ocrText->size() : 0);
        batches.back().push_back(std::move(job));
    }
    queued_.clear();
    for (std::vector<Job>& batch : batches) {
        using Answers = std::vector<std::pair<Uuid, Remembered>>;
        work_.push_back(Task::run(
            &receiver_,
            [query = query_, batch = std::move(batch)](std::stop_token stop) {
                Engine engine(query);
                Answers answers;
                for (const Job& job : batch) {
                    if (stop.stop_requested()) break;
                    const Clip& clip = job.clip;
                    const std::string_view text = clip.text ? clip.text->view() : std::string_view("Image");
                    const std::string_view ocrText = clip.ocrText ? clip.ocrText->view() : std::string_view();
                    answers.emplace_back(clip.id, Remembered{job.ocrLength, engine.matches(text, ocrText, clip.source)});
                }
                return answers;
            },
            [this, query = query_](TaskResult<Answers>& result) {
                if (query != query_ || !result.ok()) return;
                for (auto& [id, answer] : result.get()) {
                    pending_.erase(id);
                    remembered_[id] = answer;
                }
                if (decided_) decided_();
            }));
    }
}

std::vector<const Clip*> ClipSearch::visible(const std::vector<Clip>& items, const QString& filter,
                                             const QString& query) {
    std::vector<const Clip*> shown;
    for (const Clip& clip : items)
        if (matchesFilter(clip, filter, query)) shown.push_back(&clip);
    searchInBackground();
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
