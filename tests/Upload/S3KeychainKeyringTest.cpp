// Against a real GNOME Keyring in a private D-Bus session (see tests/Support/with-keyring).
#include "KeychainItems/KeychainClient.h"
#include "KeychainItems/SecretServiceStore.h"
#include "Upload/S3Failure.h"
#include "Upload/S3Keychain.h"

#include <gtest/gtest.h>

namespace brevalto {
namespace {

std::string outcome(const std::function<void()>& action) {
    try {
        action();
        return "ok";
    } catch (const S3Failure& failure) {
        return failure.what();
    }
}

TEST(S3KeychainKeyring, KeysAreSavedReadAndRemovedPerDestination) {
    SecretServiceStore store;
    KeychainClient keychain(store, "/nonexistent/brevalto-keychain");
    const S3Keychain at;
    const std::string account = S3Settings{}.identity(), secret = "wJalrXUtnFEMI/K7MDENG+bPxRfiCY";
    auto read = [&] { return at.load(keychain, account); };

    EXPECT_EQ(outcome(read), S3Failure::credentials(-25300).what());
    at.save(keychain, {"AKIDFIRST", secret}, account);
    at.save(keychain, {"AKIDOTHER", secret}, account);
    EXPECT_EQ(read(), (S3Credentials{"AKIDOTHER", secret}));
    const auto raw = keychain.keychainRead("app.brevalto.S3", account).data.value();
    EXPECT_EQ(std::string(raw.begin(), raw.end()), R"({"accessKey":"AKIDOTHER","secretKey":")" + secret + "\"}");

    // Items that are not keys read as undecodable; bad keys and bad locations are never stored.
    for (const std::string item : {R"({"token":"x"})", R"({"accessKey":"A","secretKey":"0123456789abcdef"}                )"}) {
        const std::string stored = item.size() > 20 ? item + std::string(8192 - item.size() + 1, ' ') : item;
        ASSERT_EQ(keychain.keychainSave(KeychainData(stored.begin(), stored.end()), at.service, account), 0);
        EXPECT_EQ(outcome(read), S3Failure::credentials(-26275).what());
    }
    at.remove(keychain, account);
    at.remove(keychain, account);  // nothing left to remove is fine
    const std::string badLocation = "Invalid Keychain service or account.";
    EXPECT_EQ(outcome([&] { at.save(keychain, {"AKID", secret}, account.substr(1)); }), badLocation);
    EXPECT_EQ(outcome([&] { S3Keychain{"app.brevalto.S3\n"}.save(keychain, {"AKID", secret}, account); }), badLocation);
    EXPECT_EQ(outcome([&] { S3Keychain{std::string(201, 'a')}.load(keychain, account); }), badLocation);
    EXPECT_NE(outcome([&] { at.save(keychain, {"AKID", "short"}, account); }), "ok");
    EXPECT_EQ(keychain.keychainExists(at.service, account), -25300);
}

}  // namespace
}  // namespace brevalto
