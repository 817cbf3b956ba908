#pragma once

#include <stdexcept>
#include <string>

namespace brevalto {

// The app-wide error of capture, AI, translation and upload code. It carries one user-facing
// sentence, which is also its what(); callers show it in a status line.
class AIError : public std::runtime_error {
public:
    explicit AIError(const std::string& message) : std::runtime_error(message) {}
    explicit AIError(const char* message) : std::runtime_error(message) {}

    std::string message() const { return what(); }
};

}  // namespace brevalto
