#include "ClipCore/Clip.h"

#include "ClipCore/ByteCountFormat.h"
#include "ClipCore/JsonReading.h"
#include "ClipCore/SecretScanner.h"

#include <simdjson.h>

#include <algorithm>
#include <cmath>
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

namespace od = simdjson::ondemand;

// Nothing is read deeper than this; deeper text goes to the general reader, which refuses more
// than 512 open containers.
constexpr int kFastDepth = 500;

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// The four hexadecimal digits at `p` as a value, or -1.
long hexQuad(const char* p, const char* end) {
    if (end - p < 4) return -1;
    long value = 0;
    for (int i = 0; i < 4; ++i) {
        const int digit = hexDigit(p[i]);
        if (digit < 0) return -1;
        value = value * 16 + digit;
    }
    return value;
}

void appendUtf8(std::string& out, std::uint32_t c) {
    if (c < 0x80) {
        out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (c >> 6)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (c >> 12)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (c >> 18)));
        out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
}

// The bytes between the quotes of a JSON string, which the parser has found closed, free of raw
// control characters and valid UTF-8, unescaped into `out` (or only checked when there is none):
// the runs between backslashes are copied as they are, straight into the one string. False for
// an escape the general reader refuses: an unknown letter, bad hexadecimal digits, or a
// surrogate that is not one half of a pair.
bool unescape(std::string_view body, std::string* out) {
    const char* p = body.data();
    const char* const end = p + body.size();
    if (out) {
        out->clear();
        out->reserve(body.size());
    }
    for (;;) {
        const auto* slash = static_cast<const char*>(std::memchr(p, '\\', static_cast<std::size_t>(end - p)));
        if (!slash) {
            if (out) out->append(p, end);
            break;
        }
        if (out) out->append(p, slash);
        if (end - slash < 2) return false;
        p = slash + 2;
        char plain = 0;
        switch (slash[1]) {
        case '"': plain = '"'; break;
        case '\\': plain = '\\'; break;
        case '/': plain = '/'; break;
        case 'b': plain = '\b'; break;
        case 'f': plain = '\f'; break;
        case 'n': plain = '\n'; break;
        case 'r': plain = '\r'; break;
        case 't': plain = '\t'; break;
        case 'u': {
            long c = hexQuad(p, end);
            if (c < 0) return false;
            p += 4;
            if (c >= 0xDC00 && c <= 0xDFFF) return false;
            if (c >= 0xD800 && c <= 0xDBFF) {
                if (end - p < 6 || p[0] != '\\' || p[1] != 'u') return false;
                const long low = hexQuad(p + 2, end);
                if (low < 0xDC00 || low > 0xDFFF) return false;
                p += 6;
                c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
            }
            if (out) appendUtf8(*out, static_cast<std::uint32_t>(c));
            continue;
        }
        default: return false;
        }
        if (out) out->push_back(plain);
    }
    // Room kept for escapes that took more bytes than they give would stay with the clip.
    if (out && out->capacity() - out->size() > out->size() / 8 + 4096) out->shrink_to_fit();
    return true;
}

// A value's text as it stands in the input, without the blanks after it.
std::string_view token(od::value& value) {
    std::string_view text = value.raw_json_token();
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\n' || text.back() == '\r'))
        text.remove_suffix(1);
    return text;
}

// Every value is consumed as it is read: the parser skips one that is not by counting brackets,
// and takes a string followed by a colon for a member's name, which lets malformed text such as
// "a":"b":[] pass unseen.

// A string value's bytes between its quotes as they stand in the input; none for any other value.
std::optional<std::string_view> stringBody(od::value& value) {
    const std::string_view text = token(value);
    od::raw_json_string raw;
    if (value.get_raw_json_string().get(raw) != simdjson::SUCCESS) return std::nullopt;
    if (text.size() < 2 || text.front() != '"' || text.back() != '"') return std::nullopt;
    return text.substr(1, text.size() - 2);
}

// True for a null value, which is then consumed.
bool readNull(od::value& value) {
    bool null = false;
    return value.is_null().get(null) == simdjson::SUCCESS && null;
}

