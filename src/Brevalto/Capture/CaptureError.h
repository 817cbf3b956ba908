#pragma once

#include <stdexcept>

namespace brevalto {

// How a capture fails. Each case carries one fixed sentence (its what()) that says what happened
// and what to do next. Two errors are equal when their cases are.
class CaptureError : public std::runtime_error {
public:
    enum class Kind { permissionDenied, invalidRegion, unavailableTarget, busy, tooLarge, missingImage };

    explicit CaptureError(Kind kind) : std::runtime_error(message(kind)), kind_(kind) {}

    Kind kind() const { return kind_; }
    static const char* message(Kind kind);

    friend bool operator==(const CaptureError& a, const CaptureError& b) { return a.kind_ == b.kind_; }

private:
    Kind kind_;
};

// Thrown when the task running a capture was cancelled; no partial result is returned.
class CaptureCancelled : public std::exception {
public:
    const char* what() const noexcept override { return "The capture was cancelled."; }
};

}  // namespace brevalto
