#include "ClipCore/SecretScanner.h"

#include "ClipCore/ByteSearch.h"
#include "ClipCore/PrivateKeyBlocks.h"
#include "ClipCore/UnicodeText.h"

#include <re2/re2.h>
#include <unicode/uchar.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>

namespace brevalto {

// Every pattern's matches are found left to right without overlap, as a backtracking engine
// would report them, but in time linear in the text. Most patterns begin with a literal: the
// search jumps between occurrences of two of its bytes (a vectorised scan) and tries the
// expression anchored there, which is exact because every match starts at such an occurrence,
// and linear because a failed attempt stops within a few bytes (the repeated parts after those
// literals are short when they fail) or at a byte where the next attempt cannot start. The
// web-token pattern, whose failed attempts can run long, is searched by the automaton alone.
// E-mail addresses and assignments are found from their '@' and their ':' or '=', private keys
// as whole blocks (PrivateKeyBlocks).

namespace {

struct PlainPattern {
    const char* expression;
    // Where the search may jump to: a byte pair that every match holds `anchorOffset` bytes after
    // its start (the first byte exact, the second one of one or two bytes). Without one, the
    // automaton searches on its own.
    char first = 0;
    const char* second = nullptr;
    std::size_t anchorOffset = 0;
};

constexpr std::array<PlainPattern, 7> kPlainPatterns = {{
    {"AKIA[0-9A-Z]{16}", 'A', "K", 0},
    {"(?:gh[pousr]_[A-Za-z0-9]{30,}|github_pat_[A-Za-z0-9_]{20,})", 'g', "hi", 0},
    {"sk-(?:ant-|proj-)?[A-Za-z0-9_-]{20,}", 'k', "-", 1},
    {"xox[abprs]-[A-Za-z0-9-]{10,}", 'x', "o", 0},
    {"AIza[0-9A-Za-z_-]{35}", 'A', "I", 0},
    {"(?:sk|rk)_(?:live|test)_[A-Za-z0-9]{16,}", 'k', "_", 1},
    {"eyJ[A-Za-z0-9_-]{8,}\\.[A-Za-z0-9_-]{8,}\\.[A-Za-z0-9_-]{8,}"},
}};

// E-mail addresses: "[A-Za-z0-9._%+-]+@[A-Za-z0-9.-]+\.[A-Za-z]{2,}". The local part cannot hold
// '@', so a match's '@' is the first after its start, and whether an address continues after an
// '@' does not depend on where the local part began. The leftmost match therefore takes the whole
// run of local-part characters before the first '@' whose domain part matches.
constexpr const char* kEmailDomain = "@[A-Za-z0-9.-]+\\.[A-Za-z]{2,}";

bool isEmailLocalByte(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' || c == '_' ||
           c == '%' || c == '+' || c == '-';
}

// Password assignments:
// "(?i)\b(?:password|passwd|pwd|secret|token|api[_-]?key)\b\s{0,3}[:=]\s{0,3}(\S{6,})", only the
// value (group 1) being secret. Keywords match in any letter case with Unicode case folding
// ("ß" stands for "ss", "ſ" for "s", the Kelvin sign for "k"); the boundaries and white space are
// Unicode's. A keyword ends in a letter and holds no ':' or '=', so each separator has at most one
// keyword before it, ending where the white space before the separator begins. The search goes
// from separator to separator, matches the keyword that ends there with the automaton, checks the
// word boundary before it (Unicode word characters, looking back past combining marks and format
// characters) and takes the value: after the greedy white space, the whole run of
// non-white-space characters, since nothing follows it in the pattern. The boundary after the
// keyword always holds, as white space, ':' and '=' are not word characters.
constexpr const char* kKeywordAtEnd =
    "(?i)(?:pa(?:ss|\\x{DF})word|pa(?:ss|\\x{DF})wd|pwd|secret|token|api[_-]?key)\\z";
// The longest keyword in UTF-8 is 10 bytes ("password" with "ſ" for both s); leave room.
constexpr std::size_t kLongestKeywordBytes = 32;
constexpr std::size_t kMaximumSeparatorSpace = 3;
constexpr std::size_t kMinimumValueLength = 6;

// Assignments to a name one of whose parts is a keyword, as configuration files and environments
// write them ("DB_PASSWORD=...", "aws_secret_access_key = ...", "\"password\": \"...\""):
// "(?i)(?:^|[^\pL\pN\pM\p{Pc}\x{200C}\x{200D}])[\"']?(?:[\pL\pN\pM\x{200C}\x{200D}]*[_.-])*"
// "(?:password|passwd|pwd|secret|token|api[_-]?key)(?:[_.-][\pL\pN\pM\x{200C}\x{200D}]*)*[\"']?"
// "\s{0,3}[:=]\s{0,3}(\S{6,})", only the value (group 1) being secret. The name is made of runs
// of letters, digits and marks joined by '_', '.' or '-', may stand in quotes, and does not
// continue a word before it; a keyword counts only as a whole part (or two: "api_key", "api-key"),
// so "mypassword", "passwords" and "clientSecret" are not names of secrets. The matches of
// this pattern are collected on their own, apart from the whole-word assignments above: in
// "a_token=foo,password =hunter2" the value "foo,password" is this pattern's, "hunter2" the
// other's. A key holds no white space, ':' or '=', so it is the run of name characters that ends
// where the white space before a separator begins, and the search goes from separator to
// separator as above; the match starts within that run, at its start or after a '.' or '-' in it,
// wherever the character before is no word character.
constexpr std::array<bool, 128> kAsciiNameCharacters = [] {
    std::array<bool, 128> table{};
    for (int c = 0; c < 128; ++c) table[c] = (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
    return table;
}();

bool isNameCharacter(std::int32_t c) {
    if (c < 0x80) return c >= 0 && kAsciiNameCharacters[static_cast<std::size_t>(c)];
    return c == 0x200C || c == 0x200D || (U_GET_GC_MASK(c) & (U_GC_L_MASK | U_GC_M_MASK | U_GC_N_MASK)) != 0;
}

bool isNamePartSeparator(std::int32_t c) { return c == '_' || c == '.' || c == '-'; }

bool isQuote(char c) { return c == '"' || c == '\''; }

// The last letters of the keywords; none of them has a case-folded form outside ASCII.
bool isKeywordLastByte(char c) {
    switch (c) {
        case 'd': case 'D': case 't': case 'T': case 'n': case 'N': case 'y': case 'Y': return true;
        default: return false;
    }
}

struct Patterns {
    std::vector<std::unique_ptr<RE2>> plain;
    std::unique_ptr<RE2> emailDomain;
    std::unique_ptr<RE2> keyword;
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
        for (const PlainPattern& pattern : kPlainPatterns) p.plain.push_back(compile(pattern.expression));
        p.emailDomain = compile(kEmailDomain);
        p.keyword = compile(kKeywordAtEnd);
        return p;
    }();
    return compiled;
}

std::size_t find(std::string_view text, std::size_t from, char byte) {
    if (from >= text.size()) return std::string_view::npos;
    const void* hit = std::memchr(text.data() + from, byte, text.size() - from);
    return hit ? static_cast<std::size_t>(static_cast<const char*>(hit) - text.data()) : std::string_view::npos;
}

// The match of `re` anchored at `start`, or an empty optional.
std::optional<TextRange> matchAt(const RE2& re, std::string_view text, std::size_t start) {
    re2::StringPiece input(text.data(), text.size());
    re2::StringPiece match;
    if (!re.Match(input, start, text.size(), RE2::ANCHOR_START, &match, 1)) return std::nullopt;
    return TextRange{start, start + match.size()};
}

void collectUnanchored(const RE2& re, std::string_view text, std::vector<TextRange>& out) {
    re2::StringPiece input(text.data(), text.size());
    std::size_t position = 0;
    re2::StringPiece match;
    while (position <= text.size() && re.Match(input, position, text.size(), RE2::UNANCHORED, &match, 1)) {
        auto lower = static_cast<std::size_t>(match.data() - text.data());
        std::size_t upper = lower + match.size();
        out.push_back({lower, upper});
        // None of the patterns matches the empty string; step on regardless to stay finite.
        position = upper > lower ? upper : upper + 1;
    }
}

void collectFromAnchors(const RE2& re, const PlainPattern& pattern, std::string_view text,
                        std::vector<TextRange>& out) {
    std::size_t from = pattern.anchorOffset;
    for (;;) {
        std::size_t anchor = bytesearch::findPair(text, from, pattern.first, pattern.second);
        if (anchor == std::string_view::npos) return;
        if (auto match = matchAt(re, text, anchor - pattern.anchorOffset)) {
            out.push_back(*match);
            from = std::max(match->upper + pattern.anchorOffset, anchor + 1);
        } else {
            from = anchor + 1;
        }
    }
}

void collectEmails(const RE2& domain, std::string_view text, std::vector<TextRange>& out) {
    std::size_t position = 0;  // no match may start before this
    std::size_t from = 0;      // where to look for the next '@'
    for (;;) {
        std::size_t at = find(text, from, '@');
        if (at == std::string_view::npos) return;
        from = at + 1;
        std::size_t start = at;
        while (start > position && isEmailLocalByte(static_cast<unsigned char>(text[start - 1]))) --start;
        if (start == at) continue;
        if (auto rest = matchAt(domain, text, at)) {
            out.push_back({start, rest->upper});
            position = from = rest->upper;
        }
    }
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

// The secret value after the separator at `separator`: up to three white-space characters are
// skipped, then the run of non-white-space characters must hold at least six.
std::optional<TextRange> assignmentValue(std::string_view text, std::size_t separator) {
    std::size_t start = separator + 1;
    for (std::size_t n = 0; n < kMaximumSeparatorSpace && start < text.size(); ++n) {
        unicode::Decoded d = unicode::decodeAt(text, start);
        if (!unicode::isWhiteSpace(d.codePoint)) break;
        start = d.next;
    }
    std::size_t end = start;
    std::size_t count = 0;
    while (end < text.size()) {
        unicode::Decoded d = unicode::decodeAt(text, end);
        if (unicode::isWhiteSpace(d.codePoint)) break;
        end = d.next;
        ++count;
    }
    if (count < kMinimumValueLength) return std::nullopt;
    return TextRange{start, end};
}

// Where the key before the separator at `separator` ends: the start of the white space before the
// separator, if there are at most three white-space characters.
std::optional<std::size_t> keyEnd(std::string_view text, std::size_t separator) {
    std::size_t end = separator;
    for (std::size_t n = 0; end > 0; ++n) {
        unicode::Decoded d = unicode::decodeBefore(text, end);
        if (!unicode::isWhiteSpace(d.codePoint)) return end;
        if (n == kMaximumSeparatorSpace) return std::nullopt;
        end = d.next;
    }
    return std::nullopt;
}

bool isAscii(std::string_view text) {
    return std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

bool equalsIgnoringAsciiCase(std::string_view text, std::string_view lowerCase) {
    auto same = [](char a, char b) { return (a >= 'A' && a <= 'Z' ? static_cast<char>(a - 'A' + 'a') : a) == b; };
    return text.size() == lowerCase.size() && std::equal(text.begin(), text.end(), lowerCase.begin(), same);
}

constexpr std::array<std::string_view, 8> kAsciiKeywords = {"password", "passwd", "pwd",    "secret",
                                                            "token",    "apikey", "api_key", "api-key"};

// Whether `part`, a piece of `text` that ends in a keyword's last letter, is a keyword.
bool isKeywordText(const RE2& keyword, std::string_view text, std::string_view part) {
    // An ASCII part holds none of the other spellings ("\u00DF", "\u017F", the Kelvin sign): it
    // is a keyword when it equals one in ASCII letter case.
    if (isAscii(part)) {
        return std::any_of(kAsciiKeywords.begin(), kAsciiKeywords.end(),
                           [&](std::string_view k) { return equalsIgnoringAsciiCase(part, k); });
    }
    // The input ends with the part so that "\z" anchors there.
    const auto start = static_cast<std::size_t>(part.data() - text.data());
    return keyword.Match(re2::StringPiece(text.data(), start + part.size()), start, start + part.size(),
                         RE2::ANCHOR_START, nullptr, 0);
}

// Whether `text[start, end)` is a keyword.
inline bool isKeyword(const RE2& keyword, std::string_view text, std::size_t start, std::size_t end) {
    return end > start && end - start <= kLongestKeywordBytes && isKeywordLastByte(text[end - 1]) &&
           isKeywordText(keyword, text, text.substr(start, end - start));
}

// The start of the keyword that ends at `end`, if any, starting no earlier than `position`.
std::optional<std::size_t> keywordBefore(const RE2& keyword, std::string_view text, std::size_t end,
                                         std::size_t position) {
    if (end <= position || !isKeywordLastByte(text[end - 1])) return std::nullopt;
    std::size_t windowStart = std::max(position, end > kLongestKeywordBytes ? end - kLongestKeywordBytes : 0);
    // What lies before the window stays visible to the engine but no match starts in it.
    re2::StringPiece input(text.data(), end);
    re2::StringPiece match;
    if (!keyword.Match(input, windowStart, end, RE2::UNANCHORED, &match, 1)) return std::nullopt;
    return static_cast<std::size_t>(match.data() - text.data());
}

// Whether a secret's name, in quotes or not, ends at `end` and starts no earlier than `position`.
// The name's parts are walked from the last; the run stops at the first character that is
// neither a name character nor a part separator.
bool isSecretName(const RE2& keyword, std::string_view text, std::size_t end, std::size_t position) {
    if (end > position && isQuote(text[end - 1])) --end;
    std::size_t partEnd = end;      // the end of the part being walked
    std::size_t nextPartEnd = end;  // the end of the part after it
    bool keywordFound = false;
    std::size_t i = end;
    for (;;) {
        while (i > position) {
            const auto byte = static_cast<unsigned char>(text[i - 1]);
            if (byte < 0x80) {
                if (!kAsciiNameCharacters[byte]) break;
                --i;
            } else {
                const unicode::Decoded before = unicode::decodeBefore(text, i);
                if (!isNameCharacter(before.codePoint)) break;
                i = before.next;
            }
        }
        // The part [i, partEnd) is whole.
        if (!keywordFound) {
            const bool joined = partEnd < end && (text[partEnd] == '_' || text[partEnd] == '-');
            keywordFound = isKeyword(keyword, text, i, partEnd) || (joined && isKeyword(keyword, text, i, nextPartEnd));
        }
        if (i <= position || !isNamePartSeparator(text[i - 1])) break;
        // A '.' or '-' is no word character: a match may start after it.
        if (keywordFound && text[i - 1] != '_') return true;
        nextPartEnd = partEnd;
        partEnd = --i;
    }
    if (!keywordFound) return false;
    if (i == 0) return true;
    if (i <= position) return false;
    const std::int32_t c = unicode::decodeBefore(text, i).codePoint;
    return c < 0 || u_charType(c) != U_CONNECTOR_PUNCTUATION;
}

// Both kinds of assignment, each with its own matches: `wordPosition` and `namePosition` are where
// the next match of each may start. A separator where both match gives one value.
void collectAssignments(const RE2& keyword, std::string_view text, std::vector<TextRange>& out) {
    std::size_t wordPosition = 0;
    std::size_t namePosition = 0;
    std::size_t nextColon = find(text, 0, ':');
    std::size_t nextEquals = find(text, 0, '=');
    for (;;) {
        std::size_t separator = std::min(nextColon, nextEquals);
        if (separator == std::string_view::npos) return;
        if (separator == nextColon) nextColon = find(text, separator + 1, ':');
        if (separator == nextEquals) nextEquals = find(text, separator + 1, '=');

        const std::optional<std::size_t> end = keyEnd(text, separator);
        if (!end) continue;
        std::optional<std::size_t> start = keywordBefore(keyword, text, *end, wordPosition);
        const bool word = start && wordStartsAt(text, *start);
        const bool name = isSecretName(keyword, text, *end, namePosition);
        if (!word && !name) continue;
        std::optional<TextRange> value = assignmentValue(text, separator);
        if (!value) continue;
        out.push_back(*value);
        if (word) wordPosition = value->upper;
        if (name) namePosition = value->upper;
        const std::size_t position = std::min(wordPosition, namePosition);
        if (nextColon < position) nextColon = find(text, position, ':');
        if (nextEquals < position) nextEquals = find(text, position, '=');
    }
}

}  // namespace

std::vector<TextRange> SecretScanner::ranges(std::string_view text) {
    const Patterns& compiled = patterns();
    std::vector<TextRange> found;
    for (std::size_t i = 0; i < kPlainPatterns.size(); ++i) {
        if (kPlainPatterns[i].second) {
            collectFromAnchors(*compiled.plain[i], kPlainPatterns[i], text, found);
        } else {
            collectUnanchored(*compiled.plain[i], text, found);
        }
    }
    PrivateKeyBlocks keys(text);
    while (const std::optional<PrivateKeyBlocks::Block> block = keys.next()) found.push_back(block->range);
    collectEmails(*compiled.emailDomain, text, found);
    collectAssignments(*compiled.keyword, text, found);

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

std::vector<std::string> SecretScanner::maskedLines(const std::vector<std::string>& lines) {
    std::string joined;
    for (const std::string& line : lines) (joined += line) += '\n';
    const std::vector<TextRange> secrets = ranges(joined);
    std::vector<std::string> result;
    result.reserve(lines.size());
    auto secret = secrets.begin();
    std::size_t start = 0;
    for (const std::string& line : lines) {
        const std::size_t end = start + line.size();
        std::string& masked = result.emplace_back();
        std::size_t copied = start;
        while (secret != secrets.end() && secret->lower < end) {
            if (secret->upper > start) {
                const std::size_t lower = std::max(secret->lower, start);
                masked.append(joined, copied, lower - copied).append(bullets);
                copied = std::min(secret->upper, end);
            }
            if (secret->upper > end) break;
            ++secret;
        }
        masked.append(joined, copied, end - copied);
        start = end + 1;
    }
    return result;
}

namespace {

constexpr std::size_t kPrefixStartBytes = 4096;
constexpr int kCutCandidates = 64;

bool isSeparatorCodePoint(std::int32_t c) { return c == ':' || c == '='; }

bool isAsciiSpaceByte(char c) { return c == ' ' || c == '\n' || c == '\t' || c == '\r' || c == '\f' || c == '\v'; }

// The first offset at or after `from` where the text can be cut without cutting through a
// secret other than a private key's block, or joining two: the start of a run of white space
// that is not the white space around an assignment's ':' or '='. No such secret spans such a run
// (tokens, addresses and values hold no white space), and none starts with white space, so those
// before the cut are exactly those the whole text has there. npos when none is found among the
// first few candidates.
std::size_t safeCut(std::string_view text, std::size_t from) {
    std::size_t i = from;
    for (int tries = 0; tries < kCutCandidates; ++tries) {
        while (i < text.size() && !isAsciiSpaceByte(text[i])) ++i;
        if (i >= text.size()) return std::string_view::npos;
        std::size_t a = i;
        while (a > 0) {
            unicode::Decoded before = unicode::decodeBefore(text, a);
            if (!unicode::isWhiteSpace(before.codePoint)) break;
            a = before.next;
        }
        std::size_t b = i;
        while (b < text.size()) {
            unicode::Decoded at = unicode::decodeAt(text, b);
            if (!unicode::isWhiteSpace(at.codePoint)) break;
            b = at.next;
        }
        const bool afterSeparator = a > 0 && isSeparatorCodePoint(unicode::decodeBefore(text, a).codePoint);
        const bool beforeSeparator = b < text.size() && isSeparatorCodePoint(static_cast<unsigned char>(text[b]));
        // A run that began before `from` is passed, so that every cut moves on.
        if (a >= from && a > 0 && !afterSeparator && !beforeSeparator) return a;
        i = b;
    }
    return std::string_view::npos;
}

}  // namespace

std::string SecretScanner::maskedPrefix(std::string_view text, std::size_t count) {
    // The blocks of private keys run across lines: the scan of them goes on from cut to cut.
    PrivateKeyBlocks keys(text);
    std::size_t from = std::max(kPrefixStartBytes, count * 16);
    while (from < text.size()) {
        const std::size_t cut = safeCut(text, from);
        if (cut == std::string_view::npos) break;
        if (const std::size_t past = keys.pastBlocks(cut); past != cut) {
            if (past == std::string_view::npos) break;
            from = past;
            continue;
        }
        const std::string part = masked(text.substr(0, cut));
        const std::string_view head = unicode::graphemePrefix(part, count);
        // The last character of the part might join what follows the cut: only a prefix that
        // ends before the part does is final.
        if (head.size() < part.size()) return std::string(head);
        from = 2 * cut;
    }
    return std::string(unicode::graphemePrefix(masked(text), count));
}

}  // namespace brevalto
