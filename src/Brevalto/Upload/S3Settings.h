#pragma once

#include "ClipCore/JsonReading.h"
#include "ClipCore/ReferenceDate.h"
#include "ClipCore/Uuid.h"
#include "Platform/UrlComponents.h"

#include <cstdint>
#include <iosfwd>
#include <optional>
#include <string>
#include <string_view>

class QDebug;

namespace brevalto {

// The base of the Cloudflare REST API; an R2 destination's endpoint is this followed by
// "/accounts/" + account identifier + "/r2/buckets".
inline constexpr std::string_view cloudflareAPIBaseURL = "https://api.cloudflare.com/client/v4";

// The object-key rule: a key (or prefix, or endpoint path) is valid when it is empty and empty is
// allowed, or when it is at most 1024 UTF-8 bytes of valid UTF-8, does not begin with "/",
// contains no "\", "%" or control character, and has no empty, "." or ".." piece between "/".
bool isValidObjectKey(std::string_view key, bool allowEmpty);

// An upload destination: an S3-compatible endpoint, bucket, region and key prefix, the
// addressing style and how links are made. An R2 destination carries its Cloudflare account.
struct S3Settings {
    enum class Addressing { path, virtualHost };
    enum class LinkMode { presigned, publicURL };

    std::string endpoint;
    std::string bucket;
    std::string region = "auto";
    std::string prefix = "brevalto";
    Addressing addressing = Addressing::path;
    LinkMode linkMode = LinkMode::presigned;
    std::string publicBaseURL;
    std::int64_t expirySeconds = 3600;
    std::optional<std::string> cloudflareAccountID;

    friend bool operator==(const S3Settings&, const S3Settings&) = default;

    // Runs the destination rules in order; throws S3Failure::invalid with the first failing
    // rule's message.
    void validate(bool allowLoopbackHTTP) const;

    // The URL rules for the endpoint and the public base URL; returns the parsed URL.
    static UrlComponents validateURL(std::string_view text, bool allowLoopbackHTTP);

    // The destination identity: lower-case hex SHA-256 of endpoint|bucket|region|addressing.
    std::string identity() const;

    // The key of an upload: the prefix (one trailing "/" dropped) and "/" when it is not empty,
    // then the creation day as yyyyMMdd in UTC, "/", the lower-case upload id and ".png".
    std::string objectKey(Date createdAt, const Uuid& id) const;

    // The public link of a key under the public base URL. Throws S3Failure::invalid.
    std::string publicURL(const std::string& key, bool allowLoopbackHTTP) const;

    // The prefix that the expiry rule covers: the prefix with one trailing "/" dropped, then "/".
    // Throws S3Failure::invalid for an empty prefix, since such a rule would cover every object.
    std::string lifecyclePrefix() const;

    // The stored JSON form (keys in declaration order; an absent account is left out). fromJson
    // throws DecodingError for a missing key, a wrong type or an unknown enumeration value.
    json::Json toJson() const;
    static S3Settings fromJson(const json::Json& value);
};

std::string_view rawValue(S3Settings::Addressing addressing);
std::string_view rawValue(S3Settings::LinkMode linkMode);

// The access keys of a destination. Printed, logged or described, it only ever reads
// "S3 credentials [redacted]".
struct S3Credentials {
    std::string accessKey;
    std::string secretKey;

    // Throws S3Failure::invalid unless the access key is 1...128 ASCII letters and digits and
    // the secret key 16...256 printable ASCII characters without spaces.
    void validate() const;

    std::string description() const { return "S3 credentials [redacted]"; }

    json::Json toJson() const;
    static S3Credentials fromJson(const json::Json& value);

    friend bool operator==(const S3Credentials&, const S3Credentials&) = default;
};

std::ostream& operator<<(std::ostream& out, const S3Credentials& credentials);
QDebug operator<<(QDebug debug, const S3Credentials& credentials);

}  // namespace brevalto
