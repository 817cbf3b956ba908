#include "Upload/S3Settings.h"

#include "Platform/Hashing.h"
#include "Upload/S3Failure.h"
#include "Upload/S3Signing.h"

#include <QDebug>

#include <charconv>
#include <ostream>
#include <vector>

namespace brevalto {

namespace {

constexpr const char* urlMessage =
    "Use an HTTPS URL with a valid hostname and no credentials, query or fragment. HTTP is restricted to injected loopback tests.";
constexpr const char* labelMessage = "The endpoint contains an invalid DNS label.";
constexpr const char* pathMessage = "Invalid URL path. Dot segments and nested encoding are not allowed.";
constexpr const char* cloudflareMessage = "Invalid Cloudflare destination. Select an account, bucket and public domain again.";
constexpr const char* bucketMessage =
    "Use a 3-63 character DNS bucket name with lowercase letters, digits, dots or hyphens, not an IP address.";
constexpr const char* regionMessage = "Invalid region or prefix, or expiry outside 1-604800 seconds.";
constexpr const char* addressingMessage =
    "Use path-style addressing for dotted buckets or IP endpoints. The combined hostname must not exceed 253 characters.";
constexpr const char* credentialsMessage =
    "Invalid access key or secret key. Whitespace and control characters are not allowed.";

bool isLowerOrDigit(char c) { return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'); }
bool isAsciiLetterOrDigit(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'); }

std::vector<std::string_view> split(std::string_view text, char separator) {
    std::vector<std::string_view> pieces;
    while (true) {
        const std::size_t at = text.find(separator);
        pieces.push_back(text.substr(0, at));
        if (at == std::string_view::npos) return pieces;
        text.remove_prefix(at + 1);
    }
}

// Decodes one UTF-8 scalar at `i`, advancing it; none for a malformed sequence.
std::optional<char32_t> nextScalar(std::string_view text, std::size_t& i) {
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char lead = byte(i);
    int extra = 0;
    char32_t value = 0;
    if (lead < 0x80) {
        ++i;
        return lead;
    } else if ((lead & 0xE0) == 0xC0) {
        extra = 1;
        value = lead & 0x1F;
    } else if ((lead & 0xF0) == 0xE0) {
        extra = 2;
        value = lead & 0x0F;
    } else if ((lead & 0xF8) == 0xF0) {
        extra = 3;
        value = lead & 0x07;
    } else {
        return std::nullopt;
    }
    if (i + extra >= text.size()) return std::nullopt;
    for (int k = 1; k <= extra; ++k) {
        const unsigned char c = byte(i + k);
        if ((c & 0xC0) != 0x80) return std::nullopt;
        value = value << 6 | (c & 0x3F);
    }
    static constexpr char32_t smallest[] = {0, 0x80, 0x800, 0x10000};
    if (value < smallest[extra] || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return std::nullopt;
    i += extra + 1;
    return value;
}

bool isControl(char32_t c) { return c < 0x20 || (c >= 0x7F && c <= 0x9F); }

// Four non-empty "."-separated pieces that all read as decimal integers.
bool isIPv4Like(std::string_view name) {
    const auto pieces = split(name, '.');
    if (pieces.size() != 4) return false;
    for (std::string_view piece : pieces) {
        std::int64_t value = 0;
        if (piece.empty()) return false;
        const auto [end, error] = std::from_chars(piece.data(), piece.data() + piece.size(), value);
        if (error != std::errc() || end != piece.data() + piece.size()) return false;
    }
    return true;
}

std::string_view withoutOneTrailingSlash(std::string_view text) {
    if (text.ends_with('/')) text.remove_suffix(1);
    return text;
}

}  // namespace

bool isValidObjectKey(std::string_view key, bool allowEmpty) {
    if (key.empty()) return allowEmpty;
    if (key.size() > 1024 || key.starts_with('/')) return false;
    for (std::size_t i = 0; i < key.size();) {
        const char c = key[i];
        if (c == '\\' || c == '%') return false;
        const auto scalar = nextScalar(key, i);
        if (!scalar || isControl(*scalar)) return false;
    }
    for (std::string_view piece : split(key, '/'))
        if (piece.empty() || piece == "." || piece == "..") return false;
    return true;
}

UrlComponents S3Settings::validateURL(std::string_view text, bool allowLoopbackHTTP) {
    const auto refuse = [] { return S3Failure::invalid(urlMessage); };
    if (text.size() > 2048) throw refuse();
    if (text.find('\\') != std::string_view::npos) throw refuse();
    // Whitespace and controls; any other non-ASCII character fails to parse below.
    for (char c : text)
        if (static_cast<unsigned char>(c) <= 0x20 || c == 0x7F) throw refuse();
    auto url = UrlComponents::parse(text);
    if (!url) throw refuse();
    if (!url->encodedHost || url->encodedHost->empty()) throw refuse();
    if (url->user || url->password || url->encodedQuery || url->encodedFragment) throw refuse();
    const std::string& host = *url->encodedHost;
    const bool https = url->scheme == "https";
    const bool loopbackHTTP = allowLoopbackHTTP && url->scheme == "http" && host == "127.0.0.1";
    if (!https && !loopbackHTTP) throw refuse();
    if (url->port) {
        const std::string& port = *url->port;
        int value = 0;
        const auto [end, error] = std::from_chars(port.data(), port.data() + port.size(), value);
        if (port.empty() || error != std::errc() || end != port.data() + port.size() || value < 1 || value > 65535)
            throw refuse();
    }
    if (host.size() > 253 || host.front() == '.' || host.back() == '.' || host.find("..") != std::string::npos)
        throw refuse();
    for (char c : host)
        if (!isAsciiLetterOrDigit(c) && c != '-' && c != '.') throw refuse();
    for (std::string_view label : split(host, '.'))
        if (label.front() == '-' || label.back() == '-' || label.size() > 63) throw S3Failure::invalid(labelMessage);
    const auto decoded = UrlComponents::percentDecode(url->encodedPath);
    if (!decoded) throw S3Failure::invalid(pathMessage);
    std::string_view trimmed = *decoded;
    while (trimmed.starts_with('/')) trimmed.remove_prefix(1);
    while (trimmed.ends_with('/')) trimmed.remove_suffix(1);
    if (!isValidObjectKey(trimmed, true) || decoded->find("//") != std::string::npos ||
        decoded->find('%') != std::string::npos)
        throw S3Failure::invalid(pathMessage);
    return *url;
}

void S3Settings::validate(bool allowLoopbackHTTP) const {
    if (cloudflareAccountID) {
        const std::string& account = *cloudflareAccountID;
        bool ok = account.size() == 32;
        for (char c : account) ok = ok && ((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'));
        ok = ok && endpoint == std::string(cloudflareAPIBaseURL) + "/accounts/" + account + "/r2/buckets" &&
             addressing == Addressing::path && region == "auto" && linkMode == LinkMode::publicURL;
        if (!ok) throw S3Failure::invalid(cloudflareMessage);
    }

    const UrlComponents endpointURL = validateURL(endpoint, allowLoopbackHTTP);

    bool bucketOK = bucket.size() >= 3 && bucket.size() <= 63;
    for (char c : bucket) bucketOK = bucketOK && (isLowerOrDigit(c) || c == '-' || c == '.');
    if (bucketOK)
        for (std::string_view piece : split(bucket, '.'))
            bucketOK = bucketOK && !piece.empty() && isLowerOrDigit(piece.front()) && isLowerOrDigit(piece.back());
    if (!bucketOK || isIPv4Like(bucket)) throw S3Failure::invalid(bucketMessage);

    bool regionOK = !region.empty() && region.size() <= 64;
    for (char c : region) regionOK = regionOK && (isLowerOrDigit(c) || c == '-');
    const bool prefixOK = isValidObjectKey(withoutOneTrailingSlash(prefix), true) && prefix.size() <= 512;
    const bool expiryOK = expirySeconds >= 1 && expirySeconds <= 604800;
    if (!regionOK || !prefixOK || !expiryOK) throw S3Failure::invalid(regionMessage);

    if (addressing == Addressing::virtualHost) {
        const std::string& host = *endpointURL.encodedHost;
        if (bucket.find('.') != std::string::npos || isIPv4Like(host) || bucket.size() + 1 + host.size() > 253)
            throw S3Failure::invalid(addressingMessage);
    }

    if (linkMode == LinkMode::publicURL || !publicBaseURL.empty()) validateURL(publicBaseURL, allowLoopbackHTTP);
}

std::string S3Settings::identity() const {
    return toHex(sha256(endpoint + "|" + bucket + "|" + region + "|" + std::string(rawValue(addressing))));
}

namespace {

std::string lowercase(std::string text) {
    for (char& c : text)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return text;
}

}  // namespace

std::string S3Settings::objectKey(Date createdAt, const Uuid& id) const {
    std::string key(withoutOneTrailingSlash(prefix));
    if (!key.empty()) key += '/';
    key += s3DateStamp(createdAt).value_or(std::string()).substr(0, 8);
    return key + "/" + lowercase(id.string()) + ".png";
}

std::string S3Settings::publicURL(const std::string& key, bool allowLoopbackHTTP) const {
    validate(allowLoopbackHTTP);
    if (!isValidObjectKey(key, false)) throw S3Failure::invalid("Invalid object key.");
    UrlComponents url = validateURL(publicBaseURL, allowLoopbackHTTP);
    const std::string decoded = UrlComponents::percentDecode(url.encodedPath).value_or(std::string());
    const std::string path(withoutOneTrailingSlash(decoded));
    url.encodedPath = uriEncode(path + "/" + key, true);
    const std::string text = url.text();
    if (!UrlComponents::parse(text)) throw S3Failure::invalid("Invalid public base URL.");
    return text;
}

std::string S3Settings::lifecyclePrefix() const {
    const std::string rulePrefix(withoutOneTrailingSlash(prefix));
    if (rulePrefix.empty())
        throw S3Failure::invalid("Set an upload prefix first. A rule without one would delete every object in the bucket.");
    return rulePrefix + "/";
}

std::string_view rawValue(S3Settings::Addressing addressing) {
    return addressing == S3Settings::Addressing::path ? "path" : "virtualHost";
}

std::string_view rawValue(S3Settings::LinkMode linkMode) {
    return linkMode == S3Settings::LinkMode::presigned ? "presigned" : "publicURL";
}

json::Json S3Settings::toJson() const {
    json::Json out = json::Json::object();
    out["endpoint"] = endpoint;
    out["bucket"] = bucket;
    out["region"] = region;
    out["prefix"] = prefix;
    out["addressing"] = rawValue(addressing);
    out["linkMode"] = rawValue(linkMode);
    out["publicBaseURL"] = publicBaseURL;
    out["expirySeconds"] = expirySeconds;
    if (cloudflareAccountID) out["cloudflareAccountID"] = *cloudflareAccountID;
    return out;
}

S3Settings S3Settings::fromJson(const json::Json& value) {
    const json::Json& object = json::requireObject(value, "S3 settings");
    S3Settings settings;
    settings.endpoint = json::requireString(object, "endpoint");
    settings.bucket = json::requireString(object, "bucket");
    settings.region = json::requireString(object, "region");
    settings.prefix = json::requireString(object, "prefix");
    const std::string addressing = json::requireString(object, "addressing");
    if (addressing == "path")
        settings.addressing = Addressing::path;
    else if (addressing == "virtualHost")
        settings.addressing = Addressing::virtualHost;
    else
        throw DecodingError("addressing");
    const std::string linkMode = json::requireString(object, "linkMode");
    if (linkMode == "presigned")
        settings.linkMode = LinkMode::presigned;
    else if (linkMode == "publicURL")
        settings.linkMode = LinkMode::publicURL;
    else
        throw DecodingError("linkMode");
    settings.publicBaseURL = json::requireString(object, "publicBaseURL");
    settings.expirySeconds = json::requireInt64(object, "expirySeconds");
    settings.cloudflareAccountID = json::optionalString(object, "cloudflareAccountID");
    return settings;
}

void S3Credentials::validate() const {
    bool ok = !accessKey.empty() && accessKey.size() <= 128 && secretKey.size() >= 16 && secretKey.size() <= 256;
    for (char c : accessKey) ok = ok && isAsciiLetterOrDigit(c);
    for (char c : secretKey) ok = ok && c >= '!' && c <= '~';
    if (!ok) throw S3Failure::invalid(credentialsMessage);
}

json::Json S3Credentials::toJson() const {
    json::Json out = json::Json::object();
    out["accessKey"] = accessKey;
    out["secretKey"] = secretKey;
    return out;
}

S3Credentials S3Credentials::fromJson(const json::Json& value) {
    const json::Json& object = json::requireObject(value, "S3 credentials");
    return S3Credentials{json::requireString(object, "accessKey"), json::requireString(object, "secretKey")};
}

std::ostream& operator<<(std::ostream& out, const S3Credentials& credentials) { return out << credentials.description(); }

QDebug operator<<(QDebug debug, const S3Credentials& credentials) {
    QDebugStateSaver saver(debug);
    debug.noquote() << QString::fromStdString(credentials.description());
    return debug;
}

}  // namespace brevalto
