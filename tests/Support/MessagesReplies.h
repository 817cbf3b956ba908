#pragma once

#include "LoopbackHttpServer.h"

#include <nlohmann/json.hpp>

#include <string>
#include <vector>

namespace brevalto {

// Messages API and model list replies for the loopback server.
inline ScriptedReply messagesReply(const std::vector<std::string>& texts, const char* stopReason = "end_turn") {
    nlohmann::json content = nlohmann::json::array();
    for (const std::string& text : texts) content.push_back({{"type", "text"}, {"text", text}});
    nlohmann::json reply = {{"id", "msg_01"}, {"type", "message"}, {"role", "assistant"}, {"content", content},
                            {"stop_reason", stopReason}};
    ScriptedReply r = ScriptedReply::withBody(reply.dump());
    r.headers = {{"Content-Type", "application/json"}};
    return r;
}

inline ScriptedReply statusReply(int status, std::string retryAfter = {}) {
    ScriptedReply r = ScriptedReply::answering(status);
    if (!retryAfter.empty()) r.headers.emplace_back("Retry-After", std::move(retryAfter));
    r.body = R"({"type":"error","error":{"type":"overloaded_error","message":"sk-ant-SECRET-IN-BODY"}})";
    return r;
}

// A reply body of exactly `size` bytes: a Messages reply whose one text of 'z's is padded to fit.
inline std::string messagesBodyOfSize(std::size_t size) {
    const std::string head = R"({"content":[{"type":"text","text":")";
    const std::string tail = R"("}],"stop_reason":"end_turn"})";
    return head + std::string(size - head.size() - tail.size(), 'z') + tail;
}

}  // namespace brevalto
