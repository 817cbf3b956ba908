#include "Upload/S3UploadController.h"
#include "Upload/S3UploadControllerStep.h"

#include "Platform/Defaults.h"
#include "Upload/CloudflareFailure.h"
#include "Upload/S3Failure.h"

#include <algorithm>

namespace brevalto {

namespace {

template <class List, class Same>
bool contains(const List& list, Same same) {
    return std::find_if(list.begin(), list.end(), same) != list.end();
}

}  // namespace

// What one listing found, as far as it got: the account, bucket and domain lists and the R2
// destination they select, and the error that stopped it.
struct S3UploadController::Destinations {
    bool loggedIn = false;
    S3Settings r2;
    std::optional<std::vector<CloudflareAccount>> accounts;
    std::optional<std::vector<CloudflareBucket>> buckets;
    std::optional<std::vector<std::string>> domains;
    std::exception_ptr error;
};

void S3UploadController::connectCloudflare() {
    if (busy_) return;
    const Operation operation = begin(QStringLiteral("Approve Cloudflare access in your browser. Login expires after "
                                                     "three minutes. Tokens are stored only in the keyring."));
    listDestinations(operation, true);
}

void S3UploadController::refreshDestinations(std::optional<std::string> accountID, std::optional<std::string> bucket) {
    if (busy_) return;
    const Operation operation = begin(QStringLiteral("Reading Cloudflare destinations. No bucket policy changes."));
    S3Settings r2 = r2Settings_;
    try {
        if (accountID) {
            if (!contains(accounts_, [&](const CloudflareAccount& a) { return a.id == *accountID; }))
                throw CloudflareFailure("Select a listed account.");
            r2.cloudflareAccountID = *accountID;
            r2.bucket.clear();
            r2.publicBaseURL.clear();
        }
        if (bucket) {
            if (!contains(buckets_, [&](const CloudflareBucket& b) { return b.name == *bucket; }))
                throw CloudflareFailure("Select a listed bucket.");
            if (r2.bucket != *bucket) r2.publicBaseURL.clear();
            r2.bucket = *bucket;
        }
    } catch (...) {
        fail(std::current_exception());
        return finish(operation.number);
    }
    setR2Settings(r2);
    listDestinations(operation, false);
}

void S3UploadController::listDestinations(const Operation& operation, bool login) {
    step(
        operation,
        [cloudflare = cloudflare_, r2 = r2Settings_, login](std::stop_token cancel) {
            Destinations found;
            found.r2 = r2;
            try {
                if (login) {
                    cloudflare->login(cancel);
                    found.loggedIn = true;
                }
                const CloudflareR2 api(*cloudflare);
                found.accounts = api.accounts(cancel);
                const auto kept = std::find_if(found.accounts->begin(), found.accounts->end(), [&](const auto& a) {
                    return r2.cloudflareAccountID && a.id == *r2.cloudflareAccountID;
                });
                if (found.accounts->empty()) throw CloudflareFailure("No authorized Cloudflare account is available.");
                const std::string id = kept != found.accounts->end() ? kept->id : found.accounts->front().id;
                if (found.r2.cloudflareAccountID != id) {
                    found.r2.bucket.clear();
                    found.r2.publicBaseURL.clear();
                }
                found.r2.cloudflareAccountID = id;
                found.r2.endpoint = std::string(cloudflareAPIBaseURL) + "/accounts/" + id + "/r2/buckets";
                found.r2.region = "auto";
                found.r2.addressing = S3Settings::Addressing::path;
                found.r2.linkMode = S3Settings::LinkMode::publicURL;
                found.buckets = api.buckets(id, cancel);
                if (found.buckets->empty())
                    throw CloudflareFailure("No R2 bucket is available. Create one in Cloudflare, then refresh.");
                // After a first login no bucket is chosen yet: the first listed one is.
                if (!contains(*found.buckets, [&](const CloudflareBucket& b) { return b.name == found.r2.bucket; })) {
                    found.r2.bucket = found.buckets->front().name;
                    found.r2.publicBaseURL.clear();
                }
                found.domains = api.publicDomains(found.r2, cancel);
                if (!contains(*found.domains, [&](const std::string& d) { return d == found.r2.publicBaseURL; }))
                    found.r2.publicBaseURL = found.domains->empty() ? std::string() : found.domains->front();
            } catch (const TaskCancelled&) {
                throw;
            } catch (...) {
                found.error = std::current_exception();
            }
            return found;
        },
        [this, login](TaskResult<Destinations>& result) {
            Destinations& found = result.get();
            if (found.loggedIn) setCloudflareConnected(true);
            if (found.accounts) {
                accounts_ = *found.accounts;
                if (found.r2.cloudflareAccountID) defaults_.set(accountIDKey, *found.r2.cloudflareAccountID);
                setR2Settings(found.r2);
            }
            if (found.buckets) buckets_ = *found.buckets;
            publicDomains_ = found.domains.value_or(std::vector<std::string>{});
            emit cloudflareChanged();
            if (found.error) std::rethrow_exception(found.error);
            if (login)
                setStatus(QStringLiteral("Cloudflare connected. Select a bucket and an enabled public domain, then save."));
            else if (!publicDomains_.empty())
                setStatus(QStringLiteral("Destinations refreshed. Save the selected account, bucket and public domain."));
            else
                setStatus(QStringLiteral("This bucket has no enabled public domain. Configure public access in "
                                         "Cloudflare, then refresh. The app never changes bucket policies."));
            return false;
        });
}

void S3UploadController::disconnectCloudflare() {
    if (busy_) return;
    const Operation operation = begin(status_);
    step(
        operation,
        [cloudflare = cloudflare_](std::stop_token cancel) {
            cloudflare->disconnect(cancel);
            return true;
        },
        [this](TaskResult<bool>& result) {
            if (!result.ok()) {
                // A login removed elsewhere cannot be revoked, but it is gone all the same.
                setCloudflareConnected(cloudflare_->connected());
                result.get();
            }
            accounts_.clear();
            buckets_.clear();
            publicDomains_.clear();
            cloudflareConnected_ = false;
            emit cloudflareChanged();
            setStatus(QStringLiteral("Cloudflare session revoked and local tokens removed. Uploaded objects are "
                                     "unchanged."));
            return false;
        });
}

void S3UploadController::saveR2Destination() {
    if (busy_) return;
    try {
        r2Settings_.validate(false);
        if (!contains(publicDomains_, [&](const std::string& d) { return d == r2Settings_.publicBaseURL; }))
            throw CloudflareFailure("Refresh and select an enabled public bucket domain.");
        defaults_.setData(r2SettingsKey, r2Settings_.toJson().dump());
        emit settingsChanged();
        setStatus(QStringLiteral("R2 destination saved. Uploads use this public bucket; anyone with an image URL can "
                                 "access it. Tokens remain in the keyring."));
    } catch (...) {
        fail(std::current_exception());
    }
}

}  // namespace brevalto
