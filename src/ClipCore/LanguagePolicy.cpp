#include "ClipCore/LanguagePolicy.h"

namespace brevalto {

std::string LanguagePolicy::target(const std::optional<std::string>& source,
                                   const std::optional<std::string>& remembered, const std::string& primary,
                                   const std::string& secondary) {
    if (remembered && (!source || *remembered != *source)) return *remembered;
    if (!source) return primary;
    if (*source != primary) return primary;
    if (secondary != primary) return secondary;
    return primary == "en" ? "ja" : "en";
}

std::string languageName(std::string_view code) {
    for (const TranslationLanguage& language : translationLanguages)
        if (language.code == code) return std::string(language.name);
    return std::string(code);
}

}  // namespace brevalto
