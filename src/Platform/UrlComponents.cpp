#include "Platform/UrlComponents.h"

namespace brevalto {

namespace {

bool isAlpha(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool isDigit(char c) { return c >= '0' && c <= '9'; }

int hexValue(char c) {
    if (isDigit(c)) return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool isUnreserved(char c) { return isAlpha(c) || isDigit(c) || c == '-' || c == '.' || c == '_' || c == '~'; }

bool isSubDelimiter(char c) {
    switch (c) {
    case '!': case '$': case '&': case '\'': case '(': case ')':
    case '*': case '+': case ',': case ';': case '=':
        return true;
    default:
        return false;
    }
}

// A character that may appear in a path segment, user info, host, query or fragment (escapes
// are checked separately).
bool isPathCharacter(char c) { return isUnreserved(c) || isSubDelimiter(c) || c == ':' || c == '@'; }

bool isSchemeCharacter(char c) { return isAlpha(c) || isDigit(c) || c == '+' || c == '-' || c == '.'; }

// Every "%" starts a two-digit hexadecimal escape.
bool escapesWellFormed(std::string_view text) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') continue;
        if (i + 2 >= text.size()) return false;
        if (hexValue(text[i + 1]) < 0 || hexValue(text[i + 2]) < 0) return false;
        i += 2;
    }
    return true;
}

// Each character is allowed by the predicate or is part of an escape.
template <typename Allowed>
bool allCharacters(std::string_view text, Allowed allowed) {
    for (char c : text)
        if (c != '%' && !allowed(c)) return false;
    return escapesWellFormed(text);
}

}  // namespace

std::optional<std::string> UrlComponents::percentDecode(std::string_view text) {
    if (!escapesWellFormed(text)) return std::nullopt;
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%') {
            out.push_back(static_cast<char>(hexValue(text[i + 1]) << 4 | hexValue(text[i + 2])));
            i += 2;
        } else {
            out.push_back(text[i]);
        }
    }
    return out;
}

std::optional<UrlComponents> UrlComponents::parse(std::string_view text) {
    UrlComponents url;

    const std::size_t colon = text.find(':');
    if (colon == std::string_view::npos || colon == 0 || !isAlpha(text[0])) return std::nullopt;
    for (char c : text.substr(0, colon))
        if (!isSchemeCharacter(c)) return std::nullopt;
    url.scheme = std::string(text.substr(0, colon));
    std::string_view rest = text.substr(colon + 1);

    if (const std::size_t hash = rest.find('#'); hash != std::string_view::npos) {
        const std::string_view fragment = rest.substr(hash + 1);
        if (!allCharacters(fragment, [](char c) { return isPathCharacter(c) || c == '/' || c == '?'; }))
            return std::nullopt;
        url.encodedFragment = std::string(fragment);
        rest = rest.substr(0, hash);
    }
    if (const std::size_t question = rest.find('?'); question != std::string_view::npos) {
        const std::string_view query = rest.substr(question + 1);
        if (!allCharacters(query, [](char c) { return isPathCharacter(c) || c == '/' || c == '?'; }))
            return std::nullopt;
        url.encodedQuery = std::string(query);
        rest = rest.substr(0, question);
    }

    if (rest.starts_with("//")) {
        rest.remove_prefix(2);
        const std::size_t slash = rest.find('/');
        std::string_view authority = rest.substr(0, slash);
        rest = slash == std::string_view::npos ? std::string_view{} : rest.substr(slash);

        if (const std::size_t at = authority.rfind('@'); at != std::string_view::npos) {
            const std::string_view info = authority.substr(0, at);
            authority = authority.substr(at + 1);
            if (!allCharacters(info, [](char c) { return isUnreserved(c) || isSubDelimiter(c) || c == ':'; }))
                return std::nullopt;
            const std::size_t split = info.find(':');
            url.user = percentDecode(info.substr(0, split));
            if (split != std::string_view::npos) url.password = percentDecode(info.substr(split + 1));
        }
        if (const std::size_t portColon = authority.find(':'); portColon != std::string_view::npos) {
            const std::string_view port = authority.substr(portColon + 1);
            for (char c : port)
                if (!isDigit(c)) return std::nullopt;
            url.port = std::string(port);
            authority = authority.substr(0, portColon);
        }
        if (!allCharacters(authority, [](char c) { return isUnreserved(c) || isSubDelimiter(c); }))
            return std::nullopt;
        url.encodedHost = std::string(authority);
    }

    if (!allCharacters(rest, [](char c) { return isPathCharacter(c) || c == '/'; })) return std::nullopt;
    url.encodedPath = std::string(rest);
    return url;
}

namespace {

// User info keeps unreserved characters and sub-delimiters; everything else is escaped.
void appendUserInfo(std::string& out, std::string_view text) {
    UrlComponents::appendPercentEncoded(out, text, [](char c) { return isUnreserved(c) || isSubDelimiter(c); });
}

}  // namespace

std::string UrlComponents::text() const {
    std::string out = scheme + ":";
    if (encodedHost) {
        out += "//";
        if (user) {
            appendUserInfo(out, *user);
            if (password) {
                out.push_back(':');
                appendUserInfo(out, *password);
            }
            out.push_back('@');
        }
        out += *encodedHost;
        if (port) out += ":" + *port;
    }
    out += encodedPath;
    if (encodedQuery) out += "?" + *encodedQuery;
    if (encodedFragment) out += "#" + *encodedFragment;
    return out;
}

std::vector<UrlQueryItem> UrlComponents::queryItems() const {
    std::vector<UrlQueryItem> items;
    if (!encodedQuery || encodedQuery->empty()) return items;
    std::string_view query = *encodedQuery;
    while (true) {
        const std::size_t amp = query.find('&');
        const std::string_view piece = query.substr(0, amp);
        UrlQueryItem item;
        // parse() refused malformed escapes, so decoding cannot fail here.
        if (const std::size_t eq = piece.find('='); eq != std::string_view::npos) {
            item.name = percentDecode(piece.substr(0, eq)).value_or(std::string{});
            item.value = percentDecode(piece.substr(eq + 1)).value_or(std::string{});
        } else {
            item.name = percentDecode(piece).value_or(std::string{});
        }
        items.push_back(std::move(item));
        if (amp == std::string_view::npos) break;
        query.remove_prefix(amp + 1);
    }
    return items;
}

void UrlComponents::appendPercentEncoded(std::string& out, std::string_view text, bool (*keep)(char)) {
    static constexpr char digits[] = "0123456789ABCDEF";
    for (char c : text) {
        if (keep(c)) {
            out.push_back(c);
        } else {
            const auto byte = static_cast<unsigned char>(c);
            out.push_back('%');
            out.push_back(digits[byte >> 4]);
            out.push_back(digits[byte & 0xF]);
        }
    }
}

}  // namespace brevalto
