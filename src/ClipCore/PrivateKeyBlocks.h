#pragma once

#include "ClipCore/SecretScanner.h"

#include <optional>
#include <string_view>

namespace re2 {
class RE2;
}

namespace brevalto {

// The blocks of private keys in a text. A block runs from a "-----BEGIN ... PRIVATE KEY-----"
// header through the first "-----END ... PRIVATE KEY-----" after it, whatever its label; without
// one (a cut selection), through the last of the lines after the header that can belong to a key:
// base64, the Proc-Type and DEK-Info fields of an encrypted key with their continuation lines
// (indented further), and the blank line after those fields. Lines are read without their
// indentation, trailing blanks and carriage returns.
class PrivateKeyBlocks {
public:
    struct Block {
        TextRange range;
        // A cut of the text at or after this offset leaves the block as it is; npos when none does.
        std::size_t settled;
    };

    PrivateKeyBlocks(const re2::RE2& header, const re2::RE2& footer, std::string_view text);

    // The first block whose header starts at or after `from` and before `before`.
    std::optional<Block> next(std::size_t from, std::size_t before = std::string_view::npos);

private:
    std::optional<TextRange> footerFrom(std::size_t from);
    Block linesAfter(TextRange header) const;

    const re2::RE2& header_;
    const re2::RE2& footer_;
    std::string_view text_;
    // The first footer starting at or after footerSearched_, or none.
    std::size_t footerSearched_ = std::string_view::npos;
    std::optional<TextRange> footerFound_;
};

}  // namespace brevalto
