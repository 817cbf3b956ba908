#pragma once

#include "Platform/HttpClient.h"
#include "Upload/CloudflareCallback.h"
#include "Upload/CloudflareTokens.h"
#include "Upload/S3Settings.h"

#include <cstdint>
#include <functional>
#include <future>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <stop_token>
#include <string>

namespace brevalto {

class Clock;
class KeychainAccess;

// Where the connection reaches Cloudflare: the REST API, the OAuth endpoints and the login's
// listener (tests point them at loopback stand-ins).
struct CloudflareEndpoints {
    std::string api = std::string(cloudflareAPIBaseURL);
    std::string oauth = std::string(cloudflareOAuthBaseURL);
    std::uint16_t loginPort = CloudflareCallback::defaultPort;
    std::chrono::milliseconds loginDeadline = std::chrono::seconds(180);
};

// The app's one authenticated link to the user's Cloudflare account: the browser login, the
// tokens in the keyring (renewed when they are about to expire, one renewal shared by every
// caller), requests to the REST API under "/accounts" and the revocation on disconnect. Every
// operation blocks its caller (a worker thread, never the GUI thread) and may run on any thread.
// Failures are CloudflareFailure, or TaskCancelled when the caller's stop token ended the work.
class CloudflareConnection {
public:
    // Opens the URL in the browser; calls `failed` (on any thread) when that did not work.
    using BrowserOpener = std::function<void(const std::string& url, std::function<void()> failed)>;

    using Endpoints = CloudflareEndpoints;

    static constexpr std::int64_t tokenReplyLimit = 65536;
    static constexpr int renewalMargin = 60;  // seconds

    CloudflareConnection(std::string keychainService, KeychainAccess* keychain, HttpClient* http, const Clock& clock,
                         Endpoints endpoints = {});

    const std::string& keychainService() const { return keychain_.service; }
    const Endpoints& endpoints() const { return endpoints_; }
    void setBrowserOpener(BrowserOpener opener) { opener_ = std::move(opener); }
    // Whether the keyring holds a login.
    bool connected() const;
    // Throws the keyring's sentence unless a readable login is stored; sends nothing.
    void requireLogin() const;

    // Opens the authorization page, waits for the redirect, exchanges the code and stores the tokens.
    void login(std::stop_token cancel);
    // A token valid for more than another minute, renewed first when needed.
    std::string validAccessToken(std::stop_token cancel);
    // Renews with the refresh token and stores the result.
    CloudflareTokens refresh(const CloudflareTokens& stored, std::stop_token cancel);
    CloudflareTokens exchangeCode(const std::string& code, const std::string& verifier, std::stop_token cancel);
    // Revokes the access and then the refresh token, then removes the keyring item; a refused
    // revocation keeps the item.
    void disconnect(std::stop_token cancel);

    // An authorised request for a path under "/accounts" of the API. The status is the caller's
    // to check; the body is in the response.
    HttpResponse apiRequest(const std::string& path, const std::string& method,
                            std::shared_ptr<const std::string> body, const std::optional<std::string>& contentType,
                            std::int64_t responseLimit, const HttpHeaders& headers,
                            const HttpClient::Progress& progress, std::stop_token cancel);
    // One exchange through an S3 transfer with the limit; failures mapped by CloudflareFailure::from.
    HttpResponse send(HttpRequest request, std::int64_t responseLimit, const HttpClient::Progress& progress,
                      std::stop_token cancel);

private:
    CloudflareTokens tokenRequest(std::map<std::string, std::string> fields,
                                  const std::optional<std::string>& previousRefreshToken, std::stop_token cancel);
    KeychainAccess& keychain() const;
    std::string oauthURL(const char* endpoint) const;

    CloudflareKeychain keychain_;
    KeychainAccess* keychainAccess_;
    HttpClient* http_;
    const Clock& clock_;
    Endpoints endpoints_;
    BrowserOpener opener_;

    std::mutex lock_;
    std::optional<std::shared_future<CloudflareTokens>> renewal_;
};

}  // namespace brevalto
