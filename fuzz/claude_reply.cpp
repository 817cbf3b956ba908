// A Claude Messages API reply body: ClaudeResponse::decode, as the AI client reads every reply.
// Properties: a refusal is DecodingError; the reply's text is exactly the texts of the blocks of
// type "text", in order, joined by one line feed.

#include "ClipCore/ClaudeResponse.h"
#include "ClipCore/DecodingError.h"
#include "FuzzSupport.h"

using namespace brevalto;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    ClaudeResponse reply;
    try {
        reply = ClaudeResponse::decode(fuzz::text(data, size));
    } catch (const DecodingError&) {
        return 0;
    } catch (const std::exception& error) {
        fuzz::unexpected(error);
    }
    std::string expected;
    bool first = true;
    for (const auto& block : reply.content) {
        if (block.type != "text" || !block.text) continue;
        if (!first) expected += '\n';
        expected += *block.text;
        first = false;
    }
    fuzz::check(reply.text() == expected, "the reply's text is not its text blocks joined by line feeds");
    return 0;
}
