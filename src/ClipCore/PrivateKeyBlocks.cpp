#include "ClipCore/PrivateKeyBlocks.h"

#include "ClipCore/ByteSearch.h"

#include <re2/re2.h>

#include <algorithm>

namespace brevalto {

namespace {

// Headers and footers begin with five dashes; the search jumps to the "BE" of "BEGIN" and the
// "EN" of "END" and tries the expression anchored five bytes before. A failed attempt stops at
// the end of its run of capitals and blanks, where no other attempt starts, so the search is
// linear.
constexpr std::size_t kDashes = 5;

std::optional<TextRange> firstMatch(const re2::RE2& re, std::string_view text, std::size_t from, std::size_t before,
                                    char first, char second) {
    // A header before `before` has its "BE" before `before + kDashes`; the pair may end one later.
    const std::string_view searched =
        text.substr(0, before >= text.size() ? text.size() : std::min(text.size(), before + kDashes + 1));
    const re2::StringPiece input(text.data(), text.size());
    for (std::size_t at = from + kDashes;;) {
        const std::size_t anchor = bytesearch::findPair(searched, at, first, std::string_view(&second, 1));
        if (anchor == std::string_view::npos) return std::nullopt;
        re2::StringPiece match;
        if (re.Match(input, anchor - kDashes, text.size(), re2::RE2::ANCHOR_START, &match, 1))
            return TextRange{anchor - kDashes, anchor - kDashes + match.size()};
        at = anchor + 1;
    }
}

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\f' || c == '\v'; }

bool isBase64(std::string_view s) {
    return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) {
        return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' || c == '/' ||
               c == '=';
    });
}

bool isKeyField(std::string_view s) { return s.starts_with("Proc-Type:") || s.starts_with("DEK-Info:"); }

struct Line {
    std::size_t start, contentStart, contentEnd, end;  // end: at its line feed or the text's end
};

Line lineAt(std::string_view text, std::size_t start) {
    Line line{start, start, start, std::min(text.find('\n', start), text.size())};
    while (line.contentStart < line.end && isBlank(text[line.contentStart])) ++line.contentStart;
    line.contentEnd = line.end;
    while (line.contentEnd > line.contentStart && isBlank(text[line.contentEnd - 1])) --line.contentEnd;
    return line;
}

}  // namespace

PrivateKeyBlocks::PrivateKeyBlocks(const re2::RE2& header, const re2::RE2& footer, std::string_view text)
    : header_(header), footer_(footer), text_(text) {}

std::optional<TextRange> PrivateKeyBlocks::footerFrom(std::size_t from) {
    // Blocks come left to right, so the footer found last serves until a header passes it, and
    // once none is left none is searched for again.
    const bool known = footerSearched_ != std::string_view::npos && footerSearched_ <= from &&
                       (!footerFound_ || footerFound_->lower >= from);
    if (!known) {
        footerSearched_ = from;
        footerFound_ = firstMatch(footer_, text_, from, std::string_view::npos, 'E', 'N');
    }
    return footerFound_;
}

PrivateKeyBlocks::Block PrivateKeyBlocks::linesAfter(TextRange header) const {
    enum class After { body, fields, blank } after = After::body;
    std::string_view fieldIndent;
    std::size_t upper = header.upper;
    std::size_t start = text_.find('\n', header.upper);
    while (start != std::string_view::npos) {
        const Line line = lineAt(text_, start + 1);
        const std::string_view content = text_.substr(line.contentStart, line.contentEnd - line.contentStart);
        const std::string_view indent = text_.substr(line.start, line.contentStart - line.start);
        if (after == After::fields && content.empty()) {
            after = After::blank;
        } else if (after == After::fields && !content.empty() && indent.size() > fieldIndent.size() &&
                   indent.starts_with(fieldIndent)) {
            upper = line.contentEnd;
        } else if (isKeyField(content)) {
            after = After::fields;
            fieldIndent = indent;
            upper = line.contentEnd;
        } else if (isBase64(content)) {
            after = After::body;
            upper = line.contentEnd;
        } else {
            return {{header.lower, upper}, content.empty() ? line.start : line.contentEnd};
        }
        start = line.end < text_.size() ? line.end : std::string_view::npos;
    }
    return {{header.lower, upper}, std::string_view::npos};
}

std::optional<PrivateKeyBlocks::Block> PrivateKeyBlocks::next(std::size_t from, std::size_t before) {
    const std::optional<TextRange> header = firstMatch(header_, text_, from, before, 'B', 'E');
    if (!header || header->lower >= before) return std::nullopt;
    if (const std::optional<TextRange> footer = footerFrom(header->upper))
        return Block{{header->lower, footer->upper}, footer->upper};
    return linesAfter(*header);
}

}  // namespace brevalto
