// Against a real GNOME Keyring in a private D-Bus session (see tests/Support/with-keyring).
#include "KeychainItems/KeychainClient.h"
#include "KeychainItems/SecretServiceStore.h"
#include "Platform/Clock.h"
#include "Upload/CloudflareConnection.h"
#include "Upload/CloudflareFailure.h"

#include <gtest/gtest.h>

namespace brevalto {
namespace {

TEST(CloudflareKeychainKeyring, TheLoginLivesInOneItemUntilDisconnect) {
    SecretServiceStore store;
    KeychainClient keychain(store, "/nonexistent/brevalto-keychain");
    CloudflareConnection connection("app.brevalto.S3.Cloudflare", &keychain, nullptr, Clock::system());
    const CloudflareKeychain item{connection.keychainService()};
    EXPECT_FALSE(connection.connected());

    const CloudflareTokens tokens{"at-keyring", "rt-keyring", Clock::system().now() + 3600};
    item.save(keychain, tokens);
    EXPECT_TRUE(connection.connected());
    EXPECT_EQ(item.load(keychain), tokens);
    EXPECT_EQ(connection.validAccessToken({}), "at-keyring") << "an hour left: no renewal";
    // Without a network the revocation fails and the login stays.
    try {
        connection.disconnect({});
        ADD_FAILURE() << "disconnected without revoking";
    } catch (const CloudflareFailure& failure) {
        EXPECT_EQ(std::string(failure.what()), CloudflareFailure::requestFailedText);
    }
    EXPECT_TRUE(connection.connected());
    item.remove(keychain);
    EXPECT_FALSE(connection.connected());
    try {
        item.load(keychain);
        ADD_FAILURE() << "read a removed login";
    } catch (const CloudflareFailure& failure) {
        EXPECT_EQ(std::string(failure.what()), "Connect Cloudflare to continue (keyring -25300).");
    }
}

}  // namespace
}  // namespace brevalto
