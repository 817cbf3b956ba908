#pragma once

#include "ClipCore/SecretScanner.h"

#include <optional>
#include <string_view>

namespace brevalto {

// The blocks of private keys in a text, found left to right in one pass. A block is one of:
// - a "-----BEGIN ... PRIVATE KEY-----" header through the first "-----END ... PRIVATE KEY-----"
//   after it, whatever its label;
// - without such a footer (a cut selection), a header through the key's lines after it: body
//   lines, the Proc-Type and DEK-Info fields of an encrypted key with their continuation lines
//   (indented further), and the blank line after those fields. When the key's body stands on
//   the header's own line (its line feeds became spaces or "\n"), the block takes the rest of
//   that line first, or, when the header opens a quoted value, the value up to its closing quote;
// - a footer that no header's block holds (the header scrolled out or was misread): from the
//   opening quote before it on its line, or else from its line's start and the body lines
//   directly above, up to a blank line, another line or an earlier block.
// Markers may have their leading dashes misread or missing and their trailing ones read as em
// dashes, as text recognition reads a photographed key. A body line is base64, or, as text
// recognition reads one, mostly base64 with a few stray characters and spaces. Lines are read without their indentation, trailing blanks and carriage
// returns.
class PrivateKeyBlocks {
public:
    struct Block {
        TextRange range;
        // A cut of the text at or after this offset leaves the block as it is; npos when none does.
        std::size_t settled;
    };

    explicit PrivateKeyBlocks(std::string_view text);

    // The next block.
    std::optional<Block> next();

    // `cut` when the text cut there has the blocks the whole text has before the cut; otherwise
    // the offset from which a cut does (npos when none does). The cuts asked about never
    // decrease; a block found beyond a cut is kept for next() and later cuts.
    std::size_t pastBlocks(std::size_t cut);

    // Whether the line content (without indentation and trailing blanks) can be a line of a key.
    static bool isBodyLine(std::string_view content);

private:
    // A search for one marker that remembers where it found none, so that each byte is read once.
    class MarkerSearch {
    public:
        MarkerSearch(bool header, std::string_view text) : header_(header), text_(text) {}
        // The first marker starting in [at, before); `at` never decreases between calls.
        std::optional<TextRange> first(std::size_t at, std::size_t before);

    private:
        bool header_;
        std::string_view text_;
        std::size_t clearFrom_ = 0, clearTo_ = 0;  // no marker starts in [clearFrom_, clearTo_)
        std::optional<TextRange> found_;
    };

    std::optional<Block> nextBefore(std::size_t cut);
    Block headerBlock(TextRange header);
    Block footerBlock(TextRange footer) const;
    Block linesAfter(std::size_t lower, std::size_t upper, std::size_t lineEnd) const;
    std::size_t lineEndAfter(std::size_t offset);
    std::size_t barrier(std::size_t offset);

    std::string_view text_;
    MarkerSearch headers_, footers_;
    std::size_t position_ = 0;  // where the next block may start: the end of the last one
    std::optional<Block> pending_, last_;
    std::size_t newlineFrom_ = 0, newline_ = 0;        // the first line feed at or after newlineFrom_
    std::size_t barrierFrom_ = 0, barrierEnd_ = 0;     // barrier() for offsets in [barrierFrom_, barrierEnd_]
    bool barrierKnown_ = false, newlineKnown_ = false;
};

}  // namespace brevalto
