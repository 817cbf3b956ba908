// The history index ("history.json"): decodeClips, as the clip store reads it at launch.
// Properties: a refusal is DecodingError, the same with or without room after the text, and comes
// exactly when the general JSON reader refuses, which otherwise reads the same clips; a decoded
// history encodes (with the store's streaming writer) to exactly what the JSON library writes for
// it, which decodes to the same history; every clip's title holds at most 180 user-perceived
// characters.

#include "ClipCore/Clip.h"
#include "ClipCore/DecodingError.h"
#include "ClipCore/JsonReading.h"
#include "ClipCore/UnicodeText.h"
#include "FuzzSupport.h"

using namespace brevalto;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // The store hands over the file's text with room after it when it has some; both ways read
    // the same.
    std::string padded;
    padded.reserve(size + kDecodePadding);
    padded.assign(fuzz::text(data, size));
    std::vector<Clip> clips;
    bool refused = false;
    try {
        clips = decodeClips(padded, true);
    } catch (const DecodingError&) {
        refused = true;
    } catch (const std::exception& error) {
        fuzz::unexpected(error);
    }
    try {
        const std::vector<Clip> unpadded = decodeClips(fuzz::text(data, size));
        fuzz::check(!refused && unpadded == clips, "the history reads differently with room after its text");
    } catch (const DecodingError&) {
        fuzz::check(refused, "the history is refused only without room after its text");
        return 0;
    } catch (const std::exception& error) {
        fuzz::unexpected(error);
    }
    // The fast reader decides as the general one would, clip for clip.
    try {
        const nlohmann::ordered_json array = json::parse(fuzz::text(data, size));
        json::requireArray(array, "history");
        std::vector<Clip> general;
        for (const auto& object : array) general.push_back(Clip::fromJSON(object));
        fuzz::check(general == clips, "the history reads otherwise than with the general JSON reader");
    } catch (const DecodingError&) {
        fuzz::fail("the history is read where the general JSON reader refuses it");
    } catch (const std::exception& error) {
        fuzz::unexpected(error);
    }
    try {
        const std::string encoded = encodeClips(clips);
        nlohmann::ordered_json array = nlohmann::ordered_json::array();
        for (const Clip& clip : clips) array.push_back(clip.toJSON());
        fuzz::check(encoded == array.dump(), "the streaming writer differs from the clip's JSON form");
        fuzz::check(decodeClips(encoded) == clips, "a decoded history does not survive a round trip");
    } catch (const std::exception& error) {
        fuzz::unexpected(error);
    }
    for (const Clip& clip : clips) {
        const std::string title = clip.title();
        fuzz::check(unicode::graphemePrefix(title, kClipTitleLength).size() == title.size(),
                    "a title longer than 180 characters");
    }
    return 0;
}
