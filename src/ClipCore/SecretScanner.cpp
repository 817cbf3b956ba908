#include "ClipCore/SecretScanner.h"

#include "ClipCore/UnicodeText.h"

#include <re2/re2.h>
#include <unicode/uchar.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstdio>
#include <memory>
#include <optional>

namespace brevalto {

namespace {

// Patterns matched as they are. Each one's matches are found left to right without overlap.
constexpr std::array<const char*, 9> kPlainPatterns = {
    "AKIA[0-9A-Z]{16}",
    "(?:gh[pousr]_[A-Za-z0-9]{30,}|github_pat_[A-Za-z0-9_]{20,})",
    "sk-(?:ant-|proj-)?[A-Za-z0-9_-]{20,}",
    "xox[abprs]-[A-Za-z0-9-]{10,}",
    "AIza[0-9A-Za-z_-]{35}",
    "(?:sk|rk)_(?:live|test)_[A-Za-z0-9]{16,}",
    "eyJ[A-Za-z0-9_-]{8,}\\.[A-Za-z0-9_-]{8,}\\.[A-Za-z0-9_-]{8,}",
    "-----BEGIN [A-Z ]*PRIVATE KEY-----",
    "[A-Za-z0-9._%+-]+@[A-Za-z0-9.-]+\\.[A-Za-z]{2,}",
};

// Password assignments: a keyword as a whole word (any letter case, with Unicode case folding,
// so "ß" stands for "ss"), up to three white-space characters, ':' or '=', up to three more, then
// a value of six or more non-white-space characters; only the value is a secret.
//
// The automaton matches the keyword and the separator; the code around it checks what it cannot
// express in linear time: the word boundary before the keyword (Unicode word characters, looking
// back past combining marks and format characters) and the value, which is the whole run of
// non-white-space characters after the greedy separator, since nothing follows it in the pattern.
#define BREVALTO_WHITE_SPACE \
    "[\\t\\n\\x{0B}\\f\\r \\x{85}\\x{A0}\\x{1680}\\x{2000}-\\x{200A}\\x{2028}\\x{2029}\\x{202F}\\x{205F}\\x{3000}]"
constexpr const char* kAssignmentPrefix =
    "(?i)(?:pa(?:ss|\\x{DF})word|pa(?:ss|\\x{DF})wd|pwd|secret|token|api[_-]?key)" BREVALTO_WHITE_SPACE
    "{0,3}[:=]" BREVALTO_WHITE_SPACE "{0,3}";
#undef BREVALTO_WHITE_SPACE

constexpr std::size_t kMinimumValueLength = 6;

struct Patterns {
    std::vector<std::unique_ptr<RE2>> plain;
    std::unique_ptr<RE2> assignment;
};

std::unique_ptr<RE2> compile(const char* pattern) {
    RE2::Options options;
    options.set_log_errors(false);
    options.set_max_mem(64 << 20);
    auto re = std::make_unique<RE2>(pattern, options);
    if (!re->ok()) {
        std::fprintf(stderr, "secret pattern failed to compile: %s\n", re->error().c_str());
        std::abort();
    }
    return re;
}

const Patterns& patterns() {
    static const Patterns compiled = [] {
        Patterns p;
        for (const char* pattern : kPlainPatterns) p.plain.push_back(compile(pattern));
        p.assignment = compile(kAssignmentPrefix);
        return p;
    }();
    return compiled;
}

// Unicode word characters: letters, marks, decimal digits, connector punctuation, ZWNJ and ZWJ.
bool isWordCharacter(std::int32_t c) {
    if (c < 0) return false;
    if (c == 0x200C || c == 0x200D) return true;
    if (u_hasBinaryProperty(c, UCHAR_ALPHABETIC)) return true;
    switch (u_charType(c)) {
        case U_NON_SPACING_MARK:
        case U_ENCLOSING_MARK:
        case U_COMBINING_SPACING_MARK:
        case U_DECIMAL_DIGIT_NUMBER:
        case U_CONNECTOR_PUNCTUATION:
            return true;
        default:
            return false;
    }
}

bool isIgnoredForBoundary(std::int32_t c) {
    return c >= 0 && (u_hasBinaryProperty(c, UCHAR_GRAPHEME_EXTEND) || u_charType(c) == U_FORMAT_CHAR);
}

// Whether a word starts at `offset`: the nearest character before it that is not a combining
// mark or format character is not a word character (or there is none).
bool wordStartsAt(std::string_view text, std::size_t offset) {
    while (offset > 0) {
        unicode::Decoded before = unicode::decodeBefore(text, offset);
        if (!isIgnoredForBoundary(before.codePoint)) return !isWordCharacter(before.codePoint);
        offset = before.next;
    }
    return true;
}

// The end of the run of at least kMinimumValueLength non-white-space characters starting at
// `offset`, or nothing.
std::optional<std::size_t> valueEnd(std::string_view text, std::size_t offset) {
    std::size_t count = 0;
    while (offset < text.size()) {
        unicode::Decoded d = unicode::decodeAt(text, offset);
        if (unicode::isWhiteSpace(d.codePoint)) break;
        offset = d.next;
        ++count;
    }
    if (count < kMinimumValueLength) return std::nullopt;
    return offset;
}

void collectPlain(const RE2& re, std::string_view text, std::vector<TextRange>& out) {
    re2::StringPiece input(text.data(), text.size());
    std::size_t position = 0;
    re2::StringPiece match;
    while (position <= text.size() && re.Match(input, position, text.size(), RE2::UNANCHORED, &match, 1)) {
        auto lower = static_cast<std::size_t>(match.data() - text.data());
        std::size_t upper = lower + match.size();
        out.push_back({lower, upper});
        // None of the patterns matches the empty string; step on regardless to stay finite.
        position = upper > lower ? upper : unicode::decodeAt(text, upper).next;
    }
}

void collectAssignments(const RE2& re, std::string_view text, std::vector<TextRange>& out) {
    re2::StringPiece input(text.data(), text.size());
    std::size_t position = 0;
    re2::StringPiece match;
    while (position < text.size() && re.Match(input, position, text.size(), RE2::UNANCHORED, &match, 1)) {
        auto lower = static_cast<std::size_t>(match.data() - text.data());
        std::size_t valueStart = lower + match.size();
        std::optional<std::size_t> end;
        if (wordStartsAt(text, lower)) end = valueEnd(text, valueStart);
        if (end) {
            out.push_back({valueStart, *end});
            position = *end;
        } else {
            // Not a match here; the next one may begin at the following character.
            position = unicode::decodeAt(text, lower).next;
        }
    }
}

}  // namespace

std::vector<TextRange> SecretScanner::ranges(std::string_view text) {
    const Patterns& compiled = patterns();
    std::vector<TextRange> found;
    for (const auto& re : compiled.plain) collectPlain(*re, text, found);
    collectAssignments(*compiled.assignment, text, found);

    std::stable_sort(found.begin(), found.end(),
                     [](const TextRange& a, const TextRange& b) { return a.lower < b.lower; });
    std::vector<TextRange> merged;
    for (const TextRange& range : found) {
        if (merged.empty() || merged.back().upper < range.lower) {
            merged.push_back(range);
        } else {
            merged.back().upper = std::max(merged.back().upper, range.upper);
        }
    }
    return merged;
}

std::string SecretScanner::masked(std::string_view text) {
    std::vector<TextRange> secrets = ranges(text);
    if (secrets.empty()) return std::string(text);
    std::string result;
    result.reserve(text.size());
    std::size_t copied = 0;
    for (const TextRange& range : secrets) {
        result.append(text, copied, range.lower - copied);
        result.append(bullets);
        copied = range.upper;
    }
    result.append(text, copied, std::string_view::npos);
    return result;
}

}  // namespace brevalto
