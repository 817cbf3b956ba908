// One clip record as the JSON object form: Clip::fromJSON over any JSON value.
// Properties: a refusal is DecodingError; a decoded clip writes an object that reads back equal,
// with the optional members left out when absent (never null); the title is at most 180
// user-perceived characters.

#include "ClipCore/Clip.h"
#include "ClipCore/DecodingError.h"
#include "ClipCore/JsonReading.h"
#include "ClipCore/UnicodeText.h"
#include "FuzzSupport.h"

using namespace brevalto;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Clip clip;
    try {
        clip = Clip::fromJSON(json::parse(fuzz::text(data, size)));
    } catch (const DecodingError&) {
        return 0;
    } catch (const std::exception& error) {
        fuzz::unexpected(error);
    }
    try {
        const nlohmann::ordered_json object = clip.toJSON();
        for (const auto& [key, value] : object.items()) fuzz::check(!value.is_null(), "a member written as null");
        fuzz::check(object.contains("text") == clip.text.has_value(), "text written when absent or lost");
        fuzz::check(object.contains("ocrText") == clip.ocrText.has_value(), "ocrText written when absent or lost");
        fuzz::check(Clip::fromJSON(json::parse(object.dump())) == clip, "a decoded clip does not survive a round trip");
    } catch (const std::exception& error) {
        fuzz::unexpected(error);
    }
    const std::string title = clip.title();
    fuzz::check(unicode::graphemePrefix(title, kClipTitleLength).size() == title.size(),
                "a title longer than 180 characters");
    return 0;
}
