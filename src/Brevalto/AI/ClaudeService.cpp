#include "AI/ClaudeService.h"

#include "ClipCore/ClaudeResponse.h"
#include "ClipCore/DecodingError.h"
#include "ClipCore/HexDigits.h"
#include "ClipCore/JsonReading.h"
#include "ClipCore/UnicodeText.h"
#include "Errors/AIError.h"
#include "Platform/Defaults.h"
#include "Platform/Task.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cmath>

namespace brevalto {
namespace {

using namespace std::chrono_literals;

const char* const anthropicVersion = "2023-06-01";
const char* const modelListFormatMessage = "The model list has an invalid format.";

bool validUTF8(const KeychainData& data) {
    std::string_view text(reinterpret_cast<const char*>(data.data()), data.size());
    for (std::size_t i = 0; i < text.size();) {
        auto decoded = unicode::decodeAt(text, i);
        if (decoded.codePoint < 0) return false;
        i = decoded.next;
    }
    return true;
}

bool validGatewayID(std::string_view id) {
    return id.size() <= 64 && std::all_of(id.begin(), id.end(), [](char c) {
               return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
                      c == '_';
           });
}

// The exchange's own failures as the service reports them: a stop asked for is a cancellation, a
// reply past its cap is `tooLarge`, a malformed answer is `invalid`; others pass unchanged.
template <class TooLarge, class Invalid>
HttpResponse exchange(HttpClient& http, const HttpRequest& request, std::stop_token cancel, TooLarge tooLarge,
                      Invalid invalid) {
    try {
        return http.send(request, cancel, {});
    } catch (const HttpError& error) {
        if (error.kind() == HttpError::Kind::cancelled || cancel.stop_requested()) throw TaskCancelled();
        if (error.kind() == HttpError::Kind::tooLarge) tooLarge();
        if (error.kind() == HttpError::Kind::invalidResponse) invalid();
        throw;
    }
}

}  // namespace

ClaudeSettings ClaudeSettings::read(const Defaults& defaults) {
    ClaudeSettings settings;
    if (auto model = defaults.string("claudeModel")) settings.model = *model;
    settings.provider = defaults.string("aiProvider");
    settings.claudeCodePath = defaults.string("claudeCodePath").value_or("");
    settings.gateway = defaults.string("aiGateway").value_or("");
    settings.accountID = defaults.string("cloudflare.accountID");
    return settings;
}

ClaudeService::ClaudeService(KeychainAccess& keychain, HttpClient& http, ChildProcessRunner& processes,
                             Sleeper& sleeper, ClaudeEndpoints endpoints, ClaudeCode::Places places)
    : keychain_(keychain),
      http_(http),
      sleeper_(sleeper),
      endpoints_(std::move(endpoints)),
      claudeCode_(processes, std::move(places)) {}

std::string ClaudeService::apiKeyService() { return "app.brevalto.Claude"; }

std::string ClaudeService::defaultCloudflareService() { return "app.brevalto.S3.Cloudflare"; }

std::string ClaudeService::readAPIKey() const {
    KeychainReadResult read = keychain_.keychainRead(apiKeyService(), apiKeyAccount);
    if (read.status == keychainStatus::itemNotFound) throw AIError("Enter a Claude API key in Settings first.");
    if (read.status != keychainStatus::success || !read.data || !validUTF8(*read.data))
        throw AIError("Could not read the key from the keyring (" + std::to_string(read.status) + ").");
    return std::string(read.data->begin(), read.data->end());
}

HttpRequest ClaudeService::request(const std::string& path, const std::optional<std::string>& provider,
                                   const ClaudeSettings& settings, std::stop_token cancel) const {
    HttpRequest request;
    request.idleTimeout = 60s;
    request.totalTimeout = 150s;

    if (provider == "cloudflare") {
        const std::string gateway(unicode::trimmed(settings.gateway));
        if (gateway.empty()) throw AIError("Enter an AI Gateway ID in Settings > Cloudflare.");
        if (!validGatewayID(gateway)) throw AIError("Invalid AI Gateway ID.");

        const std::string service = cloudflare_ ? cloudflare_->keychainService() : defaultCloudflareService();
        if (!cloudflare_ || keychain_.keychainExists(service, "oauth") != keychainStatus::success)
            throw AIError("Connect Cloudflare in Settings > Cloudflare to use AI Gateway.");
        const std::string account = settings.accountID.value_or("");
        if (account.size() != 32 || containsNonHexDigit(account))
            throw AIError("Select a Cloudflare account in Settings > Cloudflare.");
        const std::string token = cloudflare_->validAccessToken(cancel);

        request.url = endpoints_.gateway + account + "/" + gateway + "/anthropic/v1/" + path;
        request.setHeader("cf-aig-authorization", "Bearer " + token);
        request.setHeader("anthropic-version", anthropicVersion);
        return request;
    }

    request.url = endpoints_.anthropic + path;
    request.setHeader("x-api-key", readAPIKey());
    request.setHeader("anthropic-version", anthropicVersion);
    return request;
}

double ClaudeService::retryDelay(const std::optional<std::string>& retryAfter, int attempt) {
    const double fallback = attempt + 1;
    if (!retryAfter || retryAfter->empty()) return fallback;
    std::string_view text = *retryAfter;
    if (text.front() == '+') text.remove_prefix(1);
    if (text.empty() || text.front() == '+' || text.front() == ' ') return fallback;
    double value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || !std::isfinite(value)) return fallback;
    return std::clamp(value, 0.0, 5.0);
}

