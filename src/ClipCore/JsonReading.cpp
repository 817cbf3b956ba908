#include "ClipCore/JsonReading.h"

#include <cmath>

namespace brevalto::json {

namespace {

const Json* member(const Json& object, const char* key) {
    auto it = object.find(key);
    if (it == object.end() || it->is_null()) return nullptr;
    return &*it;
}

const Json& required(const Json& object, const char* key) {
    const Json* value = member(object, key);
    if (!value) throw DecodingError(std::string("missing member \"") + key + "\"");
    return *value;
}

[[noreturn]] void wrongType(const char* key, const char* expected) {
    throw DecodingError(std::string("member \"") + key + "\" is not " + expected);
}

std::int64_t toInt64(const Json& value, const char* key) {
    if (value.is_number_integer() && !value.is_number_unsigned()) return value.get<std::int64_t>();
    if (value.is_number_unsigned()) {
        auto u = value.get<std::uint64_t>();
        if (u <= static_cast<std::uint64_t>(INT64_MAX)) return static_cast<std::int64_t>(u);
        wrongType(key, "a 64-bit integer");
    }
    if (value.is_number_float()) {
        double d = value.get<double>();
        // 2^63 itself is out of range; every double below it converts exactly.
        if (std::isfinite(d) && std::trunc(d) == d && d >= -9223372036854775808.0 && d < 9223372036854775808.0)
            return static_cast<std::int64_t>(d);
    }
    wrongType(key, "a 64-bit integer");
}

}  // namespace

namespace {

// Nothing the app reads nests deeply; deeper text is refused at once instead of being built.
constexpr int kMaximumDepth = 512;

struct TooDeep {};

}  // namespace

Json parse(std::string_view text) {
    try {
        return Json::parse(text.begin(), text.end(), [](int depth, Json::parse_event_t, Json&) {
            if (depth > kMaximumDepth) throw TooDeep{};
            return true;
        });
    } catch (const Json::exception&) {
        throw DecodingError("not valid JSON");
    } catch (const TooDeep&) {
        throw DecodingError("nested too deeply");
    }
}

const Json& requireObject(const Json& value, std::string_view what) {
    if (!value.is_object()) throw DecodingError(std::string(what) + " is not an object");
    return value;
}

const Json& requireArray(const Json& value, std::string_view what) {
    if (!value.is_array()) throw DecodingError(std::string(what) + " is not an array");
    return value;
}

std::string requireString(const Json& object, const char* key) {
    const Json& value = required(object, key);
    if (!value.is_string()) wrongType(key, "a string");
    return value.get<std::string>();
}

std::optional<std::string> optionalString(const Json& object, const char* key) {
    const Json* value = member(object, key);
    if (!value) return std::nullopt;
    if (!value->is_string()) wrongType(key, "a string");
    return value->get<std::string>();
}

std::int64_t requireInt64(const Json& object, const char* key) { return toInt64(required(object, key), key); }

double requireDouble(const Json& object, const char* key) {
    const Json& value = required(object, key);
    if (!value.is_number()) wrongType(key, "a number");
    return value.get<double>();
}

std::optional<double> optionalDouble(const Json& object, const char* key) {
    const Json* value = member(object, key);
    if (!value) return std::nullopt;
    if (!value->is_number()) wrongType(key, "a number");
    return value->get<double>();
}

bool requireBool(const Json& object, const char* key) {
    const Json& value = required(object, key);
    if (!value.is_boolean()) wrongType(key, "true or false");
    return value.get<bool>();
}

}  // namespace brevalto::json
