#include "Upload/CloudflareTokens.h"

#include "ClipCore/JsonReading.h"
#include "KeychainItems/KeychainAccess.h"
#include "Upload/CloudflareFailure.h"
#include "Upload/S3Signing.h"

#include <QDebug>

#include <cmath>
#include <ostream>
#include <set>

namespace brevalto {

namespace {

const char* const notRenewable =
    "Cloudflare did not grant renewable R2 access. Reconnect and approve the requested permissions.";

bool isTokenText(const std::string& token) {
    if (token.empty() || token.size() > CloudflareTokens::maxTokenBytes) return false;
    for (const char c : token)
        if (static_cast<unsigned char>(c) < 0x21 || static_cast<unsigned char>(c) > 0x7e) return false;
    return true;
}

std::string lowered(std::string text) {
    for (char& c : text)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return text;
}

}  // namespace

CloudflareTokens CloudflareTokens::decode(std::string_view body, const std::optional<std::string>& previousRefreshToken,
                                          Date now) {
    std::string access, type, scope;
    std::optional<std::string> refresh;
    double lifetime = 0;
    try {
        const json::Json reply = json::parse(body);
        json::requireObject(reply, "token reply");
        access = json::requireString(reply, "access_token");
        refresh = json::optionalString(reply, "refresh_token");
        lifetime = json::requireDouble(reply, "expires_in");
        type = json::requireString(reply, "token_type");
        scope = json::requireString(reply, "scope");
    } catch (const DecodingError&) {
        throw CloudflareFailure(notRenewable);
    }
    if (lowered(type) != "bearer") throw CloudflareFailure(notRenewable);
    if (!std::isfinite(lifetime) || lifetime < 1 || lifetime > maxLifetime) throw CloudflareFailure(notRenewable);
    std::set<std::string> scopes;
    for (std::size_t start = 0; start <= scope.size();) {
        const std::size_t end = std::min(scope.find(' ', start), scope.size());
        if (end > start) scopes.insert(scope.substr(start, end - start));
        start = end + 1;
    }
    for (const char* required : {"workers-r2.write", "account-settings.read", "offline_access"})
        if (!scopes.contains(required)) throw CloudflareFailure(notRenewable);
    if (!refresh) refresh = previousRefreshToken;
    if (!refresh) throw CloudflareFailure(notRenewable);
    CloudflareTokens tokens{std::move(access), std::move(*refresh), now + lifetime};
    tokens.validate();
    return tokens;
}

void CloudflareTokens::validate() const {
    if (!isTokenText(accessToken) || !isTokenText(refreshToken))
        throw CloudflareFailure("Cloudflare returned invalid credentials.");
    if (!std::isfinite(expiresAt)) throw CloudflareFailure("Invalid token expiry.");
}

std::string CloudflareTokens::toJson() const {
    json::Json out = json::Json::object();
    out["accessToken"] = accessToken;
    out["refreshToken"] = refreshToken;
    out["expiresAt"] = expiresAt;
    return out.dump();
}

CloudflareTokens CloudflareTokens::fromJson(std::string_view text) {
    const json::Json value = json::parse(text);
    json::requireObject(value, "tokens");
    return CloudflareTokens{json::requireString(value, "accessToken"), json::requireString(value, "refreshToken"),
                            json::requireDouble(value, "expiresAt")};
}

std::ostream& operator<<(std::ostream& out, const CloudflareTokens& tokens) { return out << tokens.description(); }

QDebug operator<<(QDebug debug, const CloudflareTokens& tokens) {
    return debug << QString::fromStdString(tokens.description());
}

CloudflareTokens CloudflareKeychain::load(KeychainAccess& keychain) const {
    const KeychainReadResult result = keychain.keychainRead(service, account);
    KeychainStatus status = result.status;
    if (status == keychainStatus::success && result.data && !result.data->empty() &&
        result.data->size() <= maxItemBytes) {
        std::optional<CloudflareTokens> tokens;
        try {
            tokens = CloudflareTokens::fromJson(
                std::string_view(reinterpret_cast<const char*>(result.data->data()), result.data->size()));
        } catch (const DecodingError&) {
        }
        if (tokens) {
            tokens->validate();
            return *tokens;
        }
    }
    throw CloudflareFailure("Connect Cloudflare to continue (keyring " + std::to_string(status) + ").");
}

void CloudflareKeychain::save(KeychainAccess& keychain, const CloudflareTokens& tokens) const {
    tokens.validate();
    const std::string text = tokens.toJson();
    // Tokens with many quote or backslash characters can encode past what load accepts: such an
    // item would be saved and then never read back, so it is not saved at all.
    if (text.size() > maxItemBytes)
        throw CloudflareFailure("Could not save Cloudflare tokens in the keyring (" + std::to_string(keychainStatus::param) + ").");
    const KeychainStatus status = keychain.keychainSave(KeychainData(text.begin(), text.end()), service, account);
    if (status != keychainStatus::success)
        throw CloudflareFailure("Could not save Cloudflare tokens in the keyring (" + std::to_string(status) + ").");
}

void CloudflareKeychain::remove(KeychainAccess& keychain) const {
    const KeychainStatus status = keychain.keychainDelete(service, account);
    if (status != keychainStatus::success && status != keychainStatus::itemNotFound)
        throw CloudflareFailure("Could not remove Cloudflare tokens from the keyring (" + std::to_string(status) + ").");
}

bool CloudflareKeychain::exists(KeychainAccess& keychain) const {
    return keychain.keychainExists(service, account) == keychainStatus::success;
}

std::string formBody(const std::map<std::string, std::string>& fields) {
    std::string body;
    for (const auto& [name, value] : fields) {
        if (!body.empty()) body.push_back('&');
        body += uriEncode(name, false) + "=" + uriEncode(value, false);
    }
    return body;
}

}  // namespace brevalto
