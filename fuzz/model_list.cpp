// A back-end's answer to the model list request: ClaudeService::listModels reading the reply body
// that the HTTP client hands it. Properties: a refusal is AIError with the format message and
// nothing else; an accepted list has one model per entry of "data", in order, each with the ID
// and display name the entry holds; and the list written back as a reply reads back the same.

#include "AI/ClaudeService.h"
#include "ClipCore/JsonReading.h"
#include "Errors/AIError.h"
#include "FakeKeychain.h"
#include "FuzzSupport.h"

using namespace brevalto;

namespace {

// Answers every request with status 200 and the current body.
struct ReplyingHttp final : HttpClient {
    std::string body;
    HttpResponse send(const HttpRequest&, std::stop_token, const Progress&) override { return {200, {}, body}; }
};

struct NoProcesses final : ChildProcessRunner {
    ChildProcessResult run(const ChildProcessRequest&, std::stop_token) override { fuzz::fail("a process was started"); }
};

std::vector<AIModel> listed(ClaudeService& service, ReplyingHttp& http, std::string body) {
    http.body = std::move(body);
    return service.listModels(ClaudeSettings{}, std::nullopt, {});
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static FakeKeychain keychain = [] {
        FakeKeychain k;
        k.put(ClaudeService::apiKeyService(), ClaudeService::apiKeyAccount, "sk-ant-fuzz");
        return k;
    }();
    static ReplyingHttp http;
    static NoProcesses processes;
    static ClaudeService service(keychain, http, processes);

    const std::string body(fuzz::text(data, size));
    std::vector<AIModel> models;
    try {
        models = listed(service, http, body);
    } catch (const AIError& error) {
        fuzz::check(std::string_view(error.what()) == "The model list has an invalid format.",
                    std::string("a model list refused with another message: ") + error.what());
        return 0;
    } catch (const std::exception& error) {
        fuzz::unexpected(error);
    }
    try {
        const json::Json reply = json::parse(body);
        const json::Json& entries = reply.at("data");
        fuzz::check(entries.size() == models.size(), "a model list of another length than its data");
        nlohmann::ordered_json written = {{"data", nlohmann::ordered_json::array()}};
        for (std::size_t i = 0; i < models.size(); ++i) {
            fuzz::check(entries[i].at("id").get<std::string>() == models[i].id, "a model with another id");
            const auto name = entries[i].find("display_name");
            const bool named = name != entries[i].end() && !name->is_null();
            fuzz::check(named == models[i].name.has_value() && (!named || name->get<std::string>() == *models[i].name),
                        "a model with another display name");
            nlohmann::ordered_json entry = {{"id", models[i].id}};
            if (models[i].name) entry["display_name"] = *models[i].name;
            written["data"].push_back(entry);
        }
        fuzz::check(listed(service, http, written.dump()) == models, "a model list does not survive a round trip");
    } catch (const std::exception& error) {
        fuzz::unexpected(error);
    }
    return 0;
}
