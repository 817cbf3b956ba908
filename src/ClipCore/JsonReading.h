#pragma once

#include "ClipCore/DecodingError.h"

#include <nlohmann/json.hpp>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace brevalto::json {

using Json = nlohmann::ordered_json;

// Parses JSON text; any syntax error, invalid UTF-8, trailing garbage or nesting deeper than 512
// levels throws DecodingError.
Json parse(std::string_view text);

// Member readers for an object. "required" readers throw DecodingError when the member is missing,
// null or of another type; "optional" readers give nothing for a missing or null member and
// throw for another type. Integers accept any JSON number that is a whole value within range.
const Json& requireObject(const Json& value, std::string_view what);
const Json& requireArray(const Json& value, std::string_view what);
std::string requireString(const Json& object, const char* key);
std::optional<std::string> optionalString(const Json& object, const char* key);
std::int64_t requireInt64(const Json& object, const char* key);
double requireDouble(const Json& object, const char* key);
std::optional<double> optionalDouble(const Json& object, const char* key);
bool requireBool(const Json& object, const char* key);

}  // namespace brevalto::json
