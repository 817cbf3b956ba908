// The text of a clip's card, title and preview: SecretScanner::maskedPrefix, read from the start
// of texts longer than its first cut. The input is widened so that it crosses that cut: the first
// byte says how often the rest is repeated and whether a note of some 4 KiB goes before it.
// Property: every prefix is exactly the first n user-perceived characters of the whole mask. A
// loop that does not end or a cost that is not linear runs into the target's timeout.

#include "ClipCore/SecretScanner.h"
#include "ClipCore/UnicodeText.h"
#include "FuzzSupport.h"

#include <string>

using namespace brevalto;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    const unsigned widen = data[0];
    const std::string_view piece = fuzz::text(data + 1, size - 1);
    std::string text;
    if (widen & 1) {
        // A note that ends a little before or after the first cut, by as much as the piece is long.
        for (std::size_t line = 0; text.size() + piece.size() / 2 < 4096; ++line)
            text += "Line " + std::to_string(line) + " of a note pasted before it.\n";
    }
    for (unsigned repeat = 0; repeat <= (widen >> 1) % 48; ++repeat) text += piece;
    const std::string whole = SecretScanner::masked(text);
    for (const std::size_t count : {std::size_t{1}, std::size_t{180}, std::size_t{400}, std::size_t{20000},
                                    std::size_t{(widen * 97u) % 6000u}}) {
        fuzz::check(SecretScanner::maskedPrefix(text, count) == unicode::graphemePrefix(whole, count),
                    "a card's text differs from the start of the whole text's mask");
    }
    return 0;
}
