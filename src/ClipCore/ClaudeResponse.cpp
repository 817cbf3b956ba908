#include "ClipCore/ClaudeResponse.h"

#include "ClipCore/JsonReading.h"

namespace brevalto {

ClaudeResponse ClaudeResponse::decode(std::string_view body) {
    json::Json reply = json::parse(body);
    json::requireObject(reply, "reply");
    auto content = reply.find("content");
    if (content == reply.end() || content->is_null()) throw DecodingError("missing member \"content\"");
    json::requireArray(*content, "member \"content\"");

    ClaudeResponse response;
    response.content.reserve(content->size());
    for (const auto& item : *content) {
        json::requireObject(item, "content block");
        response.content.push_back({json::requireString(item, "type"), json::optionalString(item, "text")});
    }
    response.stop_reason = json::optionalString(reply, "stop_reason");
    return response;
}

std::string ClaudeResponse::text() const {
    std::string joined;
    bool first = true;
    for (const Block& block : content) {
        if (block.type != "text" || !block.text) continue;
        if (!first) joined += '\n';
        joined += *block.text;
        first = false;
    }
    return joined;
}

}  // namespace brevalto