// A string value unescaped into `out`; false for any other value.
bool readString(od::value& value, std::string& out) {
    const std::optional<std::string_view> body = stringBody(value);
    return body && unescape(*body, &out);
}

// A number as the general reader converts it to a double.
std::optional<double> readNumber(od::value& value) {
    od::number number;
    if (value.get_number().get(number) != simdjson::SUCCESS) return std::nullopt;
    switch (number.get_number_type()) {
    case od::number_type::signed_integer: return double(number.get_int64());
    case od::number_type::unsigned_integer: return double(number.get_uint64());
    case od::number_type::floating_point_number: return number.get_double();
    }
    return std::nullopt;
}

// An integer as the general reader takes it: a whole number within 64 bits.
std::optional<std::int64_t> readInteger(od::value& value) {
    od::number number;
    if (value.get_number().get(number) != simdjson::SUCCESS) return std::nullopt;
    switch (number.get_number_type()) {
    case od::number_type::signed_integer: return number.get_int64();
    case od::number_type::unsigned_integer: {
        const std::uint64_t u = number.get_uint64();
        if (u <= std::uint64_t(INT64_MAX)) return std::int64_t(u);
        return std::nullopt;
    }
    case od::number_type::floating_point_number: {
        const double d = number.get_double();
        if (std::isfinite(d) && std::trunc(d) == d && d >= -9223372036854775808.0 && d < 9223372036854775808.0)
            return std::int64_t(d);
        return std::nullopt;
    }
    }
    return std::nullopt;
}

// True when the value, which the reader skips, is well-formed JSON all the way down: the
// parser checks each part only as it is visited.
bool wellFormed(od::value value, int depth) {
    od::json_type type;
    if (value.type().get(type) != simdjson::SUCCESS) return false;
    switch (type) {
    case od::json_type::array: {
        od::array array;
        if (depth >= kFastDepth || value.get_array().get(array) != simdjson::SUCCESS) return false;
        for (auto element : array) {
            od::value item;
            if (std::move(element).get(item) != simdjson::SUCCESS || !wellFormed(item, depth + 1)) return false;
        }
        return true;
    }
    case od::json_type::object: {
        od::object object;
        if (depth >= kFastDepth || value.get_object().get(object) != simdjson::SUCCESS) return false;
        for (auto member : object) {
            od::field field;
            std::string_view key;
            if (std::move(member).get(field) != simdjson::SUCCESS || field.unescaped_key().get(key) != simdjson::SUCCESS ||
                !wellFormed(field.value(), depth + 1))
                return false;
        }
        return true;
    }
    case od::json_type::number: return readNumber(value).has_value();
    case od::json_type::string: {
        const std::optional<std::string_view> body = stringBody(value);
        return body && unescape(*body, nullptr);
    }
    case od::json_type::boolean: {
        bool ignored;
        return value.get_bool().get(ignored) == simdjson::SUCCESS;
    }
    case od::json_type::null: return readNull(value);
    }
    return false;
}

enum Member { id, kind, text, imageFile, digest, byteCount, createdAt, pinned, source, imageScale, ocrText, count };
constexpr std::string_view kNames[count] = {"id",     "kind",      "text",      "imageFile", "digest", "byteCount",
                                            "createdAt", "pinned", "source", "imageScale", "ocrText"};

