#pragma once

#include <stdexcept>
#include <string>

namespace brevalto {

// The one error of the screenshot document, editor and output code. It carries one user-facing
// sentence, which is also its what(); callers show it in a status line.
class ScreenshotError : public std::runtime_error {
public:
    explicit ScreenshotError(const std::string& message) : std::runtime_error(message) {}
    explicit ScreenshotError(const char* message) : std::runtime_error(message) {}

    std::string message() const { return what(); }
};

}  // namespace brevalto
