#include "FakeClock.h"
#include "FakeKeychain.h"
#include "LoginBrowser.h"
#include "LoopbackHttpServer.h"
#include "Platform/Linux/CurlHttpClient.h"
#include "Platform/Task.h"
#include "StandIns.h"
#include "TestFolder.h"
#include "Upload/CloudflareConnection.h"
#include "Upload/CloudflareFailure.h"

#include <gtest/gtest.h>

#include <future>
#include <thread>

namespace brevalto {
namespace {

using namespace std::chrono_literals;

const std::string service = "app.brevalto.S3.Cloudflare";

// The fake keyring shared by the threads of one test.
class LockedKeychain final : public KeychainAccess {
public:
    KeychainReadResult keychainRead(const std::string& s, const std::string& a) override {
        std::lock_guard g(lock);
        return inner.keychainRead(s, a);
    }
    KeychainStatus keychainExists(const std::string& s, const std::string& a) override {
        std::lock_guard g(lock);
        return inner.keychainExists(s, a);
    }
    KeychainStatus keychainDelete(const std::string& s, const std::string& a) override {
        std::lock_guard g(lock);
        return inner.keychainDelete(s, a);
    }
    KeychainStatus keychainSave(const KeychainData& d, const std::string& s, const std::string& a) override {
        std::lock_guard g(lock);
        return inner.keychainSave(d, s, a);
    }
    std::mutex lock;
    FakeKeychain inner;
};

using LoginBrowser::browse;
using LoginBrowser::connectTo;

std::string redirect(std::uint16_t port, const std::string& query) {
    return "GET /oauth/callback?" + query + " HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port) + "\r\n\r\n";
}

std::string statusLine(const std::string& answer) { return answer.substr(0, answer.find("\r\n")); }

TEST(CloudflareCallbackNet, ServesTheBrowserUntilOneValidRedirect) {
    CloudflareCallback callback("S", 0);
    const std::uint16_t port = callback.port();
    auto code = std::async(std::launch::async, [&] { return callback.wait({}); });

    // A head split over reads is assembled; a wrong state is answered 400 and the attempt goes on.
    const std::string wrong = redirect(port, "code=c1&state=T");
    const std::string denied = browse(port, {wrong.substr(0, 10), wrong.substr(10, 30), wrong.substr(40)});
    EXPECT_EQ(statusLine(denied), "HTTP/1.1 400 Bad Request");
    EXPECT_NE(denied.find("Invalid or declined login."), std::string::npos);
    EXPECT_EQ(denied.find("c1"), std::string::npos) << "the page shows no code or state";
    // A head over 16384 bytes is closed unanswered.
    EXPECT_EQ(browse(port, {"GET /oauth/callback?x=" + std::string(17 * 1024, 'a')}), "");
    // 32 idle connections are held; the 33rd is closed at once.
    std::vector<int> idle;
    for (int i = 0; i < 32; ++i) idle.push_back(connectTo(port));
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(browse(port, {redirect(port, "code=c2&state=S")}), "");
    for (int s : idle) ::close(s);
    std::this_thread::sleep_for(100ms);

    const std::string accepted = browse(port, {redirect(port, "code=the-code&state=S")});
    EXPECT_EQ(statusLine(accepted), "HTTP/1.1 200 OK");
    EXPECT_NE(accepted.find("Cache-Control: no-store\r\n"), std::string::npos);
    EXPECT_NE(accepted.find("\r\n\r\nAuthorization received. Return to Brevalto to check the connection."),
              std::string::npos);
    EXPECT_EQ(code.get(), "the-code");
    EXPECT_EQ(browse(port, {redirect(port, "code=again&state=S")}), "refused") << "the listener closed";
}

TEST(CloudflareCallbackNet, EndsOnDenialDeadlineCancelAndABusyPort) {
    const auto failure = [](CloudflareCallback& callback, const std::function<void()>& meanwhile) -> std::string {
        auto ended = std::async(std::launch::async, [&]() -> std::string {
            try {
                callback.wait({});
            } catch (const CloudflareFailure& f) {
                return f.what();
            } catch (const TaskCancelled&) {
                return "cancelled";
            }
            return "code";
        });
        meanwhile();
        return ended.get();
    };
    {
        CloudflareCallback callback("S", 0);
        EXPECT_EQ(failure(callback,
                          [&] {
                              EXPECT_EQ(statusLine(browse(callback.port(), {redirect(callback.port(), "error=x&state=S")})),
                                        "HTTP/1.1 400 Bad Request");
                          }),
                  "Cloudflare authorization was declined. Connect again when ready.");
    }
    {
        CloudflareCallback callback("S", 0, 200ms);
        EXPECT_EQ(failure(callback, [] {}), "Cloudflare login timed out. Connect again when ready.");
    }
    const std::uint16_t port = LoopbackHttpServer::closedPort();
    {
        CloudflareCallback callback("S", port);
        try {
            CloudflareCallback second("S", port);
            ADD_FAILURE() << "two listeners on one port";
        } catch (const CloudflareFailure& f) {
            EXPECT_EQ(std::string(f.what()), CloudflareCallback::cannotListenText);
        }
        EXPECT_EQ(failure(callback, [&] { callback.cancel(); }), "cancelled");
        EXPECT_EQ(browse(port, {redirect(port, "code=c&state=S")}), "refused");
    }
    CloudflareCallback browserFailed("S", port);  // the port is free again
    EXPECT_EQ(failure(browserFailed, [&] { browserFailed.cancel(CloudflareCallback::Cancel::browser); }),
              "Could not open the browser for Cloudflare login. Connect again when ready.");
}

class CloudflareConnectionNet : public ::testing::Test {
protected:
    CloudflareConnection make(const std::string& api, const std::string& oauth) {
        return CloudflareConnection(service, &keychain, &http, clock,
                                    CloudflareEndpoints{api, oauth, loginPort, std::chrono::seconds(20)});
    }
    CloudflareConnection::BrowserOpener browser() { return LoginBrowser::following(http, loginPort); }
    bool stored() { return keychain.inner.items.count({service, "oauth"}) > 0; }

