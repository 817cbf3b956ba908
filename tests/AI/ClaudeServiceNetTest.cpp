#include "AI/ClaudeService.h"
#include "Errors/AIError.h"
#include "FakeKeychain.h"
#include "LoopbackHttpServer.h"
#include "Platform/Linux/CurlHttpClient.h"
#include "Platform/Linux/PosixChildProcessRunner.h"
#include "Platform/Task.h"
#include "RecordingSleeper.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace brevalto {
namespace {

using namespace std::string_literals;
const std::string account = "0123456789abcdef0123456789abcdef";

ScriptedReply body(std::string text) { return ScriptedReply::withBody(std::move(text)); }
ScriptedReply reply(const std::string& blocks, const char* stop = "end_turn") {
    return body(R"({"content":[)" + blocks + R"(],"stop_reason":")" + stop + R"("})");
}
ScriptedReply status(int code, std::string retryAfter = "") {
    ScriptedReply r = ScriptedReply::answering(code);
    if (!retryAfter.empty()) r.headers.emplace_back("Retry-After", retryAfter);
    r.body = R"({"error":{"message":"SECRET in the body"}})";
    return r;
}
// A reply of exactly `size` bytes whose one text is all 'z'.
std::string sized(std::size_t size) {
    const std::string head = R"({"content":[{"type":"text","text":")", tail = R"("}]})";
    return head + std::string(size - head.size() - tail.size(), 'z') + tail;
}

class FakeCloudflare final : public CloudflareTokenSource {
public:
    std::string keychainService() const override { return "app.brevalto.S3.Cloudflare"; }
    std::string validAccessToken(std::stop_token) override {
        if (!failure.empty()) throw std::runtime_error(failure);
        return "cf-TOKEN";
    }
    std::string failure;
};

// The service over a loopback server, with a stored key and Cloudflare login. Every helper
// returns the result or the AIError text, which never holds the key or a reply body.
struct Harness {
    explicit Harness(std::vector<ScriptedReply> replies = {})
        : service(keychain, http, processes, sleeper, {server.url("/a/v1/"), server.url("/g/v1/")}) {
        for (auto& r : replies) server.enqueue(std::move(r));
        keychain.put(ClaudeService::apiKeyService(), "api-key", "sk-ant-SECRET");
        keychain.put("app.brevalto.S3.Cloudflare", "oauth", "login");
        service.setCloudflare(&cloudflare);
        settings.gateway = " gw_1 ";
        settings.accountID = account;
    }
    std::string outcome(const std::function<std::string()>& call) {
        try {
            return call();
        } catch (const AIError& error) {
            EXPECT_EQ(std::string(error.what()).find("SECRET"), std::string::npos);
            return "error: "s + error.what();
        } catch (const std::exception& error) {
            return "other: "s + error.what();
        }
    }
    std::string complete(std::optional<std::string> provider = {}) {
        settings.provider = std::move(provider);
        return outcome([&] { return service.complete(settings, "Sys", {textBlock("one"), pngImageBlock("iVBO")}, {}); });
    }
    std::string models(std::optional<std::string> provider = {}) {
        return outcome([&] {
            std::string list;
            for (const AIModel& m : service.listModels(settings, provider, {})) list += m.id + "=" + m.name.value_or("-") + ";";
            return list;
        });
    }
    // The gateway URL that the request builder makes, or why it refused.
    std::string gateway(const std::string& id, std::optional<std::string> accountID = account) {
        settings.gateway = id;
        settings.accountID = std::move(accountID);
        return outcome([&] { return service.request("messages", "cloudflare", settings, {}).url; });
    }
    std::string key(std::optional<std::string> provider = {}) {
        return outcome([&] { return *service.request("messages", provider, settings, {}).header("x-api-key"); });
    }
    std::string keyCall(const std::function<void()>& call) { return outcome([&] { return call(), "(done)"s; }); }

    LoopbackHttpServer server;
    FakeKeychain keychain;
    CurlHttpClient http;
    PosixChildProcessRunner processes;
    RecordingSleeper sleeper;
    FakeCloudflare cloudflare;
    ClaudeService service;
    ClaudeSettings settings;
};

TEST(ClaudeServiceNet, EachBackEndSendsItsRequest) {
    Harness h({reply(R"({"type":"text","text":" a"},{"type":"tool_use"},{"type":"text","text":"b "})"),
               reply(R"({"type":"text","text":"hola"})")});
    h.settings.model = "  claude-x \n";
    EXPECT_EQ(h.complete(), " a\nb ");
    EXPECT_EQ(h.complete("cloudflare"), "hola");

    const auto requests = h.server.requests();
    ASSERT_EQ(requests.size(), 2u);
    const auto expected = nlohmann::json::parse(R"({"model":"claude-x","max_tokens":8192,"system":"Sys",
        "messages":[{"role":"user","content":[{"type":"text","text":"one"},
        {"type":"image","source":{"type":"base64","media_type":"image/png","data":"iVBO"}}]}]})");
    auto auth = [](const ReceivedRequest& r) {
        return r.header("x-api-key").value_or("-") + " " + r.header("cf-aig-authorization").value_or("-");
    };
    for (const ReceivedRequest& r : requests) {
        EXPECT_EQ(nlohmann::json::parse(r.body), expected);
        EXPECT_EQ(r.method + r.header("Content-Type").value_or("") + r.header("anthropic-version").value_or(""),
                  "POSTapplication/json2023-06-01");
    }
    EXPECT_EQ(requests[0].target + " " + auth(requests[0]), "/a/v1/messages sk-ant-SECRET -");
    EXPECT_EQ(requests[1].target + " " + auth(requests[1]), "/g/v1/" + account + "/gw_1/anthropic/v1/messages - Bearer cf-TOKEN");
}

