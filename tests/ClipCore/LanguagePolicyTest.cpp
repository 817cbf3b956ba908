#include "ClipCore/LanguagePolicy.h"

#include <gtest/gtest.h>

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
