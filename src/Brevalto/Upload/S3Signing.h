#pragma once

#include "ClipCore/ReferenceDate.h"
#include "Platform/UrlComponents.h"

#include <optional>
#include <string>
#include <string_view>

namespace brevalto {

// The URI encoding of request signing, object paths and form bodies: UTF-8 bytes; ASCII letters,
// digits and "-._~" stay, "/" stays only when `keepSlash` is set, every other byte becomes "%XX"
// with upper-case hex.
std::string uriEncode(std::string_view text, bool keepSlash);

// The signing date as yyyyMMdd'T'HHmmss'Z' in UTC (16 characters); none for a date that is not
// finite or does not fit that form.
std::optional<std::string> s3DateStamp(Date date);

// Every query item of the URL (an item without a value counts as empty) with name and value
// URI-encoded, slashes included, sorted by encoded name and then value, joined with "&".
std::string canonicalQuery(const UrlComponents& url);

}  // namespace brevalto
