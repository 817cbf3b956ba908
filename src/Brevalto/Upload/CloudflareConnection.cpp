#include "Upload/CloudflareConnection.h"

#include "KeychainItems/KeychainAccess.h"
#include "Platform/Clock.h"
#include "Platform/Task.h"
#include "Platform/UrlComponents.h"
#include "Upload/CloudflareFailure.h"
#include "Upload/S3Transfer.h"

#include <memory>

namespace brevalto {

namespace {

constexpr std::chrono::seconds requestTimeout{60};

// Stands in for a missing keyring: every operation answers "service not available".
class NoKeychain final : public KeychainAccess {
public:
    KeychainReadResult keychainRead(const std::string&, const std::string&) override {
        return {keychainStatus::serviceNotAvailable, std::nullopt};
    }
    KeychainStatus keychainExists(const std::string&, const std::string&) override {
        return keychainStatus::serviceNotAvailable;
    }
    KeychainStatus keychainDelete(const std::string&, const std::string&) override {
        return keychainStatus::serviceNotAvailable;
    }
    KeychainStatus keychainSave(const KeychainData&, const std::string&, const std::string&) override {
        return keychainStatus::serviceNotAvailable;
    }
};

const CloudflareFailure invalidDestination("Invalid Cloudflare API destination.");

HttpRequest formPost(const std::string& url, const std::map<std::string, std::string>& fields) {
    HttpRequest request;
    request.method = "POST";
    request.url = url;
    request.setHeader("Content-Type", "application/x-www-form-urlencoded");
    request.body = std::make_shared<const std::string>(formBody(fields));
    request.idleTimeout = requestTimeout;
    request.totalTimeout = requestTimeout;
    return request;
}

}  // namespace

CloudflareConnection::CloudflareConnection(std::string keychainService, KeychainAccess* keychain, HttpClient* http,
                                           const Clock& clock, Endpoints endpoints)
    : keychain_{std::move(keychainService)},
      keychainAccess_(keychain),
      http_(http),
      clock_(clock),
      endpoints_(std::move(endpoints)) {}

KeychainAccess& CloudflareConnection::keychain() const {
    static NoKeychain none;
    return keychainAccess_ ? *keychainAccess_ : none;
}

bool CloudflareConnection::connected() const { return keychain_.exists(keychain()); }

void CloudflareConnection::requireLogin() const { keychain_.load(keychain()); }

std::string CloudflareConnection::oauthURL(const char* endpoint) const {
    std::string url = endpoints_.oauth;
    if (url.ends_with('/')) url.pop_back();
    return url + "/" + endpoint;
}

void CloudflareConnection::login(std::stop_token cancel) {
    const std::string verifier = CloudflareLogin::makeChallenge();
    const std::string state = CloudflareLogin::makeChallenge();
    auto callback = std::make_shared<CloudflareCallback>(state, endpoints_.loginPort, endpoints_.loginDeadline);
    const std::string url = CloudflareLogin::authorizeURL(endpoints_.oauth, state, verifier);
    std::weak_ptr<CloudflareCallback> weak = callback;
    const std::string code = callback->wait(
        [&] {
            if (!opener_) return callback->cancel(CloudflareCallback::Cancel::browser);
            opener_(url, [weak] {
                if (auto alive = weak.lock()) alive->cancel(CloudflareCallback::Cancel::browser);
            });
        },
        cancel);
    const CloudflareTokens tokens = exchangeCode(code, verifier, cancel);
    keychain_.save(keychain(), tokens);
}

CloudflareTokens CloudflareConnection::exchangeCode(const std::string& code, const std::string& verifier,
                                                    std::stop_token cancel) {
    return tokenRequest({{"grant_type", "authorization_code"},
                         {"code", code},
                         {"code_verifier", verifier},
                         {"redirect_uri", std::string(cloudflareRedirectURL)}},
                        std::nullopt, cancel);
}

CloudflareTokens CloudflareConnection::refresh(const CloudflareTokens& stored, std::stop_token cancel) {
    CloudflareTokens tokens =
        tokenRequest({{"grant_type", "refresh_token"}, {"refresh_token", stored.refreshToken}}, stored.refreshToken, cancel);
    keychain_.save(keychain(), tokens);
    return tokens;
}

CloudflareTokens CloudflareConnection::tokenRequest(std::map<std::string, std::string> fields,
                                                    const std::optional<std::string>& previousRefreshToken,
                                                    std::stop_token cancel) {
    fields["client_id"] = std::string(cloudflareClientID);
    const HttpResponse response = send(formPost(oauthURL("token"), fields), tokenReplyLimit, {}, cancel);
    if (response.status != 200)
        throw CloudflareFailure("Cloudflare login could not be renewed (HTTP " + std::to_string(response.status) +
                                "). Reconnect; existing uploads are preserved.");
    return CloudflareTokens::decode(response.body, previousRefreshToken, clock_.now());
}

std::string CloudflareConnection::validAccessToken(std::stop_token cancel) {
    std::unique_lock guard(lock_);
    if (renewal_) {
        const std::shared_future<CloudflareTokens> running = *renewal_;
        guard.unlock();
        return running.get().accessToken;
    }
    const CloudflareTokens stored = keychain_.load(keychain());
    if (stored.expiresAt > clock_.now() + renewalMargin) return stored.accessToken;
    std::promise<CloudflareTokens> promise;
    renewal_ = promise.get_future().share();
    const std::shared_future<CloudflareTokens> mine = *renewal_;
    guard.unlock();
    try {
        promise.set_value(refresh(stored, cancel));
    } catch (...) {
        promise.set_exception(std::current_exception());
    }
    guard.lock();
    renewal_.reset();
    guard.unlock();
    return mine.get().accessToken;
}

void CloudflareConnection::disconnect(std::stop_token cancel) {
    {
        std::lock_guard guard(lock_);
        if (renewal_) throw CloudflareFailure("Wait for token renewal to finish.");
    }
    const CloudflareTokens tokens = keychain_.load(keychain());
    for (const auto& [hint, token] : {std::pair<std::string, std::string>{"access_token", tokens.accessToken},
                                      std::pair<std::string, std::string>{"refresh_token", tokens.refreshToken}}) {
        const HttpResponse response = send(
            formPost(oauthURL("revoke"),
                     {{"client_id", std::string(cloudflareClientID)}, {"token_type_hint", hint}, {"token", token}}),
            tokenReplyLimit, {}, cancel);
        if (response.status != 200)
            throw CloudflareFailure("Cloudflare could not revoke this session. Retry Disconnect; local tokens are retained.");
    }
    keychain_.remove(keychain());
}

HttpResponse CloudflareConnection::apiRequest(const std::string& path, const std::string& method,
                                              std::shared_ptr<const std::string> body,
                                              const std::optional<std::string>& contentType, std::int64_t responseLimit,
                                              const HttpHeaders& headers, const HttpClient::Progress& progress,
                                              std::stop_token cancel) {
    if (!path.starts_with("/accounts") || path.find('#') != std::string::npos || path.find("..") != std::string::npos)
        throw invalidDestination;
    const auto base = UrlComponents::parse(endpoints_.api);
    const auto url = UrlComponents::parse(endpoints_.api + path);
    if (!base || !url || url->scheme != base->scheme || url->encodedHost != base->encodedHost ||
        url->port != base->port || url->user || url->password)
        throw invalidDestination;

    HttpRequest request;
    request.method = method;
    request.url = url->text();
    request.idleTimeout = requestTimeout;
    // Objects of up to 64 MiB may take longer than a minute in all; a stall still ends after one.
    request.totalTimeout = std::chrono::minutes(30);
    for (const auto& [name, value] : headers) request.setHeader(name, value);
    request.body = std::move(body);
    const std::string token = validAccessToken(cancel);
    request.setHeader("Authorization", "Bearer " + token);
    if (contentType)
        request.setHeader("Content-Type", *contentType);
    else
        request.removeHeader("Content-Type");
    return send(std::move(request), responseLimit, progress, cancel);
}

HttpResponse CloudflareConnection::send(HttpRequest request, std::int64_t responseLimit,
                                        const HttpClient::Progress& progress, std::stop_token cancel) {
    try {
        if (!http_) throw HttpError(HttpError::Kind::transport, HttpError::unknown);
        if (cancel.stop_requested()) throw TaskCancelled();
        S3Transfer transfer(*http_, progress, responseLimit, true);
        std::stop_callback onStop(cancel, [&transfer] { transfer.cancel(); });
        HttpResponse response = transfer.run(std::move(request));
        response.body = transfer.received();
        return response;
    } catch (...) {
        throw CloudflareFailure::from(std::current_exception());
    }
}

}  // namespace brevalto
