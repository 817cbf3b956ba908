#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>

namespace brevalto {

// Chooses the language a text is translated into. Codes are compared exactly, never normalised.
class LanguagePolicy {
public:
    LanguagePolicy() = delete;

    // The remembered target unless it equals the source; otherwise text in the primary language
    // goes to the secondary one and any other text to the primary one. Never the source itself
    // when a source is known.
    static std::string target(const std::optional<std::string>& source, const std::optional<std::string>& remembered,
                              const std::string& primary, const std::string& secondary);
};

// One translation target: its code and its name in its own language.
struct TranslationLanguage {
    std::string_view code;
    std::string_view name;
};

// The translation targets every target picker offers, in this order.
inline constexpr std::array<TranslationLanguage, 7> translationLanguages{{
    {"en", "English"},
    {"ja", "\u65E5\u672C\u8A9E"},
    {"vi", "Ti\u1EBFng Vi\u1EC7t"},
    {"zh-Hans", "\u4E2D\u6587"},
    {"ko", "\uD55C\uAD6D\uC5B4"},
    {"fr", "Fran\u00E7ais"},
    {"de", "Deutsch"},
}};

// The name of a translation target, or the code itself for any other code.
std::string languageName(std::string_view code);

}  // namespace brevalto
