#pragma once

#include <string_view>

namespace brevalto {

// True when any byte of the text lies outside "0"..."9" and "a"..."f" (upper-case hexadecimal
// letters count as non-hexadecimal); false for the empty text.
bool containsNonHexDigit(std::string_view text);

}  // namespace brevalto
