#pragma once

#include "ClipCore/ReferenceDate.h"
#include "Platform/Clock.h"
#include "Platform/HttpClient.h"
#include "Platform/Sleeper.h"
#include "Upload/S3Settings.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <stop_token>
#include <string>
#include <string_view>

namespace brevalto {

// Talks to one S3-compatible destination. Requests are signed with Signature Version 4 and sent
// through the HTTP client; the clock dates the signatures and the sleeper waits between retries.
class S3Client {
public:
    S3Client(S3Settings settings, S3Credentials credentials, bool allowLoopbackHTTP, HttpClient& http,
             const Clock& clock = Clock::system(), Sleeper& sleeper = Sleeper::system());

    S3Settings settings;
    S3Credentials credentials;
    // Admits plain HTTP to 127.0.0.1 (tests); every other endpoint must be HTTPS.
    bool allowLoopbackHTTP = false;

    // Idle and overall time limits of each request.
    std::chrono::milliseconds requestTimeout{60'000};
    std::chrono::milliseconds resourceTimeout{90'000};

    // Sets the Host, x-amz-date, x-amz-content-sha256 and Authorization headers of the request,
    // signing every header on it. `body` is the exact bytes that will be sent (empty for none).
    // Throws S3Failure::invalid; a request that fails keeps no Authorization header.
    static void sign(HttpRequest& request, const S3Credentials& credentials, std::string_view region, Date date,
                     std::string_view body);

    // The presigned GET URL of an object URL, valid for `lifetimeSeconds` (1...604800) from
    // `date`; the signature is the last query item. Throws S3Failure::invalid.
    static std::string presign(std::string_view objectURL, const S3Credentials& credentials, std::string_view region,
                               Date date, std::int64_t lifetimeSeconds);

    // The URL of an object (or of the bucket, for no key), after the destination is validated.
    std::string requestURL(const std::optional<std::string>& key) const;

    struct Reply {
        HttpResponse response;
        std::string body;  // only when collecting
    };

    // Builds, signs and sends one request, retrying 429, 500, 502, 503 and 504 answers and
    // time-outs, refused and lost connections up to twice. Statuses are returned, not judged.
    // Collecting keeps up to 1 MiB of the body; otherwise 64 KiB are accepted and dropped.
    Reply send(const std::string& method, const std::optional<std::string>& key, const std::optional<std::string>& query,
               const HttpHeaders& headers, std::shared_ptr<const std::string> body, bool collect,
               const HttpClient::Progress& progress, std::stop_token cancel = {}) const;

private:
    HttpClient& http_;
    const Clock& clock_;
    Sleeper& sleeper_;
};

}  // namespace brevalto
