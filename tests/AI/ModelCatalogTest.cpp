#include "AI/ModelCatalog.h"

#include <QLocale>

#include <gtest/gtest.h>

namespace brevalto {
namespace {

using ModelCatalog::Section;
using Offsets = std::optional<std::vector<int>>;

TEST(ModelCatalog, SectionOfAnIdIsTheFirstFamilyItNamesInAnyLetterCase) {
    // Model IDs are ASCII: a Turkish user's locale (where "I" lowercases to a dotless "ı") must not
    // move "HAIKU" out of its family.
    const QLocale previous;
    QLocale::setDefault(QLocale(QLocale::Turkish, QLocale::Turkey));
    const std::pair<const char*, const char*> cases[] = {
        {"claude-opus-4-1", "Opus"},     {"claude-sonnet-4-5", "Sonnet"},   {"claude-3-5-haiku-latest", "Haiku"},
        {"CLAUDE-HAIKU-4", "Haiku"},      {"Claude-SoNnEt", "Sonnet"},       {"opus-over-sonnet", "Opus"},
        {"sonnet-then-opus", "Opus"},     {"sonnet[1m]", "Sonnet"},          {"default", "Other"},
        {"opusplan", "Opus"},             {"", "Other"},                     {"claude-2.1", "Other"},
        {"h-a-i-k-u", "Other"},
    };
    for (const auto& [id, family] : cases) EXPECT_EQ(ModelCatalog::modelSection(id), family) << id;
    QLocale::setDefault(previous);
}

TEST(ModelCatalog, FuzzyMatchCountsUserPerceivedCharacters) {
    const std::string composed = "caf\u00E9-sonnet";     // é as one code point
    const std::string decomposed = "cafe\u0301-sonnet";  // e + combining acute: still one character
    const std::string emoji = "\U0001F468\u200D\U0001F469\u200D\U0001F467 opus";  // a family emoji, one character
    const struct {
        std::string query, candidate;
        Offsets expected;
    } cases[] = {
        {"", "", std::vector<int>{}},
        {"  ", "claude", std::vector<int>{}},
        {"a", "", std::nullopt},
        {"son", "claude-sonnet-4-5", std::vector<int>{7, 8, 9}},
        {"c s 4", "claude-sonnet-4-5", std::vector<int>{0, 7, 14}},
        {"SONNET", "Claude Sonnet 4.5", std::vector<int>{7, 8, 9, 10, 11, 12}},
        {"tennos", "claude-sonnet", std::nullopt},
        {"ss", "sonnet", std::nullopt},
        {"\u00E9s", composed, std::vector<int>{3, 5}},
        {"\u00E9s", decomposed, std::vector<int>{3, 5}},
        {"e\u0301s", composed, std::vector<int>{3, 5}},
        {"\u00C9", decomposed, std::vector<int>{3}},
        {"es", decomposed, std::nullopt},  // e + accent is another character than e
        {"\U0001F468\u200D\U0001F469\u200D\U0001F467o", emoji, std::vector<int>{0, 2}},
        {"\U0001F468o", emoji, std::nullopt},
        {"opu\ts", emoji, std::vector<int>{2, 3, 4, 5}},
    };
    for (const auto& c : cases) EXPECT_EQ(ModelCatalog::fuzzyMatch(c.query, c.candidate), c.expected) << c.query << " in " << c.candidate;
}

TEST(ModelCatalog, SectionsJoinLoadedCurrentAndRecentIds) {
    const AIModel opus{"claude-opus-4-1", "Claude Opus 4.1"};
    const AIModel sonnet{"claude-sonnet-4-5", "Claude Sonnet 4.5"};
    const AIModel haiku{"claude-haiku-4-5", "Claude Haiku 4.5"};
    const AIModel named{"x-1", "Sonnet Preview"};  // its name says Sonnet, its ID says nothing
    const std::vector<AIModel> loaded{sonnet, opus, haiku, named};
    const auto bare = [](const char* id) { return AIModel{id, std::nullopt}; };
    const struct {
        const char* what;
        std::vector<AIModel> models;
        std::vector<std::string> recent;
        std::string current, query;
        std::vector<Section> expected;
    } cases[] = {
        {"loaded list only", loaded, {}, "claude-sonnet-4-5", "",
         {{"Opus", {opus}}, {"Sonnet", {sonnet}}, {"Haiku", {haiku}}, {"Other", {named}}}},
        {"recent ids only under Recent, in the recent order", loaded, {"claude-haiku-4-5", "claude-opus-4-1"}, "", "",
         {{"Recent", {haiku, opus}}, {"Sonnet", {sonnet}}, {"Other", {named}}}},
        {"unlisted current and recent ids follow the list, current first", {sonnet}, {"opus-x", "my-model"}, "haiku-y", "",
         {{"Recent", {bare("opus-x"), bare("my-model")}}, {"Sonnet", {sonnet}}, {"Haiku", {bare("haiku-y")}}}},
        {"empty list: recent ids and the current one", {}, {"claude-opus-4-1", "claude-sonnet-4-5"}, "claude-haiku-4-5", "",
         {{"Recent", {bare("claude-opus-4-1"), bare("claude-sonnet-4-5")}}, {"Haiku", {bare("claude-haiku-4-5")}}}},
        {"a current id that is recent is not added twice", {}, {"claude-opus-4-1"}, "claude-opus-4-1", "",
         {{"Recent", {bare("claude-opus-4-1")}}}},
        {"the filter keeps rows whose name or id matches", loaded, {}, "", "son",
         {{"Sonnet", {sonnet}}, {"Other", {named}}}},
        {"an id matches where the name does not", loaded, {}, "", "x1", {{"Other", {named}}}},
        {"a recent id that the filter excludes is nowhere", loaded, {"claude-haiku-4-5"}, "", "opus",
         {{"Opus", {opus}}}},
        {"nothing matches", loaded, {"claude-opus-4-1"}, "custom", "zzz", {}},
        {"no models, no ids", {}, {}, "", "", {}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ModelCatalog::sections(c.models, c.recent, c.current, c.query), c.expected) << c.what;
}

}  // namespace
}  // namespace brevalto
