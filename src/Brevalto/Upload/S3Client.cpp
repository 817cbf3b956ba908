#include "Upload/S3Client.h"

#include "Upload/S3Failure.h"
#include "Upload/S3Lifecycle.h"
#include "Upload/S3OwnedObject.h"
#include "Upload/S3Signing.h"
#include "Upload/S3Transfer.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <vector>

namespace brevalto {

namespace {

bool isRetryableStatus(int status) {
    return status == 429 || status == 500 || status == 502 || status == 503 || status == 504;
}

bool isRetryableNetworkCode(std::int64_t code) {
    return code == HttpError::timedOut || code == HttpError::cannotConnectToHost ||
           code == HttpError::networkConnectionLost;
}

// "Retry-After" as a decimal number of seconds; none when absent or not a finite number.
std::optional<double> retryAfterSeconds(const HttpResponse& response) {
    const auto header = response.header("Retry-After");
    if (!header) return std::nullopt;
    std::string_view text = *header;
    if (text.starts_with('+')) text.remove_prefix(1);
    double value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size() || !std::isfinite(value))
        return std::nullopt;
    return value;
}

}  // namespace

S3Client::S3Client(S3Settings settings, S3Credentials credentials, bool allowLoopbackHTTP, HttpClient& http,
                   const Clock& clock, Sleeper& sleeper)
    : settings(std::move(settings)),
      credentials(std::move(credentials)),
      allowLoopbackHTTP(allowLoopbackHTTP),
      http_(http),
      clock_(clock),
      sleeper_(sleeper) {}

std::string S3Client::requestURL(const std::optional<std::string>& key) const {
    settings.validate(allowLoopbackHTTP);
    if (key && !isValidObjectKey(*key, false)) throw S3Failure::invalid("Invalid object key.");
    UrlComponents url = S3Settings::validateURL(settings.endpoint, allowLoopbackHTTP);
    std::string path = UrlComponents::percentDecode(url.encodedPath).value_or(std::string{});
    if (path.ends_with('/')) path.pop_back();
    if (settings.addressing == S3Settings::Addressing::path)
        path += "/" + settings.bucket;
    else
        url.encodedHost = settings.bucket + "." + *url.encodedHost;
    if (key) path += "/" + *key;
    if (path.empty()) path.push_back('/');
    url.encodedPath = uriEncode(path, true);
    const std::string text = url.text();
    if (!UrlComponents::parse(text)) throw S3Failure::invalid("Could not create the object URL.");
    return text;
}

S3Client::Reply S3Client::send(const std::string& method, const std::optional<std::string>& key,
                               const std::optional<std::string>& query, const HttpHeaders& headers,
                               std::shared_ptr<const std::string> body, bool collect,
                               const HttpClient::Progress& progress, std::stop_token cancel,
                               std::optional<std::string> payloadHash) const {
    if (!payloadHash) payloadHash = toHex(sha256(body ? std::string_view(*body) : std::string_view()));
    for (int attempt = 0;; ++attempt) {
        std::string url = requestURL(key);
        if (query) {
            auto components = UrlComponents::parse(url);
            components->encodedQuery = *query;
            url = components->text();
            if (!UrlComponents::parse(url)) throw S3Failure::invalid("Could not create the object URL.");
        }

        HttpRequest request;
        request.method = method;
        request.url = url;
        request.idleTimeout = requestTimeout;
        request.totalTimeout = resourceTimeout;
        for (const auto& [name, value] : headers) request.setHeader(name, value);
        request.body = body;
        signHashed(request, credentials, settings.region, clock_.now(), *payloadHash);

        S3Transfer transfer(http_, progress, collect ? 1024 * 1024 : 64 * 1024, collect);
        double delay = 0;
        try {
            std::stop_callback onCancel(cancel, [&transfer] { transfer.cancel(); });
            HttpResponse response = transfer.run(std::move(request));
            if (!isRetryableStatus(response.status) || attempt >= 2) return Reply{std::move(response), transfer.received()};
            delay = std::clamp(retryAfterSeconds(response).value_or(0.3 * (attempt + 1)), 0.0, 5.0);
        } catch (...) {
            const S3Failure failure = S3Failure::from(std::current_exception());
            if (failure.kind() != S3Failure::Kind::network || !isRetryableNetworkCode(failure.payload()) || attempt >= 2)
                throw failure;
            delay = 0.3 * (attempt + 1);
        }
        if (!sleeper_.sleep(delay, cancel)) throw S3Failure::cancelled();
    }
}

namespace {

constexpr std::size_t maxUploadSize = 64 * 1024 * 1024;

bool succeeded(int status) { return status >= 200 && status <= 299; }

}  // namespace

