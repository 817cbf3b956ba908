#pragma once

#include <exception>
#include <stdexcept>
#include <string>

namespace brevalto {

// The error of all Cloudflare work: what() is the sentence the status line shows, never a token,
// a code, a header value or response content.
class CloudflareFailure : public std::runtime_error {
public:
    enum class Kind { message, authorizationDenied };

    explicit CloudflareFailure(const std::string& message) : std::runtime_error(message), kind_(Kind::message) {}
    static CloudflareFailure authorizationDenied() {
        return CloudflareFailure(Kind::authorizationDenied, "Cloudflare authorization was declined. Connect again when ready.");
    }

    static inline const std::string cancelledText =
        "Cancelled. An upload may have reached R2; verify its saved key before retrying.";
    static inline const std::string requestFailedText =
        "Cloudflare request failed. Check your connection or reconnect. Response content and credentials are hidden.";

    // A CloudflareFailure unchanged; cancelled work (a cancelled task, exchange or transfer) as the
    // cancel text; anything else as the request-failed text.
    static CloudflareFailure from(std::exception_ptr error);

    Kind kind() const { return kind_; }

private:
    CloudflareFailure(Kind kind, const std::string& message) : std::runtime_error(message), kind_(kind) {}
    Kind kind_;
};

}  // namespace brevalto
