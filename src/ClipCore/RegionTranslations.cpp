#include "ClipCore/RegionTranslations.h"

#include "ClipCore/JsonReading.h"
#include "ClipCore/UnicodeText.h"

#include <vector>

namespace brevalto {

namespace {

constexpr std::string_view kFence = "```";

// A reply wrapped in a code fence loses its first line (the opening fence and any language tag)
// and its last line. A reply on a single line is left as it is (and then is not JSON).
std::string unfenced(std::string_view text) {
    if (!(text.starts_with(kFence) && text.ends_with(kFence))) return std::string(text);
    std::size_t firstBreak = text.find('\n');
    if (firstBreak == std::string_view::npos) return std::string(text);
    std::size_t lastBreak = text.rfind('\n');
    if (lastBreak == firstBreak) return {};  // two lines: nothing between them
    return std::string(text.substr(firstBreak + 1, lastBreak - firstBreak - 1));
}

struct Row {
    std::int64_t id;
    std::string text;
};

std::vector<Row> decodeRows(std::string_view text) {
    json::Json payload = json::parse(text);
    json::requireObject(payload, "reply");
    auto regions = payload.find("regions");
    if (regions == payload.end() || regions->is_null()) throw DecodingError("missing member \"regions\"");
    json::requireArray(*regions, "member \"regions\"");
    std::vector<Row> rows;
    rows.reserve(regions->size());
    for (const auto& row : *regions) {
        json::requireObject(row, "region");
        rows.push_back({json::requireInt64(row, "id"), json::requireString(row, "text")});
    }
    return rows;
}

}  // namespace

std::map<std::int64_t, std::string> RegionTranslations::decode(std::string_view reply,
                                                               const std::set<std::int64_t>& expected) {
    std::vector<Row> rows = decodeRows(unfenced(unicode::trimmed(reply)));

    std::map<std::int64_t, std::string> result;
    for (Row& row : rows) {
        if (!result.emplace(row.id, std::move(row.text)).second) throw RegionTranslationsError();
    }
    if (result.size() != expected.size()) throw RegionTranslationsError();
    auto wanted = expected.begin();
    for (const auto& [id, text] : result) {
        if (id != *wanted++) throw RegionTranslationsError();
    }
    for (const auto& [id, text] : result) {
        if (unicode::trimmed(text).empty()) throw RegionTranslationsError();
    }
    return result;
}

}  // namespace brevalto