void S3Client::requireDestination(const S3OwnedObject& record, const char* message) const {
    if (record.settings.identity() != settings.identity()) throw S3Failure::invalid(message);
}

void S3Client::put(const S3OwnedObject& record, std::shared_ptr<const std::string> png,
                   const HttpClient::Progress& progress, std::stop_token cancel) const {
    record.validate();
    const char* destinationMessage = "The upload destination does not match history, or the object is deleted.";
    requireDestination(record, destinationMessage);
    if (record.state == S3OwnedObject::State::deleted) throw S3Failure::invalid(destinationMessage);
    if (!png || png->size() > maxUploadSize || sha256Hex(sha256(*png)) != record.sha256)
        throw S3Failure::invalid("The rendered image changed or exceeds the 64 MiB upload limit.");

    const HttpHeaders headers = {{"Content-Type", "image/png"},
                                 {"If-None-Match", "*"},
                                 {"x-amz-meta-brevalto-sha256", record.sha256},
                                 {"x-amz-meta-brevalto-upload-id", record.uploadID()}};
    const int status =
        send("PUT", record.key, std::nullopt, headers, png, false, progress, cancel, record.sha256).response.status;
    if (succeeded(status)) return;
    if (status != 412) throw S3Failure::http(status);
    // Something already holds the key: it is fine only when it is this very upload.
    bool present = false;
    try {
        present = headObject(record, cancel);
    } catch (const S3Failure& failure) {
        if (failure.kind() == S3Failure::Kind::collision) throw S3Failure::collision();
        throw;
    }
    if (!present) throw S3Failure::collision();
}

bool S3Client::headObject(const S3OwnedObject& record, std::stop_token cancel) const {
    record.validate();
    if (record.settings.identity() != settings.identity()) throw S3Failure::collision();
    const HttpResponse response = send("HEAD", record.key, std::nullopt, {}, nullptr, false, nullptr, cancel).response;
    if (response.status == 404) return false;
    if (!succeeded(response.status)) throw S3Failure::http(response.status);
    if (response.header("x-amz-meta-brevalto-sha256") != record.sha256 ||
        response.header("x-amz-meta-brevalto-upload-id") != record.uploadID())
        throw S3Failure::collision();
    return true;
}

void S3Client::testBucket(std::stop_token cancel) const {
    const int status = send("HEAD", std::nullopt, std::nullopt, {}, nullptr, false, nullptr, cancel).response.status;
    if (!succeeded(status)) throw S3Failure::http(status);
}

std::string S3Client::link(const S3OwnedObject& record) const {
    record.validate();
    const char* message = "Copy a link only after a successful upload or verification.";
    requireDestination(record, message);
    if (record.state != S3OwnedObject::State::uploaded) throw S3Failure::invalid(message);
    if (settings.linkMode == S3Settings::LinkMode::publicURL) return settings.publicURL(record.key, allowLoopbackHTTP);
    return presign(requestURL(record.key), credentials, settings.region, clock_.now(), settings.expirySeconds);
}

void S3Client::deleteObject(const S3OwnedObject& record, const std::string& typedKey, std::stop_token cancel) const {
    if (typedKey != record.key || record.state == S3OwnedObject::State::deleted)
        throw S3Failure::invalid("The exact object key has not been confirmed.");
    if (!headObject(record, cancel)) return;
    const int status = send("DELETE", record.key, std::nullopt, {}, nullptr, false, nullptr, cancel).response.status;
    if (!succeeded(status) && status != 404) throw S3Failure::http(status);
}

void S3Client::setLifecycle(int days, std::stop_token cancel) const {
    const std::string rulePrefix = settings.lifecyclePrefix();
    const Reply current = send("GET", std::nullopt, "lifecycle", {}, nullptr, true, nullptr, cancel);
    std::vector<std::string> kept;
    if (current.response.status == 200)
        kept = foreignLifecycleRules(current.body);
    else if (current.response.status != 404)
        throw S3Failure::http(current.response.status);

    if (days <= 0 && kept.empty()) {
        const int status = send("DELETE", std::nullopt, "lifecycle", {}, nullptr, false, nullptr, cancel).response.status;
        if (!succeeded(status)) throw S3Failure::http(status);
        return;
    }
    const auto body = std::make_shared<const std::string>(lifecycleDocument(kept, rulePrefix, days));
    const HttpHeaders headers = {{"Content-Type", "application/xml"}, {"Content-MD5", toBase64(asBytes(md5(*body)))}};
    const int status = send("PUT", std::nullopt, "lifecycle", headers, body, false, nullptr, cancel).response.status;
    if (!succeeded(status)) throw S3Failure::http(status);
}

}  // namespace brevalto
