#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace brevalto {

// A range of UTF-8 text in bytes: [lower, upper).
struct TextRange {
    std::size_t lower = 0;
    std::size_t upper = 0;
    friend bool operator==(const TextRange&, const TextRange&) = default;
};

// Finds text that looks like a credential or a personal address (access keys, tokens, private keys,
// e-mail addresses, values assigned to passwords, secrets, tokens and API keys, also under names
// such as DB_PASSWORD) and hides each find behind eight bullets. Matching runs in time linear in
// the text whatever its content.
class SecretScanner {
public:
    SecretScanner() = delete;

    // Eight U+2022 BULLET characters, whatever the length of what they hide.
    static constexpr std::string_view bullets = "\u2022\u2022\u2022\u2022\u2022\u2022\u2022\u2022";

    // Byte ranges of the secrets in UTF-8 text, sorted, pairwise disjoint and not touching.
    static std::vector<TextRange> ranges(std::string_view text);

    // The text with every range of ranges() replaced by the bullets.
    static std::string masked(std::string_view text);

    // Lines of one text, such as the lines recognised in a picture, each masked as its part of
    // the text they make joined by line feeds: a secret that runs across lines, a private key's
    // block, leaves the bullets in every line it takes.
    static std::vector<std::string> maskedLines(const std::vector<std::string>& lines);

    // The first `count` user-perceived characters of masked(text), exactly, read from a bounded
    // prefix of the text wherever a cut exists that no secret can straddle: long texts cost little
    // more than their first few kilobytes, and no text more than time linear in its length.
    static std::string maskedPrefix(std::string_view text, std::size_t count);
};

}  // namespace brevalto
