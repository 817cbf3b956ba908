#include "ClipCore/PrivateKeyBlocks.h"

#include "ClipCore/ByteSearch.h"

#include <re2/re2.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <utility>

namespace brevalto {

namespace {

constexpr std::size_t npos = std::string_view::npos;

// Headers and footers are found from the "BE" of "BEGIN" and the "EN" of "END", where the
// expression is tried anchored. It ends in the label's dashes (or the em dashes text recognition
// reads for them), and the dashes before the word, which recognition often misreads, join the
// marker when they are there. An attempt that read the word and failed fails for every start
// inside the run of capitals and blanks after it, so the search goes on after that run and stays
// linear.
constexpr std::size_t kLongestDashRun = 64;

// A body line recognised from a picture may hold stray characters and spaces: a few of each
// among at least this many base64 characters, at most one of each per eight of them, every
// character of a run counted (a key's fixed fields read as long runs of 'A', and recognition
// puts blanks among them). Its base64 characters are mixed as random data
// mixes them: capitals and small letters each make at least a fifth of its letters, and of the
// neighbouring pairs of letters and digits at most seven in ten are of one kind (two capitals,
// two small letters, two digits), some 37 % in random base64; in words, names, paths and numbers
// most are. A run of one character counts once, for base64 characters and stray ones alike: the
// zero bytes of a key's fixed fields read as runs of 'A', a smudge as a few of one mark, and a
// run such as "+++++" or "=====" mixes nothing.
// A line with no more than one blank and one other character, as one misread leaves a key's line,
// is all but base64 through and through and needs less of that mix: small letters an eighth of
// its letters, at most 72 in 100 pairs of one kind, and no digit or '+', '/'. A key's fixed
// fields (the format name, lengths read as runs of 'A', an OID) and a short run of random data
// may tilt a whole line that far, always towards capitals; words, names and paths lean the other
// way, so capitals still make a fifth. The least length counts every base64 character, runs too:
// a key's short last line ends in such runs ("AAAAAAQID", "==").
constexpr std::size_t kLeastRecognisedBody = 16;
constexpr std::size_t kBase64PerBlank = 8;
constexpr std::size_t kBase64PerOther = 8;
constexpr std::size_t kLettersPerCase = 5;
constexpr std::size_t kSameKindPairsInHundred = 70;
constexpr std::size_t kLettersPerSmallOneMisread = 8;
constexpr std::size_t kSameKindPairsInHundredOneMisread = 72;

// A key's last line is often short and ends in the padding, one or two '=' right after base64.
// Read with one misread, it is a
// key's line right after a full line of a key (64 characters in PEM, 70 in OpenSSH keys), where
// too few characters are left to judge their mix.
constexpr std::size_t kLeastPaddedTail = 4;
constexpr std::size_t kFullKeyLine = 64;

const re2::RE2& marker(bool header) {
    auto compile = [](const char* pattern) {
        re2::RE2::Options options;
        options.set_log_errors(false);
        auto re = std::make_unique<re2::RE2>(pattern, options);
        if (!re->ok()) {
            std::fprintf(stderr, "key pattern failed to compile: %s\n", re->error().c_str());
            std::abort();
        }
        return re;
    };
    static const std::unique_ptr<re2::RE2> begin = compile("BEGIN [A-Z ]*PRIVATE KEY(?:-|\\x{2014})+");
    static const std::unique_ptr<re2::RE2> end = compile("END [A-Z ]*PRIVATE KEY(?:-|\\x{2014})+");
    return header ? *begin : *end;
}

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\f' || c == '\v'; }

bool isQuote(char c) { return c == '"' || c == '\''; }

// Items of a program's list of quoted lines are separated by these, besides blanks.
bool isValueSeparator(char c) { return isBlank(c) || c == ',' || c == '+'; }

enum ByteClass : unsigned char { other, capital, small, digit, symbol, blank, quote };

constexpr std::array<unsigned char, 256> kClasses = [] {
    std::array<unsigned char, 256> table{};
    for (int c = 'A'; c <= 'Z'; ++c) table[c] = capital;
    for (int c = 'a'; c <= 'z'; ++c) table[c] = small;
    for (int c = '0'; c <= '9'; ++c) table[c] = digit;
    table['+'] = table['/'] = table['='] = symbol;
    table[' '] = table['\t'] = blank;
    table['"'] = table['\''] = quote;
    return table;
}();

ByteClass classOf(char c) { return static_cast<ByteClass>(kClasses[static_cast<unsigned char>(c)]); }

bool isBase64Class(ByteClass c) { return c >= capital && c <= symbol; }

// A line as a program quotes it: its content without one pair of quotes, a trailing ',' or '+'
// and a trailing "\n" or "\r\n" escape. A quote left inside makes it no key's line.
std::optional<std::string_view> quotedContent(std::string_view s) {
    if (!s.empty() && (s.back() == ',' || s.back() == '+')) {
        s.remove_suffix(1);
        while (!s.empty() && isBlank(s.back())) s.remove_suffix(1);
    }
    if (s.size() < 2 || !isQuote(s.front()) || s.back() != s.front()) return std::nullopt;
    s = s.substr(1, s.size() - 2);
    if (s.ends_with("\\r\\n")) s.remove_suffix(4);
    else if (s.ends_with("\\n")) s.remove_suffix(2);
    return s;
}

// What a line's content is as a key's line.
enum class KeyText {
    none,
    body,   // base64 through and through, or a recognised key line
    shortBody,  // base64 through and through, but fewer than kLeastRecognisedBody characters
    paddedTail,  // one misread in a line that ends in '=', too short or too tilted for its mix
};

KeyText keyText(std::string_view s) {
    // Base64 through and through, the lines of keys as programs write them: one read.
    std::size_t i = 0;
    while (i < s.size() && isBase64Class(classOf(s[i]))) ++i;
    if (i == s.size() && !s.empty()) {
        std::size_t runs = 1;
        for (std::size_t k = 1; k < s.size() && runs < kLeastRecognisedBody; ++k) runs += s[k] != s[k - 1];
        if (runs == 1) return KeyText::none;
        return runs < kLeastRecognisedBody ? KeyText::shortBody : KeyText::body;
    }
    std::size_t written = 0;  // base64 characters, each of a run
    std::size_t base64 = 0, blanks = 0, others = 0, capitals = 0, smalls = 0, digitsOrSymbols = 0, pairs = 0,
                sameKind = 0;
    ByteClass previous = other;
    std::string_view before;  // the code point before
    for (std::size_t k = 0; k < s.size();) {
        const auto lead = static_cast<unsigned char>(s[k]);
        const std::size_t length = lead < 0xC0 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
        const std::string_view point = s.substr(k, length);
        k += point.size();
        const ByteClass kind = classOf(s[k - point.size()]);
        written += isBase64Class(kind);
        if (point == before) continue;  // a run of one character counts once in the mix
        before = point;
        switch (kind) {
            case quote: return KeyText::none;  // a line with a quote is a key line only as one quoted value
            case capital: ++capitals; break;
            case small: ++smalls; break;
            case digit: case symbol: ++digitsOrSymbols; break;
            case blank: ++blanks; break;
            case other: ++others; break;
        }
        if (kind >= capital && kind <= digit && previous >= capital && previous <= digit) {
            ++pairs;
            sameKind += kind == previous;
        }
        previous = kind;
    }
    base64 = capitals + smalls + digitsOrSymbols;
    const std::size_t letters = capitals + smalls;
    const bool oneMisread = blanks <= 1 && others <= 1;
    const std::size_t perSmall = oneMisread ? kLettersPerSmallOneMisread : kLettersPerCase;
    const std::size_t sameKindInHundred = oneMisread ? kSameKindPairsInHundredOneMisread : kSameKindPairsInHundred;
    const bool recognised = written >= kLeastRecognisedBody && blanks * kBase64PerBlank <= written &&
                            others * kBase64PerOther <= written &&
                            (digitsOrSymbols > 0 || oneMisread) &&
                            capitals * kLettersPerCase >= letters && smalls * perSmall >= letters &&
                            sameKind * 100 <= pairs * sameKindInHundred;
    if (recognised) return KeyText::body;
    // One or two '=' at the end, as a key's last line ends, right after base64 or after the
    // misread ("| " too); not a rule of '=', nor a lone '=' after a word and a blank, as an
    // assignment wraps.
    const std::size_t padding = s.size() - 1 - std::min(s.size() - 1, s.find_last_not_of('='));
    auto classBefore = [&](std::size_t end) { return end < s.size() ? classOf(s[s.size() - end - 1]) : other; };
    const ByteClass beforePadding = classBefore(padding);
    const bool padded = padding >= 1 && padding <= 2 && padding < s.size() &&
                        (isBase64Class(beforePadding) || beforePadding == other || padding == 2 ||
                         classBefore(padding + 1) == other);
    return oneMisread && padded && written >= kLeastPaddedTail + padding ? KeyText::paddedTail : KeyText::none;
}

bool isKeyField(std::string_view s) { return s.starts_with("Proc-Type:") || s.starts_with("DEK-Info:"); }

struct Line {
    std::size_t start, contentStart, contentEnd, end;  // end: at its line feed or the text's end
    std::string_view content(std::string_view text) const {
        return text.substr(contentStart, contentEnd - contentStart);
    }
};

// The line [start, end), `end` at its line feed or the text's end.
Line lineBetween(std::string_view text, std::size_t start, std::size_t end) {
    Line line{start, start, end, end};
    while (line.contentStart < end && isBlank(text[line.contentStart])) ++line.contentStart;
    while (line.contentEnd > line.contentStart && isBlank(text[line.contentEnd - 1])) --line.contentEnd;
    return line;
}

std::size_t lineFeedFrom(std::string_view text, std::size_t from) {
    if (from >= text.size()) return text.size();
    const void* hit = std::memchr(text.data() + from, '\n', text.size() - from);
    return hit ? static_cast<std::size_t>(static_cast<const char*>(hit) - text.data()) : text.size();
}

Line lineAt(std::string_view text, std::size_t start) { return lineBetween(text, start, lineFeedFrom(text, start)); }

// The last line feed in [floor, before), or npos.
std::size_t lineFeedBefore(std::string_view text, std::size_t floor, std::size_t before) {
    if (before <= floor) return npos;
    const void* hit = memrchr(text.data() + floor, '\n', before - floor);
    return hit ? static_cast<std::size_t>(static_cast<const char*>(hit) - text.data()) : npos;
}

bool isCapitalOrSpace(char c) { return (c >= 'A' && c <= 'Z') || c == ' '; }

// The start of the dashes and em dashes right before `offset`, not before `floor`.
std::size_t dashesBefore(std::string_view text, std::size_t offset, std::size_t floor) {
    static constexpr std::string_view emDash = "\u2014";
    for (std::size_t n = 0; offset > floor && n < kLongestDashRun; ++n) {
        if (text[offset - 1] == '-') {
            --offset;
        } else if (offset - floor >= emDash.size() && text.substr(offset - emDash.size(), emDash.size()) == emDash) {
            offset -= emDash.size();
        } else {
            break;
        }
    }
    return offset;
}

std::optional<TextRange> firstMatch(bool header, std::string_view text, std::size_t from, std::size_t before) {
    const re2::RE2& re = marker(header);
    const char first = header ? 'B' : 'E';
    const char second = header ? 'E' : 'N';
    // A word before `before`; its pair may end one later.
    const std::string_view searched = text.substr(0, std::min(text.size(), before + 1));
    const re2::StringPiece input(text.data(), text.size());
    for (std::size_t at = from;;) {
        const std::size_t anchor = bytesearch::findPair(searched, at, first, std::string_view(&second, 1));
        if (anchor == npos) return std::nullopt;
        re2::StringPiece match;
        if (re.Match(input, anchor, text.size(), re2::RE2::ANCHOR_START, &match, 1))
            return TextRange{dashesBefore(text, anchor, from), anchor + match.size()};
        at = anchor + 1;
        if (text.substr(anchor).starts_with(header ? "BEGIN " : "END "))
            while (at < text.size() && isCapitalOrSpace(text[at])) ++at;
    }
}

}  // namespace

PrivateKeyBlocks::LineKind PrivateKeyBlocks::lineKind(std::string_view content) {
    const std::optional<std::string_view> quoted = quotedContent(content);
    if (!quoted) {
        switch (keyText(content)) {
            case KeyText::body: case KeyText::shortBody: return LineKind::body;
            case KeyText::paddedTail: return LineKind::paddedTail;
            case KeyText::none: return LineKind::none;
        }
        return LineKind::none;
    }
    switch (keyText(*quoted)) {
        case KeyText::body: return LineKind::quotedBody;
        case KeyText::shortBody: return LineKind::quotedShort;
        case KeyText::paddedTail: case KeyText::none: return LineKind::none;
    }
    return LineKind::none;
}

bool PrivateKeyBlocks::isBodyLine(std::string_view content, std::string_view before) {
    switch (lineKind(content)) {
        case LineKind::body: case LineKind::quotedBody: return true;
        case LineKind::quotedShort: return lineKind(before) == LineKind::quotedBody;
        case LineKind::paddedTail: return before.size() >= kFullKeyLine && lineKind(before) == LineKind::body;
        case LineKind::none: return false;
    }
    return false;
}

std::optional<TextRange> PrivateKeyBlocks::MarkerSearch::first(std::size_t at, std::size_t before) {
    before = std::min(before, text_.size());
    if (found_ && found_->lower >= at) return found_->lower < before ? found_ : std::nullopt;
    const std::size_t start = !found_ && at >= clearFrom_ && at < clearTo_ ? clearTo_ : at;
    if (start >= before) return std::nullopt;
    found_ = firstMatch(header_, text_, start, before);
    clearFrom_ = at;
    clearTo_ = found_ ? found_->lower : before;
    return found_;
}

PrivateKeyBlocks::PrivateKeyBlocks(std::string_view text)
    : text_(text), headers_(true, text), footers_(false, text) {}

std::size_t PrivateKeyBlocks::lineEndAfter(std::size_t offset) {
    if (!newlineKnown_ || offset < newlineFrom_ || offset > newline_) {
        newlineFrom_ = offset;
        newline_ = lineFeedFrom(text_, offset);
        newlineKnown_ = true;
    }
    return newline_;
}

// The end of the first line, from the one holding `offset` on, that no footer's walk up the
// lines passes: one that is not a body line. A footer after it starts a block after it.
std::size_t PrivateKeyBlocks::barrier(std::size_t offset) {
    if (barrierKnown_ && offset >= barrierFrom_ && offset <= barrierEnd_) return barrierEnd_;
    const std::size_t floor = barrierKnown_ && offset > barrierEnd_ ? barrierEnd_ + 1 : 0;
    const std::size_t feed = lineFeedBefore(text_, floor, offset);
    std::size_t start = feed == npos ? floor : feed + 1;
    barrierFrom_ = start;
    for (;;) {
        const Line line = lineAt(text_, start);
        // A short quoted or misread line may be a key's last one, which a walk up passes after its footer.
        const std::string_view content = line.content(text_);
        if (line.end >= text_.size() || lineKind(content) == LineKind::none) {
            barrierEnd_ = line.end;
            break;
        }
        start = line.end + 1;
    }
    barrierKnown_ = true;
    return barrierEnd_;
}

std::size_t PrivateKeyBlocks::trimmedEnd(std::size_t lineEnd) {
    if (trimmedFor_ != lineEnd) {
        trimmedFor_ = lineEnd;
        trimmed_ = lineEnd;
        while (trimmed_ > 0 && isBlank(text_[trimmed_ - 1])) --trimmed_;
    }
    return trimmed_;
}

// Remembered for the last line end asked about: the headers on one line all walk the same lines.
const PrivateKeyBlocks::Walk& PrivateKeyBlocks::linesAfter(std::size_t lineEnd) {
    if (walkFrom_ == lineEnd) return walk_;
    walkFrom_ = lineEnd;
    walk_ = {std::nullopt, npos, npos};
    enum class After { body, fields, blank } after = After::body;
    std::string_view fieldIndent, previous;
    for (std::size_t start = lineEnd; start < text_.size();) {
        const Line line = lineAt(text_, start + 1);
        const std::string_view content = line.content(text_);
        const std::string_view indent = text_.substr(line.start, line.contentStart - line.start);
        if (after == After::fields && content.empty()) {
            after = After::blank;
        } else if (after == After::fields && indent.size() > fieldIndent.size() && indent.starts_with(fieldIndent)) {
            walk_.upper = line.contentEnd;
        } else if (isKeyField(content)) {
            after = After::fields;
            fieldIndent = indent;
            walk_.upper = line.contentEnd;
        } else if (isBodyLine(content, previous)) {
            after = After::body;
            walk_.upper = line.contentEnd;
        } else {
            walk_.settled = content.empty() ? line.start : line.contentEnd;
            walk_.reach = line.contentStart;
            while (walk_.reach < line.contentEnd && isValueSeparator(text_[walk_.reach])) ++walk_.reach;
            break;
        }
        previous = content;
        start = line.end;
    }
    return walk_;
}

// The quoted key lines after a value's closing quote on its line, as a JSON array or a list in
// code holds a key's lines. Each value is read once: the scan stops at the first item that is no
// key line, and a marker is none.
PrivateKeyBlocks::Values PrivateKeyBlocks::valuesAfter(std::size_t closingQuote, std::size_t lineEnd) const {
    Values values{closingQuote, lineEnd};
    std::string_view previous;
    for (std::size_t at = closingQuote + 1;;) {
        while (at < lineEnd && isValueSeparator(text_[at])) ++at;
        values.next = std::min(at, lineEnd);
        if (at >= lineEnd) return values;
        if (!isQuote(text_[at])) return values;
        const void* hit = std::memchr(text_.data() + at + 1, text_[at], lineEnd - at - 1);
        if (!hit) return values;
        const auto closing = static_cast<std::size_t>(static_cast<const char*>(hit) - text_.data());
        const std::string_view value = text_.substr(at, closing + 1 - at);
        if (!isBodyLine(value, previous)) return values;
        previous = value;
        values.bound = closing;
        at = closing + 1;
    }
}

// The opening quote of the first of the quoted key lines right before an opening quote on its
// line, or that quote itself when there are none.
std::size_t PrivateKeyBlocks::valuesBefore(std::size_t openingQuote, std::size_t lineStart) const {
    // The quoted value that ends right before `at`, after the separators, or none.
    auto valueBefore = [&](std::size_t at) -> std::optional<std::string_view> {
        while (at > lineStart && isValueSeparator(text_[at - 1])) --at;
        if (at <= lineStart + 1 || !isQuote(text_[at - 1])) return std::nullopt;
        const std::size_t closing = at - 1;
        const void* hit = memrchr(text_.data() + lineStart, text_[closing], closing - lineStart);
        if (!hit) return std::nullopt;
        const auto opening = static_cast<std::size_t>(static_cast<const char*>(hit) - text_.data());
        return text_.substr(opening, closing + 1 - opening);
    };
    std::size_t first = openingQuote;
    for (std::optional<std::string_view> value = valueBefore(openingQuote); value;) {
        const auto opening = static_cast<std::size_t>(value->data() - text_.data());
        const std::optional<std::string_view> before = valueBefore(opening);
        if (!isBodyLine(*value, before.value_or(std::string_view()))) return first;
        first = opening;
        value = before;
    }
    return first;
}

PrivateKeyBlocks::Block PrivateKeyBlocks::headerBlock(TextRange header) {
    const std::size_t end = lineEndAfter(header.upper);
    // A header that is a whole quoted value: its closing quote, after a "\n" or "\r\n" escape.
    std::optional<std::size_t> closing;
    if (header.lower > 0 && isQuote(text_[header.lower - 1])) {
        const std::string_view after = text_.substr(header.upper, end - header.upper);
        for (const std::size_t escape : {std::size_t{0}, std::size_t{2}, std::size_t{4}}) {
            if (after.size() > escape && after[escape] == text_[header.lower - 1] &&
                (escape == 0 || after.starts_with(escape == 2 ? "\\n" : "\\r\\n"))) {
                closing = header.upper + escape;
                break;
            }
        }
    }
    const Values values = closing ? valuesAfter(*closing, end) : Values{header.upper, end};
    // A program's name for the marker, with no key line after it, holds no key.
    if (closing && values.bound == *closing && !linesAfter(end).upper)
        return {{header.lower, header.lower}, linesAfter(end).settled};

    if (const std::optional<TextRange> footer = footers_.first(header.upper, npos)) {
        // A footer that opens a quoted value ends the block only when nothing but key lines, or
        // quoted key lines on the header's own line, lie between them.
        if (!isQuote(text_[footer->lower - 1])) return {{header.lower, footer->upper}, footer->upper};
        const std::size_t reach = values.next < end ? values.next : linesAfter(end).reach;
        if (reach == footer->lower - 1) return {{header.lower, footer->upper}, footer->upper};
    }
    const Walk& walk = linesAfter(end);
    std::size_t upper = header.upper;
    if (closing) {
        upper = values.bound;
    } else {
        // The key's body on the header's line: a quoted value ends at its closing quote.
        std::size_t contentStart = header.upper;
        while (contentStart < end && isBlank(text_[contentStart])) ++contentStart;
        const std::size_t contentEnd = std::max(contentStart, trimmedEnd(end));
        if (contentStart < contentEnd) {
            upper = contentEnd;
            if (header.lower > 0 && isQuote(text_[header.lower - 1])) {
                const char quote = text_[header.lower - 1];
                if (const void* hit = std::memchr(text_.data() + contentStart, quote, end - contentStart))
                    upper = static_cast<std::size_t>(static_cast<const char*>(hit) - text_.data());
            }
        }
    }
    return {{header.lower, walk.upper.value_or(upper)}, walk.settled};
}

PrivateKeyBlocks::Block PrivateKeyBlocks::footerBlock(TextRange footer) const {
    // The footer's line, from its start or from where the block before ended on it.
    const std::size_t feed = lineFeedBefore(text_, position_, footer.lower);
    std::size_t start = feed == npos ? position_ : feed + 1;
    const Line line = lineBetween(text_, start, footer.lower);
    std::size_t lower = line.contentStart;
    const Block none{{footer.lower, footer.lower}, footer.lower};
    // A footer that opens a quoted value holds a key only when key lines come before it: the
    // quoted ones before it on its line, or, when it opens the line, the body lines above.
    const bool opensValue = footer.lower > line.contentStart && isQuote(text_[footer.lower - 1]);
    std::size_t opens = line.contentStart;
    while (opens < footer.lower - 1 && isValueSeparator(text_[opens])) ++opens;
    if (opensValue && opens < footer.lower - 1) {
        const std::size_t first = valuesBefore(footer.lower - 1, line.contentStart);
        return first == footer.lower - 1 ? none : Block{{first + 1, footer.upper}, footer.upper};
    }
    // A value quoted on the footer's line holds the whole key; one that opens the line may be the
    // last of the key's quoted lines.
    for (std::size_t q = footer.lower; !opensValue && q > line.contentStart + 1; --q) {
        if (isQuote(text_[q - 1])) return {{lineBetween(text_, q, footer.lower).contentStart, footer.upper}, footer.upper};
    }
    // The body lines directly above, each whole and after the block before.
    while (start > 0 && (feed != npos || position_ == 0)) {
        const std::size_t aboveFeed = lineFeedBefore(text_, position_, start - 1);
        if (aboveFeed == npos && position_ != 0) break;
        const std::size_t aboveStart = aboveFeed == npos ? 0 : aboveFeed + 1;
        const Line above = lineBetween(text_, aboveStart, start - 1);
        const std::string_view content = above.content(text_);
        if (!isBodyLine(content)) {
            // A key's short last line, quoted or misread, when a line of the key is above it.
            const LineKind kind = lineKind(content);
            if ((kind != LineKind::quotedShort && kind != LineKind::paddedTail) || aboveStart == 0 ||
                aboveStart - 1 < position_)
                break;
            const std::size_t higherFeed = lineFeedBefore(text_, position_, aboveStart - 1);
            if (higherFeed == npos && position_ != 0) break;
            const std::size_t higherStart = higherFeed == npos ? 0 : higherFeed + 1;
            if (!isBodyLine(content, lineBetween(text_, higherStart, aboveStart - 1).content(text_))) break;
        }
        lower = above.contentStart;
        start = aboveStart;
    }
    if (opensValue && lower == line.contentStart) return none;
    return {{lower, footer.upper}, footer.upper};
}

std::optional<PrivateKeyBlocks::Block> PrivateKeyBlocks::nextBefore(std::size_t cut) {
    const bool bounded = cut != npos;
    if (pending_) {
        if (bounded && pending_->range.lower >= cut) return std::nullopt;
        return std::exchange(pending_, std::nullopt);
    }
    // Only a footer before the barrier can start a block that reaches back before the cut, and
    // only a header before that footer can hold it.
    const std::optional<TextRange> footer = footers_.first(position_, bounded ? barrier(cut) : npos);
    const std::optional<TextRange> header = headers_.first(position_, footer ? footer->lower : cut);
    if (!header && !footer) return std::nullopt;
    const Block block = header ? headerBlock(*header) : footerBlock(*footer);
    // A marker that holds no key: the search goes on after it.
    const bool none = block.range.lower == block.range.upper;
    position_ = none ? (header ? header->upper : footer->upper) : block.range.upper;
    if (bounded && block.range.lower >= cut) {
        pending_ = block;
        return std::nullopt;
    }
    return block;
}

std::optional<PrivateKeyBlocks::Block> PrivateKeyBlocks::next() {
    for (;;) {
        std::optional<Block> block = nextBefore(npos);
        if (!block || block->range.lower < block->range.upper) return block;
    }
}

std::size_t PrivateKeyBlocks::pastBlocks(std::size_t cut) {
    // Cuts never decrease: a block that an earlier cut was past is past every later one.
    auto splits = [cut](const Block& block) { return block.range.lower < cut && cut < block.settled; };
    if (last_ && splits(*last_)) return last_->settled;
    while (const std::optional<Block> block = nextBefore(cut)) {
        last_ = block;
        if (splits(*block)) return block->settled;
    }
    return cut;
}

}  // namespace brevalto
