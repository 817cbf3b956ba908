#pragma once

#include "AI/AIModel.h"

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace brevalto {

// The pure rules of the model picker: which family a model ID belongs to, the fuzzy filter, and
// the sections the picker shows.
namespace ModelCatalog {

// One titled group of rows: "Recent", "Opus", "Sonnet", "Haiku" or "Other".
struct Section {
    std::string id;
    std::vector<AIModel> models;
    friend bool operator==(const Section&, const Section&) = default;
};

inline constexpr std::array<std::string_view, 3> families{"Opus", "Sonnet", "Haiku"};
inline constexpr std::string_view recentTitle = "Recent";
inline constexpr std::string_view otherTitle = "Other";

// The first family whose name the ID contains, letter case ignored (model IDs are ASCII, so only
// ASCII letters fold, whatever the user's locale), else "Other".
std::string modelSection(std::string_view id);

// The user-perceived characters (extended grapheme clusters) of UTF-8 text, in order.
std::vector<std::string> characters(std::string_view text);

// The offsets, in user-perceived characters of `candidate`, where the query's characters occur in
// order (greedy, first occurrence), letter case ignored and canonically equivalent characters
// equal; the query's white space is dropped. None when the query is not consumed. An empty query
// matches everything with no offsets.
std::optional<std::vector<int>> fuzzyMatch(std::string_view query, std::string_view candidate);

// The visible sections: the loaded models, then the current and recent IDs that the list lacks
// (without names), filtered by the query against name and ID; "Recent" first in the recent list's
// order, then the families in loaded order, leaving out recent IDs and empty sections.
std::vector<Section> sections(const std::vector<AIModel>& models, const std::vector<std::string>& recent,
                              const std::string& current, std::string_view query);

}  // namespace ModelCatalog

}  // namespace brevalto
