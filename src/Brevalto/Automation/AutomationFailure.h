#pragma once

#include <exception>
#include <string_view>

namespace brevalto {

// Why an automation request did not run. Each kind carries one fixed sentence, the only thing a
// caller outside the app learns: it never repeats the request or a private error.
class AutomationFailure : public std::exception {
public:
    enum class Kind {
        invalid,    // the request or URL breaks a rule
        notReady,   // no handler is installed
        busy,       // another request is being confirmed or handled
        execution,  // the handler failed
    };

    explicit AutomationFailure(Kind kind) noexcept : kind_(kind) {}

    Kind kind() const noexcept { return kind_; }
    const char* what() const noexcept override;

    static std::string_view message(Kind kind) noexcept;

private:
    Kind kind_;
};

}  // namespace brevalto
