// A model's reply to a region translation: RegionTranslations::decode. The first byte chooses the
// expected region numbers (bit n: region n, plus region -1 for the top bit); the rest is the reply.
// Properties: a refusal is DecodingError or RegionTranslationsError; an accepted reply maps
// exactly the expected regions, each to a text that is not blank.

#include "ClipCore/DecodingError.h"
#include "ClipCore/RegionTranslations.h"
#include "ClipCore/UnicodeText.h"
#include "FuzzSupport.h"

using namespace brevalto;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    std::set<std::int64_t> expected;
    for (int bit = 0; bit < 7; ++bit)
        if (data[0] & (1 << bit)) expected.insert(bit);
    if (data[0] & 0x80) expected.insert(-1);
    std::map<std::int64_t, std::string> translations;
    try {
        translations = RegionTranslations::decode(fuzz::text(data + 1, size - 1), expected);
    } catch (const DecodingError&) {
        return 0;
    } catch (const RegionTranslationsError&) {
        return 0;
    } catch (const std::exception& error) {
        fuzz::unexpected(error);
    }
    fuzz::check(translations.size() == expected.size(), "the regions differ from those expected");
    for (const auto& [id, text] : translations) {
        fuzz::check(expected.contains(id), "a region that was not expected");
        fuzz::check(!unicode::trimmed(text).empty(), "a blank translation");
    }
    return 0;
}
