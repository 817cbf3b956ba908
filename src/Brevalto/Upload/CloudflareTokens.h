#pragma once

#include "ClipCore/ReferenceDate.h"

#include <iosfwd>
#include <map>
#include <optional>
#include <string>
#include <string_view>

class QDebug;

namespace brevalto {

class KeychainAccess;

// The OAuth client of the app and the redirect its login listens for.
inline constexpr std::string_view cloudflareClientID = "5c1e08a9d47b36f2e90d18ab7f4c2653";
inline constexpr std::string_view cloudflareRedirectURL = "http://127.0.0.1:49167/oauth/callback";
// The root of the OAuth endpoints: "/auth", "/token" and "/revoke" follow it.
inline constexpr std::string_view cloudflareOAuthBaseURL = "https://dash.cloudflare.com/oauth2";

// A Cloudflare login. Printed, logged or described it only reads "Cloudflare tokens [redacted]".
struct CloudflareTokens {
    std::string accessToken;
    std::string refreshToken;
    Date expiresAt = 0;

    static constexpr std::size_t maxTokenBytes = 16384;
    static constexpr double maxLifetime = 2592000;  // 30 days

    // The token endpoint's reply: a bearer token with a lifetime of 1 s to 30 days and the R2,
    // account and offline scopes; without a refresh token in the reply the previous one stays.
    // Throws CloudflareFailure.
    static CloudflareTokens decode(std::string_view body, const std::optional<std::string>& previousRefreshToken,
                                   Date now);
    // Both tokens 1...16384 printable ASCII bytes without space; a finite expiry.
    void validate() const;

    std::string description() const { return "Cloudflare tokens [redacted]"; }
    std::string toJson() const;
    // Throws DecodingError.
    static CloudflareTokens fromJson(std::string_view text);

    friend bool operator==(const CloudflareTokens&, const CloudflareTokens&) = default;
};

std::ostream& operator<<(std::ostream& out, const CloudflareTokens& tokens);
QDebug operator<<(QDebug debug, const CloudflareTokens& tokens);

// Where the login lives: a keyring item of `service`, account "oauth". Throws CloudflareFailure.
struct CloudflareKeychain {
    std::string service;
    static constexpr const char* account = "oauth";
    static constexpr std::size_t maxItemBytes = 65536;

    CloudflareTokens load(KeychainAccess& keychain) const;
    void save(KeychainAccess& keychain, const CloudflareTokens& tokens) const;
    // A missing item counts as removed.
    void remove(KeychainAccess& keychain) const;
    bool exists(KeychainAccess& keychain) const;
};

// A form body: the fields by name, each name and value URI-encoded (slashes too), "name=value"
// joined with "&".
std::string formBody(const std::map<std::string, std::string>& fields);

}  // namespace brevalto
