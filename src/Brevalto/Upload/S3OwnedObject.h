#pragma once

#include "ClipCore/JsonReading.h"
#include "ClipCore/ReferenceDate.h"
#include "ClipCore/Uuid.h"
#include "Platform/Hashing.h"
#include "Upload/S3Settings.h"

#include <optional>
#include <string>
#include <string_view>

namespace brevalto {

// Two lower-case hex digits per digest byte, in order: 64 characters.
std::string sha256Hex(const Sha256Digest& digest);

// One object the app put on a destination, as the upload history remembers it. Links,
// verification, deletion and expiry act only on objects found in the history.
struct S3OwnedObject {
    enum class State { uncertain, uploaded, deleted };

    Uuid id;             // also the upload id sent with the object and part of its key
    Date createdAt = 0;  // seconds since 2001-01-01 00:00:00 UTC
    S3Settings settings;
    std::string key;
    std::string sha256;  // of the uploaded PNG bytes, 64 lower-case hex digits
    State state = State::uncertain;
    std::optional<Uuid> clipID;

    friend bool operator==(const S3OwnedObject&, const S3OwnedObject&) = default;

    // The lower-case id, as sent in the upload-id metadata and written into the key.
    std::string uploadID() const;

    // The record check run before every object operation: a finite creation date, a 64-digit
    // lower-case hex digest, and a key equal to the one rebuilt from the record's own settings,
    // date and id that satisfies the key rule. Throws S3Failure::storage.
    void validate() const;

    // {"id", "createdAt", "settings", "key", "sha256", "state"[, "clipID"]}. fromJson throws
    // DecodingError for a missing key, a wrong type, a malformed UUID or an unknown state.
    json::Json toJson() const;
    static S3OwnedObject fromJson(const json::Json& value);
};

std::string_view rawValue(S3OwnedObject::State state);

}  // namespace brevalto
