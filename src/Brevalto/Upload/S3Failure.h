#pragma once

#include <cstdint>
#include <exception>
#include <stdexcept>
#include <string>

namespace brevalto {

// The error of every S3 and R2 operation. what() is the sentence the upload status line shows;
// it never holds a URL, a header, a key or response content.
class S3Failure : public std::runtime_error {
public:
    enum class Kind { invalid, http, network, credentials, storage, collision, cancelled, response };

    static S3Failure invalid(const std::string& message) { return S3Failure(Kind::invalid, 0, message); }
    static S3Failure http(int status);
    static S3Failure network(int code);
    static S3Failure credentials(std::int32_t status);
    static S3Failure storage();
    static S3Failure collision();
    static S3Failure cancelled();
    static S3Failure response();

    // Maps any error raised while talking to S3 or R2: an S3Failure unchanged, cancelled work
    // (a cancelled task or exchange) as `cancelled`, any other failed exchange as `network` with
    // its code, and anything else as `invalid` with a fixed sentence, so no foreign text reaches
    // the user.
    static S3Failure from(std::exception_ptr error);

    Kind kind() const { return kind_; }
    // The HTTP status of `http`, the error code of `network`, the keychain status of
    // `credentials`; 0 for the other cases.
    std::int64_t payload() const { return payload_; }

    friend bool operator==(const S3Failure& a, const S3Failure& b) {
        return a.kind_ == b.kind_ && a.payload_ == b.payload_ && std::string(a.what()) == b.what();
    }

private:
    S3Failure(Kind kind, std::int64_t payload, const std::string& message)
        : std::runtime_error(message), kind_(kind), payload_(payload) {}

    Kind kind_;
    std::int64_t payload_;
};

}  // namespace brevalto
