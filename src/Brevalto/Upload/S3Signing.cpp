#include "Upload/S3Signing.h"

#include "Platform/Hashing.h"
#include "Platform/UrlComponents.h"
#include "Upload/S3Client.h"
#include "Upload/S3Failure.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <ctime>
#include <utility>
#include <vector>

namespace brevalto {

namespace {

constexpr std::string_view algorithm = "AWS4-HMAC-SHA256";

bool isValidRegion(std::string_view region) {
    return !region.empty() && std::all_of(region.begin(), region.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-';
    });
}

char lowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

std::string lowercased(std::string_view text) {
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(), lowerAscii);
    return out;
}

// The Host value: the host in lower case, with ":" + port when the URL names one. Throws the
// hostname message when there is no host, and `invalid` with `badPort` for a port that is no number.
std::string hostValue(const UrlComponents& url, const char* badPort) {
    if (!url.encodedHost || url.encodedHost->empty())
        throw S3Failure::invalid("A hostname is required to sign the request.");
    std::string host = lowercased(UrlComponents::percentDecode(*url.encodedHost).value_or(*url.encodedHost));
    if (url.port && !url.port->empty()) {
        std::uint32_t port = 0;
        const std::string& text = *url.port;
        const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), port);
        if (error != std::errc() || end != text.data() + text.size()) throw S3Failure::invalid(badPort);
        host += ":" + std::to_string(port);
    }
    return host;
}

std::string credentialScope(std::string_view stamp, std::string_view region) {
    return std::string(stamp.substr(0, 8)) + "/" + std::string(region) + "/s3/aws4_request";
}

std::string signature(const S3Credentials& credentials, std::string_view stamp, std::string_view region,
                      std::string_view canonicalRequest) {
    const std::string stringToSign = std::string(algorithm) + "\n" + std::string(stamp) + "\n" +
                                     credentialScope(stamp, region) + "\n" + toHex(sha256(canonicalRequest));
    Sha256Digest key = hmacSha256("AWS4" + credentials.secretKey, stamp.substr(0, 8));
    key = hmacSha256(asBytes(key), region);
    key = hmacSha256(asBytes(key), "s3");
    key = hmacSha256(asBytes(key), "aws4_request");
    return toHex(hmacSha256(asBytes(key), stringToSign));
}

bool isHeaderNameCharacter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-';
}

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\v' || c == '\f'; }

// Runs of white space become one space; leading and trailing white space goes.
std::string collapsedValue(std::string_view value) {
    std::string out;
    bool pendingSpace = false;
    for (char c : value) {
        if (isBlank(c)) {
            pendingSpace = !out.empty();
            continue;
        }
        if (pendingSpace) out.push_back(' ');
        pendingSpace = false;
        out.push_back(c);
    }
    return out;
}

}  // namespace

std::string uriEncode(std::string_view text, bool keepSlash) {
    // Unreserved characters as signing defines them, and "/" where the caller keeps it.
    static constexpr auto unreserved = [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '.' ||
               c == '_' || c == '~';
    };
    std::string out;
    out.reserve(text.size());
    if (keepSlash)
        UrlComponents::appendPercentEncoded(out, text, [](char c) { return unreserved(c) || c == '/'; });
    else
        UrlComponents::appendPercentEncoded(out, text, [](char c) { return unreserved(c); });
    return out;
}

std::optional<std::string> s3DateStamp(Date date) {
    if (!std::isfinite(date)) return std::nullopt;
    const double seconds = std::floor(unixSeconds(date));
    // Years 0...9999 keep the stamp at 16 characters.
    if (seconds < -62167219200.0 || seconds > 253402300799.0) return std::nullopt;
    const auto time = static_cast<std::time_t>(seconds);
    std::tm parts{};
    if (!gmtime_r(&time, &parts)) return std::nullopt;
    char buffer[32];
    const std::size_t length = std::strftime(buffer, sizeof buffer, "%Y%m%dT%H%M%SZ", &parts);
    if (length != 16) return std::nullopt;
    return std::string(buffer, length);
}

std::string canonicalQuery(const UrlComponents& url) {
    std::vector<std::pair<std::string, std::string>> pairs;
    for (const UrlQueryItem& item : url.queryItems())
        pairs.emplace_back(uriEncode(item.name, false), uriEncode(item.value.value_or(std::string{}), false));
    std::sort(pairs.begin(), pairs.end());
    std::string out;
    for (const auto& [name, value] : pairs) {
        if (!out.empty()) out.push_back('&');
        out += name + "=" + value;
    }
    return out;
}

