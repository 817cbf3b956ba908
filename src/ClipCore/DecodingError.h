#pragma once

#include <stdexcept>
#include <string>

namespace brevalto {

// Thrown when JSON text cannot be read into one of the model's types: it is not JSON, a required
// member is missing, or a member has the wrong type or value. what() is one fixed sentence;
// detail() names the offending member for logs and tests (it never holds the member's value).
class DecodingError : public std::runtime_error {
public:
    explicit DecodingError(std::string detail)
        : std::runtime_error("The data could not be read because it is not in the expected format."),
          detail_(std::move(detail)) {}

    const std::string& detail() const { return detail_; }

private:
    std::string detail_;
};

// Thrown when a value cannot be written as JSON that would read back (a date or scale that is
// not a finite number).
class EncodingError : public std::runtime_error {
public:
    EncodingError() : std::runtime_error("The data could not be written because a value is not a finite number.") {}
};

}  // namespace brevalto
