#pragma once

#include "AI/AIModel.h"
#include "AI/ClaudeCode.h"
#include "AI/CloudflareTokenSource.h"
#include "AI/ContentBlock.h"
#include "KeychainItems/KeychainAccess.h"
#include "Platform/HttpClient.h"
#include "Platform/Sleeper.h"

#include <cstdint>
#include <optional>
#include <stop_token>
#include <string>
#include <string_view>
#include <vector>

namespace brevalto {

class Defaults;

// The settings a Claude request reads, taken together on the thread that owns the settings.
struct ClaudeSettings {
    // "claudeModel", untrimmed; "claude-sonnet-5" when not set.
    std::string model = "claude-sonnet-5";
    // "aiProvider": "claudeCode" runs the command-line tool, "cloudflare" goes through the AI
    // Gateway, anything else (or nothing) to the Anthropic API.
    std::optional<std::string> provider;
    // "claudeCodePath": the configured tool, blank for the usual places.
    std::string claudeCodePath;
    // "aiGateway": the gateway ID, untrimmed.
    std::string gateway;
    // "cloudflare.accountID".
    std::optional<std::string> accountID;

    static ClaudeSettings read(const Defaults& defaults);
};

// Where the HTTP back-ends live; each base ends in "/v1/".
struct ClaudeEndpoints {
    std::string anthropic = "https://api.anthropic.com/v1/";
    std::string gateway = "https://gateway.ai.cloudflare.com/v1/";
};

// The one way the app asks a Claude model for text: the Anthropic Messages API with the user's
// key, a Cloudflare AI Gateway with the Cloudflare login, or the local command-line tool. Also
// lists models and keeps the API key. Calls block their caller (a task, never the GUI thread),
// may overlap, and keep no state between them.
//
// Failures are AIError carrying the message to show, TaskCancelled when `cancel` stopped the
// call, HttpError for a failed connection, and the Cloudflare connection's own errors. No message
// holds a key, a token or a response body.
class ClaudeService {
public:
    static constexpr int maxTokens = 8192;
    // Most reply bytes accepted (exactly this many is fine); the transfer stops past it.
    static constexpr std::int64_t maxResponseBytes = 4 * 1024 * 1024;
    // Requests sent at most for one call when the service answers 429, 503 or 529.
    static constexpr int maxAttempts = 3;
    // Seconds the command-line tool has to answer.
    static constexpr double claudeCodeTimeout = 150;
    static constexpr const char* apiKeyAccount = "api-key";

    ClaudeService(KeychainAccess& keychain, HttpClient& http, ChildProcessRunner& processes,
                  Sleeper& sleeper = Sleeper::system(), ClaudeEndpoints endpoints = {},
                  ClaudeCode::Places places = ClaudeCode::Places::current());

    // The connection that supplies the AI Gateway's token. Without one the gateway reports that
    // Cloudflare is not connected.
    void setCloudflare(CloudflareTokenSource* cloudflare) { cloudflare_ = cloudflare; }

    // The keychain service of the API key: the app's identifier followed by ".Claude".
    static std::string apiKeyService();
    // The keychain service of the Cloudflare login when no connection is set.
    static std::string defaultCloudflareService();

    // The reply text, untrimmed, for a system prompt and the user's content blocks.
    std::string complete(const ClaudeSettings& settings, const std::string& system,
                         const std::vector<ContentBlock>& content, std::stop_token cancel) const;

    // The models the back-end of `provider` offers, in its order (a fixed list for the tool).
    std::vector<AIModel> listModels(const ClaudeSettings& settings, const std::optional<std::string>& provider,
                                    std::stop_token cancel) const;

    // Stores the key without surrounding blanks; refuses an empty or multi-line key.
    void saveAPIKey(const std::string& key) const;
    // Removes the key; nothing stored is fine.
    void removeAPIKey() const;

    // A request for `path` under the API root of `provider`, with its URL, time-outs and
    // authentication; method and body are the caller's.
    HttpRequest request(const std::string& path, const std::optional<std::string>& provider,
                        const ClaudeSettings& settings, std::stop_token cancel) const;

    // The wait before attempt `attempt` + 1 (0-based) after an overloaded answer: a Retry-After
    // of a plain decimal number clamped to 0...5 seconds, else attempt + 1 seconds.
    static double retryDelay(const std::optional<std::string>& retryAfter, int attempt);
    // The hint that follows "Claude HTTP <status>. ".
    static const char* statusHint(int status);

private:
    std::string readAPIKey() const;
    HttpResponse sendWithRetries(const HttpRequest& request, std::stop_token cancel) const;

    KeychainAccess& keychain_;
    HttpClient& http_;
    Sleeper& sleeper_;
    ClaudeEndpoints endpoints_;
    ClaudeCode claudeCode_;
    CloudflareTokenSource* cloudflare_ = nullptr;
};

}  // namespace brevalto
