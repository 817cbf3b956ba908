#include "ClipCore/Clip.h"

#include "ClipCore/ByteCountFormat.h"
#include "ClipCore/JsonReading.h"
#include "ClipCore/SecretScanner.h"

#include <cmath>

namespace brevalto {

Clip::Clip(Kind kind_, std::optional<std::string> text_, std::optional<std::string> imageFile_, std::string digest_,
           std::int64_t byteCount_, std::string source_, Date createdAt_)
    : id(Uuid::random()),
      kind(kind_),
      text(std::move(text_)),
      imageFile(std::move(imageFile_)),
      digest(std::move(digest_)),
      byteCount(byteCount_),
      createdAt(createdAt_),
      source(std::move(source_)) {}

std::string_view rawValue(Clip::Kind kind) { return kind == Clip::Kind::image ? "image" : "text"; }

std::optional<Clip::Kind> clipKindFromRaw(std::string_view raw) {
    if (raw == "text") return Clip::Kind::text;
    if (raw == "image") return Clip::Kind::image;
    return std::nullopt;
}

std::string Clip::title() const {
    if (kind == Kind::image) return "Image \u00B7 " + formatByteCount(byteCount);
    if (!text) return {};
    return SecretScanner::maskedPrefix(*text, kClipTitleLength);
}

nlohmann::ordered_json Clip::toJSON() const {
    if (!std::isfinite(createdAt) || (imageScale && !std::isfinite(*imageScale))) throw EncodingError();
    nlohmann::ordered_json object = nlohmann::ordered_json::object();
    object["id"] = id.string();
    object["kind"] = rawValue(kind);
    if (text) object["text"] = *text;
    if (imageFile) object["imageFile"] = *imageFile;
    object["digest"] = digest;
    object["byteCount"] = byteCount;
    object["createdAt"] = createdAt;
    object["pinned"] = pinned;
    object["source"] = source;
    if (imageScale) object["imageScale"] = *imageScale;
    if (ocrText) object["ocrText"] = *ocrText;
    return object;
}

Clip Clip::fromJSON(const nlohmann::ordered_json& object) {
    json::requireObject(object, "clip");
    Clip clip;
    auto id = Uuid::parse(json::requireString(object, "id"));
    if (!id) throw DecodingError("member \"id\" is not a UUID");
    clip.id = *id;
    auto kind = clipKindFromRaw(json::requireString(object, "kind"));
    if (!kind) throw DecodingError("member \"kind\" is neither \"text\" nor \"image\"");
    clip.kind = *kind;
    clip.text = json::optionalString(object, "text");
    clip.imageFile = json::optionalString(object, "imageFile");
    clip.digest = json::requireString(object, "digest");
    clip.byteCount = json::requireInt64(object, "byteCount");
    clip.createdAt = json::requireDouble(object, "createdAt");
    clip.pinned = json::requireBool(object, "pinned");
    clip.source = json::requireString(object, "source");
    clip.imageScale = json::optionalDouble(object, "imageScale");
    clip.ocrText = json::optionalString(object, "ocrText");
    return clip;
}

std::string encodeClips(const std::vector<Clip>& clips) {
    nlohmann::ordered_json array = nlohmann::ordered_json::array();
    for (const Clip& clip : clips) array.push_back(clip.toJSON());
    // Text that is not valid UTF-8 cannot be stored as JSON; its bad bytes become U+FFFD rather
    // than losing the whole history.
    return array.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

std::vector<Clip> decodeClips(std::string_view text) {
    nlohmann::ordered_json array = json::parse(text);
    json::requireArray(array, "history");
    std::vector<Clip> clips;
    clips.reserve(array.size());
    for (const auto& object : array) clips.push_back(Clip::fromJSON(object));
    return clips;
}

}  // namespace brevalto
