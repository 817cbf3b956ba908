#pragma once

#include "Platform/LanguageDetector.h"

namespace brevalto {

// Language guesses from CLD2. The probability is the share of the text's letters that CLD2
// assigns to its top language (its percent score divided by 100); a text CLD2 cannot place
// ("un") or that it does not find reliable gives no guess. Chinese in simplified script is
// reported as "zh-Hans", in traditional script as "zh-Hant".
class Cld2LanguageDetector final : public LanguageDetector {
public:
    std::optional<LanguageGuess> mostLikely(std::string_view text) override;
};

}  // namespace brevalto
