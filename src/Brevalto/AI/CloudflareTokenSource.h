#pragma once

#include <stop_token>
#include <string>

namespace brevalto {

// What the AI Gateway back-end needs of the Cloudflare connection: where its login is kept, and a
// current access token. The connection implements it.
class CloudflareTokenSource {
public:
    virtual ~CloudflareTokenSource() = default;

    // The keychain service under which the login's tokens are stored (account "oauth").
    virtual std::string keychainService() const = 0;
    // A current access token, renewed first when it is due. Blocks its caller (any thread but the
    // GUI thread); the connection's own failures are thrown as they are.
    virtual std::string validAccessToken(std::stop_token cancel) = 0;
};

}  // namespace brevalto
