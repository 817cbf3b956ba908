// Against a real GNOME Keyring in a private D-Bus session (see tests/Support/with-keyring).
#include "KeychainItems/KeychainClient.h"
#include "KeychainItems/SecretServiceStore.h"
#include "Upload/S3Failure.h"
#include "Upload/S3Keychain.h"

#include <gtest/gtest.h>

namespace brevalto {
namespace {

TEST(S3KeychainKeyring, KeysAreSavedReadAndRemovedPerDestination) {
    SecretServiceStore store;
    KeychainClient keychain(store, "/nonexistent/brevalto-keychain");
    const S3Keychain at;
    const std::string account = S3Settings{}.identity(), secret = "wJalrXUtnFEMI/K7MDENG+bPxRfiCY";
    auto failure = [&](const std::function<void()>& action) {
        try {
            action();
        } catch (const S3Failure& failure) {
            return std::string(failure.what());
        }
        return std::string("ok");
    };    auto load = [&] { return at.load(keychain, account); };

    EXPECT_EQ(failure(load), S3Failure::credentials(-25300).what());
    at.save(keychain, {"AKIDOTHER", secret}, account);
    EXPECT_EQ(load(), (S3Credentials{"AKIDOTHER", secret}));
    // Items that are not keys read as undecodable, an oversized one included.
    const std::string keys = R"({"accessKey":"A","secretKey":"0123456789abcdef"})";
    for (const std::string& item : {std::string(R"({"token":"x"})"), keys + std::string(8193 - keys.size(), ' ')}) {
        ASSERT_EQ(keychain.keychainSave(KeychainData(item.begin(), item.end()), at.service, account), 0);
        EXPECT_EQ(failure(load), S3Failure::credentials(-26275).what());
    }
    at.remove(keychain, account);
    at.remove(keychain, account);  // nothing left to remove is fine
    EXPECT_EQ(failure([&] { at.save(keychain, {"AKID", secret}, account.substr(1)); }), "Invalid keyring service or account.");
    EXPECT_EQ(keychain.keychainExists(at.service, account), -25300);
}

}  // namespace
}  // namespace brevalto
