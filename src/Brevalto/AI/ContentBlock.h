#pragma once

#include <nlohmann/json.hpp>

#include <string>

namespace brevalto {

// One block of the content sent to Claude, put into the request as it is: a text block
// {"type": "text", "text"} or an image block
// {"type": "image", "source": {"type": "base64", "media_type": "image/png", "data"}}.
using ContentBlock = nlohmann::json;

inline ContentBlock textBlock(std::string text) { return {{"type", "text"}, {"text", std::move(text)}}; }

inline ContentBlock pngImageBlock(std::string base64) {
    return {{"type", "image"},
            {"source", {{"type", "base64"}, {"media_type", "image/png"}, {"data", std::move(base64)}}}};
}

}  // namespace brevalto
