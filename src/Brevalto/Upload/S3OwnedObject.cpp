#include "Upload/S3OwnedObject.h"

#include "ClipCore/HexDigits.h"
#include "Upload/S3Failure.h"

#include <cmath>

namespace brevalto {

std::string sha256Hex(const Sha256Digest& digest) { return toHex(digest); }

std::string S3OwnedObject::uploadID() const {
    std::string text = id.string();
    for (char& c : text)
        if (c >= 'A' && c <= 'F') c = static_cast<char>(c - 'A' + 'a');
    return text;
}

void S3OwnedObject::validate() const {
    const bool ok = std::isfinite(unixSeconds(createdAt)) && sha256.size() == 64 && !containsNonHexDigit(sha256) &&
                    key == settings.objectKey(createdAt, id) && isValidObjectKey(key, false);
    if (!ok) throw S3Failure::storage();
}

std::string_view rawValue(S3OwnedObject::State state) {
    switch (state) {
    case S3OwnedObject::State::uncertain:
        return "uncertain";
    case S3OwnedObject::State::uploaded:
        return "uploaded";
    case S3OwnedObject::State::deleted:
        return "deleted";
    }
    return "uncertain";
}

json::Json S3OwnedObject::toJson() const {
    json::Json out = json::Json::object();
    out["id"] = id.string();
    out["createdAt"] = createdAt;
    out["settings"] = settings.toJson();
    out["key"] = key;
    out["sha256"] = sha256;
    out["state"] = rawValue(state);
    if (clipID) out["clipID"] = clipID->string();
    return out;
}

namespace {

Uuid uuidFrom(const std::string& text, const char* what) {
    const std::optional<Uuid> id = Uuid::parse(text);
    if (!id) throw DecodingError(what);
    return *id;
}

}  // namespace

S3OwnedObject S3OwnedObject::fromJson(const json::Json& value) {
    const json::Json& object = json::requireObject(value, "owned object");
    S3OwnedObject record;
    record.id = uuidFrom(json::requireString(object, "id"), "id");
    record.createdAt = json::requireDouble(object, "createdAt");
    const auto settings = object.find("settings");
    if (settings == object.end()) throw DecodingError("settings");
    record.settings = S3Settings::fromJson(*settings);
    record.key = json::requireString(object, "key");
    record.sha256 = json::requireString(object, "sha256");
    const std::string state = json::requireString(object, "state");
    if (state == "uncertain")
        record.state = State::uncertain;
    else if (state == "uploaded")
        record.state = State::uploaded;
    else if (state == "deleted")
        record.state = State::deleted;
    else
        throw DecodingError("state");
    if (const auto clip = json::optionalString(object, "clipID")) record.clipID = uuidFrom(*clip, "clipID");
    return record;
}

}  // namespace brevalto
