#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace brevalto {

// The parts of a successful Messages API reply that the app reads: its content blocks and its
// stop reason. Other members are ignored.
struct ClaudeResponse {
    struct Block {
        std::string type;
        std::optional<std::string> text;
        friend bool operator==(const Block&, const Block&) = default;
    };

    std::vector<Block> content;
    std::optional<std::string> stop_reason;

    // Reads a reply body; throws DecodingError when "content" is missing or not a list, a block
    // has no string "type", or a member has the wrong type. Nothing of a bad body is kept.
    static ClaudeResponse decode(std::string_view body);

    // The text of every block of type "text" that has one, in order, joined by "\n".
    std::string text() const;
};

}  // namespace brevalto
