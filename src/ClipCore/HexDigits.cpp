#include "ClipCore/HexDigits.h"

#include <algorithm>

namespace brevalto {

bool containsNonHexDigit(std::string_view text) {
    return std::any_of(text.begin(), text.end(),
                       [](char c) { return !((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f')); });
}

}  // namespace brevalto
