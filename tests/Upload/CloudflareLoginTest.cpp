#include "FakeKeychain.h"
#include "Upload/CloudflareCallback.h"
#include "Upload/CloudflareFailure.h"
#include "Upload/CloudflareTokens.h"
#include "Platform/UrlComponents.h"

#include <gtest/gtest.h>

#include <sstream>

namespace brevalto {
namespace {

const char* const notRenewable =
    "Cloudflare did not grant renewable R2 access. Reconnect and approve the requested permissions.";
const char* const invalidCredentials = "Cloudflare returned invalid credentials.";

std::string failureOf(const std::function<void()>& call) {
    try {
        call();
    } catch (const CloudflareFailure& failure) {
        return failure.what();
    }
    return "";
}

std::string reply(const std::string& fields) {
    return "{\"access_token\":\"at-1\",\"token_type\":\"bearer\",\"scope\":\"workers-r2.write account-settings.read "
           "offline_access\"," +
           fields + "}";
}

TEST(CloudflareTokens, TokenRepliesAreCheckedBeforeAnythingIsStored) {
    const std::string big(16385, 'a');
    const struct {
        std::string body;
        std::optional<std::string> previous;
        std::string error;  // empty: accepted
    } cases[] = {
        {reply("\"expires_in\":3600,\"refresh_token\":\"rt-1\""), std::nullopt, ""},
        {reply("\"expires_in\":1,\"refresh_token\":\"rt-1\""), std::nullopt, ""},
        {reply("\"expires_in\":2592000,\"refresh_token\":\"rt-1\""), std::nullopt, ""},
        {reply("\"expires_in\":0.5,\"refresh_token\":\"rt-1\""), std::nullopt, notRenewable},
        {reply("\"expires_in\":2592001,\"refresh_token\":\"rt-1\""), std::nullopt, notRenewable},
        {reply("\"expires_in\":\"NaN\",\"refresh_token\":\"rt-1\""), std::nullopt, notRenewable},
        {"not json", std::nullopt, notRenewable},
        {"{\"access_token\":\"at\",\"token_type\":\"mac\",\"expires_in\":60,\"refresh_token\":\"r\",\"scope\":"
         "\"workers-r2.write account-settings.read offline_access\"}",
         std::nullopt, notRenewable},
        {"{\"access_token\":\"at\",\"token_type\":\"Bearer\",\"expires_in\":60,\"refresh_token\":\"r\",\"scope\":"
         "\"offline_access  account-settings.read workers-r2.write\"}",
         std::nullopt, ""},
        {"{\"access_token\":\"at\",\"token_type\":\"bearer\",\"expires_in\":60,\"refresh_token\":\"r\",\"scope\":"
         "\"workers-r2.write account-settings.read\"}",
         std::nullopt, notRenewable},
        // No refresh token: a login fails, a renewal keeps the one it had.
        {reply("\"expires_in\":60"), std::nullopt, notRenewable},
        {reply("\"expires_in\":60"), "rt-old", ""},
        {reply("\"expires_in\":60,\"refresh_token\":\"has space\""), std::nullopt, invalidCredentials},
        {reply("\"expires_in\":60,\"refresh_token\":\"" + big + "\""), std::nullopt, invalidCredentials},
        {reply("\"expires_in\":60,\"refresh_token\":\"" + big.substr(1) + "\""), std::nullopt, ""},
        {reply("\"expires_in\":60,\"refresh_token\":\"caf\\u00e9\""), std::nullopt, invalidCredentials},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.body.substr(0, 160));
        EXPECT_EQ(failureOf([&] { CloudflareTokens::decode(c.body, c.previous, 1000); }), c.error);
    }
    const CloudflareTokens kept = CloudflareTokens::decode(reply("\"expires_in\":60"), "rt-old", 1000);
    EXPECT_EQ(kept.refreshToken, "rt-old");
    EXPECT_EQ(kept.expiresAt, 1060);
    std::ostringstream printed;
    printed << kept;
    EXPECT_EQ(printed.str(), "Cloudflare tokens [redacted]");
}

TEST(CloudflareTokens, TheKeyringItemIsReadOnlyWhenItHoldsValidTokens) {
    FakeKeychain keychain;
    const CloudflareKeychain item{"app.brevalto.S3.Cloudflare"};
    EXPECT_EQ(failureOf([&] { item.load(keychain); }), "Connect Cloudflare to continue (keyring -25300).");
    const std::string valid = "{\"accessToken\":\"a\",\"refreshToken\":\"b\",\"expiresAt\":5}";
    keychain.put(item.service, "oauth", valid + std::string(65536 - valid.size(), ' '));
    EXPECT_EQ(item.load(keychain).accessToken, "a") << "65536 bytes are read";
    keychain.put(item.service, "oauth", valid + std::string(65537 - valid.size(), ' '));
    EXPECT_EQ(failureOf([&] { item.load(keychain); }), "Connect Cloudflare to continue (keyring 0).");
    keychain.put(item.service, "oauth", "{\"accessToken\":\"a\",\"refreshToken\":\"b\"}");
    EXPECT_EQ(failureOf([&] { item.load(keychain); }), "Connect Cloudflare to continue (keyring 0).");
    keychain.put(item.service, "oauth", "{\"accessToken\":\"a b\",\"refreshToken\":\"b\",\"expiresAt\":5}");
    EXPECT_EQ(failureOf([&] { item.load(keychain); }), invalidCredentials);

    const CloudflareTokens tokens{"at", "rt", 12.5};
    item.save(keychain, tokens);
    EXPECT_EQ(item.load(keychain), tokens);
    EXPECT_EQ(failureOf([&] { item.save(keychain, CloudflareTokens{"", "rt", 1}); }), invalidCredentials);
    EXPECT_EQ(item.load(keychain), tokens) << "a refused save keeps what was stored";
    // Two valid tokens of quotes encode to more than an item load reads: refused, nothing replaced.
    const std::string quotes(CloudflareTokens::maxTokenBytes, '"');
    EXPECT_EQ(failureOf([&] { item.save(keychain, CloudflareTokens{quotes, quotes, 1}); }),
              "Could not save Cloudflare tokens in the keyring (-50).");
    EXPECT_EQ(item.load(keychain), tokens);
    item.remove(keychain);
    item.remove(keychain);  // nothing stored is fine
    keychain.forced["delete"] = -25293;
    EXPECT_EQ(failureOf([&] { item.remove(keychain); }), "Could not remove Cloudflare tokens from the keyring (-25293).");
    keychain.forced["save"] = -128;
    EXPECT_EQ(failureOf([&] { item.save(keychain, tokens); }), "Could not save Cloudflare tokens in the keyring (-128).");
}

TEST(CloudflareTokens, FormBodiesAreSortedAndEncoded) {
    EXPECT_EQ(formBody({{"token", "a b/c~d-e"}, {"client_id", "x"}, {"token_type_hint", "access_token"}}),
              "client_id=x&token=a%20b%2Fc~d-e&token_type_hint=access_token");
}

TEST(CloudflareLogin, ChallengesFollowThePKCEExampleAndTheURLCarriesSevenItemsInOrder) {
    EXPECT_EQ(CloudflareLogin::codeChallenge("dBjftJeZ4CVP-mB92K27uhbUJU1p1r_wW1gFWFOEjXk"),
              "E9Melhoa2OwvFrEMTJguCHaoeK1t8URWbuGJSstw-cM");
    const std::string a = CloudflareLogin::makeChallenge(), b = CloudflareLogin::makeChallenge();
    EXPECT_EQ(a.size(), 43u);
    EXPECT_NE(a, b);
    EXPECT_EQ(a.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_"), std::string::npos);

    const std::string url = CloudflareLogin::authorizeURL("https://dash.cloudflare.com/oauth2", "STATE", "VERIFIER");
    EXPECT_EQ(url,
              "https://dash.cloudflare.com/oauth2/auth?client_id=5c1e08a9d47b36f2e90d18ab7f4c2653"
              "&redirect_uri=http://127.0.0.1:49167/oauth/callback&response_type=code&code_challenge_method=S256"
              "&code_challenge=" +
                  CloudflareLogin::codeChallenge("VERIFIER") +
                  "&state=STATE&scope=workers-r2.write%20account-settings.read%20aig.run%20offline_access");
    ASSERT_TRUE(UrlComponents::parse(url));
}

TEST(CloudflareLogin, RedirectsAreCheckedInOrder) {
    const std::string ok = "GET /oauth/callback?code=abc&state=S HTTP/1.1\r\nHost: 127.0.0.1:49167";
    const std::string code4096(4096, 'c');
    const struct {
        std::string head;
        std::string result;  // the code, or the failure's text
    } cases[] = {
        {ok, "abc"},
        {"GET /oauth/callback?state=S&code=abc HTTP/1.1\r\nHOST:\t127.0.0.1:49167 ", "abc"},
        {"GET /oauth/callback?code=abc&state=S HTTP/1.0\r\nHost: 127.0.0.1:49167", "Invalid login callback."},
        {"POST /oauth/callback?code=abc&state=S HTTP/1.1\r\nHost: 127.0.0.1:49167", "Invalid login callback."},
        {"GET /oauth/callbackx?code=abc&state=S HTTP/1.1\r\nHost: 127.0.0.1:49167", "Invalid login callback."},
        {"GET /oauth/callback?code=abc&state=S#f HTTP/1.1\r\nHost: 127.0.0.1:49167", "Invalid login callback."},
        {"GET /oauth/callback?code=abc&state=S HTTP/1.1\r\nHost: localhost:49167", "Invalid callback host."},
        {"GET /oauth/callback?code=abc&state=S HTTP/1.1", "Invalid callback host."},
        {ok + "\r\nhost: 127.0.0.1:49167", "Invalid callback host."},
        {"GET /oauth/callback?code=abc&state=T HTTP/1.1\r\nHost: 127.0.0.1:49167", "Login state mismatch."},
        {"GET /oauth/callback?code=abc HTTP/1.1\r\nHost: 127.0.0.1:49167", "Login state mismatch."},
        {"GET /oauth/callback?code=abc&state=S&state=S HTTP/1.1\r\nHost: 127.0.0.1:49167", "Login state mismatch."},
        {"GET /oauth/callback?error=access_denied&state=T HTTP/1.1\r\nHost: 127.0.0.1:49167", "Login state mismatch."},
        {"GET /oauth/callback?error=access_denied&state=S HTTP/1.1\r\nHost: 127.0.0.1:49167",
         "Cloudflare authorization was declined. Connect again when ready."},
        {"GET /oauth/callback?code=a&code=b&state=S HTTP/1.1\r\nHost: 127.0.0.1:49167", "Missing authorization code."},
        {"GET /oauth/callback?code=&state=S HTTP/1.1\r\nHost: 127.0.0.1:49167", "Missing authorization code."},
        {"GET /oauth/callback?code=" + code4096 + "&state=S HTTP/1.1\r\nHost: 127.0.0.1:49167", code4096},
        {"GET /oauth/callback?code=" + code4096 + "c&state=S HTTP/1.1\r\nHost: 127.0.0.1:49167",
         "Missing authorization code."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.head.substr(0, 120));
        std::string result;
        try {
            result = CloudflareCallback::parse(c.head, "S", 49167);
        } catch (const CloudflareFailure& failure) {
            result = failure.what();
        }
        EXPECT_EQ(result, c.result);
    }
}

}  // namespace
}  // namespace brevalto