TEST(ClaudeServiceNet, OverloadIsRetriedTwiceThenReportedWithItsHint) {
    const std::string ok = R"({"type":"text","text":"ok"})";
    const std::vector<std::tuple<std::vector<ScriptedReply>, std::vector<double>, std::string>> cases = {
        {{status(429), status(429), status(429)}, {1, 2}, "error: Claude HTTP 429. Rate limit reached. Wait a moment and try again."},
        {{status(529), status(529), status(529)}, {1, 2}, "error: Claude HTTP 529. The service is failing. Try again later."},
        {{status(503, "10"), status(503, "1.5"), reply(ok)}, {5, 1.5}, "ok"},
        {{status(429, "-3"), status(529, "Wed, 21 Oct 2026 07:28:00 GMT"), status(503)}, {0, 2},
         "error: Claude HTTP 503. The service is failing. Try again later."},
        {{status(500), reply(ok)}, {}, "error: Claude HTTP 500. The service is failing. Try again later."},
    };
    for (const auto& [replies, waits, outcome] : cases) {
        Harness h(replies);
        EXPECT_EQ(h.complete(), outcome);
        EXPECT_EQ(h.sleeper.delays(), waits) << outcome;
        EXPECT_EQ(h.server.requestCount(), waits.size() + 1) << outcome;
    }
    // Only a whole plain number counts; anything else waits attempt + 1 seconds.
    for (const char* header : {" 1", "1s", "inf", "nan", "++1", ""}) EXPECT_EQ(ClaudeService::retryDelay(header, 1), 2);
    EXPECT_EQ(ClaudeService::retryDelay("+2", 0), 2);
}

TEST(ClaudeServiceNet, FailingRepliesGiveTheirMessages) {
    const std::vector<std::pair<ScriptedReply, std::string>> cases = {
        {status(400), "Claude HTTP 400. Check the model ID or content size."},
        {status(401), "Claude HTTP 401. Check the API key and model access."},
        {status(599), "Claude HTTP 599. The service is failing. Try again later."},
        {status(418), "Claude HTTP 418. The request failed."},
        {ScriptedReply::answering(302, {{"Location", "http://127.0.0.1:1/"}}), "Claude HTTP 302. The request failed."},
        {ScriptedReply::rawBytes("SSH-2.0-x\r\n\r\n"), "Invalid response."},
        {body("not json SECRET"), "Claude returned an invalid response format."},
        {body(R"({"content":[{"type":7}]})"), "Claude returned an invalid response format."},
        {reply(R"({"type":"image"},{"type":"text","text":" \n\t"})"), "Claude returned no text content."},
        {reply(R"({"type":"text","text":")" + std::string(100'000, 'y') + R"("})", "max_tokens"),
         "The result exceeds the limit. Split the text and try again."},
        {body(sized(ClaudeService::maxResponseBytes + 1)), "Claude response exceeds 4 MiB."},
        {ScriptedReply::declaring(std::int64_t{1} << 40), "Claude response exceeds 4 MiB."},
    };
    for (const auto& [r, message] : cases) {
        Harness h({r});
        EXPECT_EQ(h.complete(), "error: " + message);
        EXPECT_EQ(h.server.requestCount(), 1u) << message;
    }
    const std::string exactly = sized(ClaudeService::maxResponseBytes);
    Harness h({body(exactly)});
    EXPECT_EQ(h.complete(), std::string(std::count(exactly.begin(), exactly.end(), 'z'), 'z'));
}

