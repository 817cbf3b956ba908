#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace brevalto::unicode {

// Small helpers over UTF-8 text. A byte that does not start a valid sequence counts as one
// character of its own (as U+FFFD would), so no input makes them fail.

// The code point starting at `offset` and the offset after it; -1 for an invalid byte.
struct Decoded {
    std::int32_t codePoint;
    std::size_t next;
};
Decoded decodeAt(std::string_view text, std::size_t offset);
// The code point ending just before `offset` and the offset where it starts; -1 when invalid.
Decoded decodeBefore(std::string_view text, std::size_t offset);

// Unicode White_Space (spaces, tabs, line and paragraph separators, NEL, no-break spaces...).
bool isWhiteSpace(std::int32_t codePoint);

// The text without leading and trailing white space and line ends.
std::string_view trimmed(std::string_view text);

// The first `count` user-perceived characters (extended grapheme clusters) of the text.
std::string_view graphemePrefix(std::string_view text, std::size_t count);

}  // namespace brevalto::unicode
