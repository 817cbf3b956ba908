#include "Platform/FontCatalog.h"

#include <fontconfig/fontconfig.h>

#include <map>
#include <mutex>
#include <optional>
#include <set>

namespace brevalto {

namespace {

// Every family name of the font that the configuration picks for the pattern, or none when
// nothing matches. Names are folded to lower case, as the configuration compares them.
std::optional<std::set<std::string>> matchedFamilies(FcPattern* pattern) {
    FcConfigSubstitute(nullptr, pattern, FcMatchPattern);
    FcDefaultSubstitute(pattern);
    FcResult result = FcResultNoMatch;
    FcPattern* match = FcFontMatch(nullptr, pattern, &result);
    if (!match) return std::nullopt;
    std::set<std::string> names;
    FcChar8* name = nullptr;
    for (int i = 0; FcPatternGetString(match, FC_FAMILY, i, &name) == FcResultMatch; ++i) {
        FcChar8* folded = FcStrDowncase(name);
        names.insert(reinterpret_cast<const char*>(folded));
        FcStrFree(folded);
    }
    FcPatternDestroy(match);
    return names;
}

std::optional<std::set<std::string>> familiesMatching(const std::string& family) {
    FcPattern* pattern = FcPatternCreate();
    if (!pattern) return std::nullopt;
    FcPatternAddString(pattern, FC_FAMILY, reinterpret_cast<const FcChar8*>(family.c_str()));
    auto names = matchedFamilies(pattern);
    FcPatternDestroy(pattern);
    return names;
}

bool lookUp(const std::string& family) {
    if (family.empty() || family.find('\0') != std::string::npos) return false;
    if (!FcInit()) return false;
    const auto requested = familiesMatching(family);
    if (!requested || requested->empty()) return false;
    FcChar8* folded = FcStrDowncase(reinterpret_cast<const FcChar8*>(family.c_str()));
    const bool sameName = requested->contains(reinterpret_cast<const char*>(folded));
    FcStrFree(folded);
    if (sameName) return true;
    // Another family came back: an alias rule's target, or the generic fallback. The fallback is
    // what a name of no installed family gets; a different answer came from an alias rule.
    const auto fallback = familiesMatching("brevalto-no-such-family");
    return !fallback || *fallback != *requested;
}

}  // namespace

bool isFontFamilyInstalled(const std::string& family) {
    static std::mutex mutex;
    static std::map<std::string, bool> known;
    std::lock_guard lock(mutex);
    if (auto found = known.find(family); found != known.end()) return found->second;
    const bool installed = lookUp(family);
    if (known.size() < 4096) known.emplace(family, installed);
    return installed;
}

}  // namespace brevalto
