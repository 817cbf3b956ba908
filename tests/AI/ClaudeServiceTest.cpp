#include "AI/ClaudeService.h"
#include "Errors/AIError.h"
#include "FakeKeychain.h"
#include "Platform/Defaults.h"
#include "Platform/Task.h"
#include "RecordingSleeper.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace brevalto {
namespace {

const std::string account = "0123456789abcdef0123456789abcdef";

// An HTTP client that must never be reached: the checks before a request fail first.
class UnreachableHttp final : public HttpClient {
public:
    HttpResponse send(const HttpRequest&, std::stop_token, const Progress&) override {
        ++sent;
        throw std::logic_error("no request expected");
    }
    int sent = 0;
};

// Records the run it is asked for and answers with a prepared result.
class ScriptedRunner final : public ChildProcessRunner {
public:
    ChildProcessResult run(const ChildProcessRequest& request, std::stop_token) override {
        requests.push_back(request);
        if (launchFailure) throw ChildProcessLaunchError(*launchFailure);
        return result;
    }
    std::vector<ChildProcessRequest> requests;
    ChildProcessResult result;
    std::optional<std::string> launchFailure;
};

class FakeCloudflare final : public CloudflareTokenSource {
public:
    std::string keychainService() const override { return "app.brevalto.Test.Cloudflare"; }
    std::string validAccessToken(std::stop_token) override {
        ++calls;
        if (failure) throw std::runtime_error(*failure);
        return "token";
    }
    int calls = 0;
    std::optional<std::string> failure;
};

struct Fixture {
    Fixture() : service(keychain, http, runner, sleeper, {"https://a.test/v1/", "https://g.test/v1/"}) {
        service.setCloudflare(&cloudflare);
        keychain.put("app.brevalto.Test.Cloudflare", "oauth", "login");
    }
    std::string failure(const std::function<void()>& call) {
        try {
            call();
        } catch (const AIError& error) {
            return error.what();
        } catch (const std::exception& error) {
            return std::string("other: ") + error.what();
        }
        return "(no failure)";
    }
    std::string requestFailure(const ClaudeSettings& settings) {
        return failure([&] { service.request("messages", "cloudflare", settings, {}); });
    }

