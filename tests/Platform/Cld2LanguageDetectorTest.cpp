#include "Platform/Linux/Cld2LanguageDetector.h"

#include <gtest/gtest.h>

namespace brevalto {
namespace {

TEST(Cld2LanguageDetectorTest, NamesTheLanguagesOfTheTranslationTable) {
    struct Case {
        const char* text;
        const char* code;
    } cases[] = {
        {"The quick brown fox jumps over the lazy dog while the children watch from the garden.", "en"},
        {"Le renard brun rapide saute par-dessus le chien paresseux pendant que les enfants regardent.", "fr"},
        {"今日はとても良い天気ですね。私たちは公園に散歩に行きました。", "ja"},
        {"我们今天去公园散步，天气非常好，孩子们在草地上玩耍。这是一个美丽的下午。", "zh-Hans"},
        {"Hôm nay thời tiết rất đẹp. Chúng tôi đã đi dạo trong công viên với các con.", "vi"},
    };
    Cld2LanguageDetector detector;
    for (const Case& c : cases) {
        const auto guess = detector.mostLikely(c.text);
        ASSERT_TRUE(guess.has_value()) << c.text;
        EXPECT_EQ(guess->code, c.code) << c.text;
        EXPECT_GE(guess->probability, 0.65) << c.text;
    }
    // Nothing to read, and bytes that are not UTF-8, give no guess.
    EXPECT_FALSE(detector.mostLikely("").has_value());
    EXPECT_FALSE(detector.mostLikely("caf\xC3 \xFF\xFE broken text that is otherwise English enough").has_value());
}

}  // namespace
}  // namespace brevalto
