#include "Upload/CloudflareR2.h"

#include "ClipCore/JsonReading.h"
#include "Platform/Hashing.h"
#include "Platform/Task.h"
#include "Upload/CloudflareConnection.h"
#include "Upload/CloudflareFailure.h"
#include "Upload/S3Failure.h"
#include "Upload/S3OwnedObject.h"
#include "Upload/S3Settings.h"
#include "Upload/S3Signing.h"

namespace brevalto {

namespace {

const char* const invalidResponse = "Cloudflare returned an invalid response.";

bool isAccountID(const std::string& id) {
    if (id.size() != 32) return false;
    for (const char c : id)
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
    return true;
}

void checkStatus(const HttpResponse& response) {
    if (response.status < 200 || response.status > 299)
        throw CloudflareFailure("Cloudflare HTTP " + std::to_string(response.status) +
                                ". Check account permissions, bucket access or reconnect. Response content is hidden.");
}

// An envelope's "result" (and its "result_info" when present) once "success" is true.
struct Envelope {
    json::Json result;
    std::optional<json::Json> info;
};

Envelope envelope(const HttpResponse& response) {
    checkStatus(response);
    try {
        json::Json body = json::parse(response.body);
        json::requireObject(body, "envelope");
        if (!json::requireBool(body, "success") || !body.contains("result")) throw CloudflareFailure(invalidResponse);
        Envelope out{body["result"], std::nullopt};
        if (body.contains("result_info") && !body["result_info"].is_null())
            out.info = json::requireObject(body["result_info"], "result_info");
        return out;
    } catch (const DecodingError&) {
        throw CloudflareFailure(invalidResponse);
    }
}

template <class Read>
auto decoding(Read read) {
    try {
        return read();
    } catch (const DecodingError&) {
        throw CloudflareFailure(invalidResponse);
    } catch (const json::Json::exception&) {
        throw CloudflareFailure(invalidResponse);
    }
}

}  // namespace

HttpResponse CloudflareR2::get(const std::string& path, std::int64_t limit, std::stop_token cancel) const {
    return connection_.apiRequest(path, "GET", nullptr, "application/json", limit, {}, {}, cancel);
}

std::string CloudflareR2::objectPath(const S3Settings& settings, bool requirePublicBaseURL) {
    if (!requirePublicBaseURL && settings.publicBaseURL.empty()) {
        S3Settings copy = settings;
        copy.publicBaseURL = "https://public-domain.invalid";
        copy.validate(false);
    } else {
        settings.validate(false);
    }
    if (!settings.cloudflareAccountID) throw CloudflareFailure("Select a Cloudflare destination.");
    return "/accounts/" + *settings.cloudflareAccountID + "/r2/buckets/" + settings.bucket;
}

std::string CloudflareR2::objectKeyPath(const S3OwnedObject& record) {
    record.validate();
    if (record.state == S3OwnedObject::State::deleted) throw CloudflareFailure("This upload is marked deleted.");
    return objectPath(record.settings, true) + "/objects/" + uriEncode(record.key, true);
}

std::vector<CloudflareAccount> CloudflareR2::accounts(std::stop_token cancel) const {
    std::vector<CloudflareAccount> list;
    for (int page = 1;; ++page) {
        const Envelope reply = envelope(get("/accounts?per_page=50&page=" + std::to_string(page), apiLimit, cancel));
        decoding([&] {
            for (const json::Json& item : json::requireArray(reply.result, "accounts")) {
                json::requireObject(item, "account");
                CloudflareAccount account{json::requireString(item, "id"), json::requireString(item, "name")};
                if (!isAccountID(account.id)) throw CloudflareFailure("Invalid account identifier.");
                list.push_back(std::move(account));
            }
            return 0;
        });
        if (!reply.info) return list;
        const std::int64_t total = decoding([&] {
            return reply.info->contains("total_pages") && !(*reply.info)["total_pages"].is_null()
                       ? json::requireInt64(*reply.info, "total_pages")
                       : page;
        });
        if (page >= total) return list;
        if (page == maxPages) throw CloudflareFailure("The account list exceeds the supported limit.");
    }
}

std::vector<CloudflareBucket> CloudflareR2::buckets(const std::string& accountID, std::stop_token cancel) const {
    if (!isAccountID(accountID)) throw CloudflareFailure("Select a valid Cloudflare account.");
    const std::string base = "/accounts/" + accountID + "/r2/buckets?per_page=1000";
    std::vector<CloudflareBucket> list;
    std::string previous;
    int pages = 0;
    std::string path = base;
    for (;;) {
        const Envelope reply = envelope(get(path, apiLimit, cancel));
        const std::optional<std::string> cursor = decoding([&] {
            json::requireObject(reply.result, "listing");
            for (const json::Json& item : json::requireArray(reply.result["buckets"], "buckets")) {
                json::requireObject(item, "bucket");
                list.push_back({json::requireString(item, "name")});
            }
            return reply.info ? json::optionalString(*reply.info, "cursor") : std::nullopt;
        });
        if (!cursor || cursor->empty()) return list;
        if (*cursor == previous) throw CloudflareFailure("Cloudflare repeated a bucket-list cursor.");
        if (++pages == maxPages) throw CloudflareFailure("The bucket list exceeds the supported limit.");
        previous = *cursor;
        path = base + "&cursor=" + uriEncode(*cursor, false);
    }
}

std::vector<std::string> CloudflareR2::publicDomains(const S3Settings& settings, std::stop_token cancel) const {
    const std::string path = objectPath(settings, false);
    const Envelope managed = envelope(get(path + "/domains/managed", apiLimit, cancel));
    const Envelope custom = envelope(get(path + "/domains/custom", apiLimit, cancel));
    std::vector<std::string> domains = decoding([&] {
        std::vector<std::string> enabled;
        const auto take = [&](const json::Json& domain) {
            json::requireObject(domain, "domain");
            const std::string name = json::requireString(domain, "domain");
            if (json::requireBool(domain, "enabled")) enabled.push_back(name);
        };
        take(managed.result);
        json::requireObject(custom.result, "custom");
        for (const json::Json& domain : json::requireArray(custom.result["domains"], "domains")) take(domain);
        return enabled;
    });
    for (std::string& domain : domains) {
        domain = "https://" + domain;
        const UrlComponents url = S3Settings::validateURL(domain, false);
        if (!url.encodedPath.empty() || url.port) throw CloudflareFailure("Invalid public bucket domain.");
    }
    return domains;
}

void CloudflareR2::checkDestination(const S3Settings& settings, std::stop_token cancel) const {
    checkStatus(get(objectPath(settings, true), apiLimit, cancel));
    for (const std::string& domain : publicDomains(settings, cancel))
        if (domain == settings.publicBaseURL) return;
    throw CloudflareFailure("The selected public domain is not enabled for this bucket. Refresh destinations.");
}

void CloudflareR2::setLifecycle(const S3Settings& settings, int days, std::stop_token cancel) const {
    const std::string prefix = settings.lifecyclePrefix();
    const std::string path = objectPath(settings, false) + "/lifecycle";
    const HttpResponse current = get(path, apiLimit, cancel);
    checkStatus(current);
    json::Json rules = json::Json::array();
    try {
        const json::Json body = json::parse(current.body);
        if (!body.is_object() || !body.contains("success") || body["success"] != true)
            throw CloudflareFailure(invalidResponse);
        if (body.contains("result") && body["result"].is_object() && body["result"].contains("rules") &&
            body["result"]["rules"].is_array()) {
            bool allObjects = true;
            for (const json::Json& rule : body["result"]["rules"]) allObjects = allObjects && rule.is_object();
            if (allObjects)
                for (const json::Json& rule : body["result"]["rules"])
                    if (!(rule.contains("id") && rule["id"] == "brevalto-expire")) rules.push_back(rule);
        }
    } catch (const DecodingError&) {
        throw CloudflareFailure(invalidResponse);
    }
    if (days >= 1)
        rules.push_back({{"id", "brevalto-expire"},
                         {"enabled", true},
                         {"conditions", {{"prefix", prefix}}},
                         {"deleteObjectsTransition",
                          {{"condition", {{"type", "Age"}, {"maxAge", static_cast<std::int64_t>(days) * 86400}}}}}});
    json::Json document = json::Json::object();
    document["rules"] = rules;
    auto body = std::make_shared<const std::string>(document.dump());
    checkStatus(connection_.apiRequest(path, "PUT", body, "application/json", apiLimit, {}, {}, cancel));
}

bool CloudflareR2::verifyObject(const S3OwnedObject& record, std::stop_token cancel) const {
    const HttpResponse response = get(objectKeyPath(record), objectLimit, cancel);
    if (response.status == 404) return false;
    checkStatus(response);
    if (sha256Hex(sha256(response.body)) == record.sha256) return true;
    throw S3Failure::collision();
}

void CloudflareR2::uploadObject(const S3OwnedObject& record, std::shared_ptr<const std::string> png,
                                const HttpClient::Progress& progress, std::stop_token cancel) const {
    const std::string path = objectKeyPath(record);
    if (!png || static_cast<std::int64_t>(png->size()) > objectLimit || sha256Hex(sha256(*png)) != record.sha256)
        throw S3Failure::collision();
    checkDestination(record.settings, cancel);
    const auto done = [&] {
        if (progress) progress(1.0);
    };
    if (verifyObject(record, cancel)) return done();
    if (cancel.stop_requested()) throw TaskCancelled();
    const HttpResponse response =
        connection_.apiRequest(path, "PUT", png, "image/png", apiLimit, {{"If-None-Match", "*"}}, progress, cancel);
    if (response.status == 412) {
        if (verifyObject(record, cancel)) return done();
        throw S3Failure::collision();
    }
    checkStatus(response);
    bool confirmed = false;
    try {
        const json::Json body = json::parse(response.body);
        confirmed = body.is_object() && body.contains("success") && body["success"] == true &&
                    body.contains("result") && body["result"].is_object() && body["result"].contains("key") &&
                    body["result"]["key"] == record.key;
    } catch (const DecodingError&) {
    }
    if (!confirmed)
        throw CloudflareFailure(
            "R2 may have received the upload. Its receipt could not be verified; use Verify before retrying.");
    done();
}

void CloudflareR2::deleteObject(const S3OwnedObject& record, const std::string& typedKey, std::stop_token cancel) const {
    if (typedKey != record.key) throw S3Failure::invalid("The exact object key has not been confirmed.");
    if (!verifyObject(record, cancel)) return;
    const HttpResponse response =
        connection_.apiRequest(objectKeyPath(record), "DELETE", nullptr, "application/json", apiLimit, {}, {}, cancel);
    if (response.status != 404) checkStatus(response);
}

std::string CloudflareR2::checkPublicLink(const S3OwnedObject& record, std::stop_token cancel) const {
    if (record.state != S3OwnedObject::State::uploaded)
        throw S3Failure::invalid("Verify the upload before copying its link.");
    record.validate();
    const std::string url = record.settings.publicURL(record.key, false);
    HttpRequest request;
    request.url = url;
    request.idleTimeout = std::chrono::seconds(60);
    request.totalTimeout = std::chrono::minutes(5);
    const HttpResponse response = connection_.send(request, objectLimit, {}, cancel);
    if (response.status != 200 || sha256Hex(sha256(response.body)) != record.sha256)
        throw CloudflareFailure("The public link does not serve this image yet. Check the bucket domain or wait for "
                                "propagation. The upload is retained.");
    return url;
}

}  // namespace brevalto