    FakeKeychain keychain;
    UnreachableHttp http;
    ScriptedRunner runner;
    RecordingSleeper sleeper;
    FakeCloudflare cloudflare;
    ClaudeService service;
};

TEST(ClaudeService, RetryAfterIsAPlainNumberClampedToFiveSeconds) {
    struct Case {
        std::optional<std::string> header;
        int attempt;
        double wait;
    };
    const std::vector<Case> cases = {
        {std::nullopt, 0, 1}, {std::nullopt, 1, 2}, {"10", 0, 5},   {"-3", 0, 0},     {"1.5", 1, 1.5},
        {"+2", 0, 2},         {" 1", 1, 2},         {"1 ", 0, 1},   {"1s", 0, 1},     {"", 1, 2},
        {"inf", 0, 1},        {"nan", 1, 2},        {"1e9", 0, 5},  {"0", 1, 0},      {"Wed, 21 Oct 2026 07:28:00 GMT", 0, 1},
        {"++1", 0, 1},        {"-0.5", 1, 0},
    };
    for (const Case& c : cases)
        EXPECT_DOUBLE_EQ(ClaudeService::retryDelay(c.header, c.attempt), c.wait) << c.header.value_or("(none)");
}

TEST(ClaudeService, SettingsAreReadWithTheirDefaults) {
    Defaults defaults;
    ClaudeSettings plain = ClaudeSettings::read(defaults);
    EXPECT_EQ(plain.model, "claude-sonnet-5");
    EXPECT_FALSE(plain.provider);
    EXPECT_EQ(plain.claudeCodePath, "");
    EXPECT_EQ(plain.gateway, "");
    EXPECT_FALSE(plain.accountID);

    defaults.set("claudeModel", " m ");
    defaults.set("aiProvider", "cloudflare");
    defaults.set("claudeCodePath", "~/bin/claude");
    defaults.set("aiGateway", "gw");
    defaults.set("cloudflare.accountID", account);
    ClaudeSettings set = ClaudeSettings::read(defaults);
    EXPECT_EQ(set.model, " m ");
    EXPECT_EQ(set.provider, "cloudflare");
    EXPECT_EQ(set.claudeCodePath, "~/bin/claude");
    EXPECT_EQ(set.gateway, "gw");
    EXPECT_EQ(set.accountID, account);
}

TEST(ClaudeService, GatewayChecksRunInOrderBeforeAnyRequest) {
    Fixture f;
    ClaudeSettings s;
    s.accountID = account;
    struct Case {
        std::string gateway;
        std::string message;
    };
    const std::vector<Case> gateways = {
        {"", "Enter an AI Gateway ID in Settings > Cloudflare."},
        {" \n\t", "Enter an AI Gateway ID in Settings > Cloudflare."},
        {"my.gateway", "Invalid AI Gateway ID."},
        {"my gateway", "Invalid AI Gateway ID."},
        {"caf\xC3\xA9", "Invalid AI Gateway ID."},
        {"gw/../x", "Invalid AI Gateway ID."},
        {std::string(65, 'a'), "Invalid AI Gateway ID."},
    };
    for (const Case& c : gateways) {
        s.gateway = c.gateway;
        EXPECT_EQ(f.requestFailure(s), c.message) << c.gateway;
    }

    s.gateway = " Gate_way-64" + std::string(53, 'z') + " ";
    HttpRequest request = f.service.request("messages", "cloudflare", s, {});
    EXPECT_EQ(request.url, "https://g.test/v1/" + account + "/Gate_way-64" + std::string(53, 'z') + "/anthropic/v1/messages");
    EXPECT_EQ(request.header("cf-aig-authorization"), "Bearer token");
    EXPECT_FALSE(request.header("x-api-key"));

    // A missing gateway ID is reported before a missing login, and a login before the account.
    ClaudeSettings noAccount;
    noAccount.gateway = "gw";
    f.keychain.existsStatus = keychainStatus::itemNotFound;
    EXPECT_EQ(f.requestFailure(noAccount), "Connect Cloudflare in Settings > Cloudflare to use AI Gateway.");
    f.keychain.existsStatus = keychainStatus::serviceNotAvailable;
    EXPECT_EQ(f.requestFailure(noAccount), "Connect Cloudflare in Settings > Cloudflare to use AI Gateway.");
    f.keychain.existsStatus.reset();

    for (std::optional<std::string> bad : {std::optional<std::string>{}, std::optional<std::string>{""},
                                           std::optional<std::string>{"0123456789ABCDEF0123456789abcdef"},
                                           std::optional<std::string>{account + "0"},
                                           std::optional<std::string>{account.substr(1) + "g"}}) {
        noAccount.accountID = bad;
        EXPECT_EQ(f.requestFailure(noAccount), "Select a Cloudflare account in Settings > Cloudflare.")
            << bad.value_or("(none)");
    }
    EXPECT_EQ(f.cloudflare.calls, 1);

    // Token renewal failures pass unchanged.
    f.cloudflare.failure = "renewal failed";
    s.gateway = "gw";
    EXPECT_EQ(f.requestFailure(s), "other: renewal failed");

    // Without a connection the gateway cannot be used.
    ClaudeService unconnected(f.keychain, f.http, f.runner, f.sleeper);
    EXPECT_EQ(f.failure([&] { unconnected.request("messages", "cloudflare", s, {}); }),
              "Connect Cloudflare in Settings > Cloudflare to use AI Gateway.");
    EXPECT_EQ(f.http.sent, 0);
}

TEST(ClaudeService, TheAPIKeyIsSavedReadAndRemovedThroughTheKeychain) {
    Fixture f;
    const std::string service = ClaudeService::apiKeyService();
    EXPECT_EQ(service, "app.brevalto.Claude");

    for (std::string provider : {"", "anthropic", "claudecode", "Cloudflare"})
        EXPECT_EQ(f.failure([&] { f.service.request("messages", provider, {}, {}); }),
                  "Enter a Claude API key in Settings first.");

    f.service.saveAPIKey("  sk-ant-api03-SECRET\n");
    EXPECT_EQ(f.keychain.text(service, "api-key"), "sk-ant-api03-SECRET");
    HttpRequest request = f.service.request("models?limit=1000", std::nullopt, {}, {});
    EXPECT_EQ(request.url, "https://a.test/v1/models?limit=1000");
    EXPECT_EQ(request.header("x-api-key"), "sk-ant-api03-SECRET");
    EXPECT_EQ(request.header("anthropic-version"), "2023-06-01");
    EXPECT_EQ(request.idleTimeout, std::chrono::seconds(60));

    for (std::string bad : {"", " \n ", "sk-ant\nSECRET", "sk-ant\rSECRET"}) {
        EXPECT_EQ(f.failure([&] { f.service.saveAPIKey(bad); }), "Invalid API key.");
    }
    EXPECT_EQ(f.keychain.text(service, "api-key"), "sk-ant-api03-SECRET");

    f.keychain.saveStatus = -25308;
    EXPECT_EQ(f.failure([&] { f.service.saveAPIKey("sk-ant-SECRET"); }), "Could not save the key in Keychain (-25308).");

    // Other read statuses and unreadable data name the status, never the data.
    f.keychain.readStatus = keychainStatus::serviceNotAvailable;
    EXPECT_EQ(f.failure([&] { f.service.request("messages", {}, {}, {}); }),
              "Could not read the key from Keychain (-67585).");
    f.keychain.readStatus = keychainStatus::success;
    EXPECT_EQ(f.failure([&] { f.service.request("messages", {}, {}, {}); }), "Could not read the key from Keychain (0).");
    f.keychain.readData = KeychainData{'S', 'E', 'C', 0xFF, 'R'};
    EXPECT_EQ(f.failure([&] { f.service.request("messages", {}, {}, {}); }), "Could not read the key from Keychain (0).");
    f.keychain.readStatus.reset();

    f.service.removeAPIKey();
    EXPECT_FALSE(f.keychain.text(service, "api-key"));
    f.service.removeAPIKey();  // nothing stored is fine
    f.keychain.deleteStatus = keychainStatus::interactionNotAllowed;
    EXPECT_EQ(f.failure([&] { f.service.removeAPIKey(); }), "Could not remove the key (-25308).");
}

TEST(ClaudeService, CompleteChecksTheModelAndCancellationFirst) {
    Fixture f;
    ClaudeSettings s;
    s.model = " \n ";
    s.provider = "claudeCode";
    EXPECT_EQ(f.failure([&] { f.service.complete(s, "s", {textBlock("x")}, {}); }), "Enter a model ID in Settings.");
    s.provider.reset();
    EXPECT_EQ(f.failure([&] { f.service.complete(s, "s", {textBlock("x")}, {}); }), "Enter a model ID in Settings.");
    EXPECT_TRUE(f.runner.requests.empty());

    std::stop_source stop;
    stop.request_stop();
    EXPECT_THROW(f.service.complete({}, "s", {textBlock("x")}, stop.get_token()), TaskCancelled);
    EXPECT_EQ(f.http.sent, 0);
}

TEST(ClaudeService, TheToolHasAFixedModelList) {
    Fixture f;
    std::vector<std::string> ids;
    for (const AIModel& model : f.service.listModels({}, "claudeCode", {})) {
        ids.push_back(model.id);
        EXPECT_FALSE(model.name);
    }
    EXPECT_EQ(ids, (std::vector<std::string>{"default", "sonnet", "opus", "haiku", "sonnet[1m]", "opusplan"}));
    EXPECT_EQ(f.http.sent, 0);
}

}  // namespace
}  // namespace brevalto
