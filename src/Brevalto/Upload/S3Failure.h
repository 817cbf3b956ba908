#pragma once

#include <stdexcept>
#include <string>

namespace brevalto {

// The upload error: each case carries the sentence the upload status line shows.
class S3Failure : public std::runtime_error {
public:
    enum class Kind { cancelled };

    static S3Failure cancelled() {
        return S3Failure(Kind::cancelled,
                         "Cancelled. The server may have received the object; check history before retrying.");
    }

    Kind kind() const { return kind_; }

private:
    S3Failure(Kind kind, const std::string& message) : std::runtime_error(message), kind_(kind) {}
    Kind kind_;
};

}  // namespace brevalto
