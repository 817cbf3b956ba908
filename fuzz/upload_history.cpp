// The upload history file ("uploads.json"): S3History::load, as the upload controller reads it.
// Properties: a refusal is S3Failure, DecodingError or FileError; a loaded history holds at most
// 2000 objects with distinct ids, each passing its record check, and saving it writes a file that
// loads to the same objects and stays under 4 MiB.

#include "ClipCore/DecodingError.h"
#include "FuzzFolder.h"
#include "FuzzSupport.h"
#include "Platform/AtomicFile.h"
#include "Upload/S3Failure.h"
#include "Upload/S3History.h"

#include <set>

using namespace brevalto;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto file = fuzz::writeFile("uploads.json", fuzz::text(data, size));
    std::vector<S3OwnedObject> objects;
    try {
        objects = S3History::load(file);
    } catch (const S3Failure&) {
        return 0;
    } catch (const DecodingError&) {
        return 0;
    } catch (const FileError&) {
        return 0;
    } catch (const std::exception& error) {
        fuzz::unexpected(error);
    }
    fuzz::check(objects.size() <= S3History::maxObjects, "more than 2000 objects");
    std::set<Uuid> ids;
    try {
        for (const auto& object : objects) {
            fuzz::check(ids.insert(object.id).second, "an id twice");
            object.validate();
        }
        const auto copy = fuzz::folder() / "saved" / "uploads.json";
        S3History::save(objects, copy);
        fuzz::check(std::filesystem::file_size(copy) <= S3History::maxFileSize, "a saved history over 4 MiB");
        fuzz::check(S3History::load(copy) == objects, "a loaded history does not survive a save");
    } catch (const std::exception& error) {
        fuzz::unexpected(error);
    }
    return 0;
}