void S3Client::sign(HttpRequest& request, const S3Credentials& credentials, std::string_view region, Date date,
                    std::string_view body) {
    signHashed(request, credentials, region, date, toHex(sha256(body)));
}

void S3Client::signHashed(HttpRequest& request, const S3Credentials& credentials, std::string_view region, Date date,
                          const std::string& payloadHash) {
    credentials.validate();
    constexpr const char* inputMessage = "Invalid signing input.";
    const auto url = UrlComponents::parse(request.url);
    const auto stamp = s3DateStamp(date);
    if (!url || !stamp || !isValidRegion(region)) throw S3Failure::invalid(inputMessage);
    request.removeHeader("Authorization");

    request.setHeader("Host", hostValue(*url, inputMessage));
    request.setHeader("x-amz-date", *stamp);
    request.setHeader("x-amz-content-sha256", payloadHash);

    std::vector<std::pair<std::string, std::string>> canonical;
    for (const auto& [name, value] : request.headers) {
        const bool nameOK = !name.empty() && std::all_of(name.begin(), name.end(), isHeaderNameCharacter);
        const bool valueOK = value.find_first_of("\r\n") == std::string::npos;
        if (!nameOK || !valueOK) throw S3Failure::invalid("Invalid HTTP header.");
        canonical.emplace_back(lowercased(name), collapsedValue(value));
    }
    std::stable_sort(canonical.begin(), canonical.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    for (std::size_t i = 1; i < canonical.size(); ++i)
        if (canonical[i].first == canonical[i - 1].first) throw S3Failure::invalid("Invalid HTTP header.");

    std::string headerLines;
    std::string signedHeaders;
    for (const auto& [name, value] : canonical) {
        headerLines += name + ":" + value + "\n";
        if (!signedHeaders.empty()) signedHeaders.push_back(';');
        signedHeaders += name;
    }
    const std::string canonicalRequest = (request.method.empty() ? std::string("GET") : request.method) + "\n" +
                                         (url->encodedPath.empty() ? std::string("/") : url->encodedPath) + "\n" +
                                         canonicalQuery(*url) + "\n" + headerLines + "\n" + signedHeaders + "\n" +
                                         payloadHash;

    request.setHeader("Authorization", std::string(algorithm) + " Credential=" + credentials.accessKey + "/" +
                                           credentialScope(*stamp, region) + ",SignedHeaders=" + signedHeaders +
                                           ",Signature=" + signature(credentials, *stamp, region, canonicalRequest));
}

std::string S3Client::presign(std::string_view objectURL, const S3Credentials& credentials, std::string_view region,
                              Date date, std::int64_t lifetimeSeconds) {
    credentials.validate();
    constexpr const char* inputMessage = "Invalid presigning input.";
    auto url = UrlComponents::parse(objectURL);
    const auto stamp = s3DateStamp(date);
    if (lifetimeSeconds < 1 || lifetimeSeconds > 604800 || !stamp || !isValidRegion(region) || !url ||
        url->encodedQuery || url->user || url->password || url->encodedFragment)
        throw S3Failure::invalid(inputMessage);
    const std::string host = hostValue(*url, inputMessage);

    const std::string scope = credentialScope(*stamp, region);
    std::string query = "X-Amz-Algorithm=" + std::string(algorithm) +
                        "&X-Amz-Credential=" + credentials.accessKey + "/" + scope + "&X-Amz-Date=" + *stamp +
                        "&X-Amz-Expires=" + std::to_string(lifetimeSeconds) + "&X-Amz-SignedHeaders=host";
    url->encodedQuery = query;
    query = canonicalQuery(*url);

    const std::string canonicalRequest = "GET\n" + (url->encodedPath.empty() ? std::string("/") : url->encodedPath) +
                                         "\n" + query + "\nhost:" + host + "\n\nhost\nUNSIGNED-PAYLOAD";
    url->encodedQuery = query + "&X-Amz-Signature=" + signature(credentials, *stamp, region, canonicalRequest);
    const std::string text = url->text();
    if (!UrlComponents::parse(text)) throw S3Failure::invalid("Could not create the presigned URL.");
    return text;
}

}  // namespace brevalto
