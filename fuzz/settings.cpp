// The settings file ("defaults.json"): Defaults reading it at start, then every typed reader.
// Properties: reading never throws; a file that is not a JSON object is moved aside, never
// overwritten; a file that loads keeps its values through a write and a new read; every typed
// reader answers every stored key without undefined behaviour.

#include "FuzzFolder.h"
#include "FuzzSupport.h"
#include "Platform/Defaults.h"

using namespace brevalto;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes = fuzz::text(data, size);
    fuzz::removeFile("defaults.json.corrupt");
    const auto file = fuzz::writeFile("defaults.json", bytes);
    try {
        const Defaults defaults(file);
        const auto parsed = Defaults::Value::parse(bytes, nullptr, false);
        const bool loads = !parsed.is_discarded() && parsed.is_object();
        fuzz::check(std::filesystem::exists(fuzz::folder() / "defaults.json.corrupt") != loads,
                    "an unreadable settings file was not moved aside, or a readable one was");
        if (!loads) return 0;
        for (const auto& [key, unused] : parsed.items()) {
            fuzz::check(defaults.object(key).has_value(), "a stored key was lost");
            (void)defaults.boolValue(key);
            (void)defaults.integer(key);
            (void)defaults.doubleValue(key);
            (void)defaults.string(key);
            (void)defaults.data(key);
            (void)defaults.array(key);
            (void)defaults.dictionary(key);
            (void)defaults.storedBool(key);
            (void)defaults.storedDouble(key);
        }
        // A change writes the whole store; reading that file gives the same values.
        Defaults writer(file);
        writer.set("fuzz.written", true);
        fuzz::check(writer.lastWriteError().empty(), "the settings could not be written");
        const Defaults reader(file);
        for (const auto& [key, unused] : parsed.items())
            fuzz::check(key == "fuzz.written" || reader.object(key) == defaults.object(key),
                        "a value changed through a write and a read");
    } catch (const std::exception& error) {
        fuzz::unexpected(error);
    }
    return 0;
}
