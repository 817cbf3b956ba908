#include "Platform/Linux/Cld2LanguageDetector.h"

#include <cld2/public/compact_lang_det.h>
#include <cld2/public/encodings.h>

namespace brevalto {

std::optional<LanguageGuess> Cld2LanguageDetector::mostLikely(std::string_view text) {
    if (text.empty()) return std::nullopt;
    CLD2::Language languages[3];
    int percents[3] = {};
    double scores[3] = {};
    int textBytes = 0;
    bool reliable = false;
    int validBytes = 0;
    // Invalid UTF-8 is refused by CLD2 (no guess) instead of being read past.
    const CLD2::CLDHints hints = {nullptr, nullptr, CLD2::UNKNOWN_ENCODING, CLD2::UNKNOWN_LANGUAGE};
    const CLD2::Language top = CLD2::ExtDetectLanguageSummaryCheckUTF8(
        text.data(), static_cast<int>(text.size()), true, &hints, 0, languages, percents, scores, nullptr,
        &textBytes, &reliable, &validBytes);
    if (top == CLD2::UNKNOWN_LANGUAGE || !reliable || languages[0] == CLD2::UNKNOWN_LANGUAGE) return std::nullopt;
    std::string code = CLD2::LanguageCode(languages[0]);
    if (code == "zh") code = "zh-Hans";
    return LanguageGuess{std::move(code), percents[0] / 100.0};
}

}  // namespace brevalto
