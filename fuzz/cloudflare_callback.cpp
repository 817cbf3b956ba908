// The head of a request to the login's listener on 127.0.0.1, which any local program can send:
// CloudflareCallback::parse, as the listener reads each connection. Properties: a refusal is
// CloudflareFailure with one of the redirect sentences; an accepted code is 1 to 4096 bytes, and
// the same code sent again in a plain redirect of its own reads back unchanged.

#include "FuzzSupport.h"
#include "Upload/CloudflareCallback.h"
#include "Upload/CloudflareFailure.h"
#include "Upload/S3Signing.h"

#include <array>
#include <algorithm>

using namespace brevalto;

namespace {

constexpr std::string_view kState = "st-fuzz";
constexpr std::uint16_t kPort = 49167;

const std::array<std::string_view, 5> kSentences{
    "Invalid login callback.", "Invalid callback host.", "Login state mismatch.", "Missing authorization code.",
    "Cloudflare authorization was declined. Connect again when ready.",
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string code;
    try {
        code = CloudflareCallback::parse(fuzz::text(data, size), kState, kPort);
    } catch (const CloudflareFailure& failure) {
        fuzz::check(std::find(kSentences.begin(), kSentences.end(), std::string_view(failure.what())) != kSentences.end(),
                    std::string("a redirect refused with another sentence: ") + failure.what());
        return 0;
    } catch (const std::exception& error) {
        fuzz::unexpected(error);
    }
    fuzz::check(!code.empty() && code.size() <= CloudflareCallback::maxCodeBytes, "a code of 0 or more than 4096 bytes");
    try {
        const std::string again = "GET /oauth/callback?code=" + uriEncode(code, false) + "&state=" + std::string(kState) +
                                  " HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(kPort) + "\r\n\r\n";
        fuzz::check(CloudflareCallback::parse(again, kState, kPort) == code, "a code reads differently sent again");
    } catch (const std::exception& error) {
        fuzz::unexpected(error);
    }
    return 0;
}
