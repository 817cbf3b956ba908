#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <stdexcept>
#include <string>
#include <string_view>

namespace brevalto {

// A translation reply that does not cover exactly the regions that were sent.
class RegionTranslationsError : public std::runtime_error {
public:
    RegionTranslationsError()
        : std::runtime_error(
              "The translation has missing or duplicate text regions. Try again; the original image was not changed.") {}
};

// Reads the model's reply to a region translation request: a JSON object {"regions": [{"id": n,
// "text": "..."}]}, possibly inside a Markdown code fence.
class RegionTranslations {
public:
    RegionTranslations() = delete;

    // The translated text of each region, untrimmed. Throws DecodingError when the reply is not
    // such an object, and RegionTranslationsError when an id repeats, the ids differ from
    // `expected`, or a text is blank. Never returns part of a reply.
    static std::map<std::int64_t, std::string> decode(std::string_view reply, const std::set<std::int64_t>& expected);
};

}  // namespace brevalto