// One clip object; nothing unless every member is as the general reader takes it. Members are
// matched after unescaping, a null member counts as missing, and of repeated members the last
// counts.
std::optional<Clip> readClip(od::object& object) {
    std::optional<std::string> strings[count];
    std::optional<double> numbers[count];
    std::int64_t bytes = 0;
    bool haveBytes = false;
    int pinnedValue = -1;  // false, true or missing
    for (auto member : object) {
        od::field field;
        std::string_view key;
        if (std::move(member).get(field) != simdjson::SUCCESS || field.unescaped_key().get(key) != simdjson::SUCCESS)
            return std::nullopt;
        od::value value = field.value();
        const auto* name = std::find(std::begin(kNames), std::end(kNames), key);
        if (name == std::end(kNames)) {
            if (!wellFormed(value, 2)) return std::nullopt;
            continue;
        }
        const auto m = static_cast<Member>(name - std::begin(kNames));
        if (token(value).starts_with('n')) {
            if (!readNull(value)) return std::nullopt;
            strings[m].reset();
            numbers[m].reset();
            if (m == byteCount) haveBytes = false;
            if (m == pinned) pinnedValue = -1;
            continue;
        }
        switch (m) {
        case byteCount: {
            const auto integer = readInteger(value);
            if (!integer) return std::nullopt;
            bytes = *integer;
            haveBytes = true;
            break;
        }
        case createdAt:
        case imageScale:
            if (!(numbers[m] = readNumber(value))) return std::nullopt;
            break;
        case pinned: {
            bool on = false;
            if (value.get_bool().get(on) != simdjson::SUCCESS) return std::nullopt;
            pinnedValue = on ? 1 : 0;
            break;
        }
        default:
            if (!readString(value, strings[m].emplace())) return std::nullopt;
        }
    }
    if (!strings[id] || !strings[kind] || !strings[digest] || !haveBytes || !numbers[createdAt] || pinnedValue < 0 ||
        !strings[source])
        return std::nullopt;
    Clip clip;
    const auto parsedId = Uuid::parse(*strings[id]);
    const auto parsedKind = clipKindFromRaw(*strings[kind]);
    if (!parsedId || !parsedKind) return std::nullopt;
    clip.id = *parsedId;
    clip.kind = *parsedKind;
    if (strings[text]) clip.text = SharedText(std::move(*strings[text]));
    clip.imageFile = std::move(strings[imageFile]);
    clip.digest = std::move(*strings[digest]);
    clip.byteCount = bytes;
    clip.createdAt = *numbers[createdAt];
    clip.pinned = pinnedValue == 1;
    clip.source = std::move(*strings[source]);
    clip.imageScale = numbers[imageScale];
    if (strings[ocrText]) clip.ocrText = SharedText(std::move(*strings[ocrText]));
    return clip;
}

}  // namespace

static_assert(kDecodePadding >= simdjson::SIMDJSON_PADDING);

struct ClipIndexReader::Parser {
    od::parser parser;
};

ClipIndexReader::ClipIndexReader() : parser_(std::make_unique<Parser>()) {}
ClipIndexReader::~ClipIndexReader() = default;
ClipIndexReader::ClipIndexReader(ClipIndexReader&&) noexcept = default;
ClipIndexReader& ClipIndexReader::operator=(ClipIndexReader&&) noexcept = default;

// The history read with simdjson, for speed: the same clips as the general reader gives, or
// nothing whenever the text is anything but a well-formed array of well-formed clips (the general
// reader then decides, with its own error).
std::optional<std::vector<Clip>> ClipIndexReader::readFast(std::string_view json, bool padded) {
    simdjson::padded_string copy;
    if (!padded) {
        copy = simdjson::padded_string(json);
        json = copy;
    }
    if (parser_->parser.allocate(json.size(), kFastDepth + 1) != simdjson::SUCCESS) return std::nullopt;
    od::document document;
    if (parser_->parser.iterate(json, json.size() + kDecodePadding).get(document) != simdjson::SUCCESS)
        return std::nullopt;
    od::array array;
    if (document.get_array().get(array) != simdjson::SUCCESS) return std::nullopt;
    std::vector<Clip> clips;
    for (auto element : array) {
        od::object object;
        if (element.get_object().get(object) != simdjson::SUCCESS) return std::nullopt;
        auto clip = readClip(object);
        if (!clip) return std::nullopt;
        clips.push_back(std::move(*clip));
    }
    // Nothing may follow the array.
    if (document.current_location().error() != simdjson::OUT_OF_BOUNDS) return std::nullopt;
    return clips;
}

std::vector<Clip> ClipIndexReader::read(std::string_view json, bool padded) {
    if (auto clips = readFast(json, padded)) return std::move(*clips);
    nlohmann::ordered_json array = json::parse(json);
    json::requireArray(array, "history");
    std::vector<Clip> clips;
    clips.reserve(array.size());
    for (const auto& object : array) clips.push_back(Clip::fromJSON(object));
    return clips;
}

std::vector<Clip> decodeClips(std::string_view json, bool padded) { return ClipIndexReader().read(json, padded); }

}  // namespace brevalto
