#include "ClipCore/LanguagePolicy.h"

#include <gtest/gtest.h>

#include <string_view>
#include <vector>

using namespace brevalto;

TEST(LanguagePolicyTest, ChoosesTarget) {
    using S = std::optional<std::string>;
    struct Case {
        S source;
        S remembered;
        std::string primary;
        std::string secondary;
        std::string expected;
    };
    const Case cases[] = {
        {std::nullopt, std::nullopt, "en", "ja", "en"},
        {std::nullopt, "de", "en", "ja", "de"},
        {"fr", "de", "en", "ja", "de"},
        {"en", "en", "en", "ja", "ja"},
        {"fr", "fr", "en", "ja", "en"},
        {"fr", std::nullopt, "en", "ja", "en"},
        {"en", std::nullopt, "en", "ja", "ja"},
        {"en", std::nullopt, "en", "en", "ja"},
        {"de", std::nullopt, "de", "de", "en"},
        {"ja", std::nullopt, "ja", "ja", "en"},
        {"EN", std::nullopt, "en", "ja", "en"},
        {"zh-Hans", "zh-Hans", "zh-Hans", "ko", "ko"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(LanguagePolicy::target(c.source, c.remembered, c.primary, c.secondary), c.expected)
            << c.source.value_or("-") << " " << c.remembered.value_or("-") << " " << c.primary << " " << c.secondary;
    }
}

TEST(LanguagePolicyTest, TranslationTargetsAndTheirNames) {
    std::vector<std::string_view> codes;
    for (const TranslationLanguage& language : translationLanguages) codes.push_back(language.code);
    EXPECT_EQ(codes, (std::vector<std::string_view>{"en", "ja", "vi", "zh-Hans", "ko", "fr", "de"}));
    EXPECT_EQ(languageName("ja"), "日本語");
    EXPECT_EQ(languageName("fr"), "Français");
    // Codes are compared exactly; anything else shows as itself.
    EXPECT_EQ(languageName("zh-hans"), "zh-hans");
    EXPECT_EQ(languageName("pt-BR"), "pt-BR");
}
