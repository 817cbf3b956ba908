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

struct S3OwnedObject;

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
    // The same with the body's SHA-256 (lower-case hex) already known.
    static void signHashed(HttpRequest& request, const S3Credentials& credentials, std::string_view region, Date date,
                           const std::string& payloadHash);

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
    // The body is hashed once for all attempts; `payloadHash` is its SHA-256 when the caller
    // already checked it.
    Reply send(const std::string& method, const std::optional<std::string>& key, const std::optional<std::string>& query,
               const HttpHeaders& headers, std::shared_ptr<const std::string> body, bool collect,
               const HttpClient::Progress& progress, std::stop_token cancel = {},
               std::optional<std::string> payloadHash = std::nullopt) const;

    // The operations on objects the history holds. Each first runs the record check (a record that
    // fails it throws S3Failure::storage) and sends nothing for a record or settings that fail
    // their checks; an object that is not provably the app's own is never overwritten or deleted.

    // Puts the PNG (at most 64 MiB, digest equal to the record's) under the record's key with
    // If-None-Match: *, so nothing is ever overwritten, and the ownership metadata. A 412 counts
    // as done only when the object there is this very upload; otherwise S3Failure::collision.
    void put(const S3OwnedObject& record, std::shared_ptr<const std::string> png, const HttpClient::Progress& progress,
             std::stop_token cancel = {}) const;
    // HEAD of the record's key: false when absent (404), true when present with this record's
    // digest and upload id; any other metadata throws S3Failure::collision.
    bool headObject(const S3OwnedObject& record, std::stop_token cancel = {}) const;
    // HEAD of the bucket; nothing is uploaded or changed.
    void testBucket(std::stop_token cancel = {}) const;
    // The link to copy for an uploaded record: its public URL or a presigned GET dated now.
    std::string link(const S3OwnedObject& record) const;
    // Deletes the record's object once the user typed its exact key, and only after the
    // ownership check found it there; an absent object counts as deleted.
    void deleteObject(const S3OwnedObject& record, const std::string& typedKey, std::stop_token cancel = {}) const;
    // Keeps one expiry rule for the upload prefix (none for `days` 0 or less) and every other
    // rule of the bucket unchanged; a lifecycle left without rules is deleted.
    void setLifecycle(int days, std::stop_token cancel = {}) const;

private:
    // Throws S3Failure::invalid with `message` unless the record's destination is this client's.
    void requireDestination(const S3OwnedObject& record, const char* message) const;

    HttpClient& http_;
    const Clock& clock_;
    Sleeper& sleeper_;
};

}  // namespace brevalto