TEST(ClaudeServiceNet, ModelListIsCheckedAndCapped) {
    const std::string format = "error: The model list has an invalid format.";
    const std::vector<std::pair<ScriptedReply, std::string>> cases = {
        {body(R"({"data":[{"id":"c-a","display_name":"C A","type":"model"},{"id":"c-b"}],"has_more":false})"),
         "c-a=C A;c-b=-;"},
        {body(R"({"models":[]})"), format},
        {body(sized(ClaudeService::maxResponseBytes + 1)), format},
        {status(529), "error: Could not list models (HTTP 529). Check the key or connection."},
        {ScriptedReply::rawBytes("garbage\r\n\r\n"), "error: Could not list models (HTTP 0). Check the key or connection."},
    };
    for (const auto& [r, outcome] : cases) {
        Harness h({r});
        EXPECT_EQ(h.models(), outcome);
        ASSERT_EQ(h.server.requestCount(), 1u) << outcome;
        EXPECT_EQ(h.server.requests()[0].method + " " + h.server.requests()[0].target, "GET /a/v1/models?limit=1000");
    }
    Harness h({body(R"({"data":[{"id":"c-g"}]})")});
    EXPECT_EQ(h.models("cloudflare"), "c-g=-;");
    EXPECT_EQ(h.server.requests()[0].target, "/g/v1/" + account + "/gw_1/anthropic/v1/models?limit=1000");
    EXPECT_EQ(h.models("claudeCode"), "default=-;sonnet=-;opus=-;haiku=-;sonnet[1m]=-;opusplan=-;");
    EXPECT_EQ(h.server.requestCount(), 1u);
}

TEST(ClaudeServiceNet, SettingsAndCredentialsAreCheckedBeforeAnythingIsSent) {
    Harness h;
    for (std::string blank : {"", " \n\t"}) EXPECT_EQ(h.gateway(blank), "error: Enter an AI Gateway ID in Settings > Cloudflare.");
    for (std::string bad : {"my.gateway"s, "my gateway"s, "caf\xC3\xA9"s, "gw/../x"s, std::string(65, 'a')})
        EXPECT_EQ(h.gateway(bad), "error: Invalid AI Gateway ID.") << bad;
    const std::string longest = "Gate_way-" + std::string(55, '9');
    EXPECT_EQ(h.gateway(" " + longest + "\n"), h.server.url("/g/v1/") + account + "/" + longest + "/anthropic/v1/messages");
    for (std::optional<std::string> bad : {std::optional<std::string>{}, {"0123456789ABCDEF0123456789abcdef"}, {account + "0"}})
        EXPECT_EQ(h.gateway("gw", bad), "error: Select a Cloudflare account in Settings > Cloudflare.");
    h.keychain.forced["exists"] = keychainStatus::serviceNotAvailable;  // checked before the account
    EXPECT_EQ(h.gateway("gw", std::nullopt), "error: Connect Cloudflare in Settings > Cloudflare to use AI Gateway.");
    h.keychain.forced.clear();
    h.cloudflare.failure = "renewal failed";
    EXPECT_EQ(h.gateway("gw"), "other: renewal failed");
    h.service.setCloudflare(nullptr);
    EXPECT_EQ(h.gateway("gw"), "error: Connect Cloudflare in Settings > Cloudflare to use AI Gateway.");

    h.settings.model = " \n ";
    for (std::string provider : {"claudeCode", "anthropic"}) EXPECT_EQ(h.complete(provider), "error: Enter a model ID in Settings.");
    std::stop_source stop;
    stop.request_stop();
    EXPECT_THROW(h.service.complete({}, "s", {}, stop.get_token()), TaskCancelled);
    EXPECT_EQ(h.server.requestCount(), 0u);
}

TEST(ClaudeServiceNet, TheAPIKeyLivesInTheKeychain) {
    Harness h;
    const std::pair<std::string, std::string> item{"app.brevalto.Claude", "api-key"};
    EXPECT_EQ(h.keyCall([&] { h.service.saveAPIKey("  sk-ant-SECRET2\n"); }), "(done)");
    EXPECT_EQ(h.key("Cloudflare"), "sk-ant-SECRET2");
    for (std::string bad : {"", " \n ", "sk-ant\nSECRET", "sk-ant\rSECRET"})
        EXPECT_EQ(h.keyCall([&] { h.service.saveAPIKey(bad); }), "error: Invalid API key.");
    h.keychain.forced["save"] = -25308;
    EXPECT_EQ(h.keyCall([&] { h.service.saveAPIKey("sk-ant-SECRET3"); }), "error: Could not save the key in the keyring (-25308).");

    h.keychain.put(item.first, item.second, "SECRET\xFF");
    EXPECT_EQ(h.key(), "error: Could not read the key from the keyring (0).");
    for (KeychainStatus forced : {keychainStatus::serviceNotAvailable, keychainStatus::success}) {
        h.keychain.forced["read"] = forced;
        EXPECT_EQ(h.key(), "error: Could not read the key from the keyring (" + std::to_string(forced) + ").");
    }
    h.keychain.forced.clear();
    for (int i = 0; i < 2; ++i) EXPECT_EQ(h.keyCall([&] { h.service.removeAPIKey(); }), "(done)");
    EXPECT_FALSE(h.keychain.items.count(item));
    EXPECT_EQ(h.key(), "error: Enter a Claude API key in Settings first.");
    h.keychain.forced["delete"] = -25308;
    EXPECT_EQ(h.keyCall([&] { h.service.removeAPIKey(); }), "error: Could not remove the key (-25308).");
    EXPECT_EQ(h.server.requestCount(), 0u);
}

}  // namespace
}  // namespace brevalto
