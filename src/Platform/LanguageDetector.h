#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace brevalto {

// The likeliest language of a text: its code ("en", "ja", "zh-Hans", ...) and how sure the
// detector is, from 0 to 1.
struct LanguageGuess {
    std::string code;
    double probability = 0;
};

// Guesses the language of a text on the device. Calls may come from any thread.
class LanguageDetector {
public:
    virtual ~LanguageDetector() = default;
    // The single most likely language of UTF-8 `text`, or none when the detector has no guess.
    virtual std::optional<LanguageGuess> mostLikely(std::string_view text) = 0;
};

}  // namespace brevalto
