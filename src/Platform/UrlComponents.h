#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace brevalto {

// One name=value pair of a URL query, percent-decoded. A pair without "=" has no value.
struct UrlQueryItem {
    std::string name;
    std::optional<std::string> value;

    friend bool operator==(const UrlQueryItem&, const UrlQueryItem&) = default;
};

// A strict split of an absolute URL into its parts (scheme ":" ["//" authority] path ["?" query]
// ["#" fragment]). Only the characters a URL may hold are accepted: letters, digits, "-._~",
// the delimiters ":/?#@!$&'()*+,;=" and "%" followed by two hexadecimal digits. Anything else
// (spaces, controls, non-ASCII bytes, quotes, "<>\\^`{|}", brackets, a stray "%") makes the whole
// URL fail; nothing is repaired, escaped or lower-cased. Bracketed IP literals are not accepted.
// Parts are kept as written (still percent-encoded); user and password are decoded.
struct UrlComponents {
    std::string scheme;                   // as written, never empty
    std::optional<std::string> user;      // present when the authority holds "@"
    std::optional<std::string> password;  // present when the user info holds ":"
    std::optional<std::string> encodedHost;  // present when "//" follows the scheme
    std::optional<std::string> port;      // present when the host is followed by ":" (digits only)
    std::string encodedPath;
    std::optional<std::string> encodedQuery;  // present when "?" appears, even empty
    std::optional<std::string> encodedFragment;

    // None when the text is not an absolute URL of the form above.
    static std::optional<UrlComponents> parse(std::string_view text);

    // The query split at every "&", each piece at its first "=", names and values
    // percent-decoded; "+" stays "+". No query and an empty query both give no items; an empty
    // piece ("a=1&&b=2", or a trailing "&") gives an item with an empty name and no value.
    std::vector<UrlQueryItem> queryItems() const;

    // The URL written back from its parts: the encoded parts as they are, user and password
    // percent-encoded again. Parsing the text gives the same parts.
    std::string text() const;

    // Decodes "%XX" escapes; none when an escape is malformed.
    static std::optional<std::string> percentDecode(std::string_view text);
    // Appends the text with every byte for which `keep` is false written as "%XX" (upper-case
    // hexadecimal).
    static void appendPercentEncoded(std::string& out, std::string_view text, bool (*keep)(char));
};

}  // namespace brevalto
