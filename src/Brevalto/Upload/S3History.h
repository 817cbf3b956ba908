#pragma once

#include "Upload/S3OwnedObject.h"

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace brevalto {

class Defaults;

// The upload history file: {"version": 1, "objects": [...]} in compact JSON, at most 2000
// objects with unique ids and at most 4 MiB, in a 0700 folder as a 0600 file. Neither the file
// nor its folder may be a symbolic link.
namespace S3History {

inline constexpr std::size_t maxObjects = 2000;
inline constexpr std::uint64_t maxFileSize = 4 * 1024 * 1024;

// The stored objects, or none when there is no file yet. Throws S3Failure::storage for a
// symbolic link (file or folder), a file that is not regular or is too large, another version,
// or objects that fail validate; read and JSON errors (FileError, DecodingError) pass on, and the
// file is never changed.
std::vector<S3OwnedObject> load(const std::filesystem::path& file, bool allowLoopbackHTTP = false);

// Throws S3Failure::storage for more than 2000 objects, a repeated id or a record that fails its
// check; a record whose settings no longer validate throws the settings' own failure. Plain HTTP
// to 127.0.0.1 passes only with allowLoopbackHTTP (tests against a local server).
void validate(const std::vector<S3OwnedObject>& objects, bool allowLoopbackHTTP = false);

// Validates and writes the objects with the atomic writer (folder created 0700, file 0600 from
// the start). On any failure the previous file stays as it was.
void save(const std::vector<S3OwnedObject>& objects, const std::filesystem::path& file,
          bool allowLoopbackHTTP = false);

// The defaults key of a destination's auto-delete days: "upload.lifecycleDays." + its identity.
std::string lifecycleDaysKey(const S3Settings& settings);
// Whether the bucket's auto-delete rule (the days under lifecycleDaysKey; 0 or absent for
// none) leaves the object at least another hour after `now`.
bool survivesAutoDelete(const S3OwnedObject& record, Date now, const Defaults& defaults);
// Whether the record is an upload of the clip to the active destination that is still there
// and survives auto-delete: its link can be copied instead of uploading again.
bool isLiveUpload(const S3OwnedObject& record, const Uuid& clipID, Date now, const S3Settings& active,
                  const Defaults& defaults);

}  // namespace S3History

}  // namespace brevalto
