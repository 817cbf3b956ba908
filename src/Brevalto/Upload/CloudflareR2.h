#pragma once

#include "Platform/HttpClient.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <stop_token>
#include <string>
#include <vector>

namespace brevalto {

class CloudflareConnection;
struct S3OwnedObject;
struct S3Settings;

struct CloudflareAccount {
    std::string id;
    std::string name;
    friend bool operator==(const CloudflareAccount&, const CloudflareAccount&) = default;
};

struct CloudflareBucket {
    std::string name;
    friend bool operator==(const CloudflareBucket&, const CloudflareBucket&) = default;
};

// The app's use of the Cloudflare REST API for R2: the account, bucket and public-domain lists
// of the destination pickers, the destination check, objects (upload, verify by download and
// digest, delete), the public-link check and the app's one lifecycle rule. Every call blocks its
// caller and goes through the connection; only HTTP status numbers ever reach a message.
class CloudflareR2 {
public:
    static constexpr std::int64_t apiLimit = 1024 * 1024;
    static constexpr std::int64_t objectLimit = 64 * 1024 * 1024;
    static constexpr int maxPages = 100;

    explicit CloudflareR2(CloudflareConnection& connection) : connection_(connection) {}

    std::vector<CloudflareAccount> accounts(std::stop_token cancel) const;
    std::vector<CloudflareBucket> buckets(const std::string& accountID, std::stop_token cancel) const;
    // The enabled managed and custom domains of the destination's bucket as "https://" + domain.
    std::vector<std::string> publicDomains(const S3Settings& settings, std::stop_token cancel) const;
    void setLifecycle(const S3Settings& settings, int days, std::stop_token cancel) const;
    void checkDestination(const S3Settings& settings, std::stop_token cancel) const;
    // Puts the PNG (already encoded, its digest the record's) unless the object is already there.
    void uploadObject(const S3OwnedObject& record, std::shared_ptr<const std::string> png,
                      const HttpClient::Progress& progress, std::stop_token cancel) const;
    // True when the object is there with the record's digest, false when it is absent.
    bool verifyObject(const S3OwnedObject& record, std::stop_token cancel) const;
    void deleteObject(const S3OwnedObject& record, const std::string& typedKey, std::stop_token cancel) const;
    // Fetches the public URL without credentials; returns it when it serves exactly this image.
    std::string checkPublicLink(const S3OwnedObject& record, std::stop_token cancel) const;

    // "/accounts/<id>/r2/buckets/<bucket>" of a destination (throws S3Failure or CloudflareFailure).
    static std::string objectPath(const S3Settings& settings, bool requirePublicBaseURL);
    static std::string objectKeyPath(const S3OwnedObject& record);

private:
    HttpResponse get(const std::string& path, std::int64_t limit, std::stop_token cancel) const;

    CloudflareConnection& connection_;
};

}  // namespace brevalto
