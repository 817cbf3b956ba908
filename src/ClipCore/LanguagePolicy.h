#pragma once

#include <optional>
#include <string>

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

}  // namespace brevalto