const char* ClaudeService::statusHint(int status) {
    if (status == 400 || status == 404) return "Check the model ID or content size.";
    if (status == 401 || status == 403) return "Check the API key and model access.";
    if (status == 429) return "Rate limit reached. Wait a moment and try again.";
    if (status >= 500 && status <= 599) return "The service is failing. Try again later.";
    return "The request failed.";
}

HttpResponse ClaudeService::sendWithRetries(const HttpRequest& request, std::stop_token cancel) const {
    for (int attempt = 0;; ++attempt) {
        if (cancel.stop_requested()) throw TaskCancelled();
        HttpResponse response = exchange(
            http_, request, cancel, [] { throw AIError("Claude response exceeds 4 MiB."); },
            [] { throw AIError("Invalid response."); });
        if (cancel.stop_requested()) throw TaskCancelled();
        const bool overloaded = response.status == 429 || response.status == 503 || response.status == 529;
        if (overloaded && attempt != maxAttempts - 1) {
            if (!sleeper_.sleep(retryDelay(response.header("Retry-After"), attempt), cancel)) throw TaskCancelled();
            continue;
        }
        return response;
    }
}

std::string ClaudeService::complete(const ClaudeSettings& settings, const std::string& system,
                                    const std::vector<ContentBlock>& content, std::stop_token cancel) const {
    if (cancel.stop_requested()) throw TaskCancelled();
    const std::string model(unicode::trimmed(settings.model));
    if (model.empty()) throw AIError("Enter a model ID in Settings.");
    if (settings.provider == "claudeCode")
        return claudeCode_.complete(system, content, model, settings.claudeCodePath, claudeCodeTimeout, cancel);

    HttpRequest request = this->request("messages", settings.provider, settings, cancel);
    request.method = "POST";
    request.setHeader("Content-Type", "application/json");
    const nlohmann::json body = {
        {"model", model},
        {"max_tokens", maxTokens},
        {"system", system},
        {"messages", nlohmann::json::array({{{"role", "user"}, {"content", content}}})},
    };
    request.body = std::make_shared<const std::string>(body.dump());
    request.responseLimit = maxResponseBytes;
    request.keepResponseBody = true;

    const HttpResponse response = sendWithRetries(request, cancel);
    if (response.status < 200 || response.status > 299)
        throw AIError("Claude HTTP " + std::to_string(response.status) + ". " + statusHint(response.status));
    if (static_cast<std::int64_t>(response.body.size()) > maxResponseBytes)
        throw AIError("Claude response exceeds 4 MiB.");

    ClaudeResponse reply;
    try {
        reply = ClaudeResponse::decode(response.body);
    } catch (const DecodingError&) {
        throw AIError("Claude returned an invalid response format.");
    }
    if (reply.stop_reason == "max_tokens") throw AIError("The result exceeds the limit. Split the text and try again.");
    std::string text = reply.text();
    if (unicode::trimmed(text).empty()) throw AIError("Claude returned no text content.");
    return text;
}

std::vector<AIModel> ClaudeService::listModels(const ClaudeSettings& settings,
                                               const std::optional<std::string>& provider,
                                               std::stop_token cancel) const {
    if (provider == "claudeCode")
        return {{"default", {}}, {"sonnet", {}}, {"opus", {}}, {"haiku", {}}, {"sonnet[1m]", {}}, {"opusplan", {}}};

    HttpRequest request = this->request("models?limit=1000", provider, settings, cancel);
    request.method = "GET";
    request.responseLimit = maxResponseBytes;
    request.keepResponseBody = true;

    auto failed = [](int status) {
        return AIError("Could not list models (HTTP " + std::to_string(status) + "). Check the key or connection.");
    };
    // Sent once: a model list is not worth a retry. A malformed answer counts as status 0.
    const HttpResponse response = exchange(
        http_, request, cancel, [] { throw AIError(modelListFormatMessage); }, [&] { throw failed(0); });
    if (response.status < 200 || response.status > 299) throw failed(response.status);

    std::vector<AIModel> models;
    try {
        const json::Json reply = json::parse(response.body);
        json::requireObject(reply, "model list");
        auto data = reply.find("data");
        if (data == reply.end() || data->is_null()) throw DecodingError("missing member \"data\"");
        json::requireArray(*data, "member \"data\"");
        models.reserve(data->size());
        for (const auto& item : *data) {
            json::requireObject(item, "model");
            models.push_back({json::requireString(item, "id"), json::optionalString(item, "display_name")});
        }
    } catch (const DecodingError&) {
        throw AIError(modelListFormatMessage);
    }
    return models;
}

void ClaudeService::saveAPIKey(const std::string& key) const {
    const std::string trimmed(unicode::trimmed(key));
    if (trimmed.empty() || trimmed.find_first_of("\r\n") != std::string::npos) throw AIError("Invalid API key.");
    const KeychainStatus status = keychain_.keychainSave(KeychainData(trimmed.begin(), trimmed.end()),
                                                         apiKeyService(), apiKeyAccount);
    if (status != keychainStatus::success)
        throw AIError("Could not save the key in the keyring (" + std::to_string(status) + ").");
}

void ClaudeService::removeAPIKey() const {
    const KeychainStatus status = keychain_.keychainDelete(apiKeyService(), apiKeyAccount);
    if (status != keychainStatus::success && status != keychainStatus::itemNotFound)
        throw AIError("Could not remove the key (" + std::to_string(status) + ").");
}

}  // namespace brevalto
