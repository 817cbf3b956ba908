#include "Upload/S3Client.h"

#include "Upload/S3Failure.h"
#include "Upload/S3Signing.h"
#include "Upload/S3Transfer.h"

#include <algorithm>
#include <charconv>
#include <cmath>

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
                               const HttpClient::Progress& progress, std::stop_token cancel) const {
    const std::string noBody;
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
        sign(request, credentials, settings.region, clock_.now(), body ? std::string_view(*body) : noBody);

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

}  // namespace brevalto
