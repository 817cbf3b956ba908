#include "ClipCore/HistoryPolicy.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace brevalto {

namespace {

bool sameContent(const Clip& a, const Clip& b) { return a.digest == b.digest && a.kind == b.kind; }

// Dates that are not numbers sort as the oldest, so the order stays well defined.
double sortKey(Date date) { return std::isnan(date) ? -std::numeric_limits<double>::infinity() : date; }

}  // namespace

bool HistoryPolicy::shouldCapture(const std::set<std::string>& types, const std::string& source,
                                  const std::set<std::string>& ignored) {
    for (std::string_view excluded : excludedTypes) {
        if (types.count(std::string(excluded)) != 0) return false;
    }
    return ignored.count(source) == 0;
}

std::optional<std::vector<Clip>> HistoryPolicy::inserting(const Clip& clip, const std::vector<Clip>& history,
                                                          std::int64_t maxItems, std::int64_t maxBytes) {
    Clip entry = clip;
    auto duplicate = std::find_if(history.begin(), history.end(), [&](const Clip& c) { return sameContent(c, clip); });
    if (duplicate != history.end()) {
        entry = *duplicate;
        entry.createdAt = duplicate->createdAt > clip.createdAt ? duplicate->createdAt : clip.createdAt;
        entry.source = clip.source;
        if (clip.imageScale) entry.imageScale = clip.imageScale;
    }

    std::vector<Clip> list;
    list.reserve(history.size() + 1);
    list.push_back(entry);
    for (const Clip& c : history) {
        if (c.id != entry.id && !sameContent(c, entry)) list.push_back(c);
    }
    std::stable_sort(list.begin(), list.end(),
                     [](const Clip& a, const Clip& b) { return sortKey(a.createdAt) > sortKey(b.createdAt); });

    // Evict the oldest unpinned items other than the entry. The candidates are found scanning
    // from the end; an item passed over stays passed over, so one backwards walk suffices.
    std::vector<bool> evicted(list.size(), false);
    auto count = static_cast<std::int64_t>(list.size());
    __int128 bytes = 0;
    for (const Clip& c : list) bytes += c.byteCount;
    std::size_t candidate = list.size();
    while (count > maxItems || bytes > maxBytes) {
        while (candidate > 0 && (list[candidate - 1].pinned || list[candidate - 1].id == entry.id)) --candidate;
        if (candidate == 0) return std::nullopt;
        --candidate;
        evicted[candidate] = true;
        --count;
        bytes -= list[candidate].byteCount;
    }

    std::vector<Clip> result;
    result.reserve(static_cast<std::size_t>(count));
    for (std::size_t i = 0; i < list.size(); ++i) {
        if (!evicted[i]) result.push_back(std::move(list[i]));
    }
    return result;
}

}  // namespace brevalto
