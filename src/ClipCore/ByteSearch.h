#pragma once

#include <cstddef>
#include <string_view>

namespace brevalto::bytesearch {

// The first offset i >= from where text[i] == first and text[i + 1] is one of the one or two
// bytes of `second`; npos when there is none. Vectorised where the processor allows.
std::size_t findPair(std::string_view text, std::size_t from, char first, std::string_view second);

}  // namespace brevalto::bytesearch