    TestFolder folder;
    LockedKeychain keychain;
    CurlHttpClient http;
    FakeClock clock;
    std::uint16_t loginPort = LoopbackHttpServer::closedPort();
};

TEST_F(CloudflareConnectionNet, LogsInRenewsAndDisconnectsAgainstTheStandIn) {
    CloudflareStandIn cloudflare(folder.path() / "cloudflare.log", {QStringLiteral("--expires-in"), QStringLiteral("30")});
    CloudflareConnection connection = make(cloudflare.url("/client/v4"), cloudflare.url("/oauth2"));
    connection.setBrowserOpener(browser());
    connection.login({});
    ASSERT_TRUE(connection.connected());

    // The stand-in issues 30-second tokens: every call renews, and the old refresh token is spent.
    const std::string first = connection.validAccessToken({});
    const std::string second = connection.validAccessToken({});
    EXPECT_NE(first, second);
    EXPECT_TRUE(first.starts_with("at-"));

    connection.disconnect({});
    EXPECT_FALSE(stored());
    std::vector<std::string> forms;
    for (const auto& request : cloudflare.requests()) {
        if (request["form"].is_null()) continue;
        std::string names;
        for (const auto& [name, value] : request["form"].items()) names += name + " ";
        forms.push_back(request["path"].get<std::string>() + " " + names);
    }
    const std::vector<std::string> expected = {
        "/oauth2/token client_id code code_verifier grant_type redirect_uri ",
        "/oauth2/token client_id grant_type refresh_token ",
        "/oauth2/token client_id grant_type refresh_token ",
        "/oauth2/revoke client_id token token_type_hint ",
        "/oauth2/revoke client_id token token_type_hint ",
    };
    EXPECT_EQ(forms, expected);
}

TEST_F(CloudflareConnectionNet, TwoCallersShareOneRenewal) {
    LoopbackHttpServer server;
    ScriptedReply renewed = ScriptedReply::delayed(400ms);
    renewed.body = "{\"access_token\":\"at-new\",\"expires_in\":3600,\"token_type\":\"bearer\",\"scope\":"
                   "\"workers-r2.write account-settings.read offline_access\"}";
    server.enqueue(renewed);
    CloudflareConnection connection = make(server.url("/client/v4"), server.url("/oauth2"));
    CloudflareKeychain{service}.save(keychain, CloudflareTokens{"at-old", "rt-old", clock.now() + 60});
    auto a = std::async(std::launch::async, [&] { return connection.validAccessToken({}); });
    std::this_thread::sleep_for(100ms);
    auto b = std::async(std::launch::async, [&] { return connection.validAccessToken({}); });
    EXPECT_EQ(a.get(), "at-new");
    EXPECT_EQ(b.get(), "at-new");
    EXPECT_EQ(server.requestCount(), 1u);
    EXPECT_EQ(server.requests()[0].body, "client_id=5c1e08a9d47b36f2e90d18ab7f4c2653&grant_type=refresh_token&"
                                         "refresh_token=rt-old");
    const CloudflareTokens kept = CloudflareKeychain{service}.load(keychain);
    EXPECT_EQ(kept.refreshToken, "rt-old") << "a renewal without a refresh token keeps the old one";
    clock.advance(3600 - 61);
    EXPECT_EQ(connection.validAccessToken({}), "at-new") << "61 s left: no renewal";
    EXPECT_EQ(server.requestCount(), 1u);
}

TEST_F(CloudflareConnectionNet, RefusedExchangesKeepWhatIsStoredAndShowNoContent) {
    LoopbackHttpServer server;
    CloudflareConnection connection = make(server.url("/client/v4"), server.url("/oauth2"));
    const auto failure = [](const std::function<void()>& call) -> std::string {
        try {
            call();
        } catch (const CloudflareFailure& f) {
            return f.what();
        }
        return "";
    };
    // Paths outside the accounts are refused before the keyring is read (it is empty here).
    for (const char* path : {"/user", "/accounts/../user", "/accounts#x", "/accounts/a b"})
        EXPECT_EQ(failure([&] { connection.apiRequest(path, "GET", nullptr, {}, 1024, {}, {}, {}); }),
                  "Invalid Cloudflare API destination.")
            << path;
    EXPECT_EQ(failure([&] { connection.apiRequest("/accounts", "GET", nullptr, {}, 1024, {}, {}, {}); }),
              "Connect Cloudflare to continue (keyring -25300).");

    const CloudflareTokens tokens{"at-1", "rt-1", clock.now() + 3600};
    CloudflareKeychain{service}.save(keychain, tokens);
    server.enqueue(ScriptedReply::answering(200));
    server.enqueue(ScriptedReply::answering(400));
    EXPECT_EQ(failure([&] { connection.disconnect({}); }),
              "Cloudflare could not revoke this session. Retry Disconnect; local tokens are retained.");
    EXPECT_TRUE(stored());

    // A token reply over 64 KiB is cut off; a refused renewal names only its status.
    ScriptedReply huge = ScriptedReply::withBody(std::string(10 * 1024 * 1024, ' '));
    server.enqueue(huge);
    EXPECT_EQ(failure([&] { connection.exchangeCode("c", "v", {}); }), CloudflareFailure::requestFailedText);
    ScriptedReply refused = ScriptedReply::answering(401);
    refused.body = "{\"error\":\"secret detail\"}";
    server.enqueue(refused);
    EXPECT_EQ(failure([&] { connection.exchangeCode("c", "v", {}); }),
              "Cloudflare login could not be renewed (HTTP 401). Reconnect; existing uploads are preserved.");

    // An endpoint that never answers ends with the cancel.
    server.enqueue(ScriptedReply::stalled());
    std::stop_source stop;
    auto stalled = std::async(std::launch::async, [&] { return failure([&] { connection.exchangeCode("c", "v", stop.get_token()); }); });
    std::this_thread::sleep_for(200ms);
    stop.request_stop();
    EXPECT_EQ(stalled.get(), CloudflareFailure::cancelledText);
    EXPECT_EQ(CloudflareKeychain{service}.load(keychain), tokens);
}

}  // namespace
}  // namespace brevalto
