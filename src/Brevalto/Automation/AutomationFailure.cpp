#include "Automation/AutomationFailure.h"

namespace brevalto {

std::string_view AutomationFailure::message(Kind kind) noexcept {
    switch (kind) {
    case Kind::invalid:
        return "Invalid Brevalto URL or command. Only allowed actions and parameters are accepted; no file "
               "paths, shell, upload, AI or delete.";
    case Kind::notReady:
        return "Brevalto is not connected to the workflow. Open the app and try again.";
    case Kind::busy:
        return "An automation request is waiting for confirmation. Close it first.";
    case Kind::execution:
        return "The workflow did not receive the request. Check the status in Brevalto; private content is not "
               "included in automation errors.";
    }
    return {};
}

// Every message is a string literal, so its data is null-terminated.
const char* AutomationFailure::what() const noexcept { return message(kind_).data(); }

}  // namespace brevalto
