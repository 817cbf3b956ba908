// The OAuth token endpoint's reply to a Cloudflare login or renewal: CloudflareTokens::decode, then
// the keyring item the login is kept in. The first byte says whether a renewal brings a previous
// refresh token (bit 0) and which clock reading "now" is (bits 1-2); the rest is the reply.
// Properties: a refusal is CloudflareFailure with one of the token sentences; accepted tokens pass
// their own check (1 to 16384 printable ASCII bytes each), expire 1 s to 30 days from now, carry
// the reply's refresh token or else the previous one, and read back equal from their stored form
// and from the keyring.

#include "ClipCore/JsonReading.h"
#include "FakeKeychain.h"
#include "FuzzSupport.h"
#include "Upload/CloudflareFailure.h"
#include "Upload/CloudflareTokens.h"

using namespace brevalto;

namespace {

bool isTokenText(const std::string& token) {
    if (token.empty() || token.size() > CloudflareTokens::maxTokenBytes) return false;
    for (const char c : token)
        if (c < '!' || c > '~') return false;
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    static constexpr Date clocks[] = {1000, 0, 786000000.5, -978307200};
    const Date now = clocks[(data[0] >> 1) & 3];
    const std::optional<std::string> previous =
        data[0] & 1 ? std::optional<std::string>("rt-previous") : std::nullopt;
    const std::string_view body = fuzz::text(data + 1, size - 1);

    CloudflareTokens tokens;
    try {
        tokens = CloudflareTokens::decode(body, previous, now);
    } catch (const CloudflareFailure& failure) {
        const std::string_view what = failure.what();
        fuzz::check(failure.kind() == CloudflareFailure::Kind::message &&
                        (what == "Cloudflare did not grant renewable R2 access. Reconnect and approve the requested "
                                 "permissions." ||
                         what == "Cloudflare returned invalid credentials."),
                    std::string("a token reply refused with another sentence: ") + failure.what());
        return 0;
    } catch (const std::exception& error) {
        fuzz::unexpected(error);
    }
    try {
        tokens.validate();
        fuzz::check(isTokenText(tokens.accessToken) && isTokenText(tokens.refreshToken), "a token out of bounds");
        fuzz::check(tokens.expiresAt >= now + 1 && tokens.expiresAt <= now + CloudflareTokens::maxLifetime,
                    "an expiry outside 1 s to 30 days from now");
        const json::Json reply = json::parse(body);
        const auto refresh = reply.find("refresh_token");
        const std::string expected =
            refresh != reply.end() && !refresh->is_null() ? refresh->get<std::string>() : previous.value_or("");
        fuzz::check(tokens.refreshToken == expected, "a refresh token that is neither the reply's nor the previous one");

        fuzz::check(CloudflareTokens::fromJson(tokens.toJson()) == tokens, "tokens do not survive their stored form");
        FakeKeychain keychain;
        const CloudflareKeychain item{"app.brevalto.S3.Cloudflare"};
        item.save(keychain, tokens);
        fuzz::check(item.load(keychain) == tokens, "tokens saved in the keyring do not load back");
    } catch (const std::exception& error) {
        fuzz::unexpected(error);
    }
    return 0;
}
