#include "ClipCore/Clip.h"

#include "ClipCore/ByteCountFormat.h"
#include "ClipCore/JsonReading.h"
#include "ClipCore/SecretScanner.h"

#include <cmath>
#include <simdjson.h>
#include <cstdint>
#include <cstring>

namespace brevalto {

Clip::Clip(Kind kind_, std::optional<SharedText> text_, std::optional<std::string> imageFile_, std::string digest_,
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
    if (text) object["text"] = text->str();
    if (imageFile) object["imageFile"] = *imageFile;
    object["digest"] = digest;
    object["byteCount"] = byteCount;
    object["createdAt"] = createdAt;
    object["pinned"] = pinned;
    object["source"] = source;
    if (imageScale) object["imageScale"] = *imageScale;
    if (ocrText) object["ocrText"] = ocrText->str();
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

namespace {

// The length of the well-formed UTF-8 sequence at `p` (no overlong forms, surrogates or values
// past U+10FFFF), or 0 when the bytes there are not one.
int sequenceLength(const unsigned char* p, const unsigned char* end) {
    const unsigned char c = *p;
    int length = 0;
    unsigned char low = 0x80, high = 0xBF;
    if (c >= 0xC2 && c <= 0xDF) length = 2;
    else if (c >= 0xE0 && c <= 0xEF) {
        length = 3;
        if (c == 0xE0) low = 0xA0;
        if (c == 0xED) high = 0x9F;
    } else if (c >= 0xF0 && c <= 0xF4) {
        length = 4;
        if (c == 0xF0) low = 0x90;
        if (c == 0xF4) high = 0x8F;
    } else return 0;
    if (end - p < length || p[1] < low || p[1] > high) return 0;
    for (int i = 2; i < length; ++i)
        if (p[i] < 0x80 || p[i] > 0xBF) return 0;
    return length;
}

// True when any byte of the word is below 0x20, a quote, a backslash or not ASCII: the bytes a
// JSON string cannot take as they are or that need a UTF-8 check.
bool needsAttention(std::uint64_t word) {
    constexpr std::uint64_t ones = 0x0101010101010101ull, highs = 0x8080808080808080ull;
    auto hasZero = [&](std::uint64_t v) { return (v - ones) & ~v & highs; };
    const std::uint64_t below = (word - ones * 0x20) & ~word & highs;
    return (below | hasZero(word ^ (ones * '"')) | hasZero(word ^ (ones * '\\')) | (word & highs)) != 0;
}

// Appends a JSON string exactly as nlohmann::json's dump writes it without ASCII escaping: the
// quote, the backslash and control characters escaped, everything else copied as it is. Text
// that is not well-formed UTF-8 is written by the JSON library itself, which turns bad bytes into
// U+FFFD.
void appendString(std::string& out, std::string_view text) {
    static constexpr char kHex[] = "0123456789abcdef";
    const std::size_t mark = out.size();
    const auto* begin = reinterpret_cast<const unsigned char*>(text.data());
    const auto* end = begin + text.size();
    const auto* p = begin;
    const auto* run = begin;  // start of the bytes not yet copied
    out.push_back('"');
    while (p < end) {
        if (end - p >= 8) {
            std::uint64_t word;
            std::memcpy(&word, p, 8);
            if (!needsAttention(word)) {
                p += 8;
                continue;
            }
        }
        const unsigned char c = *p;
        if (c >= 0x80) {
            const int length = sequenceLength(p, end);
            if (length == 0) {
                out.resize(mark);
                out += nlohmann::ordered_json(std::string(text))
                           .dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
                return;
            }
            p += length;
            continue;
        }
        if (c >= 0x20 && c != '"' && c != '\\') {
            ++p;
            continue;
        }
        out.append(reinterpret_cast<const char*>(run), static_cast<std::size_t>(p - run));
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\b': out += "\\b"; break;
        case '\f': out += "\\f"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            out += "\\u00";
            out.push_back(kHex[c >> 4]);
            out.push_back(kHex[c & 0x0F]);
        }
        run = ++p;
    }
    out.append(reinterpret_cast<const char*>(run), static_cast<std::size_t>(end - run));
    out.push_back('"');
}

void appendNumber(std::string& out, double value) { out += nlohmann::ordered_json(value).dump(); }

void appendMember(std::string& out, std::string_view name) {
    out.push_back('"');
    out += name;
    out += "\":";
}

}  // namespace

std::string encodeClips(const std::vector<Clip>& clips) {
    std::string out;
    encodeClips(clips, [&](std::string_view piece) { out += piece; });
    return out;
}

void encodeClips(const std::vector<Clip>& clips, const std::function<void(std::string_view)>& sink) {
    // Written straight into a buffer, member by member, in the order and forms that the clip's
    // JSON object would be dumped in; no document is built in memory. The buffer goes to the
    // sink whenever it passes a mebibyte.
    constexpr std::size_t kPiece = 1 << 20;
    std::string out;
    out.reserve(2 * kPiece);
    auto pass = [&] {
        if (out.size() < kPiece) return;
        sink(out);
        out.clear();
    };
    out.push_back('[');
    bool first = true;
    for (const Clip& clip : clips) {
        if (!std::isfinite(clip.createdAt) || (clip.imageScale && !std::isfinite(*clip.imageScale)))
            throw EncodingError();
        if (!first) out.push_back(',');
        first = false;
        out += "{\"id\":";
        appendString(out, clip.id.string());
        out += ",\"kind\":";
        appendString(out, rawValue(clip.kind));
        if (clip.text) {
            out.push_back(',');
            appendMember(out, "text");
            appendString(out, *clip.text);
        }
        if (clip.imageFile) {
            out.push_back(',');
            appendMember(out, "imageFile");
            appendString(out, *clip.imageFile);
        }
        out += ",\"digest\":";
        appendString(out, clip.digest);
        out += ",\"byteCount\":";
        out += std::to_string(clip.byteCount);
        out += ",\"createdAt\":";
        appendNumber(out, clip.createdAt);
        out += clip.pinned ? ",\"pinned\":true" : ",\"pinned\":false";
        out += ",\"source\":";
        appendString(out, clip.source);
        if (clip.imageScale) {
            out.push_back(',');
            appendMember(out, "imageScale");
            appendNumber(out, *clip.imageScale);
        }
        if (clip.ocrText) {
            out.push_back(',');
            appendMember(out, "ocrText");
            appendString(out, *clip.ocrText);
        }
        out.push_back('}');
        pass();
    }
    out.push_back(']');
    sink(out);
}

namespace {

// The history read with simdjson, for speed: the same clips as the general reader gives, or
// nothing whenever the text is anything but a well-formed array of well-formed clips (the general
// reader then decides, with its own error). Members are matched after unescaping, a null member
// counts as missing, and of repeated members the last counts, as with the general reader.
std::optional<std::vector<Clip>> fastDecodeClips(std::string_view text, bool padded) {
    // No deeper than the general reader allows (it refuses more than 513 open containers).
    static constexpr std::size_t kDepth = 512;
    simdjson::dom::parser parser(text.size() + 1);
    if (parser.allocate(text.size(), kDepth) != simdjson::SUCCESS) return std::nullopt;
    simdjson::dom::element root;
    if (parser.parse(text.data(), text.size(), !padded).get(root) != simdjson::SUCCESS) return std::nullopt;
    simdjson::dom::array array;
    if (root.get_array().get(array) != simdjson::SUCCESS) return std::nullopt;

    auto string = [](simdjson::dom::element value) -> std::optional<std::string> {
        std::string_view view;
        if (value.get_string().get(view) != simdjson::SUCCESS) return std::nullopt;
        return std::string(view);
    };
    // A number as the general reader converts it to a double.
    auto number = [](simdjson::dom::element value) -> std::optional<double> {
        switch (value.type()) {
        case simdjson::dom::element_type::INT64: return double(std::int64_t(value));
        case simdjson::dom::element_type::UINT64: return double(std::uint64_t(value));
        case simdjson::dom::element_type::DOUBLE: return double(value);
        default: return std::nullopt;
        }
    };
    // An integer as the general reader takes it: a whole number within 64 bits.
    auto integer = [](simdjson::dom::element value) -> std::optional<std::int64_t> {
        switch (value.type()) {
        case simdjson::dom::element_type::INT64: return std::int64_t(value);
        case simdjson::dom::element_type::UINT64: {
            const std::uint64_t u = value;
            if (u <= std::uint64_t(INT64_MAX)) return std::int64_t(u);
            return std::nullopt;
        }
        case simdjson::dom::element_type::DOUBLE: {
            const double d = value;
            if (std::isfinite(d) && std::trunc(d) == d && d >= -9223372036854775808.0 && d < 9223372036854775808.0)
                return std::int64_t(d);
            return std::nullopt;
        }
        default: return std::nullopt;
        }
    };

    std::vector<Clip> clips;
    clips.reserve(array.size());
    for (simdjson::dom::element item : array) {
        simdjson::dom::object object;
        if (item.get_object().get(object) != simdjson::SUCCESS) return std::nullopt;
        enum Member { id, kind, text, imageFile, digest, byteCount, createdAt, pinned, source, imageScale, ocrText, count };
        static constexpr std::string_view kNames[count] = {"id",        "kind",   "text",      "imageFile",
                                                           "digest",    "byteCount", "createdAt", "pinned",
                                                           "source",    "imageScale", "ocrText"};
        std::optional<simdjson::dom::element> members[count];
        for (simdjson::dom::key_value_pair field : object) {
            for (int m = 0; m < count; ++m) {
                if (field.key != kNames[m]) continue;
                if (field.value.is_null())
                    members[m].reset();
                else
                    members[m] = field.value;
            }
        }
        Clip clip;
        for (int m : {id, kind, digest, byteCount, createdAt, pinned, source})
            if (!members[m]) return std::nullopt;
        const auto idText = string(*members[id]);
        const auto parsedId = idText ? Uuid::parse(*idText) : std::nullopt;
        if (!parsedId) return std::nullopt;
        clip.id = *parsedId;
        const auto kindText = string(*members[kind]);
        const auto parsedKind = kindText ? clipKindFromRaw(*kindText) : std::nullopt;
        if (!parsedKind) return std::nullopt;
        clip.kind = *parsedKind;
        if (members[text]) {
            auto value = string(*members[text]);
            if (!value) return std::nullopt;
            clip.text = SharedText(std::move(*value));
        }
        if (members[imageFile]) {
            clip.imageFile = string(*members[imageFile]);
            if (!clip.imageFile) return std::nullopt;
        }
        auto digestText = string(*members[digest]);
        const auto bytes = integer(*members[byteCount]);
        const auto created = number(*members[createdAt]);
        bool pinnedValue = false;
        auto sourceText = string(*members[source]);
        if (!digestText || !bytes || !created || members[pinned]->get_bool().get(pinnedValue) != simdjson::SUCCESS ||
            !sourceText)
            return std::nullopt;
        clip.digest = std::move(*digestText);
        clip.byteCount = *bytes;
        clip.createdAt = *created;
        clip.pinned = pinnedValue;
        clip.source = std::move(*sourceText);
        if (members[imageScale]) {
            clip.imageScale = number(*members[imageScale]);
            if (!clip.imageScale) return std::nullopt;
        }
        if (members[ocrText]) {
            auto value = string(*members[ocrText]);
            if (!value) return std::nullopt;
            clip.ocrText = SharedText(std::move(*value));
        }
        clips.push_back(std::move(clip));
    }
    return clips;
}

}  // namespace

static_assert(kDecodePadding >= simdjson::SIMDJSON_PADDING);

std::vector<Clip> decodeClips(std::string_view text, bool padded) {
    if (auto clips = fastDecodeClips(text, padded)) return std::move(*clips);
    nlohmann::ordered_json array = json::parse(text);
    json::requireArray(array, "history");
    std::vector<Clip> clips;
    clips.reserve(array.size());
    for (const auto& object : array) clips.push_back(Clip::fromJSON(object));
    return clips;
}

}  // namespace brevalto
